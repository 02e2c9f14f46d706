// Feeds arbitrary bytes to the settings-file reader and writer.
#include <cstdint>
#include <string_view>

#include "store/mod_ini.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  auto ini = mod_ini::IniFile::fParse(bytes);
  ini.fGet("Mail", "AutoTime");
  ini.fKeys("Icon");
  ini.sSet("Mail", "Key", "値");
  ini.sSet("Icon", "x", std::nullopt);
  auto again = mod_ini::IniFile::fParse(ini.fSerialize());
  if (again.fGet("Mail", "Key") != std::optional<std::string>("値")) __builtin_trap();
  return 0;
}
