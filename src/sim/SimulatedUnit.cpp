#include "sim/SimulatedUnit.h"

#include <algorithm>

#include "link/Crc16.h"
#include "link/Modbus.h"

namespace smsconf::sim {

namespace {

// The identifier goes out as a C string: its text and a terminating 0 byte,
// both covered by the one-byte count, so the loading log shows the text alone.
constexpr std::uint8_t IdentifierEnd = 0x00;
constexpr std::size_t MaxIdentifierLength = 254;

constexpr std::uint8_t ModeEntered = 1;
constexpr std::uint8_t ConfigExtra = 0;
constexpr std::uint8_t FinishState = 0;
// Memory not yet written reads as erased flash.
constexpr std::uint8_t ErasedByte = 0xFF;

std::uint16_t FrameCrc(const std::uint8_t* data, std::size_t length) {
  return Crc16(data, static_cast<int>(length));
}

std::uint32_t LittleEndian32(const std::uint8_t* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
         static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

bool IsShortRequest(const Frame& request) {
  return request.size() == static_cast<std::size_t>(MbShortRequestSize);
}

}  // namespace

CSimulatedUnit::CSimulatedUnit(const UnitOptions& options) : Options(options) {}

FrameVerdict CSimulatedUnit::CheckIntact(const Frame& frame) {
  if (frame.size() < static_cast<std::size_t>(MbShortRequestSize)) return FrameVerdict::TooShort;
  const std::size_t body = frame.size() - MbCrcSize;
  const std::uint16_t crc = FrameCrc(frame.data(), body);
  if (frame[body] != (crc >> 8) || frame[body + 1] != (crc & 0xFF)) return FrameVerdict::BadCrc;
  return FrameVerdict::Ours;
}


std::optional<Frame> CSimulatedUnit::Answer(const Frame& frame) {
  const std::uint8_t function = frame[1];
  switch (function) {
    case MbReportSlaveId: return ReportSlaveId(frame);
    case MbEnterBoot: return EnterBootMode(frame);
    case MbEnterConfig: return EnterConfigMode(frame);
    case MbWriteBlock: return WriteBlock(frame);
    case MbFinish: return FinishLoading(frame);
    case MbEnterRun: return EnterRunMode(frame);
    default: return Exception(function, IllegalFunction);
  }
}

Frame CSimulatedUnit::ReportSlaveId(const Frame& request) const {
  if (!IsShortRequest(request)) return Exception(MbReportSlaveId, IllegalDataValue);
  if (Options.NoIdentifier) return Exception(MbReportSlaveId, IllegalFunction);
  const std::size_t length = std::min(Options.Identifier.size(), MaxIdentifierLength);
  Frame body{Options.UnitAddress, MbReportSlaveId, static_cast<std::uint8_t>(length + 1)};
  body.insert(body.end(), Options.Identifier.begin(), Options.Identifier.begin() + length);
  body.push_back(IdentifierEnd);
  return Reply(std::move(body));
}

std::optional<Frame> CSimulatedUnit::EnterBootMode(const Frame& request) {
  // A unit that is still restarting hears nothing.
  if (BootRequests < Options.SilentBootRequests) {
    ++BootRequests;
    return std::nullopt;
  }
  if (!IsShortRequest(request)) return Exception(MbEnterBoot, IllegalDataValue);
  if (Options.ModeSwitchException) return Exception(MbEnterBoot, IllegalFunction);
  return Reply({Options.UnitAddress, MbEnterBoot, ModeEntered});
}

Frame CSimulatedUnit::EnterConfigMode(const Frame& request) {
  if (!IsShortRequest(request)) return Exception(MbEnterConfig, IllegalDataValue);
  if (Options.ModeSwitchException) return Exception(MbEnterConfig, IllegalFunction);
  // A new loading: no tail of a longer earlier one may outlive it.
  Image.clear();
  return Reply({Options.UnitAddress, MbEnterConfig, ModeEntered,
                static_cast<std::uint8_t>(Options.BlockSize), ConfigExtra});
}

Frame CSimulatedUnit::WriteBlock(const Frame& request) {
  if (WriteRequests < Options.BusyWrites) {
    ++WriteRequests;
    return Exception(MbWriteBlock, MbBusyException);
  }
  if (request.size() < static_cast<std::size_t>(MbWriteBlockHeaderSize + MbCrcSize) ||
      request[MbFirstDataByte] != MbWriteBlockFixed0 || request[MbFirstDataByte + 1] != MbWriteBlockFixed1)
    return Exception(MbWriteBlock, IllegalDataValue);
  const std::uint32_t address = LittleEndian32(&request[MbBlockAddressByte]);
  const std::size_t dataLength = request.size() - MbWriteBlockHeaderSize - MbCrcSize;
  if (!FitsImage(address, dataLength)) return Exception(MbWriteBlock, IllegalDataAddress);
  Store(address, &request[MbWriteBlockHeaderSize], dataLength);
  Accepted.push_back(address);
  return Reply(Frame(request.begin(), request.begin() + MbWriteBlockHeaderSize));
}

Frame CSimulatedUnit::FinishLoading(const Frame& request) const {
  if (!IsShortRequest(request)) return Exception(MbFinish, IllegalDataValue);
  if (Options.InvalidFinishReply) return Reply({Options.UnitAddress, MbFinish, FinishState});
  if (Options.FinishException) return Exception(MbFinish, IllegalFunction);
  return Reply({Options.UnitAddress, MbFinish, FinishState, FinishState});
}

Frame CSimulatedUnit::EnterRunMode(const Frame& request) const {
  if (!IsShortRequest(request)) return Exception(MbEnterRun, IllegalDataValue);
  return Reply({Options.UnitAddress, MbEnterRun});
}

bool CSimulatedUnit::FitsImage(std::uint32_t address, std::size_t length) const {
  if (address < imageformat::LoadAddress) return false;
  const std::uint64_t offset = address - imageformat::LoadAddress;
  return offset <= imageformat::UnitCapacity && length <= imageformat::UnitCapacity - offset;
}

void CSimulatedUnit::Store(std::uint32_t address, const std::uint8_t* data, std::size_t length) {
  if (length == 0) return;
  const std::size_t offset = address - imageformat::LoadAddress;
  if (Image.size() < offset + length) Image.resize(offset + length, ErasedByte);
  std::copy(data, data + length, Image.begin() + static_cast<std::ptrdiff_t>(offset));
}

Frame CSimulatedUnit::Busy(std::uint8_t function) const { return Exception(function, MbBusyException); }

Frame CSimulatedUnit::Reply(Frame body) const {
  const std::uint16_t crc = FrameCrc(body.data(), body.size());
  body.push_back(static_cast<std::uint8_t>(crc >> 8));
  body.push_back(static_cast<std::uint8_t>(crc & 0xFF));
  return body;
}

Frame CSimulatedUnit::Exception(std::uint8_t function, std::uint8_t code) const {
  return Reply({Options.UnitAddress, static_cast<std::uint8_t>(function | MbExceptionFlag), code});
}

}  // namespace smsconf::sim
