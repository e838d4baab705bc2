#include "cli/Command.h"
#include "cli/Console.h"
#include "files/AtomicFile.h"
#include "files/FileBytes.h"
#include "version/Version.h"

#include <cerrno>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

namespace smsconf::cli {

namespace {

// Every command, in the order of the help listing.
constexpr CommandSetup Commands[] = {SetupCheck, SetupExport, SetupDump, SetupLoad, SetupProbe, SetupSimulate,
                                     SetupFleet, SetupImport, SetupDiff};

// Output that did not all arrive (a full disk, a reader that has gone) fails
// the command, whatever it did besides; the reason comes from the last
// flush, or from what the system still tells.
int CheckOutput(int status) {
  errno = 0;
  std::cout.flush();  // through stdout, whose flush sets errno
  int error = errno;
  if (std::fflush(stdout) != 0) error = errno;
  if (std::ferror(stdout) == 0 && !std::cout.fail()) return status;
  if (error == 0) error = OutputErrorNow();
  std::string message = "smsconf-cli: cannot write the output";
  if (error != 0) message += ": " + smsconf::FileErrorReason(error);
  std::fprintf(stderr, "%s\n", message.c_str());
  return status != ExitOk ? status : ExitFailure;
}

}  // namespace

}  // namespace smsconf::cli

int main(int argc, char** argv) {
  using namespace smsconf::cli;
  smsconf::IgnoreFileSizeLimitSignal();
  PrepareConsole();

  CLI::App app{"smsconf-cli: headless tools for SMS alarm unit configurations"};
  app.set_version_flag("--version", std::string("smsconf-cli ") + smsconf::VersionText(),
                       "Print the version and exit");
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
  } catch (const CLI::Success& e) {  // --help or --version, printed by exit()
    return CheckOutput(app.exit(e));
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return ExitUsage;
  }

  for (auto& [sub, run] : runners) {
    if (sub->parsed()) return CheckOutput(run());
  }
  return ExitUsage;
}
