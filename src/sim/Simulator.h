#pragma once

// A network gateway with one or more units behind it, as a real UDP peer on
// the local machine: it answers the gateway information request and passes
// each Modbus frame to the simulated unit it is addressed to; a frame for no
// unit behind it goes unanswered, as on a real serial line. Faults (lost,
// late, doubled, stale or foreign replies, a busy or uncooperative unit) can
// be switched on one by one, for the gateway or for one unit, to exercise
// the client.

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
#include "trace/WireTrace.h"

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

  // The addresses of the units behind the gateway, in the order given.
  std::vector<std::uint8_t> UnitAddresses() const;
  // Bytes written from the load address upward; gaps read as 0xFF. Without
  // a unit: the first one's; empty for a unit that is not there.
  std::vector<std::uint8_t> ReceivedImage() const;
  std::vector<std::uint8_t> ReceivedImage(std::uint8_t unit) const;
  // Writes ReceivedImage(unit) to `path` as an export writes its files;
  // false, and the reason in error, when it cannot.
  bool SaveImage(const std::string& path, std::string* error = nullptr) const;
  bool SaveImage(std::uint8_t unit, const std::string& path, std::string* error = nullptr) const;
  // Address of every accepted 0x34 write, in order.
  std::vector<std::uint32_t> BlockAddresses() const;
  std::vector<std::uint32_t> BlockAddresses(std::uint8_t unit) const;
  // How often a loading went on after loading requests to another unit of
  // this gateway had come in since it began: two loadings shared the line.
  unsigned Overlaps() const { return OverlapCount; }
  // The most replies that ever waited for their delay at once; never more
  // than MaxPendingReplies.
  std::size_t MostPendingReplies() const { return MostPending; }
  // One line per request and reply, called on the serving thread; set it
  // before Start.
  void SetLog(std::function<void(const std::string&)> sink);
  // Every datagram in and out, and what the simulator did about it, into
  // the wire trace; not owned. Set it before Start.
  void SetTrace(trace::CWireTrace* trace);

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
  struct UnitState {
    explicit UnitState(const UnitOptions& options) : Unit(options) {}
    CSimulatedUnit Unit;  // under StateLock; its Settings() never change
    // The rest touched only by the serving thread.
    std::optional<LoadingSession> Session;
    bool Loading = false;  // from a loading request up to the switch back to run mode
    std::optional<std::uint8_t> InterruptedBy;  // a unit sent loading requests meanwhile
  };

  bool Fail(std::string* error, const std::string& reason);
  bool OpenSocket(UdpSocket& socket, const Endpoint& local, std::string* error);
  void CloseSockets();
  void WakeServer();

  void Serve(std::stop_token stop);
  int PollTimeout() const;
  void ReceiveWaiting(Bytes& buffer);
  void HandleDatagram(const Bytes& datagram, const Endpoint& sender);
  void HandleGatewayInfo(const Bytes& datagram, const Endpoint& sender);
  void HandleModbus(const Bytes& datagram, const Endpoint& sender);
  Bytes GatewayInfoBlock() const;
  UnitState* FindUnit(std::uint8_t address);
  const UnitState* FindUnit(std::uint8_t address) const;
  std::string Tag(const UnitState& unit) const;
  void WatchOverlap(UnitState& unit, std::uint8_t function);
  bool RefusedAsBusy(UnitState& unit, std::uint8_t function, const Endpoint& sender);
  void FollowSession(UnitState& unit, const Frame& request, const Frame& reply, const Endpoint& sender);

  bool DropThisRequest(const UnitOptions& unit);
  bool DropThisReply(const UnitOptions& unit);
  bool RandomDrop(const UnitOptions& unit);
  void ScheduleReply(const Bytes& request, const Endpoint& to, const Bytes& payload, const UnitOptions& unit,
                     const std::string& tag = {});
  void QueueReply(PendingReply pending);
  void SendDueReplies();
  void Send(const Datagram& datagram, const Endpoint& to);
  void Log(const std::string& line) const;
  void Tell(const std::string& line) const;
  void Ignore(const std::string& line, const std::string& why) const;
  Endpoint LocalEnd(const Endpoint& peer, bool foreign);

  const SimulatorOptions Options;
  std::function<void(const std::string&)> Sink;
  trace::CWireTrace* Trace = nullptr;
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
  std::optional<std::pair<std::uint32_t, std::uint32_t>> TracedLocal;  // a client's address, and this end's towards it
  std::deque<PendingReply> Pending;
  std::size_t Overflowed = 0;  // oldest replies dropped since the last line about it
  Clock::time_point NextOverflowLine{};

  // Read by other threads while the serving thread runs.
  std::atomic<std::size_t> MostPending{0};
  std::atomic<unsigned> OverlapCount{0};
  mutable std::mutex StateLock;
  std::vector<UnitState> Units;
};

}  // namespace smsconf::sim
