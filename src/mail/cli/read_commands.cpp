// The read commands: one message, or every mail file of a folder (one JSON line each,
// in file-name order so the output is stable).
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/command.h"
#include "mail/json.h"
#include "mail/mail.h"
#include "store/mailstore.h"

namespace {

void printLine(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
}

int runRead(const std::vector<std::string>& args) {
  if (args.size() != 3) {
    std::fprintf(stderr, "usage: quillbrook-mail read FILE KEYS FOLDER\n");
    return qbmail::kUsageError;
  }
  printLine(mail::json::fResult(mail::ReadMail(args[0], args[1], args[2])));
  return 0;
}

int runReadDir(const std::vector<std::string>& args) {
  if (args.size() != 2) {
    std::fprintf(stderr, "usage: quillbrook-mail read-dir DIR KEYS\n");
    return qbmail::kUsageError;
  }
  auto files = mailstore::fListMailFiles(mailstore::fPath(args[0]));
  std::sort(files.begin(), files.end());
  for (const auto& file : files) {
    printLine(mail::json::fResult(mail::ReadMail(mailstore::fUtf8(file), args[1], args[0])));
  }
  return 0;
}

const qbmail::CommandRegistration readCommand({"read", "FILE KEYS FOLDER", runRead});
const qbmail::CommandRegistration readDirCommand({"read-dir", "DIR KEYS", runReadDir});

}  // namespace
