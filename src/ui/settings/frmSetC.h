#pragma once
// The mailer settings dialog: automatic receive, receive count, speech and notice,
// HTML link clicks, striped list and the start-up key, all in setting.ini.
#include <QDialog>
#include <filesystem>

class QLabel;
class QSpinBox;
class QRadioButton;
class QCheckBox;
class QComboBox;

class frmSetC : public QDialog {
  Q_OBJECT
 public:
  frmSetC(std::filesystem::path settingsPath, QWidget* parent = nullptr);

  // True after OK when "１アカウント" was chosen: the rotation starts again at account 1.
  bool fOneAccountMode() const;

 private slots:
  void cmdOK_Click();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QWidget* fBuildGeneralPage();
  QWidget* fBuildReceivePage();
  void sLoad();

  std::filesystem::path settingsPath_;
  QSpinBox* txtTime_ = nullptr;
  QSpinBox* txtReceive_ = nullptr;
  QLabel* lblTime_ = nullptr;
  QLabel* lblReceive_ = nullptr;
  QRadioButton* optAutoRe_[2] = {};
  QRadioButton* optSpeech_[3] = {};
  QRadioButton* optNotify_[3] = {};
  QCheckBox* chkUrl_ = nullptr;
  QCheckBox* chkStripe_ = nullptr;
  QComboBox* cboKey_ = nullptr;
};
