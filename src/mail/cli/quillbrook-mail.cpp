// quillbrook-mail: runs the mail library from the command line and prints its results
// as JSON, for diagnostics, benchmarks and scripts.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/command.h"

namespace qbmail {

std::vector<Command>& fCommands() {
  static std::vector<Command> commands;
  return commands;
}

}  // namespace qbmail

namespace {

void printUsage() {
  auto commands = qbmail::fCommands();
  std::sort(commands.begin(), commands.end(),
            [](const qbmail::Command& a, const qbmail::Command& b) { return a.name < b.name; });
  std::fprintf(stderr, "usage:\n");
  for (const auto& c : commands) {
    std::fprintf(stderr, "  quillbrook-mail %.*s %.*s\n", static_cast<int>(c.name.size()),
                 c.name.data(), static_cast<int>(c.usage.size()), c.usage.data());
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    printUsage();
    return qbmail::kUsageError;
  }
  std::string name = argv[1];
  for (const auto& command : qbmail::fCommands()) {
    if (command.name == name) return command.run(std::vector<std::string>(argv + 2, argv + argc));
  }
  std::fprintf(stderr, "unknown command: %s\n", name.c_str());
  printUsage();
  return qbmail::kUsageError;
}
