#pragma once
// Small common operations: paths, enclosed text, text files and the settings cipher.
#include <filesystem>
#include <string>
#include <string_view>

namespace modCommon {

// The key every caller passes to the settings cipher.
inline constexpr unsigned char kSettingKey = 0xA5;

#ifdef _WIN32
inline constexpr char kSep = '\\';
#else
inline constexpr char kSep = '/';
#endif

// folder + separator + name; no second separator when the folder already ends in one.
// A stored relative name written with "\" is turned to the platform's separator.
std::string fJoinPath(std::string_view folder, std::string_view name);
// The text before the last separator ("/" or "\"); empty when there is none.
std::string fGetParentPath(std::string_view path);
// The text after the last separator; empty when there is none.
std::string fGetFileName(std::string_view path);
// The text after the last "."; empty when there is none.
std::string fGetExtension(std::string_view name);
// The text after the first opening mark, cut before its closing mark (">" for "<",
// ")" for "(", the mark itself otherwise); the whole text when the closing mark is
// missing.
std::string fGetEnclosed(std::string_view text, std::string_view mark);
// A stored relative path ("受信箱\x") as a path on this platform.
std::filesystem::path fStoredPath(std::string_view stored);

// Creates or replaces the file with the text in CP932 (UTF-8 when CP932 cannot hold
// it), atomically. False when the write failed.
bool sWriteTextFile(const std::filesystem::path& path, std::string_view text);

// The settings cipher: each CP932 byte b becomes "&" and the uppercase hex of b ^ key.
// Text CP932 cannot hold is scrambled as a UTF-8 byte order mark and its UTF-8 bytes.
std::string fEncodeSetting(std::string_view text, unsigned char key);
// The inverse. A value that does not begin with "&" was typed in clear and is returned
// as it is; a malformed group gives the empty text.
std::string fDecodeSetting(std::string_view text, unsigned char key);

// One scrambled value of an account's set.ini (section "Mail").
std::string fGetAccountValue(const std::filesystem::path& accountFolder, std::string_view key);
bool sSetAccountValue(const std::filesystem::path& accountFolder, std::string_view key,
                      std::string_view value);

}  // namespace modCommon
