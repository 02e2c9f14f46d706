// The account settings dialog against a real account folder: what it loads, what it
// writes to set.ini (byte for byte), and the rule editor.
#include "ui/settings/frmSet.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <filesystem>
#include <fstream>
#include <optional>

#include "tempdir.h"
#include "windowfixture.h"
#include "mailservers.h"
#include "tokenservice.h"
#include "compose/outgoing.h"
#include "store/mailstore.h"
#include "store/modCommon.h"
#include "store/mod_ini.h"

namespace fs = std::filesystem;
using fixture::shown;

// The user's browser: follows the address the dialog opens (the provider's page sends it
// on to the program's loopback address), unless `idle`.
class TestBrowser : public QObject {
  Q_OBJECT
 public:
  bool idle = false;
 public slots:
  void open(const QUrl& url) {
    if (!idle) qbtest::fHttp(url.toString(QUrl::FullyEncoded).toStdString(), nullptr, true);
  }
};

class FrmSetTest : public QObject {
  Q_OBJECT
  std::optional<qbtest::TempDir> tmp_;
  fs::path dir_;

  template <typename T>
  static T* find(QWidget& w, const char* name) {
    auto* child = w.findChild<T*>(name);
    if (!child) qFatal("no widget %s", name);
    return child;
  }
  std::string iniBytes() const {
    std::ifstream in(dir_ / "set.ini", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  // Answers the next message box once it is up; its text lands in `seen`.
  static void closeNextBox(QString* seen, int tries = 200) {
    QTimer::singleShot(10, [seen, tries] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box) {
        if (tries > 0) closeNextBox(seen, tries - 1);
        return;
      }
      *seen = box->text();
      box->accept();
    });
  }
  std::string plain(const char* key) const { return modCommon::fGetAccountValue(dir_, key); }
  std::string raw(const char* key) const {
    return mod_ini::fGetIniString("Mail", key, dir_ / "set.ini", "<none>");
  }

 private slots:
  void init() {
    tmp_.emplace("qbfrmset");
    dir_ = tmp_->path();
    for (const char* d : {"受信箱/仕事", "送信箱/下書き", "送信箱/送信待ち", "ごみ箱"}) {
      fs::create_directories(dir_ / mailstore::fPath(d));
    }
  }
  void cleanup() { tmp_.reset(); }

  void loadsAndSavesEveryValue() {
    modCommon::sSetAccountValue(dir_, "Account", "旧名");
    modCommon::sSetAccountValue(dir_, "SMTP", "smtp.example.jp:587");
    modCommon::sSetAccountValue(dir_, "POP3", "pop.example.jp");
    modCommon::sSetAccountValue(dir_, "Pass", "secret");
    mod_ini::fWriteIniString("Mail", "SvrDel", "1", dir_ / "set.ini");
    // The second rule is one receiving passes over: shown as such, written back as it was.
    mod_ini::fWriteIniString("Mail", "Distribute", "差出人|boss|受信箱\\仕事|2||[日付|x||2|",
                             dir_ / "set.ini");

    frmSet dlg(dir_, "旧名");
    QCOMPARE(dlg.windowTitle(), QString("アカウント設定 - 旧名"));
    QCOMPARE(find<QLineEdit>(dlg, "txt_3")->text(), QString("smtp.example.jp"));
    QCOMPARE(find<QLineEdit>(dlg, "txt_8")->text(), QString("587"));
    QCOMPARE(find<QLineEdit>(dlg, "txt_4")->text(), QString("pop.example.jp"));
    QCOMPARE(find<QLineEdit>(dlg, "txt_9")->text(), QString(""));
    QCOMPARE(find<QLineEdit>(dlg, "txt_6")->text(), QString("secret"));
    QVERIFY(find<QCheckBox>(dlg, "chk_0")->isChecked());
    auto* lv = find<QTreeWidget>(dlg, "lv");
    QCOMPARE(lv->topLevelItemCount(), 2);
    QCOMPARE(lv->topLevelItem(0)->text(3), QString("既読にする "));
    QCOMPARE(lv->topLevelItem(1)->text(3), QString("受信時には使われません（対象が不明です）"));

    find<QLineEdit>(dlg, "txt_0")->setText("新しい名前");
    find<QLineEdit>(dlg, "txt_8")->clear();
    find<QLineEdit>(dlg, "txt_9")->setText("995");
    find<QCheckBox>(dlg, "chk_0")->setChecked(false);
    QSignalSpy renamed(&dlg, &frmSet::accountNameChanged);
    find<QPushButton>(dlg, "cmdOK")->click();
    QCOMPARE(renamed.count(), 1);
    QCOMPARE(renamed.at(0).at(0).toString(), QString("新しい名前"));
    QCOMPARE(plain("Account"), std::string("新しい名前"));
    QCOMPARE(raw("SMTP"), modCommon::fEncodeSetting("smtp.example.jp", 0xA5));
    QCOMPARE(raw("POP3"), modCommon::fEncodeSetting("pop.example.jp\t995", 0xA5));
    QCOMPARE(raw("SvrDel"), std::string("0"));
    QCOMPARE(raw("Distribute"), std::string("差出人|boss|受信箱\\仕事|2||[日付|x||2||["));
  }

  void cancelWritesNothing() {
    modCommon::sSetAccountValue(dir_, "Account", "名前");
    std::string before = iniBytes();
    frmSet dlg(dir_, "名前");
    find<QLineEdit>(dlg, "txt_0")->setText("changed");
    find<QPushButton>(dlg, "cmdDis_0")->click();
    find<QPushButton>(dlg, "cmdCancel")->click();
    QCOMPARE(iniBytes(), before);
  }

  void ruleEditor() {
    frmSet dlg(dir_, "Account01");
    QVERIFY(shown(dlg));
    find<QTabWidget>(dlg, "TabStrip1")->setCurrentIndex(1);
    auto* target = find<QComboBox>(dlg, "cbo_0");
    auto* dest = find<QComboBox>(dlg, "cbo_1");
    QStringList targets;
    for (int i = 0; i < target->count(); ++i) targets << target->itemText(i);
    QCOMPARE(targets, QStringList({"差出人", "宛先", "件名", "本文"}));
    QVERIFY(dest->findText("受信箱\\仕事") > 0);
    QVERIFY(dest->findText("送信箱\\送信待ち") > 0);

    // URL options belong to body rules only; another target clears them.
    auto* openUrl = find<QRadioButton>(dlg, "opDis_0");
    QVERIFY(!openUrl->isEnabled());
    target->setCurrentIndex(3);
    QVERIFY(openUrl->isEnabled());
    openUrl->setChecked(true);
    target->setCurrentIndex(2);
    QVERIFY(!openUrl->isChecked());
    QVERIFY(!openUrl->isEnabled());

    // Rule 1: sender "boss" into 受信箱\仕事, read, run a program: flags 6.
    target->setCurrentIndex(0);
    find<QLineEdit>(dlg, "txt_7")->setText("boss");
    dest->setCurrentText("受信箱\\仕事");
    find<QCheckBox>(dlg, "chkDis_1")->setChecked(true);
    find<QCheckBox>(dlg, "chkDis_2")->setChecked(true);
    find<QLineEdit>(dlg, "txt_50")->setText("/usr/bin/prog");
    find<QPushButton>(dlg, "cmdDis_0")->click();
    // Rule 2: body URL handed to the sibling browser.
    find<QPushButton>(dlg, "cmdDis_4")->click();
    QCOMPARE(find<QLineEdit>(dlg, "txt_7")->text(), QString());
    target->setCurrentIndex(3);
    find<QLineEdit>(dlg, "txt_7")->setText("https://");
    find<QRadioButton>(dlg, "opDis_1")->setChecked(true);
    find<QPushButton>(dlg, "cmdDis_0")->click();

    auto* lv = find<QTreeWidget>(dlg, "lv");
    QCOMPARE(lv->topLevelItemCount(), 2);
    QCOMPARE(lv->topLevelItem(0)->text(3), QString("既読にする /usr/bin/prog "));
    QCOMPARE(lv->topLevelItem(1)->text(3), QString("Lanternhouseで開く "));

    // A row click loads it back; edit replaces it.
    lv->setCurrentItem(lv->topLevelItem(0));
    QTest::mouseClick(lv->viewport(), Qt::LeftButton, {},
                      lv->visualItemRect(lv->topLevelItem(0)).center());
    QCOMPARE(target->currentText(), QString("差出人"));
    QVERIFY(find<QCheckBox>(dlg, "chkDis_2")->isChecked());
    QCOMPARE(find<QLineEdit>(dlg, "txt_50")->text(), QString("/usr/bin/prog"));
    find<QCheckBox>(dlg, "chkDis_2")->setChecked(false);
    find<QPushButton>(dlg, "cmdDis_3")->click();
    QCOMPARE(lv->topLevelItem(0)->text(3), QString("既読にする "));

    find<QPushButton>(dlg, "cmdOK")->click();
    QCOMPARE(raw("Distribute"),
             std::string("差出人|boss|受信箱\\仕事|2|/usr/bin/prog|[本文|https://||8||["));

    // Delete removes the selected row; with no rows an empty value is still written.
    frmSet again(dir_, "Account01");
    auto* lv2 = find<QTreeWidget>(again, "lv");
    QCOMPARE(lv2->topLevelItemCount(), 2);
    for (int i = 0; i < 2; ++i) {
      lv2->setCurrentItem(lv2->topLevelItem(0));
      find<QPushButton>(again, "cmdDis_1")->click();
    }
    find<QPushButton>(again, "cmdOK")->click();
    QCOMPARE(raw("Distribute"), std::string(""));
  }

  // "|" separates a rule's fields; typed into one, it would shift them on the next read.
  void ruleFieldsRefuseTheSeparator() {
    fs::create_directories(dir_ / mailstore::fPath("受信箱/a|b"));
    frmSet dlg(dir_, "Account01");
    QVERIFY(shown(dlg));
    auto* search = find<QLineEdit>(dlg, "txt_7");
    auto* dest = find<QComboBox>(dlg, "cbo_1");
    auto* program = find<QLineEdit>(dlg, "txt_50");
    auto* lv = find<QTreeWidget>(dlg, "lv");
    find<QComboBox>(dlg, "cbo_0")->setCurrentIndex(0);
    search->setText("boss");
    find<QPushButton>(dlg, "cmdDis_0")->click();
    QCOMPARE(lv->topLevelItemCount(), 1);
    lv->setCurrentItem(lv->topLevelItem(0));
    const std::function<void()> spoil[] = {
        [&] { search->setText("a|["); },
        [&] { dest->setCurrentText("受信箱\a|b"); },
        [&] { program->setText("/usr/bin/x|y"); },
    };
    for (const auto& set : spoil) {
      search->setText("boss");
      dest->setCurrentIndex(0);
      program->clear();
      set();
      for (const char* button : {"cmdDis_0", "cmdDis_3"}) {
        QString seen;
        closeNextBox(&seen);
        find<QPushButton>(dlg, button)->click();
        QVERIFY(seen.contains("|"));
        QCOMPARE(lv->topLevelItemCount(), 1);
        QCOMPARE(lv->topLevelItem(0)->text(1), QString("boss"));
        QCOMPARE(lv->topLevelItem(0)->text(2), dest->itemText(0));
      }
    }
  }

  // A set.ini that cannot be read is not replaced; the dialog says so and stays open.
  void failedSaveIsReported() {
    modCommon::sSetAccountValue(dir_, "Account", "名前");
    frmSet dlg(dir_, "名前");
    QVERIFY(shown(dlg));
    fs::rename(dir_ / "set.ini", dir_ / "kept.ini");
    fs::create_directory(dir_ / "set.ini");
    QSignalSpy renamed(&dlg, &frmSet::accountNameChanged);
    QString seen;
    closeNextBox(&seen);
    find<QPushButton>(dlg, "cmdOK")->click();
    QCOMPARE(seen, QString("設定を保存できませんでした"));
    QVERIFY(dlg.isVisible());
    QCOMPARE(renamed.count(), 0);
    QVERIFY(fs::is_directory(dir_ / "set.ini"));
  }

  void quickSetupFillsTlsPorts() {
    frmSet dlg(dir_, "Account01");
    auto* gmail = dlg.findChild<QAction*>("mnuEasyItem_2");
    QVERIFY(gmail);
    gmail->trigger();
    QCOMPARE(find<QLineEdit>(dlg, "txt_3")->text(), QString("smtp.gmail.com"));
    QCOMPARE(find<QLineEdit>(dlg, "txt_8")->text(), QString("465"));
    QCOMPARE(find<QLineEdit>(dlg, "txt_9")->text(), QString("995"));
  }

  // A port the user typed stays; an empty one gets the provider's TLS port, and the
  // security follows the port.
  void quickSetupKeepsATypedPort() {
    frmSet dlg(dir_, "Account01");
    QTest::keyClicks(find<QLineEdit>(dlg, "txt_8"), "587");
    dlg.findChild<QAction*>("mnuEasyItem_2")->trigger();
    QCOMPARE(find<QLineEdit>(dlg, "txt_8")->text(), QString("587"));
    QCOMPARE(find<QComboBox>(dlg, "cboSmtpSecurity")->currentText(), QString("STARTTLS"));
    QCOMPARE(find<QLineEdit>(dlg, "txt_9")->text(), QString("995"));
    QCOMPARE(find<QComboBox>(dlg, "cboPop3Security")->currentText(), QString("SSL/TLS"));
    find<QPushButton>(dlg, "cmdOK")->click();
    QCOMPARE(raw("SMTPSecurity"), std::string("STARTTLS"));
    QCOMPARE(raw("POP3Security"), std::string("SSL"));
  }

  // Security per direction and the sending login: shown for an account that never chose
  // (without writing a choice for it), kept when chosen, with a warning for "なし".
  void securityAndSendingLoginChoices() {
    modCommon::sSetAccountValue(dir_, "SMTP", "smtp.example.jp:465");
    modCommon::sSetAccountValue(dir_, "POP3", "pop.example.jp");
    {
      frmSet dlg(dir_, "x");
      dlg.show();
      auto* smtp = find<QComboBox>(dlg, "cboSmtpSecurity");
      auto* pop3 = find<QComboBox>(dlg, "cboPop3Security");
      QCOMPARE(smtp->currentText(), QString("SSL/TLS"));
      QCOMPARE(pop3->currentText(), QString("STARTTLS"));
      QCOMPARE(find<QComboBox>(dlg, "cboSmtpAuth")->currentText(), QString("受信と同じ"));
      QVERIFY(!find<QLineEdit>(dlg, "txtSmtpUser")->isEnabled());
      QVERIFY(!find<QLabel>(dlg, "lblSecurityWarning")->isVisible());
      find<QLineEdit>(dlg, "txt_8")->setText("587");  // the standard rule follows the port
      QCOMPARE(smtp->currentText(), QString("STARTTLS"));
      find<QPushButton>(dlg, "cmdOK")->click();
    }
    QCOMPARE(raw("SMTPSecurity"), std::string("<none>"));
    QCOMPARE(raw("POP3Security"), std::string("<none>"));
    QCOMPARE(raw("SMTPAuth"), std::string("<none>"));
    {
      frmSet dlg(dir_, "x");
      dlg.show();
      auto* pop3 = find<QComboBox>(dlg, "cboPop3Security");
      pop3->setCurrentIndex(2);
      emit pop3->activated(2);
      QVERIFY(find<QLabel>(dlg, "lblSecurityWarning")->isVisible());
      find<QComboBox>(dlg, "cboSmtpAuth")->setCurrentIndex(2);
      QVERIFY(find<QLineEdit>(dlg, "txtSmtpUser")->isEnabled());
      find<QLineEdit>(dlg, "txtSmtpUser")->setText("sender");
      find<QLineEdit>(dlg, "txtSmtpPass")->setText("pw");
      find<QPushButton>(dlg, "cmdOK")->click();
    }
    QCOMPARE(raw("POP3Security"), std::string("NONE"));
    QCOMPARE(raw("SMTPAuth"), std::string("2"));
    QCOMPARE(plain("SMTPUser"), std::string("sender"));
    QCOMPARE(plain("SMTPPass"), std::string("pw"));
    QVERIFY(raw("SMTPPass") != "pw");
    frmSet again(dir_, "x");
    QCOMPARE(find<QComboBox>(again, "cboPop3Security")->currentText(), QString("なし"));
    QCOMPARE(find<QLineEdit>(again, "txtSmtpPass")->text(), QString("pw"));
  }

  // Tab walks the basic page in reading order.
  void tabFollowsReadingOrder() {
    frmSet dlg(dir_, "Account01");
    dlg.show();
    QVERIFY(QTest::qWaitForWindowActive(&dlg));
    find<QLineEdit>(dlg, "txt_0")->setFocus();
    QStringList seen{"txt_0"};
    for (int i = 0; i < 19; ++i) {
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
      seen << QApplication::focusWidget()->objectName();
    }
    QCOMPARE(seen, (QStringList{"txt_0", "txt_1", "txt_2", "txt_3", "txt_8", "cmdDefault_0",
                                "cboSmtpSecurity", "txt_4", "txt_9", "cmdDefault_1",
                                "cboPop3Security", "cboAuth", "txt_5", "txt_6", "cboSmtpAuth", "chk_0",
                                "cmdEasy", "cmdCert", "cmdOK", "cmdCancel"}));
  }

  void focusedBoxAndLabelAreMarked() {
    frmSet dlg(dir_, "Account01");
    QVERIFY(shown(dlg));
    auto* name = find<QLineEdit>(dlg, "txt_0");
    auto* label = find<QLabel>(dlg, "lbl_0");
    name->setFocus();
    QTRY_COMPARE(label->palette().color(QPalette::WindowText), QColor(0, 0, 255));
    QCOMPARE(name->palette().color(QPalette::Base), QColor(204, 255, 255));
    find<QLineEdit>(dlg, "txt_1")->setFocus();
    QTRY_COMPARE(label->palette().color(QPalette::WindowText), QColor(Qt::black));
    QCOMPARE(name->palette().color(QPalette::Base), QColor(Qt::white));
  }

  void portBoxesTakeDigitsOnly() {
    frmSet dlg(dir_, "Account01");
    auto* port = find<QLineEdit>(dlg, "txt_8");
    QTest::keyClicks(port, "5a8-7");
    QCOMPARE(port->text(), QString("587"));
    find<QPushButton>(dlg, "cmdDefault_1")->click();
    QCOMPARE(find<QLineEdit>(dlg, "txt_9")->text(), QString("110"));
  }

  // A self-signed server: the user sees its fingerprint for POP3 and SMTP, and only a
  // "yes" keeps it for the account, saved with the other values on OK.
  void trustsAServerCertificateOnlyWhenConfirmed() {
    std::string why;
    auto servers = qbtest::MailServers::start(why);
    QVERIFY2(servers, why.c_str());
    servers->sUseForLibrary(10);
    const std::string fingerprint = servers->fServeSelfSigned(why);
    QVERIFY2(!fingerprint.empty(), why.c_str());
    modCommon::sSetAccountValue(dir_, "POP3", servers->popServer());
    modCommon::sSetAccountValue(dir_, "SMTP", servers->smtpServer(true));
    for (bool yes : {false, true}) {
      frmSet dlg(dir_, "x");
      QStringList asked;
      dlg.ask = [&](const QString& text, bool question) {
        asked << text;
        return question && yes;
      };
      find<QPushButton>(dlg, "cmdCert")->click();
      QCOMPARE(asked.size(), 2);
      QVERIFY(asked[0].startsWith("POP3") && asked[1].startsWith("SMTP"));
      for (const QString& a : asked)
        QVERIFY2(a.contains(QString::fromStdString(fingerprint)), qPrintable(a));
      find<QPushButton>(dlg, "cmdOK")->click();
      QCOMPARE(raw("POP3CertPin"), yes ? fingerprint : std::string("<none>"));
      QCOMPARE(raw("SMTPCertPin"), yes ? fingerprint : std::string("<none>"));
    }
    // Asked again once trusted: told so, not asked.
    frmSet dlg(dir_, "x");
    QStringList told;
    dlg.ask = [&](const QString& text, bool question) {
      told << text;
      return !question;
    };
    find<QPushButton>(dlg, "cmdCert")->click();
    QCOMPARE(told.size(), 2);
    QVERIFY(told[0].contains("信頼済み"));
  }

  // With both server boxes empty there is nothing to check: said so, not silently ignored.
  void certificateCheckWithoutServersSaysWhy() {
    frmSet dlg(dir_, "x");
    QStringList told;
    dlg.ask = [&](const QString& text, bool) {
      told << text;
      return false;
    };
    find<QPushButton>(dlg, "cmdCert")->click();
    QCOMPARE(told.size(), 1);
    QVERIFY(told[0].contains("サーバがありません"));
  }

  // A server that never answers: the dialog keeps painting but takes no input until the
  // wait ends, and the user is told what went wrong.
  void certificateCheckOfASilentServerKeepsTheWindowAlive() {
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    QVERIFY(::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
            ::listen(listener, 4) == 0 &&
            ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len) == 0);
    mail::LibrarySettings saved = mail::fGetLibrarySettings(), quick = saved;
    quick.timeoutSeconds = 1;
    mail::sSetLibrarySettings(quick);
    modCommon::sSetAccountValue(dir_, "POP3", "127.0.0.1\t" + std::to_string(ntohs(addr.sin_port)));
    frmSet dlg(dir_, "x");
    QStringList told;
    dlg.ask = [&](const QString& text, bool) {
      told << text;
      return false;
    };
    int ticks = 0;
    bool enabledWhileWaiting = true;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
      ++ticks;
      enabledWhileWaiting = enabledWhileWaiting && dlg.isEnabled();
    });
    tick.start(50);
    find<QPushButton>(dlg, "cmdCert")->click();
    tick.stop();
    mail::sSetLibrarySettings(saved);
    ::close(listener);
    QVERIFY2(ticks >= 5, qPrintable(QString::number(ticks)));
    QVERIFY(!enabledWhileWaiting);
    QVERIFY(dlg.isEnabled());
    QCOMPARE(told.size(), 1);
    QVERIFY2(!told[0].isEmpty(), qPrintable(told[0]));
  }

  // The sign-in box makes the page taller than a small screen: the window stops at the
  // screen's edge, the page scrolls, and a long message is shown whole.
  void tallPageStaysOnTheScreen() {
    frmSet dlg(dir_, "x");
    dlg.show();
    find<QComboBox>(dlg, "cboAuth")->setCurrentIndex(1);
    find<QPushButton>(dlg, "cmdSignIn")->click();  // no client ID: a long reason
    auto* state = find<QLabel>(dlg, "lblSignIn");
    QVERIFY(state->text().contains("クライアント ID"));
    QTest::qWait(50);
    QVERIFY2(dlg.height() <= dlg.screen()->availableGeometry().height(), qPrintable(QString::number(dlg.height())));
    QVERIFY(dlg.height() > 640);  // it did grow as far as the screen lets it
    QCOMPARE(state->height(), state->heightForWidth(state->width()));
    auto* area = qobject_cast<QScrollArea*>(find<QWidget>(dlg, "picTab_0")->parentWidget()->parentWidget());
    QVERIFY(area && area->verticalScrollBar()->maximum() > 0);
  }

  // OAuth 2.0 from the dialog against the local services: a cancelled sign-in says so; a
  // good one is saved with OK, and the account then sends with it.
  void signsInThroughTheBrowserThenReceivesAndSends() {
    std::string why;
    auto servers = qbtest::MailServers::start(why, "xoauth2 oauthbearer");
    QVERIFY2(servers, why.c_str());
    servers->sUseForLibrary(10);
    for (auto [key, value] : {std::pair{"Address", std::string("alice@example.com")},
                              {"POP3", servers->popServer()}, {"SMTP", servers->smtpServer()}, {"User", "alice"}})
      modCommon::sSetAccountValue(dir_, key, value);
    TestBrowser browser;
    QDesktopServices::setUrlHandler("http", &browser, "open");
    frmSet dlg(dir_, "x");
    find<QComboBox>(dlg, "cboAuth")->setCurrentIndex(1);
    QVERIFY(find<QGroupBox>(dlg, "fraOAuth")->isVisibleTo(&dlg) && !find<QLineEdit>(dlg, "txt_6")->isEnabled());
    auto* provider = find<QComboBox>(dlg, "cboOAuthProvider");
    provider->setCurrentIndex(provider->count() - 1);
    find<QLineEdit>(dlg, "txtOAuthAuthorize")->setText(QString::fromStdString(servers->tokenUrl("/authorize")));
    find<QLineEdit>(dlg, "txtOAuthToken")->setText(QString::fromStdString(servers->tokenUrl("/token")));
    find<QLineEdit>(dlg, "txtOAuthScope")->setText("mail");
    find<QLineEdit>(dlg, "txtOAuthClientId")->setText("qb-test-client");
    auto* state = find<QLabel>(dlg, "lblSignIn");
    QVERIFY(state->text().contains("サインインが必要です"));
    auto* signIn = find<QPushButton>(dlg, "cmdSignIn");

    browser.idle = true;
    signIn->click();
    QVERIFY(state->text().contains("待っています") && !signIn->isEnabled());
    find<QPushButton>(dlg, "cmdSignInCancel")->click();
    QTRY_VERIFY2(state->text().contains("取り消しました"), qPrintable(state->text()));
    browser.idle = false;
    signIn->click();
    QTRY_VERIFY2(state->text().contains("サインインしました"), qPrintable(state->text()));
    QDesktopServices::unsetUrlHandler("http");
    find<QPushButton>(dlg, "cmdOK")->click();
    QCOMPARE(raw("Auth"), std::string("OAUTH2"));
    QVERIFY(!plain("OAuthRefresh").empty());
    QCOMPARE(raw("OAuthRefresh").find(plain("OAuthRefresh")), std::string::npos);

    QVERIFY(compose::fSend(dir_ / "send.log", dir_, {"bob@example.com", "", "", "s", "b\r\n", {}}).sent);
  }
};

QTEST_MAIN(FrmSetTest)
#include "tst_frmSet.moc"
