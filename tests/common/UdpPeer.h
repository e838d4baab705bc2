#pragma once

// The other end of a UDP link on 127.0.0.1, at a port the system picks: a
// client the test drives by hand or, given a script, a gateway that hears
// every datagram on its own thread and may answer it.

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "link/Crc16.h"
#include "link/UdpSocket.h"

namespace smsconf::testing {

using Bytes = std::vector<std::uint8_t>;

// A Modbus frame ended by its CRC, as it goes on the wire.
inline Bytes WithCrc(Bytes frame) {
  const std::uint16_t crc = Crc16(frame.data(), static_cast<int>(frame.size()));
  frame.push_back(static_cast<std::uint8_t>(crc >> 8));
  frame.push_back(static_cast<std::uint8_t>(crc & 0xFF));
  return frame;
}

// Gateway datagrams: two marks, the sequence number low byte first, then
// (in a request) the command, then the payload.
inline Bytes GatewayRequest(std::uint16_t sequence, std::uint8_t command, const Bytes& payload = {}) {
  Bytes datagram{0x21, 0xAB, static_cast<std::uint8_t>(sequence), static_cast<std::uint8_t>(sequence >> 8), command};
  datagram.insert(datagram.end(), payload.begin(), payload.end());
  return datagram;
}
inline Bytes GatewayReply(std::uint16_t sequence, const Bytes& payload) {
  Bytes datagram{0x15, 0xA1, static_cast<std::uint8_t>(sequence), static_cast<std::uint8_t>(sequence >> 8)};
  datagram.insert(datagram.end(), payload.begin(), payload.end());
  return datagram;
}
inline Bytes ModbusRequest(std::uint16_t sequence, const Bytes& frame) {
  return GatewayRequest(sequence, 7, WithCrc(frame));
}
inline std::uint16_t SequenceOf(const Bytes& datagram) {
  return static_cast<std::uint16_t>(datagram.at(2) | datagram.at(3) << 8);
}

struct Received {
  Bytes Content;
  std::uint16_t FromPort = 0;
};

class UdpPeer {
 public:
  using Script = std::function<void(const UdpPeer& self, const Bytes& datagram, std::uint16_t from)>;

  // Answers every request with its own sequence number and this payload.
  static Script Answering(Bytes payload) {
    return [payload](const UdpPeer& self, const Bytes& request, std::uint16_t from) {
      self.Send(from, GatewayReply(SequenceOf(request), payload));
    };
  }

  explicit UdpPeer(Script script = {}) {
    Socket.Open({LoopbackAddress, 0});
    OwnPort = Socket.LocalPort();
    if (script) Worker = std::thread([this, script] { Serve(script); });
  }
  ~UdpPeer() {
    Stopping = true;
    if (Worker.joinable()) Worker.join();
  }
  UdpPeer(const UdpPeer&) = delete;
  UdpPeer& operator=(const UdpPeer&) = delete;

  std::string Address() const { return "127.0.0.1:" + std::to_string(OwnPort); }

  void Send(std::uint16_t port, const Bytes& datagram) const {
    Socket.SendTo({LoopbackAddress, port}, datagram.data(), static_cast<int>(datagram.size()));
  }

  // The next datagram; nothing when none comes within the wait (a generous
  // bound for what must come, 0 for what is already here).
  std::optional<Received> Receive(int waitMs = 5000) const {
    Bytes buffer(65536);
    Endpoint from;
    const int length = !Socket.WaitReadable(waitMs) ? -1 :
        Socket.ReceiveFrom(buffer.data(), static_cast<int>(buffer.size()), from);
    if (length < 0) return std::nullopt;
    buffer.resize(static_cast<std::size_t>(length));
    return Received{buffer, from.Port};
  }

  // What the script has been given, once that is at least count datagrams
  // (or after a generous while).
  std::vector<Bytes> Heard(std::size_t count = 0) const {
    for (int wait = 0;; ++wait) {
      if (std::lock_guard lock(Guard); Log.size() >= count || wait == 5000) return Log;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }

 private:
  void Serve(const Script& script) {
    while (!Stopping) {
      const std::optional<Received> datagram = Receive(5);
      if (!datagram) continue;
      {
        std::lock_guard lock(Guard);
        Log.push_back(datagram->Content);
      }
      script(*this, datagram->Content, datagram->FromPort);
    }
  }

  SocketLibrary Sockets;
  UdpSocket Socket;
  std::uint16_t OwnPort = 0;
  std::atomic<bool> Stopping{false};
  mutable std::mutex Guard;
  std::vector<Bytes> Log;
  std::thread Worker;
};

}  // namespace smsconf::testing
