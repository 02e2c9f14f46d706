// SMTP sending over libcurl. One easy handle is kept for the process: libcurl then
// reuses the open connection for the next send to the same server, which saves the
// connect, greeting, EHLO, TLS and AUTH round trips of every further mail.
#include <curl/curl.h>
#include <fcntl.h>
#include <openssl/ssl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <mutex>

#include "mail/mail.h"
#include "mail/mimebuild.h"
#include "mail/netconn.h"
#include "mail/oauthsasl.h"

namespace mail {
namespace {

constexpr const char* kSent = "送信しました";
constexpr const char* kFailed = "送信に失敗しました";
constexpr const char* kNoOAuthMechanism =
    "サーバが OAuth 2.0 のサインイン (OAUTHBEARER, XOAUTH2) に対応していません";

// The message to upload: in memory, or (with attachments) in an unlinked scratch file so
// that a large attachment is never held in memory in its base64 form.
struct Message {
  std::string bytes;
  int fd = -1;
  std::uint64_t size = 0;
  Message() = default;
  Message(const Message&) = delete;
  Message& operator=(const Message&) = delete;
  ~Message() {
    if (fd >= 0) ::close(fd);
  }
};

struct Upload {
  const Message& message;
  std::uint64_t pos = 0;
};

std::size_t readBody(char* buffer, std::size_t size, std::size_t nitems, void* userp) {
  auto* up = static_cast<Upload*>(userp);
  const Message& m = up->message;
  std::size_t want =
      static_cast<std::size_t>(std::min<std::uint64_t>(size * nitems, m.size - up->pos));
  if (m.fd < 0) {
    std::memcpy(buffer, m.bytes.data() + up->pos, want);
    up->pos += want;
    return want;
  }
  ssize_t n;
  do {
    n = ::pread(m.fd, buffer, want, static_cast<off_t>(up->pos));
  } while (n < 0 && errno == EINTR);
  if (n < 0) return CURL_READFUNC_ABORT;
  up->pos += static_cast<std::uint64_t>(n);
  return static_cast<std::size_t>(n);
}

int uploadProgress(void* userp, curl_off_t, curl_off_t, curl_off_t ultotal, curl_off_t ulnow) {
  const auto* progress = static_cast<const SendProgress*>(userp);
  if (ultotal > 0)
    (*progress)(static_cast<std::uint64_t>(ulnow), static_cast<std::uint64_t>(ultotal));
  return 0;
}

// A scratch file in the temporary folder, unlinked at once: it vanishes with its
// descriptor, whatever happens to the process.
int scratchFile() {
  std::error_code ec;
  std::filesystem::path dir = std::filesystem::temp_directory_path(ec);
  if (ec) dir = "/tmp";
  std::string name = (dir / "qb-send-XXXXXX").string();
  int fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd >= 0) ::unlink(name.c_str());
  return fd;
}

// The whole message ready to upload, or nothing with `error` set.
bool buildMessage(const mime::Outgoing& mail, Message& message, std::string& error) {
  if (!mail.attachments.empty()) {
    message.fd = scratchFile();
    if (message.fd >= 0) {
      if (!mime::fBuildMessageToFile(mail, message.fd, error)) return false;
      off_t end = ::lseek(message.fd, 0, SEEK_END);
      if (end < 0) {
        error = "送信するメールを組み立てられません";
        return false;
      }
      message.size = static_cast<std::uint64_t>(end);
      return true;
    }
    // No temporary folder to write to: the message is built in memory instead.
  }
  auto bytes = mime::fBuildMessage(mail, error);
  if (!bytes) return false;
  message.bytes = std::move(*bytes);
  message.size = message.bytes.size();
  return true;
}

// What the server said that a failure text quotes.
struct Replies {
  std::string last;       // the last refusal (4xx/5xx), else the last reply line
  std::string challenge;  // the last SASL challenge (334): an OAuth refusal's reason
};

// Keeps the server's last refusal, else its last reply line (the "221 Bye" after a
// refused RCPT says nothing), and the last challenge.
int debugTap(CURL*, curl_infotype type, char* data, std::size_t size, void* userp) {
  if (type != CURLINFO_HEADER_IN) return 0;
  std::string_view text(data, size);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
  if (auto nl = text.rfind('\n'); nl != std::string_view::npos) text.remove_prefix(nl + 1);
  auto* replies = static_cast<Replies*>(userp);
  if (text.substr(0, 4) == "334 ") replies->challenge = std::string(text.substr(4));
  std::string* reply = &replies->last;
  bool refusal = !text.empty() && (text[0] == '4' || text[0] == '5');
  bool keptRefusal = !reply->empty() && ((*reply)[0] == '4' || (*reply)[0] == '5');
  if (!text.empty() && (refusal || !keptRefusal)) *reply = std::string(text);
  return 0;
}

// The receiving side's verification: the CA file, the server name, a trusted certificate.
CURLcode prepareTls(CURL*, void* sslctx, void* userp) {
  std::string error;
  return net::fPrepareClientContext(static_cast<SSL_CTX*>(sslctx), *static_cast<const std::string*>(userp), error)
             ? CURLE_OK
             : CURLE_SSL_CACERT_BADFILE;
}

std::string failureText(CURLcode code, const std::string& host, int port, const char* errbuf,
                        const Replies& replies, bool bearer) {
  std::string detail = net::fPlainTlsDetail(errbuf[0] ? errbuf : curl_easy_strerror(code));
  std::string words = net::fCleanServerText(replies.last);
  std::string where = host + ":" + std::to_string(port);
  const std::string cut = "SMTPサーバとの接続が途中で切れました (" + detail + ")";
  switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
      return std::string(kFailed) + ": SMTPサーバが見つかりません (" + host + "): " + detail;
    case CURLE_COULDNT_CONNECT:
      return std::string(kFailed) + ": SMTPサーバに接続できません (" + where + "): " + detail;
    case CURLE_OPERATION_TIMEDOUT:
      return std::string(kFailed) + ": SMTPサーバの応答がありません (時間切れです)";
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CACERT_BADFILE:
      if (std::string why = net::fRefusedCertificateText(host); !why.empty())
        return std::string(kFailed) + ": SMTP: " + why;
      if (detail.find("unexpected eof") != std::string::npos || detail.find("SSL_ERROR_SYSCALL") != std::string::npos)
        return std::string(kFailed) + ": " + cut;
      return std::string(kFailed) + ": TLS接続に失敗しました (" + where + "): " + detail;
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_GOT_NOTHING:
      // libcurl says "send error" for a refused RCPT as well: the server's words decide.
      if (!words.empty() && (words[0] == '4' || words[0] == '5')) break;
      return std::string(kFailed) + ": " + cut;
    case CURLE_USE_SSL_FAILED:
      return std::string(kFailed) +
             ": SMTPサーバが暗号化 (STARTTLS) に対応していないため、送りません (アカウント設定の「送信の暗号化」)";
    case CURLE_LOGIN_DENIED:
      if (bearer && replies.challenge.empty() && (words.empty() || words[0] == '2'))
        return std::string(kFailed) + ": SMTP: " + kNoOAuthMechanism;
      if (bearer)
        return std::string(kFailed) + ": SMTP: " + sasl::fTokenFailureText(replies.challenge) +
               (words.empty() ? "" : ": " + words);
      return std::string(kFailed) + ": SMTP: ログインを拒否されました (ユーザーIDとパスワードを確かめてください): " + words;
    default:
      break;
  }
  if (words.compare(0, 3, "421") == 0) return std::string(kFailed) + ": SMTP: サーバが接続を閉じました: " + words;
  if (!words.empty() && (words[0] == '4' || words[0] == '5'))
    return std::string(kFailed) + ": " + words;
  return std::string(kFailed) + ": " + detail + (words.empty() ? "" : " (" + words + ")");
}

std::string logTime() {
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y/%m/%d %H:%M:%S", &tm);
  return buf;
}

// One line per attempt, appended in a single write; the password never appears.
void appendLog(std::string_view logFile, std::string_view server, const std::string& rcpts,
               const std::string& result) {
  if (logFile.empty()) return;
  std::string line = logTime() + "\t" + std::string(server) + "\t" + rcpts + "\t" + result + "\r\n";
  for (auto& c : line)
    if (c == '\n' && &c != &line.back()) c = ' ';
  int fd = ::open(std::string(logFile).c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  if (fd < 0) return;
  (void)!::write(fd, line.data(), line.size());
  ::close(fd);
}

struct SharedHandle {
  std::mutex mutex;
  CURL* curl = nullptr;
  SharedHandle() { curl_global_init(CURL_GLOBAL_DEFAULT); }
};

SharedHandle& shared() {
  static SharedHandle h;
  return h;
}

SendStatus send(std::string_view server, const mime::Outgoing& mail, const Message& message,
                std::string_view user, std::string_view pass, bool withLogin,
                const SendProgress& progress) {
  const LibrarySettings settings = fGetLibrarySettings();
  std::string host;
  int port = 25;
  if (!net::fSplitHostPort(server, ':', 25, host, port))
    return {false,
            std::string(kFailed) + ": SMTPサーバの指定が正しくありません: " + std::string(server)};
  const net::Route route = net::fRoute(host, port, settings.smtpsPort);
  const bool implicitTls = route == net::Route::Implicit;
  const std::string bearer = withLogin && !user.empty() ? BearerToken::fCurrent() : "";
  if (!bearer.empty() && route == net::Route::Plain)
    return {false, std::string(kFailed) +
                       ": OAuth 2.0 のサインインは暗号化した接続でしか行いません (アカウント設定の「送信の暗号化」)"};
  std::string domain = "localhost";
  if (auto at = mail.from.address.rfind('@'); at != std::string::npos) domain = mail.from.address.substr(at + 1);
  std::string hostPart = host.find(':') != std::string::npos ? "[" + host + "]" : host;
  std::string url = std::string(implicitTls ? "smtps://" : "smtp://") + hostPart + ":" +
                    std::to_string(port) + "/" + domain;

  SharedHandle& h = shared();
  std::lock_guard lock(h.mutex);
  if (!h.curl) h.curl = curl_easy_init();
  if (!h.curl) return {false, std::string(kFailed) + ": 送信の準備ができません"};
  CURL* c = h.curl;
  curl_easy_reset(c);  // keeps the connection cache

  curl_slist* rcpts = nullptr;
  for (const auto* list : {&mail.rcpt.to, &mail.rcpt.cc, &mail.rcpt.bcc})
    for (const auto& m : *list) rcpts = curl_slist_append(rcpts, ("<" + m.address + ">").c_str());
  Upload upload{message};
  Replies replies;
  char errbuf[CURL_ERROR_SIZE] = "";
  const long timeout = settings.timeoutSeconds > 0 ? settings.timeoutSeconds : 60;

  curl_easy_setopt(c, CURLOPT_URL, url.c_str());
  curl_easy_setopt(c, CURLOPT_MAIL_FROM, ("<" + mail.from.address + ">").c_str());
  curl_easy_setopt(c, CURLOPT_MAIL_RCPT, rcpts);
  curl_easy_setopt(c, CURLOPT_UPLOAD, 1L);
  curl_easy_setopt(c, CURLOPT_READFUNCTION, readBody);
  curl_easy_setopt(c, CURLOPT_READDATA, &upload);
  curl_easy_setopt(c, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(message.size));
  if (progress) {
    curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, uploadProgress);
    curl_easy_setopt(c, CURLOPT_XFERINFODATA, &progress);
  }
  curl_easy_setopt(c, CURLOPT_UPLOAD_BUFFERSIZE, 512L * 1024);
  curl_easy_setopt(c, CURLOPT_TCP_NODELAY, 1L);
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, timeout);
  curl_easy_setopt(c, CURLOPT_SERVER_RESPONSE_TIMEOUT, timeout);
  curl_easy_setopt(c, CURLOPT_ERRORBUFFER, errbuf);
  curl_easy_setopt(c, CURLOPT_VERBOSE, 1L);
  curl_easy_setopt(c, CURLOPT_DEBUGFUNCTION, debugTap);
  curl_easy_setopt(c, CURLOPT_DEBUGDATA, &replies);
  curl_easy_setopt(c, CURLOPT_SSL_CTX_FUNCTION, prepareTls);
  curl_easy_setopt(c, CURLOPT_SSL_CTX_DATA, &host);
  curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 0L);  // checked by prepareTls's verification
  std::string userText(user), passText(pass);
  if (!bearer.empty()) {
    // The token instead of the password, by OAUTHBEARER or XOAUTH2 only.
    curl_easy_setopt(c, CURLOPT_USERNAME, userText.c_str());
    curl_easy_setopt(c, CURLOPT_XOAUTH2_BEARER, bearer.c_str());
    curl_easy_setopt(c, CURLOPT_LOGIN_OPTIONS, "AUTH=OAUTHBEARER;AUTH=XOAUTH2");
  } else if (withLogin && !userText.empty()) {
    curl_easy_setopt(c, CURLOPT_USERNAME, userText.c_str());
    curl_easy_setopt(c, CURLOPT_PASSWORD, passText.c_str());
  }
  // STARTTLS is a must unless the user chose a clear link, or the server is this machine
  // (where it is used when offered). In clear libcurl prefers CRAM-MD5 to PLAIN/LOGIN.
  if (!implicitTls) {
    long useSsl = route == net::Route::Plain                                  ? CURLUSESSL_NONE
                  : route == net::Route::StartTlsIfOffered && bearer.empty() ? CURLUSESSL_TRY
                                                           : CURLUSESSL_ALL;
    curl_easy_setopt(c, CURLOPT_USE_SSL, useSsl);
  }
  CURLcode rc = curl_easy_perform(c);
  curl_slist_free_all(rcpts);
  // The handle must not keep pointers into this call's locals or the password.
  curl_easy_setopt(c, CURLOPT_ERRORBUFFER, nullptr);
  curl_easy_setopt(c, CURLOPT_DEBUGDATA, nullptr);
  curl_easy_setopt(c, CURLOPT_MAIL_RCPT, nullptr);
  curl_easy_setopt(c, CURLOPT_READDATA, nullptr);
  curl_easy_setopt(c, CURLOPT_SSL_CTX_DATA, nullptr);
  curl_easy_setopt(c, CURLOPT_XFERINFODATA, nullptr);
  curl_easy_setopt(c, CURLOPT_NOPROGRESS, 1L);
  if (rc == CURLE_OK) return {true, kSent};
  return {false, failureText(rc, host, port, errbuf, replies, !bearer.empty())};
}

SendStatus sendMail(std::string_view logFile, std::string_view server, std::string_view recipients,
                    std::string_view sender, std::string_view subject, std::string_view body,
                    std::string_view attachments, std::string_view user, std::string_view pass,
                    bool withLogin, const SendProgress& progress, const ThreadHeaders& thread) {
  std::string rcptLog;
  SendStatus result;
  try {
    std::string error;
    mime::Outgoing mail;
    auto rcpt = mime::fParseRecipients(recipients, error);
    auto from = mime::fParseMailbox(sender, error);
    if (rcpt) {
      for (const auto* list : {&rcpt->to, &rcpt->cc, &rcpt->bcc})
        for (const auto& m : *list) rcptLog += (rcptLog.empty() ? "" : ", ") + m.address;
    }
    if (!rcpt || !from) {
      result.text = std::string(kFailed) + ": " + error;
    } else if (rcpt->to.empty() && rcpt->cc.empty() && rcpt->bcc.empty()) {
      result.text = std::string(kFailed) + ": 宛先がありません";
    } else {
      mail.rcpt = std::move(*rcpt);
      mail.from = std::move(*from);
      mail.subject = std::string(subject);
      mail.body = std::string(body);
      mail.inReplyTo = thread.inReplyTo;
      mail.references = thread.references;
      for (std::string_view rest = attachments; !rest.empty();) {
        std::size_t tab = rest.find('\t');
        std::string_view one = rest.substr(0, tab);
        if (!one.empty()) mail.attachments.emplace_back(one);
        rest.remove_prefix(tab == std::string_view::npos ? rest.size() : tab + 1);
      }
      Message message;
      if (!buildMessage(mail, message, error))
        result.text = std::string(kFailed) + ": " + error;
      else
        result = send(server, mail, message, user, pass, withLogin, progress);
    }
  } catch (const std::exception& e) {
    result = {false, std::string(kFailed) + ": " + e.what()};
  }
  appendLog(logFile, server, rcptLog, result.text);
  return result;
}

}  // namespace

SendStatus SendMailEx(std::string_view logFile, std::string_view server,
                      std::string_view recipients, std::string_view sender,
                      std::string_view subject, std::string_view body,
                      std::string_view attachments) {
  return sendMail(logFile, server, recipients, sender, subject, body, attachments, {}, {}, false,
                  {}, {});
}

SendStatus SendMailEx(std::string_view logFile, std::string_view server,
                      std::string_view recipients, std::string_view sender,
                      std::string_view subject, std::string_view body, std::string_view attachments,
                      std::string_view user, std::string_view pass, const SendProgress& progress,
                      const ThreadHeaders& thread) {
  return sendMail(logFile, server, recipients, sender, subject, body, attachments, user, pass, true,
                  progress, thread);
}

}  // namespace mail
