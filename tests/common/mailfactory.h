#pragma once
// Real messages for the window tests, written as a mail server would have sent them.
#include <iconv.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "store/mailstore.h"

namespace mailfactory {

namespace fs = std::filesystem;

struct Attachment {
  std::string name;
  std::string content;
};

inline fs::path write(const fs::path& folder, const std::string& name, const std::string& bytes) {
  fs::create_directories(folder);
  fs::path file = folder / mailstore::fPath(name);
  std::ofstream(file, std::ios::binary) << bytes;
  return file;
}

// A plain or multipart/mixed message; the subject is sent as an encoded word.
inline std::string message(const std::string& subjectB64, const std::string& from, const std::string& to,
                           const std::string& date, const std::string& body,
                           const std::vector<Attachment>& files = {}) {
  std::string m = "From: " + from + "\r\nTo: " + to + "\r\nSubject: =?UTF-8?B?" + subjectB64 +
                  "?=\r\nDate: " + date + "\r\nMIME-Version: 1.0\r\n";
  if (files.empty()) return m + "Content-Type: text/plain; charset=UTF-8\r\n\r\n" + body + "\r\n";
  m += "Content-Type: multipart/mixed; boundary=\"BOUND\"\r\n\r\n--BOUND\r\n"
       "Content-Type: text/plain; charset=UTF-8\r\n\r\n" + body + "\r\n";
  for (const Attachment& a : files) {
    m += "--BOUND\r\nContent-Type: application/octet-stream\r\nContent-Disposition: attachment; filename=\"" +
         a.name + "\"\r\n\r\n" + a.content + "\r\n";
  }
  return m + "--BOUND--\r\n";
}

// A message with an ASCII subject (no encoded word needed).
inline std::string simple(const std::string& subject, const std::string& from, const std::string& date,
                          const std::string& body = "body") {
  return "From: " + from + "\r\nTo: me@example.jp\r\nSubject: " + subject + "\r\nDate: " + date +
         "\r\n\r\n" + body + "\r\n";
}

inline std::string toEucJp(const std::string& utf8) {
  iconv_t cd = iconv_open("EUC-JP", "UTF-8");
  std::string out(utf8.size() * 2 + 16, '\0');
  char* in = const_cast<char*>(utf8.data());
  size_t inLeft = utf8.size();
  char* o = out.data();
  size_t outLeft = out.size();
  iconv(cd, &in, &inLeft, &o, &outLeft);
  iconv_close(cd);
  out.resize(out.size() - outLeft);
  return out;
}

// A mail file the library cannot read: a name that leads to bytes no read can get.
inline fs::path unreadable(const fs::path& folder, const std::string& name) {
  fs::create_directories(folder);
  fs::path file = folder / name;
  fs::create_symlink("/proc/self/mem", file);
  return file;
}

}  // namespace mailfactory
