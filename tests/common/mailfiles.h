#pragma once
// Mail folders for tests: files written and read back byte for byte.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <string_view>

namespace qbtest {

inline void writeBytes(const std::filesystem::path& file, std::string_view bytes) {
  std::filesystem::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string readBytes(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The mail files of a folder (no dot files, no icon.ini), by name.
inline std::map<std::string, std::string> mailsIn(const std::filesystem::path& folder) {
  std::map<std::string, std::string> out;
  for (const auto& e : std::filesystem::directory_iterator(folder)) {
    const std::string name = e.path().filename().string();
    if (!e.is_regular_file() || name.starts_with('.') || name == "icon.ini") continue;
    out[name] = readBytes(e.path());
  }
  return out;
}

// The same mails as a sorted list of contents, names left out (imports choose names).
inline std::multiset<std::string> contentsIn(const std::filesystem::path& folder) {
  std::multiset<std::string> out;
  for (auto& [name, bytes] : mailsIn(folder)) out.insert(bytes);
  return out;
}

}  // namespace qbtest
