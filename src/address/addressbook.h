#pragma once
// Address books: [Address] of setting.ini holds one key per book (key order = book order).
// A book's value is its entries, each name "|,|" address "|,|" reading "|,|" memo "|\|",
// with every CR LF written as "|r|". [Speech] is derived from the books: address (CR LF as
// "|r|") = reading, for every entry that has a reading.
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace addressbook {

struct Entry {
  std::string name;
  std::string address;  // several lines (CR LF between them) make a group
  std::string reading;
  std::string memo;
  bool operator==(const Entry&) const = default;
};

// A book as stored: its name and its value in the file's form.
struct Book {
  std::string name;
  std::string data;
};

// CR LF (and a lone CR or LF) as "|r|", and back to CR LF.
std::string fToStored(std::string_view text);
std::string fFromStored(std::string_view stored);

// A book's stored value into entries and back. Empty pieces are skipped.
std::vector<Entry> fParseBook(std::string_view stored);
std::string fSerializeBook(const std::vector<Entry>& entries);

// The [Speech] keys of the books, in book and entry order. Addresses that no settings key
// can hold ("=" inside, "[" or ";" first) are left out: the line would be read back as
// another key.
std::vector<std::pair<std::string, std::string>> fSpeechEntries(const std::vector<Book>& books);

// The books of setting.ini in key order; nothing for a missing file or section.
std::vector<Book> fLoad(const std::filesystem::path& settingsIni);
// Empties [Address] and [Speech], writes every book and the readings, in one atomic write.
// False, with the file untouched, when an existing file cannot be read or the write fails.
bool fSave(const std::filesystem::path& settingsIni, const std::vector<Book>& books);

// Why an entry cannot be stored as typed (a field that would be read back as separators),
// or nothing when it can.
std::optional<std::string> fCheckEntry(const Entry& entry);
// Why `name` cannot name a book among `others` (the other books' names), or nothing.
// Settings keys ignore letter case, so names equal but for case are duplicates.
std::optional<std::string> fCheckBookName(std::string_view name,
                                          const std::vector<std::string>& others);

// The text a picked entry adds to a recipient field. `address` is the pick list's form
// (a group's lines joined by ", "). A name that a recipient list would split or misread
// (a comma, a double quote, "<" or ">") is left out: the address alone is given.
std::string fPickText(std::string_view name, std::string_view address);
// A group's lines joined by ", ", as the pick lists show it.
std::string fJoinGroup(std::string_view address);

// A sender text ("Name <addr>", "\"Name\" <addr>" or a bare address) split into the name
// and the address.
std::pair<std::string, std::string> fSplitSender(std::string_view sender);

}  // namespace addressbook
