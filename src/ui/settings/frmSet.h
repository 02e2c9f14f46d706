#pragma once
// The account settings dialog: one account's servers, login and filing rules.
#include <QDialog>
#include <filesystem>
#include <memory>
#include <thread>

#include "ui/settings/certtrust.h"
#include "signin/oauthflow.h"
#include "store/accountsettings.h"

class QLineEdit;
class QLabel;
class QCheckBox;
class QComboBox;
class QRadioButton;
class QTreeWidget;
class QTreeWidgetItem;
class QPushButton;
class QScrollArea;
class QButtonGroup;
class QGroupBox;

class frmSet : public QDialog {
  Q_OBJECT
 public:
  // accountFolder: the account's folder (set.ini inside); rootCaption: the text of the
  // account's node in the folder tree, shown in the title.
  frmSet(std::filesystem::path accountFolder, const QString& rootCaption, QWidget* parent = nullptr);
  // A sign-in still waiting for the browser is cancelled.
  ~frmSet() override;

  // The rule list's rows in the stored form (for the list and for saving).
  std::vector<rulelist::StoredRule> rules() const;

  // Tells the user or asks yes/no about a server certificate (a message box; tests
  // answer it themselves).
  certtrust::AskFn ask;

 signals:
  // Emitted on save when the account name box is not empty.
  void accountNameChanged(const QString& name);

 private slots:
  void cmdOK_Click();
  void cbo_0_Change();
  void cmdDis_Click(int index);
  void lv_Click(QTreeWidgetItem* item);
  void easySetup(int provider);
  void cmdCert_Click();
  void sShowSecurityState();
  void cmdSignIn_Click();
  void cmdSignInCancel_Click();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QWidget* fBuildBasicPage();
  QWidget* fBuildRulesPage();
  void sSetTabOrder();
  // The stored choice of a security box: Standard while the user has not chosen.
  accountsettings::Security fSecurity(int box) const;
  // Shows what Standard comes to for the server and port the boxes hold now.
  void sShowStandardSecurity(int box);
  void sLoad();
  void sSetRowFromInputs(QTreeWidgetItem* item);
  void addRuleRow(const rulelist::StoredRule& rule);
  bool isBodyTarget() const;
  void sClearInputs();
  void sSetUrlOption(int which);  // -1 = none
  int fInputFlags() const;
  // False, after telling the user, when a rule input holds what the stored form cannot.
  bool fRuleInputsUsable();
  // OAuth 2.0 sign-in (frmSet_signin.cpp): the box, loading and saving its values, what
  // it shows, the flow's end (on the window's thread) and the quick setup of a preset.
  QGroupBox* fBuildSignInBox(QWidget* page);
  void sLoadSignIn(const accountsettings::AccountSettings& s);
  void sSaveSignIn(accountsettings::AccountSettings& s) const;
  void sShowSignInState();
  void sShowSignInMessage(const QString& text, bool error);
  void sSignInDone(const signin::Result& result);
  void sSignInSetup(int preset);  // -1: the preset of the address's domain
  signin::Endpoints fSignInEndpoints() const;

  std::filesystem::path accountFolder_;
  QLineEdit* txt_[51] = {};
  void sGrowToShowPage();  // the basic page scrolls only where the screen is too small
  QScrollArea* basicArea_ = nullptr;
  QLabel* lbl_[10] = {};
  QLabel* lblCbo_[2] = {};
  QCheckBox* chk_0 = nullptr;
  QComboBox* cbo_[2] = {};
  QRadioButton* opDis_[3] = {};
  QButtonGroup* opGroup_ = nullptr;
  QCheckBox* chkDis_[3] = {};
  QTreeWidget* lv = nullptr;
  QString pop3CertPin_, smtpCertPin_;  // kept on OK
  // Link security of receiving (0) and sending (1), and whether the user chose it (an
  // account that never did follows the standard rule for its port and server).
  QComboBox* cboSecurity_[2] = {};
  bool securityChosen_[2] = {};
  QLabel* lblSecurityWarning_ = nullptr;
  QComboBox* cboSmtpAuth_ = nullptr;
  QLineEdit* txtSmtpUser_ = nullptr;
  QLineEdit* txtSmtpPass_ = nullptr;
  QComboBox* cboAuth_ = nullptr;
  QGroupBox* fraOAuth_ = nullptr;
  QComboBox* cboOAuthProvider_ = nullptr;  // the presets, then "その他"
  QLineEdit* txtOAuthAuthorize_ = nullptr;
  QLineEdit* txtOAuthToken_ = nullptr;
  QLineEdit* txtOAuthScope_ = nullptr;
  QLineEdit* txtOAuthClientId_ = nullptr;
  QLineEdit* txtOAuthClientSecret_ = nullptr;
  QPushButton* cmdSignIn_ = nullptr;
  QPushButton* cmdSignInCancel_ = nullptr;
  QLabel* lblSignIn_ = nullptr;
  QLineEdit* txtSignInUrl_ = nullptr;  // the address to open by hand when no browser opened
  std::string refreshToken_;      // kept on OK
  signin::Tokens signedIn_;       // from a sign-in in this dialog (access token empty: none)
  std::shared_ptr<signin::Flow> flow_;
  std::thread signInThread_;

};
