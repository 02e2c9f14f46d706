#include "mail/jptext.h"

#include <cstring>

#include "store/charset.h"
#include "store/text.h"

namespace mail::jptext {
namespace {

constexpr char kEsc = 0x1B;

bool hasJisEscape(std::string_view bytes) {
  return bytes.find("\x1B$B") != std::string_view::npos ||
         bytes.find("\x1B$@") != std::string_view::npos ||
         bytes.find("\x1B(I") != std::string_view::npos;
}

}  // namespace

std::string fLower(std::string_view s) { return text::lower(s); }

std::string fDecodeIso2022Jp(std::string_view in) {
  enum class Set { Ascii, Kana, Jis0208, Jis0212, Unknown2 };
  Set set = Set::Ascii;
  Set beforeShiftOut = Set::Ascii;
  // Built as EUC-JP; 0xFF marks a unit that has no meaning and decodes to U+FFFD.
  std::string euc;
  euc.reserve(in.size());
  const size_t n = in.size();
  size_t i = 0;
  while (i < n) {
    auto c = static_cast<unsigned char>(in[i]);
    if (c == static_cast<unsigned char>(kEsc)) {
      std::string_view rest = in.substr(i + 1);
      auto starts = [&](std::string_view s) { return rest.substr(0, s.size()) == s; };
      if (starts("(B") || starts("(J") || starts("(H")) {
        set = Set::Ascii;
        i += 3;
      } else if (starts("(I")) {
        set = Set::Kana;
        i += 3;
      } else if (starts("$@") || starts("$B")) {
        set = Set::Jis0208;
        i += 3;
      } else if (starts("$(B") || starts("$(Q") || starts("$(O")) {
        set = Set::Jis0208;  // JIS X 0213 plane 1 is a superset; its common part maps alike
        i += 4;
      } else if (starts("$(D")) {
        set = Set::Jis0212;
        i += 4;
      } else if (starts("&@")) {
        i += 3;  // revision prefix before ESC $ B
      } else if (starts("$A") || starts("$(C") || starts("$(P")) {
        set = Set::Unknown2;  // Chinese or Korean sets: kept as replacement characters
        i += starts("$A") ? 3 : 4;
      } else {
        euc.push_back('\xFF');
        ++i;
      }
      continue;
    }
    if (c == 0x0E) {  // shift out: half-width kana
      if (set != Set::Kana) beforeShiftOut = set;
      set = Set::Kana;
      ++i;
      continue;
    }
    if (c == 0x0F) {
      if (set == Set::Kana) set = beforeShiftOut;
      ++i;
      continue;
    }
    if (c >= 0x80) {
      euc.push_back('\xFF');
      ++i;
      continue;
    }
    if (c < 0x21 || c == 0x7F) {  // controls and space pass in every set
      euc.push_back(static_cast<char>(c));
      ++i;
      continue;
    }
    switch (set) {
      case Set::Ascii:
        euc.push_back(static_cast<char>(c));
        ++i;
        break;
      case Set::Kana:
        if (c <= 0x5F) {
          euc.push_back('\x8E');
          euc.push_back(static_cast<char>(c | 0x80));
        } else {
          euc.push_back('\xFF');
        }
        ++i;
        break;
      case Set::Jis0208:
      case Set::Jis0212:
      case Set::Unknown2: {
        auto d = i + 1 < n ? static_cast<unsigned char>(in[i + 1]) : 0;
        if (d < 0x21 || d > 0x7E) {
          euc.push_back('\xFF');
          ++i;
          break;
        }
        if (set == Set::Unknown2) {
          euc.push_back('\xFF');
        } else {
          if (set == Set::Jis0212) euc.push_back('\x8F');
          euc.push_back(static_cast<char>(c | 0x80));
          euc.push_back(static_cast<char>(d | 0x80));
        }
        i += 2;
        break;
      }
    }
  }
  return charset::fDecode("EUC-JP", euc).value_or(std::string());
}

std::string fDecodeUndeclared(std::string_view bytes) {
  if (charset::fIsAscii(bytes)) {
    if (bytes.find(kEsc) != std::string_view::npos && hasJisEscape(bytes)) {
      return fDecodeIso2022Jp(bytes);
    }
    return std::string(bytes);
  }
  return charset::fDecodeStored(bytes);
}

std::string fDecodeBytes(std::string_view label, std::string_view bytes) {
  std::string name = fLower(label);
  // Quoted or padded labels appear in the wild.
  while (!name.empty() && (name.front() == '"' || name.front() == ' ')) name.erase(0, 1);
  while (!name.empty() && (name.back() == '"' || name.back() == ' ')) name.pop_back();
  if (name.empty() || name == "us-ascii" || name == "ascii" || name == "unknown-8bit" ||
      name == "x-unknown" || name == "default" || name == "8bit" || name == "binary") {
    return fDecodeUndeclared(bytes);
  }
  if (name.rfind("iso-2022-jp", 0) == 0 || name == "csiso2022jp" || name == "jis") {
    // Mislabelled 8-bit text is common: a 7-bit charset cannot hold it.
    if (!charset::fIsAscii(bytes)) return fDecodeUndeclared(bytes);
    return fDecodeIso2022Jp(bytes);
  }
  // JIS text under a wrong label still carries its escapes.
  if (charset::fIsAscii(bytes) && hasJisEscape(bytes) && name.rfind("utf-7", 0) != 0) {
    return fDecodeIso2022Jp(bytes);
  }
  if (auto text = charset::fDecode(name, bytes)) return *text;
  return fDecodeUndeclared(bytes);
}

void sToCrLf(std::string& text) {
  // Every LF has its CR and every CR its LF: nothing to change.
  const char* const begin = text.data();
  const char* const end = begin + text.size();
  bool clean = true;
  for (const char* p = begin; clean && p < end;) {
    const void* lf = std::memchr(p, '\n', static_cast<size_t>(end - p));
    const char* stop = lf ? static_cast<const char*>(lf) : end;
    const void* cr = std::memchr(p, '\r', static_cast<size_t>(stop - p));
    if (cr) {
      clean = static_cast<const char*>(cr) == stop - 1 && stop != end;
    } else {
      clean = stop == end;
    }
    p = stop + 1;
  }
  if (!clean) text = fToCrLf(std::string_view(text));
}

std::string fToCrLf(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 32 + 2);
  // Runs between line ends are copied whole; stored mail is mostly CR LF already.
  const char* p = text.data();
  const char* const end = p + text.size();
  while (p < end) {
    const void* lf = std::memchr(p, '\n', static_cast<size_t>(end - p));
    const char* stop = lf ? static_cast<const char*>(lf) : end;
    if (const void* cr = std::memchr(p, '\r', static_cast<size_t>(stop - p)))
      stop = static_cast<const char*>(cr);
    out.append(p, stop);
    if (stop == end) break;
    out += "\r\n";
    p = stop + ((*stop == '\r' && stop + 1 < end && stop[1] == '\n') ? 2 : 1);
  }
  return out;
}

}  // namespace mail::jptext
