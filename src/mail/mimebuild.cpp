#include "mail/mimebuild.h"

#include <fcntl.h>
#include <gmime/gmime.h>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <random>

#include "mail/jptext.h"
#include "store/charset.h"
#include "store/text.h"

namespace fs = std::filesystem;

namespace mail::mime {
namespace {

std::string_view trim(std::string_view s) { return text::trim(s, text::kWhiteSpace); }

// Length of the UTF-8 sequence starting with `lead` (1 for stray bytes).
std::size_t seqLen(unsigned char lead) {
  if (lead >= 0xF0) return 4;
  if (lead >= 0xE0) return 3;
  if (lead >= 0xC0) return 2;
  return 1;
}

std::string base64(std::string_view bytes) {
  static const char* t = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  std::size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    unsigned v = (unsigned char)bytes[i] << 16 | (unsigned char)bytes[i + 1] << 8 | (unsigned char)bytes[i + 2];
    out += t[v >> 18];
    out += t[(v >> 12) & 63];
    out += t[(v >> 6) & 63];
    out += t[v & 63];
  }
  if (i < bytes.size()) {
    unsigned v = (unsigned char)bytes[i] << 16;
    if (i + 1 < bytes.size()) v |= (unsigned char)bytes[i + 1] << 8;
    out += t[v >> 18];
    out += t[(v >> 12) & 63];
    out += i + 1 < bytes.size() ? t[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

std::string qEncode(std::string_view bytes) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) {
    if (std::isalnum(c) && c < 0x80) {
      out += static_cast<char>(c);
    } else {
      out += '=';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

// Windows mailers type these; ISO-2022-JP holds the JIS X 0208 forms.
std::string mapToJis(std::string_view utf8) {
  static const std::pair<std::string_view, std::string_view> kMap[] = {
      {"\uFF5E", "\u301C"}, {"\uFF0D", "\u2212"}, {"\u2225", "\u2016"}, {"\u2014", "\u2015"},
      {"\uFFE0", "\u00A2"}, {"\uFFE1", "\u00A3"}, {"\uFFE2", "\u00AC"}};
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    bool mapped = false;
    for (auto& [from, to] : kMap) {
      if (utf8.compare(i, from.size(), from) == 0) {
        out += to;
        i += from.size();
        mapped = true;
        break;
      }
    }
    if (!mapped) out += utf8[i++];
  }
  return out;
}

bool isAscii(std::string_view s) { return charset::fIsAscii(s); }

bool needsQuoting(std::string_view name) {
  for (char c : name)
    if (std::string_view("()<>[]:;@\\,.\"").find(c) != std::string_view::npos) return true;
  return false;
}

std::string cleanLine(std::string_view s) {
  std::string out;
  for (char c : s) out += (c == '\r' || c == '\n' || c == '\t') ? ' ' : c;
  return out;
}

// "Name: value" folded between the given pieces so lines stay short.
std::string foldHeader(std::string_view name, const std::vector<std::string>& pieces,
                       std::string_view separator) {
  std::string out(name);
  out += ":";
  std::size_t lineLen = out.size();
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    std::string piece = pieces[i] + (i + 1 < pieces.size() ? std::string(separator) : "");
    if (i > 0 && lineLen + 1 + piece.size() > 76) {
      out += "\r\n";
      lineLen = 0;
    }
    out += " " + piece;
    lineLen += 1 + piece.size();
  }
  return out + "\r\n";
}

std::string formatMailbox(const Mailbox& m) {
  if (m.name.empty()) return m.address;
  std::string display;
  if (isAscii(m.name)) {
    if (!needsQuoting(m.name)) {
      display = m.name;
    } else {
      display.push_back('"');
      for (char c : m.name) {
        if (c == '"' || c == '\\') display += '\\';
        display += c;
      }
      display.push_back('"');
    }
  } else {
    auto words = fEncodeWords(m.name);
    for (std::size_t i = 0; i < words.size(); ++i) {
      if (i) display += ' ';
      display += words[i];
    }
  }
  return display + " <" + m.address + ">";
}

std::string addressHeader(std::string_view name, const std::vector<Mailbox>& list) {
  std::vector<std::string> pieces;
  for (auto& m : list) pieces.push_back(formatMailbox(m));
  return foldHeader(name, pieces, ",");
}

std::string dateHeader(std::time_t now) {
  static const char* days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::tm tm{};
  localtime_r(&now, &tm);
  long off = tm.tm_gmtoff / 60;
  char buf[80];
  std::snprintf(buf, sizeof buf, "Date: %s, %02d %s %04d %02d:%02d:%02d %c%02ld%02ld\r\n",
                days[tm.tm_wday], tm.tm_mday, months[tm.tm_mon], tm.tm_year + 1900, tm.tm_hour,
                tm.tm_min, tm.tm_sec, off < 0 ? '-' : '+', std::labs(off) / 60, std::labs(off) % 60);
  return buf;
}

std::string messageId(std::time_t now, std::string_view fromAddress) {
  thread_local std::mt19937_64 rng{std::random_device{}()};
  std::string domain = "localhost";
  if (auto at = fromAddress.rfind('@'); at != std::string_view::npos && at + 1 < fromAddress.size())
    domain = std::string(fromAddress.substr(at + 1));
  char buf[64];
  std::snprintf(buf, sizeof buf, "%lld.%016llx", static_cast<long long>(now),
                static_cast<unsigned long long>(rng()));
  return "Message-ID: <" + std::string(buf) + "@" + domain + ">\r\n";
}

// A header of message ids: only "<...>" tokens without spaces or controls are kept, so
// text from a received mail cannot add header lines of its own.
std::string idListHeader(std::string_view name, std::string_view ids) {
  std::vector<std::string> pieces;
  for (std::size_t at = 0; (at = ids.find('<', at)) != std::string_view::npos;) {
    std::size_t end = ids.find('>', at);
    if (end == std::string_view::npos) break;
    std::string_view id = ids.substr(at, end - at + 1);
    bool ok = id.size() > 2 && id.find('<', 1) == std::string_view::npos;
    for (unsigned char c : id) ok = ok && c > 0x20 && c < 0x7F;
    if (ok) pieces.emplace_back(id);
    at = ok ? end + 1 : at + 1;
  }
  return pieces.empty() ? std::string() : foldHeader(name, pieces, "");
}

bool hasLongLine(std::string_view s) {
  std::size_t run = 0;
  for (char c : s) {
    run = (c == '\n') ? 0 : run + 1;
    if (run > 900) return true;
  }
  return false;
}

void initGmime() {
  static std::once_flag once;
  std::call_once(once, [] { g_mime_init(); });
}

void setContent(GMimePart* part, std::string_view bytes, GMimeContentEncoding encoding) {
  GMimeStream* stream = g_mime_stream_mem_new_with_buffer(bytes.data(), bytes.size());
  GMimeDataWrapper* wrapper = g_mime_data_wrapper_new_with_stream(stream, GMIME_CONTENT_ENCODING_DEFAULT);
  g_mime_part_set_content(part, wrapper);
  g_mime_part_set_content_encoding(part, encoding);
  g_object_unref(wrapper);
  g_object_unref(stream);
}

GMimeObject* textPart(std::string_view body) {
  std::string text = jptext::fToCrLf(body);
  GMimeTextPart* part = g_mime_text_part_new_with_subtype("plain");
  if (auto jis = fToIso2022jp(text); jis && !hasLongLine(*jis)) {
    g_mime_object_set_content_type_parameter(GMIME_OBJECT(part), "charset", "ISO-2022-JP");
    setContent(GMIME_PART(part), *jis, GMIME_CONTENT_ENCODING_7BIT);
  } else {
    g_mime_object_set_content_type_parameter(GMIME_OBJECT(part), "charset", isAscii(text) ? "US-ASCII" : "UTF-8");
    bool plain = isAscii(text) && !hasLongLine(text);
    setContent(GMIME_PART(part), text, plain ? GMIME_CONTENT_ENCODING_7BIT : GMIME_CONTENT_ENCODING_BASE64);
  }
  return GMIME_OBJECT(part);
}

std::string mimeTypeFor(const fs::path& file) {
  std::string ext = file.extension().string();
  for (auto& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  static const std::pair<const char*, const char*> kTypes[] = {
      {".txt", "text/plain"},       {".pdf", "application/pdf"}, {".jpg", "image/jpeg"},
      {".jpeg", "image/jpeg"},      {".png", "image/png"},       {".gif", "image/gif"},
      {".zip", "application/zip"},  {".html", "text/html"},      {".htm", "text/html"},
      {".csv", "text/csv"},         {".xml", "application/xml"}, {".json", "application/json"}};
  for (auto& [e, t] : kTypes)
    if (ext == e) return t;
  return "application/octet-stream";
}

}  // namespace

std::optional<Mailbox> fParseMailbox(std::string_view entry, std::string& error) {
  entry = trim(entry);
  Mailbox m;
  std::size_t open = entry.rfind('<');
  std::size_t close = entry.rfind('>');
  std::string_view addr = entry;
  if (open != std::string_view::npos && close != std::string_view::npos && close > open) {
    addr = trim(entry.substr(open + 1, close - open - 1));
    std::string_view name = trim(entry.substr(0, open));
    if (name.size() >= 2 && name.front() == '"' && name.back() == '"') name = name.substr(1, name.size() - 2);
    m.name = cleanLine(name);
  }
  bool ok = !addr.empty() && addr.find('@') != std::string_view::npos && addr.front() != '@' &&
            addr.back() != '@';
  for (char c : addr)
    if (static_cast<unsigned char>(c) <= 0x20 || c == '<' || c == '>' || c == ',' || c == 0x7F) ok = false;
  if (!ok) {
    error = "アドレスが正しくありません: " + cleanLine(entry);
    return std::nullopt;
  }
  if (!charset::fIsValidUtf8(m.name)) m.name = charset::fFromCp932(m.name);
  m.address = std::string(addr);
  return m;
}

std::optional<Recipients> fParseRecipients(std::string_view list, std::string& error) {
  Recipients r;
  std::vector<Mailbox>* current = &r.to;
  while (true) {
    std::size_t tab = list.find('\t');
    std::string_view entry = trim(list.substr(0, tab));
    if (entry == "cc") {
      current = &r.cc;
    } else if (entry == "bcc") {
      current = &r.bcc;
    } else if (!entry.empty()) {
      auto m = fParseMailbox(entry, error);
      if (!m) return std::nullopt;
      current->push_back(*m);
    }
    if (tab == std::string_view::npos) break;
    list.remove_prefix(tab + 1);
  }
  return r;
}

namespace {

// Headers convert many short pieces, so the converter stays open for its thread; it is
// closed when the thread ends, as every send runs on a thread of its own.
class Iso2022jpConverter {
 public:
  Iso2022jpConverter() : cd_(iconv_open("ISO-2022-JP", "UTF-8")) {}
  ~Iso2022jpConverter() {
    if (isOpen()) iconv_close(cd_);
  }
  Iso2022jpConverter(const Iso2022jpConverter&) = delete;
  Iso2022jpConverter& operator=(const Iso2022jpConverter&) = delete;
  bool isOpen() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t get() const { return cd_; }

 private:
  iconv_t cd_;
};

}  // namespace

std::optional<std::string> fToIso2022jp(std::string_view utf8) {
  std::string in = mapToJis(utf8);
  thread_local Iso2022jpConverter converter;
  if (!converter.isOpen()) return std::nullopt;
  iconv_t cd = converter.get();
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  std::string out(in.size() * 3 + 16, '\0');
  char* src = in.data();
  std::size_t srcLeft = in.size();
  char* dst = out.data();
  std::size_t dstLeft = out.size();
  if (iconv(cd, &src, &srcLeft, &dst, &dstLeft) == static_cast<std::size_t>(-1) ||
      iconv(cd, nullptr, nullptr, &dst, &dstLeft) == static_cast<std::size_t>(-1)) {
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    return std::nullopt;
  }
  out.resize(out.size() - dstLeft);
  return out;
}

std::vector<std::string> fEncodeWords(std::string_view utf8) {
  std::string text = cleanLine(utf8);
  if (isAscii(text)) return {text};
  const bool jis = fToIso2022jp(text).has_value();
  const std::string prefix = jis ? "=?ISO-2022-JP?B?" : "=?UTF-8?B?";
  const std::size_t maxRaw = jis ? 36 : 42;  // "Subject: " and one word fit in 78 characters
  // Words other than the last must not end in base64 "=" padding: decoders that join
  // adjacent words before decoding (GMime does) stop there. Such a word ends on a
  // 3-byte boundary, or, when no character boundary allows it, is Q-encoded.
  const std::string qPrefix = jis ? "=?ISO-2022-JP?Q?" : "=?UTF-8?Q?";
  auto encodeAt = [&](std::size_t start, std::size_t end) {
    std::string piece = text.substr(start, end - start);
    return jis ? fToIso2022jp(piece).value_or(piece) : piece;
  };
  auto nextChar = [&](std::size_t at) {
    return at + std::min(seqLen(static_cast<unsigned char>(text[at])), text.size() - at);
  };
  std::vector<std::string> words;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = start, aligned = 0;
    while (end < text.size()) {
      std::size_t next = nextChar(end);
      if (encodeAt(start, next).size() > maxRaw && end > start) break;
      end = next;
      if (encodeAt(start, end).size() % 3 == 0) aligned = end;
    }
    if (end == text.size() || aligned > start) {
      if (end < text.size()) end = aligned;
      words.push_back(prefix + base64(encodeAt(start, end)) + "?=");
    } else {
      end = start;
      std::string q;
      while (end < text.size()) {
        std::size_t next = nextChar(end);
        std::string candidate = qEncode(encodeAt(start, next));
        if (candidate.size() + qPrefix.size() + 2 > 68 && end > start) break;
        q = std::move(candidate);
        end = next;
      }
      words.push_back(qPrefix + q + "?=");
    }
    start = end;
  }
  return words;
}

namespace {

// Attachments are read from their files while the message is written, a piece at a time:
// a large file is never held in memory whole, nor its base64 form.
GMimeObject* attachmentPart(const std::string& file, std::string& error) {
  fs::path path(file);
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    if (fd >= 0) ::close(fd);
    error = "添付ファイルを読めません: " + file;
    return nullptr;
  }
  std::string type = mimeTypeFor(path);
  std::string major = type.substr(0, type.find('/')), minor = type.substr(type.find('/') + 1);
  GMimePart* part = g_mime_part_new_with_type(major.c_str(), minor.c_str());
  GMimeStream* stream = g_mime_stream_fs_new(fd);  // owns fd
  GMimeDataWrapper* wrapper =
      g_mime_data_wrapper_new_with_stream(stream, GMIME_CONTENT_ENCODING_DEFAULT);
  g_mime_part_set_content(part, wrapper);
  g_mime_part_set_content_encoding(part, GMIME_CONTENT_ENCODING_BASE64);
  g_object_unref(wrapper);
  g_object_unref(stream);
  g_mime_object_set_disposition(GMIME_OBJECT(part), "attachment");
  g_mime_part_set_filename(part, path.filename().string().c_str());
  return GMIME_OBJECT(part);
}

bool writeMessage(const Outgoing& mail, GMimeStream* out, std::string& error) {
  initGmime();
  std::time_t now = std::time(nullptr);
  std::string head = dateHeader(now);
  head += addressHeader("From", {mail.from});
  if (!mail.rcpt.to.empty()) head += addressHeader("To", mail.rcpt.to);
  if (!mail.rcpt.cc.empty()) head += addressHeader("Cc", mail.rcpt.cc);
  head += foldHeader("Subject", fEncodeWords(mail.subject), "");
  head += messageId(now, mail.from.address);
  head += idListHeader("In-Reply-To", mail.inReplyTo);
  head += idListHeader("References", mail.references);
  head += "MIME-Version: 1.0\r\n";

  GMimeObject* root = textPart(mail.body);
  if (!mail.attachments.empty()) {
    GMimeMultipart* mixed = g_mime_multipart_new_with_subtype("mixed");
    g_mime_multipart_add(mixed, root);
    g_object_unref(root);
    root = GMIME_OBJECT(mixed);
    for (const auto& file : mail.attachments) {
      GMimeObject* part = attachmentPart(file, error);
      if (!part) {
        g_object_unref(root);
        return false;
      }
      g_mime_multipart_add(mixed, part);
      g_object_unref(part);
    }
  }
  GMimeFormatOptions* opts = g_mime_format_options_clone(nullptr);
  g_mime_format_options_set_newline_format(opts, GMIME_NEWLINE_FORMAT_DOS);
  g_mime_format_options_set_param_encoding_method(opts, GMIME_PARAM_ENCODING_METHOD_RFC2231);
  bool ok =
      g_mime_stream_write(out, head.data(), head.size()) == static_cast<ssize_t>(head.size()) &&
      g_mime_object_write_to_stream(root, opts, out) >= 0 && g_mime_stream_flush(out) == 0;
  g_mime_format_options_free(opts);
  g_object_unref(root);
  if (!ok) error = "送信するメールを組み立てられません";
  return ok;
}

}  // namespace

std::optional<std::string> fBuildMessage(const Outgoing& mail, std::string& error) {
  GByteArray* array = g_byte_array_new();
  GMimeStream* out = g_mime_stream_mem_new_with_byte_array(array);
  g_mime_stream_mem_set_owner(GMIME_STREAM_MEM(out), FALSE);
  std::optional<std::string> message;
  if (writeMessage(mail, out, error))
    message.emplace(reinterpret_cast<const char*>(array->data), array->len);
  g_object_unref(out);
  g_byte_array_free(array, TRUE);
  return message;
}

bool fBuildMessageToFile(const Outgoing& mail, int fd, std::string& error) {
  // A pipe stream writes with plain write() and its flush does not fsync (the file is a
  // scratch copy); the buffer in front turns GMime's small writes into blocks.
  GMimeStream* raw = g_mime_stream_pipe_new(fd);
  g_mime_stream_pipe_set_owner(GMIME_STREAM_PIPE(raw), FALSE);
  GMimeStream* out = g_mime_stream_buffer_new(raw, GMIME_STREAM_BUFFER_BLOCK_WRITE);
  bool ok = writeMessage(mail, out, error);
  g_object_unref(out);
  g_object_unref(raw);
  return ok;
}

}  // namespace mail::mime
