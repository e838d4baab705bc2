#pragma once

// A program run on a pseudo-terminal of its own, as from an interactive
// shell. Linux only: the terminal is made by forkpty, from the util library.

#include <pty.h>
#include <termios.h>

#include "common/ChildProcess.h"

namespace smsconf::testing {

class PtyProcess : public ChildProcess {
 public:
  // `environment`: "NAME=value" entries set for the program alone, after
  // NO_COLOR is taken away, so that the tester's own does not count.
  explicit PtyProcess(std::vector<std::string> arguments, std::vector<std::string> environment = {}) {
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    // Output as the program writes it: no carriage return put before each
    // line feed.
    termios raw{};
    ::cfmakeraw(&raw);
    Pid = ::forkpty(&Output, nullptr, &raw, nullptr);
    if (Pid == 0) {
      ::unsetenv("NO_COLOR");
      for (std::string& entry : environment) ::putenv(entry.data());
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
  }
};

}  // namespace smsconf::testing
