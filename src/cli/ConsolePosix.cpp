#include "cli/Console.h"

#include <atomic>
#include <cerrno>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

namespace smsconf::cli {

namespace {

// The wake-up pipe, shared with the signal handler.
int Fds[2] = {-1, -1};
std::atomic<int> WakeUpFd{-1};
std::atomic<int> LastStopSignal{SIGINT};
// Ctrl+C first; the others only with alsoTermination.
constexpr int StopSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int StopSignalCount = sizeof StopSignals / sizeof StopSignals[0];
struct sigaction Previous[StopSignalCount] {};

int WatchedSignals(bool alsoTermination) { return alsoTermination ? StopSignalCount : 1; }

extern "C" void OnStopSignal(int signal) {
  const int saved = errno;
  LastStopSignal = signal;
  WakeUp::Notify(WakeUp::Interrupted);
  errno = saved;
}

sigset_t Signals(bool alsoTermination) {
  sigset_t signals;
  sigemptyset(&signals);
  for (int i = 0; i < WatchedSignals(alsoTermination); ++i) sigaddset(&signals, StopSignals[i]);
  return signals;
}

}  // namespace

std::vector<std::string> Utf8Arguments(int argc, char** argv) { return {argv, argv + argc}; }

void PrepareConsole() { ::signal(SIGPIPE, SIG_IGN); }

// A write of nothing fails again on a full device; a pipe whose reader has
// gone takes it, but reports an error to poll. A full disk tells nothing.
int OutputErrorNow() {
  if (::write(STDOUT_FILENO, "", 0) < 0) return errno;
  pollfd output{STDOUT_FILENO, POLLOUT, 0};
  return ::poll(&output, 1, 0) == 1 && (output.revents & POLLERR) != 0 ? EPIPE : 0;
}

bool OutputIsTerminal() { return ::isatty(STDOUT_FILENO) == 1; }

WakeUp::WakeUp(bool alsoTermination) : AlsoTermination(alsoTermination) {
  if (::pipe2(Fds, O_CLOEXEC) != 0) return;
  WakeUpFd = Fds[1];
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  int installed = 0;
  for (int i = 0; i < WatchedSignals(alsoTermination); ++i)
    installed += ::sigaction(StopSignals[i], &action, &Previous[i]) == 0 ? 1 : 0;
  Installed = installed == WatchedSignals(alsoTermination);
}

WakeUp::~WakeUp() {
  if (WakeUpFd != -1) {
    for (int i = 0; i < WatchedSignals(AlsoTermination); ++i) ::sigaction(StopSignals[i], &Previous[i], nullptr);
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

int WakeUp::StopSignal() { return LastStopSignal; }

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
