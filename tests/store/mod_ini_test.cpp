#include "store/mod_ini.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <random>
#include <unordered_map>

#include "store/charset.h"
#include "testutil.h"

using namespace mod_ini;

TEST(Ini, MissingFileAndKeyGiveDefaults) {
  TempDir t;
  auto f = t / "setting.ini";
  EXPECT_EQ(fGetIniString("Mail", "Notify", f, "0"), "0");
  EXPECT_EQ(fGetIniInt("Mail", "Split1", 100, f), 100);
  EXPECT_TRUE(fGetIniKeys("Speech", f).empty());
  EXPECT_FALSE(std::filesystem::exists(f));
  ASSERT_TRUE(fWriteIniString("Mail", "AutoTime", "5", f));
  EXPECT_EQ(readBytes(f), "[Mail]\r\nAutoTime=5\r\n");
  EXPECT_EQ(fGetIniInt("Mail", "Other", 7, f), 7);
}

TEST(Ini, NamesMatchWithoutCaseAndWritesKeepOrder) {
  TempDir t;
  auto f = t / "icon.ini";
  writeBytes(f, "; comment\r\n[Icon]\r\na.eml=6\r\nB.eml=5\r\n[Other]\r\nx=1\r\n");
  EXPECT_EQ(fGetIniString("icon", "A.EML", f, ""), "6");
  ASSERT_TRUE(fWriteIniString("ICON", "b.EML", "6", f));
  ASSERT_TRUE(fWriteIniString("Icon", "c.eml", "5", f));
  ASSERT_TRUE(fWriteIniString("Other", "y", "2", f));
  // One key rewritten in place (keeping its spelling), new keys at the end of their section.
  EXPECT_EQ(readBytes(f),
            "; comment\r\n[Icon]\r\na.eml=6\r\nB.eml=6\r\nc.eml=5\r\n[Other]\r\nx=1\r\ny=2\r\n");
  std::vector<std::string> keys{"a.eml", "B.eml", "c.eml"};
  EXPECT_EQ(fGetIniKeys("icon", f), keys);
}

TEST(Ini, NullValueDeletesAndClearKeepsHeader) {
  TempDir t;
  auto f = t / "set.ini";
  writeBytes(f, "[Mail]\r\nSplit1=123.75\r\nA=1\r\n[Icon]\r\nx=6\r\ny=6\r\n[Z]\r\nk=v\r\n");
  EXPECT_EQ(fGetIniInt("Mail", "Split1", 0, f), 123);
  ASSERT_TRUE(fWriteIniString("Mail", "Split1", std::nullopt, f));
  EXPECT_EQ(fGetIniInt("Mail", "Split1", 100, f), 100);
  ASSERT_TRUE(sClearIniSection("Icon", f));
  EXPECT_EQ(readBytes(f), "[Mail]\r\nA=1\r\n[Icon]\r\n[Z]\r\nk=v\r\n");
  ASSERT_TRUE(fWriteIniSection("Z", {{"1", "a|r|b"}, {"2", "c"}}, f));
  EXPECT_EQ(fGetIniKeys("Z", f), (std::vector<std::string>{"1", "2"}));
  EXPECT_EQ(fGetIniString("Z", "1", f, ""), "a|r|b");
}

TEST(Ini, IntegerReadTakesLeadingDigits) {
  EXPECT_EQ(fParseIniInt("123.75", 0), 123);
  EXPECT_EQ(fParseIniInt("  42abc", 0), 42);
  EXPECT_EQ(fParseIniInt("-15", 0), -15);
  EXPECT_EQ(fParseIniInt("abc", 9), 0);
  EXPECT_EQ(fParseIniInt("", 9), 9);
  EXPECT_EQ(fParseIniInt("99999999999999999999999", 0), LONG_MAX);
}

TEST(Ini, JapaneseIsStoredAsCp932AndUtf8OnlyWhenNeeded) {
  TempDir t;
  auto f = t / "setting.ini";
  ASSERT_TRUE(fWriteIniString("Speech", "taro@example.jp", "たろう", f));
  std::string bytes = readBytes(f);
  EXPECT_EQ(bytes, "[Speech]\r\ntaro@example.jp=" + *charset::fToCp932("たろう") + "\r\n");
  EXPECT_EQ(fGetIniString("Speech", "taro@example.jp", f, ""), "たろう");
  // A trail byte 0x5C or 0x5D inside a section name must not confuse the reader.
  ASSERT_TRUE(fWriteIniString("ソ表]", "キー", "表示", f));
  EXPECT_EQ(fGetIniString("ソ表]", "キー", f, ""), "表示");
  // An emoji has no CP932 form: the file turns to UTF-8 and keeps every earlier value.
  ASSERT_TRUE(fWriteIniString("Form", "1", "よろしく😀", f));
  EXPECT_TRUE(charset::fIsValidUtf8(readBytes(f)));
  EXPECT_EQ(fGetIniString("Form", "1", f, ""), "よろしく😀");
  EXPECT_EQ(fGetIniString("Speech", "taro@example.jp", f, ""), "たろう");
  EXPECT_EQ(fGetIniString("ソ表]", "キー", f, ""), "表示");
}

TEST(Ini, BadInputNeverLosesTheRestOfTheFile) {
  TempDir t;
  auto f = t / "setting.ini";
  std::string longValue(1 << 20, 'x');
  std::string bytes = std::string("[Mail]\r\nBad=\xFF\xFE\x80\r\nNul=ab\0cd\r\n", 28) +
                      "Long=" + longValue + "\r\nDup=first\r\nDup=second\r\n[Broken\r\nk=v\r\n" +
                      "[Tail]\r\nlast=1";  // no final newline
  writeBytes(f, bytes);
  EXPECT_EQ(fGetIniString("Mail", "Nul", f, ""), "ab");
  EXPECT_EQ(fGetIniString("Mail", "Long", f, "").size(), longValue.size());
  EXPECT_EQ(fGetIniString("Mail", "Dup", f, ""), "first");
  EXPECT_EQ(fGetIniString("Tail", "last", f, ""), "1");
  ASSERT_TRUE(fWriteIniString("Tail", "new", "2", f));
  std::string after = readBytes(f);
  // Every untouched line comes back byte for byte, invalid bytes and NUL included.
  EXPECT_NE(after.find(std::string("Bad=\xFF\xFE\x80\r\n")), std::string::npos);
  EXPECT_NE(after.find(std::string("Nul=ab\0cd\r\n", 11)), std::string::npos);
  EXPECT_NE(after.find("Long=" + longValue + "\r\n"), std::string::npos);
  EXPECT_NE(after.find("Dup=second\r\n"), std::string::npos);
  EXPECT_NE(after.find("[Broken\r\nk=v\r\n"), std::string::npos);
  EXPECT_TRUE(after.ends_with("[Tail]\r\nlast=1\r\nnew=2\r\n"));
}

TEST(Ini, ByteOrderMarkIsNotPartOfTheFirstSection) {
  TempDir t;
  auto f = t / "setting.ini";
  writeBytes(f, "\xEF\xBB\xBF[Mail]\r\nNotify=1\r\n");
  EXPECT_EQ(fGetIniString("Mail", "Notify", f, "0"), "1");
  ASSERT_TRUE(fWriteIniString("Mail", "Speech", "2", f));
  EXPECT_EQ(readBytes(f), "\xEF\xBB\xBF[Mail]\r\nNotify=1\r\nSpeech=2\r\n");
}

TEST(Ini, UntouchedFileIsWrittenBackByteForByte) {
  TempDir t;
  auto f = t / "setting.ini";
  const std::string cp932 = *charset::fToCp932("[受信]\r\n名前=ソ表示\r\n");
  const std::string bom = "\xEF\xBB\xBF";
  for (const std::string& bytes : {std::string("[Mail]\nA=1\nB=2\n"),  // LF only
                                   std::string("[Mail]\rA=1\r\nB=2\r"),   // lone CRs
                                   cp932,
                                   std::string("[Mail]\r\nA=1"),  // no final newline
                                   bom + "[Mail]\r\nA=値\r\n",
                                   bom + cp932,
                                   bom + bom + "[Mail]\nA=\xEA\n",  // a second mark is text
                                   std::string("\n\r\n\r\r\n\r")}) {
    SCOPED_TRACE(testing::PrintToString(bytes));
    writeBytes(f, bytes);
    ASSERT_TRUE(IniFile::fLoad(f).fSave(f));
    EXPECT_EQ(readBytes(f), bytes);
  }
}

TEST(Ini, WrittenValuesReadBackUnchanged) {
  TempDir t;
  auto f = t / "setting.ini";
  // "ﾃｩ" is C3 A9 in CP932, "é" when taken for UTF-8; CP932 has only look-alikes of "¥"
  // and "〜". The last file starts with two byte order marks and holds an invalid byte.
  for (const std::string& file : {std::string(), std::string("[Mail]\r\nKey=old\r\n"),
                                  std::string("\xEF\xBB\xBF\xEF\xBB\xBF[Mail]\nSpl[\n\xEA\n")}) {
    for (const std::string value : {"値", "ﾃｩ", "¥100", "10〜12", "😀"}) {
      SCOPED_TRACE(testing::PrintToString(file) + " " + value);
      writeBytes(f, file);
      ASSERT_TRUE(fWriteIniString("Mail", "Key", value, f));
      EXPECT_EQ(fGetIniString("Mail", "Key", f, ""), value);
    }
  }
  // Removing the only line that was not valid UTF-8 must not change how the rest reads.
  writeBytes(f, "[Mail]\r\nA=\xC3\xA9\r\nB=\x82\r\n");
  ASSERT_EQ(fGetIniString("Mail", "A", f, ""), "ﾃｩ");
  ASSERT_TRUE(fWriteIniString("Mail", "B", std::nullopt, f));
  EXPECT_EQ(fGetIniString("Mail", "A", f, ""), "ﾃｩ");
}

TEST(Ini, LineEndsInValuesCannotInjectKeys) {
  TempDir t;
  auto f = t / "set.ini";
  ASSERT_TRUE(fWriteIniString("Mail", "Account", "name\r\n[Mail]\r\nPass=x", f));
  EXPECT_EQ(fGetIniKeys("Mail", f), (std::vector<std::string>{"Account"}));
}

TEST(Ini, WriteIsAtomicAndLeavesNoTemporaryFiles) {
  TempDir t;
  auto f = t / "setting.ini";
  for (int i = 0; i < 20; ++i) ASSERT_TRUE(fWriteIniString("Mail", "K" + std::to_string(i), "v", f));
  int entries = 0;
  for (auto& e : std::filesystem::directory_iterator(t.path())) {
    (void)e;
    ++entries;
  }
  EXPECT_EQ(entries, 1);
  // A folder that does not exist: the write fails and reports it.
  EXPECT_FALSE(fWriteIniString("Mail", "K", "v", t / "missing" / "x.ini"));
}

// Reading one section in place must give what the full reader gives, for any mix of the
// things a hand-edited or damaged file holds.
TEST(Ini, SectionReadInPlaceMatchesTheFullReader) {
  const std::vector<std::string> pieces = {"[Icon]",
                                           "[icon ]",
                                           " [ICON]",
                                           "[Other]",
                                           "[Icon",
                                           "a.eml=6",
                                           "A.EML=5",
                                           " b.eml =6",
                                           "c.eml= 6 ",
                                           "d.eml=\"6\"",
                                           std::string("e.eml=6\0x", 9),
                                           "f.eml",
                                           "=6",
                                           "; note",
                                           "g.eml==6",
                                           "h.eml=",
                                           "[x]=1",
                                           "",
                                           "\t",
                                           "i.eml = \"\" "};
  std::mt19937 random(7);
  for (int round = 0; round < 2000; ++round) {
    std::string bytes;
    const int lines = static_cast<int>(random() % 12);
    for (int i = 0; i < lines; ++i) {
      bytes += pieces[random() % pieces.size()];
      bytes += random() % 4 ? "\r\n" : "\n";
    }
    auto view = IniFile::fViewSection(bytes, "Icon");
    ASSERT_TRUE(view.has_value());
    std::unordered_map<std::string, std::string> inPlace;
    for (const auto& [key, value] : view->entries)
      inPlace.emplace(std::string(key), std::string(value));
    EXPECT_EQ(inPlace, IniFile::fParse(bytes).fSectionValues("Icon")) << bytes;
  }
  // Bytes that need decoding are left to the full reader.
  EXPECT_FALSE(IniFile::fViewSection("[Icon]\r\n\x83\x65.eml=6\r\n", "Icon").has_value());
}

// A settings file that is there but cannot be read must not be replaced by the one key
// being written: that would drop every other setting in it.
TEST(Ini, WriteAfterAFailedReadFailsAndKeepsTheFile) {
  namespace fs = std::filesystem;
  TempDir t;
  auto expectRefused = [](const fs::path& f) {
    EXPECT_FALSE(fWriteIniString("Mail", "AutoTime", "5", f)) << f;
    EXPECT_FALSE(sClearIniSection("Icon", f)) << f;
    EXPECT_FALSE(fWriteIniSection("Form", {{"1", "a"}}, f)) << f;
    EXPECT_TRUE(IniFile::fLoad(f).fReadFailed()) << f;
  };
  // A directory where the file should be.
  fs::create_directories(t / "setting.ini" / "keep");
  expectRefused(t / "setting.ini");
  EXPECT_TRUE(fs::is_directory(t / "setting.ini" / "keep"));
  // A link to a directory: replacing the link itself would succeed.
  fs::create_directory_symlink(t / "setting.ini", t / "set.ini");
  expectRefused(t / "set.ini");
  EXPECT_TRUE(fs::is_symlink(t / "set.ini"));
  // A file without read permission (root reads it all the same).
  if (::geteuid() != 0) {
    writeBytes(t / "icon.ini", "[Icon]\r\na.eml=6\r\n");
    fs::permissions(t / "icon.ini", fs::perms::none);
    expectRefused(t / "icon.ini");
    fs::permissions(t / "icon.ini", fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(readBytes(t / "icon.ini"), "[Icon]\r\na.eml=6\r\n");
  }
  // A missing file is an empty one, and so is a dangling link.
  EXPECT_FALSE(IniFile::fLoad(t / "new.ini").fReadFailed());
  fs::create_symlink(t / "nowhere.ini", t / "dangling.ini");
  EXPECT_TRUE(fWriteIniString("Mail", "K", "v", t / "dangling.ini"));
}

// CP932 bytes may happen to be valid UTF-8 ("ﾃｽ" is C3 BD, UTF-8 for "ý"): only a file
// that carries the byte order mark is UTF-8, and files written before the mark existed
// still read as they were meant.
TEST(Ini, EveryTextReadsBackAsWritten) {
  TempDir t;
  auto f = t / "set.ini";
  ASSERT_TRUE(fWriteIniString("Mail", "Account", "ﾃｽ", f));
  EXPECT_EQ(readBytes(f), "[Mail]\r\nAccount=\xC3\xBD\r\n");
  EXPECT_EQ(fGetIniString("Mail", "Account", f, ""), "ﾃｽ");
  ASSERT_TRUE(fWriteIniString("Mail", "Name", "ý😀", f));
  EXPECT_TRUE(readBytes(f).starts_with("\xEF\xBB\xBF[Mail]\r\n"));
  EXPECT_EQ(fGetIniString("Mail", "Account", f, ""), "ﾃｽ");
  EXPECT_EQ(fGetIniString("Mail", "Name", f, ""), "ý😀");

  const std::pair<std::string, std::string> earlier[] = {
      {*charset::fToCp932("ﾃｽﾄ ｱｶｳﾝﾄ"), "ﾃｽﾄ ｱｶｳﾝﾄ"},
      {*charset::fToCp932("ﾃｽ"), "ﾃｽ"},
      {"よろしく😀", "よろしく😀"},  // UTF-8 without a mark, as written for an emoji
      {"♥ あい", "♥ あい"},
  };
  for (const auto& [stored, text] : earlier) {
    writeBytes(f, "[Form]\r\n1=" + stored + "\r\n");
    EXPECT_EQ(fGetIniString("Form", "1", f, ""), text);
  }
}
