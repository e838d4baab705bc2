#include "link/Crc16.h"

#include <array>

namespace smsconf {

namespace {

constexpr std::uint16_t CrcPolynomial = 0xA001;

// The CRC register after shifting one byte value i through it, bit by bit.
constexpr std::uint16_t ShiftByte(unsigned i) {
  std::uint16_t v = static_cast<std::uint16_t>(i);
  for (int bit = 0; bit < 8; ++bit)
    v = (v & 1u) ? static_cast<std::uint16_t>((v >> 1) ^ CrcPolynomial)
                 : static_cast<std::uint16_t>(v >> 1);
  return v;
}

using ByteTable = std::array<std::uint8_t, 256>;

// The two byte tables of the classic table-driven Modbus CRC: the register
// is kept as two separate bytes, so each shifted value is split in halves.
constexpr ByteTable MakeHighTable() {
  ByteTable table{};
  for (unsigned i = 0; i < 256; ++i)
    table[i] = static_cast<std::uint8_t>(ShiftByte(i) & 0xFFu);
  return table;
}

constexpr ByteTable MakeLowTable() {
  ByteTable table{};
  for (unsigned i = 0; i < 256; ++i)
    table[i] = static_cast<std::uint8_t>(ShiftByte(i) >> 8);
  return table;
}

constexpr ByteTable HighTable = MakeHighTable();
constexpr ByteTable LowTable = MakeLowTable();

static_assert(HighTable[1] == 0xC1 && HighTable[2] == 0x81 && HighTable[3] == 0x40);
static_assert(LowTable[1] == 0xC0 && LowTable[2] == 0xC1 && LowTable[3] == 0x01);

}  // namespace

std::uint16_t Crc16(const std::uint8_t* data, int length) {
  std::uint8_t hi = 0xFF;
  std::uint8_t lo = 0xFF;
  for (int index = 0; index < length; ++index) {
    const std::uint8_t i = static_cast<std::uint8_t>(data[index] ^ hi);
    hi = static_cast<std::uint8_t>(lo ^ HighTable[i]);
    lo = LowTable[i];
  }
  return static_cast<std::uint16_t>(hi << 8 | lo);
}

}  // namespace smsconf
