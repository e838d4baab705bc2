#include <gtest/gtest.h>

#include <functional>

#include "sim/RunningSimulator.h"

namespace smsconf::sim {
namespace {

using test::Bytes;
using test::GatewayReply;
using test::GatewayRequest;
using test::ModbusRequest;
using test::Running;
using test::WithCrc;
using test::WriteBlockFrame;

struct Burst {
  std::vector<int> Answered;  // sequence numbers of the replies, in order
  std::vector<std::string> Lines;
};

// Sends gateway requests 1..count at once. Every request leaves exactly two
// log lines (the request, then its reply or the reason there is none).
Burst SendBurst(const SimulatorOptions& options, int count, const Bytes& payload = {}, std::uint8_t command = 0) {
  Running sim(options);
  for (int sequence = 1; sequence <= count; ++sequence)
    sim.Send(GatewayRequest(static_cast<std::uint16_t>(sequence), command, payload));
  Burst burst;
  burst.Lines = sim.Log.WaitForLines(2 * static_cast<std::size_t>(count));
  for (const test::Received& reply : sim.Peer.Drain())
    burst.Answered.push_back(reply.Content.at(2) | reply.Content.at(3) << 8);
  return burst;
}

std::size_t CountLines(const Burst& burst, const std::string& line) {
  return static_cast<std::size_t>(std::count(burst.Lines.begin(), burst.Lines.end(), line));
}

TEST(SimulatorFaults, DropsRequestsAndReplies) {
  struct Case {
    const char* name;
    std::function<void(SimulatorOptions&)> set;
    int requests;
    std::vector<int> answered;
    const char* dropLine;
  };
  const Case cases[] = {
      {"none", [](SimulatorOptions&) {}, 3, {1, 2, 3}, "drop request"},
      {"every 3rd request", [](SimulatorOptions& o) { o.DropEveryNthRequest = 3; }, 9, {1, 2, 4, 5, 7, 8},
       "drop request"},
      {"every 2nd reply", [](SimulatorOptions& o) { o.DropEveryNthReply = 2; }, 6, {1, 3, 5}, "drop reply"},
      {"all at random", [](SimulatorOptions& o) { o.DropRate = 1.0; }, 4, {}, "drop request"},
  };
  for (const Case& c : cases) {
    SimulatorOptions options;
    c.set(options);
    const Burst burst = SendBurst(options, c.requests);
    EXPECT_EQ(burst.Answered, c.answered) << c.name;
    EXPECT_EQ(CountLines(burst, c.dropLine), c.requests - c.answered.size()) << c.name;
  }
}

TEST(SimulatorFaults, RandomDropsRepeatWithTheSeed) {
  SimulatorOptions options;
  options.DropRate = 0.5;
  options.Seed = 7;
  const Burst first = SendBurst(options, 40);
  const Burst again = SendBurst(options, 40);
  options.Seed = 8;
  const Burst otherSeed = SendBurst(options, 40);

  EXPECT_EQ(first.Lines, again.Lines);
  EXPECT_EQ(first.Answered, again.Answered);
  EXPECT_NE(first.Lines, otherSeed.Lines);
  EXPECT_GT(first.Answered.size(), 0u);
  EXPECT_LT(first.Answered.size(), 40u);
  // Both directions are subject to the rate.
  EXPECT_GT(CountLines(first, "drop request"), 0u);
  EXPECT_GT(CountLines(first, "drop reply"), 0u);
}

TEST(SimulatorFaults, UnitRefusals) {
  struct Case {
    const char* name;
    std::function<void(SimulatorOptions&)> set;
    Bytes request;  // Modbus frames without CRC
    Bytes reply;
  };
  const Case cases[] = {
      {"no update: boot", [](SimulatorOptions& o) { o.ModeSwitchException = true; }, {0x01, 0x23}, {0x01, 0xA3, 0x01}},
      {"no update: config", [](SimulatorOptions& o) { o.ModeSwitchException = true; }, {0x01, 0x33}, {0x01, 0xB3, 0x01}},
      {"no update: id still there", [](SimulatorOptions& o) { o.ModeSwitchException = true; o.Identifier = "U"; },
       {0x01, 0x11}, {0x01, 0x11, 0x02, 'U', 0x00}},
      {"no identifier", [](SimulatorOptions& o) { o.NoIdentifier = true; }, {0x01, 0x11}, {0x01, 0x91, 0x01}},
      {"invalid finish reply", [](SimulatorOptions& o) { o.InvalidFinishReply = true; }, {0x01, 0x35},
       {0x01, 0x35, 0x00}},
      {"block size 0", [](SimulatorOptions& o) { o.BlockSize = 0; }, {0x01, 0x33}, {0x01, 0x33, 0x01, 0, 0x00}},
      {"block size 200", [](SimulatorOptions& o) { o.BlockSize = 200; }, {0x01, 0x33}, {0x01, 0x33, 0x01, 200, 0x00}},
  };
  for (const Case& c : cases) {
    SimulatorOptions options;
    c.set(options);
    Running sim(options);
    EXPECT_EQ(sim.Exchange(ModbusRequest(9, c.request)), GatewayReply(9, WithCrc(c.reply))) << c.name;
  }
}

TEST(SimulatorFaults, BusyUnitRefusesTheFirstWrites) {
  SimulatorOptions options;
  options.BusyWrites = 2;
  Running sim(options);
  const Bytes write = WriteBlockFrame(1, 0x8000, "ok");
  const Bytes busy = WithCrc({0x01, 0xB4, 0x06});
  const Bytes accepted = WithCrc({0x01, 0x34, 0x20, 0xA2, 0x00, 0x80, 0x00, 0x00});
  for (const Bytes& expected : {busy, busy, accepted, accepted})
    EXPECT_EQ(sim.Exchange(ModbusRequest(1, write)), GatewayReply(1, expected));
  EXPECT_EQ(sim.Simulator.BlockAddresses(), (std::vector<std::uint32_t>{0x8000, 0x8000}));
  EXPECT_EQ(sim.Simulator.RequestCount(0x34), 4u);
}

TEST(SimulatorFaults, SilentBootRequests) {
  SimulatorOptions options;
  options.SilentBootRequests = 3;
  const Burst burst = SendBurst(options, 4, WithCrc({0x01, 0x23}), 7);
  EXPECT_EQ(burst.Answered, std::vector<int>{4});
  EXPECT_EQ(CountLines(burst, "unit silent"), 3u);
}

TEST(SimulatorFaults, DelayedRepliesKeepTheirOrder) {
  SimulatorOptions options;
  options.ReplyDelay = std::chrono::milliseconds(50);
  Running sim(options);
  sim.Send(GatewayRequest(1, 0));
  sim.Send(ModbusRequest(2, {0x01, 0x23}));
  for (int sequence : {1, 2}) {
    const auto reply = sim.Peer.Receive();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->Content.at(2), sequence);
  }
}

TEST(SimulatorFaults, StopDiscardsRepliesNotYetDue) {
  SimulatorOptions options;
  options.ReplyDelay = std::chrono::hours(1);
  Running sim(options);
  sim.Send(GatewayRequest(1, 0));
  sim.Log.WaitForLines(1);
  sim.Simulator.Stop();
  EXPECT_TRUE(sim.Peer.Drain().empty());
  EXPECT_EQ(sim.Log.CountStartingWith("-> "), 0u);
}

TEST(SimulatorFaults, DuplicateReplies) {
  SimulatorOptions options;
  options.DuplicateReplies = true;
  Running sim(options);
  const Bytes request = ModbusRequest(5, {0x01, 0x23});
  const Bytes reply = GatewayReply(5, WithCrc({0x01, 0x23, 0x01}));
  EXPECT_EQ(sim.Exchange(request), reply);
  EXPECT_EQ(sim.Peer.Receive()->Content, reply);
  sim.Log.WaitForLines(3);
  EXPECT_TRUE(sim.Peer.Drain().empty());
}

TEST(SimulatorFaults, StaleReplyComesFirst) {
  SimulatorOptions options;
  options.StaleReplies = true;
  Running sim(options);
  // Before any reply the stale one is empty; its number wraps below 0.
  const Bytes info = sim.Exchange(GatewayRequest(0, 0));
  EXPECT_EQ(info, GatewayReply(0xFFFF, {}));
  const Bytes infoReply = sim.Peer.Receive()->Content;
  EXPECT_EQ(Bytes(infoReply.begin(), infoReply.begin() + 4), (Bytes{0x15, 0xA1, 0x00, 0x00}));
  // Afterwards it is the previous answer under the previous number.
  EXPECT_EQ(sim.Exchange(ModbusRequest(1, {0x01, 0x23})),
            GatewayReply(0, Bytes(infoReply.begin() + 4, infoReply.end())));
  EXPECT_EQ(sim.Peer.Receive()->Content, GatewayReply(1, WithCrc({0x01, 0x23, 0x01})));
}

TEST(SimulatorFaults, ForeignPortCopyComesFirst) {
  SimulatorOptions options;
  options.ForeignPortReplies = true;
  Running sim(options);
  sim.Send(ModbusRequest(3, {0x01, 0x23}));
  const auto foreign = sim.Peer.Receive();
  const auto genuine = sim.Peer.Receive();
  ASSERT_TRUE(foreign && genuine);
  EXPECT_NE(foreign->FromPort, sim.Simulator.Port());
  EXPECT_EQ(genuine->FromPort, sim.Simulator.Port());
  EXPECT_EQ(foreign->Content, genuine->Content);
  EXPECT_EQ(genuine->Content, GatewayReply(3, WithCrc({0x01, 0x23, 0x01})));
}

}  // namespace
}  // namespace smsconf::sim
