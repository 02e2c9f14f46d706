#include "store/folderTree.h"

#include <gtest/gtest.h>

#include <fstream>

#include "../common/tempdir.h"
#include "store/mailstore.h"
#include "store/modCommon.h"

namespace fs = std::filesystem;
using folderTree::Node;

namespace {

class FolderTreeTest : public ::testing::Test {
 protected:
  fs::path account(int n) {
    fs::path prefix = mailstore::fAccountPrefix(program);
    fs::path a = mailstore::fAccountFolder(prefix, n);
    for (const char* sub : {"受信箱", "送信箱/下書き", "送信箱/送信待ち", "ごみ箱"}) fs::create_directories(a / mailstore::fPath(sub));
    return a;
  }
  static const Node* find(const std::vector<Node>& nodes, const std::string& key) {
    for (const Node& n : nodes) if (n.key == key) return &n;
    return nullptr;
  }
  qbtest::TempDir tmp{"qb-tree"};
  const fs::path program = tmp.path();
};

}  // namespace

TEST_F(FolderTreeTest, MissingMailBoxIsCreatedAndEmpty) {
  EXPECT_TRUE(folderTree::fBuildNodes(program).empty());
  EXPECT_TRUE(fs::is_directory(program / "MailBox"));
}

TEST_F(FolderTreeTest, StandardNodesInOrderWithParentsAndCounts) {
  fs::path a = account(1);
  account(2);
  account(4);
  modCommon::sSetAccountValue(a, "Account", "私用");
  std::ofstream(a / mailstore::fPath("ごみ箱/x.eml")) << "x";
  mailstore::sMarkRead(a / mailstore::fPath("ごみ箱"), "x.eml");
  std::ofstream(a / mailstore::fPath("受信箱/y.eml")) << "y";
  std::ofstream(a / mailstore::fPath("受信箱/z.eml")) << "z";
  mailstore::sMarkRead(a / mailstore::fPath("受信箱"), "z.eml");

  auto nodes = folderTree::fBuildNodes(program);
  ASSERT_EQ(nodes.size(), 12u);  // accounts 01 and 02 only: 04 lies past the gap
  std::vector<std::string> keys;
  for (size_t i = 0; i < 6; ++i) keys.push_back(nodes[i].key);
  EXPECT_EQ(keys, (std::vector<std::string>{"root01", "受信箱01", "送信箱01", "ごみ箱01", "下書き01", "送信待ち01"}));
  EXPECT_EQ(nodes[0].text, "私用");
  EXPECT_EQ(nodes[6].text, "Account02");
  EXPECT_EQ(find(nodes, "下書き01")->parentKey, "送信箱01");
  EXPECT_EQ(find(nodes, "受信箱01")->parentKey, "root01");
  EXPECT_EQ(find(nodes, "受信箱01")->count, 1);
  EXPECT_EQ(find(nodes, "ごみ箱01")->count, 1);  // read mail counts in the trash
  EXPECT_EQ(find(nodes, "ごみ箱01")->image, folderTree::kImageTrash);
  EXPECT_EQ(find(nodes, "ごみ箱01")->selectedImage, 0);
  EXPECT_EQ(find(nodes, "送信待ち01")->selectedImage, folderTree::kImageFolderOpen);
}

TEST_F(FolderTreeTest, UserFoldersNestAndDuplicatesEndTheirLevel) {
  fs::path a = account(1);
  fs::create_directories(a / "P" / "Q" / "R");
  fs::create_directories(a / mailstore::fPath("受信箱/inner"));
  fs::create_directories(a / mailstore::fPath("送信箱/下書き/drafty"));
  fs::create_directories(a / mailstore::fPath("P/送信箱/hidden"));  // a standard name out of place
  fs::create_directories(a / mailstore::fPath("ごみ箱/A"));
  fs::create_directories(a / mailstore::fPath("ごみ箱/Q"));
  fs::create_directories(a / mailstore::fPath("ごみ箱/Z"));
  fs::create_directories(a / ".hidden");
  auto nodes = folderTree::fBuildNodes(program);
  EXPECT_EQ(find(nodes, "CP01")->parentKey, "root01");
  EXPECT_EQ(find(nodes, "CQ01")->parentKey, "CP01");
  EXPECT_EQ(find(nodes, "CR01")->parentKey, "CQ01");
  EXPECT_EQ(find(nodes, "Cinner01")->parentKey, "受信箱01");
  EXPECT_EQ(find(nodes, "Cdrafty01")->parentKey, "下書き01");
  EXPECT_EQ(find(nodes, "Chidden01"), nullptr);
  EXPECT_EQ(find(nodes, "C送信箱01"), nullptr);
  EXPECT_EQ(find(nodes, "C.hidden01"), nullptr);
  // In the trash: A, then Q (taken by P\Q) ends the level, so Z is never shown.
  EXPECT_EQ(find(nodes, "CA01")->parentKey, "ごみ箱01");
  EXPECT_EQ(find(nodes, "CZ01"), nullptr);
  int qs = 0;
  for (const Node& n : nodes) qs += n.key == "CQ01";
  EXPECT_EQ(qs, 1);
}

TEST(FolderTreeRules, KeysNamesAndNumbers) {
  EXPECT_EQ(folderTree::fNodeKind("送信待ち12"), "送信待ち");
  EXPECT_EQ(folderTree::fNodeAccount("CFolder07"), 7);
  EXPECT_EQ(folderTree::fNodeAccount("x"), 0);
  EXPECT_TRUE(folderTree::fIsTrashKey("ごみ箱03"));
  EXPECT_FALSE(folderTree::fIsTrashKey("Cごみ箱03"));
  EXPECT_TRUE(folderTree::fIsSentTypeKey("下書き01"));
  EXPECT_FALSE(folderTree::fIsSentTypeKey("C送信箱x01"));
  EXPECT_FALSE(folderTree::fIsSentTypeKey("受信箱01"));
  EXPECT_TRUE(folderTree::fIsStandardKey("受信箱99"));
  EXPECT_FALSE(folderTree::fIsStandardKey("root01"));
  for (const char* bad : {"", ".", "..", "a/b", "a\\b", ".x", "受信箱", "a:b"}) {
    EXPECT_FALSE(folderTree::fIsValidFolderName(bad)) << bad;
  }
  EXPECT_TRUE(folderTree::fIsValidFolderName("仕事 2024"));
}

TEST(FolderTreeRules, TimerPeriodAndSplitBounds) {
  EXPECT_EQ(folderTree::fAutoTimerPeriod(0, 1), 0);
  EXPECT_EQ(folderTree::fAutoTimerPeriod(-2, 0), 0);
  EXPECT_EQ(folderTree::fAutoTimerPeriod(5, 1), 5000);
  EXPECT_EQ(folderTree::fAutoTimerPeriod(5, 0), 300000);
  EXPECT_EQ(folderTree::fAutoTimerPeriod(5, 2), 300000);
  EXPECT_EQ(folderTree::fClampSplit(10, 75, 500), 75);
  EXPECT_EQ(folderTree::fClampSplit(900, 75, 500), 500);
  EXPECT_EQ(folderTree::fClampSplit(100, 75, 50), 50);  // the upper bound wins
}
