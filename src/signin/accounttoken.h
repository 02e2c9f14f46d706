#pragma once
// An account's OAuth 2.0 access token while the program runs: kept in memory only,
// refreshed with the stored refresh token before it expires or when a server refuses
// it. A refresh token refused for good is removed, so the account shows that it needs
// to sign in again; nothing here ever asks the user anything.
#include <filesystem>
#include <string>

#include "mail/mail.h"
#include "signin/oauthflow.h"
#include "store/accountsettings.h"

namespace signin {

// The account's endpoints: its provider's preset (or its own custom entry) and client ID.
Endpoints fAccountEndpoints(const accountsettings::AccountSettings& settings);

// The account signs in with OAuth 2.0 and has no refresh token.
bool fNeedsSignIn(const accountsettings::AccountSettings& settings);

struct AccessToken {
  std::string token;  // empty: see error
  std::string error;
};
// A token for the account, refreshed when it is due within a minute or `refresh` asks.
AccessToken fAccessToken(const std::filesystem::path& accountFolder, bool refresh = false);

// After a sign-in: the refresh token to set.ini, the access token kept in memory.
bool fKeepSignIn(const std::filesystem::path& accountFolder, const Tokens& tokens);
// Drops the access token held for the account (its settings changed).
void sForgetAccessToken(const std::filesystem::path& accountFolder);

// The failure text of a library result, for the template below.
inline std::string fResultText(const mail::MailResult& r) {
  const auto* text = std::get_if<std::string>(&r);
  return text ? *text : std::string();
}
inline std::string fResultText(const mail::SendStatus& s) {
  return s.sent ? std::string() : s.text;
}

// Runs `call` as the account signs in: for a password account once, as it is; for an
// OAuth 2.0 account with its access token in force on this thread, and once more with a
// fresh one when the server refused it. `failed(text)` is what `call` returns when no
// token can be had (the reason in words).
template <class Call, class Failed>
auto fWithAccountSignIn(const std::filesystem::path& accountFolder, Call call, Failed failed)
    -> decltype(call()) {
  if (accountsettings::fLoad(accountFolder).auth != accountsettings::Auth::OAuth2) return call();
  auto result = failed(std::string());
  for (bool refresh : {false, true}) {
    const AccessToken token = fAccessToken(accountFolder, refresh);
    if (token.token.empty()) return failed(token.error);
    mail::BearerToken bearer(token.token);
    result = call();
    if (!mail::fIsTokenRefusal(fResultText(result))) break;
  }
  return result;
}

// The account whose sign-in fRcvMail uses on this thread while an object lives: the
// receive run's account step sets it; a window that moves the call to a worker thread
// carries it over, so that a token is refreshed there and not on the window's thread.
class AccountScope {
 public:
  explicit AccountScope(std::filesystem::path accountFolder);
  ~AccountScope();
  AccountScope(const AccountScope&) = delete;
  AccountScope& operator=(const AccountScope&) = delete;
  static std::filesystem::path fCurrent();

 private:
  std::filesystem::path previous_;
};

// RcvMail as the account in scope signs in (fWithAccountSignIn); without one, RcvMail.
mail::MailResult fRcvMail(std::string_view server, std::string_view user, std::string_view pass,
                          std::string_view command, std::string_view dest,
                          const mail::Progress& progress, const mail::Saved& saved);

}  // namespace signin
