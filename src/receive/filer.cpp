#include "receive/filer.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace receive {

namespace {

// The filing thread gives way to the download it runs beside. The lowest nice value
// rather than the idle class: a thread cannot win its priority back, and the caller waits
// for the mail it is on at the end, which must not starve on a busy machine.
void sLowerThisThread() {
#ifdef _WIN32
  SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_LOWEST);
#elif defined(__linux__)
  setpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)), 19);
#endif
}

}  // namespace

Filer::Filer(Work work) : work_(std::move(work)), thread_([this] { sRun(); }) { threadId_ = thread_.get_id(); }

Filer::~Filer() { sStop(); }

void Filer::sAdd(const std::string& path, std::string_view bytes) {
  // Copies of the bytes spare the work a read of the file, but a slow filing thread must
  // not pile up a download's worth of large mails in memory.
  constexpr std::size_t kKeepMail = 1 << 20;
  constexpr std::size_t kKeepQueue = 32 << 20;
  {
    std::lock_guard lock(mutex_);
    const std::size_t index = added_++;
    if (stopping_) return;
    Item item{index, path, std::nullopt};
    if (!bytes.empty() && bytes.size() <= kKeepMail && queuedBytes_ + bytes.size() <= kKeepQueue) {
      item.bytes.emplace(bytes);
      queuedBytes_ += bytes.size();
    }
    queue_.push_back(std::move(item));
    // Waking the thread for every mail of a fast download costs the download more than
    // the wait costs the filing: a sleeping thread is woken for a few mails at a time,
    // or once a moment has passed.
    constexpr std::size_t kWakeBatch = 8;
    constexpr auto kWakeAfter = std::chrono::milliseconds(5);
    if (!sleeping_) return;
    const auto now = std::chrono::steady_clock::now();
    if (queue_.size() < kWakeBatch && now - lastWake_ < kWakeAfter) return;
    lastWake_ = now;
  }
  wake_.notify_one();
}

bool Filer::fQueueEmpty() {
  std::lock_guard lock(mutex_);
  return queue_.empty();
}

void Filer::sStop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    queue_.clear();
    queuedBytes_ = 0;
  }
  wake_.notify_one();
  if (thread_.joinable()) thread_.join();
}

bool Filer::fWorkOne(std::unique_lock<std::mutex>& lock) {
  if (queue_.empty()) return false;
  Item item = std::move(queue_.front());
  queue_.pop_front();
  if (item.bytes) queuedBytes_ -= item.bytes->size();
  lock.unlock();
  try {
    work_(item.index, item.path, item.bytes ? &*item.bytes : nullptr);
  } catch (const std::exception&) {
    // The caller's work keeps its own record of what it did; a failure just ends it.
  }
  lock.lock();
  return true;
}

void Filer::sFinish() {
  std::unique_lock lock(mutex_);
  while (!stopping_ && fWorkOne(lock)) {
  }
  lock.unlock();
  sStop();
}

void Filer::sRun() {
  sLowerThisThread();
  std::unique_lock lock(mutex_);
  while (true) {
    sleeping_ = true;
    wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
    sleeping_ = false;
    if (stopping_) return;
    while (!stopping_ && fWorkOne(lock)) {
    }
  }
}

}  // namespace receive
