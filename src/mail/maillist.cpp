#include "mail/maillist.h"

#include <algorithm>
#include <thread>
#include <variant>

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

std::vector<Entry> fList(const std::filesystem::path& folder, bool sentType, const KnownHeaders& known) {
  const std::vector<std::filesystem::path> files = mailstore::fListMailFiles(folder);
  // The read state of the whole folder in one read of icon.ini.
  const auto states = mod_ini::IniFile::fLoad(folder / "icon.ini").fSectionValues("Icon");
  std::vector<std::optional<Headers>> headers(files.size());
  // Known rows are taken first; the files left are read.
  std::vector<size_t> unread;
  for (size_t i = 0; i < files.size(); ++i) {
    const auto it = known.empty() ? known.end() : known.find(mailstore::fUtf8(files[i].filename()));
    if (it == known.end()) {
      unread.push_back(i);
    } else {
      headers[i] = it->second;
    }
  }
  // Reading the header blocks is most of the work; it shares nothing between files.
  const size_t threads =
      unread.size() < kThreadedFrom ? 1 : std::max(1u, std::min(4u, std::thread::hardware_concurrency()));
  auto work = [&](size_t part) {
    for (size_t k = part; k < unread.size(); k += threads) {
      std::optional<Headers> h = fReadHeaders(files[unread[k]], sentType);
      if (!h && !sentType) h = Headers{};
      headers[unread[k]] = std::move(h);
    }
  };
  std::vector<std::thread> pool;
  for (size_t t = 1; t < threads; ++t) pool.emplace_back(work, t);
  work(0);
  for (std::thread& t : pool) t.join();
  std::vector<Entry> entries;
  entries.reserve(files.size());
  for (size_t i = 0; i < files.size(); ++i) {
    if (!headers[i]) continue;
    entries.push_back(Entry{files[i], std::move(*headers[i]), fIsRead(states, files[i])});
  }
  return entries;
}

}  // namespace maillist
