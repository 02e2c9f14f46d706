#pragma once
// OAuth 2.0 sign-in for a desktop program (RFC 6749 authorization code, RFC 7636 PKCE,
// RFC 8252 loopback redirect): the address the user's browser opens, one answer taken on
// a free loopback port, the code exchanged for tokens, and refreshing the access token.
// Every failure comes back as a plain Japanese text.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace signin {

struct Endpoints {
  std::string authorizeUrl, tokenUrl, scope;
  std::string clientId, clientSecret;  // the secret only where a registration has one
};

struct Tokens {
  std::string access, refresh;
  std::int64_t expiresAt = 0;  // seconds since the epoch; 0: not told
};

struct Result {
  bool ok = false;
  Tokens tokens;
  std::string error;         // what went wrong, for the user
  bool needsSignIn = false;  // the refresh token is no longer good: sign in again
};

// Said when a refresh token is refused for good (revoked, expired).
inline constexpr std::string_view kSignInAgain =
    "サインインの有効期限が切れたか、取り消されました。アカウント設定の「サインイン…」からもう一度"
    "サインインしてください";

// Random URL-safe text from `bytes` random bytes (state, code verifier).
std::string fRandomText(std::size_t bytes);
// The S256 code challenge of a verifier: base64url of its SHA-256, unpadded.
std::string fChallengeOf(std::string_view verifier);

// Why sign-in cannot start with these endpoints (no client ID, an address that is not
// https), empty when it can.
std::string fCheckEndpoints(const Endpoints& endpoints);

std::string fAuthorizationUrl(const Endpoints& endpoints, std::string_view redirectUri,
                              std::string_view state, std::string_view challenge,
                              std::string_view loginHint);

// What the browser brought back to the redirect address.
struct Redirect {
  std::string code, state, error, description;
};
// The query of a request target ("/?code=…&state=…"); nothing when it carries neither a
// code nor an error (a browser's request for an icon, say).
std::optional<Redirect> fParseRedirect(std::string_view target);
// Empty when the answer may be exchanged, else what went wrong in words.
std::string fRedirectProblem(const Redirect& redirect, std::string_view expectedState);

// A token endpoint's answer (HTTP status and body) read at time `now`; `previous` keeps
// the refresh token when a refresh answer has none.
Result fReadTokenAnswer(long status, std::string_view body, std::int64_t now, bool refreshing,
                        std::string_view previousRefresh = {});

// POSTs to the token endpoint (https, or http to this machine only).
Result fExchangeCode(const Endpoints& endpoints, std::string_view code, std::string_view verifier,
                     std::string_view redirectUri);
Result fRefresh(const Endpoints& endpoints, std::string_view refreshToken);

// One sign-in: start() listens and makes the address for the browser; wait() takes the
// browser's answer and exchanges the code; cancel() may come from any thread.
class Flow {
 public:
  explicit Flow(Endpoints endpoints, std::string loginHint = {});
  ~Flow();
  Flow(const Flow&) = delete;
  Flow& operator=(const Flow&) = delete;

  // False with the reason in `error`.
  bool start(std::string& error);
  const std::string& authorizationUrl() const { return url_; }
  const std::string& redirectUri() const { return redirect_; }
  Result wait(std::chrono::milliseconds timeout);
  void cancel();

 private:
  // Answers one connection; a redirect when it carried the answer.
  std::optional<Redirect> takeRequest(int fd);

  Endpoints endpoints_;
  std::string loginHint_, state_, verifier_, url_, redirect_;
  int listen_ = -1;
  int wake_[2] = {-1, -1};
  std::atomic<bool> cancelled_{false};
};

}  // namespace signin
