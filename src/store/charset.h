#pragma once
// Character-code conversions between the core's UTF-8 text and the byte forms found on
// disk and in mail. Converters stay open per thread (opening one per call is slow).
#include <optional>
#include <string>
#include <string_view>

namespace charset {

// True when the bytes are well-formed UTF-8 (no overlongs, no surrogates).
bool fIsValidUtf8(std::string_view bytes);
bool fIsAscii(std::string_view bytes);

// UTF-8 text to CP932 bytes; nothing when a character has no CP932 form that reads back
// as the same character.
std::optional<std::string> fToCp932(std::string_view utf8);

// Bytes in the named charset to UTF-8. Invalid sequences become U+FFFD; an unknown
// charset gives nothing. Shift_JIS family labels are read as CP932, EUC-JP as EUC-JP-MS.
std::optional<std::string> fDecode(std::string_view charsetName, std::string_view bytes);

// CP932 bytes to UTF-8 (invalid sequences become U+FFFD).
std::string fFromCp932(std::string_view bytes);

// The rule for undeclared text: UTF-8 when the bytes are valid UTF-8, else CP932.
std::string fDecodeStored(std::string_view bytes);

// Settings text carries a mark when it is UTF-8 (a byte order mark); text without one
// is CP932 unless it reads only as UTF-8, or it is UTF-8 of text that CP932 cannot hold
// and more than runs of half-width kana (text written before the mark existed). True
// when unmarked `bytes` are to be read as UTF-8; plain ASCII is false.
bool fIsUnmarkedUtf8(std::string_view bytes);
inline constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

// The reverse: CP932 when the text fits, else the UTF-8 text unchanged.
std::string fEncodeStored(std::string_view utf8);

// The iconv name to use for a charset label (maps the Shift_JIS family to CP932 and
// EUC-JP to EUC-JP-MS); the label itself otherwise.
std::string fIconvName(std::string_view label);

}  // namespace charset
