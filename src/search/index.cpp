#include "search/index.h"

#include <sqlite3.h>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <algorithm>
#include <future>
#include <map>
#include <set>
#include <thread>
#include <unordered_map>

#include "search/mailtext.h"
#include "search/normalize.h"
#include "store/fsutil.h"
#include "store/mailstore.h"

namespace search {
namespace {

constexpr const char* kTokenizer = "qbgram";
constexpr const char* kVersion = "3";
// Mails read ahead of the writer in one batch; batches per transaction.
constexpr std::size_t kBatch = 1024;
constexpr std::size_t kBatchesPerCommit = 8;

// --- the tokenizer: overlapping three-character pieces -------------------------------
// A document gives a piece at every character (the last two of each field shorter, so a
// one- or two-character query finds its text at a field's end too). A query of three or
// more characters gives its pieces in a row (a phrase); a shorter one gives itself, and
// the query asks for it as a prefix.

std::size_t charLength(unsigned char b) { return b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 1; }

int tokenize(Fts5Tokenizer*, void* ctx, int flags, const char* text, int length,
             int (*token)(void*, int, const char*, int, int, int)) {
  const bool query = (flags & FTS5_TOKENIZE_QUERY) != 0;
  std::vector<int> starts;
  auto emitField = [&](int from, int to) -> int {
    starts.clear();
    for (int i = from; i < to; i += static_cast<int>(charLength(static_cast<unsigned char>(text[i]))))
      starts.push_back(i);
    starts.push_back(to);
    const std::size_t n = starts.size() - 1;
    if (n == 0) return SQLITE_OK;
    if (query && n < 3) return token(ctx, 0, text + from, to - from, from, to);
    for (std::size_t i = 0; i < n; ++i) {
      const std::size_t end = std::min(i + 3, n);
      if (query && end - i < 3) break;
      const int rc = token(ctx, 0, text + starts[i], starts[end] - starts[i], starts[i], starts[end]);
      if (rc != SQLITE_OK) return rc;
    }
    return SQLITE_OK;
  };
  int from = 0;
  for (int i = 0; i <= length; ++i) {
    if (i == length || text[i] == kFieldSeparator) {
      const int rc = emitField(from, std::min(i, length));
      if (rc != SQLITE_OK) return rc;
      from = i + 1;
    }
  }
  return SQLITE_OK;
}

int createTokenizer(void*, const char**, int, Fts5Tokenizer** out) {
  static int instance;
  *out = reinterpret_cast<Fts5Tokenizer*>(&instance);
  return SQLITE_OK;
}
void deleteTokenizer(Fts5Tokenizer*) {}

bool registerTokenizer(sqlite3* db) {
  fts5_api* api = nullptr;
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db, "SELECT fts5(?1)", -1, &stmt, nullptr) != SQLITE_OK) return false;
  sqlite3_bind_pointer(stmt, 1, &api, "fts5_api_ptr", nullptr);
  sqlite3_step(stmt);
  sqlite3_finalize(stmt);
  if (!api) return false;
  static fts5_tokenizer tokenizer = {createTokenizer, deleteTokenizer, tokenize};
  return api->xCreateTokenizer(api, kTokenizer, nullptr, &tokenizer, nullptr) == SQLITE_OK;
}

// The query in FTS5's syntax: every term, each a quoted phrase (short ones as prefixes).
std::string matchExpression(std::string_view normalised) {
  std::string out;
  while (!normalised.empty()) {
    const std::size_t space = normalised.find(' ');
    const std::string_view term = normalised.substr(0, space);
    if (!term.empty()) {
      std::size_t chars = 0;
      for (std::size_t i = 0; i < term.size(); i += charLength(static_cast<unsigned char>(term[i]))) ++chars;
      if (!out.empty()) out += " AND ";
      out += '"';
      for (char c : term) out += c == '"' ? std::string("\"\"") : std::string(1, c);
      out += chars < 3 ? "\"*" : "\"";
    }
    if (space == std::string_view::npos) break;
    normalised.remove_prefix(space + 1);
  }
  return out;
}

// --- small statement helper ----------------------------------------------------------
class Stmt {
 public:
  Stmt(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr); }
  ~Stmt() { sqlite3_finalize(stmt_); }
  Stmt(const Stmt&) = delete;
  Stmt& operator=(const Stmt&) = delete;
  explicit operator bool() const { return stmt_ != nullptr; }
  Stmt& bind(int i, long long v) {
    sqlite3_bind_int64(stmt_, i, v);
    return *this;
  }
  Stmt& bind(int i, std::string_view v) {
    sqlite3_bind_text(stmt_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
    return *this;
  }
  int step() { return stmt_ ? sqlite3_step(stmt_) : SQLITE_ERROR; }
  // Runs a statement that returns no rows and makes it ready for the next use.
  bool run() {
    const int rc = step();
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
    return rc == SQLITE_DONE;
  }
  long long integer(int col) { return sqlite3_column_int64(stmt_, col); }
  std::string text(int col) {
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, col));
    return p ? std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(stmt_, col))) : std::string();
  }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

long long stampOf(const fs::path& path) {
  std::error_code ec;
  const auto t = fs::last_write_time(path, ec);
  return ec ? -1 : static_cast<long long>(t.time_since_epoch().count());
}

struct FileState {
  long long size = 0, mtime = 0;
};

struct Entry {
  long long id = 0;
  FileState state;
};

// A mail to read into the index.
struct Pending {
  long long folder = 0;
  fs::path path;
  FileState state;
  std::string text;
};

}  // namespace

fs::path fIndexFile(const fs::path& programDir) { return programDir / "search-index.db"; }

namespace {

// Whether a folder can hold folders. On Linux a folder's link count is 2 plus its number
// of subfolders (where the file system keeps it so): a mail folder of ten thousand files
// and no subfolder is then never read just to find none.
bool mayHaveSubfolders(const fs::path& dir) {
#ifndef _WIN32
  struct stat st {};
  if (::stat(dir.c_str(), &st) == 0 && st.st_nlink == 2) return false;
#endif
  (void)dir;
  return true;
}

void addSubfolders(const fs::path& dir, std::vector<fs::path>& out) {
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code fe;
    if (!it->is_directory(fe) || it->is_symlink(fe)) continue;
    out.push_back(it->path());
    if (mayHaveSubfolders(it->path())) addSubfolders(it->path(), out);
  }
}

}  // namespace

std::vector<fs::path> fStoreFolders(const fs::path& programDir) {
  std::vector<fs::path> folders;
  const fs::path prefix = mailstore::fAccountPrefix(programDir);
  for (int number : mailstore::fScanAccounts(prefix)) addSubfolders(mailstore::fAccountFolder(prefix, number), folders);
  return folders;
}

MailIndex::MailIndex(fs::path file) : file_(std::move(file)) {
  for (int attempt = 0; attempt < 2 && !db_; ++attempt) {
    if (sqlite3_open(file_.c_str(), &db_) != SQLITE_OK || !fPrepareSchema()) {
      // Damaged, foreign or of another version: start again from nothing.
      sReset();
    }
  }
}

MailIndex::~MailIndex() { sqlite3_close(db_); }

void MailIndex::sReset() {
  sqlite3_close(db_);
  db_ = nullptr;
  std::error_code ec;
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) fs::remove(fs::path(file_.native() + suffix), ec);
}

bool MailIndex::fExec(const char* sql) { return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

bool MailIndex::fPrepareSchema() {
  sqlite3_busy_timeout(db_, 5000);
  if (!registerTokenizer(db_)) return false;
  if (!fExec("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; PRAGMA cache_size=-65536;")) return false;
  // Mail ids are never given twice (AUTOINCREMENT): the text table may still hold the id
  // of a mail that was dropped, and must not lend its text to a newcomer.
  if (!fExec("CREATE TABLE IF NOT EXISTS meta(key TEXT PRIMARY KEY, value TEXT);"
             "CREATE TABLE IF NOT EXISTS folders(id INTEGER PRIMARY KEY, path TEXT UNIQUE, stamp INTEGER);"
             "CREATE TABLE IF NOT EXISTS mails(id INTEGER PRIMARY KEY AUTOINCREMENT, folder INTEGER, name TEXT,"
             " size INTEGER, mtime INTEGER, UNIQUE(folder, name));"
             "CREATE VIRTUAL TABLE IF NOT EXISTS grams USING fts5(t, content='', tokenize='qbgram', prefix='2');"
             "INSERT OR IGNORE INTO meta VALUES('version', '3');"
             // The text table keeps up to this much in memory before writing it out: a
             // build writes fewer, bigger pieces and merges them less often.
             "INSERT INTO grams(grams, rank) VALUES('hashsize', 67108864);"))
    return false;
  Stmt version(db_, "SELECT value FROM meta WHERE key = 'version'");
  return version.step() == SQLITE_ROW && version.text(0) == kVersion;
}

bool MailIndex::fBuilt() {
  if (!db_) return false;
  Stmt built(db_, "SELECT value FROM meta WHERE key = 'built'");
  return built.step() == SQLITE_ROW && built.text(0) == "1";
}

std::uintmax_t MailIndex::fFileSize() const {
  std::uintmax_t total = 0;
  for (const char* suffix : {"", "-wal"}) {
    std::error_code ec;
    const auto n = fs::file_size(fs::path(file_.native() + suffix), ec);
    if (!ec) total += n;
  }
  return total;
}

bool MailIndex::fSync(const std::vector<fs::path>& folders, const SyncProgress& progress) {
  if (damaged_) {
    sReset();
    damaged_ = false;
    if (sqlite3_open(file_.c_str(), &db_) != SQLITE_OK || !fPrepareSchema()) return false;
  }
  if (!db_) return false;
  // Entries of mails deleted or rewritten stay in the text table (it cannot forget a
  // text it does not have); once they are many the index starts again.
  {
    Stmt count(db_, "SELECT (SELECT count(*) FROM mails), (SELECT value FROM meta WHERE key = 'dropped')");
    if (count.step() == SQLITE_ROW && count.integer(1) > std::max<long long>(1000, count.integer(0) / 4)) {
      fExec("BEGIN; DELETE FROM mails; DELETE FROM folders; DELETE FROM meta WHERE key IN ('built','dropped');"
            "INSERT INTO grams(grams) VALUES('delete-all'); COMMIT;");
    }
  }
  std::map<std::string, std::pair<long long, long long>> known;  // path → id, stamp
  {
    Stmt all(db_, "SELECT path, id, stamp FROM folders");
    while (all.step() == SQLITE_ROW) known[all.text(0)] = {all.integer(1), all.integer(2)};
  }
  // Which folders changed, and how.
  struct Change {
    long long folder = 0;
    long long stamp = 0;
    std::vector<Pending> added;
  };
  std::vector<Change> changes;
  std::multimap<std::pair<std::string, long long>, Entry> gone;  // (name, size) → entry
  std::set<std::string> present;
  Stmt addFolder(db_, "INSERT INTO folders(path, stamp) VALUES(?1, -1)");
  Stmt rowsOf(db_, "SELECT name, id, size, mtime FROM mails WHERE folder = ?1");
  for (const fs::path& folder : folders) {
    const std::string key = mailstore::fUtf8(folder);
    present.insert(key);
    const long long stamp = stampOf(folder);
    auto it = known.find(key);
    if (it != known.end() && it->second.second == stamp) continue;
    if (it == known.end()) {
      addFolder.bind(1, key).run();
      it = known.emplace(key, std::make_pair(sqlite3_last_insert_rowid(db_), -1LL)).first;
    }
    Change change{it->second.first, stamp, {}};
    std::unordered_map<std::string, Entry> rows;
    rowsOf.bind(1, change.folder);
    while (rowsOf.step() == SQLITE_ROW)
      rows[rowsOf.text(0)] = Entry{rowsOf.integer(1), {rowsOf.integer(2), rowsOf.integer(3)}};
    rowsOf.run();
    for (const fs::path& file : mailstore::fListMailFiles(folder)) {
      std::error_code ec;
      const FileState state{static_cast<long long>(fs::file_size(file, ec)), stampOf(file)};
      if (ec) continue;
      const std::string name = mailstore::fUtf8(file.filename());
      auto row = rows.find(name);
      if (row != rows.end() && row->second.state.size == state.size && row->second.state.mtime == state.mtime) {
        rows.erase(row);
        continue;
      }
      change.added.push_back(Pending{change.folder, file, state, {}});
    }
    for (auto& [name, entry] : rows) gone.emplace(std::make_pair(name, entry.state.size), entry);
    changes.push_back(std::move(change));
  }
  // Folders that are gone: their mails too (unless they turn up elsewhere).
  for (auto& [path, idStamp] : known) {
    if (present.count(path)) continue;
    rowsOf.bind(1, idStamp.first);
    while (rowsOf.step() == SQLITE_ROW)
      gone.emplace(std::make_pair(rowsOf.text(0), rowsOf.integer(2)), Entry{rowsOf.integer(1), {rowsOf.integer(2), rowsOf.integer(3)}});
    rowsOf.run();
    Stmt(db_, "DELETE FROM folders WHERE id = ?1").bind(1, idStamp.first).run();
  }

  // Moves: the same name, size and time in another folder keep their entry.
  fExec("BEGIN");
  Stmt move(db_, "UPDATE mails SET folder = ?1 WHERE id = ?2");
  Stmt drop(db_, "DELETE FROM mails WHERE id = ?1");
  std::vector<Pending*> toRead;
  for (Change& change : changes) {
    for (Pending& p : change.added) {
      auto [first, last] = gone.equal_range({mailstore::fUtf8(p.path.filename()), p.state.size});
      auto match = std::find_if(first, last, [&](const auto& g) { return g.second.state.mtime == p.state.mtime; });
      if (match != last) {
        move.bind(1, p.folder).bind(2, match->second.id).run();
        gone.erase(match);
        p.folder = 0;  // done
      } else {
        toRead.push_back(&p);
      }
    }
  }
  long long dropped = 0;
  for (auto& [key, entry] : gone) {
    drop.bind(1, entry.id).run();
    ++dropped;
  }
  if (dropped) {
    Stmt(db_, "INSERT INTO meta VALUES('dropped', ?1) ON CONFLICT(key) DO UPDATE SET value = value + ?1")
        .bind(1, dropped)
        .run();
  }
  // A folder with nothing to read is current now.
  Stmt setStamp(db_, "UPDATE folders SET stamp = ?1 WHERE id = ?2");
  std::map<long long, std::size_t> left;  // folder → mails still to read
  for (Pending* p : toRead) ++left[p->folder];
  for (const Change& change : changes)
    if (!left.count(change.folder)) setStamp.bind(1, change.stamp).bind(2, change.folder).run();
  if (!fExec("COMMIT")) return false;

  // Reading the new mails: the next batch is read on another thread while this one is
  // written, so both cores work.
  std::map<long long, long long> stampOfFolder;
  for (const Change& change : changes) stampOfFolder[change.folder] = change.stamp;
  auto readBatch = [&toRead](std::size_t from) {
    for (std::size_t i = from; i < std::min(from + kBatch, toRead.size()); ++i) {
      auto bytes = fsutil::fReadFile(toRead[i]->path);
      toRead[i]->text = bytes ? fSearchText(fMailText(*bytes)) : std::string();
    }
  };
  Stmt addMail(db_, "INSERT OR REPLACE INTO mails(folder, name, size, mtime) VALUES(?1, ?2, ?3, ?4)");
  Stmt addText(db_, "INSERT INTO grams(rowid, t) VALUES(?1, ?2)");
  std::future<void> ahead;
  if (!toRead.empty()) ahead = std::async(std::launch::async, readBatch, 0);
  bool ok = true;
  bool inTransaction = false;
  for (std::size_t from = 0; from < toRead.size() && ok; from += kBatch) {
    ahead.get();
    if (from + kBatch < toRead.size()) ahead = std::async(std::launch::async, readBatch, from + kBatch);
    if (!inTransaction) inTransaction = fExec("BEGIN");
    for (std::size_t i = from; i < std::min(from + kBatch, toRead.size()); ++i) {
      Pending& p = *toRead[i];
      addMail.bind(1, p.folder).bind(2, mailstore::fUtf8(p.path.filename())).bind(3, p.state.size).bind(4, p.state.mtime);
      ok = addMail.run() && addText.bind(1, sqlite3_last_insert_rowid(db_)).bind(2, p.text).run() && ok;
      std::string().swap(p.text);
      if (--left[p.folder] == 0) setStamp.bind(1, stampOfFolder[p.folder]).bind(2, p.folder).run();
    }
    if ((from / kBatch) % kBatchesPerCommit == kBatchesPerCommit - 1) {
      ok = fExec("COMMIT") && ok;
      inTransaction = false;
    }
    if (progress && !progress(std::min(from + kBatch, toRead.size()), toRead.size())) ok = false;
  }
  // What was written so far stays, also when stopped half way.
  if (inTransaction) ok = fExec("COMMIT") && ok;
  if (ahead.valid()) ahead.wait();
  // The journal of a big build would otherwise stay as big as the index beside it.
  if (!toRead.empty()) fExec("PRAGMA wal_checkpoint(TRUNCATE)");
  if (!ok) return false;
  return fExec("INSERT OR REPLACE INTO meta VALUES('built', '1')");
}

std::optional<std::vector<fs::path>> MailIndex::fQuery(std::string_view query, const std::vector<fs::path>& folders,
                                                       std::vector<fs::path>& stale, std::size_t maxHits) {
  stale.clear();
  if (!db_ || damaged_) return std::nullopt;
  std::unordered_map<std::string, std::pair<long long, long long>> known;  // path → id, stamp
  {
    Stmt all(db_, "SELECT path, id, stamp FROM folders");
    while (all.step() == SQLITE_ROW) known[all.text(0)] = {all.integer(1), all.integer(2)};
  }
  std::unordered_map<long long, const fs::path*> current;  // folder id → folder
  for (const fs::path& folder : folders) {
    auto it = known.find(mailstore::fUtf8(folder));
    if (it != known.end() && it->second.second == stampOf(folder)) current[it->second.first] = &folder;
    else stale.push_back(folder);
  }
  std::vector<fs::path> hits;
  const std::string expression = matchExpression(fNormalize(query));
  if (expression.empty()) return hits;
  // The text table gives the ids; the mails table is probed by id (never scanned, which
  // an ORDER BY on it would make the planner do).
  // The newest entries first, and no more than asked for: the text table walks its lists
  // from the end and stops there.
  Stmt match(db_,
             "SELECT id, folder, name FROM mails WHERE id IN"
             " (SELECT rowid FROM grams WHERE grams MATCH ?1 ORDER BY rowid DESC LIMIT ?2)");
  match.bind(1, expression).bind(2, maxHits > static_cast<std::size_t>(INT64_MAX) ? -1LL : static_cast<long long>(maxHits));
  struct Row {
    long long id;
    const fs::path* folder;
    std::string name;
  };
  std::vector<Row> rows;
  int rc;
  while ((rc = match.step()) == SQLITE_ROW) {
    auto folder = current.find(match.integer(1));
    if (folder != current.end()) rows.push_back(Row{match.integer(0), folder->second, match.text(2)});
  }
  std::sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) { return a.id > b.id; });
  if (rows.size() > maxHits) rows.resize(maxHits);
  hits.reserve(rows.size());
  for (const Row& row : rows) hits.push_back(*row.folder / mailstore::fPath(row.name));
  if (rc != SQLITE_DONE) {
    if ((rc & 0xff) == SQLITE_CORRUPT || (rc & 0xff) == SQLITE_NOTADB) damaged_ = true;
    return std::nullopt;
  }
  return hits;
}

std::vector<fs::path> fSearchFiles(const std::vector<fs::path>& folders, std::string_view query,
                                   const std::atomic<bool>* cancel) {
  const std::string needle = fNormalize(query);
  std::vector<fs::path> files;
  for (const fs::path& folder : folders) {
    auto mails = mailstore::fListMailFiles(folder);
    files.insert(files.end(), mails.begin(), mails.end());
  }
  std::vector<char> match(files.size(), 0);
  std::atomic<std::size_t> nextIndex{0};
  auto work = [&] {
    for (std::size_t i; (i = nextIndex++) < files.size();) {
      if (cancel && cancel->load()) return;
      auto bytes = fsutil::fReadFile(files[i]);
      if (!bytes) continue;
      std::string text = fSearchText(fMailText(*bytes));
      // Terms never span fields in the index; the same here.
      std::replace(text.begin(), text.end(), kFieldSeparator, '\n');
      match[i] = fContainsTerms(text, needle);
    }
  };
  const unsigned threads = std::max(1u, std::min(4u, std::thread::hardware_concurrency()));
  std::vector<std::thread> pool;
  for (unsigned t = 1; t < threads; ++t) pool.emplace_back(work);
  work();
  for (auto& t : pool) t.join();
  std::vector<fs::path> hits;
  for (std::size_t i = 0; i < files.size(); ++i)
    if (match[i]) hits.push_back(std::move(files[i]));
  return hits;
}

StoreHits fSearchStore(const fs::path& programDir, MailIndex* index, std::string_view query, std::size_t maxHits) {
  StoreHits result;
  const std::vector<fs::path> folders = fStoreFolders(programDir);
  std::vector<fs::path> stale = folders;
  if (index && index->fBuilt()) {
    if (auto hits = index->fQuery(query, folders, stale, maxHits)) {
      result.paths = std::move(*hits);
      result.usedIndex = true;
    } else {
      stale = folders;
    }
  }
  result.staleFolders = stale.size();
  auto more = fSearchFiles(stale, query);
  result.paths.insert(result.paths.end(), more.begin(), more.end());
  if (result.paths.size() > maxHits) result.paths.resize(maxHits);
  return result;
}

}  // namespace search
