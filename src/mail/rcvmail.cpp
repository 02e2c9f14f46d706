// POP3 receiving. The dialogue is our own (sockets + OpenSSL) so that RETR and DELE can
// be pipelined when the server offers it: one round trip per message is the main cost
// of a big fetch on a fast link.
#include <fcntl.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <map>
#include <set>

#include "mail/mail.h"
#include "mail/netconn.h"
#include "mail/uidlstore.h"
#include "store/fsutil.h"

namespace fs = std::filesystem;

namespace mail {
namespace {

constexpr std::string_view kTempPrefix = kReceiveTempPrefix;
// Another writer's temporary (".<hex>.tmp.ini", or ".<hex>.tmp" of earlier versions) this
// old was left by a killed process.
constexpr auto kStaleTempAge = std::chrono::minutes(10);
constexpr std::size_t kPipelineWindow = 64;
// How long a server that answers -ERR gets to hang up, when it does (only on failures).
constexpr int kCloseGraceMs = 200;

struct Command {
  bool all = true;
  bool del = false;
  std::size_t last = 0;  // "1-n": messages 1..n
};

bool parseCommand(std::string_view text, Command& cmd) {
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  if (text == "SAVEALL" || text == "SAVEALLD") {
    cmd.all = true;
    cmd.del = text == "SAVEALLD";
    return true;
  }
  std::string_view range;
  if (text.substr(0, 7) == "SAVE 1-") {
    cmd.del = false;
  } else if (text.substr(0, 7) == "SAVD 1-") {
    cmd.del = true;
  } else {
    return false;
  }
  range = text.substr(7);
  if (range.empty() || range.size() > 9) return false;
  std::size_t n = 0;
  for (char c : range) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + static_cast<std::size_t>(c - '0');
  }
  cmd.all = false;
  cmd.last = n;
  return true;
}

std::string sha256Hex(std::string_view bytes) {
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  EVP_Digest(bytes.data(), bytes.size(), md, &len, EVP_sha256(), nullptr);
  static const char* hex = "0123456789abcdef";
  std::string out = "sha256:";
  for (unsigned i = 0; i < len; ++i) {
    out += hex[md[i] >> 4];
    out += hex[md[i] & 15];
  }
  return out;
}

bool isOtherWritersTemp(std::string_view name) {
  if (name.size() > 4 && name.substr(name.size() - 4) == ".ini") name.remove_suffix(4);
  if (name.size() < 6 || name[0] != '.' || name.substr(name.size() - 4) != ".tmp") return false;
  return std::all_of(name.begin() + 1, name.end() - 4,
                     [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; });
}

// Removes hidden temporaries of a run that was killed while writing: ours at once,
// those of the program's other writers (read states, say) once they are surely dead.
void cleanStaleTemps(const fs::path& folder) {
  std::error_code ec;
  const auto staleBefore = fs::file_time_type::clock::now() - kStaleTempAge;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::string name = it->path().filename().string();
    std::error_code rm;
    if (name.compare(0, kTempPrefix.size(), kTempPrefix) == 0) {
      fs::remove(it->path(), rm);
    } else if (isOtherWritersTemp(name)) {
      auto when = fs::last_write_time(it->path(), rm);
      if (!rm && when < staleBefore) fs::remove(it->path(), rm);
    }
  }
}

// Saves received messages: hidden temporary, journal entry, rename to a final name that
// never replaces a file. Nothing is flushed per message; sFlush() flushes the batch.
class MailWriter {
 public:
  MailWriter(fs::path folder, UidlStore& uidl)
      : folder_(std::move(folder)), home_(UidlStore::fHomeFolder(folder_)), uidl_(uidl) {
    // The run's names start with its time to the millisecond, later than any earlier
    // run of this process: the names of a run that moved its mails out of the inbox are
    // never given again by the next run (in the same second), so filing into the
    // folder that holds them finds its name free.
    static std::atomic<long long> lastMs{0};
    long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::system_clock::now().time_since_epoch())
                       .count();
    long long last = lastMs.load(), chosen = 0;
    do {
      chosen = std::max(ms, last + 1);
    } while (!lastMs.compare_exchange_weak(last, chosen));
    ms = chosen;
    const std::time_t now = static_cast<std::time_t>(ms / 1000);
    std::tm tm{};
    localtime_r(&now, &tm);
    char buf[40];
    const std::size_t n = std::strftime(buf, sizeof buf, "%Y%m%d_%H%M%S", &tm);
    std::snprintf(buf + n, sizeof buf - n, "%03lld", ms % 1000);
    stamp_ = buf;
  }

  // The saved file's full path, or nothing with `error` set.
  std::optional<fs::path> save(const std::string& uid, std::string_view bytes, std::string& error) {
    // Written beside the inbox, not in it: a file a killed run leaves is never a mail.
    fs::path tmp = home_ / (std::string(kTempPrefix) + std::to_string(::getpid()) + "-" +
                            std::to_string(++tempCount_) + ".tmp.ini");
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
      error = "メールを保存できません (" + folder_.string() + "): " + std::strerror(errno);
      return std::nullopt;
    }
    bool ok = writeAll(fd, bytes);
    int err = errno;
    ok = ::close(fd) == 0 && ok;
    if (!ok) {
      ::unlink(tmp.c_str());
      error = "メールを保存できません (" + folder_.string() + "): " + std::strerror(err);
      return std::nullopt;
    }
    for (int tries = 0; tries < 100000; ++tries) {
      std::string name = nextName();
      fs::path target = folder_ / name;
      std::error_code ec;
      if (fs::exists(target, ec)) continue;
      if (!uidl_.fJournal(uid, name)) {
        ::unlink(tmp.c_str());
        error = "受信済み一覧を書けません (" + folder_.string() + ")";
        return std::nullopt;
      }
      if (fsutil::fRenameNoReplace(tmp, target)) {
        written_ = true;
        return target;
      }
      if (fs::exists(target, ec)) continue;  // taken meanwhile: try the next name
      break;
    }
    ::unlink(tmp.c_str());
    error = "メールを保存できません (" + folder_.string() + ")";
    return std::nullopt;
  }

  // Everything saved so far reaches the disk before anything is deleted on the server:
  // one flush of the file system for the whole batch instead of one per message.
  void sFlush() {
    if (!written_) return;
    int fd = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
      ::syncfs(fd);
      ::fsync(fd);
      ::close(fd);
    }
    written_ = false;
  }

 private:
  static bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
      ssize_t n = ::write(fd, bytes.data(), bytes.size());
      if (n < 0) {
        if (errno == EINTR) continue;
        return false;
      }
      bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
  }
  std::string nextName() {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s_%04u.eml", stamp_.c_str(), ++nameCount_);
    return buf;
  }

  fs::path folder_;
  fs::path home_;  // where the temporaries wait
  UidlStore& uidl_;
  std::string stamp_;
  unsigned nameCount_ = 0;
  unsigned tempCount_ = 0;
  bool written_ = false;
};

struct Pop3Message {
  std::size_t number;
  std::string uid;  // empty when the server has no UIDL
};

class Pop3Session {
 public:
  explicit Pop3Session(net::NetConn& conn) : conn_(conn) {}

  // The reply line of a command; false on -ERR or a broken connection.
  bool reply(std::string& words) {
    std::string line;
    if (!conn_.readLine(line)) {
      words = conn_.error();
      broken_ = true;
      return false;
    }
    if (line.compare(0, 3, "+OK") == 0) {
      words = line.size() > 4 ? line.substr(4) : "";
      return true;
    }
    if (line.compare(0, 4, "-ERR") == 0) {
      words = line.substr(std::min<std::size_t>(line.size(), 5));
    } else {
      words = "サーバの応答が不正です: " + net::fCleanServerText(line);
      broken_ = true;  // not POP3 at all
    }
    return false;
  }
  bool command(const std::string& cmd, std::string& words) {
    if (!conn_.writeAll(cmd + "\r\n")) {
      words = conn_.error();
      broken_ = true;
      return false;
    }
    return reply(words);
  }
  // A SASL step: true with the server's "+ " text (base64) when the exchange goes on.
  bool challenge(const std::string& cmd, std::string& words) {
    if (!conn_.writeAll(cmd + "\r\n")) {
      words = conn_.error();
      broken_ = true;
      return false;
    }
    std::string line;
    if (!conn_.readLine(line)) {
      words = conn_.error();
      broken_ = true;
      return false;
    }
    if (line.compare(0, 2, "+ ") == 0 || line == "+") {
      words = line.size() > 2 ? line.substr(2) : "";
      return true;
    }
    words = line.compare(0, 4, "-ERR") == 0 ? line.substr(std::min<std::size_t>(line.size(), 5))
                                            : net::fCleanServerText(line);
    if (line.compare(0, 3, "+OK") == 0) broken_ = true;  // no login took place: out of step
    return false;
  }
  bool multiline(std::string& out, std::string& words) {
    if (!conn_.readMultiline(out)) {
      words = conn_.error();
      broken_ = true;
      return false;
    }
    return true;
  }
  // Writes commands without waiting (a pipelined batch).
  bool send(const std::string& raw, std::string& words) {
    if (conn_.writeAll(raw)) return true;
    words = conn_.error();
    broken_ = true;
    return false;
  }
  bool broken() const { return broken_; }
  void markBroken() { broken_ = true; }
  // After an -ERR: whether the server hung up behind it (it is shutting down).
  bool closedAfterError() {
    if (!conn_.fClosedByPeer(kCloseGraceMs)) return false;
    broken_ = true;
    return true;
  }

 private:
  net::NetConn& conn_;
  bool broken_ = false;
};

// The capability names, and the mechanisms of the SASL line.
std::set<std::string> parseCapa(std::string_view text, std::set<std::string>& sasl) {
  std::set<std::string> caps;
  sasl.clear();
  while (!text.empty()) {
    std::size_t nl = text.find('\n');
    std::string_view line = text.substr(0, nl);
    text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.remove_suffix(1);
    std::string upper(line);
    for (auto& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    std::string word = upper.substr(0, upper.find(' '));
    if (!word.empty()) caps.insert(word);
    if (word == "SASL") {
      for (std::size_t at = 4; at < upper.size();) {
        std::size_t end = upper.find(' ', at + 1);
        std::string mech = upper.substr(at + 1, end == std::string::npos ? end : end - at - 1);
        if (!mech.empty()) sasl.insert(mech);
        at = end == std::string::npos ? upper.size() : end;
      }
    }
  }
  return caps;
}

constexpr const char* kNoStls =
    "サーバが暗号化 (STLS) に対応していないため、パスワードを送りません (アカウント設定の「受信の暗号化」)";

std::string hexOf(const unsigned char* md, unsigned len) {
  static const char* hex = "0123456789abcdef";
  std::string out;
  for (unsigned i = 0; i < len; ++i) {
    out += hex[md[i] >> 4];
    out += hex[md[i] & 15];
  }
  return out;
}

// RFC 1939: MD5 of the greeting's time stamp followed by the password.
std::string apopDigest(const std::string& stamp, std::string_view pass) {
  std::string text = stamp + std::string(pass);
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  EVP_Digest(text.data(), text.size(), md, &len, EVP_md5(), nullptr);
  return hexOf(md, len);
}

// RFC 2195: base64 of the user, a space and the HMAC-MD5 of the challenge.
std::string cramMd5Answer(std::string_view user, std::string_view pass, const std::string& challenge) {
  std::string decoded(challenge.size(), '\0');
  int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(decoded.data()),
                          reinterpret_cast<const unsigned char*>(challenge.data()),
                          static_cast<int>(challenge.size()));
  if (n < 0) n = 0;
  std::size_t pad = 0;
  for (auto it = challenge.rbegin(); it != challenge.rend() && *it == '='; ++it) ++pad;
  decoded.resize(static_cast<std::size_t>(n) - std::min<std::size_t>(pad, static_cast<std::size_t>(n)));
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  HMAC(EVP_md5(), pass.data(), static_cast<int>(pass.size()),
       reinterpret_cast<const unsigned char*>(decoded.data()), decoded.size(), md, &len);
  std::string plain = std::string(user) + " " + hexOf(md, len);
  std::string out(4 * ((plain.size() + 2) / 3) + 1, '\0');
  int m = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                          reinterpret_cast<const unsigned char*>(plain.data()), static_cast<int>(plain.size()));
  out.resize(static_cast<std::size_t>(m));
  return out;
}

// "POP3: " + what happened + ": " + the server's words.
std::string failText(std::string_view what, std::string_view words) {
  std::string clean = net::fCleanServerText(words);
  std::string text = "POP3: " + std::string(what);
  if (!clean.empty()) text += ": " + clean;
  return text;
}

// The connection's own text (already plain) when it broke.
std::string brokenText(std::string_view words) { return "POP3: " + std::string(words); }

std::string closedText(std::string_view words) {
  return failText("サーバが接続を閉じました", words);
}

// A refused USER or PASS, told apart by the response codes servers give.
std::string loginFailure(Pop3Session& pop, std::string_view words) {
  if (pop.closedAfterError()) return closedText(words);
  if (words.substr(0, 8) == "[IN-USE]")
    return failText("メールボックスが使用中です (ほかのメールソフトが受信中かもしれません)", words);
  if (words.substr(0, 5) == "[SYS/") return failText("サーバの都合でログインできません", words);
  return failText("ログインを拒否されました (ユーザーIDとパスワードを確かめてください)", words);
}

class Receiver {
 public:
  Receiver(const Command& cmd, fs::path folder, const Progress& progress, const Saved& saved)
      : cmd_(cmd), folder_(std::move(folder)), progress_(progress), savedHook_(saved) {}

  MailResult run(const std::string& host, int port, std::string_view user, std::string_view pass) {
    UidlStore uidl(folder_, std::string(user) + "@" + host);
    uidl.load();
    MailWriter writer(folder_, uidl);
    net::NetConn conn;
    Pop3Session pop(conn);
    std::string error = dialogue(conn, pop, uidl, writer, host, port, user, pass);
    // Whatever happened, saved mail is flushed and recorded before the caller sees it.
    writer.sFlush();
    if (!saved_.empty() || gotList_) {
      if (!uidl.fCommit(gotList_ ? &onServer_ : nullptr) && error.empty())
        error = "受信済み一覧を書けません (" + folder_.string() + ")";
    }
    if (error.empty() && cmd_.del && !pop.broken())
      error = deleteAndQuit(pop, uidl);
    else if (!pop.broken()) {
      std::string words;
      pop.command("QUIT", words);
    }
    // Saved files are always handed back: they must be filed even when a later step
    // failed (the failure shows again on the next run).
    if (!saved_.empty()) return saved_;
    return error;
  }

 private:
  std::string dialogue(net::NetConn& conn, Pop3Session& pop, UidlStore& uidl, MailWriter& writer,
                       const std::string& host, int port, std::string_view user,
                       std::string_view pass) {
    const net::Route route = net::fRoute(host, port, fGetLibrarySettings().pop3sPort);
    if (!conn.open(host, port, route == net::Route::Implicit)) {
      pop.markBroken();
      return brokenText(conn.error());
    }
    std::string words;
    if (!pop.reply(words)) {
      const bool broken = pop.broken();
      pop.markBroken();
      return broken ? brokenText(words) : closedText(words);  // "-ERR" instead of a greeting
    }
    const std::string greeting = words;
    std::set<std::string> caps = capabilities(pop);
    // STLS is asked for when it must be used even if CAPA does not list it: a listing
    // stripped on the way must not turn the login into a clear one.
    const bool tryTls = route == net::Route::StartTlsRequired ||
                        (route == net::Route::StartTlsIfOffered && caps.count("STLS"));
    if (!conn.isTls() && tryTls) {
      if (!pop.command("STLS", words)) {
        if (pop.broken()) return brokenText(words);
        return failText(caps.count("STLS") ? "STLSが拒否されました" : kNoStls, words);
      }
      if (!conn.startTls()) {
        pop.markBroken();
        return brokenText(conn.error());
      }
      caps = capabilities(pop);
    }
    if (pop.broken()) return brokenText(conn.error());
    pipelining_ = caps.count("PIPELINING") != 0;
    // Only a link the user chose to leave in clear changes the login; to this machine
    // in clear it stays USER/PASS as before.
    if (std::string err = login(pop, route == net::Route::Plain ? greeting : "", user, pass);
        !err.empty())
      return err;
    std::vector<Pop3Message> messages;
    if (std::string err = listMessages(pop, messages); !err.empty()) return err;
    if (!cmd_.all && messages.size() > cmd_.last) messages.resize(cmd_.last);
    for (const auto& m : messages) inRange_.push_back(m);
    std::vector<Pop3Message> wanted;
    for (const auto& m : messages)
      if (m.uid.empty() || !uidl.known(m.uid)) wanted.push_back(m);
    return fetch(pop, uidl, writer, wanted);
  }

  static std::string sanitize(std::string_view s) {
    std::string out;
    for (char c : s)
      if (c != '\r' && c != '\n') out += c;
    return out;
  }

  std::set<std::string> capabilities(Pop3Session& pop) {
    std::string words, body;
    if (!pop.command("CAPA", words)) return {};
    if (!pop.multiline(body, words)) return {};
    return parseCapa(body, saslMechanisms_);
  }

  // USER/PASS over TLS (or to this machine as before). In clear (`greeting` given), a
  // method that proves the password without sending it comes first when offered.
  std::string login(Pop3Session& pop, const std::string& greeting, std::string_view user,
                    std::string_view pass) {
    std::string words;
    if (!greeting.empty()) {
      if (saslMechanisms_.count("CRAM-MD5")) {
        if (pop.challenge("AUTH CRAM-MD5", words)) {
          if (pop.command(cramMd5Answer(user, pass, words), words)) return "";
          return pop.broken() ? brokenText(words) : loginFailure(pop, words);
        }
        if (pop.broken()) return brokenText(words);
      }
      const std::size_t lt = greeting.find('<');
      const std::size_t gt = lt == std::string::npos ? lt : greeting.find('>', lt);
      if (gt != std::string::npos) {
        const std::string stamp = greeting.substr(lt, gt - lt + 1);
        if (pop.command("APOP " + sanitize(user) + " " + apopDigest(stamp, pass), words)) return "";
        return pop.broken() ? brokenText(words) : loginFailure(pop, words);
      }
    }
    if (!pop.command("USER " + sanitize(user), words) ||
        !pop.command("PASS " + sanitize(pass), words)) {
      if (pop.broken()) return brokenText(words);
      return loginFailure(pop, words);
    }
    return "";
  }

  std::string listMessages(Pop3Session& pop, std::vector<Pop3Message>& messages) {
    std::string words, body;
    if (pop.command("UIDL", words)) {
      if (!pop.multiline(body, words)) return brokenText(words);
      std::string_view text = body;
      while (!text.empty()) {
        std::size_t nl = text.find('\n');
        std::string_view line = text.substr(0, nl);
        text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.remove_suffix(1);
        std::size_t sp = line.find(' ');
        if (sp == std::string_view::npos) continue;
        std::size_t n = 0;
        bool ok = sp > 0 && sp < 10;
        for (char c : line.substr(0, sp))
          ok = ok && c >= '0' && c <= '9', n = n * 10 + static_cast<std::size_t>(c - '0');
        std::string uid(line.substr(sp + 1));
        if (!ok || n == 0 || uid.empty() || uid.find('\t') != std::string::npos) continue;
        messages.push_back({n, uid});
        onServer_.insert(uid);
      }
      std::sort(messages.begin(), messages.end(),
                [](const Pop3Message& a, const Pop3Message& b) { return a.number < b.number; });
      gotList_ = true;
      return "";
    }
    if (pop.broken()) return brokenText(words);
    // No UIDL: messages are told apart by a digest of their content.
    if (!pop.command("STAT", words))
      return pop.broken() ? brokenText(words) : failText("メールの一覧を受け取れません", words);
    std::size_t count = std::strtoul(words.c_str(), nullptr, 10);
    if (count > 1000000) count = 0;
    for (std::size_t i = 1; i <= count; ++i) messages.push_back({i, ""});
    return "";
  }

  std::string fetch(Pop3Session& pop, UidlStore& uidl, MailWriter& writer,
                    const std::vector<Pop3Message>& wanted) {
    const std::size_t total = wanted.size();
    if (progress_ && total) progress_(0, total);
    const std::size_t window = pipelining_ ? kPipelineWindow : 1;
    std::size_t sent = 0;
    std::string batch, words, bytes;
    bool digests = !wanted.empty() && wanted.front().uid.empty();
    for (std::size_t done = 0; done < total; ++done) {
      if (sent - done <= window / 2 && sent < total) {
        batch.clear();
        while (sent < total && sent - done < window)
          batch += "RETR " + std::to_string(wanted[sent++].number) + "\r\n";
        if (!pop.send(batch, words)) return brokenText(words);
      }
      if (!pop.reply(words)) {
        if (pop.broken()) return brokenText(words);
        if (pop.closedAfterError()) return closedText(words);
        return failText("サーバがメールを渡しません", words);
      }
      bytes.clear();
      if (!pop.multiline(bytes, words)) return brokenText(words);
      std::string uid = digests ? sha256Hex(bytes) : wanted[done].uid;
      if (digests) {
        onServer_.insert(uid);
        byNumber_[wanted[done].number] = uid;
      }
      if (!uidl.known(uid)) {
        std::string err;
        auto path = writer.save(uid, bytes, err);
        if (!path) return err;
        uidl.markReceived(uid);
        saved_.push_back(path->string());
        if (savedHook_) savedHook_(saved_.back(), bytes);
      }
      if (progress_) progress_(done + 1, total);
    }
    if (digests) gotList_ = true;
    return "";
  }

  // Deletes every message of the range that the inbox holds (saved now or earlier),
  // then QUIT, which is when the server removes them.
  std::string deleteAndQuit(Pop3Session& pop, UidlStore& uidl) {
    std::vector<std::size_t> numbers;
    for (const auto& m : inRange_) {
      std::string uid = m.uid.empty() ? byNumber_[m.number] : m.uid;
      if (!uid.empty() && uidl.known(uid)) numbers.push_back(m.number);
    }
    std::string words;
    const std::size_t window = pipelining_ ? kPipelineWindow : 1;
    std::size_t sent = 0;
    for (std::size_t done = 0; done < numbers.size(); ++done) {
      if (sent - done <= window / 2 && sent < numbers.size()) {
        std::string batch;
        while (sent < numbers.size() && sent - done < window)
          batch += "DELE " + std::to_string(numbers[sent++]) + "\r\n";
        if (!pop.send(batch, words)) return brokenText(words);
      }
      // A single refused DELE leaves that message on the server; the rest go on.
      if (!pop.reply(words) && pop.broken()) return brokenText(words);
    }
    if (!pop.command("QUIT", words))
      return pop.broken() ? brokenText(words) : failText("サーバがメールを削除できません", words);
    return "";
  }

  Command cmd_;
  fs::path folder_;
  const Progress& progress_;
  const Saved& savedHook_;
  bool pipelining_ = false;
  std::set<std::string> saslMechanisms_;
  bool gotList_ = false;
  std::set<std::string> onServer_;
  std::map<std::size_t, std::string> byNumber_;
  std::vector<Pop3Message> inRange_;
  std::vector<std::string> saved_;
};

}  // namespace

MailResult RcvMail(std::string_view server, std::string_view user, std::string_view pass,
                   std::string_view command, std::string_view dest, const Progress& progress,
                   const Saved& saved) {
  try {
    Command cmd;
    if (!parseCommand(command, cmd)) return "受信コマンドが不正です: " + std::string(command);
    if (dest.empty() || dest.front() != '<') return "受信先の指定が不正です: " + std::string(dest);
    fs::path folder(std::string(dest.substr(1)));
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) return "受信先フォルダがありません: " + folder.string();
    std::string host;
    int port = 110;
    if (!net::fSplitHostPort(server, '\t', 110, host, port))
      return "POP3サーバの指定が不正です: " + std::string(server);
    cleanStaleTemps(folder);  // left there by earlier versions
    cleanStaleTemps(UidlStore::fHomeFolder(folder));
    net::SigpipeGuard sigpipe;
    Receiver receiver(cmd, folder, progress, saved);
    return receiver.run(host, port, user, pass);
  } catch (const std::exception& e) {
    return std::string("受信に失敗しました: ") + e.what();
  }
}

}  // namespace mail
