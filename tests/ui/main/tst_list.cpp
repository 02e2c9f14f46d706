// The mail list and the message view over a real store with real messages: filling,
// icons, sorting, stripes, widths, reading, deleting, attachments and the EUC view.
#include <QApplication>
#include <QDesktopServices>
#include <QMimeData>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTest>
#include <QThreadPool>
#include <QTimer>
#include <QTreeView>

#include "ui/main/FolderTree.h"
#include "ui/main/Form1.h"
#include "ui/main/MailListModel.h"
#include "ui/common/Footy.h"
#include "mail/mail.h"
#include "windowfixture.h"
#include "mailfactory.h"

using namespace fixture;
namespace mf = mailfactory;

namespace {

void press(Form1& form, QTreeWidgetItem* node) {
  QTest::mousePress(form.fTree()->viewport(), Qt::LeftButton, {}, form.fTree()->visualItemRect(node).center());
}

QString count(Form1& form, const QString& key) { return form.fNode(key)->data(0, FolderTree::kCountRole).toString(); }

QStringList column(Form1& form, int c) {
  QStringList out;
  auto* m = form.fListModel();
  for (int r = 0; r < m->rowCount(); ++r) out << m->data(m->index(r, c), Qt::DisplayRole).toString();
  return out;
}

QString fileName(Form1& form, int row) {
  return QString::fromStdString(u8(mailstore::fPath(form.fListModel()->fRow(row).path.toStdString()).filename()));
}

void clickRow(Form1& form, int row) {
  QTreeView* list = form.fListView();
  QRect r = list->visualRect(form.fListModel()->index(row, 0));
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, r.center());
}

QString viewerText() {
  QString text;
  FootyGetText(0, text, 4);
  return text;
}

std::string iconValue(const fs::path& folder, const std::string& name) {
  return mod_ini::fGetIniString("Icon", name, folder / "icon.ini", "<none>");
}

// "件名" in base64, and others used as subjects.
const std::string kSubjectJp = "5Lu25ZCN44OG44K544OI";  // 件名テスト

}  // namespace

class ListTest : public QObject {
  Q_OBJECT
 private slots:
  void init();
  void fillRulesAndIcons();
  void sortingAndStripes();
  void bigFolderShownAtOnceThenChecked();
  void columnWidthsRoundTrip();
  void rowClickShowsAndMarksRead();
  void deleteToTrashAndForGood();
  void attachmentsOpenAndSave();
  void bigMailShownCutAndInTime();
  void eucView();
  void editMenuFollowsListFocus();
  void keysInTheTreeListWhatTheyHighlight();
  void keysInTheListShowWhatTheyMoveTo();

 private:
  std::unique_ptr<QTemporaryDir> dir_;
  std::unique_ptr<QTemporaryDir> temp_;
  fs::path program_, a1_, inbox_, trash_, sent_;
};

void ListTest::init() {
  static const QString base = QDir::tempPath();
  dir_ = std::make_unique<QTemporaryDir>(base + "/qb_list-XXXXXX");
  temp_ = std::make_unique<QTemporaryDir>(base + "/qb_temp-XXXXXX");
  qputenv("TMPDIR", temp_->path().toUtf8());  // attachments are extracted here
  program_ = P(*dir_);
  a1_ = account(program_, 1, "仕事");
  inbox_ = a1_ / mailstore::fPath("受信箱");
  trash_ = a1_ / mailstore::fPath("ごみ箱");
  sent_ = a1_ / mailstore::fPath("送信箱");
}

void ListTest::fillRulesAndIcons() {
  mf::write(inbox_, "a.eml", mf::message(kSubjectJp, "佐藤 <sato@example.jp>", "me@example.jp",
                                         "Mon, 01 Jan 2024 10:00:00 +0000", "本文"));
  mf::write(inbox_, "b.eml", mf::simple("second", "b@example.jp", "Tue, 02 Jan 2024 10:00:00 +0000"));
  mf::write(inbox_, "c.eml", mf::simple("third", "c@example.jp", "Wed, 03 Jan 2024 10:00:00 +0000"));
  mf::write(inbox_, "d.eml", mf::simple("fourth", "d@example.jp", "Thu, 04 Jan 2024 10:00:00 +0000"));
  mf::unreadable(inbox_, "broken.eml");
  mf::write(inbox_, ".hidden.eml", mf::simple("hidden", "h@example.jp", "Fri, 05 Jan 2024 10:00:00 +0000"));
  mf::write(inbox_, "notes.INI", "[x]\r\n");
  mf::write(inbox_, "other.Ini", "[x]\r\n");
  fs::create_directories(inbox_ / "sub");
  mod_ini::fWriteIniString("Icon", "b.eml", "6", inbox_ / "icon.ini");
  mod_ini::fWriteIniString("Icon", "c.eml", "0", inbox_ / "icon.ini");
  mod_ini::fWriteIniString("Icon", "D.EML", "5", inbox_ / "icon.ini");
  mf::write(sent_, "s1.eml", mf::simple("sent one", "me@example.jp", "Mon, 01 Jan 2024 10:00:00 +0000"));
  mf::unreadable(sent_, "broken.eml");

  Form1 form(dir_->path());
  QVERIFY(shown(form, {900, 600}));
  press(form, form.fNode("受信箱01"));
  auto* m = form.fListModel();
  QCOMPARE(m->rowCount(), 5);
  QCOMPARE(form.fStatus(2), QString("総メール数 5件"));
  // Greatest date first; the unreadable mail has empty texts and sorts last.
  QCOMPARE(column(form, 0), QStringList({"fourth", "third", "second", "件名テスト", ""}));
  QCOMPARE(column(form, 1).at(3), QString("佐藤 <sato@example.jp>"));
  QVERIFY(column(form, 2).at(0).startsWith("2024/01/04 "));
  QCOMPARE(fileName(form, 4), QString("broken.eml"));
  // Icons: "6" read; "0", "5" (any case of the name) or no key unread.
  QCOMPARE(m->data(m->index(0, 0), MailListModel::kIconRole).toInt(), 5);
  QCOMPARE(m->data(m->index(1, 0), MailListModel::kIconRole).toInt(), 5);
  QCOMPARE(m->data(m->index(2, 0), MailListModel::kIconRole).toInt(), 6);
  QCOMPARE(m->data(m->index(3, 0), MailListModel::kIconRole).toInt(), 5);
  QVERIFY(m->data(m->index(2, 0), Qt::DecorationRole).value<QIcon>().pixmap(16).toImage() !=
          m->data(m->index(3, 0), Qt::DecorationRole).value<QIcon>().pixmap(16).toImage());
  // The first row is selected, nothing is shown yet.
  QCOMPARE(form.fListView()->currentIndex().row(), 0);
  QVERIFY(form.fListView()->selectionModel()->isRowSelected(0, {}));
  QVERIFY(form.fHeaderBox(2)->text().isEmpty());
  QVERIFY(viewerText().isEmpty());
  QCOMPARE(form.fAttachList()->count(), 0);
  QCOMPARE(QApplication::overrideCursor(), nullptr);

  // A sent-type folder leaves the unreadable mail out.
  press(form, form.fNode("送信箱01"));
  QCOMPARE(m->rowCount(), 1);
  QCOMPARE(column(form, 1), QStringList({"me@example.jp"}));
  QCOMPARE(m->headerData(1, Qt::Horizontal, Qt::DisplayRole).toString(), QString("宛先"));

  // An empty folder: no rows, nothing selected.
  press(form, form.fNode("ごみ箱01"));
  QCOMPARE(m->rowCount(), 0);
  QVERIFY(!form.fListView()->currentIndex().isValid());
}

void ListTest::sortingAndStripes() {
  mf::write(inbox_, "1.eml", mf::simple("bravo", "x@example.jp", "Tue, 02 Jan 2024 10:00:00 +0000"));
  mf::write(inbox_, "2.eml", mf::simple("Alpha", "y@example.jp", "Wed, 03 Jan 2024 10:00:00 +0000"));
  mf::write(inbox_, "3.eml", mf::simple("charlie", "z@example.jp", "Mon, 01 Jan 2024 10:00:00 +0000"));
  mf::write(inbox_, "4.eml", mf::simple("delta", "w@example.jp", "Thu, 04 Jan 2024 10:00:00 +0000"));
  mf::write(trash_, "t1.eml", mf::simple("zulu", "x@example.jp", "Tue, 02 Jan 2024 10:00:00 +0000"));
  mf::write(trash_, "t2.eml", mf::simple("yankee", "x@example.jp", "Fri, 05 Jan 2024 10:00:00 +0000"));
  Form1 form(dir_->path());
  QVERIFY(shown(form, {900, 600}));
  press(form, form.fNode("受信箱01"));
  QCOMPARE(column(form, 0), QStringList({"delta", "Alpha", "bravo", "charlie"}));

  QHeaderView* header = form.fListView()->header();
  auto clickHeader = [&](int section) {
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(section) + 10, header->height() / 2));
  };
  clickHeader(2);  // the date column again: ascending
  QCOMPARE(column(form, 0), QStringList({"charlie", "bravo", "Alpha", "delta"}));
  clickHeader(2);
  QCOMPARE(column(form, 0), QStringList({"delta", "Alpha", "bravo", "charlie"}));
  clickHeader(0);  // another column: ascending, case ignored
  QCOMPARE(column(form, 0), QStringList({"Alpha", "bravo", "charlie", "delta"}));
  QCOMPARE(header->sortIndicatorSection(), 0);
  QCOMPARE(header->sortIndicatorOrder(), Qt::AscendingOrder);
  // The sort stays for the next folder.
  press(form, form.fNode("ごみ箱01"));
  QCOMPARE(column(form, 0), QStringList({"yankee", "zulu"}));
  press(form, form.fNode("受信箱01"));

  // Stripes: odd rows (240, 240, 255), even rows white; none when switched off.
  QTreeView* list = form.fListView();
  list->clearSelection();
  list->setCurrentIndex({});
  auto pixel = [&](int row) {
    QRect r = list->visualRect(form.fListModel()->index(row, 1));
    QImage image = list->viewport()->grab().toImage();
    return image.pixelColor(r.right() - 3, r.center().y());
  };
  QCOMPARE(pixel(1), QColor(240, 240, 255));
  QCOMPARE(pixel(2), QColor(255, 255, 255));
  QCOMPARE(pixel(3), QColor(240, 240, 255));
  form.sSetStriped(false);
  list->viewport()->update();
  QCOMPARE(pixel(1), pixel(2));
  QVERIFY(pixel(1) != QColor(240, 240, 255));
}

void ListTest::bigFolderShownAtOnceThenChecked() {
  // Enough mails for their fields to be remembered, old enough to be trusted.
  for (int i = 0; i < 70; ++i)
    mf::write(inbox_, "m" + std::to_string(i) + ".eml",
              mf::simple("subject " + std::to_string(i + 10), "x@example.jp", "Mon, 01 Jan 2024 10:00:00 +0000"));
  QTest::qWait(2100);
  Form1 form(dir_->path());
  QVERIFY(shown(form, {900, 600}));
  QSignalSpy checked(form.fListModel(), &MailListModel::checked);
  press(form, form.fNode("受信箱01"));
  QCOMPARE(form.fListModel()->rowCount(), 70);
  QVERIFY(checked.count() == 1 || checked.wait(10000));
  QCOMPARE(checked.last().at(0).toInt(), 0);

  // Rewritten in place from outside, same size and modification time: shown as
  // remembered at once, corrected and sorted into place by the check.
  const fs::path file = inbox_ / "m7.eml";
  const auto time = fs::last_write_time(file);
  mf::write(inbox_, "m7.eml",
            mf::simple("subject 99", "x@example.jp", "Mon, 01 Jan 2024 10:00:00 +0000"));
  fs::last_write_time(file, time);
  form.sSortByColumn(1);
  press(form, form.fNode("ごみ箱01"));
  press(form, form.fNode("受信箱01"));
  QCOMPARE(column(form, 0).at(7), QString("subject 17"));
  QVERIFY(checked.wait(10000));
  QCOMPARE(checked.last().at(0).toInt(), 1);
  QCOMPARE(column(form, 0).last(), QString("subject 99"));
  QVERIFY(!column(form, 0).contains("subject 17"));
}

void ListTest::columnWidthsRoundTrip() {
  setting(program_, "Col1", "301");
  setting(program_, "Col2", "122");
  {
    Form1 form(dir_->path());
    QCOMPARE(form.fListView()->columnWidth(0), 301);
    QCOMPARE(form.fListView()->columnWidth(1), 122);
    const int third = form.fListView()->columnWidth(2);  // the window's own width
    QVERIFY(third > 0);
    form.fListView()->setColumnWidth(1, 77);
    form.close();
    QCOMPARE(settingValue(program_, "Col1"), std::string("301"));
    QCOMPARE(settingValue(program_, "Col2"), std::string("77"));
    QCOMPARE(settingValue(program_, "Col3"), std::to_string(third));
  }
  Form1 again(dir_->path());
  QCOMPARE(again.fListView()->columnWidth(1), 77);
}

void ListTest::rowClickShowsAndMarksRead() {
  mf::write(inbox_, "a.eml", mf::message(kSubjectJp, "佐藤 <sato@example.jp>", "鈴木 <suzuki@example.jp>",
                                         "Mon, 01 Jan 2024 10:00:00 +0000", "一行目\r\n二行目"));
  mf::write(inbox_, "b.eml", mf::simple("old", "b@example.jp", "Sun, 31 Dec 2023 10:00:00 +0000"));
  mf::write(trash_, "t.eml", mf::simple("gone", "t@example.jp", "Sun, 31 Dec 2023 10:00:00 +0000"));
  mf::write(trash_, "u.eml", mf::simple("gone too", "t@example.jp", "Sun, 31 Dec 2023 11:00:00 +0000"));
  Form1 form(dir_->path());
  QVERIFY(shown(form, {900, 600}));
  press(form, form.fNode("受信箱01"));
  QCOMPARE(count(form, "受信箱01"), QString("2"));
  clickRow(form, 0);
  QCOMPARE(form.fHeaderBox(2)->text(), QString("件名テスト"));
  QCOMPARE(form.fHeaderBox(0)->text(), QString("佐藤 <sato@example.jp>"));
  QCOMPARE(form.fHeaderBox(1)->text(), QString("鈴木 <suzuki@example.jp>"));
  QCOMPARE(viewerText(), QString("一行目\r\n二行目\r\n"));
  QCOMPARE(form.fListModel()->fRow(0).icon, 6);
  QCOMPARE(iconValue(inbox_, "a.eml"), std::string("6"));
  QCOMPARE(count(form, "受信箱01"), QString("1"));
  // Clicking it again changes nothing; the viewer stays protected.
  clickRow(form, 0);
  QCOMPARE(count(form, "受信箱01"), QString("1"));
  QVERIFY(FootyWidget(0)->isReadOnly());

  // In the trash the mail is marked read, but the trash keeps counting every mail.
  press(form, form.fNode("ごみ箱01"));
  QCOMPARE(count(form, "ごみ箱01"), QString("2"));
  clickRow(form, 1);
  QCOMPARE(iconValue(trash_, form.fListModel()->fRow(1).path.endsWith("t.eml") ? "t.eml" : "u.eml"),
           std::string("6"));
  QCOMPARE(count(form, "ごみ箱01"), QString("2"));

  // A mail the library cannot read (gone since the list was filled): the subject box
  // is set, the library's text goes to panel 1, the rest stays.
  press(form, form.fNode("受信箱01"));
  clickRow(form, 0);
  const QString body = viewerText();
  fs::remove(inbox_ / "b.eml");
  clickRow(form, 1);
  QCOMPARE(form.fHeaderBox(2)->text(), QString("old"));
  QVERIFY(!form.fStatus(1).isEmpty());
  QCOMPARE(viewerText(), body);
  QCOMPARE(form.fHeaderBox(0)->text(), QString("佐藤 <sato@example.jp>"));
}

void ListTest::deleteToTrashAndForGood() {
  mf::write(inbox_, "r.eml", mf::simple("read one", "a@example.jp", "Mon, 01 Jan 2024 10:00:00 +0000"));
  mf::write(inbox_, "u.eml", mf::simple("unread one", "a@example.jp", "Tue, 02 Jan 2024 10:00:00 +0000"));
  mf::write(inbox_, "k.eml", mf::simple("kept", "a@example.jp", "Sun, 31 Dec 2023 10:00:00 +0000"));
  mf::write(inbox_, "clash.eml", mf::simple("clash", "a@example.jp", "Wed, 03 Jan 2024 10:00:00 +0000"));
  mf::write(trash_, "clash.eml", mf::simple("already", "a@example.jp", "Wed, 03 Jan 2024 10:00:00 +0000"));
  mod_ini::fWriteIniString("Icon", "r.eml", "6", inbox_ / "icon.ini");
  mod_ini::fWriteIniString("Icon", "clash.eml", "6", inbox_ / "icon.ini");
  Form1 form(dir_->path());
  QVERIFY(shown(form, {900, 600}));

  // With the account node selected nothing happens.
  press(form, form.fNode("root01"));
  form.DeleteMail();
  QVERIFY(fs::exists(inbox_ / "r.eml"));

  press(form, form.fNode("受信箱01"));
  QCOMPARE(column(form, 0), QStringList({"clash", "unread one", "read one", "kept"}));
  QTreeView* list = form.fListView();
  auto* sel = list->selectionModel();
  sel->select(form.fListModel()->index(0, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  sel->select(form.fListModel()->index(1, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
  sel->select(form.fListModel()->index(2, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
  list->setFocus();
  QTest::keyClick(list, Qt::Key_Delete);
  // Two moved with their states; the name already in the trash stays, with its state.
  QVERIFY(fs::exists(trash_ / "r.eml"));
  QVERIFY(fs::exists(trash_ / "u.eml"));
  QVERIFY(!fs::exists(inbox_ / "r.eml"));
  QCOMPARE(iconValue(trash_, "r.eml"), std::string("6"));
  QCOMPARE(iconValue(trash_, "u.eml"), std::string("5"));
  QCOMPARE(iconValue(inbox_, "r.eml"), std::string("<none>"));
  QVERIFY(fs::exists(inbox_ / "clash.eml"));
  QCOMPARE(iconValue(inbox_, "clash.eml"), std::string("6"));
  QCOMPARE(column(form, 0), QStringList({"clash", "kept"}));
  QCOMPARE(count(form, "ごみ箱01"), QString("3"));
  QCOMPARE(form.fStatus(2), QString("総メール数 2件"));
  QCOMPARE(form.fStatus(1), QString("1件のメールをごみ箱へ移動できませんでした"));
  // The row now in the place of the first deleted row is shown.
  QCOMPARE(list->currentIndex().row(), 1);
  QCOMPARE(form.fHeaderBox(2)->text(), QString("kept"));

  // From the trash: gone for good, keys removed; nothing moved anywhere.
  press(form, form.fNode("ごみ箱01"));
  QCOMPARE(form.fListModel()->rowCount(), 3);
  sel = list->selectionModel();
  sel->clearSelection();
  for (int r = 0; r < 3; ++r) {
    if (form.fListModel()->fRow(r).path.endsWith("/r.eml") || form.fListModel()->fRow(r).path.endsWith("/u.eml")) {
      sel->select(form.fListModel()->index(r, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
  }
  form.sRunMenuItem(Form1::Menu::List, 4);
  QVERIFY(!fs::exists(trash_ / "r.eml"));
  QVERIFY(!fs::exists(trash_ / "u.eml"));
  QCOMPARE(iconValue(trash_, "r.eml"), std::string("<none>"));
  QCOMPARE(iconValue(trash_, "u.eml"), std::string("<none>"));
  QVERIFY(fs::exists(trash_ / "clash.eml"));
  QCOMPARE(form.fListModel()->rowCount(), 1);
  QCOMPARE(count(form, "ごみ箱01"), QString("1"));
}

namespace {

}  // namespace

void ListTest::attachmentsOpenAndSave() {
  mf::write(inbox_, "att.eml",
            mf::message(kSubjectJp, "a@example.jp", "me@example.jp", "Mon, 01 Jan 2024 10:00:00 +0000", "see files",
                        {{"first.txt", "ONE"}, {"second.txt", "TWO"}, {"third.txt", "THREE"}}));
  Form1 form(dir_->path());
  QVERIFY(shown(form, {900, 600}));
  press(form, form.fNode("受信箱01"));
  clickRow(form, 0);
  QListWidget* list1 = form.fAttachList();
  QCOMPARE(list1->count(), 3);
  QCOMPARE(list1->item(2)->text(), QString("third.txt"));

  OpenRecorder recorder;
  QDesktopServices::setUrlHandler("file", &recorder, "open");
  list1->setCurrentRow(2);
  form.sRunMenuItem(Form1::Menu::Attach, 0);
  QCOMPARE(recorder.opened.size(), 1);
  const QString opened = recorder.opened[0].toLocalFile();
  QVERIFY2(opened.startsWith(temp_->path()), qPrintable(opened));
  QFile f(opened);
  QVERIFY(f.open(QIODevice::ReadOnly));
  QCOMPARE(f.readAll(), QByteArray("THREE"));
  // Only the attachment opened was decoded.
  QCOMPARE(QDir(QFileInfo(opened).absolutePath()).entryList(QDir::Files | QDir::Hidden), QStringList{"third.txt"});
  // A double click on the first line opens the first attachment.
  const QPoint line0 = list1->visualItemRect(list1->item(0)).center();
  QTest::mouseClick(list1->viewport(), Qt::LeftButton, {}, line0);
  QTest::mouseDClick(list1->viewport(), Qt::LeftButton, {}, line0);
  QTRY_COMPARE(recorder.opened.size(), 2);
  QFile first(recorder.opened[1].toLocalFile());
  QVERIFY(first.open(QIODevice::ReadOnly));
  QCOMPARE(first.readAll(), QByteArray("ONE"));
  QDesktopServices::unsetUrlHandler("file");

  // Save: the dialog proposes the line's name; the extracted file moves to the choice.
  const QString target = dir_->path() + "/saved.txt";
  QString proposed;
  QTimer answer;  // answers the dialog once it is up, however long that takes
  answer.setInterval(10);
  QObject::connect(&answer, &QTimer::timeout, [&] {
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    if (!dialog || !dialog->isVisible()) return;
    answer.stop();
    proposed = dialog->windowTitle();
    auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
    proposed += "|" + name->text();
    name->setText(target);
    QMetaObject::invokeMethod(dialog, "accept");
  });
  answer.start();
  list1->setCurrentRow(1);
  form.sRunMenuItem(Form1::Menu::Attach, 1);
  QCOMPARE(proposed, QString("名前を付けて保存|second.txt"));
  QFile saved(target);
  QVERIFY(saved.open(QIODevice::ReadOnly));
  QCOMPARE(saved.readAll(), QByteArray("TWO"));
}

void ListTest::bigMailShownCutAndInTime() {
  std::string text;
  for (int n = 0; text.size() < 3 * 1024 * 1024; ++n) text += std::to_string(n) + " 大きな本文の一行です。\r\n";
  mf::write(inbox_, "big.eml",
            mf::message(kSubjectJp, "a@example.jp", "me@example.jp", "Mon, 01 Jan 2024 10:00:00 +0000", text,
                        {{"a.txt", "A"}}));
  mf::write(inbox_, "small.eml", mf::simple("small", "s@example.jp", "Sun, 31 Dec 2023 10:00:00 +0000", "小さい本文"));
  Form1 form(dir_->path());
  form.resize(900, 600);
  form.show();
  QVERIFY(QTest::qWaitForWindowExposed(&form));
  press(form, form.fNode("受信箱01"));
  const int big = form.fListModel()->fFindPath(QString::fromStdString(u8(inbox_ / "big.eml")));
  const int small = form.fListModel()->fFindPath(QString::fromStdString(u8(inbox_ / "small.eml")));
  QVERIFY(big >= 0 && small >= 0);

  // The text's first megabyte, cut at a line end, and a note that the rest is left out.
  clickRow(form, big);
  const QString note = QString::fromStdString(::mail::fBodyCutNote(1024 * 1024));
  QTRY_VERIFY(viewerText().endsWith(note));
  const QString shown = viewerText().chopped(note.size());
  QVERIFY(shown.endsWith("\r\n"));
  QVERIFY(shown.toUtf8().size() <= 1024 * 1024 && shown.toUtf8().size() > 1000 * 1024);
  QVERIFY(QString::fromStdString(text).startsWith(shown));
  // The attachments are listed once the whole mail is read; the text stays as it is.
  QTRY_COMPARE(form.fAttachList()->count(), 1);
  QCOMPARE(viewerText(), shown + note);

  // Another mail clicked while the big one is still being read stays shown.
  clickRow(form, big);
  clickRow(form, small);
  QCOMPARE(viewerText(), QString("小さい本文\r\n"));
  QThreadPool::globalInstance()->waitForDone();
  QCoreApplication::processEvents();
  QCOMPARE(viewerText(), QString("小さい本文\r\n"));
  QCOMPARE(form.fAttachList()->count(), 0);
}

void ListTest::eucView() {
  const std::string text = "Subject: EUC mail\r\nFrom: e@example.jp\r\nDate: Mon, 01 Jan 2024 10:00:00 +0000\r\n"
                           "Content-Type: text/plain; charset=EUC-JP\r\n\r\n日本語の本文です\r\n";
  mf::write(inbox_, "euc.eml", mf::toEucJp(text));
  mf::write(inbox_, "gone.eml", mf::simple("gone", "g@example.jp", "Sun, 31 Dec 2023 10:00:00 +0000"));
  Form1 form(dir_->path());
  QVERIFY(shown(form, {900, 600}));
  press(form, form.fNode("受信箱01"));
  clickRow(form, 0);
  QCOMPARE(form.fHeaderBox(2)->text(), QString("EUC mail"));
  form.sRunMenuItem(Form1::Menu::List, 8);
  QCOMPARE(viewerText(), QString::fromStdString(text));
  QCOMPARE(form.fStatus(1), QString("変換処理完了"));
  QVERIFY(FootyWidget(0)->isReadOnly());

  // A file that cannot be read: the view does not change and stays protected.
  fs::remove(inbox_ / "gone.eml");
  clickRow(form, 1);
  form.sSetStatus(1, QString());
  form.sRunMenuItem(Form1::Menu::Footy, 14);
  QCOMPARE(viewerText(), QString::fromStdString(text));
  QCOMPARE(form.fStatus(1), QString());
  QVERIFY(FootyWidget(0)->isReadOnly());
}

void ListTest::editMenuFollowsListFocus() {
  mf::write(inbox_, "a.eml", mf::simple("one", "a@example.jp", "Mon, 01 Jan 2024 10:00:00 +0000"));
  mf::write(inbox_, "b.eml", mf::simple("two", "a@example.jp", "Tue, 02 Jan 2024 10:00:00 +0000"));
  Form1 form(dir_->path());
  form.resize(900, 600);
  form.show();
  form.activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(&form));
  press(form, form.fNode("受信箱01"));
  QAction* edit = form.fMenu(Form1::Menu::Footy)->menuAction();
  form.fListView()->setFocus();
  QTRY_VERIFY(!edit->isEnabled());
  // Ctrl+A on the list selects every row, not the viewer's text.
  QTest::keyClick(form.fListView(), Qt::Key_A, Qt::ControlModifier);
  QCOMPARE(form.fListView()->selectionModel()->selectedRows().size(), 2);
  FootyWidget(0)->setFocus();
  QTRY_VERIFY(edit->isEnabled());
  // Reply opens the composer; the address book command opens the address book.
  QVERIFY(form.fMenuItem(Form1::Menu::List, 0)->isEnabled());
  QVERIFY(form.fMenuItem(Form1::Menu::List, 6)->isEnabled());
  QVERIFY(form.fMenuItem(Form1::Menu::List, 4)->isEnabled());
}

// The tree never highlights one folder while the list holds another's mails, and a
// delete goes by the folder its rows came from: inbox mail goes to the trash.
void ListTest::keysInTheTreeListWhatTheyHighlight() {
  mf::write(inbox_, "a.eml", mf::simple("first", "a@example.jp", "Mon, 01 Jan 2024 10:00:00 +0000"));
  mf::write(inbox_, "b.eml", mf::simple("second", "a@example.jp", "Tue, 02 Jan 2024 10:00:00 +0000"));
  Form1 form(dir_->path());
  QVERIFY(shown(form, {900, 600}));
  FolderTree* tv = form.fTree();
  QTreeWidgetItem* inbox = form.fNode("受信箱01");
  QTreeWidgetItem* trash = form.fNode("ごみ箱01");
  press(form, inbox);
  QCOMPARE(form.fListModel()->rowCount(), 2);

  tv->setFocus();
  for (int i = 0; i < 6 && tv->currentItem() != trash; ++i) {
    QTest::keyClick(tv, Qt::Key_Down);
    QCOMPARE(form.fListedKey(), FolderTree::fKey(tv->currentItem()));
  }
  QCOMPARE(tv->currentItem(), trash);
  QCOMPARE(form.fListModel()->rowCount(), 0);
  QCOMPARE(form.fStatus(2), QString("総メール数 0件"));
  QVERIFY(form.windowTitle().endsWith("ごみ箱"));
  while (tv->currentItem() != inbox) QTest::keyClick(tv, Qt::Key_Up);
  QCOMPARE(form.fListModel()->rowCount(), 2);

  // A drag that passes over the trash and is given up leaves the inbox highlighted.
  QMimeData mime;
  mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(u8(inbox_ / "a.eml")))});
  const QPoint over = tv->visualItemRect(trash).center();
  QDragEnterEvent enter(over, Qt::MoveAction, &mime, Qt::LeftButton, {});
  QApplication::sendEvent(tv->viewport(), &enter);
  QDragMoveEvent move(over, Qt::MoveAction, &mime, Qt::LeftButton, {});
  QApplication::sendEvent(tv->viewport(), &move);
  QCOMPARE(tv->currentItem(), trash);
  QDragLeaveEvent leave;
  QApplication::sendEvent(tv->viewport(), &leave);
  QCOMPARE(tv->currentItem(), inbox);

  // Whatever the tree shows, inbox rows are moved to the trash, never deleted for good.
  tv->setCurrentItem(trash);
  clickRow(form, 0);
  form.DeleteMail();
  QCOMPARE(form.fListModel()->rowCount(), 1);
  QCOMPARE(mailstore::fListMailFiles(trash_).size(), size_t(1));
}

// Moving the current row by keyboard shows that mail and marks it read, as a click does;
// the commands on one mail act on the mail shown.
void ListTest::keysInTheListShowWhatTheyMoveTo() {
  for (int i = 0; i < 4; ++i)
    mf::write(inbox_, "m" + std::to_string(i) + ".eml",
              mf::simple("mail " + std::to_string(i), "a@example.jp",
                         "Mon, 0" + std::to_string(i + 1) + " Jan 2024 10:00:00 +0000"));
  Form1 form(dir_->path());
  QVERIFY(shown(form, {900, 600}));
  press(form, form.fNode("受信箱01"));
  const QStringList subjects = column(form, 0);
  QTreeView* list = form.fListView();
  clickRow(form, 0);
  list->setFocus();
  const std::pair<Qt::Key, int> moves[] = {
      {Qt::Key_Down, 1}, {Qt::Key_End, 3}, {Qt::Key_Home, 0}, {Qt::Key_PageDown, 3}, {Qt::Key_Up, 2}};
  for (const auto& [key, row] : moves) {
    QTest::keyClick(list, key);
    QCOMPARE(list->currentIndex().row(), row);
    QCOMPARE(form.fHeaderBox(2)->text(), subjects[row]);
    QCOMPARE(form.fListModel()->fRow(row).icon, 6);
    QCOMPARE(iconValue(inbox_, fileName(form, row).toStdString()), std::string("6"));
  }
  QCOMPARE(count(form, "受信箱01"), QString("0"));

  // Ctrl moves the current row without selecting it: the mail shown stays, and so does
  // the mail the commands act on.
  QTest::keyClick(list, Qt::Key_Down, Qt::ControlModifier);
  QCOMPARE(list->currentIndex().row(), 3);
  QCOMPARE(form.fHeaderBox(2)->text(), subjects[2]);
  form.sRunMenuItem(Form1::Menu::List, 8);
  QVERIFY(viewerText().contains("Subject: " + subjects[2]));
}

QTEST_MAIN(ListTest)
#include "tst_list.moc"
