// Search over a program folder's store, and the index behind it.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/command.h"
#include "mail/json.h"
#include "search/index.h"
#include "store/mailstore.h"

namespace {

int runSearch(const std::vector<std::string>& args) {
  if (args.size() != 2) {
    std::fprintf(stderr, "usage: quillbrook-mail search PROGRAMDIR TEXT\n");
    return qbmail::kUsageError;
  }
  const auto program = mailstore::fPath(args[0]);
  // An index is used when there is one; none is made here.
  std::error_code ec;
  std::optional<search::MailIndex> index;
  if (std::filesystem::exists(search::fIndexFile(program), ec)) index.emplace(search::fIndexFile(program));
  const search::StoreHits hits = search::fSearchStore(program, index ? &*index : nullptr, args[1]);
  std::string out = "[";
  for (const auto& path : hits.paths) {
    if (out.size() > 1) out += ',';
    out += mail::json::fString(mailstore::fUtf8(path));
  }
  std::printf("%s]\n", out.c_str());
  return 0;
}

int runIndex(const std::vector<std::string>& args) {
  if (args.size() != 1) {
    std::fprintf(stderr, "usage: quillbrook-mail index PROGRAMDIR\n");
    return qbmail::kUsageError;
  }
  const auto program = mailstore::fPath(args[0]);
  search::MailIndex index(search::fIndexFile(program));
  const bool ok = index.fSync(search::fStoreFolders(program));
  std::printf("{\"ok\":%s,\"bytes\":%ju}\n", ok ? "true" : "false", index.fFileSize());
  return ok ? 0 : 1;
}

const qbmail::CommandRegistration searchCommand({"search", "PROGRAMDIR TEXT", runSearch});
const qbmail::CommandRegistration indexCommand({"index", "PROGRAMDIR", runIndex});

}  // namespace
