#pragma once
// Receiving in the main window: File menu "受信(&R)" (the selected node's account) and
// "全アカウント受信(&A)", and the timer's runs (all accounts, or one account per tick in
// turn). The mail library's blocking dialogue runs on a worker thread while the window
// keeps painting and shows the progress; filing, status texts, speech and notices run on
// the window's thread. One run at a time: commands and ticks that come during a run are
// dropped.
#include <QObject>
#include <QString>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>
#include <string_view>

#include "mail/mail.h"
#include "receive/receive.h"
#include "ui/main/ReceiveWindow.h"

class QtDesktop;

class Receiver : public QObject {
  Q_OBJECT
 public:
  // Runs in `window`, which the main window wires to File items 1 and 2 and the timer.
  Receiver(ReceiveWindow& window, QObject* parent);
  ~Receiver() override;

  // 受信(&R) for the account of the selected node; true when mail arrived.
  bool sReceiveSelected();
  // 全アカウント受信(&A); true when any account received mail.
  bool sReceiveAll();
  // One tick of one-account mode: the next account in the rotation; the selection and
  // the list stay the user's.
  void sAutoRe();

  bool fBusy() const { return busy_; }
  // The senders' readings collected by the last run.
  const std::string& fSpeechSenders() const { return speechSenders_; }

  // Where balloons go instead of the tray icon (tests record them; empty = the tray).
  std::function<void(const QString& title, const QString& text)> balloonHook;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // The account step and what follows it, for one account.
  bool sReceiveAccount(const receive::AccountRef& account);
  void sSetStatus(const std::string& text);
  // After a run: a message box with each refused certificate's whole text, for a run the
  // user started.
  void sShowCertificateFailures(bool userStarted);
  mail::MailResult fRcvMailOffThread(std::string_view server, std::string_view user,
                                     std::string_view pass, std::string_view command,
                                     std::string_view dest, const mail::Progress& progress,
                                     const mail::Saved& saved);
  void sPostProgress(std::size_t done, std::size_t total);
  void sShowProgress();
  // After mail arrived: list reloaded, speech, notice, folder counts.
  void sAnnounce(const std::string& phonetic, const std::string& notice,
                 const std::vector<receive::FiledMail>& filed);
  void sSpeak(const std::string& phonetic);
  void sNotify(const std::string& text);

  ReceiveWindow& window_;
  QObject* watchedWindow_ = nullptr;
  std::unique_ptr<QtDesktop> desktop_;
  std::string speechSenders_;
  bool busy_ = false;
  bool timerRun_ = false;  // a one-account tick runs
  std::vector<std::string> certificateFailures_;  // whole texts of this run
  bool closing_ = false;  // the window is going away: no more library calls or notices

  // Progress of the library call under way (written by the worker, shown by the window).
  bool inLibrary_ = false;
  QString receivingText_;
  std::atomic<std::size_t> done_{0};
  std::atomic<std::size_t> total_{0};
  std::atomic<bool> progressPosted_{false};  // a showing of the figures is due or pausing
  std::size_t shownDone_ = 0;
  static constexpr std::chrono::milliseconds kProgressPause{40};
};
