#pragma once

// The IPv4 socket address that POSIX and Windows sockets share, for the
// UdpSocket sources alone.

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#endif

#include "link/UdpSocket.h"

namespace smsconf {

inline sockaddr_in SocketAddress(const Endpoint& endpoint) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(endpoint.Port);
  address.sin_addr.s_addr = htonl(endpoint.Address);
  return address;
}

// Anything but IPv4 becomes an endpoint that no gateway has.
inline Endpoint EndpointOf(const sockaddr_in& address) {
  if (address.sin_family != AF_INET) return {};
  return {ntohl(address.sin_addr.s_addr), ntohs(address.sin_port)};
}

}  // namespace smsconf
