// The store half of filing: a mail that several rules move goes straight to the last
// folder that takes it, and a read mark set by any rule goes with it. And the senders'
// readings looked up from the [Speech] values read once per run.
#include "helpers.h"
#include "receive/notice.h"
#include "receive/rules.h"
#include "store/iconbatch.h"

using namespace receive;
using namespace receive_test;

namespace {

RuleAction moveTo(const std::string& destination, bool markRead = false) {
  RuleAction a;
  a.destination = destination;
  a.markRead = markRead;
  return a;
}

RuleAction mark() {
  RuleAction a;
  a.markRead = true;
  return a;
}

// Each case runs with the run's batch of read states and without one.
class StoreActions : public ProgramDir, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    ProgramDir::SetUp();
    account_ = newAccount();
    in_ = inbox(account_);
    x_ = folder(account_, "受信箱/X");
    y_ = folder(account_, "受信箱/Y");
    fs::create_directories(x_);
    fs::create_directories(y_);
  }
  fs::path apply(const std::vector<RuleAction>& actions, const fs::path& mail) {
    if (!GetParam()) return sApplyStoreActions(actions, mail, account_).value_or(mail);
    mailstore::IconBatch batch;
    fs::path where = sApplyStoreActions(actions, mail, account_, &batch).value_or(mail);
    EXPECT_TRUE(batch.fSave());
    return where;
  }
  static std::string bytes(const fs::path& p) { return fsutil::fReadFile(p).value_or("<none>"); }

  fs::path account_, in_, x_, y_;
};

}  // namespace

TEST_P(StoreActions, LastFolderThatTakesTheMailWins) {
  fs::path mail = writeMail(in_, "1.eml", "one");
  fs::path where = apply({moveTo("受信箱\\X"), moveTo("受信箱\\Y")}, mail);
  EXPECT_EQ(where, y_ / "1.eml");
  EXPECT_EQ(bytes(y_ / "1.eml"), "one");
  EXPECT_FALSE(fs::exists(mail));
  // The mail never passed through X: nothing there, not even a read-state file.
  EXPECT_TRUE(fs::is_empty(x_));
  EXPECT_FALSE(mailstore::fIsRead(y_, "1.eml"));
  EXPECT_EQ(mailstore::fCountUnread(y_), 1);
}

TEST_P(StoreActions, TakenNameFallsBackToTheEarlierFolder) {
  writeMail(y_, "1.eml", "already in Y");
  fs::path mail = writeMail(in_, "1.eml", "one");
  EXPECT_EQ(apply({moveTo("受信箱\\X"), moveTo("受信箱\\Y")}, mail), x_ / "1.eml");
  EXPECT_EQ(bytes(x_ / "1.eml"), "one");
  EXPECT_EQ(bytes(y_ / "1.eml"), "already in Y");

  // Both taken: it stays where the library saved it.
  writeMail(y_, "2.eml", "Y's");
  writeMail(x_, "2.eml", "X's");
  fs::path second = writeMail(in_, "2.eml", "two");
  EXPECT_EQ(apply({moveTo("受信箱\\X", true), moveTo("受信箱\\Y")}, second), second);
  EXPECT_EQ(bytes(second), "two");
  EXPECT_EQ(bytes(x_ / "2.eml"), "X's");
  EXPECT_EQ(bytes(y_ / "2.eml"), "Y's");
  EXPECT_TRUE(mailstore::fIsRead(in_, "2.eml"));  // the mark stays with the mail
  EXPECT_FALSE(mailstore::fIsRead(x_, "2.eml"));
}

TEST_P(StoreActions, MissingOrForbiddenFoldersAreSkipped) {
  fs::path mail = writeMail(in_, "1.eml", "one");
  EXPECT_EQ(apply({moveTo("受信箱\\X"), moveTo("受信箱\\missing"), moveTo("..\\outside")}, mail), x_ / "1.eml");
  EXPECT_FALSE(fs::exists(folder(account_, "受信箱/missing")));
  EXPECT_FALSE(fs::exists(account_.parent_path() / "outside"));
  fs::path gone = in_ / "gone.eml";
  EXPECT_EQ(apply({moveTo("受信箱\\X", true)}, gone), gone);
  EXPECT_FALSE(fs::exists(x_ / "gone.eml"));
  EXPECT_FALSE(mailstore::fIsRead(x_, "gone.eml"));
}

TEST_P(StoreActions, ALaterRuleNamingTheInboxKeepsItThere) {
  fs::path mail = writeMail(in_, "1.eml", "one");
  EXPECT_EQ(apply({moveTo("受信箱\\X"), moveTo("受信箱")}, mail), mail);
  EXPECT_EQ(bytes(mail), "one");
  EXPECT_TRUE(fs::is_empty(x_));
  // And the other way round it goes on to X.
  EXPECT_EQ(apply({moveTo("受信箱"), moveTo("受信箱\\X")}, mail), x_ / "1.eml");
}

TEST_P(StoreActions, ReadMarkOfAnyRuleFollowsTheMail) {
  fs::path a = writeMail(in_, "a.eml");
  EXPECT_EQ(apply({moveTo("受信箱\\X", true), moveTo("受信箱\\Y")}, a), y_ / "a.eml");
  EXPECT_TRUE(mailstore::fIsRead(y_, "a.eml"));
  fs::path b = writeMail(in_, "b.eml");
  EXPECT_EQ(apply({mark(), moveTo("受信箱\\X")}, b), x_ / "b.eml");
  EXPECT_TRUE(mailstore::fIsRead(x_, "b.eml"));
  fs::path c = writeMail(in_, "c.eml");
  EXPECT_EQ(apply({moveTo("受信箱\\Y"), mark()}, c), y_ / "c.eml");
  EXPECT_TRUE(mailstore::fIsRead(y_, "c.eml"));
  fs::path d = writeMail(in_, "d.eml");
  EXPECT_EQ(apply({mark()}, d), d);
  EXPECT_TRUE(mailstore::fIsRead(in_, "d.eml"));
  EXPECT_EQ(mailstore::fCountUnread(in_), 0);
  EXPECT_EQ(mailstore::fCountUnread(x_), 0);
  EXPECT_EQ(mailstore::fCountUnread(y_), 0);
  // A mail that stays unmarked keeps no entry in the folders it did not reach.
  EXPECT_EQ(mod_ini::fGetIniString("Icon", "a.eml", x_ / "icon.ini", "none"), "none");
  EXPECT_EQ(mod_ini::fGetIniString("Icon", "a.eml", in_ / "icon.ini", "none"), "none");
}

TEST_P(StoreActions, DestinationsSpelledWithTrailingSeparators) {
  // Folder names written by hand may end in a separator: still the same folders.
  fs::path a = writeMail(in_, "a.eml");
  EXPECT_EQ(apply({moveTo("受信箱\\X\\", true)}, a).lexically_normal(), (x_ / "a.eml").lexically_normal());
  EXPECT_TRUE(fs::exists(x_ / "a.eml"));
  EXPECT_TRUE(mailstore::fIsRead(x_, "a.eml"));
  fs::path b = writeMail(in_, "b.eml");
  EXPECT_EQ(apply({moveTo("受信箱\\X"), moveTo("受信箱\\")}, b), b);
  EXPECT_TRUE(fs::exists(b));
}

INSTANTIATE_TEST_SUITE_P(Filing, StoreActions, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Batch" : "Direct"; });

TEST(StoreActionsMoves, OnlyDestinationsMove) {
  EXPECT_FALSE(fMovesMail({}));
  EXPECT_FALSE(fMovesMail({mark()}));
  EXPECT_TRUE(fMovesMail({mark(), moveTo("受信箱\\X")}));
}

class RunReadings : public ProgramDir {};

TEST_F(RunReadings, LookedUpAsTheSettingsFileMatchesKeys) {
  std::ofstream(settingIni_, std::ios::binary)
      << "[Speech]\r\ntanaka@example.jp=たなか\r\n Mixed@Example.JP = みっくす \r\nsato@example.jp=さとう\r\n"
         "sato@example.jp=にばんめ\r\n[Other]\r\nnobody@example.jp=だれ\r\n";
  const auto readings = mod_ini::IniFile::fLoad(settingIni_).fSectionValues("Speech");
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"from: 田中 <tanaka@example.jp>", "たなか"},
      {"from: TANAKA@Example.JP", "たなか"},
      {"from:  tanaka@example.jp  ", "たなか"},
      {"from: Tanaka <\ttanaka@EXAMPLE.jp >", "たなか"},
      {"from: mixed@example.jp", "みっくす"},
      {"from: x <MIXED@EXAMPLE.JP>", "みっくす"},
      {"from: sato@example.jp", "さとう"},
      {"from: nobody@example.jp", ""},
      {"from: stranger@example.jp", ""},
      {"from: ", ""},
      {"from: <>", ""},
      {"", ""},
  };
  for (const auto& [from, want] : cases) {
    EXPECT_EQ(fReadingOf(from, readings), want) << from;
    // The same as the lookup in the settings file itself.
    std::string senders;
    sCollectReading(senders, from, settingIni_);
    EXPECT_EQ(senders, want.empty() ? "" : want + "さま、、") << from;
  }
  EXPECT_EQ(fReadingOf("from: tanaka@example.jp", {}), "");
}
