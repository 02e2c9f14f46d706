// What a slow link costs a receive run: 1,000 messages of about 4 KB from a local
// dovecot through a proxy that delays every chunk by half the round-trip time (order
// kept, no bandwidth limit), at 0, 20 and 50 ms RTT, keeping the mails on the server and
// deleting them, over POP3 with STLS and over POP3S. The cost in round trips is
// (time at RTT r - time at RTT 0) / r; mpop goes through the same proxy when installed.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "delayproxy.h"
#include "mail/mail.h"
#include "mail/uidlstore.h"
#include "mailservers.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kMessages = 1000;
constexpr int kRuns = 5;
constexpr int kRtts[] = {0, 20, 50};

std::string message(int i) {
  std::string m = "From: bench@example.com\nTo: alice@localhost\nSubject: bench " +
                  std::to_string(i) + "\nMessage-ID: <l" + std::to_string(i) + "@example.com>\n\n";
  while (m.size() < 4000) m += "The quick brown fox jumps over the lazy dog; line of filler.\n";
  return m;
}

// The fastest run: on a shared machine other work only ever adds time.
double best(const std::vector<double>& v) {
  return v.empty() ? -1 : *std::min_element(v.begin(), v.end());
}

void freshFolder(const fs::path& p) {
  fs::remove_all(p);
  fs::create_directories(p);
}

// The box holds exactly the 1,000 messages (a deleting run empties it).
void refill(qbtest::MailServers& s) {
  const std::size_t have = s.stored("alice").size();
  if (have == kMessages) return;
  for (const auto& f : s.stored("alice")) fs::remove(f);
  for (int i = 1; i <= kMessages; ++i) s.seed("alice", message(i));
}

double timeRcvMail(qbtest::MailServers& s, int port, bool implicitTls, bool del,
                   const fs::path& inbox) {
  refill(s);
  freshFolder(inbox);
  fs::remove(mail::UidlStore::listPath(inbox));  // every run fetches all
  mail::LibrarySettings settings = mail::fGetLibrarySettings();
  settings.pop3sPort = implicitTls ? port : s.pop3s;
  mail::sSetLibrarySettings(settings);
  auto t0 = Clock::now();
  auto r = mail::RcvMail("127.0.0.1\t" + std::to_string(port), "alice", "secret",
                         del ? "SAVEALLD" : "SAVEALL", "<" + inbox.string());
  double secs = std::chrono::duration<double>(Clock::now() - t0).count();
  auto* paths = std::get_if<std::vector<std::string>>(&r);
  if (!paths || paths->size() != kMessages || (del && !s.stored("alice").empty())) {
    std::fprintf(stderr, "RcvMail: %s\n", paths ? "wrong count" : std::get<std::string>(r).c_str());
    return -1;
  }
  return secs;
}

double timeMpop(qbtest::MailServers& s, int port, bool implicitTls, bool del, const fs::path& inbox) {
  refill(s);
  freshFolder(inbox);
  for (const char* sub : {"new", "cur", "tmp"}) fs::create_directories(inbox / sub);
  const fs::path conf = inbox.parent_path() / "mpoprc";
  const fs::path uidls = inbox.parent_path() / "mpop-uidls";
  {
    std::ofstream c(conf);
    c << "defaults\nkeep " << (del ? "off" : "on") << "\nonly_new off\nreceived_header off\n"
      << "account bench\nhost 127.0.0.1\nport " << port << "\n"
      << "tls on\ntls_starttls " << (implicitTls ? "off" : "on") << "\ntls_trust_file " << s.caFile
      << "\nauth user\nuser alice\npassword secret\ndelivery maildir " << inbox.string()
      << "\nuidls_file " << uidls.string() << "\n";
  }
  fs::permissions(conf, fs::perms::owner_read | fs::perms::owner_write);
  fs::remove(uidls);
  const std::string cmd = "mpop -q -C " + conf.string() + " bench";
  auto t0 = Clock::now();
  int rc = std::system(cmd.c_str());
  double secs = std::chrono::duration<double>(Clock::now() - t0).count();
  return rc == 0 ? secs : -1;
}

}  // namespace

int main() {
  auto servers = qbtest::MailServers::fStartForLibrary(60);
  if (!servers) return 0;
  const bool haveMpop = std::system("command -v mpop >/dev/null 2>&1") == 0;
  if (!haveMpop) std::printf("mpop not found: RcvMail only\n");
  const fs::path root = fs::path("/dev/shm") / ("qblat" + std::to_string(getpid()));
  std::printf("receive %d x ~4 KB through a delaying proxy, fastest of %d runs, inbox on tmpfs\n",
              kMessages, kRuns);
  std::printf("%-10s %-6s %-8s %9s %9s %9s   %s\n", "route", "mode", "client", "RTT 0", "RTT 20",
              "RTT 50", "cost in round trips at 20 / 50 ms");
  timeRcvMail(*servers, servers->pop3, false, false, root / "warm");  // dovecot's index
  for (bool implicitTls : {false, true}) {
    for (bool del : {false, true}) {
      struct Client {
        const char* name;
        std::function<double(int port, const fs::path&)> run;
      };
      std::vector<Client> clients = {
          {"RcvMail", [&](int port, const fs::path& inbox) {
             return timeRcvMail(*servers, port, implicitTls, del, inbox);
           }}};
      if (haveMpop)
        clients.push_back({"mpop", [&](int port, const fs::path& inbox) {
                             return timeMpop(*servers, port, implicitTls, del, inbox);
                           }});
      for (auto& client : clients) {
        double at[3];
        for (int k = 0; k < 3; ++k) {
          qbbench::DelayProxy proxy(implicitTls ? servers->pop3s : servers->pop3,
                                    std::chrono::microseconds(kRtts[k] * 500));
          std::vector<double> times;
          for (int r = 0; r < kRuns; ++r) {
            double t = client.run(proxy.port, root / "inbox");
            if (t >= 0) times.push_back(t);
          }
          at[k] = best(times);
        }
        std::printf("%-10s %-6s %-8s %8.3fs %8.3fs %8.3fs   %5.1f / %5.1f\n",
                    implicitTls ? "POP3S" : "POP3+STLS", del ? "delete" : "keep", client.name,
                    at[0], at[1], at[2], (at[1] - at[0]) / 0.020, (at[2] - at[0]) / 0.050);
        std::fflush(stdout);
      }
    }
  }
  fs::remove_all(root);
  return 0;
}
