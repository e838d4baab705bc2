#include "sim/Simulator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <functional>
#include <mutex>

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
  Bytes Exchange(const Bytes& request) {
    Send(request);
    return Client.Receive().value_or(Received{}).Content;
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
