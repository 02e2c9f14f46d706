// Feeds arbitrary bytes to what sign-in reads from outside: a token endpoint's JSON
// answer, a SASL error challenge and the query of the browser's redirect. Strings read
// from JSON are valid UTF-8; every text for the user is too; a JSON text that reads
// reads the same again after being written out.
#include <cstdint>
#include <string>
#include <string_view>

#include "mail/json.h"
#include "mail/oauthsasl.h"
#include "signin/oauthflow.h"
#include "store/charset.h"
#include "store/text.h"

namespace {
void check(bool ok) {
  if (!ok) __builtin_trap();
}

void checkStrings(const mail::json::Value& v) {
  check(charset::fIsValidUtf8(v.text));
  for (const auto& item : v.items) checkStrings(item);
  for (const auto& [name, member] : v.members) {
    check(charset::fIsValidUtf8(name));
    checkStrings(member);
  }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  if (auto v = mail::json::fParse(bytes)) {
    checkStrings(*v);
    if (v->kind == mail::json::Value::Kind::String) {
      auto again = mail::json::fParse(mail::json::fString(v->text));
      check(again && again->text == v->text);
    }
  }
  const auto answer = signin::fReadTokenAnswer(size % 2 ? 200 : 400, bytes, 0, size % 3 == 0);
  check(answer.ok == answer.error.empty());
  check(charset::fIsValidUtf8(answer.error));
  check(charset::fIsValidUtf8(mail::sasl::fTokenFailureText(text::base64(bytes))));
  if (auto r = signin::fParseRedirect(bytes))
    check(charset::fIsValidUtf8(signin::fRedirectProblem(*r, "s")));
  return 0;
}
