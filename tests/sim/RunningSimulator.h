#pragma once

// A simulator on a free loopback port together with a client and its log.

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "sim/SimPeer.h"
#include "sim/Simulator.h"

namespace smsconf::sim::test {

inline SimulatorOptions FreePort(SimulatorOptions options = {}) {
  options.Port = 0;
  return options;
}

inline Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

// The log is declared first so that it outlives the serving thread.
struct Running {
  explicit Running(SimulatorOptions options = {}) : Simulator(FreePort(std::move(options))) {
    Simulator.SetLog(Log.Sink());
    EXPECT_TRUE(Simulator.Start());
  }
  Bytes Exchange(const Bytes& request) { return Peer.Exchange(Simulator.Port(), request); }
  void Send(const Bytes& request) { Peer.Send(Simulator.Port(), request); }

  LogCollector Log;
  CSimulator Simulator;
  UdpPeer Peer;
};

}  // namespace smsconf::sim::test
