#pragma once

// UDP datagrams over IPv4 through the system's socket interface: the one
// place where POSIX and Windows sockets differ.

#include <cstdint>
#include <string>

namespace smsconf {

// An IPv4 address and port, both in host order.
struct Endpoint {
  std::uint32_t Address = 0;
  std::uint16_t Port = 0;
  bool operator==(const Endpoint&) const = default;
};

inline constexpr std::uint32_t LoopbackAddress = 0x7F000001;  // 127.0.0.1
inline constexpr std::uint32_t AnyAddress = 0;                // every local address
inline constexpr std::uint32_t NoAddress = 0xFFFFFFFF;        // what an unparsable address becomes

// Keeps the system's socket library started while it lives: Winsock must be
// started before the first socket and cleaned up after the last one, once
// for each owner that starts it. Elsewhere there is nothing to start.
class SocketLibrary {
 public:
  SocketLibrary();
  ~SocketLibrary();
  SocketLibrary(const SocketLibrary&) = delete;
  SocketLibrary& operator=(const SocketLibrary&) = delete;

 private:
  bool Started = false;
};

// A dotted a.b.c.d address; false for anything else.
bool ParseIpv4(const std::string& text, std::uint32_t& address);

// The reason of the last failed socket call, in the system's words.
std::string SocketErrorText();

// What UdpSocket::Open returns; CRPCInterface::Open hands these on.
enum SocketOpenResult : int {
  SocketOpened = 0,
  SocketNotCreated = -1,
  SocketNotNonBlocking = -2,
  SocketNotBound = -3,
};

// A non-blocking UDP socket; closed when it goes.
class UdpSocket {
 public:
  UdpSocket() = default;
  ~UdpSocket() { Close(); }
  UdpSocket(const UdpSocket&) = delete;
  UdpSocket& operator=(const UdpSocket&) = delete;

  // SocketOpened: bound to `local` (port 0: one the system picks); else
  // the step that failed. Closes first.
  int Open(const Endpoint& local);
  void Close();
  std::uint16_t LocalPort() const;  // 0 when unknown
  // This end as `peer` sees it: the bound address, or for a socket bound to
  // every address the one the system's routes send from towards `peer`;
  // AnyAddress when that cannot be told. Sends nothing.
  Endpoint LocalEndpointTowards(const Endpoint& peer) const;

  // The socket layer's result: bytes sent, or -1.
  int SendTo(const Endpoint& to, const std::uint8_t* data, int length) const;
  // One datagram from anyone: its byte count, or -1 when nothing is waiting
  // or the receive failed.
  int ReceiveFrom(std::uint8_t* buffer, int capacity, Endpoint& sender) const;
  // Sleeps until a datagram is waiting or the time is up; true when one is.
  // Without a socket it just sleeps.
  bool WaitReadable(int milliseconds) const;

 private:
  static constexpr std::intptr_t Closed = -1;
  std::intptr_t Handle = Closed;
};

}  // namespace smsconf
