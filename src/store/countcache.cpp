#include "store/countcache.h"

#include <charconv>
#include <chrono>
#include <cstring>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "store/fsutil.h"
#include "store/mailstore.h"

namespace countcache {
namespace {

constexpr std::string_view kHeader = "QBCOUNTS 1";
// Longer than any file system's time stamp step: a state at least this old cannot share
// its stamp with a later change.
constexpr std::chrono::seconds kSettle{2};

std::int64_t nowNs() {
  using namespace std::chrono;
  return duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count();
}

bool settled(const Stamp& s, std::int64_t takenAt) {
  const std::int64_t limit = takenAt - std::chrono::nanoseconds(kSettle).count();
  return s.ctime < limit && s.mtime < limit && s.iconCtime < limit && s.iconMtime < limit;
}

// The folder's path below the account, or nothing when it is not below it.
std::optional<std::string> below(const fs::path& account, const fs::path& folder) {
  const std::string a = mailstore::fUtf8(mailstore::fNormalFolder(account));
  const std::string f = mailstore::fUtf8(mailstore::fNormalFolder(folder));
  if (f.size() <= a.size() + 1 || f.compare(0, a.size(), a) != 0 || (f[a.size()] != '/' && f[a.size()] != '\\'))
    return std::nullopt;
  std::string rel = f.substr(a.size() + 1);
  if (rel.find_first_of("\r\n") != std::string::npos) return std::nullopt;  // one record, one line
  return rel;
}

template <typename T>
bool parseField(std::string_view& line, T& value) {
  const std::size_t space = line.find(' ');
  if (space == std::string_view::npos) return false;
  auto [end, ec] = std::from_chars(line.data(), line.data() + space, value);
  if (ec != std::errc() || end != line.data() + space) return false;
  line.remove_prefix(space + 1);
  return true;
}

}  // namespace

std::optional<Stamp> fStamp(const fs::path& folder) {
#ifdef _WIN32
  // Windows keeps no change time that every change of an entry moves (a hidden flag set
  // on a mail leaves the folder's times alone): no count is remembered there.
  (void)folder;
  return std::nullopt;
#else
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return std::nullopt;
  auto ns = [](const timespec& t) { return static_cast<std::int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec; };
  Stamp s;
  s.dev = st.st_dev;
  s.ino = st.st_ino;
  s.ctime = ns(st.st_ctim);
  s.mtime = ns(st.st_mtim);
  struct stat icon {};
  if (::stat((folder / "icon.ini").c_str(), &icon) == 0) {
    s.iconIno = icon.st_ino;
    s.iconSize = static_cast<std::uint64_t>(icon.st_size);
    s.iconCtime = ns(icon.st_ctim);
    s.iconMtime = ns(icon.st_mtim);
  } else if (errno != ENOENT) {
    return std::nullopt;
  }
  return s;
#endif
}

AccountCounts::AccountCounts(fs::path accountFolder) : account_(std::move(accountFolder)) { sLoad(); }

void AccountCounts::sLoad() {
  std::optional<std::string> bytes = fsutil::fReadFile(account_ / kFileName);
  if (!bytes) return;
  std::string_view rest = *bytes;
  auto nextLine = [&rest]() -> std::optional<std::string_view> {
    const std::size_t nl = rest.find('\n');
    if (nl == std::string_view::npos) return std::nullopt;  // a line without its end is cut
    std::string_view line = rest.substr(0, nl);
    rest.remove_prefix(nl + 1);
    return line;
  };
  if (nextLine() != kHeader) return;
  while (auto line = nextLine()) {
    std::string_view l = *line;
    Record r;
    char kind = l.empty() ? 0 : l.front();
    if ((kind != 'a' && kind != 'u') || l.size() < 2 || l[1] != ' ') continue;
    l.remove_prefix(2);
    r.allMails = kind == 'a';
    Stamp& s = r.stamp;
    if (!parseField(l, r.count) || !parseField(l, s.dev) || !parseField(l, s.ino) || !parseField(l, s.ctime) ||
        !parseField(l, s.mtime) || !parseField(l, s.iconIno) || !parseField(l, s.iconSize) ||
        !parseField(l, s.iconCtime) || !parseField(l, s.iconMtime) || l.empty() || r.count < 0)
      continue;
    records_[std::string(l)] = r;
  }
}

std::optional<int> AccountCounts::fCount(const fs::path& folder, bool allMails, bool mayList) {
  const std::optional<std::string> rel = below(account_, folder);
  const std::int64_t takenAt = nowNs();
  const std::optional<Stamp> stamp = rel ? fStamp(folder) : std::nullopt;
  if (stamp) {
    auto it = records_.find(*rel);
    if (it != records_.end() && it->second.stamp == *stamp && it->second.allMails == allMails)
      return it->second.count;
  }
  if (!mayList) return std::nullopt;
  const mailstore::FolderCount counted = mailstore::fCountFolder(folder, allMails);
  listed_ += counted.entries;
  if (rel) {
    if (stamp && counted.plain && settled(*stamp, takenAt)) {
      records_[*rel] = Record{*stamp, allMails, counted.count};
      changed_ = true;
    } else if (records_.erase(*rel)) {
      changed_ = true;
    }
  }
  return counted.count;
}

bool AccountCounts::fSave() {
  if (!changed_) return true;
  std::string text(kHeader);
  text += '\n';
  for (const auto& [rel, r] : records_) {
    const Stamp& s = r.stamp;
    text += r.allMails ? 'a' : 'u';
    for (std::int64_t v : {static_cast<std::int64_t>(r.count)}) text += ' ' + std::to_string(v);
    for (std::uint64_t v : {s.dev, s.ino}) text += ' ' + std::to_string(v);
    for (std::int64_t v : {s.ctime, s.mtime}) text += ' ' + std::to_string(v);
    for (std::uint64_t v : {s.iconIno, s.iconSize}) text += ' ' + std::to_string(v);
    for (std::int64_t v : {s.iconCtime, s.iconMtime}) text += ' ' + std::to_string(v);
    text += ' ' + rel + '\n';
  }
  std::error_code ec;
  if (!fs::is_directory(account_, ec)) return false;  // the account went away meanwhile
  // Not flushed: a crash may leave an empty or cut file, which is only a recount; never a
  // wrong count. A hundred accounts' flushes would cost more than the counting.
  std::optional<fs::path> temp = fsutil::fWriteTempFile(account_, text, false, ".counts-");
  if (!temp) return false;
  fs::rename(*temp, account_ / kFileName, ec);
  if (ec) {
    fs::remove(*temp, ec);
    return false;
  }
  changed_ = false;
  return true;
}

}  // namespace countcache
