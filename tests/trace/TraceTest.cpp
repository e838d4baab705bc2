// The wire trace: datagrams decoded, the trace's lines and capture file as
// bytes, and what a transport tells it while waiting for a gateway.

#include "trace/WireTrace.h"

#include <gtest/gtest.h>

#include <regex>
#include <thread>

#include "common/TempDir.h"
#include "common/UdpPeer.h"
#include "link/Modbus.h"
#include "text/Cp1251.h"
#include "trace/Capture.h"

namespace smsconf::trace {
namespace {

using testing::Bytes;
using testing::GatewayReply;
using testing::GatewayRequest;
using testing::ModbusRequest;
using testing::WithCrc;
using Texts = std::vector<std::string>;

Bytes Reply(const Bytes& frame) { return GatewayReply(0x1234, WithCrc(frame)); }

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(WireDecoder, EveryKindOfDatagram) {
  const std::string request = "request seq 0x1234 Modbus unit 1 ", reply = "reply seq 0x1234 Modbus unit 1 ";
  Bytes badCrc = ModbusRequest(0x1234, {0x01, 0x23});
  badCrc.back() ^= 1;
  Bytes info(GatewayInfoSize);  // the payload's bytes 1..4 are not interpreted
  info[5] = 10, info[6] = 20, info[7] = 30, info[8] = 40;
  const std::string gatewayText = "GW\x01" + text::Cp1251("ВЕЛАР") + std::string(20, 'x');
  std::copy(gatewayText.begin(), gatewayText.begin() + 16, info.begin() + 11);
  const Bytes shortInfo(info.begin(), info.begin() + 10);
  Bytes identifier{0x01, 0x11, 0x00};  // count 0: all but the last data byte
  for (const char c : text::Cp1251("АУ 7\t") + "!") identifier.push_back(static_cast<std::uint8_t>(c));
  const struct {
    Bytes Datagram;
    ReplyTo To;
    std::string Said;
  } cases[] = {
      {GatewayRequest(0x1234, 0), {}, "request seq 0x1234 GatewayInfo"},
      {GatewayRequest(0xABCD, 0xA3, {0x55}), {}, "request seq 0xABCD channel 5 command 3, 1 payload bytes"},
      {{0x21, 0xAB, 0x34, 0x12}, {}, "request header cut short (4 bytes)"},
      {ModbusRequest(0x1234, {0x01, 0x11}), {}, request + "ReportSlaveId, CRC ok"},
      {ModbusRequest(0x1234, {0x01, 0x23}), {}, request + "EnterBootMode, CRC ok"},
      {ModbusRequest(0x1234, {0x01, 0x33}), {}, request + "EnterConfigMode, CRC ok"},
      {ModbusRequest(0x1234, {0x01, 0x35}), {}, request + "FinishLoading, CRC ok"},
      {ModbusRequest(0x1234, {0xFE, 0x26, 0x00}), {}, "request seq 0x1234 Modbus unit 254 EnterRunMode, 1 data bytes too many, CRC ok"},
      {ModbusRequest(0x1234, {0x01, 0x34, 0x20, 0xA2, 0x00, 0x80, 0x01, 0x00, 0x55, 0xAA}), {},
       request + "WriteBlock, address 0x18000, 2 bytes, CRC ok"},
      {ModbusRequest(0x1234, {0x01, 0x34, 0x20, 0xA3, 0x40, 0x80, 0x00, 0x00}), {},
       request + "WriteBlock, fixed bytes 20 A3 instead of 20 A2, address 0x8040, 0 bytes, CRC ok"},
      {ModbusRequest(0x1234, {0x01, 0x34, 0x20, 0xA2, 0x00, 0x80}), {}, request + "WriteBlock, cut short before the data, CRC ok"},
      {ModbusRequest(0x1234, {0x01, 0x03, 0x00, 0x01}), {}, request + "function 0x03, 2 data bytes, CRC ok"},
      {badCrc, {}, request + "EnterBootMode, CRC wrong: 41 F8 instead of 41 F9"},
      {GatewayRequest(0x1234, 7, {0x01, 0x23, 0x41}), {}, "request seq 0x1234 Modbus frame cut short (3 bytes)"},
      {GatewayReply(0x1234, info), ReplyTo::GatewayInfo,
       "reply seq 0x1234 GatewayInfo, address 10.20.30.40, text \"GW\\x01ВЕЛАРxxxxxxx\""},
      {GatewayReply(0x1234, info), ReplyTo::Unknown, "reply seq 0x1234 GatewayInfo, address 10.20.30.40, text \"GW\\x01ВЕЛАРxxxxxxx\""},
      {GatewayReply(0x1234, shortInfo), ReplyTo::GatewayInfo, "reply seq 0x1234 GatewayInfo, address 10.20.30.40"},
      {GatewayReply(0x1234, Bytes(8)), ReplyTo::GatewayInfo, "reply seq 0x1234 GatewayInfo, 8 bytes: too short for the address"},
      {Reply({0x01, 0x23, 0x01}), ReplyTo::Modbus, reply + "EnterBootMode, mode 1, CRC ok"},
      {Reply({0x01, 0x23, 0x01, 0x00}), ReplyTo::Modbus, reply + "EnterBootMode, length 6, expected 5, CRC ok"},
      {Reply({0x01, 0x33, 0x01, 0x80, 0x07}), ReplyTo::Unknown, reply + "EnterConfigMode, mode 1, block size 128, extra 7, CRC ok"},
      {Reply({0x01, 0x33, 0x01, 0x80}), ReplyTo::Modbus, reply + "EnterConfigMode, length 6, expected 7, CRC ok"},
      {Reply({0x01, 0x34, 0x20, 0xA2, 0x40, 0x80, 0x00, 0x00}), ReplyTo::Modbus, reply + "WriteBlock, echo address 0x8040, CRC ok"},
      {Reply({0x01, 0x34, 0x20, 0xA2, 0x40, 0x80, 0x00}), ReplyTo::Modbus, reply + "WriteBlock, length 9, expected 10, CRC ok"},
      {Reply({0x01, 0x35, 0x01, 0x02}), ReplyTo::Modbus, reply + "FinishLoading, data 01 02, CRC ok"},
      {Reply({0x01, 0x35, 0x01}), ReplyTo::Modbus, reply + "FinishLoading, length 5, expected 6, CRC ok"},
      {Reply(identifier), ReplyTo::Modbus, reply + "ReportSlaveId, identifier \"АУ 7\\x09\", CRC ok"},
      {Reply({0x01, 0x11, 0x09, 'S', 'M', 'S', 0x00, 'x'}), ReplyTo::Modbus, reply + "ReportSlaveId, identifier \"SMS\", CRC ok"},
      {Reply({0x01, 0x11, 0x00}), ReplyTo::Modbus, reply + "ReportSlaveId, length 5, expected at least 6, CRC ok"},
      {Reply({0x01, 0x26}), ReplyTo::Modbus, reply + "EnterRunMode, CRC ok"},
      {Reply({0x01, 0x03, 0x02, 0x00}), ReplyTo::Modbus, reply + "function 0x03, 2 data bytes, CRC ok"},
      {Reply({0x01, 0xB4, 0x06}), ReplyTo::Modbus, reply + "WriteBlock, exception 6 (server device busy), CRC ok"},
      {Reply({0x01, 0xA3, 0x01}), ReplyTo::Modbus, reply + "EnterBootMode, exception 1 (illegal function), CRC ok"},
      {Reply({0x01, 0xB3, 0x02}), ReplyTo::Modbus, reply + "EnterConfigMode, exception 2 (illegal data address), CRC ok"},
      {Reply({0x01, 0x91, 0x0B}), ReplyTo::Modbus, reply + "ReportSlaveId, exception 11 (gateway target device failed to respond), CRC ok"},
      {Reply({0x01, 0xB5, 0x07}), ReplyTo::Modbus, reply + "FinishLoading, exception 7 (unknown), CRC ok"},
      {GatewayReply(0x1234, {0x01, 0x23, 0x01, 0x00, 0x00}), ReplyTo::Modbus,
       reply + "EnterBootMode, mode 1, CRC wrong: 00 00 instead of F8 F0"},
      {GatewayReply(0x1234, {0x01, 0x23, 0x01}), ReplyTo::Unknown, "reply seq 0x1234 Modbus frame cut short (3 bytes)"},
      {GatewayReply(0x1234, {}), ReplyTo::GatewayInfo, "reply seq 0x1234, empty"},
      {{0x15, 0xA1, 0x34}, {}, "reply header cut short (3 bytes)"},
      {{0x15, 0xA0, 0x34, 0x12}, {}, "not a gateway datagram"},
      {{0x21}, {}, "not a gateway datagram"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(DescribeDatagram(c.Datagram, c.To), c.Said) << ::testing::PrintToString(c.Datagram);
}

// A trace on a clock that moves 1.234567 s, then 1.265434 s further.
struct FixedClock {
  explicit FixedClock(CWireTrace& trace) {
    trace.Started = std::chrono::microseconds(1700000000123456);
    trace.Elapsed = [this] { return std::chrono::microseconds(Times.at(Next++)); };
  }
  std::vector<std::int64_t> Times{1234567, 2000000, 2500001};
  std::size_t Next = 0;
};

// The same bytes on every system, checked against tshark when it was written.
TEST(WireTrace, TextAndCaptureFilesAsBytes) {
  const testing::TempDir dir;
  CWireTrace trace;
  FixedClock clock(trace);
  ASSERT_EQ(trace.WriteTextTo(dir.File("t.trace")), "");
  ASSERT_EQ(trace.WriteCaptureTo(dir.File("t.pcap")), "");
  const Endpoint tool{0xC0A80114, 40000}, gateway{0xC0A80101, 1122};
  trace.Datagram(CWireTrace::Direction::Out, tool, gateway, ModbusRequest(0x1234, {0x01, 0x23}));
  trace.Event("pause 500 ms");
  trace.Datagram(CWireTrace::Direction::In, tool, gateway, Reply({0x01, 0x23, 0x01}), "; note");
  EXPECT_EQ(trace.WriteError(), "");
  EXPECT_EQ(testing::ReadFile(dir.File("t.trace")),
            "   1234.567 -> 192.168.1.1:1122 21 AB 34 12 07 01 23 41 F9 | request seq 0x1234 Modbus unit 1 EnterBootMode, CRC ok\n"
            "   2000.000 -- pause 500 ms\n"
            "   2500.001 <- 192.168.1.1:1122 15 A1 34 12 01 23 01 F8 F0 | reply seq 0x1234 Modbus unit 1 EnterBootMode, mode 1, CRC ok; note\n");
  const Bytes header = {0xD4, 0xC3, 0xB2, 0xA1, 0x02, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00,
                        0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0x65, 0x00, 0x00, 0x00};
  const Bytes out = {0x01, 0xF1, 0x53, 0x65, 0x87, 0x76, 0x05, 0x00, 0x25, 0x00, 0x00, 0x00, 0x25, 0x00, 0x00, 0x00,
                     0x45, 0x00, 0x00, 0x25, 0x00, 0x00, 0x40, 0x00, 0x40, 0x11, 0xB7, 0x62, 0xC0, 0xA8, 0x01, 0x14,
                     0xC0, 0xA8, 0x01, 0x01, 0x9C, 0x40, 0x04, 0x62, 0x00, 0x11, 0x62, 0xC3,
                     0x21, 0xAB, 0x34, 0x12, 0x07, 0x01, 0x23, 0x41, 0xF9};
  const Bytes in = {0x02, 0xF1, 0x53, 0x65, 0x61, 0x83, 0x09, 0x00, 0x25, 0x00, 0x00, 0x00, 0x25, 0x00, 0x00, 0x00,
                    0x45, 0x00, 0x00, 0x25, 0x00, 0x01, 0x40, 0x00, 0x40, 0x11, 0xB7, 0x61, 0xC0, 0xA8, 0x01, 0x01,
                    0xC0, 0xA8, 0x01, 0x14, 0x04, 0x62, 0x9C, 0x40, 0x00, 0x11, 0x9E, 0xF4,
                    0x15, 0xA1, 0x34, 0x12, 0x01, 0x23, 0x01, 0xF8, 0xF0};
  const std::string capture = testing::ReadFile(dir.File("t.pcap"));
  EXPECT_EQ(Bytes(capture.begin(), capture.end()), header + out + in);
}

// A reply is read by the request to the same peer with the same number:
// its bytes alone could mislead.
TEST(WireTrace, RepliesAreReadByTheirRequests) {
  CWireTrace trace;
  Texts lines;
  trace.WriteTextTo([&](const std::string& line) { lines.push_back(line.substr(line.find(" | ") + 3)); });
  const Endpoint tool{LoopbackAddress, 40000}, gateway{LoopbackAddress, 1122}, other{LoopbackAddress, 1123};
  const Bytes info = GatewayReply(1, Bytes(8)), write = GatewayReply(2, Bytes{0x01, 0x34, 0x20, 0xA2, 0x00, 0x80, 0x00, 0x00, 0x12, 0x34});
  const auto in = [&](const Endpoint& from, const Bytes& datagram) { trace.Datagram(CWireTrace::Direction::In, tool, from, datagram); };
  trace.Datagram(CWireTrace::Direction::Out, tool, gateway, GatewayRequest(1, RpcCmdGatewayInfo));
  trace.Datagram(CWireTrace::Direction::Out, tool, gateway, ModbusRequest(2, {0x01, 0x34, 0x20, 0xA2, 0x00, 0x80, 0x00, 0x00}));
  in(gateway, info);
  in(other, info);
  in(gateway, write);
  in(other, write);
  EXPECT_EQ(Texts(lines.begin() + 2, lines.end()),
            (Texts{"reply seq 0x0001 GatewayInfo, 8 bytes: too short for the address",
                   "reply seq 0x0001 Modbus unit 0 function 0x00, 4 data bytes, CRC wrong: 00 00 instead of 00 1B",
                   "reply seq 0x0002 Modbus unit 1 WriteBlock, echo address 0x8000, CRC wrong: 12 34 instead of 0B 55",
                   "reply seq 0x0002 GatewayInfo, address 128.0.0.18"}));
}

TEST(WireTrace, FilesThatCannotBeWritten) {
  const testing::TempDir dir;
  CWireTrace folder;
  EXPECT_EQ(folder.WriteTextTo(dir.Path.string()), "Cannot create file " + dir.Path.string() + ": is a directory");
  EXPECT_EQ(folder.WriteCaptureTo(dir.File("none/t.pcap")), "Cannot create file " + dir.File("none/t.pcap") + ": no such folder");
#ifndef _WIN32
  CWireTrace full;
  ASSERT_EQ(full.WriteTextTo("/dev/full"), "");
  full.Event("one");
  full.Event("two");
  EXPECT_EQ(full.WriteError(), "Cannot write file /dev/full: disk full");
#endif
}

// The lines of a trace without their times.
struct TracedLines {
  explicit TracedLines(CWireTrace& trace) {
    trace.WriteTextTo([this](const std::string& line) {
      static const std::regex stamp(" *[0-9]+\\.[0-9]{3} ");
      EXPECT_TRUE(std::regex_search(line, stamp, std::regex_constants::match_continuous)) << line;
      Lines.push_back(std::regex_replace(line, stamp, "", std::regex_constants::format_first_only));
    });
  }
  Texts Lines;
};

// A gateway that answers the first try of each of two requests only from
// elsewhere, with a reply to another request and with a datagram that is no
// reply; the second try gets a reply, and a copy that the next request finds
// waiting; the third request gets nothing.
TEST(WireTrace, WhatTheTransportTellsOfEachTry) {
  const testing::UdpPeer stranger;
  testing::UdpPeer gateway([&stranger](const testing::UdpPeer& self, const Bytes& request, std::uint16_t from) {
    const std::uint16_t sequence = testing::SequenceOf(request);
    const std::size_t heard = self.Heard().size();
    if (heard == 1 || heard == 3) {
      stranger.Send(from, GatewayReply(sequence, {}));
      self.Send(from, GatewayReply(static_cast<std::uint16_t>(sequence - 1), {}));
      self.Send(from, {0x15});
    } else if (heard == 2) {
      for (int copy = 0; copy < 2; ++copy) self.Send(from, GatewayReply(sequence, {}));
    }
  });
  CWireTrace trace;
  trace.NameLocalEnd = true;
  const TracedLines traced(trace);
  CRPCInterface rpc;
  rpc.AddressText = gateway.Address();
  rpc.Tries = 2;
  rpc.Timeout = 100;
  rpc.Observer = &trace;
  ASSERT_EQ(rpc.Open(), 0);
  CRPCInterface::SetSequence(0x1234);
  EXPECT_EQ(rpc.Request(RpcCmdGatewayInfo, nullptr, nullptr), RpcOk);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the copy is in
  rpc.Tries = 1;
  EXPECT_EQ(rpc.Request(RpcCmdGatewayInfo, nullptr, nullptr), RpcNoReply);
  const std::string first = "127.0.0.1:" + std::to_string(rpc.Socket.LocalPort()) + " ";
  ASSERT_EQ(rpc.Open(), 0);  // a new socket, on another port
  const std::string second = "127.0.0.1:" + std::to_string(rpc.Socket.LocalPort()) + " ";
  rpc.Abort = true;
  EXPECT_EQ(rpc.Request(RpcCmdGatewayInfo, nullptr, nullptr), RpcAborted);
  const std::string to = first + "-> " + gateway.Address() + " 21 AB ", from = first + "<- " + gateway.Address() + " 15 ";
  const std::string elsewhere = first + "<- " + stranger.Address() + " 15 A1 34 12 | reply seq 0x1234, empty; ignored: not from the gateway's address and port";
  EXPECT_EQ(traced.Lines, (Texts{
      to + "34 12 00 | request seq 0x1234 GatewayInfo",
      elsewhere,
      from + "A1 33 12 | reply seq 0x1233, empty; ignored: answers another request",
      from + "| not a gateway datagram; ignored: not a gateway reply",
      "-- no reply to seq 0x1234 within 100 ms, try 1 of 2: sending again",
      to + "34 12 00 | request seq 0x1234 GatewayInfo; try 2 of 2",
      from + "A1 34 12 | reply seq 0x1234, empty",
      from + "A1 34 12 | reply seq 0x1234, empty; ignored: left over from an earlier exchange",
      to + "35 12 00 | request seq 0x1235 GatewayInfo",
      first + "<- " + stranger.Address() + " 15 A1 35 12 | reply seq 0x1235, empty; ignored: not from the gateway's address and port",
      from + "A1 34 12 | reply seq 0x1234, empty; ignored: answers another request",
      from + "| not a gateway datagram; ignored: not a gateway reply",
      "-- no reply to seq 0x1235 within 100 ms, try 1 of 1: giving up",
      second + "-> " + gateway.Address() + " 21 AB 36 12 00 | request seq 0x1236 GatewayInfo",
      "-- aborted while waiting for the reply to seq 0x1236",
  }));
}

}  // namespace
}  // namespace smsconf::trace
