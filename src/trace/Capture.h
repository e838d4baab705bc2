#pragma once

// Capture files as Wireshark and tshark read them: the classic libpcap
// format, little-endian with microsecond times, each datagram as the raw
// IPv4 packet that carried it (link type "raw IP"). Written by hand, as the
// same bytes on every system.

#include <chrono>
#include <cstdint>
#include <span>
#include <string>

#include "link/UdpSocket.h"

namespace smsconf::trace {

// The largest UDP payload one IPv4 packet carries; a capture holds no more
// of a datagram.
inline constexpr std::size_t CaptureMaxPayload = 65535 - 20 - 8;

// What a capture file begins with.
std::string CaptureFileHeader();

struct CapturedDatagram {
  std::chrono::microseconds Time;  // since 1970, UTC
  Endpoint From;
  Endpoint To;
  std::span<const std::uint8_t> Payload;
  std::uint16_t Identification = 0;  // of the IPv4 packet; one more for each
};

// One record: its header, then the IPv4 and UDP headers with their
// checksums, then the payload.
std::string CaptureRecord(const CapturedDatagram& datagram);

// The Internet checksum (RFC 1071) of `bytes`, continuing a partial `sum`;
// over a header that holds its own checksum it gives 0.
std::uint16_t InternetChecksum(std::span<const std::uint8_t> bytes, std::uint32_t sum = 0);

}  // namespace smsconf::trace
