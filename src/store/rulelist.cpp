#include "store/rulelist.h"
#include "store/text.h"

#include <algorithm>
#include <optional>

namespace rulelist {
namespace {

constexpr std::string_view kRuleEnd = "|[";

std::vector<std::string_view> splitFields(std::string_view rule) { return text::split(rule, "|"); }

std::optional<int> parseFlags(std::string_view text) {
  // The dialog writes a plain sum of four bits; anything longer or not a number is junk.
  if (text.empty() || text.size() > 9) return std::nullopt;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

StoredRule readRule(std::string_view piece) {
  StoredRule stored;
  stored.text = piece;
  auto fields = splitFields(piece);
  if (fields.size() < 5) {
    stored.fault = RuleFault::missingFields;
    fields.resize(5);
  }
  Rule& r = stored.rule;
  r.target = fields[0];
  r.search = fields[1];
  r.destination = fields[2];
  r.program = fields[4];
  auto flags = parseFlags(fields[3]);
  r.flags = flags.value_or(0);
  if (stored.fault != RuleFault::none) return stored;
  if (!flags) {
    stored.fault = RuleFault::badFlags;
  } else if (std::find(kTargets.begin(), kTargets.end(), r.target) == kTargets.end()) {
    stored.fault = RuleFault::unknownTarget;
  }
  return stored;
}

std::string formatRule(const Rule& r) {
  return r.target + "|" + r.search + "|" + r.destination + "|" + std::to_string(r.flags) + "|" +
         r.program + std::string(kRuleEnd);
}

}  // namespace

std::vector<StoredRule> readRuleList(std::string_view distribute) {
  std::vector<StoredRule> rules;
  size_t start = 0;
  while (start <= distribute.size()) {
    size_t end = distribute.find(kRuleEnd, start);
    std::string_view piece =
        distribute.substr(start, end == std::string_view::npos ? distribute.npos : end - start);
    start = end == std::string_view::npos ? distribute.size() + 1 : end + kRuleEnd.size();
    if (!piece.empty()) rules.push_back(readRule(piece));
  }
  return rules;
}

std::vector<Rule> usableRules(std::string_view distribute) {
  std::vector<Rule> rules;
  for (auto& stored : readRuleList(distribute)) {
    if (stored.fault == RuleFault::none) rules.push_back(std::move(stored.rule));
  }
  return rules;
}

std::string writeRuleList(const std::vector<StoredRule>& rules) {
  std::string out;
  for (const auto& stored : rules) {
    out += stored.fault == RuleFault::none ? formatRule(stored.rule) : stored.text + std::string(kRuleEnd);
  }
  return out;
}

std::string writeRuleList(const std::vector<Rule>& rules) {
  std::string out;
  for (const auto& r : rules) out += formatRule(r);
  return out;
}

std::string faultText(RuleFault fault) {
  switch (fault) {
    case RuleFault::none:
      return {};
    case RuleFault::missingFields:
      return "受信時には使われません（項目が足りません）";
    case RuleFault::badFlags:
      return "受信時には使われません（処理の値が数字ではありません）";
    case RuleFault::unknownTarget:
      return "受信時には使われません（対象が不明です）";
  }
  return {};
}

std::string describeActions(int flags, std::string_view program) {
  std::string out;
  if (flags & kFlagOpenUrl) out += "URLを開く ";
  if (flags & kFlagBrowser) out += "Lanternhouseで開く ";
  if (flags & kFlagMarkRead) out += "既読にする ";
  if (flags & kFlagRunProgram) out += std::string(program) + " ";
  return out;
}

}  // namespace rulelist
