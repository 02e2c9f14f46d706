#pragma once
// mbox files: one message after another, each behind a "From " separator line. Reading
// streams the file (memory grows with the largest message, not with the file) and undoes
// the quoting of the dialect it meets; writing uses mboxrd quoting, which reverses exactly.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

namespace transfer {

// A separator line as mail programs write it: "From " sender, then a date with a time
// of day ("From - Tue Dec  8 19:27:04 2026", "From a@b.jp Sat Jan  3 01:05:34 1996").
bool fIsFromLine(std::string_view line);

class MboxReader {
 public:
  enum class Next { Message, End, Truncated, Error };

  MboxReader() = default;
  ~MboxReader();
  MboxReader(const MboxReader&) = delete;
  MboxReader& operator=(const MboxReader&) = delete;

  // Opens the file and checks that it starts with a separator; `error` says why not.
  bool fOpen(const std::filesystem::path& path, std::string& error);
  // The next message's bytes, quoting undone and the separator's blank line dropped;
  // `fromLine` is its separator without the line end. Truncated: the file ends inside
  // the header block or inside a line (the message is not whole). Error: a read failed.
  Next fNext(std::string& message, std::string& fromLine);
  std::uint64_t fOffset() const { return consumed_; }
  std::uint64_t fSize() const { return size_; }

 private:
  // Makes at least `n` bytes from the current position available, or all there are.
  bool fFill(std::size_t n);
  // The next line including its "\n" (the last one may lack it); empty at the end.
  std::string_view fLine();
  void sConsume(std::size_t n);
  bool fAtFromLine();
  // A Content-Length (mboxcl2) body that ends exactly at the next separator or at the
  // end of the file: taken whole, unquoted.
  bool fTakeCounted(std::string& message, std::size_t length);

  std::FILE* file_ = nullptr;
  std::string buf_;
  std::size_t pos_ = 0;
  std::size_t mark_ = std::string::npos;  // the buffer keeps what lies from here on
  bool eof_ = false;
  bool readError_ = false;
  std::uint64_t consumed_ = 0, size_ = 0;
};

// Writes messages as mboxrd: every line that starts with ">"* "From " gains one ">",
// and each message ends with a blank line.
class MboxWriter {
 public:
  explicit MboxWriter(std::FILE* file) : file_(file) {}
  // `sender` is the separator's sender field; the date is `when` (seconds since 1970).
  bool fWrite(std::string_view message, std::string_view sender, long long when);

 private:
  std::FILE* file_;
};

}  // namespace transfer

namespace transfer {
// The separator's sender when the exporter added a Status line of its own to the
// message: the importer takes it out again, so a round trip gives back the same bytes.
inline constexpr std::string_view kAddedStatusSender = "status-added@quillbrook.invalid";
}  // namespace transfer
