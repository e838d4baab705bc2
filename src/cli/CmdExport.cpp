// smsconf-cli export: compiles a project file into the image and the
// firmware source, as the main window's export does.

#include "cli/Command.h"
#include "cli/FindingText.h"
#include "files/ExportPaths.h"
#include "files/FileBytes.h"
#include "files/FileSystem.h"
#include "model/Project.h"
#include "model/ProjectCheck.h"

#include <cerrno>
#include <iostream>
#include <new>
#include <stdexcept>

namespace smsconf::cli {

namespace {

struct ExportOptions {
  std::string Project;
  std::string Image = DefaultImagePath();
  std::string Source = DefaultSourcePath();
};

// Unlike the GUI, which opens a missing file as a new project, an export
// needs a project file to be there.
void RequireProjectFile(const std::string& path) {
  const FileKind kind = KindOf(path);
  const std::string reason = kind == FileKind::None     ? FileErrorReason(errno)
                             : kind == FileKind::Folder ? FileErrorReason(EISDIR)
                             : kind == FileKind::Other  ? "not a regular file"
                                                        : "";
  if (!reason.empty()) throw std::runtime_error("Cannot open file " + path + ": " + reason);
}

int RunExport(const ExportOptions& options) {
  return Guarded(options.Project, ExitFailure, [&] {
    RequireProjectFile(options.Project);
    // The project compiles as it reads; what it does not say as it seems to
    // is told, and the export goes on.
    for (const ProjectFinding& finding : CheckProjectFile(options.Project)) {
      std::cerr << "warning: " << FindingText(options.Project, finding) << '\n';
    }
    CProject project;
    project.FileName = options.Project;
    project.Load();
    const std::int32_t size = project.Compile(options.Source, options.Image);
    std::cout << "Экспорт конфигурации завершен: " << size << " байт." << std::endl;
    return ExitOk;
  });
}

}  // namespace

std::function<int()> SetupExport(CLI::App& app) {
  auto options = std::make_shared<ExportOptions>();
  CLI::App* sub = app.add_subcommand(
      "export", "Compile a project file into the configuration image and its firmware source");
  sub->add_option("PROJECT", options->Project, "Project file (.sms)")->required();
  sub->add_option("--image", options->Image, "Image file to write")
      ->capture_default_str();
  sub->add_option("--source", options->Source, "Firmware source file to write")
      ->capture_default_str();
  return [options] { return RunExport(*options); };
}

}  // namespace smsconf::cli
