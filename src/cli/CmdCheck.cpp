// smsconf-cli check PROJECT: lists every place where a project file does not
// mean what it seems to, one line each.

#include "cli/Command.h"
#include "cli/FindingText.h"
#include "model/ProjectCheck.h"

#include <iostream>
#include <new>

namespace smsconf::cli {

namespace {

int RunCheck(const std::string& path) {
  return Guarded(path, ExitFailure, [&] {
    const std::vector<ProjectFinding> findings = CheckProjectFile(path);
    for (const ProjectFinding& finding : findings) std::cout << FindingText(path, finding) << '\n';
    return findings.empty() ? ExitOk : ExitFailure;
  });
}

}  // namespace

std::function<int()> SetupCheck(CLI::App& app) {
  auto path = std::make_shared<std::string>();
  CLI::App* sub = app.add_subcommand(
      "check", "List every place where a project file does not mean what it seems to (exit 1 if any)");
  sub->add_option("PROJECT", *path, "Project file (.sms)")->required();
  return [path] { return RunCheck(*path); };
}

}  // namespace smsconf::cli
