#include "trace/WireTrace.h"

#include <algorithm>
#include <cerrno>
#include <iostream>
#include <stdexcept>

#include "files/AtomicFile.h"
#include "files/FileBytes.h"
#include "files/FileSystem.h"
#include "trace/Capture.h"

namespace smsconf::trace {

namespace {

using Clock = std::chrono::steady_clock;

// Enough to match the replies of every request still waited for.
constexpr std::size_t RememberedRequests = 64;
constexpr std::int64_t MicrosecondsPerMillisecond = 1000;
constexpr std::size_t StampWidth = 7;  // milliseconds before the point: up to 2.7 hours stay aligned

std::string EndpointText(const Endpoint& end) {
  return std::to_string(end.Address >> 24) + "." + std::to_string(end.Address >> 16 & 0xFFu) + "." +
         std::to_string(end.Address >> 8 & 0xFFu) + "." + std::to_string(end.Address & 0xFFu) + ":" +
         std::to_string(end.Port);
}

std::string TwoDigits(unsigned value) { return std::string(1, char('0' + value / 10)) + char('0' + value % 10); }

// "2026-12-07 10:22:21 UTC"
std::string UtcText(std::chrono::microseconds since1970) {
  using namespace std::chrono;
  const sys_time<microseconds> time{since1970};
  const sys_days day = floor<days>(time);
  const year_month_day date{day};
  const hh_mm_ss clock{floor<seconds>(time - day)};
  return std::to_string(static_cast<int>(date.year())) + "-" + TwoDigits(static_cast<unsigned>(date.month())) + "-" +
         TwoDigits(static_cast<unsigned>(date.day())) + " " + TwoDigits(static_cast<unsigned>(clock.hours().count())) +
         ":" + TwoDigits(static_cast<unsigned>(clock.minutes().count())) + ":" +
         TwoDigits(static_cast<unsigned>(clock.seconds().count())) + " UTC";
}

const char* IgnoredText(RpcObserver::Ignored why) {
  switch (why) {
    case RpcObserver::Ignored::LeftOver: return "; ignored: left over from an earlier exchange";
    case RpcObserver::Ignored::NotFromGateway: return "; ignored: not from the gateway's address and port";
    case RpcObserver::Ignored::NotAReply: return "; ignored: not a gateway reply";
    case RpcObserver::Ignored::OtherSequence: return "; ignored: answers another request";
  }
  return "";
}

bool Marked(Bytes datagram, std::uint8_t first, std::uint8_t second, int header) {
  return datagram.size() >= static_cast<std::size_t>(header) && datagram[0] == first && datagram[1] == second;
}

std::uint16_t SequenceOf(Bytes datagram) { return static_cast<std::uint16_t>(datagram[2] | datagram[3] << 8); }

}  // namespace

CWireTrace::CWireTrace()
    : Elapsed([start = Clock::now()] { return std::chrono::duration_cast<Microseconds>(Clock::now() - start); }),
      Started(std::chrono::duration_cast<Microseconds>(std::chrono::system_clock::now().time_since_epoch())) {}

// A link planted in a shared folder is not followed, as for every file the
// program writes.
std::string CWireTrace::Open(Output& output, const std::string& path) {
  try {
    std::string target;
    if (!FollowLink(path, target)) {
      if (errno == EPERM) ThrowCannotCreate(path, {text::Wording::LinkNotFollowed, {target}});
      ThrowCannotCreate(path, errno);
    }
    // Windows says "permission denied" of a folder.
    if (KindOf(target) == FileKind::Folder) ThrowCannotCreate(path, EISDIR);
    errno = 0;
    output.File.open(NativePath(target), std::ios::binary | std::ios::trunc);
    if (!output.File) ThrowCannotCreate(path, errno != 0 ? errno : EIO);
  } catch (const std::exception& e) {
    Troubled = text::SaidBy(e);
    return e.what();
  }
  output.Path = path;
  output.Stream = &output.File;
  return {};
}

std::string CWireTrace::WriteTextTo(const std::string& path) {
  const std::lock_guard guard(Lock);
  if (path != "-") return Open(Text, path);
  Text.Path = "standard error";
  Text.Stream = &std::cerr;
  return {};
}

void CWireTrace::WriteTextTo(std::function<void(const std::string& line)> sink) {
  const std::lock_guard guard(Lock);
  TextSink = std::move(sink);
}

std::string CWireTrace::WriteCaptureTo(const std::string& path) {
  const std::lock_guard guard(Lock);
  std::string error = Open(Capture, path);
  if (error.empty()) Write(Capture, CaptureFileHeader());
  return error;
}

std::string CWireTrace::WriteError() const {
  const std::lock_guard guard(Lock);
  return Failure;
}

std::optional<text::Message> CWireTrace::Trouble() const {
  const std::lock_guard guard(Lock);
  return Troubled;
}

// A stream that failed once takes nothing more; the first failure is kept.
void CWireTrace::Write(Output& output, const std::string& bytes) {
  if (output.Stream == nullptr || !*output.Stream) return;
  errno = 0;
  output.Stream->write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  output.Stream->flush();
  if (*output.Stream || !Failure.empty()) return;
  Troubled = text::Message(text::Wording::CannotWrite, {output.Path, FileError(errno != 0 ? errno : EIO)});
  Failure = Troubled->Render(text::Language::English);
}

void CWireTrace::Line(const std::string& text, Microseconds at) {
  const std::int64_t elapsed = at.count();
  std::string stamp = std::to_string(elapsed / MicrosecondsPerMillisecond);
  if (stamp.size() < StampWidth) stamp.insert(0, StampWidth - stamp.size(), ' ');
  const auto fraction = static_cast<unsigned>(elapsed % MicrosecondsPerMillisecond);
  stamp += "." + std::to_string(fraction / 100) + std::to_string(fraction / 10 % 10) + std::to_string(fraction % 10);
  if (TextSink) return TextSink(stamp + " " + text);
  Write(Text, stamp + " " + text + "\n");
}

// Requests are remembered as they pass; a reply goes back to the same peer.
ReplyTo CWireTrace::Answered(const Endpoint& peer, Bytes datagram) {
  if (Marked(datagram, RpcRequestMark0, RpcRequestMark1, RpcRequestHeaderSize)) {
    const unsigned command = datagram[4] & RpcCommandBits;
    const ReplyTo carries = command == RpcCmdGatewayInfo ? ReplyTo::GatewayInfo
                            : command == RpcCmdModbus    ? ReplyTo::Modbus
                                                         : ReplyTo::Unknown;
    if (Requests.size() == RememberedRequests) Requests.pop_front();
    Requests.push_back({{peer, SequenceOf(datagram)}, carries});
    return ReplyTo::Unknown;
  }
  if (!Marked(datagram, RpcReplyMark0, RpcReplyMark1, RpcReplyHeaderSize)) return ReplyTo::Unknown;
  const std::pair key{peer, SequenceOf(datagram)};
  const auto request = std::find_if(Requests.rbegin(), Requests.rend(), [&](const auto& r) { return r.first == key; });
  return request != Requests.rend() ? request->second : ReplyTo::Unknown;
}

void CWireTrace::Datagram(Direction direction, const Endpoint& local, const Endpoint& peer, Bytes datagram,
                          const std::string& note) {
  const std::lock_guard guard(Lock);
  const ReplyTo replyTo = Answered(peer, datagram);
  const Microseconds now = Elapsed();
  if (Text.Stream != nullptr || TextSink) {
    std::string line = NameLocalEnd ? EndpointText(local) + " " : std::string();
    line += (direction == Direction::Out ? "-> " : "<- ") + EndpointText(peer) + " ";
    line += datagram.empty() ? "(empty)" : HexBytes(datagram);
    Line(line + " | " + DescribeDatagram(datagram, replyTo) + note, now);
  }
  if (Capture.Stream != nullptr) {
    const bool out = direction == Direction::Out;
    Write(Capture, CaptureRecord({Started + now, out ? local : peer, out ? peer : local, datagram, PacketNumber++}));
  }
}

void CWireTrace::Event(const std::string& text) {
  const std::lock_guard guard(Lock);
  if (Text.Stream != nullptr || TextSink) Line("-- " + text, Elapsed());
}

void CWireTrace::Begin(const std::string& what) { Event(what + ", started " + UtcText(Started)); }

void CWireTrace::Sent(const Endpoint& local, const Endpoint& to, Bytes datagram, int attempt, int tries) {
  const std::string note = attempt > 1 ? "; try " + std::to_string(attempt) + " of " + std::to_string(tries) : "";
  Datagram(Direction::Out, local, to, datagram, note);
}

void CWireTrace::Received(const Endpoint& local, const Endpoint& from, Bytes datagram, std::optional<Ignored> why) {
  Datagram(Direction::In, local, from, datagram, why ? IgnoredText(*why) : "");
}

void CWireTrace::TimedOut(std::uint16_t sequence, std::uint32_t timeoutMs, int attempt, int tries) {
  Event("no reply to " + SequenceText(sequence) + " within " + std::to_string(timeoutMs) + " ms, try " +
        std::to_string(attempt) + " of " + std::to_string(tries) +
        (attempt < tries ? ": sending again" : ": giving up"));
}

void CWireTrace::Aborted(std::uint16_t sequence) {
  Event("aborted while waiting for the reply to " + SequenceText(sequence));
}

}  // namespace smsconf::trace
