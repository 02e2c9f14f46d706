// Sending drafts as the composer does (fSend: read set.ini, send, keep the copy in the
// sent box) against the local SMTP sink: 200 mails one call each, compared with curl
// sending 200 over one connection; then the peak memory growth of a 20 MB attachment.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "compose/outgoing.h"
#include "mail/mimebuild.h"
#include "mailservers.h"
#include "store/accountsettings.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

long peakKb() {
  std::ifstream in("/proc/self/status");
  for (std::string line; std::getline(in, line);)
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
  return -1;
}

double since(Clock::time_point t0) {
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

void setAccount(const fs::path& account, int port, bool login) {
  accountsettings::AccountSettings s;
  s.address = "alice@localhost";
  s.name = "ベンチ 太郎";
  s.smtpHost = "127.0.0.1";
  s.smtpPort = std::to_string(port);
  if (login) {
    s.user = "alice";
    s.pass = "secret";
  }
  accountsettings::fSave(account, s);
}

}  // namespace

int main() {
  constexpr int kSends = 200;
  auto servers = qbtest::MailServers::fStartForLibrary(60);
  if (!servers) return 0;
  const fs::path account = fs::path(servers->dir) / "Account01";
  const fs::path log = fs::path(servers->dir) / "log.txt";
  fs::create_directories(account);

  std::printf("send %d drafts through fSend, one call each (copy kept in the sent box)\n", kSends);
  // The copy is flushed to disk: the same run with the account folder in memory (where
  // there is such a file system) shows what the disk adds.
  const fs::path shm =
      fs::path("/dev/shm") / ("qb-bench-" + std::to_string(::getpid())) / "Account01";
  std::error_code ec;
  fs::create_directories(shm, ec);
  struct Run {
    fs::path folder;
    bool login;
    const char* where;
  } runs[] = {{account, false, "disk"},
              {account, true, "disk"},
              {shm, false, "memory"},
              {shm, true, "memory"}};
  for (auto& [folder, login, where] : runs) {
    if (!fs::is_directory(folder)) continue;
    setAccount(folder, servers->smtp, login);
    int failed = 0, copies = 0;
    auto t0 = Clock::now();
    for (int i = 0; i < kSends; ++i) {
      compose::Draft d{"carol@localhost", "", "", "ベンチマーク " + std::to_string(i),
                       "本文です。\r\n",  {}};
      auto r = compose::fSend(log, folder, d);
      failed += !r.sent;
      copies += r.copy.ok;
    }
    std::printf("%-15s fSend %.3f s (%d failed, %d copies on %s)\n",
                login ? "STARTTLS+AUTH" : "plain/STARTTLS", since(t0), failed, copies, where);
  }
  fs::remove_all(shm.parent_path(), ec);

  fs::path msg = fs::path(servers->dir) / "curl.eml";
  std::ofstream(msg)
      << "From: =?UTF-8?B?44OZ44Oz44OBIOWkqumDjg==?= <alice@localhost>\r\nTo: carol@localhost\r\n"
         "Subject: =?ISO-2022-JP?B?GyRCJVklcyVBJV4hPCUvGyhC?=\r\nMIME-Version: 1.0\r\n"
         "Content-Type: text/plain; charset=ISO-2022-JP\r\n\r\n\x1b$BK\\J8$G$9!#\x1b(B\r\n";
  std::string cmd = "curl -s --cacert " + servers->caFile;
  for (int i = 0; i < kSends; ++i) {
    if (i) cmd += " --next";
    cmd += " --url smtp://127.0.0.1:" + std::to_string(servers->smtp) +
           "/localhost --mail-from alice@localhost --mail-rcpt carol@localhost --upload-file " +
           msg.string();
  }
  auto t0 = Clock::now();
  int rc = std::system(cmd.c_str());
  std::printf("%-15s curl  %.3f s (exit %d, one connection)\n", "plain", since(t0), rc);

  // A 20 MB attachment, written in pieces so the file itself never sits in memory.
  constexpr std::size_t kSize = 20u << 20;
  fs::path big = fs::path(servers->dir) / "大きな添付.bin";
  {
    std::ofstream out(big, std::ios::binary);
    std::string chunk(1 << 20, '\0');
    unsigned v = 12345;
    for (std::size_t done = 0; done < kSize; done += chunk.size()) {
      for (auto& c : chunk) c = static_cast<char>((v = v * 1103515245u + 12345u) >> 24);
      out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    }
  }
  setAccount(account, servers->smtp, true);
  long before = peakKb();
  std::uint64_t calls = 0, lastDone = 0, total = 0;
  t0 = Clock::now();
  auto r = compose::fSend(
      log, account, {"carol@localhost", "", "", "大きな添付", "添付します。\r\n", {big.string()}},
      [&](std::uint64_t done, std::uint64_t all) {
        ++calls;
        lastDone = done;
        total = all;
      });
  double secs = since(t0);
  long after = peakKb();
  std::printf(
      "20 MB attachment: %s in %.3f s; peak memory %ld kB -> %ld kB, growth %.1f MB = %.2f x the "
      "file;"
      " %llu progress calls, last %llu of %llu bytes\n",
      r.sent ? "sent" : r.text.c_str(), secs, before, after, (after - before) / 1024.0,
      (after - before) * 1024.0 / kSize, static_cast<unsigned long long>(calls),
      static_cast<unsigned long long>(lastDone), static_cast<unsigned long long>(total));

  // For comparison: the same message built whole in memory.
  mail::mime::Outgoing whole;
  std::string error;
  whole.from = {"", "alice@localhost"};
  whole.rcpt.to.push_back({"", "carol@localhost"});
  whole.subject = "大きな添付";
  whole.body = "添付します。\r\n";
  whole.attachments.push_back(big.string());
  before = peakKb();
  auto bytes = mail::mime::fBuildMessage(whole, error);
  after = peakKb();
  std::printf("built in memory instead: %zu bytes, peak growth %.1f MB = %.2f x the file\n",
              bytes ? bytes->size() : 0, (after - before) / 1024.0,
              (after - before) * 1024.0 / kSize);
  return 0;
}
