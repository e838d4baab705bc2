#include "link/Rpcinterface.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>

namespace smsconf {

namespace {

using Clock = std::chrono::steady_clock;
using Milliseconds = std::chrono::milliseconds;

constexpr std::uint32_t SequenceSeedModulus = 65535;

// The wait for a reply sleeps in slices of at most this long, so that an
// Abort set by another thread is seen soon without spinning on the socket.
constexpr int WaitSliceMs = 10;


sockaddr_in GatewayEndpoint(const CParseIP& remote) {
  sockaddr_in endpoint{};
  endpoint.sin_family = AF_INET;
  endpoint.sin_port = htons(static_cast<std::uint16_t>(remote.Port));
  if (inet_pton(AF_INET, remote.Address.c_str(), &endpoint.sin_addr) != 1)
    endpoint.sin_addr.s_addr = htonl(INADDR_NONE);
  return endpoint;
}

}  // namespace

std::uint32_t MillisecondTick() {
  const auto since = std::chrono::duration_cast<Milliseconds>(Clock::now().time_since_epoch());
  return static_cast<std::uint32_t>(since.count());
}

std::atomic<std::uint32_t> CRPCInterface::Sequence{0};

CRPCInterface::CRPCInterface()
    : SendBuffer(RpcBufferSize), ReceiveBuffer(RpcBufferSize) {
  Sequence = MillisecondTick() % SequenceSeedModulus;
}

CRPCInterface::~CRPCInterface() { Close(); }

std::uint32_t CRPCInterface::SequenceValue() { return Sequence.load(); }

void CRPCInterface::SetSequence(std::uint32_t value) { Sequence = value; }

int CRPCInterface::Open() {
  Close();
  if (!Remote.Parse(AddressText, RpcDefaultPort)) return -4;
  Socket = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
  if (Socket == -1) return -1;
  const int flags = ::fcntl(Socket, F_GETFL, 0);
  if (flags == -1 || ::fcntl(Socket, F_SETFL, flags | O_NONBLOCK) == -1) return -2;
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_ANY);
  local.sin_port = 0;  // the system picks the local port
  if (::bind(Socket, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) return -3;
  return 0;
}

void CRPCInterface::Close() {
  if (Socket == -1) return;
  ::close(Socket);
  Socket = -1;
}

int CRPCInterface::SendDatagram(const std::uint8_t* buffer, int length) {
  const sockaddr_in gateway = GatewayEndpoint(Remote);
  return static_cast<int>(::sendto(Socket, buffer, static_cast<std::size_t>(std::max(length, 0)), 0,
                                   reinterpret_cast<const sockaddr*>(&gateway), sizeof gateway));
}

int CRPCInterface::ReceiveDatagram(std::uint8_t* buffer, int capacity) {
  sockaddr_in sender{};
  return ReceiveFrom(buffer, capacity, sender);
}

int CRPCInterface::ReceiveFrom(std::uint8_t* buffer, int capacity, sockaddr_in& sender) {
  socklen_t senderSize = sizeof sender;
  const ssize_t received =
      ::recvfrom(Socket, buffer, static_cast<std::size_t>(std::max(capacity, 0)), MSG_DONTWAIT,
                 reinterpret_cast<sockaddr*>(&sender), &senderSize);
  if (received < 0) return -1;
  return static_cast<int>(received);
}

bool CRPCInterface::IsGateway(const sockaddr_in& sender) const {
  const sockaddr_in gateway = GatewayEndpoint(Remote);
  return sender.sin_family == AF_INET && sender.sin_addr.s_addr == gateway.sin_addr.s_addr &&
         sender.sin_port == gateway.sin_port;
}

// A reply answers the request in the send buffer when it carries the reply
// marks and the request's sequence number.
bool CRPCInterface::IsReplyTo(const std::uint8_t* received, int length) const {
  return length >= RpcReplyHeaderSize && received[0] == RpcReplyMark0 &&
         received[1] == RpcReplyMark1 && received[2] == SendBuffer[2] &&
         received[3] == SendBuffer[3];
}

// Sleeps until a datagram is waiting or the time is up; never spins.
bool CRPCInterface::WaitReadable(int milliseconds) {
  pollfd watched{Socket, POLLIN, 0};
  // poll() ignores a negative descriptor and just sleeps, which is what a
  // transport without a socket should do.
  return ::poll(&watched, 1, milliseconds) > 0;
}

// One try's wait: takes every datagram that arrives until the time-out, and
// returns 0 for the matching reply, -2 when Abort is seen, -1 at the end.
int CRPCInterface::WaitForReply(MemoryStream* reply) {
  const Clock::time_point start = Clock::now();
  const Clock::duration timeout = Milliseconds(Timeout);
  std::uint8_t* const received = ReceiveBuffer.data();
  for (;;) {
    const Clock::duration left = timeout - (Clock::now() - start);
    const auto leftMs = std::chrono::ceil<Milliseconds>(left).count();
    WaitReadable(static_cast<int>(std::clamp<decltype(leftMs)>(leftMs, 1, WaitSliceMs)));
    sockaddr_in sender{};
    for (int n; (n = ReceiveFrom(received, RpcMaxDatagram, sender)) >= 0;) {
      // Only the gateway's own address and port can answer; stale replies
      // and datagrams from anywhere else are passed over.
      if (!IsGateway(sender) || !IsReplyTo(received, n)) continue;
      if (reply != nullptr) reply->assign(received + RpcReplyHeaderSize, received + n);
      return 0;
    }
    if (Abort) return -2;
    if (Clock::now() - start > timeout) return -1;
  }
}

int CRPCInterface::Request(std::uint8_t command, const MemoryStream* request, MemoryStream* reply) {
  // Drops one datagram left over from an earlier exchange.
  ReceiveDatagram(ReceiveBuffer.data(), RpcMaxDatagram);

  const std::uint32_t sequence = Sequence.fetch_add(1);
  SendBuffer[0] = RpcRequestMark0;
  SendBuffer[1] = RpcRequestMark1;
  SendBuffer[2] = static_cast<std::uint8_t>(sequence & 0xFFu);
  SendBuffer[3] = static_cast<std::uint8_t>((sequence >> 8) & 0xFFu);
  SendBuffer[4] = static_cast<std::uint8_t>(Channel << RpcChannelShift | command);
  int length = RpcRequestHeaderSize;
  if (request != nullptr && !request->empty()) {
    // A payload that does not fit would go out cut short; it does not go out.
    if (request->size() > static_cast<std::size_t>(RpcMaxRequestPayload)) return -1;
    std::memcpy(SendBuffer.data() + length, request->data(), request->size());
    length += static_cast<int>(request->size());
  }

  for (int attempt = 0; attempt < Tries; ++attempt) {
    SendDatagram(SendBuffer.data(), length);
    const int result = WaitForReply(reply);
    if (result != -1) return result;
  }
  return -1;
}

int CRPCInterface::ModbusRequest(const MemoryStream& request, MemoryStream& reply) {
  return Request(RpcCmdModbus, &request, &reply);
}

namespace {

// Copies a field of the information block as far as the payload reaches;
// the rest of the field keeps its zeros.
template <std::size_t Size, typename Byte>
void TakeField(const MemoryStream& payload, std::size_t offset, Byte (&field)[Size]) {
  if (payload.size() <= offset) return;
  const std::size_t count = std::min(Size, payload.size() - offset);
  std::memcpy(field, payload.data() + offset, count);
}

}  // namespace

int CRPCInterface::ReadGatewayInfo(GatewayInfo& info) {
  info = GatewayInfo{};
  MemoryStream payload;
  const int result = Request(RpcCmdGatewayInfo, nullptr, &payload);
  if (result != 0) return result;
  TakeField(payload, GatewayInfoHeadOffset, info.Head);
  TakeField(payload, GatewayInfoIpOffset, info.IpAddress);
  // The two trailing fields come only with a block that reaches into the text.
  if (payload.size() >= static_cast<std::size_t>(GatewayInfoTextOffset)) {
    TakeField(payload, GatewayInfoExtraOffset, info.Extra);
    TakeField(payload, GatewayInfoTextOffset, info.InfoText);
    info.InfoText[GatewayInfoTextSize - 1] = '\0';
  }
  return 0;
}

}  // namespace smsconf
