// An OAuth 2.0 account as the program uses it: the refresh token in set.ini (scrambled),
// the access token in memory, refreshed during automatic receive runs and sends, and a
// revoked sign-in that leaves the account needing to sign in again.
#include <gtest/gtest.h>

#include "../mail/servertest.h"
#include "../mail/tokenservice.h"
#include "../receive/helpers.h"
#include "compose/outgoing.h"
#include "signin/accounttoken.h"

namespace {

class OAuthAccount : public receive_test::ProgramDir {
 protected:
  void SetUp() override {
    ProgramDir::SetUp();
    QB_REQUIRE_DOVECOT();
    std::string why;
    servers = qbtest::MailServers::start(why, "xoauth2 oauthbearer");
    ASSERT_TRUE(servers) << why;
    servers->sUseForLibrary(10);
    account = newAccount();
    auto s = accountsettings::fLoad(account);
    s.address = "alice@example.com";
    s.pop3Host = s.smtpHost = "127.0.0.1";
    s.pop3Port = std::to_string(servers->pop3);
    s.smtpPort = std::to_string(servers->smtp);
    s.user = "alice";
    s.auth = accountsettings::Auth::OAuth2;
    s.oauth = {"custom",
               servers->tokenUrl("/authorize"),
               servers->tokenUrl("/token"),
               "mail",
               "qb-test-client",
               "",
               ""};
    ASSERT_TRUE(accountsettings::fSave(account, s));
    signedIn = qbtest::fIssue(*servers, "alice");
    ASSERT_TRUE(signin::fKeepSignIn(
        account, {signedIn.access, signedIn.refresh, std::time(nullptr) + 3600}));
    servers->seed("alice", "Subject: one\n\nbody\n");
  }

  // One automatic-receive run over the account, as the timer starts it.
  receive::AllRun timerRun() {
    receive_test::Recorder desktop;
    return receive::fReceiveAll({{1, "alice", account}}, settingIni_, desktop);
  }
  compose::SendResult send() {
    return compose::fSend(dir_ / "send.log", account,
                          {"bob@example.com", "", "", "by token", "body\r\n", {}});
  }

  std::unique_ptr<qbtest::MailServers> servers;
  std::filesystem::path account;
  qbtest::Issued signedIn;
};

TEST_F(OAuthAccount, TimerRunsRefreshTheTokenWhenItExpiresOrIsRefused) {
  EXPECT_EQ(timerRun().total, 1);
  // The server stops taking the token before the program expected: refused, refreshed,
  // and the run goes on.
  qbtest::fTokenAdmin(*servers, "expire", "token=" + signedIn.access);
  servers->seed("alice", "Subject: two\n\nbody\n");
  auto run = timerRun();
  EXPECT_EQ(run.total, 1) << run.status;
  EXPECT_TRUE(send().sent);
  EXPECT_EQ(servers->stored("bob").size(), 1u);
  // Tokens that live less than the minute kept in hand are refreshed before each use.
  qbtest::fTokenAdmin(*servers, "set", "lifetime=30");
  const std::string first = signin::fAccessToken(account, true).token;
  const std::string second = signin::fAccessToken(account).token;
  EXPECT_FALSE(first.empty());
  EXPECT_NE(first, second);
  // The access token is never stored; the refresh token stays as the service keeps it.
  EXPECT_EQ(fsutil::fReadFile(account / "set.ini").value_or("").find(second), std::string::npos);
  EXPECT_EQ(accountsettings::fLoad(account).oauth.refreshToken, signedIn.refresh);
}

TEST_F(OAuthAccount, ARevokedSignInEndsTheRunWithAMessageAndAsksForSignIn) {
  qbtest::fTokenAdmin(*servers, "revoke", "token=" + signedIn.refresh);
  auto run = timerRun();
  EXPECT_EQ(run.total, 0);
  EXPECT_NE(run.status.find(signin::kSignInAgain), std::string::npos) << run.status;
  EXPECT_TRUE(signin::fNeedsSignIn(accountsettings::fLoad(account)));
  const auto sent = send();
  EXPECT_NE(sent.text.find(signin::kSignInAgain), std::string::npos) << sent.text;
  EXPECT_EQ(servers->stored("alice").size(), 1u);
}

}  // namespace
