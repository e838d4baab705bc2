#pragma once

// The one way a loading is set up, whoever starts it: the command line, the
// dialog, or a fleet of units behind many gateways. The gateway address is
// checked, the image read and checked as the unit will get it, the transport
// configured and opened, and a procedure made ready to start; or the reason
// why not is handed back, for the caller to tell in its own words.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "limits/Limits.h"
#include "link/Rpcinterface.h"
#include "loading/ThreadConfigLoading.h"
#include "text/Wording.h"

namespace smsconf {

// Which unit a loading goes to, and how hard each request tries.
struct LoadingTarget {
  std::string Gateway = limits::DefaultGateway;  // a.b.c.d or a.b.c.d:port
  int Unit = limits::DefaultUnit;                // Modbus address behind the gateway
  LinkSettings Link;
  trace::CWireTrace* Trace = nullptr;  // the wire trace of the transport and the procedure; not owned
};

// What the set-up found. Ready, or the reason why the loading cannot start.
struct LoadingVerdict {
  enum Outcomes {
    Ready,
    BadAddress,  // the gateway text is no a.b.c.d or a.b.c.d:port
    Unreadable,  // the image file cannot be read; Error says why
    TooLarge,    // the image file does not fit the unit's memory window
    Damaged,     // the image fails the image check; Defect says where
  };
  Outcomes Outcome = Ready;
  int Error = 0;                // Unreadable: the system's error number
  std::uintmax_t FileSize = 0;  // TooLarge: the file's size in bytes
  // The image check's first defect ("offset N: ..."): why it is Damaged, or,
  // when a damaged image was accepted, what the caller may warn of; in
  // English, and as a message for the window to render in Russian.
  std::string Defect;
  text::Message DefectSaid{""};
};

// An image file as a loading sends it, read and checked once; a fleet
// sends one to many units.
struct LoadingImage {
  LoadingVerdict Verdict;  // Ready, Unreadable, TooLarge or Damaged
  std::vector<std::uint8_t> Bytes;
};

// A damaged image is Damaged unless acceptDamaged; then it is Ready, with
// its defect told all the same.
LoadingImage ReadLoadingImage(const std::string& path, bool acceptDamaged);

struct LoadingSetup {
  LoadingVerdict Verdict;
  // When Ready: the image in place at the load address, the unit's address
  // and the transport set, nothing started. The caller adds its hooks.
  std::unique_ptr<CThreadConfigLoading> Procedure;
};

// A loading of an image already read. The gateway address is looked at
// first, then the image's verdict. Only a loading that is Ready touches the
// transport: its Abort is cleared, it is pointed at the gateway with the
// target's tries and time-out, and opened. The transport is the caller's,
// one for each gateway; it must outlive the procedure, and no other
// procedure may use it while this one runs.
LoadingSetup SetUpLoading(const LoadingTarget& target, const LoadingImage& image, CRPCInterface& rpc);

// The same from the image file: the address is looked at before the file.
LoadingSetup SetUpLoading(const LoadingTarget& target, const std::string& imagePath, bool acceptDamaged,
                          CRPCInterface& rpc);

}  // namespace smsconf
