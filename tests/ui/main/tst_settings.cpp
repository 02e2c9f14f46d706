// The Settings menu's mailer settings dialog over a real program folder.
#include <QApplication>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include "ui/main/Form1.h"
#include "windowfixture.h"
#include "ui/settings/frmSetC.h"

using namespace fixture;

class TstSettings : public QObject {
  Q_OBJECT

  // Answers the modal dialog once it is open.
  static void whenDialogOpens(std::function<void(frmSetC&)> answer) {
    QTimer::singleShot(0, [answer] {
      auto* dlg = qobject_cast<frmSetC*>(QApplication::activeModalWidget());
      QVERIFY(dlg);
      answer(*dlg);
    });
  }

 private slots:
  void savingReArmsTimerAndResetsRotation() {
    QTemporaryDir dir;
    account(P(dir), 1);
    setting(P(dir), "AutoTime", "0");
    Form1 form(dir.path());
    QVERIFY(form.fStarted());
    QVERIFY(!form.fTimer()->isActive());
    form.setAutoRePosition(3);
    whenDialogOpens([](frmSetC& dlg) {
      QVERIFY(dlg.findChild<QSpinBox*>("txtTime"));
      dlg.findChild<QSpinBox*>("txtTime")->setValue(2);
      dlg.findChild<QRadioButton*>("optAutoRe_1")->setChecked(true);
      dlg.findChild<QPushButton*>("cmdOK")->click();
    });
    form.mnuSetItem_0();
    QCOMPARE(settingValue(P(dir), "AutoTime"), std::string("2"));
    QCOMPARE(form.autoRePosition(), 1);
    QVERIFY(form.fTimer()->isActive());
    QCOMPARE(form.fTimer()->interval(), 2 * 60000);
  }

  void cancelStillReappliesStoredStripesAndTimer() {
    QTemporaryDir dir;
    account(P(dir), 1);
    setting(P(dir), "AutoTime", "5");
    setting(P(dir), "second", "1");
    Form1 form(dir.path());
    QVERIFY(form.fStriped());
    setting(P(dir), "Stripe", "0");  // changed by hand while the program runs
    form.setAutoRePosition(2);
    whenDialogOpens([&form](frmSetC& dlg) {
      QVERIFY(!form.fTimer()->isActive());  // stopped while the dialog is open
      dlg.findChild<QPushButton*>("cmdCancel")->click();
    });
    form.mnuSetItem_0();
    QVERIFY(!form.fStriped());
    QCOMPARE(form.autoRePosition(), 2);
    QVERIFY(form.fTimer()->isActive());
    QCOMPARE(form.fTimer()->interval(), 5000);
  }
};

QTEST_MAIN(TstSettings)
#include "tst_settings.moc"
