#pragma once
// Files saved mails on a thread of its own while the mail library is still receiving the
// rest. The thread runs at idle priority, so it only uses time the download leaves free;
// when the download ends, the caller stops it and files whatever it did not reach.
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

namespace receive {

class Filer {
 public:
  // `index`: the mail's place among all queued (0, 1, ...: one per sAdd, dropped ones
  // included). `bytes`: the mail as saved, when the library handed it over and it was kept.
  using Work =
      std::function<void(std::size_t index, const std::string& path, const std::string* bytes)>;
  // `work` runs on the filing thread, one mail after the other in the order queued.
  explicit Filer(Work work);
  // Stops as sStop does.
  ~Filer();
  Filer(const Filer&) = delete;
  Filer& operator=(const Filer&) = delete;

  // Queues a saved mail (any thread). Its bytes are kept for the work while the queue
  // holds little; otherwise the work reads the file.
  void sAdd(const std::string& path, std::string_view bytes = {});
  // Lets the thread finish the mail it is on and ends it. Mails it did not start are
  // dropped: the caller files them itself. Everything the thread did is visible after.
  void sStop();
  // The calling thread works through the queue beside the filing thread (the work must
  // allow that), then the thread ends. Everything the thread did is visible after.
  void sFinish();
  // Nothing waits in the queue (work can batch while more is coming).
  bool fQueueEmpty();
  // The filing thread's id while it runs (work can tell which thread it is on).
  std::thread::id fThreadId() const { return threadId_; }

 private:
  void sRun();
  // Takes the next queued mail and does its work with the lock released; false when the
  // queue is empty.
  bool fWorkOne(std::unique_lock<std::mutex>& lock);

  const Work work_;
  std::mutex mutex_;
  std::condition_variable wake_;
  struct Item {
    std::size_t index;
    std::string path;
    std::optional<std::string> bytes;
  };
  std::deque<Item> queue_;
  std::size_t queuedBytes_ = 0;
  std::size_t added_ = 0;  // sAdd calls so far
  bool stopping_ = false;
  bool sleeping_ = false;  // the thread waits for work
  std::chrono::steady_clock::time_point lastWake_{};
  std::thread::id threadId_;
  std::thread thread_;
};

}  // namespace receive
