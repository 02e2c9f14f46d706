#pragma once
// Known OAuth 2.0 providers: their endpoints, scope and mail servers, found by the
// domain of an address; any other provider is a custom entry with its own endpoints.
#include <string>
#include <string_view>
#include <vector>

namespace signin {

struct Provider {
  std::string id;    // stored in set.ini ("google"); "custom" for the user's own entry
  std::string name;  // shown in the dialog
  std::vector<std::string> domains;
  std::string authorizeUrl, tokenUrl, scope;
  std::string pop3Host, pop3Port, smtpHost, smtpPort;
  // Where the guide says a client ID is registered for this provider.
  std::string registration;
};

inline constexpr std::string_view kCustomProvider = "custom";

const std::vector<Provider>& fProviders();
// The preset for the address's domain (any case), or nothing.
const Provider* fProviderForAddress(std::string_view address);
const Provider* fFindProvider(std::string_view id);

}  // namespace signin
