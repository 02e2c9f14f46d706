// The mailer settings dialog against a real setting.ini.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <optional>

#include "tempdir.h"
#include "windowfixture.h"
#include "ui/settings/frmSetC.h"
#include "store/mod_ini.h"

namespace fs = std::filesystem;
using fixture::shown;

class FrmSetCTest : public QObject {
  Q_OBJECT
  std::optional<qbtest::TempDir> tmp_;
  fs::path dir_, ini_;

  template <typename T>
  static T* find(QWidget& w, const char* name) {
    auto* child = w.findChild<T*>(name);
    if (!child) qFatal("no widget %s", name);
    return child;
  }
  std::string value(const char* key) { return mod_ini::fGetIniString("Mail", key, ini_, "<none>"); }

 private slots:
  void init() {
    tmp_.emplace("qbfrmsetc");
    dir_ = tmp_->path();
    fs::create_directories(dir_);
    ini_ = dir_ / "setting.ini";
  }
  void cleanup() { tmp_.reset(); }

  void defaultsThenSaveEveryKey() {
    frmSetC dlg(ini_);
    QCOMPARE(find<QLabel>(dlg, "lblTime")->text(), QString("受信間隔                     分"));
    QVERIFY(find<QRadioButton>(dlg, "optAutoRe_0")->isChecked());
    QVERIFY(find<QRadioButton>(dlg, "optSpeech_0")->isChecked());
    QVERIFY(find<QCheckBox>(dlg, "chkStripe")->isChecked());
    find<QSpinBox>(dlg, "txtTime")->setValue(15);
    find<QRadioButton>(dlg, "optAutoRe_1")->setChecked(true);
    find<QRadioButton>(dlg, "optSpeech_2")->setChecked(true);
    find<QRadioButton>(dlg, "optNotify_1")->setChecked(true);
    find<QCheckBox>(dlg, "chkURLOpen")->setChecked(true);
    find<QCheckBox>(dlg, "chkStripe")->setChecked(false);
    find<QComboBox>(dlg, "cboKey")->setCurrentIndex(2);
    find<QPushButton>(dlg, "cmdOK")->click();
    QVERIFY(dlg.fOneAccountMode());
    QCOMPARE(value("AutoTime"), std::string("15"));
    QCOMPARE(value("AutoRe"), std::string("1"));
    QCOMPARE(value("Receive"), std::string("0"));
    QCOMPARE(value("Speech"), std::string("2"));
    QCOMPARE(value("Notify"), std::string("1"));
    QCOMPARE(value("URLOpen"), std::string("1"));
    QCOMPARE(value("Stripe"), std::string("0"));
    QCOMPARE(value("sk"), std::string("2"));

    frmSetC again(ini_);
    QCOMPARE(find<QSpinBox>(again, "txtTime")->value(), 15);
    QVERIFY(find<QRadioButton>(again, "optNotify_1")->isChecked());
    QCOMPARE(find<QComboBox>(again, "cboKey")->currentIndex(), 2);
  }

  void receiveCountIsBoundedWhenLeft() {
    frmSetC dlg(ini_);
    QVERIFY(shown(dlg));
    auto* box = find<QSpinBox>(dlg, "txtReceive");
    box->setFocus();
    box->selectAll();
    QTest::keyClicks(box, "300");
    find<QSpinBox>(dlg, "txtTime")->setFocus();
    QCOMPARE(box->text(), QString("256"));
    find<QPushButton>(dlg, "cmdOK")->click();
    QCOMPARE(value("Receive"), std::string("256"));
  }

  void secondsLabelAndCancel() {
    mod_ini::fWriteIniString("Mail", "second", "1", ini_);
    mod_ini::fWriteIniString("Mail", "AutoTime", "30", ini_);
    std::ifstream before(ini_, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(before)), {});
    frmSetC dlg(ini_);
    QCOMPARE(find<QLabel>(dlg, "lblTime")->text(), QString("受信間隔                     秒"));
    find<QSpinBox>(dlg, "txtTime")->setValue(0);
    find<QPushButton>(dlg, "cmdCancel")->click();
    std::ifstream after(ini_, std::ios::binary);
    QCOMPARE(std::string((std::istreambuf_iterator<char>(after)), {}), bytes);
  }
};

QTEST_MAIN(FrmSetCTest)
#include "tst_frmSetC.moc"
