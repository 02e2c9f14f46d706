#include "store/mailstore.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "store/mod_ini.h"
#include "testutil.h"

using namespace mailstore;
namespace fs = std::filesystem;

namespace {
void mail(const fs::path& p, std::string_view body = "Subject: x\r\n\r\nbody\r\n") { writeBytes(p, body); }
std::string state(const fs::path& folder, std::string_view name) {
  return mod_ini::fGetIniString("Icon", name, folder / "icon.ini", "<none>");
}
}  // namespace

TEST(Store, LayoutNames) {
  fs::path prefix = fAccountPrefix("/prog");
  EXPECT_EQ(prefix, fs::path("/prog/MailBox/Account"));
  EXPECT_EQ(fAccountFolder(prefix, 7), fs::path("/prog/MailBox/Account07"));
  EXPECT_EQ(fNodeFolder(prefix, 12, "送信箱\\下書き"), fPath("/prog/MailBox/Account12/送信箱/下書き"));
  EXPECT_EQ(fNodeFolder(prefix, 1, ""), fs::path("/prog/MailBox/Account01"));
  for (auto n : {"受信箱", "送信箱", "ごみ箱", "下書き", "送信待ち"}) EXPECT_TRUE(fIsStandardFolderName(n));
  EXPECT_FALSE(fIsStandardFolderName("仕事"));
}

TEST(Store, MailFileRule) {
  TempDir t;
  fs::path f = t / "受信箱";
  mail(f / "a.eml");
  mail(f / "noext");
  mail(f / "icon.ini", "[Icon]\r\n");
  mail(f / "X.INI");
  mail(f / ".hidden");
  mail(f / ".a.eml.tmp");
  fs::create_directories(f / "sub.eml");
  auto files = fListMailFiles(f);
  std::vector<std::string> names;
  for (auto& p : files) names.push_back(fUtf8(p.filename()));
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"a.eml", "noext"}));
}

TEST(Store, AccountsScanStopsAtGapAndNewTakesLowestFree) {
  TempDir t;
  fs::path prefix = fAccountPrefix(t.path());
  EXPECT_TRUE(fScanAccounts(prefix).empty());
  EXPECT_EQ(fCreateAccount(prefix), 1);
  EXPECT_TRUE(fs::is_directory(fAccountFolder(prefix, 1) / fPath("送信箱/送信待ち")));
  EXPECT_TRUE(fs::is_directory(fAccountFolder(prefix, 1) / fPath("送信箱/下書き")));
  EXPECT_TRUE(fs::is_directory(fAccountFolder(prefix, 1) / fPath("ごみ箱")));
  EXPECT_EQ(fCreateAccount(prefix), 2);
  fs::create_directories(fAccountFolder(prefix, 4));
  EXPECT_EQ(fScanAccounts(prefix), (std::vector<int>{1, 2}));
  EXPECT_EQ(fCreateAccount(prefix), 3);
  EXPECT_EQ(fScanAccounts(prefix), (std::vector<int>{1, 2, 3, 4}));
  for (int n = 5; n <= 99; ++n) fs::create_directories(fAccountFolder(prefix, n));
  EXPECT_EQ(fFreeAccountNumber(prefix), 0);
  EXPECT_EQ(fCreateAccount(prefix), 0);
  EXPECT_FALSE(fs::exists(fAccountFolder(prefix, 100)));
}

TEST(Store, DeleteAccountRenumbersWithoutGap) {
  TempDir t;
  fs::path prefix = fAccountPrefix(t.path());
  for (int i = 0; i < 4; ++i) ASSERT_EQ(fCreateAccount(prefix), i + 1);
  for (int n = 1; n <= 4; ++n) mail(fAccountFolder(prefix, n) / "marker" / std::to_string(n));
  ASSERT_TRUE(fDeleteAccount(prefix, 2));
  EXPECT_EQ(fScanAccounts(prefix), (std::vector<int>{1, 2, 3}));
  EXPECT_TRUE(fs::exists(fAccountFolder(prefix, 2) / "marker" / "3"));
  EXPECT_TRUE(fs::exists(fAccountFolder(prefix, 3) / "marker" / "4"));
  EXPECT_FALSE(fs::exists(fAccountFolder(prefix, 4)));
}

TEST(Store, CountsReadIconIniStates) {
  TempDir t;
  fs::path inbox = t / "受信箱";
  EXPECT_EQ(fCountUnread(t / "missing"), 0);
  mail(inbox / "icon.ini", "[Icon]\r\n");
  EXPECT_EQ(fCountUnread(inbox), 0);
  mail(inbox / "a.eml");
  mail(inbox / "B.eml");
  mail(inbox / "c.eml");
  mail(inbox / "d.eml");
  writeBytes(inbox / "icon.ini", "[icon]\r\na.eml=6\r\nb.EML=6\r\nc.eml=5\r\nd.eml=6.0\r\ngone.eml=6\r\n");
  EXPECT_EQ(fCountUnread(inbox), 1);  // c only: names match without case, "6.0" reads 6
  EXPECT_EQ(fCountFiles(inbox), 4);
  EXPECT_FALSE(fIsRead(inbox, "c.eml"));
  ASSERT_TRUE(sMarkRead(inbox, "c.eml"));
  EXPECT_TRUE(fIsRead(inbox, "c.eml"));
  EXPECT_EQ(fCountUnread(inbox), 0);
  // A name in Japanese is stored in CP932: such a file is read with its decoding.
  mail(inbox / "日本.eml");
  EXPECT_EQ(fCountUnread(inbox), 1);
  ASSERT_TRUE(sMarkRead(inbox, "日本.eml"));
  EXPECT_EQ(fCountUnread(inbox), 0);
}

TEST(Store, MoveCarriesStateAndNeverOverwrites) {
  TempDir t;
  fs::path inbox = t / "受信箱", work = t / "仕事";
  mail(inbox / "read.eml", "R");
  mail(inbox / "unread.eml", "U");
  mail(inbox / "clash.eml", "mine");
  mail(inbox / "keep.eml", "K");
  fs::create_directories(work);
  mail(work / "clash.eml", "theirs");
  writeBytes(inbox / "icon.ini", "[Icon]\r\nread.eml=6\r\nclash.eml=6\r\nkeep.eml=6\r\n");
  auto failed = fMoveMails({inbox / "read.eml", inbox / "unread.eml", inbox / "clash.eml",
                            inbox / "vanished.eml"},
                           work);
  std::sort(failed.begin(), failed.end());
  EXPECT_EQ(failed, (std::vector<fs::path>{inbox / "clash.eml", inbox / "vanished.eml"}));
  EXPECT_EQ(readBytes(work / "read.eml"), "R");
  EXPECT_EQ(readBytes(work / "unread.eml"), "U");
  EXPECT_EQ(state(work, "read.eml"), "6");
  EXPECT_EQ(state(work, "unread.eml"), "5");
  EXPECT_EQ(fCountUnread(work), 2);  // unread.eml and their own clash.eml
  // The mail that could not move keeps its file, its bytes and its state; the target's
  // own file is untouched and gets no stray entry.
  EXPECT_EQ(readBytes(inbox / "clash.eml"), "mine");
  EXPECT_EQ(readBytes(work / "clash.eml"), "theirs");
  EXPECT_EQ(state(inbox, "clash.eml"), "6");
  EXPECT_EQ(state(work, "clash.eml"), "<none>");
  EXPECT_EQ(state(inbox, "read.eml"), "<none>");
  EXPECT_EQ(state(inbox, "keep.eml"), "6");
  EXPECT_FALSE(fs::exists(inbox / "read.eml"));
}

TEST(Store, DeleteAndEmptyTrash) {
  TempDir t;
  fs::path account = t / "Account01";
  fs::path trash = account / fPath("ごみ箱");
  mail(trash / "a.eml");
  mail(trash / "b.eml");
  fs::create_directories(trash / "stray-folder");
  writeBytes(trash / "icon.ini", "[Icon]\r\na.eml=6\r\nb.eml=5\r\n");
  EXPECT_EQ(fCountFiles(trash), 2);
  EXPECT_TRUE(fDeleteMails({trash / "a.eml", trash / "nope.eml"}) ==
              std::vector<fs::path>{trash / "nope.eml"});
  EXPECT_FALSE(fs::exists(trash / "a.eml"));
  EXPECT_EQ(state(trash, "a.eml"), "<none>");
  EXPECT_EQ(state(trash, "b.eml"), "5");
  ASSERT_TRUE(fEmptyTrash(account));
  EXPECT_EQ(fCountFiles(trash), 0);
  EXPECT_FALSE(fs::exists(trash / "stray-folder"));
  EXPECT_TRUE(mod_ini::fGetIniKeys("Icon", trash / "icon.ini").empty());
}

TEST(Store, FolderNamesThatCouldEscapeTheAccountAreRefused) {
  TempDir t;
  fs::path inbox = t / "Account01/受信箱";
  fs::create_directories(inbox);
  for (const std::string& bad : std::vector<std::string>{"", ".", "..", "../x", "a/b", "a\\b", "a:b", "a*", "a?", "a|b", "a\"b", "<a>",
                          std::string("a\tb"), std::string("a\0b", 3), "trail.", "trail ", "CON", "nul.txt", "com1"}) {
    EXPECT_FALSE(fIsValidFolderName(bad)) << bad;
    EXPECT_FALSE(fCreateFolder(inbox, bad)) << bad;
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(inbox), fs::directory_iterator()), 0);
  EXPECT_FALSE(fs::exists(t / "Account01/x"));
  for (std::string good : {"仕事", "a.b", "..a", "console", "com10"}) EXPECT_TRUE(fIsValidFolderName(good)) << good;
  ASSERT_TRUE(fCreateFolder(inbox, "仕事"));
  EXPECT_TRUE(fs::is_directory(inbox / fPath("仕事")));
  EXPECT_FALSE(fCreateFolder(inbox, "仕事"));  // exists already
  mail(inbox / fPath("仕事") / "a.eml");
  ASSERT_TRUE(fDeleteFolder(inbox / fPath("仕事")));
  EXPECT_FALSE(fs::exists(inbox / fPath("仕事")));
}

// Splitting a mail's path as written must name the same folder and file that taking the
// path apart does, or a filed mail's state would be kept for another folder.
TEST(Store, FolderAndNameOfAPathAsWritten) {
  struct Case {
    const char* path;
    const char* folder;
    const char* name;
  };
  for (const Case& c : {Case{"/a/受信箱/20240501_1.eml", "/a/受信箱", "20240501_1.eml"},
                        Case{"/a/b//c.eml", "/a/b", "c.eml"}, Case{"/c.eml", "/", "c.eml"},
                        Case{"//c.eml", "/", "c.eml"}, Case{"c.eml", "", "c.eml"},
                        Case{"rel/c.eml", "rel", "c.eml"}, Case{"/a/b/", "/a/b", ""}}) {
    const fs::path p(c.path);
    EXPECT_EQ(fs::path(fFolderView(p)), fs::path(c.folder)) << c.path;
    EXPECT_EQ(fUtf8(fNameView(p)), c.name) << c.path;
    // The same folder, however the path was spelled.
    EXPECT_EQ(fNormalFolder(fs::path(fFolderView(p))), fNormalFolder(p.parent_path())) << c.path;
  }
}
