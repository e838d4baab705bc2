#pragma once

// Runs a configuration loading on its worker thread against a gateway on
// the loopback interface, the way the loading dialog does, and records what
// the owner sees: the log lines (in UTF-8), the final step and the pauses.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "link/Rpcinterface.h"
#include "loading/ThreadConfigLoading.h"
#include "text/Cp1251.h"

namespace smsconf::testing {

struct LogLine {
  int Kind = CThreadConfigLoading::Info;
  std::string Text;  // UTF-8
  bool operator==(const LogLine&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const LogLine& line) {
  return out << "{" << line.Kind << ", \"" << line.Text << "\"}";
}

constexpr int NoFinalStep = -1;

// "Загрузка конфигурации завершена (N мс)" with any elapsed time N.
inline bool IsCompletionText(const std::string& utf8) {
  const std::string prefix = "Загрузка конфигурации завершена (";
  const std::string suffix = " мс)";
  if (!utf8.starts_with(prefix) || !utf8.ends_with(suffix)) return false;
  const std::string number = utf8.substr(prefix.size(), utf8.size() - prefix.size() - suffix.size());
  return !number.empty() && number.find_first_not_of("0123456789") == std::string::npos;
}

class LoadingHarness {
  std::mutex Mutex;
  std::condition_variable Changed;

 public:
  // The fixed pauses are only recorded, never waited, unless a test asks.
  explicit LoadingHarness(std::uint16_t gatewayPort, LinkSettings link = {5, 200}) {
    Rpc.AddressText = "127.0.0.1:" + std::to_string(gatewayPort);
    Rpc.Tries = link.Tries;
    Rpc.Timeout = link.Timeout;
    Rpc.Open();
    Loading.Client.Rpc = &Rpc;
    Loading.Client.Address = 1;
    Loading.ImageAddress = CThreadConfigLoading::ConfigImageAddress;
    Loading.Pauses.Scale = 0.0;
    Loading.CurrentLinkSettings = [link] { return link; };
    Loading.Sink = [this](int kind, const std::string& text) {
      const LogLine line{kind, text::Cp1251ToUtf8(text)};
      if (OnLine) OnLine(line);
      std::lock_guard lock(Mutex);
      Lines.push_back(line);
      Changed.notify_all();
    };
    Loading.OnFinalStep = [this](int step) {
      std::lock_guard lock(Mutex);
      FinalStep = step;
      Changed.notify_all();
    };
    Loading.OnPause = [this](std::chrono::milliseconds pause) {
      std::lock_guard lock(Mutex);
      Pauses.push_back(pause);
    };
  }

  ~LoadingHarness() { Stop(); }

  LoadingHarness(const LoadingHarness&) = delete;
  LoadingHarness& operator=(const LoadingHarness&) = delete;

  bool Start(const std::vector<std::uint8_t>& image) {
    return Loading.SetImage(image.data(), image.size()) && Loading.Start();
  }

  // The final step the run reached, or NoFinalStep when none came in time.
  // The thread is stopped in either case, as the owner would.
  int Finish(std::chrono::seconds limit = std::chrono::seconds(60)) {
    {
      std::unique_lock lock(Mutex);
      Changed.wait_for(lock, limit, [this] { return FinalStep != NoFinalStep; });
    }
    Stop();
    return FinalStep;
  }

  bool WaitForLine(const std::string& utf8, std::chrono::seconds limit = std::chrono::seconds(60)) {
    std::unique_lock lock(Mutex);
    return Changed.wait_for(lock, limit, [&] {
      for (const LogLine& line : Lines)
        if (line.Text == utf8) return true;
      return false;
    });
  }

  // What the owner does to end a run: abort the request, stop, wait.
  void Stop() {
    Rpc.Abort = true;
    Loading.RequestStop();
    Loading.Wait();
  }

  std::function<void(const LogLine&)> OnLine;  // on the worker, before the line is recorded
  std::vector<LogLine> Lines;
  std::vector<std::chrono::milliseconds> Pauses;
  int FinalStep = NoFinalStep;

  CRPCInterface Rpc;             // outlives the loading that borrows it
  CThreadConfigLoading Loading;
};

}  // namespace smsconf::testing
