// Receiving 1,000 messages of about 4 KB through the program's whole run - File menu
// "受信(&R)" on the selected inbox, 10 filing rules, speech and balloon on - against the
// mail library's RcvMail alone, both keeping the mail on a local dovecot and saving into
// the same file system. Prints the median of a few runs and the run's extra share.
#include <QApplication>
#include <QTreeWidget>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>

#include "ui/common/EspeakSpeech.h"
#include "ui/main/FolderTree.h"
#include "ui/main/Form1.h"
#include "mail/mail.h"
#include "mailservers.h"
#include "store/mailstore.h"
#include "store/mod_ini.h"
#include "store/modCommon.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kMessages = 1000;
constexpr int kRuns = 21;  // the machine is shared: many runs, and the spread shown

const char* kSenders[] = {"ml-admin@example.jp", "shop@example.jp", "boss@example.jp",
                          "user3@example.jp", "friend@example.jp"};
const char* kSubjects[] = {"[news] weekly", "urgent: check", "Re: meeting", "notice"};

std::string message(int i) {
  std::string m = std::string("From: Name <") + kSenders[i % 5] + ">\nTo: team@example.jp\nSubject: " +
                  kSubjects[i % 4] + "\nMessage-ID: <rb" + std::to_string(i) + "@example.jp>\n\n";
  if (i % 100 == 0) m += "https://track.example.jp/" + std::to_string(i) + "\n";
  while (m.size() < 4000) m += "The quick brown fox jumps over the lazy dog; line of filler.\n";
  return m;
}

// The value below which the share `q` of the runs lie.
double quantile(std::vector<double> v, double q) {
  std::sort(v.begin(), v.end());
  return v[static_cast<size_t>(q * static_cast<double>(v.size() - 1) + 0.5)];
}
double median(const std::vector<double>& v) { return quantile(v, 0.5); }

double seconds(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

double timeRcvMail(const qbtest::MailServers& s, const fs::path& root) {
  fs::remove_all(root);
  fs::path inbox = root / "inbox";
  fs::create_directories(inbox);
  auto t0 = Clock::now();
  auto r = mail::RcvMail(s.popServer(), "alice", "secret", "SAVEALL", "<" + inbox.string());
  double secs = seconds(t0);
  auto* paths = std::get_if<std::vector<std::string>>(&r);
  if (!paths || paths->size() != kMessages) {
    std::fprintf(stderr, "RcvMail: %s\n", paths ? "wrong count" : std::get<std::string>(r).c_str());
    return -1;
  }
  return secs;
}

// A fresh program folder: account 01 keeping mail on the server, ten rules, readings,
// speech and balloon on.
void makeProgram(const qbtest::MailServers& s, const fs::path& program) {
  fs::remove_all(program);
  fs::path prefix = mailstore::fAccountPrefix(program);
  int number = mailstore::fCreateAccount(prefix);
  fs::path account = mailstore::fAccountFolder(prefix, number);
  for (const char* sub : {"ml", "news", "shop", "boss"}) fs::create_directories(account / "受信箱" / sub);
  modCommon::sSetAccountValue(account, "Account", "ベンチ");
  modCommon::sSetAccountValue(account, "POP3", s.popServer());
  modCommon::sSetAccountValue(account, "User", "alice");
  modCommon::sSetAccountValue(account, "Pass", "secret");
  mod_ini::fWriteIniString("Mail", "SvrDel", "1", account / "set.ini");
  mod_ini::fWriteIniString(
      "Mail", "Distribute",
      "差出人|ml-admin@|受信箱\\ml|2||[件名|news]|受信箱\\news|0||[差出人|shop@|受信箱\\shop|2||["
      "差出人|boss@|受信箱\\boss|0||[件名|urgent||2||[宛先|team@||0||[本文|https://track.||8||["
      "本文|unsubscribe||0||[件名|Re:||0||[差出人|nobody-matches@||2||[",
      account / "set.ini");
  fs::path ini = program / "setting.ini";
  mod_ini::fWriteIniString("Mail", "Speech", "2", ini);
  mod_ini::fWriteIniString("Mail", "Notify", "1", ini);
  mod_ini::fWriteIniString("Speech", "boss@example.jp", "ぶちょう", ini);
  mod_ini::fWriteIniString("Speech", "friend@example.jp", "ともだち", ini);
}

double timeWholeRun(const qbtest::MailServers& s, const fs::path& program, int& received) {
  makeProgram(s, program);
  Form1 form(QString::fromStdString(program.string()));
  form.fTree()->setCurrentItem(form.fNode(QStringLiteral("受信箱01")));
  auto t0 = Clock::now();
  form.mnuFileItem_Click(1);
  double secs = seconds(t0);
  received = static_cast<int>(mailstore::fListMailFiles(program / "MailBox" / "Account01" / "受信箱").size());
  for (const char* sub : {"ml", "news", "shop", "boss"})
    received += static_cast<int>(
        mailstore::fListMailFiles(program / "MailBox" / "Account01" / "受信箱" / sub).size());
  return secs;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  auto servers = qbtest::MailServers::fStartForLibrary(60);
  if (!servers) return 0;
  for (int i = 1; i <= kMessages; ++i) servers->seed("alice", message(i));
  {
    // What the engine adds to the program's start-up (the synthesiser's first start).
    auto t0 = Clock::now();
    EspeakSpeech engine;
    std::printf("speech engine start: %.1f ms (%s)\n", seconds(t0) * 1000,
                engine.fAvailable() ? "available" : "not available");
  }
  Form1::sSetSpeechFactory([] { return std::make_unique<EspeakSpeech>(); });

  fs::path root = fs::temp_directory_path() / ("qbrecvbench" + std::to_string(std::random_device{}()));
  timeRcvMail(*servers, root / "warm");  // dovecot's index built once, before any timing
  std::vector<double> alone, whole;
  int received = 0;
  for (int r = 0; r < kRuns; ++r) {
    alone.push_back(timeRcvMail(*servers, root / "alone"));
    whole.push_back(timeWholeRun(*servers, root / "program", received));
  }
  double a = median(alone), w = median(whole);
  // Each whole run against the RcvMail run just before it: the pair shares the machine's
  // state of the moment, so a busy spell on a shared host moves both.
  std::vector<double> pairs;
  for (int r = 0; r < kRuns; ++r) pairs.push_back((whole[r] - alone[r]) / alone[r] * 100);
  std::printf("receive %d x ~4 KB, POP3+STLS, keep on server, %s, median of %d runs\n", kMessages,
              root.parent_path().c_str(), kRuns);
  std::printf("RcvMail alone                        %.3f s  (quartiles %.3f-%.3f)\n", a,
              quantile(alone, 0.25), quantile(alone, 0.75));
  std::printf("whole run (10 rules, speech, notice) %.3f s  (quartiles %.3f-%.3f; %d mails filed)\n", w,
              quantile(whole, 0.25), quantile(whole, 0.75), received);
  std::printf(
      "the run adds                         %+.1f %% (medians); per pair %+.1f %% (quartiles "
      "%+.1f-%+.1f)\n",
      (w - a) / a * 100, median(pairs), quantile(pairs, 0.25), quantile(pairs, 0.75));
  fs::remove_all(root);
  return 0;
}
