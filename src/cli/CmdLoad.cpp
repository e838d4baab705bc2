// smsconf-cli load [IMAGE]: writes a configuration image into a unit through
// its gateway, with the loading dialog's defaults and checks, and prints the
// loading's log lines as they come.

#include "cli/Command.h"
#include "cli/Console.h"
#include "files/ExportPaths.h"
#include "files/FileBytes.h"
#include "image/ImageDecoder.h"
#include "link/Parseip.h"
#include "link/Rpcinterface.h"
#include "loading/ThreadConfigLoading.h"
#include "text/Cp1251.h"

#include <csignal>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <string>

namespace smsconf::cli {

namespace {

constexpr int ExitInterrupted = 128 + SIGINT;  // what shells report for Ctrl+C

constexpr const char* DefaultGateway = "192.168.1.1";
constexpr int DefaultUnit = 1;
constexpr int MinUnit = 1;
constexpr int MaxUnit = 254;
constexpr int DefaultTries = 15;
constexpr int MinTries = 1;
constexpr int MaxTries = 100;
constexpr int DefaultTimeout = 250;
constexpr int MinTimeout = 100;
constexpr int MaxTimeout = 500;


constexpr std::size_t ProgressBarWidth = 30;
constexpr int FullProgress = 100;

constexpr const char* Red = "\x1b[31m";
constexpr const char* Green = "\x1b[32m";
constexpr const char* Plain = "\x1b[0m";

struct LoadOptions {
  std::string Image;
  std::string Gateway = DefaultGateway;
  int Unit = DefaultUnit;
  int Tries = DefaultTries;
  int Timeout = DefaultTimeout;
  bool NoColor = false;
  bool Force = false;
};

// Why the wait for the loading ended; one byte each through the wake-up.
enum class Ending : char { Completed = 'C', Failed = 'F', Interrupted = WakeUp::Interrupted };

void Notify(Ending ending) { WakeUp::Notify(static_cast<char>(ending)); }

void PrintLine(const std::string& utf8) {
  std::fputs(utf8.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

void PrintError(const std::string& utf8) { std::fprintf(stderr, "%s\n", utf8.c_str()); }

// The per cent of a block's progress line ("Выполнено 42 %"), or -1 for any
// other line.
int ProgressPercent(const std::string& cp1251) {
  static const std::string prefix = text::Cp1251("Выполнено ");
  static const std::string suffix = " %";
  if (!cp1251.starts_with(prefix) || !cp1251.ends_with(suffix)) return -1;
  const std::string digits = cp1251.substr(prefix.size(), cp1251.size() - prefix.size() - suffix.size());
  if (digits.empty() || digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos) {
    return -1;
  }
  return std::stoi(digits);
}

std::string ProgressBar(int percent) {
  const std::size_t filled = ProgressBarWidth * static_cast<std::size_t>(std::min(percent, FullProgress)) /
                             FullProgress;
  return "[" + std::string(filled, '#') + std::string(ProgressBarWidth - filled, '-') + "]";
}

// Prints the loading's log lines. On a terminal the progress lines of the
// blocks share one line, rewritten in place with a bar; everywhere else,
// and for every other line, each line stands on its own.
class LogPrinter {
 public:
  LogPrinter(bool terminal, bool colour) : Terminal(terminal), Colour(colour) {}

  void Print(int kind, const std::string& cp1251) {
    const std::string line = text::Cp1251ToTerminal(cp1251);
    const int percent = Terminal ? ProgressPercent(cp1251) : -1;
    if (percent >= 0) {
      // Back to the start of the line, and the rest of it cleared.
      std::fputs(("\r\x1b[K" + line + " " + ProgressBar(percent)).c_str(), stdout);
      std::fflush(stdout);
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
  bool ProgressShown = false;
};

// Reads the image as the loading will send it; false (and why, said) when
// it cannot be read or is too large.
bool ReadImage(CThreadConfigLoading& loading, const std::string& path) {
  int error = 0;
  switch (loading.LoadImage(path, &error)) {
    case CThreadConfigLoading::ImageLoad::Loaded: return true;
    case CThreadConfigLoading::ImageLoad::Unreadable:
      PrintError("Ошибка чтения файла " + path + ": " + FileErrorReason(error));
      return false;
    case CThreadConfigLoading::ImageLoad::TooLarge:
      PrintError("Файл конфигурации больше 65536 байт: " + path);
      return false;
  }
  return false;
}

// A unit takes whatever it is sent, so the image is checked the way dump
// checks it before anything goes out; --force sends a damaged one anyway.
bool ImageAccepted(const CThreadConfigLoading& loading, const LoadOptions& options) {
  const ImageDecodeResult result = CImageDecoder::Decode({loading.Image.data(), loading.ImageSize});
  if (result.Ok) return true;
  if (options.Force) {
    PrintError("warning: " + options.Image + ": " + result.Defect + "; sent anyway (--force)");
    return true;
  }
  PrintError(options.Image + ": " + result.Defect);
  PrintError("The image is damaged and was not sent; --force sends it anyway.");
  return false;
}

int RunLoad(const LoadOptions& options) {
  CParseIP address;
  if (!address.Parse(options.Gateway, RpcDefaultPort)) {
    PrintError("Ошибка в написании IP адреса: \"" + options.Gateway +
               "\" (accepted: a.b.c.d or a.b.c.d:port, e.g. 192.168.1.1 or 192.168.1.1:1122)");
    return ExitUsage;
  }

  const SocketLibrary sockets;
  CRPCInterface rpc;
  auto loading = std::make_unique<CThreadConfigLoading>();
  if (!ReadImage(*loading, options.Image) || !ImageAccepted(*loading, options)) return ExitFailure;
  PrintLine("Размер файла конфигурации " + std::to_string(loading->ImageSize) + " байт");

  rpc.AddressText = options.Gateway;
  rpc.Tries = options.Tries;
  rpc.Timeout = static_cast<std::uint32_t>(options.Timeout);
  rpc.Open();  // a transport that cannot open shows up as the first request failing

  // Ctrl+C only wakes the waiting thread; the abort itself runs there.
  WakeUp watch;
  if (!watch.Ready()) {
    PrintError("Cannot watch for Ctrl+C");
    return ExitFailure;
  }
  loading->Client.Rpc = &rpc;
  loading->Client.Address = static_cast<std::uint32_t>(options.Unit);
  loading->ImageAddress = CThreadConfigLoading::ConfigImageAddress;
  const bool terminal = OutputIsTerminal();
  auto printer = std::make_shared<LogPrinter>(terminal, terminal && !options.NoColor);
  loading->Sink = [printer](int kind, const std::string& text) { printer->Print(kind, text); };
  loading->CurrentLinkSettings = [&options] {
    return LinkSettings{options.Tries, static_cast<std::uint32_t>(options.Timeout)};
  };
  loading->OnFinalStep = [](int step) {
    Notify(step == CThreadConfigLoading::StepCompleted ? Ending::Completed : Ending::Failed);
  };
  // Ctrl+C must never interrupt the worker's socket calls.
  watch.StartShielded([&loading] { loading->Start(); });

  const Ending ending = static_cast<Ending>(watch.Wait());
  // The aborted request returns at its next poll; the lines the worker
  // still writes are printed before Wait returns.
  if (ending == Ending::Interrupted) rpc.Abort = true;
  loading->RequestStop();
  loading->Wait();
  loading.reset();
  printer->EndProgress();

  if (ending == Ending::Interrupted) {
    PrintError("Загрузка прервана: АУ может остаться в режиме \"ЗАГРУЗКА КОНФИГУРАЦИИ\" "
               "до следующей полной загрузки");
    return ExitInterrupted;
  }
  return ending == Ending::Completed ? ExitOk : ExitFailure;
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
      ->check(CLI::Range(MinUnit, MaxUnit))
      ->capture_default_str();
  load->add_option("--tries", options->Tries, "Sends per request")
      ->check(WholeNumber(true))
      ->check(CLI::Range(MinTries, MaxTries))
      ->capture_default_str();
  load->add_option("--timeout", options->Timeout, "Wait for each reply, in milliseconds")
      ->check(WholeNumber(true))
      ->check(CLI::Range(MinTimeout, MaxTimeout))
      ->capture_default_str();
  load->add_flag("--no-color", options->NoColor, "Never colour the log lines");
  load->add_flag("--force", options->Force, "Send an image that fails the image check anyway");
  return [options] { return RunLoad(*options); };
}

}  // namespace smsconf::cli
