#pragma once
// Small text helpers for the whole core: trimming, ASCII case folding, splitting and
// joining. Text is UTF-8 or bytes; only ASCII letters and the given characters are
// touched, so multi-byte characters pass through unchanged.
#include <string>
#include <string_view>
#include <vector>

namespace text {

inline constexpr std::string_view kBlanks = " \t";         // spaces and tabs
inline constexpr std::string_view kWhiteSpace = " \t\r\n";  // and line breaks

// `s` without the leading and trailing characters found in `chars`.
std::string_view trim(std::string_view s, std::string_view chars = kBlanks);
// ASCII letters in lower case; every other byte as it is.
std::string lower(std::string_view s);
// How settings keys match: trimmed of blanks, ASCII letters in lower case.
std::string foldKey(std::string_view key);
// The pieces between every `separator` (empty pieces kept; "" gives one empty piece).
std::vector<std::string_view> split(std::string_view s, std::string_view separator);
std::string join(const std::vector<std::string>& pieces, std::string_view separator);
// The bytes as lower-case hexadecimal, two digits each.
std::string hex(std::string_view bytes);
// Appends one code point (a valid scalar value) in UTF-8.
void appendUtf8(std::string& out, char32_t c);
// The bytes in base64 (RFC 4648): padded, or with `url` the URL-safe alphabet unpadded.
std::string base64(std::string_view bytes, bool url = false);

}  // namespace text
