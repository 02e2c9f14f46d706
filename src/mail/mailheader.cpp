#include "mail/mailheader.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <ctime>
#include <map>

#include "mail/jptext.h"
#include "store/charset.h"
#include "store/text.h"

namespace mail::header {
namespace {

bool isWsp(char c) { return c == ' ' || c == '\t'; }

bool equalsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string qDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '_') {
      out.push_back(' ');
    } else if (c == '=' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 &&
               hexValue(text[i + 2]) >= 0) {
      out.push_back(static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2])));
      i += 2;
    } else {
      out.push_back(c);
    }
  }
  return out;
}

struct EncodedWord {
  std::string_view charset;
  std::string bytes;
  size_t end = 0;  // position after "?="
};

// Parses "=?charset?B|Q?text?=" at `pos` (which points at "=?").
std::optional<EncodedWord> parseEncodedWord(std::string_view s, size_t pos) {
  size_t q1 = s.find('?', pos + 2);
  if (q1 == std::string_view::npos || q1 == pos + 2 || q1 - pos > 80) return std::nullopt;
  std::string_view cs = s.substr(pos + 2, q1 - pos - 2);
  for (char c : cs) {
    if (isWsp(c) || static_cast<unsigned char>(c) < 0x21 || c == '=') return std::nullopt;
  }
  if (q1 + 2 >= s.size() || s[q1 + 2] != '?') return std::nullopt;
  char enc = s[q1 + 1];
  if (enc != 'B' && enc != 'b' && enc != 'Q' && enc != 'q') return std::nullopt;
  size_t textStart = q1 + 3;
  size_t close = s.find("?=", textStart);
  if (close == std::string_view::npos) return std::nullopt;
  std::string_view text = s.substr(textStart, close - textStart);
  if (std::any_of(text.begin(), text.end(), [](char c) { return isWsp(c); })) return std::nullopt;
  EncodedWord word;
  word.charset = cs.substr(0, cs.find('*'));  // RFC 2231 language suffix
  word.bytes = (enc == 'B' || enc == 'b') ? fBase64Decode(text) : qDecode(text);
  word.end = close + 2;
  return word;
}

struct Section {
  int index;
  bool encoded;
  std::string value;
};

std::string percentDecode(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size() && hexValue(s[i + 1]) >= 0 && hexValue(s[i + 2]) >= 0) {
      out.push_back(static_cast<char>(hexValue(s[i + 1]) * 16 + hexValue(s[i + 2])));
      i += 2;
    } else {
      out.push_back(s[i]);
    }
  }
  return out;
}

bool isCp932Lead(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

std::string trimmed(std::string_view s) { return std::string(text::trim(s)); }

// RFC 2231 assembly of one parameter's sections.
std::string joinSections(std::vector<Section> sections) {
  std::stable_sort(sections.begin(), sections.end(),
                   [](const Section& a, const Section& b) { return a.index < b.index; });
  std::string joined;
  std::string charsetName;
  bool any = false;
  int expect = sections.front().index < 0 ? -1 : 0;
  for (size_t k = 0; k < sections.size(); ++k) {
    const Section& sec = sections[k];
    if (sec.index != expect && !(expect == -1 && k == 0)) break;  // a gap ends the value
    std::string_view v = sec.value;
    if (sec.encoded && !any) {
      size_t a = v.find('\'');
      size_t b = a == std::string_view::npos ? a : v.find('\'', a + 1);
      if (b != std::string_view::npos) {
        charsetName = std::string(v.substr(0, a));
        v = v.substr(b + 1);
      }
    }
    joined += sec.encoded ? percentDecode(v) : std::string(v);
    any = true;
    expect = (expect < 0 ? 0 : expect) + 1;
    if (sec.index < 0) break;
  }
  if (!charsetName.empty()) return jptext::fDecodeBytes(charsetName, joined);
  return fDecodeText(joined);
}

// --- dates ---

int64_t daysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

int monthNumber(std::string_view t) {
  static constexpr std::string_view kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                                 "jul", "aug", "sep", "oct", "nov", "dec"};
  if (t.size() < 3) return 0;
  std::string l = jptext::fLower(t);
  for (int i = 0; i < 12; ++i) {
    if (l.compare(0, 3, kMonths[i]) == 0) return i + 1;
  }
  return 0;
}

// Minutes east of UTC for a zone token; nothing when the token is no zone.
std::optional<int> zoneMinutes(std::string_view t) {
  if ((t[0] == '+' || t[0] == '-') && t.size() == 5 &&
      std::all_of(t.begin() + 1, t.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    int h = (t[1] - '0') * 10 + (t[2] - '0');
    int m = (t[3] - '0') * 10 + (t[4] - '0');
    if (h > 23 || m > 59) return std::nullopt;
    return (t[0] == '-' ? -1 : 1) * (h * 60 + m);
  }
  static const std::map<std::string, int> kNames = {
      {"ut", 0},        {"utc", 0},       {"gmt", 0},       {"z", 0},         {"est", -5 * 60},
      {"edt", -4 * 60}, {"cst", -6 * 60}, {"cdt", -5 * 60}, {"mst", -7 * 60}, {"mdt", -6 * 60},
      {"pst", -8 * 60}, {"pdt", -7 * 60}, {"jst", 9 * 60}};
  auto it = kNames.find(jptext::fLower(t));
  if (it != kNames.end()) return it->second;
  return std::nullopt;
}

bool allDigits(std::string_view t) {
  return !t.empty() && std::all_of(t.begin(), t.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool parseTime(std::string_view t, int& h, int& m, int& s) {
  int parts[3] = {0, 0, 0};
  int count = 0;
  size_t start = 0;
  while (count < 3) {
    size_t colon = t.find(':', start);
    std::string_view p = t.substr(start, colon == std::string_view::npos ? t.npos : colon - start);
    if (!allDigits(p) || p.size() > 2) return false;
    parts[count++] = std::stoi(std::string(p));
    if (colon == std::string_view::npos) break;
    start = colon + 1;
  }
  if (count < 2) return false;
  h = parts[0];
  m = parts[1];
  s = parts[2];
  return h < 24 && m < 60 && s <= 60;
}

}  // namespace

size_t fHeaderBlockLength(std::string_view message) {
  size_t pos = 0;
  while (pos < message.size()) {
    size_t nl = message.find('\n', pos);
    if (nl == std::string_view::npos) return message.size();
    size_t len = nl - pos;
    if (len == 0 || (len == 1 && message[pos] == '\r')) return nl + 1;
    pos = nl + 1;
  }
  return message.size();
}

std::vector<Field> fSplitFields(std::string_view block) {
  std::vector<Field> fields;
  bool open = false;  // the last field can take continuation lines
  size_t pos = 0;
  while (pos < block.size()) {
    size_t nl = block.find('\n', pos);
    size_t end = nl == std::string_view::npos ? block.size() : nl;
    size_t next = nl == std::string_view::npos ? block.size() : nl + 1;
    std::string_view line = block.substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) break;
    if (isWsp(line.front())) {
      if (open) {
        Field& f = fields.back();
        f.raw = std::string_view(f.raw.data(),
                                 static_cast<size_t>(line.data() + line.size() - f.raw.data()));
      }
    } else {
      size_t colon = line.find(':');
      std::string_view name =
          colon == std::string_view::npos ? std::string_view() : line.substr(0, colon);
      while (!name.empty() && isWsp(name.back())) name.remove_suffix(1);
      open = !name.empty() && std::none_of(name.begin(), name.end(), [](char c) {
        return isWsp(c) || static_cast<unsigned char>(c) < 0x21 ||
               static_cast<unsigned char>(c) > 0x7E;
      });
      if (open) fields.push_back({name, line.substr(colon + 1)});
    }
    pos = next;
  }
  return fields;
}

std::optional<std::string_view> fFindRaw(const std::vector<Field>& fields, std::string_view name) {
  for (const Field& f : fields) {
    if (equalsNoCase(f.name, name)) return f.raw;
  }
  return std::nullopt;
}

std::string fUnfold(std::string_view raw) {
  std::string out;
  out.reserve(raw.size());
  for (char c : raw) {
    if (c != '\r' && c != '\n') out.push_back(c);
  }
  return trimmed(out);
}

std::string fDecodeText(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  std::string_view pendingCharset;
  std::string pendingBytes;
  bool pending = false;
  auto flush = [&] {
    if (pending) out += jptext::fDecodeBytes(pendingCharset, pendingBytes);
    pending = false;
    pendingBytes.clear();
  };
  auto literal = [&](std::string_view text) {
    if (text.empty()) return;
    flush();
    out += jptext::fDecodeUndeclared(text);
  };
  bool lastEncoded = false;
  size_t pos = 0;
  while (pos < s.size()) {
    size_t p = s.find("=?", pos);
    if (p == std::string_view::npos) {
      literal(s.substr(pos));
      break;
    }
    std::string_view between = s.substr(pos, p - pos);
    auto word = parseEncodedWord(s, p);
    if (!word) {
      literal(s.substr(pos, p + 2 - pos));
      pos = p + 2;
      lastEncoded = false;
      continue;
    }
    bool onlySpace = std::all_of(between.begin(), between.end(), isWsp);
    if (!(lastEncoded && onlySpace)) literal(between);
    if (pending && equalsNoCase(pendingCharset, word->charset)) {
      pendingBytes += word->bytes;
    } else {
      flush();
      pending = true;
      pendingCharset = word->charset;
      pendingBytes = std::move(word->bytes);
    }
    lastEncoded = true;
    pos = word->end;
  }
  flush();
  return out;
}

const std::string* ParamHeader::fGet(std::string_view name) const {
  for (const auto& [k, v] : params) {
    if (k == name) return &v;
  }
  return nullptr;
}

ParamHeader fParseParams(std::string_view s) {
  ParamHeader result;
  const bool cp932 = !charset::fIsAscii(s) && !charset::fIsValidUtf8(s);
  size_t semi = s.find(';');
  result.value = jptext::fLower(trimmed(s.substr(0, semi)));
  if (semi == std::string_view::npos) return result;

  std::vector<std::string> order;
  std::map<std::string, std::string> plain;
  std::map<std::string, std::vector<Section>> sectioned;
  size_t i = semi;
  while (i < s.size()) {
    while (i < s.size() && (s[i] == ';' || isWsp(s[i]))) ++i;
    size_t eq = i;
    while (eq < s.size() && s[eq] != '=' && s[eq] != ';') ++eq;
    if (eq >= s.size() || s[eq] == ';') {
      i = eq;
      continue;
    }
    std::string name = jptext::fLower(trimmed(s.substr(i, eq - i)));
    i = eq + 1;
    while (i < s.size() && isWsp(s[i])) ++i;
    std::string value;
    if (i < s.size() && s[i] == '"') {
      ++i;
      while (i < s.size() && s[i] != '"') {
        auto c = static_cast<unsigned char>(s[i]);
        if (cp932 && isCp932Lead(c) && i + 1 < s.size()) {
          value.append(s.substr(i, 2));
          i += 2;
        } else if (c == '\\' && i + 1 < s.size()) {
          value.push_back(s[i + 1]);
          i += 2;
        } else {
          value.push_back(static_cast<char>(c));
          ++i;
        }
      }
      ++i;  // closing quote
      while (i < s.size() && s[i] != ';') ++i;
    } else {
      size_t end = s.find(';', i);
      if (end == std::string_view::npos) end = s.size();
      value = trimmed(s.substr(i, end - i));
      i = end;
    }
    if (name.empty()) continue;

    bool encoded = name.back() == '*';
    if (encoded) name.pop_back();
    int index = -1;
    size_t star = name.rfind('*');
    if (star != std::string::npos && allDigits(std::string_view(name).substr(star + 1)) &&
        name.size() - star <= 4) {
      index = std::stoi(name.substr(star + 1));
      name.erase(star);
    }
    if (name.empty()) continue;
    if (std::find(order.begin(), order.end(), name) == order.end()) order.push_back(name);
    if (encoded || index >= 0) {
      sectioned[name].push_back({index, encoded, std::move(value)});
    } else if (!plain.count(name)) {
      plain[name] = std::move(value);
    }
  }
  for (const std::string& name : order) {
    auto sec = sectioned.find(name);
    if (sec != sectioned.end()) {
      result.params.emplace_back(name, joinSections(sec->second));
    } else {
      result.params.emplace_back(name, fDecodeText(plain[name]));
    }
  }
  return result;
}

std::string fFormatDate(std::string_view value) {
  std::vector<std::string_view> tokens;
  size_t i = 0;
  int depth = 0;
  size_t start = std::string_view::npos;
  auto cut = [&](size_t end) {
    if (start != std::string_view::npos) tokens.push_back(value.substr(start, end - start));
    start = std::string_view::npos;
  };
  for (; i < value.size(); ++i) {
    char c = value[i];
    if (c == '(') {
      cut(i);
      ++depth;
    } else if (c == ')') {
      if (depth > 0) --depth;
    } else if (depth > 0) {
    } else if (c == ' ' || c == '\t' || c == ',' || c == '\r' || c == '\n') {
      cut(i);
    } else if (start == std::string_view::npos) {
      start = i;
    }
  }
  cut(value.size());

  int day = 0, month = 0, year = -1, h = -1, mi = 0, sec = 0;
  int zone = 0;
  bool haveZone = false;
  for (std::string_view t : tokens) {
    if (t.find(':') != std::string_view::npos && h < 0) {
      if (!parseTime(t, h, mi, sec)) return {};
    } else if (allDigits(t)) {
      if (t.size() > 4) return {};
      int v = 0;
      for (char d : t) v = v * 10 + (d - '0');
      if (day == 0 && t.size() <= 2 && year < 0) {
        day = v;
      } else if (year < 0) {
        year = v;
        if (t.size() == 2) year += v < 50 ? 2000 : 1900;
        if (t.size() == 3) year += 1900;
      }
    } else if (!haveZone && h >= 0 && zoneMinutes(t)) {
      zone = *zoneMinutes(t);
      haveZone = true;
    } else if (month == 0 && monthNumber(t)) {
      month = monthNumber(t);
    }
  }
  if (day < 1 || day > 31 || month == 0 || year < 1900 || year > 9999 || h < 0) return {};
  int64_t epoch =
      daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) * 86400 +
      h * 3600 + mi * 60 + sec - static_cast<int64_t>(zone) * 60;
  std::time_t t = static_cast<std::time_t>(epoch);
  std::tm tm{};
#ifdef _WIN32
  if (localtime_s(&tm, &t) != 0) return {};
#else
  if (!localtime_r(&t, &tm)) return {};
#endif
  const int fullYear = tm.tm_year + 1900;
  if (fullYear < 0 || fullYear > 9999) return {};
  char buf[20];
  auto two = [&buf](int at, int v) {
    buf[at] = static_cast<char>('0' + v / 10 % 10);
    buf[at + 1] = static_cast<char>('0' + v % 10);
  };
  two(0, fullYear / 100);
  two(2, fullYear % 100);
  buf[4] = '/';
  two(5, tm.tm_mon + 1);
  buf[7] = '/';
  two(8, tm.tm_mday);
  buf[10] = ' ';
  two(11, tm.tm_hour);
  buf[13] = ':';
  two(14, tm.tm_min);
  buf[16] = ':';
  two(17, tm.tm_sec);
  return std::string(buf, 19);
}

std::string fBase64Decode(std::string_view text) {
  static const auto table = [] {
    std::array<int8_t, 256> t{};
    t.fill(-1);
    const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (int k = 0; k < 64; ++k)
      t[static_cast<unsigned char>(alphabet[k])] = static_cast<int8_t>(k);
    return t;
  }();
  std::string out;
  out.reserve(text.size() * 3 / 4);
  uint32_t acc = 0;
  int bits = 0;
  for (char c : text) {
    int v = table[static_cast<unsigned char>(c)];
    if (v < 0) continue;
    acc = (acc << 6) | static_cast<uint32_t>(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out.push_back(static_cast<char>((acc >> bits) & 0xFF));
    }
  }
  return out;
}

}  // namespace mail::header
