// OAuth 2.0 sign-in on the wire: POP3 and SMTP with an access token against dovecot's
// oauth2 passdb and the SMTP sink, both asking the tests' token service.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "mail/mail.h"
#include "servertest.h"
#include "tempdir.h"
#include "tokenservice.h"

namespace {

using qbtest::MailServers;

std::string fileText(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Servers offering `mechanisms` (dovecot's names).
class OAuthWire : public qbtest::ServerTest {
 protected:
  void start(const std::string& mechanisms) {
    servers.reset();
    std::string why;
    servers = MailServers::start(why, {mechanisms});
    ASSERT_TRUE(servers) << why;
    servers->sUseForLibrary(10);
  }
  mail::MailResult receive(const std::string& token, const std::string& user = "alice") {
    mail::BearerToken bearer(token);
    return mail::RcvMail(servers->popServer(), user, "not-the-password", "SAVEALL", "<" + inbox.str());
  }
  mail::SendStatus send(const std::string& token, const std::string& to = "bob@example.com") {
    mail::BearerToken bearer(token);
    return mail::SendMailEx("", servers->smtpServer(), to, "alice@example.com", "token", "sent with a token", "",
                            "alice", "not-the-password");
  }
  qbtest::TempDir inbox{"qbo"};
};

TEST_F(OAuthWire, ReceivesAndSendsWithTheMechanismTheServerOffers) {
  if (fNotStarted()) return;
  struct Case {
    const char* offered;
    const char* used;
  };
  for (const Case& c : {Case{"xoauth2", "XOAUTH2"}, Case{"oauthbearer", "OAUTHBEARER"},
                        Case{"xoauth2 oauthbearer", "OAUTHBEARER"}}) {
    SCOPED_TRACE(c.offered);
    start(c.offered);
    const auto token = qbtest::TokenAdmin(*servers).issue("alice");
    servers->seed("alice", "Subject: one\n\nbody\n");
    auto got = receive(token.access);
    ASSERT_TRUE(std::holds_alternative<std::vector<std::string>>(got)) << std::get<std::string>(got);
    EXPECT_EQ(std::get<std::vector<std::string>>(got).size(), 1u);
    EXPECT_NE(fileText(servers->dir + "/dovecot.log").find(std::string("method=") + c.used), std::string::npos);
    auto sent = send(token.access);
    EXPECT_TRUE(sent.sent) << sent.text;
    EXPECT_EQ(servers->stored("bob").size(), 1u);
  }
}

TEST_F(OAuthWire, ARefusedTokenIsToldInWordsAndNothingMoves) {
  if (fNotStarted()) return;
  start("xoauth2 oauthbearer");
  qbtest::TokenAdmin admin(*servers);
  servers->seed("alice", "Subject: one\n\nbody\n");
  const auto revoked = admin.issue("alice");
  admin.revoke(revoked.refresh);
  const auto expired = admin.issue("alice");
  admin.expire(expired.access);
  const auto bobs = admin.issue("bob");  // good, but not alice's
  for (const std::string& token : {revoked.access, expired.access, bobs.access}) {
    auto got = receive(token);
    ASSERT_TRUE(std::holds_alternative<std::string>(got));
    const std::string& text = std::get<std::string>(got);
    EXPECT_TRUE(mail::fIsTokenRefusal(text)) << text;
    EXPECT_EQ(text.find("POP3: "), 0u) << text;
    auto sent = send(token);
    EXPECT_FALSE(sent.sent);
    EXPECT_TRUE(mail::fIsTokenRefusal(sent.text)) << sent.text;
    // The sink's reason (base64 JSON) comes out decoded.
    EXPECT_NE(sent.text.find("期限が切れたか、取り消されたトークンです (invalid_token)"), std::string::npos)
        << sent.text;
  }
  EXPECT_EQ(servers->stored("alice").size(), 1u);
  EXPECT_TRUE(servers->stored("bob").empty());
}

TEST_F(OAuthWire, ATokenNeverCrossesAClearLinkOrAServerWithoutTheMechanisms) {
  if (fNotStarted()) return;  // the standard servers: passwords only
  {
    mail::SecurityChoice clear(mail::Security::None);
    auto got = receive("at-secret");
    ASSERT_TRUE(std::holds_alternative<std::string>(got));
    EXPECT_NE(std::get<std::string>(got).find("暗号化した接続でしか"), std::string::npos);
    auto sent = send("at-secret");
    EXPECT_NE(sent.text.find("暗号化した接続でしか"), std::string::npos) << sent.text;
  }
  auto got = receive("at-secret");
  ASSERT_TRUE(std::holds_alternative<std::string>(got));
  EXPECT_NE(std::get<std::string>(got).find("OAuth 2.0 のサインイン (OAUTHBEARER, XOAUTH2) に対応していません"),
            std::string::npos)
      << std::get<std::string>(got);
  auto sent = send("at-secret");
  EXPECT_NE(sent.text.find("に対応していません"), std::string::npos) << sent.text;
  EXPECT_EQ(fileText(servers->dir + "/dovecot.log").find("at-secret"), std::string::npos);
}

// The command-line tool signs in with QB_MAIL_OAUTH2_TOKEN and ignores the password.
TEST_F(OAuthWire, CommandLineToolUsesTheTokenFromTheEnvironment) {
  if (fNotStarted()) return;
  start("xoauth2 oauthbearer");
  const auto token = qbtest::TokenAdmin(*servers).issue("alice");
  const std::string env = "QB_MAIL_CA=" + servers->caFile + " QB_MAIL_OAUTH2_TOKEN=" + token.access + " ";
  const std::string smtp = "127.0.0.1:" + std::to_string(servers->smtp);
  ASSERT_EQ(std::system((env + QB_MAIL_CLI " send '' " + smtp +
                         " bob@example.com alice@example.com subj body '' alice wrong >/dev/null")
                            .c_str()),
            0);
  EXPECT_EQ(servers->stored("bob").size(), 1u);
  const std::string pop = "127.0.0.1:" + std::to_string(servers->pop3);
  const std::string out = inbox.str() + "/cli.out";
  auto receiveAs = [&](const std::string& user) {
    std::system((env + QB_MAIL_CLI " receive " + pop + " " + user + " wrong SAVEALL " + inbox.str() + " >" + out).c_str());
    return fileText(out);
  };
  EXPECT_NE(receiveAs("bob").find(mail::kTokenRefused), std::string::npos) << "alice's token for bob's box";
  servers->seed("alice", "Subject: one\n\nbody\n");
  EXPECT_EQ(receiveAs("alice").find("[\"" + inbox.str()), 0u) << fileText(out);
}

}  // namespace
