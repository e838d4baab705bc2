#include "sim/Simulator.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <optional>

#include "files/AtomicFile.h"
#include "link/Modbus.h"
#include "link/Rpcinterface.h"

namespace smsconf::sim {

namespace {

// How long an idle gateway waits for datagrams at a time. Stop wakes it at
// once with a datagram of its own, so this only bounds a lost wake-up, and
// fifty idle gateways cost next to nothing.
constexpr int IdleWaitMs = 500;
// Datagrams taken per wake, so that a flood cannot hold off Stop.
constexpr int MaxDatagramsPerWake = 256;

// A flood that overflows the queue of delayed replies is told about at most
// this often, not once per datagram.
constexpr std::chrono::seconds OverflowLineInterval{1};

// Not interpreted by the client: a tag and a version, and two spare bytes.
constexpr std::array<std::uint8_t, 4> GatewayHead = {'G', 'W', 1, 0};
constexpr std::array<std::uint8_t, 2> GatewayExtra = {0, 0};

std::string Hex(const std::vector<std::uint8_t>& bytes) {
  std::string text;
  text.reserve(bytes.size() * 3);
  char digits[4];
  for (std::uint8_t byte : bytes) {
    std::snprintf(digits, sizeof digits, "%02X", byte);
    if (!text.empty()) text += ' ';
    text += digits;
  }
  return text;
}

std::string FunctionText(std::uint8_t unit, std::uint8_t function) {
  char text[32];
  std::snprintf(text, sizeof text, "unit %u fn 0x%02X", unit, function);
  return text;
}

std::string EndpointText(const Endpoint& endpoint) {
  char text[32];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u:%u", endpoint.Address >> 24, endpoint.Address >> 16 & 0xFF,
                endpoint.Address >> 8 & 0xFF, endpoint.Address & 0xFF, endpoint.Port);
  return text;
}

std::vector<std::uint8_t> ReplyDatagram(std::uint16_t sequence, const std::vector<std::uint8_t>& payload) {
  std::vector<std::uint8_t> datagram;
  datagram.reserve(RpcReplyHeaderSize + payload.size());
  datagram.push_back(RpcReplyMark0);
  datagram.push_back(RpcReplyMark1);
  datagram.push_back(static_cast<std::uint8_t>(sequence & 0xFF));
  datagram.push_back(static_cast<std::uint8_t>(sequence >> 8));
  datagram.insert(datagram.end(), payload.begin(), payload.end());
  return datagram;
}

std::uint16_t RequestSequence(const std::vector<std::uint8_t>& request) {
  return static_cast<std::uint16_t>(request[2] | request[3] << 8);
}

// The requests of a loading, all but the identification: each changes the
// unit's mode or memory.
bool IsLoadingRequest(std::uint8_t function) {
  return function == MbEnterBoot || function == MbEnterConfig || function == MbWriteBlock || function == MbFinish ||
         function == MbEnterRun;
}

std::vector<UnitOptions> UnitsOf(const SimulatorOptions& options) {
  if (options.Units.empty()) return {options};
  return options.Units;
}

}  // namespace

CSimulator::CSimulator(SimulatorOptions options)
    : Options(std::move(options)), Random(Options.Seed) {
  for (const UnitOptions& unit : UnitsOf(Options)) Units.emplace_back(unit);
}

CSimulator::~CSimulator() { Stop(); }

bool CSimulator::Fail(std::string* error, const std::string& reason) {
  if (error) *error = reason;
  return false;
}

bool CSimulator::Start(std::string* error) {
  if (Thread.joinable()) return Fail(error, "the simulator is already running");
  for (auto unit = Units.begin(); unit != Units.end(); ++unit)
    if (std::any_of(Units.begin(), unit, [&](const UnitState& earlier) {
          return earlier.Unit.Settings().UnitAddress == unit->Unit.Settings().UnitAddress;
        }))
      return Fail(error, "unit " + std::to_string(unit->Unit.Settings().UnitAddress) + " is listed twice");
  std::uint32_t address = 0;
  if (!ParseIpv4(Options.ListenAddress, address)) return Fail(error, "bad listen address " + Options.ListenAddress);
  if (!OpenSocket(Socket, {address, Options.Port}, error)) return false;
  BoundPort = Socket.LocalPort();
  if (Options.ForeignPortReplies) {
    if (!OpenSocket(ForeignSocket, {address, 0}, error)) {
      CloseSockets();
      return false;
    }
    ForeignPort = ForeignSocket.LocalPort();
  }
  Thread = std::jthread([this](std::stop_token stop) { Serve(stop); });
  return true;
}

bool CSimulator::OpenSocket(UdpSocket& socket, const Endpoint& local, std::string* error) {
  switch (socket.Open(local)) {
    case SocketOpened: return true;
    case SocketNotCreated: return Fail(error, "cannot create a UDP socket: " + SocketErrorText());
    default:
      return Fail(error, "cannot bind " + Options.ListenAddress + ":" + std::to_string(local.Port) + ": " +
                             SocketErrorText());
  }
}

void CSimulator::Stop() {
  if (Thread.joinable()) {
    Thread.request_stop();
    WakeServer();
    Thread.join();
  }
  Pending.clear();
  CloseSockets();
}

void CSimulator::WakeServer() {
  std::uint32_t address = LoopbackAddress;
  ParseIpv4(Options.ListenAddress, address);
  if (address == AnyAddress) address = LoopbackAddress;
  const std::uint8_t nothing = 0;
  Socket.SendTo({address, BoundPort}, &nothing, 0);
}

void CSimulator::CloseSockets() {
  Socket.Close();
  ForeignSocket.Close();
}

std::uint16_t CSimulator::Port() const { return BoundPort; }

std::vector<std::uint8_t> CSimulator::UnitAddresses() const {
  std::vector<std::uint8_t> addresses;
  for (const UnitState& unit : Units) addresses.push_back(unit.Unit.Settings().UnitAddress);
  return addresses;
}

std::vector<std::uint8_t> CSimulator::ReceivedImage() const {
  return ReceivedImage(Units.front().Unit.Settings().UnitAddress);
}

std::vector<std::uint8_t> CSimulator::ReceivedImage(std::uint8_t address) const {
  std::lock_guard lock(StateLock);
  const UnitState* unit = FindUnit(address);
  return unit != nullptr ? unit->Unit.ReceivedImage() : std::vector<std::uint8_t>{};
}

bool CSimulator::SaveImage(const std::string& path, std::string* error) const {
  return SaveImage(Units.front().Unit.Settings().UnitAddress, path, error);
}

bool CSimulator::SaveImage(std::uint8_t unit, const std::string& path, std::string* error) const {
  const std::vector<std::uint8_t> image = ReceivedImage(unit);
  try {
    WriteFileAtomically(path, {reinterpret_cast<const char*>(image.data()), image.size()});
    return true;
  } catch (const std::exception& e) {
    if (error != nullptr) *error = e.what();
    return false;
  }
}

std::vector<std::uint32_t> CSimulator::BlockAddresses() const {
  return BlockAddresses(Units.front().Unit.Settings().UnitAddress);
}

std::vector<std::uint32_t> CSimulator::BlockAddresses(std::uint8_t address) const {
  std::lock_guard lock(StateLock);
  const UnitState* unit = FindUnit(address);
  return unit != nullptr ? unit->Unit.BlockAddresses() : std::vector<std::uint32_t>{};
}

CSimulator::UnitState* CSimulator::FindUnit(std::uint8_t address) {
  const auto found = std::ranges::find_if(Units, [&](const UnitState& u) { return u.Unit.Settings().UnitAddress == address; });
  return found != Units.end() ? &*found : nullptr;
}

const CSimulator::UnitState* CSimulator::FindUnit(std::uint8_t address) const {
  return const_cast<CSimulator*>(this)->FindUnit(address);
}

// Lines about one unit name it when there are several.
std::string CSimulator::Tag(const UnitState& unit) const {
  return Units.size() > 1 ? " (unit " + std::to_string(unit.Unit.Settings().UnitAddress) + ")" : std::string();
}

void CSimulator::SetLog(std::function<void(const std::string&)> sink) { Sink = std::move(sink); }

void CSimulator::SetTrace(trace::CWireTrace* trace) { Trace = trace; }

// This end as the client sees it, looked up only for the trace: the
// listening address, or the one the routes pick towards the client.
Endpoint CSimulator::LocalEnd(const Endpoint& peer, bool foreign) {
  if (!TracedLocal || TracedLocal->first != peer.Address)
    TracedLocal = {peer.Address, Socket.LocalEndpointTowards(peer).Address};
  return {TracedLocal->second, foreign ? ForeignPort : BoundPort.load()};
}

void CSimulator::Serve(std::stop_token stop) {
  Bytes buffer(RpcBufferSize);
  while (!stop.stop_requested()) {
    if (Socket.WaitReadable(PollTimeout()) && !stop.stop_requested()) ReceiveWaiting(buffer);
    SendDueReplies();
  }
}

// Wakes for the next delayed reply.
int CSimulator::PollTimeout() const {
  if (Pending.empty()) return IdleWaitMs;
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(Pending.front().Due - Clock::now());
  return static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(left.count(), 0, IdleWaitMs));
}

void CSimulator::ReceiveWaiting(Bytes& buffer) {
  for (int taken = 0; taken < MaxDatagramsPerWake; ++taken) {
    Endpoint sender;
    const int length = Socket.ReceiveFrom(buffer.data(), static_cast<int>(buffer.size()), sender);
    if (length < 0) return;  // nothing more waiting
    // Stop's wake-up, from this very socket: nothing to serve or to trace.
    if (length == 0 && sender.Port == BoundPort) return;
    if (Trace != nullptr)
      Trace->Datagram(trace::CWireTrace::Direction::In, LocalEnd(sender, false), sender,
                      {buffer.data(), static_cast<std::size_t>(length)});
    HandleDatagram(Bytes(buffer.begin(), buffer.begin() + length), sender);
    SendDueReplies();
  }
}

void CSimulator::HandleDatagram(const Bytes& datagram, const Endpoint& sender) {
  if (datagram.size() < static_cast<std::size_t>(RpcRequestHeaderSize) ||
      datagram[0] != RpcRequestMark0 || datagram[1] != RpcRequestMark1) {
    return Ignore("<- " + Hex(datagram), "not a gateway request");
  }
  const unsigned command = datagram[4] & RpcCommandBits;
  if (command == RpcCmdGatewayInfo)
    HandleGatewayInfo(datagram, sender);
  else if (command == RpcCmdModbus)
    HandleModbus(datagram, sender);
  else
    Ignore("<- " + Hex(datagram), "command " + std::to_string(command));
}

void CSimulator::HandleGatewayInfo(const Bytes& datagram, const Endpoint& sender) {
  Log("<- " + Hex(datagram) + " gateway info");
  if (DropThisRequest(Options)) {
    Tell("drop request");
    return;
  }
  ScheduleReply(datagram, sender, GatewayInfoBlock(), Options);
}

void CSimulator::HandleModbus(const Bytes& datagram, const Endpoint& sender) {
  const Frame frame(datagram.begin() + RpcRequestHeaderSize, datagram.end());
  const std::string line = "<- " + Hex(datagram);
  switch (CSimulatedUnit::CheckIntact(frame)) {
    case FrameVerdict::TooShort: return Ignore(line, "short frame");
    case FrameVerdict::BadCrc: return Ignore(line, "bad CRC");
    default: break;
  }
  UnitState* unit = FindUnit(frame[0]);
  if (unit == nullptr) return Ignore(line + " " + FunctionText(frame[0], frame[1]) + ",", "not ours");
  Log(line + " " + FunctionText(frame[0], frame[1]));
  WatchOverlap(*unit, frame[1]);
  const UnitOptions& settings = unit->Unit.Settings();
  if (DropThisRequest(settings)) {
    Tell("drop request" + Tag(*unit));
    return;
  }
  if (RefusedAsBusy(*unit, frame[1], sender)) {
    Tell("busy: " + (Units.size() > 1 ? "unit " + std::to_string(settings.UnitAddress) : "the unit") +
        " is loading for " + EndpointText(unit->Session->Client));
    return ScheduleReply(datagram, sender, unit->Unit.Busy(frame[1]), settings, Tag(*unit));
  }
  std::optional<Frame> reply;
  {
    std::lock_guard lock(StateLock);
    reply = unit->Unit.Answer(frame);
  }
  if (!reply) {
    Tell("unit silent" + Tag(*unit));
    return;
  }
  FollowSession(*unit, frame, *reply, sender);
  ScheduleReply(datagram, sender, *reply, settings, Tag(*unit));
}

// The units behind one gateway share its serial line, so a client must load
// them one after another. A loading that was aborted or failed leaves its
// unit in configuration-loading mode for good, so another unit's loading
// proves nothing by itself: two loadings overlapped when one goes on after
// another unit was sent loading requests since it began. A switch into BOOT
// begins a loading afresh.
void CSimulator::WatchOverlap(UnitState& unit, std::uint8_t function) {
  if (!IsLoadingRequest(function)) return;
  const std::uint8_t address = unit.Unit.Settings().UnitAddress;
  if (function == MbEnterBoot) unit.InterruptedBy.reset();
  if (unit.InterruptedBy) {
    ++OverlapCount;
    Tell("overlap: " + FunctionText(address, function) + " goes on with a loading that unit " +
        std::to_string(*unit.InterruptedBy) + "'s loading requests interrupted");
    unit.InterruptedBy.reset();
  }
  unit.Loading = function != MbEnterRun;
  for (UnitState& other : Units)
    if (&other != &unit && other.Loading && !other.InterruptedBy) other.InterruptedBy = address;
}

// One loading at a time: from a client's switch into configuration-loading
// mode until its switch back to run mode, or its silence, every other
// client's request is refused as busy, so two tools cannot mix their images.
// Asking who the unit is changes nothing and is always answered.
bool CSimulator::RefusedAsBusy(UnitState& unit, std::uint8_t function, const Endpoint& sender) {
  std::optional<LoadingSession>& session = unit.Session;
  if (!session) return false;
  const Clock::time_point now = Clock::now();
  if (now - session->Heard > Options.SessionSilence) {
    Tell("loading session of " + EndpointText(session->Client) + " ended: silent for " +
        std::to_string(Options.SessionSilence.count()) + " ms" + Tag(unit));
    session.reset();
    return false;
  }
  if (session->Client == sender) {
    session->Heard = now;
    return false;
  }
  return function != MbReportSlaveId;
}

void CSimulator::FollowSession(UnitState& unit, const Frame& request, const Frame& reply, const Endpoint& sender) {
  std::optional<LoadingSession>& session = unit.Session;
  if (reply[1] != request[1]) return;  // an exception reply switches nothing
  if (request[1] == MbEnterConfig && !session && Options.SessionSilence.count() > 0) {
    session = LoadingSession{sender, Clock::now()};
    Tell("loading session of " + EndpointText(sender) + " begins" + Tag(unit));
  } else if (request[1] == MbEnterRun && session) {
    Tell("loading session of " + EndpointText(sender) + " ended: run mode" + Tag(unit));
    session.reset();
  }
}

CSimulator::Bytes CSimulator::GatewayInfoBlock() const {
  Bytes block(GatewayInfoSize, 0);
  std::copy(GatewayHead.begin(), GatewayHead.end(), block.begin() + GatewayInfoHeadOffset);
  std::copy(Options.GatewayIp.begin(), Options.GatewayIp.end(), block.begin() + GatewayInfoIpOffset);
  std::copy(GatewayExtra.begin(), GatewayExtra.end(), block.begin() + GatewayInfoExtraOffset);
  const std::size_t textLength = std::min<std::size_t>(Options.GatewayInfoText.size(), GatewayInfoTextSize);
  std::copy_n(Options.GatewayInfoText.begin(), textLength, block.begin() + GatewayInfoTextOffset);
  return block;
}

bool CSimulator::DropThisRequest(const UnitOptions& unit) {
  ++RequestsSeen;
  const bool nth = Options.DropEveryNthRequest != 0 && RequestsSeen % Options.DropEveryNthRequest == 0;
  const bool random = RandomDrop(unit);
  return nth || random;
}

bool CSimulator::DropThisReply(const UnitOptions& unit) {
  ++RepliesSeen;
  const bool nth = Options.DropEveryNthReply != 0 && RepliesSeen % Options.DropEveryNthReply == 0;
  const bool random = RandomDrop(unit);
  return nth || random;
}

// Draws only when a rate is set, so that the other settings leave the
// sequence of random numbers alone.
bool CSimulator::RandomDrop(const UnitOptions& unit) {
  if (unit.DropRate <= 0.0) return false;
  const double chance = static_cast<double>(Random() >> 11) * 0x1.0p-53;  // [0, 1)
  return chance < unit.DropRate;
}

void CSimulator::ScheduleReply(const Bytes& request, const Endpoint& to, const Bytes& payload, const UnitOptions& unit,
                               const std::string& tag) {
  if (DropThisReply(unit)) {
    Tell("drop reply" + tag);
    return;
  }
  const std::uint16_t sequence = RequestSequence(request);
  const Bytes reply = ReplyDatagram(sequence, payload);
  PendingReply pending{Clock::now() + unit.ReplyDelay, to, {}};
  // The answer to an earlier request, as if it had been held up on the way.
  if (Options.StaleReplies)
    pending.Datagrams.push_back(
        {ReplyDatagram(static_cast<std::uint16_t>(sequence - 1), LastReplyPayload), false, " (stale)"});
  if (Options.ForeignPortReplies)
    pending.Datagrams.push_back({reply, true, " (from port " + std::to_string(ForeignPort) + ")"});
  pending.Datagrams.push_back({reply, false, tag});
  if (Options.DuplicateReplies) pending.Datagrams.push_back({reply, false, " (duplicate)"});
  LastReplyPayload = payload;
  QueueReply(std::move(pending));
}

void CSimulator::QueueReply(PendingReply pending) {
  if (Pending.size() == MaxPendingReplies) {
    Pending.pop_front();
    ++Overflowed;
    if (const Clock::time_point now = Clock::now(); now >= NextOverflowLine) {
      Tell("more than " + std::to_string(MaxPendingReplies) + " replies wait for their delay: dropped the " +
          std::to_string(Overflowed) + " oldest");
      Overflowed = 0;
      NextOverflowLine = now + OverflowLineInterval;
    }
  }
  // Units of one gateway may answer after different delays.
  const auto later = std::ranges::upper_bound(Pending, pending.Due, {}, &PendingReply::Due);
  Pending.insert(later, std::move(pending));
  MostPending = std::max<std::size_t>(MostPending, Pending.size());
}

// The queue is in due order.
void CSimulator::SendDueReplies() {
  const Clock::time_point now = Clock::now();
  while (!Pending.empty() && Pending.front().Due <= now) {
    for (const Datagram& datagram : Pending.front().Datagrams) Send(datagram, Pending.front().To);
    Pending.pop_front();
  }
}

void CSimulator::Send(const Datagram& datagram, const Endpoint& to) {
  const UdpSocket& socket = datagram.FromForeignPort ? ForeignSocket : Socket;
  // Traced before it goes, so that the trace of a site never shows the
  // request that a reply brought about before the reply itself.
  if (Trace != nullptr)
    Trace->Datagram(trace::CWireTrace::Direction::Out, LocalEnd(to, datagram.FromForeignPort), to, datagram.Content,
                    datagram.Note);
  socket.SendTo(to, datagram.Content.data(), static_cast<int>(datagram.Content.size()));
  Log("-> " + Hex(datagram.Content) + datagram.Note);
}

// A line about what the simulator did, which the trace shows among the
// datagrams.
void CSimulator::Tell(const std::string& line) const {
  Log(line);
  if (Trace != nullptr) Trace->Event(line);
}

void CSimulator::Ignore(const std::string& line, const std::string& why) const {
  Log(line + " " + why + ", ignored");
  if (Trace != nullptr) Trace->Event("ignored: " + why);
}

void CSimulator::Log(const std::string& line) const {
  if (Sink) Sink(line);
}

}  // namespace smsconf::sim
