#pragma once
// Folder counts remembered between runs, so that a store of a million mails is not
// listed again at every start. Each count is kept with the state of the folder it was
// made from (the folder's own entry and its icon.ini, down to the nanosecond change
// time, inode and size) and is used only while the folder still has exactly that state:
// a mail added, removed or renamed changes the folder's change time, a read state
// changes icon.ini's. A state so recent that a further change could still share its
// time stamp is never remembered.
//
// One hidden file per account, ".counts.ini" in the account folder: outside every mail
// folder and ending in ".ini", so no listing takes it for mail. It is replaced whole and
// atomically; a damaged or foreign one only costs a recount. Keyed by the path below the
// account, it stays right when accounts are renumbered.
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>

namespace countcache {

namespace fs = std::filesystem;

inline constexpr std::string_view kFileName = ".counts.ini";

struct Stamp {
  std::uint64_t dev = 0, ino = 0;
  std::int64_t ctime = 0, mtime = 0;  // nanoseconds
  std::uint64_t iconIno = 0, iconSize = 0;
  std::int64_t iconCtime = 0, iconMtime = 0;  // all 0: no icon.ini
  bool operator==(const Stamp&) const = default;
};
// The folder's state now; nothing when it cannot be told (no folder, or a platform
// without change times).
std::optional<Stamp> fStamp(const fs::path& folder);

// The counts of one account's folders. Not shared between threads.
class AccountCounts {
 public:
  explicit AccountCounts(fs::path accountFolder);
  // The folder's count (all mails when `allMails`, else unread), from the record when
  // the folder is as it was then; else counted afresh and remembered. Nothing when the
  // record does not serve and `mayList` is false.
  std::optional<int> fCount(const fs::path& folder, bool allMails, bool mayList = true);
  // Entries listed by the fresh counts so far.
  long fListed() const { return listed_; }
  // Writes the records when any changed; false when the file could not be written.
  bool fSave();

 private:
  struct Record {
    Stamp stamp;
    bool allMails = false;
    int count = 0;
  };
  void sLoad();
  fs::path account_;
  std::map<std::string, Record> records_;  // by the folder's path below the account
  bool changed_ = false;
  long listed_ = 0;
};

}  // namespace countcache
