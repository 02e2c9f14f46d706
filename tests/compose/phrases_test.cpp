// Fixed phrases on the bytes of setting.ini.
#include <gtest/gtest.h>

#include <fstream>

#include "compose/phrases.h"
#include "store/mod_ini.h"
#include "../store/testutil.h"

namespace {

TEST(Phrases, SaveRenumbersAndKeepsLineBreaksAsMarkers) {
  TempDir dir;
  auto ini = dir / "setting.ini";
  std::ofstream(ini, std::ios::binary) << "[Mail]\r\nAutoTime=5\r\n[Form]\r\n7=old\r\n";
  ASSERT_TRUE(phrases::fSave(ini, {"一行目\r\n二行目\r\n三行目", "b", "c"}));
  auto all = phrases::fLoad(ini);
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(all[0], "一行目\r\n二行目\r\n三行目");
  // The first of three deleted: keys 1 and 2 only, the rest of the file untouched.
  all.erase(all.begin());
  ASSERT_TRUE(phrases::fSave(ini, all));
  EXPECT_EQ(readBytes(ini), "[Mail]\r\nAutoTime=5\r\n[Form]\r\n1=b\r\n2=c\r\n");
  ASSERT_TRUE(phrases::fSave(ini, {"x\r\ny\r\nz"}));
  EXPECT_NE(readBytes(ini).find("1=x|r|y|r|z\r\n"), std::string::npos);
}

TEST(Phrases, LoadTakesFileOrderNotKeyNumbers) {
  TempDir dir;
  auto ini = dir / "setting.ini";
  std::ofstream(ini, std::ios::binary) << "[Form]\r\n2=second\r\n1=a|r|b\r\n";
  EXPECT_EQ(phrases::fLoad(ini), (std::vector<std::string>{"second", "a\r\nb"}));
  EXPECT_TRUE(phrases::fLoad(dir / "missing.ini").empty());
}

TEST(Phrases, CaptionCutsAfterTwentyCharacters) {
  const std::string twenty = "あいうえおかきくけこさしすせそたちつてと";
  EXPECT_EQ(phrases::fCaption(twenty), twenty);
  EXPECT_EQ(phrases::fCaption(twenty + "な"), twenty + "...");
  EXPECT_EQ(phrases::fCaption("12345678901234567890x"), "12345678901234567890...");
  EXPECT_EQ(phrases::fCaption(""), "");
}

}  // namespace
