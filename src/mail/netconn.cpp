#include "mail/netconn.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>

#include "mail/mail.h"
#include "store/charset.h"
#include "store/text.h"

namespace mail::net {
namespace {

std::string sysText(int err) { return std::strerror(err); }

// The trusted certificate of the calling thread's CertificatePin, normalized.
thread_local std::string tPin;
thread_local Security tSecurity = Security::Standard;

// What the last handshake on this thread saw; the verification below runs on the
// thread that does the handshake, so libcurl's handshakes are seen here too.
struct PeerCheck {
  bool acceptAny = false;
  bool refused = false;
  std::string host;
  std::string seen;  // the server certificate's fingerprint
  long error = X509_V_OK;
};
thread_local PeerCheck tPeer;

void beginCheck(const std::string& host, bool acceptAny) {
  tPeer = PeerCheck{};
  tPeer.host = host;
  tPeer.acceptAny = acceptAny;
}

// The system store (and the CA file) first; a certificate they do not vouch for passes
// only when it is exactly the one the user chose to trust.
int verifyPeer(X509_STORE_CTX* store, void*) {
  X509* leaf = X509_STORE_CTX_get0_cert(store);
  tPeer.seen = leaf ? fFingerprint(leaf) : "";
  if (X509_verify_cert(store) == 1) return 1;
  tPeer.error = X509_STORE_CTX_get_error(store);
  if (tPeer.acceptAny || (!tPin.empty() && tPeer.seen == tPin)) {
    X509_STORE_CTX_set_error(store, X509_V_OK);
    return 1;
  }
  tPeer.refused = true;
  return 0;
}

bool isIpLiteral(const std::string& host);

// One verifying client context per CA setting: loading the system store costs
// milliseconds, far more than a dialogue on loopback.
SSL_CTX* sharedContext(const std::string& caFile, std::string& error) {
  static std::mutex mutex;
  static SSL_CTX* ctx = nullptr;
  static std::string ctxKey;
  // The system store as OpenSSL finds it honours SSL_CERT_FILE and SSL_CERT_DIR.
  std::string key = caFile;
  for (const char* name : {"SSL_CERT_FILE", "SSL_CERT_DIR"}) {
    const char* value = std::getenv(name);
    key += std::string("\n") + (value ? value : "");
  }
  std::lock_guard lock(mutex);
  if (ctx && ctxKey == key) return ctx;
  SSL_CTX* fresh = SSL_CTX_new(TLS_client_method());
  if (!fresh) {
    error = "TLSの準備に失敗しました";
    return nullptr;
  }
  SSL_CTX_set_min_proto_version(fresh, TLS1_2_VERSION);
  SSL_CTX_set_verify(fresh, SSL_VERIFY_PEER, nullptr);
  SSL_CTX_set_cert_verify_callback(fresh, verifyPeer, nullptr);
  SSL_CTX_set_default_verify_paths(fresh);
  if (!caFile.empty() && SSL_CTX_load_verify_locations(fresh, caFile.c_str(), nullptr) != 1) {
    SSL_CTX_free(fresh);
    ERR_clear_error();
    error = "CA証明書ファイルを読めません: " + caFile;
    return nullptr;
  }
  if (ctx) SSL_CTX_free(ctx);  // no live connection keeps it: each SSL holds its own ref
  ctx = fresh;
  ctxKey = key;
  return ctx;
}

// The reason of the TLS library's first error, without its codes.
std::string opensslText(int* reason = nullptr) {
  unsigned long code = ERR_get_error();
  ERR_clear_error();
  if (reason) *reason = code ? ERR_GET_REASON(code) : 0;
  if (code == 0) return "";
  if (const char* text = ERR_reason_error_string(code)) return text;
  char buf[256];
  ERR_error_string_n(code, buf, sizeof buf);
  return fPlainTlsDetail(buf);
}

std::string timeoutText(long seconds);

std::string cutText(const std::string& detail) {
  return "サーバとの接続が途中で切れました (" + detail + ")";
}

std::string writeFailure(int err, long timeoutSeconds) {
  if (err == EAGAIN || err == EWOULDBLOCK) return timeoutText(timeoutSeconds);
  if (err == EPIPE || err == ECONNRESET || err == 0) return cutText(err ? sysText(err) : "EOF");
  return "サーバへの送信に失敗しました: " + sysText(err);
}

std::string timeoutText(long seconds) {
  return "サーバの応答がありません (" + std::to_string(seconds) + "秒で時間切れ)";
}

std::string asn1Date(const ASN1_TIME* t) {
  std::tm tm{};
  if (!t || ASN1_TIME_to_tm(t, &tm) != 1) return "";
  char buf[40];  // room for any int, so no output can be cut
  std::snprintf(buf, sizeof buf, "%04d/%02d/%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
  return buf;
}

std::string nameText(const X509_NAME* name) {
  BIO* bio = BIO_new(BIO_s_mem());
  if (!bio) return "";
  X509_NAME_print_ex(bio, name, 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB);
  char* data = nullptr;
  long len = BIO_get_mem_data(bio, &data);
  std::string out(data ? data : "", len > 0 ? static_cast<std::size_t>(len) : 0);
  BIO_free(bio);
  return fCleanServerText(out);
}

bool isIpLiteral(const std::string& host) {
  in6_addr a6;
  in_addr a4;
  return inet_pton(AF_INET, host.c_str(), &a4) == 1 || inet_pton(AF_INET6, host.c_str(), &a6) == 1;
}

bool waitFd(int fd, short events, int timeoutMs) {
  pollfd p{fd, events, 0};
  int r;
  do {
    r = ::poll(&p, 1, timeoutMs);
  } while (r < 0 && errno == EINTR);
  return r > 0;
}

}  // namespace

std::string fFingerprint(X509* cert) {
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  if (X509_digest(cert, EVP_sha256(), md, &len) != 1) return "";
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (unsigned i = 0; i < len; ++i) {
    if (i) out += ':';
    out += hex[md[i] >> 4];
    out += hex[md[i] & 15];
  }
  return out;
}

std::string fNormalizeFingerprint(std::string_view text) {
  std::string digits;
  for (char c : text) {
    if (c == ':' || c == ' ' || c == '\t') continue;
    if (!std::isxdigit(static_cast<unsigned char>(c))) return "";
    digits += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  if (digits.size() != 64) return "";
  std::string out;
  for (std::size_t i = 0; i < digits.size(); i += 2) {
    if (i) out += ':';
    out.append(digits, i, 2);
  }
  return out;
}

bool fPrepareClientContext(SSL_CTX* ctx, const std::string& host, std::string& error) {
  const std::string caFile = fGetLibrarySettings().caFile;
  // The same store as the library's own connections: the system's, as the OpenSSL
  // environment names it, plus the CA file.
  SSL_CTX_set_default_verify_paths(ctx);
  ERR_clear_error();
  if (!caFile.empty() && SSL_CTX_load_verify_locations(ctx, caFile.c_str(), nullptr) != 1) {
    ERR_clear_error();
    error = "CA証明書ファイルを読めません: " + caFile;
    return false;
  }
  X509_VERIFY_PARAM* param = SSL_CTX_get0_param(ctx);
  if (isIpLiteral(host)) X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str());
  else X509_VERIFY_PARAM_set1_host(param, host.c_str(), 0);
  SSL_CTX_set_cert_verify_callback(ctx, verifyPeer, nullptr);
  beginCheck(host, false);
  return true;
}

std::string fRefusedCertificateText(const std::string& host) {
  if (!tPeer.refused || tPeer.host != host) return "";
  const std::string why = fVerifyErrorText(tPeer.error, host);
  if (!tPin.empty())
    return "サーバの証明書が信頼済みのものから変わっています (" + host + "): 信頼済み SHA-256 " +
           tPin + "、今回 SHA-256 " + tPeer.seen + " (" + why +
           ")。アカウント設定の「証明書を確認」で確かめてください";
  return "サーバの証明書を信頼できません (" + host + "): " + why + "。SHA-256 " + tPeer.seen +
         "。アカウント設定の「証明書を確認」で信頼できます";
}

std::string fVerifyErrorText(long code, const std::string& host) {
  switch (code) {
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
      return "自己署名の証明書です";
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
      return "信頼されていない認証局 (自己署名のルート証明書) が発行した証明書です";
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
      return "発行した認証局が分かりません";
    case X509_V_ERR_CERT_HAS_EXPIRED:
      return "証明書の有効期限が切れています";
    case X509_V_ERR_CERT_NOT_YET_VALID:
      return "証明書の有効期間がまだ始まっていません";
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
      return "証明書がサーバ名 " + host + " のものではありません";
    default:
      return std::string("証明書を検証できません: ") + X509_verify_cert_error_string(code);
  }
}

Route fRoute(const std::string& host, int port, int implicitPort) {
  switch (tSecurity) {
    case Security::Tls:
      return Route::Implicit;
    case Security::StartTls:
      return Route::StartTlsRequired;
    case Security::None:
      return Route::Plain;
    case Security::Standard:
      break;
  }
  if (port == implicitPort) return Route::Implicit;
  return fIsLoopbackHost(host) ? Route::StartTlsIfOffered : Route::StartTlsRequired;
}

std::string fPlainTlsDetail(std::string_view text) {
  // "error:0A000126:SSL routines::reason": the reason follows the fourth colon.
  std::string out;
  for (;;) {
    std::size_t at = text.find("error:");
    if (at == std::string_view::npos) break;
    std::size_t colon = at + 5;
    for (int i = 0; i < 3 && colon != std::string_view::npos; ++i) colon = text.find(':', colon + 1);
    if (colon == std::string_view::npos) break;
    out.append(text.substr(0, at));
    text.remove_prefix(colon + 1);
  }
  out.append(text);
  return out;
}

bool fSplitHostPort(std::string_view server, char separator, int defaultPort, std::string& host,
                    int& port) {
  auto trim = [](std::string_view s) { return text::trim(s, text::kWhiteSpace); };
  server = trim(server);
  port = defaultPort;
  std::size_t cut = server.rfind(separator);
  // "[::1]:25" and a bare IPv6 literal: a colon inside brackets is not the separator.
  if (separator == ':' && cut != std::string_view::npos) {
    std::size_t close = server.rfind(']');
    if (server.find(':') != cut && (close == std::string_view::npos || close > cut))
      cut = std::string_view::npos;
  }
  if (cut != std::string_view::npos) {
    std::string_view digits = trim(server.substr(cut + 1));
    if (digits.empty() || digits.size() > 5) return false;
    int n = 0;
    for (char c : digits) {
      if (c < '0' || c > '9') return false;
      n = n * 10 + (c - '0');
    }
    if (n < 1 || n > 65535) return false;
    port = n;
    server = trim(server.substr(0, cut));
  }
  if (server.size() >= 2 && server.front() == '[' && server.back() == ']')
    server = server.substr(1, server.size() - 2);
  host = std::string(server);
  return !host.empty();
}

bool fIsLoopbackHost(std::string_view host) {
  std::string h(host);
  for (auto& c : h) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (h == "localhost" || h == "localhost." || h == "::1") return true;
  in_addr a4;
  if (inet_pton(AF_INET, h.c_str(), &a4) == 1) return (ntohl(a4.s_addr) >> 24) == 127;
  return false;
}

std::string fCleanServerText(std::string_view words) {
  std::string out;
  for (char c : words) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) {
      if (!out.empty() && out.back() != ' ') out += ' ';
      continue;
    }
    out += c;
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  if (!charset::fIsValidUtf8(out)) out = charset::fDecode("ISO-8859-1", out).value_or("");
  if (out.size() > 300) {
    std::size_t cut = 300;
    while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80) --cut;
    out.resize(cut);
    out += "…";
  }
  return out;
}

NetConn::~NetConn() { close(); }

void NetConn::close() {
  if (ssl_) {
    SSL_free(ssl_);
    ssl_ = nullptr;
  }
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

bool NetConn::open(const std::string& host, int port, bool tls) {
  host_ = host;
  const LibrarySettings settings = fGetLibrarySettings();
  timeoutSeconds_ = settings.timeoutSeconds > 0 ? settings.timeoutSeconds : 60;
  const int timeoutMs = static_cast<int>(timeoutSeconds_ * 1000);
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  const std::string service = std::to_string(port);
  int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &list);
  if (rc != 0) {
    setError("サーバが見つかりません (" + host + "): " + ::gai_strerror(rc));
    return false;
  }
  std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> guard(list, ::freeaddrinfo);
  std::string lastError;
  bool timedOut = false;
  for (addrinfo* ai = list; ai; ai = ai->ai_next) {
    int fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, ai->ai_protocol);
    if (fd < 0) {
      lastError = sysText(errno);
      continue;
    }
    int r = ::connect(fd, ai->ai_addr, ai->ai_addrlen);
    if (r != 0 && errno == EINPROGRESS) {
      if (waitFd(fd, POLLOUT, timeoutMs)) {
        int soErr = 0;
        socklen_t len = sizeof soErr;
        ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soErr, &len);
        if (soErr == 0) r = 0;
        else errno = soErr;
      } else {
        timedOut = true;
        errno = ETIMEDOUT;
      }
    }
    if (r != 0) {
      lastError = sysText(errno);
      ::close(fd);
      continue;
    }
    int flags = ::fcntl(fd, F_GETFL);
    ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    timeval tv{timeoutSeconds_, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    fd_ = fd;
    break;
  }
  if (fd_ < 0) {
    if (timedOut)
      setError("サーバに接続できません (" + host + ":" + service + "): " +
               std::to_string(timeoutMs / 1000) + "秒で時間切れ");
    else
      setError("サーバに接続できません (" + host + ":" + service + "): " + lastError);
    return false;
  }
  return !tls || handshake();
}

bool NetConn::startTls() { return handshake(); }

bool NetConn::handshake() {
  std::string err;
  SSL_CTX* ctx = sharedContext(fGetLibrarySettings().caFile, err);
  if (!ctx) {
    setError(err);
    return false;
  }
  ssl_ = SSL_new(ctx);
  if (!ssl_) {
    setError("TLSの準備に失敗しました");
    return false;
  }
  SSL_set_fd(ssl_, fd_);
  if (isIpLiteral(host_)) {
    X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl_), host_.c_str());
  } else {
    SSL_set_tlsext_host_name(ssl_, host_.c_str());
    SSL_set1_host(ssl_, host_.c_str());
  }
  ERR_clear_error();
  errno = 0;
  beginCheck(host_, acceptAny_);
  if (SSL_connect(ssl_) != 1) {
    const int err = errno;
    int reason = 0;
    std::string detail = opensslText(&reason);
    if (tPeer.refused) setError(fRefusedCertificateText(host_));
    else if (err == EAGAIN || err == EWOULDBLOCK) setError(timeoutText(timeoutSeconds_) + " (TLSの開始中)");
    else if (reason == SSL_R_UNEXPECTED_EOF_WHILE_READING || (detail.empty() && err != ENOMEM))
      setError(cutText("TLSの開始中: " + (detail.empty() ? (err ? sysText(err) : "EOF") : detail)));
    else setError("TLS接続に失敗しました (" + host_ + "): " + detail);
    return false;
  }
  buf_.erase(0, pos_);
  pos_ = 0;
  return true;
}

bool NetConn::writeAll(std::string_view bytes) {
  while (!bytes.empty()) {
    long n;
    if (ssl_) {
      ERR_clear_error();
      n = SSL_write(ssl_, bytes.data(), static_cast<int>(std::min<std::size_t>(bytes.size(), 1 << 30)));
      if (n <= 0) {
        setError(writeFailure(errno, timeoutSeconds_));
        return false;
      }
    } else {
      n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
      if (n < 0) {
        if (errno == EINTR) continue;
        setError(writeFailure(errno, timeoutSeconds_));
        return false;
      }
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

bool NetConn::fill() {
  if (pos_ > 0 && pos_ == buf_.size()) {
    buf_.clear();
    pos_ = 0;
  } else if (pos_ > (1u << 20)) {
    buf_.erase(0, pos_);
    pos_ = 0;
  }
  const std::size_t chunk = 1 << 16;
  std::size_t old = buf_.size();
  buf_.resize(old + chunk);
  long n;
  std::string tlsDetail;
  for (;;) {
    errno = 0;
    if (ssl_) {
      ERR_clear_error();
      n = SSL_read(ssl_, buf_.data() + old, static_cast<int>(chunk));
      if (n <= 0) tlsDetail = opensslText();
    } else {
      n = ::recv(fd_, buf_.data() + old, chunk, 0);
      if (n < 0 && errno == EINTR) continue;
    }
    break;
  }
  if (n <= 0) {
    int err = errno;
    buf_.resize(old);
    if (err == EAGAIN || err == EWOULDBLOCK)
      setError(timeoutText(timeoutSeconds_));
    else if (n == 0 || err == 0 || err == ECONNRESET)
      setError(cutText(!tlsDetail.empty() ? "TLS: " + tlsDetail : err ? sysText(err) : "EOF"));
    else
      setError("サーバからの受信に失敗しました: " + sysText(err));
    return false;
  }
  buf_.resize(old + static_cast<std::size_t>(n));
  return true;
}

ServerCertificate NetConn::fPeerCertificate() const {
  ServerCertificate info;
  X509* cert = ssl_ ? SSL_get1_peer_certificate(ssl_) : nullptr;
  if (!cert) return info;
  info.fingerprint = fFingerprint(cert);
  info.subject = nameText(X509_get_subject_name(cert));
  info.issuer = nameText(X509_get_issuer_name(cert));
  info.notAfter = asn1Date(X509_get0_notAfter(cert));
  info.trusted = tPeer.error == X509_V_OK;
  if (!info.trusted) info.problem = fVerifyErrorText(tPeer.error, host_);
  X509_free(cert);
  return info;
}

bool NetConn::fClosedByPeer(int graceMs) {
  if (fd_ < 0) return true;
  if (pos_ < buf_.size() || (ssl_ && SSL_pending(ssl_) > 0)) return false;
  if (!waitFd(fd_, POLLIN, graceMs)) return false;
  return !fill();
}

bool NetConn::readLine(std::string& line, std::size_t maxLine) {
  for (;;) {
    std::size_t nl = buf_.find('\n', pos_);
    if (nl != std::string::npos) {
      std::size_t end = nl;
      if (end > pos_ && buf_[end - 1] == '\r') --end;
      line.assign(buf_, pos_, end - pos_);
      pos_ = nl + 1;
      return true;
    }
    if (buf_.size() - pos_ > maxLine) {
      setError("サーバの応答が長すぎます");
      return false;
    }
    if (!fill()) return false;
  }
}

bool NetConn::readMultiline(std::string& out) {
  Multiline state;
  while (!state.done)
    if (!readMultilinePart(out, static_cast<std::size_t>(-1), state)) return false;
  return true;
}

bool NetConn::readMultilinePart(std::string& out, std::size_t limit, Multiline& state) {
  while (!state.done && out.size() < limit) {
    if (pos_ >= buf_.size()) {
      if (!fill()) return false;
      continue;
    }
    if (state.lineStart && buf_[pos_] == '.') {
      // ".CRLF" (or ".LF") ends the block; any other line loses its first dot. Up to two
      // more bytes decide which, and they may not have arrived yet.
      const std::size_t have = buf_.size() - pos_;
      if (have < 2 || (have < 3 && buf_[pos_ + 1] == '\r')) {
        if (!fill()) return false;
        continue;
      }
      if (buf_[pos_ + 1] == '\n' || (buf_[pos_ + 1] == '\r' && buf_[pos_ + 2] == '\n')) {
        pos_ += buf_[pos_ + 1] == '\n' ? 2 : 3;
        state.done = true;
        break;
      }
      ++pos_;
      state.lineStart = false;
      continue;
    }
    // Up to the end of the line, of what has arrived, or of the room left.
    const std::size_t span = std::min(buf_.size() - pos_, limit - out.size());
    const char* from = buf_.data() + pos_;
    const void* nl = std::memchr(from, '\n', span);
    const std::size_t len = nl ? static_cast<std::size_t>(static_cast<const char*>(nl) - from) + 1 : span;
    out.append(from, len);
    pos_ += len;
    state.lineStart = nl != nullptr;
  }
  return true;
}

SigpipeGuard::SigpipeGuard() {
  sigset_t pipe, old;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe, &old);
  wasBlocked_ = sigismember(&old, SIGPIPE) == 1;
}

SigpipeGuard::~SigpipeGuard() {
  if (wasBlocked_) return;
  sigset_t pipe, pending;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  sigpending(&pending);
  if (sigismember(&pending, SIGPIPE) == 1) {
    timespec zero{0, 0};
    sigtimedwait(&pipe, nullptr, &zero);
  }
  pthread_sigmask(SIG_UNBLOCK, &pipe, nullptr);
}

}  // namespace mail::net

namespace mail {

CertificatePin::CertificatePin(std::string_view fingerprint) : previous_(net::tPin) {
  net::tPin = net::fNormalizeFingerprint(fingerprint);
}

CertificatePin::~CertificatePin() { net::tPin = previous_; }

std::string CertificatePin::fCurrent() { return net::tPin; }

std::string fCertificateFailureHeadline(std::string_view text) {
  for (std::string_view mark : {"サーバの証明書を信頼できません (", "サーバの証明書が信頼済みのものから変わっています ("}) {
    const std::size_t at = text.find(mark);
    if (at == std::string_view::npos) continue;
    const std::size_t close = text.find(')', at + mark.size());
    if (close != std::string_view::npos) return std::string(text.substr(0, close + 1));
  }
  return "";
}

SecurityChoice::SecurityChoice(Security security) : previous_(net::tSecurity) {
  net::tSecurity = security;
}

SecurityChoice::~SecurityChoice() { net::tSecurity = previous_; }

Security SecurityChoice::fCurrent() { return net::tSecurity; }

}  // namespace mail
