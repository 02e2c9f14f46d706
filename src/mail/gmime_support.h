#pragma once
// GMime set-up shared by the mail library: one thread-safe initialisation, parser
// options that read undeclared 8-bit text as UTF-8, then CP932, then EUC-JP.
#include <gmime/gmime.h>

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
// A part's content with its transfer encoding (base64, quoted-printable, uuencode) undone.
std::string fDecodedContent(GMimePart* part);
// A whole object (an attached message) as bytes.
std::string fObjectBytes(GMimeObject* object);
// The raw (folded, undecoded) value of a header of the object, if present.
std::optional<std::string_view> fRawHeader(GMimeObject* object, const char* name);

}  // namespace mail::mime
