#pragma once

// A plain UDP client for the simulator tests, with frames built by hand so
// that the simulator is checked independently of the project's own client.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace smsconf::sim::test {

using Bytes = std::vector<std::uint8_t>;

// CRC-16/MODBUS, bit by bit: the textbook form as a cross-check of the
// table-driven one.
inline Bytes WithCrc(Bytes frame) {
  std::uint16_t crc = 0xFFFF;
  for (std::uint8_t byte : frame) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
  }
  frame.push_back(static_cast<std::uint8_t>(crc & 0xFF));
  frame.push_back(static_cast<std::uint8_t>(crc >> 8));
  return frame;
}

inline Bytes GatewayRequest(std::uint16_t sequence, std::uint8_t command, const Bytes& payload = {}) {
  Bytes datagram{0x21, 0xAB, static_cast<std::uint8_t>(sequence & 0xFF),
                 static_cast<std::uint8_t>(sequence >> 8), command};
  datagram.insert(datagram.end(), payload.begin(), payload.end());
  return datagram;
}

inline Bytes GatewayReply(std::uint16_t sequence, const Bytes& payload) {
  Bytes datagram{0x15, 0xA1, static_cast<std::uint8_t>(sequence & 0xFF),
                 static_cast<std::uint8_t>(sequence >> 8)};
  datagram.insert(datagram.end(), payload.begin(), payload.end());
  return datagram;
}

inline Bytes ModbusRequest(std::uint16_t sequence, const Bytes& frameWithoutCrc) {
  return GatewayRequest(sequence, 7, WithCrc(frameWithoutCrc));
}

inline Bytes WriteBlockFrame(std::uint8_t unit, std::uint32_t address, const std::string& data) {
  Bytes frame{unit, 0x34, 0x20, 0xA2};
  for (int shift = 0; shift < 32; shift += 8) frame.push_back(static_cast<std::uint8_t>(address >> shift));
  frame.insert(frame.end(), data.begin(), data.end());
  return frame;
}

inline std::string Hex(const Bytes& bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string text;
  for (std::uint8_t byte : bytes) {
    if (!text.empty()) text += ' ';
    text += digits[byte >> 4];
    text += digits[byte & 0xF];
  }
  return text;
}

struct Received {
  Bytes Content;
  std::uint16_t FromPort = 0;
};

class UdpPeer {
 public:
  UdpPeer() {
    Socket = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    sockaddr_in local = Loopback(0);
    bind(Socket, reinterpret_cast<sockaddr*>(&local), sizeof local);
  }
  ~UdpPeer() { close(Socket); }
  UdpPeer(const UdpPeer&) = delete;
  UdpPeer& operator=(const UdpPeer&) = delete;

  void Send(std::uint16_t port, const Bytes& datagram) const {
    sockaddr_in to = Loopback(port);
    sendto(Socket, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  }

  // The next datagram, or nothing within the wait (a generous bound for
  // replies that must come; 0 for "already here").
  std::optional<Received> Receive(int waitMs = 5000) const {
    pollfd readable{Socket, POLLIN, 0};
    if (poll(&readable, 1, waitMs) <= 0) return std::nullopt;
    Bytes buffer(65536);
    sockaddr_in from{};
    socklen_t size = sizeof from;
    const ssize_t length =
        recvfrom(Socket, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr*>(&from), &size);
    if (length < 0) return std::nullopt;
    buffer.resize(static_cast<std::size_t>(length));
    return Received{buffer, ntohs(from.sin_port)};
  }

  // Every datagram already waiting.
  std::vector<Received> Drain() const {
    std::vector<Received> all;
    while (auto next = Receive(0)) all.push_back(*next);
    return all;
  }

  Bytes Exchange(std::uint16_t port, const Bytes& request) const {
    Send(port, request);
    auto reply = Receive();
    return reply ? reply->Content : Bytes{};
  }

 private:
  static sockaddr_in Loopback(std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
  }

  int Socket = -1;
};

// Collects the simulator's log lines; lets a test wait until it has handled
// a burst of datagrams (it sends each reply before logging it).
class LogCollector {
 public:
  std::function<void(const std::string&)> Sink() {
    return [this](const std::string& line) {
      std::lock_guard lock(Mutex);
      Lines.push_back(line);
      Changed.notify_all();
    };
  }

  std::vector<std::string> WaitForLines(std::size_t count) {
    std::unique_lock lock(Mutex);
    Changed.wait_for(lock, std::chrono::seconds(10), [&] { return Lines.size() >= count; });
    return Lines;
  }

  std::size_t CountStartingWith(const std::string& prefix) {
    std::lock_guard lock(Mutex);
    std::size_t count = 0;
    for (const std::string& line : Lines) count += line.rfind(prefix, 0) == 0;
    return count;
  }

 private:
  std::mutex Mutex;
  std::condition_variable Changed;
  std::vector<std::string> Lines;
};

}  // namespace smsconf::sim::test
