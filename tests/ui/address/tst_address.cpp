// The address book window in its three modes over a real program folder: what reaches
// setting.ini on OK and what does not on cancel, the sender taken from the mail list, the
// recipients handed to a composer's fields, and a reading saved here spoken when mail from
// that address arrives from a real POP3 server.
#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeView>
#include <QTreeWidget>

#include "ui/address/frmAddress.h"
#include "ui/main/FolderTree.h"
#include "ui/main/Form1.h"
#include "ui/main/MailListModel.h"
#include "windowfixture.h"
#include "mailservers.h"

using namespace fixture;
namespace fs = std::filesystem;

namespace {

void writeBytes(const fs::path& p, const std::string& bytes) {
  std::ofstream(p, std::ios::binary) << bytes;
}

QTreeWidget* lv(QWidget* w, int i) {
  return w->findChild<QTreeWidget*>(QStringLiteral("lv_%1").arg(i));
}
QPushButton* cmd(QWidget* w, int i) {
  return w->findChild<QPushButton*>(QStringLiteral("cmdMenu_%1").arg(i));
}
QAction* action(QWidget* w, const QString& name) { return w->findChild<QAction*>(name); }

// Types an entry into the four fields.
void type(QWidget* w, const QString& name, const QString& address, const QString& reading = {},
          const QString& memo = {}) {
  w->findChild<QLineEdit*>("txt_0")->setText(name);
  w->findChild<QPlainTextEdit*>("txt_1")->setPlainText(address);
  w->findChild<QLineEdit*>("txt_2")->setText(reading);
  w->findChild<QPlainTextEdit*>("txt_3")->setPlainText(memo);
}

QStringList rows(QTreeWidget* list, int column) {
  QStringList out;
  for (int i = 0; i < list->topLevelItemCount(); ++i) out << list->topLevelItem(i)->text(column);
  return out;
}

}  // namespace

class AddressTest : public QObject {
  Q_OBJECT
 private slots:
  void init();
  void editedBooksAndReadingsReachTheFileOnOk();
  void closingWithoutSavingLeavesTheFileAsItWas();
  void senderModeFillsTheFieldsAndTheWindowKeepsItsMode();
  void pickedRecipientsAreAppendedToTheComposer();
  void savedReadingIsSpokenWhenMailArrives();
  void addSaysWhyAndAClickReloadsTheSelectedEntry();

 private:
  frmAddress* open(Form1& form, int setItem = 4);
  std::unique_ptr<QTemporaryDir> dir_;
  fs::path program_;
  fs::path ini_;
};

void AddressTest::init() {
  g_spoken.clear();
  dir_ = std::make_unique<QTemporaryDir>();
  program_ = P(*dir_);
  ini_ = program_ / "setting.ini";
}

frmAddress* AddressTest::open(Form1& form, int setItem) {
  form.sRunMenuItem(Form1::Menu::Set, setItem);
  return frmAddress::fCurrent();
}

void AddressTest::editedBooksAndReadingsReachTheFileOnOk() {
  writeBytes(ini_, "[Mail]\r\nSpeech=2\r\n[Address]\r\nWork=Yamada|,|y@x|,|やまだ|,||\\|\r\n");
  Form1 form(dir_->path());
  frmAddress* w = open(form);
  QVERIFY(w);
  QCOMPARE(w->fMode(), frmAddress::Mode::Edit);
  QVERIFY(!w->isModal());
  QStringList messages;
  w->messageBox = [&](const QString& text) { messages << text; };
  QString answer;
  w->inputBox = [&](const QString& prompt, const QString& title) -> std::optional<QString> {
    if (prompt != "アドレス帳の名前を入力して下さい" || title != "新規アドレス帳")
      return std::nullopt;
    return answer;
  };
  QCOMPARE(rows(lv(w, 1), 0), QStringList{"Yamada"});

  // Settings keys ignore case: "work" would overwrite "Work".
  answer = "work";
  action(w, "mnuFileItem_0")->trigger();
  QCOMPARE(messages, QStringList{"同じ名前のアドレス帳があります"});
  answer = "家族";
  action(w, "mnuFileItem_0")->trigger();
  QCOMPARE(rows(lv(w, 0), 0), (QStringList{"Work", "家族"}));
  QTreeWidgetItem* family = lv(w, 0)->topLevelItem(1);
  lv(w, 0)->setCurrentItem(family);
  QCOMPARE(lv(w, 1)->topLevelItemCount(), 0);

  type(w, "部", "a@x\nb@x\nc@x");
  cmd(w, 2)->click();
  type(w, "鈴木", "s@x", "すずき", "行1\n行2");
  cmd(w, 2)->click();
  type(w, "a|,|b", "bad@x");  // would read back as two fields
  cmd(w, 2)->click();
  QCOMPARE(messages.size(), 2);
  QCOMPARE(rows(lv(w, 1), 0), (QStringList{"部", "鈴木"}));
  // Editing the selected entry; selecting an entry fills the fields.
  lv(w, 1)->setCurrentItem(lv(w, 1)->topLevelItem(1));
  QCOMPARE(w->findChild<QPlainTextEdit*>("txt_3")->toPlainText(), QString("行1\n行2"));
  w->findChild<QLineEdit*>("txt_0")->setText("鈴木一郎");
  cmd(w, 3)->click();

  // Renaming to a name that differs only in case is refused and the old name stays.
  family->setText(0, "WORK");
  QCOMPARE(family->text(0), QString("家族"));
  QCOMPARE(messages.size(), 3);
  // Switching books and back keeps what was entered.
  lv(w, 0)->setCurrentItem(lv(w, 0)->topLevelItem(0));
  QCOMPARE(rows(lv(w, 1), 0), QStringList{"Yamada"});
  lv(w, 0)->setCurrentItem(family);
  QCOMPARE(rows(lv(w, 1), 0), (QStringList{"部", "鈴木一郎"}));

  cmd(w, 0)->click();
  QTRY_VERIFY(!frmAddress::fCurrent());
  auto ini = mod_ini::IniFile::fParse(bytesOf(ini_));
  QCOMPARE(ini.fGet("Mail", "Speech"), std::optional<std::string>("2"));
  QCOMPARE(ini.fKeys("Address"), (std::vector<std::string>{"Work", "家族"}));
  QCOMPARE(ini.fGet("Address", "家族"),
           std::optional<std::string>(
               "部|,|a@x|r|b@x|r|c@x|,||,||\\|鈴木一郎|,|s@x|,|すずき|,|行1|r|行2|\\|"));
  // The group has no reading, so no key.
  QCOMPARE(ini.fKeys("Speech"), (std::vector<std::string>{"y@x", "s@x"}));
  QCOMPARE(ini.fGet("Speech", "s@x"), std::optional<std::string>("すずき"));
}

void AddressTest::closingWithoutSavingLeavesTheFileAsItWas() {
  writeBytes(ini_, "[Mail]\r\nStripe=0\r\n[Address]\r\nWork=Yamada|,|y@x|,|やまだ|,||\\|\r\n");
  const std::string before = bytesOf(ini_);
  Form1 form(dir_->path());
  for (const QString& close : {QString("cmdMenu_1"), QString("mnuFileItem_10")}) {
    frmAddress* w = open(form);
    w->inputBox = [](const QString&, const QString&) { return QString("新しい帳"); };
    type(w, "x", "x@x", "えっくす");
    cmd(w, 2)->click();
    action(w, "mnuFileItem_0")->trigger();
    lv(w, 1)->setCurrentItem(lv(w, 1)->topLevelItem(0));
    action(w, "mnuAdItem_0")->trigger();
    QCOMPARE(lv(w, 1)->topLevelItemCount(), 1);
    if (auto* b = w->findChild<QPushButton*>(close))
      b->click();
    else
      action(w, close)->trigger();
    QTRY_VERIFY(!frmAddress::fCurrent());
    QCOMPARE(bytesOf(ini_), before);
  }
}

void AddressTest::senderModeFillsTheFieldsAndTheWindowKeepsItsMode() {
  Form1 form(dir_->path());
  form.fListModel()->sAppendRow(
      {"件名", "\"Tanaka, Taro\" <t@example.jp>", "2024/01/01 00:00:00", "", 5});
  form.fListView()->setCurrentIndex(form.fListModel()->index(0, 0));
  form.sRunMenuItem(Form1::Menu::List, 6);
  frmAddress* w = frmAddress::fCurrent();
  QVERIFY(w);
  QCOMPARE(w->fMode(), frmAddress::Mode::Address);
  QCOMPARE(w->findChild<QLineEdit*>("txt_0")->text(), QString("Tanaka, Taro"));
  QCOMPARE(w->findChild<QPlainTextEdit*>("txt_1")->toPlainText(), QString("t@example.jp"));
  // Asked again while open: the same window, in the mode it was opened in.
  QCOMPARE(open(form), w);
  QCOMPARE(w->fMode(), frmAddress::Mode::Address);

  // A focused field is light cyan with a blue label.
  QFocusEvent in(QEvent::FocusIn);
  QApplication::sendEvent(w->findChild<QLineEdit*>("txt_2"), &in);
  QCOMPARE(w->findChild<QLineEdit*>("txt_2")->palette().color(QPalette::Base), QColor(204, 255, 255));
  QCOMPARE(w->findChild<QLabel*>("lbl_2")->palette().color(QPalette::WindowText), QColor(0, 0, 255));
  w->reject();
  QTRY_VERIFY(!frmAddress::fCurrent());
}

void AddressTest::pickedRecipientsAreAppendedToTheComposer() {
  // UTF-8 as the program writes it: with a byte order mark (unmarked text is CP932).
  writeBytes(ini_,
             "\xEF\xBB\xBF[Address]\r\nWork=田中|,|t@x|,|たなか|,||\\|部|,|a@x|r|b@x|r|c@x|,||,||\\|\r\n");
  const std::string before = bytesOf(ini_);
  QWidget composer;
  QLineEdit to(&composer), cc(&composer), bcc(&composer);
  to.setText("x@y");  // not ending in ", ": the picked text follows directly
  composer.show();
  frmAddress::Request request;
  request.mode = frmAddress::Mode::Pick;
  request.settingsPath = ini_;
  request.composer = &composer;
  request.recipients = {&to, &cc, &bcc};
  frmAddress* w = frmAddress::sOpen(request);
  QCOMPARE(w->fMode(), frmAddress::Mode::Pick);
  QCOMPARE(w->windowModality(), Qt::WindowModal);
  QCOMPARE(w->parentWidget(), &composer);
  QVERIFY(w->findChild<QLineEdit*>("txt_0")->isHidden());
  QVERIFY(!lv(w, 2)->isHidden());
  QCOMPARE(cmd(w, 2)->text(), QString("宛先"));
  QVERIFY(!w->findChild<QMenu*>("mnuFile")->isEnabled());

  QTreeWidget* entries = lv(w, 1);
  entries->setCurrentItem(entries->topLevelItem(0));
  cmd(w, 2)->click();
  cmd(w, 4)->click();
  entries->setCurrentItem(entries->topLevelItem(1));
  cmd(w, 2)->click();
  QCOMPARE(rows(lv(w, 2), 1), (QStringList{"t@x", "a@x, b@x, c@x"}));
  // Dragging the group onto the Cc list.
  std::unique_ptr<QMimeData> mime(entries->model()->mimeData({entries->model()->index(1, 0)}));
  QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(lv(w, 3)->viewport(), &enter);
  QVERIFY(enter.isAccepted());
  QDropEvent drop(QPointF(5, 5), Qt::CopyAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(lv(w, 3)->viewport(), &drop);
  QCOMPARE(rows(lv(w, 3), 0), QStringList{"部"});
  // The pick list's menu clears the Bcc list.
  QMouseEvent release(QEvent::MouseButtonRelease, QPointF(5, 5),
                      lv(w, 4)->viewport()->mapToGlobal(QPointF(5, 5)), Qt::RightButton,
                      Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(lv(w, 4)->viewport(), &release);
  action(w, "mnuToItem_1")->trigger();
  w->findChild<QMenu*>("mnuTo")->close();
  QCOMPARE(lv(w, 4)->topLevelItemCount(), 0);

  cmd(w, 0)->click();
  QTRY_VERIFY(!frmAddress::fCurrent());
  QCOMPARE(to.text(), QString("x@y田中<t@x>, a@x, b@x, c@x, "));
  QCOMPARE(cc.text(), QString("a@x, b@x, c@x, "));
  QCOMPARE(bcc.text(), QString());
  QCOMPARE(bytesOf(ini_), before);
}

void AddressTest::savedReadingIsSpokenWhenMailArrives() {
  if (!qbtest::MailServers::dovecotInstalled()) {
    if (qbtest::MailServers::skipAllowed()) QSKIP(qbtest::MailServers::kNoDovecot);
    QFAIL(qbtest::MailServers::kNoDovecot);
  }
  std::string why;
  auto servers = qbtest::MailServers::start(why);
  QVERIFY2(servers, why.c_str());
  servers->sUseForLibrary(10);
  Form1::sSetSpeechFactory([] { return std::make_unique<RecordingSpeech>(); });
  fs::path folder = account(program_, 1, "アリス");
  modCommon::sSetAccountValue(folder, "POP3", servers->popServer());
  modCommon::sSetAccountValue(folder, "User", "alice");
  modCommon::sSetAccountValue(folder, "Pass", "secret");
  setting(program_, "Speech", "2");

  Form1 form(dir_->path());
  frmAddress* w = open(form);
  w->inputBox = [](const QString&, const QString&) { return QString("友人"); };
  action(w, "mnuFileItem_0")->trigger();
  type(w, "友", "friend@example.jp", "ともだち");
  cmd(w, 2)->click();
  cmd(w, 0)->click();
  QTRY_VERIFY(!frmAddress::fCurrent());

  servers->seed("alice",
                "From: Friend <Friend@Example.jp>\nTo: alice@localhost\nSubject: hi\n"
                "Message-ID: <speak1@example.jp>\n\nhello\n");
  servers->seed("alice",
                "From: stranger@example.jp\nTo: alice@localhost\nSubject: x\n"
                "Message-ID: <speak2@example.jp>\n\nx\n");
  form.fTree()->setCurrentItem(form.fNode("受信箱01"));
  form.mnuFileItem_Click(1);
  QCOMPARE(form.fStatus(1), QString("アリス ： 2件受信"));
  QCOMPARE(g_spoken, QStringList{"ともだちさま、、か'ら、めーるがとどきま'した"});
  Form1::sSetSpeechFactory({});
}

void AddressTest::addSaysWhyAndAClickReloadsTheSelectedEntry() {
  Form1 form(dir_->path());
  frmAddress* w = open(form);
  QVERIFY(w);
  w->show();
  QVERIFY(QTest::qWaitForWindowExposed(w));
  QStringList messages;
  w->messageBox = [&](const QString& text) { messages << text; };
  w->inputBox = [](const QString&, const QString&) -> std::optional<QString> { return QString("友人"); };
  type(w, "山田", "y@x");
  cmd(w, 2)->click();
  QCOMPARE(messages, QStringList{"アドレス帳がありません。右クリックの「新規アドレス帳」で作成してください。"});
  action(w, "mnuFileItem_0")->trigger();
  lv(w, 0)->setCurrentItem(lv(w, 0)->topLevelItem(0));
  type(w, "山田", "");
  cmd(w, 2)->click();
  QCOMPARE(messages.last(), QString("アドレスを入力してください。"));
  type(w, "山田", "y@x");
  cmd(w, 2)->click();
  QCOMPARE(lv(w, 1)->topLevelItemCount(), 1);
  QTreeWidgetItem* row = lv(w, 1)->topLevelItem(0);
  lv(w, 1)->setCurrentItem(row);
  type(w, "変えた名前", "z@x");
  // A click on the row already selected brings back what it holds.
  QTest::mouseClick(lv(w, 1)->viewport(), Qt::LeftButton, {}, lv(w, 1)->visualItemRect(row).center());
  QCOMPARE(w->findChild<QLineEdit*>("txt_0")->text(), QString("山田"));
  QCOMPARE(w->findChild<QPlainTextEdit*>("txt_1")->toPlainText(), QString("y@x"));
}

QTEST_MAIN(AddressTest)
#include "tst_address.moc"
