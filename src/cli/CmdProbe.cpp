// smsconf-cli probe --gateway ADDR [--unit N]...: is the gateway reachable,
// and which units behind it answer? Asks the gateway for its information and
// each unit for its identifier, changing no unit's mode, and prints one
// line for the gateway and one per unit.

#include "cli/Command.h"
#include "cli/Console.h"
#include "cli/TraceOption.h"
#include "limits/Limits.h"
#include "link/Parseip.h"
#include "link/Rpcinterface.h"
#include "loading/Probe.h"
#include "text/Cp1251.h"

#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace smsconf::cli {

namespace {

// What shells report for a program that a signal ended: 128 + the signal.
constexpr char ProbeDone = 'D';

struct ProbeOptions {
  std::string Gateway = limits::DefaultGateway;
  std::vector<int> Units;  // none: the default unit
  int Tries = limits::DefaultTries;
  int Timeout = limits::DefaultTimeoutMs;
  TraceOptions Trace;
};

// "GATEWAY: what it said" and "GATEWAY/UNIT: what it said", as a fleet names
// its units. The texts from the gateway and the unit are Windows-1251 bytes,
// shown so that none can send escapes to a terminal.
void PrintLine(const std::string& name, const std::string& cp1251) {
  const std::string line = name + ": " + text::Cp1251ToTerminal(cp1251) + "\n";
  std::fputs(line.c_str(), stdout);
  std::fflush(stdout);
}

int RunProbe(const ProbeOptions& options) {
  // A mistyped address is the user's to mend before anything goes out.
  if (CParseIP address; !address.Parse(options.Gateway, RpcDefaultPort)) {
    std::fprintf(stderr, "bad gateway address \"%s\" (accepted: a.b.c.d or a.b.c.d:port, e.g. %s or %s:%d)\n",
                 options.Gateway.c_str(), limits::DefaultGateway, limits::DefaultGateway, limits::GatewayPort);
    return ExitUsage;
  }
  ProbeTarget target{options.Gateway, options.Units,
                     LinkSettings{options.Tries, static_cast<std::uint32_t>(options.Timeout)}};
  if (target.Units.empty()) target.Units = {limits::DefaultUnit};

  std::string error;
  const std::unique_ptr<trace::CWireTrace> trace = OpenTrace(options.Trace, "probe of " + options.Gateway, error);
  if (!error.empty()) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return ExitFailure;
  }
  const SocketLibrary sockets;
  CRPCInterface rpc;
  rpc.Observer = trace.get();
  WakeUp watch(true);
  if (!watch.Ready()) {
    std::fputs("Cannot watch for Ctrl+C\n", stderr);
    return ExitFailure;
  }
  const ProbeObserver observer{
      [&](const ProbeGateway& gateway) { PrintLine(options.Gateway, DescribeProbe(gateway)); },
      [&](const ProbeUnit& unit) {
        PrintLine(options.Gateway + "/" + std::to_string(unit.Unit), DescribeProbe(unit));
      }};
  ProbeResult result;
  std::thread worker;
  // The user's stop must reach the waiting thread, never the probe's socket calls.
  watch.StartShielded([&] {
    worker = std::thread([&] {
      result = ProbeUnits(target, rpc, observer);
      WakeUp::Notify(ProbeDone);
    });
  });
  const bool interrupted = watch.Wait() == WakeUp::Interrupted;
  if (interrupted) rpc.Abort = true;  // the request under way returns at its next look
  worker.join();

  if (interrupted) {
    std::fputs("probe interrupted\n", stderr);
    return CheckTrace(trace.get(), ExitSignalBase + WakeUp::StopSignal());
  }
  return CheckTrace(trace.get(), result.AllAnswered() ? ExitOk : ExitFailure);
}

}  // namespace

std::function<int()> SetupProbe(CLI::App& app) {
  auto options = std::make_shared<ProbeOptions>();
  CLI::App* probe = app.add_subcommand(
      "probe", "Ask a gateway for its information and units for their identifiers, changing nothing");
  probe->add_option("--gateway", options->Gateway, "Gateway address, a.b.c.d or a.b.c.d:port")
      ->capture_default_str();
  probe->add_option("--unit", options->Units, "Modbus address of a unit; repeat for more (default: 1)")
      ->check(WholeNumber(true))
      ->check(CLI::Range(limits::Unit.Min, limits::Unit.Max))
      ->take_all()
      ->allow_extra_args(false);
  AddLinkOptions(probe, options->Tries, options->Timeout);
  AddTraceOptions(*probe, options->Trace);
  return [options] { return RunProbe(*options); };
}

}  // namespace smsconf::cli
