#include "store/accountsettings.h"

#include <gtest/gtest.h>

#include "store/mailstore.h"
#include "store/mod_ini.h"
#include "store/modCommon.h"
#include "testutil.h"

using namespace accountsettings;

TEST(AccountSettings, ServersJoinAndSplit) {
  EXPECT_EQ(fJoinServer("smtp.example.jp", "587", ':'), "smtp.example.jp:587");
  EXPECT_EQ(fJoinServer("smtp.example.jp", "", ':'), "smtp.example.jp");
  EXPECT_EQ(fJoinServer("pop.example.jp", "995", '\t'), "pop.example.jp\t995");
  EXPECT_EQ(fSplitServer("pop.example.jp", '\t'), std::make_pair(std::string("pop.example.jp"), std::string()));
  EXPECT_EQ(fSplitServer("h:1:2", ':'), std::make_pair(std::string("h"), std::string("1:2")));
}

TEST(AccountSettings, SaveWritesScrambledValuesAndPlainRules) {
  TempDir t;
  AccountSettings s;
  s.account = "仕事";
  s.smtpHost = "smtp.example.jp";
  s.smtpPort = "587";
  s.pop3Host = "pop.example.jp";
  s.user = "taro";
  s.pass = "pw";
  s.keepOnServer = true;
  ASSERT_TRUE(fSave(t.path(), s));
  auto ini = t.path() / "set.ini";
  EXPECT_EQ(mod_ini::fGetIniString("Mail", "SMTP", ini, ""),
            modCommon::fEncodeSetting("smtp.example.jp:587", modCommon::kSettingKey));
  EXPECT_EQ(modCommon::fGetAccountValue(t.path(), "POP3"), "pop.example.jp");
  EXPECT_EQ(mod_ini::fGetIniString("Mail", "SvrDel", ini, ""), "1");
  // "Distribute" is written even when there are no rules.
  auto keys = mod_ini::fGetIniKeys("Mail", ini);
  EXPECT_NE(std::find(keys.begin(), keys.end(), "Distribute"), keys.end());
  auto back = fLoad(t.path());
  EXPECT_EQ(back.account, "仕事");
  EXPECT_EQ(back.smtpPort, "587");
  EXPECT_EQ(back.pop3Port, "");
  EXPECT_TRUE(back.keepOnServer);
}

TEST(AccountSettings, DestinationFoldersListChildrenBeforeDescending) {
  TempDir t;
  for (const char* d : {"受信箱/a/deep", "受信箱/b", "送信箱/下書き", "ごみ箱"}) {
    std::filesystem::create_directories(t.path() / mailstore::fPath(d));
  }
  writeBytes(t / "set.ini", "[Mail]\r\n");
  auto folders = fListDestinationFolders(t.path());
  // Order: the account's own folders, then each searched in turn (depth first).
  std::vector<std::string> expected{"ごみ箱", "受信箱", "送信箱", "受信箱\\a", "受信箱\\b",
                                    "受信箱\\a\\deep", "送信箱\\下書き"};
  EXPECT_EQ(folders, expected);
}
