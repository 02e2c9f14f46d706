// The search box over a real store: the listed folder filtered as the user types (and
// commands acting only on the rows shown), all-folders hits with their folders and delete
// in each hit's own folder, and import into the selected folder through the progress
// dialog's worker.
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QTreeView>

#include "ui/main/Form1.h"
#include "ui/main/MailListModel.h"
#include "ui/main/MailSearch.h"
#include "ui/main/TransferProgress.h"
#include "windowfixture.h"
#include "mailfactory.h"

using namespace fixture;
namespace mf = mailfactory;

namespace {

QStringList shownSubjects(Form1& form) {
  QStringList out;
  for (int r = 0; r < form.fListModel()->rowCount(); ++r)
    if (!form.fListView()->isRowHidden(r, {})) out << form.fListModel()->fRow(r).subject;
  out.sort();
  return out;
}

}  // namespace

class SearchTest : public QObject {
  Q_OBJECT
 private slots:
  void init() {
    dir_ = std::make_unique<QTemporaryDir>(QDir::tempPath() + "/qb_search-XXXXXX");
    program_ = P(*dir_);
    inbox1_ = account(program_, 1, "仕事") / mailstore::fPath("受信箱");
    inbox2_ = account(program_, 2, "個人") / mailstore::fPath("受信箱");
    const char* date = "Mon, 01 Jan 2024 10:00:00 +0000";
    mf::write(inbox1_, "1.eml", mf::simple("ｶﾀｶﾅ Meeting", "sato@example.jp", date, "本文は定例の件"));
    mf::write(inbox1_, "2.eml", mf::simple("カタカナ report", "suzuki@example.jp", date));
    mf::write(inbox1_, "3.eml", mf::simple("ＡＢＣ order", "tanaka@example.jp", date));
    mf::write(inbox2_, "4.eml", mf::simple("private", "friend@example.jp", date, "週末の定例会"));
  }

  void filterHidesRowsAndCommandsSeeOnlyShownOnes() {
    Form1 form(dir_->path());
    QVERIFY(shown(form));
    form.sShowNode(form.fNode("受信箱01"));
    auto* search = form.findChild<MailSearch*>();
    QVERIFY(search);
    QTest::keyClick(&form, Qt::Key_F, Qt::ControlModifier);
    QTRY_VERIFY(search->fBox()->hasFocus());
    const std::pair<QString, QStringList> typed[] = {
        {"かたかな", {}},  // hiragana is not katakana
        {"カタカナ", {"カタカナ report", "ｶﾀｶﾅ Meeting"}},
        {"meeting", {"ｶﾀｶﾅ Meeting"}},
        {"abc", {"ＡＢＣ order"}},
        {"SUZUKI", {"カタカナ report"}},
    };
    for (const auto& [text, want] : typed) {
      search->fBox()->setText(text);
      QCOMPARE(shownSubjects(form), want);
    }
    search->fBox()->clear();
    QCOMPARE(shownSubjects(form).size(), 3);
    // Select all while filtered, then delete: only the shown row goes to the trash.
    QTest::keyClicks(search->fBox(), "abc");
    form.fListView()->setFocus();
    form.sSelectAllMails();
    form.DeleteMail();
    QVERIFY(fs::exists(inbox1_ / "1.eml") && fs::exists(inbox1_ / "2.eml"));
    QVERIFY(fs::exists(inbox1_.parent_path() / mailstore::fPath("ごみ箱") / "3.eml"));
    QTest::keyClick(search->fBox(), Qt::Key_Escape);
    QCOMPARE(search->fBox()->text(), QString());
    QCOMPARE(shownSubjects(form), (QStringList{"カタカナ report", "ｶﾀｶﾅ Meeting"}));
  }

  void allFoldersListsHitsAndDeletesWhereTheyLive() {
    Form1 form(dir_->path());
    QVERIFY(shown(form));
    form.sShowNode(form.fNode("受信箱01"));
    auto* search = form.findChild<MailSearch*>();
    QSignalSpy shown(search, &MailSearch::hitsShown);
    search->fAllFolders()->setChecked(true);
    search->fBox()->setText("定例");  // in two bodies, in two accounts
    QVERIFY(shown.wait(10000));
    MailListModel* model = form.fListModel();
    QCOMPARE(model->columnCount(), 4);
    QStringList folders;
    for (int r = 0; r < model->rowCount(); ++r) folders << model->fRow(r).folder;
    folders.sort();
    QCOMPARE(folders, (QStringList{"Account01/受信箱", "Account02/受信箱"}));
    form.sSelectAllMails();
    form.DeleteMail();
    QVERIFY(fs::exists(inbox1_.parent_path() / mailstore::fPath("ごみ箱") / "1.eml"));
    QVERIFY(fs::exists(inbox2_.parent_path() / mailstore::fPath("ごみ箱") / "4.eml"));
    // Leaving the mode lists the folder again.
    search->fAllFolders()->setChecked(false);
    QCOMPARE(model->columnCount(), 3);
    QCOMPARE(model->rowCount(), 2);
  }

  void importIntoTheFolderWithProgress() {
    Form1 form(dir_->path());
    form.show();
    const auto result = transferui::fImportWithProgress(
        &form, fs::path(QB_SOURCE_DIR) / "tests/transfer/data/other-client.mbox", inbox2_);
    QCOMPARE(result.stored, 3u);
    QCOMPARE(transferui::fImportSummary(transferui::fImportWithProgress(
                 &form, fs::path(QB_SOURCE_DIR) / "tests/transfer/data/other-client.mbox", inbox2_)),
             QStringLiteral("0件取り込みました (取り込み済みの 3件は除きました)"));
    QVERIFY(form.findChild<QAction*>("mnuFileImport"));
    QVERIFY(form.findChild<QAction*>("mnuFileExport"));
  }

 private:
  std::unique_ptr<QTemporaryDir> dir_;
  fs::path program_, inbox1_, inbox2_;
};

QTEST_MAIN(SearchTest)
#include "tst_search.moc"
