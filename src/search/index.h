#pragma once
// The search index: one SQLite file in the program folder with an FTS5 table over the
// normalised text of every mail, cut into overlapping three-character pieces, so any
// substring finds its mails without word splitting. The table keeps no text of its own
// (contentless): the mails are the text. The index is never the truth: each folder's
// entry carries the folder's modification stamp, a folder whose stamp moved on is read
// again by fSync, and until then searches read that folder's files instead.
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;

namespace search {

namespace fs = std::filesystem;

// Mails indexed so far and mails to index in all; false stops the sync.
using SyncProgress = std::function<bool(std::size_t done, std::size_t total)>;

class MailIndex {
 public:
  // Opens the index file, creating it when missing; a damaged or foreign file is
  // replaced by an empty index (nothing is lost: the mails are the text).
  explicit MailIndex(fs::path file);
  ~MailIndex();
  MailIndex(const MailIndex&) = delete;
  MailIndex& operator=(const MailIndex&) = delete;

  bool fOpen() const { return db_ != nullptr; }
  // Whether a sync has run through once, so that every folder was indexed at some time.
  bool fBuilt();
  // Brings the index up to the folders as they are now. A mail moved keeps its entry
  // (same name, size and time in another folder); a mail deleted or rewritten loses it.
  // False when stopped or failed; what was done so far stays and is used.
  bool fSync(const std::vector<fs::path>& folders, const SyncProgress& progress = {});
  // The mails of the current folders among `folders` whose text holds every term of the
  // query; `stale` gets the folders the index does not have current. Nothing when the
  // index cannot answer (damaged: search the files; the next sync rebuilds it). At most
  // `maxHits`, the most recently indexed first.
  std::optional<std::vector<fs::path>> fQuery(std::string_view query, const std::vector<fs::path>& folders,
                                               std::vector<fs::path>& stale, std::size_t maxHits = SIZE_MAX);
  // The index file's size with its journal.
  std::uintmax_t fFileSize() const;

 private:
  bool fPrepareSchema();
  void sReset();
  bool fExec(const char* sql);

  fs::path file_;
  sqlite3* db_ = nullptr;
  bool damaged_ = false;
};

// Every mail folder of the store under the program folder: every folder of every
// account, at any depth.
std::vector<fs::path> fStoreFolders(const fs::path& programDir);
// The index file of a program folder.
fs::path fIndexFile(const fs::path& programDir);

// Reads the mails of the folders and keeps those whose text holds every term (the way
// without an index). `cancel`, when set, stops early.
std::vector<fs::path> fSearchFiles(const std::vector<fs::path>& folders, std::string_view query,
                                   const std::atomic<bool>* cancel = nullptr);

// A search over every folder of the store: through the index for the folders it has
// current, through the files for the rest (all of them without an index).
struct StoreHits {
  std::vector<fs::path> paths;
  bool usedIndex = false;
  std::size_t staleFolders = 0;
};
StoreHits fSearchStore(const fs::path& programDir, MailIndex* index, std::string_view query,
                       std::size_t maxHits = SIZE_MAX);

}  // namespace search
