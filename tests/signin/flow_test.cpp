// The sign-in flow's failures end to end: the program's loopback listener, an HTTP client
// standing in for the user's browser (it follows the authorization address the program
// would open) and the tests' token service. A sign-in that succeeds is taken from the
// account dialog (tests/ui/settings), its refreshes by accounts (account_test).
#include <gtest/gtest.h>

#include <future>

#include "../mail/servertest.h"
#include "../mail/tokenservice.h"
#include "signin/oauthflow.h"

namespace {

using namespace std::chrono_literals;

class SignInFlow : public ::testing::Test {
 protected:
  void SetUp() override {
    QB_REQUIRE_DOVECOT();
    std::string why;
    servers = qbtest::MailServers::start(why, "xoauth2");
    ASSERT_TRUE(servers) << why;
    endpoints = {servers->tokenUrl("/authorize"), servers->tokenUrl("/token"), "mail",
                 "qb-test-client", ""};
  }
  // A sign-in with the "browser" following its address: the result, and the page shown.
  std::pair<signin::Result, std::string> signIn(const signin::Endpoints& e) {
    signin::Flow flow(e, "alice@example.com");
    std::string error;
    if (!flow.start(error)) return {{false, {}, error}, ""};
    auto page = std::async(std::launch::async,
                           [&] { return qbtest::fHttp(flow.authorizationUrl(), nullptr, true); });
    signin::Result r = flow.wait(20s);
    return {r, page.get()};
  }
  std::unique_ptr<qbtest::MailServers> servers;
  signin::Endpoints endpoints;
};

TEST_F(SignInFlow, EveryWayASignInFailsIsSaidInWords) {
  for (auto [answer, said] :
       {std::pair{"deny", "サインインが拒否されました (access_denied: The user denied access)"},
        {"wrong_state", "state が一致しません"}}) {
    qbtest::fTokenAdmin(*servers, "set", std::string("answer=") + answer);
    auto [r, page] = signIn(endpoints);
    EXPECT_NE(r.error.find(said), std::string::npos) << r.error;
    EXPECT_NE(page.find("サインインできませんでした"), std::string::npos) << page;
  }
  signin::Endpoints other = endpoints;
  other.clientId.clear();
  EXPECT_NE(signIn(other).first.error.find("クライアント ID が設定されていません"),
            std::string::npos);
  other = endpoints;
  other.tokenUrl = "http://mail.example.com/token";  // a code never travels in clear
  EXPECT_NE(signIn(other).first.error.find("https://"), std::string::npos);

  // Nobody answers: the wait ends by its time (cancelling is the account dialog's).
  signin::Flow flow(endpoints);
  std::string error;
  ASSERT_TRUE(flow.start(error)) << error;
  EXPECT_NE(flow.wait(300ms).error.find("時間切れ"), std::string::npos);
}

TEST(SignInParts, PkceAndRedirect) {
  // RFC 7636, appendix B.
  EXPECT_EQ(signin::fChallengeOf("dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk"),
            "E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM");
  auto r = signin::fParseRedirect("/?state=a%2Bb&code=c+d");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->state + "|" + r->code, "a+b|c d");
  EXPECT_FALSE(signin::fParseRedirect("/favicon.ico"));
}

}  // namespace
