#pragma once

// The limits and defaults that a user meets: what the dialogs offer, what
// the project check holds a file to, and what load and simulate accept. Each
// number stands here once; everything that shows or checks one reads it
// from here.

#include <cstdint>

namespace smsconf::limits {

// A closed range of whole numbers.
struct Range {
  int Min;
  int Max;
  constexpr bool Holds(long long value) const { return value >= Min && value <= Max; }
};

// An event: its trigger input ("DI0" to "DI31"), its delay in seconds and
// the characters of its text.
inline constexpr Range Input{0, 31};
inline constexpr Range DelaySeconds{0, 3600};
inline constexpr int TextLength = 70;

// A phone slot's number, "+7xxxxxxxxxx".
inline constexpr int NumberLength = 12;

// Loading a unit: the gateway reached over UDP, the unit's Modbus address
// behind it, the sends of each request and the wait for each reply.
inline constexpr const char* DefaultGateway = "192.168.1.1";
inline constexpr std::uint16_t GatewayPort = 1122;
inline constexpr Range Unit{1, 254};
inline constexpr int DefaultUnit = 1;
inline constexpr Range Tries{1, 100};
inline constexpr int DefaultTries = 15;
inline constexpr Range TimeoutMs{100, 500};
inline constexpr int DefaultTimeoutMs = 250;

}  // namespace smsconf::limits
