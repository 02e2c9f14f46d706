// A big folder's remembered header fields against changes the remembering did not see:
// files added, removed, replaced or rewritten in place from outside, mails moved by the
// program, and a cache file left damaged, cut or foreign by a crash or another folder.
#include <gtest/gtest.h>

#include <map>
#include <thread>

#include "../store/testutil.h"
#include "mail/headercache.h"
#include "mail/maillist.h"
#include "store/mailstore.h"

namespace fs = std::filesystem;

namespace {

constexpr int kMails = 70;  // above headercache::kCachedFrom

std::string mail(std::string_view subject) {
  return "Subject: " + std::string(subject) +
         "\r\nFrom: a@example.jp\r\nTo: b@example.jp\r\nDate: Mon, 01 Jan 2024 10:00:00 +0900\r\n\r\nbody\r\n";
}

std::string name(int i) { return "m" + std::to_string(i) + ".eml"; }

// Subjects by file name, as the full listing gives them.
std::map<std::string, std::string> subjects(const fs::path& folder, maillist::ListStats* stats = nullptr) {
  std::map<std::string, std::string> out;
  for (const auto& e : maillist::fList(folder, false, {}, stats)) out[e.file.filename().string()] = e.headers.subject;
  return out;
}

// An account's inbox of kMails mails, old enough to be remembered, listed once.
class HeaderCache : public ::testing::Test {
 protected:
  void SetUp() override {
    account_ = dir_.path() / "MailBox" / "Account01";
    inbox_ = account_ / mailstore::fPath("受信箱");
    for (int i = 0; i < kMails; ++i) writeBytes(inbox_ / name(i), mail("subject " + std::to_string(i)));
    // A file's state must be older than the file system's time step to be remembered.
    std::this_thread::sleep_for(std::chrono::milliseconds(2100));
    maillist::ListStats stats;
    expected_ = subjects(inbox_, &stats);
    ASSERT_EQ(stats.read, size_t{kMails});
    ASSERT_TRUE(fs::exists(cacheFile()));
  }
  fs::path cacheFile() const { return headercache::cacheFile(inbox_); }
  size_t readOnNextList() {
    maillist::ListStats stats;
    EXPECT_EQ(subjects(inbox_, &stats), expected_);
    return stats.read + stats.reread;
  }

  TempDir dir_;
  fs::path account_, inbox_;
  std::map<std::string, std::string> expected_;
};

}  // namespace

TEST_F(HeaderCache, RemembersPrivatelyBesideTheFolderAndReadsOnlyWhatChanged) {
  EXPECT_EQ(cacheFile().parent_path(), account_);
  EXPECT_EQ(fs::status(cacheFile()).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(readOnNextList(), 0u);

  // From outside: one removed, one added, one replaced under its name, one rewritten in
  // place with the same size and its old modification time put back.
  fs::remove(inbox_ / name(1));
  expected_.erase(name(1));
  writeBytes(inbox_ / "new.eml", mail("added"));
  expected_["new.eml"] = "added";
  writeBytes(inbox_ / "tmp", mail("replaced"));
  fs::rename(inbox_ / "tmp", inbox_ / name(2));
  expected_[name(2)] = "replaced";
  const auto time = fs::last_write_time(inbox_ / name(3));
  writeBytes(inbox_ / name(3), mail("subject X"));
  fs::last_write_time(inbox_ / name(3), time);
  expected_[name(3)] = "subject X";

  // At once: the listing tells the added, removed and replaced files; the rewrite in
  // place shows at the check, which answers it alone.
  maillist::Listing listing = maillist::listAtOnce(inbox_, false);
  std::map<std::string, std::string> shown;
  for (const auto& m : listing.mails) shown[std::string(m.name)] = m.subject;
  EXPECT_EQ(shown.size(), expected_.size());
  EXPECT_EQ(shown["new.eml"], "added");
  EXPECT_EQ(shown[name(2)], "replaced");
  EXPECT_EQ(shown[name(3)], "subject 3");
  const std::vector<maillist::Change> changes = listing.check();
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_EQ(changes[0].name, name(3));
  EXPECT_EQ(changes[0].headers.subject, "subject X");
  // The new files are too recent to be remembered yet: read again until they settle.
  EXPECT_EQ(readOnNextList(), 3u);
  std::this_thread::sleep_for(std::chrono::milliseconds(2100));
  EXPECT_EQ(readOnNextList(), 3u);
  EXPECT_EQ(readOnNextList(), 0u);

  // The program's own moves: out to another folder and back again.
  const fs::path other = account_ / mailstore::fPath("ごみ箱");
  fs::create_directories(other);
  ASSERT_TRUE(mailstore::fMoveMails({inbox_ / name(4), inbox_ / name(5)}, other).empty());
  expected_.erase(name(4));
  expected_.erase(name(5));
  EXPECT_EQ(readOnNextList(), 0u);
  ASSERT_TRUE(mailstore::fMoveMails({other / name(4)}, inbox_).empty());
  expected_[name(4)] = "subject 4";
  EXPECT_EQ(readOnNextList(), 1u);
}

TEST_F(HeaderCache, DamagedCutOrForeignCacheIsIgnoredAndRewritten) {
  const std::string good = readBytes(cacheFile());
  std::string flipped = good;
  flipped[good.size() / 2] ^= 0x20;
  const fs::path sent = account_ / mailstore::fPath("送信箱");
  for (int i = 0; i < kMails; ++i) writeBytes(sent / name(i), mail("other " + std::to_string(i)));
  std::this_thread::sleep_for(std::chrono::milliseconds(2100));
  maillist::fList(sent, true);
  const std::string foreign = readBytes(headercache::cacheFile(sent));
  ASSERT_NE(foreign, good);

  const std::vector<std::pair<std::string, std::string>> damages = {
      {"empty", ""},
      {"cut in the header", good.substr(0, 5)},
      {"cut in a record", good.substr(0, good.size() / 2)},
      {"cut before its check sum", good.substr(0, good.size() - 3)},
      {"a byte changed", flipped},
      {"another folder's", foreign},
      {"garbage", std::string(4096, '\xff')},
  };
  for (const auto& [what, bytes] : damages) {
    SCOPED_TRACE(what);
    writeBytes(cacheFile(), bytes);
    EXPECT_EQ(readOnNextList(), size_t{kMails});
    EXPECT_EQ(readBytes(cacheFile()), good);
    EXPECT_EQ(readOnNextList(), 0u);
  }
  // A crash between writing and renaming leaves a temporary file beside it: no mail, no harm.
  writeBytes(account_ / ".list-0123456789abcdef.tmp.ini", good.substr(0, 100));
  EXPECT_EQ(readOnNextList(), 0u);
  // The same folder listed as sent-type does not take the received-type fields.
  for (const auto& e : maillist::fList(inbox_, true)) EXPECT_EQ(e.headers.party, "b@example.jp");
  // A folder that became small loses its cache; deleting a cache loses nothing.
  fs::remove(cacheFile());
  EXPECT_EQ(readOnNextList(), size_t{kMails});
  for (int i = 0; i < kMails - 10; ++i) {
    fs::remove(inbox_ / name(i));
    expected_.erase(name(i));
  }
  EXPECT_EQ(readOnNextList(), 10u);
  EXPECT_FALSE(fs::exists(cacheFile()));
}

TEST(HeaderCacheFile, RoundTripsRecordsAndRefusesEveryCut) {
  const std::vector<headercache::Record> records = {
      {"a.eml", "件名", "佐藤 <sato@example.jp>", "2024/01/01 10:00:00", 10, 20, -30, 40},
      {"b", "", "tab\tand\nnew line", "", 0, 0, 0, 0},
  };
  const std::string bytes = headercache::encode("受信箱", false, records);
  std::vector<headercache::Record> back;
  ASSERT_TRUE(headercache::decode(bytes, "受信箱", false, back));
  ASSERT_EQ(back.size(), 2u);
  EXPECT_EQ(back[0].party, "佐藤 <sato@example.jp>");
  EXPECT_EQ(back[0].mtime, -30);
  EXPECT_EQ(back[1].party, "tab\tand\nnew line");
  EXPECT_FALSE(headercache::decode(bytes, "受信箱", true, back));
  EXPECT_FALSE(headercache::decode(bytes, "受信箱\\x", false, back));
  for (size_t n = 0; n < bytes.size(); ++n) EXPECT_FALSE(headercache::decode(bytes.substr(0, n), "受信箱", false, back));
  EXPECT_TRUE(back.empty());
}
