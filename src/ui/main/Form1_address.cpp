// The address book and fixed-phrase windows as the main window opens them.
#include <QTreeView>

#include "ui/address/frmAddress.h"
#include "ui/compose/frmFix.h"
#include "ui/main/Form1.h"
#include "ui/main/menuitems.h"
#include "ui/main/MailListModel.h"

AddressRequest Form1::addressRequest(AddressMode mode) {
  frmAddress::Request request;
  request.mode = mode;
  request.settingsPath = settingsPath_;
  request.owner = this;
  return request;
}

void Form1::installAddressCommands() {
  sSetMenuHandler(Menu::Set, menuitem::settings::kAddressBook, [this] { frmAddress::sOpen(addressRequest(frmAddress::Mode::Edit)); });
  sSetMenuHandler(Menu::Set, menuitem::settings::kPhrases, [this] { frmFix::sOpen(settingsPath_, this); });
  // The book opens with its fields taken from the sender of the mail in the list.
  sSetMenuHandler(Menu::List, menuitem::list::kAddToAddressBook, [this] {
    frmAddress::Request request = addressRequest(frmAddress::Mode::Address);
    if (const QModelIndex current = ListView1_->currentIndex(); current.isValid())
      request.sender = listModel_->fRow(current.row()).party;
    frmAddress::sOpen(request);
  });
}
