// smsconf-cli load [IMAGE]: writes a configuration image into a unit through
// its gateway, with the loading dialog's defaults and checks, and prints the
// loading's log lines as they come.

#include "cli/Command.h"
#include "image/ExportPaths.h"
#include "link/Parseip.h"
#include "link/Rpcinterface.h"
#include "loading/ThreadConfigLoading.h"
#include "text/Cp1251.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <string>

namespace smsconf::cli {

namespace {

constexpr int LoadOrder = 50;
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
};

// Why the wait for the loading ended; one byte each through the wake-up pipe.
enum class Ending : char { Completed = 'C', Failed = 'F', Interrupted = 'I' };

// The write end of the wake-up pipe, for the signal handler.
std::atomic<int> WakeUpFd{-1};

void Notify(Ending ending) {
  const char byte = static_cast<char>(ending);
  [[maybe_unused]] const ssize_t written = ::write(WakeUpFd.load(), &byte, 1);
}

extern "C" void OnInterrupt(int) {
  const int saved = errno;
  Notify(Ending::Interrupted);
  errno = saved;
}

// Ctrl+C only wakes the waiting thread; the abort itself runs there.
class InterruptWatch {
 public:
  InterruptWatch() {
    if (::pipe2(Fds, O_CLOEXEC) != 0) return;
    WakeUpFd = Fds[1];
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    Installed = ::sigaction(SIGINT, &action, &Previous) == 0;
  }
  ~InterruptWatch() {
    if (Installed) ::sigaction(SIGINT, &Previous, nullptr);
    WakeUpFd = -1;
    for (int fd : Fds)
      if (fd != -1) ::close(fd);
  }
  InterruptWatch(const InterruptWatch&) = delete;
  InterruptWatch& operator=(const InterruptWatch&) = delete;

  bool Ready() const { return Installed; }

  // Sleeps until the loading reaches its end or Ctrl+C is pressed.
  Ending WaitForEnding() const {
    char byte = 0;
    for (;;) {
      const ssize_t got = ::read(Fds[0], &byte, 1);
      if (got == 1) return static_cast<Ending>(byte);
      if (got < 0 && errno == EINTR) continue;
      return Ending::Failed;
    }
  }

 private:
  int Fds[2] = {-1, -1};
  bool Installed = false;
  struct sigaction Previous {};
};

// Starts the worker with Ctrl+C blocked, so that the signal is delivered to
// this thread and never interrupts the worker's socket calls.
void StartWithInterruptBlocked(CThreadConfigLoading& loading) {
  sigset_t interrupt;
  sigset_t previous;
  sigemptyset(&interrupt);
  sigaddset(&interrupt, SIGINT);
  ::pthread_sigmask(SIG_BLOCK, &interrupt, &previous);
  loading.Start();
  ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}


void PrintLine(const std::string& utf8) {
  std::fputs(utf8.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

CThreadConfigLoading::LogSink PrintingSink(bool colour) {
  return [colour](int kind, const std::string& cp1251) {
    const std::string line = text::Cp1251ToTerminal(cp1251);
    const char* paint = kind == CThreadConfigLoading::Alert     ? Red
                        : kind == CThreadConfigLoading::Success ? Green
                                                                : nullptr;
    PrintLine(colour && paint != nullptr ? paint + line + Plain : line);
  };
}

void PrintError(const char* utf8) { std::fprintf(stderr, "%s\n", utf8); }

int RunLoad(const LoadOptions& options) {
  CParseIP address;
  if (!address.Parse(options.Gateway, RpcDefaultPort)) {
    PrintError("Ошибка в написании IP адреса");
    return ExitUsage;
  }

  CRPCInterface rpc;
  auto loading = std::make_unique<CThreadConfigLoading>();
  switch (loading->LoadImage(options.Image)) {
    case CThreadConfigLoading::ImageLoad::Loaded: break;
    case CThreadConfigLoading::ImageLoad::Unreadable:
      PrintError("Ошибка чтения файла");
      return ExitFailure;
    case CThreadConfigLoading::ImageLoad::TooLarge:
      PrintError("Файл конфигурации больше 65536 байт");
      return ExitFailure;
  }
  PrintLine("Размер файла конфигурации " + std::to_string(loading->ImageSize) + " байт");

  rpc.AddressText = options.Gateway;
  rpc.Tries = options.Tries;
  rpc.Timeout = static_cast<std::uint32_t>(options.Timeout);
  rpc.Open();  // a transport that cannot open shows up as the first request failing

  InterruptWatch watch;
  if (!watch.Ready()) {
    PrintError("Cannot watch for Ctrl+C");
    return ExitFailure;
  }
  loading->Client.Rpc = &rpc;
  loading->Client.Address = static_cast<std::uint32_t>(options.Unit);
  loading->ImageAddress = CThreadConfigLoading::ConfigImageAddress;
  loading->Sink = PrintingSink(!options.NoColor && ::isatty(STDOUT_FILENO) == 1);
  loading->CurrentLinkSettings = [&options] {
    return LinkSettings{options.Tries, static_cast<std::uint32_t>(options.Timeout)};
  };
  loading->OnFinalStep = [](int step) {
    Notify(step == CThreadConfigLoading::StepCompleted ? Ending::Completed : Ending::Failed);
  };
  StartWithInterruptBlocked(*loading);

  const Ending ending = watch.WaitForEnding();
  // The aborted request returns at its next poll; the lines the worker
  // still writes are printed before Wait returns.
  if (ending == Ending::Interrupted) rpc.Abort = true;
  loading->RequestStop();
  loading->Wait();
  loading.reset();

  if (ending == Ending::Interrupted) return ExitInterrupted;
  return ending == Ending::Completed ? ExitOk : ExitFailure;
}

std::function<int()> SetupLoad(CLI::App& app) {
  auto options = std::make_shared<LoadOptions>();
  options->Image = DefaultImagePath();
  CLI::App* load = app.add_subcommand("load", "Write a configuration image into a unit through its gateway");
  load->add_option("IMAGE", options->Image, "Configuration image to write")->capture_default_str();
  load->add_option("--gateway", options->Gateway, "Gateway address, a.b.c.d or a.b.c.d:port")
      ->capture_default_str();
  load->add_option("--unit", options->Unit, "Modbus address of the unit")
      ->check(CLI::Range(MinUnit, MaxUnit))
      ->capture_default_str();
  load->add_option("--tries", options->Tries, "Sends per request")
      ->check(CLI::Range(MinTries, MaxTries))
      ->capture_default_str();
  load->add_option("--timeout", options->Timeout, "Wait for each reply, in milliseconds")
      ->check(CLI::Range(MinTimeout, MaxTimeout))
      ->capture_default_str();
  load->add_flag("--no-color", options->NoColor, "Never colour the log lines");
  return [options] { return RunLoad(*options); };
}

const bool Registered = RegisterCommand({LoadOrder, SetupLoad});

}  // namespace

}  // namespace smsconf::cli
