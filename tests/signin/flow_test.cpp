// Sign-in end to end: the program's loopback listener, an HTTP client standing in for the
// user's browser (it follows the authorization address the program would open), the
// tests' token service, and then dovecot and the SMTP sink with the token.
#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "../mail/servertest.h"
#include "../mail/tokenservice.h"
#include "signin/oauthflow.h"
#include "signin/providers.h"

namespace {

using namespace std::chrono_literals;

class SignInFlow : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!qbtest::MailServers::dovecotInstalled()) {
      if (qbtest::MailServers::skipAllowed()) GTEST_SKIP() << qbtest::MailServers::kNoDovecot;
      FAIL() << qbtest::MailServers::kNoDovecot;
    }
    std::string why;
    servers = qbtest::MailServers::start(why, {"xoauth2 oauthbearer"});
    ASSERT_TRUE(servers) << why;
    servers->sUseForLibrary(10);
    endpoints = {servers->tokenUrl("/authorize"), servers->tokenUrl("/token"), "mail", "qb-test-client", ""};
  }
  // Starts a sign-in and lets the "browser" follow its address; the flow's result and
  // the page the browser was shown.
  std::pair<signin::Result, std::string> signIn(const signin::Endpoints& e) {
    signin::Flow flow(e, "alice");
    std::string error;
    if (!flow.start(error)) return {{false, {}, error}, ""};
    auto browser = std::async(std::launch::async, [&] { return qbtest::fHttp(flow.authorizationUrl(), nullptr, true).body; });
    signin::Result r = flow.wait(20s);
    return {r, browser.get()};
  }
  std::unique_ptr<qbtest::MailServers> servers;
  signin::Endpoints endpoints;
};

TEST_F(SignInFlow, SignsInRefreshesAndTheTokensOpenTheMailbox) {
  if (!servers) return;
  auto [r, page] = signIn(endpoints);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_NE(page.find("受け取りました"), std::string::npos);
  EXPECT_GT(r.tokens.expiresAt, std::time(nullptr));
  ASSERT_FALSE(r.tokens.refresh.empty());

  servers->seed("alice", "Subject: one\n\nbody\n");
  qbtest::TempDir inbox("qbi");
  auto receive = [&](const std::string& token) {
    mail::BearerToken bearer(token);
    return mail::RcvMail(servers->popServer(), "alice", "", "SAVEALL", "<" + inbox.str());
  };
  EXPECT_TRUE(std::holds_alternative<std::vector<std::string>>(receive(r.tokens.access)));

  const signin::Result again = signin::fRefresh(endpoints, r.tokens.refresh);
  ASSERT_TRUE(again.ok) << again.error;
  EXPECT_NE(again.tokens.access, r.tokens.access);
  EXPECT_EQ(again.tokens.refresh, r.tokens.refresh) << "kept when the answer has none";
  mail::BearerToken bearer(again.tokens.access);
  EXPECT_TRUE(mail::SendMailEx("", servers->smtpServer(), "bob@example.com", "alice@example.com", "s", "b", "",
                               "alice", "")
                  .sent);

  qbtest::TokenAdmin(*servers).revoke(r.tokens.refresh);
  const signin::Result revoked = signin::fRefresh(endpoints, r.tokens.refresh);
  EXPECT_FALSE(revoked.ok);
  EXPECT_TRUE(revoked.needsSignIn);
  EXPECT_EQ(revoked.error.find(signin::kSignInAgain), 0u) << revoked.error;
}

TEST_F(SignInFlow, EveryWayASignInFailsIsSaidInWords) {
  if (!servers) return;
  qbtest::TokenAdmin admin(*servers);
  struct Case {
    const char* answer;
    const char* said;
  };
  for (const Case& c : {Case{"deny", "サインインが拒否されました (access_denied: The user denied access)"},
                        Case{"wrong_state", "state が一致しません"}}) {
    SCOPED_TRACE(c.answer);
    admin.answer(c.answer);
    auto [r, page] = signIn(endpoints);
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.error.find(c.said), std::string::npos) << r.error;
    EXPECT_NE(page.find("サインインできませんでした"), std::string::npos) << page;
  }
  admin.answer("ok");

  signin::Endpoints wrongClient = endpoints;
  wrongClient.clientId.clear();
  EXPECT_NE(signIn(wrongClient).first.error.find("クライアント ID が設定されていません"), std::string::npos);
  wrongClient.clientId = "qb-test-client";
  wrongClient.tokenUrl = "http://mail.example.com/token";
  EXPECT_NE(signIn(wrongClient).first.error.find("https://"), std::string::npos);

  // Nobody answers: the wait ends by its time, or when cancelled from another thread.
  signin::Flow flow(endpoints);
  std::string error;
  ASSERT_TRUE(flow.start(error)) << error;
  EXPECT_NE(flow.wait(300ms).error.find("時間切れ"), std::string::npos);
  std::thread canceller([&] {
    std::this_thread::sleep_for(200ms);
    flow.cancel();
  });
  const auto began = std::chrono::steady_clock::now();
  EXPECT_NE(flow.wait(30s).error.find("取り消しました"), std::string::npos);
  EXPECT_LT(std::chrono::steady_clock::now() - began, 10s);
  canceller.join();
}

TEST(SignInParts, PkceChallengeAndRedirectReading) {
  // RFC 7636, appendix B.
  EXPECT_EQ(signin::fChallengeOf("dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk"),
            "E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM");
  EXPECT_EQ(signin::fRandomText(32).size(), 43u);
  EXPECT_NE(signin::fRandomText(16), signin::fRandomText(16));

  auto r = signin::fParseRedirect("/?state=a%2Bb&code=c+d&error_description=x");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->state, "a+b");
  EXPECT_EQ(r->code, "c d");
  EXPECT_FALSE(signin::fParseRedirect("/favicon.ico"));
  EXPECT_EQ(signin::fRedirectProblem(*r, "a+b"), "");

  const signin::Endpoints e{"https://id.example/auth?x=1", "https://id.example/token", "a b", "id 1", ""};
  EXPECT_EQ(signin::fAuthorizationUrl(e, "http://127.0.0.1:5/", "s", "c", ""),
            "https://id.example/auth?x=1&response_type=code&client_id=id%201&redirect_uri=http%3A%2F%2F127.0.0.1%"
            "3A5%2F&scope=a%20b&state=s&code_challenge=c&code_challenge_method=S256");

  EXPECT_EQ(signin::fProviderForAddress("Taro@GMAIL.com")->id, "google");
  EXPECT_EQ(signin::fProviderForAddress("hanako@hotmail.co.jp")->id, "microsoft");
  EXPECT_EQ(signin::fProviderForAddress("x@example.jp"), nullptr);
}

}  // namespace
