// frmEdit: controls, menus, the reply quote, fixed phrases, attachments, focus rules,
// storing and sending.
#include "ui/compose/frmEdit.h"

#include <QAction>
#include <QCloseEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTreeView>
#include <QTreeWidget>
#include <chrono>
#include <system_error>

#include "ui/common/ElidedLabel.h"
#include "ui/common/QtDesktop.h"
#include "compose/phrases.h"
#include "ui/common/Footy.h"
#include "mail/mail.h"
#include "ui/common/dialogparts.h"
#include "store/folderTree.h"
#include "store/mailstore.h"

namespace {

struct MenuDef {
  frmEdit::Menu menu;
  const char* name;
  const char* itemName;
  const char* caption;
};

constexpr MenuDef kMenus[] = {
    {frmEdit::Menu::File, "mnuFile", "mnuFileItem", "ファイル(&F)"},
    {frmEdit::Menu::Footy, "mnuFooty", "mnuFootyItem", "編集(&E)"},
    {frmEdit::Menu::Attach, "mnuAttach", "mnuAttachItem", "添付ファイル(&A)"},
};

struct ItemDef {
  frmEdit::Menu menu;
  int index;
  const char* caption;  // "-" for a separator
  const char* shortcut;
};

using M = frmEdit::Menu;
constexpr ItemDef kItems[] = {
    {M::File, 1, "送信(&S)", ""},
    {M::File, 2, "送信待ちへ(&L)", ""},
    {M::File, 3, "下書きへ(&D)", ""},
    {M::File, 9, "-", ""},
    {M::File, 10, "閉じる(&C)", ""},
    {M::Footy, 0, "切り取り(&T)", "Ctrl+X"},
    {M::Footy, 1, "コピー(&C)", "Ctrl+C"},
    {M::Footy, 2, "貼り付け(&P)", "Ctrl+V"},
    {M::Footy, 6, "-", ""},
    {M::Footy, 7, "アンドゥ(&U)", "Ctrl+Z"},
    {M::Footy, 8, "リドゥ(&R)", "Ctrl+Y"},
    {M::Footy, 9, "-", ""},
    {M::Footy, 10, "全て選択(&A)", "Ctrl+A"},
    {M::Footy, 11, "-", ""},
    {M::Attach, 0, "追加(&T)", ""},
    {M::Attach, 1, "削除(&D)", ""},
    {M::Attach, 2, "クリア(&C)", ""},
};

struct ControlDef {
  int index;
  const char* caption;
  const char* tip;
  QRect rect;
};

const ControlDef kButtons[] = {
    {5, "送信", "メールを送信します", {4, 8, 41, 41}},
    {0, "宛先", "アドレス帳から宛先を入力", {48, 8, 41, 18}},
    {2, "Cc", "アドレス帳からCcを入力", {296, 8, 41, 18}},
    {1, "件名", "定型文から件名を入力", {48, 32, 41, 18}},
    {3, "Bcc", "アドレス帳からBccを入力", {296, 32, 41, 18}},
    {4, "添付", "ファイル選択ダイアログを表示", {528, 8, 41, 18}},
};

const QRect kFields[] = {
    {88, 8, 201, 18}, {88, 32, 201, 18}, {336, 8, 185, 18}, {336, 32, 185, 18}};

constexpr int kPathRole = Qt::UserRole;
constexpr auto kProgressPause = std::chrono::milliseconds(50);

// The editor's context menu is the composer's Edit menu.
void editorContextMenu(int /*id*/, int /*reserved*/, void* data) {
  static_cast<frmEdit*>(data)->fMenu(frmEdit::Menu::Footy)->popup(QCursor::pos());
}

QString u(const std::string& s) { return QString::fromStdString(s); }

// The viewer's text quoted: a blank line, the marker line, then every CR LF piece behind
// "> " (so a text that ends in CR LF gives a last line "> ").
QString fQuote(const QString& text) {
  QString out;
  out.reserve(text.size() + text.size() / 8 + 64);
  out += QStringLiteral("\r\n----- Original Message -----\r\n");
  qsizetype from = 0;
  for (;;) {
    const qsizetype at = text.indexOf(QLatin1String("\r\n"), from);
    out += QLatin1String("> ");
    out += QStringView(text).mid(from, at < 0 ? text.size() - from : at - from);
    out += QLatin1String("\r\n");
    if (at < 0) break;
    from = at + 2;
  }
  return out;
}

}  // namespace

// Figures the worker posts while the library sends.
struct frmEdit::SendState {
  std::atomic<std::uint64_t> done{0};
  std::atomic<std::uint64_t> total{0};
  std::atomic<bool> posted{false};
  std::chrono::steady_clock::time_point lastPost{};  // worker thread only
};

frmEdit::frmEdit(const ComposeRequest& request, QWidget* owner)
    : QMainWindow(owner, Qt::Window),
      owner_(owner),
      accountFolder_(request.accountFolder),
      settingsPath_(request.settingsPath),
      logFile_(request.logFile),
      pickRecipients_(request.pickRecipients) {
  setObjectName(QStringLiteral("frmEdit"));
  if (owner) setWindowIcon(owner->windowIcon());
  sCreateControls();
  sCreateMenus();
  // 2. The editor.
  sCreateEditor();
  // Sized before any text goes in: a reply is laid out once, at its real width.
  resize(713, 332 + menuBar()->sizeHint().height());
  sLayout();
  // 3. Caption.
  setWindowTitle(QStringLiteral("メール作成 - ") + request.accountName);
  // 4. A reply quotes the mail it answers; a stored mail is filled in as it was kept.
  if (request.reply) sFillReply(*request.reply);
  if (!request.stored.empty()) sOpenStored(request.stored);
  // 5. Fixed phrases.
  sLoadPhrases();
  sSetTabOrder();
  // Typing starts where the mail needs it: the recipient of a new mail, the text of a reply
  // or of a stored mail.
  if ((request.reply || !request.stored.empty()) && editor_) {
    editor_->setFocus();
  } else {
    txt_[To]->setFocus();
  }
  baseline_ = fDraft();
  // Closing the main window closes the composer too.
  if (owner) owner->installEventFilter(this);
}

frmEdit::~frmEdit() {
  // A send still under way is waited for: the library writes the sent copy itself.
  if (worker_.joinable()) worker_.join();
  if (editor_) FootyDelete(kEditorId);
}

void frmEdit::sPickRecipients() {
  if (pickRecipients_) pickRecipients_(this, {txt_[To], txt_[Cc], txt_[Bcc]});
}

void frmEdit::sCreateControls() {
  auto* client = new QWidget(this);
  client->setObjectName(QStringLiteral("client"));
  setCentralWidget(client);
  pic_ = new QWidget(client);
  pic_->setObjectName(QStringLiteral("pic"));
  for (const ControlDef& b : kButtons) {
    auto* button = new QPushButton(QString::fromUtf8(b.caption), pic_);
    button->setObjectName(QStringLiteral("cmd_%1").arg(b.index));
    button->setToolTip(QString::fromUtf8(b.tip));
    button->setGeometry(b.rect);
    cmd_[b.index] = button;
  }
  // 宛先, Cc and Bcc open the address book to pick recipients into this window's fields.
  for (int i : {0, 2, 3}) connect(cmd_[i], &QPushButton::clicked, this, [this] { sPickRecipients(); });
  connect(cmd_[5], &QPushButton::clicked, this, [this] { sSend(); });
  connect(cmd_[1], &QPushButton::clicked, this, [this] { cmd1_Click(); });
  connect(cmd_[4], &QPushButton::clicked, this, [this] { sAddAttachment(); });
  for (int i = 0; i < 4; ++i) {
    txt_[i] = new QLineEdit(pic_);
    txt_[i]->setObjectName(QStringLiteral("txt_%1").arg(i));
    txt_[i]->setGeometry(kFields[i]);
    txt_[i]->installEventFilter(this);
  }
  lv_ = new QTreeWidget(pic_);
  lv_->setObjectName(QStringLiteral("lv"));
  lv_->setGeometry(568, 8, 137, 41);
  lv_->setColumnCount(1);
  lv_->setHeaderLabels({QStringLiteral("ファイル名")});
  lv_->setRootIsDecorated(false);
  lv_->header()->setStretchLastSection(true);
  lv_->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(lv_, &QTreeWidget::customContextMenuRequested, this, [this](const QPoint& at) {
    fMenu(Menu::Attach)->popup(lv_->viewport()->mapToGlobal(at));
  });
  connect(lv_, &QTreeWidget::itemDoubleClicked, this, [this] { sOpenAttachment(); });

  auto* bar = new QStatusBar(this);
  bar->setObjectName(QStringLiteral("sb"));
  bar->setSizeGripEnabled(false);
  sb_ = new ElidedLabel(bar);
  sb_->setObjectName(QStringLiteral("sbPanel_1"));
  bar->addWidget(sb_, 1);
  setStatusBar(bar);
}

void frmEdit::sCreateMenus() {
  std::map<Menu, const MenuDef*> defs;
  for (const MenuDef& m : kMenus) {
    QMenu* menu = dialogparts::fNewMenu(this, m.caption, m.name);
    menuBar()->addMenu(menu);
    menus_[m.menu] = menu;
    defs[m.menu] = &m;
  }
  for (const ItemDef& it : kItems) {
    QAction* action = dialogparts::fAddMenuItem(menus_[it.menu], it.caption, defs[it.menu]->itemName,
                                                it.index, it.shortcut, Qt::WindowShortcut);
    items_[{it.menu, it.index}] = action;
  }
  phraseMenu_ = menus_[Menu::Footy]->addMenu(QStringLiteral("定型文(&F)"));
  phraseMenu_->setObjectName(QStringLiteral("mnuFootyForm"));
  phraseMenu_->menuAction()->setObjectName(QStringLiteral("mnuFootyItem_12"));
  items_[{Menu::Footy, 12}] = phraseMenu_->menuAction();

  sSetMenuHandler(Menu::File, 1, [this] { sSend(); });
  sSetMenuHandler(Menu::File, 2, [this] { sStore(compose::Box::Pending); });
  sSetMenuHandler(Menu::File, 3, [this] { sStore(compose::Box::Drafts); });
  sSetMenuHandler(Menu::File, 10, [this] { sCloseWindow(); });
  sSetMenuHandler(Menu::Footy, 0, [] { FootyCut(kEditorId); });
  sSetMenuHandler(Menu::Footy, 1, [] { FootyCopy(kEditorId); });
  sSetMenuHandler(Menu::Footy, 2, [] { FootyPaste(kEditorId); });
  sSetMenuHandler(Menu::Footy, 7, [] { FootyUndo(kEditorId); });
  sSetMenuHandler(Menu::Footy, 8, [] { FootyRedo(kEditorId); });
  sSetMenuHandler(Menu::Footy, 10, [] { FootySelectAll(kEditorId); });
  sSetMenuHandler(Menu::Attach, 0, [this] { sAddAttachment(); });
  sSetMenuHandler(Menu::Attach, 1, [this] { sRemoveAttachment(); });
  sSetMenuHandler(Menu::Attach, 2, [this] { sClearAttachments(); });
}

void frmEdit::sSetMenuHandler(Menu menu, int index, std::function<void()> handler) {
  connect(items_[{menu, index}], &QAction::triggered, this, std::move(handler));
}

QMenu* frmEdit::fMenu(Menu menu) const {
  auto it = menus_.find(menu);
  return it == menus_.end() ? nullptr : it->second;
}

QAction* frmEdit::fMenuItem(Menu menu, int index) const {
  auto it = items_.find({menu, index});
  return it == items_.end() ? nullptr : it->second;
}

void frmEdit::sCreateEditor() {
  QWidget* client = centralWidget();
  if (FootyCreate(kEditorId, client, 0, 0, 0, 0) != FOOTY_OK) return;
  FootySetFont(kEditorId, QStringLiteral("MS ゴシック"), 9, 1);
  FootySetMetrics(kEditorId, 8, 4, 1);
  FootyEventContextMenu(kEditorId, &editorContextMenu, this);
  if (QPlainTextEdit* edit = FootyWidget(kEditorId)) {
    editor_ = edit;
    editorViewport_ = edit->viewport();
    edit->installEventFilter(this);
    edit->viewport()->installEventFilter(this);
  }
}

void frmEdit::sFillReply(const ComposeRequest::Reply& reply) {
  // Subject: "Re: " even when already there.
  txt_[To]->setText(reply.to);
  txt_[Subject]->setText(QStringLiteral("Re: ") + reply.subject);
  if (!reply.mail.empty()) thread_ = compose::fReplyThreading(reply.mail);
  FootySetText(kEditorId, fQuote(reply.text));
}

void frmEdit::sLoadPhrases() {
  for (const std::string& phrase : phrases::fLoad(settingsPath_)) {
    const int index = static_cast<int>(phrases_.size());
    phrases_.push_back(u(phrase));
    QAction* item = phraseMenu_->addAction(u(phrases::fCaption(phrase)));
    item->setObjectName(QStringLiteral("mnuFootyForm_%1").arg(index));
    connect(item, &QAction::triggered, this, [this, index] { sPhrase(index); });
  }
  phraseMenu_->menuAction()->setEnabled(!phrases_.empty());
}

void frmEdit::sPhrase(int index) {
  if (index < 0 || index >= static_cast<int>(phrases_.size())) return;
  if (subjectFill_) {
    txt_[Subject]->setText(phrases_[index]);
  } else {
    FootySetSelText(kEditorId, phrases_[index]);
  }
}

void frmEdit::cmd1_Click() {
  subjectFill_ = true;
  if (!phrases_.empty()) phraseMenu_->popup(QCursor::pos());
}

void frmEdit::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  sLayout();
}

void frmEdit::sLayout() {
  // Only the editor follows the window: the header strip keeps its controls in place.
  QWidget* client = centralWidget();
  if (!client || !pic_) return;
  pic_->setGeometry(0, 0, client->width(), kHeaderHeight);
  FootySetPos(kEditorId, 0, kHeaderHeight, client->width(), client->height() - kHeaderHeight);
}

bool frmEdit::eventFilter(QObject* watched, QEvent* event) {
  const QEvent::Type type = event->type();
  if (watched == owner_) {
    // The program quits only when this window agrees to close (it may ask first).
    if (type == QEvent::Close && !closed_ && !close()) {
      event->ignore();
      return true;
    }
    return false;
  }
  if (editor_ && (watched == editor_ || watched == editorViewport_)) {
    if (type == QEvent::FocusIn || (type == QEvent::MouseButtonPress &&
                                    static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton)) {
      menus_[Menu::Footy]->menuAction()->setEnabled(true);
      subjectFill_ = false;
    }
    return false;
  }
  for (QLineEdit* field : txt_) {
    if (watched != field) continue;
    if (type == QEvent::FocusIn || type == QEvent::MouseButtonPress) {
      menus_[Menu::Footy]->menuAction()->setEnabled(false);
    } else if (type == QEvent::FocusOut) {
      // Leaving the header fields for another control; a menu or another window taking
      // the focus for a moment is not leaving.
      const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
      if (reason != Qt::PopupFocusReason && reason != Qt::ActiveWindowFocusReason)
        subjectFill_ = false;
    }
    break;
  }
  return QMainWindow::eventFilter(watched, event);
}

QString frmEdit::fStatus() const { return sb_->text(); }

// --- Attachments ---------------------------------------------------------------------

void frmEdit::sAddAttachment() {
  QStringList files;
  if (fileDialog) {
    files = fileDialog();
  } else {
    QFileDialog dialog(this, QStringLiteral("添付ファイル選択"));
    dialog.setObjectName(QStringLiteral("dlgOpen"));
    dialog.setFileMode(QFileDialog::ExistingFiles);
    // "*" so that names without a dot show too (they do on Windows with *.*).
    dialog.setNameFilter(QStringLiteral("すべてのファイル(*.*) (*)"));
    if (dialog.exec() == QDialog::Accepted) files = dialog.selectedFiles();
  }
  for (const QString& file : files) {
    const QFileInfo info(file);
    if (file.isEmpty() || !info.isFile()) continue;
    auto* row = new QTreeWidgetItem(lv_, {info.fileName()});
    row->setData(0, kPathRole, info.absoluteFilePath());
  }
}

void frmEdit::sRemoveAttachment() { delete lv_->currentItem(); }

void frmEdit::sClearAttachments() { lv_->clear(); }

void frmEdit::sOpenAttachment() {
  QTreeWidgetItem* row = lv_->currentItem();
  if (!row) return;
  const QString path = row->data(0, kPathRole).toString();
  desktop::shellOpen(path, QString(), QFileInfo(path).absolutePath());
}

// --- Storing and sending -------------------------------------------------------------

compose::Draft frmEdit::fDraft() const {
  compose::Draft d;
  d.to = txt_[To]->text().toStdString();
  d.cc = txt_[Cc]->text().toStdString();
  d.bcc = txt_[Bcc]->text().toStdString();
  d.subject = txt_[Subject]->text().toStdString();
  QString body;
  if (FootyGetText(kEditorId, body, 4) == FOOTY_TEXT_OK) d.body = body.toStdString();
  for (int i = 0; i < lv_->topLevelItemCount(); ++i)
    d.attachments.push_back(lv_->topLevelItem(i)->data(0, kPathRole).toString().toStdString());
  d.inReplyTo = thread_.inReplyTo;
  d.references = thread_.references;
  return d;
}

bool frmEdit::sOpenStored(const std::filesystem::path& file) {
  const std::optional<compose::Draft> d = compose::fReadOutgoing(file);
  if (!d) return false;
  txt_[To]->setText(u(d->to));
  txt_[Cc]->setText(u(d->cc));
  txt_[Bcc]->setText(u(d->bcc));
  txt_[Subject]->setText(u(d->subject));
  FootySetText(kEditorId, u(d->body));
  lv_->clear();
  thread_ = {};
  storedFile_ = file;
  baseline_ = fDraft();
  return true;
}

int frmEdit::fAsk(const QString& text, const QStringList& buttons) {
  QMessageBox box(QMessageBox::Question, QString::fromLatin1(desktop::kTitle), text, QMessageBox::NoButton, this);
  box.setObjectName(QStringLiteral("askBox"));
  QList<QAbstractButton*> added;
  for (int i = 0; i < buttons.size(); ++i) {
    const bool last = i + 1 == buttons.size();
    added << box.addButton(buttons[i], last ? QMessageBox::RejectRole : QMessageBox::AcceptRole);
  }
  box.setDefaultButton(qobject_cast<QPushButton*>(added.first()));
  box.setEscapeButton(added.last());
  box.exec();
  const int chosen = static_cast<int>(added.indexOf(box.clickedButton()));
  return chosen < 0 ? static_cast<int>(buttons.size()) - 1 : chosen;
}

void frmEdit::sSetTabOrder() {
  // Reading order: the first row of the header strip, then the second, then the body.
  QWidget* chain[] = {cmd_[5], cmd_[0], txt_[To], cmd_[2], txt_[Cc], cmd_[4], lv_,
                      cmd_[1], txt_[Subject], cmd_[3], txt_[Bcc], editor_.data()};
  QWidget* previous = nullptr;
  for (QWidget* w : chain) {
    if (!w) continue;
    if (previous) setTabOrder(previous, w);
    previous = w;
  }
}

void frmEdit::sMessage(const QString& title, const QString& text) {
  if (messageBox) {
    messageBox(title, text);
  } else {
    QMessageBox::warning(this, title, text);
  }
}


void frmEdit::sStore(compose::Box box) {
  if (fStoreTo(box)) sCloseWindow();
}

bool frmEdit::fStoreTo(compose::Box box) {
  if (sending_) return false;
  if (lv_->topLevelItemCount() > 0 &&
      fAsk(QStringLiteral("添付ファイルは保存できません。添付ファイルなしで保存しますか?"),
           {QStringLiteral("添付ファイルなしで保存"), QStringLiteral("キャンセル")}) != 0)
    return false;
  const std::filesystem::path previous = storedFile_;
  const compose::StoreResult r = compose::fStoreAgain(accountFolder_, box, fDraft(), previous);
  if (!r.ok) {
    sMessage(QString::fromLatin1(desktop::kTitle), u(r.error));
    return false;
  }
  storedFile_ = r.file;
  baseline_ = fDraft();
  if (!previous.empty() && previous != r.file) emit folderChanged(previous.parent_path());
  emit folderChanged(r.file.parent_path());
  return true;
}

void frmEdit::sSetBusy(bool busy) {
  cmd_[5]->setEnabled(!busy);
  for (int i : {1, 2, 3}) items_[{Menu::File, i}]->setEnabled(!busy);
}

void frmEdit::sSend() {
  if (sending_) return;
  if (txt_[To]->text().isEmpty()) {
    sb_->setText(QStringLiteral("宛先を入力してください"));
    return;
  }
  sending_ = true;
  sSetBusy(true);
  sb_->setText(QStringLiteral("送信中"));
  emit statusChanged(QStringLiteral("送信中"));
  auto state = std::make_shared<SendState>();
  send_ = state;
  // The worker owns copies of everything it reads; the window only hears from it through
  // queued calls, which are dropped should the window be gone by then.
  worker_ = std::thread([this, state, log = logFile_, folder = accountFolder_, draft = fDraft()] {
    compose::SendResult r =
        compose::fSend(log, folder, draft, [this, state](std::uint64_t done, std::uint64_t total) {
          state->done = done;
          state->total = total;
          const auto now = std::chrono::steady_clock::now();
          if (now - state->lastPost < kProgressPause && done < total) return;
          state->lastPost = now;
          if (!state->posted.exchange(true))
            QMetaObject::invokeMethod(
                this, [this] { sShowProgress(); }, Qt::QueuedConnection);
        });
    QMetaObject::invokeMethod(
        this, [this, r = std::move(r)]() mutable { sSendDone(std::move(r)); },
        Qt::QueuedConnection);
  });
}

void frmEdit::sShowProgress() {
  if (!sending_ || !send_) return;
  send_->posted = false;
  emit statusChanged(QStringLiteral("送信中 %1/%2バイト").arg(send_->done.load()).arg(send_->total.load()));
}

void frmEdit::sSendDone(compose::SendResult result) {
  if (worker_.joinable()) worker_.join();
  sending_ = false;
  send_.reset();
  sSetBusy(false);
  const QString text = u(result.text);
  const std::string certificate = mail::fCertificateFailureHeadline(result.text);
  emit statusChanged(certificate.empty() ? text : u(certificate));
  if (!result.sent) {
    // The whole text carries the fingerprint to compare before trusting the server.
    if (!certificate.empty()) QMessageBox::warning(this, windowTitle(), text);
    // Nothing went out: the mail stays here as it was, with the server's words.
    sb_->setText(text);
    if (closeAfterSend_) {
      closeAfterSend_ = false;
      show();
      raise();
    }
    return;
  }
  baseline_ = fDraft();  // sent: nothing left to ask about on closing
  if (!storedFile_.empty()) {
    // The draft or pending mail went out: it leaves its folder.
    mailstore::fDeleteMails({storedFile_});
    emit folderChanged(storedFile_.parent_path());
    storedFile_.clear();
  }
  if (result.copy.ok) {
    emit folderChanged(result.copy.file.parent_path());
  } else {
    emit folderChanged(accountFolder_ / mailstore::fPath(mailstore::kSent));
    sMessage(QString::fromLatin1(desktop::kTitle),
             QStringLiteral("送信しましたが、送信箱に控えを保存できませんでした。\n") +
                 u(result.copy.error));
  }
  sCloseWindow();
}

void frmEdit::sCloseWindow() { close(); }

void frmEdit::closeEvent(QCloseEvent* event) {
  if (sending_) {
    // The send goes on; the window comes back should it fail.
    closeAfterSend_ = true;
    event->accept();
    return;
  }
  if (!closed_ && fChanged()) {
    const int choice = fAsk(QStringLiteral("メールの内容が変更されています。下書きへ保存しますか?"),
                            {QStringLiteral("下書きへ保存"), QStringLiteral("破棄"),
                             QStringLiteral("キャンセル")});
    if (choice == 2 || (choice == 0 && !fStoreTo(compose::Box::Drafts))) {
      event->ignore();
      return;
    }
  }
  closed_ = true;
  if (editor_) {
    editor_->removeEventFilter(this);
    if (editorViewport_) editorViewport_->removeEventFilter(this);
    FootyDelete(kEditorId);
  }
  editor_ = nullptr;
  editorViewport_ = nullptr;
  event->accept();
  deleteLater();
}
