#pragma once

// The byte buffer that COutput assembles an image in and CSymTable its
// string area: obtained with malloc and doubled whenever it is full. A
// buffer that cannot be obtained or grown throws std::bad_alloc, as any
// other allocation does, so that the program reports it instead of ending.

#include <cstdint>
#include <cstdlib>
#include <limits>
#include <new>

namespace smsconf {

inline std::uint8_t* ObtainCode(std::int32_t capacity) {
  auto* code = static_cast<std::uint8_t*>(std::malloc(std::size_t(capacity)));
  if (code == nullptr) throw std::bad_alloc();
  return code;
}

// Makes room for one byte more at `used`: when the buffer is full, doubles
// `capacity` and reallocates `code` keeping its contents. When that fails,
// the buffer stays as it was.
inline void MakeRoom(std::uint8_t*& code, std::int32_t& capacity, std::int32_t used) {
  if (used < capacity) return;
  // A capacity that no longer fits the 32-bit size counts as memory that
  // cannot be obtained.
  const bool fits = capacity <= std::numeric_limits<std::int32_t>::max() / 2;
  void* grown = fits ? std::realloc(code, std::size_t(capacity) * 2) : nullptr;
  if (grown == nullptr) throw std::bad_alloc();
  code = static_cast<std::uint8_t*>(grown);
  capacity *= 2;
}

}  // namespace smsconf
