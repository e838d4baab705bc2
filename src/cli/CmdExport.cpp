// smsconf-cli export: compiles a project file into the image and the
// firmware source, as the main window's export does.

#include "cli/Command.h"
#include "image/ExportPaths.h"
#include "model/Project.h"
#include "text/Cp1251.h"

#include <filesystem>
#include <iostream>

namespace smsconf::cli {

namespace {

struct ExportOptions {
  std::string Project;
  std::string Image = DefaultImagePath();
  std::string Source = DefaultSourcePath();
};

int RunExport(const ExportOptions& options) {
  try {
    std::error_code error;
    if (!std::filesystem::is_regular_file(options.Project, error)) {
      throw std::runtime_error("Cannot open file " + options.Project);
    }
    CProject project;
    project.FileName = options.Project;
    project.Load();
    const std::int32_t size = project.Compile(options.Source, options.Image);
    std::cout << "Экспорт конфигурации завершен: " << size << " байт." << std::endl;
    return ExitOk;
  } catch (const std::exception& e) {
    // Paths and texts from the model are Windows-1251 bytes.
    std::cerr << text::Cp1251ToUtf8(e.what()) << std::endl;
    return ExitFailure;
  }
}

const bool Registered = RegisterCommand({10, [](CLI::App& app) {
  auto options = std::make_shared<ExportOptions>();
  CLI::App* sub = app.add_subcommand(
      "export", "Compile a project file into the configuration image and its firmware source");
  sub->add_option("PROJECT", options->Project, "Project file (.sms)")->required();
  sub->add_option("--image", options->Image, "Image file to write")
      ->capture_default_str();
  sub->add_option("--source", options->Source, "Firmware source file to write")
      ->capture_default_str();
  return [options] { return RunExport(*options); };
}});

}  // namespace

}  // namespace smsconf::cli
