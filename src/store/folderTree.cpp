#include "store/folderTree.h"

#include <algorithm>

#include "store/mailstore.h"
#include "store/modCommon.h"

namespace folderTree {

namespace {

struct StandardNode {
  std::string_view name;
  std::string_view parent;  // empty: the account node
  int image;
  int selectedImage;
};

constexpr StandardNode kStandard[] = {
    {mailstore::kInbox, "", kImageFolder, kImageFolderOpen},
    {mailstore::kSent, "", kImageFolder, kImageFolderOpen},
    {mailstore::kTrash, "", kImageTrash, 0},
    {mailstore::kDrafts, mailstore::kSent, kImageFolder, kImageFolderOpen},
    {mailstore::kPending, mailstore::kSent, kImageFolder, kImageFolderOpen},
};

bool startsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// Whether a directory of a standard name is that standard folder of the account.
bool fIsStandardPlace(std::string_view name, std::string_view parentKey) {
  std::string parentKind = parentKey.size() >= 2 ? std::string(parentKey.substr(0, parentKey.size() - 2)) : "";
  if (name == mailstore::kDrafts || name == mailstore::kPending) return parentKind == mailstore::kSent;
  return parentKind == "root";
}

}  // namespace

std::string fNodeKind(std::string_view key) {
  return std::string(key.size() >= 2 ? key.substr(0, key.size() - 2) : std::string_view{});
}

int fNodeAccount(std::string_view key) {
  if (key.size() < 2) return 0;
  char a = key[key.size() - 2], b = key[key.size() - 1];
  if (a < '0' || a > '9' || b < '0' || b > '9') return 0;
  return (a - '0') * 10 + (b - '0');
}

bool fIsTrashKey(std::string_view key) { return startsWith(key, mailstore::kTrash); }

bool fIsSentTypeKey(std::string_view key) {
  std::string kind = fNodeKind(key);
  return kind == mailstore::kSent || kind == mailstore::kDrafts || kind == mailstore::kPending;
}

bool fIsStandardKey(std::string_view key) { return mailstore::fIsStandardFolderName(fNodeKind(key)); }

std::string fAccountCaption(const fs::path& accountFolder, int number) {
  std::string name = modCommon::fGetAccountValue(accountFolder, "Account");
  return name.empty() ? "Account" + mailstore::fAccountNumberText(number) : name;
}

int fCountFor(std::string_view key, const fs::path& folder) {
  return fIsTrashKey(key) ? mailstore::fCountFiles(folder) : mailstore::fCountUnread(folder);
}

void sAddSubFolders(const fs::path& dir, const std::string& parentKey, std::vector<Node>& nodes,
                    std::unordered_set<std::string>& keys, bool withCounts) {
  std::string nn = parentKey.size() >= 2 ? parentKey.substr(parentKey.size() - 2) : "";
  std::vector<std::string> names = mailstore::fListFolderNames(dir);
  if (names.empty()) return;
  std::sort(names.begin(), names.end());

  for (const std::string& name : names) {
    if (mailstore::fIsStandardFolderName(name)) continue;
    std::string key = "C" + name + nn;
    if (!keys.insert(key).second) return;  // duplicate key: this level ends here
    nodes.push_back({key, name, parentKey, kImageFolder, kImageFolderOpen,
                     withCounts ? mailstore::fCountUnread(dir / mailstore::fPath(name)) : kNoCount});
  }
  for (const std::string& name : names) {
    if (!mailstore::fIsStandardFolderName(name)) {
      sAddSubFolders(dir / mailstore::fPath(name), "C" + name + nn, nodes, keys, withCounts);
    } else if (fIsStandardPlace(name, parentKey)) {
      sAddSubFolders(dir / mailstore::fPath(name), name + nn, nodes, keys, withCounts);
    }
    // A standard name anywhere else is not searched: the folders inside it would hang
    // under the standard node of that name and map to that node's directory instead.
  }
}

std::vector<Node> fBuildNodes(const fs::path& programDir, bool withCounts) {
  std::vector<Node> nodes;
  std::error_code ec;
  fs::path mailBox = programDir / "MailBox";
  if (!fs::is_directory(mailBox, ec)) {
    fs::create_directories(mailBox, ec);
    return nodes;
  }
  fs::path prefix = mailstore::fAccountPrefix(programDir);
  std::unordered_set<std::string> keys;
  for (int n : mailstore::fScanAccounts(prefix)) {
    std::string nn = mailstore::fAccountNumberText(n);
    fs::path account = mailstore::fAccountFolder(prefix, n);
    std::string rootKey = "root" + nn;
    keys.insert(rootKey);
    nodes.push_back({rootKey, fAccountCaption(account, n), "", kImageAccount, 0, 0});
    for (const StandardNode& s : kStandard) {
      std::string key = std::string(s.name) + nn;
      std::string parentKey = s.parent.empty() ? rootKey : std::string(s.parent) + nn;
      fs::path folder = s.parent.empty() ? account / mailstore::fPath(s.name)
                                         : account / mailstore::fPath(s.parent) / mailstore::fPath(s.name);
      keys.insert(key);
      nodes.push_back({key, std::string(s.name), parentKey, s.image, s.selectedImage,
                       withCounts ? fCountFor(key, folder) : kNoCount});
    }
    sAddSubFolders(account, rootKey, nodes, keys, withCounts);
  }
  return nodes;
}

bool fIsValidFolderName(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return false;
  if (name.find_first_of("/\\:*?\"<>|") != std::string_view::npos) return false;
  if (name.front() == '.') return false;  // would be hidden, and so vanish from the tree
  return !mailstore::fIsStandardFolderName(name);
}

long fAutoTimerPeriod(long autoTime, long second) {
  if (autoTime <= 0) return 0;
  return second == 1 ? autoTime * 1000 : autoTime * 60000;
}

int fClampSplit(int value, int lower, int upper) {
  if (value < lower) value = lower;
  if (value > upper) value = upper;
  return value;
}

}  // namespace folderTree
