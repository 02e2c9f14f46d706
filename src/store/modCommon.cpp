#include "store/modCommon.h"

#include "store/charset.h"
#include "store/fsutil.h"
#include "store/mod_ini.h"

namespace modCommon {
namespace {

bool isSep(char c) { return c == '/' || c == '\\'; }

size_t lastSep(std::string_view path) {
  size_t a = path.rfind('/'), b = path.rfind('\\');
  if (a == std::string_view::npos) return b;
  if (b == std::string_view::npos) return a;
  return std::max(a, b);
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

std::string fJoinPath(std::string_view folder, std::string_view name) {
  std::string out(folder);
  if (!out.empty() && !isSep(out.back())) out += kSep;
  for (char c : name) out += isSep(c) ? kSep : c;
  return out;
}

std::string fGetParentPath(std::string_view path) {
  size_t p = lastSep(path);
  return p == std::string_view::npos ? std::string() : std::string(path.substr(0, p));
}

std::string fGetFileName(std::string_view path) {
  size_t p = lastSep(path);
  return p == std::string_view::npos ? std::string() : std::string(path.substr(p + 1));
}

std::string fGetExtension(std::string_view name) {
  size_t p = name.rfind('.');
  return p == std::string_view::npos ? std::string() : std::string(name.substr(p + 1));
}

std::string fGetEnclosed(std::string_view text, std::string_view mark) {
  if (mark.empty()) return std::string(text);
  std::string_view close = mark == "<" ? ">" : mark == "(" ? ")" : mark;
  size_t open = text.find(mark);
  if (open == std::string_view::npos) return std::string(text);
  std::string_view rest = text.substr(open + mark.size());
  size_t end = rest.find(close);
  if (end == std::string_view::npos) return std::string(text);
  return std::string(rest.substr(0, end));
}

std::filesystem::path fStoredPath(std::string_view stored) {
  std::string p;
  for (char c : stored) p += isSep(c) ? kSep : c;
  return std::filesystem::path(std::u8string(p.begin(), p.end()));
}

bool sWriteTextFile(const std::filesystem::path& path, std::string_view text) {
  return fsutil::fWriteFileAtomic(path, charset::fEncodeStored(text));
}

std::string fEncodeSetting(std::string_view text, unsigned char key) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  // Text CP932 cannot hold goes as UTF-8 behind a byte order mark, which no CP932
  // text begins with.
  // CP932 bytes that would be taken for UTF-8 on reading go that way too.
  auto cp932 = charset::fToCp932(text);
  if (cp932 && charset::fIsUnmarkedUtf8(*cp932)) cp932.reset();
  std::string bytes = cp932 ? std::move(*cp932) : std::string(charset::kUtf8Mark) + std::string(text);
  std::string out;
  out.reserve(bytes.size() * 3);
  for (unsigned char b : bytes) {
    unsigned v = b ^ key;
    out += '&';
    if (v >= 0x10) out += kHex[v >> 4];
    out += kHex[v & 0xF];
  }
  return out;
}

std::string fDecodeSetting(std::string_view text, unsigned char key) {
  if (text.empty()) return {};
  if (text.front() != '&') return std::string(text);
  std::string bytes;
  bytes.reserve(text.size() / 3 + 1);
  size_t pos = 1;
  while (pos <= text.size()) {
    size_t amp = text.find('&', pos);
    std::string_view group = text.substr(pos, amp == std::string_view::npos ? text.npos : amp - pos);
    if (group.empty() || group.size() > 2) return {};
    int v = 0;
    for (char c : group) {
      int d = hexDigit(c);
      if (d < 0) return {};
      v = v * 16 + d;
    }
    bytes += static_cast<char>(v ^ key);
    if (amp == std::string_view::npos) break;
    pos = amp + 1;
  }
  std::string_view b = bytes;
  if (b.starts_with(charset::kUtf8Mark)) {
    b.remove_prefix(charset::kUtf8Mark.size());
    return charset::fDecode("UTF-8", b).value_or(std::string());
  }
  return charset::fIsUnmarkedUtf8(b) ? std::string(b) : charset::fFromCp932(b);
}

std::string fGetAccountValue(const std::filesystem::path& accountFolder, std::string_view key) {
  return fDecodeSetting(mod_ini::fGetIniString("Mail", key, accountFolder / "set.ini", ""),
                        kSettingKey);
}

bool sSetAccountValue(const std::filesystem::path& accountFolder, std::string_view key,
                      std::string_view value) {
  return mod_ini::fWriteIniString("Mail", key, fEncodeSetting(value, kSettingKey),
                                  accountFolder / "set.ini");
}

}  // namespace modCommon
