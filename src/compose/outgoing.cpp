#include "compose/outgoing.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <future>
#include <optional>
#include <system_error>

#include "compose/outgoing_file.h"
#include "mail/mail.h"
#include "receive/receive.h"
#include "signin/accounttoken.h"
#include "store/accountsettings.h"
#include "store/charset.h"
#include "store/fsutil.h"
#include "store/mailstore.h"
#include "store/text.h"

namespace fs = std::filesystem;

namespace compose {
namespace {

constexpr int kMaxSuffix = 999;

struct LocalTime {
  std::tm local{};
  long offsetMinutes = 0;  // east of UTC
};

LocalTime now() {
  std::time_t t = std::time(nullptr);
  LocalTime lt;
  std::tm utc{};
#ifdef _WIN32
  localtime_s(&lt.local, &t);
  gmtime_s(&utc, &t);
#else
  localtime_r(&t, &lt.local);
  gmtime_r(&t, &utc);
#endif
  // The zone's offset from the two broken-down times of one instant (tm_gmtoff is not
  // everywhere); they are at most a day apart.
  int days = lt.local.tm_yday - utc.tm_yday;
  if (lt.local.tm_year != utc.tm_year) days = lt.local.tm_year > utc.tm_year ? 1 : -1;
  lt.offsetMinutes =
      days * 1440L + (lt.local.tm_hour - utc.tm_hour) * 60L + (lt.local.tm_min - utc.tm_min);
  return lt;
}

// A header field is one line: a pasted line break would start a header of its own.
std::string oneLine(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c == '\r' || c == '\n') c = ' ';
  return out;
}

std::string fileText(const LocalTime& lt, const Draft& d) {
  std::string text = fOutgoingDateLine(lt.local, lt.offsetMinutes);
  text += "To: " + oneLine(d.to) + "\r\n";
  text += "Cc: " + oneLine(d.cc) + "\r\n";
  text += "Bcc: " + oneLine(d.bcc) + "\r\n";
  text += "Subject: " + oneLine(d.subject) + "\r\n\r\n";
  text += d.body;
  return text;
}

fs::path boxFolder(const fs::path& accountFolder, Box box) {
  fs::path folder = accountFolder / mailstore::fPath(mailstore::kSent);
  if (box == Box::Pending) folder /= mailstore::fPath(mailstore::kPending);
  if (box == Box::Drafts) folder /= mailstore::fPath(mailstore::kDrafts);
  return folder;
}

bool taken(const fs::path& file) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(file, ec));
}

StoreResult failed(std::string error) {
  StoreResult r;
  r.error = std::move(error);
  return r;
}

std::string joinTab(const std::vector<std::string>& items) { return text::join(items, "\t"); }

// Nothing when every attachment can be read, else the path of the first that cannot.
std::optional<std::string> unreadableAttachment(const std::vector<std::string>& files) {
  for (const auto& file : files) {
    fs::path p = mailstore::fPath(file);
    std::error_code ec;
    if (!fs::is_regular_file(p, ec)) return file;
    std::ifstream in(p, std::ios::binary);
    if (!in) return file;
  }
  return std::nullopt;
}

}  // namespace

std::string fOutgoingName(const std::tm& tm) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "%02d%d%02d%02d_%02d%02d%02d", tm.tm_year % 100, tm.tm_yday + 1,
                tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
  return buf;
}

// English names: readers of the file parse the line as a mail Date header.
std::string fOutgoingDateLine(const std::tm& tm, long offsetMinutes) {
  static constexpr std::array<const char*, 7> kDays = {"Sun", "Mon", "Tue", "Wed",
                                                       "Thu", "Fri", "Sat"};
  static constexpr std::array<const char*, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  long off = offsetMinutes < 0 ? -offsetMinutes : offsetMinutes;
  char buf[80];
  std::snprintf(buf, sizeof buf, "Date: %s, %02d %s %04d %02d:%02d:%02d %c%02ld%02ld\r\n",
                kDays[tm.tm_wday], tm.tm_mday, kMonths[tm.tm_mon], tm.tm_year + 1900, tm.tm_hour,
                tm.tm_min, tm.tm_sec, offsetMinutes < 0 ? '-' : '+', off / 60, off % 60);
  return buf;
}

std::string fTabList(std::string_view field) {
  std::string out;
  while (true) {
    std::size_t comma = field.find(',');
    std::string_view piece = text::trim(field.substr(0, comma), " ");
    if (!piece.empty()) {
      if (!out.empty()) out += '\t';
      // A pasted TAB would split the piece into list entries (even "cc" or "bcc" marks).
      for (char c : piece) out += c == '\t' ? ' ' : c;
    }
    if (comma == std::string_view::npos) return out;
    field.remove_prefix(comma + 1);
  }
}

std::string fRecipientList(const Draft& draft) {
  std::string list = fTabList(draft.to);
  if (!draft.cc.empty()) list += "\tcc\t" + fTabList(draft.cc);
  if (!draft.bcc.empty()) list += "\tbcc\t" + fTabList(draft.bcc);
  return list;
}

namespace {

// An outgoing file written and flushed under a hidden temporary name beside the boxes (in
// the account folder, so that one a crash leaves is never listed as a mail), waiting to
// be given its real name in its box.
struct Prepared {
  fs::path folder;
  std::optional<fs::path> temp;
  std::string error;  // when temp is empty
};

// Outgoing files wait under this prefix until they get their name; one left by a program
// killed meanwhile (a send in progress, say) is removed by a later store once surely dead.
constexpr std::string_view kTempPrefix = ".qbout-";
constexpr auto kStaleTempAge = std::chrono::hours(24);

void removeStaleTemps(const fs::path& folder) {
  std::error_code ec;
  const auto staleBefore = fs::file_time_type::clock::now() - kStaleTempAge;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.compare(0, kTempPrefix.size(), kTempPrefix) != 0) continue;
    std::error_code rm;
    const auto when = fs::last_write_time(it->path(), rm);
    if (!rm && when < staleBefore) fs::remove(it->path(), rm);
  }
}

Prepared prepare(const fs::path& accountFolder, Box box, const Draft& draft) {
  Prepared p;
  p.folder = boxFolder(accountFolder, box);
  std::error_code ec;
  fs::create_directories(p.folder, ec);
  if (!fs::is_directory(p.folder, ec)) {
    p.error = "保存先のフォルダを作成できません: " + mailstore::fUtf8(p.folder);
    return p;
  }
  removeStaleTemps(p.folder);  // left in the box by earlier versions
  removeStaleTemps(accountFolder);
  p.temp = fsutil::fWriteTempFile(accountFolder, charset::fEncodeStored(fileText(now(), draft)),
                                  true, kTempPrefix);
  if (!p.temp) p.error = "メールを保存できません: " + mailstore::fUtf8(p.folder);
  return p;
}

void discard(const Prepared& p) {
  std::error_code ec;
  if (p.temp) fs::remove(*p.temp, ec);
}

StoreResult commit(const Prepared& p) {
  if (!p.temp) return failed(p.error);
  // Each try names the file after the present time; the file only ever appears under a
  // name nobody holds, so a stored mail is never replaced, even by a concurrent store.
  for (int suffix = 0; suffix <= kMaxSuffix; ++suffix) {
    std::string name = fOutgoingName(now().local);
    if (suffix > 0) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "_%03d", suffix);
      name += buf;
    }
    fs::path target = p.folder / name;
    if (fsutil::fRenameNoReplace(*p.temp, target)) {
      fsutil::sSyncFolder(p.folder);
      StoreResult r;
      r.ok = true;
      r.file = target;
      return r;
    }
    if (!taken(target)) {
      discard(p);
      return failed("メールを保存できません: " + mailstore::fUtf8(target));
    }
  }
  discard(p);
  return failed("同じ時刻の名前がすべて使われているため、メールを保存できません: " +
                mailstore::fUtf8(p.folder));
}

}  // namespace

StoreResult fStore(const fs::path& accountFolder, Box box, const Draft& draft) {
  return commit(prepare(accountFolder, box, draft));
}

StoreResult fReplace(const fs::path& file, const Draft& draft) {
  // The same temporary names as new files, so one left by a crash is cleaned up alike.
  if (!fsutil::fWriteFileAtomic(file, charset::fEncodeStored(fileText(now(), draft)),
                                kTempPrefix))
    return failed("メールを保存できません: " + mailstore::fUtf8(file));
  StoreResult r;
  r.ok = true;
  r.file = file;
  return r;
}

StoreResult fStoreAgain(const fs::path& accountFolder, Box box, const Draft& draft,
                        const fs::path& previous) {
  std::error_code ec;
  const bool there = !previous.empty() && fs::is_regular_file(previous, ec);
  if (there && mailstore::fNormalFolder(previous.parent_path()) ==
                   mailstore::fNormalFolder(boxFolder(accountFolder, box)))
    return fReplace(previous, draft);
  StoreResult r = fStore(accountFolder, box, draft);
  if (r.ok && there) mailstore::fDeleteMails({previous});
  return r;
}

std::optional<Draft> fReadOutgoing(const fs::path& file) {
  auto bytes = fsutil::fReadFile(file);
  if (!bytes) return std::nullopt;
  const std::string text = charset::fDecodeStored(*bytes);
  Draft d;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find("\r\n", at);
    if (end == std::string::npos) end = text.size();
    std::string_view line(text.data() + at, end - at);
    at = std::min(end + 2, text.size());
    if (line.empty()) break;  // the body follows
    const std::size_t colon = line.find(": ");
    if (colon == std::string_view::npos) continue;
    const std::string_view name = line.substr(0, colon), value = line.substr(colon + 2);
    if (name == "To") d.to = value;
    if (name == "Cc") d.cc = value;
    if (name == "Bcc") d.bcc = value;
    if (name == "Subject") d.subject = value;
  }
  d.body = text.substr(at);
  return d;
}

Threading fReplyThreading(std::string_view messageId, std::string_view references) {
  // The last "<...>" of the Message-ID field; references kept as they stand (the
  // message builder keeps only well-formed ids from them).
  Threading t;
  const std::size_t open = messageId.rfind('<');
  const std::size_t close = messageId.rfind('>');
  if (open == std::string_view::npos || close == std::string_view::npos || close < open + 2)
    return t;
  t.inReplyTo = std::string(messageId.substr(open, close - open + 1));
  std::string refs(text::trim(references, " "));
  for (char& c : refs)
    if (c == '\r' || c == '\n' || c == '\t') c = ' ';
  t.references = refs.empty() ? t.inReplyTo : refs + " " + t.inReplyTo;
  return t;
}

Threading fReplyThreading(const fs::path& repliedMail) {
  const mail::MailResult r =
      mail::ReadMail(mailstore::fUtf8(repliedMail), "message-id:references:nofile:nobody:", "");
  const auto* values = std::get_if<std::vector<std::string>>(&r);
  if (!values || values->size() < 2) return {};
  auto value = [](const std::string& element) {
    const std::size_t space = element.find(' ');
    return space == std::string::npos ? std::string() : element.substr(space + 1);
  };
  return fReplyThreading(value((*values)[0]), value((*values)[1]));
}

SendResult fSend(const fs::path& logFile, const fs::path& accountFolder, const Draft& draft,
                 const SendProgress& progress) {
  SendResult result;
  if (auto bad = unreadableAttachment(draft.attachments)) {
    result.text = "送信に失敗しました: 添付ファイルを読めません: " + *bad;
    return result;
  }
  const accountsettings::AccountSettings account = accountsettings::fLoad(accountFolder);
  const std::string server = accountsettings::fJoinServer(account.smtpHost, account.smtpPort, ':');
  // The display name travels as "name <address>"; the library quotes or encodes it.
  const std::string sender =
      account.name.empty() ? account.address : account.name + " <" + account.address + ">";
  // A certificate the user chose to trust for this account's SMTP server.
  mail::CertificatePin pin(account.smtpCertPin);
  mail::SecurityChoice security(receive::fMailSecurity(account.smtpSecurity));
  const auto credentials = accountsettings::fSmtpCredentials(account);
  const auto& smtpUser = credentials.first;
  const auto& smtpPass = credentials.second;
  // The copy is written and flushed while the server takes the mail; it gets its name in
  // 送信箱 only once the mail was accepted, and is removed otherwise.
  std::future<Prepared> copy;
  try {
    copy = std::async(std::launch::async, [&] { return prepare(accountFolder, Box::Sent, draft); });
  } catch (const std::system_error&) {
    // No thread to spare: the copy is written after the send instead.
  }
  mail::SendStatus status = signin::fWithAccountSignIn(
      accountFolder,
      [&] {
        return mail::SendMailEx(mailstore::fUtf8(logFile), server, fRecipientList(draft), sender, draft.subject,
                                draft.body, joinTab(draft.attachments), smtpUser, smtpPass, progress,
                                {draft.inReplyTo, draft.references});
      },
      [](const std::string& why) { return mail::SendStatus{false, "送信に失敗しました: " + why}; });
  const Prepared prepared = copy.valid()  ? copy.get()
                            : status.sent ? prepare(accountFolder, Box::Sent, draft)
                                          : Prepared{};
  result.sent = status.sent;
  result.text = std::move(status.text);
  if (!result.sent) {
    discard(prepared);
    return result;
  }
  result.copy = commit(prepared);
  // The user wrote it: the copy is not new mail to read.
  if (result.copy.ok)
    mailstore::sMarkRead(result.copy.file.parent_path(), mailstore::fUtf8(result.copy.file.filename()));
  if (!result.copy.ok)
    result.copy.error = "送信しましたが、送信箱に控えを保存できませんでした: " + result.copy.error;
  return result;
}

std::vector<PendingSend> fSendPending(
    const fs::path& logFile, const fs::path& accountFolder,
    const std::function<void(std::size_t index, std::size_t count)>& started) {
  // Oldest first: the names do not sort by time across days, the write times do.
  std::vector<std::pair<fs::file_time_type, fs::path>> files;
  for (fs::path& file : mailstore::fListMailFiles(boxFolder(accountFolder, Box::Pending))) {
    std::error_code ec;
    const auto when = fs::last_write_time(file, ec);
    files.emplace_back(when, std::move(file));
  }
  std::sort(files.begin(), files.end());
  std::vector<PendingSend> results;
  for (const auto& [when, file] : files) {
    if (started) started(results.size() + 1, files.size());
    PendingSend one;
    one.file = file;
    if (auto draft = fReadOutgoing(file)) {
      one.result = fSend(logFile, accountFolder, *draft);
      // Without its copy in 送信箱 the mail stays here: better sent twice than lost.
      if (one.result.sent && one.result.copy.ok) mailstore::fDeleteMails({file});
    } else {
      one.result.text = "送信に失敗しました: メールを読めません: " + mailstore::fUtf8(file);
    }
    results.push_back(std::move(one));
  }
  return results;
}

std::string fPendingSummary(const std::vector<PendingSend>& results) {
  if (results.empty()) return "送信待ちのメールはありません";
  std::size_t failed = 0;
  std::string why;
  for (const PendingSend& one : results) {
    const std::string& problem = !one.result.sent     ? one.result.text
                                 : !one.result.copy.ok ? one.result.copy.error
                                                       : std::string();
    if (problem.empty()) continue;
    if (failed++ == 0) why = problem;
  }
  const std::string all = std::to_string(results.size());
  if (failed == 0) return "送信待ちのメールを" + all + "件送信しました";
  return "送信待ちのメール" + all + "件中" + std::to_string(failed) + "件を送信できませんでした: " + why;
}

}  // namespace compose
