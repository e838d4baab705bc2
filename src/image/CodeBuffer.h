#pragma once

// The byte buffer that COutput assembles an image in and CSymTable its
// string area: obtained with malloc and doubled whenever it is full. A
// buffer that cannot be obtained or grown stops the program with
// "Code != NULL", reported at the caller's line.

#include "image/Require.h"

#include <cstdint>
#include <cstdlib>
#include <limits>
#include <source_location>

namespace smsconf {

inline std::uint8_t* ObtainCode(std::int32_t capacity,
                                std::source_location where = std::source_location::current()) {
  auto* code = static_cast<std::uint8_t*>(std::malloc(std::size_t(capacity)));
  Require(code != nullptr, "Code != NULL", where);
  return code;
}

// Makes room for one byte more at `used`: when the buffer is full, doubles
// `capacity` and reallocates `code` keeping its contents.
inline void MakeRoom(std::uint8_t*& code, std::int32_t& capacity, std::int32_t used,
                     std::source_location where = std::source_location::current()) {
  if (used < capacity) return;
  // A capacity that no longer fits the 32-bit size counts as memory that
  // cannot be obtained.
  const bool fits = capacity <= std::numeric_limits<std::int32_t>::max() / 2;
  void* grown = fits ? std::realloc(code, std::size_t(capacity) * 2) : nullptr;
  Require(grown != nullptr, "Code != NULL", where);
  code = static_cast<std::uint8_t*>(grown);
  capacity *= 2;
}

}  // namespace smsconf
