#include "loading/Probe.h"

#include <algorithm>
#include <cstring>

#include "link/Modbus.h"
#include "link/Parseip.h"

namespace smsconf {

namespace {

std::string Dotted(const std::uint8_t (&ip)[4]) {
  return std::to_string(ip[0]) + "." + std::to_string(ip[1]) + "." + std::to_string(ip[2]) + "." +
         std::to_string(ip[3]);
}

// What the transport's result says, when it says anything.
bool Ended(int result, ProbeOutcome& outcome) {
  if (result == RpcAborted) outcome = ProbeOutcome::Aborted;
  if (result == RpcNoReply) outcome = ProbeOutcome::NoReply;
  return result != RpcOk;
}

ProbeGateway AskGateway(const ProbeTarget& target, CRPCInterface& rpc) {
  ProbeGateway gateway;
  if (rpc.Abort) {
    gateway.Outcome = ProbeOutcome::Aborted;
    return gateway;
  }
  CParseIP address;
  if (!address.Parse(target.Gateway, RpcDefaultPort)) {
    gateway.Outcome = ProbeOutcome::BadAddress;
    return gateway;
  }
  rpc.AddressText = target.Gateway;
  rpc.Tries = target.Link.Tries;
  rpc.Timeout = target.Link.Timeout;
  if (rpc.Open() != RpcOk) {
    gateway.Outcome = ProbeOutcome::NoSocket;
    gateway.SocketError = SocketErrorText();
    return gateway;
  }
  GatewayInfo info;
  if (Ended(rpc.ReadGatewayInfo(info), gateway.Outcome)) return gateway;
  gateway.Outcome = ProbeOutcome::Answered;
  gateway.IpAddress = Dotted(info.IpAddress);
  gateway.InfoText.assign(info.InfoText, ::strnlen(info.InfoText, sizeof info.InfoText));
  return gateway;
}

ProbeUnit AskUnit(int unit, CRPCInterface& rpc) {
  ProbeUnit answer;
  answer.Unit = unit;
  // Unit 0 is everyone's: a broadcast that no unit answers.
  if (!limits::Unit.Holds(unit)) {
    answer.Outcome = ProbeOutcome::BadUnit;
    return answer;
  }
  CModbus client;
  client.Address = static_cast<std::uint32_t>(unit);
  client.Rpc = &rpc;
  MbIdResult id;
  if (Ended(client.ReportSlaveId(id), answer.Outcome)) return answer;
  switch (id.Status) {
    case MbValid:
      answer.Outcome = ProbeOutcome::Answered;
      // Ends at its first NUL, as the loading shows it: units end it with one.
      answer.Identifier.assign(id.IdText, ::strnlen(id.IdText, id.IdLength));
      break;
    case MbException:
      answer.Outcome = ProbeOutcome::Exception;
      answer.ExceptionCode = id.ExceptionCode;
      break;
    default: answer.Outcome = ProbeOutcome::InvalidReply;
  }
  return answer;
}

}  // namespace

bool ProbeResult::AllAnswered() const {
  return Gateway.Outcome == ProbeOutcome::Answered &&
         std::ranges::all_of(Units, [](const ProbeUnit& unit) { return unit.Outcome == ProbeOutcome::Answered; });
}

ProbeResult ProbeUnits(const ProbeTarget& target, CRPCInterface& rpc, const ProbeObserver& observer) {
  ProbeResult result;
  result.Gateway = AskGateway(target, rpc);
  if (observer.OnGateway) observer.OnGateway(result.Gateway);
  // Without the gateway's answer every unit would wait out all its tries.
  ProbeOutcome rest = result.Gateway.Outcome == ProbeOutcome::Aborted ? ProbeOutcome::Aborted : ProbeOutcome::NotAsked;
  const bool reached = result.Gateway.Outcome == ProbeOutcome::Answered;
  for (const int unit : target.Units) {
    ProbeUnit answer;
    answer.Unit = unit;
    answer.Outcome = rest;
    if (reached && rest != ProbeOutcome::Aborted) answer = AskUnit(unit, rpc);
    if (answer.Outcome == ProbeOutcome::Aborted) rest = ProbeOutcome::Aborted;
    result.Units.push_back(answer);
    if (observer.OnUnit) observer.OnUnit(answer);
  }
  return result;
}

std::string DescribeProbe(const ProbeGateway& gateway) {
  switch (gateway.Outcome) {
    case ProbeOutcome::Answered: return "gateway \"" + gateway.InfoText + "\" at " + gateway.IpAddress;
    case ProbeOutcome::BadAddress: return "not a gateway address (accepted: a.b.c.d or a.b.c.d:port)";
    case ProbeOutcome::NoSocket: return "cannot open a UDP socket: " + gateway.SocketError;
    case ProbeOutcome::NoReply: return "no reply from the gateway";
    case ProbeOutcome::Aborted: return "aborted";
    default: return "not asked";
  }
}

std::string DescribeProbe(const ProbeUnit& unit) {
  switch (unit.Outcome) {
    case ProbeOutcome::Answered: return "identifier \"" + unit.Identifier + "\"";
    case ProbeOutcome::BadUnit:
      return "not asked: unit addresses are " + std::to_string(limits::Unit.Min) + ".." +
             std::to_string(limits::Unit.Max);
    case ProbeOutcome::NoReply: return "no reply";
    case ProbeOutcome::InvalidReply: return "invalid reply";
    case ProbeOutcome::Exception: return "exception reply (code " + std::to_string(unit.ExceptionCode) + ")";
    case ProbeOutcome::Aborted: return "aborted";
    default: return "not asked: the gateway did not answer";
  }
}

}  // namespace smsconf
