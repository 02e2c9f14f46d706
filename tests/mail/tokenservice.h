#pragma once
// HTTP for the sign-in tests: a browser's requests, and steering the token service.
#include <curl/curl.h>

#include <string>

#include "mail/json.h"
#include "mailservers.h"

namespace qbtest {

// The body of GET `url` (POST `form` when given), following redirects when asked.
inline std::string fHttp(const std::string& url, const std::string* form = nullptr,
                         bool follow = false) {
  std::string body;
  CURL* c = curl_easy_init();
  curl_easy_setopt(c, CURLOPT_URL, url.c_str());
  if (form) curl_easy_setopt(c, CURLOPT_POSTFIELDS, form->c_str());
  curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, follow ? 1L : 0L);
  curl_easy_setopt(c, CURLOPT_TIMEOUT, 20L);
  curl_easy_setopt(
      c, CURLOPT_WRITEFUNCTION, +[](char* p, size_t n, size_t m, void* out) {
        static_cast<std::string*>(out)->append(p, n * m);
        return n * m;
      });
  curl_easy_setopt(c, CURLOPT_WRITEDATA, &body);
  curl_easy_perform(c);
  curl_easy_cleanup(c);
  return body;
}

// POST /admin/<what> (issue, expire, revoke, set) with the form; the answer's JSON.
inline mail::json::Value fTokenAdmin(const MailServers& s, const std::string& what,
                                     const std::string& form) {
  return mail::json::fParse(fHttp(s.tokenUrl("/admin/" + what), &form))
      .value_or(mail::json::Value{});
}
struct Issued {
  std::string access, refresh;
};
inline Issued fIssue(const MailServers& s, const std::string& user) {
  const auto v = fTokenAdmin(s, "issue", "user=" + user);
  return {v.fText("access_token"), v.fText("refresh_token")};
}

}  // namespace qbtest
