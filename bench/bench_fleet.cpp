// Loads whole simulated sites with the product's fixed pauses and prints how
// the time of a fleet compares with that of one unit alone, measured in the
// same run: 50 gateways with one unit each, side by side, should take little
// longer than one unit (the work is waiting, not computing), and 10 gateways
// with 5 units each about five units' time. Also the processor time the
// runs used and the peak resident memory, which show that no thread spins
// and that the memory stays flat as the fleet grows.

#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "fleet/FleetRun.h"
#include "fleet/Plan.h"
#include "sim/Simulator.h"

namespace {

using namespace smsconf;
using Clock = std::chrono::steady_clock;

// An image the size of a sizeable configuration; no configuration, only
// bytes to carry, so the plan accepts it as damaged.
constexpr std::size_t ImageBytes = 4 * 1024;

struct Figures {
  double WallMs = 0;
  double CpuMs = 0;
  long PeakRssKb = 0;
  int Loaded = 0;
  int Units = 0;
  unsigned Overlaps = 0;
  bool Intact = true;
};

double CpuMs() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto ms = [](const timeval& t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; };
  return ms(usage.ru_utime) + ms(usage.ru_stime);
}

long PeakRssKb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// Runs `gateways` simulated gateways with `units` units each, all loaded
// from one plan with --jobs equal to the gateways.
Figures LoadSite(const std::string& folder, int gateways, int units) {
  std::vector<std::unique_ptr<sim::CSimulator>> site;
  std::string plan = "gateway,unit,image\n";
  for (int g = 0; g < gateways; ++g) {
    sim::SimulatorOptions options;
    options.Port = 0;
    for (int u = 1; u <= units; ++u) options.Units.push_back(options.Unit(static_cast<std::uint8_t>(u)));
    site.push_back(std::make_unique<sim::CSimulator>(options));
    std::string error;
    if (!site.back()->Start(&error)) {
      std::fprintf(stderr, "bench_fleet: simulator: %s\n", error.c_str());
      std::exit(1);
    }
    for (int u = 1; u <= units; ++u)
      plan += "127.0.0.1:" + std::to_string(site.back()->Port()) + "," + std::to_string(u) + ",image.bin\n";
  }
  const std::string planPath = folder + "/plan-" + std::to_string(gateways) + "x" + std::to_string(units) + ".csv";
  std::ofstream(planPath, std::ios::binary) << plan;
  const fleet::Plan checked = fleet::ReadPlan(planPath, fleet::ImageCheck::AcceptDamaged);
  if (!checked.Problems.empty()) {
    std::fprintf(stderr, "bench_fleet: plan line %d: %s\n", checked.Problems[0].Line,
                 checked.Problems[0].Reason.c_str());
    std::exit(1);
  }

  fleet::FleetSettings settings;
  settings.Jobs = gateways;
  fleet::CFleetRun run(checked, settings);
  const double cpuBefore = CpuMs();
  const Clock::time_point start = Clock::now();
  const std::vector<fleet::UnitOutcome> outcomes = run.Run();
  Figures figures;
  figures.WallMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  figures.CpuMs = CpuMs() - cpuBefore;
  figures.PeakRssKb = PeakRssKb();
  figures.Units = static_cast<int>(outcomes.size());
  for (const fleet::UnitOutcome& outcome : outcomes) figures.Loaded += outcome.Result == fleet::UnitResult::Loaded;
  const std::vector<std::uint8_t> sent = checked.Images.begin()->second.Bytes;
  for (const auto& gateway : site) {
    figures.Overlaps += gateway->Overlaps();
    for (int u = 1; u <= units; ++u) figures.Intact &= gateway->ReceivedImage(static_cast<std::uint8_t>(u)) == sent;
  }
  return figures;
}

void Print(const char* what, const Figures& figures, const Figures& alone) {
  std::printf("%-22s %5.0f ms  %4.2f x one unit  cpu %6.0f ms (%4.1f %% of one core)  peak rss %6ld KB  "
              "%d/%d loaded, %u overlaps, images %s\n",
              what, figures.WallMs, figures.WallMs / alone.WallMs, figures.CpuMs,
              figures.CpuMs * 100.0 / figures.WallMs, figures.PeakRssKb, figures.Loaded, figures.Units,
              figures.Overlaps, figures.Intact ? "intact" : "DIFFER");
}

}  // namespace

int main() {
  char folderTemplate[] = "/tmp/bench_fleet.XXXXXX";
  const char* folder = mkdtemp(folderTemplate);
  if (folder == nullptr) {
    std::perror("bench_fleet: mkdtemp");
    return 1;
  }
  std::vector<char> image(ImageBytes);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>(i * 7);
  std::ofstream(std::string(folder) + "/image.bin", std::ios::binary).write(image.data(), image.size());

  const Figures alone = LoadSite(folder, 1, 1);
  const Figures wide = LoadSite(folder, 50, 1);
  const Figures deep = LoadSite(folder, 10, 5);
  std::printf("image %zu bytes, the product's fixed pauses and defaults of tries and time-out\n", ImageBytes);
  Print("1 gateway x 1 unit", alone, alone);
  Print("50 gateways x 1 unit", wide, alone);
  Print("10 gateways x 5 units", deep, alone);
  std::printf("targets: 50 x 1 at most 1.20 x one unit; 10 x 5 about 5 x one unit (the peak rss counts the\n"
              "simulated gateways, which run in this process, too)\n");
  std::remove((std::string(folder) + "/image.bin").c_str());
  for (const char* plan : {"/plan-1x1.csv", "/plan-50x1.csv", "/plan-10x5.csv"})
    std::remove((std::string(folder) + plan).c_str());
  ::rmdir(folder);
  const bool sound = [&] {
    for (const Figures* f : {&alone, &wide, &deep})
      if (f->Loaded != f->Units || f->Overlaps != 0 || !f->Intact) return false;
    return true;
  }();
  return sound ? 0 : 1;
}
