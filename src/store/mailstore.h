#pragma once
// The mail store on disk: MailBox/AccountNN folders, their standard folders and user
// folders, one file per mail, and each folder's icon.ini holding the read state.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace mailstore {

namespace fs = std::filesystem;

inline constexpr std::string_view kInbox = "受信箱";
inline constexpr std::string_view kSent = "送信箱";
inline constexpr std::string_view kTrash = "ごみ箱";
inline constexpr std::string_view kDrafts = "下書き";
inline constexpr std::string_view kPending = "送信待ち";
inline constexpr int kMaxAccounts = 99;
// icon.ini values: the mail list's icon numbers.
inline constexpr std::string_view kStateUnread = "5";
inline constexpr std::string_view kStateRead = "6";

// A UTF-8 text as a path (and back), whatever the platform's narrow encoding.
fs::path fPath(std::string_view utf8);
// A folder's path in normal form, without a trailing separator: one folder, one spelling.
fs::path fNormalFolder(const fs::path& folder);
std::string fUtf8(const fs::path& path);

// A file's path split as written, without building paths: the folder part ("a/b" of
// "a/b/c.eml"; the root keeps its separator) and the name. Many mails of one folder are
// filed at a time, and taking a path apart costs more than the filing's own work.
using NativeView = std::basic_string_view<fs::path::value_type>;
// Lets maps keyed by path strings be searched with a NativeView.
struct NativeHash {
  using is_transparent = void;
  std::size_t operator()(NativeView s) const { return std::hash<NativeView>{}(s); }
};
NativeView fFolderView(const fs::path& file);
NativeView fNameView(const fs::path& file);
std::string fUtf8(NativeView native);

bool fIsStandardFolderName(std::string_view name);

// "<programDir>/MailBox/Account": the prefix every account folder starts with.
fs::path fAccountPrefix(const fs::path& programDir);
// The account folder: the prefix followed directly by the two-digit number.
fs::path fAccountFolder(const fs::path& accountPrefix, int number);
std::string fAccountNumberText(int number);
// A node's folder: the account folder and the node's path below the account node,
// written with "\" as the tree writes it.
fs::path fNodeFolder(const fs::path& accountPrefix, int number, std::string_view pathBelowAccount);

// A mail file is a regular, non-hidden file whose extension is not "ini" (in any case).
// On Linux a name starting with "." is hidden.
bool fIsMailFileName(std::string_view name);
// The mail files directly in a folder (no recursion), in directory order.
std::vector<fs::path> fListMailFiles(const fs::path& folder);

// A mail file's name with what tells one version of the file from another: any write
// moves its change time (which no program can set back), a replacement its inode.
// Where the platform keeps no change time or inode they stay 0.
struct MailFileState {
  std::string name;
  std::uint64_t size = 0, ino = 0;
  std::int64_t mtime = 0, ctime = 0;  // nanoseconds
  bool full = false;                  // all of the above were looked up (else the inode alone)
};
// The listing with what the folder's own entries tell at no further cost: the names
// and, where the platform lists them, the inodes (elsewhere the whole state).
std::vector<MailFileState> listMailFileIds(const fs::path& folder);
// The states of these files of `folder` (by name) looked up now; the gone ones left out.
std::vector<MailFileState> statMailFiles(const fs::path& folder, std::vector<MailFileState> files);
// The account folder ("MailBox/AccountNN") a folder lies in; empty when it lies in none.
fs::path fAccountFolderOf(const fs::path& folder);

// The names of the folders directly in `dir` (links to folders too), hidden ones left
// out, in directory order. Where the file system's link count of a folder tells that it
// holds no real folder, it is not listed (a link to a folder in it is then not seen).
std::vector<std::string> fListFolderNames(const fs::path& dir);

// Account numbers from 1 upward, stopping at the first missing folder.
std::vector<int> fScanAccounts(const fs::path& accountPrefix);
// The lowest number whose folder does not exist; 0 when all 99 exist.
int fFreeAccountNumber(const fs::path& accountPrefix);
// Creates the account folder with its five standard folders. The number is the lowest
// free one; 0 when all 99 exist or the folders cannot be created.
int fCreateAccount(const fs::path& accountPrefix);
// Deletes an account folder with everything in it and renumbers the following
// accounts down so that no gap remains. False when the folder could not be removed
// completely: then nothing is renumbered.
bool fDeleteAccount(const fs::path& accountPrefix, int number);

// A user folder name that is safe as one directory name on every platform: not empty,
// not "." or "..", no path separator, none of <>:"|?* and no control character, no
// trailing dot or space, not a reserved device name (CON, NUL, COM1, ...).
bool fIsValidFolderName(std::string_view name);
// Creates a user folder `name` inside `parent`. False for an invalid name, a name that
// exists, or a failed creation; nothing is created then.
bool fCreateFolder(const fs::path& parent, std::string_view name);
// Deletes a folder with everything in it. False when anything is left.
bool fDeleteFolder(const fs::path& folder);

// Unread mails in a folder (icon.ini value other than 6), reading icon.ini once.
int fCountUnread(const fs::path& folder);
// Every mail in the folder, read or not (the trash's count).
int fCountFiles(const fs::path& folder);
// Either count (all mails when `allMails`), with what the listing met: how many entries
// it read (the work done) and whether the count rests on the folder's own entries and
// icon.ini alone (`plain`: no mail is a link to a file elsewhere).
struct FolderCount {
  int count = 0;
  int entries = 0;
  bool plain = true;
};
FolderCount fCountFolder(const fs::path& folder, bool allMails);

bool fIsRead(const fs::path& folder, std::string_view fileName);
// Writes "Icon"/fileName = "6" in the folder's icon.ini.
bool sMarkRead(const fs::path& folder, std::string_view fileName);

// Moves mails into the target folder under the same names, each with its icon.ini
// state ("5" unread, "6" read). A mail whose move fails (name taken in the target,
// file gone, no permission) stays where it is with its state; nothing is overwritten.
// Returns the mails that did not move.
std::vector<fs::path> fMoveMails(const std::vector<fs::path>& mails, const fs::path& target);
// Deletes mails for good and removes their icon.ini entries. Returns those not deleted.
std::vector<fs::path> fDeleteMails(const std::vector<fs::path>& mails);
// Deletes everything in the account's trash and clears its icon.ini section.
bool fEmptyTrash(const fs::path& accountFolder);

}  // namespace mailstore
