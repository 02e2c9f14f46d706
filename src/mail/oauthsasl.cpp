#include "mail/oauthsasl.h"

#include "mail/json.h"
#include "mail/mail.h"
#include "mail/mailheader.h"
#include "mail/netconn.h"
#include "store/text.h"

namespace mail {
namespace {
thread_local std::string tBearer;
}  // namespace

BearerToken::BearerToken(std::string_view token) : previous_(tBearer) {
  tBearer = std::string(token);
}
BearerToken::~BearerToken() { tBearer = previous_; }
std::string BearerToken::fCurrent() { return tBearer; }

bool fIsTokenRefusal(std::string_view text) {
  return text.find(kTokenRefused) != std::string_view::npos;
}

namespace sasl {

Mechanism fChooseMechanism(const std::set<std::string>& offered) {
  if (offered.count("OAUTHBEARER")) return Mechanism::OAuthBearer;
  if (offered.count("XOAUTH2")) return Mechanism::XOAuth2;
  return Mechanism::None;
}

const char* fMechanismName(Mechanism mechanism) {
  return mechanism == Mechanism::OAuthBearer ? "OAUTHBEARER"
         : mechanism == Mechanism::XOAuth2   ? "XOAUTH2"
                                             : "";
}

std::string fInitialResponse(Mechanism mechanism, std::string_view user, std::string_view token) {
  std::string plain;
  if (mechanism == Mechanism::OAuthBearer) {
    // RFC 5801's saslname: ',' and '=' are escaped in the authorization identity.
    plain = "n,a=";
    for (char c : user) plain += c == ',' ? "=2C" : c == '=' ? "=3D" : std::string(1, c);
    plain += ",\x01";
  } else {
    plain = "user=" + std::string(user) + "\x01";
  }
  plain += "auth=Bearer " + std::string(token) + "\x01\x01";
  return text::base64(plain);
}

std::string fErrorAcknowledgement(Mechanism mechanism) {
  return mechanism == Mechanism::OAuthBearer ? text::base64("\x01") : "";
}

std::string fTokenFailureText(std::string_view challenge) {
  const std::string decoded = header::fBase64Decode(text::trim(challenge, text::kWhiteSpace));
  std::string out(kTokenRefused);
  const auto value = json::fParse(decoded);
  if (!value || value->kind != json::Value::Kind::Object) {
    const std::string words = net::fCleanServerText(decoded);
    return words.empty() ? out : out + " (" + words + ")";
  }
  const std::string status = value->fText("status");
  const std::string lower = text::lower(status);
  if (lower == "invalid_token" || lower == "401")
    out += ": 期限が切れたか、取り消されたトークンです";
  else if (lower == "insufficient_scope" || lower == "403")
    out += ": トークンにメールを扱う権限がありません (スコープが足りません)";
  else if (lower == "invalid_request" || lower == "400")
    out += ": サーバが要求の形式を受け付けません";
  else if (!status.empty())
    out += ": サーバの答えは「" + net::fCleanServerText(status) + "」です";
  if (!status.empty()) out += " (" + net::fCleanServerText(status) + ")";
  if (const std::string scope = value->fText("scope"); !scope.empty())
    out += "; 必要なスコープ: " + net::fCleanServerText(scope);
  return out;
}

}  // namespace sasl
}  // namespace mail
