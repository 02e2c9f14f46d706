// Mails moved out of the inbox while a receive run is still going: the run's journal
// notes each move first, so that a run that never got to record itself (killed) counts
// a moved mail as received instead of fetching it again, and loses none.
#include <gtest/gtest.h>

#include <fstream>
#include <stdexcept>

#include "../common/tempdir.h"
#include "mail/mail.h"
#include "mail/uidlstore.h"
#include "servertest.h"
#include "store/fsutil.h"
#include "store/mailstore.h"

namespace fs = std::filesystem;
using mail::MoveNotes;
using mail::UidlStore;

namespace {

class Notes : public ::testing::Test {
 protected:
  void SetUp() override {
    inbox = tmp.path() / mailstore::fPath("受信箱");
    sub = inbox / "sub";
    fs::create_directories(sub);
  }
  std::string journal() const {
    return fsutil::fReadFile(UidlStore::journalPath(inbox)).value_or("<none>");
  }
  void save(const std::string& name) { std::ofstream(inbox / name, std::ios::binary) << name; }
  void moveToSub(const std::string& name) { fs::rename(inbox / name, sub / name); }

  qbtest::TempDir tmp{"qb-notes"};
  fs::path inbox, sub;
};

}  // namespace

TEST_F(Notes, NotedMoveCountsAsReceivedAfterAKilledRun) {
  {
    // The run: three mails journaled and saved; then it is killed (no commit).
    UidlStore run(inbox, "alice@host");
    run.load();
    for (const char* n : {"1", "2", "3"}) {
      ASSERT_TRUE(run.fJournal(std::string("u") + n, std::string(n) + ".eml"));
      save(std::string(n) + ".eml");
    }
    MoveNotes notes(mailstore::fUtf8(inbox));
    ASSERT_TRUE(notes.fNote("1.eml"));
    moveToSub("1.eml");  // noted first, as filing does
    moveToSub("2.eml");  // moved without a note
    // 3.eml stays where the library saved it.
  }
  UidlStore next(inbox, "alice@host");
  next.load();
  EXPECT_TRUE(next.known("u1"));
  EXPECT_FALSE(next.known("u2"));
  EXPECT_TRUE(next.known("u3"));
  // Another account sharing the inbox recovers nothing of alice's.
  UidlStore bob(inbox, "bob@host");
  bob.load();
  EXPECT_FALSE(bob.known("u1"));
  EXPECT_FALSE(bob.known("u3"));

  // Recording the run writes the list without any trace of the notes.
  ASSERT_TRUE(next.fCommit(nullptr));
  EXPECT_FALSE(fs::exists(UidlStore::journalPath(inbox)));
  const std::string list = fsutil::fReadFile(UidlStore::listPath(inbox)).value_or("");
  EXPECT_EQ(list, "alice@host\tu1\nalice@host\tu3\n");
  UidlStore after(inbox, "alice@host");
  after.load();
  EXPECT_TRUE(after.known("u1"));
  EXPECT_FALSE(after.known("u2"));
}

TEST_F(Notes, NothingIsNotedWithoutTheRunsJournal) {
  MoveNotes notes(mailstore::fUtf8(inbox));
  EXPECT_FALSE(notes.fNote("1.eml"));
  EXPECT_FALSE(fs::exists(UidlStore::journalPath(inbox)));  // never created by a note

  UidlStore run(inbox, "alice@host");
  run.load();
  ASSERT_TRUE(run.fJournal("u1", "1.eml"));
  save("1.eml");
  MoveNotes during(mailstore::fUtf8(inbox));
  EXPECT_TRUE(during.fNote("1.eml"));
  ASSERT_TRUE(run.fCommit(nullptr));
  // After the run has recorded itself there is no journal to note in.
  MoveNotes late(mailstore::fUtf8(inbox));
  EXPECT_FALSE(late.fNote("1.eml"));
  EXPECT_FALSE(fs::exists(UidlStore::journalPath(inbox)));
}

TEST_F(Notes, NamesThatCannotBeOneFieldAreRefused) {
  UidlStore run(inbox, "alice@host");
  run.load();
  ASSERT_TRUE(run.fJournal("u1", "1.eml"));
  const std::string before = journal();
  MoveNotes notes(mailstore::fUtf8(inbox));
  for (std::string_view bad :
       {"", "sub/1.eml", "a\tb.eml", "a\rb.eml", "a\nb.eml", "../1.eml", "/1.eml"})
    EXPECT_FALSE(notes.fNote(bad)) << bad;
  EXPECT_EQ(journal(), before);
  // A refused name cannot slip a forged line into the journal either.
  EXPECT_FALSE(notes.fNote("x\nalice@host\tu9\t1.eml"));
  EXPECT_EQ(journal(), before);
  // Several at once: one bad name and none is noted; all good and all are, in order.
  EXPECT_FALSE(notes.fNote(std::vector<std::string>{"2.eml", "sub/3.eml"}));
  EXPECT_EQ(journal(), before);
  EXPECT_TRUE(notes.fNote(std::vector<std::string>{"2.eml", "3.eml"}));
  EXPECT_EQ(journal(), before + "\tmoved\t2.eml\n\tmoved\t3.eml\n");
}

TEST_F(Notes, NotesLeaveOtherLinesAndOlderReadersAlone) {
  {
    UidlStore alice(inbox, "alice@host");
    alice.load();
    UidlStore bob(inbox, "bob@host");
    bob.load();
    ASSERT_TRUE(alice.fJournal("a1", "1.eml"));
    save("1.eml");
    MoveNotes notes(mailstore::fUtf8(inbox));
    ASSERT_TRUE(notes.fNote("1.eml"));
    ASSERT_TRUE(bob.fJournal("b1", "2.eml"));
    save("2.eml");
    ASSERT_TRUE(notes.fNote("日本語.eml"));
  }
  moveToSub("1.eml");
  // One whole line per note, its key field empty: a reader that knows nothing of notes
  // takes it for nobody's entry.
  EXPECT_EQ(journal(),
            "alice@host\ta1\t1.eml\n\tmoved\t1.eml\nbob@host\tb1\t2.eml\n\tmoved\t日本語.eml\n");
  UidlStore bob(inbox, "bob@host");
  bob.load();
  EXPECT_TRUE(bob.known("b1"));
  EXPECT_FALSE(bob.known("a1"));
  EXPECT_FALSE(bob.known("moved"));
  UidlStore alice(inbox, "alice@host");
  alice.load();
  EXPECT_TRUE(alice.known("a1"));
  EXPECT_FALSE(alice.known("1.eml"));
}

// The list and the journal live beside the inbox under names no listing of a folder
// takes for mail; lists an earlier version kept inside the inbox move there unharmed.
TEST_F(Notes, BookkeepingLivesBesideTheInboxAndOldListsMoveThere) {
  const fs::path account = inbox.parent_path();
  // An inbox with only the old list, another with both the old and a new one.
  struct Case {
    const char* oldList;
    const char* newList;
    std::vector<std::string> known;
  };
  const Case cases[] = {
      {"alice@host\tu1\nbob@host\tb1\n", nullptr, {"u1"}},
      {"alice@host\tu1\nbob@host\tb1\n", "alice@host\tu2\nbob@host\tb1\n", {"u1", "u2"}},
  };
  for (const Case& c : cases) {
    fs::remove(UidlStore::listPath(inbox));
    std::ofstream(inbox / ".qbuidl", std::ios::binary) << c.oldList;
    std::ofstream(inbox / ".qbuidl.journal", std::ios::binary) << "alice@host\tu7\t7.eml\n";
    save("7.eml");
    if (c.newList) std::ofstream(UidlStore::listPath(inbox), std::ios::binary) << c.newList;
    UidlStore run(inbox, "alice@host");
    run.load();
    for (const std::string& uid : c.known) EXPECT_TRUE(run.known(uid)) << uid;
    EXPECT_TRUE(run.known("u7"));  // the old journal's saved mail
    ASSERT_TRUE(run.fCommit(nullptr));
    EXPECT_FALSE(fs::exists(inbox / ".qbuidl"));
    EXPECT_FALSE(fs::exists(inbox / ".qbuidl.journal"));
    std::string expected = "bob@host\tb1\n";
    for (const std::string& uid : c.known) expected += "alice@host\t" + uid + "\n";
    expected += "alice@host\tu7\n";
    EXPECT_EQ(fsutil::fReadFile(UidlStore::listPath(inbox)).value_or(""), expected);
    fs::remove(inbox / "7.eml");
  }
  // Neither the inbox nor the account folder, were it read as a mail folder, lists them.
  ASSERT_TRUE(UidlStore(inbox, "alice@host").fJournal("u8", "8.eml"));
  EXPECT_EQ(UidlStore::listPath(inbox).parent_path(), account);
  EXPECT_EQ(UidlStore::journalPath(inbox).parent_path(), account);
  EXPECT_TRUE(mailstore::fListMailFiles(inbox).empty());
  EXPECT_TRUE(mailstore::fListMailFiles(account).empty());
  for (const auto& e : fs::directory_iterator(account)) {
    if (!e.is_directory()) {
      EXPECT_EQ(e.path().extension(), ".ini") << e.path();
    }
  }
}

// The real library against a real server: a run whose caller files (moves) mails as they
// arrive ends before it could record itself; the next run fetches only what is missing.
namespace {

const qbtest::NumberedMails message([](int i) { return qbtest::fNumberedMail(i, "filed"); });

struct Killed : std::runtime_error {
  Killed() : std::runtime_error("killed") {}
};

class FilingWhileReceiving : public qbtest::ServerTest {
 protected:
  FilingWhileReceiving() : ServerTest(5) {}
  void SetUp() override {
    ServerTest::SetUp();
    if (fNotStarted()) return;
    inbox = fs::path(servers->dir) / mailstore::fPath("受信箱");
    sub = inbox / "sub";
    fs::create_directories(sub);
  }

  // The first run: every second mail is moved into `sub` (noted first when `note`), and
  // the run ends abruptly after `stopAfter` mails.
  void cutRun(bool note, int stopAfter) {
    MoveNotes notes(mailstore::fUtf8(inbox));
    int seen = 0;
    auto r = mail::RcvMail(servers->popServer(), "alice", "secret", "SAVEALL",
                           "<" + mailstore::fUtf8(inbox), {},
                           [&](const std::string& path, std::string_view bytes) {
                             ++seen;
                             EXPECT_EQ(*fsutil::fReadFile(path), bytes);
                             const fs::path file = mailstore::fPath(path);
                             if (seen % 2 == 0) {
                               if (note) {
                                 ASSERT_TRUE(notes.fNote(mailstore::fUtf8(file.filename())));
                               }
                               fs::rename(file, sub / file.filename());
                             }
                             if (seen == stopAfter) throw Killed();
                           });
    ASSERT_TRUE(std::holds_alternative<std::string>(r));
    ASSERT_TRUE(fs::exists(UidlStore::journalPath(inbox))) << "the run was to end unrecorded";
  }

  fs::path inbox, sub;
};

}  // namespace

TEST_F(FilingWhileReceiving, NotedMovesAreNeitherFetchedAgainNorLost) {
  const int count = 9;
  message.seed(*servers, "alice", count);
  cutRun(true, 6);
  EXPECT_EQ(mailstore::fListMailFiles(sub).size(), 3u);

  auto second = mail::RcvMail(servers->popServer(), "alice", "secret", "SAVEALL",
                              "<" + mailstore::fUtf8(inbox));
  auto* paths = std::get_if<std::vector<std::string>>(&second);
  ASSERT_TRUE(paths);
  EXPECT_EQ(paths->size(), static_cast<std::size_t>(count - 6));
  message.expectEachOnce({inbox, sub}, count);
  EXPECT_FALSE(fs::exists(UidlStore::journalPath(inbox)));
  auto third = mail::RcvMail(servers->popServer(), "alice", "secret", "SAVEALL",
                             "<" + mailstore::fUtf8(inbox));
  EXPECT_EQ(std::get<std::string>(third), "");
}

TEST_F(FilingWhileReceiving, UnnotedMovesComeAgain) {
  // Without the notes the same cut brings the moved mails a second time: what the notes
  // are for.
  message.seed(*servers, "alice", 4);
  cutRun(false, 4);
  auto second = mail::RcvMail(servers->popServer(), "alice", "secret", "SAVEALL",
                              "<" + mailstore::fUtf8(inbox));
  auto* paths = std::get_if<std::vector<std::string>>(&second);
  ASSERT_TRUE(paths);
  EXPECT_EQ(paths->size(), 2u);
  auto copies = message.fCopies({inbox, sub}, 4);
  EXPECT_EQ(copies[2], 2);
  EXPECT_EQ(copies[1], 1);
}
