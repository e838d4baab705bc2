#pragma once

// How the simulated gateway and the units behind it behave, including the
// faults they inject on purpose to exercise the client's error handling.

#include <array>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "limits/Limits.h"

namespace smsconf::sim {

// What `simulate` holds a loading to: a client that has said nothing for
// this long has given up its loading, and the unit takes another client's.
// A loading under way sends at least once per reply time-out (at most
// 500 ms) and pauses at most 1 s, so this never cuts one short, while a
// loading aborted and started again (a new socket, so a new client) waits
// only briefly.
inline constexpr std::chrono::seconds LoadingSessionSilence{2};

// One unit behind the gateway: who it is and the faults it injects.
struct UnitOptions {
  std::uint8_t UnitAddress = limits::DefaultUnit;
  int BlockSize = 64;          // reported by 0x33, 0..255 (0 and 200 allowed, for testing guards)
  std::string Identifier = "SMS-AU SIM 1.00";  // 0x11 identifier (Windows-1251 bytes / ASCII)

  // Fault injection, each setting on its own; every random choice comes
  // from the gateway's Seed, so a run repeats exactly for the same requests.
  double DropRate = 0.0;             // share of requests AND replies dropped at random
  unsigned BusyWrites = 0;           // the first K 0x34 block writes get exception 6
  bool ModeSwitchException = false;  // 0x23 and 0x33 get an exception reply ("no update")
  bool NoIdentifier = false;         // 0x11 gets an exception reply
  unsigned SilentBootRequests = 0;   // the first N 0x23 requests get no reply at all
  bool InvalidFinishReply = false;   // 0x35 answered with a frame of the wrong length
  bool FinishException = false;      // 0x35 gets an exception reply
  std::chrono::milliseconds ReplyDelay{0};
};

// The gateway, and the unit settings that its units start from (and that
// its own information request uses for DropRate and ReplyDelay).
struct SimulatorOptions : UnitOptions {
  std::string ListenAddress = "127.0.0.1";
  std::uint16_t Port = limits::GatewayPort;  // 0 = any free port
  std::array<std::uint8_t, 4> GatewayIp = {127, 0, 0, 1};
  std::string GatewayInfoText = "UDP GATEWAY SIM";
  // One loading of a unit at a time: while a client loads it, other clients
  // are told "busy" until it is back in run mode or silent this long. 0 =
  // off, so that a tool may start again at once from a new socket, as the
  // dialog does.
  std::chrono::milliseconds SessionSilence{0};

  // The units behind the gateway, at distinct addresses. Empty: the one
  // unit that the fields of UnitOptions above describe.
  std::vector<UnitOptions> Units;

  // Gateway-wide faults.
  unsigned DropEveryNthRequest = 0;  // 0 = off
  unsigned DropEveryNthReply = 0;
  bool DuplicateReplies = false;     // every reply sent twice
  bool StaleReplies = false;         // a reply with an older sequence number goes first
  bool ForeignPortReplies = false;   // a copy of every reply comes first from another port
  std::uint64_t Seed = 1;

  // A unit for Units: the settings above at `address`, identifying itself
  // as "<Identifier> #<address>" so that the units of a site differ.
  UnitOptions Unit(std::uint8_t address) const {
    UnitOptions unit = *this;
    unit.UnitAddress = address;
    unit.Identifier += " #" + std::to_string(address);
    return unit;
  }
};

}  // namespace smsconf::sim
