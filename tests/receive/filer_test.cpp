// The filing thread: each queued mail's work once, in order, on its own thread; stopping
// drops what it did not start; finishing shares the rest with the caller; copies of the
// mails' bytes only while they are small.
#include "receive/filer.h"

#include <gtest/gtest.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

using receive::Filer;
using namespace std::chrono_literals;

namespace {

// What the work saw, shared with the threads that run it.
struct Log {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::string> paths;
  std::vector<std::thread::id> threads;
  std::vector<std::optional<std::string>> bytes;
  std::vector<std::size_t> indexes;

  void add(const std::string& path, const std::string* b, std::size_t index = 0) {
    std::lock_guard lock(mutex);
    indexes.push_back(index);
    paths.push_back(path);
    threads.push_back(std::this_thread::get_id());
    bytes.push_back(b ? std::optional<std::string>(*b) : std::nullopt);
    changed.notify_all();
  }
  bool waitFor(std::size_t n, std::chrono::milliseconds limit = 10s) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, limit, [&] { return paths.size() >= n; });
  }
  std::size_t size() {
    std::lock_guard lock(mutex);
    return paths.size();
  }
};

// A gate the work can wait at until the test opens it.
struct Gate {
  std::mutex mutex;
  std::condition_variable cv;
  bool open = false;
  bool reached = false;
  void wait() {
    std::unique_lock lock(mutex);
    reached = true;
    cv.notify_all();
    cv.wait(lock, [&] { return open; });
  }
  bool waitReached(std::chrono::milliseconds limit = 10s) {
    std::unique_lock lock(mutex);
    return cv.wait_for(lock, limit, [&] { return reached; });
  }
  void release() {
    std::lock_guard lock(mutex);
    open = true;
    cv.notify_all();
  }
};

std::size_t threadCount() {
  std::size_t n = 0;
  for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator("/proc/self/task")) ++n;
  return n;
}

// Whether the thread is blocked (sleeping), as a thread waiting in a join is.
bool blocked(pid_t tid) {
  std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), {});
  auto close = text.rfind(')');
  return close != std::string::npos && close + 2 < text.size() &&
         (text[close + 2] == 'S' || text[close + 2] == 'D');
}

}  // namespace

TEST(Filer, EachMailOnceInOrderOnItsThread) {
  Log log;
  const std::size_t tasksBefore = threadCount();
  {
    Filer filer([&](std::size_t index, const std::string& path, const std::string* bytes) {
      log.add(path, bytes, index);
    });
    for (int i = 0; i < 500; ++i)
      filer.sAdd("mail" + std::to_string(i), "bytes " + std::to_string(i));
    ASSERT_TRUE(log.waitFor(500));
    for (int i = 0; i < 500; ++i) {
      EXPECT_EQ(log.paths[i], "mail" + std::to_string(i));
      EXPECT_EQ(log.bytes[i], "bytes " + std::to_string(i));
      EXPECT_EQ(log.indexes[i], static_cast<std::size_t>(i));
      EXPECT_EQ(log.threads[i], log.threads[0]);
    }
    EXPECT_NE(log.threads[0], std::this_thread::get_id());
    // The queue runs dry and fills again: the thread waits for more.
    filer.sAdd("late");
    ASSERT_TRUE(log.waitFor(501));
    EXPECT_EQ(log.paths.back(), "late");
    EXPECT_EQ(log.indexes.back(), 500u);
    EXPECT_EQ(log.threads.back(), log.threads[0]);
  }
  EXPECT_EQ(log.size(), 501u);            // the thread has ended: nothing ran twice
  EXPECT_EQ(threadCount(), tasksBefore);  // the thread ended with the filer
}

TEST(Filer, AFailingMailDoesNotStopTheRest) {
  Log log;
  Filer filer([&](std::size_t, const std::string& path, const std::string* bytes) {
    log.add(path, bytes);
    if (path == "bad") throw std::runtime_error("cannot file");
  });
  filer.sAdd("a");
  filer.sAdd("bad");
  filer.sAdd("b");
  ASSERT_TRUE(log.waitFor(3));
  EXPECT_EQ(log.paths, (std::vector<std::string>{"a", "bad", "b"}));
}

TEST(Filer, StopLetsTheMailInHandFinishAndDropsTheRest) {
  const std::size_t tasksBefore = threadCount();
  Log log;
  Gate gate;
  std::atomic<bool> firstDone{false};
  Filer filer([&](std::size_t, const std::string& path, const std::string* bytes) {
    if (path == "first") {
      gate.wait();
      firstDone = true;
    }
    log.add(path, bytes);
  });
  filer.sAdd("first");
  ASSERT_TRUE(gate.waitReached());
  for (int i = 0; i < 20; ++i) filer.sAdd("queued" + std::to_string(i));

  std::atomic<pid_t> stopperTid{0};
  std::atomic<bool> stopped{false};
  std::thread stopper([&] {
    stopperTid = static_cast<pid_t>(::syscall(SYS_gettid));
    filer.sStop();
    stopped = true;
  });
  // The stop waits for the mail in hand.
  const auto limit = std::chrono::steady_clock::now() + 10s;
  while ((stopperTid == 0 || !blocked(stopperTid)) && std::chrono::steady_clock::now() < limit)
    std::this_thread::sleep_for(1ms);
  ASSERT_TRUE(blocked(stopperTid));
  EXPECT_FALSE(stopped);
  gate.release();
  stopper.join();
  EXPECT_TRUE(firstDone);  // finished, and visible after the stop
  EXPECT_EQ(log.paths, std::vector<std::string>{"first"});

  // After the stop nothing is taken any more: the thread is gone and none comes back.
  EXPECT_EQ(threadCount(), tasksBefore);
  filer.sAdd("after");
  EXPECT_TRUE(filer.fQueueEmpty());
  filer.sStop();  // a second stop is harmless
  EXPECT_EQ(threadCount(), tasksBefore);
  EXPECT_EQ(log.paths, std::vector<std::string>{"first"});
}

TEST(Filer, FinishSharesTheQueueWithTheCaller) {
  for (int round = 0; round < 5; ++round) {
    const std::size_t tasksBefore = threadCount();
    Log log;
    const auto caller = std::this_thread::get_id();
    std::atomic<int> byCaller{0};
    Filer filer([&](std::size_t, const std::string& path, const std::string* bytes) {
      if (std::this_thread::get_id() == caller) {
        ++byCaller;
      } else {
        // The filing thread is slow: it waits until the caller has done some work.
        const auto limit = std::chrono::steady_clock::now() + 5s;
        while (byCaller == 0 && std::chrono::steady_clock::now() < limit)
          std::this_thread::sleep_for(100us);
      }
      log.add(path, bytes);
    });
    const int count = 300;
    for (int i = 0; i < count; ++i) filer.sAdd(std::to_string(i), "x");
    filer.sFinish();
    // Everything ran exactly once when finish returns, some of it on this thread.
    ASSERT_EQ(log.size(), static_cast<std::size_t>(count));
    std::map<std::string, int> runs;
    for (const auto& p : log.paths) ++runs[p];
    for (int i = 0; i < count; ++i) EXPECT_EQ(runs[std::to_string(i)], 1) << i;
    EXPECT_GT(byCaller.load(), 0);
    for (std::size_t i = 0; i < log.paths.size(); ++i) EXPECT_EQ(log.bytes[i], "x");

    // The thread has ended and none comes back: a mail added now is never filed.
    EXPECT_EQ(threadCount(), tasksBefore);
    filer.sAdd("after");
    EXPECT_TRUE(filer.fQueueEmpty());
    EXPECT_EQ(threadCount(), tasksBefore);
    EXPECT_EQ(log.size(), static_cast<std::size_t>(count));
  }
}

TEST(Filer, FinishWithAnEmptyQueueEndsTheThread) {
  const std::size_t tasksBefore = threadCount();
  Log log;
  Filer filer([&](std::size_t, const std::string& path, const std::string* bytes) {
    log.add(path, bytes);
  });
  filer.sAdd("one");
  ASSERT_TRUE(log.waitFor(1));
  filer.sFinish();
  EXPECT_EQ(threadCount(), tasksBefore);
  EXPECT_EQ(log.size(), 1u);
}

TEST(Filer, BytesAreCopiedOnlyWhileSmall) {
  constexpr std::size_t kMiB = 1 << 20;
  Log log;
  Gate gate;
  Filer filer([&](std::size_t, const std::string& path, const std::string* bytes) {
    if (path == "hold") gate.wait();
    log.add(path, bytes);
  });
  filer.sAdd("hold");
  ASSERT_TRUE(gate.waitReached());  // the thread is busy: everything below stays queued

  std::string small = "Subject: s\r\n\r\nbody\r\n";
  filer.sAdd("small", small);
  small.assign("changed after queuing");  // the queue holds its own copy
  filer.sAdd("empty", "");
  filer.sAdd("exactly1MiB", std::string(kMiB, 'a'));
  filer.sAdd("over1MiB", std::string(kMiB + 1, 'b'));
  // The queue holds at most 32 MiB of copies. With 20 bytes and 1 MiB queued, 30 more
  // whole MiB fit and the 31st does not; what is left is filled to the byte, and then
  // not even one byte more is copied.
  for (int i = 0; i < 31; ++i) filer.sAdd("fill" + std::to_string(i), std::string(kMiB, 'c'));
  filer.sAdd("top", std::string(kMiB - 20, 'e'));
  filer.sAdd("full", "t");
  gate.release();
  ASSERT_TRUE(log.waitFor(38));

  std::map<std::string, std::optional<std::string>> got;
  for (std::size_t i = 0; i < log.paths.size(); ++i) got[log.paths[i]] = log.bytes[i];
  EXPECT_EQ(got["small"], "Subject: s\r\n\r\nbody\r\n");
  EXPECT_EQ(got["empty"], std::nullopt);
  ASSERT_TRUE(got["exactly1MiB"]);
  EXPECT_EQ(got["exactly1MiB"]->size(), kMiB);
  EXPECT_EQ(got["over1MiB"], std::nullopt);
  for (int i = 0; i < 31; ++i) {
    const auto& b = got["fill" + std::to_string(i)];
    if (i < 30) {
      ASSERT_TRUE(b) << i;
      EXPECT_EQ(b->size(), kMiB);
    } else {
      EXPECT_EQ(b, std::nullopt) << i;
    }
  }
  ASSERT_TRUE(got["top"]);
  EXPECT_EQ(got["top"]->size(), kMiB - 20);
  EXPECT_EQ(got["full"], std::nullopt);

  // Once worked through, the room is there again.
  filer.sAdd("again", std::string(kMiB, 'd'));
  ASSERT_TRUE(log.waitFor(39));
  EXPECT_EQ(log.paths.back(), "again");
  ASSERT_TRUE(log.bytes.back());
  EXPECT_EQ(log.bytes.back()->size(), kMiB);
}
