#pragma once
#include <cstdio>
#include "mail/mail.h"
// Real mail servers on loopback for the mail tests and benchmarks: dovecot (POP3 with
// STLS, and POP3S) and an aiosmtpd sink (STARTTLS and implicit TLS, AUTH) that delivers
// into dovecot's Maildirs, and on request a token service for OAuth 2.0. Each gets free
// ports, a throwaway CA and a certificate for localhost made at start, all inside one
// short temporary folder that is removed at the end.
// Header-only so tests and benchmarks share it without a library of their own.
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "../common/tempdir.h"

extern char** environ;

namespace qbtest {

#ifndef QB_MAIL_SERVERS_DIR
#define QB_MAIL_SERVERS_DIR QB_TEST_DIR "/mail/servers"
#endif

inline constexpr const char* kDovecot = "/usr/sbin/dovecot";

class MailServers {
 public:
  std::string dir;     // everything lives here
  std::string caFile;  // the CA that signed the servers' certificate
  int pop3 = 0, pop3s = 0, smtp = 0, smtps = 0;
  int submission = 0;  // SMTP that requires STARTTLS and AUTH
  // Users of both servers: name, password.
  static inline const std::vector<std::pair<std::string, std::string>> kUsers = {
      {"alice", "secret"}, {"bob", "hunter2"}, {"carol", "c4r0l!"}};

  // The OAuth 2.0 mechanisms both servers offer ("xoauth2 oauthbearer"), checked with
  // the token service on port tokenService; empty: passwords only.
  std::string oauthMechanisms;
  int tokenService = 0;
  std::string tokenUrl(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(tokenService) + path;
  }

  static bool dovecotInstalled() { return access(kDovecot, X_OK) == 0; }
  // A server test that cannot run fails, unless the developer asked for skips
  // (QB_ALLOW_SKIP=1 in the environment).
  static bool skipAllowed() {
    const char* allow = std::getenv("QB_ALLOW_SKIP");
    return allow && std::string(allow) == "1";
  }
  static constexpr const char* kNoDovecot =
      "dovecot is not installed (install packages.txt, or set QB_ALLOW_SKIP=1 to skip)";

  // For benchmarks: started servers the mail library points at, or nothing with the
  // reason printed.
  static std::unique_ptr<MailServers> fStartForLibrary(long timeoutSeconds) {
    std::string why;
    auto servers = start(why);
    if (!servers) {
      std::printf("servers not started: %s\n", why.c_str());
      return nullptr;
    }
    servers->sUseForLibrary(timeoutSeconds);
    return servers;
  }

  // Points the mail library at these servers: their CA and implicit-TLS ports.
  void sUseForLibrary(long timeoutSeconds) const {
    mail::LibrarySettings s;
    s.caFile = caFile;
    s.timeoutSeconds = timeoutSeconds;
    s.pop3sPort = pop3s;
    s.smtpsPort = smtps;
    mail::sSetLibrarySettings(s);
  }

  // A message written with LF line ends, as a server sends it (CR LF).
  static std::string crlf(const std::string& lf) {
    std::string out;
    for (char c : lf) {
      if (c == '\n') out += '\r';
      out += c;
    }
    return out;
  }

  // Starts both servers; nothing and `why` set when they cannot be started.
  static std::unique_ptr<MailServers> start(std::string& why, const std::string& oauthMechanisms = "") {
    for (int attempt = 0; attempt < 3; ++attempt) {
      auto s = std::unique_ptr<MailServers>(new MailServers);
      s->oauthMechanisms = oauthMechanisms;
      if (s->setUp(why)) return s;
    }
    return nullptr;
  }

  ~MailServers() {
    stopProcess(sinkPid_);
    stopProcess(dovecotPid_);
    stopProcess(tokenPid_);
  }

  std::string popServer(bool implicitTls = false) const {
    return "127.0.0.1\t" + std::to_string(implicitTls ? pop3s : pop3);
  }
  std::string smtpServer(bool implicitTls = false) const {
    return "127.0.0.1:" + std::to_string(implicitTls ? smtps : smtp);
  }
  std::string submissionServer() const { return "127.0.0.1:" + std::to_string(submission); }
  std::string maildir(const std::string& user) const { return dir + "/mail/" + user + "/Maildir"; }

  // Puts a message (LF line ends, as a delivery agent stores it) into the user's box.
  void seed(const std::string& user, const std::string& message) {
    static int counter = 0;
    std::string name = maildir(user) + "/new/" + std::to_string(time(nullptr)) + ".seed" +
                       std::to_string(getpid()) + "_" + std::to_string(++counter);
    std::ofstream(name, std::ios::binary) << message;
    chmod(name.c_str(), 0644);
    own(name);
  }

  // Replaces the servers' certificate with a fresh self-signed one that the CA file does
  // not vouch for, and restarts both servers on their ports. Gives its SHA-256
  // fingerprint as openssl prints it ("AB:CD:…"), or empty with `why` set.
  std::string fServeSelfSigned(std::string& why) {
    std::string d = dir, q = " >>" + dir + "/openssl.log 2>&1";
    if (run("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2"
            " -subj /CN=localhost -addext subjectAltName=DNS:localhost,IP:127.0.0.1 -keyout " +
            d + "/server.key -out " + d + "/server.pem" + q) != 0 ||
        run("openssl x509 -in " + d + "/server.pem -noout -fingerprint -sha256 >" + d + "/fp.txt") != 0) {
      why = "openssl could not make a self-signed certificate";
      return "";
    }
    chmod((d + "/server.key").c_str(), 0644);
    std::ifstream in(d + "/fp.txt");
    std::string line;
    std::getline(in, line);
    stopProcess(sinkPid_);
    stopProcess(dovecotPid_);
    if (!startProcesses(why)) return "";
    return line.substr(line.find('=') + 1);
  }

  // Messages still in the box (new and cur), as file paths.
  std::vector<std::string> stored(const std::string& user) const {
    std::vector<std::string> files;
    for (const char* sub : {"/new", "/cur"}) {
      std::error_code ec;
      for (auto& e : std::filesystem::directory_iterator(maildir(user) + sub, ec))
        files.push_back(e.path().string());
    }
    return files;
  }

  // A loopback port nobody listens on (free when asked).
  static int freePort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    close(fd);
    return ntohs(a.sin_port);
  }

  // Process helpers, shared with the other scripted servers of the tests.
  static bool accepting(int port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(fd);
    return ok;
  }

  void own(const std::string& path) const {
    if (geteuid() == 0) (void)!chown(path.c_str(), 65534, 65534);
  }

  static int run(const std::string& cmd) { return std::system(cmd.c_str()); }

  static pid_t spawn(const std::vector<std::string>& args, const std::string& logFile) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&fa, 1, 2);
    // Its own process group, so that stopping it stops the helpers it started too.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attr, 0);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &fa, &attr, argv.data(), environ) != 0) pid = -1;
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&fa);
    return pid;
  }

  // The servers keep nothing worth a graceful stop (dovecot's takes a second): the
  // whole process group the harness started is killed and the leader reaped.
  static void stopProcess(pid_t& pid) {
    if (pid <= 0) return;
    kill(-pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    pid = -1;
  }

  static bool waitReady(pid_t pid, std::initializer_list<int> ports) {
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (std::chrono::steady_clock::now() < until) {
      if (waitpid(pid, nullptr, WNOHANG) == pid) return false;
      bool all = true;
      for (int p : ports) all = all && accepting(p);
      if (all) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }

 private:
  MailServers() = default;

  bool makeCertificates(std::string& why) {
    std::string d = dir;
    std::ofstream(d + "/san.ext") << "subjectAltName=DNS:localhost,IP:127.0.0.1,IP:::1\n"
                                  << "basicConstraints=CA:FALSE\n";
    std::string q = " >>" + d + "/openssl.log 2>&1";
    if (run("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2"
            " -subj /CN=qbtest-ca -keyout " + d + "/ca.key -out " + d + "/ca.pem" + q) != 0 ||
        run("openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes"
            " -subj /CN=localhost -keyout " + d + "/server.key -out " + d + "/server.csr" + q) != 0 ||
        run("openssl x509 -req -in " + d + "/server.csr -CA " + d + "/ca.pem -CAkey " + d +
            "/ca.key -CAcreateserial -days 2 -extfile " + d + "/san.ext -out " + d +
            "/server.pem" + q) != 0) {
      why = "openssl could not make the test certificates";
      return false;
    }
    chmod((d + "/server.key").c_str(), 0644);
    caFile = d + "/ca.pem";
    return true;
  }

  bool setUp(std::string& why) {
    try {
      tmp_.emplace("qbs");
    } catch (const std::exception& e) {
      why = std::string("no temporary folder: ") + e.what();
      return false;
    }
    dir = tmp_->str();
    chmod(dir.c_str(), 0755);
    if (!makeCertificates(why)) return false;
    pop3 = freePort();
    pop3s = freePort();
    smtp = freePort();
    smtps = freePort();
    submission = freePort();
    const bool root = geteuid() == 0;
    const std::string uid = root ? "65534" : std::to_string(getuid());
    const std::string gid = root ? "65534" : std::to_string(getgid());
    {
      std::ofstream pw(dir + "/passwd");
      for (auto& [u, p] : kUsers) pw << u << ":" << p << "\n";
    }
    chmod((dir + "/passwd").c_str(), 0644);
    std::filesystem::create_directories(dir + "/mail");
    own(dir + "/mail");
    for (auto& [u, p] : kUsers) {
      std::string home = dir + "/mail/" + u;
      for (const char* sub : {"", "/Maildir", "/Maildir/new", "/Maildir/cur", "/Maildir/tmp"}) {
        std::filesystem::create_directories(home + sub);
        chmod((home + sub).c_str(), 0755);
        own(home + sub);
      }
    }
    std::ofstream conf(dir + "/dovecot.conf");
    conf << "protocols = pop3\nlisten = 127.0.0.1\n"
         << "base_dir = " << dir << "/run\nstate_dir = " << dir << "/state\n"
         << "instance_name = qbtest" << getpid() << "\n"
         << "log_path = " << dir << "/dovecot.log\ninfo_log_path = " << dir << "/dovecot.log\n"
         << "ssl = yes\nssl_cert = <" << dir << "/server.pem\nssl_key = <" << dir
         << "/server.key\nssl_dh = </usr/share/dovecot/dh.pem\n"
         << "disable_plaintext_auth = no\nauth_mechanisms = plain login " << oauthMechanisms << "\n"
         << "auth_failure_delay = 0\nmail_max_userip_connections = 50\nmail_fsync = never\n"
         << "first_valid_uid = " << uid << "\nfirst_valid_gid = " << gid << "\n"
         << "mail_location = maildir:~/Maildir\n"
         << "pop3_uidl_format = %08Xu%08Xv\n"
         << oauthPassdb()
         << "passdb {\n  driver = passwd-file\n  mechanisms = plain login\n"
         << "  args = scheme=PLAIN username_format=%u " << dir << "/passwd\n}\n"
         << "userdb {\n  driver = static\n  args = uid=" << uid << " gid=" << gid << " home=" << dir
         << "/mail/%u\n}\n"
         << "service pop3-login {\n  inet_listener pop3 {\n    port = " << pop3
         << "\n  }\n  inet_listener pop3s {\n    port = " << pop3s << "\n    ssl = yes\n  }\n}\n";
    if (!root) {
      const char* user = getenv("USER");
      std::string me = user ? user : "nobody";
      conf << "default_internal_user = " << me << "\ndefault_login_user = " << me << "\n";
    }
    conf.close();
    return startProcesses(why);
  }

  // dovecot asks the token service who owns a token (it appends the token to the URL).
  std::string oauthPassdb() {
    if (oauthMechanisms.empty()) return "";
    tokenService = freePort();
    std::ofstream(dir + "/oauth2.conf.ext")
        << "tokeninfo_url = " << tokenUrl("/tokeninfo?access_token=") << "\n"
        << "username_attribute = email\nactive_attribute = active\nactive_value = true\n";
    chmod((dir + "/oauth2.conf.ext").c_str(), 0644);
    return "passdb {\n  driver = oauth2\n  mechanisms = " + oauthMechanisms + "\n  args = " + dir +
           "/oauth2.conf.ext\n}\n";
  }

  bool startProcesses(std::string& why) {
    const bool root = geteuid() == 0;
    if (tokenService && tokenPid_ <= 0) {
      tokenPid_ = spawn({"/usr/bin/python3", QB_MAIL_SERVERS_DIR "/tokenservice.py", "--port",
                         std::to_string(tokenService)},
                        dir + "/tokens.log");
      if (tokenPid_ <= 0 || !waitReady(tokenPid_, {tokenService})) {
        why = "the token service did not start (see " + dir + "/tokens.log)";
        return false;
      }
    }
    dovecotPid_ = spawn({kDovecot, "-F", "-c", dir + "/dovecot.conf"}, dir + "/dovecot.out");
    if (dovecotPid_ <= 0 || !waitReady(dovecotPid_, {pop3, pop3s})) {
      why = "dovecot did not start (see " + dir + "/dovecot.log)";
      return false;
    }
    std::vector<std::string> args = {"/usr/bin/python3", QB_MAIL_SERVERS_DIR "/smtpsink.py",
                                     "--smtp", std::to_string(smtp), "--smtps", std::to_string(smtps),
                                     "--submission", std::to_string(submission),
                                     "--cert", dir + "/server.pem", "--key", dir + "/server.key",
                                     "--passwd", dir + "/passwd", "--mail-root", dir + "/mail"};
    if (root) {
      args.push_back("--uid");
      args.push_back("65534");
    }
    if (tokenService)
      args.insert(args.end(), {"--tokeninfo", tokenUrl("/tokeninfo?access_token="), "--oauth", oauthMechanisms});
    sinkPid_ = spawn(args, dir + "/sink.log");
    if (sinkPid_ <= 0 || !waitReady(sinkPid_, {smtp, smtps, submission})) {
      why = "the SMTP sink did not start (see " + dir + "/sink.log)";
      return false;
    }
    return true;
  }

  std::optional<TempDir> tmp_;  // removed after the servers have stopped
  pid_t dovecotPid_ = -1;
  pid_t sinkPid_ = -1;
  pid_t tokenPid_ = -1;
};

}  // namespace qbtest
