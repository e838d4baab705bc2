#include <gtest/gtest.h>

#include <string>

#include "link/Modbus.h"
#include "sim/Simulator.h"

namespace smsconf {
namespace {

using sim::CSimulator;
using sim::SimulatorOptions;

SimulatorOptions OnAnyPort() {
  SimulatorOptions options;
  options.Port = 0;
  return options;
}

// A client for the simulated unit, talking through a real transport.
class SimulatedUnitLink {
 public:
  explicit SimulatedUnitLink(SimulatorOptions options, int tries = 5, std::uint32_t timeout = 200)
      : Simulator(options) {
    std::string error;
    EXPECT_TRUE(Simulator.Start(&error)) << error;
    Rpc.AddressText = "127.0.0.1:" + std::to_string(Simulator.Port());
    Rpc.Tries = tries;
    Rpc.Timeout = timeout;
    EXPECT_EQ(Rpc.Open(), 0);
    Client.Address = options.UnitAddress;
    Client.Rpc = &Rpc;
  }

  MbBlock Block(std::uint32_t address, std::uint8_t first, int length) {
    MbBlock block{};
    block.Address = address;
    block.DataLength = length;
    for (int i = 0; i < length; ++i) block.Data[i] = static_cast<std::uint8_t>(first + i);
    return block;
  }

  CSimulator Simulator;
  CRPCInterface Rpc;
  CModbus Client;
};

TEST(ModbusAgainstSimulator, GatewayInformation) {
  SimulatorOptions options = OnAnyPort();
  options.GatewayIp = {192, 168, 7, 9};
  options.GatewayInfoText = "GATEWAY-0123456789";
  SimulatedUnitLink link(options);
  GatewayInfo info;
  ASSERT_EQ(link.Rpc.ReadGatewayInfo(info), 0);
  EXPECT_EQ(info.IpAddress[0], 192);
  EXPECT_EQ(info.IpAddress[1], 168);
  EXPECT_EQ(info.IpAddress[2], 7);
  EXPECT_EQ(info.IpAddress[3], 9);
  EXPECT_EQ(std::string(info.InfoText), "GATEWAY-0123456");
}

TEST(ModbusAgainstSimulator, WholeLoadingSequence) {
  SimulatorOptions options = OnAnyPort();
  options.UnitAddress = 17;
  options.Identifier = "UNIT-17";
  options.BlockSize = 100;
  SimulatedUnitLink link(options);

  MbIdResult id{};
  ASSERT_EQ(link.Client.ReportSlaveId(id), 0);
  ASSERT_EQ(id.Status, MbValid);
  ASSERT_GE(id.IdLength, options.Identifier.size());
  EXPECT_EQ(std::string(id.IdText, options.Identifier.size()), options.Identifier);
  EXPECT_EQ(static_cast<std::uint8_t>(id.IdText[id.IdLength - 1]), id.TailByte);

  MbModeResult mode{};
  ASSERT_EQ(link.Client.EnterBootMode(mode), 0);
  EXPECT_EQ(mode.Status, MbValid);
  EXPECT_EQ(mode.Mode, 1);

  MbConfigModeResult config{};
  ASSERT_EQ(link.Client.EnterConfigMode(config), 0);
  EXPECT_EQ(config.Status, MbValid);
  EXPECT_EQ(config.Mode, 1);
  EXPECT_EQ(config.BlockSize, 100);

  MbBlock first = link.Block(0x8000, 0x10, 100);
  ASSERT_EQ(link.Client.WriteBlock(first), 0);
  EXPECT_EQ(first.Status, MbValid);
  EXPECT_EQ(first.EchoAddress, 0x8000u);
  MbBlock second = link.Block(0x8064, 0x74, 28);
  ASSERT_EQ(link.Client.WriteBlock(second), 0);
  EXPECT_EQ(second.Status, MbValid);
  EXPECT_EQ(second.EchoAddress, 0x8064u);

  ASSERT_EQ(link.Client.FinishLoading(mode), 0);
  EXPECT_EQ(mode.Status, MbValid);
  EXPECT_EQ(link.Client.EnterRunMode(), 0);

  std::vector<std::uint8_t> expected(128);
  for (int i = 0; i < 128; ++i) expected[i] = static_cast<std::uint8_t>(0x10 + i);
  EXPECT_EQ(link.Simulator.ReceivedImage(), expected);
  EXPECT_EQ(link.Simulator.BlockAddresses(), (std::vector<std::uint32_t>{0x8000, 0x8064}));
  EXPECT_EQ(link.Simulator.RequestCount(MbEnterRun), 1u);
}

TEST(ModbusAgainstSimulator, UnitRefusals) {
  SimulatorOptions options = OnAnyPort();
  options.ModeSwitchException = true;
  options.NoIdentifier = true;
  options.InvalidFinishReply = true;
  options.BusyWrites = 1;
  SimulatedUnitLink link(options);

  MbIdResult id{};
  ASSERT_EQ(link.Client.ReportSlaveId(id), 0);
  EXPECT_EQ(id.Status, MbException);
  MbModeResult mode{};
  ASSERT_EQ(link.Client.EnterBootMode(mode), 0);
  EXPECT_EQ(mode.Status, MbException);
  MbConfigModeResult config{};
  ASSERT_EQ(link.Client.EnterConfigMode(config), 0);
  EXPECT_EQ(config.Status, MbException);

  MbBlock block = link.Block(0x8000, 1, 4);
  ASSERT_EQ(link.Client.WriteBlock(block), 0);
  EXPECT_EQ(block.Status, MbException);
  EXPECT_EQ(block.ExceptionCode, MbBusyException);
  block = link.Block(0x8000, 1, 4);
  ASSERT_EQ(link.Client.WriteBlock(block), 0);
  EXPECT_EQ(block.Status, MbValid);

  ASSERT_EQ(link.Client.FinishLoading(mode), 0);
  EXPECT_EQ(mode.Status, MbNoReply);
}

// Stale, doubled and foreign replies, and lost requests, all at once: every
// answer still belongs to its own request.
TEST(ModbusAgainstSimulator, UnrulyGatewayStillGivesTheRightAnswers) {
  SimulatorOptions options = OnAnyPort();
  options.StaleReplies = true;
  options.DuplicateReplies = true;
  options.ForeignPortReplies = true;
  options.DropEveryNthRequest = 3;
  options.BlockSize = 32;
  SimulatedUnitLink link(options, 5, 100);

  GatewayInfo info;
  ASSERT_EQ(link.Rpc.ReadGatewayInfo(info), 0);
  MbModeResult mode{};
  ASSERT_EQ(link.Client.EnterBootMode(mode), 0);
  EXPECT_EQ(mode.Status, MbValid);
  MbConfigModeResult config{};
  ASSERT_EQ(link.Client.EnterConfigMode(config), 0);
  EXPECT_EQ(config.Status, MbValid);
  EXPECT_EQ(config.BlockSize, 32);
  for (std::uint32_t offset = 0; offset < 128; offset += 32) {
    MbBlock block = link.Block(0x8000 + offset, static_cast<std::uint8_t>(offset), 32);
    ASSERT_EQ(link.Client.WriteBlock(block), 0) << offset;
    EXPECT_EQ(block.Status, MbValid) << offset;
    EXPECT_EQ(block.EchoAddress, 0x8000 + offset) << offset;
  }
  ASSERT_EQ(link.Client.FinishLoading(mode), 0);
  EXPECT_EQ(mode.Status, MbValid);
  std::vector<std::uint8_t> expected(128);
  for (int i = 0; i < 128; ++i) expected[i] = static_cast<std::uint8_t>(i);
  EXPECT_EQ(link.Simulator.ReceivedImage(), expected);
}

TEST(ModbusAgainstSimulator, SilentUnitRunsOutOfTries) {
  SimulatorOptions options = OnAnyPort();
  options.SilentBootRequests = 2;
  SimulatedUnitLink link(options, 2, 50);
  MbModeResult mode{};
  EXPECT_EQ(link.Client.EnterBootMode(mode), -1);
  EXPECT_EQ(mode.Status, MbNoReply);
  EXPECT_EQ(link.Client.EnterBootMode(mode), 0);
  EXPECT_EQ(mode.Status, MbValid);
}

}  // namespace
}  // namespace smsconf
