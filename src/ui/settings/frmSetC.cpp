#include "ui/settings/frmSetC.h"
#include "ui/common/dialogparts.h"

#include <QButtonGroup>
#include <algorithm>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>

#include "store/mod_ini.h"

namespace {

constexpr std::string_view kSection = "Mail";

struct Option {
  const char* caption;
  const char* tip;
};

// A group of exclusive options named `prefix_0`, `prefix_1`, ...
QGroupBox* optionGroup(const char* title, const char* prefix, std::initializer_list<Option> options,
                       QRadioButton** out, QWidget* parent) {
  auto* box = new QGroupBox(title, parent);
  auto* layout = new QHBoxLayout(box);
  auto* group = new QButtonGroup(box);
  int i = 0;
  for (const Option& o : options) {
    out[i] = new QRadioButton(o.caption, box);
    out[i]->setObjectName(QString("%1_%2").arg(prefix).arg(i));
    out[i]->setToolTip(o.tip);
    group->addButton(out[i], i);
    layout->addWidget(out[i]);
    ++i;
  }
  return box;
}

// A number box that takes any digits while typing; the value is bounded to its range
// when the box is left (300 becomes the maximum, an empty box 0).
class DigitSpinBox : public QSpinBox {
 public:
  using QSpinBox::QSpinBox;

 protected:
  QValidator::State validate(QString& text, int&) const override {
    for (QChar c : text) {
      if (!c.isDigit()) return QValidator::Invalid;
    }
    return text.size() <= 9 ? QValidator::Acceptable : QValidator::Invalid;
  }
  int valueFromText(const QString& text) const override {
    return std::clamp(text.isEmpty() ? 0 : text.toInt(), minimum(), maximum());
  }
  void fixup(QString& text) const override { text = QString::number(valueFromText(text)); }
};

}  // namespace

frmSetC::frmSetC(std::filesystem::path settingsPath, QWidget* parent)
    : QDialog(parent), settingsPath_(std::move(settingsPath)) {
  setObjectName("frmSetC");
  setWindowTitle("メーラー設定");
  if (parent) setWindowIcon(parent->windowIcon());

  auto* tabs = new QTabWidget(this);
  tabs->setObjectName("TabStrip1");
  tabs->addTab(fBuildGeneralPage(), "全般");
  tabs->addTab(fBuildReceivePage(), "受信");

  auto* buttons = dialogparts::fOkCancelRow(this, [this] { cmdOK_Click(); });
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(tabs);
  layout->addLayout(buttons);
  sLoad();
}

QWidget* frmSetC::fBuildGeneralPage() {
  auto* page = new QWidget;
  page->setObjectName("picTab_0");
  auto* layout = new QVBoxLayout(page);
  layout->addWidget(optionGroup("新着メール音声通知", "optSpeech",
                                {{"なし", "音声通知を行いません"},
                                 {"受信数読み上げ", "各アカウントの受信件数を読み上げます"},
                                 {"指定アドレス読み上げ", "アドレス帳の設定したアドレスから受信した時に読み上げます"}},
                                optSpeech_, page));
  layout->addWidget(optionGroup("新着メール通知", "optNotify",
                                {{"なし", "通知を行いません"},
                                 {"バルーンヘルプ", "一定時間を経過すると自動で表示が消えます"},
                                 {"ダイアログ", "OKを押すまでダイアログが消えません"}},
                                optNotify_, page));
  auto* html = new QGroupBox("HTMLメール", page);
  chkUrl_ = new QCheckBox("URLクリックでブラウザを開く", html);
  chkUrl_->setObjectName("chkURLOpen");
  (new QVBoxLayout(html))->addWidget(chkUrl_);
  layout->addWidget(html);
  auto* view = new QGroupBox("表示", page);
  chkStripe_ = new QCheckBox("メール一覧をストライプ表示", view);
  chkStripe_->setObjectName("chkStripe");
  (new QVBoxLayout(view))->addWidget(chkStripe_);
  layout->addWidget(view);
  auto* security = new QGroupBox("簡易セキュリティ", page);
  cboKey_ = new QComboBox(security);
  cboKey_->setObjectName("cboKey");
  cboKey_->addItems({"", "Shift", "Ctrl", "Alt"});
  cboKey_->setToolTip("起動時に指定したキーを押していないと起動しないようになります");
  (new QVBoxLayout(security))->addWidget(cboKey_);
  layout->addWidget(security);
  return page;
}

QWidget* frmSetC::fBuildReceivePage() {
  auto* page = new QWidget;
  page->setObjectName("picTab_1");
  auto* layout = new QVBoxLayout(page);
  auto* autoBox = new QGroupBox("自動受信", page);
  auto* autoLayout = new QVBoxLayout(autoBox);
  auto* timeRow = new QHBoxLayout;
  bool seconds = mod_ini::fGetIniInt(kSection, "second", 0, settingsPath_) == 1;
  lblTime_ = new QLabel(seconds ? "受信間隔                     秒" : "受信間隔                     分", autoBox);
  lblTime_->setObjectName("lblTime");
  txtTime_ = new DigitSpinBox(autoBox);
  txtTime_->setObjectName("txtTime");
  txtTime_->setRange(0, 9999);
  txtTime_->setToolTip("0の時は自動受信を行いません");
  txtTime_->installEventFilter(this);
  timeRow->addWidget(lblTime_);
  timeRow->addWidget(txtTime_);
  autoLayout->addLayout(timeRow);
  autoLayout->addWidget(optionGroup("", "optAutoRe",
                                    {{"全受信", "全アカウントを一気に受信します"},
                                     {"１アカウント", "間隔を空けて１アカウントずつ受信します"}},
                                    optAutoRe_, autoBox));
  layout->addWidget(autoBox);
  auto* receiveRow = new QHBoxLayout;
  lblReceive_ = new QLabel("受信数", page);
  lblReceive_->setObjectName("lblReceive");
  txtReceive_ = new DigitSpinBox(page);
  txtReceive_->setObjectName("txtReceive");
  // Values above 256 are taken as 256 when the box is left; an empty box as 0.
  txtReceive_->setRange(0, 256);
  txtReceive_->setToolTip("一度に受信する数を設定します(0～256)。0の時は全受信します");
  txtReceive_->installEventFilter(this);
  receiveRow->addWidget(lblReceive_);
  receiveRow->addWidget(txtReceive_);
  layout->addLayout(receiveRow);
  layout->addStretch();
  return page;
}

void frmSetC::sLoad() {
  auto ini = mod_ini::IniFile::fLoad(settingsPath_);
  auto integer = [&](std::string_view key, long def) {
    return mod_ini::fParseIniInt(ini.fGet(kSection, key).value_or(""), def);
  };
  auto option = [&](std::string_view key, int count) {
    long v = mod_ini::fParseIniInt(ini.fGet(kSection, key).value_or("0"), 0);
    return v >= 0 && v < count ? static_cast<int>(v) : 0;
  };
  txtTime_->setValue(static_cast<int>(std::clamp(integer("AutoTime", 0), 0L, 9999L)));
  txtReceive_->setValue(static_cast<int>(std::clamp(integer("Receive", 0), 0L, 256L)));
  optAutoRe_[ini.fGet(kSection, "AutoRe").value_or("0") == "1" ? 1 : 0]->setChecked(true);
  optSpeech_[option("Speech", 3)]->setChecked(true);
  optNotify_[option("Notify", 3)]->setChecked(true);
  chkUrl_->setChecked(integer("URLOpen", 0) != 0);
  chkStripe_->setChecked(integer("Stripe", 1) != 0);
  long key = integer("sk", 0);
  cboKey_->setCurrentIndex(key >= 0 && key <= 3 ? static_cast<int>(key) : 0);
}

bool frmSetC::fOneAccountMode() const { return optAutoRe_[1]->isChecked(); }

void frmSetC::cmdOK_Click() {
  auto checked = [](QRadioButton* const* options, int count) {
    for (int i = 0; i < count; ++i) {
      if (options[i]->isChecked()) return i;
    }
    return 0;
  };
  // One rewrite of setting.ini for the whole dialog.
  auto ini = mod_ini::IniFile::fLoad(settingsPath_);
  auto put = [&](std::string_view key, long value) { ini.sSet(kSection, key, std::to_string(value)); };
  txtReceive_->interpretText();
  put("AutoTime", txtTime_->value());
  put("AutoRe", fOneAccountMode() ? 1 : 0);
  put("Receive", txtReceive_->value());
  put("Speech", checked(optSpeech_, 3));
  put("Notify", checked(optNotify_, 3));
  put("URLOpen", chkUrl_->isChecked() ? 1 : 0);
  put("Stripe", chkStripe_->isChecked() ? 1 : 0);
  put("sk", cboKey_->currentIndex());
  if (!ini.fSave(settingsPath_)) {
    // Nothing was written; the dialog stays open with the user's choices.
    QMessageBox::warning(this, windowTitle(), QStringLiteral("設定を保存できませんでした"));
    return;
  }
  accept();
}

bool frmSetC::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut) {
    bool in = event->type() == QEvent::FocusIn;
    if (watched == txtTime_) dialogparts::sMarkFocus(txtTime_, lblTime_, in);
    if (watched == txtReceive_) dialogparts::sMarkFocus(txtReceive_, lblReceive_, in);
  }
  return QDialog::eventFilter(watched, event);
}
