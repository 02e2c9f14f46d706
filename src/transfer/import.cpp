// Import: messages of an mbox, a Maildir or a folder of .eml files into a mail folder.
#include <openssl/evp.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <optional>
#include <unordered_map>
#include <unordered_set>

#include "mail/jptext.h"
#include "mail/mailheader.h"
#include "store/fsutil.h"
#include "store/iconbatch.h"
#include "store/mailstore.h"
#include "store/mod_ini.h"
#include "transfer/mbox.h"
#include "transfer/transfer.h"
#include "store/text.h"

namespace fs = std::filesystem;

namespace transfer {
namespace {

constexpr std::string_view kTempPrefix = ".qbimp-";
// Written names reach the disk in batches of this many (one flush of the file system
// each), not one flush per mail.
constexpr std::size_t kFlushEvery = 2000;

std::string sha256Hex(std::string_view bytes) {
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  EVP_Digest(bytes.data(), bytes.size(), md, &len, EVP_sha256(), nullptr);
  return text::hex(std::string_view(reinterpret_cast<const char*>(md), len));
}

std::vector<mail::header::Field> headerFields(std::string_view bytes) {
  return mail::header::fSplitFields(bytes.substr(0, mail::header::fHeaderBlockLength(bytes)));
}

// What makes two copies of a mail the same mail: its Message-ID, else its bytes.
std::string identity(std::string_view bytes) {
  if (auto raw = mail::header::fFindRaw(headerFields(bytes), "message-id")) {
    std::string id = mail::header::fUnfold(*raw);
    std::erase_if(id, [](char c) { return c == ' ' || c == '\t'; });
    if (!id.empty()) return "id:" + id;
  }
  return "sha:" + sha256Hex(bytes);
}

// mbox writers keep the read flag in "Status:" (or "X-Status:"): R = read.
bool statusRead(std::string_view bytes) {
  const auto fields = headerFields(bytes);
  for (std::string_view name : {"status", "x-status"}) {
    auto raw = mail::header::fFindRaw(fields, name);
    if (raw && raw->find('R') != std::string_view::npos) return true;
  }
  return false;
}

// Takes out the Status line our exporter appended to the header block.
void stripAddedStatus(std::string& bytes) {
  const std::size_t block = mail::header::fHeaderBlockLength(bytes);
  if (block == 0 || bytes[block - 1] != '\n') return;
  const std::size_t blank = block >= 2 && bytes[block - 2] == '\r' ? 2 : 1;
  if (block < blank + 1) return;
  const std::size_t end = block - blank;  // just after the last header line
  const std::size_t nl = end >= 2 ? bytes.rfind('\n', end - 2) : std::string::npos;
  const std::size_t start = nl == std::string::npos ? 0 : nl + 1;
  std::string_view line = std::string_view(bytes).substr(start, end - start);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  if (line == "Status: RO" || line == "Status: O") bytes.erase(start, end - start);
}

// Writes mails under the names received mail gets: the time to the millisecond and a
// running number, "20261208_192704123_0001.eml".
class MailFiles {
 public:
  explicit MailFiles(fs::path folder) : folder_(std::move(folder)) { sNewStamp(); }

  std::optional<fs::path> fSave(std::string_view bytes, std::string& error) {
    auto temp = fsutil::fWriteTempFile(folder_, bytes, false, kTempPrefix);
    if (!temp) {
      error = "メールを保存できません (" + mailstore::fUtf8(folder_) + "): " + std::strerror(errno);
      return std::nullopt;
    }
    for (int tries = 0; tries < 100000; ++tries) {
      if (count_ >= 9999) sNewStamp();
      char name[64];
      std::snprintf(name, sizeof name, "%s_%04u.eml", stamp_.c_str(), ++count_);
      fs::path target = folder_ / name;
      if (fsutil::fRenameNoReplace(*temp, target)) {
        written_ = true;
        return target;
      }
      std::error_code ec;
      if (!fs::exists(target, ec)) break;
    }
    std::error_code ec;
    fs::remove(*temp, ec);
    error = "メールを保存できません (" + mailstore::fUtf8(folder_) + ")";
    return std::nullopt;
  }

  void sFlush() {
    if (!written_) return;
    FILE* dir = std::fopen(folder_.c_str(), "r");
    if (dir) {
      ::syncfs(fileno(dir));
      std::fclose(dir);
    }
    written_ = false;
  }

 private:
  void sNewStamp() {
    // Later than any stamp this process gave before, so two imports never share one.
    static std::atomic<long long> last{0};
    long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::system_clock::now().time_since_epoch())
                       .count();
    long long seen = last.load(), chosen = 0;
    do {
      chosen = std::max(ms, seen + 1);
    } while (!last.compare_exchange_weak(seen, chosen));
    const std::time_t now = static_cast<std::time_t>(chosen / 1000);
    std::tm tm{};
    localtime_r(&now, &tm);
    char buf[40];
    const std::size_t n = std::strftime(buf, sizeof buf, "%Y%m%d_%H%M%S", &tm);
    std::snprintf(buf + n, sizeof buf - n, "%03lld", chosen % 1000);
    stamp_ = buf;
    count_ = 0;
  }

  fs::path folder_;
  std::string stamp_;
  unsigned count_ = 0;
  bool written_ = false;
};

// Temporaries of an import that was killed while writing.
void removeOurTemps(const fs::path& folder) {
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    if (mailstore::fUtf8(it->path().filename()).starts_with(kTempPrefix)) {
      std::error_code rm;
      fs::remove(it->path(), rm);
    }
  }
}

std::unordered_set<std::string> identitiesIn(const fs::path& folder) {
  std::unordered_set<std::string> ids;
  for (const fs::path& file : mailstore::fListMailFiles(folder)) {
    if (auto bytes = fsutil::fReadFile(file)) ids.insert(identity(*bytes));
  }
  return ids;
}

struct SourceFile {
  fs::path path;
  bool read = false;
};

bool isMaildir(const fs::path& dir) {
  std::error_code ec;
  return fs::is_directory(dir / "cur", ec) || fs::is_directory(dir / "new", ec);
}

// A Maildir's mails (new, then cur, by name; "S" among the flags = seen) or a folder's
// .eml files (read where an icon.ini beside them says so, as our export writes it).
std::optional<std::vector<SourceFile>> listSource(const fs::path& dir, std::string& error) {
  std::vector<SourceFile> files;
  auto scan = [&](const fs::path& folder, bool maildir) {
    std::error_code ec;
    std::vector<SourceFile> found;
    const auto states = maildir ? std::unordered_map<std::string, std::string>{}
                                : mod_ini::IniFile::fLoad(folder / "icon.ini").fSectionValues("Icon");
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
      std::error_code fe;
      if (!it->is_regular_file(fe)) continue;
      const std::string name = mailstore::fUtf8(it->path().filename());
      if (name.starts_with('.')) continue;
      SourceFile file{it->path()};
      if (maildir) {
        const std::size_t info = name.rfind(":2,");
        file.read = info != std::string::npos && name.find('S', info + 3) != std::string::npos;
      } else {
        if (mail::jptext::fLower(mailstore::fUtf8(it->path().extension())) != ".eml") continue;
        auto state = states.find(mail::jptext::fLower(name));
        file.read = state != states.end() && state->second == mailstore::kStateRead;
      }
      found.push_back(std::move(file));
    }
    if (ec) return false;
    std::sort(found.begin(), found.end(),
              [](const SourceFile& a, const SourceFile& b) { return a.path < b.path; });
    files.insert(files.end(), found.begin(), found.end());
    return true;
  };
  bool ok = true;
  if (isMaildir(dir)) {
    for (const char* sub : {"new", "cur"}) {
      std::error_code ec;
      if (fs::is_directory(dir / sub, ec)) ok = scan(dir / sub, true) && ok;
    }
  } else {
    ok = scan(dir, false);
  }
  if (!ok) {
    error = "フォルダを読めません: " + mailstore::fUtf8(dir);
    return std::nullopt;
  }
  return files;
}

}  // namespace

ImportResult fImport(const fs::path& source, const fs::path& folder, const Progress& progress) {
  ImportResult result;
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) {
    result.error = "取り込み先のフォルダがありません: " + mailstore::fUtf8(folder);
    return result;
  }
  if (!fs::exists(source, ec)) {
    result.error = "ファイルがありません: " + mailstore::fUtf8(source);
    return result;
  }
  removeOurTemps(folder);
  std::unordered_set<std::string> known = identitiesIn(folder);
  MailFiles files(folder);
  mailstore::IconBatch states;
  // Stores one message; false stops the import (result.error says why).
  auto take = [&](std::string_view bytes, bool read) {
    std::string id = identity(bytes);
    if (!known.insert(id).second) {
      ++result.duplicates;
      return true;
    }
    auto path = files.fSave(bytes, result.error);
    if (!path) return false;
    if (read) states.sMarkRead(folder, mailstore::fUtf8(path->filename()));
    result.paths.push_back(*path);
    if (++result.stored % kFlushEvery == 0) {
      files.sFlush();
      states.fSave();
    }
    return true;
  };
  auto goOn = [&](std::uint64_t done, std::uint64_t total) {
    if (progress && !progress(done, total)) result.cancelled = true;
    return !result.cancelled;
  };

  if (fs::is_directory(source, ec)) {
    if (auto list = listSource(source, result.error)) {
      for (std::size_t i = 0; i < list->size() && goOn(i, list->size()); ++i) {
        auto bytes = fsutil::fReadFile((*list)[i].path);
        if (!bytes) {
          result.error = "ファイルを読めません: " + mailstore::fUtf8((*list)[i].path);
          break;
        }
        if (!take(*bytes, (*list)[i].read)) break;
      }
      if (!result.cancelled && result.error.empty()) goOn(list->size(), list->size());
    }
  } else {
    MboxReader reader;
    if (reader.fOpen(source, result.error)) {
      std::string message, fromLine;
      while (goOn(reader.fOffset(), reader.fSize())) {
        const MboxReader::Next next = reader.fNext(message, fromLine);
        if (next == MboxReader::Next::End) break;
        if (next == MboxReader::Next::Truncated) {
          result.truncated = true;
          break;
        }
        if (next == MboxReader::Next::Error) {
          result.error = "ファイルを読めません: " + mailstore::fUtf8(source);
          break;
        }
        const bool read = statusRead(message);
        if (fromLine.substr(5).starts_with(std::string(kAddedStatusSender) + " "))
          stripAddedStatus(message);
        if (!take(message, read)) break;
      }
    }
  }
  files.sFlush();
  if (!states.fSave() && result.error.empty())
    result.error = "既読の状態を書けません: " + mailstore::fUtf8(folder / "icon.ini");
  return result;
}

}  // namespace transfer
