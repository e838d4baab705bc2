#include "trace/Capture.h"

#include <algorithm>

namespace smsconf::trace {

namespace {

constexpr std::uint32_t MagicMicroseconds = 0xA1B2C3D4;
constexpr std::uint16_t VersionMajor = 2;
constexpr std::uint16_t VersionMinor = 4;
constexpr std::uint32_t SnapLength = 65535;
constexpr std::uint32_t LinkTypeRaw = 101;  // each packet starts with its IP header

constexpr std::size_t Ipv4HeaderSize = 20;
constexpr std::size_t UdpHeaderSize = 8;
constexpr std::uint8_t Ipv4VersionAndLength = 0x45;  // version 4, five 32-bit words
constexpr std::uint16_t DontFragment = 0x4000;
constexpr std::uint8_t TimeToLive = 64;
constexpr std::uint8_t ProtocolUdp = 17;
constexpr std::size_t Ipv4ChecksumByte = 10;
constexpr std::int64_t MicrosecondsPerSecond = 1000000;

// The file's own numbers are little-endian; the packet's are in network
// order.
void Little(std::string& out, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>(value >> (8 * i) & 0xFFu);
}
void Big(std::string& out, std::uint32_t value, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) out += static_cast<char>(value >> (8 * i) & 0xFFu);
}

std::span<const std::uint8_t> BytesOf(const std::string& text, std::size_t from, std::size_t count) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()) + from, count};
}

}  // namespace

std::string CaptureFileHeader() {
  std::string header;
  Little(header, MagicMicroseconds, 4);
  Little(header, VersionMajor, 2);
  Little(header, VersionMinor, 2);
  Little(header, 0, 4);  // time zone: the times are UTC
  Little(header, 0, 4);  // accuracy of the times, never told
  Little(header, SnapLength, 4);
  Little(header, LinkTypeRaw, 4);
  return header;
}

std::uint16_t InternetChecksum(std::span<const std::uint8_t> bytes, std::uint32_t sum) {
  for (std::size_t i = 0; i < bytes.size(); i += 2)
    sum += static_cast<std::uint32_t>(bytes[i] << 8 | (i + 1 < bytes.size() ? bytes[i + 1] : 0));
  while (sum >> 16) sum = (sum & 0xFFFFu) + (sum >> 16);
  return static_cast<std::uint16_t>(~sum & 0xFFFFu);
}

std::string CaptureRecord(const CapturedDatagram& datagram) {
  const std::size_t payload = std::min(datagram.Payload.size(), CaptureMaxPayload);
  const auto udpLength = static_cast<std::uint32_t>(UdpHeaderSize + payload);
  const auto packetLength = static_cast<std::uint32_t>(Ipv4HeaderSize + udpLength);
  const std::int64_t time = datagram.Time.count();

  std::string record;
  record.reserve(16 + packetLength);
  Little(record, static_cast<std::uint32_t>(time / MicrosecondsPerSecond), 4);
  Little(record, static_cast<std::uint32_t>(time % MicrosecondsPerSecond), 4);
  Little(record, packetLength, 4);  // as much as was captured
  Little(record, packetLength, 4);  // as long as the packet was

  const std::size_t ip = record.size();
  record += static_cast<char>(Ipv4VersionAndLength);
  record += '\0';  // type of service
  Big(record, packetLength, 2);
  Big(record, datagram.Identification, 2);
  Big(record, DontFragment, 2);
  record += static_cast<char>(TimeToLive);
  record += static_cast<char>(ProtocolUdp);
  Big(record, 0, 2);  // the checksum, filled in below
  Big(record, datagram.From.Address, 4);
  Big(record, datagram.To.Address, 4);
  const std::uint16_t ipChecksum = InternetChecksum(BytesOf(record, ip, Ipv4HeaderSize));
  record[ip + Ipv4ChecksumByte] = static_cast<char>(ipChecksum >> 8);
  record[ip + Ipv4ChecksumByte + 1] = static_cast<char>(ipChecksum & 0xFFu);

  const std::size_t udp = record.size();
  Big(record, datagram.From.Port, 2);
  Big(record, datagram.To.Port, 2);
  Big(record, udpLength, 2);
  Big(record, 0, 2);  // the checksum, filled in below
  record.append(reinterpret_cast<const char*>(datagram.Payload.data()), payload);
  // Over the pseudo-header (the two addresses, the protocol and the UDP
  // length), the UDP header and the payload; 0 would mean "none", so it is
  // sent as FFFF.
  std::uint32_t pseudo = datagram.From.Address >> 16;
  pseudo += datagram.From.Address & 0xFFFFu;
  pseudo += datagram.To.Address >> 16;
  pseudo += datagram.To.Address & 0xFFFFu;
  pseudo += ProtocolUdp + udpLength;
  std::uint16_t udpChecksum = InternetChecksum(BytesOf(record, udp, udpLength), pseudo);
  if (udpChecksum == 0) udpChecksum = 0xFFFF;
  record[udp + 6] = static_cast<char>(udpChecksum >> 8);
  record[udp + 7] = static_cast<char>(udpChecksum & 0xFFu);
  return record;
}

}  // namespace smsconf::trace
