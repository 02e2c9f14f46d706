// The main window as a user meets it: its stored size is the whole window, it shrinks
// freely with long status texts cut short, a first start says how to add an account, the
// commands that cannot act say why, and the keys and clicks the list and tree answer.
#include <QAction>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTreeView>

#include "ui/common/ElidedLabel.h"
#include "ui/main/FolderTree.h"
#include "ui/main/Form1.h"
#include "ui/main/MailListModel.h"
#include "ui/main/MailListView.h"
#include "windowfixture.h"

using namespace fixture;

class WindowTest : public QObject {
  Q_OBJECT
 private slots:
  void storedSizeIsTheWholeWindow();
  void shrinksFreelyAndCutsLongStatusTexts();
  void firstStartShowsHowToAddAnAccount();
  void keysReachNewMailReplyAndReceiveAll();
  void listTreeAndReplyButtonFollowWhatIsShown();

 private:
  static void click(FolderTree* tv, QTreeWidgetItem* node) {
    QTest::mouseClick(tv->viewport(), Qt::LeftButton, {}, tv->visualItemRect(node).center());
  }
};

void WindowTest::storedSizeIsTheWholeWindow() {
  QTemporaryDir dir;
  const fs::path program = P(dir);
  // 15 twips a pixel on the 96 dpi screen: a 600 x 400 window at 100, 100.
  for (auto [key, value] : {std::pair{"X", "1500"}, {"Y", "1500"}, {"W", "9000"}, {"H", "6000"}})
    setting(program, key, value);
  for (int start = 0; start < 2; ++start) {  // a second start finds what the first saved
    Form1 form(dir.path());
    QVERIFY(shown(form));
    QTRY_COMPARE(form.frameGeometry().size(), QSize(600, 400));
    QVERIFY(form.size() != form.frameGeometry().size());  // the frame is not nothing here
    form.close();
    QCOMPARE(settingValue(program, "W"), std::string("9000"));
    QCOMPARE(settingValue(program, "H"), std::string("6000"));
    QCOMPARE(settingValue(program, "X"), std::string("1500"));
  }
}

void WindowTest::shrinksFreelyAndCutsLongStatusTexts() {
  QTemporaryDir dir;
  account(P(dir), 1);
  Form1 form(dir.path());
  QVERIFY(shown(form, {1200, 700}));
  const QString text = QString("受信中 ").repeated(40);
  form.sSetStatus(1, text);
  auto* panel = form.findChild<ElidedLabel*>("StatusBar1Panel_1");
  QVERIFY(panel);
  form.resize(420, 300);
  QTRY_COMPARE(form.width(), 420);
  QVERIFY(form.minimumSizeHint().width() < 420);
  QCOMPARE(form.fStatus(1), text);
  QTRY_VERIFY(panel->fShownText().endsWith(QChar(0x2026)));
  QVERIFY(panel->fShownText().size() < text.size());
  QCOMPARE(panel->toolTip(), text);
  form.sSetStatus(1, "完了");
  QCOMPARE(panel->fShownText(), QString("完了"));
  QVERIFY(panel->toolTip().isEmpty());
}

void WindowTest::firstStartShowsHowToAddAnAccount() {
  QTemporaryDir dir;
  Form1 form(dir.path());
  QStringList messages;
  form.setMessageBox([&](const QString&, const QString& text) { messages << text; });
  QVERIFY(shown(form));
  QWidget* hint = form.fNoAccountHint();
  QVERIFY(hint && hint->isVisible());
  QVERIFY(form.fListView()->viewport()->geometry().contains(hint->geometry().center()));
  const QString noAccount = "アカウントがありません。「ファイル」→「アカウント追加」でアカウントを追加してください。";
  // New mail and receive have no account to act for: they say so.
  form.sRunMenuItem(Form1::Menu::File, 0);
  form.sRunMenuItem(Form1::Menu::File, 1);
  QCOMPARE(messages, (QStringList{noAccount, noAccount}));
  QVERIFY(!form.fComposer());
  // The note's button adds the account and opens its settings; the note goes.
  hint->findChild<QPushButton*>("cmdAddAccount")->click();
  QVERIFY(form.fNewAccountDialog());
  QVERIFY(fs::is_directory(mailstore::fAccountFolder(form.fAccountPrefix(), 1)));
  QVERIFY(!form.fNoAccountHint());
  form.fNewAccountDialog()->reject();
  // Accounts but none selected: told to choose one.
  form.fTree()->setCurrentItem(nullptr);
  form.sRunMenuItem(Form1::Menu::File, 1);
  QCOMPARE(messages.last(), QString("アカウントが選択されていません。左のツリーでアカウントかフォルダを選んでください。"));
}

void WindowTest::keysReachNewMailReplyAndReceiveAll() {
  QTemporaryDir dir;
  Form1 form(dir.path());
  form.setMessageBox([](const QString&, const QString&) {});
  QVERIFY(shown(form));
  form.activateWindow();
  QTRY_VERIFY(form.isActiveWindow());
  const struct {
    Form1::Menu menu;
    int index;
    QKeySequence key;
  } cases[] = {{Form1::Menu::File, 0, QKeySequence("Ctrl+N")},
               {Form1::Menu::List, 0, QKeySequence("Ctrl+R")},
               {Form1::Menu::File, 2, QKeySequence("F5")}};
  for (const auto& c : cases) {
    QAction* action = form.fMenuItem(c.menu, c.index);
    QCOMPARE(action->shortcut(), c.key);
    QSignalSpy triggered(action, &QAction::triggered);
    form.fTree()->setFocus();
    QTest::keySequence(&form, c.key);
    QCOMPARE(triggered.size(), 1);
  }
  // No other item of the window's menus uses them.
  for (QAction* a : form.findChildren<QAction*>()) {
    if (a->shortcut().isEmpty()) continue;
    int same = 0;
    for (QAction* b : form.findChildren<QAction*>()) same += b->shortcut() == a->shortcut() ? 1 : 0;
    QVERIFY2(same == 1, qPrintable(a->objectName()));
  }
}

void WindowTest::listTreeAndReplyButtonFollowWhatIsShown() {
  QTemporaryDir dir;
  const fs::path program = P(dir);
  const fs::path inbox = account(program, 1) / mailstore::fPath("受信箱");
  mail(inbox, "a.eml");
  fs::create_directories(inbox / mailstore::fPath("取引先"));
  Form1 form(dir.path());
  QVERIFY(shown(form, {900, 600}));
  FolderTree* tv = form.fTree();
  auto* reply = form.findChild<QPushButton*>("cmd");
  QVERIFY(!reply->isEnabled());
  click(tv, form.fNode("受信箱01"));
  QVERIFY(!reply->isEnabled());  // a row is selected, but no mail is shown yet
  auto* list = static_cast<MailListView*>(form.fListView());
  const QRect row = list->visualRect(form.fListModel()->index(0, 0));
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, row.center());
  QVERIFY(reply->isEnabled());

  // Grid lines under the row and between the columns.
  const QImage shot = list->viewport()->grab().toImage();
  const QColor grid = list->gridColor();
  QCOMPARE(shot.pixelColor(row.center().x(), row.bottom()), grid);
  const int columnEdge = list->header()->sectionViewportPosition(1) - 1;
  const QRect emptyRow = row.translated(0, row.height() * 2);  // below the mails
  QCOMPARE(shot.pixelColor(columnEdge, emptyRow.center().y()), shot.pixelColor(columnEdge + 3, emptyRow.center().y()));
  QCOMPARE(shot.pixelColor(columnEdge, row.center().y()), grid);

  // Receiving for all accounts reads the shown folder again, though nothing came (this
  // account has no server).
  mail(inbox, "b.eml");
  form.sRunMenuItem(Form1::Menu::File, 2);
  QTRY_VERIFY(!form.fReceiving());
  QCOMPARE(form.fListModel()->rowCount(), 2);

  // A click on the label of the selected user folder renames it; a standard folder never.
  QTreeWidgetItem* user = form.fNode("C取引先01");
  user->parent()->setExpanded(true);
  click(tv, user);
  QVERIFY(!tv->findChild<QLineEdit*>());
  QTest::qWait(QApplication::doubleClickInterval() + 50);  // a second click, not a double click
  click(tv, user);
  QTRY_VERIFY(tv->findChild<QLineEdit*>() && tv->findChild<QLineEdit*>()->isVisible());
  QTest::keyClick(tv->findChild<QLineEdit*>(), Qt::Key_Escape);
  click(tv, form.fNode("受信箱01"));
  QTest::qWait(QApplication::doubleClickInterval() + 50);
  click(tv, form.fNode("受信箱01"));
  QTest::qWait(QApplication::doubleClickInterval() + 100);
  QLineEdit* editor = tv->findChild<QLineEdit*>();
  QVERIFY(!editor || !editor->isVisible());
}

QTEST_MAIN(WindowTest)
#include "tst_window.moc"
