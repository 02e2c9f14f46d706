#include "mail/gmime_support.h"

#include <mutex>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

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
  fParserOptions();
  Ref<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(bytes.data(), bytes.size()));
  if (!stream) return nullptr;
  return fParseMessage(stream.get());
}

Ref<GMimeMessage> fParseMessage(GMimeStream* stream) {
  GMimeParserOptions* options = fParserOptions();
  if (g_mime_stream_reset(stream) < 0) return nullptr;
  Ref<GMimeParser> parser(g_mime_parser_new_with_stream(stream));
  if (!parser) return nullptr;
  g_mime_parser_set_format(parser.get(), GMIME_FORMAT_MESSAGE);
  g_mime_parser_set_persist_stream(parser.get(), TRUE);
  return Ref<GMimeMessage>(g_mime_parser_construct_message(parser.get(), options));
}

Ref<GMimeStream> fOpenFile(const std::filesystem::path& path, bool write) {
  sInit();
#ifdef _WIN32
  int flags = (write ? _O_WRONLY | _O_CREAT | _O_TRUNC : _O_RDONLY) | _O_BINARY | _O_NOINHERIT;
  int fd = _wopen(path.c_str(), flags, _S_IREAD | _S_IWRITE);
#else
  int flags = (write ? O_WRONLY | O_CREAT | O_TRUNC : O_RDONLY) | O_CLOEXEC;
  int fd = ::open(path.c_str(), flags, 0600);
#endif
  if (fd < 0) return nullptr;
  return Ref<GMimeStream>(g_mime_stream_fs_new(fd));  // the stream closes the descriptor
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

bool sWriteDecodedContent(GMimePart* part, GMimeStream* out) {
  GMimeDataWrapper* content = g_mime_part_get_content(part);
  if (!content) return true;
  // Whole blocks to the file instead of one small write per decoded line.
  Ref<GMimeStream> buffered(g_mime_stream_buffer_new(out, GMIME_STREAM_BUFFER_BLOCK_WRITE));
  return g_mime_data_wrapper_write_to_stream(content, buffered.get()) >= 0 && g_mime_stream_flush(buffered.get()) == 0;
}

std::string fDecodedContentPrefix(GMimePart* part, size_t limit, bool& cut) {
  cut = false;
  GMimeDataWrapper* content = g_mime_part_get_content(part);
  if (!content) return {};
  GMimeStream* raw = g_mime_data_wrapper_get_stream(content);
  if (!raw || g_mime_stream_reset(raw) < 0) return {};
  // The same filter the data wrapper writes through, read from instead.
  Ref<GMimeStream> filtered(g_mime_stream_filter_new(raw));
  GMimeContentEncoding encoding = g_mime_data_wrapper_get_encoding(content);
  if (encoding == GMIME_CONTENT_ENCODING_BASE64 || encoding == GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE ||
      encoding == GMIME_CONTENT_ENCODING_UUENCODE) {
    Ref<GMimeFilter> decode(g_mime_filter_basic_new(encoding, FALSE));
    g_mime_stream_filter_add(GMIME_STREAM_FILTER(filtered.get()), decode.get());
  }
  std::string out;
  char buf[65536];
  while (out.size() <= limit) {
    ssize_t n = g_mime_stream_read(filtered.get(), buf, sizeof buf);
    if (n <= 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  g_mime_stream_reset(raw);
  if (out.size() > limit) {
    cut = true;
    out.resize(limit);
  }
  return out;
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
