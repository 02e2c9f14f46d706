// Plays arbitrary bytes as a POP3 server's side of a dialogue (greeting, CAPA, UIDL,
// LIST/STAT, RETR with dot-stuffing, errors, a cut at any point) to the receiving
// client, twice over the same inbox. The first byte picks the receive command.
// Whatever the server says: every mail handed back is a whole file in the inbox with
// the bytes that were received, no temporary is left, and no file is ever replaced.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <variant>

#include "mail/mail.h"

namespace {

namespace fs = std::filesystem;

void check(bool ok) {
  if (!ok) __builtin_trap();
}

struct Fixture {
  int listener = -1;
  int port = 0;
  fs::path inbox;

  Fixture() {
    listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    check(::bind(listener, reinterpret_cast<sockaddr*>(&addr), len) == 0 && ::listen(listener, 4) == 0);
    check(::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len) == 0);
    port = ntohs(addr.sin_port);
    std::error_code ec;
    fs::path base = fs::is_directory("/dev/shm", ec) ? fs::path("/dev/shm") : fs::temp_directory_path();
    inbox = base / ("qb-pop3-fuzz-" + std::to_string(std::random_device{}()));
    fs::create_directories(inbox);
    mail::LibrarySettings settings;
    settings.timeoutSeconds = 5;  // never reached: the script ends with a closed stream
    mail::sSetLibrarySettings(settings);
  }
  ~Fixture() {
    ::close(listener);
    std::error_code ec;
    fs::remove_all(inbox, ec);
  }
};

// One connection: sends the script while taking in whatever the client writes, then
// ends the stream and waits for the client to hang up.
void serve(int listener, std::string_view script) {
  pollfd wait{listener, POLLIN, 0};
  if (::poll(&wait, 1, 10000) <= 0) return;  // the client never came: the run checks fail
  int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
  if (fd < 0) return;
  bool writing = true;
  char sink[4096];
  for (;;) {
    if (writing && script.empty()) {
      ::shutdown(fd, SHUT_WR);
      writing = false;
    }
    pollfd p{fd, static_cast<short>(POLLIN | (writing ? POLLOUT : 0)), 0};
    if (::poll(&p, 1, 10000) <= 0) break;
    if (p.revents & (POLLIN | POLLHUP | POLLERR)) {
      if (::recv(fd, sink, sizeof sink, 0) <= 0) break;
    }
    if (writing && p.revents & POLLOUT) {
      ssize_t n = ::send(fd, script.data(), script.size(), MSG_NOSIGNAL);
      if (n < 0) writing = false, script = {};
      else script.remove_prefix(static_cast<size_t>(n));
    }
  }
  ::close(fd);
}

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// One receive; checks what it handed back and returns the mails saved.
size_t receiveOnce(const Fixture& f, std::string_view command, std::string_view script) {
  std::thread server(serve, f.listener, script);
  std::map<std::string, std::string> hooked;
  size_t lastDone = 0;
  auto result = mail::RcvMail(
      "127.0.0.1\t" + std::to_string(f.port), "user", "pass", command, "<" + f.inbox.string(),
      [&](size_t done, size_t total) {
        check(done <= total && done >= lastDone);
        lastDone = done;
      },
      [&](const std::string& path, std::string_view bytes) { hooked[path] = bytes; });
  server.join();
  size_t saved = 0;
  if (auto* paths = std::get_if<std::vector<std::string>>(&result)) {
    check(paths->size() == hooked.size());
    for (const std::string& p : *paths) {
      fs::path path(p);
      check(path.parent_path() == f.inbox && path.filename().string().front() != '.');
      std::string bytes = readFile(path);
      check(hooked.count(p) && hooked[p] == bytes);
      check(bytes.empty() || bytes.back() == '\n');  // whole lines, the end line removed
    }
    saved = paths->size();
  } else {
    check(hooked.empty());
  }
  for (const auto& entry : fs::directory_iterator(f.inbox))
    check(entry.path().filename().string().rfind(".qbrcv-", 0) != 0);
  return saved;
}

size_t mailFiles(const fs::path& inbox) {
  size_t n = 0;
  for (const auto& entry : fs::directory_iterator(inbox)) n += entry.path().filename().string().front() != '.';
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Fixture f;
  if (size == 0) return 0;
  static const char* const commands[] = {"SAVEALL", "SAVEALLD", "SAVE 1-", "SAVD 1-"};
  std::string command = commands[data[0] & 3];
  if (command.back() == '-') command += std::to_string((data[0] >> 2) & 7);
  std::string_view script(reinterpret_cast<const char*>(data) + 1, size - 1);

  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(f.inbox)) fs::remove(entry.path(), ec);
  size_t saved = receiveOnce(f, command, script);
  // The second run reads the first run's list of received mails; saved files stay put.
  saved += receiveOnce(f, command, script);
  check(mailFiles(f.inbox) == saved);
  return 0;
}
