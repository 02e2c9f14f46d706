// Receive runs whose rules move mails into subfolders while the rest still arrive, cut off
// part way (a lost connection, a killed process) against a real POP3 server: the next run
// fetches nothing twice and loses nothing.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <random>
#include <thread>

#include "../mail/cuttingproxy.h"
#include "../mail/servertest.h"
#include "helpers.h"
#include "mail/uidlstore.h"
#include "store/modCommon.h"

using namespace receive;
using namespace receive_test;

namespace {

// Odd mails stay in the inbox, even ones go to 受信箱\Even marked read, and every fourth
// one on from there to 受信箱\Four.
const qbtest::NumberedMails message([](int i) {
  std::string m = "From: Sender <s" + std::to_string(i) + "@example.jp>\nSubject: mail " +
                  std::to_string(i) + (i % 2 == 0 ? " even" : " odd") +
                  (i % 4 == 0 ? " four" : "") + "\n\n";
  for (int l = 0; l < 30; ++l)
    m += "line " + std::to_string(l) + " of mail " + std::to_string(i) + " ........\n";
  return m;
});

class InterruptedFiling : public qbtest::ServerTest {
 protected:
  InterruptedFiling() : ServerTest(5) {}
  void SetUp() override {
    ServerTest::SetUp();
    if (fNotStarted()) return;
    program_ = fs::path(servers->dir) / "program";
    fs::create_directories(program_);
    settingIni_ = program_ / "setting.ini";
    const fs::path prefix = mailstore::fAccountPrefix(program_);
    const int number = mailstore::fCreateAccount(prefix);
    ASSERT_GT(number, 0);
    account_ = AccountRef{number, "テスト", mailstore::fAccountFolder(prefix, number)};
    modCommon::sSetAccountValue(account_.folder, "User", "alice");
    modCommon::sSetAccountValue(account_.folder, "Pass", "secret");
    useServer(servers->popServer());
    inbox_ = account_.folder / mailstore::fPath(mailstore::kInbox);
    even_ = inbox_ / "Even";
    four_ = inbox_ / "Four";
    fs::create_directories(even_);
    fs::create_directories(four_);
    mod_ini::fWriteIniString("Mail", "Distribute",
                             "件名|even|受信箱\\Even|2||[件名|four|受信箱\\Four|0||[",
                             account_.folder / "set.ini");
    mod_ini::fWriteIniString("Mail", "SvrDel", "1", account_.folder / "set.ini");  // keep on server
  }
  void useServer(const std::string& server) {
    modCommon::sSetAccountValue(account_.folder, "POP3", server);
  }

  AccountRun receive(const RcvMailFn& rcvMail = mail::RcvMail) {
    return fReceiveAccount(account_, settingIni_, "", desktop_, {}, {}, rcvMail);
  }

  fs::path folderOf(const std::string& place) const {
    return place == "four" ? four_ : place == "even" ? even_ : inbox_;
  }

  // Where each seeded mail is, as place and file name; each must be in one place, once.
  using Places = std::map<int, std::vector<std::pair<std::string, std::string>>>;
  Places places(int count) {
    Places found;
    for (const char* place : {"inbox", "even", "four"}) {
      for (const auto& [i, file] : message.fFiles({folderOf(place)}, count)) {
        EXPECT_NE(i, 0) << "a file that is no seeded mail: " << file;
        if (i != 0) found[i].emplace_back(place, mailstore::fUtf8(file.filename()));
      }
    }
    return found;
  }

  // Mail i lies in the folder its rules send it to: the last one that takes it. Runs
  // follow each other within the same second here, and no file name of one run is used
  // again by the next, so no move finds its name taken.
  void expectFiled(int i, const std::pair<std::string, std::string>& at) {
    const char* last = i % 4 == 0 ? "four" : i % 2 == 0 ? "even" : "inbox";
    EXPECT_EQ(at.first, last) << "mail " << i << " (" << at.second << ")";
  }

  void expectEachOnceInItsFolder(int count) {
    auto found = places(count);
    for (int i = 1; i <= count; ++i) {
      ASSERT_EQ(found[i].size(), 1u) << "mail " << i;
      expectFiled(i, found[i].front());
    }
  }

  fs::path program_, settingIni_, inbox_, even_, four_;
  AccountRef account_;
  Recorder desktop_;
};

}  // namespace

TEST_F(InterruptedFiling, CutConnectionsThenAFullRun) {
  const int count = 16;
  message.seed(*servers, "alice", count);
  int received = 0;
  // Cuts fall in the greeting, the listing and inside the transfers.
  for (std::size_t limit : {40u, 1500u, 5000u, 9000u, 14000u, 26000u}) {
    qbtest::CuttingProxy proxy(servers->pop3, limit);
    useServer("127.0.0.1\t" + std::to_string(proxy.port));
    AccountRun run = receive();
    received += run.count;
    // Every mail the run reports is filed where its rules say, and listed there.
    for (const FiledMail& m : run.filed) {
      EXPECT_TRUE(fs::exists(m.path)) << m.path;
      const int i = std::stoi(m.subjectElement.substr(std::string("subject: mail ").size()));
      const fs::path folder = m.path.parent_path().lexically_normal();
      const std::string place = folder == four_.lexically_normal()   ? "four"
                                : folder == even_.lexically_normal() ? "even"
                                                                     : "inbox";
      EXPECT_EQ(folder, folderOf(place).lexically_normal());
      expectFiled(i, {place, mailstore::fUtf8(m.path.filename())});
    }
  }
  useServer(servers->popServer());
  AccountRun last = receive();
  EXPECT_TRUE(last.received || received == count);
  EXPECT_EQ(received + last.count, count);
  expectEachOnceInItsFolder(count);
  // Read marks went with the moved mails: the rules' mark on the even ones.
  EXPECT_EQ(mailstore::fCountUnread(even_), 0);
  EXPECT_EQ(mailstore::fCountUnread(four_), 0);
  EXPECT_EQ(mailstore::fCountUnread(inbox_),
            count / 2);  // the odd ones; even ones are read wherever they are
  EXPECT_FALSE(fs::exists(mail::UidlStore::journalPath(inbox_)));
  EXPECT_EQ(receive().count, 0);
}

TEST_F(InterruptedFiling, KilledWhileFilingThenAFullRun) {
  const int count = 12;
  message.seed(*servers, "alice", count);
  const int stopAfter = 7;
  // The run goes on in a child process that is killed part way, once the filing thread
  // has moved at least one mail out of the inbox.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    RcvMailFn killedPartWay = [&](std::string_view server, std::string_view user,
                                  std::string_view pass, std::string_view command,
                                  std::string_view dest, const mail::Progress& progress,
                                  const mail::Saved& saved) {
      int seen = 0;
      return mail::RcvMail(server, user, pass, command, dest, progress,
                           [&](const std::string& path, std::string_view bytes) {
                             saved(path, bytes);
                             if (++seen < stopAfter) return;
                             const auto limit =
                                 std::chrono::steady_clock::now() + std::chrono::seconds(10);
                             while (mailstore::fListMailFiles(even_).empty() &&
                                    mailstore::fListMailFiles(four_).empty()) {
                               if (std::chrono::steady_clock::now() > limit) _exit(3);
                               std::this_thread::sleep_for(std::chrono::milliseconds(1));
                             }
                             _exit(0);
                           });
    };
    receive(killedPartWay);
    _exit(4);  // the run was to be killed before it ended
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0);
  // The killed run left its journal and moved mails behind.
  ASSERT_TRUE(fs::exists(mail::UidlStore::journalPath(inbox_)));
  auto before = places(count);
  std::size_t moved = 0;
  for (const auto& [i, where] : before) {
    ASSERT_EQ(where.size(), 1u) << "mail " << i;
    moved += where.front().first != "inbox";
  }
  EXPECT_GE(moved, 1u);
  EXPECT_EQ(before.size(), static_cast<std::size_t>(stopAfter));

  AccountRun next = receive();
  EXPECT_EQ(next.count, count - stopAfter);
  auto after = places(count);
  for (int i = 1; i <= count; ++i) {
    ASSERT_EQ(after[i].size(), 1u) << "mail " << i;
    // The mails of the killed run stay where that run left them; the rest are filed.
    if (before.count(i)) {
      EXPECT_EQ(after[i], before[i]) << "mail " << i;
    } else {
      expectFiled(i, after[i].front());
    }
  }
  EXPECT_FALSE(fs::exists(mail::UidlStore::journalPath(inbox_)));
  EXPECT_EQ(receive().count, 0);
}
