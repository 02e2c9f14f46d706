// SMTP sending over libcurl. One easy handle is kept for the process: libcurl then
// reuses the open connection for the next send to the same server, which saves the
// connect, greeting, EHLO, TLS and AUTH round trips of every further mail.
#include <curl/curl.h>
#include <fcntl.h>
#include <openssl/ssl.h>
#include <unistd.h>

#include <cstring>
#include <ctime>
#include <mutex>

#include "mail/mail.h"
#include "mail/mimebuild.h"
#include "mail/netconn.h"

namespace mail {
namespace {

constexpr const char* kSent = "送信しました";
constexpr const char* kFailed = "送信に失敗しました";

struct Upload {
  std::string_view data;
  std::size_t pos = 0;
};

std::size_t readBody(char* buffer, std::size_t size, std::size_t nitems, void* userp) {
  auto* up = static_cast<Upload*>(userp);
  std::size_t n = std::min(size * nitems, up->data.size() - up->pos);
  std::memcpy(buffer, up->data.data() + up->pos, n);
  up->pos += n;
  return n;
}

// Keeps the server's last refusal (4xx/5xx), else its last reply line: the words a
// failure text quotes (the "221 Bye" after a refused RCPT says nothing).
int debugTap(CURL*, curl_infotype type, char* data, std::size_t size, void* userp) {
  if (type != CURLINFO_HEADER_IN) return 0;
  std::string_view text(data, size);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
  if (auto nl = text.rfind('\n'); nl != std::string_view::npos) text.remove_prefix(nl + 1);
  auto* reply = static_cast<std::string*>(userp);
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
                        const std::string& reply) {
  std::string detail = net::fPlainTlsDetail(errbuf[0] ? errbuf : curl_easy_strerror(code));
  std::string words = net::fCleanServerText(reply);
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
      return std::string(kFailed) + ": SMTPサーバが暗号化に対応していないため、パスワードを送りません";
    case CURLE_LOGIN_DENIED:
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
  int fd = ::open(std::string(logFile).c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
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

std::string send(std::string_view server, const mime::Outgoing& mail, const std::string& message,
                 std::string_view user, std::string_view pass, bool withLogin) {
  const LibrarySettings settings = fGetLibrarySettings();
  std::string host;
  int port = 25;
  if (!net::fSplitHostPort(server, ':', 25, host, port))
    return std::string(kFailed) + ": SMTPサーバの指定が正しくありません: " + std::string(server);
  const bool implicitTls = port == settings.smtpsPort;
  std::string domain = "localhost";
  if (auto at = mail.from.address.rfind('@'); at != std::string::npos) domain = mail.from.address.substr(at + 1);
  std::string hostPart = host.find(':') != std::string::npos ? "[" + host + "]" : host;
  std::string url = std::string(implicitTls ? "smtps://" : "smtp://") + hostPart + ":" +
                    std::to_string(port) + "/" + domain;

  SharedHandle& h = shared();
  std::lock_guard lock(h.mutex);
  if (!h.curl) h.curl = curl_easy_init();
  if (!h.curl) return std::string(kFailed) + ": 送信の準備ができません";
  CURL* c = h.curl;
  curl_easy_reset(c);  // keeps the connection cache

  curl_slist* rcpts = nullptr;
  for (const auto* list : {&mail.rcpt.to, &mail.rcpt.cc, &mail.rcpt.bcc})
    for (const auto& m : *list) rcpts = curl_slist_append(rcpts, ("<" + m.address + ">").c_str());
  Upload upload{message};
  std::string reply;
  char errbuf[CURL_ERROR_SIZE] = "";
  const bool loopback = net::fIsLoopbackHost(host);
  const long timeout = settings.timeoutSeconds > 0 ? settings.timeoutSeconds : 60;

  curl_easy_setopt(c, CURLOPT_URL, url.c_str());
  curl_easy_setopt(c, CURLOPT_MAIL_FROM, ("<" + mail.from.address + ">").c_str());
  curl_easy_setopt(c, CURLOPT_MAIL_RCPT, rcpts);
  curl_easy_setopt(c, CURLOPT_UPLOAD, 1L);
  curl_easy_setopt(c, CURLOPT_READFUNCTION, readBody);
  curl_easy_setopt(c, CURLOPT_READDATA, &upload);
  curl_easy_setopt(c, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(message.size()));
  curl_easy_setopt(c, CURLOPT_UPLOAD_BUFFERSIZE, 512L * 1024);
  curl_easy_setopt(c, CURLOPT_TCP_NODELAY, 1L);
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, timeout);
  curl_easy_setopt(c, CURLOPT_SERVER_RESPONSE_TIMEOUT, timeout);
  curl_easy_setopt(c, CURLOPT_ERRORBUFFER, errbuf);
  curl_easy_setopt(c, CURLOPT_VERBOSE, 1L);
  curl_easy_setopt(c, CURLOPT_DEBUGFUNCTION, debugTap);
  curl_easy_setopt(c, CURLOPT_DEBUGDATA, &reply);
  curl_easy_setopt(c, CURLOPT_SSL_CTX_FUNCTION, prepareTls);
  curl_easy_setopt(c, CURLOPT_SSL_CTX_DATA, &host);
  curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 0L);  // checked by prepareTls's verification
  std::string userText(user), passText(pass);
  if (withLogin && !userText.empty()) {
    curl_easy_setopt(c, CURLOPT_USERNAME, userText.c_str());
    curl_easy_setopt(c, CURLOPT_PASSWORD, passText.c_str());
  }
  // A password goes in clear only to this machine; elsewhere TLS is a must.
  const bool mustEncrypt = withLogin && !userText.empty() && !loopback;
  if (!implicitTls) curl_easy_setopt(c, CURLOPT_USE_SSL, mustEncrypt ? CURLUSESSL_ALL : CURLUSESSL_TRY);

  CURLcode rc = curl_easy_perform(c);
  curl_slist_free_all(rcpts);
  // The handle must not keep pointers into this call's locals or the password.
  curl_easy_setopt(c, CURLOPT_ERRORBUFFER, nullptr);
  curl_easy_setopt(c, CURLOPT_DEBUGDATA, nullptr);
  curl_easy_setopt(c, CURLOPT_MAIL_RCPT, nullptr);
  curl_easy_setopt(c, CURLOPT_READDATA, nullptr);
  curl_easy_setopt(c, CURLOPT_SSL_CTX_DATA, nullptr);
  if (rc == CURLE_OK) return kSent;
  return failureText(rc, host, port, errbuf, reply);
}

std::string sendMail(std::string_view logFile, std::string_view server, std::string_view recipients,
                     std::string_view sender, std::string_view subject, std::string_view body,
                     std::string_view attachments, std::string_view user, std::string_view pass,
                     bool withLogin) {
  std::string rcptLog;
  std::string result;
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
      result = std::string(kFailed) + ": " + error;
    } else if (rcpt->to.empty() && rcpt->cc.empty() && rcpt->bcc.empty()) {
      result = std::string(kFailed) + ": 宛先がありません";
    } else {
      mail.rcpt = std::move(*rcpt);
      mail.from = std::move(*from);
      mail.subject = std::string(subject);
      mail.body = std::string(body);
      for (std::string_view rest = attachments; !rest.empty();) {
        std::size_t tab = rest.find('\t');
        std::string_view one = rest.substr(0, tab);
        if (!one.empty()) mail.attachments.emplace_back(one);
        rest.remove_prefix(tab == std::string_view::npos ? rest.size() : tab + 1);
      }
      auto message = mime::fBuildMessage(mail, error);
      if (!message) result = std::string(kFailed) + ": " + error;
      else result = send(server, mail, *message, user, pass, withLogin);
    }
  } catch (const std::exception& e) {
    result = std::string(kFailed) + ": " + e.what();
  }
  appendLog(logFile, server, rcptLog, result);
  return result;
}

}  // namespace

std::string SendMailEx(std::string_view logFile, std::string_view server,
                       std::string_view recipients, std::string_view sender,
                       std::string_view subject, std::string_view body,
                       std::string_view attachments) {
  return sendMail(logFile, server, recipients, sender, subject, body, attachments, {}, {}, false);
}

std::string SendMailEx(std::string_view logFile, std::string_view server,
                       std::string_view recipients, std::string_view sender,
                       std::string_view subject, std::string_view body,
                       std::string_view attachments, std::string_view user,
                       std::string_view pass) {
  return sendMail(logFile, server, recipients, sender, subject, body, attachments, user, pass, true);
}

}  // namespace mail
