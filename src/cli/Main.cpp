#include "cli/Command.h"
#include "cli/Console.h"
#include "image/AtomicFile.h"

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <vector>

namespace smsconf::cli {

namespace {

std::vector<Command>& Registry() {
  static std::vector<Command> commands;
  return commands;
}

}  // namespace

bool RegisterCommand(Command command) {
  Registry().push_back(std::move(command));
  return true;
}

}  // namespace smsconf::cli

int main(int argc, char** argv) {
  using namespace smsconf::cli;
  smsconf::IgnoreFileSizeLimitSignal();
  PrepareConsole();

  CLI::App app{"smsconf-cli: headless tools for SMS alarm unit configurations"};
  app.require_subcommand(1);
  app.fallthrough(false);
  // Paths like /tmp/x are arguments, never options, on every system.
  app.allow_windows_style_options(false);

  auto commands = Registry();
  std::sort(commands.begin(), commands.end(),
            [](const Command& a, const Command& b) { return a.Order < b.Order; });

  std::vector<std::pair<CLI::App*, std::function<int()>>> runners;
  for (const Command& command : commands) {
    const std::size_t before = app.get_subcommands({}).size();
    std::function<int()> run = command.Setup(app);
    auto subcommands = app.get_subcommands({});
    if (subcommands.size() > before) runners.emplace_back(subcommands.back(), std::move(run));
  }

  const std::vector<std::string> arguments = Utf8Arguments(argc, argv);
  std::vector<const char*> pointers;
  for (const std::string& argument : arguments) pointers.push_back(argument.c_str());
  try {
    app.parse(static_cast<int>(pointers.size()), pointers.data());
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return ExitUsage;
  }

  for (auto& [sub, run] : runners) {
    if (sub->parsed()) return run();
  }
  return ExitUsage;
}
