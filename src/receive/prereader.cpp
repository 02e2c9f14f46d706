#include "receive/prereader.h"

#include "store/modCommon.h"

namespace receive {

PreReader::PreReader(std::string keys, ReadFn read)
    : keys_(std::move(keys)), read_(std::move(read)), thread_([this] { sRun(); }) {}

PreReader::~PreReader() { sFinish(); }

void PreReader::sAdd(const std::string& path) {
  {
    std::lock_guard lock(mutex_);
    queue_.push_back(path);
  }
  wake_.notify_one();
}

void PreReader::sFinish() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_one();
  if (thread_.joinable()) thread_.join();
}

void PreReader::sRun() {
  std::unique_lock lock(mutex_);
  while (true) {
    wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
    if (queue_.empty()) return;  // stopping, and everything is read
    std::string path = std::move(queue_.front());
    queue_.pop_front();
    lock.unlock();
    mail::MailResult result;
    try {
      // Filing reads each mail with its own folder: the key the cache is checked with.
      result = read_(path, keys_, modCommon::fGetParentPath(path));
    } catch (const std::exception&) {
      lock.lock();
      continue;  // filing reads it again itself
    }
    lock.lock();
    done_.insert_or_assign(path, std::move(result));
  }
}

mail::MailResult PreReader::fRead(std::string_view file, std::string_view keys,
                                  std::string_view folder) {
  if (keys == keys_ && folder == modCommon::fGetParentPath(file)) {
    std::lock_guard lock(mutex_);
    auto it = done_.find(std::string(file));
    if (it != done_.end()) {
      mail::MailResult result = std::move(it->second);
      done_.erase(it);
      return result;
    }
  }
  return read_(file, keys, folder);
}

}  // namespace receive
