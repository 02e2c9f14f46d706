#include "search/hitcommands.h"

#include <map>

#include "store/mailstore.h"

namespace search {

std::vector<std::filesystem::path> fDeleteWhereTheyLive(const std::filesystem::path& accountPrefix,
                                                        const std::vector<std::filesystem::path>& mails) {
  namespace fs = std::filesystem;
  const std::string prefix = mailstore::fUtf8(accountPrefix.filename());  // "Account"
  std::vector<fs::path> stayed, forGood;
  std::map<fs::path, std::vector<fs::path>> toTrash;  // by trash folder
  for (const fs::path& mail : mails) {
    // The account folder is the ancestor beside the prefix: "<MailBox>/AccountNN".
    fs::path account;
    for (fs::path p = mail.parent_path(); p.has_relative_path() && p != p.parent_path(); p = p.parent_path()) {
      if (p.parent_path() == accountPrefix.parent_path() && mailstore::fUtf8(p.filename()).starts_with(prefix)) {
        account = p;
        break;
      }
    }
    if (account.empty()) {
      stayed.push_back(mail);
      continue;
    }
    const fs::path trash = account / mailstore::fPath(mailstore::kTrash);
    if (mail.parent_path() == trash) forGood.push_back(mail);
    else toTrash[trash].push_back(mail);
  }
  for (auto& failed : {mailstore::fDeleteMails(forGood)}) stayed.insert(stayed.end(), failed.begin(), failed.end());
  for (auto& [trash, list] : toTrash) {
    auto failed = mailstore::fMoveMails(list, trash);
    stayed.insert(stayed.end(), failed.begin(), failed.end());
  }
  return stayed;
}

}  // namespace search
