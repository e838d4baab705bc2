// smsconf-cli load, run as a program against smsconf-cli simulate.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "common/TempDir.h"
#include "loading/ChildProcess.h"
#include "loading/LoadingHarness.h"

namespace smsconf::testing {
namespace {

constexpr int ExitOk = 0;
constexpr int ExitFailure = 1;
constexpr int ExitUsage = 2;
constexpr int ExitInterrupted = 130;

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string Bytes(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 13 + 5);
  return bytes;
}

// smsconf-cli simulate on a port the system picks, saving what it receives.
class SimulateProcess {
 public:
  explicit SimulateProcess(const TempDir& dir, std::vector<std::string> faults = {})
      : Received(dir.File("received.bin")),
        Child(Arguments(Received, std::move(faults)), dir.File("simulate.out"), dir.File("simulate.err")) {
    const std::string prefix = "listening on 127.0.0.1:";
    const bool listening = Child.WaitForOutput([&](const std::string& out) {
      return out.starts_with(prefix) && out.find('\n') != std::string::npos;
    });
    if (listening) Port = std::stoi(Child.Output().substr(prefix.size()));
  }

  // Ends the simulator, which then writes the image it received.
  std::string ReceivedImage() {
    Child.Signal(SIGTERM);
    EXPECT_EQ(Child.Wait(), ExitOk) << Child.Errors();
    return ReadFile(Received);
  }

  std::string Gateway() const { return "127.0.0.1:" + std::to_string(Port); }

  std::string Received;
  ChildProcess Child;
  int Port = 0;

 private:
  static std::vector<std::string> Arguments(const std::string& received, std::vector<std::string> faults) {
    std::vector<std::string> arguments{SMSCONF_CLI, "simulate", "--listen", "127.0.0.1:0", "--save-image",
                                       received};
    arguments.insert(arguments.end(), faults.begin(), faults.end());
    return arguments;
  }
};

struct LoadRun {
  int Status;
  std::vector<std::string> Lines;
  std::string Errors;
};

LoadRun RunLoad(const TempDir& dir, std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), {SMSCONF_CLI, "load"});
  ChildProcess load(arguments, dir.File("load.out"), dir.File("load.err"));
  const int status = load.Wait();
  return {status, SplitLines(load.Output()), load.Errors()};
}

TEST(CmdLoad, WritesTheImageIntoTheSimulatedUnit) {
  TempDir dir;
  const std::string image = Bytes(300);
  WriteFile(dir.File("sms.bin"), image);
  SimulateProcess simulator(dir);
  ASSERT_NE(simulator.Port, 0) << simulator.Child.Output() << simulator.Child.Errors();
  const std::string gateway = simulator.Gateway();

  const LoadRun run = RunLoad(dir, {dir.File("sms.bin"), "--gateway", gateway, "--tries", "5"});

  ASSERT_EQ(run.Status, ExitOk) << run.Errors;
  ASSERT_GE(run.Lines.size(), 4u);
  EXPECT_EQ(run.Lines[0], "Размер файла конфигурации 300 байт");
  EXPECT_EQ(run.Lines[1], "Обновление конфигурации АУ [1]");
  EXPECT_EQ(run.Lines[2], "Подключение к ВЕЛАР по адресу [" + gateway + "]");
  EXPECT_EQ(run.Lines[3], "Выполнено подключение к [127.0.0.1]");
  const auto progress = std::count_if(run.Lines.begin(), run.Lines.end(),
                                      [](const std::string& line) { return line.starts_with("Выполнено ") &&
                                                                           line.ends_with(" %"); });
  EXPECT_EQ(progress, 5);  // 300 bytes in blocks of 64
  EXPECT_TRUE(IsCompletionText(run.Lines.back())) << run.Lines.back();
  for (const std::string& line : run.Lines) EXPECT_EQ(line.find('\x1b'), std::string::npos) << line;
  EXPECT_EQ(simulator.ReceivedImage(), image);
}

TEST(CmdLoad, RunThatStopsShortFails) {
  TempDir dir;
  WriteFile(dir.File("sms.bin"), Bytes(10));
  SimulateProcess simulator(dir, {"--no-update"});
  ASSERT_NE(simulator.Port, 0) << simulator.Child.Output() << simulator.Child.Errors();

  const LoadRun run = RunLoad(dir, {dir.File("sms.bin"), "--gateway", simulator.Gateway(), "--no-color"});

  EXPECT_EQ(run.Status, ExitFailure) << run.Errors;
  ASSERT_FALSE(run.Lines.empty());
  EXPECT_EQ(run.Lines.back(), "АУ не поддерживает обновление ПО по сети");
}

struct RefusalCase {
  const char* Name;
  std::vector<std::string> Arguments;
  int Status;
  const char* Message;  // expected in the error output
  // "IMAGE" stands for a readable image, "@name" for a file in the test's folder.
};

void PrintTo(const RefusalCase& c, std::ostream* out) { *out << c.Name; }

class Refusals : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(Refusals, EndBeforeAnyRequest) {
  const RefusalCase& c = GetParam();
  TempDir dir;
  WriteFile(dir.File("sms.bin"), Bytes(10));
  WriteFile(dir.File("large.bin"), Bytes(65537));
  std::vector<std::string> arguments;
  for (const std::string& argument : c.Arguments)
    arguments.push_back(argument == "IMAGE"         ? dir.File("sms.bin")
                        : argument.starts_with("@") ? dir.File(argument.substr(1))
                                                    : argument);

  const LoadRun run = RunLoad(dir, arguments);

  EXPECT_EQ(run.Status, c.Status) << run.Errors;
  EXPECT_NE(run.Errors.find(c.Message), std::string::npos) << run.Errors;
  EXPECT_TRUE(run.Lines.empty());
}

INSTANTIATE_TEST_SUITE_P(
    CmdLoad, Refusals,
    ::testing::Values(RefusalCase{"UnitOutOfRange", {"IMAGE", "--unit", "255"}, ExitUsage, "--unit"},
                      RefusalCase{"TriesOutOfRange", {"IMAGE", "--tries", "0"}, ExitUsage, "--tries"},
                      RefusalCase{"TimeoutOutOfRange", {"IMAGE", "--timeout", "501"}, ExitUsage, "--timeout"},
                      RefusalCase{"BadAddress", {"IMAGE", "--gateway", "192.168.1.1.5"}, ExitUsage,
                                  "Ошибка в написании IP адреса"},
                      RefusalCase{"UnreadableImage", {"@missing.bin"}, ExitFailure, "Ошибка чтения файла"},
                      RefusalCase{"ImageTooLarge", {"@large.bin"}, ExitFailure, "65536"}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(CmdLoad, InterruptAbortsTheRunningRequest) {
  TempDir dir;
  WriteFile(dir.File("sms.bin"), Bytes(10));
  const int silent = ::socket(AF_INET, SOCK_DGRAM, 0);
  ASSERT_NE(silent, -1);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof local;
  ASSERT_EQ(::bind(silent, reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
  ASSERT_EQ(::getsockname(silent, reinterpret_cast<sockaddr*>(&local), &length), 0);
  const std::string gateway = "127.0.0.1:" + std::to_string(ntohs(local.sin_port));
  const std::string connecting = "Подключение к ВЕЛАР по адресу [" + gateway + "]\n";

  // Without the interrupt the first request alone would take 50 seconds.
  ChildProcess load({SMSCONF_CLI, "load", dir.File("sms.bin"), "--gateway", gateway, "--tries", "100",
                     "--timeout", "500"},
                    dir.File("load.out"), dir.File("load.err"));
  ASSERT_TRUE(load.WaitForOutput([&](const std::string& out) { return out.ends_with(connecting); }))
      << load.Output();
  load.Signal(SIGINT);
  const int status = load.Wait();
  ::close(silent);

  EXPECT_EQ(status, ExitInterrupted) << load.Errors();
  EXPECT_EQ(SplitLines(load.Output()),
            (std::vector<std::string>{"Размер файла конфигурации 10 байт", "Обновление конфигурации АУ [1]",
                                      connecting.substr(0, connecting.size() - 1)}));
}

}  // namespace
}  // namespace smsconf::testing
