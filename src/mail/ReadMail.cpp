// Reading a stored message into the labelled array the rest of the program works with.
#include <algorithm>
#include <system_error>

#include "mail/attachment_file.h"
#include "mail/gmime_support.h"
#include "mail/jptext.h"
#include "mail/mail.h"
#include "mail/mailheader.h"
#include "mail/readstart.h"
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

// A stored message read front to back in pieces: the header block, then the body. The
// whole file is never held, so a mail of any size is read in little memory.
class PieceReader {
 public:
  explicit PieceReader(GMimeStream* stream) : stream_(stream) {}

  // Reads only as far as the blank line that ends the header block (the whole file when
  // there is none). Nothing on a read error.
  std::optional<std::string> fHeaderBlock() {
    std::string buf;
    size_t scanFrom = 0;  // a line start no blank line comes before
    for (;;) {
      const ssize_t n = g_mime_stream_read(stream_, piece_, sizeof piece_);
      if (n < 0) return std::nullopt;
      if (n == 0) break;
      buf.append(piece_, static_cast<size_t>(n));
      const size_t length = scanFrom + header::fHeaderBlockLength(std::string_view(buf).substr(scanFrom));
      if (length < buf.size()) break;
      // Rescan from the start of the last complete line: a blank line may end the buffer.
      const size_t lastEnd = buf.size() >= 2 ? buf.rfind('\n', buf.size() - 2) : std::string::npos;
      scanFrom = std::max(scanFrom, lastEnd == std::string::npos ? size_t{0} : lastEnd + 1);
    }
    const size_t length = scanFrom + header::fHeaderBlockLength(std::string_view(buf).substr(scanFrom));
    pending_ = buf.substr(length);
    buf.resize(length);
    return buf;
  }

  // The next piece of the body after fHeaderBlock; empty at the end. `failed` is set on a
  // read error.
  std::string_view fNextBodyPiece() {
    if (!pending_.empty()) {
      held_ = std::move(pending_);
      pending_.clear();
      return held_;
    }
    const ssize_t n = g_mime_stream_read(stream_, piece_, sizeof piece_);
    if (n < 0) failed = true;
    return n > 0 ? std::string_view(piece_, static_cast<size_t>(n)) : std::string_view();
  }

  // Back to the first byte after the header block (GMime has read the stream since).
  bool fRewindToBody(size_t headerLength) {
    pending_.clear();
    return g_mime_stream_seek(stream_, static_cast<gint64>(headerLength), GMIME_STREAM_SEEK_SET) >= 0;
  }

  bool failed = false;

 private:
  GMimeStream* stream_;
  std::string pending_;  // read with the header block, belongs to the body
  std::string held_;
  char piece_[65536];
};

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

// Writes an attachment into the file, piece by piece: an attached message as it stands,
// a part with its transfer encoding undone.
bool writeLeaf(const Leaf& leaf, const fs::path& file) {
  auto out = mime::fOpenFile(file, true);
  if (!out) return false;
  if (!leaf.message) return mime::sWriteDecodedContent(GMIME_PART(leaf.object), out.get());
  GMimeMessage* inner = g_mime_message_part_get_message(GMIME_MESSAGE_PART(leaf.object));
  if (!inner) return true;
  mime::Ref<GMimeStream> buffered(g_mime_stream_buffer_new(out.get(), GMIME_STREAM_BUFFER_BLOCK_WRITE));
  return g_mime_object_write_to_stream(GMIME_OBJECT(inner), nullptr, buffered.get()) >= 0 &&
         g_mime_stream_flush(buffered.get()) == 0;
}

const Leaf* firstText(const std::vector<Leaf>& leaves, std::string_view mediaType) {
  for (const Leaf& leaf : leaves) {
    if (!leaf.attachment && leaf.mediaType == mediaType) return &leaf;
  }
  return nullptr;
}

// The decoded bytes of a text part as text with CR LF line ends. Bytes cut at the limit
// are first taken back to the last line end, so that no character is split and the
// charset is judged on whole lines; the text then ends in a note that says so.
std::string bodyFromBytes(std::string bytes, std::string_view charset, bool cut, size_t limit) {
  if (cut) {
    const size_t lineEnd = bytes.rfind('\n');
    if (lineEnd != std::string::npos && lineEnd >= bytes.size() / 2) bytes.resize(lineEnd + 1);
  }
  std::string text = jptext::fDecodeBytes(charset, bytes);
  jptext::sToCrLf(text);
  if (cut) text += fBodyCutNote(limit);
  return text;
}

// The text part shown as the body: the first text/plain, or text/html with "html:".
const Leaf* chosenText(const std::vector<Leaf>& leaves, bool preferHtml) {
  const Leaf* plain = firstText(leaves, "text/plain");
  const Leaf* html = firstText(leaves, "text/html");
  return preferHtml ? (html ? html : plain) : (plain ? plain : html);
}

std::string bodyText(const Leaf* chosen, size_t limit, bool& cut) {
  if (!chosen) return {};
  std::string bytes = mime::fDecodedContentPrefix(GMIME_PART(chosen->object), limit, cut);
  return bodyFromBytes(std::move(bytes), chosen->charset, cut, limit);
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
std::optional<std::string> singlePartBody(const std::vector<header::Field>& fields, PieceReader& reader,
                                          size_t limit, bool& cut) {
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
  const bool encoded = encoding == GMIME_CONTENT_ENCODING_BASE64 ||
                       encoding == GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE ||
                       encoding == GMIME_CONTENT_ENCODING_UUENCODE;
  GMimeEncoding state;
  if (encoded) g_mime_encoding_init_decode(&state, encoding);
  std::string decoded;
  while (decoded.size() <= limit) {
    std::string_view piece = reader.fNextBodyPiece();
    if (piece.empty()) break;
    if (!encoded) {
      decoded.append(piece);
      continue;
    }
    // The decoder keeps a partial quantum or soft line break between pieces.
    const size_t at = decoded.size();
    decoded.resize(at + g_mime_encoding_outlen(&state, piece.size()) + 4);
    size_t n = g_mime_encoding_step(&state, piece.data(), piece.size(), decoded.data() + at);
    decoded.resize(at + std::min(n, decoded.size() - at));
  }
  if (encoded) {
    char tail[8];
    size_t n = g_mime_encoding_flush(&state, nullptr, 0, tail);
    decoded.append(tail, std::min(n, sizeof tail));
  }
  cut = decoded.size() > limit;
  if (cut) decoded.resize(limit);
  const std::string* charsetLabel = type.fGet("charset");
  return bodyFromBytes(std::move(decoded), charsetLabel ? *charsetLabel : "", cut, limit);
}

}  // namespace

namespace {

// What a read is for beyond ReadMail's keys.
struct ReadOptions {
  size_t bodyLimit = std::string::npos;   // decoded bytes of the text part shown at most
  std::optional<size_t> onlyAttachment;   // extract this attachment alone, list no other
  // The stream is only the start of the file: give the key elements and the body alone,
  // and only when the start holds the whole body (or more than is shown); else a text.
  bool startOnly = false;
};

// ReadMail's work on a message read from `stream` in pieces. `cannotRead` is the result
// when the stream fails.
MailResult readStream(GMimeStream* stream, const KeyList& list, std::string_view folder, const ReadOptions& options,
                      const std::string& cannotRead, bool& bodyCut) {
  PieceReader reader(stream);
  const auto headerBlock = reader.fHeaderBlock();
  if (!headerBlock) return cannotRead;
  const auto fields = header::fSplitFields(*headerBlock);
  std::vector<std::string> result = headerElements(fields, list);
  if (list.noFile && list.noBody) return result;
  if (options.startOnly) {
    // The start must hold the whole header block and the body must be asked for.
    const std::string_view block = *headerBlock;
    const bool blankLineSeen = block == "\n" || block == "\r\n" || block.ends_with("\n\n") || block.ends_with("\n\r\n");
    if (list.noBody || !blankLineSeen) return std::string();
  }

  if (!list.noBody) {
    if (auto body = singlePartBody(fields, reader, options.bodyLimit, bodyCut)) {
      if (reader.failed) return cannotRead;
      if (options.startOnly && !bodyCut) return std::string();
      body->insert(0, "body: ");
      result.push_back(std::move(*body));
      return result;
    }
  }

  auto message = mime::fParseMessage(stream);
  std::vector<Leaf> leaves = leavesOf(message.get());
  if (!list.noBody) {
    std::string body;
    if (message) {
      const Leaf* chosen = chosenText(leaves, list.html);
      body = bodyText(chosen, options.bodyLimit, bodyCut);
      if (options.startOnly) {
        // A later part began, so the chosen one ended before the start did; a part of
        // the kind asked for that comes first in the start comes first in the file.
        const bool whole = chosen && chosen->mediaType == (list.html ? "text/html" : "text/plain") &&
                           (chosen != &leaves.back() || bodyCut);
        if (!whole) return std::string();
        result.push_back("body: " + body);
        return result;
      }
    } else if (options.startOnly) {
      return std::string();
    } else {
      // Not a message GMime can take: the bytes after the header block as written.
      if (!reader.fRewindToBody(headerBlock->size())) return cannotRead;
      std::string rest;
      for (std::string_view piece; !(piece = reader.fNextBodyPiece()).empty();) rest.append(piece);
      if (reader.failed) return cannotRead;
      body = jptext::fToCrLf(jptext::fDecodeUndeclared(rest));
    }
    result.push_back("body: " + body);
  }
  size_t index = 0;
  for (const Leaf& leaf : leaves) {
    if (!leaf.attachment) continue;
    const size_t at = index++;
    if (options.onlyAttachment && *options.onlyAttachment != at) continue;
    std::string name = attach::fSafeFileName(leaf.name, fallbackName(at, leaf.mediaType));
    if (list.noFile) {
      result.push_back("file: " + name);
      continue;
    }
    auto extracted = attach::fExtractWith(mailstore::fPath(folder), name,
                                          [&leaf](const fs::path& file) { return writeLeaf(leaf, file); });
    if (!extracted) return std::string(kCannotExtract) + std::string(folder);
    result.push_back("file: " + mailstore::fUtf8(*extracted));
  }
  return result;
}

MailResult readFile(std::string_view file, std::string_view keys, std::string_view folder, const ReadOptions& options,
                    bool& bodyCut) {
  const std::string cannotOpen = std::string(kCannotOpen) + std::string(file);
  auto stream = mime::fOpenFile(mailstore::fPath(file), false);
  if (!stream) return cannotOpen;
  return readStream(stream.get(), parseKeys(keys), folder, options, cannotOpen, bodyCut);
}

}  // namespace

MailResult ReadMail(std::string_view file, std::string_view keys, std::string_view folder) {
  bool cut = false;
  return readFile(file, keys, folder, {}, cut);
}

ShownMail fReadMailShown(std::string_view file, std::string_view keys, std::string_view folder,
                         size_t maxBodyBytes) {
  ShownMail shown;
  shown.result = readFile(file, keys, folder, {maxBodyBytes, std::nullopt}, shown.bodyCut);
  return shown;
}

std::optional<std::vector<std::string>> fReadMailShownStart(std::string_view file, std::string_view keys,
                                                            size_t maxBodyBytes, size_t headBytes) {
  auto stream = mime::fOpenFile(mailstore::fPath(file), false);
  if (!stream) return std::nullopt;
  mime::Ref<GMimeStream> head(g_mime_stream_substream(stream.get(), 0, static_cast<gint64>(headBytes)));
  if (!head) return std::nullopt;
  bool cut = false;
  ReadOptions options{maxBodyBytes, std::nullopt, true};
  MailResult r = readStream(head.get(), parseKeys(keys), "", options, std::string(), cut);
  auto* values = std::get_if<std::vector<std::string>>(&r);
  if (!values) return std::nullopt;
  return std::move(*values);
}

std::optional<std::string> fExtractAttachment(std::string_view file, size_t index, std::string_view folder) {
  bool cut = false;
  MailResult r = readFile(file, "nobody:", folder, {std::string::npos, index}, cut);
  auto* values = std::get_if<std::vector<std::string>>(&r);
  if (!values || values->size() != 2) return std::nullopt;
  return values->back().substr(6);
}

std::string fBodyCutNote(size_t limit) {
  const bool megabytes = limit >= 1024 * 1024;
  const std::string size = std::to_string(megabytes ? limit / (1024 * 1024) : std::max<size_t>(1, limit / 1024)) +
                           (megabytes ? " MB" : " KB");
  return "\r\n――― 本文が大きいため、先頭の " + size + " までを表示しています。続きは省略しました ―――\r\n";
}

MailResult fReadMailBytes(std::string_view bytes, std::string_view keys, std::string_view folder) {
  mime::sInit();
  mime::Ref<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(bytes.data(), bytes.size()));
  bool cut = false;
  return readStream(stream.get(), parseKeys(keys), folder, {}, std::string(kCannotOpen), cut);
}

std::optional<PartContent> fReadPartByContentId(std::string_view file, std::string_view contentId) {
  std::string wanted = stripContentId(contentId);
  if (wanted.empty()) return std::nullopt;
  auto stream = mime::fOpenFile(mailstore::fPath(file), false);
  if (!stream) return std::nullopt;
  auto message = mime::fParseMessage(stream.get());
  for (const Leaf& leaf : leavesOf(message.get())) {
    const char* id = g_mime_object_get_content_id(leaf.object);
    if (id && stripContentId(id) == wanted) return PartContent{leafBytes(leaf), leaf.mediaType};
  }
  return std::nullopt;
}

MailParts fPartsOf(const std::vector<std::string>& elements) {
  MailParts parts;
  for (const std::string& element : elements) {
    const size_t colon = element.find(": ");
    if (colon == std::string::npos) continue;
    std::string label = element.substr(0, colon);
    std::string value = element.substr(colon + 2);
    if (label == "body") {
      parts.body = std::move(value);
    } else if (label == "file") {
      parts.files.push_back(std::move(value));
    } else {
      parts.headers.emplace_back(std::move(label), std::move(value));
    }
  }
  return parts;
}

std::string MailParts::header(std::string_view key) const {
  for (const auto& [label, value] : headers) {
    if (label == key) return value;
  }
  return {};
}

}  // namespace mail
