#pragma once
// File operations with the guarantees the store relies on: whole files replaced
// atomically, moves that never overwrite, reads that report failure.
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace fsutil {

// The whole file, or nothing when it cannot be read.
std::optional<std::string> fReadFile(const std::filesystem::path& path);
// The same, telling the two kinds of nothing apart: `missing` is set when there is no
// file at that path (nothing to lose), cleared when one is there but could not be read
// (a directory, no permission, an I/O error).
std::optional<std::string> fReadFile(const std::filesystem::path& path, bool& missing);

// Replaces (or creates) the file with `bytes`: written to a hidden temporary name in the
// same folder, flushed to disk, then renamed over the target. A crash or a full disk
// leaves either the old file or the new one, never a truncated one. The temporary name
// is `tempPrefix` + hex digits + ".tmp.ini" (a writer that cleans up after itself names
// its own): ending in ".ini", one left by a crash in a mail folder is never taken for a
// mail.
bool fWriteFileAtomic(const std::filesystem::path& path, std::string_view bytes,
                      std::string_view tempPrefix = ".");

// Writes `bytes` under a hidden temporary name in `folder` and flushes it when `sync`.
// Returns the temporary path, or nothing on failure (no file left behind).
std::optional<std::filesystem::path> fWriteTempFile(const std::filesystem::path& folder,
                                                    std::string_view bytes, bool sync,
                                                    std::string_view tempPrefix = ".");

// Renames `from` to `to` only when `to` does not exist. False (and `from` untouched)
// when the target is taken or the rename fails. Falls back to copy and remove across
// file systems.
bool fRenameNoReplace(const std::filesystem::path& from, const std::filesystem::path& to);

// Everything the process creates from now on is its user's alone (files 0600, folders
// 0700): mail, settings and the log hold passwords and private text. Files that exist
// keep their modes until they are rewritten.
void sMakeNewFilesPrivate();

// Flushes a folder's entries (after renames into it), so the names survive a crash.
void sSyncFolder(const std::filesystem::path& folder);

}  // namespace fsutil
