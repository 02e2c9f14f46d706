// Sending a draft through the account's SMTP server (the aiosmtpd sink), receiving it
// back from dovecot and reading every field as the program shows it.
#include <gtest/gtest.h>

#include <fstream>
#include <thread>

#if defined(__SANITIZE_ADDRESS__)
#define QB_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QB_TEST_ASAN 1
#endif
#endif
#ifdef QB_TEST_ASAN
// The sanitizer's count of live heap bytes (its header ships with clang only).
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#else
#include <malloc.h>
#endif

#include "../mail/read_test_support.h"
#include "../mail/servertest.h"
#include "compose/outgoing.h"
#include "store/accountsettings.h"
#include "store/fsutil.h"
#include "store/mailstore.h"

namespace fs = std::filesystem;
using compose::Draft;

namespace {

std::string localNow() {
  std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y/%m/%d %H:%M:%S", &tm);
  return buf;
}

// Bytes the program holds from the heap now.
std::size_t heapInUse() {
#ifdef QB_TEST_ASAN
  return __sanitizer_get_current_allocated_bytes();
#else
  const struct mallinfo2 m = mallinfo2();
  return m.uordblks + m.hblkhd;
#endif
}

std::vector<std::string> readAll(const fs::path& file, const fs::path& folder) {
  auto r = mail::ReadMail(mailstore::fUtf8(file),
                          "subject:from:to:cc:bcc:date:", mailstore::fUtf8(folder));
  auto* parts = std::get_if<std::vector<std::string>>(&r);
  if (!parts) ADD_FAILURE() << std::get<std::string>(r);
  return parts ? *parts : std::vector<std::string>{};
}

class Send : public qbtest::ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    if (fNotStarted()) return;
    work = fs::path(servers->dir) / "work";
    account = work / "Account01";
    fs::create_directories(account);
    setAccount(std::to_string(servers->smtp), "alice", "secret");
  }

  void setAccount(const std::string& port, const std::string& user, const std::string& pass,
                  const std::string& host = "127.0.0.1") {
    accountsettings::AccountSettings s;
    s.account = "仕事";
    s.address = "office@example.com";
    s.name = "差出 \"花\" 子";
    s.smtpHost = host;
    s.smtpPort = port;
    s.user = user;
    s.pass = pass;
    ASSERT_TRUE(accountsettings::fSave(account, s));
  }

  // The mails waiting for `user`, saved into a folder of their own (deleted on the server).
  std::vector<fs::path> receive(const std::string& user) {
    std::string pass;
    for (auto& [u, p] : qbtest::MailServers::kUsers)
      if (u == user) pass = p;
    fs::path box = work / ("inbox-" + user);
    fs::create_directories(box);
    auto r = mail::RcvMail(servers->popServer(), user, pass, "SAVEALLD", "<" + box.string());
    std::vector<fs::path> out;
    if (auto* paths = std::get_if<std::vector<std::string>>(&r))
      out.assign(paths->begin(), paths->end());
    else if (!std::get<std::string>(r).empty())
      ADD_FAILURE() << std::get<std::string>(r);
    return out;
  }

  std::size_t sentCount() const {
    return mailstore::fListMailFiles(account / mailstore::fPath(mailstore::kSent)).size();
  }

  fs::path log() const { return work / "log.txt"; }

  fs::path work, account;
};

TEST_F(Send, JapaneseMailArrivesWhole) {
  readtest::LocalZone zone("EST5");  // not the zone a fixed "+0900" would be right for
  fs::path report = work / "報告書①.txt", data = work / "data.bin";
  std::ofstream(report, std::ios::binary) << "報告の中身①～\r\n";
  std::string binary(300000, '\0');
  for (std::size_t i = 0; i < binary.size(); ++i) binary[i] = static_cast<char>(i * 7919 >> 3);
  std::ofstream(data, std::ios::binary) << binary;
  Draft d{"山田 太郎<bob@localhost>",
          "佐藤 花子<carol@localhost>, ",
          "alice@localhost",
          "会議の件①～について",
          "本文①と～です。\r\n二行目\r\n",
          {mailstore::fUtf8(report), mailstore::fUtf8(data)}};
  std::uint64_t lastDone = 0, lastTotal = 0;
  bool backwards = false;
  const std::string before = localNow();
  auto r = compose::fSend(log(), account, d, [&](std::uint64_t done, std::uint64_t total) {
    backwards = backwards || done < lastDone;
    lastDone = done;
    lastTotal = total;
  });
  const std::string after = localNow();
  ASSERT_TRUE(r.sent) << r.text;
  EXPECT_EQ(r.text, "送信しました");
  EXPECT_FALSE(backwards);
  EXPECT_GT(lastTotal, binary.size());
  EXPECT_EQ(lastDone, lastTotal);

  fs::path out = work / "extracted";
  fs::create_directories(out);
  auto bobs = receive("bob");
  ASSERT_EQ(bobs.size(), 1u);
  auto f = readAll(bobs[0], out);
  ASSERT_EQ(f.size(), 9u);  // six keys, the body, two attachments
  EXPECT_EQ(f[0], "subject: 会議の件①～について");
  EXPECT_EQ(f[1], "from: 差出 \"花\" 子 <office@example.com>");
  EXPECT_EQ(f[2], "to: 山田 太郎 <bob@localhost>");
  EXPECT_EQ(f[3], "cc: 佐藤 花子 <carol@localhost>");
  EXPECT_EQ(f[4], "bcc: ");
  EXPECT_GE(f[5].substr(6), before);
  EXPECT_LE(f[5].substr(6), after);
  EXPECT_EQ(f[6], "body: 本文①と～です。\r\n二行目\r\n");
  EXPECT_EQ(fs::path(f[7].substr(6)).filename(), "報告書①.txt");
  EXPECT_EQ(fsutil::fReadFile(f[7].substr(6)), "報告の中身①～\r\n");
  EXPECT_EQ(fsutil::fReadFile(f[8].substr(6)), binary);

  // Cc and Bcc got it too; the Bcc address is in no copy.
  auto carols = receive("carol"), alices = receive("alice");
  ASSERT_EQ(carols.size(), 1u);
  ASSERT_EQ(alices.size(), 1u);
  for (auto& m : {bobs[0], carols[0], alices[0]}) {
    std::string raw = fsutil::fReadFile(m).value();
    EXPECT_EQ(raw.find("alice@"), std::string::npos);
    EXPECT_EQ(raw.find("Bcc"), std::string::npos);
  }

  // The copy in the sent box, with its own date in local time.
  ASSERT_TRUE(r.copy.ok) << r.copy.error;
  EXPECT_EQ(r.copy.file.parent_path(), account / mailstore::fPath(mailstore::kSent));
  auto c = readAll(r.copy.file, out);
  ASSERT_GE(c.size(), 6u);
  EXPECT_EQ(c[0], "subject: 会議の件①～について");
  EXPECT_EQ(c[2], "to: 山田 太郎<bob@localhost>");
  EXPECT_EQ(c[4], "bcc: alice@localhost");
  EXPECT_GE(c[5].substr(6), before);
  EXPECT_LE(c[5].substr(6), after);
}

TEST_F(Send, FailuresSendNothingAndKeepNoCopy) {
  struct Case {
    const char* what;
    std::string port, user, pass, to;
    bool trustCa;
    std::vector<std::string> attachments;
    std::string expect;
  } cases[] = {
      {"server down", "1", "alice", "secret", "bob@localhost", true, {}, "接続できません"},
      {"451 at RCPT",
       std::to_string(servers->smtp),
       "alice",
       "secret",
       "fail451@localhost",
       true,
       {},
       "451 4.3.0"},
      {"554 after DATA",
       std::to_string(servers->smtp),
       "alice",
       "secret",
       "fail554@localhost",
       true,
       {},
       "554 5.6.0"},
      {"wrong password",
       std::to_string(servers->submission),
       "alice",
       "wrong",
       "bob@localhost",
       true,
       {},
       "535"},
      {"no login where required",
       std::to_string(servers->submission),
       "",
       "",
       "bob@localhost",
       true,
       {},
       "530"},
      {"untrusted certificate",
       std::to_string(servers->smtps),
       "alice",
       "secret",
       "bob@localhost",
       false,
       {},
       "証明書を信頼できません"},
      {"missing attachment",
       std::to_string(servers->smtp),
       "alice",
       "secret",
       "bob@localhost",
       true,
       {(work / "ない.pdf").string()},
       "ない.pdf"},
  };
  const mail::LibrarySettings trusted = mail::fGetLibrarySettings();
  for (auto& c : cases) {
    setAccount(c.port, c.user, c.pass);
    mail::LibrarySettings s = trusted;
    if (!c.trustCa) s.caFile.clear();
    mail::sSetLibrarySettings(s);
    auto r = compose::fSend(log(), account, {c.to, "", "", "件名", "本文", c.attachments});
    mail::sSetLibrarySettings(trusted);
    EXPECT_FALSE(r.sent) << c.what;
    EXPECT_EQ(r.text.rfind("送信に失敗しました", 0), 0u) << c.what << ": " << r.text;
    EXPECT_NE(r.text.find(c.expect), std::string::npos) << c.what << ": " << r.text;
    EXPECT_FALSE(r.copy.ok) << c.what;
    EXPECT_EQ(sentCount(), 0u) << c.what;
  }
  EXPECT_TRUE(receive("bob").empty());
  // Through the same port with the right password it goes.
  setAccount(std::to_string(servers->submission), "alice", "secret");
  auto ok = compose::fSend(log(), account, {"bob@localhost", "", "", "件名", "本文", {}});
  EXPECT_TRUE(ok.sent) << ok.text;
  EXPECT_EQ(sentCount(), 1u);
  // A mail the server took stays reported as sent when its copy cannot be kept.
  const fs::path sentBox = account / mailstore::fPath(mailstore::kSent);
  fs::remove_all(sentBox);
  std::ofstream(sentBox) << "not a folder";
  auto noCopy = compose::fSend(log(), account, {"bob@localhost", "", "", "件名", "本文", {}});
  EXPECT_TRUE(noCopy.sent) << noCopy.text;
  EXPECT_FALSE(noCopy.copy.ok);
  EXPECT_EQ(noCopy.copy.error.rfind("送信しましたが", 0), 0u) << noCopy.copy.error;
}

TEST_F(Send, RepliesThreadAndPendingMailGoesOutInTurn) {
  // A reply carries In-Reply-To and References at the receiving end, and its own
  // Message-ID; the sent copy counts as read.
  Draft reply{"bob@localhost", "", "", "Re: 件名", "返信", {}};
  reply.inReplyTo = "<orig@example.jp>";
  reply.references = "<root@example.jp>\r\nBcc: evil@x <orig@example.jp>";
  auto r = compose::fSend(log(), account, reply);
  ASSERT_TRUE(r.sent) << r.text;
  const fs::path sentBox = account / mailstore::fPath(mailstore::kSent);
  EXPECT_TRUE(mailstore::fIsRead(sentBox, r.copy.file.filename().string()));
  EXPECT_EQ(mailstore::fCountUnread(sentBox), 0);
  auto bobs = receive("bob");
  ASSERT_EQ(bobs.size(), 1u);
  auto got = mail::ReadMail(mailstore::fUtf8(bobs[0]), "in-reply-to:references:message-id:nofile:nobody:", "");
  auto* h = std::get_if<std::vector<std::string>>(&got);
  ASSERT_TRUE(h);
  EXPECT_EQ((*h)[0], "in-reply-to: <orig@example.jp>");
  EXPECT_EQ((*h)[1], "references: <root@example.jp> <orig@example.jp>");
  EXPECT_EQ((*h)[2].rfind("message-id: <", 0), 0u) << (*h)[2];
  EXPECT_EQ(fsutil::fReadFile(bobs[0])->find("evil"), std::string::npos);

  // Three pending mails: two accepted (moved out, copies in 送信箱), one refused (kept).
  const Draft pending[] = {{"bob@localhost", "", "", "一通目", "1", {}},
                           {"fail451@localhost", "", "", "二通目", "2", {}},
                           {"carol@localhost", "", "", "三通目", "3", {}}};
  fs::path kept;
  for (const Draft& d : pending) {
    auto stored = compose::fStore(account, compose::Box::Pending, d);
    ASSERT_TRUE(stored.ok) << stored.error;
    if (d.subject == "二通目") kept = stored.file;
  }
  std::vector<std::size_t> seen;
  auto results = compose::fSendPending(log(), account, [&](std::size_t i, std::size_t n) {
    EXPECT_EQ(n, 3u);
    seen.push_back(i);
  });
  EXPECT_EQ(seen, (std::vector<std::size_t>{1, 2, 3}));
  ASSERT_EQ(results.size(), 3u);
  EXPECT_TRUE(results[0].result.sent) << results[0].result.text;
  EXPECT_FALSE(results[1].result.sent);
  EXPECT_NE(results[1].result.text.find("451"), std::string::npos) << results[1].result.text;
  EXPECT_TRUE(results[2].result.sent) << results[2].result.text;
  EXPECT_EQ(mailstore::fListMailFiles(account / mailstore::fPath("送信箱/送信待ち")),
            std::vector<fs::path>{kept});
  EXPECT_EQ(sentCount(), 3u);
  EXPECT_EQ(mailstore::fCountUnread(sentBox), 0);
  EXPECT_EQ(receive("bob").size(), 1u);
  EXPECT_EQ(receive("carol").size(), 1u);
}

// The composer sends each mail from a thread of its own: whatever a send opens for its
// thread must be gone with the thread, or a program that stays open all day grows with
// every mail.
TEST_F(Send, SendsFromShortLivedThreadsLeaveNothingBehind) {
  const Draft d{"山田 太郎<bob@localhost>", "", "", "会議の件①～について",
                "本文①と～です。\r\n二行目\r\n", {}};
  auto sendEachOnItsThread = [&](int count) {
    int sent = 0;
    for (int i = 0; i < count; ++i) {
      compose::SendResult r;
      std::thread([&] { r = compose::fSend(log(), account, d); }).join();
      EXPECT_TRUE(r.sent) << r.text;
      sent += r.sent;
    }
    return sent;
  };
  // What the libraries set up once for the whole program is in place after the first few.
  ASSERT_EQ(sendEachOnItsThread(20), 20);
  const std::size_t before = heapInUse();
  constexpr int kSends = 300;
  ASSERT_EQ(sendEachOnItsThread(kSends), kSends);
  const std::size_t after = heapInUse();
  const std::size_t grown = after > before ? after - before : 0;
  EXPECT_LT(grown, std::size_t{256} << 10)
      << grown / kSends << " bytes kept per send, " << grown << " after " << kSends << " sends";
}

// Sending logs in as the account says: with the receiving login (as before), with an ID
// and password of its own, or not at all; the submission port requires a login.
TEST_F(Send, SendingLoginIsTheAccountsChoice) {
  struct Case {
    const char* what;
    accountsettings::SmtpLogin login;
    std::string smtpUser, smtpPass;
    std::string expect;
  } cases[] = {
      {"own ID", accountsettings::SmtpLogin::Own, "bob", "hunter2", "送信しました"},
      {"receiving login (wrong for sending)", accountsettings::SmtpLogin::SameAsReceiving, "bob", "hunter2", "535"},
      {"no login", accountsettings::SmtpLogin::None, "bob", "hunter2", "530"},
  };
  for (const auto& c : cases) {
    auto s = accountsettings::fLoad(account);
    s.smtpPort = std::to_string(servers->submission);
    s.user = "alice";
    s.pass = "not-the-sending-password";
    s.smtpLogin = c.login;
    s.smtpUser = c.smtpUser;
    s.smtpPass = c.smtpPass;
    ASSERT_TRUE(accountsettings::fSave(account, s));
    auto r = compose::fSend(log(), account, {"bob@localhost", "", "", "件名", "本文", {}});
    EXPECT_NE(r.text.find(c.expect), std::string::npos) << c.what << ": " << r.text;
  }
  EXPECT_EQ(receive("bob").size(), 1u);
  // The own password is kept scrambled, as the receiving one.
  const std::string ini = fsutil::fReadFile(account / "set.ini").value_or("");
  EXPECT_EQ(ini.find("hunter2"), std::string::npos);
  EXPECT_EQ(accountsettings::fLoad(account).smtpPass, "hunter2");
}

}  // namespace
