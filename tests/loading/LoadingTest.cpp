// The configuration loading against the simulated unit: in process with
// the fixed pauses observed, and as smsconf-cli load against smsconf-cli
// simulate.

#include "loading/ThreadConfigLoading.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <functional>
#include <future>
#include <limits>
#include <mutex>
#include <tuple>

#include "common/ChildProcess.h"
#include "common/RunProcess.h"
#include "common/TempDir.h"
#include "common/UdpPeer.h"
#include "loading/LoadingSetup.h"
#include "sim/Simulator.h"
#include "text/Cp1251.h"

namespace smsconf {
namespace {

using std::chrono::milliseconds;
using namespace std::chrono_literals;
using testing::Bytes;
using Loading = CThreadConfigLoading;
using UnitSettings = std::function<void(sim::SimulatorOptions&)>;
using UnitLog = std::function<void(const std::string&)>;

struct Line {
  int Kind;
  std::string Text;  // UTF-8
  bool operator==(const Line&) const = default;
};
using Lines = std::vector<Line>;
void PrintTo(const Line& line, std::ostream* out) { *out << line.Kind << ' ' << line.Text; }
Line Info(std::string text) { return {Loading::Info, std::move(text)}; }
Line Alert(std::string text) { return {Loading::Alert, std::move(text)}; }

Bytes Pattern(std::size_t size) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
  return bytes;
}

// A loading the way the dialog runs it, against the unit behind its gateway
// on a free loopback port; the fixed pauses are observed, not waited.
struct LoadingRun {
  explicit LoadingRun(const UnitSettings& change = {}, LinkSettings link = {5, 200}, const UnitLog& unitLog = {})
      : Unit([&] {
    sim::SimulatorOptions options;
    options.Port = 0;
    options.Identifier = "SMS-AU 2.1";
    options.GatewayIp = {10, 20, 30, 40};
    if (change) change(options);
    return options;
  }()) {
    if (unitLog) Unit.SetLog(unitLog);
    EXPECT_TRUE(Unit.Start());
    Rpc.AddressText = "127.0.0.1:" + std::to_string(Unit.Port());
    Rpc.Tries = link.Tries;
    Rpc.Timeout = link.Timeout;
    Rpc.Open();
    Worker.Client.Address = 1;
    Worker.Client.Rpc = &Rpc;
    Worker.Pauses.Scale = 0.0;
    Worker.CurrentLinkSettings = [link] { return link; };
    Worker.Sink = [this](int kind, const std::string& text) {
      Log.push_back({kind, text::Cp1251ToUtf8(text)});
      if (OnLine) OnLine(Log.back().Text);
    };
    Worker.OnPause = [this](milliseconds pause) { Pauses.push_back(pause); };
    Worker.OnFinalStep = [this](int step) { Final.set_value(step); };
  }
  ~LoadingRun() { Stop(); }
  void Start(const Bytes& image) { EXPECT_TRUE(Worker.SetImage(image.data(), image.size()) && Worker.Start()); }
  // What the owner does to end a run: abort the request, stop, wait.
  void Stop() {
    Rpc.Abort = true;
    Worker.RequestStop();
    Worker.Wait();
  }
  // The final step the run reached (-1 when none came), after which it is ended.
  int Complete(const Bytes& image) {
    Start(image);
    std::future<int> final = Final.get_future();
    const bool reached = final.wait_for(std::chrono::minutes(1)) == std::future_status::ready;
    Stop();
    return reached ? final.get() : -1;
  }

  sim::CSimulator Unit;
  std::function<void(const std::string&)> OnLine;  // on the worker, as each line comes
  Lines Log;                                        // read once the worker has ended
  std::vector<milliseconds> Pauses;
  std::promise<int> Final;
  CRPCInterface Rpc;
  Loading Worker;
};

Lines operator+(Lines a, const Lines& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

const Line Identified = Info("Идентификатор [SMS-AU 2.1]");
const Lines ToConfig = {Info("Переводим АУ в режим \"BOOT\""), Info("АУ в режиме \"ОБНОВЛЕНИЕ ПРОШИВКИ\""),
                        Info("Переводим АУ в режим \"ЗАГРУЗКА КОНФИГУРАЦИИ\""),
                        Info("АУ в режиме \"ЗАГРУЗКА КОНФИГУРАЦИИ\"")};
const Line Upload50 = Info("Загрузка файла конфигурации (50 байт)");
const Lines Uploaded50 = {Upload50, Info("Выполнено 102 %"), Info("Загрузка завершена")};
const Lines ToWork = {Info("Завершение"), Info("АУ в режиме \"РАБОТА\""), Info("Переводим АУ в режим \"РАБОТА\"")};

TEST(ThreadConfigLoading, Scenarios) {
  const struct {
    const char* Name;
    UnitSettings Set;
    std::size_t ImageSize;
    int FinalStep;
    Lines Expected;  // behind the gateway's and before the completion line
    std::vector<milliseconds> Pauses = {};  // none: not checked
    std::string Warning = "";  // the red line behind the completion line; empty: none
  } cases[] = {
      {"plain", {}, 50, Loading::StepCompleted, Lines{Identified} + ToConfig + Uploaded50 + ToWork + Lines{Identified}},
      // A busy unit gets the block again, and longer pauses before every later block.
      {"busy twice", [](auto& o) { o.BusyWrites = 2; }, 100, Loading::StepCompleted,
       Lines{Identified} + ToConfig +
           Lines{Info("Загрузка файла конфигурации (100 байт)"), Info("Device Busy!"), Info("Device Busy!"),
                 Info("Выполнено 65 %"), Info("Выполнено 101 %"), Info("Загрузка завершена")} +
           ToWork + Lines{Identified},
       {500ms, 500ms, 500ms, 50ms, 100ms, 150ms, 150ms, 500ms, 500ms, 1000ms}},
      {"no update", [](auto& o) { o.ModeSwitchException = true; }, 50, Loading::StepStopped,
       {Identified, Info("Переводим АУ в режим \"BOOT\""), Alert("АУ не поддерживает обновление ПО по сети")}},
      {"no identifier", [](auto& o) { o.NoIdentifier = true; }, 50, Loading::StepCompleted,
       Lines{Info("Идентификатор устройства недоступен")} + ToConfig + Uploaded50 + ToWork +
           Lines{Alert("Ошибка! Идентификатор устройства недоступен")},
       {}, "Внимание! АУ не сообщил идентификатор после загрузки: проверьте конфигурацию АУ"},
      // The image is in place: the unit still goes back to work.
      {"invalid finish reply", [](auto& o) { o.InvalidFinishReply = true; }, 50, Loading::StepCompleted,
       Lines{Identified} + ToConfig + Uploaded50 +
           Lines{Info("Завершение"), Alert("Нет ответа от АУ"), Info("Переводим АУ в режим \"РАБОТА\""), Identified},
       {}, "Внимание! АУ не подтвердил завершение загрузки: проверьте конфигурацию АУ"},
      // An exception tells no mode: no "РАБОТА" line.
      {"finish refused", [](auto& o) { o.FinishException = true; }, 50, Loading::StepCompleted,
       Lines{Identified} + ToConfig + Uploaded50 +
           Lines{Info("Завершение"), Info("Переводим АУ в режим \"РАБОТА\""), Identified},
       {}, "Внимание! АУ ответил ошибкой на завершение загрузки: проверьте конфигурацию АУ"},
      {"finish refused, no identifier", [](auto& o) { o.FinishException = o.NoIdentifier = true; }, 50,
       Loading::StepCompleted,
       Lines{Info("Идентификатор устройства недоступен")} + ToConfig + Uploaded50 +
           Lines{Info("Завершение"), Info("Переводим АУ в режим \"РАБОТА\""),
                 Alert("Ошибка! Идентификатор устройства недоступен")},
       {}, "Внимание! АУ ответил ошибкой на завершение загрузки и не сообщил идентификатор после загрузки: "
           "проверьте конфигурацию АУ"},
      {"block size 0", [](auto& o) { o.BlockSize = 0; }, 50, Loading::StepStopped,
       Lines{Identified} + ToConfig + Lines{Upload50, Alert("Ошибка! АУ сообщил недопустимый размер блока (0)")}},
  };
  for (const auto& c : cases) {
    LoadingRun run(c.Set);
    const Bytes image = Pattern(c.ImageSize);
    ASSERT_EQ(run.Complete(image), c.FinalStep) << c.Name;
    const Lines head = {Info("Обновление конфигурации АУ [1]"), Info("Подключение к ВЕЛАР по адресу [" + run.Rpc.AddressText + "]"),
                        Alert("Выполнено подключение к [10.20.30.40]")};
    if (c.FinalStep == Loading::StepCompleted) {
      EXPECT_EQ(run.Unit.ReceivedImage(), image) << c.Name;
      EXPECT_EQ(run.Worker.Unconfirmed() != 0, !c.Warning.empty()) << c.Name;
      if (!c.Warning.empty()) {
        EXPECT_EQ(run.Log.back(), Alert(c.Warning)) << c.Name;
        run.Log.pop_back();
      }
      ASSERT_FALSE(run.Log.empty());
      const Line last = run.Log.back();  // "Загрузка конфигурации завершена (N мс)", N for this run alone
      const std::string done = "Загрузка конфигурации завершена (";
      EXPECT_TRUE(last.Kind == Loading::Success && last.Text.starts_with(done) && last.Text.ends_with(" мс)") &&
                  std::stoul(last.Text.substr(done.size())) < 60000) << last.Text;
      run.Log.pop_back();
    }
    EXPECT_EQ(run.Log, head + c.Expected) << c.Name;
    if (c.Pauses.empty()) continue;
    EXPECT_EQ(run.Pauses, c.Pauses) << c.Name;
  }
}

TEST(ThreadConfigLoading, UploadShapes) {
  const struct {
    std::size_t ImageSize;
    int UnitBlockSize;
    std::uint32_t BlockLength;  // bytes per block actually sent
    std::size_t Blocks;
    std::string Progress;  // the first and the last progress line
  } cases[] = {
      {0, 64, 64, 0, ""},
      {1000, 64, 64, 16, "Выполнено 6 %, Выполнено 100 %"},
      {1000, 200, 128, 8, "Выполнено 12 %, Выполнено 100 %"},  // more than one write carries
      {65536, 128, 128, 512, "Выполнено 0 %, Выполнено 100 %"},
  };
  for (const auto& c : cases) {
    LoadingRun run([&](auto& o) { o.BlockSize = c.UnitBlockSize; });
    const Bytes image = Pattern(c.ImageSize);
    ASSERT_EQ(run.Complete(image), Loading::StepCompleted) << c.ImageSize;
    EXPECT_EQ(run.Unit.ReceivedImage(), image);
    std::vector<std::uint32_t> addresses;
    for (std::uint32_t k = 0; k < c.Blocks; ++k) addresses.push_back(0x8000 + k * c.BlockLength);
    EXPECT_EQ(run.Unit.BlockAddresses(), addresses) << c.ImageSize;
    std::vector<std::string> progress;
    for (const Line& line : run.Log)
      if (line.Text.starts_with("Выполнено ") && line.Text.ends_with(" %")) progress.push_back(line.Text);
    ASSERT_EQ(progress.size(), c.Blocks) << c.ImageSize;
    EXPECT_EQ(progress.empty() ? "" : progress.front() + ", " + progress.back(), c.Progress) << c.ImageSize;
  }
}

TEST(ThreadConfigLoading, LossyLinkStillDeliversTheImage) {
  LoadingRun run([](auto& o) { o.DropRate = 0.3; o.Seed = 20240601; }, {40, 40});
  const Bytes image = Pattern(1000);
  ASSERT_EQ(run.Complete(image), Loading::StepCompleted);
  EXPECT_EQ(run.Unit.ReceivedImage(), image);
}

// Holds the simulated gateway inside its log of the first request after
// Arm, before the unit sees it: the request waits for a reply that does not
// come until Release.
class GatewayHold {
 public:
  void Arm() {
    const std::lock_guard lock(Guard);
    Armed = true;
  }
  void Pass(const std::string& line) {
    std::unique_lock lock(Guard);
    if (!Armed || Holding || !line.starts_with("<- ")) return;
    Holding = true;
    Changed.notify_all();
    Changed.wait(lock, [this] { return Released; });
  }
  bool WaitHolding() {
    std::unique_lock lock(Guard);
    return Changed.wait_for(lock, std::chrono::minutes(1), [this] { return Holding; });
  }
  void Release() {
    const std::lock_guard lock(Guard);
    Released = true;
    Changed.notify_all();
  }

 private:
  std::mutex Guard;
  std::condition_variable Changed;
  bool Armed = false;
  bool Holding = false;
  bool Released = false;
};

// The fourth block's write waits for its reply when the owner ends the run;
// unless the abort ends it, that request alone takes 100 tries of half a
// second.
TEST(ThreadConfigLoading, AbortDuringABlockWrite) {
  GatewayHold hold;  // outlives the gateway, whose thread it may hold
  LoadingRun run({}, {100, 500}, [&hold](const std::string& line) { hold.Pass(line); });
  struct Releasing {
    GatewayHold& Hold;
    ~Releasing() { Hold.Release(); }  // before the gateway stops
  } release{hold};
  int blocks = 0;
  run.OnLine = [&](const std::string& line) {
    if (line.starts_with("Выполнено ") && line.ends_with(" %") && ++blocks == 3) hold.Arm();
  };
  run.Start(Pattern(1000));
  ASSERT_TRUE(hold.WaitHolding());
  const auto aborted = std::chrono::steady_clock::now();
  run.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - aborted, std::chrono::seconds(2));
  const auto third = std::ranges::find(run.Log, Info("Выполнено 19 %"));
  ASSERT_NE(third, run.Log.end());
  EXPECT_EQ(Lines(third + 1, run.Log.end()), Lines{Alert("Ошибка! Потеряна связь с ВЕЛАР")});
  EXPECT_EQ(run.Unit.BlockAddresses(), (std::vector<std::uint32_t>{0x8000, 0x8040, 0x8080}));
}

using Texts = std::vector<std::string>;

std::string Image(std::size_t size) {
  const Bytes bytes = Pattern(size);
  return std::string(bytes.begin(), bytes.end());
}

// A new project's image: one block.
const std::string ExportedImage("\x31\x73\x1C\x00\x09\x00\x1A\x00\x00\x08\x08\x00\x08\x00\x08\x00"
                                "\x08\x00\x08\x00\x08\x00\x08\x00\x08\x00\x00\xD4", 28);

// A ready procedure comes with the transport configured and opened; a
// refusal leaves the transport as it was.
TEST(LoadingSetup, ReadyOrRefused) {
  using enum LoadingVerdict::Outcomes;
  const SocketLibrary sockets;
  testing::TempDir dir;
  testing::WriteFile(dir.File("sms.bin"), ExportedImage);
  testing::WriteFile(dir.File("full.bin"), Image(65536));  // as much as the unit holds, but no image
  testing::WriteFile(dir.File("large.bin"), Image(65537));
  const struct {
    std::string Gateway;
    std::string File;
    bool AcceptDamaged;
    LoadingVerdict::Outcomes Outcome;
    bool Defect = false;
    int Error = 0;
    std::uintmax_t FileSize = 0;
  } cases[] = {
      {"10.1.2.3:5000", "sms.bin", false, Ready},
      {"10.1.2.3", "full.bin", true, Ready, true},
      {"10.1.2.3", "full.bin", false, Damaged, true},
      {"10.1.2.3", "large.bin", true, TooLarge, false, 0, 65537},
      {"10.1.2.3", "missing.bin", true, Unreadable, false, ENOENT},
      {"10.1.2.3.4", "missing.bin", false, BadAddress},  // the address comes first
  };
  for (const auto& c : cases) {
    CRPCInterface rpc;
    rpc.Abort = true;  // as a stopped loading leaves it
    const LoadingSetup setup = SetUpLoading({c.Gateway, 7, {3, 150}}, dir.File(c.File), c.AcceptDamaged, rpc);
    const LoadingVerdict& verdict = setup.Verdict;
    EXPECT_EQ(std::tie(verdict.Outcome, verdict.Error, verdict.FileSize), std::tie(c.Outcome, c.Error, c.FileSize))
        << c.File;
    EXPECT_EQ(verdict.Defect.starts_with("offset "), c.Defect) << c.File << ": " << verdict.Defect;
    ASSERT_EQ(setup.Procedure != nullptr, c.Outcome == Ready) << c.File;
    if (!setup.Procedure) {
      EXPECT_TRUE(rpc.Abort && rpc.AddressText.empty() && rpc.Socket.LocalPort() == 0) << c.File;
      continue;
    }
    const CThreadConfigLoading& ready = *setup.Procedure;
    EXPECT_EQ(std::string(ready.Image.begin(), ready.Image.begin() + ready.ImageSize), testing::ReadFile(dir.File(c.File)));
    EXPECT_EQ(std::tie(ready.ImageAddress, ready.Client.Address, ready.Client.Rpc),
              std::make_tuple(std::uint32_t{0x8000}, std::uint32_t{7}, &rpc));
    EXPECT_EQ(std::tie(rpc.AddressText, rpc.Tries, rpc.Timeout), std::make_tuple(c.Gateway, 3, std::uint32_t{150}));
    EXPECT_FALSE(rpc.Abort);
    EXPECT_NE(rpc.Socket.LocalPort(), 0);
    EXPECT_FALSE(ready.Started());
  }
}

TEST(CmdLoad, WritesTheImageIntoTheSimulatedUnit) {
  if (!testing::ChildProcess::CanInterrupt) GTEST_SKIP() << "Windows cannot send Ctrl+C or SIGTERM to one child process alone";
  testing::TempDir dir;
  testing::WriteFile(dir.File("sms.bin"), Image(300));
  testing::WriteFile(dir.File("exported.bin"), ExportedImage);
  testing::ChildProcess simulate({SMSCONF_CLI, "simulate", "--listen", "127.0.0.1:0", "--save-image", dir.File("received.bin")});
  const std::string listening = simulate.ReadLine().value_or("");
  ASSERT_TRUE(listening.starts_with("listening on ")) << listening;
  const std::string gateway = listening.substr(std::string("listening on ").size());

  // A file that is no image goes only with --force.
  testing::ChildProcess load({SMSCONF_CLI, "load", dir.File("sms.bin"), "--gateway", gateway, "--tries", "5", "--force"});
  Texts lines = load.RemainingLines();
  EXPECT_EQ(load.Wait(), 0);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0], "warning: " + dir.File("sms.bin") + ": offset 0: signature 0x0700 is not 0x7331; sent anyway (--force)");
  lines.erase(lines.begin());
  // Its own size line, then the loading's lines as they come; the loading's
  // whole log is the procedure's tests' to check.
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(Texts(lines.begin(), lines.begin() + 3),
            (Texts{"Размер файла конфигурации 300 байт", "Обновление конфигурации АУ [1]",
                   "Подключение к ВЕЛАР по адресу [" + gateway + "]"}));
  EXPECT_EQ(std::ranges::count_if(lines, [](auto& line) { return line.starts_with("Выполнено ") && line.ends_with(" %"); }), 5);
  EXPECT_TRUE(lines.back().starts_with("Загрузка конфигурации завершена (")) << lines.back();
  EXPECT_TRUE(std::ranges::none_of(lines, [](auto& line) { return line.find('\x1b') != std::string::npos; }));  // no colour into a pipe
  EXPECT_TRUE(simulate.ReadLine().value_or("").ends_with(" gateway info"));  // its log of the first exchange

  // A shorter loading afterwards leaves no tail of the first in the unit.
  testing::ChildProcess again({SMSCONF_CLI, "load", dir.File("exported.bin"), "--gateway", gateway, "--tries", "5"});
  EXPECT_TRUE(again.RemainingLines().back().starts_with("Загрузка конфигурации завершена ("));
  EXPECT_EQ(again.Wait(), 0);
  simulate.Signal(SIGTERM);
  EXPECT_EQ(simulate.Wait(), 0);
  EXPECT_EQ(testing::ReadFile(dir.File("received.bin")), ExportedImage);
}

// A simulated unit on a free loopback port, set up by `change`.
struct SimulatedUnit {
  explicit SimulatedUnit(const UnitSettings& change) : Unit([&] {
    sim::SimulatorOptions options;
    options.Port = 0;
    change(options);
    return options;
  }()) {
    EXPECT_TRUE(Unit.Start());
  }
  std::string Address() const { return "127.0.0.1:" + std::to_string(Unit.Port()); }
  sim::CSimulator Unit;
};

TEST(CmdLoad, FailuresEndWithTheirStatus) {
  testing::TempDir dir;
  testing::WriteFile(dir.File("sms.bin"), Image(10));
  testing::WriteFile(dir.File("large.bin"), Image(65537));
  testing::UdpPeer silent;
  const SimulatedUnit unconfirming([](auto& o) { o.InvalidFinishReply = true; });
  const SimulatedUnit busy([](auto& o) { o.BusyWrites = std::numeric_limits<unsigned>::max(); });
  const std::string aborted = "Загрузка прервана: АУ может остаться в режиме \"ЗАГРУЗКА КОНФИГУРАЦИИ\"";
  const struct {
    Texts Arguments;
    int Status;
    std::string Message;
    Texts Then = {};  // lines behind the message, in this order
  } cases[] = {
      {{dir.File("sms.bin"), "--gateway", "192.168.1"}, 2,
       "Ошибка в написании IP адреса: \"192.168.1\" (accepted: a.b.c.d or a.b.c.d:port"},
      {{dir.File("missing.bin")}, 1, "Ошибка чтения файла " + dir.File("missing.bin") + ": no such file"},
      {{dir.Path.string()}, 1, "Ошибка чтения файла " + dir.Path.string() + ": is a directory"},
      {{dir.File("large.bin")}, 1, "Файл конфигурации больше 65536 байт"},
      {{dir.File("sms.bin")}, 1, dir.File("sms.bin") + ": offset 0: image of 10 bytes is shorter than the smallest"},
      {{dir.File("sms.bin")}, 1, "The image is damaged and was not sent; --force sends it anyway."},
      {{dir.File("sms.bin"), "--gateway", silent.Address(), "--tries", "1", "--timeout", "100", "--force"}, 1,
       "Ошибка! Нет связи с ВЕЛАР"},
      // Written, but not confirmed.
      {{dir.File("sms.bin"), "--gateway", unconfirming.Address(), "--tries", "5", "--force"}, 3,
       "Загрузка конфигурации завершена (", {"Внимание! АУ не подтвердил завершение загрузки: проверьте конфигурацию АУ"}},
      // A unit busy for ever is asked until the deadline.
      {{dir.File("sms.bin"), "--gateway", busy.Address(), "--tries", "5", "--force", "--deadline", "2.5"}, 1,
       "Device Busy!", {"Срок загрузки истёк (--deadline 2.5 с)", aborted}},
      {{dir.File("sms.bin"), "--deadline", "0"}, 2, "--deadline: 0 is not positive"},
  };
  for (const auto& c : cases) {
    Texts arguments{SMSCONF_CLI, "load"};
    arguments.insert(arguments.end(), c.Arguments.begin(), c.Arguments.end());
    testing::ChildProcess load(arguments);
    const Texts lines = load.RemainingLines();
    EXPECT_EQ(load.Wait(), c.Status) << c.Message;
    const auto found = std::ranges::find_if(lines, [&](auto& line) { return line.find(c.Message) != std::string::npos; });
    EXPECT_NE(found, lines.end()) << c.Message;
    auto next = found;
    for (const std::string& then : c.Then) {
      next = std::find_if(next, lines.end(), [&](auto& line) { return line.starts_with(then); });
      EXPECT_NE(next, lines.end()) << then;
    }
  }
}

// Ctrl+C, and a request to end the program, abort the running request and
// warn; the status is what shells show for the signal.
TEST(CmdLoad, StopSignalsAbortTheRunningRequest) {
  if (!testing::ChildProcess::CanInterrupt) GTEST_SKIP() << "Windows cannot send Ctrl+C or SIGTERM to one child process alone";
#ifndef _WIN32
  testing::TempDir dir;
  testing::UdpPeer silent;  // without the interrupt the first request alone would take 50 seconds
  testing::WriteFile(dir.File("sms.bin"), ExportedImage);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    testing::ChildProcess load({SMSCONF_CLI, "load", dir.File("sms.bin"), "--gateway", silent.Address(), "--tries",
                                "100", "--timeout", "500"});
    Texts lines;
    for (int i = 0; i < 3; ++i) lines.push_back(load.ReadLine().value_or(""));
    load.Signal(signal);
    const auto interrupted = std::chrono::steady_clock::now();
    EXPECT_EQ(load.Wait(), 128 + signal);
    EXPECT_LT(std::chrono::steady_clock::now() - interrupted, std::chrono::seconds(1)) << signal;
    EXPECT_EQ(lines, (Texts{"Размер файла конфигурации 28 байт", "Обновление конфигурации АУ [1]",
                            "Подключение к ВЕЛАР по адресу [" + silent.Address() + "]"}));
    EXPECT_EQ(load.RemainingLines(), (Texts{"Загрузка прервана: АУ может остаться в режиме \"ЗАГРУЗКА КОНФИГУРАЦИИ\" "
                                            "до следующей полной загрузки"})) << signal;
  }
#endif
}

// Output into a pipe whose reader has gone (load | head) does not end the
// loading: the unit gets the whole image, and the lost output fails the
// command at the end.
TEST(CmdLoad, AClosedOutputPipeDoesNotCutTheLoadingShort) {
#ifdef _WIN32
  GTEST_SKIP() << "no SIGPIPE on Windows";
#else
  testing::TempDir dir;
  const std::string image = Image(300);
  testing::WriteFile(dir.File("sms.bin"), image);
  const SimulatedUnit unit([](auto&) {});
  int pipe[2] = {-1, -1};
  ASSERT_EQ(::pipe2(pipe, O_CLOEXEC), 0);
  ::close(pipe[0]);
  const testing::ProcessResult run = testing::RunProcess(
      {SMSCONF_CLI, "load", dir.File("sms.bin"), "--gateway", unit.Address(), "--tries", "5", "--force"}, pipe[1]);
  ::close(pipe[1]);
  EXPECT_EQ(run.Status, 1);
  EXPECT_TRUE(run.Err.ends_with("smsconf-cli: cannot write the output: broken pipe\n")) << run.Err;
  const std::vector<std::uint8_t> received = unit.Unit.ReceivedImage();
  EXPECT_EQ(std::string(received.begin(), received.end()), image);
#endif
}

}  // namespace
}  // namespace smsconf
