// Receiving in the program against real servers (dovecot and the SMTP sink's mail store):
// File menu items 1 and 2, filing rules with programs and the sibling browser, speech and
// notices in both modes, a wrong password, the timer's one-account rotation, and a run
// that keeps the window live without letting a second run start on top of it.
#include <QAction>
#include <algorithm>
#include <QApplication>
#include <QDesktopServices>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>

#include "ui/common/EspeakSpeech.h"
#include "ui/main/FolderTree.h"
#include "ui/main/Form1.h"
#include "ui/main/MailListModel.h"
#include "ui/main/Receiver.h"
#include "windowfixture.h"
#include "mail/mail.h"
#include "mailservers.h"

using namespace fixture;
namespace fs = std::filesystem;

namespace {


std::string message(const std::string& from, const std::string& subject, const std::string& body) {
  static int n = 0;
  return "From: " + from + "\nTo: someone@localhost\nSubject: " + subject + "\nMessage-ID: <r" +
         std::to_string(++n) + "@example.jp>\nContent-Type: text/plain; charset=UTF-8\n\n" + body + "\n";
}

std::vector<fs::path> mailsIn(const fs::path& folder) {
  std::vector<fs::path> files;
  std::error_code ec;
  for (auto& e : fs::directory_iterator(folder, ec)) {
    std::string name = e.path().filename().string();
    if (e.is_regular_file() && name[0] != '.' && e.path().extension() != ".ini") files.push_back(e.path());
  }
  return files;
}

// The file (among `files`) whose bytes contain `text`.
fs::path withText(const std::vector<fs::path>& files, const std::string& text) {
  for (const auto& f : files)
    if (bytesOf(f).find(text) != std::string::npos) return f;
  return {};
}

bool markedRead(const fs::path& mail) {
  return mod_ini::fGetIniString("Icon", u8(mail.filename()), mail.parent_path() / "icon.ini", "") == "6";
}

}  // namespace

// Records what QDesktopServices would have opened.
class UrlRecorder : public QObject {
  Q_OBJECT
 public:
  QStringList opened;
 public slots:
  void open(const QUrl& url) { opened << url.toString(); }
};

class ReceiveTest : public QObject {
  Q_OBJECT
 private slots:
  void initTestCase();
  void cleanupTestCase();
  void init();
  void cleanup();
  void receiveOneFilesStartsAndAnnounces();
  void receiveAllSpeaksSendersAndShowsBox();
  void wrongPasswordShowsLibraryTextAndRunGoesOn();
  void timerTicksRotateOneAccount();
  void runKeepsWindowLiveAndRefusesOverlap();
  void espeakEngineTakesTextsWithoutWaiting();
  void rowsOfNewMailsMatchAFreshRead();
  void trustedCertificateReachesTheReceivingThread();

 private:
  // A program folder with accounts 01.. for the given server users.
  void makeProgram(const std::vector<std::pair<std::string, std::string>>& users);
  QTreeWidgetItem* node(Form1& form, const QString& key) { return form.fNode(key); }
  void drain(const std::string& user);

  std::unique_ptr<qbtest::MailServers> servers_;
  std::unique_ptr<QTemporaryDir> dir_;
  fs::path program_;
  UrlRecorder urls_;
};

void ReceiveTest::initTestCase() {
  if (!qbtest::MailServers::dovecotInstalled()) {
    if (qbtest::MailServers::skipAllowed()) QSKIP(qbtest::MailServers::kNoDovecot);
    QFAIL(qbtest::MailServers::kNoDovecot);
  }
  std::string why;
  servers_ = qbtest::MailServers::start(why);
  QVERIFY2(servers_, why.c_str());
  servers_->sUseForLibrary(10);
  Form1::sSetSpeechFactory([] { return std::make_unique<RecordingSpeech>(); });
  for (const char* scheme : {"http", "https", "file"}) QDesktopServices::setUrlHandler(scheme, &urls_, "open");
}

void ReceiveTest::cleanupTestCase() {
  for (const char* scheme : {"http", "https", "file"}) QDesktopServices::unsetUrlHandler(scheme);
  servers_.reset();
}

void ReceiveTest::init() {
  g_spoken.clear();
  urls_.opened.clear();
  dir_ = std::make_unique<QTemporaryDir>();
  program_ = P(*dir_);
}

void ReceiveTest::cleanup() {
  for (const auto& [user, pass] : qbtest::MailServers::kUsers) drain(user);
}

void ReceiveTest::drain(const std::string& user) {
  // Leaves the box empty for the next test, dovecot's index included.
  std::error_code ec;
  for (const char* sub : {"/new", "/cur"})
    for (auto& e : fs::directory_iterator(servers_->maildir(user) + sub, ec)) fs::remove(e.path(), ec);
  for (auto& e : fs::directory_iterator(servers_->maildir(user), ec))
    if (e.path().filename().string().rfind("dovecot", 0) == 0) fs::remove(e.path(), ec);
}

void ReceiveTest::makeProgram(const std::vector<std::pair<std::string, std::string>>& users) {
  static const char* names[] = {"アリス", "ボブ", "キャロル"};
  for (size_t i = 0; i < users.size(); ++i) {
    fs::path folder = account(program_, static_cast<int>(i + 1), names[i]);
    modCommon::sSetAccountValue(folder, "POP3", servers_->popServer());
    modCommon::sSetAccountValue(folder, "User", users[i].first);
    modCommon::sSetAccountValue(folder, "Pass", users[i].second);
  }
}

void ReceiveTest::receiveOneFilesStartsAndAnnounces() {
  makeProgram({{"alice", "secret"}, {"bob", "hunter2"}});
  fs::path acc = mailstore::fAccountFolder(mailstore::fAccountPrefix(program_), 1);
  fs::path inbox = acc / "受信箱";
  fs::create_directories(inbox / "ニュース");
  // The recording program and the sibling browser are small scripts in the program folder.
  fs::path recorder = program_ / "record.sh";
  std::ofstream(recorder) << "#!/bin/sh\necho started >> '" << u8(program_ / "recorded.txt") << "'\n";
  fs::path browser = program_ / "Lanternhouse";
  std::ofstream(browser) << "#!/bin/sh\nprintf '%s|%s\\n' \"$#\" \"$1\" >> '" << u8(program_ / "browser.txt")
                         << "'\n";
  for (const auto& f : {recorder, browser})
    fs::permissions(f, fs::perms::owner_all | fs::perms::group_read | fs::perms::others_read);
  mod_ini::fWriteIniString(
      "Mail", "Distribute",
      "差出人|news@|受信箱\\ニュース|2||[件名|memo:||2||[件名|rec:||4|" + u8(recorder) +
          "|[本文|https://||8||[本文|file:||1||[本文|http://open.example||1||[",
      acc / "set.ini");
  setting(program_, "Speech", "1");
  setting(program_, "Notify", "1");

  servers_->seed("alice", message("News <news@example.jp>", "weekly", "no links here"));
  servers_->seed("alice", message("a@example.jp", "memo: milk", "buy milk"));
  servers_->seed("alice", message("b@example.jp", "rec: radio at 9", "record it"));
  servers_->seed("alice", message("c@example.jp", "link", "see https://example.jp/a?b=1 today\nbye"));
  servers_->seed("alice", message("d@example.jp", "local", "open file:///etc/passwd now"));
  servers_->seed("alice", message("e@example.jp", "open", "go http://open.example/x please"));
  servers_->seed("bob", message("f@example.jp", "for bob", "hello"));

  Form1 form(dir_->path());
  QVERIFY(form.fStarted());
  QStringList balloons;
  form.fReceiver()->balloonHook = [&](const QString& title, const QString& text) { balloons << title + "|" + text; };
  QStringList filled;
  form.setListFiller([&](const fs::path& folder, bool sent) {
    filled << QString::fromStdString(u8(folder)) + (sent ? "|sent" : "");
  });
  form.fTree()->setCurrentItem(node(form, "受信箱01"));
  QAction* item = form.findChild<QAction*>("mnuFileItem_1");
  QVERIFY(item->isEnabled());
  item->trigger();

  QCOMPARE(form.fStatus(1), QString("アリス ： 6件受信"));
  // Filing: moved and read, read in place, the rest unread in the inbox.
  std::vector<fs::path> news = mailsIn(inbox / "ニュース");
  QCOMPARE(news.size(), size_t(1));
  QVERIFY(markedRead(news[0]));
  std::vector<fs::path> left = mailsIn(inbox);
  QCOMPARE(left.size(), size_t(5));
  QVERIFY(markedRead(withText(left, "memo: milk")));
  QVERIFY(!markedRead(withText(left, "rec: radio")));
  // Desktop: the program started once, the https address went to the sibling browser as
  // one argument, the http address to the default browser, the file: text nowhere.
  QTRY_COMPARE_WITH_TIMEOUT(bytesOf(program_ / "recorded.txt"), std::string("started\n"), 10000);
  QTRY_COMPARE_WITH_TIMEOUT(bytesOf(program_ / "browser.txt"), std::string("1|https://example.jp/a?b=1\n"), 10000);
  QCOMPARE(urls_.opened, QStringList{"http://open.example/x"});
  // Announced once, in this order; the list of the selected folder reloaded; counts redone.
  QCOMPARE(g_spoken, QStringList{"アカウント<NUM VAL=1>わ、<NUMK  VAL=6  COUNTER=けん>;じゅしんしまし'た"});
  QCOMPARE(balloons, QStringList{"Quillbrook|アリス ： 6件受信"});
  QCOMPARE(filled, QStringList{QString::fromStdString(u8(inbox))});
  QCOMPARE(node(form, "受信箱01")->data(0, FolderTree::kCountRole).toString(), QString("4"));
  QCOMPARE(node(form, "Cニュース01")->data(0, FolderTree::kCountRole).toString(), QString("0"));
  // Only the selected account was asked; bob's mail waits on the server.
  QCOMPARE(servers_->stored("bob").size(), size_t(1));
  QVERIFY(servers_->stored("alice").empty());

  // Nothing new: the status says so, and nothing else happens.
  form.mnuFileItem_Click(1);
  QCOMPARE(form.fStatus(1), QString("アリス ： 新着メールはありません"));
  QCOMPARE(g_spoken.size(), 1);
  QCOMPARE(balloons.size(), 1);
  QCOMPARE(filled.size(), 1);
}

void ReceiveTest::receiveAllSpeaksSendersAndShowsBox() {
  makeProgram({{"alice", "secret"}, {"bob", "hunter2"}});
  setting(program_, "Speech", "2");
  setting(program_, "Notify", "2");
  mod_ini::fWriteIniString("Speech", "news@example.jp", "にゅーす", program_ / "setting.ini");
  mod_ini::fWriteIniString("Speech", "boss@example.jp", "ぶちょう", program_ / "setting.ini");
  servers_->seed("alice", message("News <news@example.jp>", "one", "x"));
  servers_->seed("alice", message("news@example.jp", "two", "x"));
  servers_->seed("alice", message("stranger@example.jp", "three", "x"));
  servers_->seed("bob", message("Boss <boss@example.jp>", "four", "x"));

  Form1 form(dir_->path());
  int fills = 0;
  form.setListFiller([&](const fs::path&, bool) { ++fills; });
  form.fTree()->setCurrentItem(node(form, "root01"));  // an account node: no list
  QStringList boxes;
  QTimer closer;
  connect(&closer, &QTimer::timeout, [&] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      boxes << box->windowTitle() + "|" + box->text();
      box->accept();
    }
  });
  closer.start(10);
  form.findChild<QAction*>("mnuFileItem_2")->trigger();

  QCOMPARE(boxes, QStringList{"Quillbrook|アリス ： 3件受信\nボブ ： 1件受信\n"});
  QCOMPARE(g_spoken, QStringList{"にゅーすさま、、ぶちょうさま、、か'ら、めーるがとどきま'した"});
  QCOMPARE(form.fStatus(1), QString("ボブ ： 1件受信"));
  QCOMPARE(fills, 0);
  QCOMPARE(mailsIn(mailstore::fAccountFolder(mailstore::fAccountPrefix(program_), 2) / "受信箱").size(), size_t(1));
  QCOMPARE(node(form, "受信箱01")->data(0, FolderTree::kCountRole).toString(), QString("3"));

  // A run in which nothing arrives: silence, no box, the last account's status.
  form.mnuFileItem_Click(2);  // returns when the run, and any box of it, is over
  QCOMPARE(boxes.size(), 1);
  QCOMPARE(g_spoken.size(), 1);
  QCOMPARE(form.fStatus(1), QString("ボブ ： 新着メールはありません"));
}

void ReceiveTest::wrongPasswordShowsLibraryTextAndRunGoesOn() {
  makeProgram({{"alice", "wrong"}, {"bob", "hunter2"}});
  setting(program_, "Speech", "1");
  servers_->seed("alice", message("a@example.jp", "kept", "x"));
  servers_->seed("bob", message("b@example.jp", "for bob", "x"));
  Form1 form(dir_->path());

  form.fTree()->setCurrentItem(node(form, "受信箱01"));
  form.mnuFileItem_Click(1);
  const QString text = form.fStatus(1);
  QVERIFY2(!text.isEmpty() && !text.contains("受信中") && !text.contains("件受信") &&
               !text.contains("新着メール"),
           qPrintable(text));
  QVERIFY(g_spoken.isEmpty());

  form.mnuFileItem_Click(2);
  QCOMPARE(form.fStatus(1), QString("ボブ ： 1件受信"));
  QCOMPARE(g_spoken, QStringList{"アカウント<NUM VAL=2>わ、<NUMK  VAL=1  COUNTER=けん>、じゅしんしまし'た"});
  QCOMPARE(servers_->stored("alice").size(), size_t(1));
}

void ReceiveTest::timerTicksRotateOneAccount() {
  makeProgram({{"alice", "secret"}, {"bob", "hunter2"}, {"carol", "c4r0l!"}});
  setting(program_, "Speech", "1");
  setting(program_, "AutoRe", "1");
  Form1 form(dir_->path());
  QCOMPARE(form.autoRePosition(), 1);
  QStringList filled;
  form.setListFiller([&](const fs::path& folder, bool) { filled << QString::fromStdString(u8(folder)); });
  form.fTree()->setCurrentItem(node(form, "受信箱02"));
  auto inboxCount = [&](int n) {
    return mailsIn(mailstore::fAccountFolder(mailstore::fAccountPrefix(program_), n) / "受信箱").size();
  };
  for (const char* user : {"alice", "bob", "carol"}) servers_->seed(user, message("x@example.jp", "s", "b"));

  const QString captions[] = {"アリス", "ボブ", "キャロル", "アリス"};
  for (int tick = 0; tick < 4; ++tick) {
    if (tick == 3) servers_->seed("alice", message("x@example.jp", "again", "b"));
    form.sTimerTick();
    QCOMPARE(form.fStatus(1), captions[tick] + " ： 1件受信");
    QCOMPARE(form.fTree()->currentItem(), node(form, "受信箱02"));  // the user's node again
  }
  QCOMPARE(inboxCount(1), size_t(2));
  QCOMPARE(inboxCount(2), size_t(1));
  QCOMPARE(inboxCount(3), size_t(1));
  QCOMPARE(form.autoRePosition(), 2);
  QCOMPARE(g_spoken.size(), 4);
  QCOMPARE(g_spoken[2], QString("アカウント<NUM VAL=3>わ、<NUMK  VAL=1  COUNTER=けん>;じゅしんしまし'た"));
  QCOMPARE(g_spoken[3], QString("アカウント<NUM VAL=1>わ、<NUMK  VAL=1  COUNTER=けん>;じゅしんしまし'た"));
  // The user's folder list is refreshed after every tick that brought mail.
  QCOMPARE(filled.size(), 4);

  // Back in all-accounts mode a tick receives everybody.
  form.setAutoRePosition(0);
  servers_->seed("bob", message("x@example.jp", "s", "b"));
  servers_->seed("carol", message("x@example.jp", "s", "b"));
  form.sTimerTick();
  QCOMPARE(inboxCount(2), size_t(2));
  QCOMPARE(inboxCount(3), size_t(2));
  QCOMPARE(form.fStatus(1), QString("キャロル ： 1件受信"));
}

void ReceiveTest::runKeepsWindowLiveAndRefusesOverlap() {
  makeProgram({{"alice", "secret"}});
  setting(program_, "Speech", "1");
  setting(program_, "AutoRe", "1");
  constexpr int kMails = 400;
  for (int i = 0; i < kMails; ++i) servers_->seed("alice", message("x@example.jp", "bulk", std::string(2000, 'x')));
  Form1 form(dir_->path());
  QVERIFY(shown(form));
  form.fTree()->setCurrentItem(node(form, "root01"));

  // While the run goes on, a timer keeps firing: it sees the progress and tries to start
  // every kind of run on top of the one under way, and every command that would change
  // the store's layout under it (deleting account 01 would renumber the folders it
  // files into).
  form.setConfirmBox([](const QString&, const QString&) { return true; });
  form.setInputBox([](const QString&, const QString&) { return std::optional<QString>("new"); });
  const int layoutItems[] = {6, 7, 10, 11, 13};
  QStringList seen;
  int attempts = 0, layoutEnabled = 0, dropsAccepted = 0;
  QTimer poke;
  connect(&poke, &QTimer::timeout, [&] {
    if (!form.fReceiver()->fBusy()) return;
    seen << form.fStatus(1);
    ++attempts;
    form.mnuFileItem_Click(1);
    form.mnuFileItem_Click(2);
    form.sTimerTick();
    for (int item : layoutItems) {
      if (form.fMenuItem(Form1::Menu::File, item)->isEnabled()) ++layoutEnabled;
      form.mnuFileItem_Click(item);
    }
    if (form.fTree()->viewport()->acceptDrops()) ++dropsAccepted;
  });
  int paints = 0;
  struct PaintCounter : QObject {
    int* n;
    bool eventFilter(QObject*, QEvent* e) override {
      if (e->type() == QEvent::Paint) ++*n;
      return false;
    }
  } counter;
  counter.n = &paints;
  auto* panel = form.findChild<QWidget*>("StatusBar1Panel_1");
  panel->installEventFilter(&counter);
  poke.start(1);
  form.mnuFileItem_Click(1);
  poke.stop();

  QVERIFY(attempts > 0);
  QVERIFY(paints > 0);
  QVERIFY2(std::any_of(seen.begin(), seen.end(),
                       [](const QString& s) { return s.startsWith("アリス ： 受信中 ") && s.endsWith("/400"); }),
           qPrintable(seen.join(", ")));
  QCOMPARE(form.fStatus(1), QString("アリス ： 400件受信"));
  QCOMPARE(g_spoken.size(), 1);  // one run only
  QCOMPARE(form.autoRePosition(), 1);  // the refused tick did not move the rotation
  QCOMPARE(mailsIn(mailstore::fAccountFolder(mailstore::fAccountPrefix(program_), 1) / "受信箱").size(),
           size_t(kMails));
  QCOMPARE(layoutEnabled, 0);
  QCOMPARE(dropsAccepted, 0);
  QVERIFY(form.fNode("root01"));
  QVERIFY(!fs::exists(mailstore::fAccountFolder(mailstore::fAccountPrefix(program_), 2)));
  // The run over, the commands are back.
  for (int item : layoutItems) QVERIFY(form.fMenuItem(Form1::Menu::File, item)->isEnabled());
  QVERIFY(form.fTree()->viewport()->acceptDrops());
}

void ReceiveTest::espeakEngineTakesTextsWithoutWaiting() {
  // The engine the program installs: espeak-ng with its Japanese voice is on this machine.
  // Texts are queued (there may be no sound device; that is ignored) and release does not
  // wait for speech still queued.
  EspeakSpeech engine;
  QVERIFY(engine.fAvailable());
  for (int i = 0; i < 20; ++i) engine.sPlay("アカウント<NUM VAL=7>わ、<NUMK  VAL=3  COUNTER=けん>;じゅしんしまし'た");
}

void ReceiveTest::rowsOfNewMailsMatchAFreshRead() {
  // The list shows the new mails with the headers read while filing them; a later read
  // of the folder from the files must show exactly the same rows.
  const char* oldZone = std::getenv("TZ");
  const std::string savedZone = oldZone ? oldZone : "";
  setenv("TZ", "Asia/Tokyo", 1);
  tzset();
  makeProgram({{"alice", "secret"}});
  fs::path acc = mailstore::fAccountFolder(mailstore::fAccountPrefix(program_), 1);
  fs::path inbox = acc / "受信箱";
  fs::create_directories(inbox / "ニュース");
  fixture::mail(inbox, "old.eml", true);  // already there before the run
  mod_ini::fWriteIniString("Mail", "Distribute", "差出人|news@|受信箱\\ニュース|0||[件名|既読||2||[", acc / "set.ini");
  servers_->seed("alice", "From: =?UTF-8?B?5bGx55Sw?= <yamada@example.jp>\nSubject: =?ISO-2022-JP?B?GyRCJDMkcyRLJEEkTxsoQg==?=\n"
                          "Date: Tue, 2 Jan 2024 10:00:00 +0900\n\nbody\n");
  servers_->seed("alice", "From: plain@example.jp\nSubject: a long subject\n folded over two lines\n"
                          "Date: Mon, 1 Jan 2024 16:30:05 -0800 (PST)\n\nbody\n");
  servers_->seed("alice", "From: nodate@example.jp\nSubject: =?UTF-8?Q?=E6=97=A2=E8=AA=AD?= mark\n\nbody\n");
  servers_->seed("alice", "From: \"Last, First\" <first@example.jp>\nDate: someday\n\nno subject\n");
  servers_->seed("alice", message("News <news@example.jp>", "moved away", "x"));
  servers_->seed("alice", "Subject: =?Shift_JIS?B?g2WDWINn?=\nFrom: =?ISO-2022-JP?B?GyRCOjRGIxsoQg==?= <sato@example.jp>\n"
                          "Date: 3 jul 2024 8:00:00 +0000\n\nx\n");

  Form1 form(dir_->path());
  QVERIFY(form.fStarted());
  QVERIFY(shown(form, {900, 600}));
  auto press = [&form](QTreeWidgetItem* item) {
    QTest::mousePress(form.fTree()->viewport(), Qt::LeftButton, {}, form.fTree()->visualItemRect(item).center());
  };
  press(node(form, "受信箱01"));
  QCOMPARE(form.fListModel()->rowCount(), 1);
  form.mnuFileItem_Click(1);
  QCOMPARE(form.fStatus(1), QString("アリス ： 6件受信"));

  auto rows = [&form] {
    QStringList out;
    auto* m = form.fListModel();
    for (int r = 0; r < m->rowCount(); ++r) {
      const MailRow& row = m->fRow(r);
      out << QStringList{row.subject, row.party, row.date, row.path, QString::number(row.icon)}.join("|");
    }
    out.sort();
    return out;
  };
  const QStringList afterReceive = rows();
  QCOMPARE(afterReceive.size(), 6);  // the old mail and five new ones; the news went on
  QVERIFY(!afterReceive.join("\n").contains("moved away"));
  QVERIFY(afterReceive.join("\n").contains("こんにちは|山田 <yamada@example.jp>|2024/01/02 10:00:00|"));
  QVERIFY(afterReceive.join("\n").contains("a long subject folded over two lines|plain@example.jp|2024/01/02 09:30:05|"));
  QVERIFY(afterReceive.join("\n").contains("テスト|佐藤 <sato@example.jp>|2024/07/03 17:00:00|"));
  QVERIFY(afterReceive.join("\n").contains("既読 mark|nodate@example.jp||"));

  form.fTree()->expandAll();
  press(node(form, "Cニュース01"));
  QCOMPARE(form.fListModel()->rowCount(), 1);
  QCOMPARE(form.fListModel()->fRow(0).subject, QString("moved away"));
  press(node(form, "受信箱01"));
  const QStringList reread = rows();
  QCOMPARE(reread, afterReceive);
  // The rows of known mails carry the read state from icon.ini like the others.
  QVERIFY(reread.join("\n").contains("既読 mark|nodate@example.jp||"));
  QVERIFY(std::any_of(reread.begin(), reread.end(),
                      [](const QString& r) { return r.startsWith("既読 mark|") && r.endsWith("|6"); }));

  if (oldZone) {
    setenv("TZ", savedZone.c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
}

// A self-signed POP3 server (servers of its own, so the shared ones keep their CA): the
// status names the fingerprint; the account's trusted fingerprint lets the run through.
void ReceiveTest::trustedCertificateReachesTheReceivingThread() {
  std::string why;
  auto own = qbtest::MailServers::start(why);
  QVERIFY2(own, why.c_str());
  own->sUseForLibrary(10);
  const std::string fingerprint = own->fServeSelfSigned(why);
  QVERIFY2(!fingerprint.empty(), why.c_str());
  fs::path folder = account(program_, 1, "アリス");
  modCommon::sSetAccountValue(folder, "POP3", own->popServer());
  modCommon::sSetAccountValue(folder, "User", "alice");
  modCommon::sSetAccountValue(folder, "Pass", "secret");
  own->seed("alice", message("a@example.jp", "self-signed", "x"));

  Form1 form(dir_->path());
  form.fTree()->setCurrentItem(node(form, "受信箱01"));
  QStringList boxes;
  QTimer closer;
  connect(&closer, &QTimer::timeout, [&] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      boxes << box->text();
      box->accept();
    }
  });
  closer.start(10);
  form.mnuFileItem_Click(1);
  // The status bar tells briefly, in Japanese; the box the whole text, fingerprint and all.
  QCOMPARE(form.fStatus(1), QString("POP3: サーバの証明書を信頼できません (127.0.0.1)"));
  QCOMPARE(boxes.size(), 1);
  QVERIFY2(boxes[0].contains(QString::fromStdString(fingerprint)), qPrintable(boxes[0]));
  QVERIFY2(boxes[0].contains("自己署名の証明書です") && boxes[0].contains("「証明書を確認」"),
           qPrintable(boxes[0]));
  // A timer's run opens no box.
  form.sTimerTick();
  QCOMPARE(form.fStatus(1), QString("POP3: サーバの証明書を信頼できません (127.0.0.1)"));
  QCOMPARE(boxes.size(), 1);
  closer.stop();
  mod_ini::fWriteIniString("Mail", "POP3CertPin", fingerprint, folder / "set.ini");
  form.mnuFileItem_Click(1);
  QCOMPARE(form.fStatus(1), QString("アリス ： 1件受信"));
  servers_->sUseForLibrary(10);
}

QTEST_MAIN(ReceiveTest)
#include "tst_receive.moc"
