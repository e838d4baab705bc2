#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace smsconf {

// One event record: when input Pin sees the edge Neg, wait Delay seconds
// and send Text to the phone slots whose bits are set in Send. Pin and Delay
// are wider than their fields so that the encoder, not a cast, refuses a
// value that does not fit.
struct ImageEvent {
  std::int32_t Pin = 0;    // 0 is DI0
  bool Neg = false;        // false: rising edge, true: falling edge
  std::int32_t Delay = 0;  // seconds
  std::uint8_t Send = 0;   // bit i: phone slot i
  std::string Text;        // Windows-1251 bytes

  bool operator==(const ImageEvent&) const = default;
};

// What a configuration image says, without its layout: the phone numbers in
// slot order and the events in image order. Encoding and then decoding gives
// it back, except that a text comes back up to its first 0 byte and texts
// equal but for letter case come back in the spelling that came first.
struct ImageContent {
  std::vector<std::string> Numbers;
  std::vector<ImageEvent> Events;

  bool operator==(const ImageContent&) const = default;
};

}  // namespace smsconf
