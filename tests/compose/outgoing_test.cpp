// The outgoing file (name, content, encoding, never replacing a stored mail) and the
// recipient lists handed to the mail library.
#include "compose/outgoing.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <thread>

#include "../mail/read_test_support.h"
#include "compose/outgoing_file.h"
#include "store/charset.h"
#include "store/fsutil.h"
#include "store/mailstore.h"

namespace fs = std::filesystem;
using compose::Box;
using compose::Draft;

namespace {

std::vector<std::string> namesIn(const fs::path& folder) {
  std::vector<std::string> names;
  for (auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// Waits for the start of a second, so a few quick stores fall into the same one.
void waitForFreshSecond() {
  std::time_t start = std::time(nullptr);
  while (std::time(nullptr) == start) std::this_thread::sleep_for(std::chrono::milliseconds(2));
}

fs::path sentFolder(const fs::path& account) {
  return account / mailstore::fPath(mailstore::kSent);
}

TEST(OutgoingLists, FieldsSplitTrimmedAndJoined) {
  struct Case {
    const char* field;
    const char* tabs;
  } cases[] = {
      {"a@x, b@y", "a@x\tb@y"},
      {" , ,", ""},
      {"", ""},
      {"山田 太郎<a@x>,  ,b@y ,", "山田 太郎<a@x>\tb@y"},
      {"a@x\tbcc\tb@y", "a@x bcc b@y"},
  };
  for (auto& c : cases) EXPECT_EQ(compose::fTabList(c.field), c.tabs) << c.field;

  struct Rcpt {
    Draft draft;
    const char* list;
  } rcpts[] = {
      {{"a@x", "", "", "", "", {}}, "a@x"},
      {{"a@x", ", ,", "", "", "", {}}, "a@x\tcc\t"},
      {{"a@x, b@y", "c@z", "d@w, e@v", "", "", {}}, "a@x\tb@y\tcc\tc@z\tbcc\td@w\te@v"},
      {{"a@x", "", "d@w", "", "", {}}, "a@x\tbcc\td@w"},
  };
  for (auto& r : rcpts) EXPECT_EQ(compose::fRecipientList(r.draft), r.list) << r.list;
}

TEST(OutgoingFile, NamesAndDateLinesForAnyDate) {
  struct Case {
    int year, month, day, hour, min, sec;
    long offset;
    const char* name;
    const char* date;
  } cases[] = {
      {2024, 3, 5, 14, 7, 9, 540, "24650305_140709", "Date: Tue, 05 Mar 2024 14:07:09 +0900\r\n"},
      {2025, 1, 1, 0, 0, 0, -300, "2510101_000000", "Date: Wed, 01 Jan 2025 00:00:00 -0500\r\n"},
      {2024, 12, 31, 23, 59, 59, 330, "243661231_235959",
       "Date: Tue, 31 Dec 2024 23:59:59 +0530\r\n"},
      {2009, 4, 10, 9, 5, 0, -570, "091000410_090500", "Date: Fri, 10 Apr 2009 09:05:00 -0930\r\n"},
  };
  for (auto& c : cases) {
    std::tm tm{};
    tm.tm_year = c.year - 1900;
    tm.tm_mon = c.month - 1;
    tm.tm_mday = c.day;
    tm.tm_hour = c.hour;
    tm.tm_min = c.min;
    tm.tm_sec = c.sec;
    timegm(&tm);  // fills the weekday and the day of the year
    EXPECT_EQ(compose::fOutgoingName(tm), c.name);
    EXPECT_EQ(compose::fOutgoingDateLine(tm, c.offset), c.date);
  }
}

class Store : public ::testing::Test {
 protected:
  readtest::TempDir dir;
  fs::path account() const { return dir.path() / "Account01"; }
};

TEST_F(Store, ExactContentInCp932InEachBox) {
  Draft d{"山田<a@x>, b@y", ", ,", "", "ソ表示①～の件", "本文①～\r\n二行目\r\n", {"/tmp/x.txt"}};
  const std::pair<Box, fs::path> boxes[] = {
      {Box::Sent, sentFolder(account())},
      {Box::Pending, sentFolder(account()) / mailstore::fPath(mailstore::kPending)},
      {Box::Drafts, sentFolder(account()) / mailstore::fPath(mailstore::kDrafts)},
  };
  for (auto& [box, folder] : boxes) {
    auto r = compose::fStore(account(), box, d);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.file.parent_path(), folder);
    auto bytes = fsutil::fReadFile(r.file);
    ASSERT_TRUE(bytes);
    const std::string rest =
        "To: 山田<a@x>, b@y\r\nCc: , ,\r\nBcc: \r\nSubject: "
        "ソ表示①～の件\r\n\r\n本文①～\r\n二行目\r\n";
    EXPECT_FALSE(charset::fIsValidUtf8(*bytes));
    std::string text = charset::fFromCp932(*bytes);
    ASSERT_EQ(text.rfind("Date: ", 0), 0u);
    EXPECT_EQ(text.substr(text.find("\r\n") + 2), rest);
    EXPECT_EQ(*bytes, charset::fToCp932(text).value());
  }
  // Only the stored mails: no temporary file left behind.
  EXPECT_EQ(namesIn(sentFolder(account())).size(), 3u);  // the mail and the two box folders
  EXPECT_EQ(namesIn(account()).size(), 1u);              // 送信箱 alone
}

TEST_F(Store, OutgoingFilesLeftByAKilledProgramGoOnceSurelyDead) {
  const fs::path box = sentFolder(account()) / mailstore::fPath(mailstore::kDrafts);
  fs::create_directories(box);
  for (const char* name : {".qbout-dead.tmp", ".qbout-sending.tmp", ".other.tmp"})
    std::ofstream(box / name) << name;
  std::ofstream(account() / ".qbout-dead2.tmp.ini") << "x";  // where they wait now
  for (const fs::path& dead : {box / ".qbout-dead.tmp", account() / ".qbout-dead2.tmp.ini"})
    fs::last_write_time(dead, fs::file_time_type::clock::now() - std::chrono::hours(25));
  ASSERT_TRUE(compose::fStore(account(), Box::Drafts, {"a@x", "", "", "s", "b", {}}).ok);
  EXPECT_FALSE(fs::exists(box / ".qbout-dead.tmp"));
  EXPECT_FALSE(fs::exists(account() / ".qbout-dead2.tmp.ini"));
  EXPECT_TRUE(fs::exists(box / ".qbout-sending.tmp"));  // may be a send still going on
  EXPECT_TRUE(fs::exists(box / ".other.tmp"));          // not ours
}

TEST_F(Store, TextBeyondCp932IsKeptAsUtf8AndHeaderFieldsStayOneLine) {
  Draft d{"a@x", "", "", "絵文字😀\r\nBcc: evil@x", "本文😀", {}};
  auto r = compose::fStore(account(), Box::Drafts, d);
  ASSERT_TRUE(r.ok) << r.error;
  std::string bytes = fsutil::fReadFile(r.file).value();
  EXPECT_TRUE(charset::fIsValidUtf8(bytes));
  EXPECT_NE(bytes.find("\r\nSubject: 絵文字😀  Bcc: evil@x\r\n\r\n本文😀"), std::string::npos)
      << bytes;
}

TEST_F(Store, SameSecondTakesCountedNames) {
  // Tried again when a busy machine lets the second pass before the three stores are done.
  std::vector<fs::path> files;
  for (int attempt = 0; attempt < 5; ++attempt) {
    waitForFreshSecond();
    const std::time_t second = std::time(nullptr);
    files.clear();
    for (int i = 0; i < 3; ++i) {
      auto r =
          compose::fStore(account(), Box::Sent, {"a@x", "", "", "s" + std::to_string(i), "", {}});
      ASSERT_TRUE(r.ok) << r.error;
      files.push_back(r.file);
    }
    if (std::time(nullptr) == second) break;
    files.clear();
  }
  ASSERT_EQ(files.size(), 3u) << "three stores never fitted in one second";
  const std::string t = files[0].filename().string();
  EXPECT_EQ(files[1].filename().string(), t + "_001");
  EXPECT_EQ(files[2].filename().string(), t + "_002");
  for (int i = 0; i < 3; ++i)
    EXPECT_NE(fsutil::fReadFile(files[i])->find("Subject: s" + std::to_string(i)),
              std::string::npos);
}

TEST_F(Store, AllNamesOfTheSecondTakenFailsAndKeepsEveryFile) {
  // Thousands of names are made: in memory where the system has such a folder, so a busy
  // disk does not outlast the seconds they are made for.
  const qbtest::TempDir scratch("qb-names",
                                fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : dir.path());
  const fs::path account = scratch.path() / "Account01";
  fs::path folder = sentFolder(account);
  fs::create_directories(folder);
  // Every name of two seconds a little ahead (each try reads the clock anew); the store
  // runs once the first of them has begun. Tried again when a busy machine lets those
  // seconds pass before the names are made or the store has tried them all.
  constexpr int kSeconds = 2;
  compose::StoreResult r;
  bool inTime = false;
  for (int attempt = 0; attempt < 3 && !inTime; ++attempt) {
    fs::remove_all(folder);
    fs::create_directories(folder);
    const std::time_t t0 = std::time(nullptr) + 2;
    for (std::time_t t = t0; t < t0 + kSeconds; ++t) {
      std::tm tm{};
      localtime_r(&t, &tm);
      const std::string stem = compose::fOutgoingName(tm);
      for (int i = 0; i <= 999; ++i) {
        char suffix[8];
        std::snprintf(suffix, sizeof suffix, "_%03d", i);
        fs::path name = folder / (i ? stem + suffix : stem);
        int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::write(fd, "keep", 4), 4);
        ::close(fd);
      }
    }
    if (std::time(nullptr) >= t0) continue;
    while (std::time(nullptr) < t0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    r = compose::fStore(account, Box::Sent, {"a@x", "", "", "s", "body", {}});
    inTime = std::time(nullptr) < t0 + kSeconds;
  }
  ASSERT_TRUE(inTime) << "the machine was too busy to make and fill the names in time";
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.error.find("保存できません"), std::string::npos) << r.error;
  std::size_t count = 0;
  for (auto& e : fs::directory_iterator(folder)) {
    ++count;
    EXPECT_EQ(fsutil::fReadFile(e.path()).value(), "keep") << e.path();
  }
  EXPECT_EQ(count, kSeconds * 1000u);
}

TEST_F(Store, DateLineCarriesTheZoneAndReadsBackAsLocalTime) {
  struct Case {
    const char* tz;
    const char* offset;
  } cases[] = {{"JST-9", "+0900"}, {"EST5", "-0500"}, {"IST-5:30", "+0530"}, {"UTC0", "+0000"}};
  for (auto& c : cases) {
    readtest::LocalZone zone(c.tz);
    auto r = compose::fStore(account(), Box::Drafts, {"a@x", "", "", c.tz, "", {}});
    ASSERT_TRUE(r.ok) << r.error;
    std::string text = fsutil::fReadFile(r.file).value();
    std::string line = text.substr(0, text.find("\r\n"));
    EXPECT_EQ(line.substr(line.size() - 6), std::string(" ") + c.offset) << line;
    // "Date: Tue, 05 Mar 2024 14:07:09 +0900": the clock time must come back unchanged.
    auto read = mail::ReadMail(mailstore::fUtf8(r.file), "date:nofile:nobody:", dir.str());
    auto* parts = std::get_if<std::vector<std::string>>(&read);
    ASSERT_TRUE(parts);
    EXPECT_EQ((*parts)[0].substr((*parts)[0].size() - 8), line.substr(line.size() - 14, 8)) << c.tz;
  }
}

TEST_F(Store, StoredMailsReadBackAndAreReplacedInPlace) {
  // CP932 text, text beyond it (stored as UTF-8), empty fields, a body without a last break.
  const Draft drafts[] = {
      {"山田<a@x>, b@y", ", ,", "c@z", "件名①～", "本文\r\n\r\n> 引用\r\n", {}},
      {"", "", "", "絵文字😀", "最後の行", {}},
      {"a@x", "", "", "", "", {}},
  };
  for (const Draft& d : drafts) {
    auto r = compose::fStore(account(), Box::Pending, d);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(compose::fReadOutgoing(r.file), d) << d.subject;
    // Storing again replaces the file under its own name and leaves nothing beside it.
    Draft changed = d;
    changed.subject += "(改)";
    changed.body = "書き直し";
    auto again = compose::fReplace(r.file, changed);
    ASSERT_TRUE(again.ok) << again.error;
    EXPECT_EQ(again.file, r.file);
    EXPECT_EQ(compose::fReadOutgoing(r.file), changed);
    EXPECT_EQ(namesIn(r.file.parent_path()), std::vector<std::string>{r.file.filename().string()});
    fs::remove(r.file);
  }
  EXPECT_FALSE(compose::fReadOutgoing(account() / "missing"));
  // Stored into the other box: a new file there, and the one it was opened from is gone.
  auto pending = compose::fStore(account(), Box::Pending, drafts[0]);
  auto moved = compose::fStoreAgain(account(), Box::Drafts, drafts[0], pending.file);
  ASSERT_TRUE(moved.ok) << moved.error;
  EXPECT_FALSE(fs::exists(pending.file));
  EXPECT_EQ(moved.file.parent_path(), account() / mailstore::fPath("送信箱/下書き"));
  EXPECT_EQ(compose::fReadOutgoing(moved.file), drafts[0]);
}

TEST_F(Store, ReplyThreadingTakesTheMessageIdAfterItsReferences) {
  struct Case {
    const char* messageId;
    const char* references;
    const char* inReplyTo;
    const char* expectRefs;
  } cases[] = {
      {"<a@x>", "", "<a@x>", "<a@x>"},
      {" <b@x> ", "<r1@x>\r\n <r2@x>", "<b@x>", "<r1@x>   <r2@x> <b@x>"},
      {"(comment) <c@x>", "<r1@x>", "<c@x>", "<r1@x> <c@x>"},
      {"", "<r1@x>", "", ""},       // no id: nothing to thread on
      {"no-brackets@x", "", "", ""},
      {"<>", "", "", ""},
  };
  for (const Case& c : cases) {
    const compose::Threading t = compose::fReplyThreading(c.messageId, c.references);
    EXPECT_EQ(t.inReplyTo, c.inReplyTo) << c.messageId;
    EXPECT_EQ(t.references, c.expectRefs) << c.messageId;
  }
  // From a stored mail: the header fields as the mail carries them.
  const fs::path mail = dir.path() / "m.eml";
  std::ofstream(mail, std::ios::binary) << "Message-ID: <id1@example.jp>\r\n"
                                          "References: <r0@example.jp>\r\n"
                                          "Subject: s\r\n\r\nbody\r\n";
  const compose::Threading t = compose::fReplyThreading(mail);
  EXPECT_EQ(t.inReplyTo, "<id1@example.jp>");
  EXPECT_EQ(t.references, "<r0@example.jp> <id1@example.jp>");
  EXPECT_EQ(compose::fReplyThreading(dir.path() / "none.eml").inReplyTo, "");
}

}  // namespace
