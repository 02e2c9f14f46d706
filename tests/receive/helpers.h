#pragma once
// Shared pieces of the receive tests: a temporary program folder with accounts, and a
// desktop that records what the core asked of it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "../common/tempdir.h"
#include "receive/desktop.h"
#include "receive/receive.h"
#include "store/fsutil.h"
#include "store/mailstore.h"
#include "store/mod_ini.h"

namespace receive_test {
namespace fs = std::filesystem;

struct Recorder : receive::DesktopServices {
  std::vector<std::string> opened, browsed, started;
  void sOpenUrl(const std::string& url) override { opened.push_back(url); }
  void sSendToBrowser(const std::string& url) override { browsed.push_back(url); }
  void sStartProgram(const std::string& program) override { started.push_back(program); }
};

// A program folder in the system's temp folder, removed after the test.
class ProgramDir : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = tmp_.path();
    prefix_ = mailstore::fAccountPrefix(dir_);
    settingIni_ = dir_ / "setting.ini";
  }
  fs::path newAccount() {
    int n = mailstore::fCreateAccount(prefix_);
    EXPECT_GT(n, 0);
    return mailstore::fAccountFolder(prefix_, n);
  }
  static fs::path inbox(const fs::path& account) {
    return account / mailstore::fPath(mailstore::kInbox);
  }
  static fs::path folder(const fs::path& account, std::string_view below) {
    return account / mailstore::fPath(below);
  }
  static fs::path writeMail(const fs::path& folder, const std::string& name,
                            const std::string& bytes = "Subject: x\r\n\r\nbody\r\n") {
    fs::create_directories(folder);
    std::ofstream(folder / name, std::ios::binary) << bytes;
    return folder / name;
  }
  static void setRules(const fs::path& account, const std::string& distribute) {
    mod_ini::fWriteIniString("Mail", "Distribute", distribute, account / "set.ini");
  }

  qbtest::TempDir tmp_{"qb-receive"};
  fs::path dir_, prefix_, settingIni_;
};

// ReadMail results keyed by file name, written as the library labels them; a name
// without an entry cannot be read.
struct FakeHeaders {
  std::map<std::string, std::vector<std::string>> byName;
  std::vector<std::string> calls;
  std::mutex mutex;  // filing reads on two threads at once

  void add(const std::string& name, const std::string& subject, const std::string& from,
           const std::string& to, const std::string& body) {
    byName[name] = {"subject: " + subject, "from: " + from, "date: 2024/05/01 10:00:00",
                    "to: " + to,           "nofile: ",      "body: " + body};
  }
  receive::ReadMailFn fn() {
    return [this](std::string_view file, std::string_view keys, std::string_view folder) {
      std::lock_guard lock(mutex);
      calls.push_back(std::string(file) + "|" + std::string(keys) + "|" + std::string(folder));
      auto it = byName.find(mailstore::fUtf8(mailstore::fPath(file).filename()));
      if (it == byName.end()) return mail::MailResult(std::string());
      return mail::MailResult(it->second);
    };
  }
};

}  // namespace receive_test
