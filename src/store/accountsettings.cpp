#include "store/accountsettings.h"

#include <algorithm>
#include <deque>

#include "store/mailstore.h"
#include "store/mod_ini.h"
#include "store/modCommon.h"

namespace accountsettings {
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
