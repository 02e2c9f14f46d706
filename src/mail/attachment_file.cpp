#include "mail/attachment_file.h"

#include <fstream>
#include <system_error>

#include "store/charset.h"
#include "store/fsutil.h"
#include "store/mailstore.h"

namespace fs = std::filesystem;

namespace mail::attach {
namespace {

constexpr size_t kMaxNameBytes = 200;

// Code points that would mislead or break a file name: C0/C1 controls, DEL, and the
// bidirectional overrides that make "txt.exe" look like "exe.txt".
bool isUnwanted(char32_t cp) {
  return cp < 0x20 || cp == 0x7F || (cp >= 0x80 && cp <= 0x9F) || (cp >= 0x202A && cp <= 0x202E) ||
         (cp >= 0x2066 && cp <= 0x2069) || cp == 0x200E || cp == 0x200F || cp == 0xFEFF;
}

// Decodes one UTF-8 sequence of valid text at s[i]; returns its length.
size_t utf8At(std::string_view s, size_t i, char32_t& cp) {
  auto c = static_cast<unsigned char>(s[i]);
  size_t len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
  cp = len == 1 ? c : len == 2 ? (c & 0x1F) : len == 3 ? (c & 0x0F) : (c & 0x07);
  for (size_t k = 1; k < len && i + k < s.size(); ++k) cp = (cp << 6) | (s[i + k] & 0x3F);
  return len;
}

bool isReservedDeviceName(std::string_view name) {
  std::string base(name.substr(0, name.find('.')));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  for (char& c : base) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL") return true;
  return base.size() == 4 && (base.rfind("COM", 0) == 0 || base.rfind("LPT", 0) == 0) &&
         base[3] >= '1' && base[3] <= '9';
}

// Cuts to at most `limit` bytes on a character boundary.
std::string cutUtf8(std::string_view s, size_t limit) {
  if (s.size() <= limit) return std::string(s);
  size_t end = limit;
  while (end > 0 && (static_cast<unsigned char>(s[end]) & 0xC0) == 0x80) --end;
  return std::string(s.substr(0, end));
}

std::pair<std::string, std::string> splitExtension(const std::string& name) {
  size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot == 0) return {name, ""};
  return {name.substr(0, dot), name.substr(dot)};
}

bool sameFiles(const fs::path& path, const fs::path& other) {
  std::error_code ec;
  auto status = fs::symlink_status(path, ec);
  if (ec || !fs::is_regular_file(status)) return false;
  const auto size = fs::file_size(path, ec);
  if (ec || fs::file_size(other, ec) != size || ec) return false;
  std::ifstream a(path, std::ios::binary), b(other, std::ios::binary);
  if (!a || !b) return false;
  static constexpr std::streamsize kPiece = 65536;
  std::string x(kPiece, '\0'), y(kPiece, '\0');
  while (a && b) {
    a.read(x.data(), kPiece);
    b.read(y.data(), kPiece);
    if (a.gcount() != b.gcount() || x.compare(0, static_cast<size_t>(a.gcount()), y, 0, static_cast<size_t>(b.gcount())) != 0)
      return false;
  }
  return a.eof() && b.eof();
}

std::optional<fs::path> prepareFolder(const fs::path& folder) {
  std::error_code ec;
  fs::create_directories(folder, ec);
  fs::path dir = fs::absolute(folder, ec).lexically_normal();
  if (ec) return std::nullopt;
  return dir;
}

}  // namespace

std::string fSafeFileName(std::string_view raw, std::string_view fallback) {
  std::string text = charset::fDecode("UTF-8", raw).value_or(std::string());
  // Only the last path component counts, whichever separator the sender used.
  size_t sep = text.find_last_of("/\\");
  if (sep != std::string::npos) text.erase(0, sep + 1);

  std::string clean;
  for (size_t i = 0; i < text.size();) {
    char32_t cp;
    size_t len = utf8At(text, i, cp);
    if (!isUnwanted(cp)) {
      char c = text[i];
      if (len == 1 &&
          (c == '<' || c == '>' || c == ':' || c == '"' || c == '|' || c == '?' || c == '*')) {
        clean.push_back('_');
      } else {
        clean.append(text, i, len);
      }
    }
    i += len;
  }
  // Windows drops trailing dots and spaces; leading dots would hide the file.
  size_t first = clean.find_first_not_of(" .");
  size_t last = clean.find_last_not_of(" .");
  clean = first == std::string::npos ? std::string() : clean.substr(first, last - first + 1);
  if (clean.empty()) clean = std::string(fallback);
  if (isReservedDeviceName(clean)) clean = "_" + clean;
  if (clean.size() > kMaxNameBytes) {
    auto [stem, ext] = splitExtension(clean);
    if (ext.size() > 20) ext.clear();
    clean = cutUtf8(stem, kMaxNameBytes - ext.size()) + ext;
  }
  return clean;
}

std::optional<fs::path> fExtractWith(const fs::path& folder, const std::string& name,
                                     const std::function<bool(const fs::path&)>& write) {
  auto prepared = prepareFolder(folder);
  if (!prepared) return std::nullopt;
  const fs::path& dir = *prepared;
  // The content goes to a private temporary file first: only then can it be compared
  // with a file of the same name extracted before.
  std::optional<fs::path> temp = fsutil::fWriteTempFile(dir, {}, false);
  if (!temp) return std::nullopt;
  std::error_code ec;
  if (!write(*temp)) {
    fs::remove(*temp, ec);
    return std::nullopt;
  }
  auto [stem, ext] = splitExtension(name);
  for (int n = 1; n <= 999; ++n) {
    std::string candidate = n == 1 ? name : stem + " (" + std::to_string(n) + ")" + ext;
    fs::path target = dir / mailstore::fPath(candidate);
    if (fs::exists(fs::symlink_status(target, ec))) {
      if (sameFiles(target, *temp)) {
        fs::remove(*temp, ec);
        return target;
      }
      continue;
    }
    if (fsutil::fRenameNoReplace(*temp, target)) return target;
    // Taken in the meantime: try the next name; any other failure ends the extraction.
    if (!fs::exists(fs::symlink_status(target, ec))) break;
  }
  fs::remove(*temp, ec);
  return std::nullopt;
}

}  // namespace mail::attach
