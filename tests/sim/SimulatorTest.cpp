#include "sim/Simulator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <csignal>
#include <functional>
#include <mutex>
#include <regex>
#include <sstream>
#include <thread>
#include <tuple>

#include "common/ChildProcess.h"
#include "common/TempDir.h"
#include "common/UdpPeer.h"
#include "trace/WireDecoder.h"

namespace smsconf::sim {
namespace {

using testing::Bytes;
using testing::GatewayReply;
using testing::GatewayRequest;
using testing::ModbusRequest;
using testing::Received;
using testing::WithCrc;

Bytes WriteBlockFrame(std::uint8_t unit, std::uint32_t address, const std::string& data) {
  Bytes frame{unit, 0x34, 0x20, 0xA2};
  for (int shift = 0; shift < 32; shift += 8) frame.push_back(static_cast<std::uint8_t>(address >> shift));
  frame.insert(frame.end(), data.begin(), data.end());
  return frame;
}

// A simulator on a free port with a client; the log is declared first so
// that it outlives the serving thread.
struct Running {
  explicit Running(SimulatorOptions options = {}) : Simulator((options.Port = 0, options)) {
    Simulator.SetLog([this](const std::string& line) {
      std::lock_guard lock(Mutex);
      Log.push_back(line);
      Changed.notify_all();
    });
    EXPECT_TRUE(Simulator.Start());
  }
  void Send(const Bytes& datagram) { Client.Send(Simulator.Port(), datagram); }
  Bytes Exchange(const Bytes& request, const testing::UdpPeer* from = nullptr) {
    from = from != nullptr ? from : &Client;
    from->Send(Simulator.Port(), request);
    return from->Receive().value_or(Received{}).Content;
  }
  // Waits (a generous while at most) until the log holds `count` lines that begin with `start`.
  std::size_t WaitForLines(const std::string& start, std::size_t count) {
    auto counted = [&] { return static_cast<std::size_t>(std::ranges::count_if(Log, [&](auto& l) { return l.starts_with(start); })); };
    std::unique_lock lock(Mutex);
    Changed.wait_for(lock, std::chrono::seconds(10), [&] { return counted() >= count; });
    return counted();
  }
  // Everything sent back so far: the expected number of replies, then all
  // that came before the simulator logged a last datagram it never answers
  // (it logs a reply only after sending it).
  std::vector<Received> Replies(std::size_t expected) {
    std::vector<Received> replies;
    for (std::optional<Received> reply; replies.size() < expected && (reply = Client.Receive());)
      replies.push_back(*reply);
    Send({0x00});
    std::unique_lock lock(Mutex);
    Changed.wait_for(lock, std::chrono::seconds(10), [this] { return !Log.empty() && Log.back().starts_with("<- 00 "); });
    while (std::optional<Received> reply = Client.Receive(0)) replies.push_back(*reply);
    return replies;
  }

  std::mutex Mutex;
  std::condition_variable Changed;
  std::vector<std::string> Log;
  CSimulator Simulator;
  testing::UdpPeer Client;
};

TEST(Simulator, AnswersEachFunction) {
  const struct {
    Bytes Request;  // Modbus frames without CRC
    Bytes Reply;
  } cases[] = {
      {{0x05, 0x11}, {0x05, 0x11, 0x03, 'I', 'D', 0x00}},  // the identifier as a C string
      {{0x05, 0x23}, {0x05, 0x23, 0x01}},
      {{0x05, 0x33}, {0x05, 0x33, 0x01, 64, 0x00}},
      {WriteBlockFrame(5, 0x8000, "\x55\xAA"), {0x05, 0x34, 0x20, 0xA2, 0x00, 0x80, 0x00, 0x00}},
      {{0x05, 0x35}, {0x05, 0x35, 0x00, 0x00}},
      {{0x05, 0x26}, {0x05, 0x26}},
      {{0x05, 0x03, 0x00, 0x00, 0x00, 0x01}, {0x05, 0x83, 0x01}},  // unknown function
      {{0x05, 0x23, 0x00}, {0x05, 0xA3, 0x03}},                    // extra bytes
      {WriteBlockFrame(5, 0x7FFF, "ab"), {0x05, 0xB4, 0x02}},
      {WriteBlockFrame(5, 0x17FFE, "ab"), {0x05, 0x34, 0x20, 0xA2, 0xFE, 0x7F, 0x01, 0x00}},
      {WriteBlockFrame(5, 0x17FFF, "ab"), {0x05, 0xB4, 0x02}},
      {WriteBlockFrame(5, 0xFFFFFFFF, "ab"), {0x05, 0xB4, 0x02}},
      {{0x05, 0x34, 0x20, 0xA3, 0x00, 0x80, 0x00, 0x00, 0x01}, {0x05, 0xB4, 0x03}},  // wrong fixed bytes
      {{0x05, 0x34, 0x20, 0xA2, 0x00, 0x80}, {0x05, 0xB4, 0x03}},                    // no address
  };
  SimulatorOptions options;
  options.UnitAddress = 5;
  options.Identifier = "ID";
  Running sim(options);
  std::uint16_t sequence = 0xFFFE;  // also crosses the wrap of the sequence number
  for (const auto& c : cases) {
    ++sequence;
    EXPECT_EQ(sim.Exchange(ModbusRequest(sequence, c.Request)), GatewayReply(sequence, WithCrc(c.Reply)))
        << ::testing::PrintToString(c.Request);
  }
}

// Each unit behind the gateway keeps its own image.
TEST(Simulator, AssemblesTheImageFromBlockWrites) {
  SimulatorOptions options;
  options.Units = {options.Unit(1), options.Unit(2)};
  Running sim(options);
  std::uint16_t sequence = 100;
  for (const auto& [unit, address, data] : std::initializer_list<std::tuple<std::uint8_t, std::uint32_t, std::string>>{
           {1, 0x8004, "EFGH"}, {2, 0x8000, "2"}, {1, 0x8000, "ABCD"}, {1, 0x800A, "XY"}, {1, 0x7000, "no"}, {1, 0x8001, "b"}})
    ASSERT_FALSE(sim.Exchange(ModbusRequest(++sequence, WriteBlockFrame(unit, address, data))).empty());
  const Bytes first = {'A', 'b', 'C', 'D', 'E', 'F', 'G', 'H', 0xFF, 0xFF, 'X', 'Y'};
  EXPECT_EQ(sim.Simulator.ReceivedImage(), first);
  EXPECT_EQ(sim.Simulator.ReceivedImage(1), first);
  EXPECT_EQ(sim.Simulator.ReceivedImage(2), Bytes{'2'});
  EXPECT_EQ(sim.Simulator.BlockAddresses(), (std::vector<std::uint32_t>{0x8004, 0x8000, 0x800A, 0x8001}));
  EXPECT_EQ(sim.Simulator.BlockAddresses(2), std::vector<std::uint32_t>{0x8000});
  EXPECT_TRUE(sim.Simulator.ReceivedImage(3).empty() && sim.Simulator.BlockAddresses(3).empty());
  EXPECT_EQ(sim.Simulator.UnitAddresses(), (std::vector<std::uint8_t>{1, 2}));
}

TEST(Simulator, RefusesAUnitListedTwice) {
  SimulatorOptions options;
  options.Port = 0;
  options.Units = {options.Unit(3), options.Unit(4), options.Unit(3)};
  CSimulator simulator(options);
  std::string error;
  EXPECT_FALSE(simulator.Start(&error));
  EXPECT_EQ(error, "unit 3 is listed twice");
}

// Loadings of units behind one gateway must take turns on its serial line;
// one that goes on after another unit's loading requests came in counts as
// an overlap. Every request here is answered.
TEST(Simulator, CountsLoadingsThatShareTheLine) {
  using Requests = std::vector<std::pair<std::uint8_t, std::uint8_t>>;  // unit, function
  auto whole = [](std::uint8_t unit) { return Requests{{unit, 0x23}, {unit, 0x33}, {unit, 0x34}, {unit, 0x35}, {unit, 0x26}}; };
  auto then = [](Requests a, const Requests& b) { a.insert(a.end(), b.begin(), b.end()); return a; };
  const struct {
    const char* Name;
    Requests Sent;
    unsigned Overlaps;
  } cases[] = {
      {"one after another", then(whole(1), whole(2)), 0},
      {"a failed loading, another, the retry", then(then({{1, 0x23}, {1, 0x33}, {1, 0x34}}, whole(2)), whole(1)), 0},
      {"asking who a unit is meanwhile", {{1, 0x23}, {1, 0x33}, {2, 0x11}, {1, 0x34}, {1, 0x26}}, 0},
      {"after the first is back in run mode", {{1, 0x23}, {1, 0x26}, {2, 0x33}, {1, 0x33}}, 0},
      {"a whole loading within another", then(then({{1, 0x23}}, whole(2)), {{1, 0x33}}), 1},
      {"taking turns", {{1, 0x23}, {2, 0x23}, {1, 0x33}, {2, 0x33}, {1, 0x34}}, 3},
      {"a block to the other", {{1, 0x33}, {2, 0x34}, {1, 0x35}}, 1},
      {"the other's run mode", {{1, 0x33}, {1, 0x34}, {2, 0x26}, {1, 0x26}}, 1},
  };
  for (const auto& c : cases) {
    SimulatorOptions options;
    options.Units = {options.Unit(1), options.Unit(2)};
    Running sim(options);
    std::uint16_t sequence = 0;
    for (const auto& [unit, function] : c.Sent) {
      const Bytes frame = function == 0x34 ? WriteBlockFrame(unit, 0x8000, "ab") : Bytes{unit, function};
      ASSERT_FALSE(sim.Exchange(ModbusRequest(++sequence, frame)).empty()) << c.Name << ' ' << sequence;
    }
    EXPECT_EQ(sim.Simulator.Overlaps(), c.Overlaps) << c.Name;
    std::lock_guard lock(sim.Mutex);
    EXPECT_EQ(std::ranges::count_if(sim.Log, [](auto& l) { return l.starts_with("overlap: unit "); }), c.Overlaps) << c.Name;
  }
}

template <typename T>
std::vector<T> operator+(std::vector<T> a, const std::vector<T>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// The bytes as the log shows them: "01 23 01".
std::string Hex(const Bytes& bytes) {
  std::string text;
  for (char digits[4]; std::uint8_t byte : bytes) text += (std::snprintf(digits, sizeof digits, " %02X", byte), digits);
  return text.substr(1);
}

// Replies as a trace shows them, the bytes and what they mean, so that a
// failure reads as "reply seq 0x0002 Modbus unit 1 EnterBootMode, mode 1".
std::vector<std::string> Described(const std::vector<Bytes>& replies) {
  std::vector<std::string> lines;
  for (const Bytes& reply : replies) lines.push_back(Hex(reply) + " | " + trace::DescribeDatagram(reply));
  return lines;
}

Bytes Boot(std::uint16_t sequence) { return ModbusRequest(sequence, {0x01, 0x23}); }
Bytes Booted(std::uint16_t sequence) { return GatewayReply(sequence, WithCrc({0x01, 0x23, 0x01})); }

TEST(Simulator, EachFault) {
  const Bytes write = WriteBlockFrame(1, 0x8000, "ok");
  const Bytes busy = WithCrc({0x01, 0xB4, 0x06});
  Bytes badCrc = Boot(2);
  badCrc.back() ^= 0x01;
  const struct {
    const char* Name;
    std::function<void(SimulatorOptions&)> Set;
    std::vector<Bytes> Requests;
    std::vector<Bytes> Replies;
    std::size_t FromOtherPort = 0;  // the first replies come from another port
  } cases[] = {
      {"not for the unit", [](auto&) {},
       {ModbusRequest(1, {0x02, 0x23}), badCrc, GatewayRequest(3, 7, {0x01, 0x23, 0x41}), GatewayRequest(4, 5),
        Bytes{0x21, 0xAC, 0x05, 0x00, 0x00}, Bytes{0x21, 0xAB, 0x06, 0x00}},
       {}},
      {"every 3rd request lost", [](auto& o) { o.DropEveryNthRequest = 3; }, {Boot(1), Boot(2), Boot(3), Boot(4)},
       {Booted(1), Booted(2), Booted(4)}},
      {"every 2nd reply lost", [](auto& o) { o.DropEveryNthReply = 2; }, {Boot(1), Boot(2), Boot(3)},
       {Booted(1), Booted(3)}},
      {"all lost at random", [](auto& o) { o.DropRate = 1.0; }, {Boot(1), Boot(2)}, {}},
      {"busy twice", [](auto& o) { o.BusyWrites = 2; },
       {ModbusRequest(1, write), ModbusRequest(2, write), ModbusRequest(3, write)},
       {GatewayReply(1, busy), GatewayReply(2, busy),
        GatewayReply(3, WithCrc({0x01, 0x34, 0x20, 0xA2, 0x00, 0x80, 0x00, 0x00}))}},
      {"no mode switch", [](auto& o) { o.ModeSwitchException = true; }, {Boot(1), ModbusRequest(2, {0x01, 0x33})},
       {GatewayReply(1, WithCrc({0x01, 0xA3, 0x01})), GatewayReply(2, WithCrc({0x01, 0xB3, 0x01}))}},
      {"no identifier", [](auto& o) { o.NoIdentifier = true; }, {ModbusRequest(1, {0x01, 0x11})},
       {GatewayReply(1, WithCrc({0x01, 0x91, 0x01}))}},
      {"silent boot requests", [](auto& o) { o.SilentBootRequests = 2; }, {Boot(1), Boot(2), Boot(3)}, {Booted(3)}},
      {"invalid finish reply", [](auto& o) { o.InvalidFinishReply = true; }, {ModbusRequest(1, {0x01, 0x35})},
       {GatewayReply(1, WithCrc({0x01, 0x35, 0x00}))}},
      {"delayed", [](auto& o) { o.ReplyDelay = std::chrono::milliseconds(200); }, {Boot(1), Boot(2)},
       {Booted(1), Booted(2)}},
      {"duplicated", [](auto& o) { o.DuplicateReplies = true; }, {Boot(1)}, {Booted(1), Booted(1)}},
      // Ahead of each reply, the previous one under the previous number.
      {"stale", [](auto& o) { o.StaleReplies = true; }, {Boot(0), Boot(1)},
       {GatewayReply(0xFFFF, {}), Booted(0), GatewayReply(0, WithCrc({0x01, 0x23, 0x01})), Booted(1)}},
      {"foreign port", [](auto& o) { o.ForeignPortReplies = true; }, {Boot(1)}, {Booted(1), Booted(1)}, 1},
      // Each unit answers for itself, with its own faults; unit 3 is absent.
      {"units of their own",
       [](auto& o) {
         o.Units = {o.Unit(1), o.Unit(2), o.Unit(4)};
         o.Units[1].NoIdentifier = true;
         o.Units[1].BusyWrites = 1;
         o.Units[2].DropRate = 1.0;
       },
       {ModbusRequest(1, {0x01, 0x11}), ModbusRequest(2, {0x02, 0x11}), ModbusRequest(3, {0x03, 0x11}),
        ModbusRequest(4, {0x04, 0x11}), ModbusRequest(5, WriteBlockFrame(2, 0x8000, "ok")), ModbusRequest(6, write)},
       {GatewayReply(1, WithCrc({0x01, 0x11, 0x13, 'S', 'M', 'S', '-', 'A', 'U', ' ', 'S', 'I', 'M', ' ', '1', '.', '0',
                                 '0', ' ', '#', '1', 0x00})),
        GatewayReply(2, WithCrc({0x02, 0x91, 0x01})), GatewayReply(5, WithCrc({0x02, 0xB4, 0x06})),
        GatewayReply(6, WithCrc({0x01, 0x34, 0x20, 0xA2, 0x00, 0x80, 0x00, 0x00}))}},
      {"units with delays of their own",
       [](auto& o) {
         o.Units = {o.Unit(1), o.Unit(2)};
         o.Units[0].ReplyDelay = std::chrono::milliseconds(300);
       },
       {Boot(1), ModbusRequest(2, {0x02, 0x23})}, {GatewayReply(2, WithCrc({0x02, 0x23, 0x01})), Booted(1)}},
  };
  for (const auto& c : cases) {
    SimulatorOptions options;
    c.Set(options);
    Running sim(options);
    const auto sent = std::chrono::steady_clock::now();
    for (const Bytes& request : c.Requests) sim.Send(request);
    const std::vector<Received> replies = sim.Replies(c.Replies.size());
    // No reply comes before its request's delay is up.
    EXPECT_GE(std::chrono::steady_clock::now() - sent, options.ReplyDelay) << c.Name;
    std::vector<Bytes> contents;
    for (std::size_t i = 0; i < replies.size(); ++i) {
      contents.push_back(replies[i].Content);
      EXPECT_EQ(replies[i].FromPort != sim.Simulator.Port(), i < c.FromOtherPort) << c.Name << ' ' << i;
    }
    EXPECT_EQ(Described(contents), Described(c.Replies)) << c.Name;
  }
}


// A flood of requests at a slow gateway: at most a thousand replies wait for
// their delay, the oldest make room for the newest, and the log tells of it
// now and then, not once a datagram.
TEST(Simulator, KeepsAThousandRepliesWaitingAtMost) {
  SimulatorOptions options;
  options.ReplyDelay = std::chrono::seconds(2);
  Running sim(options);
  constexpr std::uint16_t Flood = 1200;
  for (std::uint16_t sequence = 1; sequence <= Flood; ++sequence) {
    sim.Send(Boot(sequence));
    if (sequence % 50 == 0) {
      ASSERT_EQ(sim.WaitForLines("<- ", sequence), sequence);  // none lost on the way in
    }
  }
  EXPECT_EQ(sim.WaitForLines("-> " + Hex(Booted(Flood)), 1), 1u);
  std::lock_guard lock(sim.Mutex);
  EXPECT_EQ(sim.Simulator.MostPendingReplies(), 1000u);
  EXPECT_EQ(std::ranges::count_if(sim.Log, [](auto& l) { return l.starts_with("-> "); }), 1000);
  EXPECT_EQ(std::ranges::count(sim.Log, "-> " + Hex(Booted(Flood - 999))), 1);
  EXPECT_EQ(std::ranges::count(sim.Log, "-> " + Hex(Booted(Flood - 1000))), 0);
  const auto told = std::ranges::count_if(sim.Log, [](auto& l) { return l.starts_with("more than 1000 replies wait"); });
  EXPECT_TRUE(told >= 1 && told <= 5) << told;
}

// Two tools loading one unit: while one loads, from its switch into
// configuration-loading mode until its switch back to run mode or its
// silence, the other is told "busy" (exception 6) for everything but the
// identification, and the image is the first one's alone.
TEST(Simulator, LoadsForOneClientAtATime) {
  const Bytes config = {0x01, 0x33}, run = {0x01, 0x26};
  const Bytes configured = WithCrc({0x01, 0x33, 0x01, 64, 0x00}), ran = WithCrc(run);
  auto written = [](std::uint32_t address) {
    return WithCrc({0x01, 0x34, 0x20, 0xA2, static_cast<std::uint8_t>(address), static_cast<std::uint8_t>(address >> 8), 0x00, 0x00});
  };
  const Bytes refused = WithCrc({0x01, 0xB3, 0x01});
  auto busy = [](std::uint8_t function) { return WithCrc({0x01, static_cast<std::uint8_t>(function | 0x80), 0x06}); };
  struct Step {
    int Client;  // 0 the first, 1 the second
    Bytes Request;
    Bytes Reply;  // without the gateway header
    int SilenceMs = 0;  // before the request
  };
  using Script = std::vector<Step>;
  const Script first = {
      {0, {0x01, 0x23}, WithCrc({0x01, 0x23, 0x01})},
      {0, config, configured},
      {0, WriteBlockFrame(1, 0x8000, "AAAA"), written(0x8000)},
      {1, {0x01, 0x23}, busy(0x23)},
      {1, config, busy(0x33)},
      {1, WriteBlockFrame(1, 0x8000, "BB"), busy(0x34)},
      {1, {0x01, 0x35}, busy(0x35)},
      {1, run, busy(0x26)},
      {1, {0x01, 0x11}, WithCrc({0x01, 0x11, 0x10, 'S', 'M', 'S', '-', 'A', 'U', ' ', 'S', 'I', 'M', ' ', '1', '.', '0', '0', 0x00})},
      {0, WriteBlockFrame(1, 0x8004, "CC"), written(0x8004)},
  };
  const struct {
    const char* Name;
    Script Steps;
    std::string Image;
    int SessionSilenceMs = 1000;
  } cases[] = {
      {"the first one's alone while it loads", first, "AAAACC"},
      {"the second's after the first's run mode",
       first + Script{{0, run, ran}, {1, config, configured}, {1, WriteBlockFrame(1, 0x8000, "BB"), written(0x8000)},
                      {0, WriteBlockFrame(1, 0x8002, "DD"), busy(0x34)}},
       "BB"},
      {"the second's after the first's silence",
       first + Script{{1, config, configured, 1200}, {1, WriteBlockFrame(1, 0x8000, "BB"), written(0x8000)}}, "BB"},
      {"none for a refused switch", {{0, config, refused}, {1, config, refused}}, ""},
      {"none when off, as in the dialog's tests",
       {{0, config, configured}, {0, WriteBlockFrame(1, 0x8000, "AAAA"), written(0x8000)}, {1, config, configured},
        {1, WriteBlockFrame(1, 0x8000, "BB"), written(0x8000)}},
       "BB", 0},
  };
  for (const auto& c : cases) {
    SimulatorOptions options;
    options.SessionSilence = std::chrono::milliseconds(c.SessionSilenceMs);
    options.ModeSwitchException = c.Image.empty();
    Running sim(options);
    const testing::UdpPeer second;
    std::uint16_t sequence = 0;
    for (const Step& step : c.Steps) {
      std::this_thread::sleep_for(std::chrono::milliseconds(step.SilenceMs));
      ++sequence;
      EXPECT_EQ(sim.Exchange(ModbusRequest(sequence, step.Request), step.Client == 0 ? nullptr : &second),
                GatewayReply(sequence, step.Reply))
          << c.Name << ": step " << sequence;
    }
    EXPECT_EQ(sim.Simulator.ReceivedImage(), Bytes(c.Image.begin(), c.Image.end())) << c.Name;
    std::lock_guard lock(sim.Mutex);
    EXPECT_EQ(std::ranges::count_if(sim.Log, [](auto& l) { return l.starts_with("busy: the unit is loading for 127.0.0.1:"); }),
              std::ranges::count_if(c.Steps, [&](const Step& s) { return s.Reply == busy(s.Request[1]); }))
        << c.Name;
  }
}

#ifndef _WIN32
// smsconf-cli simulate standing in for a site: a gateway from a port range
// and one on any port, units 2 and 7 behind each with settings for all, for
// one address and for one gateway's unit, the more precise ones first
// whatever their order; the log and the trace name the gateway of each
// line, and each unit's image goes into a file of its own.
TEST(Simulator, ServesASiteFromTheCommandLine) {
  testing::TempDir dir, traces;
  std::string picked;
  {
    const testing::UdpPeer probe;  // a port the system picked, free again
    picked = probe.Address().substr(probe.Address().rfind(':') + 1);
  }
  testing::ChildProcess simulate({SMSCONF_CLI, "simulate", "--listen", "127.0.0.1:" + picked + "-" + picked, "--listen",
                                  "127.0.0.1:0", "--units", "2,7", "--busy", "1", "--busy", picked + "/2=3", "--busy",
                                  "2=2", "--no-id=7", "--no-update", "--save-image", dir.Path.string(),
                                  "--trace", traces.File("site.trace")});
  std::vector<std::string> gateways;
  for (int i = 0; i < 2; ++i) gateways.push_back(simulate.ReadLine().value_or("listening on ?").substr(13));
  ASSERT_EQ(gateways.front(), "127.0.0.1:" + picked);
  auto port = [&](int gateway) { return static_cast<std::uint16_t>(std::stoi(gateways[gateway].substr(10))); };

  const testing::UdpPeer client;
  auto busy = [](std::uint8_t unit) { return Bytes{unit, 0xB4, 0x06}; };
  auto written = [](std::uint8_t unit) { return Bytes{unit, 0x34, 0x20, 0xA2, 0x00, 0x80, 0x00, 0x00}; };
  const struct {
    int Gateway;
    Bytes Request;
    Bytes Reply;
  } exchanges[] = {
      {0, WriteBlockFrame(2, 0x8000, "A"), busy(2)}, {0, WriteBlockFrame(2, 0x8000, "A"), busy(2)},
      {0, WriteBlockFrame(2, 0x8000, "A"), busy(2)}, {0, WriteBlockFrame(2, 0x8000, "A"), written(2)},
      {1, WriteBlockFrame(2, 0x8000, "B"), busy(2)}, {1, WriteBlockFrame(2, 0x8000, "B"), busy(2)},
      {1, WriteBlockFrame(2, 0x8000, "B"), written(2)}, {1, WriteBlockFrame(7, 0x8000, "C"), busy(7)},
      {1, WriteBlockFrame(7, 0x8000, "C"), written(7)}, {0, {0x07, 0x11}, {0x07, 0x91, 0x01}},
      {0, {0x07, 0x23}, {0x07, 0xA3, 0x01}},
      {1, {0x02, 0x11}, {0x02, 0x11, 0x13, 'S', 'M', 'S', '-', 'A', 'U', ' ', 'S', 'I', 'M', ' ', '1', '.', '0', '0', ' ', '#', '2', 0x00}},
  };
  std::uint16_t sequence = 0;
  std::vector<std::string> ends;
  for (const auto& exchange : exchanges) {
    client.Send(port(exchange.Gateway), ModbusRequest(++sequence, exchange.Request));
    EXPECT_EQ(client.Receive().value_or(Received{}).Content, GatewayReply(sequence, WithCrc(exchange.Reply))) << sequence;
    for (const char* direction : {" <- ", " -> "}) ends.push_back(gateways[exchange.Gateway] + direction + client.Address());
  }
  simulate.Signal(SIGTERM);
  const std::vector<std::string> lines = simulate.RemainingLines();
  EXPECT_EQ(simulate.Wait(), 0);
  for (const std::string& line : lines)
    EXPECT_TRUE(line.starts_with(gateways[0] + " ") || line.starts_with(gateways[1] + " ") || line.starts_with("saved ")) << line;
  EXPECT_EQ(std::ranges::count_if(lines, [](auto& l) { return l.ends_with(" (unit 7)"); }), 4);  // the replies
  const std::string images[] = {"A", "", "B", "C"};
  for (int i = 0; i < 4; ++i) {
    const std::string name = gateways[i / 2].replace(9, 1, "_") + "_unit" + (i % 2 != 0 ? "7" : "2") + ".bin";
    EXPECT_EQ(testing::ReadFile(dir.File(name)), images[i]) << name;
  }
  EXPECT_EQ(dir.EntryCount(), 4u);
  std::istringstream trace(testing::ReadFile(traces.File("site.trace")));
  std::vector<std::string> traced;
  static const std::regex datagram(" *[0-9]+\\.[0-9]{3} ([0-9.:]+ (<-|->) [0-9.:]+) .*");
  for (std::string line; std::getline(trace, line);)
    if (std::smatch m; std::regex_match(line, m, datagram)) traced.push_back(m[1]);
  EXPECT_EQ(traced, ends);
}
#endif

// Each refusal names its option; 192.0.2.1 cannot be bound, so that a
// simulator let through by mistake ends at once.
TEST(Simulator, RefusesSiteOptionsThatDoNotFit) {
  const testing::TempDir dir;
  const std::string file = dir.File("file");
  testing::WriteFile(file, "");
  const struct {
    std::vector<std::string> Arguments;
    std::string Error;
    int Status = 2;
  } cases[] = {
      {{"--listen", "192.0.2.1:5-3"}, "--listen: not an address ADDR:PORT or ADDR:FIRST-LAST: 192.0.2.1:5-3"},
      {{"--listen", "192.0.2.1:0-3"}, "--listen: not an address"},
      {{"--listen", "192.0.2.1:1-500", "--listen", "192.0.2.1:1-501"}, "--listen: more than 1000 gateways"},
      {{"--units", "1,2,1"}, "--units: unit 1 is listed twice"},
      {{"--unit", "2", "--units", "3"}, "--unit excludes --units"},
      {{"--units", "1,2", "--busy", "3=5"}, "--busy: 3=5: there is no unit 3"},
      {{"--no-id=3"}, "--no-id: 3: there is no unit 3"},
      {{"--listen", "192.0.2.1:0", "--delay", "0/1=5"}, "--delay: 0/1=5: no gateway listens on port 0"},
      {{"--listen", "192.0.2.1:7", "--no-update=8/1"}, "--no-update: 8/1: no gateway listens on port 8"},
      {{"--busy", "x=1"}, "--busy: not VALUE, UNIT=VALUE or PORT/UNIT=VALUE: x=1"},
      {{"--busy", "1=4294967296"}, "--busy: Value 4294967296 not in range 0 to 4294967295"},
      // Several images go into a folder, one into a file.
      {{"--units", "1,2", "--save-image", file}, "--save-image: Cannot create files in " + file + ": "},
      {{"--units", "1,2", "--save-image", dir.File("none")}, "--save-image: Cannot create files in " + dir.File("none") + ": no such folder"},
#ifndef _WIN32  // Wine binds an address that is not the machine's
      {{"--listen", "192.0.2.1:2", "--save-image", dir.Path.string()}, "simulate: cannot bind 192.0.2.1:1", 1},
#endif
  };
  for (const auto& c : cases) {
    std::vector<std::string> arguments = {SMSCONF_CLI, "simulate", "--listen", "192.0.2.1:1"};
    arguments.insert(arguments.end(), c.Arguments.begin(), c.Arguments.end());
    const testing::ProcessResult run = testing::RunProcess(arguments);
    EXPECT_EQ(run.Status, c.Status) << c.Error;
    EXPECT_TRUE(run.Err.starts_with(c.Error)) << run.Err;
  }
}

TEST(Simulator, RandomLossesRepeatWithTheSeed) {
  auto answered = [](std::uint64_t seed) {
    SimulatorOptions options;
    options.DropRate = 0.5;
    options.Seed = seed;
    Running sim(options);
    for (std::uint16_t sequence = 1; sequence <= 40; ++sequence) sim.Send(Boot(sequence));
    std::vector<std::uint16_t> sequences;
    for (const Received& reply : sim.Replies(0)) sequences.push_back(testing::SequenceOf(reply.Content));
    EXPECT_TRUE(std::ranges::count(sim.Log, "drop request") > 0 && std::ranges::count(sim.Log, "drop reply") > 0);
    return sequences;
  };
  const std::vector<std::uint16_t> first = answered(7);
  EXPECT_EQ(answered(7), first);
  EXPECT_NE(answered(8), first);
  EXPECT_TRUE(first.size() > 0 && first.size() < 40) << first.size();
}

}  // namespace
}  // namespace smsconf::sim
