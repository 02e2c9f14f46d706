#pragma once
// Writing a mail: the outgoing file (sent copies, pending mail, drafts) and sending it.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace compose {

// What the composer holds when the user sends or stores it.
struct Draft {
  std::string to, cc, bcc, subject;
  std::string body;                      // CR LF line breaks, as the editor gives it
  std::vector<std::string> attachments;  // full paths (UTF-8), in list order
  // A reply's place in its thread: the replied mail's Message-ID, and its References
  // followed by that Message-ID. Empty for a new mail.
  std::string inReplyTo = {}, references = {};
  bool operator==(const Draft&) const = default;
};

// The threading fields of a reply to the mail in `repliedMail` (empty when it has no
// usable Message-ID or cannot be read).
struct Threading {
  std::string inReplyTo, references;
};
Threading fReplyThreading(const std::filesystem::path& repliedMail);
// The same from the replied mail's Message-ID and References header values.
Threading fReplyThreading(std::string_view messageId, std::string_view references);

// 送信箱, 送信箱\送信待ち, 送信箱\下書き of the account folder.
enum class Box { Sent, Pending, Drafts };

// The field split at every ",", each piece trimmed of spaces, empty pieces dropped, the rest
// joined with TAB.
std::string fTabList(std::string_view field);
// The To list, then TAB "cc" TAB and the Cc list when the Cc field is not empty, then TAB
// "bcc" TAB and the Bcc list when the Bcc field is not empty.
std::string fRecipientList(const Draft& draft);

struct StoreResult {
  bool ok = false;
  std::filesystem::path file;  // the file written, when ok
  std::string error;           // what failed, in words for the user, when not ok
};
// Writes the outgoing file of the draft into the account folder's box, under a new name
// made from the present local time. Never replaces an existing file.
StoreResult fStore(const std::filesystem::path& accountFolder, Box box, const Draft& draft);
// Rewrites an existing outgoing file with the draft, keeping its name: the new text is
// written under a temporary name and renamed over it, so the file is never half written.
StoreResult fReplace(const std::filesystem::path& file, const Draft& draft);
// Stores a mail that was opened from the stored file `previous` (empty: a new one): into
// `previous` itself when it still lies in that box, else as a new file, after which
// `previous` is removed.
StoreResult fStoreAgain(const std::filesystem::path& accountFolder, Box box, const Draft& draft,
                        const std::filesystem::path& previous);
// Reads an outgoing file (a draft or a pending mail) back into the fields it was written
// from. Nothing when it cannot be read. The file holds no attachments nor threading.
std::optional<Draft> fReadOutgoing(const std::filesystem::path& file);

// Bytes of the message handed to the server so far, and in all (called from the sending
// thread).
using SendProgress = std::function<void(std::uint64_t done, std::uint64_t total)>;

struct SendResult {
  bool sent = false;  // the server accepted the mail
  std::string text;   // the library's text: what the status bars show
  StoreResult copy;   // the copy in 送信箱; written only when sent
};
// Sends the draft through the SMTP server of the account whose folder is given (its set.ini
// read at the moment of sending), logging to logFile; when the server accepted it, writes
// the copy into 送信箱. A missing or unreadable attachment refuses the send before anything
// goes out, with a text naming the file. Safe to call from a worker thread; one call at a
// time per process is enough.
SendResult fSend(const std::filesystem::path& logFile, const std::filesystem::path& accountFolder,
                 const Draft& draft, const SendProgress& progress = {});

struct PendingSend {
  std::filesystem::path file;  // the pending mail
  SendResult result;
};
// Sends every mail of the account's 送信箱\送信待ち in turn, oldest first. Each one the
// server accepts gets its copy in 送信箱 and leaves the pending folder; the others stay
// where they are. `started` is told each mail's place (1-based) and the count.
std::vector<PendingSend> fSendPending(
    const std::filesystem::path& logFile, const std::filesystem::path& accountFolder,
    const std::function<void(std::size_t index, std::size_t count)>& started = {});
// The status text of such a run: how many went, and why the first that did not stayed.
std::string fPendingSummary(const std::vector<PendingSend>& results);

}  // namespace compose
