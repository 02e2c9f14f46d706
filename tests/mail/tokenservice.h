#pragma once
// The tests' side of the token service that MailServers starts with OAuth 2.0: issuing,
// expiring and revoking tokens, and plain HTTP requests as a browser would make them.
#include <curl/curl.h>

#include <string>

#include "mail/json.h"
#include "mailservers.h"

namespace qbtest {

struct HttpAnswer {
  long status = 0;
  std::string body;
  std::string location;  // of a redirect not followed
};

// GET `url` (POST `form` when given), following redirects when asked.
inline HttpAnswer fHttp(const std::string& url, const std::string* form = nullptr, bool follow = false) {
  HttpAnswer answer;
  CURL* c = curl_easy_init();
  curl_easy_setopt(c, CURLOPT_URL, url.c_str());
  if (form) curl_easy_setopt(c, CURLOPT_POSTFIELDS, form->c_str());
  curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, follow ? 1L : 0L);
  curl_easy_setopt(c, CURLOPT_TIMEOUT, 20L);
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, +[](char* p, size_t n, size_t m, void* out) {
    static_cast<std::string*>(out)->append(p, n * m);
    return n * m;
  });
  curl_easy_setopt(c, CURLOPT_WRITEDATA, &answer.body);
  if (curl_easy_perform(c) == CURLE_OK) {
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &answer.status);
    char* location = nullptr;
    curl_easy_getinfo(c, CURLINFO_REDIRECT_URL, &location);
    if (location) answer.location = location;
  }
  curl_easy_cleanup(c);
  return answer;
}

class TokenAdmin {
 public:
  explicit TokenAdmin(const MailServers& servers) : servers_(servers) {}
  struct Issued {
    std::string access, refresh;
  };
  Issued issue(const std::string& user, int lifetime = 3600) const {
    auto body = post("/admin/issue", "user=" + user + "&lifetime=" + std::to_string(lifetime));
    auto v = mail::json::fParse(body);
    if (!v) return {};
    return {v->fText("access_token"), v->fText("refresh_token")};
  }
  void expire(const std::string& access) const { post("/admin/expire", "token=" + access); }
  void revoke(const std::string& refresh) const { post("/admin/revoke", "token=" + refresh); }
  // How the next authorizations answer: "ok", "deny", "wrong_state".
  void answer(const std::string& how) const { post("/admin/set", "answer=" + how); }
  void lifetime(int seconds) const { post("/admin/set", "lifetime=" + std::to_string(seconds)); }

 private:
  std::string post(const std::string& path, const std::string& form) const {
    return fHttp(servers_.tokenUrl(path), &form).body;
  }
  const MailServers& servers_;
};

}  // namespace qbtest
