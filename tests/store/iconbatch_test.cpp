// Read states kept in memory over many moves and marks, written once per folder.
#include <gtest/gtest.h>

#include "store/iconbatch.h"
#include "store/mailstore.h"
#include "testutil.h"

namespace fs = std::filesystem;
using mailstore::IconBatch;

TEST(IconBatch, MovesAndMarksLandOnDiskOnlyWhenSaved) {
  TempDir t;
  fs::path inbox = t / "受信箱", sub = t / "受信箱/sub";
  fs::create_directories(sub);
  for (const char* n : {"a.eml", "b.eml", "c.eml"}) writeBytes(inbox / n, "x");
  writeBytes(sub / "c.eml", "taken");
  mailstore::sMarkRead(inbox, "a.eml");

  IconBatch batch;
  EXPECT_TRUE(batch.fMove(inbox / "a.eml", sub));   // read mail keeps its state
  EXPECT_TRUE(batch.fMove(inbox / "b.eml", sub));   // unread stays unread
  EXPECT_FALSE(batch.fMove(inbox / "c.eml", sub));  // never over another file
  EXPECT_FALSE(batch.fMove(sub / "a.eml", sub));    // same folder: nothing to do
  batch.sMarkRead(inbox, "c.eml");
  EXPECT_TRUE(fs::exists(sub / "a.eml"));
  EXPECT_EQ(fsutil::fReadFile(sub / "c.eml").value_or(""), "taken");
  // The files moved at once; the states wait for the save.
  EXPECT_FALSE(mailstore::fIsRead(sub, "a.eml"));
  EXPECT_TRUE(mailstore::fIsRead(inbox, "a.eml"));

  ASSERT_TRUE(batch.fSave());
  EXPECT_TRUE(mailstore::fIsRead(sub, "a.eml"));
  EXPECT_FALSE(mailstore::fIsRead(sub, "b.eml"));
  EXPECT_TRUE(mailstore::fIsRead(inbox, "c.eml"));
  EXPECT_FALSE(mailstore::fIsRead(inbox, "a.eml"));  // its entry left with the mail
  EXPECT_EQ(mailstore::fCountUnread(sub), 2);  // b and the c that was there before
}

TEST(IconBatch, UnsavedStatesAreWrittenWhenTheBatchEnds) {
  TempDir t;
  fs::path inbox = t / "受信箱";
  writeBytes(inbox / "m.eml", "x");
  {
    IconBatch batch;
    batch.sMarkRead(inbox, "m.eml");
  }
  EXPECT_TRUE(mailstore::fIsRead(inbox, "m.eml"));
}
