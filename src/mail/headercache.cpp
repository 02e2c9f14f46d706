#include "mail/headercache.h"

#include <chrono>
#include <cstring>

#include "store/fsutil.h"
#include "store/text.h"

namespace headercache {
namespace {

constexpr std::string_view kMagic = "QBLIST 1\n";
// Longer than any file system's time stamp step: a state at least this old cannot share
// its stamps with a later write.
constexpr std::chrono::seconds kSettle{2};

std::uint64_t fnv1a(std::string_view s) {
  std::uint64_t h = 0xcbf29ce484222325ULL;
  for (unsigned char c : s) h = (h ^ c) * 0x100000001b3ULL;
  return h;
}

// A check sum over whole words, quick enough for a cache of a hundred thousand mails.
std::uint64_t checksum(std::string_view s) {
  std::uint64_t h = 0x9e3779b97f4a7c15ULL ^ s.size();
  std::size_t i = 0;
  for (; i + 8 <= s.size(); i += 8) {
    std::uint64_t w;
    std::memcpy(&w, s.data() + i, 8);
    h = ((h ^ w) * 0xff51afd7ed558ccdULL);
    h ^= h >> 29;
  }
  for (; i < s.size(); ++i) h = (h ^ static_cast<unsigned char>(s[i])) * 0x100000001b3ULL;
  return h;
}

// Numbers are written little-endian whatever the machine, so a store moved between
// machines keeps its caches.
void putNumber(std::string& out, std::uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((v >> (8 * i)) & 0xff);
}
void putText(std::string& out, std::string_view s) {
  putNumber(out, s.size(), 4);
  out += s;
}

class Reader {
 public:
  explicit Reader(std::string_view bytes) : rest_(bytes) {}
  bool number(std::uint64_t& v, int bytes) {
    if (rest_.size() < static_cast<std::size_t>(bytes)) return false;
    v = 0;
    for (int i = 0; i < bytes; ++i) v |= static_cast<std::uint64_t>(static_cast<unsigned char>(rest_[i])) << (8 * i);
    rest_.remove_prefix(bytes);
    return true;
  }
  bool signedNumber(std::int64_t& v) {
    std::uint64_t u;
    if (!number(u, 8)) return false;
    v = static_cast<std::int64_t>(u);
    return true;
  }
  bool text(std::string_view& s) {
    std::uint64_t n;
    if (!number(n, 4) || rest_.size() < n) return false;
    s = rest_.substr(0, n);
    rest_.remove_prefix(n);
    return true;
  }
  bool done() const { return rest_.empty(); }

 private:
  std::string_view rest_;
};

std::string relativeFolder(const fs::path& account, const fs::path& folder) {
  return mailstore::fUtf8(mailstore::fNormalFolder(folder).lexically_relative(mailstore::fNormalFolder(account)));
}

std::int64_t nowNs() {
  using namespace std::chrono;
  return duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count();
}

}  // namespace

fs::path cacheFile(const fs::path& folder) {
  const fs::path account = mailstore::fAccountFolderOf(folder);
  if (account.empty()) return {};
  const std::uint64_t h = fnv1a(relativeFolder(account, folder));
  std::string digest;
  putNumber(digest, h, 8);
  return account / (".list-" + text::hex(digest) + ".ini");
}

std::string encode(std::string_view rel, bool sentType, const std::vector<Record>& records) {
  std::string out(kMagic);
  out += sentType ? 's' : 'r';
  putText(out, rel);
  putNumber(out, records.size(), 4);
  for (const Record& r : records) {
    putText(out, r.name);
    putNumber(out, r.size, 8);
    putNumber(out, r.ino, 8);
    putNumber(out, static_cast<std::uint64_t>(r.mtime), 8);
    putNumber(out, static_cast<std::uint64_t>(r.ctime), 8);
    putText(out, r.subject);
    putText(out, r.party);
    putText(out, r.date);
  }
  putNumber(out, checksum(out), 8);
  return out;
}

bool decode(std::string_view bytes, std::string_view rel, bool sentType, std::vector<Record>& records) {
  records.clear();
  if (bytes.size() < kMagic.size() + 8 || !bytes.starts_with(kMagic)) return false;
  const std::string_view body = bytes.substr(0, bytes.size() - 8);
  Reader sum(bytes.substr(body.size()));
  std::uint64_t stored = 0;
  if (!sum.number(stored, 8) || stored != checksum(body)) return false;
  Reader in(body.substr(kMagic.size()));
  std::uint64_t type = 0, count = 0;
  std::string_view folder;
  if (!in.number(type, 1) || type != static_cast<unsigned char>(sentType ? 's' : 'r') || !in.text(folder) ||
      folder != rel || !in.number(count, 4))
    return false;
  // Each record takes at least 48 bytes: a count beyond that is damage, not a big folder.
  if (count > body.size() / 48) return false;
  records.resize(count);
  for (Record& r : records) {
    if (!in.text(r.name) || !in.number(r.size, 8) || !in.number(r.ino, 8) || !in.signedNumber(r.mtime) ||
        !in.signedNumber(r.ctime) || !in.text(r.subject) || !in.text(r.party) || !in.text(r.date)) {
      records.clear();
      return false;
    }
  }
  if (!in.done()) records.clear();
  return in.done();
}

FolderCache::FolderCache(const fs::path& folder, bool sentType)
    : file_(cacheFile(folder)),
      sentType_(sentType),
      settledBefore_(nowNs() - std::chrono::nanoseconds(kSettle).count()) {
  if (file_.empty()) return;
  rel_ = relativeFolder(file_.parent_path(), folder);
  if (auto bytes = fsutil::fReadFile(file_)) {
    bytes_ = std::make_unique<std::string>(std::move(*bytes));
    decode(*bytes_, rel_, sentType_, loaded_);
  }
}

const Record* FolderCache::find(std::string_view name) {
  std::size_t at = cursor_;
  if (at >= loaded_.size() || loaded_[at].name != name) {
    if (byName_.empty() && !loaded_.empty()) {
      byName_.reserve(loaded_.size());
      for (std::size_t i = 0; i < loaded_.size(); ++i) byName_.emplace(loaded_[i].name, i);
    }
    const auto it = byName_.find(name);
    if (it == byName_.end()) return nullptr;
    at = it->second;
  }
  cursor_ = at + 1;
  return &loaded_[at];
}

bool FolderCache::settled(const mailstore::MailFileState& file) const {
  return file.mtime < settledBefore_ && file.ctime < settledBefore_;
}

bool FolderCache::save(const std::vector<Record>& records) const {
  if (file_.empty()) return false;
  const std::string bytes = encode(rel_, sentType_, records);
  std::error_code ec;
  if (!fs::is_directory(file_.parent_path(), ec)) return false;  // the account went away meanwhile
  // Not flushed: a crash may leave a cut file, which its check sum turns away: only a
  // slower listing, never a wrong one.
  const std::optional<fs::path> temp = fsutil::fWriteTempFile(file_.parent_path(), bytes, false, ".list-");
  if (!temp) return false;
  fs::rename(*temp, file_, ec);
  if (ec) {
    fs::remove(*temp, ec);
    return false;
  }
  return true;
}

void removeCache(const fs::path& folder) {
  const fs::path file = cacheFile(folder);
  std::error_code ec;
  if (!file.empty()) fs::remove(file, ec);
}

}  // namespace headercache
