#pragma once
// A test that runs against freshly started dovecot and SMTP sink servers.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "mailservers.h"
#include "store/fsutil.h"
#include "store/mailstore.h"

// In a test's SetUp: skips it (where that is allowed) or fails it when dovecot is missing.
#define QB_REQUIRE_DOVECOT()                                                              \
  do {                                                                                    \
    if (!qbtest::MailServers::dovecotInstalled()) {                                       \
      if (qbtest::MailServers::skipAllowed()) GTEST_SKIP() << qbtest::MailServers::kNoDovecot; \
      FAIL() << qbtest::MailServers::kNoDovecot;                                          \
    }                                                                                     \
  } while (false)

namespace qbtest {

class ServerTest : public ::testing::Test {
 protected:
  explicit ServerTest(long timeoutSeconds = 10) : timeoutSeconds_(timeoutSeconds) {}

  void SetUp() override {
    QB_REQUIRE_DOVECOT();
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

// Test mail number i (LF line ends): `headers`, then a subject and `lines` body lines
// that carry the number, so every number has bytes of its own.
inline std::string fNumberedMail(int i, std::string_view subject, int lines = 1,
                                 std::string_view headers = "From: a@example.com\n") {
  const std::string n = std::to_string(i);
  std::string m(headers);
  m += "Subject: " + std::string(subject) + " " + n + "\n\n";
  for (int l = 0; l < lines; ++l)
    m += "line " + std::to_string(l) + " of message " + n + " ........\n";
  return m;
}

// Numbered mails as `make` writes them, told apart in the folders by their bytes as the
// server delivers them.
class NumberedMails {
 public:
  explicit NumberedMails(std::function<std::string(int)> make) : make_(std::move(make)) {}
  std::string operator()(int i) const { return make_(i); }
  void seed(MailServers& servers, const std::string& user, int count) const {
    for (int i = 1; i <= count; ++i) servers.seed(user, make_(i));
  }
  // Which of mails 1..count each mail file of the folders holds (0: none of them, or one
  // cut short), file by file.
  std::vector<std::pair<int, std::filesystem::path>> fFiles(
      const std::vector<std::filesystem::path>& folders, int count) const {
    std::map<std::string, int> byBytes;
    for (int i = 1; i <= count; ++i) byBytes[MailServers::crlf(make_(i))] = i;
    std::vector<std::pair<int, std::filesystem::path>> files;
    for (const auto& folder : folders) {
      for (const auto& file : mailstore::fListMailFiles(folder)) {
        auto it = byBytes.find(fsutil::fReadFile(file).value_or(""));
        files.emplace_back(it == byBytes.end() ? 0 : it->second, file);
      }
    }
    return files;
  }
  // How many mail files of the folders hold each of mails 1..count (0: the others).
  std::map<int, int> fCopies(const std::vector<std::filesystem::path>& folders, int count) const {
    std::map<int, int> copies;
    for (const auto& [number, file] : fFiles(folders, count)) ++copies[number];
    return copies;
  }
  // Each of mails 1..count lies in the folders exactly once, whole, and no other mail
  // file does.
  void expectEachOnce(const std::vector<std::filesystem::path>& folders, int count) const {
    auto copies = fCopies(folders, count);
    EXPECT_EQ(copies[0], 0) << "mail files that are none of the mails, or cut short";
    for (int i = 1; i <= count; ++i) EXPECT_EQ(copies[i], 1) << "mail " << i;
  }

 private:
  std::function<std::string(int)> make_;
};

}  // namespace qbtest
