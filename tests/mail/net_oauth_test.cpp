// OAuth 2.0 sign-in on the wire: POP3 and SMTP with an access token against dovecot's
// oauth2 passdb and the SMTP sink, both asking the tests' token service.
#include <gtest/gtest.h>

#include <cstdlib>

#include "mail/mail.h"
#include "servertest.h"
#include "store/fsutil.h"
#include "tokenservice.h"

namespace {

using qbtest::MailServers;

class OAuthWire : public qbtest::ServerTest {
 protected:
  void start(const std::string& mechanisms) {  // in place of the password-only servers
    servers.reset();
    std::string why;
    servers = MailServers::start(why, mechanisms);
    ASSERT_TRUE(servers) << why;
    servers->sUseForLibrary(10);
  }
  std::string receive(const std::string& token) {
    mail::BearerToken bearer(token);
    auto r = mail::RcvMail(servers->popServer(), "alice", "not-the-password", "SAVEALL",
                           "<" + inbox.str());
    return std::holds_alternative<std::string>(r) ? std::get<std::string>(r) : "received";
  }
  mail::SendStatus send(const std::string& token) {
    mail::BearerToken bearer(token);
    return mail::SendMailEx("", servers->smtpServer(), "bob@example.com", "alice@example.com", "t",
                            "b", "", "alice", "not-the-password");
  }
  std::string log() const { return fsutil::fReadFile(servers->dir + "/dovecot.log").value_or(""); }
  qbtest::TempDir inbox{"qbo"};
};

TEST_F(OAuthWire, SignsInWithTheMechanismTheServerOffersAlsoFromTheCommandLine) {
  if (fNotStarted()) return;
  for (auto [offered, used] : {std::pair{"xoauth2", "XOAUTH2"},
                               {"oauthbearer", "OAUTHBEARER"},
                               {"xoauth2 oauthbearer", "OAUTHBEARER"}}) {
    SCOPED_TRACE(offered);
    start(offered);
    const auto token = qbtest::fIssue(*servers, "alice");
    servers->seed("alice", "Subject: one\n\nbody\n");
    EXPECT_EQ(receive(token.access), "received");
    EXPECT_NE(log().find(std::string("method=") + used), std::string::npos);
    EXPECT_TRUE(send(token.access).sent);
    EXPECT_EQ(servers->stored("bob").size(), 1u);
  }
  // The tool takes the token from QB_MAIL_OAUTH2_TOKEN; the password argument is ignored.
  const auto token = qbtest::fIssue(*servers, "alice");
  const std::string run = "QB_MAIL_CA=" + servers->caFile +
                          " QB_MAIL_OAUTH2_TOKEN=" + token.access + " " + QB_MAIL_CLI + " ";
  const std::string at = " 127.0.0.1:";
  const std::string send = run + "send ''" + at + std::to_string(servers->smtp) +
                           " bob@example.com alice@example.com s b '' alice wrong >/dev/null";
  EXPECT_EQ(std::system(send.c_str()), 0);
  EXPECT_EQ(servers->stored("bob").size(), 2u);
  servers->seed("alice", "Subject: two\n\nbody\n");
  const std::string out = inbox.str() + "/out";
  const std::string receive = run + "receive" + at + std::to_string(servers->pop3) +
                              " alice wrong SAVEALL " + inbox.str() + " >" + out;
  std::system(receive.c_str());
  EXPECT_EQ(fsutil::fReadFile(out).value_or("").find("[\"" + inbox.str()), 0u);
}

TEST_F(OAuthWire, ATokenIsRefusedInWordsAndNeverCrossesAClearLink) {
  if (fNotStarted()) return;
  // The standard servers take passwords only; a clear link takes no token at all.
  EXPECT_NE(receive("at-secret").find("(OAUTHBEARER, XOAUTH2) に対応していません"),
            std::string::npos);
  EXPECT_NE(send("at-secret").text.find("(OAUTHBEARER, XOAUTH2) に対応していません"),
            std::string::npos);
  {
    mail::SecurityChoice clear(mail::Security::None);
    EXPECT_NE(receive("at-secret").find("暗号化した接続でしか"), std::string::npos);
    EXPECT_NE(send("at-secret").text.find("暗号化した接続でしか"), std::string::npos);
  }
  EXPECT_EQ(log().find("at-secret"), std::string::npos);

  start("xoauth2 oauthbearer");
  servers->seed("alice", "Subject: one\n\nbody\n");
  const auto revoked = qbtest::fIssue(*servers, "alice");
  qbtest::fTokenAdmin(*servers, "revoke", "token=" + revoked.refresh);
  const auto expired = qbtest::fIssue(*servers, "alice");
  qbtest::fTokenAdmin(*servers, "expire", "token=" + expired.access);
  for (const std::string& token :
       {revoked.access, expired.access, qbtest::fIssue(*servers, "bob").access}) {
    const std::string text = receive(token);
    EXPECT_TRUE(mail::fIsTokenRefusal(text) && text.find("POP3: ") == 0) << text;
    // Both servers' reasons (base64 JSON) come out decoded.
    EXPECT_NE(text.find("期限が切れたか、取り消されたトークンです (invalid_token)"),
              std::string::npos)
        << text;
    const auto sent = send(token);
    EXPECT_TRUE(!sent.sent && mail::fIsTokenRefusal(sent.text)) << sent.text;
    EXPECT_NE(sent.text.find("(invalid_token)"), std::string::npos) << sent.text;
  }
  EXPECT_EQ(servers->stored("alice").size(), 1u);
  EXPECT_TRUE(servers->stored("bob").empty());
}

}  // namespace
