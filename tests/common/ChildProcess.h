#pragma once

// A program run as a child process, its standard output and error read as
// lines through one pipe while it runs.

#ifdef _WIN32
#include "common/WindowsProcess.h"
#else
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "common/OutputLines.h"

extern char** environ;

namespace smsconf::testing {

// Waits for the child `pid` to end and forgets it: its exit status, or 128 +
// the signal that ended it; `status` when there is no child to wait for.
inline int Reap(pid_t& pid, int status) {
  int raw = 0;
  if (pid > 0 && ::waitpid(pid, &raw, 0) == pid) status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
  pid = -1;
  return status;
}

class ChildProcess : public OutputLines<ChildProcess> {
 public:
  static constexpr bool CanInterrupt = true;

  explicit ChildProcess(std::vector<std::string> arguments) {
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    int fds[2] = {-1, -1};
    if (::pipe2(fds, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
    if (::posix_spawn(&Pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) Pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    Output = fds[0];
  }
  ~ChildProcess() {
    Signal(SIGKILL);
    Wait();
    if (Output != -1) ::close(Output);
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool ReadByte(char& c) {
    pollfd readable{Output, POLLIN, 0};
    return ::poll(&readable, 1, 30000) > 0 && ::read(Output, &c, 1) == 1;
  }

  // Lets go of the program's output, as a reader that goes away does.
  void CloseOutput() {
    ::close(Output);
    Output = -1;
  }

  void Signal(int signal) const {
    if (Pid > 0) ::kill(Pid, signal);
  }
  pid_t Id() const { return Pid; }

  // The exit status, or 128 + the signal that ended it; -1 when it could not
  // be started.
  int Wait() { return Status = Reap(Pid, Status); }

 private:
  pid_t Pid = -1;
  int Output = -1;
  int Status = -1;
};

}  // namespace smsconf::testing
#endif
