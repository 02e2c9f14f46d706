#pragma once
// A big folder's header fields remembered between listings, so that opening it reads only
// the mails that are new or changed since. Each record is kept with the state of the file
// it was read from (size, modification and change time, inode) and serves only a file
// still in exactly that state; a state so recent that a further write could still share
// its time stamps is never remembered. Read states are not kept here: they come from
// icon.ini at every listing.
//
// One hidden file per folder in its account folder (".list-<hash>.ini": outside every
// mail folder and ending in ".ini", so no listing takes it for mail), naming the folder it
// was made from. It is replaced whole and atomically; a damaged, cut or foreign one is
// ignored and rewritten, and deleting it loses nothing but time.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "store/mailstore.h"

namespace headercache {

namespace fs = std::filesystem;

// Folders with fewer mails are read whole each time: that is as quick as a cache.
inline constexpr std::size_t kCachedFrom = 64;

// The cache file of a folder; empty when the folder lies in no account folder.
fs::path cacheFile(const fs::path& folder);
// Removes the folder's cache file (a folder that became small).
void removeCache(const fs::path& folder);

// One remembered mail; the texts point into the cache's bytes (or the caller's).
struct Record {
  std::string_view name, subject, party, date;
  std::uint64_t size = 0, ino = 0;
  std::int64_t mtime = 0, ctime = 0;
  bool sameState(const mailstore::MailFileState& file) const {
    return size == file.size && ino == file.ino && mtime == file.mtime && ctime == file.ctime;
  }
};

// The file's bytes for a record set, and the records that bytes hold for the folder
// `rel` (below its account folder) of this type: false when they are damaged, cut or
// someone else's.
std::string encode(std::string_view rel, bool sentType, const std::vector<Record>& records);
bool decode(std::string_view bytes, std::string_view rel, bool sentType, std::vector<Record>& records);

class FolderCache {
 public:
  // No cache.
  FolderCache() = default;
  // Loads the folder's cache when it has one that serves this folder and type.
  FolderCache(const fs::path& folder, bool sentType);
  FolderCache(FolderCache&&) = default;
  FolderCache& operator=(FolderCache&&) = default;

  // Whether the folder can have a cache (it lies in an account folder).
  bool usable() const { return !file_.empty(); }
  // How many records the cache held.
  std::size_t size() const { return loaded_.size(); }
  // The record of a file by name, or nothing.
  const Record* find(std::string_view name);
  // Whether a file in this state may be remembered: not when its state is too recent to
  // tell from a later write.
  bool settled(const mailstore::MailFileState& file) const;
  // Replaces the cache file with these records; false when it could not be written.
  bool save(const std::vector<Record>& records) const;
 private:
  fs::path file_;
  std::string rel_;  // the folder below its account folder
  bool sentType_ = false;
  std::int64_t settledBefore_ = 0;  // states younger than this are not remembered
  std::unique_ptr<std::string> bytes_;  // stays in place when the cache is moved: records point into it
  std::vector<Record> loaded_;
  std::unordered_map<std::string_view, std::size_t> byName_;  // built when the order differs
  std::size_t cursor_ = 0;  // the next record in the file's order
};

}  // namespace headercache
