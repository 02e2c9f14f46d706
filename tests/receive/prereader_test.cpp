// Reading ahead: mails queued during the download are read once, on the reader's own
// thread, and handed out once; anything else is read on demand.
#include "receive/prereader.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>

using receive::PreReader;

TEST(PreReader, ReadsAheadOnceAndFallsBackOtherwise) {
  std::mutex mutex;
  std::vector<std::string> reads;
  std::atomic<std::thread::id> readerThread{};
  auto read = [&](std::string_view file, std::string_view keys, std::string_view) -> mail::MailResult {
    std::lock_guard lock(mutex);
    reads.push_back(std::string(file) + "|" + std::string(keys));
    return std::vector<std::string>{"from: " + std::string(file)};
  };
  PreReader reader("subject:from:", read);
  std::thread receiving([&] {
    for (int i = 0; i < 50; ++i) reader.sAdd("/in/m" + std::to_string(i));
  });
  receiving.join();
  reader.sFinish();
  EXPECT_EQ(reads.size(), 50u);

  auto got = reader.fRead("/in/m7", "subject:from:", "/in");
  ASSERT_TRUE(std::holds_alternative<std::vector<std::string>>(got));
  EXPECT_EQ(std::get<std::vector<std::string>>(got)[0], "from: /in/m7");
  EXPECT_EQ(reads.size(), 50u);  // from the read done ahead

  reader.fRead("/in/m7", "subject:from:", "/in");   // handed out already: read again
  reader.fRead("/in/m8", "body:", "/in");           // other keys: read again
  reader.fRead("/in/m9", "subject:from:", "/tmp");  // other folder: read again
  reader.fRead("/in/unqueued", "subject:from:", "/in");
  EXPECT_EQ(reads.size(), 54u);
}

TEST(PreReader, FinishWithNothingQueuedAndReaderThatThrows) {
  PreReader idle("k:", [](auto, auto, auto) -> mail::MailResult { return std::string(); });
  idle.sFinish();
  int calls = 0;
  PreReader throwing("k:", [&](auto, auto, auto) -> mail::MailResult {
    if (++calls == 1) throw std::runtime_error("bad mail");
    return std::string("read on demand");
  });
  throwing.sAdd("/in/x");
  throwing.sFinish();
  EXPECT_EQ(std::get<std::string>(throwing.fRead("/in/x", "k:", "/in")), "read on demand");
}
