#pragma once
// A loopback proxy that cuts a client's connection part way, for runs that must survive
// a connection lost at any moment.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <string_view>
#include <thread>

namespace qbtest {

// Where and how a connection is cut.
struct Cut {
  std::size_t limit = 0;   // server bytes relayed (after the trigger) before the cut
  std::string trigger;     // counting starts once the client has sent this text
  bool stall = false;      // at the limit, relay nothing more but keep the connection open
  bool holdTrigger = false;  // the client's bytes from the trigger on never reach the server
  bool hideStls = false;   // the server's STLS is hidden: the dialogue stays plain and readable
  std::string answer;      // given to the client in the server's place at the trigger, then hang up
  bool hidePipelining = false;  // the server's PIPELINING is hidden: commands must come one by one
  // Sees each command line the client sends (on the proxy's thread), before the server does.
  std::function<void(const std::string& line)> onCommand;

  // A plain dialogue relayed whole.
  static Cut plain() {
    Cut c;
    c.limit = std::numeric_limits<std::size_t>::max();
    c.hideStls = true;
    return c;
  }

  // A plain dialogue cut `limit` server bytes after the client has sent `trigger`.
  static Cut plainAfter(std::string trigger, std::size_t limit) {
    Cut c;
    c.trigger = std::move(trigger);
    c.limit = limit;
    c.hideStls = true;
    return c;
  }
  Cut& stalling() {
    stall = true;
    return *this;
  }
  // The trigger never reaches the server; `words` come back instead, then the hang-up.
  Cut& answering(std::string words) {
    holdTrigger = true;
    answer = std::move(words);
    return *this;
  }
};

// Relays one client at a time to the target port and hangs up on both sides once
// `limit` bytes have come from the server.
class CuttingProxy {
 public:
  CuttingProxy(int target, std::size_t limit) : CuttingProxy(target, Cut::plainAfter("", limit)) {
    cut_.hideStls = false;
  }
  CuttingProxy(int target, Cut cut) : target_(target), limit_(cut.limit), cut_(std::move(cut)) {
    listen_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
    listen(listen_, 4);
    thread_ = std::thread([this] { serve(); });
  }
  ~CuttingProxy() {
    stop_ = true;
    shutdown(listen_, SHUT_RDWR);
    thread_.join();
    close(listen_);
  }
  int port = 0;
  std::atomic<bool> triggered{false};  // the client has sent the trigger
  std::atomic<int> mostCommandsAtOnce{0};  // command lines in one read from the client

 private:
  void serve() {
    while (!stop_) {
      pollfd p{listen_, POLLIN, 0};
      if (poll(&p, 1, 50) <= 0) continue;
      int client = accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
      if (client < 0) continue;
      int server = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_port = htons(static_cast<uint16_t>(target_));
      a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      if (connect(server, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) relay(client, server);
      close(server);
      close(client);
    }
  }
  void relay(int client, int server) {
    line_.clear();
    std::size_t fromServer = 0;
    bool counting = cut_.trigger.empty(), stalled = false;
    std::string sent;  // the client's bytes so far, to find the trigger in
    char buf[16384];
    while (!stop_) {
      if (counting && fromServer >= limit_) {
        if (!cut_.stall) return;
        stalled = true;
      }
      pollfd p[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
      if (poll(p, stalled ? 0 : 2, 50) <= 0) continue;
      if (p[0].revents) {
        ssize_t n = read(client, buf, sizeof buf);
        if (n <= 0) return;
        std::size_t pass = static_cast<std::size_t>(n);
        seeCommands(buf, pass);
        if (!counting) {
          std::size_t before = sent.size();
          sent.append(buf, pass);
          std::size_t at = sent.find(cut_.trigger);
          if (at != std::string::npos) {
            counting = true;
            if (cut_.holdTrigger) pass = at > before ? at - before : 0;
            triggered = true;
          }
        } else if (cut_.holdTrigger) {
          pass = 0;
        }
        if (triggered && !cut_.answer.empty()) {
          (void)!write(client, cut_.answer.data(), cut_.answer.size());
          return;
        }
        if (pass && write(server, buf, pass) != static_cast<ssize_t>(pass)) return;
      }
      if (p[1].revents) {
        std::size_t room = counting ? limit_ - fromServer : sizeof buf;
        ssize_t n = read(server, buf, std::min(sizeof buf, room));
        if (n <= 0) return;
        if (cut_.hideStls) hide(buf, static_cast<std::size_t>(n), "STLS");
        if (cut_.hidePipelining) hide(buf, static_cast<std::size_t>(n), "PIPELINING");
        if (write(client, buf, static_cast<size_t>(n)) != n) return;
        if (counting) fromServer += static_cast<std::size_t>(n);
      }
    }
  }
  // A capability ("STLS") loses its first letter ("XTLS"): the client then never uses it.
  static void hide(char* data, std::size_t n, std::string_view word) {
    for (std::size_t i = 0; i + word.size() <= n; ++i)
      if (std::memcmp(data + i, word.data(), word.size()) == 0) data[i] = 'X';
  }
  void seeCommands(const char* data, std::size_t n) {
    int lines = 0;
    for (std::size_t i = 0; i < n; ++i) {
      if (data[i] != '\n') {
        line_ += data[i];
        continue;
      }
      if (!line_.empty() && line_.back() == '\r') line_.pop_back();
      if (cut_.onCommand) cut_.onCommand(line_);
      line_.clear();
      ++lines;
    }
    if (lines > mostCommandsAtOnce) mostCommandsAtOnce = lines;
  }
  int listen_ = -1;
  int target_;
  std::size_t limit_;
  Cut cut_;
  std::string line_;  // the client's line so far
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace qbtest
