#include "mail/uidlstore.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "mail/mail.h"
#include "store/fsutil.h"
#include "store/mailstore.h"

namespace fs = std::filesystem;

namespace mail {
namespace {

// The key field is empty: no account's key is, so older readers pass the line over.
constexpr std::string_view kMoved = "moved";

// Calls `fn(fields)` for each line of `text` split at TAB.
template <class Fn>
void forEachLine(std::string_view text, Fn fn) {
  while (!text.empty()) {
    std::size_t nl = text.find('\n');
    std::string_view line = text.substr(0, nl);
    text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) continue;
    std::string_view f[3];
    int n = 0;
    while (n < 3) {
      std::size_t tab = line.find('\t');
      f[n++] = line.substr(0, tab);
      if (tab == std::string_view::npos) break;
      line.remove_prefix(tab + 1);
    }
    fn(f, n);
  }
}

// One write of a short line under O_APPEND: a killed process leaves it whole or absent,
// and lines of two writers never mix.
bool fAppendLine(int fd, std::string_view line) {
  for (;;) {
    ssize_t n = ::write(fd, line.data(), line.size());
    if (n < 0 && errno == EINTR) continue;
    return n == static_cast<ssize_t>(line.size());
  }
}

// Where earlier versions kept the list and the journal: inside the inbox.
fs::path legacyListPath(const fs::path& folder) { return folder / ".qbuidl"; }
fs::path legacyJournalPath(const fs::path& folder) { return folder / ".qbuidl.journal"; }

// Moves an old file to its new place when that is free. True when the old one is left
// (both places hold one: the caller reads both).
bool fMoveLegacy(const fs::path& from, const fs::path& to) {
  std::error_code ec;
  if (!fs::exists(from, ec)) return false;
  if (fsutil::fRenameNoReplace(from, to)) return false;
  return fs::exists(from, ec);
}

}  // namespace

UidlStore::UidlStore(fs::path folder, std::string key)
    : folder_(mailstore::fNormalFolder(folder)), key_(std::move(key)) {
  for (auto& c : key_)
    if (c == '\t' || c == '\r' || c == '\n') c = ' ';
}

UidlStore::~UidlStore() {
  if (journalFd_ >= 0) ::close(journalFd_);
}

fs::path UidlStore::fHomeFolder(const fs::path& folder) {
  std::error_code ec;
  fs::path normal = fs::absolute(mailstore::fNormalFolder(folder), ec);
  if (ec) normal = mailstore::fNormalFolder(folder);
  return normal.has_relative_path() ? normal.parent_path() : normal;
}

namespace {
fs::path besideFolder(const fs::path& folder, std::string_view suffix) {
  const fs::path normal = mailstore::fNormalFolder(folder);
  return UidlStore::fHomeFolder(normal) /
         mailstore::fPath("." + mailstore::fUtf8(normal.filename()) + std::string(suffix));
}
}  // namespace

fs::path UidlStore::listPath(const fs::path& folder) { return besideFolder(folder, ".uidl.ini"); }
fs::path UidlStore::journalPath(const fs::path& folder) {
  return besideFolder(folder, ".uidl-journal.ini");
}

std::string UidlStore::movedLine(std::string_view fileName) {
  return "\t" + std::string(kMoved) + "\t" + std::string(fileName) + "\n";
}

void UidlStore::load() {
  legacyLeft_ = fMoveLegacy(legacyListPath(folder_), listPath(folder_));
  legacyLeft_ = fMoveLegacy(legacyJournalPath(folder_), journalPath(folder_)) || legacyLeft_;
  std::set<std::string> otherSeen;  // a list merged from both places names a UID once
  for (const fs::path& path : {listPath(folder_), legacyListPath(folder_)}) {
    auto list = fsutil::fReadFile(path);
    if (!list) continue;
    forEachLine(*list, [&](std::string_view* f, int n) {
      if (n < 2) return;
      if (f[0] == key_) {
        old_.insert(std::string(f[1]));
        return;
      }
      std::string line = std::string(f[0]) + "\t" + std::string(f[1]) + "\n";
      if (otherSeen.insert(line).second) otherLines_ += line;
    });
  }
  // Both journals are read as one: a move may be noted in the other one's run.
  std::string journal;
  for (const fs::path& path : {journalPath(folder_), legacyJournalPath(folder_)}) {
    if (auto text = fsutil::fReadFile(path)) journal += *text + "\n";
  }
  std::set<std::string_view> moved;
  forEachLine(journal, [&](std::string_view* f, int n) {
    if (n == 3 && f[0].empty() && f[1] == kMoved) moved.insert(f[2]);
  });
  forEachLine(journal, [&](std::string_view* f, int n) {
    if (n < 3 || f[0] != key_ || f[2].empty() || f[2].find('/') != std::string_view::npos)
      return;
    std::error_code ec;
    if (moved.count(f[2]) || fs::exists(folder_ / fs::path(std::string(f[2])), ec))
      fresh_.insert(std::string(f[1]));
  });
}

bool UidlStore::known(const std::string& uid) const {
  return old_.count(uid) != 0 || fresh_.count(uid) != 0;
}

bool UidlStore::fJournal(const std::string& uid, const std::string& fileName) {
  if (journalFd_ < 0) {
    journalFd_ = ::open(journalPath(folder_).c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (journalFd_ < 0) return false;
  }
  return fAppendLine(journalFd_, key_ + "\t" + uid + "\t" + fileName + "\n");
}

bool UidlStore::fCommit(const std::set<std::string>* onServer) {
  std::string text = otherLines_;
  auto add = [&](const std::string& uid) { text.append(key_).append("\t").append(uid).append("\n"); };
  for (const auto& uid : old_)
    if (!fresh_.count(uid) && (!onServer || onServer->count(uid))) add(uid);
  for (const auto& uid : fresh_) add(uid);
  if (!fsutil::fWriteFileAtomic(listPath(folder_), text, kReceiveTempPrefix)) return false;
  if (journalFd_ >= 0) {
    ::close(journalFd_);
    journalFd_ = -1;
  }
  std::error_code ec;
  fs::remove(journalPath(folder_), ec);
  if (legacyLeft_) {
    fs::remove(legacyListPath(folder_), ec);
    fs::remove(legacyJournalPath(folder_), ec);
    legacyLeft_ = false;
  }
  return true;
}

MoveNotes::MoveNotes(std::string_view folder) : folder_(folder) {}

MoveNotes::~MoveNotes() {
  if (fd_ >= 0) ::close(fd_);
}

bool MoveNotes::fNote(std::string_view fileName) { return fNote(std::vector<std::string>{std::string(fileName)}); }

bool MoveNotes::fNote(const std::vector<std::string>& fileNames) {
  std::string lines;
  for (const std::string& name : fileNames) {
    if (name.empty() || name.find_first_of("/\t\r\n") != std::string::npos) return false;
    lines += UidlStore::movedLine(name);
  }
  if (lines.empty()) return true;
  if (fd_ < 0) {
    // Never created here: without the run's journal there is nothing to note in (the
    // run has not saved anything yet, or has ended and recorded everything).
    fd_ = ::open(UidlStore::journalPath(mailstore::fPath(folder_)).c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd_ < 0) return false;
  }
  return fAppendLine(fd_, lines);
}

}  // namespace mail
