#include "store/accountsettings.h"

#include <algorithm>
#include <deque>

#include "store/mailstore.h"
#include "store/mod_ini.h"
#include "store/modCommon.h"
#include "store/text.h"

namespace accountsettings {
namespace {

// Stored words of the security choices; anything else reads as Standard.
constexpr std::pair<Security, std::string_view> kSecurityWords[] = {
    {Security::Tls, "SSL"}, {Security::StartTls, "STARTTLS"}, {Security::None, "NONE"}};

Security parseSecurity(std::string_view text) {
  std::string upper(text);
  for (auto& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  for (auto [security, word] : kSecurityWords)
    if (upper == word) return security;
  return Security::Standard;
}

std::string_view securityWord(Security security) {
  for (auto [s, word] : kSecurityWords)
    if (s == security) return word;
  return "";
}

bool isLoopback(std::string_view host) {
  std::string h(host);
  for (auto& c : h) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return h == "localhost" || h == "::1" || h == "[::1]" || h.rfind("127.", 0) == 0;
}

}  // namespace

Security fEffectiveSecurity(Security chosen, std::string_view host, std::string_view port,
                            std::string_view implicitPort) {
  if (chosen != Security::Standard) return chosen;
  if (port == implicitPort) return Security::Tls;
  return isLoopback(host) ? Security::Standard : Security::StartTls;
}

std::pair<std::string, std::string> fSmtpCredentials(const AccountSettings& s) {
  switch (s.smtpLogin) {
    case SmtpLogin::None:
      return {};
    case SmtpLogin::Own:
      return {s.smtpUser, s.smtpPass};
    case SmtpLogin::SameAsReceiving:
      break;
  }
  return {s.user, s.pass};
}

std::string fJoinServer(std::string_view host, std::string_view port, char separator) {
  std::string out(host);
  if (!port.empty()) {
    out += separator;
    out += port;
  }
  return out;
}

std::pair<std::string, std::string> fSplitServer(std::string_view value, char separator) {
  size_t at = value.find(separator);
  if (at == std::string_view::npos) return {std::string(value), ""};
  return {std::string(value.substr(0, at)), std::string(value.substr(at + 1))};
}

AccountSettings fLoad(const std::filesystem::path& accountFolder) {
  using modCommon::fGetAccountValue;
  AccountSettings s;
  s.account = fGetAccountValue(accountFolder, "Account");
  s.address = fGetAccountValue(accountFolder, "Address");
  s.name = fGetAccountValue(accountFolder, "Name");
  std::tie(s.smtpHost, s.smtpPort) = fSplitServer(fGetAccountValue(accountFolder, "SMTP"), ':');
  std::tie(s.pop3Host, s.pop3Port) = fSplitServer(fGetAccountValue(accountFolder, "POP3"), '\t');
  s.user = fGetAccountValue(accountFolder, "User");
  s.pass = fGetAccountValue(accountFolder, "Pass");
  auto ini = mod_ini::IniFile::fLoad(accountFolder / "set.ini");
  s.keepOnServer = mod_ini::fParseIniInt(ini.fGet("Mail", "SvrDel").value_or(""), 0) != 0;
  s.rules = rulelist::readRuleList(ini.fGet("Mail", "Distribute").value_or(""));
  s.pop3CertPin = ini.fGet("Mail", kPop3CertPinKey).value_or("");
  s.smtpCertPin = ini.fGet("Mail", kSmtpCertPinKey).value_or("");
  s.pop3Security = parseSecurity(ini.fGet("Mail", kPop3SecurityKey).value_or(""));
  s.smtpSecurity = parseSecurity(ini.fGet("Mail", kSmtpSecurityKey).value_or(""));
  const long login = mod_ini::fParseIniInt(ini.fGet("Mail", "SMTPAuth").value_or("1"), 1);
  s.smtpLogin = login == 0 ? SmtpLogin::None : login == 2 ? SmtpLogin::Own : SmtpLogin::SameAsReceiving;
  s.smtpUser = fGetAccountValue(accountFolder, "SMTPUser");
  s.smtpPass = fGetAccountValue(accountFolder, "SMTPPass");
  s.auth = text::lower(ini.fGet("Mail", kAuthKey).value_or("")) == "oauth2" ? Auth::OAuth2 : Auth::Password;
  s.oauth.provider = ini.fGet("Mail", "OAuthProvider").value_or("");
  s.oauth.authorizeUrl = ini.fGet("Mail", "OAuthAuthorize").value_or("");
  s.oauth.tokenUrl = ini.fGet("Mail", "OAuthToken").value_or("");
  s.oauth.scope = ini.fGet("Mail", "OAuthScope").value_or("");
  s.oauth.clientId = ini.fGet("Mail", "OAuthClientID").value_or("");
  s.oauth.clientSecret = fGetAccountValue(accountFolder, "OAuthClientSecret");
  s.oauth.refreshToken = fGetAccountValue(accountFolder, kOAuthRefreshKey);
  return s;
}

bool fSave(const std::filesystem::path& accountFolder, const AccountSettings& s) {
  // One rewrite of set.ini for the whole dialog, so a failure leaves the old file whole.
  auto path = accountFolder / "set.ini";
  auto ini = mod_ini::IniFile::fLoad(path);
  auto put = [&](std::string_view key, std::string_view value) {
    ini.sSet("Mail", key, modCommon::fEncodeSetting(value, modCommon::kSettingKey));
  };
  put("Account", s.account);
  put("Address", s.address);
  put("Name", s.name);
  put("SMTP", fJoinServer(s.smtpHost, s.smtpPort, ':'));
  put("POP3", fJoinServer(s.pop3Host, s.pop3Port, '\t'));
  put("User", s.user);
  put("Pass", s.pass);
  ini.sSet("Mail", "Distribute", rulelist::writeRuleList(s.rules));
  ini.sSet("Mail", "SvrDel", s.keepOnServer ? "1" : "0");
  // Only an account that trusts a certificate gets the key.
  for (auto [key, pin] : {std::pair{kPop3CertPinKey, &s.pop3CertPin}, std::pair{kSmtpCertPinKey, &s.smtpCertPin}}) {
    if (!pin->empty() || ini.fGet("Mail", key)) ini.sSet("Mail", key, *pin);
  }
  // Accounts that never chose keep their files as they were (and the standard rule).
  for (auto [key, security] : {std::pair{kPop3SecurityKey, s.pop3Security}, std::pair{kSmtpSecurityKey, s.smtpSecurity}}) {
    if (security != Security::Standard) ini.sSet("Mail", key, std::string(securityWord(security)));
    else if (ini.fGet("Mail", key)) ini.sSet("Mail", key, std::nullopt);
  }
  if (s.smtpLogin != SmtpLogin::SameAsReceiving || ini.fGet("Mail", "SMTPAuth"))
    ini.sSet("Mail", "SMTPAuth", s.smtpLogin == SmtpLogin::None ? "0" : s.smtpLogin == SmtpLogin::Own ? "2" : "1");
  if (s.smtpLogin == SmtpLogin::Own || ini.fGet("Mail", "SMTPUser")) {
    put("SMTPUser", s.smtpUser);
    put("SMTPPass", s.smtpPass);
  }
  // Password accounts that never chose keep their files as they were.
  if (s.auth == Auth::OAuth2 || ini.fGet("Mail", kAuthKey)) {
    ini.sSet("Mail", kAuthKey, s.auth == Auth::OAuth2 ? "OAUTH2" : "PASSWORD");
    ini.sSet("Mail", "OAuthProvider", s.oauth.provider);
    ini.sSet("Mail", "OAuthAuthorize", s.oauth.authorizeUrl);
    ini.sSet("Mail", "OAuthToken", s.oauth.tokenUrl);
    ini.sSet("Mail", "OAuthScope", s.oauth.scope);
    ini.sSet("Mail", "OAuthClientID", s.oauth.clientId);
    put("OAuthClientSecret", s.oauth.clientSecret);
    put(kOAuthRefreshKey, s.oauth.refreshToken);
  }
  return ini.fSave(path);
}

bool fSaveRefreshToken(const std::filesystem::path& accountFolder, std::string_view token) {
  auto path = accountFolder / "set.ini";
  auto ini = mod_ini::IniFile::fLoad(path);
  ini.sSet("Mail", kOAuthRefreshKey, modCommon::fEncodeSetting(token, modCommon::kSettingKey));
  return ini.fSave(path);
}

std::vector<std::string> fListDestinationFolders(const std::filesystem::path& accountFolder) {
  std::vector<std::string> out;
  std::deque<std::filesystem::path> pending{std::filesystem::path()};
  while (!pending.empty()) {
    std::filesystem::path rel = pending.front();
    pending.pop_front();
    std::error_code ec;
    std::filesystem::directory_iterator it(accountFolder / rel, ec);
    std::vector<std::filesystem::path> children;
    for (; !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
      if (it->is_directory(ec)) children.push_back(rel / it->path().filename());
    }
    std::sort(children.begin(), children.end());
    for (const auto& c : children) {
      std::string text = mailstore::fUtf8(c);
      std::replace(text.begin(), text.end(), '/', '\\');
      out.push_back(text);
    }
    // Each sub-folder is searched in turn, after all of this folder's own.
    pending.insert(pending.begin(), children.begin(), children.end());
  }
  return out;
}

}  // namespace accountsettings
