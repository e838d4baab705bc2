#pragma once

// The Modbus RTU CRC-16 that ends every frame sent to the unit.

#include <cstdint>

namespace smsconf {

// CRC-16 of the first length bytes of data (reflected polynomial 0xA001,
// start value 0xFFFF, no final XOR). The value comes back with its two bytes
// swapped against the usual notation (0x374B for "123456789"), so that
// putting its high byte on the wire first sends the CRC low byte first, as
// Modbus RTU wants. An empty run (length 0 or less) gives 0xFFFF.
std::uint16_t Crc16(const std::uint8_t* data, int length);

}  // namespace smsconf
