#include "link/Rpcinterface.h"

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

void CRPCInterface::SetSequence(std::uint32_t value) { Sequence = value; }

int CRPCInterface::Open() {
  Close();
  TracedLocal.reset();
  if (!Remote.Parse(AddressText, RpcDefaultPort)) return RpcBadAddress;
  // The system picks the local port.
  return Socket.Open(Endpoint{AnyAddress, 0});
}

void CRPCInterface::Close() { Socket.Close(); }

Endpoint CRPCInterface::Gateway() const {
  Endpoint gateway{NoAddress, static_cast<std::uint16_t>(Remote.Port)};
  ParseIpv4(Remote.Address, gateway.Address);
  return gateway;
}

int CRPCInterface::SendDatagram(const std::uint8_t* buffer, int length) {
  return Socket.SendTo(Gateway(), buffer, length);
}

int CRPCInterface::ReceiveDatagram(std::uint8_t* buffer, int capacity) {
  Endpoint sender;
  return Socket.ReceiveFrom(buffer, capacity, sender);
}

// Why a datagram is not the reply to the request in the send buffer;
// nothing when it is. Only the gateway's own address and port can answer;
// stale replies and datagrams from anywhere else are passed over.
std::optional<RpcObserver::Ignored> CRPCInterface::WhyNotTheReply(const Endpoint& sender, const Endpoint& gateway,
                                                                  int length) const {
  using enum RpcObserver::Ignored;
  const std::uint8_t* const received = ReceiveBuffer.data();
  if (sender != gateway) return NotFromGateway;
  if (length < RpcReplyHeaderSize || received[0] != RpcReplyMark0 || received[1] != RpcReplyMark1) return NotAReply;
  if (received[2] != SendBuffer[2] || received[3] != SendBuffer[3]) return OtherSequence;
  return std::nullopt;
}

// The address the system sends from is looked up once per socket, and only
// for an observer.
const Endpoint& CRPCInterface::LocalEnd() {
  if (!TracedLocal) TracedLocal = Socket.LocalEndpointTowards(Gateway());
  return *TracedLocal;
}

// One try's wait: takes every datagram that arrives until the time-out, and
// returns RpcOk for the matching reply, RpcAborted when Abort is seen,
// RpcNoReply at the end. Abort and the clock are looked at after every
// datagram, so that a flood of them holds off neither.
int CRPCInterface::WaitForReply(MemoryStream* reply) {
  const Clock::time_point start = Clock::now();
  const Clock::duration timeout = Milliseconds(Timeout);
  std::uint8_t* const received = ReceiveBuffer.data();
  for (;;) {
    const Clock::duration left = timeout - (Clock::now() - start);
    const auto leftMs = std::chrono::ceil<Milliseconds>(left).count();
    Socket.WaitReadable(static_cast<int>(std::clamp<decltype(leftMs)>(leftMs, 1, WaitSliceMs)));
    const Endpoint gateway = Gateway();
    Endpoint sender;
    int n;
    do {
      n = Socket.ReceiveFrom(received, RpcMaxDatagram, sender);
      if (n >= 0) {
        const std::optional<RpcObserver::Ignored> why = WhyNotTheReply(sender, gateway, n);
        if (Observer != nullptr) Observer->Received(LocalEnd(), sender, {received, static_cast<std::size_t>(n)}, why);
        if (!why) {
          if (reply != nullptr) reply->assign(received + RpcReplyHeaderSize, received + n);
          return RpcOk;
        }
      }
      if (Abort) return RpcAborted;
      if (Clock::now() - start > timeout) return RpcNoReply;
    } while (n >= 0);
  }
}

// Drops one datagram left over from an earlier exchange.
void CRPCInterface::DropLeftOver() {
  Endpoint sender;
  const int n = Socket.ReceiveFrom(ReceiveBuffer.data(), RpcMaxDatagram, sender);
  if (n >= 0 && Observer != nullptr)
    Observer->Received(LocalEnd(), sender, {ReceiveBuffer.data(), static_cast<std::size_t>(n)},
                       RpcObserver::Ignored::LeftOver);
}

int CRPCInterface::Request(std::uint8_t command, const MemoryStream* request, MemoryStream* reply) {
  DropLeftOver();

  const std::uint32_t sequence = Sequence.fetch_add(1);
  SendBuffer[0] = RpcRequestMark0;
  SendBuffer[1] = RpcRequestMark1;
  SendBuffer[2] = static_cast<std::uint8_t>(sequence & 0xFFu);
  SendBuffer[3] = static_cast<std::uint8_t>((sequence >> 8) & 0xFFu);
  SendBuffer[4] = static_cast<std::uint8_t>(Channel << RpcChannelShift | command);
  int length = RpcRequestHeaderSize;
  if (request != nullptr && !request->empty()) {
    // A payload that does not fit would go out cut short; it does not go out.
    if (request->size() > static_cast<std::size_t>(RpcMaxRequestPayload)) return RpcNoReply;
    std::memcpy(SendBuffer.data() + length, request->data(), request->size());
    length += static_cast<int>(request->size());
  }

  const auto sent = static_cast<std::uint16_t>(sequence);
  for (int attempt = 0; attempt < Tries; ++attempt) {
    SendDatagram(SendBuffer.data(), length);
    if (Observer != nullptr)
      Observer->Sent(LocalEnd(), Gateway(), {SendBuffer.data(), static_cast<std::size_t>(length)}, attempt + 1, Tries);
    const int result = WaitForReply(reply);
    if (Observer != nullptr && result == RpcNoReply) Observer->TimedOut(sent, Timeout, attempt + 1, Tries);
    if (Observer != nullptr && result == RpcAborted) Observer->Aborted(sent);
    if (result != RpcNoReply) return result;
  }
  return RpcNoReply;
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
  if (result != RpcOk) return result;
  TakeField(payload, GatewayInfoHeadOffset, info.Head);
  TakeField(payload, GatewayInfoIpOffset, info.IpAddress);
  // The two trailing fields come only with a block that reaches into the text.
  if (payload.size() >= static_cast<std::size_t>(GatewayInfoTextOffset)) {
    TakeField(payload, GatewayInfoExtraOffset, info.Extra);
    TakeField(payload, GatewayInfoTextOffset, info.InfoText);
    info.InfoText[GatewayInfoTextSize - 1] = '\0';
  }
  return RpcOk;
}

}  // namespace smsconf
