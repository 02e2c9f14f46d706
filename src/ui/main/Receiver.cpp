#include "ui/main/Receiver.h"

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QMessageBox>
#include <QTimer>
#include <future>
#include <unordered_map>
#include <thread>

#include "ui/common/QtDesktop.h"
#include "ui/common/SpeechEngine.h"
#include "receive/autore.h"
#include "receive/notice.h"
#include "signin/accounttoken.h"
#include "store/folderTree.h"
#include "store/mailstore.h"

namespace {

// Marks the run in the window - the layout commands wait for its end - and clears the
// busy flag however the run ends.
class BusyScope {
 public:
  BusyScope(bool& flag, ReceiveWindow& form) : flag_(flag), form_(form) {
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
  ReceiveWindow& form_;
};

}  // namespace

Receiver::Receiver(ReceiveWindow& window, QObject* parent)
    : QObject(parent), window_(window), desktop_(std::make_unique<QtDesktop>(window.fProgramDir(), window.fWindow())) {
  setObjectName(QStringLiteral("Receiver"));
  watchedWindow_ = window_.fWindow();
  watchedWindow_->installEventFilter(this);
  connect(qApp, &QCoreApplication::aboutToQuit, this, [this] { closing_ = true; });
}

Receiver::~Receiver() = default;

bool Receiver::eventFilter(QObject* watched, QEvent* event) {
  // Closing the window unloads it for good; a run still under way only finishes quietly.
  // (The window is compared by address: while it is destroyed it can no longer be asked.)
  if (watched == watchedWindow_ && event->type() == QEvent::Close) closing_ = true;
  return QObject::eventFilter(watched, event);
}

void Receiver::sSetStatus(const std::string& text) {
  // A refused certificate: the status bar takes its head; the whole text, with the
  // fingerprint the user must compare, waits for the end of the run.
  if (std::string head = mail::fCertificateFailureHeadline(text); !head.empty()) {
    certificateFailures_.push_back(text);
    window_.sShowReceiveStatus(QString::fromStdString(head));
    return;
  }
  window_.sShowReceiveStatus(QString::fromStdString(text));
}

void Receiver::sShowCertificateFailures(bool userStarted) {
  std::vector<std::string> failures = std::move(certificateFailures_);
  certificateFailures_.clear();
  // A timer's run never opens a box: the status bar tells, and the next run again.
  if (!userStarted || failures.empty() || closing_) return;
  QString text;
  for (const auto& f : failures) text += QString::fromStdString(f) + "\n\n";
  QMessageBox::warning(window_.fWindow(), desktop::kTitle, text.trimmed());
}

mail::MailResult Receiver::fRcvMailOffThread(std::string_view server, std::string_view user,
                                             std::string_view pass, std::string_view command,
                                             std::string_view dest,
                                             const mail::Progress& progress,
                                             const mail::Saved& saved) {
  if (closing_) return std::string();
  struct Call {
    std::string server, user, pass, command, dest, pin;
    std::filesystem::path account;  // whose sign-in (OAuth 2.0 tokens are refreshed on the worker)
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
  call->account = signin::AccountScope::fCurrent();

  receivingText_ = window_.fReceiveStatus();
  done_ = 0;
  total_ = 0;
  shownDone_ = 0;
  inLibrary_ = true;
  QEventLoop loop;
  std::thread worker([call, &loop] {
    mail::CertificatePin pin(call->pin);
    mail::SecurityChoice security(call->security);
    signin::AccountScope account(call->account);
    call->result = signin::fRcvMail(call->server, call->user, call->pass, call->command, call->dest,
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
    window_.sShowReceiveStatus(receivingText_ + QStringLiteral(" %1/%2").arg(shownDone_).arg(total_.load()));
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
  const std::optional<receive::AccountRef> account = window_.fSelectedAccount();
  return account && sReceiveAccount(*account);
}

bool Receiver::sReceiveAccount(const receive::AccountRef& account) {
  if (busy_) return false;
  BusyScope busy(busy_, window_);
  speechSenders_.clear();
  const std::filesystem::path& settings = window_.fSettingsPath();
  receive::AccountRun run = receive::fReceiveAccount(
      account, settings, speechSenders_, *desktop_, [this](const std::string& t) { sSetStatus(t); },
      [this](std::size_t d, std::size_t t) { sPostProgress(d, t); },
      [this](auto... args) { return fRcvMailOffThread(args...); });
  speechSenders_ = std::move(run.speechSenders);
  sShowCertificateFailures(!timerRun_ && !window_.fTimerRun());
  if (!run.received || closing_) return run.received;
  sAnnounce(receive::fSpeechAfterOne(receive::fSpeechMode(settings), account.number, run.count,
                                     speechSenders_),
            run.summaryLine, run.filed);
  return true;
}

bool Receiver::sReceiveAll() {
  if (busy_) return false;
  BusyScope busy(busy_, window_);
  speechSenders_.clear();
  const std::vector<receive::AccountRef> accounts = window_.fAccounts();
  const std::filesystem::path& settings = window_.fSettingsPath();
  receive::AllRun all = receive::fReceiveAll(
      accounts, settings, *desktop_, [this](const std::string& t) { sSetStatus(t); },
      [this](std::size_t d, std::size_t t) { sPostProgress(d, t); },
      [this](auto... args) { return fRcvMailOffThread(args...); });
  speechSenders_ = std::move(all.speechSenders);
  sShowCertificateFailures(!window_.fTimerRun());
  // Nothing arrived: the counts and the user are left in peace; the list is read again
  // all the same, as it may have changed on disk meanwhile.
  if (all.accountsReceived == 0 || closing_) {
    if (!closing_) window_.sReloadList({}, {});
    return all.accountsReceived > 0;
  }
  sAnnounce(receive::fSpeechAfterAll(receive::fSpeechMode(settings), all.speechFragments,
                                     speechSenders_),
            all.summary, all.filed);
  return true;
}

void Receiver::sAutoRe() {
  const std::vector<receive::AccountRef> accounts = window_.fAccounts();
  if (busy_ || accounts.empty()) return;
  std::vector<int> numbers;
  for (const receive::AccountRef& a : accounts) numbers.push_back(a.number);
  auto step = receive::fAutoReNext(numbers, window_.autoRePosition());
  if (!step) return;
  window_.setAutoRePosition(step->position);
  // The user's node stays selected and listed: the tree never shows one folder while the
  // list holds another.
  for (const receive::AccountRef& a : accounts) {
    if (a.number != step->account) continue;
    timerRun_ = true;
    sReceiveAccount(a);
    timerRun_ = false;
    break;
  }
}

void Receiver::sAnnounce(const std::string& phonetic, const std::string& notice,
                         const std::vector<receive::FiledMail>& filed) {
  // The folder counts are worked out from the disk while the list is read again; they
  // are shown after the notice, as the last step of the run.
  auto counts = std::async(std::launch::async, window_.fMailCounter());
  // The rows of new mails in the listed folder need no second read of their files.
  ReceiveWindow::KnownRows known;
  const std::filesystem::path listed = window_.fSelectedFolder();
  if (!listed.empty()) {
    const std::filesystem::path::string_type prefix = (listed / "").native();
    const std::filesystem::path::string_type separators = std::filesystem::path("/\\").native();
    for (const receive::FiledMail& m : filed) {
      // Directly in the listed folder: its path is the folder's and a name.
      const auto& path = m.path.native();
      if (path.size() <= prefix.size() || path.compare(0, prefix.size(), prefix) != 0 ||
          path.find_first_of(separators, prefix.size()) != path.npos)
        continue;
      known.emplace(mailstore::fUtf8(m.path.filename()),
                    maillist::Headers{maillist::fValueOf(m.subjectElement), maillist::fValueOf(m.fromElement),
                                      maillist::fValueOf(m.dateElement)});
    }
  }
  window_.sReloadList(listed, std::move(known));
  sSpeak(phonetic);
  sNotify(notice);
  window_.sShowMailCounts(counts.get());
}

void Receiver::sSpeak(const std::string& phonetic) {
  SpeechEngine* engine = window_.fSpeech();
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
  switch (receive::fNotifyMode(window_.fSettingsPath())) {
    case 1:
      if (balloonHook) {
        balloonHook(desktop::kTitle, shown);
      } else {
        window_.sTrayBalloon(desktop::kTitle, shown);
      }
      break;
    case 2:
      QMessageBox::information(window_.fWindow(), desktop::kTitle, shown, QMessageBox::Ok);
      break;
    default:
      break;
  }
}
