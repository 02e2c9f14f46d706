#pragma once
// Read states of several folders held in memory while many mails are filed at once (a
// receive run): each icon.ini is read once and written once at the end, instead of being
// read, rewritten and flushed to disk for every single mail.
#include <filesystem>
#include <map>
#include <string_view>

#include "store/mod_ini.h"

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
  // Writes every changed icon.ini; false when any could not be written.
  bool fSave();

 private:
  struct Folder {
    mod_ini::IniFile ini;
    bool changed = false;
  };
  Folder& fFolder(const std::filesystem::path& folder);

  std::map<std::filesystem::path, Folder> folders_;
};

}  // namespace mailstore
