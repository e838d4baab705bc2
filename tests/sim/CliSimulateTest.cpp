// The simulate command of the built command-line program, run as a child
// process.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <thread>
#include <utility>

#include "sim/SimPeer.h"

extern char** environ;

namespace smsconf::sim {
namespace {

using test::Bytes;
using test::GatewayReply;
using test::ModbusRequest;
using test::WithCrc;

class Child {
 public:
  // Runs smsconf-cli with the arguments; its stdout comes through a pipe
  // when captured, otherwise it goes to /dev/null like its stderr.
  Child(std::vector<std::string> arguments, bool captureOutput) {
    arguments.insert(arguments.begin(), SMSCONF_CLI);
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);

    int output[2] = {-1, -1};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (captureOutput && pipe2(output, O_CLOEXEC) == 0)
      posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
    else
      posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    if (posix_spawn(&Pid, SMSCONF_CLI, &actions, nullptr, argv.data(), environ) != 0) Pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    if (output[1] >= 0) close(output[1]);
    Output = output[0];
  }
  ~Child() {
    if (Pid > 0) {
      kill(Pid, SIGKILL);
      waitpid(Pid, nullptr, 0);
    }
    if (Output >= 0) close(Output);
  }

  std::string ReadLine() {
    std::string line;
    char c = 0;
    pollfd readable{Output, POLLIN, 0};
    while (poll(&readable, 1, 10000) > 0 && read(Output, &c, 1) == 1 && c != '\n') line += c;
    return line;
  }

  void Signal(int signal) { kill(Pid, signal); }

  // The exit status, or -1 when the program did not exit normally; one that
  // still runs after a generous while is killed.
  int Wait() {
    const pid_t pid = std::exchange(Pid, -1);
    if (pid <= 0) return -1;
    int status = 0;
    for (int round = 0; round < 1000; ++round) {
      if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;
  }

 private:
  pid_t Pid = -1;
  int Output = -1;
};

TEST(CliSimulate, ServesUntilTerminatedAndSavesTheImage) {
  const std::string path = ::testing::TempDir() + "cli_sim_" + std::to_string(getpid()) + ".bin";
  Child child({"simulate", "--listen", "127.0.0.1:0", "--unit", "3", "--save-image", path}, true);
  const std::string first = child.ReadLine();
  const std::string prefix = "listening on 127.0.0.1:";
  ASSERT_EQ(first.rfind(prefix, 0), 0u) << first;
  const auto port = static_cast<std::uint16_t>(std::stoi(first.substr(prefix.size())));
  ASSERT_NE(port, 0);

  test::UdpPeer peer;
  const Bytes reply = peer.Exchange(port, ModbusRequest(1, test::WriteBlockFrame(3, 0x8000, "HI")));
  EXPECT_EQ(reply, GatewayReply(1, WithCrc({0x03, 0x34, 0x20, 0xA2, 0x00, 0x80, 0x00, 0x00})));
  EXPECT_NE(child.ReadLine().find("unit 3 fn 0x34"), std::string::npos);
  EXPECT_EQ(child.ReadLine().rfind("-> 15 A1 01 00 03 34", 0), 0u);

  child.Signal(SIGTERM);
  EXPECT_EQ(child.Wait(), 0);
  std::ifstream file(path, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(file), {}), "HI");
  std::remove(path.c_str());
}

TEST(CliSimulate, BadValuesAreUsageErrors) {
  const std::vector<std::string> cases[] = {
      {"--unit", "0"},         {"--unit", "255"},
      {"--block-size", "256"}, {"--block-size", "-1"},
      {"--drop", "1.5"},       {"--drop", "-0.1"},
      {"--listen", "127.0.0:5"}, {"--listen", "127.0.0.1:70000"},
      {"--listen", "127.0.0.1:x"}, {"--listen", "127.0.0.1:"},
  };
  for (const auto& arguments : cases) {
    std::vector<std::string> command{"simulate", "--listen", "127.0.0.1:0"};
    command.insert(command.end(), arguments.begin(), arguments.end());
    Child child(command, false);
    EXPECT_EQ(child.Wait(), 2) << arguments[0] << ' ' << arguments[1];
  }
}

}  // namespace
}  // namespace smsconf::sim
