// The stored rule list: one reader for the account dialog and for receiving.
#include "store/rulelist.h"

#include <gtest/gtest.h>

using namespace rulelist;

TEST(RuleList, ReadsEveryFieldAndWritesTheSameText) {
  std::string text = "差出人|news|受信箱\\ニュース|6|/usr/bin/true|[本文|http||1||[";
  auto rules = usableRules(text);
  ASSERT_EQ(rules.size(), 2u);
  EXPECT_EQ(rules[0].target, "差出人");
  EXPECT_EQ(rules[0].search, "news");
  EXPECT_EQ(rules[0].destination, "受信箱\\ニュース");
  EXPECT_EQ(rules[0].flags, 6);
  EXPECT_EQ(rules[0].program, "/usr/bin/true");
  EXPECT_EQ(rules[1].target, "本文");
  EXPECT_EQ(rules[1].flags, 1);
  EXPECT_EQ(writeRuleList(rules), text);
  EXPECT_EQ(writeRuleList(readRuleList(text)), text);

  // Empty pieces are skipped, a last rule without its end mark still counts, and fields
  // past the fifth are ignored.
  EXPECT_TRUE(readRuleList("").empty());
  EXPECT_TRUE(readRuleList("|[|[|[").empty());
  auto last = usableRules("|[件名|a||0||[|[件名|b||2|prog|junk");
  ASSERT_EQ(last.size(), 2u);
  EXPECT_EQ(last[1].flags, 2);
  EXPECT_EQ(last[1].program, "prog");
}

// The dialog used to pad and show these while receiving dropped them: now both see the
// same list, the dialog with the reason, and saving writes them back untouched.
TEST(RuleList, RulesReceivingPassesOverAreKeptAndMarked) {
  struct Case {
    const char* piece;
    RuleFault fault;
  } cases[] = {
      {"件名|short|2", RuleFault::missingFields}, {"件名|a||x2|", RuleFault::badFlags},
      {"件名|b||-1|", RuleFault::badFlags},       {"件名|c|| 2|", RuleFault::badFlags},
      {"件名|d|||", RuleFault::badFlags},         {"件名|e||99999999999|", RuleFault::badFlags},
      {"日付|2024||0|", RuleFault::unknownTarget}, {"件名|ok||4|prog", RuleFault::none},
  };
  std::string text;
  for (const auto& c : cases) text += std::string(c.piece) + "|[";
  auto stored = readRuleList(text);
  ASSERT_EQ(stored.size(), std::size(cases));
  for (size_t i = 0; i < stored.size(); ++i) {
    SCOPED_TRACE(cases[i].piece);
    EXPECT_EQ(stored[i].fault, cases[i].fault);
    EXPECT_EQ(faultText(stored[i].fault).empty(), cases[i].fault == RuleFault::none);
  }
  EXPECT_EQ(stored[0].rule.search, "short");
  EXPECT_EQ(stored[0].rule.destination, "2");

  auto usable = usableRules(text);
  ASSERT_EQ(usable.size(), 1u);
  EXPECT_EQ(usable[0].search, "ok");
  EXPECT_EQ(writeRuleList(stored), text);
}

TEST(RuleList, DescriptionEndsInASpace) {
  EXPECT_EQ(describeActions(6, "/bin/prog"), "既読にする /bin/prog ");
  EXPECT_EQ(describeActions(9, ""), "URLを開く Lanternhouseで開く ");
  EXPECT_EQ(describeActions(0, "x"), "");
}
