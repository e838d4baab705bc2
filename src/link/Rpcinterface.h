#pragma once

// Request/reply exchanges with the network gateway over UDP. Each request is
// one datagram with a five-byte header carrying a sequence number; the reply
// carries the same number behind a four-byte header.

#include <atomic>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "link/Parseip.h"
#include "link/UdpSocket.h"

namespace smsconf {

// The growable byte buffer that carries request and reply payloads.
using MemoryStream = std::vector<std::uint8_t>;

// The millisecond tick of the steady clock, cut to 32 bits: it may wrap, so
// intervals are taken as unsigned differences.
std::uint32_t MillisecondTick();

// Gateway datagram layout.
inline constexpr std::uint8_t RpcRequestMark0 = 0x21;
inline constexpr std::uint8_t RpcRequestMark1 = 0xAB;
inline constexpr std::uint8_t RpcReplyMark0 = 0x15;
inline constexpr std::uint8_t RpcReplyMark1 = 0xA1;
inline constexpr int RpcRequestHeaderSize = 5;   // marks, sequence lo/hi, command
inline constexpr int RpcReplyHeaderSize = 4;     // marks, sequence lo/hi
inline constexpr int RpcCommandBits = 0x1F;      // command byte bits 0..4
inline constexpr int RpcChannelShift = 5;        // channel in bits 5..7

// Gateway command codes.
inline constexpr std::uint8_t RpcCmdGatewayInfo = 0;  // the gateway's own information, no payload
inline constexpr std::uint8_t RpcCmdModbus = 7;       // payload is one Modbus RTU frame

// One send buffer and one receive buffer of this size per transport.
inline constexpr int RpcBufferSize = 65536;
inline constexpr int RpcMaxDatagram = RpcBufferSize - 1;  // at most this many bytes per receive
inline constexpr int RpcMaxRequestPayload = RpcBufferSize - RpcRequestHeaderSize;

// Gateway information block (payload of the reply to command 0).
inline constexpr int GatewayInfoHeadOffset = 1;
inline constexpr int GatewayInfoIpOffset = 5;
inline constexpr int GatewayInfoExtraOffset = 9;
inline constexpr int GatewayInfoTextOffset = 11;
inline constexpr int GatewayInfoTextSize = 16;
inline constexpr int GatewayInfoSize = GatewayInfoTextOffset + GatewayInfoTextSize;  // 27

struct GatewayInfo {
  std::uint8_t Head[4];       // not interpreted
  std::uint8_t IpAddress[4];  // the gateway's IP address, a.b.c.d order
  std::uint8_t Extra[2];      // not interpreted
  char InfoText[GatewayInfoTextSize];  // NUL in its last character
};

// What Request, ModbusRequest and ReadGatewayInfo return; every operation
// of the Modbus client hands the same on.
enum RpcResult : int {
  RpcOk = 0,         // a matching reply came
  RpcNoReply = -1,   // no matching reply after every try
  RpcAborted = -2,   // stopped by Abort
};
// What Open returns when the address text is no address; otherwise it
// returns what UdpSocket::Open does, SocketOpened being RpcOk.
inline constexpr int RpcBadAddress = -4;

// Told of every datagram a transport sends and takes in, and of how each
// try's wait ends; the wire trace is one. Called on the thread that runs
// the request, in the order of the events. None of them may throw.
class RpcObserver {
 public:
  // Why a datagram that came in was not taken as the reply.
  enum class Ignored {
    LeftOver,        // waiting before the request went out: an earlier exchange's
    NotFromGateway,  // from another address or port than the gateway's
    NotAReply,       // shorter than a reply header, or without the reply marks
    OtherSequence,   // a reply to another request
  };
  using Bytes = std::span<const std::uint8_t>;

  virtual ~RpcObserver() = default;
  // `attempt` counts from 1 up to `tries`.
  virtual void Sent(const Endpoint& local, const Endpoint& to, Bytes datagram, int attempt, int tries) = 0;
  // `why` is empty for the reply.
  virtual void Received(const Endpoint& local, const Endpoint& from, Bytes datagram, std::optional<Ignored> why) = 0;
  virtual void TimedOut(std::uint16_t sequence, std::uint32_t timeoutMs, int attempt, int tries) = 0;
  virtual void Aborted(std::uint16_t sequence) = 0;
};

class CRPCInterface {
 public:
  CRPCInterface();
  virtual ~CRPCInterface();
  CRPCInterface(const CRPCInterface&) = delete;
  CRPCInterface& operator=(const CRPCInterface&) = delete;

  UdpSocket Socket;          // closed when there is none
  CParseIP Remote;           // where every datagram goes, set by Open
  std::uint8_t Channel = 0;  // bits 5..7 of every command byte
  std::string AddressText;   // a.b.c.d or a.b.c.d:port, parsed by Open
  int Tries = 10;            // sends per request
  std::uint32_t Timeout = 100;  // milliseconds to wait for the reply after each send
  std::atomic<bool> Abort{false};  // set from another thread to stop a running request
  RpcObserver* Observer = nullptr;  // not owned; none: nothing is told, and nothing spent on it

  // RpcOk = ready; RpcBadAddress = AddressText is no address; else the
  // SocketOpenResult of the step that failed. Always closes first.
  int Open();
  void Close();

  // One datagram to the gateway; the socket layer's result.
  int SendDatagram(const std::uint8_t* buffer, int length);
  // One non-blocking receive from anyone: the byte count, or -1 when nothing
  // is waiting or the receive failed.
  int ReceiveDatagram(std::uint8_t* buffer, int capacity);

  // Sends the request up to Tries times, waiting Timeout ms for the reply
  // after each send: an RpcResult; with RpcOk the payload is in reply, if
  // given.
  int Request(std::uint8_t command, const MemoryStream* request, MemoryStream* reply);
  int ModbusRequest(const MemoryStream& request, MemoryStream& reply);
  // Clears info, then fills it from the gateway's answer to command 0.
  int ReadGatewayInfo(GatewayInfo& info);

  // Sets the process-wide sequence counter; each request uses its low 16
  // bits and then adds 1.
  static void SetSequence(std::uint32_t value);

 private:
  Endpoint Gateway() const;
  std::optional<RpcObserver::Ignored> WhyNotTheReply(const Endpoint& sender, const Endpoint& gateway, int length) const;
  int WaitForReply(MemoryStream* reply);
  void DropLeftOver();
  const Endpoint& LocalEnd();

  std::vector<std::uint8_t> SendBuffer;
  std::vector<std::uint8_t> ReceiveBuffer;
  std::optional<Endpoint> TracedLocal;  // this end as the observer is told it; found on first use after Open

  static std::atomic<std::uint32_t> Sequence;
};

}  // namespace smsconf
