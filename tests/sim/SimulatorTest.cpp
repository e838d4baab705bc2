#include "sim/Simulator.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "sim/RunningSimulator.h"

namespace smsconf::sim {
namespace {

using test::Bytes;
using test::FreePort;
using test::Running;
using test::Text;
using test::GatewayReply;
using test::GatewayRequest;
using test::ModbusRequest;
using test::WithCrc;
using test::WriteBlockFrame;

TEST(Simulator, HandBuiltCrcMatchesKnownFrame) {
  EXPECT_EQ(WithCrc({0x01, 0x23}), (Bytes{0x01, 0x23, 0x41, 0xF9}));
  EXPECT_EQ(WithCrc({0x01, 0x11}), (Bytes{0x01, 0x11, 0xC0, 0x2C}));
}

TEST(Simulator, AnswersGatewayInfo) {
  SimulatorOptions options;
  options.GatewayIp = {10, 1, 2, 3};
  options.GatewayInfoText = "ABCDEFGHIJKLMNOPQRS";  // cut to 16
  Running sim(options);
  const Bytes reply = sim.Exchange(GatewayRequest(0x1234, 0));
  ASSERT_EQ(reply.size(), 4u + 27u);
  EXPECT_EQ(Bytes(reply.begin(), reply.begin() + 4), (Bytes{0x15, 0xA1, 0x34, 0x12}));
  EXPECT_EQ(Bytes(reply.begin() + 4 + 5, reply.begin() + 4 + 9), (Bytes{10, 1, 2, 3}));
  EXPECT_EQ(Bytes(reply.begin() + 4 + 11, reply.end()), Text("ABCDEFGHIJKLMNOP"));
}

TEST(Simulator, AnswersTheKnownBootRequest) {
  Running sim;
  const Bytes reply = sim.Exchange({0x21, 0xAB, 0x34, 0x12, 0x07, 0x01, 0x23, 0x41, 0xF9});
  EXPECT_EQ(reply, GatewayReply(0x1234, WithCrc({0x01, 0x23, 0x01})));
  EXPECT_EQ(sim.Log.WaitForLines(2)[0], "<- 21 AB 34 12 07 01 23 41 F9 unit 1 fn 0x23");
}

TEST(Simulator, AnswersEachFunction) {
  struct Case {
    const char* name;
    Bytes request;  // Modbus frame without CRC
    Bytes reply;    // likewise
  };
  const Bytes id = Text("SMS-AU SIM 1.00");
  Bytes slaveId{0x05, 0x11, static_cast<std::uint8_t>(id.size() + 1)};
  slaveId.insert(slaveId.end(), id.begin(), id.end());
  slaveId.push_back(0x00);
  const Case cases[] = {
      {"report slave id", {0x05, 0x11}, slaveId},
      {"boot", {0x05, 0x23}, {0x05, 0x23, 0x01}},
      {"config", {0x05, 0x33}, {0x05, 0x33, 0x01, 64, 0x00}},
      {"write", WriteBlockFrame(5, 0x8000, "\x55\xAA"), {0x05, 0x34, 0x20, 0xA2, 0x00, 0x80, 0x00, 0x00}},
      {"finish", {0x05, 0x35}, {0x05, 0x35, 0x00, 0x00}},
      {"run", {0x05, 0x26}, {0x05, 0x26}},
      {"unknown function", {0x05, 0x03, 0x00, 0x00, 0x00, 0x01}, {0x05, 0x83, 0x01}},
      {"boot with extra bytes", {0x05, 0x23, 0x00}, {0x05, 0xA3, 0x03}},
      {"write below 0x8000", WriteBlockFrame(5, 0x7FFF, "ab"), {0x05, 0xB4, 0x02}},
      {"write at the top of the memory", WriteBlockFrame(5, 0x17FFE, "ab"),
       {0x05, 0x34, 0x20, 0xA2, 0xFE, 0x7F, 0x01, 0x00}},
      {"write past the memory", WriteBlockFrame(5, 0x17FFF, "ab"), {0x05, 0xB4, 0x02}},
      {"write far too high", WriteBlockFrame(5, 0xFFFFFFFF, "ab"), {0x05, 0xB4, 0x02}},
      {"write with wrong fixed bytes", {0x05, 0x34, 0x20, 0xA3, 0x00, 0x80, 0x00, 0x00, 0x01}, {0x05, 0xB4, 0x03}},
      {"write without address", {0x05, 0x34, 0x20, 0xA2, 0x00, 0x80}, {0x05, 0xB4, 0x03}},
  };
  SimulatorOptions options;
  options.UnitAddress = 5;
  Running sim(options);
  std::uint16_t sequence = 0xFFFE;  // also crosses the wrap of the sequence number
  for (const Case& c : cases) {
    ++sequence;
    EXPECT_EQ(sim.Exchange(ModbusRequest(sequence, c.request)), GatewayReply(sequence, WithCrc(c.reply)))
        << c.name;
  }
}

TEST(Simulator, IgnoresWhatIsNotForTheUnit) {
  Running sim;
  Bytes badCrc = ModbusRequest(2, {0x01, 0x23});
  badCrc.back() ^= 0x01;
  const Bytes ignored[] = {
      ModbusRequest(1, {0x02, 0x23}),              // another unit
      badCrc,                                      // damaged on the line
      GatewayRequest(3, 7, {0x01, 0x23, 0x41}),    // too short for a frame
      GatewayRequest(4, 5),                        // unknown gateway command
      {0x21, 0xAC, 0x05, 0x00, 0x00},              // not a gateway request
      {0x21, 0xAB, 0x06, 0x00},                    // header cut short
  };
  for (const Bytes& datagram : ignored) sim.Peer.Send(sim.Simulator.Port(), datagram);
  // Datagrams on the loopback keep their order: had any of the above been
  // answered, its reply would come before this one.
  EXPECT_EQ(sim.Exchange(GatewayRequest(7, 0)).at(2), 7);
  EXPECT_EQ(sim.Simulator.RequestCount(0x23), 0u);
  const auto lines = sim.Log.WaitForLines(std::size(ignored) + 2);
  EXPECT_EQ(lines[0], "<- " + test::Hex(ignored[0]) + " unit 2 fn 0x23, not ours, ignored");
  EXPECT_NE(lines[1].find("bad CRC, ignored"), std::string::npos);
  EXPECT_EQ(sim.Log.CountStartingWith("-> "), 1u);
}

TEST(Simulator, AssemblesImageFromBlockWrites) {
  Running sim;
  const std::pair<std::uint32_t, std::string> writes[] = {
      {0x8004, "EFGH"}, {0x8000, "ABCD"}, {0x800A, "XY"}, {0x7000, "no"}, {0x8001, "b"}};
  std::uint16_t sequence = 100;
  for (const auto& [address, data] : writes)
    ASSERT_FALSE(sim.Exchange(ModbusRequest(++sequence, WriteBlockFrame(1, address, data))).empty());
  const Bytes expected = Text("AbCDEFGH\xFF\xFFXY");
  EXPECT_EQ(sim.Simulator.ReceivedImage(), expected);
  EXPECT_EQ(sim.Simulator.BlockAddresses(), (std::vector<std::uint32_t>{0x8004, 0x8000, 0x800A, 0x8001}));
  EXPECT_EQ(sim.Simulator.RequestCount(0x34), 5u);

  const std::string path = ::testing::TempDir() + "sim_image_" + std::to_string(getpid()) + ".bin";
  ASSERT_TRUE(sim.Simulator.SaveImage(path));
  std::ifstream file(path, std::ios::binary);
  EXPECT_EQ(Bytes(std::istreambuf_iterator<char>(file), {}), expected);
  std::remove(path.c_str());
}

TEST(Simulator, StartReportsWhyItCannotServe) {
  Running first;
  SimulatorOptions taken;
  taken.Port = first.Simulator.Port();
  SimulatorOptions badAddress = FreePort();
  badAddress.ListenAddress = "127.0.0";
  for (const SimulatorOptions& options : {taken, badAddress}) {
    CSimulator simulator(options);
    std::string error;
    EXPECT_FALSE(simulator.Start(&error));
    EXPECT_FALSE(error.empty());
  }
  std::string error;
  EXPECT_FALSE(first.Simulator.Start(&error));
  first.Simulator.Stop();
  first.Simulator.Stop();
}

}  // namespace
}  // namespace smsconf::sim
