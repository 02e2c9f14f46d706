#pragma once
// Scratch folders and file bytes for the store tests.
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <string_view>

#include "../common/tempdir.h"
#include "store/fsutil.h"

using qbtest::TempDir;

inline void writeBytes(const std::filesystem::path& p, std::string_view bytes) {
  std::filesystem::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string readBytes(const std::filesystem::path& p) {
  return fsutil::fReadFile(p).value_or("<missing>");
}
