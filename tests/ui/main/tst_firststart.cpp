// What a new user sees first: a layout that shows folder counts and whole dates, emoji
// in colour, and the user guide behind the Help menu, installed as the run command does.
#include <QDesktopServices>
#include <QFileInfo>
#include <QHeaderView>
#include <QProcess>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTest>
#include <QTreeView>
#include <sys/stat.h>

#include "ui/main/FolderTree.h"
#include "ui/main/Form1.h"
#include "ui/main/MailListModel.h"
#include "windowfixture.h"
#include "mailfactory.h"

using namespace fixture;
namespace mf = mailfactory;

class FirstStartTest : public QObject {
  Q_OBJECT
 private slots:
  void defaultLayoutShowsCountsAndWholeDates();
  void emojiInNamesRenderInColour();
  void helpItemsOpenTheInstalledGuide();
  void newFilesAndFoldersArePrivate();

 private:
  void showInbox(Form1& form);
};

void FirstStartTest::showInbox(Form1& form) {
  QVERIFY(shown(form));
  FolderTree* tv = form.fTree();
  QTest::mousePress(tv->viewport(), Qt::LeftButton, {}, tv->visualItemRect(form.fNode("受信箱01")).center());
}

void FirstStartTest::defaultLayoutShowsCountsAndWholeDates() {
  QTemporaryDir dir;
  const fs::path program = P(dir);
  const fs::path inbox = account(program, 1, "個人") / mailstore::fPath("受信箱");
  for (int i = 0; i < 12; ++i) {
    mf::write(inbox, "m" + std::to_string(i) + ".eml",
              mf::simple("hello", "a@example.jp", "Sun, 28 Dec 2025 23:58:0" + std::to_string(i % 10) + " +0900"));
  }
  fs::create_directories(inbox / mailstore::fPath("取引先"));
  Form1 form(dir.path());
  showInbox(form);
  QCOMPARE(form.fNode("受信箱01")->data(0, FolderTree::kCountRole).toString(), QString("12"));
  // Every node's name and count fit beside each other: nothing to scroll to.
  QCOMPARE(form.fTree()->horizontalScrollBar()->maximum(), 0);
  QTreeView* list = form.fListView();
  QCOMPARE(form.fListModel()->rowCount(), 12);
  // The date column lies inside the list, not beyond its right edge...
  const int date = list->columnWidth(2);
  QVERIFY(list->header()->sectionViewportPosition(2) + date <= list->viewport()->width());
  // ...and is as wide as the list itself finds its dates need.
  list->resizeColumnToContents(2);
  QVERIFY2(date >= list->columnWidth(2), qPrintable(QString("%1 < %2").arg(date).arg(list->columnWidth(2))));
  list->setColumnWidth(2, date);
  form.close();
  QCOMPARE(settingValue(program, "Split1"), std::to_string(form.fSplitBar(0)->x()));

  // Stored widths win over the measured ones.
  setting(program, "Split1", "90");
  setting(program, "Col3", "50");
  Form1 again(dir.path());
  showInbox(again);
  QCOMPARE(again.fSplitBar(0)->x(), 90);
  QCOMPARE(again.fListView()->columnWidth(2), 50);
}

void FirstStartTest::emojiInNamesRenderInColour() {
  QTemporaryDir dir;
  const fs::path inbox = account(P(dir), 1) / mailstore::fPath("受信箱");
  mf::write(inbox, "new.eml", mf::simple("new", "plain@example.jp", "Tue, 02 Jan 2024 10:00:00 +0000"));
  // The older mail is the second row, away from the selection's colour. "🍎🍎🍎 <...>".
  mf::write(inbox, "old.eml",
            mf::simple("old", "=?UTF-8?B?8J+NjvCfjY7wn42O?= <apple@example.jp>", "Mon, 01 Jan 2024 10:00:00 +0000"));
  Form1 form(dir.path());
  form.resize(900, 600);
  showInbox(form);
  QTreeView* list = form.fListView();
  const QModelIndex cell = form.fListModel()->index(1, 1);
  QVERIFY(cell.data().toString().contains(QString::fromUtf8("🍎")));
  const QImage shot = list->viewport()->grab(list->visualRect(cell)).toImage();
  int coloured = 0;
  for (int y = 0; y < shot.height(); ++y) {
    for (int x = 0; x < shot.width(); ++x) {
      const QColor c = shot.pixelColor(x, y);
      if (c.red() - std::max(c.green(), c.blue()) > 100) ++coloured;  // an apple's red
    }
  }
  QVERIFY2(coloured > 20, qPrintable(QString::number(coloured)));
}

void FirstStartTest::helpItemsOpenTheInstalledGuide() {
  // Installed as the run command installs the program, from this build.
  QTemporaryDir dir;
  const QString build = QFileInfo(QStringLiteral(QB_APP_BINARY)).absoluteDir().absoluteFilePath("../..");
  QProcess install;
  install.start("bash", {QStringLiteral(QB_SOURCE_DIR "/scripts/install-program.sh"), build, dir.path()});
  QVERIFY(install.waitForFinished(60000));
  QVERIFY2(install.exitCode() == 0, install.readAllStandardError().constData());
  const QString guide = dir.filePath("guide/index.html");
  QFile page(guide);
  QVERIFY(page.open(QIODevice::ReadOnly));
  const QString html = QString::fromUtf8(page.readAll());
  QVERIFY(html.contains("受信"));
  // Every picture the guide shows is installed with it.
  const QRegularExpression image(QStringLiteral("src=\"([^\"]+)\""));
  int images = 0;
  for (auto it = image.globalMatch(html); it.hasNext(); ++images) {
    const QString src = it.next().captured(1);
    QVERIFY2(QFileInfo::exists(dir.filePath("guide/" + src)), qPrintable(src));
  }
  QVERIFY(images >= 5);

  OpenRecorder recorder;
  QDesktopServices::setUrlHandler("file", &recorder, "open");
  {
    Form1 form(dir.path());
    QVERIFY(form.fStarted());
    form.sRunMenuItem(Form1::Menu::Help, 3);
    form.sRunMenuItem(Form1::Menu::Help, 4);
  }
  QDesktopServices::unsetUrlHandler("file");
  QCOMPARE(recorder.opened, QList<QUrl>({QUrl::fromLocalFile(guide), QUrl::fromLocalFile(guide)}));

  // A desktop with no browser and no opener: the user is told where the guide is.
  const QByteArray path = qgetenv("PATH"), browser = qgetenv("BROWSER");
  qputenv("PATH", dir.path().toLocal8Bit());
  qunsetenv("BROWSER");
  QStringList said;
  {
    Form1 form(dir.path());
    form.setMessageBox([&](const QString&, const QString& text) { said << text; });
    form.sRunMenuItem(Form1::Menu::Help, 3);
  }
  qputenv("PATH", path);
  if (!browser.isNull()) qputenv("BROWSER", browser);
  QCOMPARE(said.size(), 1);
  QVERIFY2(said[0].startsWith("ブラウザを開けませんでした") && said[0].contains(guide), qPrintable(said.join('|')));
}

QTEST_MAIN(FirstStartTest)
#include "tst_firststart.moc"

namespace {
unsigned modeOf(const fs::path& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}
}  // namespace

void FirstStartTest::newFilesAndFoldersArePrivate() {
  ::umask(022);  // what a desktop session usually gives
  QTemporaryDir dir;
  const fs::path program = P(dir);
  {
    Form1 form(dir.path());  // a new program folder: the program makes MailBox itself
    QVERIFY(form.fStarted());
    QCOMPARE(modeOf(program / "MailBox"), 0700u);
    QCOMPARE(modeOf(program / "quillbrook.lock"), 0600u);
    form.close();
  }
  // A folder from before: its files keep their modes, except setting.ini when written.
  const fs::path old = account(program, 1, "個人") / mailstore::fPath("受信箱");
  mf::write(old, "old.eml", mf::simple("old", "a@example.jp", "Sun, 28 Dec 2025 23:58:00 +0900"));
  ::chmod((program / "setting.ini").c_str(), 0644);
  ::chmod((old / "old.eml").c_str(), 0644);
  {
    Form1 form(dir.path());
    QVERIFY(form.fStarted());
    form.close();
  }
  QCOMPARE(modeOf(program / "setting.ini"), 0600u);
  QCOMPARE(modeOf(old / "old.eml"), 0644u);
}
