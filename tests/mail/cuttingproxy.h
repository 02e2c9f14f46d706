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
#include <thread>

namespace qbtest {

// Relays one client at a time to the target port and hangs up on both sides once
// `limit` bytes have come from the server.
class CuttingProxy {
 public:
  CuttingProxy(int target, std::size_t limit) : target_(target), limit_(limit) {
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
    std::size_t fromServer = 0;
    char buf[16384];
    while (!stop_) {
      pollfd p[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
      if (poll(p, 2, 50) <= 0) continue;
      if (p[0].revents) {
        ssize_t n = read(client, buf, sizeof buf);
        if (n <= 0 || write(server, buf, static_cast<size_t>(n)) != n) return;
      }
      if (p[1].revents) {
        std::size_t room = limit_ - fromServer;
        ssize_t n = read(server, buf, std::min(sizeof buf, room));
        if (n <= 0 || write(client, buf, static_cast<size_t>(n)) != n) return;
        fromServer += static_cast<std::size_t>(n);
        if (fromServer >= limit_) return;
      }
    }
  }
  int listen_ = -1;
  int target_;
  std::size_t limit_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace qbtest
