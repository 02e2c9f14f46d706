// Read states kept in memory over many moves and marks, written once per folder.
#include <gtest/gtest.h>

#include "store/iconbatch.h"
#include "store/mailstore.h"
#include "store/mod_ini.h"
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

namespace {

std::string iconIni(const fs::path& folder) { return fsutil::fReadFile(folder / "icon.ini").value_or("<none>"); }

}  // namespace

TEST(IconBatch, StatesOthersWroteMeanwhileAreKept) {
  TempDir t;
  fs::path inbox = t / "受信箱", sub = t / "受信箱/sub";
  fs::create_directories(sub);
  for (const char* n : {"a.eml", "b.eml", "c.eml"}) writeBytes(inbox / n, "x");
  writeBytes(sub / "z.eml", "x");
  mailstore::sMarkRead(inbox, "a.eml");

  IconBatch batch;
  ASSERT_TRUE(batch.fMove(inbox / "a.eml", sub));  // both folders now in the batch
  batch.sMarkRead(inbox, "c.eml");
  // The user marks mails while the batch holds its states.
  mailstore::sMarkRead(inbox, "b.eml");
  mailstore::sMarkRead(sub, "z.eml");
  ASSERT_TRUE(batch.fSave());

  EXPECT_TRUE(mailstore::fIsRead(inbox, "b.eml"));
  EXPECT_TRUE(mailstore::fIsRead(sub, "z.eml"));
  EXPECT_TRUE(mailstore::fIsRead(inbox, "c.eml"));
  EXPECT_TRUE(mailstore::fIsRead(sub, "a.eml"));
  EXPECT_FALSE(mailstore::fIsRead(inbox, "a.eml"));
  EXPECT_EQ(mailstore::fCountUnread(sub), 0);
  EXPECT_EQ(mailstore::fCountUnread(inbox), 0);

  // A second save writes nothing again: a state set after the first save stays.
  mailstore::sMarkRead(inbox, "a.eml");
  ASSERT_TRUE(batch.fSave());
  EXPECT_TRUE(mailstore::fIsRead(inbox, "a.eml"));
}

TEST(IconBatch, MoveCarriesTheStateWhateverTheKeysCase) {
  TempDir t;
  fs::path inbox = t / "in", sub = t / "in/sub";
  fs::create_directories(sub);
  writeBytes(inbox / "Mixed.eml", "x");
  writeBytes(inbox / "plain.eml", "x");
  // Entries written by hand in another case: names match without regard to case.
  writeBytes(inbox / "icon.ini", "[Icon]\r\nMIXED.EML=6\r\nplain.eml=0\r\n");
  {
    IconBatch batch;
    EXPECT_TRUE(batch.fMove(inbox / "Mixed.eml", sub));
    EXPECT_TRUE(batch.fMove(inbox / "plain.eml", sub));
  }
  EXPECT_TRUE(mailstore::fIsRead(sub, "Mixed.eml"));
  EXPECT_FALSE(mailstore::fIsRead(sub, "plain.eml"));
  EXPECT_EQ(mod_ini::fGetIniKeys("Icon", inbox / "icon.ini"), std::vector<std::string>{});
}

TEST(IconBatch, IntoItsOwnFolderHoweverSpelledIsRefused) {
  TempDir t;
  fs::path inbox = t / "受信箱";
  writeBytes(inbox / "a.eml", "mail");
  mailstore::sMarkRead(inbox, "a.eml");
  const std::string before = iconIni(inbox);
  IconBatch batch;
  for (const fs::path& same : {inbox, inbox / "", inbox / ".", inbox / "./", inbox / ".." / "受信箱",
                               fs::path(inbox.string() + "//")}) {
    EXPECT_FALSE(batch.fMove(inbox / "a.eml", same)) << same;
    EXPECT_FALSE(batch.fMove(inbox / "." / "a.eml", same)) << same;
  }
  ASSERT_TRUE(batch.fSave());
  EXPECT_EQ(fsutil::fReadFile(inbox / "a.eml").value_or(""), "mail");
  EXPECT_EQ(iconIni(inbox), before);
  EXPECT_EQ(mailstore::fListMailFiles(inbox).size(), 1u);
}

TEST(IconBatch, MissingTargetOrMailChangesNothing) {
  TempDir t;
  fs::path inbox = t / "受信箱";
  writeBytes(inbox / "a.eml", "mail");
  mailstore::sMarkRead(inbox, "a.eml");
  const std::string before = iconIni(inbox);
  {
    IconBatch batch;
    EXPECT_FALSE(batch.fMove(inbox / "a.eml", inbox / "nowhere"));
    EXPECT_FALSE(batch.fMove(inbox / "gone.eml", t.path()));
    ASSERT_TRUE(batch.fSave());
  }
  EXPECT_TRUE(fs::exists(inbox / "a.eml"));
  EXPECT_FALSE(fs::exists(inbox / "nowhere"));
  EXPECT_FALSE(fs::exists(t.path() / "icon.ini"));
  EXPECT_FALSE(fs::exists(t.path() / "gone.eml"));
  EXPECT_EQ(iconIni(inbox), before);
}

// One folder named two ways (as a destination with a trailing separator is): the moved
// mail's state and a read mark set on it under the other spelling must both hold.
TEST(IconBatch, MarkAfterMoveHoldsUnderEitherSpelling) {
  TempDir t;
  fs::path inbox = t / "受信箱", sub = t / "受信箱/sub";
  fs::create_directories(sub);
  for (const char* n : {"a.eml", "b.eml"}) writeBytes(inbox / n, "x");
  {
    IconBatch batch;
    ASSERT_TRUE(batch.fMove(inbox / "a.eml", sub / ""));
    batch.sMarkRead(sub, "a.eml");
    ASSERT_TRUE(batch.fMove(inbox / "b.eml", sub));
    batch.sMarkRead(sub / "", "b.eml");
  }
  EXPECT_TRUE(mailstore::fIsRead(sub, "a.eml"));
  EXPECT_TRUE(mailstore::fIsRead(sub, "b.eml"));
}

// Batches filled on two threads are written once: the adopted changes land with the
// adopter's, in one write per folder, and the adopted batch has nothing left to write.
TEST(IconBatch, AdoptedChangesAreSavedOnceWithTheAdoptersOwn) {
  TempDir t;
  fs::path inbox = t / "受信箱", sub = t / "受信箱/sub", other = t / "受信箱/other";
  fs::create_directories(sub);
  fs::create_directories(other);
  for (const char* n : {"a.eml", "b.eml", "c.eml"}) writeBytes(inbox / n, "x");
  IconBatch mine;
  {
    IconBatch theirs;
    ASSERT_TRUE(theirs.fMove(inbox / "a.eml", sub));
    theirs.sMarkRead(sub, "a.eml");
    ASSERT_TRUE(theirs.fMove(inbox / "c.eml", other));  // a folder only they touched
    ASSERT_TRUE(mine.fMove(inbox / "b.eml", sub));
    mine.sAdopt(std::move(theirs));
  }
  // Nothing written by the adopted batch when it went.
  EXPECT_FALSE(fs::exists(sub / "icon.ini"));
  EXPECT_FALSE(fs::exists(other / "icon.ini"));
  ASSERT_TRUE(mine.fSave());
  EXPECT_TRUE(mailstore::fIsRead(sub, "a.eml"));
  EXPECT_FALSE(mailstore::fIsRead(sub, "b.eml"));
  EXPECT_EQ(mailstore::fCountUnread(sub), 1);
  EXPECT_EQ(mailstore::fCountUnread(other), 1);
  // The adopted folder's handle is the adopter's now: a later move into it still works.
  writeBytes(inbox / "d.eml", "x");
  EXPECT_TRUE(mine.fMove(inbox / "d.eml", other));
  ASSERT_TRUE(mine.fSave());
  EXPECT_EQ(mailstore::fCountUnread(other), 2);
}

// Adopted changes count for what the adopter does next: a mail the other batch marked read
// keeps that state when the adopter moves it on, and one the other batch moved away is no
// longer the adopter's to move.
TEST(IconBatch, AdoptedStatesHoldForTheAdoptersLaterMoves) {
  TempDir t;
  fs::path inbox = t / "受信箱", sub = t / "受信箱/sub", other = t / "受信箱/other";
  fs::create_directories(sub);
  fs::create_directories(other);
  for (const char* n : {"a.eml", "b.eml"}) writeBytes(inbox / n, "x");
  IconBatch mine;
  ASSERT_TRUE(mine.fMove(inbox / "b.eml", sub));  // both batches know the sub folder
  {
    IconBatch theirs;
    ASSERT_TRUE(theirs.fMove(inbox / "a.eml", sub));
    theirs.sMarkRead(sub, "a.eml");
    theirs.sMarkRead(sub, "b.eml");
    mine.sAdopt(std::move(theirs));
  }
  ASSERT_TRUE(mine.fMove(sub / "a.eml", other));
  ASSERT_TRUE(mine.fMove(sub / "b.eml", other));
  ASSERT_TRUE(mine.fSave());
  EXPECT_TRUE(mailstore::fIsRead(other, "a.eml"));
  EXPECT_TRUE(mailstore::fIsRead(other, "b.eml"));
  EXPECT_EQ(mod_ini::fGetIniKeys("Icon", sub / "icon.ini"), std::vector<std::string>{});
  EXPECT_EQ(mailstore::fCountFiles(sub), 0);
}
