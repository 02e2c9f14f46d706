#pragma once
// The SASL side of OAuth 2.0 sign-in (RFC 7628 OAUTHBEARER and the older XOAUTH2): which
// mechanism to use, the client's initial response, and the server's error answer in words.
#include <set>
#include <string>
#include <string_view>

namespace mail::sasl {

enum class Mechanism { None, OAuthBearer, XOAuth2 };

// OAUTHBEARER when listed, else XOAUTH2, else None (names in upper case, as CAPA gives).
Mechanism fChooseMechanism(const std::set<std::string>& offered);
const char* fMechanismName(Mechanism mechanism);

// The initial client response, base64.
std::string fInitialResponse(Mechanism mechanism, std::string_view user, std::string_view token);
// What the client answers to an error challenge so that the server ends the exchange.
std::string fErrorAcknowledgement(Mechanism mechanism);

// The server's error challenge (base64 of a JSON object with "status", maybe "scope")
// in plain Japanese, beginning with kTokenRefused. An empty or unreadable challenge
// gives kTokenRefused alone (with the decoded words when there are any).
std::string fTokenFailureText(std::string_view challenge);

}  // namespace mail::sasl
