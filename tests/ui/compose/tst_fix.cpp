// The fixed-phrase window over a real setting.ini: it blocks the main window, cancel writes
// nothing, OK renumbers the phrases and keeps a phrase of several lines on one line.
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include "ui/main/Form1.h"
#include "ui/compose/frmFix.h"
#include "windowfixture.h"

using namespace fixture;
namespace fs = std::filesystem;

class FixTest : public QObject {
  Q_OBJECT
 private slots:
  void phrasesAreEditedAndSavedRenumbered();
  void clickOnTheSelectedPhraseLoadsItAgain();
};

void FixTest::phrasesAreEditedAndSavedRenumbered() {
  QTemporaryDir dir;
  const fs::path ini = P(dir) / "setting.ini";
  std::ofstream(ini, std::ios::binary)
      << "[Mail]\r\nStripe=0\r\n[Form]\r\n1=一|r|行\r\n2=二\r\n3=三\r\n";
  const std::string before = bytesOf(ini);
  Form1 form(dir.path());

  auto open = [&] {
    form.sRunMenuItem(Form1::Menu::Set, 5);
    auto* w = form.findChild<frmFix*>();
    return w;
  };
  auto button = [](frmFix* w, int i) {
    return w->findChild<QPushButton*>(QStringLiteral("cmdMenu_%1").arg(i));
  };

  // Cancel after changes writes nothing.
  frmFix* w = open();
  QVERIFY(w);
  QCOMPARE(w->windowModality(), Qt::ApplicationModal);
  auto* lv = w->findChild<QTreeWidget*>("lv");
  auto* txt = w->findChild<QPlainTextEdit*>("txt");
  QCOMPARE(lv->topLevelItemCount(), 3);
  QCOMPARE(lv->topLevelItem(0)->text(0), QString("一\n行"));
  button(w, 5)->click();
  button(w, 2)->click();  // an empty text box adds nothing
  QCOMPARE(lv->topLevelItemCount(), 3);
  lv->setCurrentItem(lv->topLevelItem(2));
  QCOMPARE(txt->toPlainText(), QString("三"));
  button(w, 4)->click();
  button(w, 1)->click();
  QTRY_VERIFY(!form.findChild<frmFix*>());
  QCOMPARE(bytesOf(ini), before);

  // The Delete key removes the first phrase; OK leaves keys 1 and 2 only.
  w = open();
  lv = w->findChild<QTreeWidget*>("lv");
  lv->setCurrentItem(lv->topLevelItem(0));
  QTest::keyClick(lv, Qt::Key_Delete);
  QCOMPARE(lv->topLevelItemCount(), 2);
  button(w, 0)->click();
  QTRY_VERIFY(!form.findChild<frmFix*>());
  auto saved = mod_ini::IniFile::fParse(bytesOf(ini));
  QCOMPARE(saved.fKeys("Form"), (std::vector<std::string>{"1", "2"}));
  QCOMPARE(saved.fGet("Form", "1"), std::optional<std::string>("二"));
  QCOMPARE(saved.fGet("Mail", "Stripe"), std::optional<std::string>("0"));

  // A phrase of three lines is one line of the file with two line-break markers; 編集
  // replaces the selected phrase.
  w = open();
  lv = w->findChild<QTreeWidget*>("lv");
  txt = w->findChild<QPlainTextEdit*>("txt");
  txt->setPlainText("a\nb\nc");
  button(w, 2)->click();
  lv->setCurrentItem(lv->topLevelItem(0));
  txt->setPlainText("に");
  button(w, 3)->click();
  button(w, 0)->click();
  QTRY_VERIFY(!form.findChild<frmFix*>());
  const std::string bytes = bytesOf(ini);
  QVERIFY(bytes.find("\r\n3=a|r|b|r|c\r\n") != std::string::npos);
  QCOMPARE(mod_ini::IniFile::fParse(bytes).fGet("Form", "1"), std::optional<std::string>("に"));
}

void FixTest::clickOnTheSelectedPhraseLoadsItAgain() {
  QTemporaryDir dir;
  std::ofstream(P(dir) / "setting.ini", std::ios::binary) << "[Form]\r\n1=一\r\n2=二\r\n";
  // The window needs no main window: it is given the settings file.
  QPointer<frmFix> w = frmFix::sOpen(P(dir) / "setting.ini", nullptr);
  QVERIFY(w);
  QVERIFY(QTest::qWaitForWindowExposed(w));
  auto* lv = w->findChild<QTreeWidget*>("lv");
  auto* txt = w->findChild<QPlainTextEdit*>("txt");
  QTreeWidgetItem* second = lv->topLevelItem(1);
  QTest::mouseClick(lv->viewport(), Qt::LeftButton, {}, lv->visualItemRect(second).center());
  QCOMPARE(txt->toPlainText(), QString("二"));
  txt->setPlainText("書きかけ");
  QTest::mouseClick(lv->viewport(), Qt::LeftButton, {}, lv->visualItemRect(second).center());
  QCOMPARE(txt->toPlainText(), QString("二"));
  w->reject();
}

QTEST_MAIN(FixTest)
#include "tst_fix.moc"
