#pragma once
// Which server messages an inbox already holds, so that "keep on server" fetches only
// new mail and a run cut off half way neither loses nor saves a message twice.
//
// Two files beside the inbox, in the folder that holds it (the account folder), named
// after it: the list ".<inbox>.uidl.ini", replaced atomically at the end of a run, and
// the journal ".<inbox>.uidl-journal.ini", to which a line "key TAB uid TAB file" is
// appended just before a message's file gets its final name. Kept out of the inbox and
// ending in ".ini", no reader of the store takes them for mail, even one that shows
// hidden files or lists the account folder. A journal left by a killed run is read back:
// an entry counts as received when its file exists, or when a line "TAB moved TAB file"
// says the caller moved it on.
//
// Earlier versions kept ".qbuidl" and ".qbuidl.journal" inside the inbox: the first run
// moves them out, and merges them when both places hold a list.
#include <filesystem>
#include <set>
#include <string>
#include <string_view>

namespace mail {

// Names of the receiving run's own temporaries beside the inbox (saved mails not yet
// renamed, the list being replaced); the next run removes any a killed run left.
inline constexpr std::string_view kReceiveTempPrefix = ".qbrcv-";

class UidlStore {
 public:
  // `key` tells accounts sharing an inbox apart (user and host).
  UidlStore(std::filesystem::path folder, std::string key);

  void load();
  bool known(const std::string& uid) const;
  // Journals the intent to store `uid` under `fileName`; false when the journal cannot
  // be written (the message must then not be stored).
  bool fJournal(const std::string& uid, const std::string& fileName);
  void markReceived(const std::string& uid) { fresh_.insert(uid); }
  // Writes the list: other keys' lines, this key's earlier UIDs still on the server
  // (all of them when `onServer` is null) and the new ones. Removes the journal.
  bool fCommit(const std::set<std::string>* onServer);

  static std::filesystem::path listPath(const std::filesystem::path& folder);
  static std::filesystem::path journalPath(const std::filesystem::path& folder);
  // Where the bookkeeping of `folder` lives: the folder that holds it.
  static std::filesystem::path fHomeFolder(const std::filesystem::path& folder);
  // The journal line that says a saved file was moved out of the folder.
  static std::string movedLine(std::string_view fileName);

 private:
  std::filesystem::path folder_;
  std::string key_;
  std::string otherLines_;      // lines of other keys, kept as they are
  std::set<std::string> old_;   // this key's UIDs from the list
  std::set<std::string> fresh_; // received in this run or recovered from the journal
  int journalFd_ = -1;
  bool legacyLeft_ = false;     // the inbox still holds a list or journal to remove

 public:
  ~UidlStore();
  UidlStore(const UidlStore&) = delete;
  UidlStore& operator=(const UidlStore&) = delete;
};

}  // namespace mail
