#pragma once

// Programs run as child processes: run to their end, with what they printed
// and how they exited (RunProcess), or read as they run, their standard
// output and error as lines through one pipe (ChildProcess).

#include <optional>
#include <string>
#include <vector>

namespace smsconf::testing {

struct ProcessResult {
  int Status = -1;  // the exit status, or 128 + the signal that ended it; -1: not started
  std::string Out;
  std::string Err;
};

// A child process's output read a byte at a time through the process's own
// ReadByte, which says false at the end of the output or when the program
// stays silent for a generous while.
template <typename Process>
class OutputLines {
 public:
  // The next line without its newline; nothing at the end of the output.
  std::optional<std::string> ReadLine() {
    std::string line;
    for (char c = 0; static_cast<Process*>(this)->ReadByte(c);) {
      if (c == '\n') return line;
      line += c;
    }
    return line.empty() ? std::nullopt : std::optional(line);
  }
  std::vector<std::string> RemainingLines() {
    std::vector<std::string> lines;
    while (std::optional<std::string> line = ReadLine()) lines.push_back(*line);
    return lines;
  }
  // Everything to the end of the output, as it came.
  std::string Rest() {
    std::string rest;
    for (char c = 0; static_cast<Process*>(this)->ReadByte(c);) rest += c;
    return rest;
  }
};

}  // namespace smsconf::testing

#ifdef _WIN32
#include "common/WindowsProcess.h"
#else
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "common/TempDir.h"

extern char** environ;

namespace smsconf::testing {

// The started program's id, or -1.
inline pid_t Spawn(std::vector<std::string> arguments, const posix_spawn_file_actions_t& actions) {
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  return ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0 ? pid : -1;
}

// Waits for the child `pid` to end and forgets it: its exit status, or 128 +
// the signal that ended it; `status` when there is no child to wait for.
inline int Reap(pid_t& pid, int status) {
  int raw = 0;
  if (pid > 0 && ::waitpid(pid, &raw, 0) == pid) status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
  pid = -1;
  return status;
}

// With `output`, the program's standard output goes there instead (a full
// device, a pipe without a reader), and Out stays empty.
inline ProcessResult RunProcess(std::vector<std::string> arguments, int output = -1) {
  const TempDir dir;
  const std::string out = dir.File("out"), err = dir.File("err");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (output >= 0)
    posix_spawn_file_actions_adddup2(&actions, output, STDOUT_FILENO);
  else
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  pid_t pid = Spawn(std::move(arguments), actions);
  posix_spawn_file_actions_destroy(&actions);
  const int status = Reap(pid, -1);
  return {status, output < 0 ? ReadFile(out) : "", ReadFile(err)};
}

class ChildProcess : public OutputLines<ChildProcess> {
 public:
  static constexpr bool CanInterrupt = true;

  explicit ChildProcess(std::vector<std::string> arguments) {
    int fds[2] = {-1, -1};
    if (::pipe2(fds, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
    Pid = Spawn(std::move(arguments), actions);
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

 protected:
  ChildProcess() = default;
  pid_t Pid = -1;
  int Output = -1;
  int Status = -1;
};

}  // namespace smsconf::testing
#endif
