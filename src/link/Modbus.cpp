#include "link/Modbus.h"

#include <algorithm>
#include <cstring>

#include "link/Crc16.h"

namespace smsconf {

namespace {

constexpr std::size_t MinReplySize = 4;
constexpr int BlockAddressSize = 4;  // the address bytes of a block write and of its reply

// The CRC goes on the wire in the byte order that Crc16 returns it.
void AppendCrc(MemoryStream& frame) {
  const std::uint16_t crc = Crc16(frame.data(), static_cast<int>(frame.size()));
  frame.push_back(static_cast<std::uint8_t>(crc >> 8));
  frame.push_back(static_cast<std::uint8_t>(crc & 0xFFu));
}

enum class Length { Exactly, AtLeast };

// The checks every reply goes through: a reply for this unit, for the
// request's function, and of the length the operation expects.
std::int32_t CheckReply(const MemoryStream& frame, const MemoryStream& reply, Length rule,
                        std::size_t expected) {
  if (reply.size() < MinReplySize) return MbNoReply;
  if (reply[MbUnitByte] != frame[MbUnitByte]) return MbNoReply;
  if (reply[MbFunctionByte] != frame[MbFunctionByte]) return MbException;
  const bool lengthFits = rule == Length::Exactly ? reply.size() == expected : reply.size() >= expected;
  return lengthFits ? MbValid : MbNoReply;
}

}  // namespace

// The frame of a request without data, CRC included.
MemoryStream CModbus::Frame(std::uint8_t function) const {
  MemoryStream frame{static_cast<std::uint8_t>(Address & 0xFFu), function};
  AppendCrc(frame);
  return frame;
}

int CModbus::Exchange(const MemoryStream& frame, MemoryStream& reply) {
  if (Rpc == nullptr) return RpcNoReply;
  return Rpc->ModbusRequest(frame, reply);
}

int CModbus::ShortRequest(std::uint8_t function, std::size_t replySize, bool orLonger,
                          MemoryStream& reply, std::int32_t& status) {
  const MemoryStream frame = Frame(function);
  status = MbNoReply;
  const int r = Exchange(frame, reply);
  if (r == RpcOk) status = CheckReply(frame, reply, orLonger ? Length::AtLeast : Length::Exactly, replySize);
  return r;
}

int CModbus::EnterBootMode(MbModeResult& result) {
  result = MbModeResult{0, MbNoReply};
  MemoryStream reply;
  const int r = ShortRequest(MbEnterBoot, MbBootReplySize, false, reply, result.Status);
  if (result.Status == MbValid) result.Mode = reply[MbFirstDataByte];
  return r;
}

int CModbus::EnterRunMode() {
  MemoryStream reply;
  return Exchange(Frame(MbEnterRun), reply);
}

int CModbus::ReportSlaveId(MbIdResult& result) {
  std::memset(&result, 0, sizeof result);
  MemoryStream reply;
  const int r = ShortRequest(MbReportSlaveId, MbSlaveIdMinReplySize, true, reply, result.Status);
  if (result.Status == MbException) result.ExceptionCode = reply[MbFirstDataByte];
  if (result.Status != MbValid) return r;

  constexpr std::size_t TextStart = MbFirstDataByte + 1;
  const std::uint8_t count = reply[MbFirstDataByte];
  // A zero count leaves the length to the reply: the data area without its
  // last byte. A count beyond the reply is cut to what was received.
  std::size_t length = count != 0 ? count : (reply.size() - MbSlaveIdMinReplySize) & 0xFFu;
  length = std::min(length, reply.size() - TextStart);
  result.IdLength = static_cast<std::uint8_t>(length);
  std::memcpy(result.IdText, reply.data() + TextStart, length);
  result.IdText[length] = '\0';
  result.TailByte = reply[reply.size() - 1 - MbCrcSize];
  return r;
}

int CModbus::EnterConfigMode(MbConfigModeResult& result) {
  result = MbConfigModeResult{0, 0, 0, MbNoReply};
  MemoryStream reply;
  const int r = ShortRequest(MbEnterConfig, MbConfigReplySize, false, reply, result.Status);
  if (result.Status == MbValid) {
    result.Mode = reply[MbFirstDataByte];
    result.BlockSize = reply[MbFirstDataByte + 1];
    result.Extra = reply[MbFirstDataByte + 2];
  }
  return r;
}

int CModbus::WriteBlock(MbBlock& block) {
  const std::uint32_t address = block.Address;
  const std::int32_t dataLength = block.DataLength;
  MemoryStream frame{static_cast<std::uint8_t>(Address & 0xFFu), MbWriteBlock, MbWriteBlockFixed0,
                     MbWriteBlockFixed1};
  for (int i = 0; i < BlockAddressSize; ++i)
    frame.push_back(static_cast<std::uint8_t>(address >> (8 * i)));
  const bool lengthValid = dataLength >= 0 && dataLength <= MbBlockCapacity;
  if (lengthValid) frame.insert(frame.end(), block.Data, block.Data + dataLength);
  AppendCrc(frame);

  std::memset(&block, 0, sizeof block);
  block.Status = MbNoReply;
  // More data than the record holds cannot be sent whole; nothing is sent.
  if (!lengthValid) return RpcNoReply;

  MemoryStream reply;
  const int r = Exchange(frame, reply);
  if (r != RpcOk) return r;
  block.Status = CheckReply(frame, reply, Length::Exactly, MbWriteBlockReplySize);
  if (block.Status == MbException) block.ExceptionCode = reply[MbFirstDataByte];
  if (block.Status != MbValid) return r;
  const auto echo = reply.begin() + MbBlockAddressByte;
  if (!std::equal(echo, echo + BlockAddressSize, frame.begin() + MbBlockAddressByte)) {
    block.Status = MbEchoMismatch;
    return r;
  }
  block.EchoAddress = reply[MbBlockAddressByte] + 256u * reply[MbBlockAddressByte + 1];
  return r;
}

int CModbus::FinishLoading(MbModeResult& result) {
  result = MbModeResult{0, MbNoReply};
  MemoryStream reply;
  return ShortRequest(MbFinish, MbFinishReplySize, false, reply, result.Status);
}

}  // namespace smsconf
