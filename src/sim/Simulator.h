#pragma once

// A network gateway with one unit behind it, as a real UDP peer on the local
// machine: it answers the gateway information request and passes Modbus
// frames to the simulated unit. Faults (lost, late, doubled, stale or
// foreign replies, a busy or uncooperative unit) can be switched on one by
// one to exercise the client.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <random>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "link/UdpSocket.h"
#include "sim/SimulatedUnit.h"
#include "sim/SimulatorOptions.h"

namespace smsconf::sim {

class CSimulator {
 public:
  // Replies waiting for their delay; under a flood the oldest make room.
  static constexpr std::size_t MaxPendingReplies = 1000;

  explicit CSimulator(SimulatorOptions options);
  ~CSimulator();  // stops and joins
  CSimulator(const CSimulator&) = delete;
  CSimulator& operator=(const CSimulator&) = delete;

  // Binds, then serves on its own thread. False (and the reason in error)
  // when the address is bad, the port is taken, or it already runs.
  bool Start(std::string* error = nullptr);
  // Prompt; safe to call twice. Replies still waiting for their delay are
  // not sent.
  void Stop();
  std::uint16_t Port() const;  // the port actually bound

  // Bytes written from the load address upward; gaps read as 0xFF.
  std::vector<std::uint8_t> ReceivedImage() const;
  // Writes ReceivedImage() to `path` as an export writes its files; false,
  // and the reason in error, when it cannot.
  bool SaveImage(const std::string& path, std::string* error = nullptr) const;
  // Address of every accepted 0x34 write, in order.
  std::vector<std::uint32_t> BlockAddresses() const;
  // The most replies that ever waited for their delay at once; never more
  // than MaxPendingReplies.
  std::size_t MostPendingReplies() const { return MostPending; }
  // One line per request and reply, called on the serving thread; set it
  // before Start.
  void SetLog(std::function<void(const std::string&)> sink);

 private:
  using Clock = std::chrono::steady_clock;
  using Bytes = std::vector<std::uint8_t>;

  struct Datagram {
    Bytes Content;
    bool FromForeignPort = false;
    std::string Note;  // appended to the log line
  };
  struct PendingReply {
    Clock::time_point Due;
    Endpoint To;
    std::vector<Datagram> Datagrams;
  };
  // The client that switched the unit into configuration-loading mode, and
  // when it was last heard.
  struct LoadingSession {
    Endpoint Client;
    Clock::time_point Heard;
  };

  bool Fail(std::string* error, const std::string& reason);
  bool OpenSocket(UdpSocket& socket, const Endpoint& local, std::string* error);
  void CloseSockets();

  void Serve(std::stop_token stop);
  int PollTimeout() const;
  void ReceiveWaiting(Bytes& buffer);
  void HandleDatagram(const Bytes& datagram, const Endpoint& sender);
  void HandleGatewayInfo(const Bytes& datagram, const Endpoint& sender);
  void HandleModbus(const Bytes& datagram, const Endpoint& sender);
  Bytes GatewayInfoBlock() const;
  bool RefusedAsBusy(std::uint8_t function, const Endpoint& sender);
  void FollowSession(const Frame& request, const Frame& reply, const Endpoint& sender);

  bool DropThisRequest();
  bool DropThisReply();
  bool RandomDrop();
  void ScheduleReply(const Bytes& request, const Endpoint& to, const Bytes& payload);
  void QueueReply(PendingReply pending);
  void SendDueReplies();
  void Send(const Datagram& datagram, const Endpoint& to);
  void Log(const std::string& line) const;

  const SimulatorOptions Options;
  std::function<void(const std::string&)> Sink;
  SocketLibrary Sockets;  // started before the sockets open, cleaned up after they close
  UdpSocket Socket;
  UdpSocket ForeignSocket;
  std::uint16_t ForeignPort = 0;
  std::atomic<std::uint16_t> BoundPort{0};
  std::jthread Thread;

  // Touched only by the serving thread.
  std::mt19937_64 Random;
  unsigned RequestsSeen = 0;
  unsigned RepliesSeen = 0;
  Bytes LastReplyPayload;
  std::deque<PendingReply> Pending;
  std::size_t Overflowed = 0;  // oldest replies dropped since the last line about it
  Clock::time_point NextOverflowLine{};
  std::optional<LoadingSession> Session;

  // Read by other threads while the serving thread runs.
  std::atomic<std::size_t> MostPending{0};
  mutable std::mutex StateLock;
  CSimulatedUnit Unit;
};

}  // namespace smsconf::sim
