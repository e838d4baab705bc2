#include "link/Modbus.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "link/ScriptedPeer.h"

namespace smsconf {
namespace {

using test::Datagram;
using test::ReplyTo;
using test::ScriptedPeer;
using test::WithCrc;

// A Modbus client for unit 1 whose gateway answers every request with the
// given Modbus reply, or stays silent.
class UnitLink {
 public:
  explicit UnitLink(std::optional<Datagram> payload, int tries = 2, std::uint32_t timeout = 100)
      : Peer(Answer(std::move(payload))) {
    Rpc.AddressText = Peer.Address();
    Rpc.Tries = tries;
    Rpc.Timeout = timeout;
    EXPECT_EQ(Rpc.Open(), 0);
    Client.Address = 1;
    Client.Rpc = &Rpc;
  }
  // The Modbus frame inside the first datagram the gateway received.
  Datagram SentFrame() {
    EXPECT_TRUE(Peer.WaitFor(1));
    const Datagram first = Peer.Received().at(0);
    return Datagram(first.begin() + 5, first.end());
  }

  ScriptedPeer Peer;
  CRPCInterface Rpc;
  CModbus Client;

 private:
  static ScriptedPeer::Script Answer(std::optional<Datagram> payload) {
    if (!payload) return {};
    return [payload](const Datagram& request, int, const ScriptedPeer::Replier& replier) {
      replier.Send(ReplyTo(request, *payload));
    };
  }
};

Datagram Joined(const Datagram& head, const Datagram& tail) {
  Datagram joined(head.size() + tail.size());
  std::copy(tail.begin(), tail.end(), std::copy(head.begin(), head.end(), joined.begin()));
  return joined;
}

MbBlock BlockOf(std::uint32_t address, Datagram data) {
  MbBlock block;
  std::memset(&block, 0x5A, sizeof block);
  block.Address = address;
  block.DataLength = static_cast<std::int32_t>(data.size());
  std::copy(data.begin(), data.end(), block.Data);
  return block;
}

struct Outcome {
  int Result;
  std::int32_t Status;
  bool operator==(const Outcome&) const = default;
};

void PrintTo(const Outcome& o, std::ostream* os) { *os << "{" << o.Result << ", " << o.Status << "}"; }

// Each operation with its record pre-filled with junk, to see it cleared.
using Operation = std::function<Outcome(CModbus&)>;

Outcome Boot(CModbus& m) {
  MbModeResult r;
  std::memset(&r, 0x5A, sizeof r);
  const int result = m.EnterBootMode(r);
  return {result, r.Status};
}
Outcome SlaveId(CModbus& m) {
  MbIdResult r;
  std::memset(&r, 0x5A, sizeof r);
  const int result = m.ReportSlaveId(r);
  return {result, r.Status};
}
Outcome Config(CModbus& m) {
  MbConfigModeResult r;
  std::memset(&r, 0x5A, sizeof r);
  const int result = m.EnterConfigMode(r);
  return {result, r.Status};
}
Outcome Write(CModbus& m) {
  MbBlock block = BlockOf(0x8000, {0x55, 0xAA});
  const int result = m.WriteBlock(block);
  return {result, block.Status};
}
Outcome Finish(CModbus& m) {
  MbModeResult r;
  std::memset(&r, 0x5A, sizeof r);
  const int result = m.FinishLoading(r);
  return {result, r.Status};
}
Outcome RunMode(CModbus& m) { return {m.EnterRunMode(), MbNoReply}; }

struct FrameCase {
  const char* Name;
  Operation Run;
  Datagram Frame;
};

TEST(ModbusFrames, RequestBytesForUnitOne) {
  const FrameCase cases[] = {
      {"EnterBootMode", Boot, {0x01, 0x23, 0x41, 0xF9}},
      {"EnterRunMode", RunMode, {0x01, 0x26, 0x81, 0xFA}},
      {"ReportSlaveId", SlaveId, {0x01, 0x11, 0xC0, 0x2C}},
      {"EnterConfigMode", Config, {0x01, 0x33, 0x40, 0x35}},
      {"FinishLoading", Finish, {0x01, 0x35, 0xC0, 0x37}},
      {"WriteBlock", Write, {0x01, 0x34, 0x20, 0xA2, 0x00, 0x80, 0x00, 0x00, 0x55, 0xAA, 0x78, 0x20}},
  };
  for (const FrameCase& c : cases) {
    UnitLink link(Datagram{});
    EXPECT_EQ(c.Run(link.Client).Result, 0) << c.Name;
    EXPECT_EQ(link.SentFrame(), c.Frame) << c.Name;
  }
}

TEST(ModbusFrames, OnlyTheLowByteOfTheAddressIsSent) {
  UnitLink link(Datagram{});
  link.Client.Address = 0x1FE;
  Boot(link.Client);
  EXPECT_EQ(link.SentFrame(), WithCrc({0xFE, 0x23}));
}

struct StatusCase {
  const char* Name;
  Operation Run;
  Datagram Reply;
  std::int32_t Status;
};

TEST(ModbusStatus, EveryOperationJudgesItsReply) {
  const Datagram writeEcho{0x01, 0x34, 0x20, 0xA2, 0x00, 0x80, 0x00, 0x00};
  const StatusCase cases[] = {
      {"boot valid", Boot, WithCrc({0x01, 0x23, 0x01}), MbValid},
      {"boot exception", Boot, WithCrc({0x01, 0xA3, 0x01}), MbException},
      {"boot six bytes", Boot, WithCrc({0x01, 0x23, 0x01, 0x00}), MbNoReply},
      {"boot four bytes", Boot, WithCrc({0x01, 0x23}), MbNoReply},
      {"boot other unit", Boot, WithCrc({0x02, 0x23, 0x01}), MbNoReply},
      {"boot other unit exception", Boot, WithCrc({0x02, 0xA3, 0x01}), MbNoReply},
      {"boot three bytes", Boot, {0x01, 0x23, 0x01}, MbNoReply},
      {"boot empty", Boot, {}, MbNoReply},
      {"id valid", SlaveId, WithCrc({0x01, 0x11, 0x01, 0x41}), MbValid},
      {"id exception", SlaveId, WithCrc({0x01, 0x91, 0x01}), MbException},
      {"id five bytes", SlaveId, WithCrc({0x01, 0x11, 0x00}), MbNoReply},
      {"id other unit", SlaveId, WithCrc({0x07, 0x11, 0x01, 0x41}), MbNoReply},
      {"id empty", SlaveId, {}, MbNoReply},
      {"config valid", Config, WithCrc({0x01, 0x33, 0x01, 0x40, 0x00}), MbValid},
      {"config exception", Config, WithCrc({0x01, 0xB3, 0x01}), MbException},
      {"config six bytes", Config, WithCrc({0x01, 0x33, 0x01, 0x40}), MbNoReply},
      {"config eight bytes", Config, WithCrc({0x01, 0x33, 0x01, 0x40, 0x00, 0x00}), MbNoReply},
      {"config other unit", Config, WithCrc({0x00, 0x33, 0x01, 0x40, 0x00}), MbNoReply},
      {"write valid", Write, WithCrc(writeEcho), MbValid},
      {"write exception", Write, WithCrc({0x01, 0xB4, 0x06}), MbException},
      {"write other echo", Write, WithCrc({0x01, 0x34, 0x20, 0xA2, 0x00, 0x80, 0x01, 0x00}), MbEchoMismatch},
      {"write nine bytes", Write, WithCrc({0x01, 0x34, 0x20, 0xA2, 0x00, 0x80, 0x00}), MbNoReply},
      {"write other unit", Write, WithCrc({0x02, 0x34, 0x20, 0xA2, 0x00, 0x80, 0x00, 0x00}), MbNoReply},
      {"finish valid", Finish, WithCrc({0x01, 0x35, 0x00, 0x00}), MbValid},
      {"finish exception", Finish, WithCrc({0x01, 0xB5, 0x01}), MbException},
      {"finish five bytes", Finish, WithCrc({0x01, 0x35, 0x00}), MbNoReply},
      {"finish empty", Finish, {}, MbNoReply},
  };
  for (const StatusCase& c : cases) {
    UnitLink link(c.Reply);
    EXPECT_EQ(c.Run(link.Client), (Outcome{0, c.Status})) << c.Name;
  }
}

TEST(ModbusStatus, NoReplyAndAbortKeepTheTransportResult) {
  const std::pair<const char*, Operation> operations[] = {
      {"boot", Boot}, {"id", SlaveId}, {"config", Config},
      {"write", Write}, {"finish", Finish}, {"run", RunMode}};
  for (const auto& [name, run] : operations) {
    UnitLink silent(std::nullopt, 2, 20);
    EXPECT_EQ(run(silent.Client), (Outcome{-1, MbNoReply})) << name;
    silent.Rpc.Abort = true;
    EXPECT_EQ(run(silent.Client), (Outcome{-2, MbNoReply})) << name;
  }
}

TEST(ModbusStatus, WithoutTransportNothingIsSent) {
  CModbus client;
  MbModeResult result;
  EXPECT_EQ(client.EnterBootMode(result), -1);
  EXPECT_EQ(result.Status, MbNoReply);
  EXPECT_EQ(client.EnterRunMode(), -1);
}

TEST(ModbusFields, ModeAndBlockSize) {
  UnitLink boot(WithCrc({0x01, 0x23, 0x01}));
  MbModeResult mode;
  ASSERT_EQ(boot.Client.EnterBootMode(mode), 0);
  EXPECT_EQ(mode.Mode, 1);

  UnitLink refused(WithCrc({0x01, 0xA3, 0x01}));
  ASSERT_EQ(refused.Client.EnterBootMode(mode), 0);
  EXPECT_EQ(mode.Status, MbException);
  EXPECT_EQ(mode.Mode, 0);

  UnitLink config(WithCrc({0x01, 0x33, 0x01, 0x80, 0x07}));
  MbConfigModeResult configMode;
  ASSERT_EQ(config.Client.EnterConfigMode(configMode), 0);
  EXPECT_EQ(configMode.Mode, 1);
  EXPECT_EQ(configMode.BlockSize, 0x80);
  EXPECT_EQ(configMode.Extra, 7);

  UnitLink finish(WithCrc({0x01, 0x35, 0x01, 0x01}));
  ASSERT_EQ(finish.Client.FinishLoading(mode), 0);
  EXPECT_EQ(mode.Status, MbValid);
  EXPECT_EQ(mode.Mode, 0);
}

TEST(ModbusFields, WriteBlockOutcome) {
  UnitLink high(WithCrc({0x01, 0x34, 0x00, 0x00, 0x00, 0x80, 0x01, 0x00}));
  MbBlock block = BlockOf(0x18000, {0x01});
  ASSERT_EQ(high.Client.WriteBlock(block), 0);
  EXPECT_EQ(block.Status, MbValid);
  EXPECT_EQ(block.EchoAddress, 0x8000u);
  EXPECT_EQ(block.Address, 0u);  // the inputs are cleared too
  EXPECT_EQ(block.DataLength, 0);
  EXPECT_EQ(high.SentFrame(),
            WithCrc({0x01, 0x34, 0x20, 0xA2, 0x00, 0x80, 0x01, 0x00, 0x01}));

  UnitLink busy(WithCrc({0x01, 0xB4, MbBusyException}));
  block = BlockOf(0x8000, {0x01});
  ASSERT_EQ(busy.Client.WriteBlock(block), 0);
  EXPECT_EQ(block.Status, MbException);
  EXPECT_EQ(block.ExceptionCode, MbBusyException);
}

TEST(ModbusFields, WriteBlockCarriesUpToAFullBlock) {
  Datagram full(MbBlockCapacity);
  for (int i = 0; i < MbBlockCapacity; ++i) full[i] = static_cast<std::uint8_t>(i);
  UnitLink link(Datagram{});
  MbBlock block = BlockOf(0x8000, full);
  EXPECT_EQ(link.Client.WriteBlock(block), 0);
  EXPECT_EQ(link.SentFrame(),
            WithCrc(Joined({0x01, 0x34, 0x20, 0xA2, 0x00, 0x80, 0x00, 0x00}, full)));
}

TEST(ModbusFields, WriteBlockLongerThanTheRecordIsNotSent) {
  for (std::int32_t length : {MbBlockCapacity + 1, -1}) {
    UnitLink link(Datagram{});
    MbBlock block = BlockOf(0x8000, {});
    block.DataLength = length;
    EXPECT_EQ(link.Client.WriteBlock(block), -1) << length;
    EXPECT_EQ(block.Status, MbNoReply);
    EXPECT_EQ(Boot(link.Client).Result, 0);
    EXPECT_EQ(link.SentFrame(), WithCrc({0x01, 0x23})) << "a block was sent";
  }
}

struct IdCase {
  const char* Name;
  Datagram Reply;
  std::string Text;
  std::uint8_t TailByte;
};

Datagram IdReply(std::uint8_t count, const std::string& data) {
  return WithCrc(Joined({0x01, 0x11, count}, Datagram(data.begin(), data.end())));
}

TEST(ModbusFields, ReportSlaveIdTextAndTail) {
  const std::string longData(295, 'L');
  const Datagram zeroCount = IdReply(0, "ABCDE");
  const Datagram tooBig = IdReply(200, "XYZ");
  const IdCase cases[] = {
      {"zero count", zeroCount, "ABCD", 'E'},
      {"exact count", IdReply(5, "HELLO"), "HELLO", 'O'},
      {"zero count, no data", IdReply(0, "Q"), "", 'Q'},
      {"count beyond the reply", tooBig,
       std::string("XYZ") + char(tooBig[6]) + char(tooBig[7]), 'Z'},
      {"count 255 of more", IdReply(255, longData), std::string(255, 'L'), 'L'},
      {"zero count of a long reply", IdReply(0, longData), std::string(38, 'L'), 'L'},
  };
  for (const IdCase& c : cases) {
    UnitLink link(c.Reply);
    MbIdResult id;
    std::memset(&id, 0x5A, sizeof id);
    ASSERT_EQ(link.Client.ReportSlaveId(id), 0) << c.Name;
    EXPECT_EQ(id.Status, MbValid) << c.Name;
    EXPECT_EQ(id.IdLength, c.Text.size()) << c.Name;
    EXPECT_EQ(std::string(id.IdText), c.Text) << c.Name;
    EXPECT_EQ(id.TailByte, c.TailByte) << c.Name;
  }
}

}  // namespace
}  // namespace smsconf
