// smsconf-cli load [IMAGE]: writes a configuration image into a unit through
// its gateway, with the loading dialog's defaults and checks, and prints the
// loading's log lines as they come.

#include "cli/Command.h"
#include "cli/Console.h"
#include "cli/TraceOption.h"
#include "files/ExportPaths.h"
#include "files/FileBytes.h"
#include "image/ImageFormat.h"
#include "limits/Limits.h"
#include "link/Rpcinterface.h"
#include "loading/LoadingSetup.h"
#include "loading/ThreadConfigLoading.h"
#include "text/Cp1251.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace smsconf::cli {

namespace {

// What shells report for a program that a signal ended: 128 + the signal.
// The image is written, but the unit did not confirm the end of the loading.
constexpr int ExitUnconfirmed = 3;
// A longer deadline is as good as none, and keeps the clock's sums in range.

constexpr std::size_t ProgressBarWidth = 30;
constexpr int FullProgress = 100;

constexpr const char* Red = "\x1b[31m";
constexpr const char* Green = "\x1b[32m";
constexpr const char* Plain = "\x1b[0m";

struct LoadOptions {
  std::string Image;
  std::string Gateway = limits::DefaultGateway;
  int Unit = limits::DefaultUnit;
  int Tries = limits::DefaultTries;
  int Timeout = limits::DefaultTimeoutMs;
  bool NoColor = false;
  bool Force = false;
  std::string Deadline;  // seconds, as typed; empty: none
  TraceOptions Trace;
};

// Why the wait for the loading ended; one byte each through the wake-up.
enum class Ending : char {
  Completed = 'C',
  Unconfirmed = 'U',  // completed, but the unit did not confirm it
  Failed = 'F',
  Interrupted = WakeUp::Interrupted,
  PastDeadline = 'D',
};

void Notify(Ending ending) { WakeUp::Notify(static_cast<char>(ending)); }

// Wakes the waiting thread once the loading's time is up, unless it goes
// first.
class DeadlineWatch {
 public:
  ~DeadlineWatch() {
    {
      const std::lock_guard lock(Guard);
      CalledOff = true;
    }
    Changed.notify_all();
    if (Timer.joinable()) Timer.join();
  }

  void Start(double seconds) {
    const auto limit = std::chrono::duration<double>(std::min(seconds, LongestDeadlineSeconds));
    Timer = std::thread([this, limit] {
      std::unique_lock lock(Guard);
      if (!Changed.wait_for(lock, limit, [this] { return CalledOff; })) Notify(Ending::PastDeadline);
    });
  }

 private:
  std::mutex Guard;
  std::condition_variable Changed;
  bool CalledOff = false;
  std::thread Timer;
};

void PrintLine(const std::string& utf8) {
  std::fputs(utf8.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

void PrintError(const std::string& utf8) { std::fprintf(stderr, "%s\n", utf8.c_str()); }

std::string ProgressBar(std::uint32_t percent) {
  const std::size_t filled = ProgressBarWidth * std::min<std::size_t>(percent, FullProgress) / FullProgress;
  return "[" + std::string(filled, '#') + std::string(ProgressBarWidth - filled, '-') + "]";
}

// Prints the loading's log lines. On a terminal the progress lines of the
// blocks share one line, rewritten in place with a bar; everywhere else,
// and for every other line, each line stands on its own.
class LogPrinter {
 public:
  LogPrinter(bool terminal, bool colour) : Terminal(terminal), Colour(colour) {}

  // A block was confirmed; its progress line is the next line to print.
  void Progress(std::uint32_t written, std::uint32_t total) {
    if (Terminal) ProgressLine = CThreadConfigLoading::ProgressPercent(written, total);
  }

  void Print(int kind, const std::string& cp1251) {
    const std::string line = text::Cp1251ToTerminal(cp1251);
    if (ProgressLine) {
      // Back to the start of the line, and the rest of it cleared.
      std::fputs(("\r\x1b[K" + line + " " + ProgressBar(*ProgressLine)).c_str(), stdout);
      std::fflush(stdout);
      ProgressLine.reset();
      ProgressShown = true;
      return;
    }
    EndProgress();
    const char* paint = kind == CThreadConfigLoading::Alert     ? Red
                        : kind == CThreadConfigLoading::Success ? Green
                                                                : nullptr;
    PrintLine(Colour && paint != nullptr ? paint + line + Plain : line);
  }

  // Ends a progress line still open, so that what follows starts afresh.
  void EndProgress() {
    if (!ProgressShown) return;
    ProgressShown = false;
    std::fputc('\n', stdout);
    std::fflush(stdout);
  }

 private:
  const bool Terminal;
  const bool Colour;
  std::optional<std::uint32_t> ProgressLine;  // the per cent of the progress line to come
  bool ProgressShown = false;
};

LinkSettings Link(const LoadOptions& options) {
  return LinkSettings{options.Tries, static_cast<std::uint32_t>(options.Timeout)};
}

// Says why the set-up refused the loading, or warns of a damaged image that
// --force sends anyway; the exit status of a refusal, or nothing.
std::optional<int> Refusal(const LoadingVerdict& verdict, const LoadOptions& options) {
  switch (verdict.Outcome) {
    case LoadingVerdict::Ready:
      if (!verdict.Defect.empty())
        PrintError("warning: " + options.Image + ": " + verdict.Defect + "; sent anyway (--force)");
      return std::nullopt;
    case LoadingVerdict::BadAddress:
      PrintError("Ошибка в написании IP адреса: \"" + options.Gateway +
                 "\" (accepted: a.b.c.d or a.b.c.d:port, e.g. " + limits::DefaultGateway + " or " +
                 limits::DefaultGateway + ":" + std::to_string(limits::GatewayPort) + ")");
      return ExitUsage;
    case LoadingVerdict::Unreadable:
      PrintError("Ошибка чтения файла " + options.Image + ": " + FileErrorReason(verdict.Error));
      return ExitFailure;
    case LoadingVerdict::TooLarge:
      PrintError("Файл конфигурации больше " + std::to_string(imageformat::UnitCapacity) + " байт: " + options.Image);
      return ExitFailure;
    case LoadingVerdict::Damaged:
      PrintError(options.Image + ": " + verdict.Defect);
      PrintError("The image is damaged and was not sent; --force sends it anyway.");
      return ExitFailure;
  }
  return ExitFailure;
}

int Load(const LoadOptions& options, trace::CWireTrace* trace) {
  const SocketLibrary sockets;
  CRPCInterface rpc;
  LoadingSetup setup =
      SetUpLoading({options.Gateway, options.Unit, Link(options), trace}, options.Image, options.Force, rpc);
  if (const std::optional<int> status = Refusal(setup.Verdict, options)) return *status;
  std::unique_ptr<CThreadConfigLoading>& loading = setup.Procedure;
  PrintLine("Размер файла конфигурации " + std::to_string(loading->ImageSize) + " байт");

  // Ctrl+C, SIGTERM and SIGHUP only wake the waiting thread; the abort
  // itself runs there.
  WakeUp watch(true);
  if (!watch.Ready()) {
    PrintError("Cannot watch for Ctrl+C");
    return ExitFailure;
  }
  DeadlineWatch deadline;  // goes before the wake-up it notifies
  const bool terminal = OutputIsTerminal();
  auto printer = std::make_shared<LogPrinter>(terminal, ColourWanted(terminal, options.NoColor));
  loading->Sink = [printer](int kind, const std::string& text) { printer->Print(kind, text); };
  loading->OnProgress = [printer](std::uint32_t written, std::uint32_t total) { printer->Progress(written, total); };
  loading->CurrentLinkSettings = [&options] { return Link(options); };
  const CThreadConfigLoading* const procedure = loading.get();
  loading->OnFinalStep = [procedure](int step) {
    if (step != CThreadConfigLoading::StepCompleted) return Notify(Ending::Failed);
    Notify(procedure->Unconfirmed() != 0 ? Ending::Unconfirmed : Ending::Completed);
  };
  // The user's stop must never interrupt the worker's socket calls.
  watch.StartShielded([&] {
    loading->Start();
    if (!options.Deadline.empty()) deadline.Start(std::strtod(options.Deadline.c_str(), nullptr));
  });

  const Ending ending = static_cast<Ending>(watch.Wait());
  const bool aborted = ending == Ending::Interrupted || ending == Ending::PastDeadline;
  // The aborted request returns at its next poll; the lines the worker
  // still writes are printed before Wait returns.
  if (aborted) rpc.Abort = true;
  loading->RequestStop();
  loading->Wait();
  loading.reset();
  printer->EndProgress();

  if (ending == Ending::PastDeadline) PrintError("Срок загрузки истёк (--deadline " + options.Deadline + " с)");
  if (aborted) {
    PrintError(InterruptedLoadingWarning);
  }
  switch (ending) {
    case Ending::Completed: return ExitOk;
    case Ending::Unconfirmed: return ExitUnconfirmed;
    case Ending::Interrupted: return ExitSignalBase + WakeUp::StopSignal();
    case Ending::Failed:
    case Ending::PastDeadline: break;
  }
  return ExitFailure;
}

// The trace outlives the loading that writes into it.
int RunLoad(const LoadOptions& options) {
  std::string error;
  const std::unique_ptr<trace::CWireTrace> trace = OpenTrace(
      options.Trace, "load " + options.Image + " into unit " + std::to_string(options.Unit) + " behind " + options.Gateway,
      error);
  if (!error.empty()) {
    PrintError(error);
    return ExitFailure;
  }
  return CheckTrace(trace.get(), Load(options, trace.get()));
}

}  // namespace

std::function<int()> SetupLoad(CLI::App& app) {
  auto options = std::make_shared<LoadOptions>();
  options->Image = DefaultImagePath();
  CLI::App* load = app.add_subcommand("load", "Write a configuration image into a unit through its gateway");
  load->add_option("IMAGE", options->Image, "Configuration image to write")->capture_default_str();
  load->add_option("--gateway", options->Gateway, "Gateway address, a.b.c.d or a.b.c.d:port")
      ->capture_default_str();
  load->add_option("--unit", options->Unit, "Modbus address of the unit")
      ->check(WholeNumber(true))
      ->check(CLI::Range(limits::Unit.Min, limits::Unit.Max))
      ->capture_default_str();
  AddLinkOptions(load, options->Tries, options->Timeout);
  load->add_flag("--no-color", options->NoColor, "Never colour the log lines");
  load->add_flag("--force", options->Force, "Send an image that fails the image check anyway");
  AddDeadlineOption(load, options->Deadline,
                    "Abort the loading, as Ctrl+C does, after this many seconds (default: no deadline)");
  AddTraceOptions(*load, options->Trace);
  return [options] { return RunLoad(*options); };
}

}  // namespace smsconf::cli
