#include "store/charset.h"
#include "store/text.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>

namespace charset {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

using text::lower;

// One open converter per (to, from) pair and thread; reset before each use.
iconv_t converter(const std::string& to, const std::string& from) {
  struct Cache {
    std::map<std::string, iconv_t> open;
    ~Cache() {
      for (auto& [k, cd] : open) {
        if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
      }
    }
  };
  thread_local Cache cache;
  std::string key = to + '\n' + from;
  auto it = cache.open.find(key);
  if (it == cache.open.end()) {
    it = cache.open.emplace(key, iconv_open(to.c_str(), from.c_str())).first;
  }
  iconv_t cd = it->second;
  if (cd != reinterpret_cast<iconv_t>(-1)) iconv(cd, nullptr, nullptr, nullptr, nullptr);
  return cd;
}

// Converts with iconv. With `lossy`, an invalid input sequence becomes `substitute` and
// conversion goes on one byte later; without it, the conversion fails.
std::optional<std::string> run(iconv_t cd, std::string_view in, bool lossy,
                               std::string_view substitute) {
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  std::string out;
  out.reserve(in.size() * 3 / 2 + 16);
  char* src = const_cast<char*>(in.data());
  size_t srcLeft = in.size();
  char buf[4096];
  while (true) {
    char* dst = buf;
    size_t dstLeft = sizeof buf;
    size_t rc = srcLeft ? iconv(cd, &src, &srcLeft, &dst, &dstLeft)
                        : iconv(cd, nullptr, nullptr, &dst, &dstLeft);
    int err = errno;
    out.append(buf, static_cast<size_t>(dst - buf));
    if (rc != static_cast<size_t>(-1)) {
      if (srcLeft == 0) {
        // Flush any shift state and stop.
        dst = buf;
        dstLeft = sizeof buf;
        iconv(cd, nullptr, nullptr, &dst, &dstLeft);
        out.append(buf, static_cast<size_t>(dst - buf));
        return out;
      }
      continue;
    }
    if (err == E2BIG) continue;
    if (!lossy) return std::nullopt;
    // EILSEQ or EINVAL (truncated sequence at the end): skip one byte.
    out.append(substitute);
    ++src;
    --srcLeft;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
}

}  // namespace

bool fIsAscii(std::string_view bytes) {
  // Eight bytes at a time: one high bit anywhere in a word means not ASCII.
  const char* p = bytes.data();
  size_t n = bytes.size();
  for (; n >= 32; p += 32, n -= 32) {
    std::uint64_t w[4];
    std::memcpy(w, p, sizeof w);
    if ((w[0] | w[1] | w[2] | w[3]) & 0x8080808080808080ULL) return false;
  }
  for (; n > 0; ++p, --n) {
    if (static_cast<unsigned char>(*p) >= 0x80) return false;
  }
  return true;
}

bool fIsValidUtf8(std::string_view s) {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  size_t n = s.size(), i = 0;
  while (i < n) {
    unsigned char c = p[i];
    if (c < 0x80) {
      ++i;
      // Runs of ASCII, eight bytes at a time.
      while (i + 8 <= n) {
        std::uint64_t w;
        std::memcpy(&w, p + i, sizeof w);
        if (w & 0x8080808080808080ULL) break;
        i += 8;
      }
      continue;
    }
    size_t len;
    unsigned cp;
    if (c >= 0xC2 && c <= 0xDF) {
      len = 2;
      cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      len = 3;
      cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      len = 4;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (i + len > n) return false;
    for (size_t k = 1; k < len; ++k) {
      if ((p[i + k] & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (p[i + k] & 0x3F);
    }
    if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF)) {
      return false;
    }
    i += len;
  }
  return true;
}

std::string fIconvName(std::string_view label) {
  std::string l = lower(label);
  if (l == "shift_jis" || l == "shift-jis" || l == "sjis" || l == "x-sjis" || l == "ms_kanji" ||
      l == "windows-31j" || l == "cp932" || l == "ms932" || l == "x-ms-cp932" ||
      l == "csshiftjis" || l == "cswindows31j") {
    return "CP932";
  }
  if (l == "euc-jp" || l == "x-euc-jp" || l == "eucjp" || l == "euc-jp-ms" || l == "cseucpkdfmtjapanese") {
    return "EUC-JP-MS";
  }
  if (l == "utf-8" || l == "utf8") return "UTF-8";
  if (l == "us-ascii" || l == "ascii") return "UTF-8";  // a superset; 8-bit bytes still decode
  return std::string(label);
}

std::optional<std::string> fToCp932(std::string_view utf8) {
  if (fIsAscii(utf8)) return std::string(utf8);
  auto cp = run(converter("CP932", "UTF-8"), utf8, false, {});
  // The converter also takes characters that only look alike ("¥" becomes "\\", "¬" reads
  // back as "￢"); such a text has no CP932 form that keeps it.
  if (cp && fFromCp932(*cp) != utf8) return std::nullopt;
  return cp;
}

std::optional<std::string> fDecode(std::string_view charsetName, std::string_view bytes) {
  std::string name = fIconvName(charsetName);
  if (name == "UTF-8") {
    if (fIsValidUtf8(bytes)) return std::string(bytes);
    return run(converter("UTF-8", "UTF-8"), bytes, true, kReplacement);
  }
  if (fIsAscii(bytes) && name != "UTF-16" && name != "UTF-16LE" && name != "UTF-16BE" &&
      name != "UTF-7" && lower(name).rfind("iso-2022", 0) != 0 && lower(name) != "hz-gb-2312") {
    // Every ASCII-compatible charset leaves plain ASCII unchanged; skip the converter,
    // but still reject names iconv does not know.
    if (converter("UTF-8", name) == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
    return std::string(bytes);
  }
  iconv_t cd = converter("UTF-8", name);
  if (cd == reinterpret_cast<iconv_t>(-1) && name == "EUC-JP-MS") cd = converter("UTF-8", "EUC-JP");
  return run(cd, bytes, true, kReplacement);
}

std::string fFromCp932(std::string_view bytes) {
  if (fIsAscii(bytes)) return std::string(bytes);
  return run(converter("UTF-8", "CP932"), bytes, true, kReplacement).value_or(std::string());
}

std::string fDecodeStored(std::string_view bytes) {
  if (fIsValidUtf8(bytes)) return std::string(bytes);
  return fFromCp932(bytes);
}

bool fIsUnmarkedUtf8(std::string_view bytes) {
  if (fIsAscii(bytes) || !fIsValidUtf8(bytes)) return false;
  if (!run(converter("UTF-8", "CP932"), bytes, false, {})) return true;
  // Both readings work. Text stored as UTF-8 is text CP932 cannot hold; had it fitted,
  // it would have been stored as CP932.
  if (fToCp932(bytes)) return false;
  // Runs of half-width kana look like two-byte UTF-8 ("ﾃｽ" is C3 BD, "ý" in UTF-8);
  // Japanese, symbols and emoji in UTF-8 take three or four bytes.
  return std::any_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) >= 0xE0; });
}

std::string fEncodeStored(std::string_view utf8) {
  if (auto cp = fToCp932(utf8)) return *cp;
  return std::string(utf8);
}

}  // namespace charset
