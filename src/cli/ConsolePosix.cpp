#include "cli/Console.h"

#include <atomic>
#include <cerrno>

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

namespace smsconf::cli {

namespace {

// The wake-up pipe, shared with the signal handler.
int Fds[2] = {-1, -1};
std::atomic<int> WakeUpFd{-1};
struct sigaction Previous[2] {};
constexpr int StopSignals[2] = {SIGINT, SIGTERM};

extern "C" void OnStopSignal(int) {
  const int saved = errno;
  WakeUp::Notify(WakeUp::Interrupted);
  errno = saved;
}

sigset_t Signals(bool alsoTermination) {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  if (alsoTermination) sigaddset(&signals, SIGTERM);
  return signals;
}

}  // namespace

std::vector<std::string> Utf8Arguments(int argc, char** argv) { return {argv, argv + argc}; }

void PrepareConsole() {}

bool OutputIsTerminal() { return ::isatty(STDOUT_FILENO) == 1; }

WakeUp::WakeUp(bool alsoTermination) : AlsoTermination(alsoTermination) {
  if (::pipe2(Fds, O_CLOEXEC) != 0) return;
  WakeUpFd = Fds[1];
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  Installed = ::sigaction(SIGINT, &action, &Previous[0]) == 0 &&
              (!alsoTermination || ::sigaction(SIGTERM, &action, &Previous[1]) == 0);
}

WakeUp::~WakeUp() {
  if (Installed) {
    for (int i = 0; i < (AlsoTermination ? 2 : 1); ++i) ::sigaction(StopSignals[i], &Previous[i], nullptr);
  }
  WakeUpFd = -1;
  for (int& fd : Fds) {
    if (fd != -1) ::close(fd);
    fd = -1;
  }
}

char WakeUp::Wait() {
  char byte = 0;
  for (;;) {
    const ssize_t got = ::read(Fds[0], &byte, 1);
    if (got == 1) return byte;
    if (got < 0 && errno == EINTR) continue;
    return '\0';
  }
}

void WakeUp::Notify(char byte) {
  [[maybe_unused]] const ssize_t written = ::write(WakeUpFd.load(), &byte, 1);
}

// The signals are blocked while the threads start, so they inherit the mask
// and the signals go to the waiting thread alone.
void WakeUp::StartShielded(const std::function<void()>& start) const {
  const sigset_t signals = Signals(AlsoTermination);
  sigset_t previous;
  ::pthread_sigmask(SIG_BLOCK, &signals, &previous);
  start();
  ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

}  // namespace smsconf::cli
