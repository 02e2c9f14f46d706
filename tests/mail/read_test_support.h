#pragma once
// Shared pieces of the message-reading tests: a scratch folder and message files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "../common/tempdir.h"
#include "mail/mail.h"

namespace readtest {

// The local time zone set for a test and put back after it (dates are shown in local time).
class LocalZone {
 public:
  explicit LocalZone(const char* tz) {
    if (const char* old = std::getenv("TZ")) saved_ = old;
    setenv("TZ", tz, 1);
    tzset();
  }
  ~LocalZone() {
    if (saved_)
      setenv("TZ", saved_->c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }

 private:
  std::optional<std::string> saved_;
};

namespace fs = std::filesystem;

using qbtest::TempDir;

// LF line ends in the test sources become the CR LF that servers send.
inline std::string crlf(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

inline std::string writeFile(const fs::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return path.string();
}

inline std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

// The array result, or a test failure naming the text that came back instead.
inline std::vector<std::string> readArray(const std::string& file, std::string_view keys,
                                          const std::string& folder) {
  mail::MailResult r = mail::ReadMail(file, keys, folder);
  if (auto* text = std::get_if<std::string>(&r)) {
    ADD_FAILURE() << "ReadMail gave text: " << *text;
    return {};
  }
  return std::get<std::vector<std::string>>(r);
}

// Base64 in lines of 76 characters with CR LF, as mailers write it.
inline std::string base64Lines(std::string_view in) {
  static const char* a = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t line = 0; line < in.size(); line += 57) {
    const size_t end = std::min(in.size(), line + 57);
    for (size_t i = line; i < end; i += 3) {
      unsigned v = static_cast<unsigned char>(in[i]) << 16;
      if (i + 1 < end) v |= static_cast<unsigned char>(in[i + 1]) << 8;
      if (i + 2 < end) v |= static_cast<unsigned char>(in[i + 2]);
      out += a[(v >> 18) & 63];
      out += a[(v >> 12) & 63];
      out += i + 1 < end ? a[(v >> 6) & 63] : '=';
      out += i + 2 < end ? a[v & 63] : '=';
    }
    out += "\r\n";
  }
  return out;
}

// The value after a label, cut by position as the callers do.
inline std::string cut(const std::string& element, size_t labelLength) {
  return element.size() > labelLength ? element.substr(labelLength) : std::string();
}

}  // namespace readtest
