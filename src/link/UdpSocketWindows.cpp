#include "link/UdpSocket.h"

#include "link/SocketAddress.h"

#include <mswsock.h>
#include <windows.h>

#include <algorithm>
#include <thread>

namespace smsconf {

namespace {

constexpr WORD WinsockVersion = MAKEWORD(2, 2);

SOCKET Native(std::intptr_t handle) { return static_cast<SOCKET>(handle); }

}  // namespace

SocketLibrary::SocketLibrary() {
  WSADATA data{};
  Started = WSAStartup(WinsockVersion, &data) == 0;
}

SocketLibrary::~SocketLibrary() {
  if (Started) WSACleanup();
}

std::string SocketErrorText() {
  char* text = nullptr;
  const DWORD size = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                        FORMAT_MESSAGE_IGNORE_INSERTS,
                                    nullptr, static_cast<DWORD>(WSAGetLastError()), 0,
                                    reinterpret_cast<char*>(&text), 0, nullptr);
  std::string reason = size > 0 ? std::string(text, size) : "error " + std::to_string(WSAGetLastError());
  LocalFree(text);
  while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' || reason.back() == '.')) reason.pop_back();
  return reason;
}

int UdpSocket::Open(const Endpoint& local) {
  Close();
  const SOCKET socket = WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
  if (socket == INVALID_SOCKET) return SocketNotCreated;
  Handle = static_cast<std::intptr_t>(socket);
  u_long nonBlocking = 1;
  if (ioctlsocket(socket, FIONBIO, &nonBlocking) != 0) return SocketNotNonBlocking;
  // A datagram that found no listener would otherwise make the next receive
  // fail with "connection reset", hiding the replies behind it.
  BOOL report = FALSE;
  DWORD returned = 0;
  WSAIoctl(socket, SIO_UDP_CONNRESET, &report, sizeof report, nullptr, 0, &returned, nullptr, nullptr);
  const sockaddr_in address = SocketAddress(local);
  if (bind(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) return SocketNotBound;
  return SocketOpened;
}

void UdpSocket::Close() {
  if (Handle == Closed) return;
  closesocket(Native(Handle));
  Handle = Closed;
}

std::uint16_t UdpSocket::LocalPort() const {
  sockaddr_in local{};
  int size = sizeof local;
  if (getsockname(Native(Handle), reinterpret_cast<sockaddr*>(&local), &size) != 0) return 0;
  return ntohs(local.sin_port);
}

Endpoint UdpSocket::LocalEndpointTowards(const Endpoint& peer) const {
  sockaddr_in local{};
  int size = sizeof local;
  if (getsockname(Native(Handle), reinterpret_cast<sockaddr*>(&local), &size) != 0) return {};
  Endpoint end = EndpointOf(local);
  if (end.Address != AnyAddress) return end;
  // Connecting a UDP socket only picks the route.
  const SOCKET probe = WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
  if (probe == INVALID_SOCKET) return end;
  const sockaddr_in to = SocketAddress(peer);
  sockaddr_in chosen{};
  size = sizeof chosen;
  if (connect(probe, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0 &&
      getsockname(probe, reinterpret_cast<sockaddr*>(&chosen), &size) == 0)
    end.Address = EndpointOf(chosen).Address;
  closesocket(probe);
  return end;
}

int UdpSocket::SendTo(const Endpoint& to, const std::uint8_t* data, int length) const {
  const sockaddr_in address = SocketAddress(to);
  return sendto(Native(Handle), reinterpret_cast<const char*>(data), std::max(length, 0), 0,
                reinterpret_cast<const sockaddr*>(&address), sizeof address);
}

int UdpSocket::ReceiveFrom(std::uint8_t* buffer, int capacity, Endpoint& sender) const {
  sockaddr_in from{};
  int size = sizeof from;
  const int received = recvfrom(Native(Handle), reinterpret_cast<char*>(buffer), std::max(capacity, 0), 0,
                                reinterpret_cast<sockaddr*>(&from), &size);
  if (received < 0) return -1;
  sender = EndpointOf(from);
  return received;
}

bool UdpSocket::WaitReadable(int milliseconds) const {
  // select() refuses an empty set, so a transport without a socket sleeps.
  if (Handle == Closed) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    return false;
  }
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(Native(Handle), &readable);
  timeval wait{milliseconds / 1000, (milliseconds % 1000) * 1000};
  return select(0, &readable, nullptr, nullptr, &wait) > 0;
}

}  // namespace smsconf
