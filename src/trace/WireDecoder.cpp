#include "trace/WireDecoder.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "link/Crc16.h"
#include "link/Modbus.h"
#include "link/Rpcinterface.h"
#include "text/Cp1251.h"

namespace smsconf::trace {

namespace {

constexpr std::size_t GatewayAddressEnd = GatewayInfoIpOffset + 4;
constexpr std::size_t GatewayTextEnd = GatewayInfoTextOffset + GatewayInfoTextSize - 1;  // its last character is NUL

std::string Hex(unsigned value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%0*X", digits, value);
  return text;
}

std::string Number(std::size_t value) { return std::to_string(value); }

std::uint32_t LittleEndian32(Bytes bytes) {
  return bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

// A text from the unit or the gateway, up to its first NUL, with control
// bytes escaped.
std::string Quoted(Bytes text) {
  const auto end = std::ranges::find(text, 0);
  return "\"" + text::Cp1251ToTerminal({reinterpret_cast<const char*>(text.data()), std::size_t(end - text.begin())}) +
         "\"";
}

// The CRC that ends a frame, as it goes on the wire: the high byte of what
// Crc16 returns first.
std::array<std::uint8_t, MbCrcSize> FrameCrc(Bytes frame) {
  const std::uint16_t crc = Crc16(frame.data(), static_cast<int>(frame.size() - MbCrcSize));
  return {static_cast<std::uint8_t>(crc >> 8), static_cast<std::uint8_t>(crc & 0xFFu)};
}

bool CrcRight(Bytes frame) {
  return frame.size() >= static_cast<std::size_t>(MbCrcSize) &&
         std::ranges::equal(frame.last(MbCrcSize), FrameCrc(frame));
}

std::string CrcVerdict(Bytes frame) {
  if (CrcRight(frame)) return ", CRC ok";
  return ", CRC wrong: " + HexBytes(frame.last(MbCrcSize)) + " instead of " + HexBytes(FrameCrc(frame));
}

std::string FunctionText(std::uint8_t function) {
  const char* name = OperationName(function);
  return name != nullptr ? name : "function " + Hex(function, 2);
}

// A length that the client does not take: the loading reads such a reply
// as none at all.
std::string LengthFault(std::size_t length, std::size_t expected, bool orLonger) {
  return ", length " + Number(length) + ", expected " + (orLonger ? "at least " : "") + Number(expected);
}

std::string WriteBlockRequest(Bytes frame) {
  if (frame.size() < static_cast<std::size_t>(MbWriteBlockHeaderSize + MbCrcSize)) return ", cut short before the data";
  std::string text;
  if (frame[MbFirstDataByte] != MbWriteBlockFixed0 || frame[MbFirstDataByte + 1] != MbWriteBlockFixed1)
    text += ", fixed bytes " + HexBytes(frame.subspan(MbFirstDataByte, 2)) + " instead of 20 A2";
  const std::size_t data = frame.size() - MbWriteBlockHeaderSize - MbCrcSize;
  const std::uint32_t address = LittleEndian32(frame.subspan(MbBlockAddressByte));
  return text + ", address " + Hex(address, 4) + ", " + Number(data) + " bytes";
}

std::string RequestFrame(Bytes frame) {
  if (frame.size() < static_cast<std::size_t>(MbShortRequestSize))
    return "frame cut short (" + Number(frame.size()) + " bytes)";
  const std::uint8_t function = frame[MbFunctionByte];
  std::string text = "unit " + Number(frame[MbUnitByte]) + " " + FunctionText(function);
  if (function == MbWriteBlock)
    text += WriteBlockRequest(frame);
  else if (frame.size() > static_cast<std::size_t>(MbShortRequestSize))
    text += ", " + Number(frame.size() - MbShortRequestSize) +
            (OperationName(function) != nullptr ? " data bytes too many" : " data bytes");
  return text + CrcVerdict(frame);
}

std::string IdentifierText(Bytes frame) {
  const std::size_t count = frame[MbFirstDataByte];
  // As the client reads it: a count of 0 leaves the text to the length,
  // and a count beyond the reply is cut to it.
  std::size_t length = count != 0 ? count : frame.size() - MbSlaveIdMinReplySize;
  length = std::min(length, frame.size() - MbFirstDataByte - 1);
  return ", identifier " + Quoted(frame.subspan(MbFirstDataByte + 1, length));
}

// What a valid reply says, by its function; or why the client refuses it.
std::string ReplyFields(Bytes frame) {
  const std::size_t size = frame.size();
  const auto data = [&](std::size_t i) { return Number(frame[MbFirstDataByte + i]); };
  switch (frame[MbFunctionByte]) {
    case MbEnterBoot:
      if (size != MbBootReplySize) return LengthFault(size, MbBootReplySize, false);
      return ", mode " + data(0);
    case MbEnterConfig:
      if (size != MbConfigReplySize) return LengthFault(size, MbConfigReplySize, false);
      return ", mode " + data(0) + ", block size " + data(1) + ", extra " + data(2);
    case MbWriteBlock:
      if (size != MbWriteBlockReplySize) return LengthFault(size, MbWriteBlockReplySize, false);
      return ", echo address " + Hex(LittleEndian32(frame.subspan(MbBlockAddressByte)), 4);
    case MbFinish:
      if (size != MbFinishReplySize) return LengthFault(size, MbFinishReplySize, false);
      return ", data " + HexBytes(frame.subspan(MbFirstDataByte, 2));
    case MbReportSlaveId:
      if (size < MbSlaveIdMinReplySize) return LengthFault(size, MbSlaveIdMinReplySize, true);
      return IdentifierText(frame);
    case MbEnterRun: return {};  // the client does not read it
    default: return ", " + Number(size - MbShortRequestSize) + " data bytes";
  }
}

std::string ReplyFrame(Bytes frame) {
  if (frame.size() < static_cast<std::size_t>(MbShortRequestSize))
    return "frame cut short (" + Number(frame.size()) + " bytes)";
  const std::uint8_t function = frame[MbFunctionByte];
  std::string text = "unit " + Number(frame[MbUnitByte]) + " ";
  if (function & MbExceptionFlag) {
    const std::uint8_t code = frame[MbFirstDataByte];
    text += FunctionText(static_cast<std::uint8_t>(function & ~MbExceptionFlag)) + ", exception " + Number(code) + " (" +
            ExceptionMeaning(code) + ")";
  } else {
    text += FunctionText(function) + ReplyFields(frame);
  }
  return text + CrcVerdict(frame);
}

std::string GatewayInformation(Bytes payload) {
  if (payload.size() < GatewayAddressEnd)
    return "GatewayInfo, " + Number(payload.size()) + " bytes: too short for the address";
  const Bytes ip = payload.subspan(GatewayInfoIpOffset, 4);
  std::string text = "GatewayInfo, address " + Number(ip[0]) + "." + Number(ip[1]) + "." + Number(ip[2]) + "." +
                     Number(ip[3]);
  if (payload.size() >= static_cast<std::size_t>(GatewayInfoTextOffset)) {
    const std::size_t end = std::min(payload.size(), GatewayTextEnd);
    text += ", text " + Quoted(payload.subspan(GatewayInfoTextOffset, end - GatewayInfoTextOffset));
  }
  return text;
}

std::string Sequence(Bytes datagram) { return SequenceText(static_cast<std::uint16_t>(datagram[2] | datagram[3] << 8)); }

std::string Request(Bytes datagram) {
  if (datagram.size() < static_cast<std::size_t>(RpcRequestHeaderSize))
    return "request header cut short (" + Number(datagram.size()) + " bytes)";
  std::string text = "request " + Sequence(datagram);
  if (const unsigned channel = datagram[4] >> RpcChannelShift; channel != 0) text += " channel " + Number(channel);
  const unsigned command = datagram[4] & RpcCommandBits;
  const Bytes payload = datagram.subspan(RpcRequestHeaderSize);
  if (command == RpcCmdModbus) return text + " Modbus " + RequestFrame(payload);
  text += command == RpcCmdGatewayInfo ? " GatewayInfo" : " command " + Number(command);
  if (!payload.empty()) text += ", " + Number(payload.size()) + " payload bytes";
  return text;
}

std::string Reply(Bytes datagram, ReplyTo replyTo) {
  if (datagram.size() < static_cast<std::size_t>(RpcReplyHeaderSize))
    return "reply header cut short (" + Number(datagram.size()) + " bytes)";
  const Bytes payload = datagram.subspan(RpcReplyHeaderSize);
  if (payload.empty()) return "reply " + Sequence(datagram) + ", empty";
  if (replyTo == ReplyTo::Unknown)
    replyTo = CrcRight(payload) || payload.size() < GatewayAddressEnd ? ReplyTo::Modbus : ReplyTo::GatewayInfo;
  const std::string text = "reply " + Sequence(datagram) + " ";
  return text + (replyTo == ReplyTo::GatewayInfo ? GatewayInformation(payload) : "Modbus " + ReplyFrame(payload));
}

}  // namespace

std::string DescribeDatagram(Bytes datagram, ReplyTo replyTo) {
  const auto marked = [&](std::uint8_t first, std::uint8_t second) {
    return datagram.size() >= 2 && datagram[0] == first && datagram[1] == second;
  };
  if (marked(RpcRequestMark0, RpcRequestMark1)) return Request(datagram);
  if (marked(RpcReplyMark0, RpcReplyMark1)) return Reply(datagram, replyTo);
  return "not a gateway datagram";
}

const char* OperationName(std::uint8_t function) {
  switch (function) {
    case MbReportSlaveId: return "ReportSlaveId";
    case MbEnterBoot: return "EnterBootMode";
    case MbEnterRun: return "EnterRunMode";
    case MbEnterConfig: return "EnterConfigMode";
    case MbWriteBlock: return "WriteBlock";
    case MbFinish: return "FinishLoading";
    default: return nullptr;
  }
}

const char* ExceptionMeaning(std::uint8_t code) {
  switch (code) {
    case 1: return "illegal function";
    case 2: return "illegal data address";
    case 3: return "illegal data value";
    case 4: return "server device failure";
    case 5: return "acknowledge";
    case MbBusyException: return "server device busy";
    case 8: return "memory parity error";
    case 10: return "gateway path unavailable";
    case 11: return "gateway target device failed to respond";
    default: return "unknown";
  }
}

std::string HexBytes(Bytes bytes) {
  static constexpr char Digits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(bytes.size() * 3);
  for (const std::uint8_t byte : bytes) {
    if (!text.empty()) text += ' ';
    text += Digits[byte >> 4];
    text += Digits[byte & 0xF];
  }
  return text;
}

std::string SequenceText(std::uint16_t sequence) { return "seq " + Hex(sequence, 4); }

}  // namespace smsconf::trace
