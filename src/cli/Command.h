#pragma once

#include <CLI/CLI.hpp>

#include <functional>
#include <string>

namespace smsconf::cli {

// Exit statuses shared by every command.
inline constexpr int ExitOk = 0;
inline constexpr int ExitFailure = 1;
inline constexpr int ExitUsage = 2;

// One command of smsconf-cli. Setup adds the subcommand and its options to
// the application and returns the function that runs it once the command
// line has been parsed; that function returns the exit status.
struct Command {
  int Order;  // position in the help listing
  std::function<std::function<int()>(CLI::App& app)> Setup;
};

// Called from a namespace-scope initialiser in each command's source file.
bool RegisterCommand(Command command);

}  // namespace smsconf::cli
