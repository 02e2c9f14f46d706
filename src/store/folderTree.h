#pragma once
// The folder tree as data: which nodes the main window shows for the mail store, with
// their keys, texts, images and counts, plus the small rules the window applies
// (timer period, splitter bounds). Kept free of Qt so the rules are tested directly.
#include <filesystem>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace folderTree {

namespace fs = std::filesystem;

// Image numbers of the tree's image list.
inline constexpr int kImageAccount = 1;
inline constexpr int kImageFolder = 2;
inline constexpr int kImageFolderOpen = 3;
inline constexpr int kImageTrash = 4;

struct Node {
  std::string key;        // "root"NN, standard name + NN, "C" + name + NN
  std::string text;       // caption
  std::string parentKey;  // empty for an account node
  int image = kImageFolder;
  int selectedImage = 0;  // 0: the same as image
  int count = 0;          // unread mails (all mails for the trash)
};

// Every node of the store under programDir/MailBox, parents before children, in the
// order the window adds them. Creates MailBox when it is missing (and then returns
// nothing). Accounts are read from 01 up to the first missing number. Without
// `withCounts` every count is kNoCount, for the caller to fill in.
inline constexpr int kNoCount = -1;
std::vector<Node> fBuildNodes(const fs::path& programDir, bool withCounts = true);

// The user folders below `dir`, recursively, appended to `nodes`. `keys` holds every key
// already in the tree: a key met twice ends the scan of that directory level (the
// levels above go on). Directories are taken in name order, as the store's home
// platform lists them, so the first of two equal names is found the same way
// everywhere.
void sAddSubFolders(const fs::path& dir, const std::string& parentKey, std::vector<Node>& nodes,
                    std::unordered_set<std::string>& keys, bool withCounts = true);

// The key without its two-digit account number ("受信箱", "root", "Cname").
std::string fNodeKind(std::string_view key);
// The account number at the end of the key; 0 when the key carries none.
int fNodeAccount(std::string_view key);
bool fIsTrashKey(std::string_view key);
// Sent mail, drafts and the outgoing queue list recipients instead of senders.
bool fIsSentTypeKey(std::string_view key);
bool fIsStandardKey(std::string_view key);
// The account node's caption: the stored "Account" name, or "Account" + NN.
std::string fAccountCaption(const fs::path& accountFolder, int number);
// The number a node shows: all mails in the trash, unread mails elsewhere.
int fCountFor(std::string_view key, const fs::path& folder);

// A new name for a user folder must be one plain directory name that is not a standard
// folder name (that directory would vanish from the tree).
bool fIsValidFolderName(std::string_view name);

// Timer period in milliseconds from "AutoTime" and "second"; 0 = no timer.
long fAutoTimerPeriod(long autoTime, long second);
// The lower bound first, then the upper one, which wins when both cannot hold.
int fClampSplit(int value, int lower, int upper);

}  // namespace folderTree
