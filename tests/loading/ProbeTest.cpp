// The probe against the simulated gateway and unit, and against gateways
// that answer badly or not at all: in process, and as smsconf-cli probe.

#include "loading/Probe.h"

#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <functional>
#include <mutex>
#include <optional>
#include <sstream>
#include <thread>

#include "common/ChildProcess.h"
#include "common/TempDir.h"
#include "common/UdpPeer.h"
#include "link/Modbus.h"
#include "sim/Simulator.h"
#include "text/Cp1251.h"

namespace smsconf {
namespace {

using testing::Bytes;
using Texts = std::vector<std::string>;
using UnitSettings = std::function<void(sim::SimulatorOptions&)>;

// A request as "info" (the gateway's information) or "UNIT/FUNCTION".
std::string Request(const Bytes& datagram) {
  if (datagram.size() < 5) return "short";
  if ((datagram[4] & RpcCommandBits) == RpcCmdGatewayInfo) return "info";
  if (datagram.size() < 7) return "empty frame";
  char text[16];
  std::snprintf(text, sizeof text, "%u/0x%02X", datagram[5], datagram[6]);
  return text;
}

std::uint16_t Port(const testing::UdpPeer& peer) {
  const std::string address = peer.Address();
  return static_cast<std::uint16_t>(std::stoul(address.substr(address.find(':') + 1)));
}

// A simulated gateway and unit on a free loopback port that keeps every
// request it hears.
struct Site {
  explicit Site(const UnitSettings& change) : Gateway([&] {
    sim::SimulatorOptions options;
    options.Port = 0;
    options.GatewayIp = {10, 20, 30, 40};
    options.GatewayInfoText = "GW 7";
    options.Identifier = text::Cp1251("АУ №7");
    if (change) change(options);
    return options;
  }()) {
    Gateway.SetLog([this](const std::string& line) {
      if (!line.starts_with("<- ")) return;
      // The datagram's bytes in hex, up to the first word.
      Bytes datagram;
      std::istringstream words(line.substr(3));
      for (std::string word; words >> word && word.size() == 2 && std::isxdigit(static_cast<unsigned char>(word[0])) && std::isxdigit(static_cast<unsigned char>(word[1]));)
        datagram.push_back(static_cast<std::uint8_t>(std::stoul(word, nullptr, 16)));
      const std::lock_guard lock(Guard);
      Heard.push_back(Request(datagram));
    });
    EXPECT_TRUE(Gateway.Start());
  }
  std::string Address() const { return "127.0.0.1:" + std::to_string(Gateway.Port()); }
  Texts Requests() {
    const std::lock_guard lock(Guard);
    return Heard;
  }

  std::mutex Guard;
  Texts Heard;
  sim::CSimulator Gateway;  // last: stops before what its log writes to goes
};

// Every request that `heard` tells of, up to now: a last request sent from
// elsewhere comes in behind all of them.
Texts HeardSoFar(std::uint16_t port, const std::function<Texts()>& heard) {
  const std::string last = "99/0x11";
  testing::UdpPeer().Send(port, testing::ModbusRequest(0, {99, MbReportSlaveId}));
  for (int wait = 0; wait < 5000; ++wait) {
    if (Texts so_far = heard(); !so_far.empty() && so_far.back() == last) {
      so_far.pop_back();
      return so_far;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return {"no " + last};
}

// The result as lines, as the command line prints them, in UTF-8.
Texts Said(const ProbeResult& result) {
  Texts lines{text::Cp1251ToUtf8(DescribeProbe(result.Gateway))};
  for (const ProbeUnit& unit : result.Units)
    lines.push_back(std::to_string(unit.Unit) + ": " + text::Cp1251ToUtf8(DescribeProbe(unit)));
  return lines;
}

const std::string Answered = "gateway \"GW 7\" at 10.20.30.40";
const std::string NotAsked = "not asked: the gateway did not answer";

TEST(Probe, AsksTheGatewayAndEachUnitAndNothingElse) {
  enum class Peer { Simulator, Silent, ShortReplies };
  const struct {
    const char* Name;
    Peer Gateway;
    std::vector<int> Units;
    Texts Said;
    Texts Heard;  // every request the gateway heard, in order
    UnitSettings Set = {};
    bool AbortFirst = false;   // the transport is aborted before the probe
    int AbortAfterUnit = 0;    // the transport is aborted once this unit is told
  } cases[] = {
      {"one answers, one is silent", Peer::Simulator, {1, 2},
       {Answered, "1: identifier \"АУ №7\"", "2: no reply"}, {"info", "1/0x11", "2/0x11", "2/0x11"}},
      {"no identifier", Peer::Simulator, {1}, {Answered, "1: exception reply (code 1)"}, {"info", "1/0x11"},
       [](auto& o) { o.NoIdentifier = true; }},
      // Unit 0 would be a broadcast.
      {"out of range", Peer::Simulator, {0, 255, 1},
       {Answered, "0: not asked: unit addresses are 1..254", "255: not asked: unit addresses are 1..254",
        "1: identifier \"АУ №7\""}, {"info", "1/0x11"}},
      {"silent gateway", Peer::Silent, {1, 3}, {"no reply from the gateway", "1: " + NotAsked, "3: " + NotAsked},
       {"info", "info"}},
      {"short replies", Peer::ShortReplies, {1}, {"gateway \"\" at 0.0.0.0", "1: invalid reply"}, {"info", "1/0x11"}},
      {"aborted before", Peer::Simulator, {1}, {"aborted", "1: aborted"}, {}, {}, true},
      {"aborted on the way", Peer::Simulator, {1, 2, 3},
       {Answered, "1: identifier \"АУ №7\"", "2: aborted", "3: aborted"}, {"info", "1/0x11", "2/0x11"}, {}, false, 1},
  };
  const SocketLibrary sockets;
  for (const auto& c : cases) {
    std::optional<Site> site;
    std::optional<testing::UdpPeer> peer;
    if (c.Gateway == Peer::Simulator) site.emplace(c.Set);
    if (c.Gateway == Peer::Silent) peer.emplace([](auto&, auto&, auto) {});
    if (c.Gateway == Peer::ShortReplies) peer.emplace(testing::UdpPeer::Answering({0x01, 0x11}));
    CRPCInterface rpc;
    rpc.Abort = c.AbortFirst;
    Texts told;
    const ProbeObserver observer{
        [&](const ProbeGateway& gateway) { told.push_back(text::Cp1251ToUtf8(DescribeProbe(gateway))); },
        [&](const ProbeUnit& unit) {
          told.push_back(std::to_string(unit.Unit) + ": " + text::Cp1251ToUtf8(DescribeProbe(unit)));
          if (unit.Unit == c.AbortAfterUnit) rpc.Abort = true;
        }};
    const ProbeResult result = ProbeUnits({site ? site->Address() : peer->Address(), c.Units, {2, 100}}, rpc, observer);
    EXPECT_EQ(Said(result), c.Said) << c.Name;
    EXPECT_EQ(told, c.Said) << c.Name;
    EXPECT_FALSE(result.AllAnswered()) << c.Name;
    const Texts heard = site ? HeardSoFar(site->Gateway.Port(), [&] { return site->Requests(); })
                             : HeardSoFar(Port(*peer), [&] {
                                 Texts requests;
                                 for (const Bytes& datagram : peer->Heard()) requests.push_back(Request(datagram));
                                 return requests;
                               });
    EXPECT_EQ(heard, c.Heard) << c.Name;
  }
}

TEST(Probe, EveryAnswerIsAllAnswered) {
  const SocketLibrary sockets;
  Site site({});
  CRPCInterface rpc;
  const ProbeResult result = ProbeUnits({site.Address(), {1}, {2, 100}}, rpc);
  EXPECT_TRUE(result.AllAnswered());
  EXPECT_EQ(result.Units.at(0).Identifier, text::Cp1251("АУ №7"));
  // A mistyped address sends nothing and leaves the transport alone.
  const ProbeResult mistyped = ProbeUnits({"10.1.2", {1}, {2, 100}}, rpc);
  EXPECT_EQ(mistyped.Gateway.Outcome, ProbeOutcome::BadAddress);
  EXPECT_EQ(rpc.AddressText, site.Address());
  EXPECT_EQ(HeardSoFar(site.Gateway.Port(), [&] { return site.Requests(); }), (Texts{"info", "1/0x11"}));
}

// smsconf-cli probe: its lines and its exit status.
TEST(CmdProbe, LinesAndStatus) {
  const Site site({});
  const testing::UdpPeer silent;
  const std::string at = site.Address(), off = silent.Address();
  const struct {
    Texts Arguments;
    int Status;
    Texts Lines;  // stdout and stderr together
  } cases[] = {
      {{"--gateway", at}, 0, {at + ": " + Answered, at + "/1: identifier \"АУ №7\""}},
      {{"--gateway", at, "--unit", "2", "--unit", "1", "--tries", "1", "--timeout", "100"}, 1,
       {at + ": " + Answered, at + "/2: no reply", at + "/1: identifier \"АУ №7\""}},
      {{"--gateway", off, "--unit", "5", "--tries", "1", "--timeout", "100"}, 1,
       {off + ": no reply from the gateway", off + "/5: " + NotAsked}},
      {{"--gateway", "10.1.2"}, 2,
       {"bad gateway address \"10.1.2\" (accepted: a.b.c.d or a.b.c.d:port, e.g. 192.168.1.1 or 192.168.1.1:1122)"}},
      {{"--gateway", at, "--unit", "0"}, 2, {"--unit: Value 0 not in range 1 to 254", "Run with --help for more information."}},
#ifndef _WIN32
      // A trace that cannot be written fails a probe that went well.
      {{"--gateway", at, "--trace", "/dev/full"}, 1,
       {at + ": " + Answered, at + "/1: identifier \"АУ №7\"", "smsconf-cli: Cannot write file /dev/full: disk full"}},
#endif
  };
  for (const auto& c : cases) {
    Texts arguments{SMSCONF_CLI, "probe"};
    arguments.insert(arguments.end(), c.Arguments.begin(), c.Arguments.end());
    testing::ChildProcess probe(arguments);
    EXPECT_EQ(probe.RemainingLines(), c.Lines) << c.Arguments.back();
    EXPECT_EQ(probe.Wait(), c.Status) << c.Arguments.back();
  }
  // The trace holds the exchanges.
  const testing::TempDir dir;
  testing::ChildProcess traced({SMSCONF_CLI, "probe", "--gateway", at, "--trace", dir.File("probe.trace")});
  EXPECT_EQ(traced.Wait(), 0);
  const std::string trace = testing::ReadFile(dir.File("probe.trace"));
  EXPECT_NE(trace.find(" <- " + at + " 15 A1 "), std::string::npos) << trace;
  EXPECT_NE(trace.find("ReportSlaveId, identifier \"АУ №7\", CRC ok\n"), std::string::npos) << trace;
}

// Ctrl+C ends the request under way at once, which alone would take 50 s.
TEST(CmdProbe, CtrlCAbortsTheRequestUnderWay) {
  if (!testing::ChildProcess::CanInterrupt) GTEST_SKIP() << "Windows cannot send Ctrl+C to one child process alone";
#ifndef _WIN32
  const testing::UdpPeer silent([](auto&, auto&, auto) {});
  testing::ChildProcess probe({SMSCONF_CLI, "probe", "--gateway", silent.Address(), "--tries", "100", "--timeout", "500"});
  ASSERT_EQ(silent.Heard(1).size(), 1u);
  probe.Signal(SIGINT);
  EXPECT_EQ(probe.RemainingLines(), (Texts{silent.Address() + ": aborted", silent.Address() + "/1: aborted",
                                           "probe interrupted"}));
  EXPECT_EQ(probe.Wait(), 130);
#endif
}

}  // namespace
}  // namespace smsconf
