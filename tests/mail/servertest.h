#pragma once
// A test that runs against freshly started dovecot and SMTP sink servers.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "mailservers.h"

namespace qbtest {

class ServerTest : public ::testing::Test {
 protected:
  explicit ServerTest(long timeoutSeconds = 10) : timeoutSeconds_(timeoutSeconds) {}

  void SetUp() override {
    if (!MailServers::dovecotInstalled()) {
      if (MailServers::skipAllowed()) GTEST_SKIP() << MailServers::kNoDovecot;
      FAIL() << MailServers::kNoDovecot;
    }
    std::string why;
    servers = MailServers::start(why);
    ASSERT_TRUE(servers) << why;
    servers->sUseForLibrary(timeoutSeconds_);
  }
  // True when SetUp stopped early (skipped or failed): the subclass sets up nothing more.
  bool fNotStarted() const { return IsSkipped() || HasFatalFailure(); }

  std::unique_ptr<MailServers> servers;

 private:
  long timeoutSeconds_;
};

}  // namespace qbtest
