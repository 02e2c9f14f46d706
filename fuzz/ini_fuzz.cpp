// Feeds arbitrary bytes to the settings-file reader and writer. An untouched file is
// written back byte for byte (UTF-8 gains its mark); after edits, a fresh read of the written file gives every
// value the edited one gives, in CP932 and once a value forces the file to UTF-8.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "store/mod_ini.h"

namespace {

using mod_ini::IniFile;

void check(bool ok) {
  if (!ok) __builtin_trap();
}

// Section names as the input spells them (enough for plain-ASCII names).
std::vector<std::string> sectionNames(std::string_view bytes) {
  std::vector<std::string> names{"Mail", "Icon"};
  size_t pos = 0;
  while (pos < bytes.size() && names.size() < 8) {
    size_t open = bytes.find('[', pos);
    if (open == std::string_view::npos) break;
    size_t close = bytes.find_first_of("]\n", open);
    if (close == std::string_view::npos) break;
    if (bytes[close] == ']') names.emplace_back(bytes.substr(open + 1, close - open - 1));
    pos = close + 1;
  }
  return names;
}

void checkSameValues(const IniFile& a, const IniFile& b, const std::vector<std::string>& sections) {
  for (const std::string& s : sections) {
    auto keys = a.fKeys(s);
    check(keys == b.fKeys(s));
    for (const std::string& k : keys) check(a.fGet(s, k) == b.fGet(s, k));
  }
}

void editAndReread(IniFile ini, const std::vector<std::string>& sections, const std::string& value) {
  ini.sSet("Mail", "Key", value);
  ini.sSet("Icon", "x", std::nullopt);
  ini.sSetMany("Mail", {{"a", "1"}, {"KEY", value}, {"b", std::nullopt}});
  auto again = IniFile::fParse(ini.fSerialize());
  check(again.fGet("Mail", "Key") == std::optional<std::string>(value));
  checkSameValues(ini, again, sections);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  auto ini = IniFile::fParse(bytes);
  // Untouched, a file comes back as it was; UTF-8 without a byte order mark gains one.
  const std::string out = ini.fSerialize();
  check(out == bytes || out == "\xEF\xBB\xBF" + std::string(bytes));
  auto sections = sectionNames(bytes);
  editAndReread(ini, sections, "値");
  editAndReread(ini, sections, "値\xF0\x9F\x98\x80");  // an emoji CP932 cannot hold
  editAndReread(ini, sections, "ﾃｩ");  // CP932 bytes C3 A9, "é" when read as UTF-8
  return 0;
}
