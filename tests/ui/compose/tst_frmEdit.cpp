// The composer over a real program folder: how it opens (reply, new, already open), fixed
// phrases and the subject-fill rule, attachments, storing, and sending through the test
// SMTP sink, which delivers into dovecot's Maildirs.
#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeView>
#include <QTreeWidget>

#include "ui/address/frmAddress.h"
#include "ui/common/ElidedLabel.h"
#include "ui/main/FolderTree.h"
#include "ui/main/Form1.h"
#include "ui/main/MailListModel.h"
#include "ui/compose/frmEdit.h"
#include "compose/outgoing.h"
#include "compose/phrases.h"
#include "ui/common/Footy.h"
#include "windowfixture.h"
#include "mailfactory.h"
#include "mailservers.h"

using namespace fixture;
namespace mf = mailfactory;

namespace {

void press(Form1& form, const QString& key) {
  QTreeWidgetItem* node = form.fNode(key);
  QTest::mousePress(form.fTree()->viewport(), Qt::LeftButton, {},
                    form.fTree()->visualItemRect(node).center());
}

void clickRow(Form1& form, int row) {
  QTreeView* list = form.fListView();
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                    list->visualRect(form.fListModel()->index(row, 0)).center());
}

QString body() {
  QString text;
  FootyGetText(frmEdit::kEditorId, text, 4);
  return text;
}

void focus(QWidget* widget, QEvent::Type type) {
  QFocusEvent event(type, Qt::MouseFocusReason);
  QCoreApplication::sendEvent(widget, &event);
}

std::vector<fs::path> mailsIn(const fs::path& folder) {
  std::vector<fs::path> files;
  std::error_code ec;
  for (auto& e : fs::directory_iterator(folder, ec))
    if (e.is_regular_file() && e.path().extension() != ".ini") files.push_back(e.path());
  return files;
}

}  // namespace

class ComposerTest : public QObject {
  Q_OBJECT
 private slots:
  void initTestCase();
  void init();
  void replyQuotesTheShownMail();
  void openWhileOpenAndNewAfterReply();
  void phrasesAndSubjectFill();
  void attachmentList();
  void storePendingAndDrafts();
  void sendDeliversKeepsCopyAndCloses();
  void failedSendKeepsEverything_data();
  void failedSendKeepsEverything();
  void programClosingDuringSendKeepsTheCopy();
  void closingWithChangesAsks();
  void storedMailsOpenForEditingAndPendingMailSends();
  void tabFollowsReadingOrder();
  void standsAloneOnItsRequest();

 private:
  std::unique_ptr<Form1> openForm(const QString& key);
  frmEdit* compose(Form1& form, const std::string& to, const std::string& subject,
                   const QString& text);

  std::unique_ptr<qbtest::MailServers> servers_;
  std::unique_ptr<QTemporaryDir> dir_;
  fs::path program_, a1_;
};

void ComposerTest::initTestCase() {
  if (!qbtest::MailServers::dovecotInstalled()) {
    // The tests that send then skip; without the developer asking for that, none runs.
    if (qbtest::MailServers::skipAllowed()) return;
    QFAIL(qbtest::MailServers::kNoDovecot);
  }
  std::string why;
  servers_ = qbtest::MailServers::start(why);
  QVERIFY2(servers_, why.c_str());
  servers_->sUseForLibrary(10);
}

void ComposerTest::init() {
  dir_ = std::make_unique<QTemporaryDir>();
  program_ = P(*dir_);
  a1_ = account(program_, 1, "仕事");
  modCommon::sSetAccountValue(a1_, "Address", "alice@localhost");
  if (servers_) modCommon::sSetAccountValue(a1_, "SMTP", servers_->smtpServer());
}

std::unique_ptr<Form1> ComposerTest::openForm(const QString& key) {
  auto form = std::make_unique<Form1>(dir_->path());
  form->resize(900, 600);
  form->show();
  if (!QTest::qWaitForWindowExposed(form.get())) return nullptr;
  form->fTree()->expandAll();
  if (!key.isEmpty()) press(*form, key);
  return form;
}

frmEdit* ComposerTest::compose(Form1& form, const std::string& to, const std::string& subject,
                               const QString& text) {
  form.mnuFileItem_Click(0);
  frmEdit* c = form.fComposer();
  if (!c) return nullptr;
  c->fField(frmEdit::To)->setText(QString::fromStdString(to));
  c->fField(frmEdit::Subject)->setText(QString::fromStdString(subject));
  FootySetText(frmEdit::kEditorId, text);
  return c;
}

void ComposerTest::replyQuotesTheShownMail() {
  mf::write(
      a1_ / "受信箱", "a.eml",
      mf::simple("Re: hello", "Sato <sato@example.jp>", "Mon, 01 Jan 2024 10:00:00 +0000", "x"));
  auto form = openForm("受信箱01");
  QVERIFY(form);
  clickRow(*form, 0);
  // The quote is built from what the viewer shows, piece by piece at each CR LF.
  FootyWriteEnable(0, true);
  FootySetText(0, "first\r\n\r\nthird\r\n");
  FootyWriteEnable(0, false);

  form->findChild<QPushButton*>("cmd")->click();  // the header panel's "差出人"
  frmEdit* c = form->fComposer();
  QVERIFY(c);
  QCOMPARE(c->windowTitle(), QString("メール作成 - 仕事"));
  QCOMPARE(c->fField(frmEdit::To)->text(), QString("Sato <sato@example.jp>"));
  QCOMPARE(c->fField(frmEdit::Subject)->text(), QString("Re: Re: hello"));
  QCOMPARE(body(),
           QString("\r\n----- Original Message -----\r\n> first\r\n> \r\n> third\r\n> \r\n"));
  QVERIFY(c->fField(frmEdit::Cc)->text().isEmpty());
  // Without phrases the submenu is there but disabled.
  QVERIFY(!c->fMenuItem(frmEdit::Menu::Footy, 12)->isEnabled());
  // Cc opens the address book over the composer; what is picked there lands in Cc.
  mod_ini::fWriteIniString("Address", "Work", "田中|,|t@x|,||,||\\|", program_ / "setting.ini");
  c->findChild<QPushButton*>("cmd_2")->click();
  frmAddress* book = frmAddress::fCurrent();
  QVERIFY(book);
  QCOMPARE(book->fMode(), frmAddress::Mode::Pick);
  QCOMPARE(book->parentWidget(), c);
  auto* entries = book->findChild<QTreeWidget*>("lv_1");
  entries->setCurrentItem(entries->topLevelItem(0));
  book->cmdMenu_Click(3);  // the Cc pick list
  book->cmdMenu_Click(0);  // OK
  QTRY_VERIFY(!frmAddress::fCurrent());
  QCOMPARE(c->fField(frmEdit::Cc)->text(), QString("田中<t@x>, "));
  // The editor fills the window below the header strip.
  QPlainTextEdit* editor = FootyWidget(frmEdit::kEditorId);
  QCOMPARE(editor->geometry(), QRect(0, frmEdit::kHeaderHeight, c->centralWidget()->width(),
                                     c->centralWidget()->height() - frmEdit::kHeaderHeight));
}

void ComposerTest::openWhileOpenAndNewAfterReply() {
  mf::write(a1_ / "受信箱", "a.eml",
            mf::simple("hello", "sato@example.jp", "Mon, 01 Jan 2024 10:00:00 +0000"));
  {
    // No node selected: no account, no composer.
    auto bare = openForm(QString());
    QVERIFY(bare);
    bare->fTree()->setCurrentItem(nullptr);
    QString told;
    bare->setMessageBox([&](const QString&, const QString& text) { told = text; });
    bare->mnuFileItem_Click(0);
    QVERIFY(!bare->fComposer());
    QVERIFY(!told.isEmpty());  // says why nothing opened
  }
  auto form = openForm("受信箱01");
  QVERIFY(form);
  clickRow(*form, 0);
  form->sRunMenuItem(Form1::Menu::List, 0);
  frmEdit* c = form->fComposer();
  QVERIFY(c);
  c->fField(frmEdit::To)->setText("typed@example.jp");
  const QString text = body();
  // Opening again, in either mode, only brings the open one forward.
  form->mnuFileItem_Click(0);
  form->sRunMenuItem(Form1::Menu::List, 0);
  QCOMPARE(form->fComposer(), c);
  QCOMPARE(c->fField(frmEdit::To)->text(), QString("typed@example.jp"));
  QCOMPARE(body(), text);

  {
    BoxAnswerer answer({"破棄"});
    c->fMenuItem(frmEdit::Menu::File, 10)->trigger();
  }
  QVERIFY(!form->fComposer());
  form->mnuFileItem_Click(0);
  frmEdit* fresh = form->fComposer();
  QVERIFY(fresh && fresh != c);
  for (auto f : {frmEdit::To, frmEdit::Subject, frmEdit::Cc, frmEdit::Bcc})
    QVERIFY(fresh->fField(f)->text().isEmpty());
  QCOMPARE(body(), QString());
}

void ComposerTest::phrasesAndSubjectFill() {
  const std::string twenty = "あいうえおかきくけこさしすせそたちつてと";  // 20 characters
  QVERIFY(phrases::fSave(program_ / "setting.ini", {twenty, twenty + "な", "一行目\r\n二行目"}));
  auto form = openForm("受信箱01");
  QVERIFY(form);
  form->mnuFileItem_Click(0);
  frmEdit* c = form->fComposer();
  QVERIFY(c);
  QMenu* menu = c->fPhraseMenu();
  QVERIFY(c->fMenuItem(frmEdit::Menu::Footy, 12)->isEnabled());
  QCOMPARE(menu->actions().size(), 3);
  QCOMPARE(menu->actions()[0]->text(), QString::fromStdString(twenty));
  QCOMPARE(menu->actions()[1]->text(), QString::fromStdString(twenty) + "...");

  // The subject button: phrases replace the subject until the focus leaves the fields.
  QLineEdit* subject = c->fField(frmEdit::Subject);
  focus(subject, QEvent::FocusIn);
  QVERIFY(!c->fMenu(frmEdit::Menu::Footy)->menuAction()->isEnabled());
  subject->setText("old");
  c->cmd1_Click();
  QVERIFY(c->fSubjectFill());
  menu->hide();
  c->findChild<QAction*>("mnuFootyForm_0")->trigger();
  QCOMPARE(subject->text(), QString::fromStdString(twenty));
  c->findChild<QAction*>("mnuFootyForm_1")->trigger();
  QCOMPARE(subject->text(), QString::fromStdString(twenty + "な"));
  QCOMPARE(body(), QString());

  // Reaching the editor ends it: the phrase goes into the body at the caret.
  FootySetText(frmEdit::kEditorId, "AB");
  QPlainTextEdit* editor = FootyWidget(frmEdit::kEditorId);
  QTextCursor cursor = editor->textCursor();
  cursor.setPosition(1);
  editor->setTextCursor(cursor);
  focus(editor, QEvent::FocusIn);
  QVERIFY(!c->fSubjectFill());
  QVERIFY(c->fMenu(frmEdit::Menu::Footy)->menuAction()->isEnabled());
  c->findChild<QAction*>("mnuFootyForm_2")->trigger();
  QCOMPARE(body(), QString("A一行目\r\n二行目B"));

  // Leaving a header field for another control clears the flag as well.
  c->cmd1_Click();
  menu->hide();
  focus(c->fField(frmEdit::To), QEvent::FocusOut);
  QVERIFY(!c->fSubjectFill());
}

void ComposerTest::attachmentList() {
  auto form = openForm("受信箱01");
  QVERIFY(form);
  form->mnuFileItem_Click(0);
  frmEdit* c = form->fComposer();
  QVERIFY(c);
  const fs::path files = program_ / "files";
  QStringList offered;
  for (const char* name : {"a.txt", "b.pdf", "c"}) {
    mf::write(files, name, name);
    offered << QString::fromStdString(u8(files / name));
  }
  offered << QString::fromStdString(u8(files / "missing.txt"));  // not added
  // One pick takes several files; a cancelled one adds nothing.
  QList<QStringList> picks = {offered.mid(0, 2), {}, offered.mid(2)};
  c->fileDialog = [&] { return picks.takeFirst(); };
  c->findChild<QPushButton*>("cmd_4")->click();
  for (int i = 0; i < 2; ++i) c->fMenuItem(frmEdit::Menu::Attach, 0)->trigger();
  auto* lv = c->findChild<QTreeWidget*>("lv");
  QCOMPARE(lv->topLevelItemCount(), 3);
  QCOMPARE(lv->topLevelItem(1)->text(0), QString("b.pdf"));
  QCOMPARE(c->fDraft().attachments,
           (std::vector<std::string>{u8(files / "a.txt"), u8(files / "b.pdf"), u8(files / "c")}));

  lv->setCurrentItem(lv->topLevelItem(1));
  c->fMenuItem(frmEdit::Menu::Attach, 1)->trigger();
  QCOMPARE(c->fDraft().attachments,
           (std::vector<std::string>{u8(files / "a.txt"), u8(files / "c")}));
  c->fMenuItem(frmEdit::Menu::Attach, 2)->trigger();
  QCOMPARE(lv->topLevelItemCount(), 0);
  c->fMenuItem(frmEdit::Menu::Attach, 1)->trigger();  // nothing selected: nothing happens
}

void ComposerTest::storePendingAndDrafts() {
  auto form = openForm("送信待ち01");
  QVERIFY(form);
  // Pending: To may be empty; the shown folder lists the new mail at once.
  frmEdit* c = compose(*form, "", "保留の件", "本文\r\n");
  QVERIFY(c);
  c->fMenuItem(frmEdit::Menu::File, 2)->trigger();
  QVERIFY(!form->fComposer());
  QCOMPARE(mailsIn(a1_ / "送信箱" / "送信待ち").size(), size_t(1));
  QCOMPARE(form->fListModel()->rowCount(), 1);
  QCOMPARE(form->fListModel()->fRow(0).subject, QString("保留の件"));

  c = compose(*form, "bob@example.jp", "下書きの件", "x");
  c->fMenuItem(frmEdit::Menu::File, 3)->trigger();
  const auto drafts = mailsIn(a1_ / "送信箱" / "下書き");
  QCOMPARE(drafts.size(), size_t(1));
  press(*form, "下書き01");
  QCOMPARE(form->fListModel()->rowCount(), 1);
  QCOMPARE(form->fListModel()->fRow(0).party, QString("bob@example.jp"));
  QVERIFY(mailsIn(a1_ / "送信箱").empty());

  // A store that cannot write says so and keeps the composer with its content.
  fs::remove_all(a1_ / "送信箱" / "下書き");
  mf::write(a1_ / "送信箱", "下書き", "a file where the folder was");
  c = compose(*form, "", "残る", "kept");
  QStringList messages;
  c->messageBox = [&](const QString&, const QString& text) { messages << text; };
  c->fMenuItem(frmEdit::Menu::File, 3)->trigger();
  QCOMPARE(messages.size(), 1);
  QCOMPARE(form->fComposer(), c);
  QCOMPARE(c->fField(frmEdit::Subject)->text(), QString("残る"));
  QCOMPARE(body(), QString("kept"));
}

void ComposerTest::sendDeliversKeepsCopyAndCloses() {
  if (!servers_) QSKIP(qbtest::MailServers::kNoDovecot);
  mf::write(program_ / "files", "memo.txt", "attached text");
  auto form = openForm("送信箱01");
  QVERIFY(form);
  frmEdit* c = compose(*form, "", "送信テスト", "こんにちは\r\n");
  // No recipient: refused in the composer, nothing sent or written.
  c->findChild<QPushButton*>("cmd_5")->click();
  QCOMPARE(c->fStatus(), QString("宛先を入力してください"));
  QVERIFY(!c->fSending());

  c->fField(frmEdit::To)->setText("bob@localhost");
  c->fileDialog = [&] { return QStringList{QString::fromStdString(u8(program_ / "files" / "memo.txt"))}; };
  c->sAddAttachment();
  c->fMenuItem(frmEdit::Menu::File, 1)->trigger();
  QVERIFY(c->fSending());
  QVERIFY(!c->findChild<QPushButton*>("cmd_5")->isEnabled());
  for (int i : {1, 2, 3}) QVERIFY(!c->fMenuItem(frmEdit::Menu::File, i)->isEnabled());
  c->sSend();  // a second send cannot start
  c->sStore(compose::Box::Drafts);
  QTRY_VERIFY_WITH_TIMEOUT(!form->fComposer(), 15000);

  const QString status = form->fStatus(1);
  QVERIFY2(!status.isEmpty() && !status.startsWith("送信中"), qPrintable(status));
  const auto sent = mailsIn(a1_ / "送信箱");
  QCOMPARE(sent.size(), size_t(1));
  QVERIFY(bytesOf(sent[0]).find("To: bob@localhost\r\n") != std::string::npos);
  QVERIFY(mailsIn(a1_ / "送信箱" / "下書き").empty());
  QCOMPARE(form->fListModel()->rowCount(), 1);  // the shown 送信箱 was listed again
  QCOMPARE(form->fListModel()->fRow(0).subject, QString("送信テスト"));
  const auto delivered = servers_->stored("bob");
  QCOMPARE(delivered.size(), size_t(1));
  QVERIFY(bytesOf(delivered[0]).find("attached text") != std::string::npos ||
          bytesOf(delivered[0]).find("YXR0YWNoZWQgdGV4dA") != std::string::npos);
  for (const auto& f : delivered) fs::remove(f);
}

void ComposerTest::failedSendKeepsEverything_data() {
  QTest::addColumn<bool>("serverDown");
  QTest::newRow("recipient refused") << false;
  QTest::newRow("server down") << true;
}

void ComposerTest::failedSendKeepsEverything() {
  if (!servers_) QSKIP(qbtest::MailServers::kNoDovecot);
  QFETCH(bool, serverDown);
  if (serverDown) {
    modCommon::sSetAccountValue(
        a1_, "SMTP", "127.0.0.1:" + std::to_string(qbtest::MailServers::freePort()));
  }
  auto form = openForm("受信箱01");
  QVERIFY(form);
  frmEdit* c =
      compose(*form, serverDown ? "bob@localhost" : "fail451@localhost", "届かない", "本文");
  c->findChild<QPushButton*>("cmd_5")->click();
  QTRY_VERIFY_WITH_TIMEOUT(!c->fSending(), 15000);

  QCOMPARE(form->fComposer(), c);
  QVERIFY(c->isVisible());
  QVERIFY(!c->fStatus().isEmpty());
  QCOMPARE(form->fStatus(1), c->fStatus());
  // However long the text, the window keeps its width and can be made narrower: the
  // status is cut with "…" and shown whole as its tooltip.
  QCOMPARE(c->width(), 713);
  c->resize(300, c->height());
  QCOMPARE(c->width(), 300);
  auto* status = c->findChild<ElidedLabel*>("sbPanel_1");
  QVERIFY(status->fShownText().endsWith(QChar(0x2026)));
  QCOMPARE(status->toolTip(), c->fStatus());
  if (!serverDown) QVERIFY2(c->fStatus().contains("451"), qPrintable(c->fStatus()));
  QCOMPARE(c->fField(frmEdit::To)->text(),
           QString(serverDown ? "bob@localhost" : "fail451@localhost"));
  QCOMPARE(body(), QString("本文"));
  QVERIFY(mailsIn(a1_ / "送信箱").empty());
  // The commands are back for another try.
  QVERIFY(c->findChild<QPushButton*>("cmd_5")->isEnabled());
  QVERIFY(c->fMenuItem(frmEdit::Menu::File, 1)->isEnabled());
}

void ComposerTest::programClosingDuringSendKeepsTheCopy() {
  if (!servers_) QSKIP(qbtest::MailServers::kNoDovecot);
  mf::write(program_ / "files", "big.bin", std::string(8 << 20, 'z'));
  auto form = openForm("受信箱01");
  QVERIFY(form);
  frmEdit* c = compose(*form, "bob@localhost", "閉じても届く", "x");
  c->fileDialog = [&] { return QStringList{QString::fromStdString(u8(program_ / "files" / "big.bin"))}; };
  c->sAddAttachment();
  c->sSend();
  // Closing the composer hides it while the send goes on; closing the program waits for it.
  c->close();
  QVERIFY(c->fSending() && !c->isVisible());
  form->close();
  form.reset();
  QCOMPARE(mailsIn(a1_ / "送信箱").size(), size_t(1));
  QCOMPARE(servers_->stored("bob").size(), size_t(1));
  for (const auto& f : servers_->stored("bob")) fs::remove(f);
}

void ComposerTest::closingWithChangesAsks() {
  mf::write(program_ / "files", "memo.txt", "memo");
  auto form = openForm("受信箱01");
  QVERIFY(form);
  const fs::path drafts = a1_ / "送信箱" / "下書き";
  // Nothing typed: closes without a question.
  form->mnuFileItem_Click(0);
  form->fComposer()->close();
  QVERIFY(!form->fComposer());

  frmEdit* c = compose(*form, "bob@example.jp", "件名", "大事な本文");
  {
    BoxAnswerer answer({"キャンセル"});
    c->fMenuItem(frmEdit::Menu::File, 10)->trigger();
    QVERIFY(answer.fDone());
    QCOMPARE(answer.texts, QStringList{"メールの内容が変更されています。下書きへ保存しますか?"});
  }
  QCOMPARE(form->fComposer(), c);
  QCOMPARE(body(), QString("大事な本文"));

  // Quitting the program asks too; refusing the attachment loss keeps both windows.
  c->fileDialog = [&] { return QStringList{QString::fromStdString(u8(program_ / "files" / "memo.txt"))}; };
  c->sAddAttachment();
  {
    BoxAnswerer answer({"下書きへ保存", "キャンセル"});
    form->close();
    QVERIFY(answer.fDone());
    QVERIFY(answer.texts[1].contains("添付ファイル"));
  }
  QCOMPARE(form->fComposer(), c);
  QVERIFY(form->isVisible());
  QVERIFY(mailsIn(drafts).empty());
  {
    BoxAnswerer answer({"下書きへ保存", "添付ファイルなしで保存"});
    form->close();
    QVERIFY(answer.fDone());
  }
  QVERIFY(!form->isVisible());
  const auto stored = mailsIn(drafts);
  QCOMPARE(stored.size(), size_t(1));
  const auto draft = compose::fReadOutgoing(stored[0]);
  QVERIFY(draft);
  QCOMPARE(draft->subject, std::string("件名"));
  QCOMPARE(draft->body, std::string("大事な本文"));

  // Discarding writes nothing.
  form = openForm("受信箱01");
  c = compose(*form, "", "捨てる", "x");
  {
    BoxAnswerer answer({"破棄"});
    c->close();
  }
  QVERIFY(!form->fComposer());
  QCOMPARE(mailsIn(drafts).size(), size_t(1));
}

void ComposerTest::storedMailsOpenForEditingAndPendingMailSends() {
  if (!servers_) QSKIP(qbtest::MailServers::kNoDovecot);
  mf::write(a1_ / "受信箱", "a.eml",
            "Message-ID: <first@example.jp>\r\nReferences: <root@example.jp>\r\n" +
                mf::simple("meeting", "bob@localhost", "Mon, 01 Jan 2024 10:00:00 +0000", "x"));
  auto form = openForm("下書き01");
  QVERIFY(form);
  const fs::path drafts = a1_ / "送信箱" / "下書き", pending = a1_ / "送信箱" / "送信待ち";
  frmEdit* c = compose(*form, "", "書きかけ", "一行目\r\n");
  c->fField(frmEdit::Cc)->setText("carol@localhost");
  c->fMenuItem(frmEdit::Menu::File, 3)->trigger();
  const auto stored = mailsIn(drafts);
  QCOMPARE(stored.size(), size_t(1));

  // A double click opens one's own draft for editing, not a reply to it.
  auto doubleClickRow = [&] {
    QTreeView* list = form->fListView();
    const QPoint at = list->visualRect(form->fListModel()->index(0, 0)).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
    return form->fComposer();
  };
  c = doubleClickRow();
  QVERIFY(c);
  QCOMPARE(c->fField(frmEdit::Subject)->text(), QString("書きかけ"));
  QCOMPARE(c->fField(frmEdit::Cc)->text(), QString("carol@localhost"));
  QCOMPARE(body(), QString("一行目\r\n"));
  QVERIFY(!c->fChanged());
  // Stored again: the same file, rewritten.
  FootySetText(frmEdit::kEditorId, "一行目\r\n二行目\r\n");
  c->fMenuItem(frmEdit::Menu::File, 3)->trigger();
  QCOMPARE(mailsIn(drafts), stored);
  QCOMPARE(compose::fReadOutgoing(stored[0])->body, std::string("一行目\r\n二行目\r\n"));
  // Sent: it leaves the drafts; its copy in 送信箱 counts as read.
  c = doubleClickRow();
  c->fField(frmEdit::To)->setText("bob@localhost");
  c->sSend();
  QTRY_VERIFY_WITH_TIMEOUT(!form->fComposer(), 15000);
  QVERIFY(mailsIn(drafts).empty());
  QCOMPARE(form->fListModel()->rowCount(), 0);
  QCOMPARE(mailsIn(a1_ / "送信箱").size(), size_t(1));
  QCOMPARE(mailstore::fCountUnread(a1_ / "送信箱"), 0);

  // A reply threads under the mail it answers.
  press(*form, "受信箱01");
  clickRow(*form, 0);
  form->sRunMenuItem(Form1::Menu::List, 0);
  c = form->fComposer();
  QVERIFY(c);
  c->sSend();
  QTRY_VERIFY_WITH_TIMEOUT(!form->fComposer(), 15000);
  auto bobs = servers_->stored("bob");
  QCOMPARE(bobs.size(), size_t(2));
  std::string replyText;
  for (const auto& f : bobs)
    if (bytesOf(f).find("In-Reply-To") != std::string::npos) replyText = bytesOf(f);
  QVERIFY(replyText.find("In-Reply-To: <first@example.jp>") != std::string::npos);
  QVERIFY(replyText.find("References: <root@example.jp> <first@example.jp>") != std::string::npos);
  for (const auto& f : bobs) fs::remove(f);

  // 送信待ちを送信: each accepted mail leaves; a refused one stays with the server's words.
  press(*form, "送信待ち01");
  compose(*form, "bob@localhost", "待ち1", "1")->fMenuItem(frmEdit::Menu::File, 2)->trigger();
  compose(*form, "fail451@localhost", "待ち2", "2")->fMenuItem(frmEdit::Menu::File, 2)->trigger();
  QCOMPARE(form->fListModel()->rowCount(), 2);
  form->mnuFileItem_Click(3);
  QVERIFY(!form->fMenuItem(Form1::Menu::File, 3)->isEnabled());
  QTRY_VERIFY_WITH_TIMEOUT(!form->fSendingPending(), 15000);
  QVERIFY(form->fMenuItem(Form1::Menu::File, 3)->isEnabled());
  QVERIFY2(form->fStatus(1).contains("2件中1件") && form->fStatus(1).contains("451"),
           qPrintable(form->fStatus(1)));
  QCOMPARE(form->fListModel()->rowCount(), 1);
  QCOMPARE(form->fListModel()->fRow(0).party, QString("fail451@localhost"));
  QCOMPARE(servers_->stored("bob").size(), size_t(1));
  QCOMPARE(mailstore::fCountUnread(a1_ / "送信箱"), 0);
  for (const auto& f : servers_->stored("bob")) fs::remove(f);
}

void ComposerTest::tabFollowsReadingOrder() {
  auto form = openForm("受信箱01");
  QVERIFY(form);
  form->mnuFileItem_Click(0);
  frmEdit* c = form->fComposer();
  QVERIFY(c);
  QStringList order;
  QWidget* w = c->findChild<QPushButton*>("cmd_5");
  for (int guard = 0; w && guard < 64; ++guard, w = w->nextInFocusChain()) {
    if (!(w->focusPolicy() & Qt::TabFocus) || !w->isVisibleTo(c)) continue;
    if (w == FootyWidget(frmEdit::kEditorId)) {
      order << "editor";
      break;
    }
    order << w->objectName();
  }
  QCOMPARE(order, QStringList({"cmd_5", "cmd_0", "txt_0", "cmd_2", "txt_2", "cmd_4", "lv", "cmd_1",
                               "txt_1", "cmd_3", "txt_3", "editor"}));
  // A new mail is typed from its recipient on; a reply from its text.
  QCOMPARE(c->focusWidget(), static_cast<QWidget*>(c->fField(frmEdit::To)));
}

void ComposerTest::standsAloneOnItsRequest() {
  // No main window: the composer takes what to write from its request and reports back
  // through its signals and the picking callback.
  ComposeRequest request;
  request.accountFolder = a1_;
  request.accountName = "仕事";
  request.settingsPath = program_ / "setting.ini";
  request.logFile = program_ / "MailBox" / "log.txt";
  request.reply = ComposeRequest::Reply{"佐藤 <sato@example.jp>", "打ち合わせ", "明日です。", {}};
  QList<QLineEdit*> pickedInto;
  request.pickRecipients = [&](QWidget*, RecipientFields fields) { pickedInto = {fields.to, fields.cc, fields.bcc}; };
  const fs::path drafts = a1_ / mailstore::fPath("送信箱") / mailstore::fPath("下書き");
  {
    frmEdit c(request, nullptr);
    QCOMPARE(c.windowTitle(), QString("メール作成 - 仕事"));
    QCOMPARE(c.fField(frmEdit::To)->text(), QString("佐藤 <sato@example.jp>"));
    QCOMPARE(c.fField(frmEdit::Subject)->text(), QString("Re: 打ち合わせ"));
    QVERIFY(body().contains("> 明日です。"));
    QCOMPARE(c.focusWidget(), static_cast<QWidget*>(FootyWidget(frmEdit::kEditorId)));
    c.findChild<QPushButton*>("cmd_2")->click();
    QCOMPARE(pickedInto, (QList<QLineEdit*>{c.fField(frmEdit::To), c.fField(frmEdit::Cc), c.fField(frmEdit::Bcc)}));
    QList<fs::path> changed;
    connect(&c, &frmEdit::folderChanged, this, [&](const fs::path& folder) { changed << folder; });
    c.sStore(compose::Box::Drafts);
    QCOMPARE(mailsIn(drafts).size(), size_t(1));
    QCOMPARE(changed, QList<fs::path>{drafts});
  }
  // The stored draft opens again from a request alone.
  ComposeRequest again = request;
  again.reply.reset();
  again.stored = mailsIn(drafts).front();
  frmEdit reopened(again, nullptr);
  QCOMPARE(reopened.fStoredFile(), again.stored);
  QCOMPARE(reopened.fField(frmEdit::Subject)->text(), QString("Re: 打ち合わせ"));
}

QTEST_MAIN(ComposerTest)
#include "tst_frmEdit.moc"
