// Times opening, saving and re-opening a project file of 10,000 events.
// Usage: bench_project_file [EVENTS]

#include "model/Project.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

double Seconds(const std::chrono::steady_clock::duration& d) {
  return std::chrono::duration<double>(d).count();
}

template <typename F>
double Time(F&& work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return Seconds(std::chrono::steady_clock::now() - start);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace smsconf;
  const int events = argc > 1 ? std::atoi(argv[1]) : 10000;
  const std::string path =
      (std::filesystem::temp_directory_path() / "smsconf-bench-project.sms").string();
  std::filesystem::remove(path);

  CProject project;
  project.FileName = path;
  for (int i = 0; i < 8; ++i) project.Phones->Get(i)->Number = "+7000000000" + std::to_string(i);
  for (int i = 0; i < events; ++i) {
    auto event = std::make_unique<CEvent>();
    event->Pin = i % 32;
    event->Neg = i % 2;
    event->Delay = i % 3600;
    event->Send = static_cast<std::uint8_t>(i);
    event->Text = "Event text number " + std::to_string(i);
    project.Events->Add(std::move(event));
  }

  const double firstSave = Time([&] { project.Save(); });
  CProject reopened;
  reopened.FileName = path;
  const double open = Time([&] { reopened.Load(); });
  const double resave = Time([&] { reopened.Save(); });
  const double reopen = Time([&] { reopened.Load(); });

  std::printf("project file with %d events, %ju bytes\n", reopened.Events->Count(),
              static_cast<std::uintmax_t>(std::filesystem::file_size(path)));
  std::printf("  save to a new file   %8.3f s\n", firstSave);
  std::printf("  open                 %8.3f s\n", open);
  std::printf("  save over the file   %8.3f s\n", resave);
  std::printf("  re-open              %8.3f s\n", reopen);
  std::printf("  open + save + re-open %7.3f s (target: well under 1 s)\n", open + resave + reopen);
  std::filesystem::remove(path);
  return 0;
}
