// Address books in setting.ini: the bytes written, the [Speech] keys derived from them, the
// checks that keep a field or a book name from being read back as something else, and the
// texts handed to the composer.
#include "address/addressbook.h"

#include <gtest/gtest.h>

#include "../store/testutil.h"
#include "store/mod_ini.h"

using namespace addressbook;

namespace {

const Entry kGroup{"部", "a@example.jp\r\nb@example.jp\r\nc@example.jp", "", ""};
const Entry kTanaka{"田中", "tanaka@example.jp", "たなか", "二行の\r\nメモ"};
const Entry kNoReading{"", "x@example.jp", "", ""};

}  // namespace

TEST(AddressBookFile, SaveWritesBooksAndReadingsInOneFileAndReadsThemBack) {
  TempDir dir;
  const auto ini = dir / "setting.ini";
  writeBytes(ini,
             "[Mail]\r\nAutoTime=5\r\n[Speech]\r\nold@example.jp=むかし\r\n[Address]\r\nold=|,|o@x|"
             ",||,||\\|\r\n");

  std::vector<Book> books{{"仕事", fSerializeBook({kGroup, kTanaka})},
                          {"Home", fSerializeBook({kNoReading})}};
  ASSERT_TRUE(fSave(ini, books));

  std::string text = readBytes(ini);
  // CP932 on disk; compare as text.
  auto decoded = mod_ini::IniFile::fParse(text);
  EXPECT_EQ(decoded.fGet("Mail", "AutoTime"), "5");
  EXPECT_EQ(decoded.fKeys("Address"), (std::vector<std::string>{"仕事", "Home"}));
  EXPECT_EQ(decoded.fGet("Address", "仕事"),
            "部|,|a@example.jp|r|b@example.jp|r|c@example.jp|,||,||\\|"
            "田中|,|tanaka@example.jp|,|たなか|,|二行の|r|メモ|\\|");
  // Only the entry with a reading has a key; the old readings are gone.
  EXPECT_EQ(decoded.fKeys("Speech"), std::vector<std::string>{"tanaka@example.jp"});
  EXPECT_EQ(decoded.fGet("Speech", "tanaka@example.jp"), "たなか");
  EXPECT_NE(text.find("\r\n[Address]\r\n"), std::string::npos);

  std::vector<Book> loaded = fLoad(ini);
  ASSERT_EQ(loaded.size(), 2u);
  EXPECT_EQ(fParseBook(loaded[0].data), (std::vector<Entry>{kGroup, kTanaka}));
  EXPECT_EQ(fParseBook(loaded[1].data), std::vector<Entry>{kNoReading});
}

TEST(AddressBookFile, SpeechKeysOfGroupsAndOfAddressesNoKeyCanHold) {
  std::vector<Book> books{{"b", fSerializeBook({{"", "a@x\r\nb@x", "ぐるーぷ", ""},
                                                {"", "bounce=1@x", "ばうんす", ""},
                                                {"", "[x]@x", "かっこ", ""},
                                                {"", ";c@x", "せみ", ""}})}};
  EXPECT_EQ(fSpeechEntries(books),
            (std::vector<std::pair<std::string, std::string>>{{"a@x|r|b@x", "ぐるーぷ"}}));
}

TEST(AddressBookFile, FileThatCannotBeReadIsLeftAsItIs) {
  TempDir dir;
  const auto ini = dir / "setting.ini";
  // Bytes that no read can get; a rename would replace the link.
  std::filesystem::create_symlink("/proc/self/mem", ini);
  EXPECT_FALSE(fSave(ini, {{"b", fSerializeBook({kTanaka})}}));
  EXPECT_TRUE(std::filesystem::is_symlink(ini));
}

TEST(AddressBookFile, MissingFileIsCreated) {
  TempDir dir;
  ASSERT_TRUE(fSave(dir / "setting.ini", {{"b", fSerializeBook({kTanaka})}}));
  EXPECT_EQ(fParseBook(fLoad(dir / "setting.ini").at(0).data), std::vector<Entry>{kTanaka});
}

TEST(AddressBookChecks, FieldsThatWouldReadBackAsSeparatorsAreRefused) {
  struct Case {
    Entry entry;
    bool ok;
  };
  const Case cases[] = {
      {kTanaka, true},
      {{"a|b", "x|y@z", "|", "a|,b\\|c"}, true},
      {{"a\nb", "x@y", "", ""}, true},  // a lone LF is a line break like CR LF
      {{"a|,|b", "x@y", "", ""}, false},
      {{"", "x@y|\\|", "", ""}, false},
      {{"", "x@y", "よ|r|み", ""}, false},
      {{"", "x@y", "ends|,", ""}, false},  // "|," + "|,|" reads as a separator early
      {{"", "x@y", "", "ends|\\"}, false},
      {{"", "x@y", "", "ends|r"}, false},
      {{"r|starts", "x@y", "", ""}, false},  // "|\\|" + "r|" holds "|r|"
      {{"", "x@y", "r", ""}, false},         // "|,|r|,|" holds "|r|"
      {{"", "x@y", "\\|s", ""}, false},      // "|,|\\|" holds the entry end
  };
  for (const Case& c : cases) {
    EXPECT_EQ(!fCheckEntry(c.entry).has_value(), c.ok)
        << c.entry.name << " " << c.entry.address << " " << c.entry.reading << " " << c.entry.memo;
  }
}

TEST(AddressBookChecks, BookNamesEqualButForCaseOrThatNoKeyCanHoldAreRefused) {
  const std::vector<std::string> others{"Work", "家族"};
  const std::pair<const char*, const char*> cases[] = {
      {"Private", nullptr},
      {"work", "同じ名前のアドレス帳があります"},
      {"WORK ", "同じ名前のアドレス帳があります"},
      {"家族", "同じ名前のアドレス帳があります"},
      {"a=b", "アドレス帳の名前に「=」と、先頭の「[」「;」は使えません"},
      {"[x]", "アドレス帳の名前に「=」と、先頭の「[」「;」は使えません"},
      {";x", "アドレス帳の名前に「=」と、先頭の「[」「;」は使えません"},
      {"x;[", nullptr},
      {"  ", "アドレス帳の名前を入力して下さい"},
  };
  for (auto [name, message] : cases) {
    auto got = fCheckBookName(name, others);
    EXPECT_EQ(got.value_or("<ok>"), message ? message : "<ok>") << name;
  }
}

TEST(AddressBookPicking, TextForTheComposer) {
  const std::tuple<const char*, const char*, const char*> cases[] = {
      {"田中", "t@x", "田中<t@x>, "},
      {"", "t@x", "t@x, "},
      {"部", "a@x, b@x, c@x", "a@x, b@x, c@x, "},  // a group: addresses without the name
      {"Tanaka, Taro", "t@x", "t@x, "},            // a name the recipient list would split
      {"\"Q\"", "q@x", "q@x, "},
      {"a<b>", "q@x", "q@x, "},
  };
  for (auto [name, address, text] : cases) EXPECT_EQ(fPickText(name, address), text) << name;
  EXPECT_EQ(fJoinGroup(kGroup.address), "a@example.jp, b@example.jp, c@example.jp");
}

TEST(AddressBookPicking, SenderSplitIntoNameAndAddress) {
  const std::tuple<const char*, const char*, const char*> cases[] = {
      {"田中 太郎 <t@x>", "田中 太郎", "t@x"},
      {"\"Tanaka, Taro\" <t@x>", "Tanaka, Taro", "t@x"},
      {"  <t@x>", "", "t@x"},
      {"t@x", "", "t@x"},
      {"Name <t@x", "Name", "t@x"},
  };
  for (auto [sender, name, address] : cases) {
    EXPECT_EQ(fSplitSender(sender), std::make_pair(std::string(name), std::string(address)))
        << sender;
  }
}
