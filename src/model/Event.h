#pragma once

#include <cstdint>
#include <string>

namespace smsconf {

// One event: when input Pin sees the edge Neg, wait Delay seconds and send
// Text to the phone slots whose bits are set in Send.
class CEvent {
 public:
  bool Neg = false;       // false: rising edge "R"; true: falling edge "F"
  std::int32_t Pin = 0;   // 0 is DI0
  std::int32_t Delay = 0; // seconds
  std::uint8_t Send = 0;  // bit i: phone slot i
  std::string Text;       // Windows-1251 bytes

  // Input first, then edge: Pin*2 + Neg. Compared unsigned, so a negative
  // Pin (possible only from a file) sorts after every other event.
  std::uint32_t SortKey() const {
    return (static_cast<std::uint32_t>(Pin) << 1) | (Neg ? 1u : 0u);
  }
};

}  // namespace smsconf
