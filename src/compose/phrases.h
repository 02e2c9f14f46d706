#pragma once
// Fixed phrases: [Form] of setting.ini, one key per phrase ("1" … "N"), each CR LF stored
// as "|r|".
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace phrases {

// The phrases in the file's key order (the key names are not relied on), "|r|" turned into
// CR LF. Empty when the file or the section is missing.
std::vector<std::string> fLoad(const std::filesystem::path& settingsIni);
// Empties [Form] and writes keys "1" … "N" in order, CR LF written as "|r|". False, with the
// file unchanged, when the file could not be read or written.
bool fSave(const std::filesystem::path& settingsIni, const std::vector<std::string>& phrases);
// A menu caption: the phrase itself when it has at most 20 characters, else its first 20
// characters followed by "...".
std::string fCaption(std::string_view phrase);

}  // namespace phrases
