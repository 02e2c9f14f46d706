// The account step and the all-accounts run, with a library function that saves real
// message files into the inbox the way the mail library does.
#include "helpers.h"
#include "receive/notice.h"
#include "store/modCommon.h"

using namespace receive;
using namespace receive_test;

TEST(ReceiveCommand, FromReceiveCountAndKeepOnServer) {
  EXPECT_EQ(fReceiveCommand(0, 1), "SAVEALL");
  EXPECT_EQ(fReceiveCommand(0, 0), "SAVEALLD");
  EXPECT_EQ(fReceiveCommand(3, 1), "SAVE 1-3");
  EXPECT_EQ(fReceiveCommand(3, 0), "SAVD 1-3");
  EXPECT_EQ(fReceiveCommand(256, 7), "SAVE 1-256");
  EXPECT_EQ(fReceiveCommand(-2, 0), "SAVEALLD");
}

namespace {

// Saves the queued messages for a server into the inbox named by dest, like RcvMail.
struct FakeServer {
  std::map<std::string, std::vector<std::string>> waiting;  // server -> message names
  std::map<std::string, std::string> failure;               // server -> library text
  std::vector<std::string> calls;
  int progressCalls = 0;

  RcvMailFn fn() {
    return [this](std::string_view server, std::string_view user, std::string_view pass,
                  std::string_view command, std::string_view dest, const mail::Progress& progress,
                  const mail::Saved& savedHook) -> mail::MailResult {
      calls.push_back(std::string(server) + "|" + std::string(user) + "|" + std::string(pass) +
                      "|" + std::string(command) + "|" + std::string(dest));
      if (auto f = failure.find(std::string(server)); f != failure.end()) return f->second;
      if (dest.empty() || dest[0] != '<') return std::string("bad destination");
      fs::path inbox = mailstore::fPath(dest.substr(1));
      std::vector<std::string> saved;
      auto& names = waiting[std::string(server)];
      for (const auto& name : names) {
        const std::string bytes = "Subject: " + name + "\r\n\r\nx\r\n";
        std::ofstream(inbox / name, std::ios::binary) << bytes;
        saved.push_back(mailstore::fUtf8(inbox / name));
        if (savedHook) savedHook(saved.back(), bytes);
        if (progress) {
          progress(saved.size(), names.size());
          ++progressCalls;
        }
      }
      names.clear();
      return saved;
    };
  }
};

class Receive : public ProgramDir {
 protected:
  AccountRef account(const std::string& server, const std::string& caption) {
    fs::path folder = newAccount();
    modCommon::sSetAccountValue(folder, "POP3", server);
    modCommon::sSetAccountValue(folder, "User", "ユーザー");
    modCommon::sSetAccountValue(folder, "Pass", "p@ss");
    int number = std::stoi(mailstore::fUtf8(folder).substr(mailstore::fUtf8(folder).size() - 2));
    return AccountRef{number, caption, folder};
  }

  FakeServer server_;
  FakeHeaders headers_;
  Recorder desktop_;
  std::vector<std::string> statuses_;
  StatusFn status_ = [this](const std::string& s) { statuses_.push_back(s); };
};

}  // namespace

TEST_F(Receive, AccountStepSavesFilesAndFilesThem) {
  AccountRef a = account("pop.example.jp", "仕事");
  mod_ini::fWriteIniString("Mail", "Receive", "5", settingIni_);
  mod_ini::fWriteIniString("Mail", "SvrDel", "1", a.folder / "set.ini");
  mod_ini::fWriteIniString("Speech", "boss@example.jp", "ぶちょう", settingIni_);
  fs::create_directories(folder(a.folder, "受信箱/上司"));
  setRules(a.folder, "差出人|boss@|受信箱\\上司|2||[");
  server_.waiting["pop.example.jp"] = {"m1.eml", "m2.eml", "m3.eml"};
  headers_.add("m1.eml", "a", "Boss <boss@example.jp>", "", "");
  headers_.add("m2.eml", "b", "other@example.jp", "", "");
  headers_.add("m3.eml", "c", "boss@example.jp", "", "");

  int progress = 0;
  AccountRun run = fReceiveAccount(
      a, settingIni_, "", desktop_, status_, [&](size_t, size_t) { ++progress; }, server_.fn(),
      headers_.fn());

  ASSERT_EQ(server_.calls.size(), 1u);
  EXPECT_EQ(server_.calls[0],
            "pop.example.jp|ユーザー|p@ss|SAVE 1-5|<" + mailstore::fUtf8(inbox(a.folder)));
  EXPECT_EQ(progress, 3);
  // Each mail was read once, while the others were arriving, and filed from that read.
  EXPECT_EQ(headers_.calls.size(), 3u);
  EXPECT_TRUE(run.received);
  EXPECT_EQ(run.count, 3);
  EXPECT_EQ(run.saved.size(), 3u);
  EXPECT_EQ(run.summaryLine, "仕事 ： 3件受信");
  EXPECT_EQ(run.status, "仕事 ： 3件受信");
  EXPECT_EQ(statuses_, (std::vector<std::string>{"仕事 ： 受信中", "仕事 ： 3件受信"}));
  EXPECT_EQ(run.speechFragment, "アカウント<NUM VAL=1>わ、<NUMK  VAL=3  COUNTER=けん>、");
  EXPECT_EQ(run.speechSenders, "ぶちょうさま、、");
  // Filed: two mails moved and read, one left unread in the inbox.
  EXPECT_EQ(mailstore::fCountFiles(folder(a.folder, "受信箱/上司")), 2);
  EXPECT_EQ(mailstore::fCountUnread(folder(a.folder, "受信箱/上司")), 0);
  EXPECT_EQ(mailstore::fListMailFiles(inbox(a.folder)),
            (std::vector<fs::path>{inbox(a.folder) / "m2.eml"}));
}

TEST_F(Receive, NothingNewAndLibraryFailures) {
  AccountRef a = account("quiet.example.jp", "個人");
  AccountRun none = fReceiveAccount(a, settingIni_, "たなかさま、、", desktop_, status_, {},
                                    server_.fn(), headers_.fn());
  EXPECT_FALSE(none.received);
  EXPECT_EQ(none.status, "個人 ： 新着メールはありません");
  EXPECT_EQ(none.speechSenders, "たなかさま、、");
  EXPECT_EQ(server_.calls[0].substr(server_.calls[0].find("SAVE")),
            "SAVEALLD|<" + mailstore::fUtf8(inbox(a.folder)));

  server_.failure["quiet.example.jp"] = "POP3 ログインに失敗しました: -ERR auth";
  AccountRun failed =
      fReceiveAccount(a, settingIni_, "", desktop_, status_, {}, server_.fn(), headers_.fn());
  EXPECT_FALSE(failed.received);
  EXPECT_EQ(failed.libraryText, "POP3 ログインに失敗しました: -ERR auth");
  EXPECT_EQ(failed.status, "POP3 ログインに失敗しました: -ERR auth");
  EXPECT_EQ(failed.summaryLine, "");

  // An exception out of the library ends the step with "受信中" still showing.
  RcvMailFn thrower = [](auto, auto, auto, auto, auto, const mail::Progress&,
                         const mail::Saved&) -> mail::MailResult {
    throw std::runtime_error("boom");
  };
  AccountRun broken =
      fReceiveAccount(a, settingIni_, "", desktop_, status_, {}, thrower, headers_.fn());
  EXPECT_EQ(broken.status, "個人 ： 受信中");
}

TEST_F(Receive, AllAccountsSummarisesInTreeOrder) {
  AccountRef a = account("one.example.jp", "一");
  AccountRef b = account("two.example.jp", "二");
  AccountRef c = account("three.example.jp", "三");
  mod_ini::fWriteIniString("Speech", "x@example.jp", "えっくす", settingIni_);
  server_.waiting["one.example.jp"] = {"a1.eml"};
  server_.waiting["three.example.jp"] = {"c1.eml", "c2.eml"};
  headers_.add("a1.eml", "s", "x@example.jp", "", "");
  headers_.add("c1.eml", "s", "X <x@example.jp>", "", "");
  headers_.add("c2.eml", "s", "y@example.jp", "", "");

  AllRun all =
      fReceiveAll({a, b, c}, settingIni_, desktop_, status_, {}, server_.fn(), headers_.fn());
  EXPECT_EQ(all.accountsReceived, 2);
  EXPECT_EQ(all.total, 3);
  EXPECT_EQ(all.summary, "一 ： 1件受信\r\n三 ： 2件受信\r\n");
  EXPECT_EQ(all.speechFragments,
            "アカウント<NUM VAL=1>わ、<NUMK  VAL=1  COUNTER=けん>、"
            "アカウント<NUM VAL=3>わ、<NUMK  VAL=2  COUNTER=けん>、");
  EXPECT_EQ(all.speechSenders, "えっくすさま、、");
  EXPECT_EQ(all.status, "三 ： 2件受信");
  EXPECT_EQ(mailstore::fCountUnread(inbox(c.folder)), 2);

  // A second run finds nothing: no summary, and the last account's status stays.
  server_.failure["two.example.jp"] = "接続できません";
  AllRun again =
      fReceiveAll({a, b, c}, settingIni_, desktop_, status_, {}, server_.fn(), headers_.fn());
  EXPECT_EQ(again.summary, "");
  EXPECT_EQ(again.accountsReceived, 0);
  EXPECT_EQ(again.status, "三 ： 新着メールはありません");
  EXPECT_EQ(fSpeechAfterAll(2, again.speechFragments, again.speechSenders), "");
}

// The filing follows the library's own list of saved mails, whatever the hook saw: a mail
// reported in another order, or never shown to the hook, is filed once all the same.
TEST_F(Receive, MailsTheHookSawOutOfOrderOrNotAtAllAreFiledOnce) {
  AccountRef a = account("odd.example.jp", "順不同");
  fs::create_directories(folder(a.folder, "受信箱/上司"));
  setRules(a.folder, "差出人|boss@|受信箱\\上司|2||[");
  const std::vector<std::string> names = {"m1.eml", "m2.eml", "m3.eml", "m4.eml"};
  for (const auto& name : names) headers_.add(name, name, "boss@example.jp", "", "");
  RcvMailFn library = [&](auto, auto, auto, auto, std::string_view dest, const mail::Progress&,
                          const mail::Saved& hook) -> mail::MailResult {
    fs::path box = mailstore::fPath(dest.substr(1));
    std::vector<std::string> saved;
    for (const auto& name : names) {
      std::ofstream(box / name, std::ios::binary) << "Subject: " << name << "\r\n\r\nx\r\n";
      saved.push_back(mailstore::fUtf8(box / name));
    }
    // The hook sees m2, m1, m3; m4 never.
    for (int i : {1, 0, 2}) hook(saved[i], "");
    return saved;
  };
  AccountRun run =
      fReceiveAccount(a, settingIni_, "", desktop_, status_, {}, library, headers_.fn());

  ASSERT_EQ(run.count, 4);
  EXPECT_EQ(headers_.calls.size(), 4u);  // each mail read once
  ASSERT_EQ(run.filed.size(), 4u);
  ASSERT_EQ(run.saved.size(), 4u);
  for (size_t i = 0; i < names.size(); ++i) {
    EXPECT_EQ(mailstore::fPath(run.saved[i]), inbox(a.folder) / names[i]);
    EXPECT_EQ(run.filed[i].path, folder(a.folder, "受信箱/上司") / names[i]);
    EXPECT_EQ(run.filed[i].subjectElement, "subject: " + names[i]);
  }
  EXPECT_EQ(mailstore::fCountFiles(folder(a.folder, "受信箱/上司")), 4);
  EXPECT_EQ(mailstore::fCountUnread(folder(a.folder, "受信箱/上司")), 0);
  EXPECT_TRUE(mailstore::fListMailFiles(inbox(a.folder)).empty());
}
