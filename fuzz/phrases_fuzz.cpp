// Feeds arbitrary bytes as a settings file to the fixed-phrase reader, saves what it read
// and reads it again: the same phrases come back, in the same order. Captions of any
// text are the text or a prefix of it.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <string_view>
#include <system_error>

#include "compose/phrases.h"
#include "store/charset.h"

namespace {

namespace fs = std::filesystem;

void check(bool ok) {
  if (!ok) __builtin_trap();
}

struct Scratch {
  fs::path file;
  Scratch() {
    std::error_code ec;
    fs::path base = fs::is_directory("/dev/shm", ec) ? fs::path("/dev/shm") : fs::temp_directory_path();
    file = base / ("qb-phrases-fuzz-" + std::to_string(std::random_device{}()) + ".ini");
  }
  ~Scratch() {
    std::error_code ec;
    fs::remove(file, ec);
  }
};

// Settings values lose surrounding blanks and one pair of quotes when read, and a lone
// line end cannot be stored: such a phrase is not expected back unchanged.
bool keepsAsIs(const std::string& p) {
  if (p.empty()) return true;
  if (p.front() == ' ' || p.front() == '\t' || p.back() == ' ' || p.back() == '\t') return false;
  if (p.size() >= 2 && p.front() == '"' && p.back() == '"') return false;
  for (size_t i = 0; i < p.size(); ++i) {
    if (p[i] == '\0') return false;
    if (p[i] == '\r' && (i + 1 == p.size() || p[i + 1] != '\n')) return false;
    if (p[i] == '\n' && (i == 0 || p[i - 1] != '\r')) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Scratch scratch;
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::ofstream(scratch.file, std::ios::binary | std::ios::trunc)
      .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));

  const auto first = phrases::fLoad(scratch.file);
  check(phrases::fSave(scratch.file, first));
  const auto again = phrases::fLoad(scratch.file);
  check(again.size() == first.size());
  for (size_t i = 0; i < first.size(); ++i) check(!keepsAsIs(first[i]) || again[i] == first[i]);

  std::string caption = phrases::fCaption(bytes);
  if (caption != bytes) {
    check(caption.ends_with("...") && bytes.starts_with(caption.substr(0, caption.size() - 3)));
    if (charset::fIsValidUtf8(bytes)) check(charset::fIsValidUtf8(caption));
  }
  return 0;
}
