#include "store/modCommon.h"

#include <gtest/gtest.h>

#include "store/charset.h"
#include "store/mod_ini.h"
#include "testutil.h"

using namespace modCommon;

TEST(Paths, JoinParentNameExtension) {
  EXPECT_EQ(fJoinPath("/home/u/", "setting.ini"), "/home/u/setting.ini");
  EXPECT_EQ(fJoinPath("/home/u", "setting.ini"), "/home/u/setting.ini");
  EXPECT_EQ(fJoinPath("/a", "受信箱\\x"), "/a/受信箱/x");  // stored relative path
  EXPECT_EQ(fGetParentPath("/a/b/c.eml"), "/a/b");
  EXPECT_EQ(fGetParentPath("受信箱\\x"), "受信箱");
  EXPECT_EQ(fGetParentPath("plain"), "");
  EXPECT_EQ(fGetFileName("/a/b/c.eml"), "c.eml");
  EXPECT_EQ(fGetFileName("plain"), "");
  EXPECT_EQ(fGetExtension("a.b.INI"), "INI");
  EXPECT_EQ(fGetExtension("noext"), "");
  EXPECT_EQ(fStoredPath("受信箱\\x").string(), "受信箱/x");
}

TEST(Enclosed, MarksAndMissingCloser) {
  EXPECT_EQ(fGetEnclosed("山田 太郎 <taro@example.jp>", "<"), "taro@example.jp");
  EXPECT_EQ(fGetEnclosed("taro@example.jp", "<"), "taro@example.jp");
  EXPECT_EQ(fGetEnclosed("a (b) c", "("), "b");
  EXPECT_EQ(fGetEnclosed("say \"hi\" now", "\""), "hi");
  EXPECT_EQ(fGetEnclosed("open <never closed", "<"), "open <never closed");
}

TEST(Cipher, KnownBytesAndSingleDigitGroups) {
  EXPECT_EQ(fEncodeSetting("", kSettingKey), "");
  EXPECT_EQ(fDecodeSetting("", kSettingKey), "");
  // 'A' = 0x41 ^ 0xA5 = 0xE4; 0xA0 ^ 0xA5 = 0x05 (one digit); 0xA5 ^ 0xA5 = 0.
  EXPECT_EQ(fEncodeSetting("A", kSettingKey), "&E4");
  EXPECT_EQ(fEncodeSetting("ab", kSettingKey), "&C4&C7");
  // "あ" is 0x82 0xA0 in CP932.
  EXPECT_EQ(fEncodeSetting("あ", kSettingKey), "&27&5");
  EXPECT_EQ(fDecodeSetting("&27&5", kSettingKey), "あ");
  EXPECT_EQ(fDecodeSetting("&27&05", kSettingKey), "あ");
  EXPECT_EQ(fDecodeSetting("&e4", kSettingKey), "A");
}

TEST(Cipher, RoundTripsAnyText) {
  for (std::string s : {"pop.example.jp\t995", "パスワード①～－ソ表", "x", "😀 emoji", "a&b&c", "ﾃｩ", "¥"}) {
    EXPECT_EQ(fDecodeSetting(fEncodeSetting(s, kSettingKey), kSettingKey), s) << s;
  }
  std::string all;
  for (int b = 1; b < 128; ++b) all += static_cast<char>(b);
  EXPECT_EQ(fDecodeSetting(fEncodeSetting(all, kSettingKey), kSettingKey), all);
}

// Half-width kana in CP932 can be valid UTF-8 ("ﾃｽ" is C3 BD, UTF-8 for "ý"); values of
// text CP932 cannot hold are marked instead of guessed at.
TEST(Cipher, ValuesThatLookLikeUtf8AndValuesOfEarlierVersions) {
  for (std::string s : {"ﾃｽ", "ﾃｽﾄ", "ｱｶｳﾝﾄ", "ý", "é ü", "♥ あい", "𠮷野家"})
    EXPECT_EQ(fDecodeSetting(fEncodeSetting(s, kSettingKey), kSettingKey), s) << s;
  EXPECT_EQ(fEncodeSetting("ﾃｽ", kSettingKey), "&66&18");  // one group per CP932 byte
  // Earlier versions stored text CP932 cannot hold as bare UTF-8 bytes, one per group.
  auto bare = [](std::string_view bytes) {
    std::string out;
    for (unsigned char b : bytes) out += "&" + std::string(1, "0123456789ABCDEF"[(b ^ 0xA5) >> 4]) +
                                         "0123456789ABCDEF"[(b ^ 0xA5) & 0xF];
    return out;
  };
  for (std::string s : {"😀 emoji", "♥ あい", "よろしく😀"})
    EXPECT_EQ(fDecodeSetting(bare(s), kSettingKey), s) << s;
  EXPECT_EQ(fDecodeSetting("&66&18", kSettingKey), "ﾃｽ");
}

TEST(Cipher, ClearTextAndMalformedValues) {
  EXPECT_EQ(fDecodeSetting("typed-by-hand", kSettingKey), "typed-by-hand");
  EXPECT_EQ(fDecodeSetting("&", kSettingKey), "");
  EXPECT_EQ(fDecodeSetting("&E4&&E4", kSettingKey), "");
  EXPECT_EQ(fDecodeSetting("&E4&XY", kSettingKey), "");
  EXPECT_EQ(fDecodeSetting("&123", kSettingKey), "");
  EXPECT_EQ(fDecodeSetting(std::string("&E4\0", 4), kSettingKey), "");
}

TEST(AccountValues, StoredScrambledAndReadBack) {
  TempDir t;
  ASSERT_TRUE(sSetAccountValue(t.path(), "Account", "仕事用"));
  ASSERT_TRUE(sSetAccountValue(t.path(), "Pass", "s3cret"));
  std::string raw = mod_ini::fGetIniString("Mail", "Pass", t.path() / "set.ini", "");
  EXPECT_EQ(raw, fEncodeSetting("s3cret", kSettingKey));
  EXPECT_EQ(raw.find("s3cret"), std::string::npos);
  EXPECT_EQ(fGetAccountValue(t.path(), "Account"), "仕事用");
  EXPECT_EQ(fGetAccountValue(t.path(), "Pass"), "s3cret");
  EXPECT_EQ(fGetAccountValue(t.path(), "Name"), "");
}

TEST(TextFile, Cp932UnlessItCannotHoldTheText) {
  TempDir t;
  ASSERT_TRUE(sWriteTextFile(t / "a.txt", "件名: テスト\r\n"));
  EXPECT_EQ(readBytes(t / "a.txt"), *charset::fToCp932("件名: テスト\r\n"));
  ASSERT_TRUE(sWriteTextFile(t / "b.txt", "😀"));
  EXPECT_EQ(readBytes(t / "b.txt"), "😀");
  EXPECT_EQ(charset::fDecodeStored(readBytes(t / "a.txt")), "件名: テスト\r\n");
}

TEST(Charset, JapaneseTraps) {
  // The Shift_JIS family goes through CP932: ① ～ － survive and map right.
  std::string text = "ソ表示①～－";
  auto cp = charset::fToCp932(text);
  ASSERT_TRUE(cp);
  EXPECT_EQ(*charset::fDecode("Shift_JIS", *cp), text);
  EXPECT_EQ(*charset::fDecode("x-sjis", *cp), text);
  EXPECT_EQ(charset::fFromCp932("\x81\x60"), "～");
  // EUC-JP holds ① through EUC-JP-MS.
  EXPECT_EQ(*charset::fDecode("EUC-JP", "\xAD\xA1"), "①");
  EXPECT_FALSE(charset::fDecode("no-such-charset", "abc"));
  EXPECT_EQ(*charset::fDecode("UTF-8", "a\xFF" "b"), "a\xEF\xBF\xBD" "b");
  EXPECT_FALSE(charset::fIsValidUtf8("\xC0\xAF"));        // overlong
  EXPECT_FALSE(charset::fIsValidUtf8("\xED\xA0\x80"));    // surrogate
  EXPECT_TRUE(charset::fIsValidUtf8("日本語😀"));
}
