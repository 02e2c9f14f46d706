// Receiving cut off half way: through a proxy that drops the connection after a given
// number of server bytes, and with the bookkeeping of a killed run left behind. Nothing
// may be lost, left partial or saved twice.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "cuttingproxy.h"
#include "mail/mail.h"
#include "servertest.h"
#include "store/fsutil.h"
#include "store/mailstore.h"

namespace fs = std::filesystem;
using qbtest::CuttingProxy;
using qbtest::MailServers;
using qbtest::ServerTest;

namespace {

std::string message(int i) {
  std::string m = "From: a@example.com\nSubject: cut " + std::to_string(i) + "\n\n";
  for (int l = 0; l < 40; ++l) m += "line " + std::to_string(l) + " of message " + std::to_string(i) + " ........\n";
  return m;
}

class Interrupted : public ServerTest {
 protected:
  Interrupted() : ServerTest(5) {}
  void SetUp() override {
    ServerTest::SetUp();
    if (fNotStarted()) return;
    inbox = fs::path(servers->dir) / "inbox";
    fs::create_directories(inbox);
  }

  // Each seeded message must be in the inbox exactly once, whole; nothing else but
  // our hidden bookkeeping may be there.
  void expectEachOnce(int count) {
    std::map<std::string, int> seen;
    for (auto& p : mailstore::fListMailFiles(inbox)) ++seen[*fsutil::fReadFile(p)];
    EXPECT_EQ(seen.size(), static_cast<std::size_t>(count));
    for (int i = 1; i <= count; ++i) EXPECT_EQ(seen[MailServers::crlf(message(i))], 1) << "message " << i;
    for (auto& e : fs::directory_iterator(inbox)) {
      std::string name = e.path().filename().string();
      if (!mailstore::fIsMailFileName(name)) {
        EXPECT_TRUE(name == ".qbuidl") << name;
      }
    }
  }

  fs::path inbox;
};

TEST_F(Interrupted, CutConnectionsNeitherLoseNorDuplicate) {
  const int count = 12;
  for (int i = 1; i <= count; ++i) servers->seed("alice", message(i));
  for (const char* command : {"SAVEALL", "SAVEALLD"}) {
    // Cuts fall during the greeting, the TLS handshake, the listing and inside RETRs.
    int failures = 0;
    for (std::size_t limit : {30u, 900u, 2500u, 9000u, 21000u, 40000u}) {
      CuttingProxy proxy(servers->pop3, limit);
      auto r = mail::RcvMail("127.0.0.1\t" + std::to_string(proxy.port), "alice", "secret", command,
                             "<" + inbox.string());
      if (auto* t = std::get_if<std::string>(&r); t && !t->empty()) ++failures;
    }
    EXPECT_GE(failures, 2) << "cut runs must say that they failed";
    auto last = mail::RcvMail(servers->popServer(), "alice", "secret", command, "<" + inbox.string());
    if (auto* t = std::get_if<std::string>(&last)) {
      EXPECT_EQ(*t, "");
    }
    expectEachOnce(count);
  }
  EXPECT_TRUE(servers->stored("alice").empty());
  auto again = mail::RcvMail(servers->popServer(), "alice", "secret", "SAVEALL", "<" + inbox.string());
  EXPECT_EQ(std::get<std::string>(again), "");
}

// A run killed between naming a file and writing the list leaves only the journal.
TEST_F(Interrupted, JournalOfAKilledRunIsHonoured) {
  servers->seed("alice", message(1));
  servers->seed("alice", message(2));
  auto first = std::get<std::vector<std::string>>(
      mail::RcvMail(servers->popServer(), "alice", "secret", "SAVEALL", "<" + inbox.string()));
  ASSERT_EQ(first.size(), 2u);
  std::string list = *fsutil::fReadFile(inbox / ".qbuidl");
  // Rewrite the list as the journal of a run that was killed: message 1's file got its
  // name, message 2 was cut before its rename (its file is gone).
  std::string journal;
  std::size_t i = 0;
  for (std::size_t start = 0, nl; (nl = list.find('\n', start)) != std::string::npos; start = nl + 1, ++i)
    journal += list.substr(start, nl - start) + "\t" + fs::path(first[i]).filename().string() + "\n";
  fs::remove(inbox / ".qbuidl");
  fs::remove(first[1]);
  fsutil::fWriteFileAtomic(inbox / ".qbuidl.journal", journal);
  auto second = mail::RcvMail(servers->popServer(), "alice", "secret", "SAVEALL", "<" + inbox.string());
  auto* paths = std::get_if<std::vector<std::string>>(&second);
  ASSERT_TRUE(paths);
  ASSERT_EQ(paths->size(), 1u);
  EXPECT_EQ(*fsutil::fReadFile(paths->front()), MailServers::crlf(message(2)));
  expectEachOnce(2);
  EXPECT_FALSE(fs::exists(inbox / ".qbuidl.journal"));
}

}  // namespace
