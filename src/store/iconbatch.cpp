#include "store/iconbatch.h"

#include <iterator>

#include "store/fsutil.h"
#include "store/mailstore.h"
#include "store/mod_ini.h"
#include "store/text.h"

#ifndef _WIN32
#include <fcntl.h>
#include <cstdio>  // renameat2
#include <unistd.h>

#include <cerrno>
#endif

namespace mailstore {
namespace fs = std::filesystem;

namespace {
constexpr std::string_view kIconIni = "icon.ini";
constexpr std::string_view kIconSection = "Icon";

using text::lower;
}  // namespace

IconBatch::~IconBatch() {
  fSave();
#ifndef _WIN32
  for (auto& [key, f] : folders_)
    if (f.dirFd >= 0) ::close(f.dirFd);
#endif
}

IconBatch::Folder& IconBatch::fFolder(NativeView folder) {
  auto known = spellings_.find(folder);
  Folder* f = known != spellings_.end() ? known->second : nullptr;
  if (!f) {
    fs::path key = fNormalFolder(fs::path(folder));
    auto it = folders_.find(key.native());
    if (it == folders_.end()) {
      it = folders_.emplace(key.native(), Folder{}).first;
      it->second.path = key;
#ifndef _WIN32
      it->second.dirFd = ::open(key.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
#endif
    }
    f = &it->second;
    spellings_.emplace(fs::path::string_type(folder), f);
  }
  return *f;
}

const std::unordered_map<std::string, std::string>& IconBatch::fStates(Folder& folder) {
  if (folder.stale) {
    // The file as it is now, with this batch's unsaved changes on top.
    folder.states = mod_ini::IniFile::fLoad(folder.path / kIconIni).fSectionValues(kIconSection);
    for (const auto& [name, value] : folder.changes) sApplyChange(folder.states, name, value);
    folder.stale = false;
  }
  return folder.states;
}

void IconBatch::sApplyChange(std::unordered_map<std::string, std::string>& states,
                             const std::string& name, const std::optional<std::string>& value) {
  if (value) {
    states[lower(name)] = *value;
  } else {
    states.erase(lower(name));
  }
}

void IconBatch::sChange(Folder& folder, const std::string& name, std::optional<std::string> value) {
  // Most folders are only filed into: their states are read (with every change) only
  // when a mail is to leave them.
  if (!folder.stale) sApplyChange(folder.states, name, value);
  folder.changes.emplace_back(name, std::move(value));
}

bool IconBatch::fRename(const Folder& from, const Folder& to, const fs::path& mail, const fs::path& target) {
#if !defined(_WIN32) && defined(RENAME_NOREPLACE)
  if (from.dirFd >= 0 && to.dirFd >= 0) {
    const char* name = mail.c_str() + (mail.native().size() - fNameView(mail).size());
    if (::renameat2(from.dirFd, name, to.dirFd, name, RENAME_NOREPLACE) == 0) return true;
    if (errno == EEXIST || errno == ENOENT) return false;
    // Anything else (no such rename on this file system, another device): by path.
  }
#endif
  return fsutil::fRenameNoReplace(mail, target / mail.filename());
}

bool IconBatch::fMove(const fs::path& mail, const fs::path& target) {
  // Into the folder it is in: nothing to do. (A link to the same folder is refused by
  // the rename itself, as the name is taken there.)
  Folder& from = fFolder(fFolderView(mail));
  Folder& to = fFolder(target.native());
  if (&from == &to) return false;
  if (!fRename(from, to, mail, target)) return false;
  const std::string name = fUtf8(fNameView(mail));
  const auto& states = fStates(from);
  auto state = states.find(lower(name));
  const bool read = state != states.end() && mod_ini::fParseIniInt(state->second, 0) == 6;
  if (state != states.end()) sChange(from, name, std::nullopt);
  sChange(to, name, std::string(read ? kStateRead : kStateUnread));
  return true;
}

void IconBatch::sMarkRead(const fs::path& folder, std::string_view fileName) {
  sChange(fFolder(folder.native()), std::string(fileName), std::string(kStateRead));
}

void IconBatch::sMarkMailRead(const fs::path& mail) {
  sChange(fFolder(fFolderView(mail)), fUtf8(fNameView(mail)), std::string(kStateRead));
}

void IconBatch::sAdopt(IconBatch&& other) {
  for (auto& [key, theirs] : other.folders_) {
    auto it = folders_.find(key);
    if (it == folders_.end()) {
      Folder& adopted = folders_.emplace(key, std::move(theirs)).first->second;
      theirs.dirFd = -1;  // the handle now belongs here
      spellings_.emplace(key, &adopted);
      continue;
    }
    // Their changes go after ours; our read states take them in when next needed.
    Folder& mine = it->second;
    if (theirs.changes.empty()) continue;
    if (mine.changes.empty()) {
      mine.changes = std::move(theirs.changes);
    } else {
      mine.changes.insert(mine.changes.end(), std::make_move_iterator(theirs.changes.begin()),
                          std::make_move_iterator(theirs.changes.end()));
    }
    mine.stale = true;
    theirs.changes.clear();
  }
}

bool IconBatch::fSave() {
  bool ok = true;
  for (auto& [folder, f] : folders_) {
    if (f.changes.empty()) continue;
    const fs::path file = fs::path(folder) / kIconIni;
    mod_ini::IniFile ini = mod_ini::IniFile::fLoad(file);
    ini.sSetMany(kIconSection, f.changes);
    if (ini.fSave(file)) {
      f.changes.clear();
    } else {
      ok = false;
    }
  }
  return ok;
}

}  // namespace mailstore
