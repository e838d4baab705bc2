#include "sim/Simulator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "common/UdpPeer.h"

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

TEST(Simulator, AssemblesTheImageFromBlockWrites) {
  Running sim;
  std::uint16_t sequence = 100;
  for (const auto& [address, data] : std::initializer_list<std::pair<std::uint32_t, std::string>>{
           {0x8004, "EFGH"}, {0x8000, "ABCD"}, {0x800A, "XY"}, {0x7000, "no"}, {0x8001, "b"}})
    ASSERT_FALSE(sim.Exchange(ModbusRequest(++sequence, WriteBlockFrame(1, address, data))).empty());
  EXPECT_EQ(sim.Simulator.ReceivedImage(), Bytes({'A', 'b', 'C', 'D', 'E', 'F', 'G', 'H', 0xFF, 0xFF, 'X', 'Y'}));
  EXPECT_EQ(sim.Simulator.BlockAddresses(), (std::vector<std::uint32_t>{0x8004, 0x8000, 0x800A, 0x8001}));
}

template <typename T>
std::vector<T> operator+(std::vector<T> a, const std::vector<T>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
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
    EXPECT_EQ(contents, c.Replies) << c.Name;
  }
}

// The bytes as the log shows them: "01 23 01".
std::string Hex(const Bytes& bytes) {
  std::string text;
  for (char digits[4]; std::uint8_t byte : bytes) text += (std::snprintf(digits, sizeof digits, " %02X", byte), digits);
  return text.substr(1);
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
