#pragma once
// A loopback TCP proxy that holds every chunk it relays for a fixed one-way delay, in
// order and without any bandwidth limit: a link of a given round-trip time between a
// client and a local server. Each direction of each connection has its own thread.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qbbench {

class DelayProxy {
 public:
  using Clock = std::chrono::steady_clock;

  DelayProxy(int target, std::chrono::microseconds oneWay) : target_(target), delay_(oneWay) {
    listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
    ::listen(listen_, 16);
    acceptor_ = std::thread([this] { serve(); });
  }
  ~DelayProxy() {
    stop_ = true;
    ::shutdown(listen_, SHUT_RDWR);
    acceptor_.join();
    std::lock_guard lock(mutex_);
    for (auto& t : pumps_) t.join();
    for (int fd : fds_) ::close(fd);
    ::close(listen_);
  }
  DelayProxy(const DelayProxy&) = delete;
  DelayProxy& operator=(const DelayProxy&) = delete;

  int port = 0;

 private:
  struct Chunk {
    Clock::time_point due;
    std::string bytes;  // empty: the sender has closed its side
  };

  void serve() {
    while (!stop_) {
      pollfd p{listen_, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      int client = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
      if (client < 0) continue;
      int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_port = htons(static_cast<uint16_t>(target_));
      a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      if (::connect(server, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(server);
        ::close(client);
        continue;
      }
      int one = 1;
      ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      ::setsockopt(server, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      std::lock_guard lock(mutex_);
      fds_.push_back(client);
      fds_.push_back(server);
      pumps_.emplace_back([this, client, server] { pump(client, server); });
      pumps_.emplace_back([this, client, server] { pump(server, client); });
    }
  }

  // Relays `from` to `to`, each chunk leaving `delay_` after it came.
  void pump(int from, int to) {
    std::deque<Chunk> queue;
    bool eof = false;
    std::string buf(1 << 18, '\0');
    while (!stop_) {
      const auto now = Clock::now();
      while (!queue.empty() && queue.front().due <= now) {
        Chunk& c = queue.front();
        if (c.bytes.empty()) {
          ::shutdown(to, SHUT_WR);
          return;
        }
        std::size_t off = 0;
        while (off < c.bytes.size()) {
          ssize_t n = ::send(to, c.bytes.data() + off, c.bytes.size() - off, MSG_NOSIGNAL);
          if (n <= 0) {
            ::shutdown(from, SHUT_RD);
            return;
          }
          off += static_cast<std::size_t>(n);
        }
        queue.pop_front();
      }
      timespec wait{0, 50'000'000};
      if (!queue.empty()) {
        auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(queue.front().due - Clock::now());
        if (left.count() < 0) left = std::chrono::nanoseconds(0);
        if (left < std::chrono::milliseconds(50))
          wait = timespec{0, static_cast<long>(left.count())};
      }
      pollfd p{from, static_cast<short>(eof ? 0 : POLLIN), 0};
      int r = ::ppoll(&p, 1, &wait, nullptr);
      if (r > 0 && !eof && (p.revents & (POLLIN | POLLHUP | POLLERR))) {
        ssize_t n = ::recv(from, buf.data(), buf.size(), 0);
        const auto due = Clock::now() + delay_;
        if (n <= 0) {
          eof = true;
          queue.push_back({due, std::string()});
        } else {
          queue.push_back({due, std::string(buf.data(), static_cast<std::size_t>(n))});
        }
      }
    }
  }

  int listen_ = -1;
  int target_;
  std::chrono::microseconds delay_;
  std::atomic<bool> stop_{false};
  std::thread acceptor_;
  std::mutex mutex_;
  std::vector<std::thread> pumps_;
  std::vector<int> fds_;
};

}  // namespace qbbench
