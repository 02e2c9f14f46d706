// Form1: the commands that open the composer - File "メール作成(&M)", the list's
// "返信(&R)", a double click on a mail row and the header panel's "差出人" button - and
// File "送信待ちを送信".
#include <QAction>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeView>
#include <QTreeWidget>

#include "ui/main/FolderTree.h"
#include "ui/main/Form1.h"
#include "ui/main/MessageView.h"
#include "ui/main/menuitems.h"
#include "ui/main/MailListModel.h"
#include "ui/common/Footy.h"
#include "ui/address/frmAddress.h"
#include "ui/compose/frmEdit.h"
#include "compose/outgoing.h"
#include "store/folderTree.h"
#include "store/mailstore.h"

frmEdit* Form1::fComposer() const {
  auto* composer = static_cast<frmEdit*>(composer_.data());
  return composer && !composer->fClosed() ? composer : nullptr;
}

frmEdit* Form1::sOpenComposer(ComposeKind kind, const QString& storedPath) {
  if (frmEdit* open = fComposer()) {
    open->show();
    open->raise();
    open->activateWindow();
    return open;
  }
  // The composer belongs to the account of the selected node.
  QTreeWidgetItem* node = tv_->currentItem();
  QTreeWidgetItem* root = node ? fGetRootNode(node) : nullptr;
  if (!root) return nullptr;
  ComposeRequest request;
  request.accountFolder = mailstore::fAccountFolder(
      accountPrefix_, folderTree::fNodeAccount(FolderTree::fKey(root).toStdString()));
  request.accountName = root->text(0);
  request.settingsPath = settingsPath_;
  request.logFile = programDir_ / "MailBox" / "log.txt";
  if (kind == ComposeKind::Reply) request.reply = replyTo();
  if (kind == ComposeKind::Stored) request.stored = mailstore::fPath(storedPath.toStdString());
  request.pickRecipients = [this](QWidget* composer, RecipientFields fields) {
    frmAddress::Request pick = addressRequest(frmAddress::Mode::Pick);
    pick.composer = composer;
    pick.recipients = fields;
    frmAddress::sOpen(pick);
  };
  auto* composer = new frmEdit(request, this);
  connect(composer, &frmEdit::statusChanged, this, [this](const QString& text) { sSetStatus(1, text); });
  connect(composer, &frmEdit::folderChanged, this, &Form1::sRefreshFolder);
  composer_ = composer;
  composer->show();
  return composer;
}

ComposeRequest::Reply Form1::replyTo() const {
  // The mail the user sees: the one shown in the view, else the selected row.
  ComposeRequest::Reply reply;
  const int shown = listModel_->fFindPath(fShownMailPath());
  const QModelIndex current = ListView1_->currentIndex();
  if (shown >= 0) {
    reply.to = listModel_->fRow(shown).party;
  } else if (current.isValid() && ListView1_->selectionModel()->isRowSelected(current.row(), {})) {
    reply.to = listModel_->fRow(current.row()).party;
  }
  reply.subject = fHeaderBox(2)->text();
  if (const QString replied = fShownMailPath(); !replied.isEmpty())
    reply.mail = mailstore::fPath(replied.toStdString());
  if (FootyGetText(0, reply.text, 4) != FOOTY_TEXT_OK) reply.text.clear();
  return reply;
}

frmEdit* Form1::sEditStoredMail(const QString& path) {
  if (path.isEmpty()) return nullptr;
  if (fComposer()) return sOpenComposer();
  frmEdit* composer = sOpenComposer(ComposeKind::Stored, path);
  if (composer && composer->fStoredFile().empty()) {
    composer->close();
    return nullptr;
  }
  return composer;
}

void Form1::sRefreshFolder(const std::filesystem::path& folder) {
  sMailCount();
  QTreeWidgetItem* node = tv_->currentItem();
  if (!node || !node->parent() || !listFiller_) return;
  std::error_code ec;
  if (!std::filesystem::equivalent(fNodeFolder(node), folder, ec)) return;
  listFiller_(folder, folderTree::fIsSentTypeKey(FolderTree::fKey(node).toStdString()));
  sShowListTotal();
}

void Form1::sSendPending() {
  if (pendingWorker_.joinable()) return;
  QTreeWidgetItem* node = tv_->currentItem();
  QTreeWidgetItem* root = node ? fGetRootNode(node) : nullptr;
  if (!root) return;
  const int number = folderTree::fNodeAccount(FolderTree::fKey(root).toStdString());
  const std::filesystem::path account = mailstore::fAccountFolder(accountPrefix_, number);
  const std::filesystem::path log = programDir_ / "MailBox" / "log.txt";
  fMenuItem(Menu::File, menuitem::file::kSendPending)->setEnabled(false);
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
        this, [this, account, text] { pendingSent(account, text); }, Qt::QueuedConnection);
  });
}

void Form1::pendingSent(const std::filesystem::path& account, const QString& text) {
  if (pendingWorker_.joinable()) pendingWorker_.join();
  fMenuItem(Menu::File, menuitem::file::kSendPending)->setEnabled(true);
  sSetStatus(1, text);
  const std::filesystem::path sent = account / mailstore::fPath(mailstore::kSent);
  sRefreshFolder(sent / mailstore::fPath(mailstore::kPending));
  sRefreshFolder(sent);
}

void Form1::installComposeCommands() {
  sSetMenuHandler(Menu::File, menuitem::file::kNewMail, [this] {
    if (fComposer() || fAccountChosen()) sOpenComposer();
  });
  sSetMenuHandler(Menu::File, menuitem::file::kSendPending, [this] { sSendPending(); });
  auto reply = [this] {
    if (fComposer() || fAccountChosen()) sOpenComposer(ComposeKind::Reply);
  };
  sSetMenuHandler(Menu::List, menuitem::list::kReply, reply);
  connect(view_->replyButton(), &QPushButton::clicked, this, reply);
}
