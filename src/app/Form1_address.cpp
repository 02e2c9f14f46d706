// The address book and fixed-phrase windows as the main window opens them.
#include "address/frmAddress.h"
#include "app/Form1.h"
#include "compose/frmFix.h"

void Form1::sInstallAddressCommands() {
  sSetMenuHandler(Menu::Set, 4, [this] {
    Tag = QString();
    frmAddress::sOpen(this);
  });
  sSetMenuHandler(Menu::Set, 5, [this] { frmFix::sOpen(this); });
  // The book opens with its fields taken from the sender of the mail in the list.
  sSetMenuHandler(Menu::List, 6, [this] {
    Tag = QStringLiteral("Address");
    frmAddress::sOpen(this);
  });
}
