#pragma once
// Reads the headers of saved mails on a thread of its own while the mail library is
// still receiving the rest, so that filing afterwards mostly finds its reads done.
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>

#include "mail/mail.h"

namespace receive {

class PreReader {
 public:
  using ReadFn = std::function<mail::MailResult(std::string_view file, std::string_view keys,
                                                std::string_view folder)>;
  PreReader(std::string keys, ReadFn read);
  ~PreReader();
  PreReader(const PreReader&) = delete;
  PreReader& operator=(const PreReader&) = delete;

  // Queues a saved mail (any thread).
  void sAdd(const std::string& path);
  // Waits until every queued mail is read.
  void sFinish();
  // The read of a mail: done ahead when it was queued with the same keys and folder,
  // else read now. A result is handed out once.
  mail::MailResult fRead(std::string_view file, std::string_view keys, std::string_view folder);

 private:
  void sRun();

  const std::string keys_;
  const ReadFn read_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::string> queue_;
  std::unordered_map<std::string, mail::MailResult> done_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace receive
