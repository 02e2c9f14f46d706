// The core's small text helpers: what each leaves alone matters as much as what it changes.
#include <gtest/gtest.h>

#include "store/text.h"

TEST(Text, TrimTakesOnlyTheGivenCharactersFromTheEnds) {
  EXPECT_EQ(text::trim(" \t a b \t "), "a b");
  EXPECT_EQ(text::trim("\r\n a \r\n"), "\r\n a \r\n");
  EXPECT_EQ(text::trim("\r\n a \r\n", text::kWhiteSpace), "a");
  EXPECT_EQ(text::trim("  a  ", " "), "a");
  EXPECT_EQ(text::trim(" \t "), "");
  EXPECT_EQ(text::trim("　全角　"), "　全角　");  // ideographic spaces are text
}

TEST(Text, CaseFoldingTouchesAsciiLettersOnly) {
  EXPECT_EQ(text::lower("Subject: ÄB 件名 XYZ"), "subject: Äb 件名 xyz");
  EXPECT_EQ(text::foldKey("  AutoTime\t"), "autotime");
}

TEST(Text, SplitKeepsEmptyPiecesAndJoinUndoesIt) {
  using V = std::vector<std::string_view>;
  EXPECT_EQ(text::split("", "|"), V{""});
  EXPECT_EQ(text::split("a||b|", "|"), (V{"a", "", "b", ""}));
  EXPECT_EQ(text::split("a|\\|b", "|\\|"), (V{"a", "b"}));
  EXPECT_EQ(text::join({"a", "", "b"}, "\t"), "a\t\tb");
  EXPECT_EQ(text::join({}, ","), "");
  EXPECT_EQ(text::hex(std::string("\x00\x9f\xff", 3)), "009fff");
}
