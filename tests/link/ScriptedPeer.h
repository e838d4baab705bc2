#pragma once

// A UDP peer on 127.0.0.1 that plays the gateway with exact bytes: for each
// datagram it receives it runs a script that decides what goes back, and
// from which socket.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "link/Crc16.h"

namespace smsconf::test {

using Datagram = std::vector<std::uint8_t>;

inline int BoundLoopbackSocket() {
  const int fd = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (fd < 0) throw std::runtime_error("socket");
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
    ::close(fd);
    throw std::runtime_error("bind");
  }
  return fd;
}

inline std::uint16_t LocalPort(int fd) {
  sockaddr_in local{};
  socklen_t size = sizeof local;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &size);
  return ntohs(local.sin_port);
}

inline void SendFrom(int fd, const sockaddr_in& to, const Datagram& bytes) {
  ::sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

// The gateway's reply to request: reply marks, the request's sequence
// number, then payload.
inline Datagram ReplyTo(const Datagram& request, const Datagram& payload) {
  Datagram reply(4 + payload.size());
  reply[0] = 0x15;
  reply[1] = 0xA1;
  reply[2] = request.at(2);
  reply[3] = request.at(3);
  std::copy(payload.begin(), payload.end(), reply.begin() + 4);
  return reply;
}

// A Modbus frame ended by its CRC, as the unit would send it.
inline Datagram WithCrc(Datagram frame) {
  const std::uint16_t crc = Crc16(frame.data(), static_cast<int>(frame.size()));
  frame.push_back(static_cast<std::uint8_t>(crc >> 8));
  frame.push_back(static_cast<std::uint8_t>(crc & 0xFF));
  return frame;
}

class ScriptedPeer {
 public:
  // What a script can send back to the requester.
  class Replier {
   public:
    Replier(int own, int other, const sockaddr_in& to) : Own(own), Other(other), To(to) {}
    void Send(const Datagram& bytes) const { SendFrom(Own, To, bytes); }
    // The same bytes from another local port, as a stranger would send them.
    void SendFromOtherPort(const Datagram& bytes) const { SendFrom(Other, To, bytes); }

   private:
    int Own;
    int Other;
    sockaddr_in To;
  };
  // Called with every received datagram and its 0-based number.
  using Script = std::function<void(const Datagram& request, int index, const Replier& replier)>;

  explicit ScriptedPeer(Script script = {})
      : Own(BoundLoopbackSocket()), Other(BoundLoopbackSocket()), Run(std::move(script)) {
    Worker = std::thread([this] { Serve(); });
  }
  ~ScriptedPeer() {
    Stopping = true;
    Worker.join();
    ::close(Own);
    ::close(Other);
  }
  ScriptedPeer(const ScriptedPeer&) = delete;
  ScriptedPeer& operator=(const ScriptedPeer&) = delete;

  std::uint16_t Port() const { return LocalPort(Own); }
  std::string Address() const { return "127.0.0.1:" + std::to_string(Port()); }

  std::vector<Datagram> Received() const {
    std::lock_guard lock(Guard);
    return Log;
  }

  // Waits a while for the peer to have seen count datagrams.
  bool WaitFor(std::size_t count) const {
    for (int i = 0; i < 2000 && Received().size() < count; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return Received().size() >= count;
  }

  // Puts a datagram from the peer's own port into the queue of a local socket.
  void SendToPort(std::uint16_t port, const Datagram& bytes) const {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(port);
    SendFrom(Own, to, bytes);
  }

 private:
  void Serve() {
    std::vector<std::uint8_t> buffer(65536);
    while (!Stopping) {
      pollfd watched{Own, POLLIN, 0};
      if (::poll(&watched, 1, 5) <= 0) continue;
      sockaddr_in from{};
      socklen_t size = sizeof from;
      const ssize_t n = ::recvfrom(Own, buffer.data(), buffer.size(), 0,
                                   reinterpret_cast<sockaddr*>(&from), &size);
      if (n < 0) continue;
      const Datagram request(buffer.begin(), buffer.begin() + n);
      int index = 0;
      {
        std::lock_guard lock(Guard);
        index = static_cast<int>(Log.size());
        Log.push_back(request);
      }
      if (Run) Run(request, index, Replier(Own, Other, from));
    }
  }

  int Own;
  int Other;
  Script Run;
  std::atomic<bool> Stopping{false};
  mutable std::mutex Guard;
  std::vector<Datagram> Log;
  std::thread Worker;
};

}  // namespace smsconf::test
