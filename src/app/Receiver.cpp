#include "app/Receiver.h"

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QMessageBox>
#include <QTimer>
#include <QTreeWidget>
#include <future>
#include <unordered_map>
#include <thread>

#include "app/FolderTree.h"
#include "app/Form1.h"
#include "app/MailListModel.h"
#include "app/QtDesktop.h"
#include "receive/autore.h"
#include "receive/notice.h"
#include "store/folderTree.h"
#include "store/mailstore.h"

namespace {

std::string u8(const QString& s) { return s.toStdString(); }

// Marks the run in the window - the layout commands wait for its end - and clears the
// busy flag however the run ends.
class BusyScope {
 public:
  BusyScope(bool& flag, Form1& form) : flag_(flag), form_(form) {
    flag_ = true;
    form_.sSetReceiving(true);
  }
  ~BusyScope() {
    flag_ = false;
    form_.sSetReceiving(false);
  }
  BusyScope(const BusyScope&) = delete;
  BusyScope& operator=(const BusyScope&) = delete;

 private:
  bool& flag_;
  Form1& form_;
};

}  // namespace

Receiver::Receiver(Form1* form)
    : QObject(form), form_(form), desktop_(std::make_unique<QtDesktop>(form)) {
  setObjectName(QStringLiteral("Receiver"));
  form_->sSetMenuHandler(Form1::Menu::File, 1, [this] {
    if (form_->fAccountChosen()) sReceiveSelected();
  });
  form_->sSetMenuHandler(Form1::Menu::File, 2, [this] { sReceiveAll(); });
  form_->autoReceiver = [this] { sAutoRe(); };
  form_->installEventFilter(this);
  connect(qApp, &QCoreApplication::aboutToQuit, this, [this] { closing_ = true; });
}

Receiver::~Receiver() = default;

bool Receiver::eventFilter(QObject* watched, QEvent* event) {
  // Closing the window unloads it for good; a run still under way only finishes quietly.
  if (watched == form_ && event->type() == QEvent::Close) closing_ = true;
  return QObject::eventFilter(watched, event);
}

receive::AccountRef Receiver::fAccountOf(QTreeWidgetItem* accountNode) const {
  receive::AccountRef account;
  account.number = folderTree::fNodeAccount(u8(FolderTree::fKey(accountNode)));
  account.caption = u8(accountNode->text(0));
  account.folder = mailstore::fAccountFolder(form_->fAccountPrefix(), account.number);
  return account;
}

void Receiver::sSetStatus(const std::string& text) {
  // A refused certificate: the status bar takes its head; the whole text, with the
  // fingerprint the user must compare, waits for the end of the run.
  if (std::string head = mail::fCertificateFailureHeadline(text); !head.empty()) {
    certificateFailures_.push_back(text);
    form_->sSetStatus(1, QString::fromStdString(head));
    return;
  }
  form_->sSetStatus(1, QString::fromStdString(text));
}

void Receiver::sShowCertificateFailures(bool userStarted) {
  std::vector<std::string> failures = std::move(certificateFailures_);
  certificateFailures_.clear();
  // A timer's run never opens a box: the status bar tells, and the next run again.
  if (!userStarted || failures.empty() || closing_) return;
  QString text;
  for (const auto& f : failures) text += QString::fromStdString(f) + "\n\n";
  QMessageBox::warning(form_, Form1::kTitle, text.trimmed());
}

mail::MailResult Receiver::fRcvMailOffThread(std::string_view server, std::string_view user,
                                             std::string_view pass, std::string_view command,
                                             std::string_view dest,
                                             const mail::Progress& progress,
                                             const mail::Saved& saved) {
  if (closing_) return std::string();
  struct Call {
    std::string server, user, pass, command, dest, pin;
    mail::Security security = mail::Security::Standard;
    mail::Progress progress;
    mail::Saved saved;
    mail::MailResult result;
    std::atomic<bool> done{false};
  };
  auto call = std::make_shared<Call>();
  call->server = server;
  call->user = user;
  call->pass = pass;
  call->command = command;
  call->dest = dest;
  call->progress = progress;
  call->saved = saved;
  call->pin = mail::CertificatePin::fCurrent();  // set for this thread by the account step
  call->security = mail::SecurityChoice::fCurrent();

  receivingText_ = form_->fStatus(1);
  done_ = 0;
  total_ = 0;
  shownDone_ = 0;
  inLibrary_ = true;
  QEventLoop loop;
  std::thread worker([call, &loop] {
    mail::CertificatePin pin(call->pin);
    mail::SecurityChoice security(call->security);
    call->result = mail::RcvMail(call->server, call->user, call->pass, call->command, call->dest,
                                 call->progress, call->saved);
    call->done = true;
    QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
  });
  // The window goes on painting and taking input while the library works. When the
  // program quits meanwhile, the loop ends early and the dialogue is simply waited for.
  if (!call->done) loop.exec();
  worker.join();
  inLibrary_ = false;
  return std::move(call->result);
}

void Receiver::sPostProgress(std::size_t done, std::size_t total) {
  // Worker thread: keep the latest figures and wake the window only when it is not
  // already due to show them.
  done_ = done;
  total_ = total;
  if (!progressPosted_.exchange(true))
    QMetaObject::invokeMethod(this, [this] { sShowProgress(); }, Qt::QueuedConnection);
}

void Receiver::sShowProgress() {
  // A late report after the library returned must not cover the run's result.
  if (inLibrary_ && total_ != 0) {
    shownDone_ = done_.load();
    form_->sSetStatus(1, receivingText_ + QStringLiteral(" %1/%2").arg(shownDone_).arg(total_.load()));
  }
  // A fast dialogue reports hundreds of messages a second: the panel is repainted at
  // most once per pause, with the figures of its end.
  QTimer::singleShot(kProgressPause, this, [this] {
    if (inLibrary_ && done_ != shownDone_) {
      sShowProgress();
    } else {
      progressPosted_ = false;
    }
  });
}

bool Receiver::sReceiveSelected() {
  QTreeWidgetItem* node = form_->fTree()->currentItem();
  return node && sReceiveAccount(Form1::fGetRootNode(node));
}

bool Receiver::sReceiveAccount(QTreeWidgetItem* accountNode) {
  if (busy_) return false;
  BusyScope busy(busy_, *form_);
  speechSenders_.clear();
  const receive::AccountRef account = fAccountOf(accountNode);
  const std::filesystem::path& settings = form_->fSettingsPath();
  receive::AccountRun run = receive::fReceiveAccount(
      account, settings, speechSenders_, *desktop_, [this](const std::string& t) { sSetStatus(t); },
      [this](std::size_t d, std::size_t t) { sPostProgress(d, t); },
      [this](auto... args) { return fRcvMailOffThread(args...); });
  speechSenders_ = std::move(run.speechSenders);
  sShowCertificateFailures(!timerRun_ && !form_->timerRun);
  if (!run.received || closing_) return run.received;
  sAnnounce(receive::fSpeechAfterOne(receive::fSpeechMode(settings), account.number, run.count,
                                     speechSenders_),
            run.summaryLine, run.filed);
  return true;
}

bool Receiver::sReceiveAll() {
  if (busy_) return false;
  BusyScope busy(busy_, *form_);
  speechSenders_.clear();
  std::vector<receive::AccountRef> accounts;
  QTreeWidget* tv = form_->fTree();
  for (int i = 0; i < tv->topLevelItemCount(); ++i) accounts.push_back(fAccountOf(tv->topLevelItem(i)));
  const std::filesystem::path& settings = form_->fSettingsPath();
  receive::AllRun all = receive::fReceiveAll(
      accounts, settings, *desktop_, [this](const std::string& t) { sSetStatus(t); },
      [this](std::size_t d, std::size_t t) { sPostProgress(d, t); },
      [this](auto... args) { return fRcvMailOffThread(args...); });
  speechSenders_ = std::move(all.speechSenders);
  sShowCertificateFailures(!form_->timerRun);
  // Nothing arrived: the counts and the user are left in peace; the list is read again
  // all the same, as it may have changed on disk meanwhile.
  if (all.accountsReceived == 0 || closing_) {
    if (!closing_) sReloadList();
    return all.accountsReceived > 0;
  }
  sAnnounce(receive::fSpeechAfterAll(receive::fSpeechMode(settings), all.speechFragments,
                                     speechSenders_),
            all.summary, all.filed);
  return true;
}

void Receiver::sAutoRe() {
  QTreeWidget* tv = form_->fTree();
  if (busy_ || tv->topLevelItemCount() == 0) return;
  std::vector<int> numbers;
  for (int i = 0; i < tv->topLevelItemCount(); ++i)
    numbers.push_back(folderTree::fNodeAccount(u8(FolderTree::fKey(tv->topLevelItem(i)))));
  auto step = receive::fAutoReNext(numbers, form_->autoRePosition);
  if (!step) return;
  form_->autoRePosition = step->position;
  QTreeWidgetItem* account = nullptr;
  for (int i = 0; i < tv->topLevelItemCount() && !account; ++i)
    if (numbers[i] == step->account) account = tv->topLevelItem(i);
  // The user's node stays selected and listed: the tree never shows one folder while the
  // list holds another.
  if (account) {
    timerRun_ = true;
    sReceiveAccount(account);
    timerRun_ = false;
  }
}

void Receiver::sAnnounce(const std::string& phonetic, const std::string& notice,
                         const std::vector<receive::FiledMail>& filed) {
  // The folder counts are worked out from the disk while the list is read again; they
  // are shown after the notice, as the last step of the run.
  auto counts = std::async(std::launch::async, form_->fMailCounter());
  // The rows of new mails in the listed folder need no second read of their files.
  std::unordered_map<std::string, Form1::KnownRow> known;
  std::filesystem::path listed;
  if (QTreeWidgetItem* node = form_->fTree()->currentItem(); node && node->parent()) {
    listed = mailstore::fNormalFolder(form_->fNodeFolder(node));
    const std::filesystem::path::string_type prefix = (listed / "").native();
    const std::filesystem::path::string_type separators = std::filesystem::path("/\\").native();
    auto value = [](const std::string& element, size_t label) {
      return element.size() > label
                 ? QString::fromUtf8(element.data() + label, static_cast<qsizetype>(element.size() - label))
                 : QString();
    };
    for (const receive::FiledMail& m : filed) {
      // Directly in the listed folder: its path is the folder's and a name.
      const auto& path = m.path.native();
      if (path.size() <= prefix.size() || path.compare(0, prefix.size(), prefix) != 0 ||
          path.find_first_of(separators, prefix.size()) != path.npos)
        continue;
      known.emplace(mailstore::fUtf8(m.path.filename()),
                    Form1::KnownRow{value(m.subjectElement, 9), value(m.fromElement, 6),
                                    value(m.dateElement, 6)});
    }
  }
  form_->sPrimeListRows(listed, std::move(known));
  sReloadList();
  form_->sPrimeListRows({}, {});
  sSpeak(phonetic);
  sNotify(notice);
  form_->sShowMailCounts(counts.get());
}

void Receiver::sReloadList() {
  QTreeWidgetItem* node = form_->fTree()->currentItem();
  if (node && node->parent()) form_->sShowNode(node);
}

void Receiver::sSpeak(const std::string& phonetic) {
  SpeechEngine* engine = form_->fSpeech();
  if (phonetic.empty() || !engine) return;
  try {
    engine->sPlay(phonetic);
  } catch (const std::exception&) {
    // Speech is a courtesy: a failing engine never stops the run.
  }
}

void Receiver::sNotify(const std::string& text) {
  // The summary's lines end in CR LF; Qt's labels break lines at LF.
  QString shown = QString::fromStdString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  switch (receive::fNotifyMode(form_->fSettingsPath())) {
    case 1:
      if (balloonHook) {
        balloonHook(Form1::kTitle, shown);
      } else {
        form_->sTrayBalloon(Form1::kTitle, shown);
      }
      break;
    case 2:
      QMessageBox::information(form_, Form1::kTitle, shown, QMessageBox::Ok);
      break;
    default:
      break;
  }
}
