// Start-up and shutdown of the main window over real program folders.
#include <QMenu>
#include <QFile>
#include <QProcess>
#include <QStatusBar>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include "ui/main/FolderTree.h"
#include "ui/main/Form1.h"
#include "ui/common/Footy.h"
#include "windowfixture.h"

using namespace fixture;

class StartupTest : public QObject {
  Q_OBJECT
 private slots:
  void createsMailBoxAndSavesEveryKeyAtShutdown();
  void restoresTwipsGeometryAndSplitters();
  void minimizedCloseKeepsNormalGeometry();
  void timerPeriodFromAutoTime_data();
  void timerPeriodFromAutoTime();
  void tickDispatchesByPosition();
  void startupKey();
  void secondInstanceRefused();
  void secondProcessEndsAtOnce();
  void speechEngineLivesFromStartToShutdown();
};

void StartupTest::createsMailBoxAndSavesEveryKeyAtShutdown() {
  QTemporaryDir dir;
  fs::path program = P(dir);
  {
    Form1 form(dir.path());
    QVERIFY(form.fStarted());
    QVERIFY(fs::is_directory(program / "MailBox"));
    QCOMPARE(form.fTree()->topLevelItemCount(), 0);
    QVERIFY(form.fStriped());
    QVERIFY(!form.fTimer()->isActive());
    form.fListView()->setColumnWidth(1, 222);
    QVERIFY(shown(form));
    form.close();
  }
  QCOMPARE(settingValue(program, "WinState"), std::string("0"));
  for (const char* key : {"X", "Y", "W", "H", "Split1", "Split2", "Col1", "Col2", "Col3"}) {
    QVERIFY2(settingValue(program, key) != "<none>", key);
  }
  QCOMPARE(settingValue(program, "Col2"), std::string("222"));
  QCOMPARE(settingValue(program, "Split2"), std::string("150"));
  // Defaults: 9600 x 6400 twips.
  QCOMPARE(settingValue(program, "W"), std::string("9600"));
  // 6400 twips is no whole number of pixels: it comes back within one pixel.
  QVERIFY(std::abs(std::stoi(settingValue(program, "H")) - 6400) <= 15);
}

void StartupTest::restoresTwipsGeometryAndSplitters() {
  QTemporaryDir dir;
  fs::path program = P(dir);
  setting(program, "X", "1500");
  setting(program, "Y", "1200");
  setting(program, "W", "12000");
  setting(program, "H", "7500.75");  // geometry written with a fraction reads its integer part
  setting(program, "Split1", "180");
  setting(program, "Split2", "200");
  setting(program, "Col1", "310");
  setting(program, "Stripe", "0");
  {
    Form1 form(dir.path());
    QVERIFY(form.fStarted());
    QVERIFY(!form.fStriped());
    QVERIFY(shown(form));
    QCOMPARE(form.pos(), QPoint(100, 80));
    QCOMPARE(form.frameGeometry().size(), QSize(800, 500));  // W and H are the whole window
    QCOMPARE(form.fSplitBar(0)->x(), 180);
    QCOMPARE(form.fSplitBar(2)->y(), 200);
    QCOMPARE(form.fListView()->columnWidth(0), 310);

    // The panes follow the bars.
    auto* tv = form.findChild<QWidget*>("tv");
    auto* list = form.findChild<QWidget*>("ListView1");
    auto* viewer = form.findChild<QWidget*>("Footy_0");
    QVERIFY(tv && list && viewer);
    QCOMPARE(tv->geometry(), QRect(0, 0, 180, form.centralWidget()->height()));
    // The list's place above the bar holds the search box on top and the list below it.
    auto* search = form.findChild<QWidget*>("searchBar");
    QVERIFY(search && search->height() > 0);
    QCOMPARE(search->geometry() | list->geometry(), QRect(184, 0, form.centralWidget()->width() - 184, 200));
    QCOMPARE(list->geometry().top(), search->geometry().bottom() + 1);
    // Below the bar the header panel, then the body viewer down to the status bar.
    auto* header = form.findChild<QWidget*>("fraHeader");
    QVERIFY(header);
    QCOMPARE(header->geometry().topLeft(), QPoint(184, 204));
    QCOMPARE(header->width(), list->width());
    QCOMPARE(viewer->geometry(), QRect(184, header->geometry().bottom() + 1, list->width(),
                                       form.centralWidget()->height() - header->geometry().bottom() - 1));

    // Splitter drags stop at their bounds.
    QWidget* bar0 = form.fSplitBar(0);
    QTest::mousePress(bar0, Qt::LeftButton, {}, QPoint(1, 10));
    QTest::mouseMove(bar0, QPoint(-2000, 10));
    QCOMPARE(bar0->x(), 75);
    QTest::mouseMove(bar0, QPoint(5000, 10));
    QCOMPARE(bar0->x(), form.centralWidget()->width() - 75);
    QTest::mouseRelease(bar0, Qt::LeftButton, {}, QPoint(1, 10));
    QWidget* bar2 = form.fSplitBar(2);
    const int sh = form.centralWidget()->height() + form.statusBar()->height();
    QTest::mousePress(bar2, Qt::LeftButton, {}, QPoint(10, 1));
    QTest::mouseMove(bar2, QPoint(10, -3000));
    QCOMPARE(bar2->y(), 75);
    QTest::mouseMove(bar2, QPoint(10, 3000));
    QCOMPARE(bar2->y(), sh - 125);
    QTest::mouseRelease(bar2, Qt::LeftButton, {}, QPoint(10, 1));
    // Without a press, moving does nothing.
    QTest::mouseMove(bar2, QPoint(10, -50));
    QCOMPARE(bar2->y(), sh - 125);
    form.close();
  }
  QCOMPARE(settingValue(program, "X"), std::string("1500"));
  QCOMPARE(settingValue(program, "Y"), std::string("1200"));
  QCOMPARE(settingValue(program, "W"), std::string("12000"));
  QCOMPARE(settingValue(program, "H"), std::string("7500"));
  QCOMPARE(settingValue(program, "Col1"), std::string("310"));
}

void StartupTest::minimizedCloseKeepsNormalGeometry() {
  QTemporaryDir dir;
  fs::path program = P(dir);
  setting(program, "X", "1500");
  setting(program, "Y", "1500");
  {
    Form1 form(dir.path());
    QVERIFY(shown(form));
    form.move(300, 300);
    form.showMinimized();
    QTRY_VERIFY(form.isMinimized());
    form.close();
  }
  QCOMPARE(settingValue(program, "WinState"), std::string("1"));
  QCOMPARE(settingValue(program, "X"), std::string("1500"));
  {
    Form1 form(dir.path());
    QVERIFY(form.isMinimized());
    // Left click on the tray icon restores and activates the window.
    form.show();
    emit form.fTrayIcon()->activated(QSystemTrayIcon::Trigger);
    QTRY_VERIFY(!form.isMinimized());
    // Right click opens the File menu.
    emit form.fTrayIcon()->activated(QSystemTrayIcon::Context);
    QTRY_VERIFY(form.fMenu(Form1::Menu::File)->isVisible());
    form.fMenu(Form1::Menu::File)->close();
    form.showMaximized();
    QTRY_VERIFY(form.isMaximized());
    form.close();
  }
  QCOMPARE(settingValue(program, "WinState"), std::string("2"));
  QCOMPARE(settingValue(program, "X"), std::string("1500"));
}

void StartupTest::timerPeriodFromAutoTime_data() {
  QTest::addColumn<QString>("autoTime");
  QTest::addColumn<QString>("second");
  QTest::addColumn<int>("period");  // 0: no timer
  QTest::newRow("absent") << QString() << QString() << 0;
  QTest::newRow("zero") << "0" << "1" << 0;
  QTest::newRow("negative") << "-3" << "1" << 0;
  QTest::newRow("seconds") << "5" << "1" << 5000;
  QTest::newRow("minutes, second absent") << "5" << QString() << 300000;
  QTest::newRow("minutes, second 2") << "5" << "2" << 300000;
  QTest::newRow("largest interval") << "9999" << "0" << 599940000;
}

void StartupTest::timerPeriodFromAutoTime() {
  QFETCH(QString, autoTime);
  QFETCH(QString, second);
  QFETCH(int, period);
  QTemporaryDir dir;
  if (!autoTime.isNull()) setting(P(dir), "AutoTime", autoTime.toStdString());
  if (!second.isNull()) setting(P(dir), "second", second.toStdString());
  Form1 form(dir.path());
  QCOMPARE(form.fTimer()->isActive(), period > 0);
  if (period > 0) QCOMPARE(form.fTimer()->interval(), period);
}

void StartupTest::tickDispatchesByPosition() {
  QTemporaryDir dir;
  setting(P(dir), "AutoTime", "1");
  setting(P(dir), "second", "1");
  setting(P(dir), "AutoRe", "0");
  Form1 form(dir.path());
  QCOMPARE(form.autoRePosition(), 0);
  int receiveAll = 0, oneAccount = 0;
  form.sSetMenuHandler(Form1::Menu::File, 2, [&] { ++receiveAll; });
  form.setAutoReceiver([&] { ++oneAccount; });
  // A real tick of the armed timer.
  QTRY_COMPARE_WITH_TIMEOUT(receiveAll, 1, 3000);
  QCOMPARE(oneAccount, 0);
  QVERIFY(form.fTimer()->isActive());  // the tick does not stop the timer
  form.setAutoRePosition(3);
  form.sTimerTick();
  QCOMPARE(oneAccount, 1);
  QCOMPARE(receiveAll, 1);

  QTemporaryDir dir2;
  setting(P(dir2), "AutoRe", "1");
  Form1 rotating(dir2.path());
  QCOMPARE(rotating.autoRePosition(), 1);
}

void StartupTest::startupKey() {
  for (const char* sk : {"1", "2", "3"}) {
    QTemporaryDir dir;
    setting(P(dir), "sk", sk);
    Form1 form(dir.path());
    QVERIFY2(!form.fStarted(), sk);
    // The tree was built before the key test, as the start-up order says.
    QVERIFY(fs::is_directory(P(dir) / "MailBox"));
  }
  for (const char* sk : {"0", "4", "7"}) {
    QTemporaryDir dir;
    setting(P(dir), "sk", sk);
    Form1 form(dir.path());
    QVERIFY2(form.fStarted(), sk);
  }
  // Ctrl held down at start: the program starts.
  QTemporaryDir dir;
  setting(P(dir), "sk", "2");
  QWidget other;
  QVERIFY(shown(other));
  QTest::keyPress(&other, Qt::Key_Control, Qt::ControlModifier);
  QVERIFY(Form1::fIsKeyDown(17));
  QVERIFY(!Form1::fIsKeyDown(16));
  {
    Form1 form(dir.path());
    QVERIFY(form.fStarted());
  }
  QTest::keyRelease(&other, Qt::Key_Control, Qt::NoModifier);
  QVERIFY(!Form1::fIsKeyDown(17));
}

void StartupTest::secondInstanceRefused() {
  QTemporaryDir dir;
  auto first = std::make_unique<Form1>(dir.path());
  QVERIFY(first->fStarted());
  {
    Form1 second(dir.path());
    QVERIFY(!second.fStarted());
  }
  // The refused start wrote nothing at shutdown.
  QCOMPARE(settingValue(P(dir), "WinState"), std::string("<none>"));
  first.reset();
  Form1 third(dir.path());
  QVERIFY(third.fStarted());
}

void StartupTest::secondProcessEndsAtOnce() {
  // The real program, installed into a program folder whose lock this process holds.
  QTemporaryDir dir;
  QString installed = dir.path() + "/quillbrook";
  QVERIFY(QFile::copy(QStringLiteral(QB_APP_BINARY), installed));
  Form1 first(dir.path());
  QVERIFY(first.fStarted());
  QProcess second;
  second.start(installed, {});
  QVERIFY(second.waitForFinished(20000));
  QCOMPARE(second.exitStatus(), QProcess::NormalExit);
  QCOMPARE(second.exitCode(), 0);
}

namespace {
struct CountingEngine : SpeechEngine {
  static inline int alive = 0;
  CountingEngine() { ++alive; }
  ~CountingEngine() override { --alive; }
  void sPlay(const std::string&) override {}
};
}  // namespace

void StartupTest::speechEngineLivesFromStartToShutdown() {
  Form1::sSetSpeechFactory([] { return std::make_unique<CountingEngine>(); });
  QTemporaryDir dir;
  {
    Form1 form(dir.path());
    QVERIFY(form.fSpeech());
    QCOMPARE(CountingEngine::alive, 1);
    form.close();
    QCOMPARE(CountingEngine::alive, 0);
  }
  Form1::sSetSpeechFactory(nullptr);
  QTemporaryDir dir2;
  Form1 silent(dir2.path());
  QVERIFY(!silent.fSpeech());
}

QTEST_MAIN(StartupTest)
#include "tst_startup.moc"
