// The configuration loading against the simulated unit: in process with
// the fixed pauses observed, and as smsconf-cli load against smsconf-cli
// simulate.

#include "loading/ThreadConfigLoading.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <functional>
#include <future>
#include <limits>
#include <regex>
#include <sstream>
#include <tuple>

#include "common/ChildProcess.h"
#ifdef __linux__
#include "common/PtyProcess.h"
#endif
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
using Texts = std::vector<std::string>;

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
std::string Image(std::size_t size) {
  const Bytes bytes = Pattern(size);
  return {bytes.begin(), bytes.end()};
}

// The completion line's duration, which differs from run to run, as N once
// it is a plausible number of milliseconds (below a minute).
std::string Timed(std::string text) {
  static const std::string head = "Загрузка конфигурации завершена (";
  static const std::string tail = " мс)";
  for (std::size_t at = text.find(head); at != std::string::npos; at = text.find(head, at + 1)) {
    const std::size_t from = at + head.size();
    std::size_t to = from;
    while (to < text.size() && text[to] >= '0' && text[to] <= '9') ++to;
    const std::string digits = text.substr(from, to - from);
    const bool plausible = !digits.empty() && digits.size() <= 5 && std::stoi(digits) < 60000;
    if (plausible && text.compare(to, tail.size(), tail) == 0) text.replace(from, to - from, "N");
  }
  return text;
}

// A simulated unit on a free loopback port, set up by `change`.
struct SimulatedUnit {
  explicit SimulatedUnit(const UnitSettings& change = {}, const UnitLog& log = {}) : Unit([&] {
    sim::SimulatorOptions options;
    options.Port = 0;
    options.Identifier = "SMS-AU 2.1";
    options.GatewayIp = {10, 20, 30, 40};
    if (change) change(options);
    return options;
  }()) {
    if (log) Unit.SetLog(log);
    EXPECT_TRUE(Unit.Start());
  }
  std::string Address() const { return "127.0.0.1:" + std::to_string(Unit.Port()); }
  sim::CSimulator Unit;
};

// A loading the way the dialog runs it, against the unit behind its gateway;
// the fixed pauses are observed, not waited.
struct LoadingRun : SimulatedUnit {
  explicit LoadingRun(const UnitSettings& change = {}, LinkSettings link = {5, 200}, const UnitLog& unitLog = {})
      : SimulatedUnit(change, unitLog) {
    Rpc.AddressText = Address();
    Rpc.Tries = link.Tries;
    Rpc.Timeout = link.Timeout;
    Rpc.Open();
    Worker.Client.Address = 1;
    Worker.Client.Rpc = &Rpc;
    Worker.Pauses.Scale = 0.0;
    Worker.CurrentLinkSettings = [link] { return link; };
    Worker.Sink = [this](int kind, const std::string& text) {
      Log.push_back({kind, Timed(text::Cp1251ToUtf8(text))});
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

  std::function<void(const std::string&)> OnLine;  // on the worker, as each line comes
  Lines Log;                                        // read once the worker has ended
  std::vector<milliseconds> Pauses;
  std::promise<int> Final;
  CRPCInterface Rpc;
  Loading Worker;
};

template <typename T>
std::vector<T> operator+(std::vector<T> a, const std::vector<T>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

const Line Identified = Info("Идентификатор [SMS-AU 2.1]"), NoId = Info("Идентификатор устройства недоступен");
const Lines ToConfig = {Info("Переводим АУ в режим \"BOOT\""), Info("АУ в режиме \"ОБНОВЛЕНИЕ ПРОШИВКИ\""),
                        Info("Переводим АУ в режим \"ЗАГРУЗКА КОНФИГУРАЦИИ\""),
                        Info("АУ в режиме \"ЗАГРУЗКА КОНФИГУРАЦИИ\"")};
const Line Upload50 = Info("Загрузка файла конфигурации (50 байт)");
const Lines Uploaded50 = ToConfig + Lines{Upload50, Info("Выполнено 102 %"), Info("Загрузка завершена")};
const Lines ToWork = {Info("Завершение"), Info("АУ в режиме \"РАБОТА\""), Info("Переводим АУ в режим \"РАБОТА\"")};
const Line Done{Loading::Success, "Загрузка конфигурации завершена (N мс)"}, IdLost = Alert("Ошибка! " + NoId.Text);
Line Warning(const std::string& what) { return Alert("Внимание! АУ " + what + ": проверьте конфигурацию АУ"); }

TEST(ThreadConfigLoading, Scenarios) {
  const struct {
    const char* Name;
    UnitSettings Set;
    std::size_t ImageSize;
    Lines Expected;  // behind the gateway's; Done among them: completed
    std::vector<milliseconds> Pauses = {};  // none: not checked
  } cases[] = {
      {"plain", {}, 50, Lines{Identified} + Uploaded50 + ToWork + Lines{Identified, Done}},
      // A busy unit gets the block again, and longer pauses before every later block.
      {"busy twice", [](auto& o) { o.BusyWrites = 2; }, 100,
       Lines{Identified} + ToConfig +
           Lines{Info("Загрузка файла конфигурации (100 байт)"), Info("Device Busy!"), Info("Device Busy!"),
                 Info("Выполнено 65 %"), Info("Выполнено 101 %"), Info("Загрузка завершена")} +
           ToWork + Lines{Identified, Done},
       {500ms, 500ms, 500ms, 50ms, 100ms, 150ms, 150ms, 500ms, 500ms, 1000ms}},
      {"no update", [](auto& o) { o.ModeSwitchException = true; }, 50,
       {Identified, ToConfig[0], Alert("АУ не поддерживает обновление ПО по сети")}},
      {"no identifier", [](auto& o) { o.NoIdentifier = true; }, 50,
       Lines{NoId} + Uploaded50 + ToWork +
           Lines{IdLost, Done, Warning("не сообщил идентификатор после загрузки")}},
      // The image is in place: the unit still goes back to work.
      {"invalid finish reply", [](auto& o) { o.InvalidFinishReply = true; }, 50,
       Lines{Identified} + Uploaded50 +
           Lines{ToWork[0], Alert("Нет ответа от АУ"), ToWork[2], Identified, Done,
                 Warning("не подтвердил завершение загрузки")}},
      // An exception tells no mode: no "РАБОТА" line.
      {"finish refused", [](auto& o) { o.FinishException = true; }, 50,
       Lines{Identified} + Uploaded50 +
           Lines{ToWork[0], ToWork[2], Identified, Done, Warning("ответил ошибкой на завершение загрузки")}},
      {"finish refused, no identifier", [](auto& o) { o.FinishException = o.NoIdentifier = true; }, 50,
       Lines{NoId} + Uploaded50 +
           Lines{ToWork[0], ToWork[2], IdLost, Done,
                 Warning("ответил ошибкой на завершение загрузки и не сообщил идентификатор после загрузки")}},
      {"block size 0", [](auto& o) { o.BlockSize = 0; }, 50,
       Lines{Identified} + ToConfig + Lines{Upload50, Alert("Ошибка! АУ сообщил недопустимый размер блока (0)")}},
  };
  for (const auto& c : cases) {
    LoadingRun run(c.Set);
    const Bytes image = Pattern(c.ImageSize);
    const bool completed = std::ranges::count(c.Expected, Done) == 1;
    ASSERT_EQ(run.Complete(image), completed ? Loading::StepCompleted : Loading::StepStopped) << c.Name;
    const Lines head = {Info("Обновление конфигурации АУ [1]"), Info("Подключение к ВЕЛАР по адресу [" + run.Rpc.AddressText + "]"),
                        Alert("Выполнено подключение к [10.20.30.40]")};
    EXPECT_EQ(run.Log, head + c.Expected) << c.Name;
    EXPECT_EQ(run.Unit.ReceivedImage(), completed ? image : Bytes{}) << c.Name;
    EXPECT_EQ(run.Worker.Unconfirmed() != 0, c.Expected.back() != Done && completed) << c.Name;
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

// The trace of a loading: every request and its reply in order, each
// decoded, among the steps, the lines and the pauses, a busy unit's longer
// ones included. The datagrams' bytes are left out here.
TEST(ThreadConfigLoading, TraceDecodesEveryExchangeInOrder) {
  trace::CWireTrace trace;  // outlives the run that writes into it
  Texts lines;
  LoadingRun run([](auto& o) { o.BusyWrites = 1; });
  trace.WriteTextTo([&](const std::string& line) {
    const std::size_t text = line.find(' ', line.find_first_not_of(' ')) + 1, decoded = line.find(" | ");
    lines.push_back(decoded == std::string::npos ? Timed(line.substr(text)) : line.substr(text, 3) + line.substr(decoded + 3));
  });
  run.Rpc.Observer = run.Worker.Trace = &trace;
  CRPCInterface::SetSequence(0x100);
  ASSERT_EQ(run.Complete(Pattern(50)), Loading::StepCompleted);

  Texts expected;
  const auto add = [&](std::initializer_list<std::string> more) { expected.insert(expected.end(), more); };
  const auto log = [&](const std::string& line) { add({"-- log: " + line}); };
  unsigned sequence = 0x101;
  const auto exchange = [&](const std::string& request, const std::string& reply) {
    char seq[8];
    std::snprintf(seq, sizeof seq, "0x%04X", sequence++);
    const std::string modbus = std::string(seq) + " Modbus unit 1 ";
    add({"-> request seq " + modbus + request + ", CRC ok", "<- reply seq " + modbus + reply + ", CRC ok"});
  };
  const auto identify = [&] { exchange("ReportSlaveId", "ReportSlaveId, identifier \"SMS-AU 2.1\""); };
  const auto boot = [&] { exchange("EnterBootMode", "EnterBootMode, mode 1"); };
  const auto toWork = [&] { exchange("EnterRunMode", "EnterRunMode"); };
  const auto block = [&](const std::string& reply) { exchange("WriteBlock, address 0x8000, 50 bytes", "WriteBlock, " + reply); };
  log("Обновление конфигурации АУ [1]");
  add({"-- step connect"});
  log("Подключение к ВЕЛАР по адресу [" + run.Address() + "]");
  add({"-> request seq 0x0100 GatewayInfo", "<- reply seq 0x0100 GatewayInfo, address 10.20.30.40, text \"UDP GATEWAY SIM\""});
  log("Выполнено подключение к [10.20.30.40]");
  add({"-- step identify"});
  identify();
  log(Identified.Text);
  add({"-- step boot"});
  log(ToConfig[0].Text);
  for (int i = 0; i < 3; ++i) boot(), add({"-- pause 500 ms"});
  boot();
  log(ToConfig[1].Text);
  add({"-- step config"});
  log(ToConfig[2].Text);
  exchange("EnterConfigMode", "EnterConfigMode, mode 1, block size 64, extra 0");
  log(ToConfig[3].Text);
  add({"-- step upload"});
  log(Upload50.Text);
  add({"-- pause 50 ms"});
  block("exception 6 (server device busy)");
  log("Device Busy!");
  add({"-- unit busy: every further block waits 100 ms", "-- pause 100 ms"});
  block("echo address 0x8000");
  log("Выполнено 102 %");
  log("Загрузка завершена");
  add({"-- step finish"});
  log(ToWork[0].Text);
  exchange("FinishLoading", "FinishLoading, data 00 00");
  log(ToWork[1].Text);
  add({"-- step run"});
  log(ToWork[2].Text);
  for (const char* pause : {"500", "500", "1000"}) toWork(), add({"-- pause " + std::string(pause) + " ms"});
  add({"-- step identify-again"});
  identify();
  log(Identified.Text);
  add({"-- step done"});
  log(Done.Text);
  EXPECT_EQ(lines, expected);
}

TEST(ThreadConfigLoading, LossyLinkStillDeliversTheImage) {
  LoadingRun run([](auto& o) { o.DropRate = 0.3; o.Seed = 20240601; }, {40, 40});
  const Bytes image = Pattern(1000);
  ASSERT_EQ(run.Complete(image), Loading::StepCompleted);
  EXPECT_EQ(run.Unit.ReceivedImage(), image);
}

// Holds the simulated gateway inside its log of the first request after
// Armed, before the unit sees it: the request waits for a reply that does
// not come until Released (or, should the test fail first, a while).
struct GatewayHold {
  void Pass(const std::string& line) {
    if (!Armed || !line.starts_with("<- ") || Holding.exchange(true)) return;
    Held.set_value();
    Released.get_future().wait_for(std::chrono::seconds(10));
  }
  std::atomic<bool> Armed = false, Holding = false;
  std::promise<void> Held, Released;
};

// The fourth block's write waits for its reply when the owner ends the run;
// unless the abort ends it, that request alone takes 100 tries of half a
// second.
TEST(ThreadConfigLoading, AbortDuringABlockWrite) {
  GatewayHold hold;  // outlives the gateway, whose thread it may hold
  LoadingRun run({}, {100, 500}, [&hold](const std::string& line) { hold.Pass(line); });
  int blocks = 0;
  run.OnLine = [&](const std::string& line) {
    if (line.starts_with("Выполнено ") && line.ends_with(" %") && ++blocks == 3) hold.Armed = true;
  };
  run.Start(Pattern(1000));
  ASSERT_EQ(hold.Held.get_future().wait_for(std::chrono::minutes(1)), std::future_status::ready);
  const auto aborted = std::chrono::steady_clock::now();
  run.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - aborted, std::chrono::seconds(2));
  EXPECT_EQ(Lines(run.Log.end() - 2, run.Log.end()),
            (Lines{Info("Выполнено 19 %"), Alert("Ошибка! Потеряна связь с ВЕЛАР")}));
  EXPECT_EQ(run.Unit.BlockAddresses(), (std::vector<std::uint32_t>{0x8000, 0x8040, 0x8080}));
  hold.Released.set_value();
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
    const LoadingVerdict& v = setup.Verdict;
    EXPECT_EQ(std::tie(v.Outcome, v.Error, v.FileSize), std::tie(c.Outcome, c.Error, c.FileSize)) << c.File;
    EXPECT_EQ(v.Defect.starts_with("offset "), c.Defect) << c.File << ": " << v.Defect;
    const bool ready = c.Outcome == Ready;
    EXPECT_EQ(std::tuple(rpc.AddressText, bool(rpc.Abort), rpc.Socket.LocalPort() != 0),
              std::tuple(ready ? c.Gateway : "", !ready, ready)) << c.File;
    ASSERT_EQ(setup.Procedure != nullptr, ready) << c.File;
    if (!ready) continue;
    const CThreadConfigLoading& p = *setup.Procedure;
    EXPECT_EQ(std::string(p.Image.begin(), p.Image.begin() + p.ImageSize), testing::ReadFile(dir.File(c.File)));
    EXPECT_EQ(std::tie(p.ImageAddress, p.Client.Address, p.Client.Rpc, rpc.Tries, rpc.Timeout),
              std::make_tuple(std::uint32_t{0x8000}, std::uint32_t{7}, &rpc, 3, std::uint32_t{150}));
    EXPECT_FALSE(p.Started());
  }
}

// A file that is no image goes only with --force. On a terminal the block
// progress shares one line, rewritten in place with a bar, and the lines are
// coloured by their kind; into a pipe they come plain. The simulator goes on
// once the reader of its log has gone (simulate | head -1), serves one
// loading at a time, and on SIGTERM saves the image of the last.
TEST(CmdLoad, WritesTheImageIntoTheSimulatedUnit) {
  if (!testing::ChildProcess::CanInterrupt) GTEST_SKIP() << "Windows cannot send Ctrl+C or SIGTERM to one child process alone";
  testing::TempDir dir;
  testing::WriteFile(dir.File("sms.bin"), Image(300));  // five blocks of the simulated unit
  testing::WriteFile(dir.File("exported.bin"), ExportedImage);
  testing::ChildProcess simulate({SMSCONF_CLI, "simulate", "--listen", "127.0.0.1:0", "--save-image", dir.File("received.bin")});
  const std::string listening = simulate.ReadLine().value_or("");
  ASSERT_TRUE(listening.starts_with("listening on ")) << listening;
  const std::string gateway = listening.substr(std::string("listening on ").size());
#ifdef __linux__
  testing::PtyProcess load({SMSCONF_CLI, "load", dir.File("sms.bin"), "--gateway", gateway, "--tries", "5", "--force"});
  const std::string output = load.Rest();
  EXPECT_EQ(load.Wait(), 0) << output;
  EXPECT_TRUE(output.starts_with("warning: " + dir.File("sms.bin") + ": offset 0: signature 0x0700 is not 0x7331; "
                                 "sent anyway (--force)\nРазмер файла конфигурации 300 байт\n")) << output;
  EXPECT_NE(output.find("Загрузка файла конфигурации (300 байт)\n"
                        "\r\x1b[KВыполнено 21 % [######------------------------]"
                        "\r\x1b[KВыполнено 43 % [############------------------]"
                        "\r\x1b[KВыполнено 64 % [###################-----------]"
                        "\r\x1b[KВыполнено 85 % [#########################-----]"
                        "\r\x1b[KВыполнено 100 % [##############################]\n"
                        "Загрузка завершена\n"), std::string::npos) << output;
  EXPECT_TRUE(Timed(output).ends_with("\n\x1b[32m" + Done.Text + "\x1b[0m\n")) << output;
  EXPECT_TRUE(simulate.ReadLine().value_or("").ends_with(" gateway info"));  // its log of the first exchange
#endif
  simulate.CloseOutput();
  testing::ChildProcess again({SMSCONF_CLI, "load", dir.File("exported.bin"), "--gateway", gateway, "--tries", "5"});
  const Texts lines = again.RemainingLines();
  EXPECT_EQ(again.Wait(), 0);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(Timed(lines.back()), Done.Text);
  EXPECT_TRUE(std::ranges::none_of(lines, [](auto& line) { return line.find('\x1b') != std::string::npos; }));
  // Into loading mode, which leaves no tail of the longer image, and a block.
  const std::uint16_t port = static_cast<std::uint16_t>(std::stoi(gateway.substr(gateway.rfind(':') + 1)));
  const testing::UdpPeer first, second;
  first.Send(port, testing::ModbusRequest(1, {0x01, 0x33}));
  ASSERT_TRUE(first.Receive());
  first.Send(port, testing::ModbusRequest(2, {0x01, 0x34, 0x20, 0xA2, 0x00, 0x80, 0x00, 0x00, 0x55, 0xAA}));
  ASSERT_TRUE(first.Receive());
  second.Send(port, testing::ModbusRequest(1, {0x01, 0x34, 0x20, 0xA2, 0x00, 0x80, 0x00, 0x00, 'B', 'B'}));
  EXPECT_EQ(second.Receive().value_or(testing::Received{}).Content,
            testing::GatewayReply(1, testing::WithCrc({0x01, 0xB4, 0x06})));  // busy
  simulate.Signal(SIGTERM);
  EXPECT_EQ(simulate.Wait(), 1);  // its log went nowhere
  EXPECT_EQ(testing::ReadFile(dir.File("received.bin")), "\x55\xAA");
}

#ifndef _WIN32
// What tshark reads from a capture: one line per datagram with its source
// and destination addresses and ports and its payload in hex.
Texts Tshark(const std::string& capture) {
  const testing::ProcessResult read = testing::RunProcess(
      {"/usr/bin/tshark", "-r", capture, "-T", "fields", "-e", "ip.src", "-e", "udp.srcport", "-e", "ip.dst", "-e",
       "udp.dstport", "-e", "udp.payload"});
  EXPECT_EQ(read.Status, 0) << read.Err;
  Texts lines;
  std::istringstream out(read.Out);
  for (std::string line; std::getline(out, line);) lines.push_back(line);
  return lines;
}

// The datagram lines of a trace file as tshark would read them, given this
// end's port.
Texts AsTshark(const std::string& trace, std::uint16_t port) {
  static const std::regex datagram(" *[0-9]+\\.[0-9]{3} (->|<-) [0-9.]+:([0-9]+) ([0-9A-F ]+) \\| .*");
  Texts lines;
  std::istringstream in(trace);
  for (std::string line; std::getline(in, line);) {
    std::smatch m;
    if (!std::regex_match(line, m, datagram)) continue;
    std::string hex;
    for (const char c : m[3].str()) if (c != ' ') hex += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const std::string self = "127.0.0.1\t" + std::to_string(port), peer = "127.0.0.1\t" + m[2].str();
    lines.push_back(m[1] == "->" ? self + "\t" + peer + "\t" + hex : peer + "\t" + self + "\t" + hex);
  }
  return lines;
}
#endif

// A loading traced at both ends: the tool's trace and capture and the
// simulator's tell of the same datagrams in the same order, and tshark
// reads both captures with the real ports and payloads.
TEST(CmdLoad, TraceAndCaptureOfBothEnds) {
#ifdef _WIN32
  GTEST_SKIP() << "tshark reads the captures of the Linux build";
#else
  if (::access("/usr/bin/tshark", X_OK) != 0) GTEST_SKIP() << "tshark is missing; scripts/bootstrap installs it";
  testing::TempDir dir;
  testing::WriteFile(dir.File("sms.bin"), Image(100));
  testing::ChildProcess simulate({SMSCONF_CLI, "simulate", "--listen", "127.0.0.1:0", "--trace", dir.File("sim.trace"),
                                  "--pcap", dir.File("sim.pcap")});
  const std::string listening = simulate.ReadLine().value_or("");
  ASSERT_TRUE(listening.starts_with("listening on ")) << listening;
  const std::string gateway = listening.substr(std::string("listening on ").size());
  const testing::ProcessResult load = testing::RunProcess({SMSCONF_CLI, "load", dir.File("sms.bin"), "--gateway", gateway,
                                                           "--force", "--trace", dir.File("load.trace"), "--pcap",
                                                           dir.File("load.pcap")});
  EXPECT_EQ(load.Status, 0) << load.Err;
  simulate.Signal(SIGTERM);
  EXPECT_EQ(simulate.Wait(), 0);

  // The tool's port is the peer of the simulator's first line.
  const std::string simulated = testing::ReadFile(dir.File("sim.trace"));
  std::smatch client;
  ASSERT_TRUE(std::regex_search(simulated, client, std::regex("<- 127\\.0\\.0\\.1:([0-9]+) 21 AB ")));
  const auto tool = static_cast<std::uint16_t>(std::stoi(client[1]));
  const std::string traced = testing::ReadFile(dir.File("load.trace"));
  EXPECT_NE(traced.find(" -- step upload\n"), std::string::npos) << traced;
  const Texts datagrams = AsTshark(traced, tool);
  EXPECT_EQ(datagrams.size(), 2u * 14);  // the exchanges of a loading of two blocks
  EXPECT_EQ(AsTshark(simulated, static_cast<std::uint16_t>(std::stoi(gateway.substr(gateway.rfind(':') + 1)))), datagrams);
  EXPECT_EQ(Tshark(dir.File("load.pcap")), datagrams);
  EXPECT_EQ(Tshark(dir.File("sim.pcap")), datagrams);
#endif
}

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
      // The trace tells of every try's time-out.
      {{dir.File("sms.bin"), "--gateway", silent.Address(), "--tries", "2", "--timeout", "100", "--force", "--trace", "-"}, 1,
       " ms, try 1 of 2: sending again", {"Ошибка! Нет связи с ВЕЛАР"}},
      {{dir.File("sms.bin"), "--force", "--trace", dir.Path.string()}, 1,
       "Cannot create file " + dir.Path.string() + ": is a directory"},
#ifndef _WIN32
      {{dir.File("sms.bin"), "--gateway", unconfirming.Address(), "--tries", "5", "--force", "--trace", "/dev/full"}, 3,
       "smsconf-cli: Cannot write file /dev/full: disk full"},
#endif
  };
  for (const auto& c : cases) {
    testing::ChildProcess load(Texts{SMSCONF_CLI, "load"} + c.Arguments);
    const Texts lines = load.RemainingLines();
    EXPECT_EQ(load.Wait(), c.Status) << c.Message;
    auto next = std::ranges::find_if(lines, [&](auto& line) { return line.find(c.Message) != std::string::npos; });
    EXPECT_NE(next, lines.end()) << c.Message;
    for (const std::string& then : c.Then) {
      next = std::find_if(next, lines.end(), [&](auto& line) { return line.starts_with(then); });
      EXPECT_NE(next, lines.end()) << then;
    }
  }
}

#ifdef __linux__
// A terminal's failure line is red unless --no-color, or a NO_COLOR that is
// set and not empty, turns colour off; in load and fleet alike.
TEST(CmdLoad, ColourOnATerminalUnlessTurnedOff) {
  testing::TempDir dir;
  testing::WriteFile(dir.File("sms.bin"), ExportedImage);
  const testing::UdpPeer silent;
  testing::WriteFile(dir.File("plan.csv"), "gateway,unit,image\n" + silent.Address() + ",1,sms.bin\n");
  const Texts load = {"load", dir.File("sms.bin"), "--gateway", silent.Address()};
  const Texts fleet = {"fleet", dir.File("plan.csv")};
  const struct {
    Texts Arguments;
    Texts Environment;
    bool Red;
  } cases[] = {
      {load, {}, true}, {load, {"NO_COLOR="}, true}, {load, {"NO_COLOR=1"}, false},
      {load + Texts{"--no-color"}, {}, false}, {fleet, {}, true}, {fleet, {"NO_COLOR=1"}, false},
      {fleet + Texts{"--no-color"}, {}, false},
  };
  for (const auto& c : cases) {
    testing::PtyProcess run(Texts{SMSCONF_CLI} + c.Arguments + Texts{"--tries", "1", "--timeout", "100"}, c.Environment);
    const std::string output = run.Rest();
    EXPECT_EQ(run.Wait(), 1) << output;
    EXPECT_EQ(output.find("\x1b[31m") != std::string::npos, c.Red) << c.Arguments[0] << ' ' << output;
  }
}
#endif

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
  testing::WriteFile(dir.File("sms.bin"), Image(300));
  const SimulatedUnit unit;
  int pipe[2] = {-1, -1};
  ASSERT_EQ(::pipe2(pipe, O_CLOEXEC), 0);
  ::close(pipe[0]);
  const testing::ProcessResult run = testing::RunProcess(
      {SMSCONF_CLI, "load", dir.File("sms.bin"), "--gateway", unit.Address(), "--tries", "5", "--force"}, pipe[1]);
  ::close(pipe[1]);
  EXPECT_EQ(run.Status, 1);
  EXPECT_TRUE(run.Err.ends_with("smsconf-cli: cannot write the output: broken pipe\n")) << run.Err;
  EXPECT_EQ(unit.Unit.ReceivedImage(), Pattern(300));
#endif
}

}  // namespace
}  // namespace smsconf
