#pragma once

// Runs a program to its end and captures what it printed and how it exited.

#include "common/TempDir.h"

#ifdef _WIN32
#include "common/WindowsProcess.h"
#else
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace smsconf::testing {

struct ProcessResult {
  int Status = -1;  // the exit status; -1 when the program did not exit normally
  std::string Out;
  std::string Err;
};

// With `output`, the program's standard output goes there instead (a full
// device, a pipe without a reader), and Out stays empty.
inline ProcessResult RunProcess(std::vector<std::string> arguments, int output = -1) {
  const TempDir dir;
  const std::string out = dir.File("out"), err = dir.File("err");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (output >= 0)
    posix_spawn_file_actions_adddup2(&actions, output, 1);
  else
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  ProcessResult result;
  pid_t pid = -1;
  int status = 0;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0 &&
      waitpid(pid, &status, 0) == pid && WIFEXITED(status)) {
    result.Status = WEXITSTATUS(status);
  }
  posix_spawn_file_actions_destroy(&actions);
  if (output < 0) result.Out = ReadFile(out);
  result.Err = ReadFile(err);
  return result;
}

}  // namespace smsconf::testing
#endif
