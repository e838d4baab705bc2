#pragma once

// The gateway address as the user types it: a.b.c.d, optionally followed by
// a colon and a UDP port.

#include <string>

#include "limits/Limits.h"

namespace smsconf {

// The gateway's port when the address text names none.
inline constexpr int RpcDefaultPort = limits::GatewayPort;

class CParseIP {
 public:
  std::string Address;  // canonical a.b.c.d of the last successful parse
  int Port = 0;         // the text's port, or the default given to Parse
  int Octet[4] = {};    // the four numbers, in text order

  // True when text is "a.b.c.d" or "a.b.c.d:port" (blanks allowed before
  // each number and at the end, a sign allowed before each number), every
  // number is 0..255 and the port is 1..65535. Then Address, Port and Octet
  // are set. On false, Address keeps its previous value; Port and Octet may
  // have been overwritten.
  bool Parse(std::string text, int defaultPort);
};

}  // namespace smsconf
