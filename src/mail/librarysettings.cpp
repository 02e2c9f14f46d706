#include <mutex>

#include "mail/mail.h"

namespace mail {
namespace {
std::mutex gMutex;
LibrarySettings& settings() {
  static LibrarySettings s;
  return s;
}
}  // namespace

void sSetLibrarySettings(const LibrarySettings& s) {
  std::lock_guard lock(gMutex);
  settings() = s;
}

LibrarySettings fGetLibrarySettings() {
  std::lock_guard lock(gMutex);
  return settings();
}

}  // namespace mail
