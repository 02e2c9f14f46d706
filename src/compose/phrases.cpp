// Fixed phrases in [Form] of setting.ini.
#include "compose/phrases.h"

#include "store/mod_ini.h"

namespace phrases {
namespace {

constexpr std::string_view kSection = "Form";

std::string fReplaceAll(std::string_view text, std::string_view from, std::string_view to) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t pos = 0;;) {
    std::size_t hit = text.find(from, pos);
    if (hit == std::string_view::npos) {
      out.append(text.substr(pos));
      return out;
    }
    out.append(text.substr(pos, hit - pos)).append(to);
    pos = hit + from.size();
  }
}

}  // namespace

std::vector<std::string> fLoad(const std::filesystem::path& settingsIni) {
  const mod_ini::IniFile ini = mod_ini::IniFile::fLoad(settingsIni);
  std::vector<std::string> out;
  for (const std::string& key : ini.fKeys(kSection))
    out.push_back(fReplaceAll(ini.fGet(kSection, key).value_or(""), "|r|", "\r\n"));
  return out;
}

bool fSave(const std::filesystem::path& settingsIni, const std::vector<std::string>& phrases) {
  std::vector<std::pair<std::string, std::string>> entries;
  entries.reserve(phrases.size());
  for (std::size_t i = 0; i < phrases.size(); ++i)
    entries.emplace_back(std::to_string(i + 1), fReplaceAll(phrases[i], "\r\n", "|r|"));
  return mod_ini::fWriteIniSection(kSection, entries, settingsIni);
}

std::string fCaption(std::string_view phrase) {
  constexpr int kLimit = 20;
  int count = 0;
  for (std::size_t i = 0; i < phrase.size(); ++i) {
    // A character starts at every byte that is not a UTF-8 continuation byte.
    if ((static_cast<unsigned char>(phrase[i]) & 0xC0) == 0x80) continue;
    if (count == kLimit) return std::string(phrase.substr(0, i)) + "...";
    ++count;
  }
  return std::string(phrase);
}

}  // namespace phrases
