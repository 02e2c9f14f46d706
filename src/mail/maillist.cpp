#include "mail/maillist.h"

#include <algorithm>
#include <thread>
#include <variant>

#include "mail/headercache.h"
#include "mail/mail.h"
#include "store/mailstore.h"
#include "store/mod_ini.h"
#include "store/text.h"

namespace maillist {

namespace {

constexpr std::string_view kReceivedKeys = "subject:from:date:content-type:nofile:nobody:";
constexpr std::string_view kSentKeys = "subject:to:date:nofile:nobody:";

// Below this many files to read, one thread reads them all.
constexpr size_t kThreadedFrom = 256;

}  // namespace

std::string fValueOf(std::string_view element) {
  const size_t colon = element.find(": ");
  return colon == std::string_view::npos ? std::string() : std::string(element.substr(colon + 2));
}

std::optional<Headers> fReadHeaders(const std::filesystem::path& file, bool sentType) {
  const mail::MailResult r = mail::ReadMail(mailstore::fUtf8(file), sentType ? kSentKeys : kReceivedKeys,
                                            mailstore::fUtf8(file.parent_path()));
  const auto* values = std::get_if<std::vector<std::string>>(&r);
  if (!values) return std::nullopt;
  Headers h;
  auto at = [&](size_t i) { return i < values->size() ? fValueOf((*values)[i]) : std::string(); };
  h.subject = at(0);
  h.party = at(1);
  h.date = at(2);
  return h;
}

bool fIsRead(const std::unordered_map<std::string, std::string>& states, const std::filesystem::path& file) {
  const auto it = states.find(text::lower(mailstore::fUtf8(file.filename())));
  return it != states.end() && it->second == mailstore::kStateRead;
}

std::optional<Entry> fEntry(const std::filesystem::path& file, bool sentType) {
  std::optional<Headers> h = fReadHeaders(file, sentType);
  if (!h && sentType) return std::nullopt;
  return Entry{file, h.value_or(Headers{}), mailstore::fIsRead(file.parent_path(), mailstore::fUtf8(file.filename()))};
}

namespace {

// Reads the header blocks of these files of `folder`, on several threads when they are
// many: most of a cold listing's work, and it shares nothing between files.
std::vector<std::optional<Headers>> readAll(const std::filesystem::path& folder, bool sentType,
                                            const std::vector<const mailstore::MailFileState*>& files) {
  std::vector<std::optional<Headers>> out(files.size());
  const size_t threads =
      files.size() < kThreadedFrom ? 1 : std::max(1u, std::min(4u, std::thread::hardware_concurrency()));
  auto work = [&](size_t part) {
    for (size_t k = part; k < files.size(); k += threads)
      out[k] = fReadHeaders(folder / mailstore::fPath(files[k]->name), sentType);
  };
  std::vector<std::thread> pool;
  for (size_t t = 1; t < threads; ++t) pool.emplace_back(work, t);
  work(0);
  for (std::thread& t : pool) t.join();
  return out;
}

bool sameFields(const Headers& h, const headercache::Record& r) {
  return h.subject == r.subject && h.party == r.party && h.date == r.date;
}

headercache::Record recordOf(const mailstore::MailFileState& s, const Headers& h) {
  return headercache::Record{s.name, h.subject, h.party, h.date, s.size, s.ino, s.mtime, s.ctime};
}

}  // namespace

// What the listed mails' texts point into, and what the check needs: each listed file
// with the state it was taken in, and where its row came from.
struct Listing::Pending {
  std::filesystem::path folder;
  bool sentType = false;
  headercache::FolderCache cache;                 // not usable: nothing to check
  std::vector<mailstore::MailFileState> files;    // the listing; full states for the rows read
  std::vector<const headercache::Record*> taken;  // the record a row came from, or null
  std::vector<std::optional<Headers>> read;       // the fields read now or known (nothing: unreadable)
  bool changed = false;                           // the cache is to be written even if every row holds
  bool checked = false;
};

Listing::Listing() = default;
Listing::~Listing() = default;
Listing::Listing(Listing&&) noexcept = default;
Listing& Listing::operator=(Listing&&) noexcept = default;

bool Listing::needsCheck() const { return pending_ && pending_->cache.usable() && !pending_->checked; }

Listing listAtOnce(const std::filesystem::path& folder, bool sentType, const KnownHeaders& known,
                    ListStats* stats) {
  std::vector<mailstore::MailFileState> files = mailstore::listMailFileIds(folder);
  // The read state of the whole folder in one read of icon.ini.
  const auto states = mod_ini::IniFile::fLoad(folder / "icon.ini").fSectionValues("Icon");
  const bool big = files.size() >= headercache::kCachedFrom;
  headercache::FolderCache cache = big ? headercache::FolderCache(folder, sentType) : headercache::FolderCache();
  const bool cached = cache.usable();
  if (!big) headercache::removeCache(folder);

  std::vector<const headercache::Record*> taken(files.size(), nullptr);
  std::vector<std::optional<Headers>> headers(files.size());
  std::vector<size_t> unread, knownAt;
  size_t found = 0;
  for (size_t i = 0; i < files.size(); ++i) {
    const auto it = known.empty() ? known.end() : known.find(files[i].name);
    if (it != known.end()) {
      headers[i] = it->second;
      knownAt.push_back(i);
      continue;
    }
    if (cached) {
      const headercache::Record* r = cache.find(files[i].name);
      if (r) ++found;
      if (r && (files[i].full ? r->sameState(files[i]) : r->ino == files[i].ino)) {
        taken[i] = r;
        continue;
      }
    }
    unread.push_back(i);
  }
  if (cached) {
    // The state of each file about to be read (or known) before it is read: a write
    // after it shows at the check.
    std::vector<size_t> at(unread);
    at.insert(at.end(), knownAt.begin(), knownAt.end());
    std::sort(at.begin(), at.end());
    std::vector<mailstore::MailFileState> fresh;
    fresh.reserve(at.size());
    for (size_t i : at) fresh.push_back(files[i]);
    fresh = mailstore::statMailFiles(folder, std::move(fresh));
    for (size_t k = 0, f = 0; k < at.size() && f < fresh.size(); ++k) {
      if (files[at[k]].name == fresh[f].name) files[at[k]] = std::move(fresh[f++]);
    }
  }
  std::vector<const mailstore::MailFileState*> toRead;
  toRead.reserve(unread.size());
  for (size_t i : unread) toRead.push_back(&files[i]);
  std::vector<std::optional<Headers>> read = readAll(folder, sentType, toRead);

  Listing listing;
  const bool gone = found < cache.size();  // records of files no longer there
  listing.pending_ = std::make_unique<Listing::Pending>(
      Listing::Pending{folder, sentType, std::move(cache), std::move(files), std::move(taken), std::move(headers), gone});
  Listing::Pending& p = *listing.pending_;
  for (size_t k = 0; k < unread.size(); ++k) p.read[unread[k]] = std::move(read[k]);
  // A received-type mail that cannot be read is listed with empty fields.
  static const Headers kNone;
  listing.folder = folder;
  listing.mails.reserve(p.files.size());
  for (size_t i = 0; i < p.files.size(); ++i) {
    const headercache::Record* r = p.taken[i];
    const Headers* h = r ? nullptr : p.read[i] ? &*p.read[i] : sentType ? nullptr : &kNone;
    if (!r && !h) continue;
    const auto state = states.find(text::lower(p.files[i].name));
    const bool isRead = state != states.end() && state->second == mailstore::kStateRead;
    listing.mails.push_back(r ? Listed{p.files[i].name, r->subject, r->party, r->date, isRead}
                              : Listed{p.files[i].name, h->subject, h->party, h->date, isRead});
  }
  if (stats) {
    stats->listed = listing.mails.size();
    stats->read = unread.size();
  }
  return listing;
}

std::vector<Change> Listing::check(ListStats* stats) {
  if (!needsCheck()) return {};
  Pending& p = *pending_;
  p.checked = true;
  // Every file's full state now; a file gone since the listing drops out of the cache
  // (its row goes when the folder is next listed).
  const std::vector<mailstore::MailFileState> now = mailstore::statMailFiles(p.folder, p.files);
  std::vector<headercache::Record> keep;
  keep.reserve(now.size());
  std::vector<const mailstore::MailFileState*> stale;
  std::vector<size_t> staleAt;
  bool changed = p.changed || now.size() != p.files.size();
  for (size_t i = 0, n = 0; i < p.files.size() && n < now.size(); ++i) {
    if (p.files[i].name != now[n].name) continue;
    const mailstore::MailFileState& state = now[n++];
    if (const headercache::Record* r = p.taken[i]; r && r->sameState(state)) {
      keep.push_back(*r);
      continue;
    }
    if (!p.taken[i] && state.size == p.files[i].size && state.ino == p.files[i].ino &&
        state.mtime == p.files[i].mtime && state.ctime == p.files[i].ctime) {
      // Read at the listing from the file as it still is.
      if (p.read[i] && p.cache.settled(state)) {
        keep.push_back(recordOf(state, *p.read[i]));
        changed = true;
      }
      continue;
    }
    stale.push_back(&state);
    staleAt.push_back(i);
  }
  const std::vector<std::optional<Headers>> reread = readAll(p.folder, p.sentType, stale);
  std::vector<Change> changes;
  for (size_t k = 0; k < stale.size(); ++k) {
    const size_t i = staleAt[k];
    const std::optional<Headers>& h = reread[k];
    if (p.taken[i]) changed = true;  // its record goes
    if (h && p.cache.settled(*stale[k])) {
      keep.push_back(recordOf(*stale[k], *h));
      changed = true;
    }
    if (!h && p.sentType) continue;
    const Headers fields = h.value_or(Headers{});
    const bool same = p.taken[i] ? sameFields(fields, *p.taken[i]) : p.read[i] == h || (!p.read[i] && !h);
    if (!same) changes.push_back(Change{stale[k]->name, fields});
  }
  const bool saved = !changed || p.cache.save(keep);
  if (stats) {
    stats->reread = stale.size();
    stats->cacheSaved = saved;
  }
  return changes;
}

std::vector<Entry> fList(const std::filesystem::path& folder, bool sentType, const KnownHeaders& known,
                         ListStats* stats) {
  Listing listing = listAtOnce(folder, sentType, known, stats);
  std::unordered_map<std::string, Headers> changed;
  for (Change& c : listing.check(stats)) changed[c.name] = std::move(c.headers);
  std::vector<Entry> entries;
  entries.reserve(listing.mails.size());
  for (const Listed& m : listing.mails) {
    const auto it = changed.find(std::string(m.name));
    entries.push_back(Entry{folder / mailstore::fPath(m.name),
                            it != changed.end() ? it->second
                                                : Headers{std::string(m.subject), std::string(m.party), std::string(m.date)},
                            m.read});
  }
  return entries;
}

}  // namespace maillist
