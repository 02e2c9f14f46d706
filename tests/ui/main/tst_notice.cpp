// The new-mail notice on a desktop without a tray (offscreen has none): shown through a
// notification service on a real session bus (a dbus-daemon started here, with a small
// recording service on it), a click on it brings the window forward, and without the
// service the notice lands in the status bar.
#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QMutex>
#include <QProcess>
#include <QSystemTrayIcon>
#include <QTest>
#include <QThread>
#include <QVariantMap>

#include "ui/main/Form1.h"
#include "windowfixture.h"

using namespace fixture;

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");

// A notification service that records what it is asked to show.
class Recorder : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
 public:
  struct Notice {
    QString app, summary, body;
    QStringList actions;
  };
  QList<Notice> notices() {
    QMutexLocker lock(&mutex_);
    return notices_;
  }
 public slots:
  uint Notify(const QString& app, uint, const QString&, const QString& summary, const QString& body,
              const QStringList& actions, const QVariantMap&, int) {
    QMutexLocker lock(&mutex_);
    notices_ << Notice{app, summary, body, actions};
    return static_cast<uint>(notices_.size()) + 100;
  }
  QStringList GetCapabilities() { return {QStringLiteral("body"), QStringLiteral("actions")}; }

 private:
  QMutex mutex_;
  QList<Notice> notices_;
};

QProcess* g_bus = nullptr;
QString g_address;

}  // namespace

class NoticeTest : public QObject {
  Q_OBJECT
 private slots:
  void init() {
    dir_ = std::make_unique<QTemporaryDir>(QDir::tempPath() + "/qb_notice-XXXXXX");
    account(P(*dir_), 1, "仕事");
  }

  void noticeGoesToTheNotificationServiceAndItsClickRaisesTheWindow() {
    QVERIFY(!QSystemTrayIcon::isSystemTrayAvailable());
    // The service answers on its own thread, as a separate program would.
    QDBusConnection service = QDBusConnection::connectToBus(g_address, QStringLiteral("service"));
    QThread thread;
    Recorder recorder;
    recorder.moveToThread(&thread);
    thread.start();
    QVERIFY(service.registerObject(kPath, &recorder, QDBusConnection::ExportAllSlots));
    QVERIFY(service.registerService(kService));

    Form1 form(dir_->path());
    QVERIFY(shown(form));
    form.sTrayBalloon(QStringLiteral("Quillbrook"), QStringLiteral("仕事 ： 3件受信"));
    const auto notices = recorder.notices();
    QCOMPARE(notices.size(), 1);
    QCOMPARE(notices[0].summary, QStringLiteral("Quillbrook"));
    QCOMPARE(notices[0].body, QStringLiteral("仕事 ： 3件受信"));
    QVERIFY(notices[0].actions.contains(QStringLiteral("default")));
    QVERIFY(form.fStatus(1) != notices[0].body);

    // A click on the notice (another one's click is not ours).
    form.showMinimized();
    QTRY_VERIFY(form.isMinimized());
    for (uint id : {999u, 101u}) {
      QDBusMessage click = QDBusMessage::createSignal(kPath, kService, QStringLiteral("ActionInvoked"));
      click << id << QStringLiteral("default");
      QVERIFY(service.send(click));
      if (id == 999u) {
        QTest::qWait(300);
        QVERIFY(form.isMinimized());
      }
    }
    QTRY_VERIFY(!form.isMinimized());

    service.unregisterService(kService);
    service.unregisterObject(kPath);
    thread.quit();
    thread.wait();
    QDBusConnection::disconnectFromBus(QStringLiteral("service"));
  }

  void withoutAServiceTheNoticeGoesToTheStatusBar() {
    Form1 form(dir_->path());
    form.show();
    form.sTrayBalloon(QStringLiteral("Quillbrook"), QStringLiteral("仕事 ： 2件受信\r\n個人 ： 1件受信\r\n"));
    QCOMPARE(form.fStatus(1), QStringLiteral("仕事 ： 2件受信 / 個人 ： 1件受信"));
  }

 private:
  std::unique_ptr<QTemporaryDir> dir_;
};

// A session bus of the test's own, in place before the program's first use of it.
int main(int argc, char** argv) {
  QProcess bus;
  bus.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--session"), QStringLiteral("--nofork"),
                                            QStringLiteral("--print-address=1")});
  if (!bus.waitForStarted() || !bus.waitForReadyRead(10000)) {
    std::fprintf(stderr, "dbus-daemon (packages.txt) did not start\n");
    return 1;
  }
  g_address = QString::fromUtf8(bus.readLine()).trimmed();
  qputenv("DBUS_SESSION_BUS_ADDRESS", g_address.toUtf8());
  g_bus = &bus;
  int rc = 0;
  {
    QApplication app(argc, argv);
    NoticeTest test;
    rc = QTest::qExec(&test, argc, argv);
  }
  bus.kill();
  bus.waitForFinished();
  return rc;
}

#include "tst_notice.moc"
