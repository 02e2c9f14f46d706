#include "signin/accounttoken.h"

#include <ctime>
#include <map>
#include <mutex>

#include "signin/providers.h"

namespace signin {
namespace {

// A token due within this many seconds is refreshed before use.
constexpr std::int64_t kRefreshAhead = 60;

struct Held {
  std::string token;
  std::int64_t expiresAt = 0;
};

std::mutex gMutex;
std::map<std::string, Held>& held() {
  static std::map<std::string, Held> tokens;
  return tokens;
}

thread_local std::filesystem::path tAccount;

std::string keyOf(const std::filesystem::path& folder) {
  return folder.lexically_normal().string();
}

}  // namespace

Endpoints fAccountEndpoints(const accountsettings::AccountSettings& s) {
  Endpoints e{s.oauth.authorizeUrl, s.oauth.tokenUrl, s.oauth.scope, s.oauth.clientId,
              s.oauth.clientSecret};
  if (const Provider* p = fFindProvider(s.oauth.provider)) {
    e.authorizeUrl = p->authorizeUrl;
    e.tokenUrl = p->tokenUrl;
    e.scope = p->scope;
  }
  return e;
}

bool fNeedsSignIn(const accountsettings::AccountSettings& s) {
  return s.auth == accountsettings::Auth::OAuth2 && s.oauth.refreshToken.empty();
}

AccessToken fAccessToken(const std::filesystem::path& accountFolder, bool refresh) {
  const std::string key = keyOf(accountFolder);
  const auto now = static_cast<std::int64_t>(std::time(nullptr));
  // One refresh at a time: receiving and sending may want the token together.
  std::lock_guard lock(gMutex);
  if (!refresh) {
    auto it = held().find(key);
    if (it != held().end() &&
        (it->second.expiresAt == 0 || it->second.expiresAt - kRefreshAhead > now))
      return {it->second.token, ""};
  }
  held().erase(key);
  const auto settings = accountsettings::fLoad(accountFolder);
  if (fNeedsSignIn(settings)) return {"", std::string(kSignInAgain)};
  const Result r = fRefresh(fAccountEndpoints(settings), settings.oauth.refreshToken);
  if (!r.ok) {
    if (r.needsSignIn) accountsettings::fSaveRefreshToken(accountFolder, "");
    return {"", r.error};
  }
  if (r.tokens.refresh != settings.oauth.refreshToken)
    accountsettings::fSaveRefreshToken(accountFolder, r.tokens.refresh);  // the provider rotated it
  held()[key] = {r.tokens.access, r.tokens.expiresAt};
  return {r.tokens.access, ""};
}

bool fKeepSignIn(const std::filesystem::path& accountFolder, const Tokens& tokens) {
  std::lock_guard lock(gMutex);
  held()[keyOf(accountFolder)] = {tokens.access, tokens.expiresAt};
  return accountsettings::fSaveRefreshToken(accountFolder, tokens.refresh);
}

void sForgetAccessToken(const std::filesystem::path& accountFolder) {
  std::lock_guard lock(gMutex);
  held().erase(keyOf(accountFolder));
}

AccountScope::AccountScope(std::filesystem::path accountFolder) : previous_(tAccount) {
  tAccount = std::move(accountFolder);
}
AccountScope::~AccountScope() { tAccount = previous_; }
std::filesystem::path AccountScope::fCurrent() { return tAccount; }

mail::MailResult fRcvMail(std::string_view server, std::string_view user, std::string_view pass,
                          std::string_view command, std::string_view dest,
                          const mail::Progress& progress, const mail::Saved& saved) {
  auto call = [&]() -> mail::MailResult {
    return mail::RcvMail(server, user, pass, command, dest, progress, saved);
  };
  if (tAccount.empty()) return call();
  // A token that cannot be had ends the account's step with the reason as its text.
  return fWithAccountSignIn(
      tAccount, call, [](const std::string& why) -> mail::MailResult { return "POP3: " + why; });
}

}  // namespace signin
