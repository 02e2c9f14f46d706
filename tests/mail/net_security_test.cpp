// What a client sends when the link is not encrypted: scripted POP3 and SMTP servers
// without STLS/STARTTLS, reached under a name that is not this machine's (mapped to
// loopback in a private mount namespace), record every line they get.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>

#include <cstring>
#include <fstream>
#include <sstream>

#include "mail/mail.h"
#include "mail/uidlstore.h"
#include "servertest.h"

namespace fs = std::filesystem;
using qbtest::MailServers;

namespace {

constexpr const char* kName = "mail.example.test";
constexpr const char* kPassword = "s3cret-on-the-wire";

std::string mapOnce(const std::string& name, const fs::path& dir) {
  if (::unshare(CLONE_NEWNS) != 0 || ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
    return std::string("no private mount namespace (run as root): ") + std::strerror(errno);
  std::ifstream in("/etc/hosts");
  std::stringstream hosts;
  hosts << in.rdbuf() << "\n127.0.0.1 " << name << "\n";
  const fs::path file = dir / "hosts";
  std::ofstream(file) << hosts.str();
  if (::mount(file.c_str(), "/etc/hosts", nullptr, MS_BIND, nullptr) != 0)
    return std::string("cannot bind a hosts file: ") + std::strerror(errno);
  return "";
}

// This thread (and what it starts) resolves `name` to 127.0.0.1; nothing outside changes.
// Once per process: the hosts file stays bound until the process ends.
bool mapNameToLoopback(const std::string& name, std::string& why) {
  static qbtest::TempDir dir("qbhosts");
  static std::string failure = mapOnce(name, dir.path());
  why = failure;
  return why.empty();
}

class ClearLink : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0 && MailServers::skipAllowed())
      GTEST_SKIP() << "a private mount namespace needs root";
    std::string why;
    ASSERT_TRUE(mapNameToLoopback(kName, why)) << why;
  }
  void start(bool sasl) {
    pop3 = MailServers::freePort();
    smtp = MailServers::freePort();
    wire = tmp.path() / "wire.log";
    std::vector<std::string> args = {"/usr/bin/python3", QB_MAIL_SERVERS_DIR "/plainserver.py",
                                     "--pop3", std::to_string(pop3), "--smtp", std::to_string(smtp),
                                     "--wire", wire.string(), "--password", kPassword};
    if (sasl) args.push_back("--sasl");
    pid = MailServers::spawn(args, (tmp.path() / "server.log").string());
    ASSERT_TRUE(MailServers::waitReady(pid, {pop3, smtp})) << "the scripted servers did not start";
    fs::create_directories(inbox());
    mail::LibrarySettings s;
    s.timeoutSeconds = 10;
    mail::sSetLibrarySettings(s);
  }
  void TearDown() override { MailServers::stopProcess(pid); }

  fs::path inbox() const { return tmp.path() / "inbox"; }
  std::string receive(const std::string& host) {
    auto r = mail::RcvMail(host + "\t" + std::to_string(pop3), "alice", kPassword, "SAVEALL",
                           "<" + inbox().string());
    return std::get<std::string>(r);
  }
  mail::SendStatus send(const std::string& host) {
    return mail::SendMailEx((tmp.path() / "log.txt").string(), host + ":" + std::to_string(smtp),
                            "bob@example.test", "alice@example.test", "subject", "body", "",
                            "alice", kPassword);
  }
  std::string wireText() const {
    std::ifstream in(wire);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
  }
  // Neither the password nor a command that carries it (PLAIN/LOGIN hold it in base64).
  void expectNoPasswordOnWire() const {
    const std::string w = wireText();
    for (const char* word : {kPassword, "PASS ", "AUTH PLAIN", "AUTH LOGIN"})
      EXPECT_EQ(w.find(word), std::string::npos) << word << " in:\n" << w;
  }

  qbtest::TempDir tmp{"qbsec"};
  int pop3 = 0, smtp = 0;
  pid_t pid = -1;
  fs::path wire;
};

TEST_F(ClearLink, NoTlsOfferedMeansNoLoginUnlessTheUserChoseNone) {
  start(false);
  struct Case {
    const char* what;
    std::string host;
    mail::Security security;
  } cases[] = {
      {"standard, another host", kName, mail::Security::Standard},
      {"STARTTLS chosen, even to this machine", "127.0.0.1", mail::Security::StartTls},
  };
  for (const auto& c : cases) {
    mail::SecurityChoice choice(c.security);
    const std::string received = receive(c.host);
    EXPECT_NE(received.find("STLS) に対応していないため、パスワードを送りません"), std::string::npos)
        << c.what << ": " << received;
    const mail::SendStatus sent = send(c.host);
    EXPECT_FALSE(sent.sent) << c.what;
    EXPECT_NE(sent.text.find("STARTTLS) に対応していないため"), std::string::npos) << c.what << ": " << sent.text;
  }
  expectNoPasswordOnWire();
  EXPECT_EQ(wireText().find("USER"), std::string::npos);
  // The standard rule keeps this machine's servers working in clear, as before.
  EXPECT_EQ(receive("127.0.0.1"), "");
  EXPECT_NE(wireText().find("PASS " + std::string(kPassword)), std::string::npos);
}

TEST_F(ClearLink, ChosenClearLinkProvesThePasswordWithoutSendingIt) {
  for (bool sasl : {true, false}) {
    SCOPED_TRACE(sasl ? "CRAM-MD5 offered" : "APOP only");
    start(sasl);
    mail::SecurityChoice choice(mail::Security::None);
    EXPECT_EQ(receive(kName), "");
    const std::string w = wireText();
    EXPECT_NE(w.find(sasl ? "AUTH CRAM-MD5" : "APOP alice "), std::string::npos) << w;
    if (sasl) {
      const mail::SendStatus sent = send(kName);
      EXPECT_TRUE(sent.sent) << sent.text;
      EXPECT_NE(wireText().find("AUTH CRAM-MD5"), std::string::npos);
    }
    expectNoPasswordOnWire();
    TearDown();
    fs::remove(wire);
  }
}

// TLS from the start on a port that is not 995/465, when the account says so.
class TlsRoutes : public qbtest::ServerTest {};

TEST_F(TlsRoutes, ImplicitTlsOnAnyPortWhenChosen) {
  mail::LibrarySettings s = mail::fGetLibrarySettings();
  s.pop3sPort = 995;
  s.smtpsPort = 465;
  mail::sSetLibrarySettings(s);
  servers->seed("alice", qbtest::fNumberedMail(1, "tls"));
  qbtest::TempDir inbox("qbin");
  mail::SecurityChoice tls(mail::Security::Tls);
  auto r = mail::RcvMail(servers->popServer(true), "alice", "secret", "SAVEALL", "<" + inbox.str());
  auto* saved = std::get_if<std::vector<std::string>>(&r);
  ASSERT_TRUE(saved) << std::get<std::string>(r);
  EXPECT_EQ(saved->size(), 1u);
  auto sent = mail::SendMailEx((inbox.path() / "log.txt").string(), servers->smtpServer(true),
                               "bob@localhost", "alice@localhost", "tls", "body", "", "alice", "secret");
  EXPECT_TRUE(sent.sent) << sent.text;
}

// A CA named by OpenSSL's environment override is trusted by sending as by receiving.
TEST_F(TlsRoutes, SendingTrustsTheStoreTheEnvironmentNames) {
  mail::LibrarySettings s = mail::fGetLibrarySettings();
  s.caFile.clear();
  mail::sSetLibrarySettings(s);
  ::setenv("SSL_CERT_FILE", servers->caFile.c_str(), 1);
  qbtest::TempDir inbox("qbin");
  for (bool implicitTls : {false, true}) {
    auto sent = mail::SendMailEx((inbox.path() / "log.txt").string(), servers->smtpServer(implicitTls),
                                 "bob@localhost", "alice@localhost", "ca", "body", "", "alice", "secret");
    EXPECT_TRUE(sent.sent) << sent.text;
  }
  auto r = mail::RcvMail(servers->popServer(), "bob", "hunter2", "SAVEALL", "<" + inbox.str());
  EXPECT_TRUE(std::holds_alternative<std::vector<std::string>>(r)) << std::get<std::string>(r);
  ::unsetenv("SSL_CERT_FILE");
}

// Received mail, the list of received mails and the send log are the user's alone,
// whatever the process's umask.
class PrivateFiles : public qbtest::ServerTest {};

TEST_F(PrivateFiles, ReceivingAndSendingWriteOnlyPrivateFiles) {
  const mode_t old = ::umask(022);
  qbtest::TempDir work("qbmode");
  servers->seed("alice", qbtest::fNumberedMail(1, "mode"));
  auto r = mail::RcvMail(servers->popServer(), "alice", "secret", "SAVEALL", "<" + work.str());
  ASSERT_TRUE(std::holds_alternative<std::vector<std::string>>(r)) << std::get<std::string>(r);
  const fs::path log = work.path() / "log.txt";
  EXPECT_TRUE(mail::SendMailEx(log.string(), servers->smtpServer(), "bob@localhost",
                               "alice@localhost", "mode", "body", "").sent);
  std::vector<fs::path> files{mail::UidlStore::listPath(work.path())};  // kept beside the inbox
  for (const auto& e : fs::directory_iterator(work.path())) files.push_back(e.path());
  for (const auto& file : files) {
    EXPECT_EQ(fs::status(file).permissions(), fs::perms::owner_read | fs::perms::owner_write) << file;
  }
  EXPECT_GE(files.size(), 3u);  // the mail, the list of received mails, the log
  ::umask(old);
}

}  // namespace
