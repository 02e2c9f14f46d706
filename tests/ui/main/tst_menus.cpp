// Menus of the main window: items, hover texts in panel 1, the viewer's hook.
#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QTest>
#include <functional>

#include "ui/main/Form1.h"
#include "ui/common/Footy.h"
#include "windowfixture.h"

using namespace fixture;
using M = Form1::Menu;

namespace {

// Points at the item until `reached` holds. The menu takes the pointer only after it has
// really moved inside it, which a busy machine may take a while to see.
bool hover(QMenu* menu, QAction* action, const std::function<bool()>& reached) {
  for (int i = 0; i < 50; ++i) {
    QTest::mouseMove(menu, QPoint(2, 2));
    QTest::mouseMove(menu, menu->actionGeometry(action).center());
    if (QTest::qWaitFor(reached, 100)) return true;
  }
  return false;
}

}  // namespace

class MenuTest : public QObject {
  Q_OBJECT
 private slots:
  void itemsCarryNamesAndCaptions();
  void hoverTextsInPanelOne();
  void viewerHookEnablesEditMenuAndDeletes();
  void editCommandsRespectWriteProtection();
  void exitClosesAndSaves();
};

void MenuTest::itemsCarryNamesAndCaptions() {
  QTemporaryDir dir;
  Form1 form(dir.path());
  const QList<QAction*> bar = form.menuBar()->actions();
  QCOMPARE(bar.size(), 4);
  QCOMPARE(bar[0]->text(), QString("ファイル(&F)"));
  QCOMPARE(bar[1]->text(), QString("編集(&E)"));
  QCOMPARE(bar[2]->text(), QString("設定(&S)"));
  QCOMPARE(bar[3]->text(), QString("ヘルプ(&H)"));
  QCOMPARE(form.fMenu(M::Footy)->objectName(), QString("mnuFooty"));

  QList<int> fileIndexes;
  QStringList added;  // the program's own items beside the given ones
  for (QAction* a : form.fMenu(M::File)->actions()) {
    if (a->objectName().startsWith("mnuFileItem_")) fileIndexes << a->objectName().section('_', 1).toInt();
    else added << QString::number(fileIndexes.last()) + ":" + a->objectName();
  }
  QCOMPARE(fileIndexes, QList<int>({0, 1, 2, 3, 5, 6, 7, 8, 9, 10, 11, 13, 19, 20}));
  QCOMPARE(added, QStringList({"13:mnuFileImport", "13:mnuFileExport"}));
  auto* six = form.findChild<QAction*>("mnuFileItem_6");
  QVERIFY(six);
  QCOMPARE(six->text(), QString("アカウント追加(&N)..."));
  QVERIFY(form.findChild<QAction*>("mnuFileItem_5")->isSeparator());
  QCOMPARE(form.findChild<QAction*>("mnuSetItem_5")->text(), QString("定型文の登録(&F)"));
  QCOMPARE(form.findChild<QAction*>("mnuListItem_8")->text(), QString("文字コード EUC で表示(&E)"));
  QCOMPARE(form.findChild<QAction*>("mnuAttachItem_1")->text(), QString("保存(&S)"));
  QCOMPARE(form.findChild<QAction*>("mnuFootyItem_10")->shortcut(), QKeySequence("Ctrl+A"));
  // Commands of later parts are present but disabled; the window's own work.
  auto* zero = form.findChild<QAction*>("mnuFileItem_0");
  QVERIFY(zero->isEnabled());  // opens the composer
  form.sSetMenuHandler(M::File, 0, {});
  QVERIFY(!zero->isEnabled());
  QVERIFY(form.findChild<QAction*>("mnuFileItem_1")->isEnabled());  // receiving
  QVERIFY(form.findChild<QAction*>("mnuFileItem_20")->isEnabled());
  QVERIFY(form.findChild<QAction*>("mnuFootyItem_1")->isEnabled());
  // ReadMe only while the file exists.
  QVERIFY(!form.findChild<QAction*>("mnuHelpItem_0")->isEnabled());
  // Installing a command enables its item.
  int runs = 0;
  form.sSetMenuHandler(M::File, 0, [&] { ++runs; });
  QVERIFY(zero->isEnabled());
  zero->trigger();
  form.mnuFileItem_Click(0);
  QCOMPARE(runs, 2);
}

void MenuTest::hoverTextsInPanelOne() {
  QTemporaryDir dir;
  Form1 form(dir.path());
  QVERIFY(shown(form));
  // Every item that has a text shows it; the others clear the panel.
  struct Case {
    M menu;
    int index;
    QString text;
  };
  const QList<Case> cases = {
      {M::File, 0, "送信メールを新規作成します"},
      {M::File, 2, "全アカウントの新規メールを受信します"},
      {M::File, 13, "選択アカウントのごみ箱を空にします"},
      {M::File, 20, "Quillbrookを終了します"},
      {M::Footy, 1, "選択範囲の文字をクリップボードにコピー"},
      {M::Footy, 0, ""},
      {M::Footy, 14, "文字コード EUC で表示"},
      {M::Footy, 7, ""},
      {M::Set, 0, "Quillbrook全般に関する設定"},
      {M::Help, 1, "バージョン情報、作者情報の表示"},
      {M::List, 6, "選択メールのアドレスをアドレス帳へ登録"},
      {M::Attach, 0, "添付ファイルを開きます"},
  };
  for (const Case& c : cases) {
    QMenu* menu = form.fMenu(c.menu);
    menu->popup(form.mapToGlobal(QPoint(20, 20)));
    QVERIFY(QTest::qWaitForWindowExposed(menu));
    form.sSetStatus(1, "before");
    QVERIFY2(
        hover(menu, form.fMenuItem(c.menu, c.index), [&] { return form.fStatus(1) == c.text; }),
        qPrintable(form.fStatus(1)));
    menu->close();
  }
  // A separator clears the panel too.
  QMenu* file = form.fMenu(M::File);
  file->popup(form.mapToGlobal(QPoint(20, 20)));
  QVERIFY(QTest::qWaitForWindowExposed(file));
  QVERIFY(hover(file, form.fMenuItem(M::File, 0),
                [&] { return form.fStatus(1) == QString("送信メールを新規作成します"); }));
  QVERIFY(hover(file, form.fMenuItem(M::File, 5), [&] { return form.fStatus(1).isEmpty(); }));
  file->close();
}

void MenuTest::viewerHookEnablesEditMenuAndDeletes() {
  QTemporaryDir dir;
  Form1 form(dir.path());
  QVERIFY(shown(form));
  auto* viewer = form.findChild<QPlainTextEdit*>("Footy_0");
  QVERIFY(viewer);
  QVERIFY(viewer->isReadOnly());
  QAction* edit = form.fMenu(M::Footy)->menuAction();
  edit->setEnabled(false);  // as the mail list does while it has the focus
  viewer->setFocus();
  QTRY_VERIFY(edit->isEnabled());
  edit->setEnabled(false);
  QTest::mouseClick(viewer->viewport(), Qt::LeftButton, {}, QPoint(5, 5));
  QVERIFY(edit->isEnabled());

  int deletes = 0;
  form.sSetMenuHandler(M::List, 4, [&] { ++deletes; });
  QTest::keyClick(viewer, Qt::Key_Delete);
  QCOMPARE(deletes, 1);
  form.DeleteMail();
  QCOMPARE(deletes, 2);
}

void MenuTest::editCommandsRespectWriteProtection() {
  QTemporaryDir dir;
  Form1 form(dir.path());
  QVERIFY(shown(form));
  FootyWriteEnable(0, true);
  QCOMPARE(FootySetText(0, "本文\r\n二行目"), FOOTY_OK);
  FootyWriteEnable(0, false);
  form.sRunMenuItem(M::Footy, 10);  // select all
  form.sRunMenuItem(M::Footy, 0);   // cut: refused by the protection
  QString text;
  QCOMPARE(FootyGetText(0, text, 4), FOOTY_TEXT_OK);
  QCOMPARE(text, QString("本文\r\n二行目"));
  form.sRunMenuItem(M::Footy, 1);  // copy works
  QCOMPARE(QGuiApplication::clipboard()->text(), QString("本文\n二行目"));
  form.sClearView();
  QCOMPARE(FootyGetText(0, text, 4), FOOTY_TEXT_OK);
  QCOMPARE(text, QString());
  QCOMPARE(FootySetText(0, "x"), FOOTY_ERR_PROTECTED);  // protected again after clearing
}

void MenuTest::exitClosesAndSaves() {
  QTemporaryDir dir;
  Form1 form(dir.path());
  QVERIFY(shown(form));
  form.findChild<QAction*>("mnuFileItem_20")->trigger();
  QTRY_VERIFY(!form.isVisible());
  QCOMPARE(settingValue(P(dir), "WinState"), std::string("0"));
  QVERIFY(!FootyWidget(0));  // the viewer is gone
}

QTEST_MAIN(MenuTest)
#include "tst_menus.moc"
