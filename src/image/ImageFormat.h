#pragma once

// The layout of the configuration image that the unit's firmware reads:
// a header of four little-endian words, the string area, the phone table,
// the event table and a checksum byte, back to back.

#include <cstddef>
#include <cstdint>

namespace smsconf::imageformat {

inline constexpr std::uint16_t Signature = 0x7331;

// Every count of the image is one byte, every offset, field and the length
// one 16-bit word, so no image is longer than this.
inline constexpr std::size_t LargestImage = 0xFFFF;
inline constexpr std::uint32_t LargestWord = 0xFFFF;
inline constexpr std::uint32_t LargestByte = 0xFF;
inline constexpr std::uint32_t LargestCount = LargestByte;

// The unit keeps its configuration in a memory window of this many bytes;
// image byte 0 goes to LoadAddress, where the firmware's own configuration
// also stands.
inline constexpr std::size_t UnitCapacity = 0x10000;
inline constexpr std::uint32_t LoadAddress = 0x8000;

// Header words, by their offset in the image.
inline constexpr std::size_t SignatureOffset = 0;
inline constexpr std::size_t LengthOffset = 2;
inline constexpr std::size_t PhoneTableOffset = 4;
inline constexpr std::size_t EventTableOffset = 6;
inline constexpr std::size_t HeaderSize = 8;

// The string area follows the header, so a string reference is the text's
// offset in the area plus this.
inline constexpr std::size_t StringAreaStart = HeaderSize;

// Each table begins with a count byte.
inline constexpr std::size_t CountSize = 1;
inline constexpr std::size_t PhoneEntrySize = 2;
inline constexpr std::size_t EventRecordSize = 8;

// Fields of an event record, by their offset in the record.
inline constexpr std::size_t EventDelayOffset = 0;
inline constexpr std::size_t EventSendOffset = 2;
inline constexpr std::size_t EventPinOffset = 4;
inline constexpr std::size_t EventNegOffset = 5;
inline constexpr std::size_t EventTextOffset = 6;

// Bit i of an event's recipient mask addresses phone slot i.
inline constexpr int PhoneSlots = 8;

inline constexpr std::size_t ChecksumSize = 1;
// The sum of every byte of a sound image, checksum included, modulo 256.
inline constexpr std::uint8_t ChecksumTotal = 0xFF;

// Header, empty string area, two empty tables and the checksum.
inline constexpr std::size_t MinimumSize = HeaderSize + CountSize + CountSize + ChecksumSize;

// The checksum byte for the image bytes that precede it.
inline std::uint8_t Checksum(const std::uint8_t* bytes, std::size_t count) {
  std::uint8_t sum = 0;
  for (std::size_t i = 0; i < count; ++i) sum = static_cast<std::uint8_t>(sum + bytes[i]);
  return static_cast<std::uint8_t>(~sum);
}

}  // namespace smsconf::imageformat
