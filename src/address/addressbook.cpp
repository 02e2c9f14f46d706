#include "address/addressbook.h"

#include <system_error>

#include "store/fsutil.h"
#include "store/mod_ini.h"
#include "store/text.h"

namespace addressbook {
namespace {

constexpr std::string_view kField = "|,|";
constexpr std::string_view kEntry = "|\\|";
constexpr std::string_view kBreak = "|r|";
constexpr std::string_view kCrLf = "\r\n";

using text::split;

std::string_view fTrim(std::string_view s) { return text::trim(s); }

// Settings keys are matched trimmed and without regard to ASCII letter case.
std::string fKeyFold(std::string_view key) { return text::foldKey(key); }

bool fUsableKey(std::string_view key) {
  std::string_view k = fTrim(key);
  return !k.empty() && k.find('=') == std::string_view::npos && k.front() != '[' &&
         k.front() != ';';
}

std::string fReplaceAll(std::string_view text, std::string_view what, std::string_view with) {
  std::string out;
  out.reserve(text.size());
  size_t from = 0;
  for (size_t at = text.find(what); at != std::string_view::npos; at = text.find(what, from)) {
    out.append(text.substr(from, at - from)).append(with);
    from = at + what.size();
  }
  return out.append(text.substr(from));
}

// Every line end as CR LF, the form a field is read back in.
std::string fCrLf(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' || text[i] == '\n') {
      out += kCrLf;
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

}  // namespace

std::string fToStored(std::string_view text) { return fReplaceAll(fCrLf(text), kCrLf, kBreak); }

std::string fFromStored(std::string_view stored) { return fReplaceAll(stored, kBreak, kCrLf); }

std::vector<Entry> fParseBook(std::string_view stored) {
  // Line breaks come back first, then the separators split: the order the format is read in.
  const std::string data = fFromStored(stored);
  std::vector<Entry> entries;
  for (std::string_view piece : split(data, kEntry)) {
    if (piece.empty()) continue;
    std::vector<std::string_view> f = split(piece, kField);
    f.resize(4);
    entries.push_back({std::string(f[0]), std::string(f[1]), std::string(f[2]), std::string(f[3])});
  }
  return entries;
}

std::string fSerializeBook(const std::vector<Entry>& entries) {
  std::string data;
  for (const Entry& e : entries) {
    data.append(e.name).append(kField).append(e.address).append(kField);
    data.append(e.reading).append(kField).append(e.memo).append(kEntry);
  }
  return fToStored(data);
}

std::vector<std::pair<std::string, std::string>> fSpeechEntries(const std::vector<Book>& books) {
  std::vector<std::pair<std::string, std::string>> speech;
  for (const Book& book : books) {
    for (Entry& e : fParseBook(book.data)) {
      if (e.reading.empty()) continue;
      std::string key = fToStored(e.address);
      if (fUsableKey(key)) speech.emplace_back(std::move(key), std::move(e.reading));
    }
  }
  return speech;
}

std::vector<Book> fLoad(const std::filesystem::path& settingsIni) {
  const mod_ini::IniFile ini = mod_ini::IniFile::fLoad(settingsIni);
  std::vector<Book> books;
  for (std::string& name : ini.fKeys("Address")) {
    std::string data = ini.fGet("Address", name).value_or("");
    books.push_back({std::move(name), std::move(data)});
  }
  return books;
}

bool fSave(const std::filesystem::path& settingsIni, const std::vector<Book>& books) {
  // A file that is there but cannot be read must not be replaced by one holding only the books.
  std::error_code ec;
  const bool exists = std::filesystem::exists(settingsIni, ec);
  if (ec) return false;
  mod_ini::IniFile ini;
  if (exists) {
    std::optional<std::string> bytes = fsutil::fReadFile(settingsIni);
    if (!bytes) return false;
    ini = mod_ini::IniFile::fParse(*bytes);
  }
  std::vector<std::pair<std::string, std::optional<std::string>>> address;
  address.reserve(books.size());
  for (const Book& b : books) address.emplace_back(b.name, b.data);
  std::vector<std::pair<std::string, std::optional<std::string>>> speech;
  for (auto& [key, reading] : fSpeechEntries(books))
    speech.emplace_back(std::move(key), std::move(reading));
  ini.sClearSection("Address");
  ini.sSetMany("Address", address);
  ini.sClearSection("Speech");
  ini.sSetMany("Speech", speech);
  return ini.fSave(settingsIni);
}

std::optional<std::string> fCheckEntry(const Entry& entry) {
  // A field can hold a separator outright, or end or begin so that it makes one with the
  // separator beside it: storing the entry twice in a row and reading it back finds both.
  Entry normal{fCrLf(entry.name), fCrLf(entry.address), fCrLf(entry.reading), fCrLf(entry.memo)};
  const std::vector<Entry> twice{normal, normal};
  if (fParseBook(fSerializeBook(twice)) == twice) return std::nullopt;
  return "「|,|」「|\\|」「|r|」は区切りの記号のため使えません";
}

std::optional<std::string> fCheckBookName(std::string_view name,
                                          const std::vector<std::string>& others) {
  if (fTrim(name).empty()) return "アドレス帳の名前を入力して下さい";
  if (!fUsableKey(name)) return "アドレス帳の名前に「=」と、先頭の「[」「;」は使えません";
  const std::string folded = fKeyFold(name);
  for (const std::string& other : others)
    if (fKeyFold(other) == folded) return "同じ名前のアドレス帳があります";
  return std::nullopt;
}

std::string fPickText(std::string_view name, std::string_view address) {
  const bool plainName = name.find_first_of(",\"<>") == std::string_view::npos;
  if (!name.empty() && plainName && address.find(',') == std::string_view::npos)
    return std::string(name) + "<" + std::string(address) + ">, ";
  return std::string(address) + ", ";
}

std::string fJoinGroup(std::string_view address) { return fReplaceAll(address, kCrLf, ", "); }

std::pair<std::string, std::string> fSplitSender(std::string_view sender) {
  const size_t lt = sender.find('<');
  if (lt == std::string_view::npos) return {"", std::string(sender)};
  std::string_view name = fTrim(sender.substr(0, lt));
  if (size_t q1 = name.find('"'); q1 != std::string_view::npos) {
    if (size_t q2 = name.find('"', q1 + 1); q2 != std::string_view::npos)
      name = name.substr(q1 + 1, q2 - q1 - 1);
  }
  std::string_view rest = sender.substr(lt + 1);
  return {std::string(name), std::string(rest.substr(0, rest.find('>')))};
}

}  // namespace addressbook
