// RcvMail against a real dovecot: commands, keep-on-server bookkeeping, loss-free
// behaviour when the connection is cut, and the failure texts.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include "mail/mail.h"
#include "servertest.h"
#include "store/fsutil.h"
#include "store/mailstore.h"

namespace fs = std::filesystem;
using qbtest::MailServers;
using qbtest::ServerTest;

namespace {

std::string message(int i) {
  return qbtest::fNumberedMail(i, "test", 3,
                               "From: sender@example.com\nTo: alice@localhost\nMessage-ID: <m" +
                                   std::to_string(i) + "@example.com>\n");
}

class Receive : public ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    if (fNotStarted()) return;
    inbox = fs::path(servers->dir) / "受信箱";
    fs::create_directories(inbox);
  }

  mail::MailResult receive(const std::string& command, const std::string& user = "alice",
                           const std::string& pass = "secret", bool implicitTls = false) {
    return mail::RcvMail(servers->popServer(implicitTls), user, pass, command,
                         "<" + inbox.string());
  }

  std::vector<std::string> paths(const mail::MailResult& r) {
    if (auto* v = std::get_if<std::vector<std::string>>(&r)) return *v;
    ADD_FAILURE() << "expected saved mail, got text: " << std::get<std::string>(r);
    return {};
  }

  std::string text(const mail::MailResult& r) {
    if (auto* t = std::get_if<std::string>(&r)) return *t;
    ADD_FAILURE() << "expected a text, got " << std::get<std::vector<std::string>>(r).size()
                  << " paths";
    return "<paths>";
  }

  // Every file in the inbox, hidden ones included.
  std::vector<std::string> inboxNames() {
    std::vector<std::string> names;
    for (auto& e : fs::directory_iterator(inbox)) names.push_back(e.path().filename().string());
    return names;
  }

  fs::path inbox;
};

TEST_F(Receive, SaveAllKeepsBytesAndOrderAndFetchesOnlyNewMailNextTime) {
  std::string dotted = "From: a@example.com\nSubject: dots\n\n.leading dot\n..two dots\n.\nend\n";
  servers->seed("alice", message(1));
  servers->seed("alice", dotted);
  servers->seed("alice", message(3));
  auto first = paths(receive("SAVEALL"));
  ASSERT_EQ(first.size(), 3u);
  std::multiset<std::string> got;
  for (auto& p : first) {
    EXPECT_EQ(fs::path(p).parent_path(), inbox);
    EXPECT_TRUE(mailstore::fIsMailFileName(fs::path(p).filename().string()));
    got.insert(*fsutil::fReadFile(p));
  }
  EXPECT_EQ(got,
            (std::multiset<std::string>{MailServers::crlf(message(1)), MailServers::crlf(dotted),
                                        MailServers::crlf(message(3))}));
  // Server order: the file names sort the same way.
  EXPECT_TRUE(std::is_sorted(first.begin(), first.end()));

  EXPECT_EQ(text(receive("SAVEALL")), "");
  servers->seed("alice", message(4));
  auto third = paths(receive("SAVEALL"));
  ASSERT_EQ(third.size(), 1u);
  EXPECT_EQ(*fsutil::fReadFile(third[0]), MailServers::crlf(message(4)));
  EXPECT_EQ(servers->stored("alice").size(), 4u);
  // The bookkeeping is never taken for a mail.
  EXPECT_EQ(mailstore::fListMailFiles(inbox).size(), 4u);
}

TEST_F(Receive, DeletingCommandsRemoveWhatTheInboxHolds) {
  for (int i = 1; i <= 5; ++i) servers->seed("alice", message(i));
  // Keep the first two, then delete messages 1-3: the kept ones are not saved twice.
  EXPECT_EQ(paths(receive("SAVE 1-2")).size(), 2u);
  auto saved = paths(receive("SAVD 1-3"));
  ASSERT_EQ(saved.size(), 1u);
  EXPECT_EQ(*fsutil::fReadFile(saved[0]), MailServers::crlf(message(3)));
  EXPECT_EQ(servers->stored("alice").size(), 2u);
  EXPECT_EQ(paths(receive("SAVEALLD")).size(), 2u);
  EXPECT_EQ(servers->stored("alice").size(), 0u);
  EXPECT_EQ(mailstore::fListMailFiles(inbox).size(), 5u);
  EXPECT_EQ(text(receive("SAVEALLD")), "");
}

TEST_F(Receive, ImplicitTlsAndStlsBothWork) {
  servers->seed("bob", message(1));
  auto viaStls =
      mail::RcvMail(servers->popServer(false), "bob", "hunter2", "SAVEALL", "<" + inbox.string());
  EXPECT_EQ(paths(viaStls).size(), 1u);
  servers->seed("bob", message(2));
  auto viaPop3s =
      mail::RcvMail(servers->popServer(true), "bob", "hunter2", "SAVEALL", "<" + inbox.string());
  EXPECT_EQ(paths(viaPop3s).size(), 1u);
}

TEST_F(Receive, ProgressCountsTheNewMessages) {
  for (int i = 1; i <= 4; ++i) servers->seed("alice", message(i));
  std::vector<std::pair<std::size_t, std::size_t>> seen;
  auto r = mail::RcvMail(servers->popServer(), "alice", "secret", "SAVEALL", "<" + inbox.string(),
                         [&](std::size_t d, std::size_t t) { seen.emplace_back(d, t); });
  EXPECT_EQ(paths(r).size(), 4u);
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.back(), (std::pair<std::size_t, std::size_t>{4, 4}));
}

TEST_F(Receive, FailuresComeBackAsJapaneseTextWithTheCause) {
  std::string bad = text(receive("SAVEALL", "alice", "wrong"));
  EXPECT_NE(bad.find("ログインを拒否されました"), std::string::npos) << bad;
  EXPECT_NE(bad.find("Authentication failed"), std::string::npos) << bad;

  std::string refused =
      text(mail::RcvMail("127.0.0.1\t1", "alice", "secret", "SAVEALL", "<" + inbox.string()));
  EXPECT_NE(refused.find("接続できません"), std::string::npos) << refused;
  EXPECT_NE(refused.find("refused"), std::string::npos) << refused;

  std::string unknown = text(
      mail::RcvMail("no-such-host.invalid", "alice", "secret", "SAVEALL", "<" + inbox.string()));
  EXPECT_NE(unknown.find("見つかりません"), std::string::npos) << unknown;

  EXPECT_NE(text(receive("FETCH")).find("コマンド"), std::string::npos);
  EXPECT_NE(text(mail::RcvMail(servers->popServer(), "alice", "secret", "SAVEALL", inbox.string()))
                .find("受信先"),
            std::string::npos);
}

TEST_F(Receive, UntrustedCertificateIsRefused) {
  servers->seed("alice", message(1));
  mail::LibrarySettings s = mail::fGetLibrarySettings();
  s.caFile.clear();
  mail::sSetLibrarySettings(s);  // system store only: the test CA is unknown
  for (bool implicitTls : {false, true}) {
    std::string t = text(receive("SAVEALLD", "alice", "secret", implicitTls));
    EXPECT_NE(t.find("証明書を信頼できません"), std::string::npos) << t;
    EXPECT_NE(t.find("発行した認証局が分かりません"), std::string::npos) << t;
  }
  EXPECT_EQ(servers->stored("alice").size(), 1u);
  EXPECT_TRUE(mailstore::fListMailFiles(inbox).empty());
}

TEST_F(Receive, StaleTemporariesOfAKilledRunAreRemoved) {
  // A killed run's own temporaries go at once; another writer's (".<hex>.tmp", a read
  // state being replaced) only once it is old enough to be surely dead.
  for (const char* name : {".qbrcv-999-1", ".qbrcv-5e1f.tmp", ".3fa9c0.tmp", ".77aa01.tmp"})
    std::ofstream(inbox / name) << "half a mess";
  fs::last_write_time(inbox / ".3fa9c0.tmp",
                      fs::file_time_type::clock::now() - std::chrono::hours(1));
  servers->seed("alice", message(1));
  EXPECT_EQ(paths(receive("SAVEALL")).size(), 1u);
  auto names = inboxNames();
  for (auto& n : names) EXPECT_NE(n.rfind(".qbrcv-", 0), 0u) << n;
  EXPECT_EQ(std::count(names.begin(), names.end(), ".3fa9c0.tmp"), 0);
  EXPECT_EQ(std::count(names.begin(), names.end(), ".77aa01.tmp"), 1);
}

}  // namespace
