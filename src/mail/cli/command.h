#pragma once
// The driver's dispatch table. Each command lives in its own file and adds itself with a
// static CommandRegistration, so new commands need no change to the main program.
#include <string>
#include <string_view>
#include <vector>

namespace qbmail {

struct Command {
  std::string_view name;
  std::string_view usage;  // the arguments, for the help text
  // Runs with the arguments after the command name; the process exit code.
  int (*run)(const std::vector<std::string>& args);
};

std::vector<Command>& fCommands();

struct CommandRegistration {
  explicit CommandRegistration(Command command) { fCommands().push_back(command); }
};

// Exit code for wrong arguments.
inline constexpr int kUsageError = 2;

}  // namespace qbmail
