// The folder tree over a real MailBox: nodes, counts, selection, renaming, dropping mails.
#include <QDragEnterEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPointer>
#include <QTest>
#include <QTreeView>
#include <chrono>
#include <fstream>
#include <thread>

#include "ui/main/FolderTree.h"
#include "ui/main/Form1.h"
#include "ui/main/MailListModel.h"
#include "windowfixture.h"

using namespace fixture;

namespace {

QStringList childKeys(QTreeWidgetItem* node) {
  QStringList keys;
  for (int i = 0; i < node->childCount(); ++i) keys << FolderTree::fKey(node->child(i));
  return keys;
}

QString count(Form1& form, const QString& key) {
  return form.fNode(key)->data(0, FolderTree::kCountRole).toString();
}

void press(Form1& form, QTreeWidgetItem* node, Qt::MouseButton button = Qt::LeftButton) {
  QRect r = form.fTree()->visualItemRect(node);
  QTest::mousePress(form.fTree()->viewport(), button, {}, r.center());
}

}  // namespace

class TreeTest : public QObject {
  Q_OBJECT
 private slots:
  void init();
  void buildsNodesFromTheStore();
  void countsDrawnInBlue();
  void selectionByMousePress();
  void renameRules();
  void dropMovesMailsWithTheirState();
  void bigStoreCountsFillInAndStayRight();

 private:
  std::unique_ptr<QTemporaryDir> dir_;
  fs::path program_, a1_, a2_;
};

void TreeTest::init() {
  dir_ = std::make_unique<QTemporaryDir>();
  program_ = P(*dir_);
  a1_ = account(program_, 1, "仕事用");
  a2_ = account(program_, 2);
  account(program_, 4, "見えない");  // after the gap at 03: not read
  mail(a1_ / "受信箱", "m1.eml");
  mail(a1_ / "受信箱", "m2.eml", true);
  mail(a1_ / "受信箱", "m3.eml");
  mail(a1_ / "受信箱", "m4.eml", true);
  std::ofstream(a1_ / "受信箱" / "notes.INI") << "[Icon]\r\n";  // never a mail
  mail(a1_ / "ごみ箱", "t1.eml", true);
  mail(a1_ / "ごみ箱", "t2.eml");
  // User folders at any depth, a standard name inside the inbox, duplicate names.
  mail(a1_ / "P", "p1.eml");
  fs::create_directories(a1_ / "P" / "Q");
  mail(a1_ / "P" / "Q", "q1.eml");
  mail(a1_ / "P" / "Q", "q2.eml");
  fs::create_directories(a1_ / mailstore::fPath("受信箱/下書き/Deep"));
  fs::create_directories(a1_ / mailstore::fPath("受信箱/A"));
  fs::create_directories(a1_ / mailstore::fPath("ごみ箱/B"));
  fs::create_directories(a1_ / mailstore::fPath("ごみ箱/P"));  // key CP01 taken: the level ends
  fs::create_directories(a1_ / mailstore::fPath("ごみ箱/Z"));
  fs::create_directories(a2_ / mailstore::fPath("P"));  // the same name in another account
}

void TreeTest::buildsNodesFromTheStore() {
  Form1 form(dir_->path());
  QVERIFY(form.fStarted());
  auto* tv = form.fTree();
  QCOMPARE(tv->topLevelItemCount(), 2);
  QTreeWidgetItem* root1 = form.fNode("root01");
  QCOMPARE(root1->text(0), QString("仕事用"));
  QCOMPARE(form.fNode("root02")->text(0), QString("Account02"));
  QVERIFY(root1->isExpanded());
  QCOMPARE(childKeys(root1), QStringList({"受信箱01", "送信箱01", "ごみ箱01", "CP01"}));
  QCOMPARE(childKeys(form.fNode("送信箱01")), QStringList({"下書き01", "送信待ち01"}));
  QCOMPARE(childKeys(form.fNode("CP01")), QStringList({"CQ01"}));
  QCOMPARE(childKeys(form.fNode("受信箱01")), QStringList({"CA01"}));
  // Inside the trash: B, then P clashes with CP01 and ends that level (no Z).
  QCOMPARE(childKeys(form.fNode("ごみ箱01")), QStringList({"CB01"}));
  QVERIFY(!form.fNode("CZ01"));
  // A standard name inside the inbox is neither a user folder nor searched.
  QCOMPARE(childKeys(form.fNode("下書き01")), QStringList());
  QVERIFY(!form.fNode("CDeep01"));
  QCOMPARE(childKeys(form.fNode("root02")), QStringList({"受信箱02", "送信箱02", "ごみ箱02", "CP02"}));

  QCOMPARE(form.fNode("root01")->data(0, FolderTree::kImageRole).toInt(), 1);
  QCOMPARE(form.fNode("受信箱01")->data(0, FolderTree::kImageRole).toInt(), 2);
  QCOMPARE(form.fNode("受信箱01")->data(0, FolderTree::kSelectedImageRole).toInt(), 3);
  QCOMPARE(form.fNode("ごみ箱01")->data(0, FolderTree::kImageRole).toInt(), 4);

  QCOMPARE(count(form, "受信箱01"), QString("2"));
  QCOMPARE(count(form, "ごみ箱01"), QString("2"));  // the trash counts read mail too
  QCOMPARE(count(form, "CP01"), QString("1"));
  QCOMPARE(count(form, "CQ01"), QString("2"));
  QCOMPARE(count(form, "送信箱01"), QString("0"));
  QVERIFY(form.fNode("root01")->data(0, FolderTree::kCountRole).toString().isEmpty());

  QCOMPARE(Form1::fGetRootNode(form.fNode("CQ01")), root1);
  QCOMPARE(Form1::fGetRootNode(root1), root1);
  QCOMPARE(form.fNodeFolder(form.fNode("CQ01")), a1_ / "P" / "Q");
  QCOMPARE(form.fNodeFolder(form.fNode("送信待ち01")), a1_ / mailstore::fPath("送信箱/送信待ち"));
  QVERIFY(form.fNodeFolder(root1).empty());

  // Recount after the store changed underneath.
  mailstore::sMarkRead(a1_ / "受信箱", "m1.eml");
  mail(a1_ / "ごみ箱", "t3.eml", true);
  form.sMailCount();
  QCOMPARE(count(form, "受信箱01"), QString("1"));
  QCOMPARE(count(form, "ごみ箱01"), QString("3"));
}

void TreeTest::countsDrawnInBlue() {
  setting(program_, "Split1", "260");
  Form1 form(dir_->path());
  QVERIFY(shown(form, {700, 500}));
  auto* tv = form.fTree();
  tv->expandAll();
  QImage shot = tv->viewport()->grab().toImage();
  auto bluePixelsRightOf = [&](QTreeWidgetItem* node) {
    QRect r = tv->visualItemRect(node);
    int from = r.left() + tv->iconSize().width() + tv->fontMetrics().horizontalAdvance(node->text(0));
    int n = 0;
    for (int y = r.top(); y <= r.bottom(); ++y)
      for (int x = from; x < shot.width(); ++x) {
        QColor c = shot.pixelColor(x * shot.devicePixelRatio(), y * shot.devicePixelRatio());
        if (c.blue() > 200 && c.blue() - c.red() > 80 && c.blue() - c.green() > 80) ++n;
      }
    return n;
  };
  QVERIFY(bluePixelsRightOf(form.fNode("受信箱01")) > 10);
  QVERIFY(bluePixelsRightOf(form.fNode("ごみ箱01")) > 10);
  QCOMPARE(bluePixelsRightOf(form.fNode("送信箱01")), 0);  // "0" draws nothing
  QCOMPARE(bluePixelsRightOf(form.fNode("root01")), 0);
}

void TreeTest::selectionByMousePress() {
  Form1 form(dir_->path());
  QVERIFY(shown(form, {700, 500}));
  form.fTree()->expandAll();
  int fills = 0;
  fs::path filled;
  bool filledSent = false;
  form.setListFiller([&](const fs::path& folder, bool sent) {
    ++fills;
    filled = folder;
    filledSent = sent;
    form.fListModel()->sSetRows({{"s", "f", "d", "/x/1", 5}, {"s2", "f2", "d2", "/x/2", 6}});
  });
  press(form, form.fNode("下書き01"));
  QCOMPARE(form.fTree()->currentItem(), form.fNode("下書き01"));
  QCOMPARE(fills, 1);
  QCOMPARE(filled, a1_ / mailstore::fPath("送信箱/下書き"));
  QVERIFY(filledSent);
  QCOMPARE(form.fListModel()->headerData(1, Qt::Horizontal, Qt::DisplayRole).toString(), QString("宛先"));
  QCOMPARE(form.fStatus(2), QString("総メール数 2件"));
  QCOMPARE(form.windowTitle(), QString("Quillbrook ： 仕事用 - 下書き"));

  press(form, form.fNode("下書き01"));  // the selected node again: no refill
  QCOMPARE(fills, 1);

  press(form, form.fNode("CQ01"));
  QVERIFY(!filledSent);
  QCOMPARE(form.fListModel()->headerData(1, Qt::Horizontal, Qt::DisplayRole).toString(), QString("差出人"));

  press(form, form.fNode("root02"));
  QCOMPARE(fills, 2);
  QCOMPARE(form.fListModel()->rowCount(), 0);
  QCOMPARE(form.fStatus(2), QString());
  QCOMPARE(form.windowTitle(), QString("Quillbrook ： Account02 - Account02"));

  // The right button also pops up the File menu, on a node or on empty space.
  press(form, form.fNode("受信箱02"), Qt::RightButton);
  QTRY_VERIFY(form.fMenu(Form1::Menu::File)->isVisible());
  QCOMPARE(form.fTree()->currentItem(), form.fNode("受信箱02"));
  form.fMenu(Form1::Menu::File)->close();
  QTest::mousePress(form.fTree()->viewport(), Qt::RightButton, {}, QPoint(5, form.fTree()->viewport()->height() - 3));
  QTRY_VERIFY(form.fMenu(Form1::Menu::File)->isVisible());
  QCOMPARE(form.fTree()->currentItem(), form.fNode("受信箱02"));
  form.fMenu(Form1::Menu::File)->close();
}

namespace {

// Starts a label edit with F2 and commits `text`; false when no editor opened.
bool renameWithKeys(Form1& form, QTreeWidgetItem* node, const QString& text) {
  auto* tv = form.fTree();
  tv->setCurrentItem(node);
  tv->setFocus();
  QTest::keyClick(tv, Qt::Key_F2);
  auto* editor = tv->findChild<QLineEdit*>();
  if (!editor || !editor->isVisible()) return false;
  editor->setText(text);
  QTest::keyClick(editor, Qt::Key_Return);
  // The edit is committed from the event loop.
  QPointer<QLineEdit> open(editor);
  for (int i = 0; i < 1000 && open && open->isVisible(); ++i) QTest::qWait(10);
  QTest::qWait(0);
  return true;
}

}  // namespace

void TreeTest::renameRules() {
  Form1 form(dir_->path());
  QVERIFY(shown(form));
  form.fTree()->expandAll();

  for (const char* key : {"受信箱01", "送信箱01", "ごみ箱01", "下書き01", "送信待ち01"}) {
    QVERIFY2(!renameWithKeys(form, form.fNode(key), "x"), key);
  }

  // An account: only its stored name changes.
  QVERIFY(renameWithKeys(form, form.fNode("root02"), "個人"));
  QCOMPARE(form.fNode("root02")->text(0), QString("個人"));
  QCOMPARE(modCommon::fGetAccountValue(a2_, "Account"), std::string("個人"));
  QVERIFY(mod_ini::fGetIniString("Mail", "Account", a2_ / "set.ini", "")[0] == '&');  // scrambled
  QVERIFY(fs::is_directory(a2_));

  // A user folder: its directory is renamed, mails and icon.ini go along, key stays.
  QVERIFY(renameWithKeys(form, form.fNode("CQ01"), "新名"));
  QTreeWidgetItem* q = form.fNode("CQ01");
  QCOMPARE(q->text(0), QString("新名"));
  QVERIFY(!fs::exists(a1_ / "P" / "Q"));
  QVERIFY(fs::exists(a1_ / "P" / mailstore::fPath("新名") / "q1.eml"));
  QCOMPARE(form.fNodeFolder(q), a1_ / "P" / mailstore::fPath("新名"));

  // A name already taken on disk, or not a plain folder name: the old text stays.
  fs::create_directories(a1_ / "P" / "Taken");
  QVERIFY(renameWithKeys(form, q, "Taken"));
  QCOMPARE(q->text(0), QString("新名"));
  QVERIFY(renameWithKeys(form, q, "../escape"));
  QCOMPARE(q->text(0), QString("新名"));
  QVERIFY(renameWithKeys(form, q, "受信箱"));
  QCOMPARE(q->text(0), QString("新名"));
  QVERIFY(fs::exists(a1_ / "P" / mailstore::fPath("新名") / "q2.eml"));

  // An empty account name shows "Account" + NN.
  QVERIFY(renameWithKeys(form, form.fNode("root01"), ""));
  QCOMPARE(form.fNode("root01")->text(0), QString("Account01"));
}

void TreeTest::dropMovesMailsWithTheirState() {
  Form1 form(dir_->path());
  QVERIFY(shown(form, {700, 500}));
  auto* tv = form.fTree();
  tv->expandAll();
  form.setListFiller([&](const fs::path& folder, bool) {
    std::vector<MailRow> rows;
    for (const fs::path& f : mailstore::fListMailFiles(folder)) {
      rows.push_back({"", "", "", QString::fromStdString(u8(f)), 5});
    }
    form.fListModel()->sSetRows(std::move(rows));
  });
  QTreeWidgetItem* inbox = form.fNode("受信箱01");
  press(form, inbox);
  QCOMPARE(form.fListModel()->rowCount(), 4);
  QCOMPARE(count(form, "受信箱01"), QString("2"));

  auto drag = [&](const QStringList& names, QTreeWidgetItem* target, QPoint at = {}) {
    auto* mime = new QMimeData;
    QList<QUrl> urls;
    for (const QString& n : names) urls << QUrl::fromLocalFile(QString::fromStdString(u8(a1_ / "受信箱")) + "/" + n);
    mime->setUrls(urls);
    QPoint pos = target ? tv->visualItemRect(target).center() : at;
    QWidget* vp = tv->viewport();
    QDragEnterEvent enter(pos, Qt::MoveAction, mime, Qt::LeftButton, {});
    QApplication::sendEvent(vp, &enter);
    QDragMoveEvent move(pos, Qt::MoveAction, mime, Qt::LeftButton, {});
    QApplication::sendEvent(vp, &move);
    if (target) {
      if (tv->currentItem() != target) return false;  // the target was not highlighted
    } else if (tv->currentItem() != inbox) {
      return false;  // off the nodes the origin is highlighted again
    }
    QDropEvent drop(pos, Qt::MoveAction, mime, Qt::LeftButton, {});
    QApplication::sendEvent(vp, &drop);
    delete mime;
    return true;
  };

  // Onto an account node or empty space: nothing changes.
  QVERIFY(drag({"m1.eml"}, form.fNode("root02")));
  QVERIFY(drag({"m1.eml"}, nullptr, QPoint(5, tv->viewport()->height() - 3)));
  QVERIFY(fs::exists(a1_ / "受信箱" / "m1.eml"));
  QCOMPARE(form.fListModel()->rowCount(), 4);
  QCOMPARE(tv->currentItem(), inbox);

  // Three mails (two unread, one read) onto a user folder of the other account.
  QTreeWidgetItem* target = form.fNode("CP02");
  QVERIFY(drag({"m1.eml", "m2.eml", "m3.eml"}, target));
  for (const char* n : {"m1.eml", "m2.eml", "m3.eml"}) {
    QVERIFY(!fs::exists(a1_ / "受信箱" / n));
    QVERIFY(fs::exists(a2_ / "P" / n));
  }
  QCOMPARE(mod_ini::fGetIniString("Icon", "m2.eml", a2_ / "P" / "icon.ini", ""), std::string("6"));
  QCOMPARE(mod_ini::fGetIniString("Icon", "m1.eml", a2_ / "P" / "icon.ini", ""), std::string("5"));
  QCOMPARE(mod_ini::fGetIniString("Icon", "m2.eml", a1_ / "受信箱" / "icon.ini", "gone"), std::string("gone"));
  QCOMPARE(form.fListModel()->rowCount(), 1);
  QCOMPARE(count(form, "受信箱01"), QString("0"));
  QCOMPARE(count(form, "CP02"), QString("2"));
  QCOMPARE(tv->currentItem(), inbox);  // the origin is selected again

  // A name already taken in the target stays where it is, and in the list.
  mail(a2_ / "P", "m4.eml");
  QVERIFY(drag({"m4.eml"}, target));
  QVERIFY(fs::exists(a1_ / "受信箱" / "m4.eml"));
  QCOMPARE(form.fListModel()->rowCount(), 1);
  QCOMPARE(form.fStatus(1), QString("1件のメールを移動できませんでした"));
}

// More mails than are counted before the window goes on: the tree and the list work at
// once, the counts fill in right, the next start takes them from its records, and a
// change made from outside meanwhile is counted.
void TreeTest::bigStoreCountsFillInAndStayRight() {
  std::vector<std::pair<QString, fs::path>> folders;
  for (int f = 0; f < 30; ++f) {
    const std::string name = "box" + std::to_string(f);
    const fs::path folder = a2_ / name;
    fs::create_directories(folder);
    std::ofstream icon(folder / "icon.ini", std::ios::binary);
    icon << "[Icon]\r\n";
    for (int m = 0; m < 1000; ++m) {
      std::ofstream(folder / ("m" + std::to_string(m) + ".eml"), std::ios::binary) << "Subject: s\r\n\r\nb";
      if (m % (f + 2) == 0) icon << "m" << m << ".eml=6\r\n";
    }
    folders.emplace_back(QString::fromStdString("C" + name + "02"), folder);
  }
  auto missing = [&](Form1& form) {
    int n = 0;
    for (const auto& [key, folder] : folders) n += count(form, key).isEmpty();
    return n;
  };
  auto checkAll = [&](Form1& form) {
    for (const auto& [key, folder] : folders)
      QCOMPARE(count(form, key), QString::number(mailstore::fCountUnread(folder)));
    QCOMPARE(count(form, "受信箱01"), QString("2"));
  };
  std::this_thread::sleep_for(std::chrono::milliseconds(2200));  // states old enough to keep
  {
    Form1 form(dir_->path());
    form.show();
    QVERIFY(missing(form) > 0);
    press(form, form.fNode("受信箱01"));  // usable while the counts are worked out
    QCOMPARE(form.fListModel()->rowCount(), 4);
    QTRY_COMPARE_WITH_TIMEOUT(missing(form), 0, 60000);
    checkAll(form);
  }
  {
    Form1 form(dir_->path());
    QCOMPARE(missing(form), 0);  // all from the records
    checkAll(form);
  }
  fs::remove(folders[3].second / "m1.eml");
  std::ofstream(folders[4].second / "icon.ini", std::ios::app) << "m1.eml=6\r\n";
  std::ofstream(folders[5].second / "late.eml") << "x";
  Form1 form(dir_->path());
  QTRY_COMPARE_WITH_TIMEOUT(missing(form), 0, 60000);
  checkAll(form);
}

QTEST_MAIN(TreeTest)
#include "tst_tree.moc"
