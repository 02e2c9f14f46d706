#pragma once
// Read states of several folders held in memory while many mails are filed at once (a
// receive run): each icon.ini is read once and written once at the end, instead of being
// read, rewritten and flushed to disk for every single mail. Only the batch's own changes
// are written, onto the file as it is then, so states the user set meanwhile are kept.
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "store/mailstore.h"

namespace mailstore {

class IconBatch {
 public:
  IconBatch() = default;
  IconBatch(const IconBatch&) = delete;
  IconBatch& operator=(const IconBatch&) = delete;
  // Whatever was not saved yet is saved now.
  ~IconBatch();

  // Moves one mail into `target` under its name, as fMoveMails does: the file is renamed
  // at once (never over another file), its state goes with it. False when it stays.
  bool fMove(const std::filesystem::path& mail, const std::filesystem::path& target);
  // Writes state "6" for the mail in the folder's read states.
  void sMarkRead(const std::filesystem::path& folder, std::string_view fileName);
  // The same for the mail at `mail`.
  void sMarkMailRead(const std::filesystem::path& mail);
  // Writes every changed icon.ini; false when any could not be written.
  bool fSave();
  // Takes over another batch's unsaved changes (kept after this batch's own), so that
  // batches filled on different threads are written once.
  void sAdopt(IconBatch&& other);

 private:
  struct Folder {
    std::filesystem::path path;                           // normal form
    std::unordered_map<std::string, std::string> states;  // by lower-cased name
    bool stale = true;  // `states` is still to be read (not needed yet, adopted changes)
    std::vector<std::pair<std::string, std::optional<std::string>>> changes;  // in order
    int dirFd = -1;  // renames name the folder by handle, not by walking its path again
  };
  // The folder's record by any spelling of its path.
  Folder& fFolder(NativeView folder);
  // The folder's read states as the file and this batch's changes make them.
  static const std::unordered_map<std::string, std::string>& fStates(Folder& folder);
  static void sApplyChange(std::unordered_map<std::string, std::string>& states,
                           const std::string& name, const std::optional<std::string>& value);
  static void sChange(Folder& folder, const std::string& name, std::optional<std::string> value);
  static bool fRename(const Folder& from, const Folder& to, const std::filesystem::path& mail,
                      const std::filesystem::path& target);

  // By the folder's normal form; `spellings_` remembers each way a caller wrote it.
  std::unordered_map<std::filesystem::path::string_type, Folder> folders_;
  std::unordered_map<std::filesystem::path::string_type, Folder*, NativeHash, std::equal_to<>>
      spellings_;
};

}  // namespace mailstore
