#pragma once
// A folder's mails as a mail list shows them: typed header fields and the read state,
// read with the fast header path and, for big folders, on several threads. The list
// windows, the search hits and the rows known after a receive run all come through here.
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace maillist {

// The fields a list shows: `party` is the sender, or the recipient in sent-type folders.
struct Headers {
  std::string subject, party, date;
  bool operator==(const Headers&) const = default;
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

// What a listing did.
struct ListStats {
  size_t listed = 0;
  size_t read = 0;     // header blocks read from the files (the rest were known or remembered)
  size_t reread = 0;   // remembered rows found stale by the check and read again
  bool cacheSaved = true;
};

// A mail of a listing, by its file name in the listed folder (a path and a copy of each
// text for each of a hundred thousand mails cost more than the rest of the listing). The
// texts point into the listing, and live as long as it does.
struct Listed {
  std::string_view name, subject, party, date;
  bool read = false;
};

// A file whose fields differ from what a listing showed.
struct Change {
  std::string name;
  Headers headers;
};

// A folder listed at once. Rows remembered for a big folder (headercache.h) are taken
// while the file has the same name and inode as then: that tells every file added,
// removed, renamed or replaced by the program or from outside without looking at each
// file. `check` then looks at every file's full state (a file rewritten in place, an
// inode used again) and answers the rows that differ; a window runs it after showing
// the rows, on another thread.
class Listing {
 public:
  Listing();
  ~Listing();
  Listing(Listing&&) noexcept;
  Listing& operator=(Listing&&) noexcept;

  std::filesystem::path folder;
  std::vector<Listed> mails;  // in the folder's file order
  // Whether any row rests on the listing alone, or the cache is to be written.
  bool needsCheck() const;
  // Checks the rows taken on the listing's word and remembers what was read: the rows
  // that changed. Once, on any thread; `stats` gets what it did.
  std::vector<Change> check(ListStats* stats = nullptr);

 private:
  friend Listing listAtOnce(const std::filesystem::path&, bool, const KnownHeaders&, ListStats*);
  struct Pending;
  std::unique_ptr<Pending> pending_;
};

// Every mail of `folder`, as fList lists it, with the remembered rows still to check.
Listing listAtOnce(const std::filesystem::path& folder, bool sentType, const KnownHeaders& known = {},
                    ListStats* stats = nullptr);

// Every mail of `folder` in the folder's file order, with its read state from icon.ini.
// Known files are not read again, nor files unchanged since a listing remembered their
// fields. A received-type mail that cannot be read is listed with empty fields (the
// user can still see and delete it); a sent-type one is left out.
std::vector<Entry> fList(const std::filesystem::path& folder, bool sentType, const KnownHeaders& known = {},
                         ListStats* stats = nullptr);

// Whether `file` is marked read in `states` (icon.ini's [Icon] values by lower-cased name).
bool fIsRead(const std::unordered_map<std::string, std::string>& states, const std::filesystem::path& file);

}  // namespace maillist
