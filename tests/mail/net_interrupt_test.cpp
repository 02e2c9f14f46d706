// Receiving cut off half way: through a proxy that drops the connection after a given
// number of server bytes, and with the bookkeeping of a killed run left behind. Nothing
// may be lost, left partial or saved twice.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "cuttingproxy.h"
#include "mail/mail.h"
#include "mail/uidlstore.h"
#include "servertest.h"
#include "store/fsutil.h"
#include "store/mailstore.h"

namespace fs = std::filesystem;
using qbtest::Cut;
using qbtest::CuttingProxy;
using qbtest::MailServers;
using qbtest::ServerTest;

namespace {

const qbtest::NumberedMails message([](int i) { return qbtest::fNumberedMail(i, "cut", 40); });

class Interrupted : public ServerTest {
 protected:
  Interrupted() : ServerTest(5) {}
  void SetUp() override {
    ServerTest::SetUp();
    if (fNotStarted()) return;
    inbox = fs::path(servers->dir) / "inbox";
    fs::create_directories(inbox);
  }

  mail::MailResult receiveVia(const CuttingProxy& proxy, const std::string& command,
                              const std::string& user = "alice") {
    return mail::RcvMail("127.0.0.1\t" + std::to_string(proxy.port), user, "secret", command,
                         "<" + inbox.string());
  }
  static std::string text(const mail::MailResult& r) {
    auto* t = std::get_if<std::string>(&r);
    return t ? *t : "<" + std::to_string(std::get<0>(r).size()) + " mails>";
  }

  // Each seeded message must be in the inbox exactly once, whole; nothing else may be
  // there (the bookkeeping lies beside the inbox).
  void expectEachOnce(int count) {
    message.expectEachOnce({inbox}, count);
    for (auto& e : fs::directory_iterator(inbox)) {
      std::string name = e.path().filename().string();
      EXPECT_TRUE(mailstore::fIsMailFileName(name)) << name;
    }
  }

  fs::path inbox;
};

TEST_F(Interrupted, CutConnectionsNeitherLoseNorDuplicate) {
  const int count = 12;
  message.seed(*servers, "alice", count);
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
    auto last =
        mail::RcvMail(servers->popServer(), "alice", "secret", command, "<" + inbox.string());
    if (auto* t = std::get_if<std::string>(&last)) {
      EXPECT_EQ(*t, "");
    }
    expectEachOnce(count);
  }
  EXPECT_TRUE(servers->stored("alice").empty());
  auto again =
      mail::RcvMail(servers->popServer(), "alice", "secret", "SAVEALL", "<" + inbox.string());
  EXPECT_EQ(std::get<std::string>(again), "");
}

// A deleting run cut while the messages come (RETR) and while they are deleted (DELE
// sent, QUIT not yet): nothing lost, nothing saved twice, nothing deleted unsaved.
TEST_F(Interrupted, DeletingRunsCutMidRetrAndMidDele) {
  const int count = 10;
  message.seed(*servers, "alice", count);
  for (const char* command : {"SAVD 1-6", "SAVEALLD"}) {
    SCOPED_TRACE(command);
    // Plain dialogue, so the proxy can see where the commands are.
    CuttingProxy midRetr(servers->pop3, Cut::plainAfter("RETR ", 2500));
    std::size_t firstPart = std::get<0>(receiveVia(midRetr, command)).size();
    EXPECT_GE(firstPart, 1u);
    EXPECT_LT(firstPart, 6u);
    CuttingProxy midDele(servers->pop3, Cut::plainAfter("DELE ", 10));
    const std::size_t onServer = servers->stored("alice").size();
    receiveVia(midDele, command);
    EXPECT_TRUE(midDele.triggered);
    EXPECT_EQ(servers->stored("alice").size(), onServer) << "deleted without QUIT";
    CuttingProxy atQuit(servers->pop3, Cut::plainAfter("QUIT", 0));
    receiveVia(atQuit, command);
  }
  for (int run = 0; run < 3 && !servers->stored("alice").empty(); ++run)
    mail::RcvMail(servers->popServer(), "alice", "secret", "SAVD 1-6", "<" + inbox.string());
  EXPECT_TRUE(servers->stored("alice").empty());
  expectEachOnce(count);
}

// A server that stops answering: the run ends after the timeout with a text that says
// so, and the next run gets everything once.
TEST_F(Interrupted, StalledServerTimesOutAndLosesNothing) {
  message.seed(*servers, "alice", 3);
  mail::LibrarySettings s = mail::fGetLibrarySettings();
  s.timeoutSeconds = 1;
  mail::sSetLibrarySettings(s);
  for (const char* command : {"SAVEALLD", "SAVEALL"}) {
    CuttingProxy stall(servers->pop3, Cut::plainAfter("RETR ", 100).stalling());
    auto start = std::chrono::steady_clock::now();
    std::string t = text(receiveVia(stall, command));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(8));
    EXPECT_EQ(t, "POP3: サーバの応答がありません (1秒で時間切れ)");
  }
  EXPECT_TRUE(mailstore::fListMailFiles(inbox).empty());
  EXPECT_EQ(servers->stored("alice").size(), 3u);
  EXPECT_EQ(std::get<0>(mail::RcvMail(servers->popServer(), "alice", "secret", "SAVEALLD",
                                      "<" + inbox.string()))
                .size(),
            3u);
  expectEachOnce(3);
}

// What the user reads when the connection goes: plain words first, the TLS library's
// reason after them, never its numeric codes.
TEST_F(Interrupted, CutsAreToldInPlainWords) {
  servers->seed("alice", message(1));
  mail::LibrarySettings s = mail::fGetLibrarySettings();
  CuttingProxy popsHandshake(servers->pop3s, 40), smtpsHandshake(servers->smtps, 40);
  s.pop3sPort = popsHandshake.port;
  s.smtpsPort = smtpsHandshake.port;
  mail::sSetLibrarySettings(s);
  CuttingProxy plainRetr(servers->pop3, Cut::plainAfter("RETR ", 60));
  std::string texts[] = {
      text(receiveVia(popsHandshake, "SAVEALL")),
      text(receiveVia(plainRetr, "SAVEALL")),
      mail::SendMailEx("", "127.0.0.1:" + std::to_string(smtpsHandshake.port), "alice@localhost",
                       "a@example.com", "s", "b", "")
          .text,
  };
  for (const std::string& t : texts) {
    EXPECT_NE(t.find("接続が途中で切れました"), std::string::npos) << t;
    EXPECT_EQ(t.find("error:"), std::string::npos) << t;
  }
  EXPECT_NE(texts[0].find("unexpected eof while reading"), std::string::npos) << texts[0];
}

// A server shutting down answers with -ERR and hangs up: that is not a refused
// password, nor a mail the server will not give.
TEST_F(Interrupted, ServerClosingIsNotALoginRefusal) {
  servers->seed("alice", message(1));
  for (const char* at : {"USER ", "PASS ", "RETR "}) {
    CuttingProxy closing(servers->pop3,
                         Cut::plainAfter(at, 0).answering("-ERR Server shutting down.\r\n"));
    EXPECT_EQ(text(receiveVia(closing, "SAVEALLD")),
              "POP3: サーバが接続を閉じました: Server shutting down.")
        << at;
  }
  std::string wrong =
      text(mail::RcvMail(servers->popServer(), "alice", "nope", "SAVEALL", "<" + inbox.string()));
  EXPECT_EQ(wrong.rfind("POP3: ログインを拒否されました", 0), 0u) << wrong;
  EXPECT_EQ(servers->stored("alice").size(), 1u);
}

// A run killed between naming a file and writing the list leaves only the journal.
TEST_F(Interrupted, JournalOfAKilledRunIsHonoured) {
  servers->seed("alice", message(1));
  servers->seed("alice", message(2));
  auto first = std::get<std::vector<std::string>>(
      mail::RcvMail(servers->popServer(), "alice", "secret", "SAVEALL", "<" + inbox.string()));
  ASSERT_EQ(first.size(), 2u);
  std::string list = *fsutil::fReadFile(mail::UidlStore::listPath(inbox));
  // Rewrite the list as the journal of a run that was killed: message 1's file got its
  // name, message 2 was cut before its rename (its file is gone).
  std::string journal;
  std::size_t i = 0;
  for (std::size_t start = 0, nl; (nl = list.find('\n', start)) != std::string::npos;
       start = nl + 1, ++i)
    journal +=
        list.substr(start, nl - start) + "\t" + fs::path(first[i]).filename().string() + "\n";
  fs::remove(mail::UidlStore::listPath(inbox));
  fs::remove(first[1]);
  fsutil::fWriteFileAtomic(mail::UidlStore::journalPath(inbox), journal);
  auto second =
      mail::RcvMail(servers->popServer(), "alice", "secret", "SAVEALL", "<" + inbox.string());
  auto* paths = std::get_if<std::vector<std::string>>(&second);
  ASSERT_TRUE(paths);
  ASSERT_EQ(paths->size(), 1u);
  EXPECT_EQ(*fsutil::fReadFile(paths->front()), MailServers::crlf(message(2)));
  expectEachOnce(2);
  EXPECT_FALSE(fs::exists(mail::UidlStore::journalPath(inbox)));
}

}  // namespace
