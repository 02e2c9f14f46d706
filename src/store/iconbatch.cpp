#include "store/iconbatch.h"

#include <string>

#include "store/fsutil.h"
#include "store/mailstore.h"

namespace mailstore {
namespace fs = std::filesystem;

namespace {
constexpr std::string_view kIconIni = "icon.ini";
constexpr std::string_view kIconSection = "Icon";
}  // namespace

IconBatch::~IconBatch() { fSave(); }

IconBatch::Folder& IconBatch::fFolder(const fs::path& folder) {
  fs::path key = folder.lexically_normal();
  auto it = folders_.find(key);
  if (it == folders_.end()) it = folders_.emplace(key, Folder{mod_ini::IniFile::fLoad(key / kIconIni)}).first;
  return it->second;
}

bool IconBatch::fMove(const fs::path& mail, const fs::path& target) {
  std::error_code ec;
  if (fs::equivalent(mail.parent_path(), target, ec)) return false;
  if (!fsutil::fRenameNoReplace(mail, target / mail.filename())) return false;
  const std::string name = fUtf8(mail.filename());
  Folder& source = fFolder(mail.parent_path());
  auto state = source.ini.fGet(kIconSection, name);
  const bool read = state && mod_ini::fParseIniInt(*state, 0) == 6;
  if (state) {
    source.ini.sSet(kIconSection, name, std::nullopt);
    source.changed = true;
  }
  Folder& to = fFolder(target);
  to.ini.sSet(kIconSection, name, std::string(read ? kStateRead : kStateUnread));
  to.changed = true;
  return true;
}

void IconBatch::sMarkRead(const fs::path& folder, std::string_view fileName) {
  Folder& f = fFolder(folder);
  f.ini.sSet(kIconSection, fileName, std::string(kStateRead));
  f.changed = true;
}

bool IconBatch::fSave() {
  bool ok = true;
  for (auto& [folder, f] : folders_) {
    if (!f.changed) continue;
    if (f.ini.fSave(folder / kIconIni)) {
      f.changed = false;
    } else {
      ok = false;
    }
  }
  return ok;
}

}  // namespace mailstore
