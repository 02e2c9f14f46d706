// Export: a mail folder to an mbox file or to a folder of .eml files.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "mail/jptext.h"
#include "mail/mailheader.h"
#include "store/fsutil.h"
#include "store/iconbatch.h"
#include "store/mailstore.h"
#include "store/mod_ini.h"
#include "transfer/mbox.h"
#include "transfer/transfer.h"

namespace fs = std::filesystem;

namespace transfer {
namespace {

constexpr std::string_view kTempPrefix = ".qbexp-";

long long modifiedSeconds(const fs::path& file) {
  std::error_code ec;
  auto when = fs::last_write_time(file, ec);
  if (ec) return 0;
  // The file clock's epoch is not the system clock's: go through "now" of each.
  auto system = std::chrono::system_clock::now() +
                std::chrono::duration_cast<std::chrono::system_clock::duration>(
                    when - fs::file_time_type::clock::now());
  return std::chrono::duration_cast<std::chrono::seconds>(system.time_since_epoch()).count();
}

bool hasStatus(std::string_view bytes) {
  const auto block = bytes.substr(0, mail::header::fHeaderBlockLength(bytes));
  return mail::header::fFindRaw(mail::header::fSplitFields(block), "status").has_value();
}

// The message with "Status: RO" (read) or "Status: O" as its last header line, written
// with the message's own line end; nothing when it has no header block to add it to.
std::optional<std::string> withStatus(std::string_view bytes, bool read) {
  const std::size_t block = mail::header::fHeaderBlockLength(bytes);
  if (block == 0 || bytes[block - 1] != '\n') return std::nullopt;
  const std::size_t blank = block >= 2 && bytes[block - 2] == '\r' ? 2 : 1;
  const std::size_t at = block - blank;
  const bool crlf = blank == 2;
  std::string out;
  out.reserve(bytes.size() + 16);
  out.append(bytes.substr(0, at));
  out.append(read ? "Status: RO" : "Status: O");
  out.append(crlf ? "\r\n" : "\n");
  out.append(bytes.substr(at));
  return out;
}

std::vector<fs::path> sortedMails(const fs::path& folder) {
  auto files = mailstore::fListMailFiles(folder);
  std::sort(files.begin(), files.end());
  return files;
}

ExportResult toMbox(const fs::path& folder, const fs::path& target, const Progress& progress) {
  ExportResult result;
  std::error_code ec;
  if (fs::exists(target, ec)) {
    result.error = "書き出し先のファイルが既にあります: " + mailstore::fUtf8(target);
    return result;
  }
  const fs::path parent = target.parent_path().empty() ? fs::path(".") : target.parent_path();
  const fs::path temp = parent / (std::string(kTempPrefix) + std::to_string(::getpid()) + "-" +
                                  mailstore::fUtf8(target.filename()));
  std::FILE* file = std::fopen(temp.c_str(), "wb");
  if (!file) {
    result.error = "書き出し先に書けません: " + mailstore::fUtf8(target);
    return result;
  }
  const auto states = mod_ini::IniFile::fLoad(folder / "icon.ini").fSectionValues("Icon");
  MboxWriter writer(file);
  const auto mails = sortedMails(folder);
  for (std::size_t i = 0; i < mails.size(); ++i) {
    if (progress && !progress(i, mails.size())) {
      result.cancelled = true;
      break;
    }
    auto bytes = fsutil::fReadFile(mails[i]);
    if (!bytes) {
      result.error = "メールファイルを読めません: " + mailstore::fUtf8(mails[i]);
      break;
    }
    auto state = states.find(mail::jptext::fLower(mailstore::fUtf8(mails[i].filename())));
    const bool read = state != states.end() && state->second == mailstore::kStateRead;
    // The read state goes where mbox readers look for it, unless the mail has a Status
    // line of its own already (then it is left as it is).
    std::optional<std::string> marked = hasStatus(*bytes) ? std::nullopt : withStatus(*bytes, read);
    const bool ok = marked ? writer.fWrite(*marked, kAddedStatusSender, modifiedSeconds(mails[i]))
                           : writer.fWrite(*bytes, "MAILER-DAEMON", modifiedSeconds(mails[i]));
    if (!ok) {
      result.error = "書き出し先に書けません (ディスクがいっぱいかもしれません): " + mailstore::fUtf8(target);
      break;
    }
    ++result.exported;
  }
  bool ok = std::fflush(file) == 0 && ::fsync(fileno(file)) == 0;
  ok = std::fclose(file) == 0 && ok;
  if (result.error.empty() && !ok)
    result.error = "書き出し先に書けません (ディスクがいっぱいかもしれません): " + mailstore::fUtf8(target);
  if (result.error.empty() && !result.cancelled && !fsutil::fRenameNoReplace(temp, target))
    result.error = "書き出し先のファイルを作れません: " + mailstore::fUtf8(target);
  fs::remove(temp, ec);
  if (!result.error.empty() || result.cancelled) result.exported = 0;
  return result;
}

ExportResult toFolder(const fs::path& folder, const fs::path& target, const Progress& progress) {
  ExportResult result;
  std::error_code ec;
  fs::create_directories(target, ec);
  if (!fs::is_directory(target, ec)) {
    result.error = "書き出し先のフォルダを作れません: " + mailstore::fUtf8(target);
    return result;
  }
  const auto states = mod_ini::IniFile::fLoad(folder / "icon.ini").fSectionValues("Icon");
  mailstore::IconBatch targetStates;
  const auto mails = sortedMails(folder);
  for (std::size_t i = 0; i < mails.size(); ++i) {
    if (progress && !progress(i, mails.size())) {
      result.cancelled = true;
      break;
    }
    auto bytes = fsutil::fReadFile(mails[i]);
    if (!bytes) {
      result.error = "メールファイルを読めません: " + mailstore::fUtf8(mails[i]);
      break;
    }
    std::string name = mailstore::fUtf8(mails[i].filename());
    if (mail::jptext::fLower(mailstore::fUtf8(mails[i].extension())) != ".eml") name += ".eml";
    auto temp = fsutil::fWriteTempFile(target, *bytes, false, kTempPrefix);
    if (!temp) {
      result.error = "書き出し先に書けません (ディスクがいっぱいかもしれません): " + mailstore::fUtf8(target);
      break;
    }
    if (!fsutil::fRenameNoReplace(*temp, target / mailstore::fPath(name))) {
      fs::remove(*temp, ec);
      result.error = "同じ名前のファイルが既にあります: " + mailstore::fUtf8(target / mailstore::fPath(name));
      break;
    }
    auto state = states.find(mail::jptext::fLower(mailstore::fUtf8(mails[i].filename())));
    if (state != states.end() && state->second == mailstore::kStateRead)
      targetStates.sMarkRead(target, name);
    ++result.exported;
  }
  if (!targetStates.fSave() && result.error.empty())
    result.error = "既読の状態を書けません: " + mailstore::fUtf8(target / "icon.ini");
  fsutil::sSyncFolder(target);
  return result;
}

}  // namespace

ExportResult fExport(const fs::path& folder, const fs::path& target, const Progress& progress) {
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) {
    ExportResult result;
    result.error = "フォルダがありません: " + mailstore::fUtf8(folder);
    return result;
  }
  if (mail::jptext::fLower(mailstore::fUtf8(target.extension())) == ".mbox")
    return toMbox(folder, target, progress);
  return toFolder(folder, target, progress);
}

}  // namespace transfer
