#include "signin/oauthflow.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>

#include "mail/json.h"
#include "mail/mail.h"
#include "mail/netconn.h"
#include "store/text.h"

namespace signin {
namespace {

constexpr std::size_t kMaxRequest = 16 << 10;
constexpr int kRequestSeconds = 10;  // for one browser request to arrive whole

std::string escape(std::string_view s) {
  std::string out;
  for (unsigned char c : s) {
    if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
      out += static_cast<char>(c);
    } else {
      char buf[4];
      std::snprintf(buf, sizeof buf, "%%%02X", c);
      out += buf;
    }
  }
  return out;
}

std::string unescape(std::string_view s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '+') {
      out += ' ';
    } else if (s[i] == '%' && i + 2 < s.size() &&
               std::isxdigit(static_cast<unsigned char>(s[i + 1])) &&
               std::isxdigit(static_cast<unsigned char>(s[i + 2]))) {
      out += static_cast<char>(std::stoi(std::string(s.substr(i + 1, 2)), nullptr, 16));
      i += 2;
    } else {
      out += s[i];
    }
  }
  return out;
}

std::string form(std::initializer_list<std::pair<std::string_view, std::string_view>> fields) {
  std::string out;
  for (auto [name, value] : fields) {
    if (value.empty()) continue;
    if (!out.empty()) out += '&';
    out += std::string(name) + "=" + escape(value);
  }
  return out;
}

// "https://host/…", or "http://" to this machine.
bool safeAddress(std::string_view url) {
  if (url.substr(0, 8) == "https://") return true;
  if (url.substr(0, 7) != "http://") return false;
  std::string_view rest = url.substr(7);
  std::string_view host = rest.substr(0, rest.find_first_of("/?#"));
  if (!host.empty() && host.front() == '[')
    host = host.substr(0, host.find(']') + 1);
  else
    host = host.substr(0, host.rfind(':'));
  if (host.size() > 2 && host.front() == '[') host = host.substr(1, host.size() - 2);
  return mail::net::fIsLoopbackHost(host);
}

std::int64_t now() { return static_cast<std::int64_t>(std::time(nullptr)); }

CURLcode prepareTls(CURL*, void* sslctx, void* userp) {
  std::string error;
  return mail::net::fPrepareClientContext(static_cast<SSL_CTX*>(sslctx),
                                          *static_cast<const std::string*>(userp), error)
             ? CURLE_OK
             : CURLE_SSL_CACERT_BADFILE;
}

std::size_t collect(char* p, std::size_t n, std::size_t m, void* out) {
  auto* body = static_cast<std::string*>(out);
  if (body->size() + n * m > (1 << 20)) return 0;  // no token answer is this long
  body->append(p, n * m);
  return n * m;
}

Result post(const Endpoints& endpoints, const std::string& fields, bool refreshing,
            std::string_view previousRefresh) {
  if (!safeAddress(endpoints.tokenUrl))
    return {
        false,
        {},
        "トークンの取得先は https:// で始まるアドレスでなければなりません: " + endpoints.tokenUrl};
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
  CURL* c = curl_easy_init();
  if (!c) return {false, {}, "トークンを受け取る準備ができません"};
  std::string body, host;
  char errbuf[CURL_ERROR_SIZE] = "";
  if (CURLU* u = curl_url()) {
    char* h = nullptr;
    if (curl_url_set(u, CURLUPART_URL, endpoints.tokenUrl.c_str(), 0) == CURLUE_OK &&
        curl_url_get(u, CURLUPART_HOST, &h, 0) == CURLUE_OK) {
      host = h;
      curl_free(h);
    }
    curl_url_cleanup(u);
  }
  const long timeout = mail::fGetLibrarySettings().timeoutSeconds;
  curl_easy_setopt(c, CURLOPT_URL, endpoints.tokenUrl.c_str());
  curl_easy_setopt(c, CURLOPT_POSTFIELDS, fields.c_str());
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, collect);
  curl_easy_setopt(c, CURLOPT_WRITEDATA, &body);
  curl_easy_setopt(c, CURLOPT_ERRORBUFFER, errbuf);
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(c, CURLOPT_TIMEOUT, timeout > 0 ? timeout : 60L);
  curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(c, CURLOPT_SSL_CTX_FUNCTION, prepareTls);
  curl_easy_setopt(c, CURLOPT_SSL_CTX_DATA, &host);
  curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 0L);  // checked by prepareTls's verification
  curl_slist* headers = curl_slist_append(nullptr, "Accept: application/json");
  curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers);
  const CURLcode rc = curl_easy_perform(c);
  long status = 0;
  curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
  curl_slist_free_all(headers);
  curl_easy_cleanup(c);
  if (rc != CURLE_OK) {
    if (std::string why = mail::net::fRefusedCertificateText(host); !why.empty())
      return {false, {}, "トークンを受け取れません: " + why};
    return {false,
            {},
            "トークンの取得先に接続できません (" + host +
                "): " + mail::net::fPlainTlsDetail(errbuf[0] ? errbuf : curl_easy_strerror(rc))};
  }
  return fReadTokenAnswer(status, body, now(), refreshing, previousRefresh);
}

std::string page(std::string_view message) {
  std::string html =
      "<!DOCTYPE html><html lang=\"ja\"><head><meta "
      "charset=\"utf-8\"><title>Quillbrook</title></head>"
      "<body><p>";
  for (char c : message) html += c == '<' ? "&lt;" : c == '&' ? "&amp;" : std::string(1, c);
  html += "</p></body></html>";
  return html;
}

void answer(int fd, int code, std::string_view message) {
  const std::string html = page(message);
  std::string head = "HTTP/1.1 " + std::to_string(code) + (code == 200 ? " OK" : " Not Found") +
                     "\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " +
                     std::to_string(html.size()) + "\r\nConnection: close\r\n\r\n";
  const std::string all = head + html;
  (void)!::send(fd, all.data(), all.size(), MSG_NOSIGNAL);
}

}  // namespace

std::string fRandomText(std::size_t bytes) {
  std::string raw(bytes, '\0');
  if (RAND_bytes(reinterpret_cast<unsigned char*>(raw.data()), static_cast<int>(raw.size())) != 1)
    return "";
  return text::base64(raw, true);
}

std::string fChallengeOf(std::string_view verifier) {
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  EVP_Digest(verifier.data(), verifier.size(), md, &len, EVP_sha256(), nullptr);
  return text::base64(std::string_view(reinterpret_cast<const char*>(md), len), true);
}

std::string fCheckEndpoints(const Endpoints& e) {
  if (e.clientId.empty())
    return "クライアント ID が設定されていません。プロバイダの開発者向けページでデスクトップ "
           "アプリとして登録し、"
           "受け取ったクライアント ID をアカウント設定に入力してください (使い方の「OAuth 2.0 "
           "でサインインする」)";
  if (e.authorizeUrl.empty() || e.tokenUrl.empty())
    return "認可とトークンのアドレスが設定されていません (アカウント設定の「プロバイダ」)";
  for (const std::string* url : {&e.authorizeUrl, &e.tokenUrl})
    if (!safeAddress(*url))
      return "認可とトークンのアドレスは https:// で始まるものにしてください: " + *url;
  return "";
}

std::string fAuthorizationUrl(const Endpoints& e, std::string_view redirectUri,
                              std::string_view state, std::string_view challenge,
                              std::string_view loginHint) {
  std::string url = e.authorizeUrl;
  url += url.find('?') == std::string::npos ? '?' : '&';
  url += form({{"response_type", "code"},
               {"client_id", e.clientId},
               {"redirect_uri", redirectUri},
               {"scope", e.scope},
               {"state", state},
               {"code_challenge", challenge},
               {"code_challenge_method", "S256"},
               {"login_hint", loginHint}});
  return url;
}

std::optional<Redirect> fParseRedirect(std::string_view target) {
  const std::size_t q = target.find('?');
  if (q == std::string_view::npos) return std::nullopt;
  Redirect r;
  for (std::string_view pair : text::split(target.substr(q + 1), "&")) {
    const std::size_t eq = pair.find('=');
    const std::string name = unescape(pair.substr(0, eq));
    const std::string value = eq == std::string_view::npos ? "" : unescape(pair.substr(eq + 1));
    if (name == "code")
      r.code = value;
    else if (name == "state")
      r.state = value;
    else if (name == "error")
      r.error = value;
    else if (name == "error_description")
      r.description = value;
  }
  if (r.code.empty() && r.error.empty()) return std::nullopt;
  return r;
}

std::string fRedirectProblem(const Redirect& r, std::string_view expectedState) {
  // The state is checked first: an answer that is not ours is not read any further.
  if (r.state != expectedState)
    return "サインインの応答がこのサインインのものではありません (state "
           "が一致しません)。もう一度サインインしてください";
  const std::string description =
      r.description.empty() ? "" : ": " + mail::net::fCleanServerText(r.description);
  if (r.error == "access_denied")
    return "サインインが拒否されました (access_denied" + description + ")";
  if (!r.error.empty())
    return "プロバイダがエラーを返しました: " + mail::net::fCleanServerText(r.error) + description;
  return "";
}

Result fReadTokenAnswer(long status, std::string_view body, std::int64_t at, bool refreshing,
                        std::string_view previousRefresh) {
  Result result;
  const auto json = mail::json::fParse(body);
  if (status == 200 && json && !json->fText("access_token").empty()) {
    result.ok = true;
    result.tokens.access = json->fText("access_token");
    result.tokens.refresh = json->fText("refresh_token");
    if (result.tokens.refresh.empty()) result.tokens.refresh = previousRefresh;
    const auto* expires = json->find("expires_in");
    if (expires && expires->kind == mail::json::Value::Kind::Number && expires->number > 0)
      result.tokens.expiresAt = at + static_cast<std::int64_t>(expires->number);
    return result;
  }
  const std::string error = json ? json->fText("error") : "";
  const std::string description = json ? json->fText("error_description") : "";
  if (refreshing && error == "invalid_grant") {
    result.needsSignIn = true;
    result.error = std::string(kSignInAgain);
    if (!description.empty()) result.error += " (" + mail::net::fCleanServerText(description) + ")";
    return result;
  }
  result.error = "トークンを受け取れません";
  if (!error.empty()) {
    result.error += ": " + mail::net::fCleanServerText(error);
    if (!description.empty()) result.error += " (" + mail::net::fCleanServerText(description) + ")";
  } else {
    result.error += " (HTTP " + std::to_string(status) + ")";
  }
  if (error == "invalid_client" || error == "unauthorized_client")
    result.error += "。クライアント ID (とシークレット) を確かめてください";
  return result;
}

Result fExchangeCode(const Endpoints& e, std::string_view code, std::string_view verifier,
                     std::string_view redirectUri) {
  return post(e,
              form({{"grant_type", "authorization_code"},
                    {"code", code},
                    {"redirect_uri", redirectUri},
                    {"client_id", e.clientId},
                    {"client_secret", e.clientSecret},
                    {"code_verifier", verifier}}),
              false, {});
}

Result fRefresh(const Endpoints& e, std::string_view refreshToken) {
  if (refreshToken.empty()) return {false, {}, std::string(kSignInAgain), true};
  return post(e,
              form({{"grant_type", "refresh_token"},
                    {"refresh_token", refreshToken},
                    {"client_id", e.clientId},
                    {"client_secret", e.clientSecret}}),
              true, refreshToken);
}

Flow::Flow(Endpoints endpoints, std::string loginHint)
    : endpoints_(std::move(endpoints)), loginHint_(std::move(loginHint)) {}

Flow::~Flow() {
  for (int fd : {listen_, wake_[0], wake_[1]})
    if (fd >= 0) ::close(fd);
}

bool Flow::start(std::string& error) {
  error = fCheckEndpoints(endpoints_);
  if (!error.empty()) return false;
  if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) {
    error = "サインインの準備ができません: " + std::string(std::strerror(errno));
    return false;
  }
  listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (listen_ < 0 || ::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      ::listen(listen_, 8) != 0 ||
      ::getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    error = "サインインの応答を待つポートを開けません: " + std::string(std::strerror(errno));
    return false;
  }
  state_ = fRandomText(16);
  verifier_ = fRandomText(32);  // 43 characters, as RFC 7636 asks at least
  redirect_ = "http://127.0.0.1:" + std::to_string(ntohs(a.sin_port)) + "/";
  url_ = fAuthorizationUrl(endpoints_, redirect_, state_, fChallengeOf(verifier_), loginHint_);
  return true;
}

void Flow::cancel() {
  cancelled_ = true;
  if (wake_[1] >= 0) (void)!::write(wake_[1], "x", 1);
}

std::optional<Redirect> Flow::takeRequest(int fd) {
  std::string request;
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(kRequestSeconds);
  while (request.find("\r\n\r\n") == std::string::npos && request.size() < kMaxRequest) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        until - std::chrono::steady_clock::now());
    pollfd p{fd, POLLIN, 0};
    if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0)
      return std::nullopt;
    char buf[4096];
    const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n <= 0) break;
    request.append(buf, static_cast<std::size_t>(n));
  }
  // "GET /?code=… HTTP/1.1"
  const std::size_t sp = request.find(' ');
  const std::size_t sp2 = sp == std::string::npos ? sp : request.find(' ', sp + 1);
  if (request.compare(0, 4, "GET ") != 0 || sp2 == std::string::npos) {
    answer(fd, 404, "");
    return std::nullopt;
  }
  auto redirect = fParseRedirect(std::string_view(request).substr(sp + 1, sp2 - sp - 1));
  if (!redirect) {
    answer(fd, 404, "");
    return std::nullopt;
  }
  const std::string problem = fRedirectProblem(*redirect, state_);
  answer(fd, 200,
         problem.empty()
             ? "サインインの応答を受け取りました。このページを閉じて Quillbrook に戻ってください。"
             : "サインインできませんでした: " + problem);
  return redirect;
}

Result Flow::wait(std::chrono::milliseconds timeout) {
  if (listen_ < 0) return {false, {}, "サインインが始まっていません"};
  const auto until = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (cancelled_) return {false, {}, "サインインを取り消しました"};
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        until - std::chrono::steady_clock::now());
    if (left.count() <= 0)
      return {false,
              {},
              "ブラウザからの応答がないまま時間切れになりました。もう一度サインインしてください"};
    pollfd p[2] = {{listen_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    if (::poll(p, 2, static_cast<int>(std::min<long long>(left.count(), 1000))) <= 0) continue;
    if (p[1].revents) continue;  // cancelled: said above
    const int fd = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    auto redirect = takeRequest(fd);
    ::close(fd);
    if (!redirect) continue;
    // One answer only: whatever it says, nobody else is listened to.
    ::close(listen_);
    listen_ = -1;
    if (std::string problem = fRedirectProblem(*redirect, state_); !problem.empty())
      return {false, {}, problem};
    return fExchangeCode(endpoints_, redirect->code, verifier_, redirect_);
  }
}

}  // namespace signin
