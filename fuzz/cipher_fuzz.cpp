// Feeds arbitrary bytes to the settings cipher. Any stored value decodes without harm to
// UTF-8 text; any text encodes to "&" groups and decodes back to itself.
#include <cstdint>
#include <string>
#include <string_view>

#include "store/charset.h"
#include "store/modCommon.h"

namespace {
void check(bool ok) {
  if (!ok) __builtin_trap();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const unsigned char key = size > 1 ? data[0] : modCommon::kSettingKey;
  std::string_view bytes(reinterpret_cast<const char*>(data) + (size > 1), size - (size > 1));

  std::string decoded = modCommon::fDecodeSetting(bytes, key);
  if (!bytes.empty() && bytes.front() == '&') check(charset::fIsValidUtf8(decoded));
  else check(decoded == bytes);

  // Clear text as a reader of the settings file would take it.
  const std::string text = charset::fDecodeStored(bytes);
  const std::string coded = modCommon::fEncodeSetting(text, key);
  for (size_t i = 0; i < coded.size(); ++i) {
    char c = coded[i];
    check(c == '&' ? i + 1 < coded.size() && coded[i + 1] != '&'
                   : (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'));
  }
  check(text.empty() ? coded.empty() : coded.front() == '&');
  check(modCommon::fDecodeSetting(coded, key) == text);
  return 0;
}
