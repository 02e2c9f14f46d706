// The distribution step on real folders: moves, read marks, desktop calls.
#include "helpers.h"
#include "receive/rules.h"

using namespace receive;
using namespace receive_test;

namespace {

class Distribute : public ProgramDir {
 protected:
  void SetUp() override {
    ProgramDir::SetUp();
    account_ = newAccount();
  }
  fs::path deliver(const std::string& name, const std::string& subject, const std::string& from,
                   const std::string& body = "") {
    headers_.add(name, subject, from, "me@example.jp", body);
    return writeMail(inbox(account_), name);
  }
  fs::path run(const fs::path& mail) {
    return sDistribute(mail, account_, settingIni_, senders_, desktop_, headers_.fn());
  }

  fs::path account_;
  FakeHeaders headers_;
  Recorder desktop_;
  std::string senders_;
};

}  // namespace

TEST_F(Distribute, SenderRuleMovesIntoSubfolderAndMarksRead) {
  fs::create_directories(folder(account_, "受信箱/ニュース"));
  setRules(account_, "差出人|news|受信箱\\ニュース|2||[");
  auto hit = deliver("1.eml", "s", "Daily <news@example.jp>");
  auto miss = deliver("2.eml", "s", "Daily <News@example.jp>");

  fs::path moved = run(hit);
  EXPECT_EQ(moved, folder(account_, "受信箱/ニュース") / "1.eml");
  EXPECT_TRUE(fs::exists(moved));
  EXPECT_FALSE(fs::exists(hit));
  EXPECT_TRUE(mailstore::fIsRead(moved.parent_path(), "1.eml"));
  EXPECT_EQ(mailstore::fCountUnread(moved.parent_path()), 0);

  EXPECT_EQ(run(miss), miss);
  EXPECT_TRUE(fs::exists(miss));
  EXPECT_FALSE(mailstore::fIsRead(inbox(account_), "2.eml"));
  // ReadMail was asked for the rule keys and the mail's own folder; with no body rule
  // the header block is enough.
  EXPECT_EQ(headers_.calls[0], mailstore::fUtf8(hit) + "|subject:from:date:to:nofile:nobody:|" +
                                   mailstore::fUtf8(inbox(account_)));
}

TEST_F(Distribute, BodyRuleReadsTheWholeMessage) {
  setRules(account_, "件名|x||2||[本文|zzz||0||[");
  run(deliver("1.eml", "s", "a@b", "body"));
  ASSERT_EQ(headers_.calls.size(), 1u);
  EXPECT_NE(headers_.calls[0].find("|subject:from:date:to:nofile:|"), std::string::npos);
}

TEST_F(Distribute, MarkReadInPlaceWithoutDestination) {
  setRules(account_, "件名|請求||2||[");
  auto mail = deliver("1.eml", "請求書", "a@b");
  EXPECT_EQ(run(mail), mail);
  EXPECT_TRUE(mailstore::fIsRead(inbox(account_), "1.eml"));
}

TEST_F(Distribute, SecondMoveActsWhereTheMailNowIs) {
  fs::create_directories(folder(account_, "受信箱/A"));
  fs::create_directories(folder(account_, "受信箱/B"));
  // Both rules match: the first moves the mail to A (unread), the second moves it on
  // from A to B and marks it read there.
  setRules(account_, "件名|x|受信箱\\A|0||[差出人|a@|受信箱\\B|2||[");
  auto mail = deliver("1.eml", "x", "a@b");
  fs::path end = run(mail);
  EXPECT_EQ(end, folder(account_, "受信箱/B") / "1.eml");
  EXPECT_TRUE(fs::exists(end));
  EXPECT_FALSE(fs::exists(folder(account_, "受信箱/A") / "1.eml"));
  EXPECT_TRUE(mailstore::fIsRead(end.parent_path(), "1.eml"));
  EXPECT_EQ(mailstore::fCountFiles(folder(account_, "受信箱/A")), 0);
  auto aKeys = mod_ini::fGetIniKeys("Icon", folder(account_, "受信箱/A") / "icon.ini");
  EXPECT_TRUE(aKeys.empty());
}

TEST_F(Distribute, MoveIsSkippedWhenTheMailIsGoneAndTheRunGoesOn) {
  fs::create_directories(folder(account_, "受信箱/A"));
  setRules(account_, "件名|x|受信箱\\A|2|/bin/prog|[件名|x||4|/bin/other|[");
  auto mail = deliver("1.eml", "x", "a@b");
  fs::remove(mail);  // gone before filing (another program took it)
  EXPECT_EQ(run(mail), mail);
  EXPECT_EQ(mailstore::fCountFiles(folder(account_, "受信箱/A")), 0);
  EXPECT_FALSE(fs::exists(folder(account_, "受信箱/A") / "icon.ini"));
  EXPECT_FALSE(fs::exists(inbox(account_) / "icon.ini"));
  // The program of the first rule is not started (bit 4 clear); the second one is.
  EXPECT_EQ(desktop_.started, (std::vector<std::string>{"/bin/other"}));
}

TEST_F(Distribute, MoveNeverOverwritesAndMarkFollowsTheMail) {
  auto target = folder(account_, "受信箱/A");
  writeMail(target, "1.eml", "older mail");
  setRules(account_, "件名|x|受信箱\\A|2||[");
  auto mail = deliver("1.eml", "x", "a@b");
  EXPECT_EQ(run(mail), mail);
  EXPECT_EQ(*fsutil::fReadFile(target / "1.eml"), "older mail");
  EXPECT_TRUE(mailstore::fIsRead(inbox(account_), "1.eml"));
  EXPECT_FALSE(mailstore::fIsRead(target, "1.eml"));
}

TEST_F(Distribute, DestinationOutsideTheAccountOrMissingLeavesTheMail) {
  setRules(account_, "件名|x|..\\Account02|0||[件名|x|/tmp|0||[件名|x|受信箱\\無い|0||[");
  auto mail = deliver("1.eml", "x", "a@b");
  EXPECT_EQ(run(mail), mail);
  EXPECT_TRUE(fs::exists(mail));
  EXPECT_FALSE(fs::exists(folder(account_, "受信箱/無い")));
}

TEST_F(Distribute, BodyRulesOpenOnlyWebAddresses) {
  setRules(account_, "本文|http||1||[本文|file:||1||[本文|C:\\||8||[本文|https://b||8||[");
  auto mail = deliver("1.eml", "s", "a@b",
                      "見てね http://a.example.jp/x 今すぐ\r\nfile:///etc/passwd\r\n"
                      "C:\\Windows\\calc.exe\r\nhttps://b.example.jp/\r\n");
  run(mail);
  EXPECT_EQ(desktop_.opened, (std::vector<std::string>{"http://a.example.jp/x"}));
  EXPECT_EQ(desktop_.browsed, (std::vector<std::string>{"https://b.example.jp/"}));
  EXPECT_TRUE(desktop_.started.empty());
}

TEST_F(Distribute, UnreadableMailIsLeftAloneAndCollectsNoReading) {
  mod_ini::fWriteIniString("Speech", "a@b", "えー", settingIni_);
  setRules(account_, "件名|||2|/bin/prog|[");
  auto mail = writeMail(inbox(account_), "junk.eml");  // no headers known: ReadMail fails
  EXPECT_EQ(run(mail), mail);
  EXPECT_FALSE(mailstore::fIsRead(inbox(account_), "junk.eml"));
  EXPECT_TRUE(desktop_.started.empty());
  EXPECT_EQ(senders_, "");
}

TEST_F(Distribute, CollectsEachReadingOnce) {
  mod_ini::fWriteIniString("Speech", "tanaka@example.jp", "たなか", settingIni_);
  mod_ini::fWriteIniString("Speech", "sato@example.jp", "さとう", settingIni_);
  run(deliver("1.eml", "s", "田中 <tanaka@example.jp>"));
  run(deliver("2.eml", "s", "tanaka@example.jp"));
  run(deliver("3.eml", "s", "unknown@example.jp"));
  run(deliver("4.eml", "s", "\"Sato\" <sato@example.jp>"));
  EXPECT_EQ(senders_, "たなかさま、、さとうさま、、");
}
