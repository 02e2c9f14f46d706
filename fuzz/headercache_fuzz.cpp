// Feeds arbitrary bytes to the reader of a folder's remembered header fields (a file a
// crash may cut or anyone may change). Whatever it accepts is written back byte for byte.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "mail/headercache.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  for (const bool sentType : {false, true}) {
    std::vector<headercache::Record> records;
    if (headercache::decode(bytes, "受信箱", sentType, records) &&
        headercache::encode("受信箱", sentType, records) != bytes)
      __builtin_trap();
  }
  return 0;
}
