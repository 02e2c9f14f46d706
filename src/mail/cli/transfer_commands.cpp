// Import and export: mail from other programs into a folder of the store, and a folder
// out again. Each prints one JSON line with the counts; the exit code is 1 when the run
// stopped on an error.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/command.h"
#include "mail/json.h"
#include "store/mailstore.h"
#include "transfer/transfer.h"

namespace {

int runImport(const std::vector<std::string>& args) {
  if (args.size() != 2) {
    std::fprintf(stderr, "usage: quillbrook-mail import SOURCE FOLDER\n");
    return qbmail::kUsageError;
  }
  const transfer::ImportResult r =
      transfer::fImport(mailstore::fPath(args[0]), mailstore::fPath(args[1]));
  std::printf("{\"stored\":%zu,\"duplicates\":%zu,\"truncated\":%s,\"error\":%s}\n", r.stored,
              r.duplicates, r.truncated ? "true" : "false", mail::json::fString(r.error).c_str());
  return r.error.empty() ? 0 : 1;
}

int runExport(const std::vector<std::string>& args) {
  if (args.size() != 2) {
    std::fprintf(stderr, "usage: quillbrook-mail export FOLDER TARGET\n");
    return qbmail::kUsageError;
  }
  const transfer::ExportResult r =
      transfer::fExport(mailstore::fPath(args[0]), mailstore::fPath(args[1]));
  std::printf("{\"exported\":%zu,\"error\":%s}\n", r.exported, mail::json::fString(r.error).c_str());
  return r.error.empty() ? 0 : 1;
}

const qbmail::CommandRegistration importCommand({"import", "SOURCE FOLDER", runImport});
const qbmail::CommandRegistration exportCommand({"export", "FOLDER TARGET", runExport});

}  // namespace
