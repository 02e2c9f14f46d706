// The EUC-JP view of a stored message: its raw bytes decoded without the mail parser.
#include "mail/jptext.h"
#include "mail/mail.h"
#include "store/charset.h"
#include "store/fsutil.h"

namespace mail {

std::string fBytesToText(std::string_view charsetName, std::string_view bytes) {
  std::string name = jptext::fLower(charsetName);
  if (name.rfind("iso-2022-jp", 0) == 0) return jptext::fDecodeIso2022Jp(bytes);
  // fDecode reads EUC-JP as EUC-JP-MS (falling back to plain EUC-JP) and turns invalid
  // sequences into U+FFFD; an unknown charset is a failed conversion.
  return charset::fDecode(charsetName, bytes).value_or(std::string());
}

std::optional<std::string> fReadEucFile(const std::filesystem::path& path) {
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) return std::nullopt;
  auto bytes = fsutil::fReadFile(path);
  if (!bytes) return std::nullopt;
  return fBytesToText("EUC-JP", *bytes);
}

}  // namespace mail
