#pragma once

// The wire trace of a loading, a probe or the simulator: every datagram
// sent and taken in, raw and decoded, and the events around them (time-outs,
// retries, datagrams passed over and why, an abort, the procedure's steps,
// lines and pauses), one line each, behind the milliseconds since the trace
// began. The same datagrams can go into a capture file for Wireshark.

#include <chrono>
#include <cstdint>
#include <deque>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <utility>

#include "link/Rpcinterface.h"
#include "text/Wording.h"
#include "trace/WireDecoder.h"

namespace smsconf::trace {

// Writes from any thread; each line and each capture record goes out whole
// and at once, so that a trace cut short by a crash still holds all before.
class CWireTrace final : public RpcObserver {
 public:
  enum class Direction { Out, In };
  using Microseconds = std::chrono::microseconds;

  CWireTrace();
  CWireTrace(const CWireTrace&) = delete;
  CWireTrace& operator=(const CWireTrace&) = delete;

  // The lines go into a file, made or emptied, or for "-" to standard
  // error; the capture into a file that starts with its header. Empty, or
  // "Cannot create file PATH: reason".
  std::string WriteTextTo(const std::string& path);
  std::string WriteCaptureTo(const std::string& path);
  // The lines, without their line ends, to `sink` instead (under the
  // trace's lock: it must not call back into the trace).
  void WriteTextTo(std::function<void(const std::string& line)> sink);

  // One datagram line; `note` ends it. `local` is this end, `peer` the
  // other, whichever sent it.
  void Datagram(Direction direction, const Endpoint& local, const Endpoint& peer, Bytes datagram,
                const std::string& note = {});
  // One line of anything else, UTF-8.
  void Event(const std::string& text);
  // The first line: what is traced, and when it began, in UTC.
  void Begin(const std::string& what);

  void Sent(const Endpoint& local, const Endpoint& to, Bytes datagram, int attempt, int tries) override;
  void Received(const Endpoint& local, const Endpoint& from, Bytes datagram, std::optional<Ignored> why) override;
  void TimedOut(std::uint16_t sequence, std::uint32_t timeoutMs, int attempt, int tries) override;
  void Aborted(std::uint16_t sequence) override;

  // "Cannot write file PATH: reason" for the first write that failed; empty
  // while all went out.
  std::string WriteError() const;
  // The latest file that could not be made, or the first write that failed,
  // as a message for the window to render in its own language.
  std::optional<text::Message> Trouble() const;

  // Datagram lines name this end too, for a trace of several gateways.
  bool NameLocalEnd = false;
  // The time since the trace began, and the time it began since 1970 (for
  // the capture); a test sets both before anything is written.
  std::function<Microseconds()> Elapsed;
  Microseconds Started;

 private:
  struct Output {
    std::string Path;
    std::ofstream File;
    std::ostream* Stream = nullptr;  // the file, or standard error
  };
  std::string Open(Output& output, const std::string& path);
  void Write(Output& output, const std::string& bytes);
  void Line(const std::string& text, Microseconds elapsed);
  ReplyTo Answered(const Endpoint& peer, Bytes datagram);

  mutable std::mutex Lock;
  Output Text;
  Output Capture;
  std::function<void(const std::string&)> TextSink;
  std::string Failure;
  std::optional<text::Message> Troubled;
  std::uint16_t PacketNumber = 0;
  // The commands of the latest requests by peer and sequence number, which
  // tell what their replies carry.
  std::deque<std::pair<std::pair<Endpoint, std::uint16_t>, ReplyTo>> Requests;
};

}  // namespace smsconf::trace
