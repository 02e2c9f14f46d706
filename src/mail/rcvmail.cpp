// POP3 receiving. The dialogue is our own (sockets + OpenSSL) so that the whole session
// can be pipelined when the server offers it: login with the listings, then every RETR
// and DELE in flight together, so a slow link costs a few round trips whatever the number
// of messages. Each message goes to its file as it arrives, in bounded parts.
#include <fcntl.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <map>
#include <set>

#include "mail/mail.h"
#include "mail/netconn.h"
#include "mail/oauthsasl.h"
#include "mail/uidlstore.h"
#include "store/fsutil.h"
#include "store/text.h"

namespace fs = std::filesystem;

namespace mail {
namespace {

constexpr std::string_view kTempPrefix = kReceiveTempPrefix;
// Another writer's temporary (".<hex>.tmp.ini", or ".<hex>.tmp" of earlier versions) this
// old was left by a killed process.
constexpr auto kStaleTempAge = std::chrono::minutes(10);
// Pipelining: RETRs are asked for up to this many reply bytes (LIST's sizes) at a time,
// and commands go unanswered up to kCommandBytes, well within what the two sockets
// buffer, so that writing a batch never waits on a server that waits on us to read.
constexpr std::uint64_t kWindowBytes = 8 << 20;
constexpr std::uint64_t kCommandBytes = 32 << 10;
constexpr std::uint64_t kUnknownSize = 64 << 10;  // a message LIST did not size
// A message is read and written in parts of this size; one up to kHandOverBytes is also
// handed to the caller's hook whole (a bigger one is read back from its file).
constexpr std::size_t kChunkBytes = 256 << 10;
constexpr std::size_t kHandOverBytes = 1 << 20;
// While messages still come, saved ones are flushed (and their DELEs sent) once this much
// has gathered; the rest at the end.
constexpr std::uint64_t kFlushBytes = 16 << 20;
constexpr std::size_t kFlushCount = 2048;
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

// Saves received messages as they arrive: hidden temporary, journal entry, rename to a
// final name that never replaces a file. Nothing is flushed per message; sFlush() flushes
// the batch.
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

  ~MailWriter() { discard(); }
  MailWriter(const MailWriter&) = delete;
  MailWriter& operator=(const MailWriter&) = delete;

  // Starts the next message's file: its bytes go to a hidden temporary as they come.
  bool begin(std::string& error) {
    discard();
    // Written beside the inbox, not in it: a file a killed run leaves is never a mail.
    tmp_ = home_ / (std::string(kTempPrefix) + std::to_string(::getpid()) + "-" +
                    std::to_string(++tempCount_) + ".tmp.ini");
    fd_ = ::open(tmp_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd_ < 0) {
      error = "メールを保存できません (" + folder_.string() + "): " + std::strerror(errno);
      tmp_.clear();
      return false;
    }
    return true;
  }

  bool append(std::string_view bytes, std::string& error) {
    if (writeAll(fd_, bytes)) return true;
    error = "メールを保存できません (" + folder_.string() + "): " + std::strerror(errno);
    discard();
    return false;
  }

  // Gives the message begun last its final name: the saved file's full path, or nothing
  // with `error` set.
  std::optional<fs::path> finish(const std::string& uid, std::string& error) {
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) {
      error = "メールを保存できません (" + folder_.string() + "): " + std::strerror(errno);
      discard();
      return std::nullopt;
    }
    for (int tries = 0; tries < 100000; ++tries) {
      std::string name = nextName();
      fs::path target = folder_ / name;
      std::error_code ec;
      if (fs::exists(target, ec)) continue;
      if (!uidl_.fJournal(uid, name)) {
        discard();
        error = "受信済み一覧を書けません (" + folder_.string() + ")";
        return std::nullopt;
      }
      if (fsutil::fRenameNoReplace(tmp_, target)) {
        tmp_.clear();
        written_ = true;
        return target;
      }
      if (fs::exists(target, ec)) continue;  // taken meanwhile: try the next name
      break;
    }
    discard();
    error = "メールを保存できません (" + folder_.string() + ")";
    return std::nullopt;
  }

  // Drops the message begun last (cut short, or already held).
  void discard() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    if (!tmp_.empty()) ::unlink(tmp_.c_str());
    tmp_.clear();
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
  int fd_ = -1;     // the message being written
  fs::path tmp_;    // its temporary
};

struct Pop3Message {
  std::size_t number;
  std::string uid;         // empty when the server has no UIDL
  std::uint64_t size = 0;  // as LIST gives it; 0 when unknown
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
  // One step of a SASL exchange that may end at once: +OK (done), "+ " (the server's
  // text in `words`, the exchange goes on) or -ERR.
  enum class Step { Done, More, Refused };
  Step saslStep(const std::string& line, std::string& words) {
    if (!conn_.writeAll(line + "\r\n")) {
      words = conn_.error();
      broken_ = true;
      return Step::Refused;
    }
    std::string reply;
    if (!conn_.readLine(reply)) {
      words = conn_.error();
      broken_ = true;
      return Step::Refused;
    }
    if (reply.compare(0, 3, "+OK") == 0) return Step::Done;
    if (reply.compare(0, 2, "+ ") == 0 || reply == "+") {
      words = reply.size() > 2 ? reply.substr(2) : "";
      return Step::More;
    }
    if (reply.compare(0, 4, "-ERR") == 0) {
      words = reply.substr(std::min<std::size_t>(reply.size(), 5));
    } else {
      words = "サーバの応答が不正です: " + net::fCleanServerText(reply);
      broken_ = true;
    }
    return Step::Refused;
  }
  bool multiline(std::string& out, std::string& words) {
    if (!conn_.readMultiline(out)) {
      words = conn_.error();
      broken_ = true;
      return false;
    }
    return true;
  }
  bool multilinePart(std::string& out, std::size_t limit, net::NetConn::Multiline& state,
                     std::string& words) {
    if (!conn_.readMultilinePart(out, limit, state)) {
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

constexpr const char* kTokenNeedsTls =
    "OAuth 2.0 のサインインは暗号化した接続でしか行いません (アカウント設定の「受信の暗号化」)";
constexpr const char* kNoOAuthMechanism =
    "サーバが OAuth 2.0 のサインイン (OAUTHBEARER, XOAUTH2) に対応していません";
constexpr const char* kNoStls =
    "サーバが暗号化 (STLS) に対応していないため、パスワードを送りません (アカウント設定の「受信の暗号化」)";

std::string hexOf(const unsigned char* md, unsigned len) {
  return text::hex(std::string_view(reinterpret_cast<const char*>(md), len));
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
    token_ = BearerToken::fCurrent();
    UidlStore uidl(folder_, std::string(user) + "@" + host);
    uidl.load();
    MailWriter writer(folder_, uidl);
    net::NetConn conn;
    Pop3Session pop(conn);
    std::string error = dialogue(conn, pop, uidl, writer, host, port, user, pass);
    // Whatever happened, saved mail is flushed and recorded before the caller sees it.
    writer.discard();
    writer.sFlush();
    if (!saved_.empty() || gotList_) {
      if (!uidl.fCommit(gotList_ ? &onServer_ : nullptr) && error.empty())
        error = "受信済み一覧を書けません (" + folder_.string() + ")";
    }
    // A run that stopped early still ends its session: the server then removes what was
    // deleted, all of it saved and flushed before its DELE was sent.
    if (!quitSent_ && !pop.broken()) {
      std::string words;
      pop.send("QUIT\r\n", words);
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
    // Over TLS the greeting only leaves the server after the handshake's last message:
    // CAPA goes along with that message instead of waiting for the greeting.
    const bool earlyCapa = conn.isTls() && conn.writeAll("CAPA\r\n");
    std::string words;
    if (!pop.reply(words)) {
      const bool broken = pop.broken();
      pop.markBroken();
      return broken ? brokenText(words) : closedText(words);  // "-ERR" instead of a greeting
    }
    const std::string greeting = words;
    std::set<std::string> caps = earlyCapa ? capaReply(pop) : capabilities(pop);
    // STLS is asked for when it must be used even if CAPA does not list it: a listing
    // stripped on the way must not turn the login into a clear one.
    const bool tryTls = route == net::Route::StartTlsRequired ||
                        (route == net::Route::StartTlsIfOffered && caps.count("STLS"));
    bool capsStale = false;  // listed before TLS: asked for again over it
    if (!conn.isTls() && tryTls) {
      if (!pop.command("STLS", words)) {
        if (pop.broken()) return brokenText(words);
        return failText(caps.count("STLS") ? "STLSが拒否されました" : kNoStls, words);
      }
      if (!conn.startTls()) {
        pop.markBroken();
        return brokenText(conn.error());
      }
      capsStale = true;
    }
    if (pop.broken()) return brokenText(conn.error());
    std::vector<Pop3Message> messages;
    // Only a link the user chose to leave in clear changes the login; to this machine
    // in clear it stays USER/PASS as before.
    if (!token_.empty() && !conn.isTls()) return failText(kTokenNeedsTls, "");
    if (route != net::Route::Plain && caps.count("PIPELINING") && token_.empty()) {
      // One flight: capabilities again (after STLS), login and both listings. Should the
      // login fail, the listings are refused and nothing else happens.
      std::string batch = capsStale ? "CAPA\r\n" : "";
      batch += "USER " + sanitize(user) + "\r\nPASS " + sanitize(pass) + "\r\nUIDL\r\nLIST\r\n";
      if (!pop.send(batch, words)) return brokenText(words);
      if (capsStale) caps = capaReply(pop);
      pipelining_ = caps.count("PIPELINING") != 0;
      if (!pop.reply(words) || !pop.reply(words)) {
        if (pop.broken()) return brokenText(words);
        return loginFailure(pop, words);
      }
      if (std::string err = readListing(pop, true, messages); !err.empty()) return err;
    } else {
      if (capsStale) caps = capabilities(pop);
      pipelining_ = caps.count("PIPELINING") != 0;
      if (std::string err = token_.empty() ? login(pop, route == net::Route::Plain ? greeting : "", user, pass)
                                           : bearerLogin(pop, user);
          !err.empty())
        return err;
      if (!pop.send(pipelining_ ? "UIDL\r\nLIST\r\n" : "UIDL\r\n", words)) return brokenText(words);
      if (std::string err = readListing(pop, pipelining_, messages); !err.empty()) return err;
    }
    if (!cmd_.all && messages.size() > cmd_.last) messages.resize(cmd_.last);
    std::vector<Pop3Message> wanted;
    for (const auto& m : messages) {
      if (m.uid.empty() || !uidl.known(m.uid)) wanted.push_back(m);
      else if (cmd_.del) toFlush_.push_back(m.number);  // saved by an earlier run
    }
    return transfer(pop, uidl, writer, wanted);
  }

  static std::string sanitize(std::string_view s) {
    std::string out;
    for (char c : s)
      if (c != '\r' && c != '\n') out += c;
    return out;
  }

  std::set<std::string> capabilities(Pop3Session& pop) {
    std::string words;
    if (!pop.send("CAPA\r\n", words)) return {};
    return capaReply(pop);
  }
  std::set<std::string> capaReply(Pop3Session& pop) {
    std::string words, body;
    if (!pop.reply(words)) return {};
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

  // OAuth 2.0: OAUTHBEARER or XOAUTH2 with the access token, the initial response in the
  // AUTH command when the line stays within POP3's 255 octets (RFC 5034), else after the
  // server's empty challenge. A refusal comes as a challenge with the reason (base64
  // JSON), which the client acknowledges before the final -ERR.
  std::string bearerLogin(Pop3Session& pop, std::string_view user) {
    const sasl::Mechanism mechanism = sasl::fChooseMechanism(saslMechanisms_);
    if (mechanism == sasl::Mechanism::None) return failText(kNoOAuthMechanism, "");
    const std::string auth = std::string("AUTH ") + sasl::fMechanismName(mechanism);
    const std::string response = sasl::fInitialResponse(mechanism, sanitize(user), sanitize(token_));
    std::string words;
    using Step = Pop3Session::Step;
    Step step = Step::Refused;
    if (auth.size() + 1 + response.size() + 2 <= 255) {
      step = pop.saslStep(auth + " " + response, words);
    } else {
      step = pop.saslStep(auth, words);
      if (step == Step::More) step = pop.saslStep(response, words);
    }
    if (step == Step::Done) return "";
    if (pop.broken()) return brokenText(words);
    std::string reason = std::string(kTokenRefused);
    if (step == Step::More) {
      reason = sasl::fTokenFailureText(words);
      step = pop.saslStep(sasl::fErrorAcknowledgement(mechanism), words);
      if (pop.broken()) return brokenText(words);
      if (step != Step::Refused) {
        pop.markBroken();  // out of step: nothing more is said on this link
        words.clear();
      }
    }
    if (pop.closedAfterError()) return closedText(words);
    return failText(reason, words);
  }

  // Calls `fn(number, rest)` for each "number SP rest" line of a listing.
  template <class Fn>
  static void forEachListed(std::string_view text, Fn fn) {
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
      if (ok && n != 0) fn(n, line.substr(sp + 1));
    }
  }

  // The replies to UIDL and (when `askedList`) LIST, sent already: the messages with
  // their UIDs and sizes. Without UIDL they are told apart by a digest of their content.
  std::string readListing(Pop3Session& pop, bool askedList, std::vector<Pop3Message>& messages) {
    std::string words, body;
    bool haveUidl = false;
    if (pop.reply(words)) {
      if (!pop.multiline(body, words)) return brokenText(words);
      forEachListed(body, [&](std::size_t n, std::string_view uid) {
        if (uid.empty() || uid.find('\t') != std::string_view::npos) return;
        messages.push_back({n, std::string(uid), 0});
        onServer_.insert(std::string(uid));
      });
      haveUidl = gotList_ = true;
    } else if (pop.broken()) {
      return brokenText(words);
    }
    std::map<std::size_t, std::uint64_t> sizes;
    bool haveList = false;
    if (askedList) {
      body.clear();
      if (pop.reply(words)) {
        if (!pop.multiline(body, words)) return brokenText(words);
        forEachListed(body, [&](std::size_t n, std::string_view size) {
          sizes[n] = std::strtoull(std::string(size).c_str(), nullptr, 10);
        });
        haveList = true;
      } else if (pop.broken()) {
        return brokenText(words);
      }
    }
    if (haveUidl) {
      for (auto& m : messages) {
        auto it = sizes.find(m.number);
        if (it != sizes.end()) m.size = it->second;
      }
    } else if (haveList) {
      for (const auto& [n, size] : sizes) messages.push_back({n, "", size});
    } else {
      if (!pop.command("STAT", words))
        return pop.broken() ? brokenText(words) : failText("メールの一覧を受け取れません", words);
      std::size_t count = std::strtoul(words.c_str(), nullptr, 10);
      if (count > 1000000) count = 0;
      for (std::size_t i = 1; i <= count; ++i) messages.push_back({i, "", 0});
    }
    std::sort(messages.begin(), messages.end(),
              [](const Pop3Message& a, const Pop3Message& b) { return a.number < b.number; });
    return "";
  }

  // What one command in flight waits for.
  struct InFlight {
    enum Kind { Retr, Dele, Quit } kind;
    std::size_t index;         // into the wanted messages (RETR)
    std::size_t commandBytes;  // of the command line
  };

  static std::uint64_t expected(const Pop3Message& m) { return m.size ? m.size : kUnknownSize; }

  // The messages come (RETR), are saved, and are deleted (DELE) with every command in
  // flight together, so that a slow link costs a few round trips whatever the number of
  // messages: RETR up to a window of reply bytes, DELE for what has been saved and
  // flushed, QUIT behind the last one. Without PIPELINING one command at a time, the
  // DELEs after all messages have come, behind one flush.
  std::string transfer(Pop3Session& pop, UidlStore& uidl, MailWriter& writer,
                       const std::vector<Pop3Message>& wanted) {
    const std::size_t total = wanted.size();
    if (progress_ && total) progress_(0, total);
    std::uint64_t left = 0;  // reply bytes not yet asked for
    for (const auto& m : wanted) left += expected(m);
    std::deque<InFlight> flight;
    std::uint64_t replyBytes = 0, commandBytes = 0;
    std::size_t next = 0, retrsOut = 0, done = 0;
    std::string words, batch;

    // Writes what may go now. Called after each reply: while commands are in flight it
    // waits until a quarter of the reply window is free (or all that is left fits), or
    // deletes are due.
    auto send = [&]() -> bool {
      if (quitSent_) return true;
      const bool settled = next == total && retrsOut == 0;  // every message has come
      const bool flushDue = cmd_.del && !toFlush_.empty() &&
                            (pipelining_ ? settled || flushedBytes_ >= kFlushBytes || toFlush_.size() >= kFlushCount
                                         : settled && flight.empty());
      if (!flight.empty()) {
        if (!pipelining_ || commandBytes > kCommandBytes * 3 / 4) return true;
        const std::uint64_t free = kWindowBytes - std::min(replyBytes, kWindowBytes);
        const bool retrRoom = next < total && free >= std::min(kWindowBytes / 4, left);
        if (!retrRoom && !flushDue && toDelete_.empty()) return true;
      }
      batch.clear();
      auto add = [&](InFlight::Kind kind, std::size_t index, const std::string& line) {
        batch += line;
        flight.push_back({kind, index, line.size()});
        commandBytes += line.size();
      };
      auto full = [&] { return !flight.empty() && (!pipelining_ || commandBytes >= kCommandBytes); };
      // Saved mail reaches the disk before its DELE leaves: one flush for many mails.
      if (flushDue) {
        writer.sFlush();
        toDelete_.insert(toDelete_.end(), toFlush_.begin(), toFlush_.end());
        toFlush_.clear();
        flushedBytes_ = 0;
      }
      while (!toDelete_.empty() && !full()) {
        add(InFlight::Dele, 0, "DELE " + std::to_string(toDelete_.front()) + "\r\n");
        toDelete_.pop_front();
      }
      while (next < total && !full() &&
             (replyBytes == 0 || replyBytes + expected(wanted[next]) <= kWindowBytes)) {
        add(InFlight::Retr, next, "RETR " + std::to_string(wanted[next].number) + "\r\n");
        replyBytes += expected(wanted[next]);
        left -= expected(wanted[next]);
        ++next;
        ++retrsOut;
      }
      // Keeping the mail, QUIT follows the last RETR at once. Deleting, it waits for the
      // answers to every DELE: a link lost before then deletes nothing.
      if (next == total && !full() &&
          (!cmd_.del || (settled && toFlush_.empty() && toDelete_.empty() && flight.empty()))) {
        add(InFlight::Quit, 0, "QUIT\r\n");
        quitSent_ = true;
      }
      return batch.empty() || pop.send(batch, words);
    };

    std::string chunk, held;
    EVP_MD_CTX* digest = EVP_MD_CTX_new();
    struct DigestFree {
      EVP_MD_CTX* ctx;
      ~DigestFree() { EVP_MD_CTX_free(ctx); }
    } digestFree{digest};
    const bool digests = !wanted.empty() && wanted.front().uid.empty();
    if (!send()) return brokenText(words);
    while (!flight.empty()) {
      const InFlight f = flight.front();
      flight.pop_front();
      commandBytes -= f.commandBytes;
      if (f.kind == InFlight::Quit) {
        // Only a deleting run needs the answer: it says the deletes took place.
        if (!pop.reply(words) && cmd_.del)
          return pop.broken() ? brokenText(words) : failText("サーバがメールを削除できません", words);
        break;
      }
      if (f.kind == InFlight::Dele) {
        // A single refused DELE leaves that message on the server; the rest go on.
        if (!pop.reply(words) && pop.broken()) return brokenText(words);
        if (!send()) return brokenText(words);
        continue;
      }
      const Pop3Message& m = wanted[f.index];
      replyBytes -= expected(m);
      --retrsOut;
      if (!pop.reply(words)) {
        if (pop.broken()) return brokenText(words);
        if (pop.closedAfterError()) return closedText(words);
        return failText("サーバがメールを渡しません", words);
      }
      // The message goes to its file in parts as it comes; a small one is also kept
      // whole for the caller's hook.
      std::string err;
      if (!writer.begin(err)) return err;
      if (digests) EVP_DigestInit_ex(digest, EVP_sha256(), nullptr);
      held.clear();
      bool holding = true;
      std::uint64_t size = 0;
      net::NetConn::Multiline state;
      while (!state.done) {
        chunk.clear();
        if (!pop.multilinePart(chunk, kChunkBytes, state, words)) return brokenText(words);
        if (!writer.append(chunk, err)) return err;
        if (digests) EVP_DigestUpdate(digest, chunk.data(), chunk.size());
        size += chunk.size();
        holding = holding && size <= kHandOverBytes;
        if (holding) held += chunk;
        else std::string().swap(held);
      }
      std::string uid = m.uid;
      if (digests) {
        unsigned char md[EVP_MAX_MD_SIZE];
        unsigned int len = 0;
        EVP_DigestFinal_ex(digest, md, &len);
        uid = "sha256:" + hexOf(md, len);
        onServer_.insert(uid);
      }
      if (!uidl.known(uid)) {
        auto path = writer.finish(uid, err);
        if (!path) return err;
        uidl.markReceived(uid);
        saved_.push_back(path->string());
        flushedBytes_ += size;
        if (savedHook_) savedHook_(saved_.back(), holding ? std::string_view(held) : std::string_view());
      } else {
        writer.discard();
      }
      if (cmd_.del) toFlush_.push_back(m.number);
      ++done;
      if (progress_) progress_(done, total);
      if (!send()) return brokenText(words);
    }
    if (digests) gotList_ = true;
    return "";
  }

  Command cmd_;
  fs::path folder_;
  const Progress& progress_;
  const Saved& savedHook_;
  bool pipelining_ = false;
  bool quitSent_ = false;
  std::set<std::string> saslMechanisms_;
  std::string token_;  // OAuth 2.0 access token; empty: the password
  bool gotList_ = false;
  std::set<std::string> onServer_;
  std::vector<std::string> saved_;
  std::vector<std::size_t> toFlush_;  // saved (now or earlier), to delete once flushed
  std::deque<std::size_t> toDelete_;  // flushed, DELE not yet sent
  std::uint64_t flushedBytes_ = 0;    // saved since the last flush
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
