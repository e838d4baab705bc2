#include "loading/ThreadConfigLoading.h"

#include <algorithm>
#include <cstring>

#include "text/Cp1251.h"

namespace smsconf {

namespace {

using Clock = std::chrono::steady_clock;

// Requests to "BOOT" that go unexamined before the one that counts.
constexpr int UnexaminedBootRequests = 3;
constexpr std::uint8_t ModeActive = 1;  // the unit reports it is in the requested mode
constexpr std::uint8_t ModeWorking = 0;
constexpr std::uint32_t PercentScale = 100;
constexpr std::uint32_t LowAddressMask = 0xFFFF;

// The log lines, as the Windows-1251 bytes the owner receives.
struct Texts {
  std::string Header = text::Cp1251("Обновление конфигурации АУ [");
  std::string Connecting = text::Cp1251("Подключение к ВЕЛАР по адресу [");
  std::string Connected = text::Cp1251("Выполнено подключение к [");
  std::string Identifier = text::Cp1251("Идентификатор [");
  std::string IdUnavailable = text::Cp1251("Идентификатор устройства недоступен");
  std::string IdUnavailableAfter = text::Cp1251("Ошибка! Идентификатор устройства недоступен");
  std::string NoAnswer = text::Cp1251("Нет ответа от АУ");
  std::string ToBoot = text::Cp1251("Переводим АУ в режим \"BOOT\"");
  std::string InFirmwareUpdate = text::Cp1251("АУ в режиме \"ОБНОВЛЕНИЕ ПРОШИВКИ\"");
  std::string NoNetworkUpdate = text::Cp1251("АУ не поддерживает обновление ПО по сети");
  std::string ToConfig = text::Cp1251("Переводим АУ в режим \"ЗАГРУЗКА КОНФИГУРАЦИИ\"");
  std::string InConfig = text::Cp1251("АУ в режиме \"ЗАГРУЗКА КОНФИГУРАЦИИ\"");
  std::string UploadStart = text::Cp1251("Загрузка файла конфигурации (");
  std::string Bytes = text::Cp1251(" байт)");
  std::string UploadDone = text::Cp1251("Загрузка завершена");
  std::string Finishing = text::Cp1251("Завершение");
  std::string InWork = text::Cp1251("АУ в режиме \"РАБОТА\"");
  std::string InLoading = text::Cp1251("АУ в режиме \"ЗАГРУЗКА\"");
  std::string ToRun = text::Cp1251("Переводим АУ в режим \"РАБОТА\"");
  std::string Completed = text::Cp1251("Загрузка конфигурации завершена (");
  std::string Milliseconds = text::Cp1251(" мс)");
  std::string NoGateway = text::Cp1251("Ошибка! Нет связи с ВЕЛАР");
  std::string UnitLost = text::Cp1251("Ошибка! Потеряна связь с устройством");
  std::string GatewayLost = text::Cp1251("Ошибка! Потеряна связь с ВЕЛАР");
  std::string BlockDone = text::Cp1251("Выполнено ");
  std::string Percent = " %";
  std::string Busy = "Device Busy!";
  std::string UnitError = text::Cp1251("АУ отвечает ошибкой!");
  std::string ProgrammingError = text::Cp1251("Ошибка программирования!");
  std::string BadBlockSize = text::Cp1251("Ошибка! АУ сообщил недопустимый размер блока (");
  std::string Unconfirmed = text::Cp1251("Внимание! АУ ");
  std::string FinishUnanswered = text::Cp1251("не подтвердил завершение загрузки");
  std::string FinishRefused = text::Cp1251("ответил ошибкой на завершение загрузки");
  std::string NoIdentifierAfter = text::Cp1251("не сообщил идентификатор после загрузки");
  std::string And = text::Cp1251(" и ");
  std::string CheckUnit = text::Cp1251(": проверьте конфигурацию АУ");
};

// Built on first use, on whichever thread logs first.
const Texts& Text() {
  static const Texts texts;
  return texts;
}

bool IsFinal(int step) {
  return step == CThreadConfigLoading::StepStopped || step == CThreadConfigLoading::StepNoGateway ||
         step == CThreadConfigLoading::StepUnitLost || step == CThreadConfigLoading::StepCompleted;
}

std::string IdentifierText(const MbIdResult& id) {
  return std::string(id.IdText, ::strnlen(id.IdText, sizeof id.IdText));
}

std::string DottedAddress(const std::uint8_t (&ip)[4]) {
  return std::to_string(ip[0]) + "." + std::to_string(ip[1]) + "." + std::to_string(ip[2]) + "." +
         std::to_string(ip[3]);
}

}  // namespace

LoadingPauses::Duration LoadingPauses::Floor(std::size_t blocks) const {
  return AfterBootRequest * UnexaminedBootRequests + AfterFirstRunRequest + AfterSecondRunRequest +
         AfterThirdRunRequest + BeforeBlock * static_cast<Duration::rep>(blocks);
}

CThreadConfigLoading::CThreadConfigLoading() = default;

CThreadConfigLoading::~CThreadConfigLoading() {
  if (Thread.joinable()) {
    RequestStop();
    Thread.join();
  }
}

bool CThreadConfigLoading::Start() {
  if (HasStarted) return false;
  HasStarted = true;
  Thread = std::jthread([this](std::stop_token token) {
    StopToken = std::move(token);
    Execute();
    if (OnEnd) OnEnd();
  });
  return true;
}

// The lock between the request and the wake-up makes sure the worker is
// either still to look at the stop or already waiting for the wake-up.
void CThreadConfigLoading::RequestStop() {
  Thread.request_stop();
  { const std::lock_guard passed(StopLock); }
  StopWake.notify_all();
}

void CThreadConfigLoading::Wait() {
  if (Thread.joinable()) Thread.join();
}

bool CThreadConfigLoading::SetImage(const std::uint8_t* data, std::size_t size) {
  if (size > Image.size()) return false;
  if (size > 0) std::memcpy(Image.data(), data, size);
  ImageSize = static_cast<std::uint32_t>(size);
  return true;
}

std::uint32_t CThreadConfigLoading::ProgressPercent(std::uint32_t written, std::uint32_t total) {
  return ((written + 1) * PercentScale) / total;
}

void CThreadConfigLoading::Execute() {
  Log(Info, Text().Header + std::to_string(Client.Address) + "]");
  UpdateConfiguration();
}

// The stop flag is looked at only between steps, so a stop never cuts a
// step in half; the lines of the step under way still reach the owner.
void CThreadConfigLoading::UpdateConfiguration() {
  int step = StepConnect;
  while (!StopRequested()) {
    if (IsFinal(step)) {
      if (OnFinalStep) OnFinalStep(step);
      WaitForStop();
      break;
    }
    if (const char* name = StepName(step); name != nullptr) {
      if (OnStep) OnStep(name);
      if (Trace != nullptr) Trace->Event(std::string("step ") + name);
    }
    step = PerformStep(step);
  }
}

const char* CThreadConfigLoading::StepName(int step) {
  switch (step) {
    case StepConnect: return "connect";
    case StepIdentify: return "identify";
    case StepBootMode: return "boot";
    case StepConfigMode: return "config";
    case StepUpload: return "upload";
    case StepFinish: return "finish";
    case StepRunMode: return "run";
    case StepIdentifyAgain: return "identify-again";
    case StepDone: return "done";
    default: return nullptr;
  }
}

int CThreadConfigLoading::PerformStep(int step) {
  switch (step) {
    case StepConnect: return Connect();
    case StepIdentify: return Identify();
    case StepBootMode: return SwitchToBootMode();
    case StepConfigMode: return SwitchToConfigMode();
    case StepUpload: return Upload();
    case StepFinish: return Finish();
    case StepRunMode: return SwitchToRunMode();
    case StepIdentifyAgain: return IdentifyAgain();
    case StepDone: return ReportDone();
    case StepReportNoGateway: return ReportNoGateway();
    case StepReportUnitLost: return ReportUnitLost();
    default: return StepStopped;
  }
}

int CThreadConfigLoading::Connect() {
  StartTick = MillisecondTick();
  CRPCInterface* const rpc = Client.Rpc;
  Log(Info, Text().Connecting + (rpc != nullptr ? rpc->AddressText : std::string()) + "]");
  GatewayInfo info;
  if (rpc == nullptr || rpc->ReadGatewayInfo(info) != RpcOk) return StepReportNoGateway;
  // Shown in the alert colour so that the reached gateway stands out.
  Log(Alert, Text().Connected + DottedAddress(info.IpAddress) + "]");
  return StepIdentify;
}

int CThreadConfigLoading::Identify() {
  MbIdResult id;
  const int result = Client.ReportSlaveId(id);
  if (Unanswered(result, id.Status)) return StepReportUnitLost;
  // A unit without an identifier may still take a configuration.
  if (id.Status == MbValid && OnIdentifier) OnIdentifier(false, IdentifierText(id));
  Log(Info, id.Status == MbValid ? Text().Identifier + IdentifierText(id) + "]" : Text().IdUnavailable);
  return StepBootMode;
}

// The unit needs several requests before it settles in "BOOT"; only the
// answer to the last one tells where it stands.
int CThreadConfigLoading::SwitchToBootMode() {
  Log(Info, Text().ToBoot);
  MbModeResult mode;
  for (int i = 0; i < UnexaminedBootRequests; ++i) {
    Client.EnterBootMode(mode);
    Pause(Pauses.AfterBootRequest);
  }
  const int result = Client.EnterBootMode(mode);
  if (Unanswered(result, mode.Status)) return StepReportUnitLost;
  if (Refused(mode.Status)) return StepStopped;
  if (mode.Mode == ModeActive) Log(Info, Text().InFirmwareUpdate);
  return StepConfigMode;
}

int CThreadConfigLoading::SwitchToConfigMode() {
  Log(Info, Text().ToConfig);
  MbConfigModeResult mode;
  const int result = Client.EnterConfigMode(mode);
  if (Unanswered(result, mode.Status)) return StepReportUnitLost;
  if (Refused(mode.Status)) return StepStopped;
  if (mode.Mode == ModeActive) Log(Info, Text().InConfig);
  BlockSize = mode.BlockSize;
  return StepUpload;
}

int CThreadConfigLoading::Upload() {
  Log(Info, Text().UploadStart + std::to_string(ImageSize) + Text().Bytes);
  if (UploadImage(BlockSize) != UploadDone) return StepStopped;  // the failure is logged already
  Log(Info, Text().UploadDone);
  return StepFinish;
}

int CThreadConfigLoading::Finish() {
  Log(Info, Text().Finishing);
  MbModeResult mode;
  if (Client.FinishLoading(mode) != RpcOk) return StepReportUnitLost;
  // The image is in place whatever the unit says here, so the unit is
  // switched back to work in every case. An exception reply tells no mode:
  // it gets no mode line, and the warning at the end.
  if (mode.Status == MbNoReply) {
    Log(Alert, Text().NoAnswer);
    Shortfall |= FinishUnanswered;
  } else if (mode.Status == MbException) {
    Shortfall |= FinishRefused;
  } else if (mode.Mode == ModeWorking) {
    Log(Info, Text().InWork);
  } else if (mode.Mode == ModeActive) {
    Log(Info, Text().InLoading);
  }
  return StepRunMode;
}

// The unit may miss a request while it restarts; the answers do not matter.
int CThreadConfigLoading::SwitchToRunMode() {
  Log(Info, Text().ToRun);
  Client.EnterRunMode();
  Pause(Pauses.AfterFirstRunRequest);
  Client.EnterRunMode();
  Pause(Pauses.AfterSecondRunRequest);
  Client.EnterRunMode();
  Pause(Pauses.AfterThirdRunRequest);
  return StepIdentifyAgain;
}

int CThreadConfigLoading::IdentifyAgain() {
  MbIdResult id;
  const int result = Client.ReportSlaveId(id);
  if (Unanswered(result, id.Status)) return StepReportUnitLost;
  if (id.Status == MbValid) {
    if (OnIdentifier) OnIdentifier(true, IdentifierText(id));
    Log(Info, Text().Identifier + IdentifierText(id) + "]");
  } else {
    Log(Alert, Text().IdUnavailableAfter);
    Shortfall |= NoIdentifierAfter;
  }
  return StepDone;
}

// A request without a reply from the gateway, or with none from the unit,
// means the unit is lost; the second case gets its own line first.
bool CThreadConfigLoading::Unanswered(int result, std::int32_t status) {
  if (result != RpcOk) return true;
  if (status != MbNoReply) return false;
  Log(Alert, Text().NoAnswer);
  return true;
}

// An exception to a mode switch: the unit cannot take a configuration over
// the network, and is left in whatever mode it is in.
bool CThreadConfigLoading::Refused(std::int32_t status) {
  if (status != MbException) return false;
  Log(Alert, Text().NoNetworkUpdate);
  return true;
}

int CThreadConfigLoading::ReportDone() {
  const std::uint32_t elapsed = MillisecondTick() - StartTick;
  Log(Success, Text().Completed + std::to_string(elapsed) + Text().Milliseconds);
  WarnUnconfirmed();
  return StepCompleted;
}

// The completion line stays where engineers know it; a loading the unit
// did not confirm must still not end looking like a clean one.
void CThreadConfigLoading::WarnUnconfirmed() {
  if (Shortfall == 0) return;
  std::string what;
  if (Shortfall & FinishUnanswered) what = Text().FinishUnanswered;
  if (Shortfall & FinishRefused) what = Text().FinishRefused;
  if (Shortfall & NoIdentifierAfter) what += (what.empty() ? "" : Text().And) + Text().NoIdentifierAfter;
  Log(Alert, Text().Unconfirmed + what + Text().CheckUnit);
}

int CThreadConfigLoading::ReportNoGateway() {
  Log(Alert, Text().NoGateway);
  return StepNoGateway;
}

int CThreadConfigLoading::ReportUnitLost() {
  Log(Alert, Text().UnitLost);
  return StepUnitLost;
}

int CThreadConfigLoading::UploadImage(int blockSize) {
  // The owner's fields may have changed since the start.
  if (CurrentLinkSettings && Client.Rpc != nullptr) {
    const LinkSettings settings = CurrentLinkSettings();
    Client.Rpc->Tries = settings.Tries;
    Client.Rpc->Timeout = settings.Timeout;
  }
  const std::uint32_t size = std::min<std::uint32_t>(ImageSize, static_cast<std::uint32_t>(Image.size()));
  // A block size of 0 would send empty blocks forever without progress.
  if (size > 0 && blockSize <= 0) {
    Log(Alert, Text().BadBlockSize + std::to_string(blockSize) + ")");
    return UploadFailed;
  }
  // A larger block than one write can carry goes in writes of the largest size.
  const std::uint32_t blockLimit = static_cast<std::uint32_t>(std::min(blockSize, MbBlockCapacity));

  std::chrono::milliseconds pause = Pauses.BeforeBlock;
  int result = UploadDone;
  std::uint32_t offset = 0;
  while (offset < size) {
    Pause(pause);
    const std::uint32_t length = std::min(size - offset, blockLimit);
    const std::uint32_t address = ImageAddress + offset;
    MbBlock block{};
    block.Address = address;
    block.DataLength = static_cast<std::int32_t>(length);
    std::memcpy(block.Data, Image.data() + offset, length);

    if (Client.WriteBlock(block) != RpcOk) {
      Log(Alert, Text().GatewayLost);
      result = UploadFailed;
    } else if (block.Status == MbValid) {
      // A valid reply has echoed all four address bytes, but EchoAddress
      // keeps only the low two of them.
      if (block.EchoAddress == (address & LowAddressMask)) {
        offset += length;
        if (OnProgress) OnProgress(offset, size);
        Log(Info, Text().BlockDone + std::to_string(ProgressPercent(offset, size)) + Text().Percent);
      }
    } else if (block.Status == MbException && block.ExceptionCode == MbBusyException) {
      // The unit is still storing; give it longer for this and every later block.
      Log(Info, Text().Busy);
      pause += Pauses.BusyExtra;
      if (Trace != nullptr)
        Trace->Event("unit busy: every further block waits " + std::to_string(pause.count()) + " ms");
    } else if (block.Status == MbException) {
      Log(Alert, Text().UnitError);
      result = UploadFailed;
    } else {
      Log(Alert, Text().ProgrammingError);
      result = UploadFailed;
    }
    if (StopRequested()) result = UploadStopped;
    if (result != UploadDone) break;
  }
  return result;
}

void CThreadConfigLoading::Log(int kind, const std::string& text) {
  if (Trace != nullptr) Trace->Event("log: " + text::Cp1251ToTerminal(text));
  LogText = text;
  LogKind = kind;
  ShowLog();
}

void CThreadConfigLoading::ShowLog() {
  if (Sink) Sink(LogKind, LogText);
}

// Sleeps without using the processor until the owner asks the thread to stop.
void CThreadConfigLoading::WaitForStop() {
  std::unique_lock lock(StopLock);
  StopWake.wait(lock, [this] { return StopRequested(); });
}

// A stop request cuts the pause short: the step then goes on with requests
// that the transport's Abort ends at once.
void CThreadConfigLoading::Pause(std::chrono::milliseconds nominal) {
  if (OnPause) OnPause(nominal);
  if (Trace != nullptr) Trace->Event("pause " + std::to_string(nominal.count()) + " ms");
  const auto real = std::chrono::duration_cast<Clock::duration>(
      std::chrono::duration<double, std::milli>(static_cast<double>(nominal.count()) * Pauses.Scale));
  if (real <= Clock::duration::zero()) return;
  std::unique_lock lock(StopLock);
  StopWake.wait_for(lock, real, [this] { return StopRequested(); });
}

}  // namespace smsconf
