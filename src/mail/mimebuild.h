#pragma once
// Building an outgoing message: recipients parsed from the caller's TAB list, headers
// encoded as ISO-2022-JP when the text fits JIS X 0208 (else UTF-8), the body and the
// attachments as MIME parts made with GMime. Lines end in CR LF.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mail::mime {

struct Mailbox {
  std::string name;     // display name, may be empty
  std::string address;  // addr-spec
};

struct Recipients {
  std::vector<Mailbox> to, cc, bcc;
};

// "a@x" TAB "名前<b@y>" TAB "cc" TAB ... TAB "bcc" TAB ...; empty entries are dropped.
// Nothing (with `error`) when an address is unusable (no "@", spaces, line breaks).
std::optional<Recipients> fParseRecipients(std::string_view list, std::string& error);
std::optional<Mailbox> fParseMailbox(std::string_view entry, std::string& error);

// The text as ISO-2022-JP bytes (after mapping the Windows forms of ～ － ∥ — ￠ ￡ ￢ to
// their JIS X 0208 code points), or nothing when it does not fit.
std::optional<std::string> fToIso2022jp(std::string_view utf8);

// RFC 2047 encoded words (each at most 75 characters), ISO-2022-JP when the text fits,
// else UTF-8; the ASCII text unchanged.
std::vector<std::string> fEncodeWords(std::string_view utf8);

struct Outgoing {
  Mailbox from;
  Recipients rcpt;
  std::string subject;
  std::string body;
  std::vector<std::string> attachments;  // file paths
  // Threading of a reply: "<id>" message ids separated by spaces (empty: no header).
  std::string inReplyTo, references;
};

// The whole message (headers, MIME parts), or nothing with `error` set.
std::optional<std::string> fBuildMessage(const Outgoing& mail, std::string& error);
// The same written to the open file `fd` (left open), the attachments read piece by piece
// as they are encoded. False with `error` set.
bool fBuildMessageToFile(const Outgoing& mail, int fd, std::string& error);

}  // namespace mail::mime
