#pragma once
// GMime set-up shared by the mail library: one thread-safe initialisation, parser
// options that read undeclared 8-bit text as UTF-8, then CP932, then EUC-JP.
#include <gmime/gmime.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace mail::mime {

// Initialises GMime once per process; safe to call from any thread, any number of times.
void sInit();
GMimeParserOptions* fParserOptions();

struct GObjectUnref {
  void operator()(void* object) const {
    if (object) g_object_unref(object);
  }
};
template <class T>
using Ref = std::unique_ptr<T, GObjectUnref>;

// A message parsed from bytes; null when GMime finds none.
Ref<GMimeMessage> fParseMessage(std::string_view bytes);
// A message parsed from a seekable stream, from its start. Its parts keep ranges of the
// stream instead of copies, so a big mail read from a file costs little memory; the
// stream must outlive the message (the message holds a reference).
Ref<GMimeMessage> fParseMessage(GMimeStream* stream);
// A file opened as a stream: for reading, or for writing (created or emptied). Null when
// it cannot be opened.
Ref<GMimeStream> fOpenFile(const std::filesystem::path& path, bool write);
// Writes a part's content with its transfer encoding undone, piece by piece, into `out`.
bool sWriteDecodedContent(GMimePart* part, GMimeStream* out);
// At most `limit` bytes of a part's decoded content, read piece by piece; `cut` tells
// whether more followed.
std::string fDecodedContentPrefix(GMimePart* part, size_t limit, bool& cut);
// A part's content with its transfer encoding (base64, quoted-printable, uuencode) undone.
std::string fDecodedContent(GMimePart* part);
// A whole object (an attached message) as bytes.
std::string fObjectBytes(GMimeObject* object);
// The raw (folded, undecoded) value of a header of the object, if present.
std::optional<std::string_view> fRawHeader(GMimeObject* object, const char* name);

}  // namespace mail::mime
