// smsconf-cli fleet PLAN.csv: loads every unit that a site's plan names,
// the gateways side by side and the units behind each gateway in turn, and
// sums up what each unit did.

#include "cli/Command.h"
#include "cli/Console.h"
#include "cli/TraceOption.h"
#include "files/AtomicFile.h"
#include "fleet/FleetReport.h"
#include "fleet/FleetRun.h"
#include "fleet/Plan.h"
#include "limits/Limits.h"
#include "loading/Probe.h"
#include "link/UdpSocket.h"
#include "loading/ThreadConfigLoading.h"
#include "text/Cp1251.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace smsconf::cli {

namespace {

using fleet::UnitOutcome;
using fleet::UnitResult;

constexpr char RunEnded = 'E';
constexpr limits::Range Jobs{1, 1024};
constexpr limits::Range Retries{0, 100};
constexpr double MillisecondsPerSecond = 1000;

constexpr std::size_t BarWidth = 20;
constexpr std::uint32_t FullBar = 100;
constexpr std::size_t LongestLiveLabel = 32;  // bytes; a live line must not wrap, or the redraw miscounts
constexpr unsigned char Utf8Continuation = 0x80;
constexpr unsigned char Utf8ContinuationMask = 0xC0;

constexpr const char* Red = "\x1b[31m";
constexpr const char* Green = "\x1b[32m";
constexpr const char* Plain = "\x1b[0m";

struct FleetOptions {
  std::string Plan;
  int Jobs = fleet::DefaultJobs;
  bool Force = false;
  std::string Deadline;  // seconds, as typed; empty: none
  int Retry = 0;
  std::string Report;
  int Tries = limits::DefaultTries;
  int Timeout = limits::DefaultTimeoutMs;
  bool NoColor = false;
  bool Probe = false;
  TraceOptions Trace;  // folders
};

void PrintError(const std::string& utf8) { std::fprintf(stderr, "%s\n", utf8.c_str()); }

// What a run shows as it goes. Into a pipe or file: every loading line as
// load prints it, behind the unit's label. On a terminal: the finished
// units scroll, and below them stands one live line per unit in flight,
// redrawn in place.
class FleetDisplay : public fleet::FleetObserver {
 public:
  FleetDisplay(const fleet::Plan& plan, bool terminal, bool colour)
      : Plan(plan), Terminal(terminal), Colour(colour) {}

  void Line(std::size_t unit, int, const std::string& cp1251) override {
    if (Terminal) return;
    const std::lock_guard guard(Lock);
    Print(Label(unit) + ": " + text::Cp1251ToTerminal(cp1251) + "\n");
  }

  void Step(std::size_t unit, const char* step) override {
    if (!Terminal) return;
    const std::lock_guard guard(Lock);
    Live[unit] = {step, std::nullopt};
    Redraw({});
  }

  void Progress(std::size_t unit, std::uint32_t written, std::uint32_t total) override {
    if (!Terminal) return;
    const std::lock_guard guard(Lock);
    Live[unit].Percent = CThreadConfigLoading::ProgressPercent(written, total);
    Redraw({});
  }

  void Finished(std::size_t unit, const UnitOutcome& outcome, bool again) override {
    std::string line = Label(unit) + ": " + Painted(outcome);
    if (again) line += "; tried again at the end of its gateway's queue";
    const std::lock_guard guard(Lock);
    if (!Terminal) return Print(line + "\n");
    Live.erase(unit);
    Redraw(line + "\n");
  }

  void ProbedGateway(const std::string& gateway, const ProbeGateway& answer) override {
    const std::lock_guard guard(Lock);
    Print(text::Cp1251ToTerminal(gateway) + ": " + text::Cp1251ToTerminal(DescribeProbe(answer)) + "\n");
  }

  void ProbedUnit(std::size_t unit, const ProbeUnit& answer) override {
    const std::lock_guard guard(Lock);
    Print(Label(unit) + ": " + text::Cp1251ToTerminal(DescribeProbe(answer)) + "\n");
  }

  // Clears the live lines before the summary.
  void End() {
    const std::lock_guard guard(Lock);
    Live.clear();
    if (Terminal) Redraw({});
  }

 private:
  struct LiveLine {
    std::string Step;
    std::optional<std::uint32_t> Percent;  // once the upload has confirmed a block
  };

  std::string Label(std::size_t unit) const { return text::Cp1251ToTerminal(Plan.Rows[unit].Label()); }

  std::string Painted(const UnitOutcome& outcome) const {
    std::string text = fleet::ResultText(outcome);
    if (outcome.Result != UnitResult::NotStarted) text += " (" + std::to_string(outcome.Time.count()) + " ms)";
    if (!Colour) return text;
    return (outcome.Result == UnitResult::Loaded ? Green : Red) + text + Plain;
  }

  static std::string Bar(std::uint32_t percent) {
    const std::size_t filled = BarWidth * std::min(percent, FullBar) / FullBar;
    return "[" + std::string(filled, '#') + std::string(BarWidth - filled, '-') + "] " + std::to_string(percent) + " %";
  }

  // Up over the live lines, everything below cleared, the new scrolling
  // lines, then the live lines again.
  void Redraw(const std::string& scrolled) {
    std::string out = Drawn > 0 ? "\x1b[" + std::to_string(Drawn) + "A\x1b[J" : std::string();
    out += scrolled;
    for (const auto& [unit, live] : Live) {
      std::string label = Label(unit);
      if (label.size() > LongestLiveLabel) {
        // Cut before a whole character: never inside a UTF-8 sequence.
        std::size_t cut = LongestLiveLabel;
        while (cut > 0 && (static_cast<unsigned char>(label[cut]) & Utf8ContinuationMask) == Utf8Continuation) --cut;
        label.resize(cut);
      }
      out += label + "  " + live.Step + (live.Percent ? "  " + Bar(*live.Percent) : std::string()) + "\n";
    }
    Drawn = Live.size();
    Print(out);
  }

  static void Print(const std::string& text) {
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
  }

  const fleet::Plan& Plan;
  const bool Terminal;
  const bool Colour;
  std::mutex Lock;
  std::map<std::size_t, LiveLine> Live;  // by the plan's row, so a gateway's line keeps its place
  std::size_t Drawn = 0;
};

// Every problem as PLAN:LINE: reason; a damaged image that --force sends
// is warned of once, at its first row.
bool Refused(const std::string& path, const fleet::Plan& plan) {
  for (const fleet::PlanProblem& problem : plan.Problems)
    PrintError(path + (problem.Line > 0 ? ":" + std::to_string(problem.Line) : std::string()) + ": " + problem.Reason);
  if (!plan.Problems.empty()) return true;
  std::map<std::string, bool> warned;
  for (const fleet::PlanRow& row : plan.Rows) {
    const auto image = plan.Images.find(row.ImagePath);
    if (image == plan.Images.end() || image->second.Verdict.Defect.empty() || warned[row.ImagePath]) continue;
    const LoadingVerdict& verdict = image->second.Verdict;
    warned[row.ImagePath] = true;
    PrintError("warning: " + path + ":" + std::to_string(row.Line) + ": image \"" + text::Cp1251ToUtf8(row.Image) +
               "\": " + verdict.Defect + "; sent anyway (--force)");
  }
  return false;
}

fleet::FleetSettings Settings(const FleetOptions& options) {
  fleet::FleetSettings settings;
  settings.Jobs = options.Jobs;
  settings.Link = {options.Tries, static_cast<std::uint32_t>(options.Timeout)};
  settings.Retries = options.Retry;
  settings.TraceFolder = options.Trace.Text;
  settings.CaptureFolder = options.Trace.Capture;
  if (!options.Deadline.empty()) {
    const double seconds = std::min(std::strtod(options.Deadline.c_str(), nullptr), LongestDeadlineSeconds);
    settings.Deadline = std::chrono::milliseconds(static_cast<std::int64_t>(seconds * MillisecondsPerSecond));
  }
  return settings;
}

// The report is written whatever the units did; false when it cannot be.
bool WriteReport(const std::string& path, const fleet::Plan& plan, const std::vector<UnitOutcome>& outcomes) {
  if (path.empty()) return true;
  try {
    WriteFileAtomically(path, fleet::JsonReport(plan, outcomes));
    return true;
  } catch (const std::exception& e) {
    PrintError(e.what());
    return false;
  }
}

// Runs `work` on a thread of its own until it ends or the user stops the
// program; then `abort` runs here and the work ends. True when stopped.
bool RunUntilStopped(WakeUp& watch, const std::function<void()>& work, const std::function<void()>& abort) {
  std::thread worker;
  // The user's stop must reach this thread, never the loadings' socket calls.
  watch.StartShielded([&] {
    worker = std::thread([&] {
      work();
      WakeUp::Notify(RunEnded);
    });
  });
  const bool interrupted = watch.Wait() == WakeUp::Interrupted;
  if (interrupted) abort();
  worker.join();
  return interrupted;
}

// Each gateway whose trace is incomplete is named; a run that went well fails.
int CheckTraces(const fleet::CFleetRun& run, int status) {
  const std::vector<std::string> failures = run.TraceFailures();
  for (const std::string& failure : failures) PrintError("smsconf-cli: " + failure);
  return failures.empty() || status != ExitOk ? status : ExitFailure;
}

int ProbePlan(WakeUp& watch, fleet::CFleetRun& run) {
  std::vector<ProbeUnit> answers;
  if (RunUntilStopped(watch, [&] { answers = run.Probe(); }, [&] { run.Abort(); })) {
    PrintError("probe interrupted");
    return CheckTraces(run, ExitSignalBase + WakeUp::StopSignal());
  }
  const bool all = std::ranges::all_of(answers, [](const ProbeUnit& a) { return a.Outcome == ProbeOutcome::Answered; });
  return CheckTraces(run, all ? ExitOk : ExitFailure);
}

int RunFleet(const FleetOptions& options) {
  const fleet::ImageCheck images = options.Probe   ? fleet::ImageCheck::Skip
                                   : options.Force ? fleet::ImageCheck::AcceptDamaged
                                                   : fleet::ImageCheck::Strict;
  const fleet::Plan plan = fleet::ReadPlan(options.Plan, images);
  if (Refused(options.Plan, plan)) return ExitUsage;

  const SocketLibrary sockets;
  // Ctrl+C and SIGTERM only wake this thread; the abort runs here.
  WakeUp watch(true);
  if (!watch.Ready()) {
    PrintError("Cannot watch for Ctrl+C");
    return ExitFailure;
  }
  const bool terminal = OutputIsTerminal();
  FleetDisplay display(plan, terminal, ColourWanted(terminal, options.NoColor));
  fleet::CFleetRun run(plan, Settings(options), &display);
  if (options.Probe) return ProbePlan(watch, run);

  std::vector<UnitOutcome> outcomes;
  const bool interrupted = RunUntilStopped(watch, [&] { outcomes = run.Run(); }, [&] { run.Abort(); });
  display.End();

  std::fputs(("\n" + fleet::SummaryTable(plan, outcomes)).c_str(), stdout);
  std::fflush(stdout);
  if (interrupted) {
    PrintError(InterruptedLoadingWarning);
  }
  const bool reported = WriteReport(options.Report, plan, outcomes);
  if (interrupted) return CheckTraces(run, ExitSignalBase + WakeUp::StopSignal());
  const bool allLoaded =
      std::ranges::all_of(outcomes, [](const UnitOutcome& outcome) { return outcome.Result == UnitResult::Loaded; });
  return CheckTraces(run, allLoaded && reported ? ExitOk : ExitFailure);
}

}  // namespace

std::function<int()> SetupFleet(CLI::App& app) {
  auto options = std::make_shared<FleetOptions>();
  CLI::App* command = app.add_subcommand("fleet", "Write configuration images into every unit that a plan names");
  command->add_option("PLAN", options->Plan,
                      "CSV plan: a header naming gateway, unit, image and optionally name, then one row per unit")
      ->required();
  command->add_option("--jobs", options->Jobs, "Gateways loading at once")
      ->check(WholeNumber(false))
      ->check(CLI::Range(Jobs.Min, Jobs.Max))
      ->capture_default_str();
  CLI::Option* force = command->add_flag("--force", options->Force, "Send images that fail the image check anyway");
  CLI::Option* deadline =
      AddDeadlineOption(command, options->Deadline, "Give up a unit's loading after this many seconds");
  CLI::Option* retry = command->add_option("--retry", options->Retry, "Try a failed unit again, at the end of its gateway's queue, this often")
      ->check(WholeNumber(false))
      ->check(CLI::Range(Retries.Min, Retries.Max))
      ->capture_default_str();
  CLI::Option* report = command->add_option("--report", options->Report, "Write what every unit did as JSON into this file")
      ->type_name("FILE.json");
  AddLinkOptions(command, options->Tries, options->Timeout);
  command->add_flag("--no-color", options->NoColor, "Never colour the results");
  AddTraceFolderOptions(*command, options->Trace);
  command->add_flag("--probe", options->Probe,
                    "Only ask every gateway for its information and every unit for its identifier; send no image")
      // A probe loads nothing: the options of a loading would be ignored.
      ->excludes(force)
      ->excludes(deadline)
      ->excludes(retry)
      ->excludes(report);
  return [options] { return RunFleet(*options); };
}

}  // namespace smsconf::cli
