// smsconf-cli simulate: gateways with units behind them on local UDP ports,
// for trying out loadings without hardware: one gateway with one unit, or a
// whole site. Runs until SIGINT or SIGTERM and logs every datagram to
// stdout.

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <iostream>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "cli/Command.h"
#include "cli/Console.h"
#include "cli/TraceOption.h"
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
// Each gateway is a thread and a socket; a mistyped range must not ask for
// tens of thousands of them.
constexpr std::size_t MaxGateways = 1000;
// What a flag given without a target carries.
const std::string EveryUnit = "true";

struct Gateway {
  std::string Address;
  std::uint16_t Port = 0;  // as given; 0: any free port
};

// Where a unit setting applies: every unit, the unit at one address behind
// every gateway, or that unit behind the gateway on one port.
struct Target {
  std::optional<std::uint16_t> Port;
  std::optional<int> Unit;
  int Precision() const { return (Port ? 1 : 0) + (Unit ? 1 : 0); }
};

struct Setting {
  Target Where;
  std::string Value;
};

struct SimulateArguments {
  std::vector<std::string> Listen = {"127.0.0.1:" + std::to_string(limits::GatewayPort)};
  int Unit = limits::DefaultUnit;
  std::vector<int> Units;
  std::uint64_t Seed = 1;
  // Unit settings as given: [[PORT/]UNIT=]VALUE, flags [PORT/]UNIT or EveryUnit.
  std::vector<std::string> BlockSize, Busy, Drop, Delay, NoUpdate, NoId;
  std::string SaveImage;
  TraceOptions Trace;

  // Made from the above once they are all parsed.
  std::vector<Gateway> Gateways;
  std::vector<int> UnitList;
};

bool ParseNumber(std::string_view text, auto& number) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  return !text.empty() && error == std::errc() && end == text.data() + text.size();
}

// ADDR, ADDR:PORT or ADDR:FIRST-LAST with a dotted IPv4 address; port 0
// asks for any free port, and a range has a gateway on each of its ports.
bool ParseListen(const std::string& text, std::vector<Gateway>& gateways) {
  const std::size_t colon = text.rfind(':');
  const std::string address = text.substr(0, colon);
  std::uint32_t parsed = 0;
  if (!ParseIpv4(address, parsed)) return false;
  if (colon == std::string::npos) {
    gateways.push_back({address, limits::GatewayPort});
    return true;
  }
  const std::string_view ports = std::string_view(text).substr(colon + 1);
  const std::size_t dash = ports.find('-');
  std::uint16_t first = 0;
  std::uint16_t last = 0;
  if (!ParseNumber(ports.substr(0, dash), first)) return false;
  if (dash == std::string_view::npos) {
    gateways.push_back({address, first});
    return true;
  }
  if (!ParseNumber(ports.substr(dash + 1), last) || first == 0 || last < first) return false;
  for (unsigned port = first; port <= last && gateways.size() <= MaxGateways; ++port)
    gateways.push_back({address, static_cast<std::uint16_t>(port)});
  return true;
}

std::string CheckListen(const std::string& text) {
  std::vector<Gateway> gateways;
  return ParseListen(text, gateways) ? std::string() : "not an address ADDR:PORT or ADDR:FIRST-LAST: " + text;
}

// UNIT or PORT/UNIT.
bool ParseTarget(std::string_view text, Target& target) {
  const std::size_t slash = text.find('/');
  int unit = 0;
  if (!ParseNumber(text.substr(slash == std::string_view::npos ? 0 : slash + 1), unit)) return false;
  target.Unit = unit;
  if (slash == std::string_view::npos) return true;
  std::uint16_t port = 0;
  if (!ParseNumber(text.substr(0, slash), port)) return false;
  target.Port = port;
  return true;
}

// VALUE, UNIT=VALUE or PORT/UNIT=VALUE; a flag's value is EveryUnit or its target.
bool ParseSetting(const std::string& text, bool flag, Setting& setting) {
  if (flag) return text == EveryUnit || ParseTarget(text, setting.Where);
  const std::size_t equals = text.find('=');
  setting.Value = text.substr(equals == std::string::npos ? 0 : equals + 1);
  return equals == std::string::npos || ParseTarget(std::string_view(text).substr(0, equals), setting.Where);
}

// The value check of a unit setting, applied to its value behind any target.
CLI::Validator PerUnit(std::vector<CLI::Validator> checks) {
  return CLI::Validator(
      [checks](std::string& text) -> std::string {
        Setting setting;
        if (!ParseSetting(text, false, setting)) return "not VALUE, UNIT=VALUE or PORT/UNIT=VALUE: " + text;
        for (const CLI::Validator& check : checks)
          if (std::string error = check(setting.Value); !error.empty()) return error;
        return {};
      },
      "");
}

CLI::Validator FlagTarget() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        Setting setting;
        return ParseSetting(text, true, setting) ? std::string() : "not UNIT or PORT/UNIT: " + text;
      },
      "");
}

// Each unit setting: its option, its values, and what it sets.
struct UnitSetting {
  const char* Option;
  std::vector<std::string> SimulateArguments::*Values;
  bool Flag;
  void (*Apply)(sim::UnitOptions& unit, const std::string& value);
};

const UnitSetting UnitSettings[] = {
    {"--block-size", &SimulateArguments::BlockSize, false,
     [](sim::UnitOptions& u, const std::string& v) { u.BlockSize = std::stoi(v); }},
    {"--busy", &SimulateArguments::Busy, false,
     [](sim::UnitOptions& u, const std::string& v) { u.BusyWrites = static_cast<unsigned>(std::stoul(v)); }},
    {"--drop", &SimulateArguments::Drop, false,
     [](sim::UnitOptions& u, const std::string& v) { u.DropRate = std::stod(v); }},
    {"--delay", &SimulateArguments::Delay, false,
     [](sim::UnitOptions& u, const std::string& v) { u.ReplyDelay = std::chrono::milliseconds(std::stoul(v)); }},
    {"--no-update", &SimulateArguments::NoUpdate, true,
     [](sim::UnitOptions& u, const std::string&) { u.ModeSwitchException = true; }},
    {"--no-id", &SimulateArguments::NoId, true,
     [](sim::UnitOptions& u, const std::string&) { u.NoIdentifier = true; }},
};

// The settings that apply to `unit` behind the gateway on `port`, the more
// precise ones after the general ones, and in the order given within each.
void ApplySettings(const SimulateArguments& arguments, std::uint16_t port, sim::UnitOptions& unit) {
  for (int precision = 0; precision <= 2; ++precision) {
    for (const UnitSetting& kind : UnitSettings) {
      for (const std::string& text : arguments.*kind.Values) {
        Setting setting;
        ParseSetting(text, kind.Flag, setting);
        const Target& where = setting.Where;
        if (where.Precision() == precision && (!where.Unit || *where.Unit == unit.UnitAddress) &&
            (!where.Port || *where.Port == port))
          kind.Apply(unit, setting.Value);
      }
    }
  }
}

// A folder that can take new files; else the reason, behind `refusal`.
std::string CheckWritableFolder(const std::string& folder, const std::string& refusal) {
  switch (KindOf(folder)) {
    case FileKind::None: return refusal + ": no such folder";
    case FileKind::Folder: break;
    default: return refusal + ": " + FileErrorReason(ENOTDIR);
  }
  if (!FolderWritable(folder)) return refusal + ": " + FileErrorReason(errno);
  return {};
}

// The image is written only on exit, so a folder that cannot take it is
// told at the start, not after a whole session.
std::string CheckSaveImage(const std::string& path) {
  try {
    ReplaceableFile(path);
  } catch (const std::exception& e) {
    return e.what();
  }
  return CheckWritableFolder(FolderOf(path), "Cannot create file " + path);
}

// With several units, the images go into a folder, one file each.
std::string CheckSaveFolder(const std::string& folder) {
  return CheckWritableFolder(folder, "Cannot create files in " + folder);
}

bool OneImage(const SimulateArguments& arguments) {
  return arguments.Gateways.size() == 1 && arguments.UnitList.size() == 1;
}

// What the options say together, once they are all parsed; throws the
// usage error.
void CheckTogether(SimulateArguments& arguments) {
  for (const std::string& listen : arguments.Listen) ParseListen(listen, arguments.Gateways);
  if (arguments.Gateways.size() > MaxGateways)
    throw CLI::ValidationError("--listen", "more than " + std::to_string(MaxGateways) + " gateways");
  arguments.UnitList = arguments.Units.empty() ? std::vector<int>{arguments.Unit} : arguments.Units;
  for (auto unit = arguments.UnitList.begin(); unit != arguments.UnitList.end(); ++unit)
    if (std::find(arguments.UnitList.begin(), unit, *unit) != unit)
      throw CLI::ValidationError("--units", "unit " + std::to_string(*unit) + " is listed twice");
  for (const UnitSetting& kind : UnitSettings) {
    for (const std::string& text : arguments.*kind.Values) {
      Setting setting;
      ParseSetting(text, kind.Flag, setting);
      const Target& where = setting.Where;
      if (where.Unit && std::ranges::count(arguments.UnitList, *where.Unit) == 0)
        throw CLI::ValidationError(kind.Option, text + ": there is no unit " + std::to_string(*where.Unit));
      if (where.Port && std::ranges::none_of(arguments.Gateways, [&](const Gateway& g) { return g.Port != 0 && g.Port == *where.Port; }))
        throw CLI::ValidationError(kind.Option, text + ": no gateway listens on port " + std::to_string(*where.Port));
    }
  }
  if (arguments.SaveImage.empty()) return;
  const std::string error = OneImage(arguments) ? CheckSaveImage(arguments.SaveImage) : CheckSaveFolder(arguments.SaveImage);
  if (!error.empty()) throw CLI::ValidationError("--save-image", error);
}

sim::SimulatorOptions MakeOptions(const SimulateArguments& arguments, const Gateway& gateway) {
  sim::SimulatorOptions options;
  options.ListenAddress = gateway.Address;
  options.Port = gateway.Port;
  options.Seed = arguments.Seed;
  options.SessionSilence = sim::LoadingSessionSilence;
  if (arguments.UnitList.size() == 1) {
    options.UnitAddress = static_cast<std::uint8_t>(arguments.UnitList.front());
    ApplySettings(arguments, gateway.Port, options);
    return options;
  }
  for (const int address : arguments.UnitList) {
    sim::UnitOptions unit = options.Unit(static_cast<std::uint8_t>(address));
    ApplySettings(arguments, gateway.Port, unit);
    options.Units.push_back(unit);
  }
  return options;
}

std::string GatewayText(const Gateway& gateway, const sim::CSimulator& simulator) {
  return gateway.Address + ':' + std::to_string(simulator.Port());
}

// One file for each gateway and unit, named after them.
std::string ImagePath(const SimulateArguments& arguments, const Gateway& gateway, const sim::CSimulator& simulator,
                      std::uint8_t unit) {
  if (OneImage(arguments)) return arguments.SaveImage;
  return arguments.SaveImage + '/' + gateway.Address + '_' + std::to_string(simulator.Port()) + "_unit" +
         std::to_string(unit) + ".bin";
}

int SaveImages(const SimulateArguments& arguments, const std::vector<std::unique_ptr<sim::CSimulator>>& simulators) {
  int status = ExitOk;
  for (std::size_t g = 0; g < simulators.size(); ++g) {
    for (const std::uint8_t unit : simulators[g]->UnitAddresses()) {
      const std::string path = ImagePath(arguments, arguments.Gateways[g], *simulators[g], unit);
      std::string error;
      if (!simulators[g]->SaveImage(unit, path, &error)) {
        std::cerr << "simulate: " << error << '\n';
        status = ExitFailure;
        continue;
      }
      std::cout << "saved " << simulators[g]->ReceivedImage(unit).size() << " bytes to " << path << std::endl;
    }
  }
  return status;
}

int RunSimulate(const SimulateArguments& arguments) {
  std::string error;
  std::string listening;
  for (const std::string& listen : arguments.Listen) listening += " " + listen;
  // The simulators go before the trace that they write into.
  const std::unique_ptr<trace::CWireTrace> trace = OpenTrace(arguments.Trace, "simulate on" + listening, error);
  if (!error.empty()) {
    std::cerr << "simulate: " << error << '\n';
    return ExitFailure;
  }
  // With several gateways, each datagram line tells which one it concerns.
  if (trace) trace->NameLocalEnd = arguments.Gateways.size() > 1;
  WakeUp stop(true);
  std::mutex output;
  std::vector<std::unique_ptr<sim::CSimulator>> simulators;
  {
    // Held until the addresses are out, so that they are always the first lines.
    std::lock_guard lock(output);
    for (const Gateway& gateway : arguments.Gateways) {
      simulators.push_back(std::make_unique<sim::CSimulator>(MakeOptions(arguments, gateway)));
      sim::CSimulator& simulator = *simulators.back();
      // With several gateways, each line tells which one it concerns.
      const bool several = arguments.Gateways.size() > 1;
      simulator.SetLog([&output, &gateway, &simulator, several](const std::string& line) {
        std::lock_guard lock(output);
        if (several) std::cout << GatewayText(gateway, simulator) << ' ';
        std::cout << text::Cp1251ToUtf8(line) << std::endl;
      });
      simulator.SetTrace(trace.get());
      bool started = false;
      stop.StartShielded([&] { started = simulator.Start(&error); });
      if (!started) {
        std::cerr << "simulate: " << error << '\n';
        return ExitFailure;
      }
      std::cout << "listening on " << GatewayText(gateway, simulator) << std::endl;
    }
  }

  stop.Wait();
  for (const auto& simulator : simulators) simulator->Stop();
  return CheckTrace(trace.get(), arguments.SaveImage.empty() ? ExitOk : SaveImages(arguments, simulators));
}

}  // namespace

std::function<int()> SetupSimulate(CLI::App& app) {
  auto arguments = std::make_shared<SimulateArguments>();
  CLI::App* command = app.add_subcommand(
      "simulate", "Run simulated gateways with units behind them until SIGINT or SIGTERM");
  command->footer("Unit settings apply to every unit, or to one: --busy 5 (all), --busy 2=5 (unit 2 behind every "
                  "gateway), --busy 30001/2=5 (unit 2 behind the gateway on port 30001), --no-update=30001/2.\n");
  command
      ->add_option("--listen", arguments->Listen,
                   "UDP address of a gateway, ADDR:PORT (port 0: any free port), or ADDR:FIRST-LAST for one on "
                   "each port; repeat it for more gateways")
      ->type_name("ADDR:PORT")
      ->allow_extra_args(false)
      ->check(CLI::Validator(CheckListen, ""))
      ->capture_default_str();
  CLI::Option* unit = command->add_option("--unit", arguments->Unit, "Modbus address of the one unit behind each gateway")
      ->check(WholeNumber(true))
      ->check(CLI::Range(limits::Unit.Min, limits::Unit.Max))
      ->capture_default_str();
  command
      ->add_option("--units", arguments->Units,
                   "Modbus addresses of the units behind each gateway, as 1,2,5; each identifies itself with "
                   "its address after a #")
      ->delimiter(',')
      ->allow_extra_args(false)
      ->check(WholeNumber(true))
      ->check(CLI::Range(limits::Unit.Min, limits::Unit.Max))
      ->excludes(unit);
  const std::string perUnit = "; with UNIT= or PORT/UNIT= in front: for that unit alone";
  const std::string perUnitFlag = "; =UNIT or =PORT/UNIT: for that unit alone";
  const CLI::Validator countable = CLI::Range(0ULL, static_cast<unsigned long long>(std::numeric_limits<unsigned>::max()));
  command->add_option("--block-size", arguments->BlockSize, "block size the unit reports (default 64)" + perUnit)
      ->type_name("[[PORT/]UNIT=]N")
      ->allow_extra_args(false)
      ->check(PerUnit({WholeNumber(true), CLI::Range(0, MaxBlockSize)}));
  command->add_option("--busy", arguments->Busy, "answer the first K block writes with 'busy'" + perUnit)
      ->type_name("[[PORT/]UNIT=]K")
      ->allow_extra_args(false)
      ->check(PerUnit({WholeNumber(false), countable}));
  command->add_option("--drop", arguments->Drop, "share of requests and replies lost at random" + perUnit)
      ->type_name("[[PORT/]UNIT=]SHARE")
      ->allow_extra_args(false)
      ->check(PerUnit({RealNumber(), CLI::Range(0.0, 1.0)}));
  command->add_option("--seed", arguments->Seed, "seed of the random losses")
      ->check(WholeNumber(false))
      ->capture_default_str();
  command->add_flag("--no-update", arguments->NoUpdate, "refuse the mode switches with an exception" + perUnitFlag)
      ->check(FlagTarget());
  command->add_flag("--no-id", arguments->NoId, "refuse Report Slave ID with an exception" + perUnitFlag)
      ->check(FlagTarget());
  command->add_option("--delay", arguments->Delay, "delay of every reply in milliseconds" + perUnit)
      ->type_name("[[PORT/]UNIT=]MS")
      ->allow_extra_args(false)
      ->check(PerUnit({WholeNumber(false), countable}));
  command->add_option("--save-image", arguments->SaveImage,
                      "write the received image here on exit; with several units a folder, one file each, named "
                      "as 127.0.0.1_30001_unit2.bin");
  AddTraceOptions(*command, arguments->Trace);
  command->callback([arguments] { CheckTogether(*arguments); });
  return [arguments] { return RunSimulate(*arguments); };
}

}  // namespace smsconf::cli
