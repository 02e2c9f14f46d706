#include "store/mailstore.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <thread>
#include <type_traits>
#include <cstdio>
#include <map>
#include <optional>
#include <unordered_map>

#ifndef _WIN32
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#endif

#include "store/fsutil.h"
#include "store/mod_ini.h"
#include "store/modCommon.h"
#include "store/text.h"

namespace mailstore {
namespace {

#ifdef _WIN32
constexpr bool kWindows = true;
#else
constexpr bool kWindows = false;
#endif

constexpr std::string_view kIconIni = "icon.ini";
constexpr std::string_view kIconSection = "Icon";

std::string lowerAscii(std::string_view s) { return text::lower(s); }

// What a listing met besides the mails: how many entries it read, and whether any mail
// was a link (its count then rests on a file outside the folder).
struct ScanNotes {
  int entries = 0;
  bool links = false;
};

// Calls `fn(name)` with the name of every mail file of the folder, or `fn(name, inode)`
// where the listing tells it (0 where it does not); an unreadable folder has none.
template <typename Fn>
void forEachMail(const fs::path& folder, Fn&& fn, ScanNotes* notes = nullptr) {
#ifdef _WIN32
  std::error_code ec;
  fs::directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec);
  if (ec) return;
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    if (ec) return;
    if (notes) ++notes->entries;
    std::error_code typeEc;
    if (!it->is_regular_file(typeEc)) continue;
    if (notes && it->is_symlink(typeEc)) notes->links = true;
    const std::string name = fUtf8(it->path().filename());
    if (!fIsMailFileName(name)) continue;
    if constexpr (std::is_invocable_v<Fn, std::string_view, std::uint64_t>) {
      fn(std::string_view(name), std::uint64_t{0});
    } else {
      fn(std::string_view(name));
    }
  }
#else
  // The directory read directly: a folder of thousands of mails is listed on every click.
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string_view name = entry->d_name;
    if (notes) ++notes->entries;
    if (!fIsMailFileName(name)) continue;
    bool regular = entry->d_type == DT_REG;
    if (entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK) {
      struct stat st {};
      regular = ::fstatat(::dirfd(dir), entry->d_name, &st, 0) == 0 && S_ISREG(st.st_mode);
      if (regular && notes) {
        struct stat own {};
        notes->links = notes->links || ::fstatat(::dirfd(dir), entry->d_name, &own, AT_SYMLINK_NOFOLLOW) != 0 ||
                       S_ISLNK(own.st_mode);
      }
    }
    if (!regular) continue;
    if constexpr (std::is_invocable_v<Fn, std::string_view, std::uint64_t>) {
      fn(name, static_cast<std::uint64_t>(entry->d_ino));
    } else {
      fn(name);
    }
  }
  ::closedir(dir);
#endif
}

}  // namespace

fs::path fPath(std::string_view utf8) {
  return fs::path(std::u8string(reinterpret_cast<const char8_t*>(utf8.data()), utf8.size()));
}

fs::path fNormalFolder(const fs::path& folder) {
  fs::path normal = folder.lexically_normal();
  // "a/b/" ends in an empty name; the root keeps its separator.
  if (!normal.has_filename() && normal.has_relative_path()) normal = normal.parent_path();
  return normal;
}

std::string fUtf8(const fs::path& path) {
#ifdef _WIN32
  std::u8string s = path.u8string();
  return std::string(reinterpret_cast<const char*>(s.data()), s.size());
#else
  return path.native();  // paths are UTF-8 bytes here
#endif
}

namespace {
bool isSeparator(fs::path::value_type c) {
#ifdef _WIN32
  return c == L'\\' || c == L'/';
#else
  return c == '/';
#endif
}

// Where the name of a path written as `native` starts.
std::size_t nameStart(NativeView native) {
  std::size_t i = native.size();
  while (i > 0 && !isSeparator(native[i - 1]) && !(kWindows && native[i - 1] == ':')) --i;
  return i;
}
}  // namespace

NativeView fFolderView(const fs::path& file) {
  const NativeView native = file.native();
  const std::size_t start = nameStart(native);
  if (start == 0) return {};
  if (!isSeparator(native[start - 1])) return native.substr(0, start);  // "C:name"
  std::size_t cut = start - 1;
  while (cut > 0 && isSeparator(native[cut - 1])) --cut;
  if (cut == 0) return native.substr(0, 1);                                  // the root
  if (kWindows && native[cut - 1] == ':') return native.substr(0, cut + 1);  // "C:\\"
  return native.substr(0, cut);
}

NativeView fNameView(const fs::path& file) {
  const NativeView native = file.native();
  return native.substr(nameStart(native));
}

std::string fUtf8(NativeView native) {
#ifdef _WIN32
  return fUtf8(fs::path(native));
#else
  return std::string(native);
#endif
}

bool fIsStandardFolderName(std::string_view name) {
  return name == kInbox || name == kSent || name == kTrash || name == kDrafts || name == kPending;
}

fs::path fAccountPrefix(const fs::path& programDir) { return programDir / "MailBox" / "Account"; }

std::string fAccountNumberText(int number) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%02d", number);
  return buf;
}

fs::path fAccountFolder(const fs::path& accountPrefix, int number) {
  fs::path p = accountPrefix;
  p += fAccountNumberText(number);
  return p;
}

fs::path fNodeFolder(const fs::path& accountPrefix, int number, std::string_view pathBelowAccount) {
  fs::path folder = fAccountFolder(accountPrefix, number);
  if (!pathBelowAccount.empty()) folder /= modCommon::fStoredPath(pathBelowAccount);
  return folder;
}

bool fIsMailFileName(std::string_view name) {
  if (name.empty() || name.front() == '.') return false;
  return lowerAscii(modCommon::fGetExtension(name)) != "ini";
}

std::vector<fs::path> fListMailFiles(const fs::path& folder) {
  std::vector<fs::path> files;
  forEachMail(folder, [&](std::string_view name) { files.push_back(folder / fPath(name)); });
  return files;
}

namespace {
// Below this many files, one thread looks at them all.
constexpr std::size_t kStatThreadsFrom = 4096;
}  // namespace

std::vector<MailFileState> listMailFileIds(const fs::path& folder) {
  std::vector<MailFileState> ids;
  forEachMail(folder, [&](std::string_view name, std::uint64_t ino) { ids.push_back(MailFileState{std::string(name), 0, ino}); });
#ifdef _WIN32
  // No inode in a Windows listing, but size and time cost nothing more there.
  return statMailFiles(folder, std::move(ids));
#else
  return ids;
#endif
}

std::vector<MailFileState> statMailFiles(const fs::path& folder, std::vector<MailFileState> states) {
  std::vector<char> found(states.size(), 0);
#ifdef _WIN32
  for (std::size_t i = 0; i < states.size(); ++i) {
    std::error_code ec;
    const fs::path file = folder / fPath(states[i].name);
    const auto size = fs::file_size(file, ec);
    if (ec) continue;
    const auto time = fs::last_write_time(file, ec);
    if (ec) continue;
    states[i].size = size;
    // On the system clock, as the cache's "too recent" test reads it.
    const auto sys = std::chrono::file_clock::to_sys(time);
    states[i].mtime = std::chrono::duration_cast<std::chrono::nanoseconds>(sys.time_since_epoch()).count();
    states[i].full = true;
    found[i] = 1;
  }
#else
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return {};
  auto ns = [](const timespec& t) { return static_cast<std::int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec; };
  // A big folder's files are looked at from two threads: each look is a system call.
  const std::size_t threads = states.size() < kStatThreadsFrom ? 1 : 2;
  auto work = [&](std::size_t part) {
    for (std::size_t i = part; i < states.size(); i += threads) {
      struct stat st {};
      if (::fstatat(dir, states[i].name.c_str(), &st, 0) != 0 || !S_ISREG(st.st_mode)) continue;
      states[i].size = static_cast<std::uint64_t>(st.st_size);
      states[i].ino = st.st_ino;
      states[i].mtime = ns(st.st_mtim);
      states[i].ctime = ns(st.st_ctim);
      states[i].full = true;
      found[i] = 1;
    }
  };
  std::vector<std::thread> pool;
  for (std::size_t t = 1; t < threads; ++t) pool.emplace_back(work, t);
  work(0);
  for (std::thread& t : pool) t.join();
  ::close(dir);
#endif
  std::size_t kept = 0;
  for (std::size_t i = 0; i < states.size(); ++i) {
    if (!found[i]) continue;
    if (kept != i) states[kept] = std::move(states[i]);
    ++kept;
  }
  states.resize(kept);
  return states;
}

fs::path fAccountFolderOf(const fs::path& folder) {
  for (fs::path p = fNormalFolder(folder); p.has_relative_path(); p = p.parent_path()) {
    const std::string name = fUtf8(p.filename());
    if (name.size() == 9 && name.starts_with("Account") && std::isdigit(static_cast<unsigned char>(name[7])) &&
        std::isdigit(static_cast<unsigned char>(name[8])) && p.parent_path().filename() == "MailBox")
      return p;
  }
  return {};
}

#ifndef _WIN32
namespace {
// File systems whose folders' link count is always 2 plus their number of subfolders.
bool linkCountShowsFolders(const fs::path& dir) {
  struct statfs info {};
  if (::statfs(dir.c_str(), &info) != 0) return false;
  switch (static_cast<unsigned long>(info.f_type)) {
    case 0xEF53UL:      // ext2, ext3, ext4
    case 0x01021994UL:  // tmpfs
    case 0x58465342UL:  // xfs
      return true;
    default:
      return false;
  }
}
}  // namespace
#endif

std::vector<std::string> fListFolderNames(const fs::path& dir) {
  std::vector<std::string> names;
#ifdef _WIN32
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code typeEc;
    if (!it->is_directory(typeEc)) continue;
    std::string name = fUtf8(it->path().filename());
    if (!name.empty() && name.front() != '.') names.push_back(std::move(name));
  }
#else
  // A folder of a million mails holds no folder: its link count says so where the file
  // system keeps it, and listing it would cost more than the rest of the start.
  struct stat st {};
  if (::stat(dir.c_str(), &st) == 0 && st.st_nlink == 2 && linkCountShowsFolders(dir)) return names;
  DIR* d = ::opendir(dir.c_str());
  if (!d) return names;
  while (const dirent* entry = ::readdir(d)) {
    const std::string_view name = entry->d_name;
    if (name.empty() || name.front() == '.') continue;
    bool folder = entry->d_type == DT_DIR;
    if (entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK) {
      struct stat target {};
      folder = ::fstatat(::dirfd(d), entry->d_name, &target, 0) == 0 && S_ISDIR(target.st_mode);
    }
    if (folder) names.emplace_back(name);
  }
  ::closedir(d);
#endif
  return names;
}

std::vector<int> fScanAccounts(const fs::path& accountPrefix) {
  std::vector<int> numbers;
  std::error_code ec;
  for (int n = 1; n <= kMaxAccounts && fs::is_directory(fAccountFolder(accountPrefix, n), ec); ++n) {
    numbers.push_back(n);
  }
  return numbers;
}

int fFreeAccountNumber(const fs::path& accountPrefix) {
  std::error_code ec;
  for (int n = 1; n <= kMaxAccounts; ++n) {
    if (!fs::exists(fAccountFolder(accountPrefix, n), ec)) return n;
  }
  return 0;
}

int fCreateAccount(const fs::path& accountPrefix) {
  int n = fFreeAccountNumber(accountPrefix);
  if (n == 0) return 0;
  fs::path account = fAccountFolder(accountPrefix, n);
  std::error_code ec;
  fs::create_directories(account, ec);
  if (ec) return 0;
  for (std::string_view sub : {kInbox, kSent, kTrash}) {
    fs::create_directory(account / fPath(sub), ec);
    if (ec) return 0;
  }
  for (std::string_view sub : {kDrafts, kPending}) {
    fs::create_directory(account / fPath(kSent) / fPath(sub), ec);
    if (ec) return 0;
  }
  return n;
}

bool fDeleteAccount(const fs::path& accountPrefix, int number) {
  fs::path account = fAccountFolder(accountPrefix, number);
  std::error_code ec;
  fs::remove_all(account, ec);
  if (ec || fs::exists(account, ec)) return false;
  for (int j = number + 1; j <= kMaxAccounts; ++j) {
    fs::path from = fAccountFolder(accountPrefix, j);
    if (!fs::is_directory(from, ec)) break;
    if (!fsutil::fRenameNoReplace(from, fAccountFolder(accountPrefix, j - 1))) break;
  }
  return true;
}

bool fIsValidFolderName(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return false;
  for (unsigned char c : name) {
    if (c < 0x20 || c == 0x7F) return false;
    if (std::string_view("\\/<>:\"|?*").find(static_cast<char>(c)) != std::string_view::npos) return false;
  }
  if (name.back() == '.' || name.back() == ' ') return false;
  std::string base = lowerAscii(std::string(name.substr(0, name.find('.'))));
  for (const char* reserved : {"con", "prn", "aux", "nul"}) {
    if (base == reserved) return false;
  }
  if (base.size() == 4 && (base.starts_with("com") || base.starts_with("lpt")) && base[3] >= '0' &&
      base[3] <= '9') {
    return false;
  }
  return true;
}

bool fCreateFolder(const fs::path& parent, std::string_view name) {
  if (!fIsValidFolderName(name)) return false;
  std::error_code ec;
  if (!fs::is_directory(parent, ec)) return false;
  return fs::create_directory(parent / fPath(name), ec) && !ec;
}

bool fDeleteFolder(const fs::path& folder) {
  std::error_code ec;
  fs::remove_all(folder, ec);
  return !ec && !fs::exists(folder, ec);
}

namespace {
int countUnread(const fs::path& folder, ScanNotes& notes) {
  // Read or not, by lower-cased name (the first entry of a name counts). A plain ASCII
  // icon.ini - the usual one - is read in place, without building its lines.
  std::optional<std::string> bytes;
  std::optional<mod_ini::IniFile::SectionView> view;
  std::unordered_map<std::string, std::string> states;  // any other icon.ini, read whole
  std::unordered_map<std::string_view, bool> read;      // views into one of the two
  bool loaded = false;
  std::string lowered;
  int count = 0;
  forEachMail(folder, [&](std::string_view name) {
    if (!loaded) {
      loaded = true;
      bytes = fsutil::fReadFile(folder / kIconIni);
      if (bytes) view = mod_ini::IniFile::fViewSection(*bytes, kIconSection);
      if (view) {
        read.reserve(view->entries.size());
        for (const auto& [key, value] : view->entries)
          read.emplace(key, mod_ini::fParseIniInt(value, 0) == 6);
      } else if (bytes) {
        states = mod_ini::IniFile::fParse(*bytes).fSectionValues(kIconSection);
        for (const auto& [key, value] : states)
          read.emplace(key, mod_ini::fParseIniInt(value, 0) == 6);
      }
    }
    std::string_view key = name;
    if (std::any_of(name.begin(), name.end(), [](char c) { return c >= 'A' && c <= 'Z'; })) {
      lowered = lowerAscii(std::string(name));
      key = lowered;
    }
    auto it = read.find(key);
    if (it == read.end() || !it->second) ++count;
  }, &notes);
  return count;
}
}  // namespace

int fCountUnread(const fs::path& folder) { return fCountFolder(folder, false).count; }

int fCountFiles(const fs::path& folder) { return fCountFolder(folder, true).count; }

FolderCount fCountFolder(const fs::path& folder, bool allMails) {
  FolderCount result;
  ScanNotes notes;
  if (allMails) {
    forEachMail(folder, [&](std::string_view) { ++result.count; }, &notes);
  } else {
    result.count = countUnread(folder, notes);
  }
  result.entries = notes.entries;
  result.plain = !notes.links;
  return result;
}

bool fIsRead(const fs::path& folder, std::string_view fileName) {
  return mod_ini::fGetIniInt(kIconSection, fileName, 0, folder / kIconIni) == 6;
}

bool sMarkRead(const fs::path& folder, std::string_view fileName) {
  return mod_ini::fWriteIniString(kIconSection, fileName, std::string(kStateRead), folder / kIconIni);
}

std::vector<fs::path> fMoveMails(const std::vector<fs::path>& mails, const fs::path& target) {
  // Group by source folder so each icon.ini is read and written once.
  std::map<fs::path, std::vector<fs::path>> bySource;
  for (const auto& m : mails) bySource[m.parent_path()].push_back(m);

  std::vector<fs::path> failed;
  mod_ini::IniFile targetIni = mod_ini::IniFile::fLoad(target / kIconIni);
  bool targetChanged = false;
  for (auto& [source, group] : bySource) {
    std::error_code ec;
    bool sameFolder = fs::equivalent(source, target, ec);
    mod_ini::IniFile sourceIni = mod_ini::IniFile::fLoad(source / kIconIni);
    bool sourceChanged = false;
    for (const auto& mail : group) {
      std::string name = fUtf8(mail.filename());
      if (sameFolder || !fsutil::fRenameNoReplace(mail, target / mail.filename())) {
        if (!sameFolder) failed.push_back(mail);
        continue;
      }
      auto state = sourceIni.fGet(kIconSection, name);
      bool read = state && mod_ini::fParseIniInt(*state, 0) == 6;
      sourceIni.sSet(kIconSection, name, std::nullopt);
      targetIni.sSet(kIconSection, name, std::string(read ? kStateRead : kStateUnread));
      sourceChanged = targetChanged = true;
    }
    if (sourceChanged) sourceIni.fSave(source / kIconIni);
  }
  if (targetChanged) targetIni.fSave(target / kIconIni);
  return failed;
}

std::vector<fs::path> fDeleteMails(const std::vector<fs::path>& mails) {
  std::map<fs::path, std::vector<fs::path>> bySource;
  for (const auto& m : mails) bySource[m.parent_path()].push_back(m);
  std::vector<fs::path> failed;
  for (auto& [source, group] : bySource) {
    mod_ini::IniFile ini = mod_ini::IniFile::fLoad(source / kIconIni);
    bool changed = false;
    for (const auto& mail : group) {
      std::error_code ec;
      if (!fs::remove(mail, ec) || ec) {
        failed.push_back(mail);
        continue;
      }
      ini.sSet(kIconSection, fUtf8(mail.filename()), std::nullopt);
      changed = true;
    }
    if (changed) ini.fSave(source / kIconIni);
  }
  return failed;
}

bool fEmptyTrash(const fs::path& accountFolder) {
  fs::path trash = accountFolder / fPath(kTrash);
  bool ok = true;
  std::error_code ec;
  fs::directory_iterator it(trash, ec);
  if (!ec) {
    std::vector<fs::path> entries;
    for (; it != fs::directory_iterator(); it.increment(ec)) {
      if (ec) break;
      if (it->path().filename() != kIconIni) entries.push_back(it->path());
    }
    for (const auto& e : entries) {
      fs::remove_all(e, ec);
      if (ec) ok = false;
    }
  }
  if (fs::exists(trash / kIconIni, ec)) ok = mod_ini::sClearIniSection(kIconSection, trash / kIconIni) && ok;
  return ok;
}

}  // namespace mailstore
