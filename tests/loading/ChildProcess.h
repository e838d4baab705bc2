#pragma once

// A program run as a child process with its standard output and error
// going to files, which the test reads while it runs and after it ends.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "common/TempDir.h"

extern char** environ;

namespace smsconf::testing {

class ChildProcess {
 public:
  static constexpr int NotEnded = -1;

  ChildProcess(const std::vector<std::string>& arguments, std::string outPath, std::string errPath)
      : OutPath(std::move(outPath)), ErrPath(std::move(errPath)) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, OutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, ErrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    std::vector<char*> argv;
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    if (posix_spawn(&Pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) Pid = -1;
    posix_spawn_file_actions_destroy(&actions);
  }

  ~ChildProcess() {
    if (Pid > 0 && !Reaped) {
      ::kill(Pid, SIGKILL);
      ::waitpid(Pid, nullptr, 0);
    }
  }

  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool Running() const { return Pid > 0; }
  void Signal(int signal) const { ::kill(Pid, signal); }

  // The exit status (128 + signal for a killed child), or NotEnded when the
  // child is still running after the limit; it is then killed.
  int Wait(std::chrono::seconds limit = std::chrono::seconds(60)) {
    if (Pid <= 0 || Reaped) return Status;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int raw = 0;
    while (::waitpid(Pid, &raw, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        ::kill(Pid, SIGKILL);
        ::waitpid(Pid, nullptr, 0);
        Reaped = true;
        return Status;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    Reaped = true;
    Status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    return Status;
  }

  std::string Output() const { return ReadFile(OutPath); }
  std::string Errors() const { return ReadFile(ErrPath); }

  // Waits until the output so far satisfies the condition.
  bool WaitForOutput(const std::function<bool(const std::string&)>& condition,
                     std::chrono::seconds limit = std::chrono::seconds(30)) const {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition(Output())) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
  }

 private:
  std::string OutPath;
  std::string ErrPath;
  pid_t Pid = -1;
  bool Reaped = false;
  int Status = NotEnded;
};

}  // namespace smsconf::testing
