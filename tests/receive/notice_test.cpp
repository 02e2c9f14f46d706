// Spoken and shown texts of a receive run, readings, and the automatic-receive rotation.
#include "receive/notice.h"

#include "helpers.h"
#include "receive/autore.h"

using namespace receive;
using namespace receive_test;

TEST(SpeechText, PhrasesAreExact) {
  EXPECT_EQ(fSpeechOneAccount(7, 3),
            "アカウント<NUM VAL=7>わ、<NUMK  VAL=3  COUNTER=けん>;じゅしんしまし'た");
  EXPECT_EQ(fSpeechOneAccount(12, 120),
            "アカウント<NUM VAL=12>わ、<NUMK  VAL=120  COUNTER=けん>;じゅしんしまし'た");
  std::string phrase = fSpeechFragment(1, 2) + fSpeechFragment(3, 1);
  EXPECT_EQ(fSpeechAllAccounts(phrase),
            "アカウント<NUM VAL=1>わ、<NUMK  VAL=2  COUNTER=けん>、"
            "アカウント<NUM VAL=3>わ、<NUMK  VAL=1  COUNTER=けん>、じゅしんしまし'た");
  EXPECT_EQ(fSpeechSenders("たなかさま、、"), "たなかさま、、か'ら、めーるがとどきま'した");
  EXPECT_EQ(fSpeechSenders(""), "");
}

TEST(SpeechText, ModeChoosesThePhrase) {
  EXPECT_EQ(fSpeechAfterOne(0, 1, 1, "あさま、、"), "");
  EXPECT_EQ(fSpeechAfterOne(1, 1, 1, "あさま、、"), fSpeechOneAccount(1, 1));
  EXPECT_EQ(fSpeechAfterOne(2, 1, 1, "あさま、、"), "あさま、、か'ら、めーるがとどきま'した");
  EXPECT_EQ(fSpeechAfterOne(2, 1, 1, ""), "");
  EXPECT_EQ(fSpeechAfterAll(1, fSpeechFragment(2, 4), ""),
            fSpeechFragment(2, 4) + "じゅしんしまし'た");
  EXPECT_EQ(fSpeechAfterAll(1, "", ""), "");
  EXPECT_EQ(fNoticeMode("1"), 1);
  EXPECT_EQ(fNoticeMode("2"), 2);
  for (const char* other : {"0", "3", "", "01", "x", " 1"})
    EXPECT_EQ(fNoticeMode(other), 0) << other;
}

TEST(NoticeText, StatusAndSummaryLines) {
  EXPECT_EQ(fReceivingStatus("仕事"), "仕事 ： 受信中");
  EXPECT_EQ(fNoMailStatus("仕事"), "仕事 ： 新着メールはありません");
  EXPECT_EQ(fReceivedLine("Account01", 12), "Account01 ： 12件受信");
}

TEST(Readings, SenderAddressFromTheFromElement) {
  EXPECT_EQ(fSenderAddress("from: 田中 <tanaka@example.jp>"), "tanaka@example.jp");
  EXPECT_EQ(fSenderAddress("from: tanaka@example.jp"), "tanaka@example.jp");
  EXPECT_EQ(fSenderAddress("from: 田中 <tanaka@example.jp"), "田中 <tanaka@example.jp");
  EXPECT_EQ(fSenderAddress("from"), "");
}

TEST(Readings, EachReadingOnceAndCaseSensitive) {
  std::string senders;
  sAddReading(senders, "たなか");
  sAddReading(senders, "たなか");
  sAddReading(senders, "");
  sAddReading(senders, "abc");
  sAddReading(senders, "ABC");
  EXPECT_EQ(senders, "たなかさま、、abcさま、、ABCさま、、");
  // A reading that only ends like another one is still its own reading.
  sAddReading(senders, "なか");
  EXPECT_EQ(senders, "たなかさま、、abcさま、、ABCさま、、なかさま、、");
}

class ReadingLookup : public ProgramDir {};

TEST_F(ReadingLookup, FromSpeechSectionOfSettings) {
  mod_ini::fWriteIniString("Speech", "tanaka@example.jp", "たなか", settingIni_);
  mod_ini::fWriteIniString("Mail", "Speech", "2", settingIni_);
  mod_ini::fWriteIniString("Mail", "Notify", "7", settingIni_);
  std::string senders;
  sCollectReading(senders, "from: 田中 <tanaka@example.jp>", settingIni_);
  sCollectReading(senders, "from: tanaka@example.jp", settingIni_);
  sCollectReading(senders, "from: nobody@example.jp", settingIni_);
  EXPECT_EQ(senders, "たなかさま、、");
  EXPECT_EQ(fSpeechMode(settingIni_), 2);
  EXPECT_EQ(fNotifyMode(settingIni_), 0);
  EXPECT_EQ(fNotifyMode(dir_ / "missing.ini"), 0);
}

namespace {
std::vector<int> ticks(const std::vector<int>& accounts, int position, int count) {
  std::vector<int> received;
  for (int i = 0; i < count; ++i) {
    auto step = fAutoReNext(accounts, position);
    if (!step) break;
    received.push_back(step->account);
    position = step->position;
  }
  return received;
}
}  // namespace

TEST(AutoRe, RotationOverAccountNumbers) {
  EXPECT_EQ(ticks({1, 2, 3}, 1, 7), (std::vector<int>{1, 2, 3, 1, 2, 3, 1}));
  EXPECT_EQ(ticks({1, 3}, 1, 4), (std::vector<int>{1, 1, 1, 1}));
  EXPECT_EQ(ticks({1}, 1, 3), (std::vector<int>{1, 1, 1}));
  // A position loaded past the last account starts over at the first.
  EXPECT_EQ(ticks({1, 2}, 9, 3), (std::vector<int>{1, 2, 1}));
  EXPECT_EQ(fAutoReNext({}, 1), std::nullopt);
  auto step = fAutoReNext({1, 2, 3}, 3);
  ASSERT_TRUE(step);
  EXPECT_EQ(step->position, 4);
}
