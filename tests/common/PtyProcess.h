#pragma once

// A program run on a pseudo-terminal of its own, as from an interactive
// shell, its output read whole. Linux only: the terminal is made by
// forkpty, from the util library.

#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <string>
#include <vector>

#include "common/ChildProcess.h"

namespace smsconf::testing {

class PtyProcess {
 public:
  explicit PtyProcess(std::vector<std::string> arguments) {
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    // Output as the program writes it: no carriage return put before each
    // line feed.
    termios raw{};
    ::cfmakeraw(&raw);
    Pid = ::forkpty(&Terminal, nullptr, &raw, nullptr);
    if (Pid == 0) {
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
  }
  ~PtyProcess() {
    if (Pid > 0) ::kill(Pid, SIGKILL);
    Wait();
    if (Terminal != -1) ::close(Terminal);
  }
  PtyProcess(const PtyProcess&) = delete;
  PtyProcess& operator=(const PtyProcess&) = delete;

  // Everything written until the program lets go of the terminal, or stays
  // silent for a generous while.
  std::string Output() {
    std::string output;
    char buffer[4096];
    for (pollfd readable{Terminal, POLLIN, 0}; ::poll(&readable, 1, 30000) > 0;) {
      const ssize_t got = ::read(Terminal, buffer, sizeof buffer);
      if (got <= 0) break;  // EIO once the program's side is closed
      output.append(buffer, static_cast<std::size_t>(got));
    }
    return output;
  }

  // The exit status, or 128 + the signal that ended it; -1 when it could not
  // be started.
  int Wait() { return Status = Reap(Pid, Status); }

 private:
  pid_t Pid = -1;
  int Terminal = -1;
  int Status = -1;
};

}  // namespace smsconf::testing
