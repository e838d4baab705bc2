// The gateway address, the requests through the gateway and the unit's
// Modbus functions, against a scripted gateway on the loopback interface.

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <numeric>
#include <tuple>

#include "common/UdpPeer.h"
#include "link/Modbus.h"
#include "link/Parseip.h"

namespace smsconf {
namespace {

using testing::Bytes;
using testing::GatewayReply;
using testing::SequenceOf;
using testing::UdpPeer;
using testing::WithCrc;

// A refused text leaves the address of the last good one in place.
TEST(ParseIP, AddressTexts) {
  struct Case { std::string Text; const char* Address; int Port; };  // Address "": the text is refused
  const Case cases[] = {
      {"192.168.1.1", "192.168.1.1", 1122}, {"192.168.1.1:502", "192.168.1.1", 502}, {"1.2.3.-0", "1.2.3.0", 1122},
      {"192.168.001.010", "192.168.1.10", 1122}, {"  10.0.0.1 \t", "10.0.0.1", 1122}, {"0.0.0.0:1", "0.0.0.0", 1},
      {"+10.0.0.1", "10.0.0.1", 1122}, {"10. 0. +0.1", "10.0.0.1", 1122}, {"10.0.0.1: 80", "10.0.0.1", 80},
      {"10.0.0.1:80 ", "10.0.0.1", 80}, {"10.0.0.1:65535", "10.0.0.1", 65535}, {"1.2.3.255", "1.2.3.255", 1122},
      {"10.0.0.1:0", "", 0},    {"10.0.0.1:65536", "", 0}, {"10.0.0.1:-1", "", 0},
      {"10.0.0.1:", "", 0},     {"10.0.0.1:x", "", 0},     {"10.0.0.1:80x", "", 0},
      {"10.0.0.1:80 x", "", 0}, {"10.0.0.1 :80", "", 0},   {"10 .0.0.1", "", 0},
      {"10.0.0", "", 0},        {"10.0.0.1.5", "", 0},     {"10.0.0.1x", "", 0},
      {"", "", 0},              {"   ", "", 0},            {"256.0.0.1", "", 0},
      {"-1.0.0.1", "", 0},      {"1.2.3.+-4", "", 0},      {"99999999999999999999.0.0.1", "", 0},
      {"1.2.3.4:99999999999999999999", "", 0},
      {"10.1.2.3:80" + std::string(100000, 'x'), "", 0},
      {"10.1.2.3 " + std::string(100000, 'y'), "", 0},
  };
  for (const Case& c : cases) {
    CParseIP parse;
    ASSERT_TRUE(parse.Parse("9.9.9.9", RpcDefaultPort));
    const bool valid = *c.Address != '\0';
    EXPECT_EQ(parse.Parse(c.Text, RpcDefaultPort), valid) << '"' << c.Text.substr(0, 40) << '"';
    EXPECT_EQ(parse.Address, valid ? c.Address : "9.9.9.9") << c.Text.substr(0, 40);
    EXPECT_EQ(valid ? parse.Port : 0, c.Port) << c.Text.substr(0, 40);
  }
}

// Every record starts out as junk, to show it is cleared.
template <typename Record>
Record Junk() {
  Record record;
  std::memset(&record, 0x5A, sizeof record);
  return record;
}

void OpenTo(CRPCInterface& rpc, const UdpPeer& gateway, int tries = 3, std::uint32_t timeout = 100) {
  rpc.AddressText = gateway.Address();
  rpc.Tries = tries;
  rpc.Timeout = timeout;
  ASSERT_EQ(rpc.Open(), 0);
}

// Modbus requests get a reply frame, the others a reply of the header alone.
TEST(RpcRequest, DatagramsCarryMarksSequenceChannelAndPayload) {
  UdpPeer gateway([](const UdpPeer& self, const Bytes& request, std::uint16_t from) {
    self.Send(from, GatewayReply(SequenceOf(request), request[4] == RpcCmdModbus ? Bytes{0x01, 0x23, 0x01} : Bytes{}));
  });
  CRPCInterface rpc;
  OpenTo(rpc, gateway);
  CRPCInterface::SetSequence(0x1234);
  MemoryStream reply;
  ASSERT_EQ(rpc.ModbusRequest({0x01, 0x23, 0x41, 0xF9}, reply), 0);
  EXPECT_EQ(reply, (MemoryStream{0x01, 0x23, 0x01}));
  CRPCInterface::SetSequence(0xFFFF);
  rpc.Channel = 5;
  for (int i = 0; i < 2; ++i) {
    ASSERT_EQ(rpc.Request(RpcCmdGatewayInfo, nullptr, &reply), 0);
    EXPECT_TRUE(reply.empty());
  }
  const MemoryStream tooLong(RpcMaxRequestPayload + 1);
  EXPECT_EQ(rpc.Request(RpcCmdModbus, &tooLong, &reply), -1);  // never sent cut short
  EXPECT_EQ(gateway.Heard(3), (std::vector<Bytes>{{0x21, 0xAB, 0x34, 0x12, 0x07, 0x01, 0x23, 0x41, 0xF9},
                                                  {0x21, 0xAB, 0xFF, 0xFF, 0xA0},
                                                  {0x21, 0xAB, 0x00, 0x00, 0xA0}}));
}

TEST(RpcRequest, TriesBoundTheSendsAndEveryTryRepeatsTheDatagram) {
  // Answers only every third datagram.
  UdpPeer gateway([](const UdpPeer& self, const Bytes& request, std::uint16_t from) {
    if (self.Heard().size() % 3 == 0) self.Send(from, GatewayReply(SequenceOf(request), {0x60}));
  });
  CRPCInterface rpc;
  OpenTo(rpc, gateway, 0, 20);
  EXPECT_EQ(rpc.Request(RpcCmdModbus, nullptr, nullptr), -1);
  rpc.Tries = 3;
  MemoryStream reply;
  ASSERT_EQ(rpc.Request(RpcCmdModbus, nullptr, &reply), 0);
  EXPECT_EQ(reply, MemoryStream{0x60});
  const std::vector<Bytes> heard = gateway.Heard(3);
  EXPECT_EQ(heard, std::vector<Bytes>(3, heard.at(0)));
}

TEST(RpcRequest, AbortEndsTheRequestWhetherSetBeforeOrDuringIt) {
  CRPCInterface rpc;
  // Never answers; hearing a request, it sets Abort as another thread would.
  UdpPeer gateway([&rpc](const UdpPeer&, const Bytes&, std::uint16_t) { rpc.Abort = true; });
  OpenTo(rpc, gateway, 1000, 250);
  EXPECT_EQ(rpc.Request(RpcCmdModbus, nullptr, nullptr), -2);
  const std::size_t heard = gateway.Heard(1).size();
  EXPECT_EQ(rpc.Request(RpcCmdModbus, nullptr, nullptr), -2);
  EXPECT_EQ(gateway.Heard(heard + 1).size(), heard + 1);  // still sent once
}

// Datagrams from elsewhere queued ahead of the true reply: Abort and the
// time-out are looked at after each of them, not once the queue is empty.
TEST(RpcRequest, DatagramsAheadOfTheReplyHoldOffNeitherAbortNorTheTimeOut) {
  const struct {
    bool Abort;
    std::uint32_t Timeout;
    int Result;
  } cases[] = {{false, 1000, 0}, {true, 1000, -2}, {false, 0, -1}};
  for (const auto& c : cases) {
    UdpPeer gateway, stranger;
    CRPCInterface rpc;
    OpenTo(rpc, gateway, 1, c.Timeout);
    CRPCInterface::SetSequence(0x1234);
    rpc.Abort = c.Abort;
    for (int i = 0; i < 100; ++i) stranger.Send(rpc.Socket.LocalPort(), GatewayReply(0x1234, {0x50}));
    gateway.Send(rpc.Socket.LocalPort(), GatewayReply(0x1234, {0x60}));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // all of them queued
    EXPECT_EQ(rpc.Request(RpcCmdModbus, nullptr, nullptr), c.Result) << c.Abort << ' ' << c.Timeout;
  }
}

// Ahead of the true reply come a copy from another port, the reply to an
// earlier request, one whose number differs only in its high byte, one with
// a wrong mark and one cut short; behind it a duplicate with other contents.
TEST(RpcRequest, OnlyTheMatchingReplyFromTheGatewayCounts) {
  UdpPeer stranger;
  UdpPeer gateway([&stranger](const UdpPeer& self, const Bytes& request, std::uint16_t from) {
    const std::uint16_t sequence = SequenceOf(request);
    Bytes wrongMark = GatewayReply(sequence, {0x52});
    wrongMark[1] = 0xA0;
    stranger.Send(from, GatewayReply(sequence, {0x50}));
    for (const Bytes& datagram : {GatewayReply(static_cast<std::uint16_t>(sequence - 1), {0x51}),
                                  GatewayReply(sequence ^ 0x100, {0x53}), wrongMark,
                                  Bytes{0x15, 0xA1, request[2]}, GatewayReply(sequence, {0x60}),
                                  GatewayReply(sequence, {0x61})})
      self.Send(from, datagram);
  });
  CRPCInterface rpc;
  OpenTo(rpc, gateway, 1, 500);
  for (int i = 0; i < 2; ++i) {  // the duplicate left behind does not answer the next request
    MemoryStream reply;
    ASSERT_EQ(rpc.Request(RpcCmdModbus, nullptr, &reply), 0);
    EXPECT_EQ(reply, MemoryStream{0x60});
  }
}

// Payload byte i is 0x40 + i. The record's fields stand in the order of the
// payload from byte 1 on; the two behind the address come only with a
// payload that reaches the text, and the text always ends with a NUL.
TEST(RpcGatewayInfo, FieldsAreFilledAsFarAsThePayloadReaches) {
  static_assert(sizeof(GatewayInfo) == GatewayInfoSize - 1);
  for (std::size_t size : {0, 9, 10, 11, 27, 40}) {
    Bytes payload(size);
    std::iota(payload.begin(), payload.end(), 0x40);
    UdpPeer gateway(UdpPeer::Answering(payload));
    CRPCInterface rpc;
    OpenTo(rpc, gateway);
    GatewayInfo info = Junk<GatewayInfo>();
    ASSERT_EQ(rpc.ReadGatewayInfo(info), 0) << size;
    Bytes expected(sizeof info);
    for (std::size_t i = 0; i + 1 < expected.size(); ++i)
      if (i + 1 < size && (i < 8 || size >= 11)) expected[i] = payload[i + 1];
    const auto* fields = reinterpret_cast<const std::uint8_t*>(&info);
    EXPECT_EQ(Bytes(fields, fields + sizeof info), expected) << size;
    EXPECT_EQ(gateway.Heard(1).at(0).at(4), RpcCmdGatewayInfo);
  }
}

// The client of unit 1 behind a gateway that answers every request with the
// given Modbus reply, or never answers.
struct UnitLink {
  explicit UnitLink(std::optional<Bytes> reply, std::uint32_t timeout = 100)
      : Gateway(reply ? UdpPeer::Answering(*reply) : [](const UdpPeer&, const Bytes&, std::uint16_t) {}) {
    OpenTo(Rpc, Gateway, 2, timeout);
    Client.Address = 1;
    Client.Rpc = &Rpc;
  }
  UdpPeer Gateway;
  CRPCInterface Rpc;
  CModbus Client;
};

// What an operation returned, its status, and the other fields of its
// record as text.
using Outcome = std::tuple<int, std::int32_t, std::string>;
using Operation = Outcome (*)(CModbus&);

MbBlock BlockOf(std::uint32_t address, const Bytes& data) {
  MbBlock block = Junk<MbBlock>();
  block.Address = address;
  block.DataLength = static_cast<std::int32_t>(data.size());
  std::copy(data.begin(), data.end(), block.Data);
  return block;
}

template <int (CModbus::*Call)(MbModeResult&)>
Outcome ModeSwitch(CModbus& m) {
  MbModeResult r = Junk<MbModeResult>();
  const int result = (m.*Call)(r);
  return {result, r.Status, "mode " + std::to_string(r.Mode)};
}
constexpr Operation Boot = ModeSwitch<&CModbus::EnterBootMode>;
constexpr Operation Finish = ModeSwitch<&CModbus::FinishLoading>;
Outcome SlaveId(CModbus& m) {
  MbIdResult r = Junk<MbIdResult>();
  const int result = m.ReportSlaveId(r);
  const std::string text(r.IdText, r.IdLength);
  return {result, r.Status, text + (r.IdText[r.IdLength] == '\0' ? " tail " : " unterminated ") + char(r.TailByte)};
}
Outcome Config(CModbus& m) {
  MbConfigModeResult r = Junk<MbConfigModeResult>();
  const int result = m.EnterConfigMode(r);
  return {result, r.Status,
          "mode " + std::to_string(r.Mode) + " size " + std::to_string(r.BlockSize) + " extra " + std::to_string(r.Extra)};
}
Outcome Write(CModbus& m) {
  MbBlock block = BlockOf(0x8000, {0x55, 0xAA});
  const int result = m.WriteBlock(block);
  return {result, block.Status, "echo " + std::to_string(block.EchoAddress) + " code " + std::to_string(block.ExceptionCode)};
}
Outcome RunMode(CModbus& m) { return {m.EnterRunMode(), MbNoReply, ""}; }

TEST(Modbus, RequestFrames) {
  UnitLink link(Bytes{});
  for (Operation run : {Boot, RunMode, SlaveId, Config, Finish, Write}) run(link.Client);
  Bytes full(MbBlockCapacity);
  std::iota(full.begin(), full.end(), 0);
  MbBlock block = BlockOf(0x8000, full);
  link.Client.WriteBlock(block);
  for (std::int32_t length : {MbBlockCapacity + 1, -1}) {  // more than the record holds: nothing is sent
    block = BlockOf(0x8000, {});
    block.DataLength = length;
    EXPECT_EQ(link.Client.WriteBlock(block), -1);
    EXPECT_EQ(block.Status, MbNoReply);
  }
  link.Client.Address = 0x1FE;  // only the low byte goes out
  Boot(link.Client);
  Bytes fullFrame{0x01, 0x34, 0x20, 0xA2, 0x00, 0x80, 0x00, 0x00};
  for (std::uint8_t byte : full) fullFrame.push_back(byte);
  std::vector<Bytes> frames;
  for (const Bytes& datagram : link.Gateway.Heard(8)) frames.emplace_back(datagram.begin() + 5, datagram.end());
  EXPECT_EQ(frames, (std::vector<Bytes>{{0x01, 0x23, 0x41, 0xF9},
                                        {0x01, 0x26, 0x81, 0xFA},
                                        {0x01, 0x11, 0xC0, 0x2C},
                                        {0x01, 0x33, 0x40, 0x35},
                                        {0x01, 0x35, 0xC0, 0x37},
                                        {0x01, 0x34, 0x20, 0xA2, 0x00, 0x80, 0x00, 0x00, 0x55, 0xAA, 0x78, 0x20},
                                        WithCrc(fullFrame),
                                        WithCrc({0xFE, 0x23})}));
}

Bytes IdReply(std::uint8_t count, const std::string& data) {
  Bytes frame{0x01, 0x11, count};
  frame.insert(frame.end(), data.begin(), data.end());
  return WithCrc(frame);
}

TEST(Modbus, EveryOperationJudgesItsReply) {
  const Bytes beyond = IdReply(200, "XYZ");  // the count is cut to the reply, CRC included
  const std::string noMode = "mode 0 size 0 extra 0", noEcho = "echo 0 code 0", noId = std::string(" tail ") + '\0';
  const struct {
    Operation Run;
    Bytes Reply;
    std::int32_t Status;
    std::string Fields;
  } cases[] = {
      {Boot, WithCrc({0x01, 0x23, 0x01}), MbValid, "mode 1"},
      {Boot, WithCrc({0x01, 0xA3, 0x01}), MbException, "mode 0"},
      {Boot, WithCrc({0x01, 0x23, 0x01, 0x00}), MbNoReply, "mode 0"},
      {Boot, WithCrc({0x02, 0xA3, 0x01}), MbNoReply, "mode 0"},  // another unit's exception
      {Boot, {}, MbNoReply, "mode 0"},
      {SlaveId, IdReply(5, "HELLO"), MbValid, "HELLO tail O"},
      {SlaveId, IdReply(0, "ABCDE"), MbValid, "ABCD tail E"},  // count 0: all but the last byte
      {SlaveId, IdReply(0, "Q"), MbValid, " tail Q"},
      {SlaveId, beyond, MbValid, "XYZ" + std::string(beyond.end() - 2, beyond.end()) + " tail Z"},
      {SlaveId, IdReply(255, std::string(295, 'L')), MbValid, std::string(255, 'L') + " tail L"},
      {SlaveId, WithCrc({0x01, 0x91, 0x01}), MbException, noId},
      {SlaveId, WithCrc({0x01, 0x11, 0x00}), MbNoReply, noId},
      {Config, WithCrc({0x01, 0x33, 0x01, 0x80, 0x07}), MbValid, "mode 1 size 128 extra 7"},
      {Config, WithCrc({0x01, 0xB3, 0x01}), MbException, noMode},
      {Config, WithCrc({0x01, 0x33, 0x01, 0x40, 0x00, 0x00}), MbNoReply, noMode},
      {Write, WithCrc({0x01, 0x34, 0x20, 0xA2, 0x00, 0x80, 0x00, 0x00}), MbValid, "echo 32768 code 0"},
      {Write, WithCrc({0x01, 0xB4, 0x06}), MbException, "echo 0 code 6"},
      {Write, WithCrc({0x01, 0x34, 0x20, 0xA2, 0x00, 0x80, 0x01, 0x00}), MbEchoMismatch, noEcho},
      {Write, WithCrc({0x01, 0x34, 0x20, 0xA2, 0x00, 0x80, 0x00}), MbNoReply, noEcho},
      {Finish, WithCrc({0x01, 0x35, 0x00, 0x00}), MbValid, "mode 0"},
      {Finish, WithCrc({0x01, 0x35, 0x01, 0x01}), MbValid, "mode 0"},  // the mode is not read
      {Finish, WithCrc({0x01, 0xB5, 0x01}), MbException, "mode 0"},
      {Finish, WithCrc({0x01, 0x35, 0x00}), MbNoReply, "mode 0"},
  };
  for (const auto& c : cases) {
    UnitLink link(c.Reply);
    EXPECT_EQ(c.Run(link.Client), Outcome(0, c.Status, c.Fields)) << ::testing::PrintToString(c.Reply);
  }
}

TEST(Modbus, SilenceAndAbortKeepTheTransportResult) {
  CModbus unlinked;
  EXPECT_EQ(std::get<0>(Boot(unlinked)), -1);
  for (Operation run : {Boot, SlaveId, Config, Write, Finish, RunMode}) {
    UnitLink silent(std::nullopt, 20);
    for (int result : {-1, -2}) {
      silent.Rpc.Abort = result == -2;
      const auto [returned, status, fields] = run(silent.Client);
      EXPECT_EQ(std::pair(returned, status), std::pair(result, std::int32_t{MbNoReply}));
    }
  }
}

}  // namespace
}  // namespace smsconf
