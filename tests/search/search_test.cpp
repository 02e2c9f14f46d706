// Search: the normalised form, the index and the file scan against each other on a real
// store, the index kept current through moves, deletes and new mail, and a damaged index.
#include <gtest/gtest.h>

#include <set>

#include "../common/mailfiles.h"
#include "../common/tempdir.h"
#include "search/index.h"
#include "search/mailtext.h"
#include "search/normalize.h"
#include "store/fsutil.h"
#include "store/mailstore.h"
#include "transfer/transfer.h"

namespace fs = std::filesystem;

namespace {

TEST(Normalize, WhatAJapaneseReaderTakesForTheSame) {
  struct Case {
    const char* text;
    const char* query;
    bool found;
  } cases[] = {
      {"ＡＢＣ－１２３", "abc-123", true},       {"abc-123", "ＡＢＣ－１２３", true},
      {"ｶﾞｲﾄﾞﾌﾞｯｸ", "ガイドブック", true},       {"ﾊﾟﾝﾌﾚｯﾄ", "パンフレット", true},
      {"ヴァイオリン", "ｳﾞｧｲｵﾘﾝ", true},         {"Hello World", "hello world", true},
      {"ÉCOLE", "école", true},                  {"定例会\r\n議のお知らせ", "定例会議", true},
      {"hello\r\nworld", "hello world", true},   {"かたかな", "カタカナ", false},
      {"会議室", "会議　室", true},              {"ﾃﾞｨｽｶｳﾝﾄ", "ディスカウント", true},
      {"second meeting", "meeting second", true}, {"会議", "会議室", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(search::fContainsTerms(search::fNormalize(c.text), search::fNormalize(c.query)), c.found)
        << c.text << " / " << c.query;
  }
}

TEST(MailText, HtmlAsItsText) {
  EXPECT_EQ(search::fNormalize(search::fHtmlText(
                "<html><head><style>p{color:red}</style></head><body><p>A&amp;B&nbsp;&#x53D7;&#27880;</p>"
                "<!-- hidden --><script>var x;</script><b>end</b></body></html>")),
            "a&b 受注 end");
}

class Search : public ::testing::Test {
 protected:
  qbtest::TempDir program{"qbsearch"};
  fs::path inbox = program / "MailBox/Account01/受信箱";
  fs::path trash = program / "MailBox/Account01/ごみ箱";
  fs::path other = program / "MailBox/Account02/受信箱/仕事";
  std::map<std::string, fs::path> byName;  // mails by their subject word

  void SetUp() override {
    for (const fs::path& f : {inbox, trash, other}) fs::create_directories(f);
    auto imported = transfer::fImport(fs::path(QB_TEST_DIR) / "transfer/data/other-client.mbox", inbox);
    ASSERT_EQ(imported.stored, 3u);
    byName["meeting"] = imported.paths[0];
    byName["invoice"] = imported.paths[1];
    byName["prices"] = imported.paths[2];
    qbtest::writeBytes(other / "multi.eml",
                       "Subject: =?UTF-8?B?5rW35aSW5Ye65by1?=\r\nFrom: boss@example.jp\r\nMIME-Version: 1.0\r\n"
                       "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n"
                       "Content-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n"
                       "=E5=87=BA=E5=BC=B5=E7=B2=BE=E7=AE=97=E3=81=AE=E4=BB=B6\r\n--b\r\n"
                       "Content-Type: application/octet-stream; name=a.bin\r\n\r\nsecretword\r\n--b--\r\n");
    byName["trip"] = other / "multi.eml";
  }
  std::set<fs::path> names(const std::vector<const char*>& words) {
    std::set<fs::path> out;
    for (const char* w : words) out.insert(byName.at(w));
    return out;
  }
  static std::set<fs::path> asSet(const std::vector<fs::path>& v) { return {v.begin(), v.end()}; }
};

// Queries and the mails they find; the index and the file scan must agree with the table.
const std::pair<const char*, std::vector<const char*>> kQueries[] = {
    {"定例会議", {"meeting"}},       {"会議", {"meeting"}},        {"会", {"meeting"}},
    {"ＡＢＣ－１２３", {"invoice"}}, {"受注", {"invoice"}},        {"納品書", {"invoice"}},
    {"ｶﾀｶﾅ商事", {"prices"}},        {"ﾃﾞｨｽｶｳﾝﾄ", {"prices"}},     {"①", {"prices"}},
    {"出張精算", {"trip"}},          {"海外出張", {"trip"}},       {"BOSS@EXAMPLE", {"trip"}},
    {"suzuki 来週", {"meeting"}},    {"secretword", {}},           {"議第", {}},
    {"agenda", {"meeting"}},         {"html", {}},                 {"件", {"trip"}},
};

TEST_F(Search, IndexAndFilesFindTheSameMails) {
  const auto folders = search::fStoreFolders(program.path());
  EXPECT_EQ(folders.size(), 4u);  // the account-2 inbox and its user folder too
  search::MailIndex index(search::fIndexFile(program.path()));
  ASSERT_TRUE(index.fSync(folders));
  for (const auto& [query, words] : kQueries) {
    SCOPED_TRACE(query);
    std::vector<fs::path> stale;
    auto indexed = index.fQuery(query, folders, stale);
    ASSERT_TRUE(indexed);
    EXPECT_TRUE(stale.empty());
    EXPECT_EQ(asSet(*indexed), names(words));
    EXPECT_EQ(asSet(search::fSearchFiles(folders, query)), names(words));
  }
}

TEST_F(Search, IndexFollowsMovesDeletesAndNewMail) {
  search::MailIndex index(search::fIndexFile(program.path()));
  ASSERT_TRUE(index.fSync(search::fStoreFolders(program.path())));
  ASSERT_TRUE(mailstore::fMoveMails({byName["meeting"]}, trash).empty());
  ASSERT_TRUE(mailstore::fDeleteMails({byName["invoice"]}).empty());
  qbtest::writeBytes(inbox / "new.eml", "Subject: 新しい会議\r\n\r\nbody\r\n");
  // Replaced as the program replaces a file: a new file renamed over the old one.
  ASSERT_TRUE(fsutil::fWriteFileAtomic(byName["trip"], "Subject: rewritten\r\n\r\n別の本文\r\n"));
  const std::pair<const char*, std::set<fs::path>> expected[] = {
      {"定例会議", {trash / byName["meeting"].filename()}},
      {"会議", {trash / byName["meeting"].filename(), inbox / "new.eml"}},
      {"受注", {}},
      {"出張", {}},
      {"別の本文", {byName["trip"]}},
  };
  // Right away the changed folders are read from their files; after a sync, from the index.
  for (bool synced : {false, true}) {
    if (synced) {
      ASSERT_TRUE(index.fSync(search::fStoreFolders(program.path())));
    }
    for (const auto& [query, want] : expected) {
      SCOPED_TRACE(std::string(query) + (synced ? " after sync" : " before sync"));
      auto hits = search::fSearchStore(program.path(), &index, query);
      EXPECT_TRUE(hits.usedIndex);
      EXPECT_EQ(hits.staleFolders, synced ? 0u : 3u);
      EXPECT_EQ(asSet(hits.paths), want);
    }
  }
}

TEST_F(Search, DamagedOrMissingIndexIsRebuiltAndSearchGoesOn) {
  const fs::path file = search::fIndexFile(program.path());
  qbtest::writeBytes(file, std::string(8192, 'x'));  // not a database at all
  search::MailIndex index(file);
  ASSERT_TRUE(index.fOpen());
  EXPECT_FALSE(index.fBuilt());
  auto fromFiles = search::fSearchStore(program.path(), &index, "定例会議");
  EXPECT_FALSE(fromFiles.usedIndex);
  EXPECT_EQ(asSet(fromFiles.paths), names({"meeting"}));
  ASSERT_TRUE(index.fSync(search::fStoreFolders(program.path())));
  auto fromIndex = search::fSearchStore(program.path(), &index, "定例会議");
  EXPECT_TRUE(fromIndex.usedIndex);
  EXPECT_EQ(asSet(fromIndex.paths), names({"meeting"}));
}

}  // namespace

TEST_F(Search, StoppedBuildKeepsWhatItWrote) {
  // More mails than one read-ahead batch, so the stop comes inside an open transaction.
  const fs::path big = program / "MailBox/Account01/big";
  fs::create_directories(big);
  for (int i = 0; i < 1500; ++i)
    qbtest::writeBytes(big / (std::to_string(i) + ".eml"), "Subject: 議事録 " + std::to_string(i) + "\r\n\r\nbody\r\n");
  const auto folders = search::fStoreFolders(program.path());
  std::size_t firstTotal = 0, secondTotal = 0;
  {
    search::MailIndex index(search::fIndexFile(program.path()));
    EXPECT_FALSE(index.fSync(folders, [&](std::size_t, std::size_t total) {
      firstTotal = total;
      return false;
    }));
  }
  search::MailIndex index(search::fIndexFile(program.path()));
  EXPECT_FALSE(index.fBuilt());
  ASSERT_TRUE(index.fSync(folders, [&](std::size_t, std::size_t total) {
    secondTotal = total;
    return true;
  }));
  // The first batch was kept: the second sync read only the rest.
  EXPECT_EQ(firstTotal, 1500u + 4u);
  EXPECT_EQ(secondTotal, firstTotal - 1024u);
  EXPECT_EQ(search::fSearchStore(program.path(), &index, "議事録").paths.size(), 1500u);
}
