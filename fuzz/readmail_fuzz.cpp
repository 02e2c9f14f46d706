// Feeds arbitrary bytes as a stored message to every reading entry point. Server data
// is untrusted: nothing here may crash, hang or write outside the scratch folder.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <string_view>
#include <system_error>
#include <variant>

#include "mail/mail.h"
#include "mail/mailheader.h"

namespace {

namespace fs = std::filesystem;

struct Scratch {
  fs::path dir;
  fs::path file;
  fs::path out;
  Scratch() {
    std::random_device rd;
    dir = fs::temp_directory_path() / ("qb-readmail-fuzz-" + std::to_string(rd()));
    out = dir / "out";
    fs::create_directories(out);
    file = dir / "message.eml";
  }
  ~Scratch() {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Scratch scratch;
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  {
    std::ofstream f(scratch.file, std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  const std::string file = scratch.file.string();
  const std::string out = scratch.out.string();
  for (std::string_view keys : {"subject:from:date:content-type:nofile:nobody:", "to:from:nofile:",
                                "nofile:html:", "from:"}) {
    mail::MailResult r = mail::ReadMail(file, keys, out);
    if (auto* items = std::get_if<std::vector<std::string>>(&r)) {
      // Every extracted file must sit directly in the scratch folder.
      for (const std::string& item : *items) {
        if (item.rfind("file: /", 0) == 0 &&
            fs::path(item.substr(6)).parent_path() != scratch.out) {
          __builtin_trap();
        }
      }
    }
  }
  // The view's reads: the body cut short, one attachment extracted alone.
  mail::fReadMailShown(file, "to:from:nofile:", out, 64);
  for (size_t index : {0, 1}) {
    auto one = mail::fExtractAttachment(file, index, out);
    if (one && fs::path(*one).parent_path() != scratch.out) __builtin_trap();
  }
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(scratch.out, ec)) fs::remove(entry.path(), ec);

  mail::fReadPartByContentId(file, "cid:a@b");
  mail::fReadEucFile(scratch.file);
  mail::header::fParseParams(bytes);
  mail::header::fDecodeText(bytes);
  mail::header::fFormatDate(bytes);
  return 0;
}
