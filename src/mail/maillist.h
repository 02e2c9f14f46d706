#pragma once
// A folder's mails as a mail list shows them: typed header fields and the read state,
// read with the fast header path and, for big folders, on several threads. The list
// windows, the search hits and the rows known after a receive run all come through here.
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace maillist {

// The fields a list shows: `party` is the sender, or the recipient in sent-type folders.
struct Headers {
  std::string subject, party, date;
};

struct Entry {
  std::filesystem::path file;
  Headers headers;
  bool read = false;
};

// Header fields already known, by file name (a receive run has just read them).
using KnownHeaders = std::unordered_map<std::string, Headers>;

// The value of one of ReadMail's labelled elements ("Subject: text" gives "text").
std::string fValueOf(std::string_view element);

// One mail's fields; nothing when the file cannot be read as a mail.
std::optional<Headers> fReadHeaders(const std::filesystem::path& file, bool sentType);

// One mail as `fList` would list it (its read state from its folder's icon.ini).
std::optional<Entry> fEntry(const std::filesystem::path& file, bool sentType);

// Every mail of `folder` in the folder's file order, with its read state from icon.ini.
// Known files are not read again. A received-type mail that cannot be read is listed
// with empty fields (the user can still see and delete it); a sent-type one is left out.
std::vector<Entry> fList(const std::filesystem::path& folder, bool sentType, const KnownHeaders& known = {});

// Whether `file` is marked read in `states` (icon.ini's [Icon] values by lower-cased name).
bool fIsRead(const std::unordered_map<std::string, std::string>& states, const std::filesystem::path& file);

}  // namespace maillist
