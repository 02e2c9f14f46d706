// Remembered folder counts: after any change from outside, and after the program is
// killed while it changes mail or writes its records, a count is the folder's true one.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "store/countcache.h"
#include "store/mailstore.h"
#include "testutil.h"

namespace fs = std::filesystem;

namespace {

// Long enough for a state to count as settled (no later change can share its stamps).
void settle() { std::this_thread::sleep_for(std::chrono::milliseconds(2200)); }

void fillFolder(const fs::path& folder, int mails, int read) {
  std::string icon = "[Icon]\r\n";
  for (int i = 0; i < mails; ++i) {
    const std::string name = "m" + std::to_string(i) + ".eml";
    writeBytes(folder / name, "Subject: " + std::to_string(i) + "\r\n\r\nbody\r\n");
    if (i < read) icon += name + "=6\r\n";
  }
  writeBytes(folder / "icon.ini", icon);
}

int truth(const fs::path& folder, bool allMails) { return mailstore::fCountFolder(folder, allMails).count; }

struct OutsideChange {
  const char* what;
  std::function<void(const fs::path& folder)> apply;
};

}  // namespace

TEST(CountCache, RecordsServeUnchangedFoldersAndNeverHideAChange) {
  TempDir dir("qbcounts");
  const fs::path account = dir.path() / "Account01";
  const std::vector<OutsideChange> changes = {
      {"unchanged", [](const fs::path&) {}},
      {"mail added", [](const fs::path& f) { writeBytes(f / "new.eml", "x"); }},
      {"mail removed", [](const fs::path& f) { fs::remove(f / "m7.eml"); }},
      {"read mail removed", [](const fs::path& f) { fs::remove(f / "m0.eml"); }},
      {"mail hidden", [](const fs::path& f) { fs::rename(f / "m7.eml", f / ".m7.eml"); }},
      {"mail renamed to .ini", [](const fs::path& f) { fs::rename(f / "m7.eml", f / "m7.INI"); }},
      {"marked read in place, same size",
       [](const fs::path& f) {
         std::string ini = readBytes(f / "icon.ini");
         ini.replace(ini.find("m1.eml=6"), 8, "m9.eml=6");  // m1 unread again, m9 read
         std::fstream(f / "icon.ini", std::ios::in | std::ios::out | std::ios::binary) << ini;
       }},
      {"icon.ini replaced",
       [](const fs::path& f) {
         writeBytes(f / "icon.tmp", "[Icon]\r\nm5.eml=6\r\n");
         fs::rename(f / "icon.tmp", f / "icon.ini");
       }},
      {"icon.ini removed", [](const fs::path& f) { fs::remove(f / "icon.ini"); }},
      {"folder replaced",
       [](const fs::path& f) {
         fs::rename(f, f.string() + ".old");
         fillFolder(f, 3, 0);
       }},
      {"mail added, folder time put back",
       [](const fs::path& f) {
         const auto before = fs::last_write_time(f);
         writeBytes(f / "late.eml", "x");
         fs::last_write_time(f, before);
       }},
      {"mail became a folder",
       [](const fs::path& f) {
         fs::remove(f / "m8.eml");
         fs::create_directory(f / "m8.eml");
       }},
  };
  std::vector<fs::path> folders;
  for (size_t i = 0; i < changes.size(); ++i) {
    folders.push_back(account / ("f" + std::to_string(i)));
    fillFolder(folders.back(), 10, 4);
  }
  // A mail that is a link: its count rests on a file elsewhere, so it is never kept.
  const fs::path linked = account / "linked";
  fillFolder(linked, 2, 0);
  writeBytes(dir.path() / "target.eml", "x");
  fs::create_symlink(dir.path() / "target.eml", linked / "link.eml");
  settle();

  for (bool allMails : {false, true}) {
    {
      countcache::AccountCounts first(account);
      for (const auto& f : folders) EXPECT_EQ(first.fCount(f, allMails), truth(f, allMails));
      EXPECT_EQ(first.fCount(linked, allMails), truth(linked, allMails));
      EXPECT_GT(first.fListed(), 0);
      ASSERT_TRUE(first.fSave());
    }
    countcache::AccountCounts second(account);  // as the next start reads them
    for (const auto& f : folders) EXPECT_EQ(second.fCount(f, allMails, false), truth(f, allMails));
    EXPECT_EQ(second.fListed(), 0) << "settled folders are not listed again";
    EXPECT_EQ(second.fCount(linked, allMails, false), std::nullopt);
  }

  for (size_t i = 0; i < changes.size(); ++i) changes[i].apply(folders[i]);
  fs::remove(dir.path() / "target.eml");
  for (bool allMails : {false, true}) {
    countcache::AccountCounts after(account);
    for (size_t i = 0; i < changes.size(); ++i) {
      EXPECT_EQ(after.fCount(folders[i], allMails), truth(folders[i], allMails))
          << changes[i].what << (allMails ? " (all mails)" : " (unread)");
    }
    EXPECT_EQ(after.fCount(linked, allMails), truth(linked, allMails));
    after.fSave();
  }
}

TEST(CountCache, DamagedOrForeignRecordsOnlyCostARecount) {
  TempDir dir("qbcounts");
  const fs::path account = dir.path() / "Account01";
  const fs::path inbox = account / mailstore::fPath("受信箱");
  fillFolder(inbox, 6, 2);
  settle();
  {
    countcache::AccountCounts counts(account);
    ASSERT_EQ(counts.fCount(inbox, false), 4);
    ASSERT_TRUE(counts.fSave());
  }
  const std::string good = readBytes(account / countcache::kFileName);
  const std::string cut = good.substr(0, good.size() - 1);  // the last line without its end
  std::string otherCount = good;
  otherCount.replace(otherCount.find("u 4 "), 4, "u 9 ");
  const std::string otherCountTorn = otherCount.substr(0, otherCount.size() / 2);
  for (const std::string& bytes : {std::string(), std::string("\0\0\0\0", 4), cut, otherCountTorn,
                                   std::string("QBCOUNTS 1\nu x 1 2\n"), good.substr(1)}) {
    writeBytes(account / countcache::kFileName, bytes);
    countcache::AccountCounts counts(account);
    EXPECT_EQ(counts.fCount(inbox, false), 4);
  }
  // Records copied from another store (another folder under the same name) are not its.
  const fs::path other = dir.path() / "other" / "Account01";
  fillFolder(other / mailstore::fPath("受信箱"), 6, 0);
  fs::copy_file(account / countcache::kFileName, other / countcache::kFileName);
  countcache::AccountCounts copied(other);
  EXPECT_EQ(copied.fCount(other / mailstore::fPath("受信箱"), false), 6);
}

// The program killed at random points while it moves mail, marks it read and writes its
// records: whatever it left, the counts read back are the folders' true ones.
TEST(CountCache, KilledWhileChangingAndWritingLeavesNoWrongCount) {
  TempDir dir("qbcounts");
  const fs::path account = dir.path() / "Account01";
  std::vector<fs::path> folders;
  for (int i = 0; i < 30; ++i) {
    folders.push_back(account / ("f" + std::to_string(i)));
    fillFolder(folders.back(), 40, 10);
  }
  settle();
  auto countAll = [&](bool mayList) {
    countcache::AccountCounts counts(account);
    std::vector<std::optional<int>> got;
    for (const auto& f : folders) got.push_back(counts.fCount(f, false, mayList));
    counts.fSave();
    return got;
  };
  countAll(true);  // settled records for every folder
  for (int round = 0; round < 6; ++round) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      for (int step = 0;; ++step) {
        const fs::path& from = folders[step % 3];
        const fs::path& to = folders[(step + 1) % 3];
        std::vector<fs::path> mails = mailstore::fListMailFiles(from);
        if (!mails.empty()) mailstore::fMoveMails({mails.front()}, to);
        if (!mails.empty()) mailstore::sMarkRead(to, mails.front().filename().string());
        countAll(true);
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(40 + 37 * round));
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    const std::vector<std::optional<int>> got = countAll(true);
    for (size_t i = 0; i < folders.size(); ++i) EXPECT_EQ(got[i], truth(folders[i], false)) << "round " << round;
  }
}
