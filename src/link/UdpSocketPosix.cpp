#include "link/UdpSocket.h"

#include "link/SocketAddress.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace smsconf {

SocketLibrary::SocketLibrary() = default;
SocketLibrary::~SocketLibrary() = default;

std::string SocketErrorText() { return std::strerror(errno); }

int UdpSocket::Open(const Endpoint& local) {
  Close();
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
  if (fd == -1) return SocketNotCreated;
  Handle = fd;
  const int flags = ::fcntl(fd, F_GETFL, 0);
  if (flags == -1 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == -1) return SocketNotNonBlocking;
  const sockaddr_in address = SocketAddress(local);
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) return SocketNotBound;
  return SocketOpened;
}

void UdpSocket::Close() {
  if (Handle == Closed) return;
  ::close(static_cast<int>(Handle));
  Handle = Closed;
}

std::uint16_t UdpSocket::LocalPort() const {
  sockaddr_in local{};
  socklen_t size = sizeof local;
  if (::getsockname(static_cast<int>(Handle), reinterpret_cast<sockaddr*>(&local), &size) != 0) return 0;
  return ntohs(local.sin_port);
}

Endpoint UdpSocket::LocalEndpointTowards(const Endpoint& peer) const {
  sockaddr_in local{};
  socklen_t size = sizeof local;
  if (::getsockname(static_cast<int>(Handle), reinterpret_cast<sockaddr*>(&local), &size) != 0) return {};
  Endpoint end = EndpointOf(local);
  if (end.Address != AnyAddress) return end;
  // Connecting a UDP socket only picks the route.
  const int probe = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
  if (probe == -1) return end;
  const sockaddr_in to = SocketAddress(peer);
  sockaddr_in chosen{};
  size = sizeof chosen;
  if (::connect(probe, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0 &&
      ::getsockname(probe, reinterpret_cast<sockaddr*>(&chosen), &size) == 0)
    end.Address = EndpointOf(chosen).Address;
  ::close(probe);
  return end;
}

int UdpSocket::SendTo(const Endpoint& to, const std::uint8_t* data, int length) const {
  const sockaddr_in address = SocketAddress(to);
  return static_cast<int>(::sendto(static_cast<int>(Handle), data, static_cast<std::size_t>(std::max(length, 0)), 0,
                                   reinterpret_cast<const sockaddr*>(&address), sizeof address));
}

int UdpSocket::ReceiveFrom(std::uint8_t* buffer, int capacity, Endpoint& sender) const {
  sockaddr_in from{};
  socklen_t size = sizeof from;
  const ssize_t received =
      ::recvfrom(static_cast<int>(Handle), buffer, static_cast<std::size_t>(std::max(capacity, 0)), MSG_DONTWAIT,
                 reinterpret_cast<sockaddr*>(&from), &size);
  if (received < 0) return -1;
  sender = EndpointOf(from);
  return static_cast<int>(received);
}

bool UdpSocket::WaitReadable(int milliseconds) const {
  pollfd watched{static_cast<int>(Handle), POLLIN, 0};
  // poll() ignores a negative descriptor and just sleeps.
  return ::poll(&watched, 1, milliseconds) > 0;
}

}  // namespace smsconf
