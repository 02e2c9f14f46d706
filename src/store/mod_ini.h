#pragma once
// Settings files in the private-profile format: [Section] headers and key=value lines.
// Section and key names match without regard to case, file order is kept, one key is
// rewritten in place, a missing file or key gives the caller's default. On disk the
// file is CP932 with CR LF; a file whose text CP932 cannot hold is written as UTF-8
// with a byte order mark, so that CP932 bytes which happen to be valid UTF-8 are never
// taken for it. Every write replaces the whole file atomically, and a file that exists
// but could not be read is never written over.
#include <deque>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace mod_ini {

// One settings file in memory. Lines that are not touched are written back byte for
// byte, so nothing the reader could not make sense of is lost on a rewrite.
class IniFile {
 public:
  // A missing or unreadable file gives an empty IniFile; an unreadable one also
  // refuses to be saved, so a failed read never wipes the settings it holds.
  static IniFile fLoad(const std::filesystem::path& path);
  bool fReadFailed() const { return readFailed_; }
  static IniFile fParse(std::string_view bytes);

  // The value (before its first NUL) of the first occurrence of the key in the first
  // section of that name.
  std::optional<std::string> fGet(std::string_view section, std::string_view key) const;
  // Key names of the section in file order (duplicates once, first spelling).
  std::vector<std::string> fKeys(std::string_view section) const;
  // Every key of the section, lower-cased, mapped to its value (first one wins).
  std::unordered_map<std::string, std::string> fSectionValues(std::string_view section) const;

  // A section read straight from a file's bytes, without building the file's lines: its
  // keys lower-cased and its values as fGet gives them, in file order (duplicates kept).
  // Views into the bytes, or into `folded` for keys that had to be lower-cased.
  struct SectionView {
    std::vector<std::pair<std::string_view, std::string_view>> entries;
    std::deque<std::string> folded;
  };
  // Only for plain ASCII, which needs no decoding; nothing for other bytes.
  static std::optional<SectionView> fViewSection(std::string_view bytes, std::string_view section);

  // Sets the key; a null value deletes it. Creates the section when needed.
  void sSet(std::string_view section, std::string_view key, const std::optional<std::string>& value);
  // Sets many keys of one section in one pass, with the values of calling sSet for each in
  // turn (later values win; a key that stays is rewritten where it stands, new keys follow
  // the section's last key in the order they were first added).
  void sSetMany(std::string_view section,
                const std::vector<std::pair<std::string, std::optional<std::string>>>& values);
  // Keeps the section header and removes everything under it.
  void sClearSection(std::string_view section);

  std::string fSerialize() const;
  bool fSave(const std::filesystem::path& path) const;

 private:
  enum class Kind { Other, Section, Key };
  // A line's end as read, so that an untouched file is written back byte for byte; a
  // lone CR or no end at all can only be the file's last line.
  enum class Eol : unsigned char { CrLf, Lf, Cr, None };
  struct Line {
    std::string raw;      // bytes as stored (without the line end)
    std::string decoded;  // the UTF-8 text, when it is not `raw` itself
    bool differs = false;
    const std::string& text() const { return differs ? decoded : raw; }
    Kind kind = Kind::Other;
    std::string name;   // section or key name, lower-cased, trimmed
    size_t valuePos = 0;  // offset of the value in text()
    bool dirty = false;
    Eol eol = Eol::CrLf;
  };
  static Line fMakeLine(std::string raw, bool utf8);
  static Line fNewLine(std::string text);
  // [first, last) line range of the first section of that name; nothing when absent.
  std::optional<std::pair<size_t, size_t>> fFindSection(std::string_view section) const;
  static std::string fValueOf(const Line& line);
  std::string fSerializeAs(bool utf8) const;

  std::vector<Line> lines_;
  bool utf8_ = false;
  bool bom_ = false;
  bool readFailed_ = false;
};

std::string fGetIniString(std::string_view section, std::string_view key,
                          const std::filesystem::path& file, std::string_view defaultValue);
std::vector<std::string> fGetIniKeys(std::string_view section, const std::filesystem::path& file);
// The integer read: the value's leading decimal digits (with an optional sign); a stored
// "123.75" reads 123, a missing or empty value gives the default, text without digits 0.
long fGetIniInt(std::string_view section, std::string_view key, long defaultValue,
                const std::filesystem::path& file);
long fParseIniInt(std::string_view value, long defaultValue);
// The string write: a null value deletes the key. The first write creates the file.
// The writes below return false, leaving the file as it was, when it exists but cannot
// be read or cannot be replaced.
bool fWriteIniString(std::string_view section, std::string_view key,
                     const std::optional<std::string>& value, const std::filesystem::path& file);
// Writes the section with an empty body, which removes every key in it.
bool sClearIniSection(std::string_view section, const std::filesystem::path& file);
// Rewrites a list section whole: the section cleared, then every entry in order.
bool fWriteIniSection(std::string_view section,
                      const std::vector<std::pair<std::string, std::string>>& entries,
                      const std::filesystem::path& file);

}  // namespace mod_ini
