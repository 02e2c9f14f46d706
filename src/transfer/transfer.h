#pragma once
// Bringing mail in from other programs and handing it out: an mbox file, a Maildir or a
// folder of .eml files into a mail folder of the store, and a mail folder out to an mbox
// file or a folder of .eml files. Every message is kept byte for byte.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace transfer {

// Work done and work in all (bytes of an mbox, else messages); false cancels.
using Progress = std::function<bool(std::uint64_t done, std::uint64_t total)>;

struct ImportResult {
  std::size_t stored = 0;
  std::size_t duplicates = 0;  // already in the folder (same Message-ID, or same bytes)
  bool truncated = false;      // the mbox's last message was cut off and not stored
  bool cancelled = false;
  std::string error;           // what stopped the import; empty when it ran through
  std::vector<std::filesystem::path> paths;  // the mails stored
};

// Stores each message of `source` in `folder` as a received mail is stored: a new file
// named as the receiving names them, unread unless the source marks it read. Mails are
// written to a temporary name and renamed, so whatever stops the import leaves whole
// mails only; a message whose Message-ID (or, without one, whose bytes) the folder
// already holds is not stored again.
ImportResult fImport(const std::filesystem::path& source, const std::filesystem::path& folder,
                     const Progress& progress = {});

struct ExportResult {
  std::size_t exported = 0;
  bool cancelled = false;
  std::string error;
};

// A target ending in ".mbox" becomes an mbox file (written whole under a temporary name,
// then renamed; an existing file is not replaced); any other target a folder of .eml
// files with the folder's read states in its icon.ini.
ExportResult fExport(const std::filesystem::path& folder, const std::filesystem::path& target,
                     const Progress& progress = {});

}  // namespace transfer
