#pragma once

// Loads the units of a checked plan. Units behind one gateway share its
// serial line, so they load one after another; the gateways load side by
// side, at most Jobs of them at a time. Every unit goes through the one
// loading set-up of the core, with one transport for each gateway. All of
// it is waiting on the network and on the fixed pauses: every thread
// blocks while it waits.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "fleet/Plan.h"
#include "link/Rpcinterface.h"
#include "loading/Probe.h"
#include "loading/ThreadConfigLoading.h"
#include "trace/WireTrace.h"

namespace smsconf::fleet {

// Gateways loading at once unless told otherwise.
inline constexpr int DefaultJobs = 8;

enum class UnitResult { NotStarted, Loaded, Unconfirmed, Failed, Aborted };

// The word of a result in reports: "not-started", "loaded", "unconfirmed",
// "failed", "aborted".
const char* ResultWord(UnitResult result);

struct UnitOutcome {
  UnitResult Result = UnitResult::NotStarted;
  std::string Step;              // the last step reached (CThreadConfigLoading::StepName); empty: none
  std::string IdentifierBefore;  // Windows-1251, as the unit reported it; empty: none
  std::string IdentifierAfter;
  bool PastDeadline = false;     // Failed because the last attempt ran out of time
  int Attempts = 0;
  std::chrono::milliseconds Time{0};  // of all attempts together
};

struct FleetSettings {
  int Jobs = DefaultJobs;
  LinkSettings Link;
  std::optional<std::chrono::milliseconds> Deadline;  // of each attempt; none: no limit
  int Retries = 0;  // further attempts of a failed unit, each at the end of its gateway's queue
  LoadingPauses Pauses;
  // Folders for a wire trace and a capture file of each gateway, named
  // after it (127.0.0.1_1122.trace, 127.0.0.1_1122.pcap); empty: none.
  std::string TraceFolder;
  std::string CaptureFolder;
};

// What a run tells as it goes; called on the loading threads, several at
// once, so an observer keeps its own order. None of them may throw.
class FleetObserver {
 public:
  virtual ~FleetObserver() = default;
  // `unit` is the index of the plan's row.
  virtual void Line(std::size_t unit, int kind, const std::string& cp1251);
  virtual void Step(std::size_t unit, const char* step);
  virtual void Progress(std::size_t unit, std::uint32_t written, std::uint32_t total);
  // An attempt has ended; `again` when the unit will be tried again.
  virtual void Finished(std::size_t unit, const UnitOutcome& outcome, bool again);
  // A probe's answers: a gateway's (named as the plan's first row of it
  // writes it) and each unit's.
  virtual void ProbedGateway(const std::string& gateway, const ProbeGateway& answer);
  virtual void ProbedUnit(std::size_t unit, const ProbeUnit& answer);
};

class CFleetRun {
 public:
  // `plan` is checked and without problems; it outlives the run.
  CFleetRun(const Plan& plan, FleetSettings settings, FleetObserver* observer = nullptr);
  CFleetRun(const CFleetRun&) = delete;
  CFleetRun& operator=(const CFleetRun&) = delete;

  // Loads every unit and returns when all have ended, or after Abort: one
  // outcome for each row of the plan.
  std::vector<UnitOutcome> Run();
  // Probes every gateway and unit instead, in the same way side by side;
  // one answer for each row of the plan.
  std::vector<ProbeUnit> Probe();
  // Ends every loading in flight at once, and starts no more; from any
  // thread, also before Run.
  void Abort();
  // Why a gateway's trace could not be made or written, one line each;
  // that gateway went on without it. Read after Run or Probe.
  std::vector<std::string> TraceFailures() const { return TraceProblems; }

 private:
  struct Queue {
    std::string GatewayKey;
    std::vector<std::size_t> Units;  // rows of the plan, in order; retries are added at the end
    trace::CWireTrace* Trace = nullptr;  // while the queue is served
  };

  using QueueWork = void (CFleetRun::*)(Queue& queue, CRPCInterface& rpc);
  void Prepare();
  void ServeQueues(QueueWork work);
  std::unique_ptr<trace::CWireTrace> OpenTrace(const std::string& gatewayKey);
  void LoadQueue(Queue& queue, CRPCInterface& rpc);
  void ProbeQueue(Queue& queue, CRPCInterface& rpc);
  // One attempt; false when the run was aborted before it started.
  bool LoadUnit(std::size_t unit, CRPCInterface& rpc, trace::CWireTrace* trace);
  UnitResult Attempt(std::size_t unit, CThreadConfigLoading& loading, CRPCInterface& rpc, bool& late);

  const Plan& Source;
  const FleetSettings Settings;
  FleetObserver* const Observer;
  FleetObserver Quiet;

  std::mutex Lock;  // guards everything below, and the outcomes while loadings run
  std::condition_variable Changed;
  bool Aborted = false;
  std::vector<Queue> Queues;
  std::size_t NextQueue = 0;
  std::set<CRPCInterface*> Transports;  // of the gateways in flight
  std::vector<UnitOutcome> Outcomes;
  std::vector<std::optional<int>> FinalSteps;  // of each unit's attempt under way
  std::vector<ProbeUnit> Answers;
  std::vector<std::string> TraceProblems;
};

}  // namespace smsconf::fleet
