#include "mail/gmime_support.h"

#include <mutex>

namespace mail::mime {

void sInit() {
  static std::once_flag once;
  std::call_once(once, [] { g_mime_init(); });
}

GMimeParserOptions* fParserOptions() {
  static GMimeParserOptions* options = [] {
    sInit();
    GMimeParserOptions* o = g_mime_parser_options_new();
    // This order matters: EUC-JP before CP932 garbles CP932 text.
    const char* fallback[] = {"UTF-8", "CP932", "EUC-JP", nullptr};
    g_mime_parser_options_set_fallback_charsets(o, fallback);
    g_mime_parser_options_set_rfc2047_compliance_mode(o, GMIME_RFC_COMPLIANCE_LOOSE);
    g_mime_parser_options_set_parameter_compliance_mode(o, GMIME_RFC_COMPLIANCE_LOOSE);
    g_mime_parser_options_set_address_compliance_mode(o, GMIME_RFC_COMPLIANCE_LOOSE);
    return o;
  }();
  return options;
}

Ref<GMimeMessage> fParseMessage(std::string_view bytes) {
  GMimeParserOptions* options = fParserOptions();
  Ref<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(bytes.data(), bytes.size()));
  if (!stream) return nullptr;
  Ref<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
  if (!parser) return nullptr;
  g_mime_parser_set_format(parser.get(), GMIME_FORMAT_MESSAGE);
  return Ref<GMimeMessage>(g_mime_parser_construct_message(parser.get(), options));
}

namespace {
std::string streamBytes(GMimeStream* stream) {
  GByteArray* array = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(stream));
  if (!array || array->len == 0) return {};
  return std::string(reinterpret_cast<const char*>(array->data), array->len);
}
}  // namespace

std::string fDecodedContent(GMimePart* part) {
  GMimeDataWrapper* content = g_mime_part_get_content(part);
  if (!content) return {};
  Ref<GMimeStream> out(g_mime_stream_mem_new());
  if (g_mime_data_wrapper_write_to_stream(content, out.get()) < 0) return {};
  return streamBytes(out.get());
}

std::string fObjectBytes(GMimeObject* object) {
  Ref<GMimeStream> out(g_mime_stream_mem_new());
  if (g_mime_object_write_to_stream(object, nullptr, out.get()) < 0) return {};
  return streamBytes(out.get());
}

std::optional<std::string_view> fRawHeader(GMimeObject* object, const char* name) {
  GMimeHeaderList* list = g_mime_object_get_header_list(object);
  if (!list) return std::nullopt;
  GMimeHeader* header = g_mime_header_list_get_header(list, name);
  if (!header) return std::nullopt;
  const char* raw = g_mime_header_get_raw_value(header);
  if (!raw) return std::nullopt;
  return std::string_view(raw);
}

}  // namespace mail::mime
