// Loads a 20 KB image into the simulated unit over the loopback interface
// with the product's fixed pauses, and prints how far the elapsed time lies
// above the floor that those pauses set; with --trace FILE and --pcap FILE
// the tool's side of the loading is traced as `load --trace` traces it.
// Usage: bench_load [--trace FILE] [--pcap FILE]

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <future>
#include <string>
#include <vector>

#include "link/Rpcinterface.h"
#include "loading/LoadingSetup.h"
#include "loading/ThreadConfigLoading.h"
#include "sim/Simulator.h"
#include "trace/WireTrace.h"

namespace {

using namespace smsconf;
using Clock = std::chrono::steady_clock;

constexpr std::size_t ImageBytes = 20 * 1024;
constexpr int BlockSize = 64;

}  // namespace

int main(int argc, char** argv) {
  trace::CWireTrace trace;
  bool traced = false;
  for (int i = 1; i < argc; i += 2) {
    const std::string option = argv[i];
    if ((option != "--trace" && option != "--pcap") || i + 1 == argc) {
      std::fprintf(stderr, "usage: bench_load [--trace FILE] [--pcap FILE]\n");
      return 2;
    }
    const std::string error = option == "--trace" ? trace.WriteTextTo(argv[i + 1]) : trace.WriteCaptureTo(argv[i + 1]);
    if (!error.empty()) {
      std::fprintf(stderr, "bench_load: %s\n", error.c_str());
      return 1;
    }
    traced = true;
  }

  sim::SimulatorOptions options;
  options.Port = 0;
  options.BlockSize = BlockSize;
  sim::CSimulator simulator(options);
  std::string error;
  if (!simulator.Start(&error)) {
    std::fprintf(stderr, "bench_load: simulator: %s\n", error.c_str());
    return 1;
  }

  // The image is no configuration, only bytes to carry.
  LoadingImage image;
  image.Bytes.resize(ImageBytes);
  for (std::size_t i = 0; i < image.Bytes.size(); ++i) image.Bytes[i] = static_cast<std::uint8_t>(i * 7);

  // With the product's defaults of tries and time-out.
  CRPCInterface rpc;
  const LoadingTarget target{"127.0.0.1:" + std::to_string(simulator.Port()), options.UnitAddress, {},
                             traced ? &trace : nullptr};
  LoadingSetup setup = SetUpLoading(target, image, rpc);
  CThreadConfigLoading& loading = *setup.Procedure;
  std::promise<int> finished;
  loading.OnFinalStep = [&](int step) { finished.set_value(step); };

  const Clock::time_point start = Clock::now();
  loading.Start();
  const int step = finished.get_future().get();
  const Clock::duration elapsed = Clock::now() - start;
  loading.RequestStop();
  loading.Wait();

  const std::size_t blocks = (ImageBytes + BlockSize - 1) / BlockSize;
  const double floorMs = static_cast<double>(loading.Pauses.Floor(blocks).count());
  const double elapsedMs = std::chrono::duration<double, std::milli>(elapsed).count();
  const bool intact = simulator.ReceivedImage() == image.Bytes;
  std::printf("image %zu bytes in %zu blocks of %d, final step %d, image %s%s\n", ImageBytes, blocks,
              BlockSize, step, intact ? "intact" : "DIFFERS", traced ? ", traced" : "");
  std::printf("elapsed %.1f ms, floor of the fixed pauses %.0f ms, overhead %.2f %% (target under 5 %%)\n",
              elapsedMs, floorMs, (elapsedMs - floorMs) * 100.0 / floorMs);
  return step == CThreadConfigLoading::StepCompleted && intact ? 0 : 1;
}
