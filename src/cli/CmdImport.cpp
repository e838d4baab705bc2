// smsconf-cli import INPUT -o PROJECT: restores a lost project from the
// image or the firmware source that an export of it wrote.

#include "cli/Command.h"
#include "files/AtomicFile.h"
#include "files/FileSystem.h"
#include "model/ProjectImport.h"
#include "text/Cp1251.h"

#include <iostream>
#include <new>
#include <stdexcept>

namespace smsconf::cli {

namespace {

struct ImportOptions {
  std::string Input;
  std::string Project;
  bool Force = false;
};

// The input is never replaced, --force or not: it may be all that is left.
void CheckTarget(const ImportOptions& options) {
  if (SameExistingFile(options.Input, options.Project).value_or(false)) {
    ThrowCannotCreate(options.Project, "it is the file being imported");
  }
  if (!options.Force && KindOf(options.Project) != FileKind::None) {
    ThrowCannotCreate(options.Project, "it exists; --force replaces it");
  }
}

int RunImport(const ImportOptions& options) {
  return Guarded(options.Input, ExitFailure, [&] {
    CheckTarget(options);
    const ProjectImport import = ImportProjectFile(options.Input);
    WriteFileAtomically(options.Project, import.FileText);
    for (const text::Message& note : import.Notes) {
      std::cerr << "note: " << text::Cp1251ToTerminal(note.Render(text::Language::English, text::Charset::Cp1251))
                << '\n';
    }
    std::cout << "Restored " << options.Project << " from " << import.ImageSize << " bytes of image: "
              << import.Project.Events.size() << " events." << std::endl;
    return ExitOk;
  });
}

}  // namespace

std::function<int()> SetupImport(CLI::App& app) {
  auto options = std::make_shared<ImportOptions>();
  CLI::App* sub = app.add_subcommand(
      "import", "Restore a project file from a configuration image or its firmware source");
  sub->add_option("INPUT", options->Input, "Configuration image or firmware source, told apart by content")
      ->required();
  sub->add_option("-o,--output", options->Project, "Project file (.sms) to write")->required();
  sub->add_flag("--force", options->Force, "Replace the project file if it exists");
  return [options] { return RunImport(*options); };
}

}  // namespace smsconf::cli
