// Parsing and matching of filing rules: pure, no disk, no desktop.
#include "receive/rules.h"

#include <gtest/gtest.h>

using namespace receive;

namespace {

std::vector<std::string> headers(const std::string& subject, const std::string& from,
                                 const std::string& to, const std::string& body) {
  return {"subject: " + subject, "from: " + from, "date: 2024/05/01 10:00:00",
          "to: " + to,           "nofile: ",      "body: " + body};
}

std::vector<size_t> matched(const std::vector<Rule>& rules, const std::vector<std::string>& h) {
  std::vector<size_t> out;
  for (const auto& a : fMatchRules(rules, h)) out.push_back(a.rule);
  return out;
}

}  // namespace

TEST(RuleMatch, EachTargetSearchesItsElementLabelIncluded) {
  auto h = headers("月例報告", "Alice <alice@example.jp>", "bob@example.jp", "本文です\r\n");
  std::vector<Rule> rules = {
      {"件名", "月例", "", 0, ""},       // 0: subject
      {"差出人", "alice@", "", 0, ""},   // 1: sender
      {"宛先", "bob@", "", 0, ""},       // 2: recipient
      {"本文", "本文です", "", 0, ""},   // 3: body
      {"件名", "alice", "", 0, ""},      // 4: subject does not hold it
      {"日付", "2024", "", 0, ""},       // 5: unknown target never matches
      {"差出人", "from: ", "", 0, ""},   // 6: the label is part of the element
      {"本文", "body: ", "", 0, ""},     // 7: likewise for the body
      {"宛先", "", "", 0, ""},           // 8: empty search text matches every mail
      {"差出人", "subject", "", 0, ""},  // 9: another element's label does not count
  };
  EXPECT_EQ(matched(rules, h), (std::vector<size_t>{0, 1, 2, 3, 6, 7, 8}));
}

TEST(RuleMatch, SearchIsCaseSensitive) {
  std::vector<Rule> rules = {{"差出人", "news", "受信箱\\n", 2, ""}};
  EXPECT_EQ(matched(rules, headers("", "news@example.jp", "", "")).size(), 1u);
  EXPECT_TRUE(matched(rules, headers("", "News@example.jp", "", "")).empty());
  EXPECT_TRUE(matched({{"差出人", "FROM", "", 0, ""}}, headers("", "a@b", "", "")).empty());
}

TEST(RuleMatch, EveryMatchingRuleActsInOrder) {
  std::vector<Rule> rules = {{"件名", "a", "受信箱\\1", 2, ""},
                             {"件名", "zzz", "受信箱\\2", 0, ""},
                             {"差出人", "x", "受信箱\\3", 0, ""},
                             {"件名", "b", "", 4, "/bin/prog"}};
  auto actions = fMatchRules(rules, headers("ab", "x@y", "", ""));
  ASSERT_EQ(actions.size(), 3u);
  EXPECT_EQ(actions[0].destination, "受信箱\\1");
  EXPECT_TRUE(actions[0].markRead);
  EXPECT_EQ(actions[1].destination, "受信箱\\3");
  EXPECT_FALSE(actions[1].markRead);
  EXPECT_EQ(actions[2].program, "/bin/prog");
  EXPECT_EQ(actions[2].destination, "");
  // The program is started only with bit 4.
  EXPECT_EQ(fMatchRules({{"件名", "a", "", 0, "/bin/prog"}}, headers("a", "", "", ""))[0].program,
            "");
}

TEST(RuleMatch, ShortResultsNeverMatchMissingElements) {
  std::vector<std::string> noBody = {"subject: s", "from: f"};
  EXPECT_TRUE(fMatchRules({{"本文", "", "", 1, ""}, {"宛先", "", "", 0, ""}}, noBody).empty());
  EXPECT_EQ(fMatchRules({{"差出人", "", "", 0, ""}}, noBody).size(), 1u);
}

TEST(BodyUrl, OpensTheRestOfTheLineFromTheSearchText) {
  auto h = headers("", "", "", "詳細は https://example.jp/a?b=1#c をご覧ください\r\n次の行");
  auto open = fMatchRules({{"本文", "https://example", "", 1, ""}}, h);
  ASSERT_EQ(open.size(), 1u);
  EXPECT_EQ(open[0].openUrl, "https://example.jp/a?b=1#c");
  EXPECT_EQ(open[0].browserUrl, "");

  auto browse = fMatchRules({{"本文", "https://", "", 8, ""}}, h);
  EXPECT_EQ(browse[0].browserUrl, "https://example.jp/a?b=1#c");
  EXPECT_EQ(browse[0].openUrl, "");
  // Bit 1 wins over bit 8.
  auto both = fMatchRules({{"本文", "https://", "", 9, ""}}, h);
  EXPECT_EQ(both[0].openUrl, "https://example.jp/a?b=1#c");
  EXPECT_EQ(both[0].browserUrl, "");
  // URL bits on a header rule do nothing.
  EXPECT_EQ(fMatchRules({{"件名", "", "", 9, ""}}, headers("http://x.jp", "", "", ""))[0].openUrl,
            "");
}

TEST(BodyUrl, OnlyWebAddressesAreOpenedOrHandedOn) {
  for (const char* body :
       {"file:///etc/passwd", "C:\\Windows\\calc.exe", "/usr/bin/xterm", "javascript:alert(1)",
        "http:///etc/passwd", "https://", "mailto:a@b", "\\\\server\\share\\x.exe", "httpx://a"}) {
    auto actions =
        fMatchRules({{"本文", "", "", 1, ""}, {"本文", "", "", 8, ""}}, {"", "", "", "", "", body});
    ASSERT_EQ(actions.size(), 2u) << body;
    EXPECT_EQ(actions[0].openUrl, "") << body;
    EXPECT_EQ(actions[1].browserUrl, "") << body;
  }
  // The search text need not be the URL's start, but the text opened must be a URL.
  auto h = headers("", "", "", "link: file:///etc/passwd\r\n");
  EXPECT_EQ(fMatchRules({{"本文", "file:", "", 1, ""}}, h)[0].openUrl, "");
  EXPECT_EQ(fMatchRules({{"本文", "link: ", "", 1, ""}}, h)[0].openUrl, "");
}

TEST(BodyUrl, CutAtWhiteSpaceControlsAndBrackets) {
  EXPECT_EQ(fUrlAt("http://a.jp/x y"), "http://a.jp/x");
  EXPECT_EQ(fUrlAt("http://a.jp/x\ty"), "http://a.jp/x");
  EXPECT_EQ(fUrlAt("http://a.jp/x\ny"), "http://a.jp/x");
  EXPECT_EQ(fUrlAt(std::string("http://a.jp/x\0y", 15)), "http://a.jp/x");
  EXPECT_EQ(fUrlAt("http://a.jp/x\x1b[31m"), "http://a.jp/x");
  EXPECT_EQ(fUrlAt("https://a.jp/x>"), "https://a.jp/x");
  EXPECT_EQ(fUrlAt("https://a.jp/日本　です"), "https://a.jp/日本");
  EXPECT_EQ(fUrlAt("HTTPS://A.JP/"), "HTTPS://A.JP/");
  EXPECT_EQ(fUrlAt(" http://a.jp/"), std::nullopt);
}

// A long body is searched to its end, and the address opened is the one after the first
// place the search text occurs.
TEST(BodyUrl, FirstOccurrenceAnywhereInALongBody) {
  std::string filler;
  while (filler.size() < 20000)
    filler += "the quick brown fox jumps over the lazy dog; http://\r\n";
  auto rule = std::vector<Rule>{{"本文", "https://track.", "", 8, ""}};
  EXPECT_TRUE(fMatchRules(rule, headers("", "", "", filler + "https://track")).empty());
  auto at =
      fMatchRules(rule, headers("", "", "", filler + "https://track.jp/1 https://track.jp/2"));
  ASSERT_EQ(at.size(), 1u);
  EXPECT_EQ(at[0].browserUrl, "https://track.jp/1");
  // At the very end, and multi-byte search texts in a Japanese body.
  EXPECT_EQ(matched({{"本文", "配信停止", "", 0, ""}}, headers("", "", "", filler + "配信停止")),
            std::vector<size_t>{0});
  EXPECT_TRUE(
      matched({{"本文", "配信停止", "", 0, ""}}, headers("", "", "", filler + "配信停")).empty());
}
