#pragma once
// One client connection of a mail dialogue: a TCP socket with optional TLS (implicit
// or upgraded in place), buffered reads, and every failure kept as a short Japanese
// text that carries the system's or the peer's own words.
#include <openssl/ssl.h>

#include <string>
#include <string_view>

#include "mail/mail.h"

namespace mail::net {

// SHA-256 of the certificate's DER bytes as upper-case hex pairs joined by ':'.
std::string fFingerprint(X509* cert);
// A fingerprint as typed or stored (any case, ':' or spaces between pairs) in the form
// fFingerprint gives; empty when it is not 32 hex bytes.
std::string fNormalizeFingerprint(std::string_view text);

// Readies a client context made elsewhere (libcurl's) for this library's verification:
// the CA file of the settings, the server name, and the calling thread's trusted
// certificate. False with `error` set when the CA file cannot be read.
bool fPrepareClientContext(SSL_CTX* ctx, const std::string& host, std::string& error);
// When the last handshake on this thread with `host` was refused for its certificate:
// the text that says so, with the certificate's fingerprint. Empty otherwise.
std::string fRefusedCertificateText(const std::string& host);

// A TLS library error without its numeric codes ("unexpected eof while reading" for
// "error:0A000126:SSL routines::unexpected eof while reading").
std::string fPlainTlsDetail(std::string_view text);

// "host" + TAB/colon + "port" split; `defaultPort` when no port is given. False when the
// port is not a number from 1 to 65535.
bool fSplitHostPort(std::string_view server, char separator, int defaultPort,
                    std::string& host, int& port);

// True for "localhost" and the loopback addresses (127.0.0.0/8, ::1).
bool fIsLoopbackHost(std::string_view host);

// How one dialogue reaches its server: TLS at once, STARTTLS (required, or only when
// offered), or in clear.
enum class Route { Implicit, StartTlsRequired, StartTlsIfOffered, Plain };
// The route of the calling thread's Security for a server (`implicitPort`: 995 or 465,
// or what the library settings put in their place).
Route fRoute(const std::string& host, int port, int implicitPort);

// Why the store does not vouch for a certificate, in plain Japanese (the TLS library's
// own words for the rarer cases).
std::string fVerifyErrorText(long code, const std::string& host);

// Server words are untrusted: control characters removed, invalid UTF-8 replaced,
// cut to a readable length.
std::string fCleanServerText(std::string_view words);

class NetConn {
 public:
  NetConn() = default;
  ~NetConn();
  NetConn(const NetConn&) = delete;
  NetConn& operator=(const NetConn&) = delete;

  // Resolves and connects within the library's timeout; with `tls` the handshake
  // follows at once (implicit TLS). False with error() set.
  bool open(const std::string& host, int port, bool tls);
  // Upgrades the open plain connection to TLS (after STLS/STARTTLS was accepted).
  bool startTls();
  bool isTls() const { return ssl_ != nullptr; }
  // For looking at a server's certificate: the handshake completes whatever it is.
  // Nothing but QUIT may be sent over such a connection.
  void sAcceptAnyCertificate() { acceptAny_ = true; }
  // The server's certificate after a handshake (empty fingerprint without one).
  ServerCertificate fPeerCertificate() const;

  // After an error reply: true when the server has closed the connection behind it
  // (a server shutting down answers with -ERR and hangs up). Waits up to `graceMs` for
  // the close to arrive.
  bool fClosedByPeer(int graceMs);

  bool writeAll(std::string_view bytes);
  // One line without its line end. Lines longer than `maxLine` are an error.
  bool readLine(std::string& line, std::size_t maxLine = 65536);
  // A dot-terminated multi-line block appended to `out`, dot-unstuffed, line ends
  // kept as sent, the terminating line removed.
  bool readMultiline(std::string& out);
  // Where a block read in parts stands.
  struct Multiline {
    bool lineStart = true;  // the next byte begins a line
    bool done = false;      // the terminating line has been read
  };
  // Reads on in a dot-terminated block, as readMultiline, until `out` holds at least
  // `limit` bytes or the block has ended (`state.done`). Lines of any length come in
  // pieces; memory stays within the connection's buffer and `limit`.
  bool readMultilinePart(std::string& out, std::size_t limit, Multiline& state);

  const std::string& error() const { return error_; }
  void close();

 private:
  bool fill();
  bool handshake();
  void setError(std::string text) {
    if (error_.empty()) error_ = std::move(text);
  }

  int fd_ = -1;
  SSL* ssl_ = nullptr;
  bool acceptAny_ = false;
  long timeoutSeconds_ = 60;
  std::string host_;
  std::string buf_;
  std::size_t pos_ = 0;
  std::string error_;
};

// Keeps SIGPIPE from ending the process while writing to a peer that has gone away
// (TLS writes cannot pass MSG_NOSIGNAL); any SIGPIPE raised meanwhile is consumed.
class SigpipeGuard {
 public:
  SigpipeGuard();
  ~SigpipeGuard();
  SigpipeGuard(const SigpipeGuard&) = delete;
  SigpipeGuard& operator=(const SigpipeGuard&) = delete;

 private:
  bool wasBlocked_ = false;
};

}  // namespace mail::net
