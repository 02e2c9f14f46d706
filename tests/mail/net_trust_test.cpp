// A server whose certificate the system does not vouch for (a throwaway self-signed one):
// refused until the user trusts exactly that certificate, refused again, naming both
// fingerprints, when it changes. Receiving and sending alike.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "mail/mail.h"
#include "servertest.h"
#include "store/mailstore.h"

namespace fs = std::filesystem;
using qbtest::ServerTest;

namespace {

std::string message(int i) { return qbtest::fNumberedMail(i, "trust"); }

// How a user might type it: lower case, no colons.
std::string typed(std::string fingerprint) {
  fingerprint.erase(std::remove(fingerprint.begin(), fingerprint.end(), ':'), fingerprint.end());
  for (auto& c : fingerprint) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return fingerprint;
}

class Trust : public ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    if (fNotStarted()) return;
    inbox = fs::path(servers->dir) / "inbox";
    fs::create_directories(inbox);
    std::string why;
    first = servers->fServeSelfSigned(why);
    ASSERT_EQ(first.size(), 95u) << why;
  }

  mail::MailResult receive(bool implicitTls) {
    return mail::RcvMail(servers->popServer(implicitTls), "alice", "secret", "SAVEALL",
                         "<" + inbox.string());
  }
  static std::string text(const mail::MailResult& r) {
    auto* t = std::get_if<std::string>(&r);
    return t ? *t : "<" + std::to_string(std::get<0>(r).size()) + " mails>";
  }
  std::string send(bool implicitTls, const std::string& subject) {
    return mail::SendMailEx((fs::path(servers->dir) / "log.txt").string(),
                            servers->smtpServer(implicitTls), "bob@localhost", "alice@localhost",
                            subject, "body", "")
        .text;
  }

  fs::path inbox;
  std::string first;  // the self-signed certificate's fingerprint
};

TEST_F(Trust, ReceivingTakesOnlyThePinnedCertificate) {
  servers->seed("alice", message(1));
  for (bool implicitTls : {false, true}) {
    std::string refused = text(receive(implicitTls));
    EXPECT_NE(refused.find("証明書を信頼できません"), std::string::npos) << refused;
    EXPECT_NE(refused.find(first), std::string::npos) << refused;
  }
  {
    mail::CertificatePin pin(std::string(64, 'a'));  // another certificate's
    EXPECT_NE(text(receive(false)).find(first), std::string::npos);
  }
  EXPECT_TRUE(mailstore::fListMailFiles(inbox).empty());
  {
    mail::CertificatePin pin(typed(first));
    EXPECT_EQ(text(receive(false)), "<1 mails>");
    servers->seed("alice", message(2));
    EXPECT_EQ(text(receive(true)), "<1 mails>");
  }
  // The trust lasts only as long as the pin.
  EXPECT_NE(text(receive(false)).find("証明書を信頼できません"), std::string::npos);

  std::string why, second = servers->fServeSelfSigned(why);
  ASSERT_FALSE(second.empty()) << why;
  servers->seed("alice", message(3));
  mail::CertificatePin pin(first);
  for (bool implicitTls : {false, true}) {
    std::string changed = text(receive(implicitTls));
    EXPECT_NE(changed.find("変わっています"), std::string::npos) << changed;
    EXPECT_NE(changed.find(first), std::string::npos) << changed;
    EXPECT_NE(changed.find(second), std::string::npos) << changed;
  }
  EXPECT_EQ(mailstore::fListMailFiles(inbox).size(), 2u);
}

TEST_F(Trust, SendingTakesOnlyThePinnedCertificate) {
  for (bool implicitTls : {false, true}) {
    std::string refused = send(implicitTls, "refused");
    EXPECT_EQ(refused.rfind("送信に失敗しました", 0), 0u) << refused;
    EXPECT_NE(refused.find("証明書を信頼できません"), std::string::npos) << refused;
    EXPECT_NE(refused.find(first), std::string::npos) << refused;
  }
  {
    mail::CertificatePin pin(first);
    EXPECT_EQ(send(false, "starttls"), "送信しました");
    EXPECT_EQ(send(true, "smtps"), "送信しました");
  }
  EXPECT_EQ(servers->stored("bob").size(), 2u);

  std::string why, second = servers->fServeSelfSigned(why);
  ASSERT_FALSE(second.empty()) << why;
  mail::CertificatePin pin(first);
  for (bool implicitTls : {false, true}) {
    std::string changed = send(implicitTls, "changed");
    EXPECT_NE(changed.find(first), std::string::npos) << changed;
    EXPECT_NE(changed.find(second), std::string::npos) << changed;
  }
  EXPECT_EQ(servers->stored("bob").size(), 2u);
}

TEST_F(Trust, FetchingShowsTheCertificateOnEveryTlsRoute) {
  struct Route {
    std::string server;
    bool smtp;
  } routes[] = {{servers->popServer(false), false},
                {servers->popServer(true), false},
                {servers->smtpServer(false), true},
                {servers->smtpServer(true), true}};
  for (const auto& r : routes) {
    auto got = mail::fFetchServerCertificate(r.server, r.smtp);
    auto* cert = std::get_if<mail::ServerCertificate>(&got);
    ASSERT_TRUE(cert) << r.server << ": " << std::get<std::string>(got);
    EXPECT_EQ(cert->fingerprint, first) << r.server;
    EXPECT_FALSE(cert->trusted);
    EXPECT_NE(cert->problem.find("自己署名の証明書です"), std::string::npos) << cert->problem;
    EXPECT_NE(cert->subject.find("CN=localhost"), std::string::npos) << cert->subject;
  }
  auto none = mail::fFetchServerCertificate("127.0.0.1\t1", false);
  EXPECT_NE(std::get<std::string>(none).find("接続できません"), std::string::npos);
}

}  // namespace
