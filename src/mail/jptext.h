#pragma once
// Decoding of the character codes found in Japanese mail: the declared charset when it
// can be trusted, the undeclared-text rule (UTF-8 when valid, else CP932) otherwise,
// and ISO-2022-JP with the Windows extensions that glibc's converter drops.
#include <string>
#include <string_view>

namespace mail::jptext {

// ISO-2022-JP (and its -1/-2/-3 relatives as far as they are Japanese) to UTF-8. Two-byte
// JIS characters are shifted to EUC and decoded as EUC-JP-MS, so NEC and IBM extensions
// (circled digits, ㈱, roman numerals) survive. Bad sequences become U+FFFD.
std::string fDecodeIso2022Jp(std::string_view bytes);

// Text without a usable charset label: ISO-2022-JP when it is 7-bit with JIS escapes,
// else UTF-8 when valid, else CP932.
std::string fDecodeUndeclared(std::string_view bytes);

// Bytes labelled with `charset` (may be empty) to UTF-8. Falls back to the undeclared
// rule when the label is empty, unknown, plain ASCII that is not, or a 7-bit label on
// 8-bit data.
std::string fDecodeBytes(std::string_view charset, std::string_view bytes);

// Every line end (CR LF, LF, lone CR) as CR LF.
std::string fToCrLf(std::string_view text);
// The same in place; a text whose lines all end in CR LF already is left untouched.
void sToCrLf(std::string& text);

// ASCII lower case.
std::string fLower(std::string_view text);

}  // namespace mail::jptext
