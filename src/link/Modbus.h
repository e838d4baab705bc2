#pragma once

// The Modbus RTU requests the configuration loading sends to the unit behind
// the gateway, and the checks of the unit's replies.

#include <cstddef>
#include <cstdint>

#include "link/Rpcinterface.h"

namespace smsconf {

// Function codes: the standard Report Slave ID and the unit's own ones.
inline constexpr std::uint8_t MbReportSlaveId = 0x11;
inline constexpr std::uint8_t MbEnterBoot = 0x23;
inline constexpr std::uint8_t MbEnterRun = 0x26;
inline constexpr std::uint8_t MbEnterConfig = 0x33;
inline constexpr std::uint8_t MbWriteBlock = 0x34;
inline constexpr std::uint8_t MbFinish = 0x35;

// An exception reply carries the request's function code with this bit set.
inline constexpr std::uint8_t MbExceptionFlag = 0x80;
// Exception code of a busy unit: the block is to be sent again later.
inline constexpr std::uint8_t MbBusyException = 6;

// The two fixed bytes behind the function code of a block write.
inline constexpr std::uint8_t MbWriteBlockFixed0 = 0x20;
inline constexpr std::uint8_t MbWriteBlockFixed1 = 0xA2;

// Byte positions in every request and reply: the unit's address, the
// function code, then the data. A block write's address, and its echo in
// the reply, stand from byte 4.
inline constexpr std::size_t MbUnitByte = 0;
inline constexpr std::size_t MbFunctionByte = 1;
inline constexpr std::size_t MbFirstDataByte = 2;
inline constexpr std::size_t MbBlockAddressByte = 4;

inline constexpr int MbCrcSize = 2;
inline constexpr int MbBlockCapacity = 128;

// Reply lengths (unit address to CRC) that the checks accept.
inline constexpr int MbShortRequestSize = 4;         // A f CRC
inline constexpr int MbBootReplySize = 5;            // A 23 m CRC
inline constexpr int MbSlaveIdMinReplySize = 6;      // A 11 count data... CRC
inline constexpr int MbConfigReplySize = 7;          // A 33 m b x CRC
inline constexpr int MbWriteBlockReplySize = 10;     // A 34 y y a0 a1 a2 a3 CRC
inline constexpr int MbFinishReplySize = 6;          // A 35 y y CRC
inline constexpr int MbWriteBlockHeaderSize = 8;     // A 34 20 A2 a0 a1 a2 a3

enum MbStatus : std::int32_t {
  MbValid = 0,         // every check passed
  MbException = 1,     // the unit answered with another function code
  MbNoReply = 2,       // no reply, a short one, one for another unit, or a wrong length
  MbEchoMismatch = 3,  // a block write confirmed another address
};

struct MbModeResult {
  std::uint8_t Mode;
  std::int32_t Status;
};

struct MbIdResult {
  std::uint8_t IdLength;  // characters in IdText
  char IdText[256];       // NUL at IdText[IdLength]
  std::uint8_t TailByte;  // the last reply byte before the CRC
  std::int32_t Status;
  std::uint8_t ExceptionCode;  // with MbException: the code the unit gave
};

struct MbConfigModeResult {
  std::uint8_t Mode;
  std::int32_t BlockSize;  // image bytes per block, 0..255
  std::int32_t Extra;
  std::int32_t Status;
};

// Input (Address, DataLength, Data) and output (the rest) of WriteBlock.
struct MbBlock {
  std::uint32_t Address;
  std::int32_t DataLength;  // 0..MbBlockCapacity
  std::uint8_t Data[MbBlockCapacity];
  std::uint32_t EchoAddress;  // low 16 bits of the confirmed address
  std::int32_t Status;
  std::uint8_t ExceptionCode;
};

// Every operation returns the transport's RpcResult (RpcOk: a reply came,
// which may still be invalid, see Status) and never throws.
class CModbus {
 public:
  std::uint32_t Address = 0;      // unit address, low 8 bits used
  CRPCInterface* Rpc = nullptr;   // not owned

  int EnterBootMode(MbModeResult& result);
  int EnterRunMode();
  int ReportSlaveId(MbIdResult& result);
  int EnterConfigMode(MbConfigModeResult& result);
  int WriteBlock(MbBlock& block);
  int FinishLoading(MbModeResult& result);

 private:
  MemoryStream Frame(std::uint8_t function) const;
  int Exchange(const MemoryStream& frame, MemoryStream& reply);
  // A request without data; `status` judges the reply, whose length must be
  // exactly `replySize`, or at least that with `orLonger`.
  int ShortRequest(std::uint8_t function, std::size_t replySize, bool orLonger, MemoryStream& reply,
                   std::int32_t& status);
};

}  // namespace smsconf
