#pragma once
// An account's set.ini as the account settings dialog edits it: the scrambled values,
// the server/port pairs, "SvrDel" and the filing rules in their stored text form.
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "store/rulelist.h"

namespace accountsettings {

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
};

// The keys of those fingerprints in set.ini's "Mail" section.
inline constexpr std::string_view kPop3CertPinKey = "POP3CertPin";
inline constexpr std::string_view kSmtpCertPinKey = "SMTPCertPin";

AccountSettings fLoad(const std::filesystem::path& accountFolder);
// Writes every key ("Distribute" even when empty). False when a write failed.
bool fSave(const std::filesystem::path& accountFolder, const AccountSettings& settings);

// "host" or "host" + separator + port; an empty port leaves the host alone.
std::string fJoinServer(std::string_view host, std::string_view port, char separator);
// Splits at the first separator: {host, port}; no separator gives an empty port.
std::pair<std::string, std::string> fSplitServer(std::string_view value, char separator);

// Every folder below the account folder, relative and written with "\", a folder's
// own sub-folders listed first and then each searched in turn.
std::vector<std::string> fListDestinationFolders(const std::filesystem::path& accountFolder);

}  // namespace accountsettings
