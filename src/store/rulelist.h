#pragma once
// An account's filing rules as stored in set.ini ("Distribute"): one reader and one writer,
// used both by the account dialog and by receiving, so the dialog shows exactly the rules
// that receiving applies and marks the ones it would pass over.
#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace rulelist {

// Action flag bits of a rule.
inline constexpr int kFlagOpenUrl = 1;
inline constexpr int kFlagMarkRead = 2;
inline constexpr int kFlagRunProgram = 4;
inline constexpr int kFlagBrowser = 8;

// What a rule can search, in the order the account dialog offers them.
inline constexpr std::array<std::string_view, 4> kTargets = {"差出人", "宛先", "件名", "本文"};
inline constexpr std::string_view kBodyTarget = "本文";

struct Rule {
  std::string target;       // one of kTargets
  std::string search;       // case-sensitive; empty matches every mail
  std::string destination;  // folder below the account folder ("受信箱\x"); empty = stay
  int flags = 0;
  std::string program;
};

// Why receiving passes over a stored rule (a hand-edited or damaged value).
enum class RuleFault { none, missingFields, badFlags, unknownTarget };

struct StoredRule {
  Rule rule;  // the fields as far as they could be read (missing ones empty)
  RuleFault fault = RuleFault::none;
  std::string text;  // the stored piece, kept so a rule we cannot read is written back as it was
};

// Every rule of a "Distribute" value in order. Rules end in "|["; empty pieces are
// skipped and a last rule without its end mark still counts. A rule needs five fields
// (more are ignored), flags as a plain decimal number and a known target.
std::vector<StoredRule> readRuleList(std::string_view distribute);
// Only the rules receiving applies.
std::vector<Rule> usableRules(std::string_view distribute);
// The value to store: each usable rule in the dialog's form, any other as it was read.
std::string writeRuleList(const std::vector<StoredRule>& rules);
std::string writeRuleList(const std::vector<Rule>& rules);

// Why a rule is passed over, in words for the dialog; empty for a usable rule.
std::string faultText(RuleFault fault);
// The readable description of a rule's actions, each part followed by a space.
std::string describeActions(int flags, std::string_view program);

}  // namespace rulelist
