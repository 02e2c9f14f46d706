// Reading a stored message into the labelled array the rest of the program works with.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <system_error>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

#include "mail/attachment_file.h"
#include "mail/gmime_support.h"
#include "mail/jptext.h"
#include "mail/mail.h"
#include "mail/mailheader.h"
#include "store/fsutil.h"
#include "store/mailstore.h"

namespace fs = std::filesystem;

namespace mail {
namespace {

constexpr std::string_view kCannotOpen = "メールファイルを開けません: ";
constexpr std::string_view kCannotExtract = "添付ファイルを保存できません: ";
constexpr std::string_view kNoFile = "nofile:";
constexpr std::string_view kNoBody = "nobody:";
constexpr std::string_view kHtml = "html:";
constexpr int kMaxDepth = 64;  // nesting beyond this is an attack, not a mail

struct KeyList {
  std::vector<std::string> keys;  // each ends in ':'
  bool noFile = false;
  bool noBody = false;
  bool html = false;
};

KeyList parseKeys(std::string_view text) {
  KeyList list;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t colon = text.find(':', pos);
    size_t end = colon == std::string_view::npos ? text.size() : colon;
    std::string key = jptext::fLower(text.substr(pos, end - pos));
    key.erase(0, key.find_first_not_of(" \t"));
    key.erase(key.find_last_not_of(" \t") + 1);
    pos = end + 1;
    if (key.empty()) continue;
    key += ':';
    list.noFile |= key == kNoFile;
    list.noBody |= key == kNoBody;
    list.html |= key == kHtml;
    list.keys.push_back(std::move(key));
  }
  return list;
}

// Reads only as far as the blank line that ends the header block.
std::optional<std::string> readHeaderBlock(const fs::path& path) {
#ifdef _WIN32
  std::FILE* f = _wfopen(path.c_str(), L"rb");
  if (!f) return std::nullopt;
  auto readSome = [f](char* to, size_t n) -> long {
    size_t got = std::fread(to, 1, n, f);
    return got == 0 && std::ferror(f) ? -1 : static_cast<long>(got);
  };
#else
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  auto readSome = [fd](char* to, size_t n) -> long {
    for (;;) {
      ssize_t got = ::read(fd, to, n);
      if (got < 0 && errno == EINTR) continue;
      return static_cast<long>(got);
    }
  };
#endif
  std::string buf;
  char chunk[8192];
  bool failed = false;
  while (true) {
    long n = readSome(chunk, sizeof chunk);
    if (n <= 0) {
      failed = n < 0;
      break;
    }
    buf.append(chunk, static_cast<size_t>(n));
    size_t len = header::fHeaderBlockLength(buf);
    if (len < buf.size()) {
      buf.resize(len);
      break;
    }
  }
#ifdef _WIN32
  std::fclose(f);
#else
  ::close(fd);
#endif
  if (failed) return std::nullopt;
  return buf;
}

std::string headerValue(const std::vector<header::Field>& fields, std::string_view key) {
  std::string_view name = key.substr(0, key.size() - 1);
  auto raw = header::fFindRaw(fields, name);
  if (!raw) return {};
  std::string unfolded = header::fUnfold(*raw);
  if (name == "date") return header::fFormatDate(unfolded);
  return header::fDecodeText(unfolded);
}

std::vector<std::string> headerElements(const std::vector<header::Field>& fields, const KeyList& list) {
  std::vector<std::string> out;
  out.reserve(list.keys.size() + 2);
  for (const std::string& key : list.keys) {
    std::string element = key + ' ';
    if (key != kNoFile && key != kNoBody && key != kHtml) element += headerValue(fields, key);
    out.push_back(std::move(element));
  }
  return out;
}

std::vector<std::string> headerElements(std::string_view headerBlock, const KeyList& list) {
  return headerElements(header::fSplitFields(headerBlock), list);
}

// --- MIME tree ---

struct Leaf {
  GMimeObject* object = nullptr;
  bool message = false;  // an attached message/rfc822
  std::string mediaType;
  std::string charset;
  std::string name;
  bool attachment = false;
};

std::string gmimeMediaType(GMimeObject* object) {
  GMimeContentType* type = g_mime_object_get_content_type(object);
  if (!type) return "text/plain";
  char* mime = g_mime_content_type_get_mime_type(type);
  std::string out = mime ? jptext::fLower(mime) : "text/plain";
  g_free(mime);
  return out;
}

std::string attachedMessageName(GMimeMessagePart* part) {
  GMimeMessage* inner = g_mime_message_part_get_message(part);
  if (inner) {
    auto raw = mime::fRawHeader(GMIME_OBJECT(inner), "Subject");
    if (raw) {
      std::string subject = header::fDecodeText(header::fUnfold(*raw));
      if (!subject.empty()) return subject + ".eml";
    }
  }
  return "message.eml";
}

void collectLeaves(GMimeObject* object, int depth, std::vector<Leaf>& out) {
  if (!object || depth > kMaxDepth) return;
  if (GMIME_IS_MULTIPART(object)) {
    GMimeMultipart* multipart = GMIME_MULTIPART(object);
    int count = g_mime_multipart_get_count(multipart);
    for (int i = 0; i < count; ++i)
      collectLeaves(g_mime_multipart_get_part(multipart, i), depth + 1, out);
    return;
  }
  Leaf leaf;
  leaf.object = object;
  auto rawType = mime::fRawHeader(object, "Content-Type");
  auto rawDisposition = mime::fRawHeader(object, "Content-Disposition");
  header::ParamHeader type =
      header::fParseParams(rawType ? header::fUnfold(*rawType) : std::string());
  header::ParamHeader disposition =
      header::fParseParams(rawDisposition ? header::fUnfold(*rawDisposition) : std::string());
  leaf.mediaType = type.value.find('/') != std::string::npos ? type.value : gmimeMediaType(object);
  if (const std::string* cs = type.fGet("charset")) leaf.charset = *cs;
  if (const std::string* fn = disposition.fGet("filename"); fn && !fn->empty()) {
    leaf.name = *fn;
  } else if (const std::string* n = type.fGet("name"); n && !n->empty()) {
    leaf.name = *n;
  }
  leaf.attachment = !leaf.name.empty() || disposition.value == "attachment";
  if (GMIME_IS_MESSAGE_PART(object)) {
    // A forwarded message is shown as an attachment, never merged into the body.
    leaf.message = true;
    leaf.attachment = true;
    if (leaf.name.empty()) leaf.name = attachedMessageName(GMIME_MESSAGE_PART(object));
  } else if (!GMIME_IS_PART(object)) {
    return;
  }
  out.push_back(std::move(leaf));
}

std::vector<Leaf> leavesOf(GMimeMessage* message) {
  std::vector<Leaf> leaves;
  if (message) collectLeaves(g_mime_message_get_mime_part(message), 0, leaves);
  return leaves;
}

std::string leafBytes(const Leaf& leaf) {
  if (leaf.message) {
    GMimeMessage* inner = g_mime_message_part_get_message(GMIME_MESSAGE_PART(leaf.object));
    return inner ? mime::fObjectBytes(GMIME_OBJECT(inner)) : std::string();
  }
  return mime::fDecodedContent(GMIME_PART(leaf.object));
}

const Leaf* firstText(const std::vector<Leaf>& leaves, std::string_view mediaType) {
  for (const Leaf& leaf : leaves) {
    if (!leaf.attachment && leaf.mediaType == mediaType) return &leaf;
  }
  return nullptr;
}

std::string bodyText(const std::vector<Leaf>& leaves, bool preferHtml) {
  const Leaf* plain = firstText(leaves, "text/plain");
  const Leaf* html = firstText(leaves, "text/html");
  const Leaf* chosen = preferHtml ? (html ? html : plain) : (plain ? plain : html);
  if (!chosen) return {};
  return jptext::fToCrLf(jptext::fDecodeBytes(chosen->charset, leafBytes(*chosen)));
}

std::string fallbackName(size_t index, std::string_view mediaType) {
  static constexpr std::pair<std::string_view, std::string_view> kExtensions[] = {
      {"text/plain", ".txt"},      {"text/html", ".html"},     {"image/jpeg", ".jpg"},
      {"image/png", ".png"},       {"image/gif", ".gif"},      {"application/pdf", ".pdf"},
      {"application/zip", ".zip"}, {"message/rfc822", ".eml"}, {"text/calendar", ".ics"}};
  std::string ext = ".bin";
  for (const auto& [type, e] : kExtensions) {
    if (type == mediaType) ext = std::string(e);
  }
  return "attachment" + std::to_string(index + 1) + ext;
}

std::string stripContentId(std::string_view id) {
  std::string text =
      jptext::fLower(id.substr(0, 4)) == "cid:" ? std::string(id.substr(4)) : std::string(id);
  // cid: URLs percent-encode the id.
  std::string decoded;
  for (size_t i = 0; i < text.size(); ++i) {
    auto hex = [](char c) {
      return c >= '0' && c <= '9'   ? c - '0'
             : c >= 'a' && c <= 'f' ? c - 'a' + 10
             : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                    : -1;
    };
    if (text[i] == '%' && i + 2 < text.size() && hex(text[i + 1]) >= 0 && hex(text[i + 2]) >= 0) {
      decoded.push_back(static_cast<char>(hex(text[i + 1]) * 16 + hex(text[i + 2])));
      i += 2;
    } else {
      decoded.push_back(text[i]);
    }
  }
  size_t first = decoded.find_first_not_of(" \t<");
  size_t last = decoded.find_last_not_of(" \t>");
  return first == std::string::npos ? std::string() : decoded.substr(first, last - first + 1);
}

// The body of a message that is one text part and no attachment, decoded without
// building a MIME tree (the common case, and four times cheaper). Nothing for anything
// else: multiparts, attached messages, named or attached parts, other media types.
std::optional<std::string> singlePartBody(const std::vector<header::Field>& fields, std::string_view rawBody) {
  auto rawType = header::fFindRaw(fields, "content-type");
  auto rawDisposition = header::fFindRaw(fields, "content-disposition");
  header::ParamHeader type = header::fParseParams(rawType ? header::fUnfold(*rawType) : std::string());
  header::ParamHeader disposition =
      header::fParseParams(rawDisposition ? header::fUnfold(*rawDisposition) : std::string());
  std::string mediaType = type.value.empty() ? "text/plain" : type.value;
  if (mediaType != "text/plain" && mediaType != "text/html") return std::nullopt;
  if (disposition.value == "attachment" || disposition.fGet("filename") || type.fGet("name"))
    return std::nullopt;
  auto rawEncoding = header::fFindRaw(fields, "content-transfer-encoding");
  std::string encodingName = rawEncoding ? jptext::fLower(header::fUnfold(*rawEncoding)) : "";
  GMimeContentEncoding encoding = g_mime_content_encoding_from_string(encodingName.c_str());
  std::string decoded;
  std::string_view bytes = rawBody;
  if (encoding == GMIME_CONTENT_ENCODING_BASE64 || encoding == GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE ||
      encoding == GMIME_CONTENT_ENCODING_UUENCODE) {
    GMimeEncoding state;
    g_mime_encoding_init_decode(&state, encoding);
    decoded.resize(g_mime_encoding_outlen(&state, rawBody.size()));
    size_t n = g_mime_encoding_flush(&state, rawBody.data(), rawBody.size(), decoded.data());
    decoded.resize(std::min(n, decoded.size()));
    bytes = decoded;
  }
  const std::string* charsetLabel = type.fGet("charset");
  std::string text = jptext::fDecodeBytes(charsetLabel ? *charsetLabel : "", bytes);
  jptext::sToCrLf(text);
  return text;
}

}  // namespace

// ReadMail's work once the message's bytes are at hand.
static MailResult readBytes(std::string_view bytes, const KeyList& list, std::string_view folder) {
  const size_t headerLength = header::fHeaderBlockLength(bytes);
  const std::string_view headerBlock = bytes.substr(0, headerLength);
  const auto fields = header::fSplitFields(headerBlock);
  std::vector<std::string> result = headerElements(fields, list);

  if (!list.noBody) {
    if (auto body = singlePartBody(fields, bytes.substr(headerLength))) {
      body->insert(0, "body: ");
      result.push_back(std::move(*body));
      return result;
    }
  }

  auto message = mime::fParseMessage(bytes);
  std::vector<Leaf> leaves = leavesOf(message.get());
  if (!list.noBody) {
    std::string body = message ? bodyText(leaves, list.html)
                               : jptext::fToCrLf(jptext::fDecodeUndeclared(bytes.substr(headerLength)));
    result.push_back("body: " + body);
  }
  size_t index = 0;
  for (const Leaf& leaf : leaves) {
    if (!leaf.attachment) continue;
    std::string name = attach::fSafeFileName(leaf.name, fallbackName(index++, leaf.mediaType));
    if (list.noFile) {
      result.push_back("file: " + name);
      continue;
    }
    auto extracted = attach::fExtract(mailstore::fPath(folder), name, leafBytes(leaf));
    if (!extracted) return std::string(kCannotExtract) + std::string(folder);
    result.push_back("file: " + mailstore::fUtf8(*extracted));
  }
  return result;
}

MailResult ReadMail(std::string_view file, std::string_view keys, std::string_view folder) {
  const KeyList list = parseKeys(keys);
  const fs::path path = mailstore::fPath(file);
  const std::string cannotOpen = std::string(kCannotOpen) + std::string(file);

  if (list.noFile && list.noBody) {
    auto block = readHeaderBlock(path);
    if (!block) return cannotOpen;
    return headerElements(*block, list);
  }
  auto bytes = fsutil::fReadFile(path);
  if (!bytes) return cannotOpen;
  return readBytes(*bytes, list, folder);
}

MailResult fReadMailBytes(std::string_view bytes, std::string_view keys, std::string_view folder) {
  const KeyList list = parseKeys(keys);
  if (list.noFile && list.noBody) return headerElements(bytes.substr(0, header::fHeaderBlockLength(bytes)), list);
  return readBytes(bytes, list, folder);
}

std::optional<PartContent> fReadPartByContentId(std::string_view file, std::string_view contentId) {
  std::string wanted = stripContentId(contentId);
  if (wanted.empty()) return std::nullopt;
  const fs::path path = mailstore::fPath(file);
  auto bytes = fsutil::fReadFile(path);
  if (!bytes) return std::nullopt;
  auto message = mime::fParseMessage(*bytes);
  for (const Leaf& leaf : leavesOf(message.get())) {
    const char* id = g_mime_object_get_content_id(leaf.object);
    if (id && stripContentId(id) == wanted) return PartContent{leafBytes(leaf), leaf.mediaType};
  }
  return std::nullopt;
}

}  // namespace mail
