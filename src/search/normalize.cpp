#include "search/normalize.h"

#include <array>
#include <string_view>

namespace search {
namespace {

// Decodes one UTF-8 character at `i` (advancing it); invalid bytes come back as U+FFFD.
char32_t next(std::string_view s, std::size_t& i) {
  const auto b = static_cast<unsigned char>(s[i]);
  int len = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
  if (len == 0 || i + static_cast<std::size_t>(len) > s.size()) {
    ++i;
    return 0xFFFD;
  }
  char32_t c = len == 1 ? b : b & (0x7F >> len);
  for (int k = 1; k < len; ++k) {
    const auto cont = static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]);
    if ((cont & 0xC0) != 0x80) {
      ++i;
      return 0xFFFD;
    }
    c = (c << 6) | (cont & 0x3F);
  }
  i += static_cast<std::size_t>(len);
  return c;
}

// Half-width katakana U+FF61..U+FF9F as their full-width forms.
constexpr std::array<char16_t, 63> kHalfKana = {
    u'。', u'「', u'」', u'、', u'・', u'ヲ', u'ァ', u'ィ', u'ゥ', u'ェ', u'ォ', u'ャ', u'ュ', u'ョ', u'ッ', u'ー',
    u'ア', u'イ', u'ウ', u'エ', u'オ', u'カ', u'キ', u'ク', u'ケ', u'コ', u'サ', u'シ', u'ス', u'セ', u'ソ', u'タ',
    u'チ', u'ツ', u'テ', u'ト', u'ナ', u'ニ', u'ヌ', u'ネ', u'ノ', u'ハ', u'ヒ', u'フ', u'ヘ', u'ホ', u'マ', u'ミ',
    u'ム', u'メ', u'モ', u'ヤ', u'ユ', u'ヨ', u'ラ', u'リ', u'ル', u'レ', u'ロ', u'ワ', u'ン', u'゛', u'゜'};

bool isSpace(char32_t c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == 0x3000; }

// Takes a sound mark into the kana before it: カ+゛ = ガ, ハ+゜ = パ, ウ+゛ = ヴ.
bool joinMark(std::string& out, char32_t last, char32_t mark) {
  char32_t joined = 0;
  const bool voiced = mark == u'゛';
  if (last == u'ウ' && voiced) joined = u'ヴ';
  else if (voiced && last >= u'カ' && last <= u'ト' && std::u16string_view(u"カキクケコサシスセソタチツテト").find(static_cast<char16_t>(last)) !=
                         std::u16string_view::npos)
    joined = last + 1;
  else if (last >= u'ハ' && last <= u'ホ' && (last - u'ハ') % 3 == 0) joined = last + (voiced ? 1 : 2);
  if (!joined) return false;
  out.resize(out.size() - 3);  // every kana here is three bytes
  appendUtf8(out, joined);
  return true;
}

}  // namespace

std::string fNormalize(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  char32_t last = 0;  // the last character written
  bool pendingSpace = false, pendingBreak = false;
  for (std::size_t i = 0; i < s.size();) {
    char32_t c = next(s, i);
    if (isSpace(c)) {
      pendingSpace = true;
      pendingBreak |= c == '\n' || c == '\r';
      continue;
    }
    if (c >= 0xFF01 && c <= 0xFF5E) c -= 0xFEE0;                        // full-width ASCII
    else if (c >= 0xFF61 && c <= 0xFF9F) c = kHalfKana[c - 0xFF61];  // half-width kana
    if (c >= 'A' && c <= 'Z') c += 32;
    else if (c >= 0xC0 && c <= 0xDE && c != 0xD7) c += 32;  // Latin-1 capitals
    if ((c == u'゛' || c == u'゜') && !pendingSpace && joinMark(out, last, c)) {
      last = 0;
      continue;
    }
    if (pendingSpace && !out.empty() && !(pendingBreak && last >= 0x3000 && c >= 0x3000)) out += ' ';
    pendingSpace = pendingBreak = false;
    appendUtf8(out, c);
    last = c;
  }
  return out;
}

bool fContainsTerms(std::string_view haystack, std::string_view needle) {
  while (!needle.empty()) {
    const std::size_t space = needle.find(' ');
    const std::string_view term = needle.substr(0, space);
    if (!term.empty() && haystack.find(term) == std::string_view::npos) return false;
    if (space == std::string_view::npos) break;
    needle.remove_prefix(space + 1);
  }
  return true;
}

}  // namespace search

namespace search {
std::vector<std::size_t> fFilter(const std::vector<std::string>& texts, std::string_view query) {
  const std::string needle = fNormalize(query);
  std::vector<std::size_t> out;
  for (std::size_t i = 0; i < texts.size(); ++i)
    if (fContainsTerms(texts[i], needle)) out.push_back(i);
  return out;
}
}  // namespace search
