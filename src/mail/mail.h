#pragma once
// The mail library: POP3 receiving, message reading and SMTP sending. All text is
// UTF-8; paths are UTF-8 text. No function throws: failures come back as a text.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace mail {

// An array of texts, or the non-array text (empty = nothing new, else what failed).
using MailResult = std::variant<std::vector<std::string>, std::string>;

// Progress of a long run: messages done and messages in all.
using Progress = std::function<void(std::size_t done, std::size_t total)>;
// Called with each message's full path and its bytes (as saved) as soon as its file is
// complete (from the receiving thread), so the caller can start reading it while the rest
// arrives. The bytes are valid during the call only; they are empty for a mail over 1 MB,
// which is never held whole in memory (read its file).
using Saved = std::function<void(const std::string& path, std::string_view bytes)>;

// Library-wide settings (tests point the CA file at their own throwaway CA).
struct LibrarySettings {
  std::string caFile;        // extra CA certificates (PEM); empty = system store only
  long timeoutSeconds = 60;  // connect and idle timeout of one dialogue
  // Ports that mean implicit TLS (tests serve it on free ports of their own).
  int pop3sPort = 995;
  int smtpsPort = 465;
};
void sSetLibrarySettings(const LibrarySettings& settings);
LibrarySettings fGetLibrarySettings();

// A server certificate the user has chosen to trust although the system store does not
// vouch for it (self-signed, private CA). While an object lives, RcvMail and SendMailEx
// called on the same thread also accept a server certificate with exactly this SHA-256
// fingerprint ("AB:CD:…", any case, ':' optional); any other certificate the store does
// not vouch for is refused with a text naming both fingerprints. Empty: no extra trust.
class CertificatePin {
 public:
  explicit CertificatePin(std::string_view fingerprint);
  ~CertificatePin();
  CertificatePin(const CertificatePin&) = delete;
  CertificatePin& operator=(const CertificatePin&) = delete;
  // The fingerprint in force on this thread (to carry it over to a worker thread).
  static std::string fCurrent();

 private:
  std::string previous_;
};

// How a dialogue protects the link. `Standard`: TLS from the start on the implicit-TLS
// port (995/465), else STARTTLS, which must be offered, except to this machine
// (loopback), where the dialogue goes on in clear when the server has no STARTTLS.
// `Tls`: TLS from the start on any port. `StartTls`: STARTTLS, required. `None`: no
// TLS, the user's explicit choice; a login then prefers a method that does not send
// the password itself (APOP, CRAM-MD5) when the server offers one.
enum class Security { Standard, Tls, StartTls, None };
// The security of RcvMail, SendMailEx and fFetchServerCertificate called on this thread
// while an object lives (as CertificatePin).
class SecurityChoice {
 public:
  explicit SecurityChoice(Security security);
  ~SecurityChoice();
  SecurityChoice(const SecurityChoice&) = delete;
  SecurityChoice& operator=(const SecurityChoice&) = delete;
  static Security fCurrent();

 private:
  Security previous_;
};

// An OAuth 2.0 access token to sign in with. While an object lives, RcvMail and
// SendMailEx called on this thread sign in with it instead of the password: SASL
// OAUTHBEARER or XOAUTH2 (RFC 7628), whichever the server lists (OAUTHBEARER first), and
// only over TLS, whatever Security says. Empty: the password, as usual.
class BearerToken {
 public:
  explicit BearerToken(std::string_view token);
  ~BearerToken();
  BearerToken(const BearerToken&) = delete;
  BearerToken& operator=(const BearerToken&) = delete;
  static std::string fCurrent();

 private:
  std::string previous_;
};
// Failure texts of RcvMail and SendMailEx that say the server refused the access token
// carry these words, so that a caller can get a fresh token and try once more.
inline constexpr std::string_view kTokenRefused = "アクセストークンを受け付けませんでした";
bool fIsTokenRefusal(std::string_view text);

// What a server shows of itself at the TLS handshake.
struct ServerCertificate {
  std::string fingerprint;  // SHA-256, "AB:CD:…"
  std::string subject, issuer;
  std::string notAfter;     // "yyyy/MM/dd" (UTC)
  bool trusted = false;     // the system store (or the CA file) vouches for it for this host
  std::string problem;      // why not, when not
};
// Connects as RcvMail (`smtp` false, server "host" TAB "port") or SendMailEx (`smtp` true,
// "host:port") would, up to the TLS handshake, and reports the server's certificate.
// Nothing else is sent; no login. A text when there is no TLS to look at.
std::variant<ServerCertificate, std::string> fFetchServerCertificate(std::string_view server,
                                                                     bool smtp);

// server: "host" or "host" TAB "port" (995 = implicit TLS, else STARTTLS when offered).
// command: "SAVEALL", "SAVEALLD", "SAVE 1-n", "SAVD 1-n". dest: "<" + inbox folder.
MailResult RcvMail(std::string_view server, std::string_view user, std::string_view pass,
                   std::string_view command, std::string_view dest,
                   const Progress& progress = {}, const Saved& saved = {});

// While RcvMail is still receiving into a folder, the caller may move mails it has
// already saved (to file them as they come). Each such move is noted here first: a run
// cut off after the move then still counts the mail as received instead of fetching it
// again. Notes go to the run's own record, which RcvMail removes when it ends.
class MoveNotes {
 public:
  explicit MoveNotes(std::string_view folder);  // RcvMail's destination folder
  ~MoveNotes();
  MoveNotes(const MoveNotes&) = delete;
  MoveNotes& operator=(const MoveNotes&) = delete;
  // Notes a mail by its name in the folder. False when there is no run to note it in or
  // the note cannot be written: the mail must then stay until RcvMail has returned.
  bool fNote(std::string_view fileName);
  // Several mails in one write: all noted, or none (false).
  bool fNote(const std::vector<std::string>& fileNames);

 private:
  std::string folder_;
  int fd_ = -1;
};

// keys: lower-case header names each ending in ":" ("subject:from:date:nofile:nobody:").
// Every key, the pseudo keys included, takes one element "key value" in key order; then
// the body "body: …" unless "nobody:"; then one "file: …" per attachment (its name with
// "nofile:", else the full path of the file extracted into `folder`). Pseudo keys:
// "nofile:" no extraction, "nobody:" no body element, "html:" the body is the text/html
// part when there is one. With both "nofile:" and "nobody:" only the header block is read.
// A file that cannot be read gives a text.
MailResult ReadMail(std::string_view file, std::string_view keys, std::string_view folder);
// ReadMail on the bytes of a message already in memory.
MailResult fReadMailBytes(std::string_view bytes, std::string_view keys, std::string_view folder);

// ReadMail for showing a mail: the same elements, except that a text part longer than
// `maxBodyBytes` (decoded) is read no further; the body is then its first lines and ends
// in fBodyCutNote. A mail of any size is shown at once this way.
struct ShownMail {
  MailResult result;
  bool bodyCut = false;
};
ShownMail fReadMailShown(std::string_view file, std::string_view keys, std::string_view folder,
                         size_t maxBodyBytes);
// The note that ends a body cut at `maxBodyBytes`.
std::string fBodyCutNote(size_t maxBodyBytes);
// ReadMail's elements taken apart by their labels: the header values (by key without the
// colon, "to", "from", ...), the body (the HTML part with "html:") and the attachments.
struct MailParts {
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  std::vector<std::string> files;
  // The value of a header asked for; empty when it was not asked for.
  std::string header(std::string_view key) const;
};
MailParts fPartsOf(const std::vector<std::string>& elements);
// Extracts one attachment, the `index`-th (from 0) of those ReadMail lists, into `folder`
// exactly as ReadMail would, and no other: the full path of the file, or nothing when the
// mail cannot be read, has no such attachment or the file cannot be written.
std::optional<std::string> fExtractAttachment(std::string_view file, size_t index, std::string_view folder);

// A part of a message found by its Content-ID, for "cid:" references in an HTML body.
struct PartContent {
  std::string bytes;      // transfer encoding undone
  std::string mediaType;  // lower case, "image/png"
};
// contentId: "cid:id" (percent-encoded as in a URL), "<id>" or the bare id. Nothing when
// the file cannot be read or holds no such part.
std::optional<PartContent> fReadPartByContentId(std::string_view file, std::string_view contentId);

// What a send came to: `sent` only when the server accepted the mail; `text` is the short
// text for the user (the server's own words when it refused).
struct SendStatus {
  bool sent = false;
  std::string text;
};
// Bytes of the message handed to the server so far, and in all.
using SendProgress = std::function<void(std::uint64_t done, std::uint64_t total)>;

// server: "host" or "host:port" (465 = implicit TLS, else STARTTLS when offered).
// recipients: To, then TAB "cc" TAB Cc list, then TAB "bcc" TAB Bcc list.
// sender: "address" or "display name <address>". attachments: TAB-separated file paths.
SendStatus SendMailEx(std::string_view logFile, std::string_view server,
                      std::string_view recipients, std::string_view sender,
                      std::string_view subject, std::string_view body,
                      std::string_view attachments);
// A reply's threading headers: In-Reply-To and References, each a list of "<id>"
// message ids separated by spaces; empty ones are left out.
struct ThreadHeaders {
  std::string inReplyTo, references;
};
// The same, authenticating with the account's user and password when the server
// offers AUTH (no login when the user is empty).
SendStatus SendMailEx(std::string_view logFile, std::string_view server,
                      std::string_view recipients, std::string_view sender,
                      std::string_view subject, std::string_view body, std::string_view attachments,
                      std::string_view user, std::string_view pass,
                      const SendProgress& progress = {}, const ThreadHeaders& thread = {});

// For a text that says a server's certificate was refused (from RcvMail or SendMailEx):
// its head, short enough for a status bar ("POP3: サーバの証明書を信頼できません
// (host)"). Empty for any other text.
std::string fCertificateFailureHeadline(std::string_view text);

// The bytes decoded with the named charset ("EUC-JP"); empty text on failure.
std::string fBytesToText(std::string_view charsetName, std::string_view bytes);
// The whole file decoded as EUC-JP; nothing when the file cannot be read.
std::optional<std::string> fReadEucFile(const std::filesystem::path& path);

}  // namespace mail
