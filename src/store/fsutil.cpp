#include "store/fsutil.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <random>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace fsutil {
namespace {

std::string uniqueSuffix() {
  static std::atomic<unsigned> counter{0};
  thread_local std::mt19937_64 rng{std::random_device{}()};
  char buf[48];
  std::snprintf(buf, sizeof buf, "%llx%x", static_cast<unsigned long long>(rng() & 0xFFFFFFFFFFull),
                counter.fetch_add(1));
  return buf;
}

#ifndef _WIN32
bool writeAll(int fd, std::string_view bytes) {
  const char* p = bytes.data();
  size_t left = bytes.size();
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
  return true;
}
#endif

}  // namespace

std::optional<std::string> fReadFile(const fs::path& path) {
  bool missing = false;
  return fReadFile(path, missing);
}

std::optional<std::string> fReadFile(const fs::path& path, bool& missing) {
  missing = false;
#ifdef _WIN32
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    // A file held open by another program fails here too; only a free name is missing.
    std::error_code ec;
    missing = fs::symlink_status(path, ec).type() == fs::file_type::not_found;
    return std::nullopt;
  }
  std::string bytes;
  in.seekg(0, std::ios::end);
  auto size = in.tellg();
  if (size > 0) {
    bytes.resize(static_cast<size_t>(size));
    in.seekg(0);
    in.read(bytes.data(), size);
    bytes.resize(static_cast<size_t>(in.gcount()));
  }
  if (in.bad()) return std::nullopt;
  return bytes;
#else
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    // A dangling link is missing too: writing replaces the link, not its target.
    missing = errno == ENOENT;
    return std::nullopt;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(fd);
    return std::nullopt;
  }
  // The size is a hint: files that report none (/proc) or change meanwhile are read to
  // their end all the same.
  std::string bytes;
  bytes.resize(st.st_size > 0 ? static_cast<size_t>(st.st_size) + 1 : 4096);
  size_t used = 0;
  bool failed = false;
  while (true) {
    if (used == bytes.size()) bytes.resize(bytes.size() * 2);
    ssize_t n = ::read(fd, bytes.data() + used, bytes.size() - used);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) failed = true;
    if (n <= 0) break;
    used += static_cast<size_t>(n);
  }
  ::close(fd);
  if (failed) return std::nullopt;
  bytes.resize(used);
  return bytes;
#endif
}

std::optional<fs::path> fWriteTempFile(const fs::path& folder, std::string_view bytes, bool sync,
                                       std::string_view tempPrefix) {
  for (int attempt = 0; attempt < 16; ++attempt) {
    fs::path tmp = folder / (std::string(tempPrefix) + uniqueSuffix() + ".tmp.ini");
#ifdef _WIN32
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    if (!out) return std::nullopt;
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.flush();
    if (!out) {
      out.close();
      std::error_code ec;
      fs::remove(tmp, ec);
      return std::nullopt;
    }
    (void)sync;
    return tmp;
#else
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return std::nullopt;
    }
    bool ok = writeAll(fd, bytes) && (!sync || ::fsync(fd) == 0);
    ok = (::close(fd) == 0) && ok;
    if (!ok) {
      ::unlink(tmp.c_str());
      return std::nullopt;
    }
    return tmp;
#endif
  }
  return std::nullopt;
}

bool fWriteFileAtomic(const fs::path& path, std::string_view bytes, std::string_view tempPrefix) {
  fs::path folder = path.parent_path();
  if (folder.empty()) folder = ".";
  auto tmp = fWriteTempFile(folder, bytes, true, tempPrefix);
  if (!tmp) return false;
  std::error_code ec;
  fs::rename(*tmp, path, ec);
  if (ec) {
    fs::remove(*tmp, ec);
    return false;
  }
  return true;
}

bool fRenameNoReplace(const fs::path& from, const fs::path& to) {
#ifdef _WIN32
  return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_COPY_ALLOWED) != 0;
#else
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  int err = errno;
  if (err == EEXIST) return false;
  if (err == EINVAL || err == ENOSYS) {
    // The file system cannot rename without replacing: a hard link fails when taken.
    if (::link(from.c_str(), to.c_str()) == 0) {
      ::unlink(from.c_str());
      return true;
    }
    if (errno != EXDEV && errno != EPERM) return false;
    err = EXDEV;
  }
  if (err != EXDEV) return false;
  // Another file system: copy (never over an existing file), then remove the source.
  std::error_code ec;
  if (fs::is_directory(from, ec)) return false;
  auto bytes = fReadFile(from);
  if (!bytes) return false;
  auto tmp = fWriteTempFile(to.parent_path().empty() ? fs::path(".") : to.parent_path(), *bytes, true);
  if (!tmp) return false;
  if (::link(tmp->c_str(), to.c_str()) != 0) {
    ::unlink(tmp->c_str());
    return false;
  }
  ::unlink(tmp->c_str());
  ::unlink(from.c_str());
  return true;
#endif
}

void sMakeNewFilesPrivate() {
#ifndef _WIN32
  ::umask(077);
#endif
}

void sSyncFolder(const fs::path& folder) {
#ifndef _WIN32
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
#else
  (void)folder;
#endif
}

}  // namespace fsutil
