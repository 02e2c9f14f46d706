#pragma once
// An account's set.ini as the account settings dialog edits it: the scrambled values,
// the server/port pairs, "SvrDel" and the filing rules in their stored text form.
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "store/rulelist.h"

namespace accountsettings {

// How receiving or sending protects the link ("POP3Security"/"SMTPSecurity"):
// Standard is the missing key (TLS from the start on 995/465, else STARTTLS required,
// except to this machine); the others are the user's explicit choice.
enum class Security { Standard, Tls, StartTls, None };
// Which login sending uses ("SMTPAuth"): none, the receiving one (the missing key), or
// the account's own sending ID and password.
enum class SmtpLogin { None, SameAsReceiving, Own };
// How the account signs in ("Auth"): its password (the missing key) or OAuth 2.0.
enum class Auth { Password, OAuth2 };

// OAuth 2.0 sign-in of an account. The provider is a preset's id or "custom", whose
// endpoints and scope are the account's own. The refresh token is scrambled in set.ini
// like the password; the access token is never stored.
struct OAuthSettings {
  std::string provider;
  std::string authorizeUrl, tokenUrl, scope;  // "custom" only
  std::string clientId, clientSecret;         // the secret scrambled
  std::string refreshToken;                   // empty: the account needs to sign in
};

struct AccountSettings {
  std::string account, address, name;
  std::string smtpHost, smtpPort;
  std::string pop3Host, pop3Port;
  std::string user, pass;
  bool keepOnServer = false;  // "SvrDel" 1: received mail stays on the server
  std::vector<rulelist::StoredRule> rules;
  // SHA-256 fingerprints of server certificates the user trusts beyond the system's
  // store (self-signed, private CA); plain text, empty when none.
  std::string pop3CertPin, smtpCertPin;
  Security pop3Security = Security::Standard, smtpSecurity = Security::Standard;
  SmtpLogin smtpLogin = SmtpLogin::SameAsReceiving;
  std::string smtpUser, smtpPass;  // scrambled in set.ini like "User"/"Pass"
  Auth auth = Auth::Password;
  OAuthSettings oauth;
};

// The user and password sending logs in with (both empty: no login).
std::pair<std::string, std::string> fSmtpCredentials(const AccountSettings& settings);

// What Standard comes to for a server: Tls on the implicit-TLS port, StartTls elsewhere,
// Standard itself for this machine (STARTTLS when offered, as before).
Security fEffectiveSecurity(Security chosen, std::string_view host, std::string_view port,
                            std::string_view implicitPort);

// The keys of those fingerprints in set.ini's "Mail" section.
inline constexpr std::string_view kPop3CertPinKey = "POP3CertPin";
inline constexpr std::string_view kSmtpCertPinKey = "SMTPCertPin";
inline constexpr std::string_view kPop3SecurityKey = "POP3Security";
inline constexpr std::string_view kSmtpSecurityKey = "SMTPSecurity";

inline constexpr std::string_view kAuthKey = "Auth";
inline constexpr std::string_view kOAuthRefreshKey = "OAuthRefresh";

AccountSettings fLoad(const std::filesystem::path& accountFolder);
// Writes every key ("Distribute" even when empty). False when a write failed.
bool fSave(const std::filesystem::path& accountFolder, const AccountSettings& settings);
// Writes the refresh token alone (after a sign-in or when it was refused for good).
bool fSaveRefreshToken(const std::filesystem::path& accountFolder, std::string_view token);

// "host" or "host" + separator + port; an empty port leaves the host alone.
std::string fJoinServer(std::string_view host, std::string_view port, char separator);
// Splits at the first separator: {host, port}; no separator gives an empty port.
std::pair<std::string, std::string> fSplitServer(std::string_view value, char separator);

// Every folder below the account folder, relative and written with "\", a folder's
// own sub-folders listed first and then each searched in turn.
std::vector<std::string> fListDestinationFolders(const std::filesystem::path& accountFolder);

}  // namespace accountsettings
