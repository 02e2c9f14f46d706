// Receiving 1,000 messages of about 4 KB from a local dovecot, keeping them on the
// server: RcvMail against mpop (when installed), inboxes on tmpfs and on disk, POP3 with
// STLS and POP3S. Prints the median of a few runs.
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "mail/mail.h"
#include "mail/uidlstore.h"
#include "mailservers.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kMessages = 1000;
constexpr int kRuns = 5;

std::string message(int i) {
  std::string m = "From: bench@example.com\nTo: alice@localhost\nSubject: bench " +
                  std::to_string(i) + "\nMessage-ID: <b" + std::to_string(i) + "@example.com>\n\n";
  while (m.size() < 4000) m += "The quick brown fox jumps over the lazy dog; line of filler.\n";
  return m;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

void freshFolder(const fs::path& p) {
  fs::remove_all(p);
  fs::create_directories(p);
}

double timeRcvMail(const qbtest::MailServers& s, const fs::path& inbox, bool implicitTls) {
  freshFolder(inbox);
  fs::remove(mail::UidlStore::listPath(inbox));  // kept beside the inbox: every run fetches all
  auto t0 = Clock::now();
  auto r = mail::RcvMail(s.popServer(implicitTls), "alice", "secret", "SAVEALL", "<" + inbox.string());
  double secs = std::chrono::duration<double>(Clock::now() - t0).count();
  auto* paths = std::get_if<std::vector<std::string>>(&r);
  if (!paths || paths->size() != kMessages) {
    std::fprintf(stderr, "RcvMail: %s\n", paths ? "wrong count" : std::get<std::string>(r).c_str());
    return -1;
  }
  return secs;
}

double timeMpop(const qbtest::MailServers& s, const fs::path& inbox, bool implicitTls) {
  freshFolder(inbox);
  for (const char* sub : {"new", "cur", "tmp"}) fs::create_directories(inbox / sub);
  fs::path conf = inbox.parent_path() / "mpoprc";
  {
    std::ofstream c(conf);
    c << "defaults\nkeep on\nonly_new off\n"
      << "account bench\nhost 127.0.0.1\nport " << (implicitTls ? s.pop3s : s.pop3) << "\n"
      << "tls on\ntls_starttls " << (implicitTls ? "off" : "on") << "\ntls_trust_file " << s.caFile
      << "\nauth user\nuser alice\npassword secret\ndelivery maildir " << inbox.string()
      << "\nuidls_file " << (inbox.parent_path() / "mpop-uidls").string() << "\n";
  }
  fs::permissions(conf, fs::perms::owner_read | fs::perms::owner_write);
  fs::remove(inbox.parent_path() / "mpop-uidls");
  std::string cmd = "mpop -q -C " + conf.string() + " bench";
  auto t0 = Clock::now();
  int rc = std::system(cmd.c_str());
  double secs = std::chrono::duration<double>(Clock::now() - t0).count();
  if (rc != 0) return -1;
  return secs;
}

}  // namespace

int main() {
  auto servers = qbtest::MailServers::fStartForLibrary(60);
  if (!servers) return 0;
  for (int i = 1; i <= kMessages; ++i) servers->seed("alice", message(i));
  const bool haveMpop = std::system("command -v mpop >/dev/null 2>&1") == 0;
  std::printf("receive %d x ~4 KB, keep on server, median of %d runs\n", kMessages, kRuns);
  struct Place {
    const char* name;
    fs::path root;
  } places[] = {{"tmpfs", fs::path("/dev/shm") / ("qbbench" + std::to_string(getpid()))},
                {"disk", fs::path("/var/tmp") / ("qbbench" + std::to_string(getpid()))}};
  // Warm dovecot's index once so every timed run sees the same server.
  timeRcvMail(*servers, places[0].root / "warm", false);
  for (auto& place : places) {
    for (bool tls : {false, true}) {
      std::vector<double> ours, theirs;
      for (int r = 0; r < kRuns; ++r) {
        ours.push_back(timeRcvMail(*servers, place.root / "inbox", tls));
        if (haveMpop) theirs.push_back(timeMpop(*servers, place.root / "mpop", tls));
      }
      std::printf("%-6s %-11s RcvMail %.3f s", place.name, tls ? "POP3S" : "POP3+STLS", median(ours));
      if (haveMpop) std::printf("   mpop %.3f s", median(theirs));
      std::printf("\n");
    }
    fs::remove_all(place.root);
  }
  if (!haveMpop) std::printf("(mpop not installed: no peer figure)\n");
  return 0;
}
