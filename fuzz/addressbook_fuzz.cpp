// Feeds arbitrary bytes to the address-book readers: of a stored book value, the entries
// that pass the entry check are written and read back unchanged; sender and pick texts of
// any bytes never fail.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "address/addressbook.h"

namespace {
void check(bool ok) {
  if (!ok) __builtin_trap();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const auto entries = addressbook::fParseBook(bytes);
  // The format has no escapes, so not every stored text reads back the same once
  // written; entries that pass the entry check must, whatever entries stand beside them.
  // (Line ends come back as CR LF.)
  std::vector<addressbook::Entry> good, expected;
  auto crlf = [](const std::string& f) { return addressbook::fFromStored(addressbook::fToStored(f)); };
  for (const auto& e : entries) {
    if (addressbook::fCheckEntry(e)) continue;
    good.push_back(e);
    expected.push_back({crlf(e.name), crlf(e.address), crlf(e.reading), crlf(e.memo)});
  }
  check(addressbook::fParseBook(addressbook::fSerializeBook(good)) == expected);

  auto [name, address] = addressbook::fSplitSender(bytes);
  addressbook::fPickText(name, address);
  addressbook::fJoinGroup(bytes);
  addressbook::fFromStored(addressbook::fToStored(bytes));
  return 0;
}
