// The pipelined receive run against a real dovecot: mails far larger than the reading
// buffers come whole, byte for byte; a DELE leaves only for a mail already stored, and a
// cut anywhere deletes nothing; a server without PIPELINING gets one command at a time.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "cuttingproxy.h"
#include "mail/mail.h"
#include "mail/uidlstore.h"
#include "servertest.h"
#include "store/fsutil.h"
#include "store/mailstore.h"

namespace fs = std::filesystem;
using qbtest::Cut;
using qbtest::CuttingProxy;
using qbtest::ServerTest;

namespace {

// About 2 MB: dot lines of every kind (the server stuffs them, and buffer edges fall
// among them), a line longer than any buffer, and a last line that is a dot.
std::string bigMail(int i) {
  std::string m = qbtest::fNumberedMail(i, "big", 3);
  static const char* const dots[] = {".", "..", "...", ".x", "x.", "", ". .", ".\t"};
  for (int part = 0; part < 2; ++part) {
    const std::size_t end = m.size() + 300'000;
    for (int k = 0; m.size() < end; ++k) {
      m += dots[(k + i) % 8];
      m += k % 5 ? "\n" : " a line of some length, to move the edges about: " + std::to_string(k) + "\n";
    }
    m += std::string(700'000 + i * 7, static_cast<char>('A' + i % 26)) + "\n";
  }
  return m + ".\n";
}
const qbtest::NumberedMails big(bigMail);
const qbtest::NumberedMails small([](int i) { return qbtest::fNumberedMail(i, "one by one", 20); });

class Pipelined : public ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    if (fNotStarted()) return;
    inbox = fs::path(servers->dir) / "inbox";
    fs::create_directories(inbox);
  }
  mail::MailResult receiveVia(const CuttingProxy& proxy, const std::string& command) {
    return mail::RcvMail("127.0.0.1\t" + std::to_string(proxy.port), "alice", "secret", command,
                         "<" + inbox.string());
  }
  std::size_t savedCount(const mail::MailResult& r) {
    if (auto* paths = std::get_if<std::vector<std::string>>(&r)) return paths->size();
    ADD_FAILURE() << std::get<std::string>(r);
    return 0;
  }
  fs::path inbox;
};

TEST_F(Pipelined, BigMailsComeWholeAndEachDeleFollowsAStoredFile) {
  const int count = 14;  // more than one flush's worth: DELEs go out while mails still come
  big.seed(*servers, "alice", count);
  std::atomic<std::size_t> deles{0};
  std::atomic<bool> deleAheadOfFile{false}, retrAfterDele{false};
  Cut watch = Cut::plain();
  watch.onCommand = [&](const std::string& line) {
    if (line.rfind("RETR ", 0) == 0 && deles > 0) retrAfterDele = true;
    if (line.rfind("DELE ", 0) != 0) return;
    // Each DELE so far must stand for a mail whose file already has its name.
    if (mailstore::fListMailFiles(inbox).size() < ++deles) deleAheadOfFile = true;
  };
  CuttingProxy proxy(servers->pop3, watch);
  EXPECT_EQ(savedCount(receiveVia(proxy, "SAVEALLD")), std::size_t(count));
  EXPECT_EQ(deles, std::size_t(count));
  EXPECT_FALSE(deleAheadOfFile);
  EXPECT_TRUE(retrAfterDele) << "the deletes waited for the last mail";
  EXPECT_TRUE(servers->stored("alice").empty());
  big.expectEachOnce({inbox}, count);
}

// Cut while big mails come, and after the first DELEs have left: the server keeps every
// mail (no QUIT reached it), the inbox holds only whole ones, the next run the rest.
TEST_F(Pipelined, CutsAnywhereLoseNothingAndDeleteNothing) {
  const int count = 16;  // the second run still has mails to come after its first DELEs
  big.seed(*servers, "alice", count);
  for (Cut cut : {Cut::plainAfter("RETR ", 3'000'000), Cut::plainAfter("DELE ", 1'000'000),
                  Cut::plainAfter("DELE ", 10)}) {
    CuttingProxy proxy(servers->pop3, cut);
    receiveVia(proxy, "SAVEALLD");
    EXPECT_TRUE(proxy.triggered) << cut.trigger;
    EXPECT_EQ(servers->stored("alice").size(), std::size_t(count)) << cut.trigger << cut.limit;
    EXPECT_EQ(big.fCopies({inbox}, count)[0], 0) << "a mail file cut short";
  }
  auto last = mail::RcvMail(servers->popServer(), "alice", "secret", "SAVEALLD", "<" + inbox.string());
  if (auto* t = std::get_if<std::string>(&last)) {
    EXPECT_EQ(*t, "");
  }
  EXPECT_TRUE(servers->stored("alice").empty());
  big.expectEachOnce({inbox}, count);
}

// The proxy counts the command lines that reach it in one piece: without PIPELINING
// each command waits for the answer to the one before; with it they come together.
TEST_F(Pipelined, WithoutPipeliningCommandsComeOneByOne) {
  const int count = 6;
  for (bool offered : {false, true}) {
    SCOPED_TRACE(offered ? "offered" : "hidden");
    small.seed(*servers, "alice", count);
    Cut cut = Cut::plain();
    cut.hidePipelining = !offered;
    CuttingProxy proxy(servers->pop3, cut);
    EXPECT_EQ(savedCount(receiveVia(proxy, "SAVEALLD")), std::size_t(count));
    EXPECT_TRUE(servers->stored("alice").empty());
    if (offered) {
      EXPECT_GT(proxy.mostCommandsAtOnce, 1);
    } else {
      EXPECT_EQ(proxy.mostCommandsAtOnce, 1);
    }
    small.expectEachOnce({inbox}, count);
    for (const auto& f : mailstore::fListMailFiles(inbox)) fs::remove(f);
  }
}

// A server that says its whole part of the dialogue in two writes, a pause between them,
// whatever the client sends: the client's reading stops right at the split.
void serveSplit(int listener, std::string_view script, std::size_t split) {
  pollfd wait{listener, POLLIN, 0};
  if (::poll(&wait, 1, 5000) <= 0) return;
  int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
  if (fd < 0) return;
  for (std::string_view part : {script.substr(0, split), script.substr(split)}) {
    if (::send(fd, part.data(), part.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(part.size())) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(15));
  }
  ::shutdown(fd, SHUT_WR);
  char sink[4096];
  while (::recv(fd, sink, sizeof sink, 0) > 0) {
  }
  ::close(fd);
}

// The end of a message and its stuffed dots with the reading split at every byte: the
// file holds the message unstuffed, and the dialogue goes on in step after it.
TEST(SplitReply, EveryEdgeInTheEndOfAMessage) {
  qbtest::TempDir dir("qbsplit");
  const fs::path inbox = dir.path() / "inbox";
  mail::LibrarySettings settings;
  settings.timeoutSeconds = 5;
  mail::sSetLibrarySettings(settings);
  const std::string head = "+OK hi\r\n-ERR no CAPA\r\n+OK\r\n+OK\r\n+OK\r\n1 u1\r\n.\r\n";
  const std::string retr = "+OK 30 octets\r\nSubject: s\r\n\r\n..\r\n...\r\n.x\r\nend\n..\r\n.\r\n";
  const std::string expected = "Subject: s\r\n\r\n.\r\n..\r\nx\r\nend\n.\r\n";
  const std::string script = head + retr + "+OK bye\r\n";
  for (std::size_t split = head.size(); split <= head.size() + retr.size(); ++split) {
    SCOPED_TRACE(split);
    fs::remove_all(inbox);
    fs::remove(mail::UidlStore::listPath(inbox));
    fs::create_directories(inbox);
    int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&a), len), 0);
    ASSERT_EQ(::listen(listener, 1), 0);
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
    std::thread server(serveSplit, listener, std::string_view(script), split);
    auto r = mail::RcvMail("127.0.0.1\t" + std::to_string(ntohs(a.sin_port)), "u", "p", "SAVEALL",
                           "<" + inbox.string());
    server.join();
    ::close(listener);
    auto* paths = std::get_if<std::vector<std::string>>(&r);
    ASSERT_TRUE(paths) << std::get<std::string>(r);
    ASSERT_EQ(paths->size(), 1u);
    EXPECT_EQ(fsutil::fReadFile(paths->front()).value_or(""), expected);
  }
}

}  // namespace
