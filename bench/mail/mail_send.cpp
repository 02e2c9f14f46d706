// 200 sends of a short Japanese mail to the local SMTP sink, one SendMailEx call each in
// one process, against curl sending the same 200 messages over one connection.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "mail/mail.h"
#include "mailservers.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

int main() {
  constexpr int kSends = 200;
  auto servers = qbtest::MailServers::fStartForLibrary(60);
  if (!servers) return 0;
  std::string log = servers->dir + "/log.txt";
  std::printf("send %d mails, one call each\n", kSends);
  struct Case {
    const char* name;
    bool login;
  } cases[] = {{"plain/STARTTLS", false}, {"STARTTLS+AUTH", true}};
  for (auto& c : cases) {
    auto t0 = Clock::now();
    int failed = 0;
    for (int i = 0; i < kSends; ++i) {
      mail::SendStatus r =
          c.login
              ? mail::SendMailEx(log, servers->smtpServer(), "carol@localhost", "alice@localhost",
                                 "ベンチマーク " + std::to_string(i), "本文です。\r\n", "", "alice",
                                 "secret")
              : mail::SendMailEx(log, servers->smtpServer(), "carol@localhost", "alice@localhost",
                                 "ベンチマーク " + std::to_string(i), "本文です。\r\n", "");
      if (!r.sent) ++failed;
    }
    double secs = std::chrono::duration<double>(Clock::now() - t0).count();
    std::printf("%-15s SendMailEx %.3f s (%d failed)\n", c.name, secs, failed);
  }
  // curl: the same count over one connection (the URL repeated with --next).
  fs::path msg = fs::path(servers->dir) / "curl.eml";
  std::ofstream(msg) << "From: alice@localhost\r\nTo: carol@localhost\r\nSubject: bench\r\n\r\nbody\r\n";
  std::string cmd = "curl -s --cacert " + servers->caFile;
  for (int i = 0; i < kSends; ++i) {
    if (i) cmd += " --next";
    cmd += " --url smtp://127.0.0.1:" + std::to_string(servers->smtp) +
           "/localhost --mail-from alice@localhost --mail-rcpt carol@localhost --upload-file " + msg.string();
  }
  auto t0 = Clock::now();
  int rc = std::system(cmd.c_str());
  double secs = std::chrono::duration<double>(Clock::now() - t0).count();
  std::printf("%-15s curl       %.3f s (exit %d)\n", "plain", secs, rc);
  return 0;
}
