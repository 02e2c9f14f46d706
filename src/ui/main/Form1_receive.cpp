// Form1: receiving - File "受信(&R)" and "全アカウント受信(&A)", the timer's one-account
// step, and what a run asks of the window.
#include <QTreeWidget>

#include "store/folderTree.h"
#include "store/mailstore.h"
#include "ui/main/FolderTree.h"
#include "ui/main/Form1.h"
#include "ui/main/menuitems.h"
#include "ui/main/Receiver.h"

void Form1::installReceiveCommands() {
  receiver_ = new Receiver(*this, this);
  sSetMenuHandler(Menu::File, menuitem::file::kReceive, [this] {
    if (fAccountChosen()) receiver_->sReceiveSelected();
  });
  sSetMenuHandler(Menu::File, menuitem::file::kReceiveAll, [this] { receiver_->sReceiveAll(); });
  autoReceiver_ = [this] { receiver_->sAutoRe(); };
}

receive::AccountRef Form1::accountOf(QTreeWidgetItem* root) const {
  receive::AccountRef account;
  account.number = folderTree::fNodeAccount(FolderTree::fKey(root).toStdString());
  account.caption = root->text(0).toStdString();
  account.folder = mailstore::fAccountFolder(accountPrefix_, account.number);
  return account;
}

std::vector<receive::AccountRef> Form1::fAccounts() const {
  std::vector<receive::AccountRef> accounts;
  for (int i = 0; i < tv_->topLevelItemCount(); ++i) accounts.push_back(accountOf(tv_->topLevelItem(i)));
  return accounts;
}

std::optional<receive::AccountRef> Form1::fSelectedAccount() const {
  QTreeWidgetItem* node = tv_->currentItem();
  if (!node) return std::nullopt;
  return accountOf(fGetRootNode(node));
}

std::filesystem::path Form1::fSelectedFolder() const {
  QTreeWidgetItem* node = tv_->currentItem();
  if (!node || !node->parent()) return {};
  return mailstore::fNormalFolder(fNodeFolder(node));
}

void Form1::sReloadList(const std::filesystem::path& folder, KnownRows known) {
  // The next fill of `folder` as a received-type list takes the known rows.
  ListView1_->setKnownRows(folder, std::move(known));
  if (QTreeWidgetItem* node = tv_->currentItem(); node && node->parent()) sShowNode(node);
  ListView1_->setKnownRows({}, {});
}
