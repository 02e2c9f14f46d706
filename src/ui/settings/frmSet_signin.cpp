// The account dialog's OAuth 2.0 part: the provider and client ID, and "サインイン…",
// which opens the provider's page in the user's own browser and waits (off the window's
// thread) for its one answer on a loopback port.
#include <QComboBox>
#include <QDesktopServices>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QUrl>

#include "signin/accounttoken.h"
#include "signin/providers.h"
#include "ui/settings/frmSet.h"

namespace {

QString qs(const std::string& s) { return QString::fromStdString(s); }
std::string ss(const QString& s) { return s.toStdString(); }

// How long the dialog waits for the browser's answer.
constexpr auto kSignInWait = std::chrono::minutes(5);

int customIndex() { return static_cast<int>(signin::fProviders().size()); }

}  // namespace

QGroupBox* frmSet::fBuildSignInBox(QWidget* page) {
  fraOAuth_ = new QGroupBox("OAuth 2.0", page);
  fraOAuth_->setObjectName("fraOAuth");
  auto* form = new QFormLayout(fraOAuth_);
  cboOAuthProvider_ = new QComboBox(fraOAuth_);
  cboOAuthProvider_->setObjectName("cboOAuthProvider");
  for (const auto& p : signin::fProviders()) cboOAuthProvider_->addItem(qs(p.name));
  cboOAuthProvider_->addItem("その他 (アドレスを入力)");
  form->addRow("プロバイダ", cboOAuthProvider_);
  auto line = [&](QLineEdit*& edit, const char* name, const char* label) {
    edit = new QLineEdit(fraOAuth_);
    edit->setObjectName(name);
    form->addRow(label, edit);
  };
  line(txtOAuthAuthorize_, "txtOAuthAuthorize", "認可のアドレス");
  line(txtOAuthToken_, "txtOAuthToken", "トークンのアドレス");
  line(txtOAuthScope_, "txtOAuthScope", "スコープ");
  line(txtOAuthClientId_, "txtOAuthClientId", "クライアント ID");
  line(txtOAuthClientSecret_, "txtOAuthClientSecret", "クライアント シークレット");
  txtOAuthClientSecret_->setEchoMode(QLineEdit::Password);
  txtOAuthClientSecret_->setToolTip("プロバイダの登録にシークレットがあるときだけ入力します");
  auto* row = new QHBoxLayout;
  cmdSignIn_ = new QPushButton("サインイン…", fraOAuth_);
  cmdSignIn_->setObjectName("cmdSignIn");
  cmdSignIn_->setToolTip(
      "ブラウザでプロバイダのページを開きます。そこでサインインして許可してください");
  cmdSignInCancel_ = new QPushButton("キャンセル", fraOAuth_);
  cmdSignInCancel_->setObjectName("cmdSignInCancel");
  row->addWidget(cmdSignIn_);
  row->addWidget(cmdSignInCancel_);
  row->addStretch();
  form->addRow(row);
  lblSignIn_ = new QLabel(fraOAuth_);
  lblSignIn_->setObjectName("lblSignIn");
  lblSignIn_->setWordWrap(true);
  lblSignIn_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  form->addRow(lblSignIn_);
  txtSignInUrl_ = new QLineEdit(fraOAuth_);
  txtSignInUrl_->setObjectName("txtSignInUrl");
  txtSignInUrl_->setReadOnly(true);
  txtSignInUrl_->hide();
  form->addRow(txtSignInUrl_);
  connect(cmdSignIn_, &QPushButton::clicked, this, &frmSet::cmdSignIn_Click);
  connect(cmdSignInCancel_, &QPushButton::clicked, this, &frmSet::cmdSignInCancel_Click);
  // Choosing OAuth 2.0 for a known address picks its provider (the user's choice only:
  // loading keeps what is stored).
  connect(cboAuth_, &QComboBox::activated, this, [this](int index) {
    if (index == 1 && refreshToken_.empty())
      if (const auto* p = signin::fProviderForAddress(ss(txt_[1]->text())))
        cboOAuthProvider_->setCurrentIndex(static_cast<int>(p - signin::fProviders().data()));
  });
  connect(cboAuth_, &QComboBox::currentIndexChanged, this, [this] { sShowSignInState(); });
  connect(cboOAuthProvider_, &QComboBox::currentIndexChanged, this, [this] { sShowSignInState(); });
  return fraOAuth_;
}

void frmSet::sLoadSignIn(const accountsettings::AccountSettings& s) {
  const signin::Provider* preset = signin::fFindProvider(s.oauth.provider);
  cboOAuthProvider_->setCurrentIndex(preset ? static_cast<int>(preset - signin::fProviders().data())
                                            : customIndex());
  txtOAuthAuthorize_->setText(qs(s.oauth.authorizeUrl));
  txtOAuthToken_->setText(qs(s.oauth.tokenUrl));
  txtOAuthScope_->setText(qs(s.oauth.scope));
  txtOAuthClientId_->setText(qs(s.oauth.clientId));
  txtOAuthClientSecret_->setText(qs(s.oauth.clientSecret));
  refreshToken_ = s.oauth.refreshToken;
  cboAuth_->setCurrentIndex(s.auth == accountsettings::Auth::OAuth2 ? 1 : 0);
  sShowSignInState();
}

void frmSet::sSaveSignIn(accountsettings::AccountSettings& s) const {
  s.auth = cboAuth_->currentIndex() == 1 ? accountsettings::Auth::OAuth2
                                         : accountsettings::Auth::Password;
  const int index = cboOAuthProvider_->currentIndex();
  const bool custom = index >= customIndex();
  s.oauth.provider = custom ? std::string(signin::kCustomProvider) : signin::fProviders()[index].id;
  // A preset's endpoints come from the program, so they stay current with it.
  s.oauth.authorizeUrl = custom ? ss(txtOAuthAuthorize_->text().trimmed()) : "";
  s.oauth.tokenUrl = custom ? ss(txtOAuthToken_->text().trimmed()) : "";
  s.oauth.scope = custom ? ss(txtOAuthScope_->text().trimmed()) : "";
  s.oauth.clientId = ss(txtOAuthClientId_->text().trimmed());
  s.oauth.clientSecret = ss(txtOAuthClientSecret_->text());
  s.oauth.refreshToken = refreshToken_;
}

signin::Endpoints frmSet::fSignInEndpoints() const {
  accountsettings::AccountSettings s;
  sSaveSignIn(s);
  return signin::fAccountEndpoints(s);
}

void frmSet::sShowSignInState() {
  const bool oauth = cboAuth_->currentIndex() == 1;
  fraOAuth_->setVisible(oauth);
  txt_[6]->setEnabled(!oauth);  // the password is not used
  const int index = cboOAuthProvider_->currentIndex();
  const bool custom = index >= customIndex();
  for (QLineEdit* e : {txtOAuthAuthorize_, txtOAuthToken_, txtOAuthScope_}) e->setReadOnly(!custom);
  if (!custom) {
    const auto& p = signin::fProviders()[index];
    txtOAuthAuthorize_->setText(qs(p.authorizeUrl));
    txtOAuthToken_->setText(qs(p.tokenUrl));
    txtOAuthScope_->setText(qs(p.scope));
  }
  const bool waiting = flow_ != nullptr;
  cmdSignIn_->setEnabled(!waiting);
  cmdSignInCancel_->setEnabled(waiting);
  if (!waiting) {  // else the label says what the flow does
    txtSignInUrl_->hide();
    sShowSignInMessage(!signedIn_.access.empty() ? "サインインしました (OK で保存します)"
                       : refreshToken_.empty()   ? "サインインが必要です。「サインイン…」を押してください"
                                                 : "サインイン済みです",
                       refreshToken_.empty());
  }
  sGrowToShowPage();
}

void frmSet::sShowSignInMessage(const QString& text, bool error) {
  lblSignIn_->setStyleSheet(error ? "color: #c00000;" : "");
  lblSignIn_->setText(text);
  sGrowToShowPage();
}

void frmSet::cmdSignIn_Click() {
  if (flow_) return;
  auto flow = std::make_shared<signin::Flow>(fSignInEndpoints(), ss(txt_[1]->text().trimmed()));
  std::string error;
  if (!flow->start(error)) {
    sShowSignInMessage("サインインできません: " + qs(error), true);
    return;
  }
  flow_ = flow;
  sShowSignInState();
  // Listening before the browser comes: its answer may arrive at once.
  if (signInThread_.joinable()) signInThread_.join();
  signInThread_ = std::thread([this, flow] {
    const signin::Result result = flow->wait(kSignInWait);
    // Dropped unless the dialog still lives; it cancels and waits for this thread first.
    QMetaObject::invokeMethod(
        this, [this, result] { sSignInDone(result); }, Qt::QueuedConnection);
  });
  const QString url = qs(flow->authorizationUrl());
  const bool opened = QDesktopServices::openUrl(QUrl(url, QUrl::StrictMode));
  // An address that long does not wrap: it goes in a box to select and copy.
  txtSignInUrl_->setText(opened ? QString() : url);
  txtSignInUrl_->setVisible(!opened);
  sShowSignInMessage(opened ? "ブラウザでサインインして許可してください。応答を待っています…"
                            : "ブラウザを開けませんでした。下のアドレスをコピーしてブラウザで開いてください "
                              "(応答を待っています…)",
                     false);
}

void frmSet::cmdSignInCancel_Click() {
  if (flow_) flow_->cancel();
}

void frmSet::sSignInDone(const signin::Result& result) {
  if (signInThread_.joinable()) signInThread_.join();
  flow_.reset();
  if (result.ok) {
    signedIn_ = result.tokens;
    refreshToken_ = result.tokens.refresh;
    sShowSignInState();
    return;
  }
  sShowSignInState();
  sShowSignInMessage("サインインできませんでした: " + qs(result.error), true);
}

void frmSet::sSignInSetup(int preset) {
  const signin::Provider* p = preset >= 0 ? &signin::fProviders()[preset]
                                          : signin::fProviderForAddress(ss(txt_[1]->text()));
  if (!p) {
    ask("このメールアドレスのプロバイダは登録されていません。認証方式で OAuth 2.0 を選び、"
        "プロバイダ「その他」にアドレスを入力してください",
        false);
    return;
  }
  txt_[3]->setText(qs(p->smtpHost));
  txt_[8]->setText(qs(p->smtpPort));
  txt_[4]->setText(qs(p->pop3Host));
  txt_[9]->setText(qs(p->pop3Port));
  if (txt_[5]->text().isEmpty()) txt_[5]->setText(txt_[1]->text().trimmed());
  // A token only ever travels over TLS: from the start on the implicit ports, else STARTTLS.
  cboSecurity_[1]->setCurrentIndex(p->smtpPort == "465" ? 0 : 1);
  cboSecurity_[0]->setCurrentIndex(p->pop3Port == "995" ? 0 : 1);
  securityChosen_[0] = securityChosen_[1] = true;
  sShowSecurityState();
  cboAuth_->setCurrentIndex(1);
  cboOAuthProvider_->setCurrentIndex(static_cast<int>(p - signin::fProviders().data()));
  sShowSignInState();
}

frmSet::~frmSet() {
  if (flow_) flow_->cancel();
  if (signInThread_.joinable()) signInThread_.join();
}
