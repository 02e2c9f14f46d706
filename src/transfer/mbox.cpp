#include "transfer/mbox.h"

#include <algorithm>
#include <cctype>
#include <ctime>

namespace transfer {
namespace {

constexpr std::size_t kChunk = 1 << 20;

bool isBlank(std::string_view line) { return line == "\n" || line == "\r\n"; }

// ">From ", ">>From ", ...: a line the writer quoted.
bool isQuotedFrom(std::string_view line) {
  std::size_t n = 0;
  while (n < line.size() && line[n] == '>') ++n;
  return n > 0 && line.substr(n, 5) == "From ";
}

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
  }
  return true;
}

std::size_t contentLength(std::string_view line) {
  constexpr std::string_view kName = "content-length:";
  if (!startsWithNoCase(line, kName)) return std::string_view::npos;
  std::size_t n = 0, digits = 0;
  for (char c : line.substr(kName.size())) {
    if (c == ' ' || c == '\t') continue;
    if (c < '0' || c > '9') break;
    if (++digits > 12) return std::string_view::npos;
    n = n * 10 + static_cast<std::size_t>(c - '0');
  }
  return digits ? n : std::string_view::npos;
}

}  // namespace

bool fIsFromLine(std::string_view line) {
  if (line.substr(0, 5) != "From ") return false;
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  auto digit = [&](std::size_t i) { return std::isdigit(static_cast<unsigned char>(line[i])) != 0; };
  bool time = false, year = false;
  for (std::size_t i = 5; i < line.size(); ++i) {
    if (i + 4 < line.size() && digit(i) && digit(i + 1) && line[i + 2] == ':' && digit(i + 3) &&
        digit(i + 4))
      time = true;
    if (i + 3 < line.size() && (line.substr(i, 2) == "19" || line.substr(i, 2) == "20") &&
        digit(i + 2) && digit(i + 3) && (i + 4 == line.size() || !digit(i + 4)) && !digit(i - 1))
      year = true;
  }
  return time && year;
}

MboxReader::~MboxReader() {
  if (file_) std::fclose(file_);
}

bool MboxReader::fOpen(const std::filesystem::path& path, std::string& error) {
  std::error_code ec;
  size_ = std::filesystem::file_size(path, ec);
  file_ = ec ? nullptr : std::fopen(path.c_str(), "rb");
  if (!file_) {
    error = "ファイルを読めません: " + path.string();
    return false;
  }
  // Blank lines before the first separator are tolerated; anything else is not an mbox.
  for (std::string_view line = fLine(); isBlank(line); line = fLine()) sConsume(line.size());
  if (readError_) {
    error = "ファイルを読めません: " + path.string();
    return false;
  }
  if (!fAtFromLine()) {
    error = "mbox 形式のファイルではありません: " + path.string();
    return false;
  }
  return true;
}

bool MboxReader::fFill(std::size_t n) {
  while (buf_.size() - pos_ < n && !eof_) {
    if (const std::size_t drop = std::min(pos_, mark_); drop > kChunk) {
      buf_.erase(0, drop);
      pos_ -= drop;
      if (mark_ != std::string::npos) mark_ -= drop;
    }
    const std::size_t old = buf_.size();
    buf_.resize(old + kChunk);
    const std::size_t got = std::fread(buf_.data() + old, 1, kChunk, file_);
    buf_.resize(old + got);
    if (got < kChunk) {
      eof_ = true;
      readError_ = std::ferror(file_) != 0;
    }
  }
  return buf_.size() - pos_ >= n;
}

std::string_view MboxReader::fLine() {
  std::size_t nl;
  while ((nl = buf_.find('\n', pos_)) == std::string::npos && !eof_) fFill(buf_.size() - pos_ + kChunk);
  std::size_t end = nl == std::string::npos ? buf_.size() : nl + 1;
  return std::string_view(buf_).substr(pos_, end - pos_);
}

void MboxReader::sConsume(std::size_t n) {
  pos_ += n;
  consumed_ += n;
}

bool MboxReader::fAtFromLine() { return fIsFromLine(fLine()); }

bool MboxReader::fTakeCounted(std::string& message, std::size_t length) {
  fFill(length + 2);
  if (buf_.size() - pos_ < length) return false;
  std::string_view rest = std::string_view(buf_).substr(pos_ + length);
  const std::size_t skip = rest.starts_with("\n") ? 1 : rest.starts_with("\r\n") ? 2 : 0;
  // Look at the line behind the counted body; the mark keeps the body in the buffer.
  mark_ = pos_;
  pos_ += length + skip;
  std::string_view next = fLine();
  const bool separator = next.empty() || fIsFromLine(next);
  pos_ = mark_;
  mark_ = std::string::npos;
  if (!separator) return false;
  message.append(buf_, pos_, length);
  sConsume(length + skip);
  return true;
}

MboxReader::Next MboxReader::fNext(std::string& message, std::string& fromLine) {
  message.clear();
  std::string_view line = fLine();
  if (line.empty()) return readError_ ? Next::Error : Next::End;
  fromLine.assign(line);
  while (!fromLine.empty() && (fromLine.back() == '\n' || fromLine.back() == '\r')) fromLine.pop_back();
  sConsume(line.size());

  bool headerDone = false;
  std::size_t length = std::string_view::npos;
  for (line = fLine(); !line.empty(); line = fLine()) {
    if (fIsFromLine(line)) break;  // a message of headers only
    const std::size_t raw = line.size();
    if (isQuotedFrom(line)) line.remove_prefix(1);
    if (length == std::string_view::npos) length = contentLength(line);
    message.append(line);
    sConsume(raw);
    if (isBlank(line)) {
      headerDone = true;
      break;
    }
  }
  if (headerDone && length != std::string_view::npos && fTakeCounted(message, length))
    return Next::Message;

  bool previousBlank = headerDone;
  for (line = fLine(); !line.empty(); line = fLine()) {
    if (previousBlank && fIsFromLine(line)) break;
    previousBlank = isBlank(line);
    const bool quoted = isQuotedFrom(line);
    message.append(quoted ? line.substr(1) : line);
    sConsume(line.size());
  }
  if (readError_) return Next::Error;
  if (line.empty() && (!headerDone || message.empty() || message.back() != '\n'))
    return Next::Truncated;
  // The blank line before the next separator belongs to the file, not to the message.
  if (message.size() >= 2 && message.ends_with("\n\n")) message.pop_back();
  else if (message.size() >= 3 && message.ends_with("\n\r\n")) message.resize(message.size() - 2);
  return Next::Message;
}

bool MboxWriter::fWrite(std::string_view message, std::string_view sender, long long when) {
  static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::time_t t = static_cast<std::time_t>(when);
  std::tm tm{};
  gmtime_r(&t, &tm);
  // Names written out: the C library's would follow the user's locale.
  std::fprintf(file_, "From %.*s %s %s %2d %02d:%02d:%02d %d\n", static_cast<int>(sender.size()),
               sender.data(), kDays[tm.tm_wday], kMonths[tm.tm_mon], tm.tm_mday, tm.tm_hour,
               tm.tm_min, tm.tm_sec, tm.tm_year + 1900);
  while (!message.empty()) {
    std::size_t nl = message.find('\n');
    std::size_t end = nl == std::string_view::npos ? message.size() : nl + 1;
    std::string_view line = message.substr(0, end);
    if (line.substr(0, 5) == "From " || isQuotedFrom(line)) std::fputc('>', file_);
    std::fwrite(line.data(), 1, line.size(), file_);
    if (nl == std::string_view::npos) std::fputc('\n', file_);
    message.remove_prefix(end);
  }
  std::fputc('\n', file_);
  return std::ferror(file_) == 0;
}

}  // namespace transfer
