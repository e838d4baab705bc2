// smsconf-cli simulate: a gateway with one unit behind it on a local UDP
// port, for trying out loadings without hardware. Runs until SIGINT or
// SIGTERM and logs every datagram to stdout.

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <iostream>
#include <limits>
#include <mutex>
#include <string>

#include "cli/Command.h"
#include "cli/Console.h"
#include "files/AtomicFile.h"
#include "files/FileBytes.h"
#include "files/FileSystem.h"
#include "limits/Limits.h"
#include "link/UdpSocket.h"
#include "sim/Simulator.h"
#include "text/Cp1251.h"

namespace smsconf::cli {

namespace {

// The unit reports its block size in one byte.
constexpr int MaxBlockSize = std::numeric_limits<std::uint8_t>::max();

struct SimulateArguments {
  std::string Listen = "127.0.0.1:" + std::to_string(limits::GatewayPort);
  int Unit = limits::DefaultUnit;
  int BlockSize = sim::SimulatorOptions{}.BlockSize;
  unsigned Busy = 0;
  double Drop = 0.0;
  std::uint64_t Seed = 1;
  bool NoUpdate = false;
  bool NoId = false;
  unsigned DelayMs = 0;
  std::string SaveImage;
};

// ADDR or ADDR:PORT with a dotted IPv4 address; port 0 asks for any free port.
bool ParseListen(const std::string& text, std::string& address, std::uint16_t& port) {
  const std::size_t colon = text.rfind(':');
  address = text.substr(0, colon);
  port = limits::GatewayPort;
  if (colon != std::string::npos) {
    const char* first = text.data() + colon + 1;
    const char* last = text.data() + text.size();
    const auto [end, error] = std::from_chars(first, last, port);
    if (first == last || error != std::errc() || end != last) return false;
  }
  std::uint32_t parsed = 0;
  return ParseIpv4(address, parsed);
}

std::string CheckListen(const std::string& text) {
  std::string address;
  std::uint16_t port = 0;
  return ParseListen(text, address, port) ? std::string() : "not an address ADDR:PORT: " + text;
}

// The image is written only on exit, so a folder that cannot take it is
// told at the start, not after a whole session.
std::string CheckSaveImage(const std::string& path) {
  try {
    ReplaceableFile(path);
  } catch (const std::exception& e) {
    return e.what();
  }
  const std::string folder = FolderOf(path);
  switch (KindOf(folder)) {
    case FileKind::None: return "Cannot create file " + path + ": no such folder";
    case FileKind::Folder: break;
    default: return "Cannot create file " + path + ": " + FileErrorReason(ENOTDIR);
  }
  if (!FolderWritable(folder)) return "Cannot create file " + path + ": " + FileErrorReason(errno);
  return {};
}

sim::SimulatorOptions MakeOptions(const SimulateArguments& arguments) {
  sim::SimulatorOptions options;
  ParseListen(arguments.Listen, options.ListenAddress, options.Port);
  options.UnitAddress = static_cast<std::uint8_t>(arguments.Unit);
  options.BlockSize = arguments.BlockSize;
  options.BusyWrites = arguments.Busy;
  options.DropRate = arguments.Drop;
  options.Seed = arguments.Seed;
  options.ModeSwitchException = arguments.NoUpdate;
  options.NoIdentifier = arguments.NoId;
  options.ReplyDelay = std::chrono::milliseconds(arguments.DelayMs);
  options.SessionSilence = sim::LoadingSessionSilence;
  return options;
}

int RunSimulate(const SimulateArguments& arguments) {
  WakeUp stop(true);
  std::mutex output;
  sim::CSimulator simulator(MakeOptions(arguments));
  simulator.SetLog([&output](const std::string& line) {
    std::lock_guard lock(output);
    std::cout << text::Cp1251ToUtf8(line) << std::endl;
  });
  {
    // Held until the address is out, so that it is always the first line.
    std::lock_guard lock(output);
    std::string error;
    bool started = false;
    stop.StartShielded([&] { started = simulator.Start(&error); });
    if (!started) {
      std::cerr << "simulate: " << error << '\n';
      return ExitFailure;
    }
    const std::string address = arguments.Listen.substr(0, arguments.Listen.rfind(':'));
    std::cout << "listening on " << address << ':' << simulator.Port() << std::endl;
  }

  stop.Wait();
  simulator.Stop();

  if (arguments.SaveImage.empty()) return ExitOk;
  std::string error;
  if (!simulator.SaveImage(arguments.SaveImage, &error)) {
    std::cerr << "simulate: " << error << '\n';
    return ExitFailure;
  }
  std::cout << "saved " << simulator.ReceivedImage().size() << " bytes to " << arguments.SaveImage
            << std::endl;
  return ExitOk;
}

}  // namespace

std::function<int()> SetupSimulate(CLI::App& app) {
  auto arguments = std::make_shared<SimulateArguments>();
  CLI::App* command = app.add_subcommand(
      "simulate", "Run a simulated gateway with one unit behind it until SIGINT or SIGTERM");
  command->add_option("--listen", arguments->Listen, "UDP address to serve, ADDR:PORT (port 0: any free port)")
      ->type_name("ADDR:PORT")
      ->check(CLI::Validator(CheckListen, ""))
      ->capture_default_str();
  command->add_option("--unit", arguments->Unit, "Modbus address of the unit")
      ->check(WholeNumber(true))
      ->check(CLI::Range(limits::Unit.Min, limits::Unit.Max))
      ->capture_default_str();
  command->add_option("--block-size", arguments->BlockSize, "block size the unit reports")
      ->check(WholeNumber(true))
      ->check(CLI::Range(0, MaxBlockSize))
      ->capture_default_str();
  command->add_option("--busy", arguments->Busy, "answer the first K block writes with 'busy'")
      ->check(WholeNumber(false));
  command->add_option("--drop", arguments->Drop, "share of requests and replies lost at random")
      ->check(RealNumber())
      ->check(CLI::Range(0.0, 1.0));
  command->add_option("--seed", arguments->Seed, "seed of the random losses")
      ->check(WholeNumber(false))
      ->capture_default_str();
  command->add_flag("--no-update", arguments->NoUpdate, "refuse the mode switches with an exception");
  command->add_flag("--no-id", arguments->NoId, "refuse Report Slave ID with an exception");
  command->add_option("--delay", arguments->DelayMs, "delay of every reply in milliseconds")
      ->check(WholeNumber(false));
  command->add_option("--save-image", arguments->SaveImage, "write the received image here on exit")
      ->check(CLI::Validator(CheckSaveImage, ""));
  return [arguments] { return RunSimulate(*arguments); };
}

}  // namespace smsconf::cli
