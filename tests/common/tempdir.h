#pragma once
// A fresh folder in the system's temp folder for one test, removed with everything in it
// when the test ends (also what the test made read-only or unreadable).
#include <filesystem>
#include <random>
#include <string>
#include <string_view>

namespace qbtest {

class TempDir {
 public:
  explicit TempDir(std::string_view tag = "qbtest",
                   const std::filesystem::path& parent = std::filesystem::temp_directory_path()) {
    std::random_device rd;
    path_ = parent / (std::string(tag) + "-" + std::to_string(rd()) + std::to_string(rd()));
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    namespace fs = std::filesystem;
    std::error_code ec;
    for (fs::recursive_directory_iterator
             it(path_, fs::directory_options::skip_permission_denied, ec),
         end;
         !ec && it != end; it.increment(ec)) {
      std::error_code ignored;
      if (it->is_directory(ignored) && !it->is_symlink(ignored))
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string str() const { return path_.string(); }
  // A path below the folder, the name given in UTF-8.
  std::filesystem::path operator/(std::string_view name) const {
    return path_ / std::filesystem::path(std::u8string(name.begin(), name.end()));
  }

 private:
  std::filesystem::path path_;
};

}  // namespace qbtest
