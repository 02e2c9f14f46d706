// Form1: the commands that open the composer - File "メール作成(&M)", the list's
// "返信(&R)", a double click on a mail row and the header panel's "差出人" button - and
// File "送信待ちを送信".
#include <QAction>
#include <QPushButton>
#include <QTreeWidget>

#include "app/FolderTree.h"
#include "app/Form1.h"
#include "app/MailListModel.h"
#include "compose/frmEdit.h"
#include "compose/outgoing.h"
#include "store/folderTree.h"
#include "store/mailstore.h"

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

frmEdit* Form1::sEditStoredMail(const QString& path) {
  if (path.isEmpty()) return nullptr;
  if (fComposer()) return sOpenComposer();
  Tag.clear();
  frmEdit* composer = sOpenComposer();
  if (composer && !composer->sOpenStored(mailstore::fPath(path.toStdString()))) {
    composer->close();
    return nullptr;
  }
  return composer;
}

void Form1::sRefreshFolder(const std::filesystem::path& folder) {
  sMailCount();
  QTreeWidgetItem* node = tv_->currentItem();
  if (!node || !node->parent() || !listFiller) return;
  std::error_code ec;
  if (!std::filesystem::equivalent(fNodeFolder(node), folder, ec)) return;
  listFiller(folder, folderTree::fIsSentTypeKey(FolderTree::fKey(node).toStdString()));
  sSetStatus(2, QStringLiteral("総メール数 %1件").arg(listModel_->rowCount()));
}

void Form1::sSendPending() {
  if (pendingWorker_.joinable()) return;
  QTreeWidgetItem* node = tv_->currentItem();
  QTreeWidgetItem* root = node ? fGetRootNode(node) : nullptr;
  if (!root) return;
  const int number = folderTree::fNodeAccount(FolderTree::fKey(root).toStdString());
  const std::filesystem::path account = mailstore::fAccountFolder(accountPrefix_, number);
  const std::filesystem::path log = programDir_ / "MailBox" / "log.txt";
  fMenuItem(Menu::File, 3)->setEnabled(false);
  sSetStatus(1, QStringLiteral("送信中"));
  // Queued calls to this window are dropped should it be gone; the destructor waits for
  // the worker, so `this` outlives it.
  pendingWorker_ = std::thread([this, account, log] {
    const auto results = compose::fSendPending(log, account, [this](std::size_t i, std::size_t n) {
      QMetaObject::invokeMethod(
          this, [this, i, n] { sSetStatus(1, QStringLiteral("送信中 %1/%2").arg(i).arg(n)); },
          Qt::QueuedConnection);
    });
    const QString text = QString::fromStdString(compose::fPendingSummary(results));
    QMetaObject::invokeMethod(
        this, [this, account, text] { sPendingSent(account, text); }, Qt::QueuedConnection);
  });
}

void Form1::sPendingSent(const std::filesystem::path& account, const QString& text) {
  if (pendingWorker_.joinable()) pendingWorker_.join();
  fMenuItem(Menu::File, 3)->setEnabled(true);
  sSetStatus(1, text);
  const std::filesystem::path sent = account / mailstore::fPath(mailstore::kSent);
  sRefreshFolder(sent / mailstore::fPath(mailstore::kPending));
  sRefreshFolder(sent);
}

void Form1::sInstallComposeCommands() {
  sSetMenuHandler(Menu::File, 0, [this] {
    Tag.clear();
    if (fComposer() || fAccountChosen()) sOpenComposer();
  });
  sSetMenuHandler(Menu::File, 3, [this] { sSendPending(); });
  auto reply = [this] {
    Tag = QStringLiteral("Re");
    if (fComposer() || fAccountChosen()) sOpenComposer();
  };
  sSetMenuHandler(Menu::List, 0, reply);
  connect(cmd_, &QPushButton::clicked, this, reply);
}
