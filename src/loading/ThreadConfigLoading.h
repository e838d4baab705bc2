#pragma once

// The worker that writes a configuration image into a unit: it asks the
// gateway for its information, identifies the unit, switches it to boot and
// then to configuration-loading mode, writes the image block by block, ends
// the loading, switches the unit back to normal operation and identifies it
// again. Every step becomes one log line handed to the owner.

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>

#include "image/ImageFormat.h"
#include "limits/Limits.h"
#include "link/Modbus.h"
#include "trace/WireTrace.h"

namespace smsconf {

// The fixed pauses of a loading. The product always runs with these
// defaults; tests shrink the real waits with Scale.
struct LoadingPauses {
  using Duration = std::chrono::milliseconds;

  Duration AfterBootRequest{500};       // after each of the first three "BOOT" requests
  Duration AfterFirstRunRequest{500};   // after the three "РАБОТА" requests, in order
  Duration AfterSecondRunRequest{500};
  Duration AfterThirdRunRequest{1000};
  Duration BeforeBlock{50};             // before every block write
  Duration BusyExtra{50};               // added for every busy answer, for the rest of the upload
  double Scale = 1.0;                   // real wait = nominal pause × Scale

  // The pauses of a run that writes `blocks` blocks without a busy answer:
  // the least time such a run can take.
  Duration Floor(std::size_t blocks) const;
};

// The transport settings the upload takes afresh before its first block.
struct LinkSettings {
  int Tries = limits::DefaultTries;
  std::uint32_t Timeout = limits::DefaultTimeoutMs;  // milliseconds per try
};

class CThreadConfigLoading {
 public:
  // Kinds of log line; the owner colours them (black, red, green).
  enum LogKinds : std::int32_t { Info = 0, Alert = 1, Success = 2 };

  // The final steps, which OnFinalStep reports: the thread stays in one,
  // writing nothing, until it is told to stop.
  enum FinalSteps : int {
    StepStopped = 250,  // the unit refused the update, or the upload failed
    StepNoGateway = 1001,
    StepUnitLost = 2001,
    StepCompleted = 3000,  // the image is written; Unconfirmed tells whether the unit said so
  };
  // What the unit did not confirm of a completed loading, one bit each.
  enum Shortfalls : unsigned {
    FinishUnanswered = 1u << 0,  // no valid reply to the end of the loading
    FinishRefused = 1u << 1,     // an exception reply to it
    NoIdentifierAfter = 1u << 2, // no identifier once back at work
  };

  using LogSink = std::function<void(int kind, const std::string& text)>;
  using LinkSettingsProvider = std::function<LinkSettings()>;
  using FinalStepHandler = std::function<void(int step)>;
  using PauseObserver = std::function<void(std::chrono::milliseconds nominal)>;
  using ProgressHandler = std::function<void(std::uint32_t written, std::uint32_t total)>;
  using EndHandler = std::function<void()>;
  using StepObserver = std::function<void(const char* step)>;
  using IdentifierObserver = std::function<void(bool again, const std::string& identifier)>;

  // Created without a thread (suspended); Start runs it.
  CThreadConfigLoading();
  // A started object: requests stop and waits for the thread. It does not
  // set the transport's Abort, so the owner sets that first when a request
  // may be running. An unstarted object goes without running anything.
  virtual ~CThreadConfigLoading();
  CThreadConfigLoading(const CThreadConfigLoading&) = delete;
  CThreadConfigLoading& operator=(const CThreadConfigLoading&) = delete;

  // The owner's hooks, all called on the worker thread; set before Start.
  // None of them may throw.
  LogSink Sink;                              // receives every line; Log waits for it
  LinkSettingsProvider CurrentLinkSettings;  // tries and time-out for the upload; none = keep the transport's
  FinalStepHandler OnFinalStep;              // told once which final step was reached
  PauseObserver OnPause;                     // told every fixed pause before it is waited
  ProgressHandler OnProgress;                // told the image bytes confirmed after every block, just before its line
  EndHandler OnEnd;                          // told last, when the thread body has returned
  StepObserver OnStep;                       // told each step's StepName as it begins
  IdentifierObserver OnIdentifier;           // told the identifier the unit reports, before and again after
  LoadingPauses Pauses;
  // Told each step, log line and pause, among the datagrams; not owned.
  // The transport's Observer is set apart from it.
  trace::CWireTrace* Trace = nullptr;

  // Starts the thread; false when it was started before.
  bool Start();
  // Sets the stop flag. A request in progress ends only when the owner also
  // sets the transport's Abort.
  void RequestStop();
  // Waits until the thread has ended (at once for an unstarted object).
  void Wait();
  bool Started() const { return HasStarted; }
  // The Shortfalls of the loading so far; none once it completed cleanly.
  // Final by the time OnFinalStep is told StepCompleted.
  unsigned Unconfirmed() const { return Shortfall; }

  // Copies the image; refuses (false, nothing changed) one larger than Image.
  bool SetImage(const std::uint8_t* data, std::size_t size);

  // The per cent of the progress line once `written` of `total` bytes are
  // confirmed. It counts one byte more than written, so the last block of a
  // small image shows more than 100: the lines read as they always have.
  static std::uint32_t ProgressPercent(std::uint32_t written, std::uint32_t total);
  // A step as one word for reports ("connect", "upload", "done"); nullptr
  // for the steps that only report a failure and the final ones.
  static const char* StepName(int step);

  CModbus Client;            // its Address and Rpc are set before Start, as SetUpLoading does
  std::array<std::uint8_t, imageformat::UnitCapacity> Image{};
  std::uint32_t ImageSize = 0;  // valid bytes in Image; set through SetImage
  std::uint32_t ImageAddress = imageformat::LoadAddress;  // unit address of Image[0]

 private:
  // The steps on the way to a final one.
  enum Steps : int {
    StepConnect = 0,
    StepIdentify = 10,
    StepBootMode = 15,
    StepConfigMode = 20,
    StepUpload = 30,
    StepFinish = 40,
    StepRunMode = 45,
    StepIdentifyAgain = 50,
    StepDone = 60,
    StepReportNoGateway = 1000,
    StepReportUnitLost = 2000,
  };
  // What UploadImage returns.
  enum UploadResult : int { UploadDone = 0, UploadFailed = -1, UploadStopped = -2 };

  // The thread body and its parts run on the worker thread, which Start
  // begins; Execute writes the header line, then runs the step machine.
  void Execute();
  void UpdateConfiguration();
  // Writes the whole image in blocks of blockSize bytes; a failure is
  // logged before UploadFailed is returned.
  int UploadImage(int blockSize);
  // Hands one line to the owner and returns when the owner has taken it.
  void Log(int kind, const std::string& text);
  // Delivers LogText and LogKind to the owner's sink.
  void ShowLog();

  int PerformStep(int step);
  int Connect();
  int Identify();
  int SwitchToBootMode();
  int SwitchToConfigMode();
  int Upload();
  int Finish();
  int SwitchToRunMode();
  int IdentifyAgain();
  int ReportDone();
  void WarnUnconfirmed();
  int ReportNoGateway();
  int ReportUnitLost();
  bool Unanswered(int result, std::int32_t status);
  bool Refused(std::int32_t status);
  void WaitForStop();
  void Pause(std::chrono::milliseconds nominal);
  bool StopRequested() const { return StopToken.stop_requested(); }

  std::string LogText;  // the line being handed over
  std::int32_t LogKind = Info;

  std::uint32_t StartTick = 0;
  bool HasStarted = false;
  int BlockSize = 0;          // as the unit reported it on entering configuration mode
  unsigned Shortfall = 0;     // Shortfalls seen on the way
  std::stop_token StopToken;  // the worker's own copy, taken when the thread begins
  // Wake the worker's pauses and its wait at the end when a stop is asked
  // for. A waiting stop-token callback can hang as it is removed in the C++
  // library of mingw-w64, so the waits use a plain condition instead.
  std::mutex StopLock;
  std::condition_variable StopWake;
  std::jthread Thread;        // last: joined before the other members go
};

}  // namespace smsconf
