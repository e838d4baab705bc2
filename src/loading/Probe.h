#pragma once

// Is a site reachable, and which units answer? A probe asks the gateway for
// its information and each unit behind it for its identifier (Report Slave
// ID), and sends nothing else: no unit changes its mode.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "link/Rpcinterface.h"
#include "loading/ThreadConfigLoading.h"

namespace smsconf {

// How one request of a probe ended.
enum class ProbeOutcome {
  Answered,      // the gateway sent its information; a unit its identifier
  BadAddress,    // the gateway text is no a.b.c.d or a.b.c.d:port; nothing was sent
  NoSocket,      // the transport could not open; SocketError says why
  BadUnit,       // a unit address outside 1..254; it was not asked
  NoReply,       // nothing came back after every try
  InvalidReply,  // a unit's reply too short, of the wrong length or from another unit
  Exception,     // the unit answered with an exception; ExceptionCode says which
  NotAsked,      // the gateway did not answer, so its units were not asked
  Aborted,       // the transport's Abort ended the probe
};

struct ProbeGateway {
  ProbeOutcome Outcome = ProbeOutcome::NotAsked;
  std::string IpAddress;    // Answered: the address the gateway reports, a.b.c.d
  std::string InfoText;     // Answered: its information text, Windows-1251 bytes
  std::string SocketError;  // NoSocket: the system's reason
};

struct ProbeUnit {
  int Unit = 0;
  ProbeOutcome Outcome = ProbeOutcome::NotAsked;
  std::string Identifier;          // Answered: Windows-1251 bytes, may be empty
  std::uint8_t ExceptionCode = 0;  // Exception: the code the unit gave
};

struct ProbeResult {
  ProbeGateway Gateway;
  std::vector<ProbeUnit> Units;  // one per unit asked for, in the order given
  // The gateway and every unit answered.
  bool AllAnswered() const;
};

// Which gateway, which units behind it, and how hard each request tries.
struct ProbeTarget {
  std::string Gateway = limits::DefaultGateway;  // a.b.c.d or a.b.c.d:port
  std::vector<int> Units{limits::DefaultUnit};
  LinkSettings Link;
};

// Told each entry of the result as soon as it is final, gateway first, then
// the units in order; all are told, those not asked included. Called on the
// probing thread; must not throw.
struct ProbeObserver {
  std::function<void(const ProbeGateway&)> OnGateway;
  std::function<void(const ProbeUnit&)> OnUnit;
};

// Probes one gateway and its units, one request after another, and returns
// when all are done. Blocks for up to tries × time-out for each request not
// answered.
//
// The transport is the caller's, one per gateway and probing thread (a fleet
// runs one gateway per thread, each with its own); the caller also keeps the
// socket library started (SocketLibrary). The probe points it at the
// gateway with the target's tries and time-out and opens it. Setting its
// Abort from another thread ends the probe at once: the request under way
// and everything after it are Aborted, and nothing more is sent. The probe
// never clears Abort, so an abort that comes before the probe starts is not
// lost; a caller that reuses an aborted transport clears it first.
ProbeResult ProbeUnits(const ProbeTarget& target, CRPCInterface& rpc, const ProbeObserver& observer = {});

// What an entry says, in English, for a line of output: "gateway
// "UDP GATEWAY" at 10.0.0.5", "identifier "SMS-AU 2.1"", "no reply",
// "exception reply (code 1)". Windows-1251 bytes: the gateway's and the
// unit's own texts go in as they came.
std::string DescribeProbe(const ProbeGateway& gateway);
std::string DescribeProbe(const ProbeUnit& unit);

}  // namespace smsconf
