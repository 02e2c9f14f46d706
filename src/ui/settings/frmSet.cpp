#include "ui/settings/frmSet.h"
#include "ui/common/dialogparts.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QEvent>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QScrollArea>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "receive/receive.h"
#include "signin/accounttoken.h"
#include "signin/providers.h"

namespace {

QString qs(const std::string& s) { return QString::fromStdString(s); }
std::string ss(const QString& s) { return s.toStdString(); }

// What a rule row keeps beside its shown texts.
constexpr int kFlagsRole = Qt::UserRole;
constexpr int kProgramRole = Qt::UserRole + 1;
constexpr int kStoredTextRole = Qt::UserRole + 2;  // set only for a rule receiving passes over

struct Provider {
  const char* caption;
  const char* smtp;
  const char* pop3;
};
// Hosts of the quick setup. They refuse plain connections, so their TLS ports are
// filled in too.
const Provider kProviders[] = {
    {"Yahoo!", "smtp.mail.yahoo.co.jp", "pop.mail.yahoo.co.jp"},
    {"Yahoo! BB", "ybbsmtp.mail.yahoo.co.jp", "ybbpop.mail.yahoo.co.jp"},
    {"Gmail", "smtp.gmail.com", "pop.gmail.com"},
};
constexpr const char* kTlsSmtpPort = "465";
constexpr const char* kTlsPop3Port = "995";

}  // namespace

frmSet::frmSet(std::filesystem::path accountFolder, const QString& rootCaption, QWidget* parent)
    : QDialog(parent), accountFolder_(std::move(accountFolder)) {
  setObjectName("frmSet");
  setWindowTitle("アカウント設定 - " + rootCaption);

  auto* tabs = new QTabWidget(this);
  tabs->setObjectName("TabStrip1");
  basicArea_ = dialogparts::fScrollPage(fBuildBasicPage());
  tabs->addTab(basicArea_, "基本設定");
  tabs->addTab(fBuildRulesPage(), "振り分け");

  auto* buttons = dialogparts::fOkCancelRow(this, [this] { cmdOK_Click(); });
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(tabs);
  layout->addLayout(buttons);

  ask = [this](const QString& text, bool question) {
    if (!question) {
      QMessageBox::information(this, windowTitle(), text);
      return true;
    }
    return QMessageBox::question(this, windowTitle(), text) == QMessageBox::Yes;
  };
  sLoad();
  sSetTabOrder();
  resize(560, 640);
  sGrowToShowPage();
}

void frmSet::sGrowToShowPage() {
  // Once the layouts have taken in what changed.
  QTimer::singleShot(0, this, [this] { dialogparts::sGrowToShow(this, basicArea_); });
}

QWidget* frmSet::fBuildBasicPage() {
  auto* page = new QWidget;
  page->setObjectName("picTab_0");
  auto* form = new QFormLayout(page);
  const char* labels[] = {"アカウント名",  "メールアドレス", "表示名",         "SMTPサーバー名",
                          "POP3サーバー名", "POP3ユーザーID", "POP3パスワード", nullptr,
                          "SMTPポート",     "POP3ポート"};
  for (int i = 0; i < 10; ++i) {
    if (i == 7) continue;  // the search text lives on the rules page
    txt_[i] = new QLineEdit(page);
    txt_[i]->setObjectName(QString("txt_%1").arg(i));
    txt_[i]->installEventFilter(this);
  }
  txt_[6]->setEchoMode(QLineEdit::Password);
  auto* digits = new QRegularExpressionValidator(QRegularExpression("[0-9]*"), page);
  for (int i : {8, 9}) {
    txt_[i]->setValidator(digits);
    txt_[i]->setMaxLength(5);
  }
  txt_[8]->setToolTip("未入力時は25になります");
  txt_[9]->setToolTip("未入力時は110になります");

  auto portRow = [&](int box, const char* standard, int index) {
    auto* row = new QHBoxLayout;
    row->addWidget(txt_[box]);
    auto* b = new QPushButton("規定値", page);
    b->setObjectName(QString("cmdDefault_%1").arg(index));
    connect(b, &QPushButton::clicked, this, [this, box, standard] { txt_[box]->setText(standard); });
    row->addWidget(b);
    return row;
  };
  // Receiving (0) and sending (1) each say how they protect the link.
  const char* securityNames[] = {"cboPop3Security", "cboSmtpSecurity"};
  for (int box : {0, 1}) {
    cboSecurity_[box] = new QComboBox(page);
    cboSecurity_[box]->setObjectName(securityNames[box]);
    cboSecurity_[box]->addItems({"SSL/TLS", "STARTTLS", "なし"});
    cboSecurity_[box]->setToolTip(
        "SSL/TLS: 最初から暗号化 (ポート番号は問いません)。STARTTLS: 暗号化に切り替えて"
        "から送受信 (サーバが対応していないときは中止)。なし: 暗号化しません");
    connect(cboSecurity_[box], &QComboBox::activated, this, [this, box] {
      securityChosen_[box] = true;
      sShowSecurityState();
    });
  }
  for (int i : {0, 1, 2, 3}) {
    lbl_[i] = new QLabel(labels[i], page);
    form->addRow(lbl_[i], txt_[i]);
  }
  lbl_[8] = new QLabel(labels[8], page);
  form->addRow(lbl_[8], portRow(8, "25", 0));
  form->addRow("送信の暗号化", cboSecurity_[1]);
  for (int i : {4}) {
    lbl_[i] = new QLabel(labels[i], page);
    form->addRow(lbl_[i], txt_[i]);
  }
  lbl_[9] = new QLabel(labels[9], page);
  form->addRow(lbl_[9], portRow(9, "110", 1));
  form->addRow("受信の暗号化", cboSecurity_[0]);
  cboAuth_ = new QComboBox(page);
  cboAuth_->setObjectName("cboAuth");
  cboAuth_->addItems({"パスワード", "OAuth 2.0"});
  cboAuth_->setToolTip("OAuth 2.0: パスワードの代わりに、プロバイダのページでサインインして得た許可で送受信します");
  form->addRow("認証方式", cboAuth_);
  for (int i : {5, 6}) {
    lbl_[i] = new QLabel(labels[i], page);
    form->addRow(lbl_[i], txt_[i]);
  }
  form->addRow(fBuildSignInBox(page));
  cboSmtpAuth_ = new QComboBox(page);
  cboSmtpAuth_->setObjectName("cboSmtpAuth");
  cboSmtpAuth_->addItems({"認証なし", "受信と同じ", "送信用のIDとパスワード"});
  cboSmtpAuth_->setToolTip("送信サーバにログインするときのIDとパスワードを選びます");
  form->addRow("送信の認証", cboSmtpAuth_);
  txtSmtpUser_ = new QLineEdit(page);
  txtSmtpUser_->setObjectName("txtSmtpUser");
  form->addRow("SMTPユーザーID", txtSmtpUser_);
  txtSmtpPass_ = new QLineEdit(page);
  txtSmtpPass_->setObjectName("txtSmtpPass");
  txtSmtpPass_->setEchoMode(QLineEdit::Password);
  form->addRow("SMTPパスワード", txtSmtpPass_);
  connect(cboSmtpAuth_, &QComboBox::currentIndexChanged, this, [this] { sShowSecurityState(); });
  lblSecurityWarning_ = new QLabel(
      "暗号化「なし」では、パスワード (サーバが対応していれば APOP や CRAM-MD5 で送ります) "
      "やメールの内容が途中で盗み見られるおそれがあります", page);
  lblSecurityWarning_->setObjectName("lblSecurityWarning");
  lblSecurityWarning_->setWordWrap(true);
  lblSecurityWarning_->setStyleSheet("color: #c00000;");
  form->addRow(lblSecurityWarning_);
  // An account that never chose follows the standard rule for what the boxes hold.
  for (int box : {3, 4, 8, 9})
    connect(txt_[box], &QLineEdit::textChanged, this, [this, box] { sShowStandardSecurity((box == 4 || box == 9) ? 0 : 1); });
  for (int i = 0; i < 10; ++i) {
    if (lbl_[i]) lbl_[i]->setObjectName(QString("lbl_%1").arg(i));
  }

  chk_0 = new QCheckBox("受信したメールをサーバに残す", page);
  chk_0->setObjectName("chk_0");
  form->addRow(chk_0);

  auto* easy = new QPushButton("簡単設定", page);
  easy->setObjectName("cmdEasy");
  easy->setToolTip("有名なメールサービスのSMTPとPOP3サーバを設定します");
  auto* menu = new QMenu("簡単設定(&S)", easy);
  menu->setObjectName("mnuEasy");
  for (int i = 0; i < 3; ++i) {
    QAction* a = menu->addAction(kProviders[i].caption);
    a->setObjectName(QString("mnuEasyItem_%1").arg(i));
    connect(a, &QAction::triggered, this, [this, i] { easySetup(i); });
  }
  menu->addSeparator();
  const auto& presets = signin::fProviders();
  for (int i = -1; i < static_cast<int>(presets.size()); ++i) {
    QAction* a = menu->addAction(i < 0 ? QString("メールアドレスから (OAuth 2.0)") : qs(presets[i].name) + " (OAuth 2.0)");
    a->setObjectName(QString("mnuEasyOAuth_%1").arg(i + 1));
    connect(a, &QAction::triggered, this, [this, i] { sSignInSetup(i); });
  }
  connect(easy, &QPushButton::clicked, this, [easy, menu] { menu->popup(easy->mapToGlobal(QPoint(0, easy->height()))); });
  form->addRow(easy);

  auto* cert = new QPushButton("証明書を確認", page);
  cert->setObjectName("cmdCert");
  cert->setToolTip("自己署名などの証明書を使うサーバの証明書を確かめて信頼します");
  connect(cert, &QPushButton::clicked, this, &frmSet::cmdCert_Click);
  form->addRow(cert);
  return page;
}

QWidget* frmSet::fBuildRulesPage() {
  auto* page = new QWidget;
  page->setObjectName("picTab_1");
  auto* layout = new QVBoxLayout(page);
  auto* form = new QFormLayout;

  for (int i = 0; i < 2; ++i) {
    cbo_[i] = new QComboBox(page);
    cbo_[i]->setObjectName(QString("cbo_%1").arg(i));
    cbo_[i]->installEventFilter(this);
  }
  cbo_[1]->setEditable(true);
  lblCbo_[0] = new QLabel("対象", page);
  lblCbo_[0]->setObjectName("lblCbo_0");
  form->addRow(lblCbo_[0], cbo_[0]);
  txt_[7] = new QLineEdit(page);
  txt_[7]->setObjectName("txt_7");
  txt_[7]->setToolTip("大文字/小文字の区別をします");
  txt_[7]->installEventFilter(this);
  lbl_[7] = new QLabel("検索文字列", page);
  lbl_[7]->setObjectName("lbl_7");
  form->addRow(lbl_[7], txt_[7]);
  lblCbo_[1] = new QLabel("移動先", page);
  lblCbo_[1]->setObjectName("lblCbo_1");
  form->addRow(lblCbo_[1], cbo_[1]);
  layout->addLayout(form);

  auto* frame = new QGroupBox("処理", page);
  frame->setObjectName("fraDis");
  auto* frameLayout = new QVBoxLayout(frame);
  opGroup_ = new QButtonGroup(this);
  const char* options[] = {"URLを開く", "Lanternhouseで開く", "URLを開く処理は行わない"};
  for (int i = 0; i < 3; ++i) {
    opDis_[i] = new QRadioButton(options[i], frame);
    opDis_[i]->setObjectName(QString("opDis_%1").arg(i));
    opGroup_->addButton(opDis_[i], i);
    frameLayout->addWidget(opDis_[i]);
  }
  chkDis_[1] = new QCheckBox("既読にする", frame);
  chkDis_[1]->setToolTip("新着メールを既読にします");
  chkDis_[2] = new QCheckBox("ファイル実行", frame);
  chkDis_[2]->setToolTip("指定メールが届いた際にファイルを自動実行します");
  for (int i : {1, 2}) {
    chkDis_[i]->setObjectName(QString("chkDis_%1").arg(i));
    frameLayout->addWidget(chkDis_[i]);
  }
  auto* programRow = new QHBoxLayout;
  txt_[50] = new QLineEdit(frame);
  txt_[50]->setObjectName("txt_50");
  txt_[50]->setToolTip("自動実行させるファイルのパスを指定します");
  txt_[50]->installEventFilter(this);
  programRow->addWidget(txt_[50]);
  layout->addWidget(frame);

  const char* commands[] = {"追加", "削除", "参照", "編集", "クリア"};
  QPushButton* cmd[5];
  for (int i = 0; i < 5; ++i) {
    cmd[i] = new QPushButton(commands[i], page);
    cmd[i]->setObjectName(QString("cmdDis_%1").arg(i));
    connect(cmd[i], &QPushButton::clicked, this, [this, i] { cmdDis_Click(i); });
  }
  programRow->addWidget(cmd[2]);
  frameLayout->addLayout(programRow);
  auto* commandRow = new QHBoxLayout;
  for (int i : {0, 3, 1, 4}) commandRow->addWidget(cmd[i]);
  layout->addLayout(commandRow);

  lv = new QTreeWidget(page);
  lv->setObjectName("lv");
  lv->setRootIsDecorated(false);
  lv->setAllColumnsShowFocus(true);
  lv->setSelectionBehavior(QAbstractItemView::SelectRows);
  lv->setHeaderLabels({"対象", "検索文字列", "振り分け先", "処理"});
  lv->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
  lv->header()->setStretchLastSection(true);
  lv->setStyleSheet("QTreeView::item { border-right: 1px solid #d0d0d0; border-bottom: 1px solid #d0d0d0; }");
  connect(lv, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item) { lv_Click(item); });
  layout->addWidget(lv);

  connect(cbo_[0], &QComboBox::currentIndexChanged, this, &frmSet::cbo_0_Change);
  return page;
}

void frmSet::sLoad() {
  auto s = accountsettings::fLoad(accountFolder_);
  txt_[0]->setText(qs(s.account));
  txt_[1]->setText(qs(s.address));
  txt_[2]->setText(qs(s.name));
  txt_[3]->setText(qs(s.smtpHost));
  txt_[8]->setText(qs(s.smtpPort));
  txt_[4]->setText(qs(s.pop3Host));
  txt_[9]->setText(qs(s.pop3Port));
  txt_[5]->setText(qs(s.user));
  txt_[6]->setText(qs(s.pass));
  chk_0->setChecked(s.keepOnServer);
  pop3CertPin_ = qs(s.pop3CertPin);
  smtpCertPin_ = qs(s.smtpCertPin);
  const accountsettings::Security stored[] = {s.pop3Security, s.smtpSecurity};
  for (int box : {0, 1}) {
    securityChosen_[box] = stored[box] != accountsettings::Security::Standard;
    if (securityChosen_[box]) cboSecurity_[box]->setCurrentIndex(static_cast<int>(stored[box]) - 1);
    else sShowStandardSecurity(box);
  }
  cboSmtpAuth_->setCurrentIndex(static_cast<int>(s.smtpLogin));
  txtSmtpUser_->setText(qs(s.smtpUser));
  txtSmtpPass_->setText(qs(s.smtpPass));
  sShowSecurityState();
  sLoadSignIn(s);
  for (std::string_view t : rulelist::kTargets) cbo_[0]->addItem(QString::fromUtf8(t.data(), qsizetype(t.size())));
  cbo_[1]->addItem(QString());
  for (const auto& f : accountsettings::fListDestinationFolders(accountFolder_)) cbo_[1]->addItem(qs(f));
  for (const auto& r : s.rules) addRuleRow(r);
  cbo_0_Change();
}

void frmSet::addRuleRow(const rulelist::StoredRule& stored) {
  auto* item = new QTreeWidgetItem(lv);
  const rulelist::Rule& rule = stored.rule;
  item->setText(0, qs(rule.target));
  item->setText(1, qs(rule.search));
  item->setText(2, qs(rule.destination));
  item->setData(0, kFlagsRole, rule.flags);
  item->setData(0, kProgramRole, qs(rule.program));
  if (stored.fault == rulelist::RuleFault::none) {
    item->setText(3, qs(rulelist::describeActions(rule.flags, rule.program)));
    return;
  }
  // Shown as it is stored and as receiving treats it; written back unchanged unless edited.
  item->setData(0, kStoredTextRole, qs(stored.text));
  item->setText(3, qs(rulelist::faultText(stored.fault)));
  for (int column = 0; column < 4; ++column) item->setForeground(column, Qt::gray);
}

std::vector<rulelist::StoredRule> frmSet::rules() const {
  std::vector<rulelist::StoredRule> rules;
  for (int i = 0; i < lv->topLevelItemCount(); ++i) {
    auto* item = lv->topLevelItem(i);
    QString stored = item->data(0, kStoredTextRole).toString();
    if (!stored.isEmpty()) {
      rules.push_back(rulelist::readRuleList(ss(stored)).front());
      continue;
    }
    rulelist::StoredRule row;
    row.rule = {ss(item->text(0)), ss(item->text(1)), ss(item->text(2)), item->data(0, kFlagsRole).toInt(),
                ss(item->data(0, kProgramRole).toString())};
    rules.push_back(std::move(row));
  }
  return rules;
}

void frmSet::cmdOK_Click() {
  accountsettings::AccountSettings s;
  s.account = ss(txt_[0]->text());
  s.address = ss(txt_[1]->text());
  s.name = ss(txt_[2]->text());
  s.smtpHost = ss(txt_[3]->text());
  s.smtpPort = ss(txt_[8]->text());
  s.pop3Host = ss(txt_[4]->text());
  s.pop3Port = ss(txt_[9]->text());
  s.user = ss(txt_[5]->text());
  s.pass = ss(txt_[6]->text());
  s.keepOnServer = chk_0->isChecked();
  s.rules = rules();
  s.pop3CertPin = ss(pop3CertPin_);
  s.smtpCertPin = ss(smtpCertPin_);
  s.pop3Security = fSecurity(0);
  s.smtpSecurity = fSecurity(1);
  s.smtpLogin = static_cast<accountsettings::SmtpLogin>(cboSmtpAuth_->currentIndex());
  s.smtpUser = ss(txtSmtpUser_->text());
  s.smtpPass = ss(txtSmtpPass_->text());
  sSaveSignIn(s);
  if (!accountsettings::fSave(accountFolder_, s)) {
    // Nothing was written; the dialog stays open with what the user typed.
    QMessageBox::warning(this, windowTitle(), QStringLiteral("設定を保存できませんでした"));
    return;
  }
  // The access token of a sign-in here is kept for this run of the program; any other
  // may belong to settings that just changed.
  if (!signedIn_.access.empty() && s.auth == accountsettings::Auth::OAuth2)
    signin::fKeepSignIn(accountFolder_, signedIn_);
  else
    signin::sForgetAccessToken(accountFolder_);
  if (!txt_[0]->text().isEmpty()) emit accountNameChanged(txt_[0]->text());
  accept();
}

void frmSet::sSetUrlOption(int which) {
  opGroup_->setExclusive(false);
  for (int i = 0; i < 3; ++i) opDis_[i]->setChecked(i == which);
  opGroup_->setExclusive(true);
}

bool frmSet::isBodyTarget() const {
  return cbo_[0]->currentText() == QString::fromUtf8(rulelist::kBodyTarget.data(), qsizetype(rulelist::kBodyTarget.size()));
}

void frmSet::cbo_0_Change() {
  bool body = isBodyTarget();
  for (auto* op : opDis_) op->setEnabled(body);
  if (!body) sSetUrlOption(-1);
}

int frmSet::fInputFlags() const {
  using namespace rulelist;
  return (opDis_[0]->isChecked() ? kFlagOpenUrl : 0) | (chkDis_[1]->isChecked() ? kFlagMarkRead : 0) |
         (chkDis_[2]->isChecked() ? kFlagRunProgram : 0) | (opDis_[1]->isChecked() ? kFlagBrowser : 0);
}

void frmSet::sSetRowFromInputs(QTreeWidgetItem* item) {
  int flags = fInputFlags();
  QString program = txt_[50]->text();
  item->setText(0, cbo_[0]->currentText());
  item->setText(1, txt_[7]->text());
  item->setText(2, cbo_[1]->currentText());
  item->setData(0, kFlagsRole, flags);
  item->setData(0, kProgramRole, program);
  item->setData(0, kStoredTextRole, QVariant());
  for (int column = 0; column < 4; ++column) item->setData(column, Qt::ForegroundRole, QVariant());
  // The program is described only when it is to run and a path is given.
  int described = program.isEmpty() ? flags & ~rulelist::kFlagRunProgram : flags;
  item->setText(3, qs(rulelist::describeActions(described, ss(program))));
}

void frmSet::sClearInputs() {
  cbo_[0]->setCurrentIndex(0);
  cbo_[1]->setCurrentIndex(0);
  txt_[7]->clear();
  txt_[50]->clear();
  chkDis_[1]->setChecked(false);
  chkDis_[2]->setChecked(false);
  sSetUrlOption(-1);
}

bool frmSet::fRuleInputsUsable() {
  // "|" separates a rule's fields: stored, it would shift them and lose the rule.
  for (const QString& text : {txt_[7]->text(), cbo_[1]->currentText(), txt_[50]->text()}) {
    if (text.contains(QLatin1Char('|'))) {
      QMessageBox::warning(this, QStringLiteral("振り分け"),
                           QStringLiteral("検索文字列、移動先、実行ファイルに「|」は使えません"));
      return false;
    }
  }
  return true;
}

void frmSet::cmdDis_Click(int index) {
  switch (index) {
    case 0:  // add
      if (cbo_[0]->currentIndex() < 0 || !fRuleInputsUsable()) return;
      sSetRowFromInputs(new QTreeWidgetItem(lv));
      return;
    case 1:  // delete
      if (auto* item = lv->currentItem()) delete item;
      return;
    case 2: {  // browse
      QString path = QFileDialog::getOpenFileName(this, "自動実行するファイルを選択", QString(),
                                                  "すべてのファイル(*.*) (*)");
      if (!path.isEmpty()) txt_[50]->setText(path);
      return;
    }
    case 3:  // edit
      if (cbo_[0]->currentIndex() < 0 || !lv->currentItem() || !fRuleInputsUsable()) return;
      sSetRowFromInputs(lv->currentItem());
      return;
    case 4:
      sClearInputs();
      return;
  }
}

void frmSet::lv_Click(QTreeWidgetItem* item) {
  if (!item) return;
  cbo_[0]->setCurrentText(item->text(0));
  cbo_0_Change();
  cbo_[1]->setCurrentText(item->text(2));
  txt_[7]->setText(item->text(1));
  int flags = item->data(0, kFlagsRole).toInt();
  using namespace rulelist;
  sSetUrlOption((flags & kFlagOpenUrl) ? 0 : (flags & kFlagBrowser) ? 1 : -1);
  if (!isBodyTarget()) sSetUrlOption(-1);
  chkDis_[1]->setChecked(flags & kFlagMarkRead);
  chkDis_[2]->setChecked(flags & kFlagRunProgram);
  txt_[50]->setText(item->data(0, kProgramRole).toString());
}

void frmSet::easySetup(int provider) {
  const Provider& p = kProviders[provider];
  txt_[3]->setText(p.smtp);
  txt_[4]->setText(p.pop3);
  // A port the user entered stays; an empty one gets the provider's TLS port. Security
  // follows the port: TLS from the start on 465/995, else STARTTLS.
  const struct {
    int portBox, securityBox;
    const char* tlsPort;
  } sides[] = {{8, 1, kTlsSmtpPort}, {9, 0, kTlsPop3Port}};
  for (const auto& side : sides) {
    if (txt_[side.portBox]->text().isEmpty()) txt_[side.portBox]->setText(side.tlsPort);
    const bool tls = txt_[side.portBox]->text() == side.tlsPort;
    cboSecurity_[side.securityBox]->setCurrentIndex(tls ? 0 : 1);
    securityChosen_[side.securityBox] = true;
  }
  sShowSecurityState();
}

accountsettings::Security frmSet::fSecurity(int box) const {
  if (!securityChosen_[box]) return accountsettings::Security::Standard;
  return static_cast<accountsettings::Security>(cboSecurity_[box]->currentIndex() + 1);
}

void frmSet::sShowStandardSecurity(int box) {
  if (securityChosen_[box] || !cboSecurity_[box]) return;
  const QLineEdit* host = txt_[box == 0 ? 4 : 3];
  const QLineEdit* port = txt_[box == 0 ? 9 : 8];
  if (!host || !port) return;
  const auto shown = accountsettings::fEffectiveSecurity(accountsettings::Security::Standard, ss(host->text()),
                                                         ss(port->text()), box == 0 ? kTlsPop3Port : kTlsSmtpPort);
  // This machine's servers keep STARTTLS when offered: shown as STARTTLS.
  cboSecurity_[box]->setCurrentIndex(shown == accountsettings::Security::Tls ? 0 : 1);
}

void frmSet::sShowSecurityState() {
  const bool none = fSecurity(0) == accountsettings::Security::None ||
                    fSecurity(1) == accountsettings::Security::None;
  lblSecurityWarning_->setVisible(none);
  const bool own = cboSmtpAuth_->currentIndex() == static_cast<int>(accountsettings::SmtpLogin::Own);
  txtSmtpUser_->setEnabled(own);
  txtSmtpPass_->setEnabled(own);
}

void frmSet::sSetTabOrder() {
  // Reading order, page by page: the boxes were made before the rows that hold them.
  const char* basic[] = {"txt_0", "txt_1", "txt_2", "txt_3", "txt_8", "cmdDefault_0",
                         "cboSmtpSecurity", "txt_4", "txt_9", "cmdDefault_1", "cboPop3Security",
                         "cboAuth", "txt_5", "txt_6", "cboOAuthProvider", "txtOAuthAuthorize",
                         "txtOAuthToken", "txtOAuthScope", "txtOAuthClientId", "txtOAuthClientSecret",
                         "cmdSignIn", "cmdSignInCancel", "cboSmtpAuth", "txtSmtpUser", "txtSmtpPass", "chk_0",
                         "cmdEasy", "cmdCert"};
  const char* rules[] = {"cbo_0", "txt_7", "cbo_1", "opDis_0", "opDis_1", "opDis_2", "chkDis_1",
                         "chkDis_2", "txt_50", "cmdDis_2", "cmdDis_0", "cmdDis_3", "cmdDis_1",
                         "cmdDis_4", "lv"};
  auto chain = [this](auto& names) {
    QWidget* previous = nullptr;
    for (const char* name : names) {
      auto* w = findChild<QWidget*>(name);
      if (previous && w) setTabOrder(previous, w);
      if (w) previous = w;
    }
  };
  chain(basic);
  chain(rules);
}

void frmSet::cmdCert_Click() {
  // The servers as the boxes hold them now, as receiving and sending would reach them.
  if (txt_[4]->text().isEmpty() && txt_[3]->text().isEmpty()) {
    ask(QStringLiteral("確認するサーバがありません。POP3サーバかSMTPサーバを入力してください。"), false);
    return;
  }
  if (!txt_[4]->text().isEmpty())
    pop3CertPin_ = certtrust::fConfirm(
        "POP3", accountsettings::fJoinServer(ss(txt_[4]->text()), ss(txt_[9]->text()), '\t'), pop3CertPin_, ask, this,
        receive::fMailSecurity(fSecurity(0)));
  if (!txt_[3]->text().isEmpty())
    smtpCertPin_ = certtrust::fConfirm(
        "SMTP", accountsettings::fJoinServer(ss(txt_[3]->text()), ss(txt_[8]->text()), ':'), smtpCertPin_, ask, this,
        receive::fMailSecurity(fSecurity(1)));
}

bool frmSet::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut) {
    bool in = event->type() == QEvent::FocusIn;
    for (int i = 0; i < 10; ++i) {
      if (watched == txt_[i]) dialogparts::sMarkFocus(txt_[i], lbl_[i], in);
    }
    for (int i = 0; i < 2; ++i) {
      if (watched == cbo_[i]) dialogparts::sMarkFocus(cbo_[i], lblCbo_[i], in);
    }
    if (watched == txt_[50]) dialogparts::sMarkFocus(txt_[50], nullptr, in);
  }
  return QDialog::eventFilter(watched, event);
}
