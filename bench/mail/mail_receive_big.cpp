// Peak memory of receiving one big mail: a mail of 85 MB (a 60 MB attachment in base64)
// and one of 500 MB, received by `quillbrook-mail receive` in a child process (its peak
// resident set from wait4) over POP3 with STLS into a tmpfs inbox, and by mpop the same
// way when installed. The mails are made here, in the server's temporary folder.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "mail/mail.h"
#include "mail/uidlstore.h"
#include "mailservers.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

extern char** environ;

namespace {

constexpr int kRuns = 3;

// Writes a mail with a short text part and an attachment of `attachment` random bytes in
// base64 (76 characters a line, LF line ends as the server stores them). Returns the
// size the client must save (CR LF line ends).
std::uintmax_t writeBigMail(const fs::path& file, std::size_t attachment) {
  std::ofstream out(file, std::ios::binary);
  std::string head =
      "From: bench@example.com\nTo: alice@localhost\nSubject: big mail\n"
      "MIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=\"b0\"\n\n"
      "--b0\nContent-Type: text/plain; charset=us-ascii\n\nThe attachment follows.\n.\n..\n\n"
      "--b0\nContent-Type: application/octet-stream; name=\"big.bin\"\n"
      "Content-Transfer-Encoding: base64\nContent-Disposition: attachment; filename=\"big.bin\"\n\n";
  out << head;
  std::uintmax_t lines = 0;
  for (char c : head) lines += c == '\n';
  static const char* b64 = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::mt19937_64 rng(42);
  std::string block;
  std::size_t done = 0;
  while (done < attachment) {
    block.clear();
    for (int l = 0; l < 4096 && done < attachment; ++l) {
      // 57 bytes a line make 76 characters.
      const std::size_t n = std::min<std::size_t>(57, attachment - done);
      std::uint64_t bits[8];
      for (auto& b : bits) b = rng();
      const auto* bytes = reinterpret_cast<const unsigned char*>(bits);
      for (std::size_t i = 0; i < n; i += 3) {
        const unsigned v = bytes[i] << 16 | (i + 1 < n ? bytes[i + 1] << 8 : 0) | (i + 2 < n ? bytes[i + 2] : 0);
        block += b64[(v >> 18) & 63];
        block += b64[(v >> 12) & 63];
        block += i + 1 < n ? b64[(v >> 6) & 63] : '=';
        block += i + 2 < n ? b64[v & 63] : '=';
      }
      block += '\n';
      ++lines;
      done += n;
    }
    out << block;
  }
  out << "\n--b0--\n";
  lines += 2;
  out.close();
  return fs::file_size(file) + lines;
}

struct Usage {
  double seconds = -1;
  long peakKb = 0;
  int status = -1;
};

Usage runChild(const std::vector<std::string>& args, const std::vector<std::string>& env) {
  std::vector<std::string> envText;
  for (char** e = environ; *e; ++e) envText.push_back(*e);
  for (const auto& e : env) envText.push_back(e);
  std::vector<char*> argv, envp;
  for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  for (auto& e : envText) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  Usage u;
  auto t0 = Clock::now();
  pid_t pid = ::fork();
  if (pid == 0) {
    int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  int status = 0;
  rusage ru{};
  ::wait4(pid, &status, 0, &ru);
  u.seconds = std::chrono::duration<double>(Clock::now() - t0).count();
  u.peakKb = ru.ru_maxrss;
  u.status = status;
  return u;
}

std::uintmax_t savedSize(const fs::path& inbox) {
  std::uintmax_t size = 0;
  for (auto& e : fs::recursive_directory_iterator(inbox))
    if (e.is_regular_file() && e.path().filename().string()[0] != '.') size += e.file_size();
  return size;
}

}  // namespace

int main() {
  auto servers = qbtest::MailServers::fStartForLibrary(60);
  if (!servers) return 0;
  std::string mpop;
  for (const char* p : {"/usr/bin/mpop", "/usr/local/bin/mpop"})
    if (::access(p, X_OK) == 0) mpop = p;
  if (mpop.empty()) std::printf("mpop not found: quillbrook-mail only\n");
  const fs::path root = fs::path("/dev/shm") / ("qbbig" + std::to_string(getpid()));
  std::printf("one big mail over POP3+STLS into a tmpfs inbox: peak RSS of the receiving process, "
              "median time of %d runs\n", kRuns);
  struct Case {
    const char* name;
    std::size_t attachment;
  } cases[] = {{"85 MB", 60u << 20}, {"500 MB", 370u << 20}};
  for (const auto& c : cases) {
    for (const auto& f : servers->stored("alice")) fs::remove(f);
    const fs::path file = fs::path(servers->maildir("alice")) / "new" /
                          ("1700000000." + std::to_string(c.attachment) + ".bench");
    const std::uintmax_t expected = writeBigMail(file, c.attachment);
    const std::uintmax_t stored = fs::file_size(file);  // mpop saves LF line ends
    ::chmod(file.c_str(), 0644);
    servers->own(file.string());
    struct Client {
      const char* name;
      std::function<std::vector<std::string>(const fs::path& inbox)> args;
    };
    std::vector<Client> clients = {{"quillbrook-mail", [&](const fs::path& inbox) {
                                      return std::vector<std::string>{
                                          QB_MAIL_CLI, "receive", servers->popServer(), "alice",
                                          "secret", "SAVEALL", inbox.string()};
                                    }}};
    if (!mpop.empty())
      clients.push_back({"mpop", [&](const fs::path& inbox) {
                           const fs::path conf = root / "mpoprc";
                           std::ofstream(conf)
                               << "defaults\nkeep on\nonly_new off\nreceived_header off\naccount bench\nhost 127.0.0.1\n"
                               << "port " << servers->pop3 << "\ntls on\ntls_starttls on\n"
                               << "tls_trust_file " << servers->caFile
                               << "\nauth user\nuser alice\npassword secret\ndelivery maildir "
                               << inbox.string() << "\nuidls_file " << (root / "uidls").string() << "\n";
                           fs::permissions(conf, fs::perms::owner_read | fs::perms::owner_write);
                           fs::remove(root / "uidls");
                           for (const char* sub : {"new", "cur", "tmp"}) fs::create_directories(inbox / sub);
                           return std::vector<std::string>{mpop, "-q", "-C", conf.string(), "bench"};
                         }});
    for (auto& client : clients) {
      std::vector<double> times;
      long peak = 0;
      bool ok = true;
      for (int r = 0; r < kRuns; ++r) {
        const fs::path inbox = root / "inbox";
        fs::remove_all(inbox);
        fs::create_directories(inbox);
        fs::remove(mail::UidlStore::listPath(inbox));
        Usage u = runChild(client.args(inbox), {"QB_MAIL_CA=" + servers->caFile});
        const std::uintmax_t got = savedSize(inbox);
        if (u.status != 0 || (got != expected && got != stored)) {
          std::fprintf(stderr, "%s: status %d, saved %ju bytes of %ju\n", client.name, u.status, got, expected);
          ok = false;
        }
        times.push_back(u.seconds);
        peak = std::max(peak, u.peakKb);
        fs::remove_all(inbox);
      }
      std::sort(times.begin(), times.end());
      std::printf("%-7s %-16s peak RSS %6.1f MB   %.2f s%s\n", c.name, client.name, peak / 1024.0,
                  times[times.size() / 2], ok ? "" : "   (FAILED, see above)");
      std::fflush(stdout);
    }
    fs::remove(file);
  }
  fs::remove_all(root);
  return 0;
}
