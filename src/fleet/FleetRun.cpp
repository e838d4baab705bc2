#include "fleet/FleetRun.h"

#include <algorithm>
#include <thread>

#include "loading/LoadingSetup.h"
#include "text/Cp1251.h"

namespace smsconf::fleet {

namespace {

using Clock = std::chrono::steady_clock;

}  // namespace

const char* ResultWord(UnitResult result) {
  switch (result) {
    case UnitResult::NotStarted: return "not-started";
    case UnitResult::Loaded: return "loaded";
    case UnitResult::Unconfirmed: return "unconfirmed";
    case UnitResult::Failed: return "failed";
    case UnitResult::Aborted: return "aborted";
  }
  return "";
}

void FleetObserver::Line(std::size_t, int, const std::string&) {}
void FleetObserver::Step(std::size_t, const char*) {}
void FleetObserver::Progress(std::size_t, std::uint32_t, std::uint32_t) {}
void FleetObserver::Finished(std::size_t, const UnitOutcome&, bool) {}

CFleetRun::CFleetRun(const Plan& plan, FleetSettings settings, FleetObserver* observer)
    : Source(plan), Settings(std::move(settings)), Observer(observer != nullptr ? observer : &Quiet) {}

void FleetObserver::ProbedGateway(const std::string&, const ProbeGateway&) {}
void FleetObserver::ProbedUnit(std::size_t, const ProbeUnit&) {}

void CFleetRun::Prepare() {
  const std::lock_guard guard(Lock);
  Outcomes.assign(Source.Rows.size(), {});
  FinalSteps.assign(Source.Rows.size(), std::nullopt);
  Answers.assign(Source.Rows.size(), {});
  Queues.clear();
  NextQueue = 0;
  TraceProblems.clear();
  for (std::size_t row = 0; row < Source.Rows.size(); ++row) {
    Answers[row].Unit = Source.Rows[row].Unit;
    const std::string& key = Source.Rows[row].GatewayKey;
    auto queue = std::ranges::find(Queues, key, &Queue::GatewayKey);
    if (queue == Queues.end()) queue = Queues.insert(Queues.end(), Queue{key, {}});
    queue->Units.push_back(row);
  }
}

std::vector<UnitOutcome> CFleetRun::Run() {
  Prepare();
  ServeQueues(&CFleetRun::LoadQueue);
  return Outcomes;
}

std::vector<ProbeUnit> CFleetRun::Probe() {
  Prepare();
  ServeQueues(&CFleetRun::ProbeQueue);
  return Answers;
}

void CFleetRun::Abort() {
  const std::lock_guard guard(Lock);
  Aborted = true;
  // The requests under way return at their next poll.
  for (CRPCInterface* rpc : Transports) rpc->Abort = true;
  Changed.notify_all();
}

// At most Jobs workers; each takes the next gateway not yet begun, with a
// transport of its own, until none is left.
void CFleetRun::ServeQueues(QueueWork work) {
  const std::size_t workers = std::min(Queues.size(), static_cast<std::size_t>(std::max(Settings.Jobs, 1)));
  std::vector<std::jthread> threads;
  for (std::size_t i = 0; i < workers; ++i) {
    threads.emplace_back([this, work] {
      for (;;) {
        CRPCInterface rpc;
        Queue* queue = nullptr;
        {
          const std::lock_guard guard(Lock);
          if (Aborted || NextQueue == Queues.size()) return;
          queue = &Queues[NextQueue++];
          Transports.insert(&rpc);
        }
        const std::unique_ptr<trace::CWireTrace> trace = OpenTrace(queue->GatewayKey);
        queue->Trace = trace.get();
        rpc.Observer = trace.get();
        (this->*work)(*queue, rpc);
        rpc.Observer = nullptr;
        queue->Trace = nullptr;
        const std::lock_guard guard(Lock);
        Transports.erase(&rpc);
        if (trace && !trace->WriteError().empty()) TraceProblems.push_back(trace->WriteError());
      }
    });
  }
}

// A gateway's files are named after it, with no colon, which Windows
// refuses in a name.
std::unique_ptr<trace::CWireTrace> CFleetRun::OpenTrace(const std::string& gatewayKey) {
  if (Settings.TraceFolder.empty() && Settings.CaptureFolder.empty()) return nullptr;
  std::string name = gatewayKey;
  std::ranges::replace(name, ':', '_');
  auto trace = std::make_unique<trace::CWireTrace>();
  std::string error;
  if (!Settings.TraceFolder.empty()) error = trace->WriteTextTo(Settings.TraceFolder + "/" + name + ".trace");
  if (error.empty() && !Settings.CaptureFolder.empty())
    error = trace->WriteCaptureTo(Settings.CaptureFolder + "/" + name + ".pcap");
  if (!error.empty()) {
    const std::lock_guard guard(Lock);
    TraceProblems.push_back(error);
    return nullptr;
  }
  trace->Begin("fleet, gateway " + gatewayKey);
  return trace;
}

void CFleetRun::LoadQueue(Queue& queue, CRPCInterface& rpc) {
  // Retries go to the end of the queue, so the index, not an iterator.
  for (std::size_t i = 0; i < queue.Units.size(); ++i) {
    const std::size_t unit = queue.Units[i];
    if (!LoadUnit(unit, rpc, queue.Trace)) break;
    const UnitOutcome& outcome = Outcomes[unit];
    const bool again = outcome.Result == UnitResult::Failed && outcome.Attempts <= Settings.Retries;
    if (again) queue.Units.push_back(unit);
    Observer->Finished(unit, outcome, again);
  }
}

// The probe never clears the transport's Abort, so an abort that came
// before it began still holds.
void CFleetRun::ProbeQueue(Queue& queue, CRPCInterface& rpc) {
  const PlanRow& first = Source.Rows[queue.Units.front()];
  ProbeTarget target{first.Gateway, {}, Settings.Link};
  for (const std::size_t unit : queue.Units) target.Units.push_back(Source.Rows[unit].Unit);
  std::size_t told = 0;
  const ProbeObserver observer{
      [&](const ProbeGateway& answer) { Observer->ProbedGateway(first.Gateway, answer); },
      [&](const ProbeUnit& answer) { Observer->ProbedUnit(queue.Units[told++], answer); }};
  const ProbeResult result = ProbeUnits(target, rpc, observer);
  const std::lock_guard guard(Lock);
  for (std::size_t i = 0; i < result.Units.size(); ++i) Answers[queue.Units[i]] = result.Units[i];
}

bool CFleetRun::LoadUnit(std::size_t unit, CRPCInterface& rpc, trace::CWireTrace* trace) {
  const PlanRow& row = Source.Rows[unit];
  if (trace != nullptr) trace->Event("unit " + std::to_string(row.Unit) + ": " + text::Cp1251ToTerminal(row.Label()));
  LoadingSetup setup =
      SetUpLoading({row.Gateway, row.Unit, Settings.Link, trace}, Source.Images.at(row.ImagePath), rpc);
  const auto began = Clock::now();
  UnitResult result = UnitResult::Failed;  // a plan checked beforehand is always Ready
  bool late = false;
  if (setup.Procedure) {
    CThreadConfigLoading& loading = *setup.Procedure;
    loading.Pauses = Settings.Pauses;
    result = Attempt(unit, loading, rpc, late);
    if (result == UnitResult::NotStarted) return false;
    // Ends the thread; the lines it still writes reach the observer first.
    loading.RequestStop();
    loading.Wait();
    if (result == UnitResult::Loaded && loading.Unconfirmed() != 0) result = UnitResult::Unconfirmed;
  }
  const std::lock_guard guard(Lock);
  UnitOutcome& outcome = Outcomes[unit];
  outcome.Result = result;
  outcome.PastDeadline = late;
  ++outcome.Attempts;
  outcome.Time += std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - began);
  return true;
}

// Starts the loading and waits for its final step, the deadline (`late`)
// or the abort. NotStarted when the run was aborted first.
UnitResult CFleetRun::Attempt(std::size_t unit, CThreadConfigLoading& loading, CRPCInterface& rpc, bool& late) {
  loading.Sink = [this, unit](int kind, const std::string& text) { Observer->Line(unit, kind, text); };
  loading.OnProgress = [this, unit](std::uint32_t written, std::uint32_t total) {
    Observer->Progress(unit, written, total);
  };
  loading.OnStep = [this, unit](const char* step) {
    {
      const std::lock_guard guard(Lock);
      Outcomes[unit].Step = step;
    }
    Observer->Step(unit, step);
  };
  loading.OnIdentifier = [this, unit](bool again, const std::string& identifier) {
    const std::lock_guard guard(Lock);
    (again ? Outcomes[unit].IdentifierAfter : Outcomes[unit].IdentifierBefore) = identifier;
  };
  loading.OnFinalStep = [this, unit](int step) {
    const std::lock_guard guard(Lock);
    FinalSteps[unit] = step;
    Changed.notify_all();
  };

  std::unique_lock guard(Lock);
  // The set-up cleared the transport's Abort: an abort since then must
  // still keep this loading from starting.
  if (Aborted) return UnitResult::NotStarted;
  FinalSteps[unit].reset();
  Outcomes[unit].IdentifierAfter.clear();
  loading.Start();
  const auto ended = [&] { return FinalSteps[unit].has_value() || Aborted; };
  if (Settings.Deadline) {
    Changed.wait_until(guard, Clock::now() + *Settings.Deadline, ended);
  } else {
    Changed.wait(guard, ended);
  }
  const std::optional<int> final = FinalSteps[unit];
  if (!final) rpc.Abort = true;
  if (final) return *final == CThreadConfigLoading::StepCompleted ? UnitResult::Loaded : UnitResult::Failed;
  if (Aborted) return UnitResult::Aborted;
  late = true;
  return UnitResult::Failed;
}

}  // namespace smsconf::fleet
