// Form1: the commands that open the composer - File "メール作成(&M)", the list's
// "返信(&R)", a double click on a mail row and the header panel's "差出人" button.
#include <QPushButton>
#include <QTreeWidget>

#include "app/FolderTree.h"
#include "app/Form1.h"
#include "compose/frmEdit.h"

frmEdit* Form1::fComposer() const {
  auto* composer = static_cast<frmEdit*>(composer_.data());
  return composer && !composer->fClosed() ? composer : nullptr;
}

frmEdit* Form1::sOpenComposer() {
  if (frmEdit* open = fComposer()) {
    open->show();
    open->raise();
    open->activateWindow();
    return open;
  }
  if (!tv_->currentItem()) return nullptr;  // the composer belongs to an account
  auto* composer = new frmEdit(this);
  composer_ = composer;
  composer->show();
  return composer;
}

void Form1::sInstallComposeCommands() {
  sSetMenuHandler(Menu::File, 0, [this] {
    Tag.clear();
    if (fComposer() || fAccountChosen()) sOpenComposer();
  });
  auto reply = [this] {
    Tag = QStringLiteral("Re");
    if (fComposer() || fAccountChosen()) sOpenComposer();
  };
  sSetMenuHandler(Menu::List, 0, reply);
  connect(cmd_, &QPushButton::clicked, this, reply);
}
