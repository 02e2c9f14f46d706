// Feeds arbitrary bytes to the filing-rule reader and the matcher. The first line is the
// stored rule list; the other lines stand for the headers and body of a mail.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "receive/rules.h"

namespace {
void check(bool ok) {
  if (!ok) __builtin_trap();
}

void checkUrl(const std::string& url) {
  if (url.empty()) return;
  std::string scheme = url.substr(0, 8);
  for (char& c : scheme) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  check(scheme.starts_with("http://") || scheme == "https://");
  for (unsigned char c : url) check(c > 0x20 && c != 0x7F && c != '<' && c != '>' && c != '"');
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  size_t nl = bytes.find('\n');
  std::string_view list = bytes.substr(0, nl);

  auto stored = rulelist::readRuleList(list);
  // Writing the whole list back keeps every rule, usable or not, as it was read.
  auto rewritten = rulelist::readRuleList(rulelist::writeRuleList(stored));
  check(rewritten.size() == stored.size());
  for (size_t i = 0; i < stored.size(); ++i) check(rewritten[i].fault == stored[i].fault);

  auto rules = rulelist::usableRules(list);
  for (const auto& r : rules) {
    for (const std::string* field : {&r.target, &r.search, &r.destination, &r.program})
      check(field->find('|') == std::string::npos);
    check(r.flags >= 0);
  }
  // Writing the rules back and reading them again gives the same rules.
  auto again = rulelist::usableRules(rulelist::writeRuleList(rules));
  check(again.size() == rules.size());
  for (size_t i = 0; i < rules.size(); ++i) {
    check(again[i].target == rules[i].target && again[i].search == rules[i].search &&
          again[i].destination == rules[i].destination && again[i].flags == rules[i].flags &&
          again[i].program == rules[i].program);
  }

  std::vector<std::string> element;
  while (nl != std::string_view::npos) {
    size_t next = bytes.find('\n', nl + 1);
    element.emplace_back(
        bytes.substr(nl + 1, next == std::string_view::npos ? bytes.npos : next - nl - 1));
    nl = next;
  }
  for (const auto& a : receive::fMatchRules(rules, element)) {
    check(a.rule < rules.size());
    check(a.openUrl.empty() || a.browserUrl.empty());
    checkUrl(a.openUrl);
    checkUrl(a.browserUrl);
  }
  return 0;
}
