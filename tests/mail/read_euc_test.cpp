// The EUC-JP view of a raw message file, and the JSON form of results.
#include "mail/json.h"
#include "read_test_support.h"

using namespace readtest;

namespace {

TEST(ReadEuc, DecodesEucJpWithWindowsExtensions) {
  TempDir dir;
  // 日本語 ① ～ (0xA1C1 is the wave dash, read as the full-width tilde on Windows).
  std::string path = writeFile(dir.path() / "euc.eml",
                               "Subject: x\r\n\r\n\xc6\xfc\xcb\xdc\xb8\xec\xad\xa1\xa1\xc1\r\n");
  auto text = mail::fReadEucFile(path);
  ASSERT_TRUE(text.has_value());
  EXPECT_EQ(*text, "Subject: x\r\n\r\n日本語①～\r\n");
}

TEST(ReadEuc, AsciiUnchangedInvalidReplacedMissingIsNothing) {
  TempDir dir;
  std::string ascii = "From: a@example.jp\r\nSubject: plain\r\n\r\nbody =?x?= \\ ~\r\n";
  EXPECT_EQ(mail::fReadEucFile(writeFile(dir.path() / "a.eml", ascii)), ascii);
  EXPECT_EQ(mail::fReadEucFile(writeFile(dir.path() / "empty.eml", "")), "");
  EXPECT_FALSE(mail::fReadEucFile(dir.path() / "missing.eml").has_value());
  EXPECT_FALSE(mail::fReadEucFile(dir.path()).has_value());

  // Shift_JIS bytes are not EUC-JP: they show as mis-decoded text, never as nothing.
  std::string sjis = mail::fBytesToText("EUC-JP", "\x83\x5c\x95\x5c");
  EXPECT_FALSE(sjis.empty());
  EXPECT_NE(sjis, "ソ表");
  EXPECT_EQ(mail::fBytesToText("EUC-JP", "a\xc6"), "a\xEF\xBF\xBD");  // cut-off character
  EXPECT_EQ(mail::fBytesToText("no-such-charset", "abc"), "");
  EXPECT_EQ(mail::fBytesToText("ISO-2022-JP", "\x1b$B-!\x1b(B"), "①");
}

TEST(ReadEuc, JsonOutputIsAlwaysValid) {
  using mail::json::fResult;
  using mail::json::fString;
  EXPECT_EQ(fString("a\"b\\c\r\n\t\x01日本"), "\"a\\\"b\\\\c\\r\\n\\t\\u0001日本\"");
  EXPECT_EQ(fString("\xff"), "\"\xEF\xBF\xBD\"");
  EXPECT_EQ(fResult(mail::MailResult(std::vector<std::string>{"subject: a", "body: "})),
            "[\"subject: a\",\"body: \"]");
  EXPECT_EQ(fResult(mail::MailResult(std::vector<std::string>{})), "[]");
  EXPECT_EQ(fResult(mail::MailResult(std::string("失敗"))), "\"失敗\"");
}

}  // namespace
