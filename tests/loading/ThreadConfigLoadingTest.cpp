#include "loading/ThreadConfigLoading.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/TempDir.h"
#include "loading/LoadingHarness.h"
#include "sim/Simulator.h"

namespace smsconf::testing {
namespace {

using std::chrono::milliseconds;
using Loading = CThreadConfigLoading;

constexpr const char* UnitId = "SMS-AU 2.1";
constexpr std::uint32_t Base = Loading::ConfigImageAddress;

std::vector<std::uint8_t> Pattern(std::size_t size) {
  std::vector<std::uint8_t> bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
  return bytes;
}

sim::SimulatorOptions Options() {
  sim::SimulatorOptions options;
  options.Port = 0;
  options.Identifier = UnitId;
  options.GatewayIp = {10, 20, 30, 40};
  return options;
}

struct Gateway {
  explicit Gateway(sim::SimulatorOptions options) : Sim(std::move(options)) {
    std::string error;
    Started = Sim.Start(&error);
    EXPECT_TRUE(Started) << error;
  }
  sim::CSimulator Sim;
  bool Started = false;
};

LogLine Info(std::string text) { return {Loading::Info, std::move(text)}; }
LogLine Alert(std::string text) { return {Loading::Alert, std::move(text)}; }

using Lines = std::vector<LogLine>;

Lines operator+(Lines a, const Lines& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

const LogLine Identified = Info(std::string("Идентификатор [") + UnitId + "]");
const Lines ToBoot = {Info("Переводим АУ в режим \"BOOT\""),
                      Info("АУ в режиме \"ОБНОВЛЕНИЕ ПРОШИВКИ\"")};
const Lines ToConfig = {Info("Переводим АУ в режим \"ЗАГРУЗКА КОНФИГУРАЦИИ\""),
                        Info("АУ в режиме \"ЗАГРУЗКА КОНФИГУРАЦИИ\"")};
const Lines Upload50 = {Info("Загрузка файла конфигурации (50 байт)"), Info("Выполнено 102 %"),
                        Info("Загрузка завершена")};
const Lines Finished = {Info("Завершение"), Info("АУ в режиме \"РАБОТА\"")};
const LogLine ToRun = Info("Переводим АУ в режим \"РАБОТА\"");

bool IsCompletionLine(const LogLine& line) {
  return line.Kind == Loading::Success && IsCompletionText(line.Text);
}

std::vector<std::uint32_t> Addresses(std::size_t blocks, std::uint32_t step) {
  std::vector<std::uint32_t> addresses;
  for (std::size_t k = 0; k < blocks; ++k) addresses.push_back(Base + static_cast<std::uint32_t>(k) * step);
  return addresses;
}

Lines ProgressLines(const Lines& lines) {
  Lines progress;
  for (const LogLine& line : lines)
    if (line.Text.starts_with("Выполнено ") && line.Text.ends_with(" %")) progress.push_back(line);
  return progress;
}

TEST(ThreadConfigLoading, FullRunWritesTheImageAndReportsEveryStep) {
  sim::SimulatorOptions options = Options();
  options.UnitAddress = 7;
  Gateway gateway(options);
  LoadingHarness run(gateway.Sim.Port());
  run.Loading.Client.Address = 7;
  run.Loading.CurrentLinkSettings = [] { return LinkSettings{9, 150}; };
  const std::vector<std::uint8_t> image = Pattern(100);
  ASSERT_TRUE(run.Start(image));

  ASSERT_EQ(run.Finish(), Loading::StepCompleted);
  const std::string address = "127.0.0.1:" + std::to_string(gateway.Sim.Port());
  const Lines expected = Lines{Info("Обновление конфигурации АУ [7]"),
                               Info("Подключение к ВЕЛАР по адресу [" + address + "]"),
                               Alert("Выполнено подключение к [10.20.30.40]"), Identified} +
                         ToBoot + ToConfig +
                         Lines{Info("Загрузка файла конфигурации (100 байт)"), Info("Выполнено 65 %"),
                               Info("Выполнено 101 %"), Info("Загрузка завершена")} +
                         Finished + Lines{ToRun, Identified};
  ASSERT_EQ(run.Lines.size(), expected.size() + 1);
  EXPECT_EQ(Lines(run.Lines.begin(), run.Lines.end() - 1), expected);
  EXPECT_TRUE(IsCompletionLine(run.Lines.back())) << run.Lines.back();

  EXPECT_EQ(gateway.Sim.ReceivedImage(), image);
  EXPECT_EQ(gateway.Sim.BlockAddresses(), Addresses(2, 64));
  EXPECT_EQ(run.Pauses, (std::vector<milliseconds>{milliseconds(500), milliseconds(500), milliseconds(500),
                                                    milliseconds(50), milliseconds(50), milliseconds(500),
                                                    milliseconds(500), milliseconds(1000)}));
  EXPECT_EQ(run.Rpc.Tries, 9);  // the upload takes the owner's current settings
  EXPECT_EQ(run.Rpc.Timeout, 150u);
}

struct UploadCase {
  const char* Name;
  std::size_t ImageSize;
  int UnitBlockSize;
  std::uint32_t BlockLength;  // bytes per block actually sent
  std::size_t Blocks;
  const char* FirstProgress;
  const char* LastProgress;
};

void PrintTo(const UploadCase& c, std::ostream* out) { *out << c.Name; }

class UploadShapes : public ::testing::TestWithParam<UploadCase> {};

TEST_P(UploadShapes, EveryBlockIsConfirmedInOrder) {
  const UploadCase& c = GetParam();
  sim::SimulatorOptions options = Options();
  options.BlockSize = c.UnitBlockSize;
  Gateway gateway(options);
  LoadingHarness run(gateway.Sim.Port());
  const std::vector<std::uint8_t> image = Pattern(c.ImageSize);
  ASSERT_TRUE(run.Start(image));

  ASSERT_EQ(run.Finish(), Loading::StepCompleted);
  EXPECT_EQ(gateway.Sim.ReceivedImage(), image);
  EXPECT_EQ(gateway.Sim.BlockAddresses(), Addresses(c.Blocks, c.BlockLength));
  EXPECT_EQ(gateway.Sim.RequestCount(MbWriteBlock), c.Blocks);  // nothing sent twice
  const Lines progress = ProgressLines(run.Lines);
  ASSERT_EQ(progress.size(), c.Blocks);
  if (c.Blocks > 0) {
    EXPECT_EQ(progress.front().Text, c.FirstProgress);
    EXPECT_EQ(progress.back().Text, c.LastProgress);
  }
  EXPECT_TRUE(IsCompletionLine(run.Lines.back()));
}

INSTANTIATE_TEST_SUITE_P(
    ThreadConfigLoading, UploadShapes,
    ::testing::Values(UploadCase{"Empty", 0, 64, 64, 0, "", ""},
                      UploadCase{"Sixteen", 1000, 64, 64, 16, "Выполнено 6 %", "Выполнено 100 %"},
                      UploadCase{"OneShortBlock", 50, 64, 64, 1, "Выполнено 102 %", "Выполнено 102 %"},
                      // More than one write can carry: blocks of the largest size.
                      UploadCase{"OversizedBlocks", 1000, 200, 128, 8, "Выполнено 12 %", "Выполнено 100 %"},
                      // Blocks from 0x10000 on are confirmed like the others.
                      UploadCase{"AboveSixtyFourK", 40000, 128, 128, 313, "Выполнено 0 %",
                                 "Выполнено 100 %"},
                      UploadCase{"FullImage", 65536, 128, 128, 512, "Выполнено 0 %", "Выполнено 100 %"}),
    [](const auto& info) { return std::string(info.param.Name); });

struct Scenario {
  const char* Name;
  std::function<void(sim::SimulatorOptions&)> Unit;
  int FinalStep;
  std::size_t BlockWrites;
  Lines AfterConnection;  // the lines behind the gateway's, without the completion line
};

void PrintTo(const Scenario& s, std::ostream* out) { *out << s.Name; }

class Scenarios : public ::testing::TestWithParam<Scenario> {};

TEST_P(Scenarios, LogAndFinalStep) {
  const Scenario& s = GetParam();
  sim::SimulatorOptions options = Options();
  s.Unit(options);
  Gateway gateway(options);
  // One try per request, so that a silent answer counts as lost.
  LoadingHarness run(gateway.Sim.Port(), LinkSettings{1, 200});
  ASSERT_TRUE(run.Start(Pattern(50)));

  ASSERT_EQ(run.Finish(), s.FinalStep);
  Lines lines = run.Lines;
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[2], Alert("Выполнено подключение к [10.20.30.40]"));
  if (s.FinalStep == Loading::StepCompleted) {
    EXPECT_TRUE(IsCompletionLine(lines.back())) << lines.back();
    lines.pop_back();
  }
  EXPECT_EQ(Lines(lines.begin() + 3, lines.end()), s.AfterConnection);
  EXPECT_EQ(gateway.Sim.RequestCount(MbWriteBlock), s.BlockWrites);
}

INSTANTIATE_TEST_SUITE_P(
    ThreadConfigLoading, Scenarios,
    ::testing::Values(
        Scenario{"Completes", [](sim::SimulatorOptions&) {}, Loading::StepCompleted, 1,
                 Lines{Identified} + ToBoot + ToConfig + Upload50 + Finished + Lines{ToRun, Identified}},
        // Only the fourth request to "BOOT" counts.
        Scenario{"FirstBootRequestsUnanswered", [](sim::SimulatorOptions& o) { o.SilentBootRequests = 3; },
                 Loading::StepCompleted, 1,
                 Lines{Identified} + ToBoot + ToConfig + Upload50 + Finished + Lines{ToRun, Identified}},
        // The refusal is the last line; the unit is left as it is.
        Scenario{"NoNetworkUpdate", [](sim::SimulatorOptions& o) { o.ModeSwitchException = true; },
                 Loading::StepStopped, 0,
                 Lines{Identified, Info("Переводим АУ в режим \"BOOT\""),
                       Alert("АУ не поддерживает обновление ПО по сети")}},
        Scenario{"NoIdentifier", [](sim::SimulatorOptions& o) { o.NoIdentifier = true; },
                 Loading::StepCompleted, 1,
                 Lines{Info("Идентификатор устройства недоступен")} + ToBoot + ToConfig + Upload50 +
                     Finished + Lines{ToRun, Alert("Ошибка! Идентификатор устройства недоступен")}},
        // The image is in place: the unit still goes back to work.
        Scenario{"InvalidFinishReply", [](sim::SimulatorOptions& o) { o.InvalidFinishReply = true; },
                 Loading::StepCompleted, 1,
                 Lines{Identified} + ToBoot + ToConfig + Upload50 +
                     Lines{Info("Завершение"), Alert("Нет ответа от АУ"), ToRun, Identified}},
        // Blocks of 0 bytes would never get anywhere.
        Scenario{"BlockSizeZero", [](sim::SimulatorOptions& o) { o.BlockSize = 0; }, Loading::StepStopped, 0,
                 Lines{Identified} + ToBoot + ToConfig +
                     Lines{Info("Загрузка файла конфигурации (50 байт)"),
                           Alert("Ошибка! АУ сообщил недопустимый размер блока (0)")}},
        // The upload retries the block until it is taken.
        Scenario{"BusyTwice", [](sim::SimulatorOptions& o) { o.BusyWrites = 2; }, Loading::StepCompleted, 3,
                 Lines{Identified} + ToBoot + ToConfig +
                     Lines{Info("Загрузка файла конфигурации (50 байт)"), Info("Device Busy!"),
                           Info("Device Busy!"), Info("Выполнено 102 %"), Info("Загрузка завершена")} +
                     Finished + Lines{ToRun, Identified}}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(ThreadConfigLoading, BusyAnswersLengthenEveryLaterPause) {
  sim::SimulatorOptions options = Options();
  options.BusyWrites = 2;
  Gateway gateway(options);
  LoadingHarness run(gateway.Sim.Port());
  const std::vector<std::uint8_t> image = Pattern(1000);
  ASSERT_TRUE(run.Start(image));

  ASSERT_EQ(run.Finish(), Loading::StepCompleted);
  EXPECT_EQ(gateway.Sim.ReceivedImage(), image);
  EXPECT_EQ(gateway.Sim.RequestCount(MbWriteBlock), 18u);
  // Three pauses after the "BOOT" requests come first, three after the
  // "РАБОТА" requests last; the block pauses stand between them.
  ASSERT_EQ(run.Pauses.size(), 3u + 18u + 3u);
  const std::vector<milliseconds> blockPauses(run.Pauses.begin() + 3, run.Pauses.end() - 3);
  std::vector<milliseconds> expected{milliseconds(50), milliseconds(100)};
  expected.resize(18, milliseconds(150));
  EXPECT_EQ(blockPauses, expected);
}

TEST(ThreadConfigLoading, NoGatewayEndsAfterAllTries) {
  // A bound socket that never answers: the datagrams arrive and go unread.
  const int silent = ::socket(AF_INET, SOCK_DGRAM, 0);
  ASSERT_NE(silent, -1);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof local;
  ASSERT_EQ(::bind(silent, reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
  ASSERT_EQ(::getsockname(silent, reinterpret_cast<sockaddr*>(&local), &length), 0);
  const std::uint16_t port = ntohs(local.sin_port);

  LoadingHarness run(port, LinkSettings{2, 50});
  ASSERT_TRUE(run.Start(Pattern(10)));
  const int step = run.Finish();
  ::close(silent);

  EXPECT_EQ(step, Loading::StepNoGateway);
  EXPECT_EQ(run.Lines, (Lines{Info("Обновление конфигурации АУ [1]"),
                              Info("Подключение к ВЕЛАР по адресу [127.0.0.1:" + std::to_string(port) + "]"),
                              Alert("Ошибка! Нет связи с ВЕЛАР")}));
}

TEST(ThreadConfigLoading, AbortDuringBlockWriteEndsTheRunWithItsLastLine) {
  Gateway gateway(Options());
  // Requests that would wait for nearly a minute unless aborted.
  LoadingHarness run(gateway.Sim.Port(), LinkSettings{100, 500});
  const std::string uploadLine = "Загрузка файла конфигурации (1000 байт)";
  // The gateway falls silent just before the first block goes out.
  run.OnLine = [&](const LogLine& line) {
    if (line.Text == uploadLine) gateway.Sim.Stop();
  };
  ASSERT_TRUE(run.Start(Pattern(1000)));
  ASSERT_TRUE(run.WaitForLine(uploadLine));
  std::this_thread::sleep_for(milliseconds(50));
  run.Stop();

  EXPECT_EQ(run.FinalStep, NoFinalStep);
  ASSERT_GE(run.Lines.size(), 2u);
  EXPECT_EQ(run.Lines[run.Lines.size() - 2], Info(uploadLine));
  EXPECT_EQ(run.Lines.back(), Alert("Ошибка! Потеряна связь с ВЕЛАР"));
  EXPECT_TRUE(gateway.Sim.BlockAddresses().empty());
}

TEST(ThreadConfigLoading, LossyLinkStillDeliversTheImage) {
  sim::SimulatorOptions options = Options();
  options.DropRate = 0.3;
  options.Seed = 20240601;
  Gateway gateway(options);
  LoadingHarness run(gateway.Sim.Port(), LinkSettings{40, 40});
  const std::vector<std::uint8_t> image = Pattern(1000);
  ASSERT_TRUE(run.Start(image));

  ASSERT_EQ(run.Finish(), Loading::StepCompleted);
  EXPECT_EQ(gateway.Sim.ReceivedImage(), image);
  EXPECT_EQ(ProgressLines(run.Lines).size(), 16u);
}

TEST(ThreadConfigLoading, DestroyingAFinishedRunEndsItsWait) {
  Gateway gateway(Options());
  CRPCInterface rpc;
  rpc.AddressText = "127.0.0.1:" + std::to_string(gateway.Sim.Port());
  rpc.Open();
  std::promise<int> reached;
  auto loading = std::make_unique<Loading>();
  loading->Client.Rpc = &rpc;
  loading->Client.Address = 1;
  loading->Pauses.Scale = 0.0;
  loading->OnFinalStep = [&](int step) { reached.set_value(step); };
  ASSERT_TRUE(loading->Start());
  EXPECT_FALSE(loading->Start());  // one run per object

  std::future<int> step = reached.get_future();
  ASSERT_EQ(step.wait_for(std::chrono::seconds(60)), std::future_status::ready);
  EXPECT_EQ(step.get(), Loading::StepCompleted);
  loading.reset();  // requests stop and joins: the wait ends without Abort
}

TEST(ThreadConfigLoading, ImageNeverExceedsItsBuffer) {
  Loading loading;
  const std::vector<std::uint8_t> full = Pattern(Loading::ImageCapacity);
  const std::vector<std::uint8_t> larger = Pattern(Loading::ImageCapacity + 1);
  EXPECT_TRUE(loading.SetImage(full.data(), full.size()));
  EXPECT_EQ(loading.ImageSize, Loading::ImageCapacity);
  EXPECT_FALSE(loading.SetImage(larger.data(), larger.size()));
  EXPECT_EQ(loading.ImageSize, Loading::ImageCapacity);

  TempDir dir;
  struct FileCase {
    std::string Name;
    std::size_t Size;  // bytes written; none for a missing file
    Loading::ImageLoad Expected;
  };
  for (const FileCase& c : {FileCase{"full.bin", Loading::ImageCapacity, Loading::ImageLoad::Loaded},
                            FileCase{"empty.bin", 0, Loading::ImageLoad::Loaded},
                            FileCase{"larger.bin", Loading::ImageCapacity + 1, Loading::ImageLoad::TooLarge}}) {
    const std::vector<std::uint8_t> bytes = Pattern(c.Size);
    WriteFile(dir.File(c.Name), std::string(bytes.begin(), bytes.end()));
    Loading fresh;
    EXPECT_EQ(fresh.LoadImage(dir.File(c.Name)), c.Expected) << c.Name;
    if (c.Expected == Loading::ImageLoad::Loaded) {
      EXPECT_EQ(fresh.ImageSize, c.Size) << c.Name;
      EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), fresh.Image.begin())) << c.Name;
    } else {
      EXPECT_EQ(fresh.ImageSize, 0u) << c.Name;
    }
  }
  Loading missing;
  EXPECT_EQ(missing.LoadImage(dir.File("missing.bin")), Loading::ImageLoad::Unreadable);
  EXPECT_EQ(missing.LoadImage(dir.Path.string()), Loading::ImageLoad::Unreadable);  // a folder
}

}  // namespace
}  // namespace smsconf::testing
