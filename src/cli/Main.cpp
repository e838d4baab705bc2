#include "cli/Command.h"
#include "cli/Console.h"
#include "files/AtomicFile.h"

#include <cstdio>
#include <iostream>
#include <vector>

namespace smsconf::cli {

namespace {

// Every command, in the order of the help listing.
constexpr CommandSetup Commands[] = {SetupCheck, SetupExport, SetupDump, SetupLoad, SetupSimulate};

}  // namespace

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

  std::vector<std::pair<CLI::App*, std::function<int()>>> runners;
  for (const CommandSetup setup : Commands) {
    std::function<int()> run = setup(app);
    runners.emplace_back(app.get_subcommands({}).back(), std::move(run));
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
