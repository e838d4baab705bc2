#pragma once

// The Windows side of ChildProcess.h: programs started with CreateProcessW,
// their output through inherited handles.

#include "common/TempDir.h"

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace smsconf::testing {

inline std::wstring Wide(const std::string& utf8) {
  const std::u8string text(utf8.begin(), utf8.end());
  return std::filesystem::path(text).wstring();
}

// One command line from the arguments, each quoted the way the C runtime
// splits them again.
inline std::wstring CommandLine(const std::vector<std::string>& arguments) {
  std::wstring line;
  for (const std::string& argument : arguments) {
    if (!line.empty()) line += L' ';
    line += L'"';
    std::size_t backslashes = 0;
    for (wchar_t c : Wide(argument)) {
      // Backslashes before a quote are doubled, and one more escapes the quote.
      if (c != L'\\') line.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\') += c;
      backslashes = c == L'\\' ? backslashes + 1 : 0;
    }
    line.append(2 * backslashes, L'\\');
    line += L'"';
  }
  return line;
}

// The started process, or nullptr.
inline HANDLE StartProcess(const std::vector<std::string>& arguments, HANDLE output, HANDLE error) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = output;
  startup.hStdError = error;
  PROCESS_INFORMATION process{};
  // Wine, busy starting other programs, now and then refuses one: ask again
  // before giving up, and say why when it does.
  DWORD refusal = 0;
  for (int attempt = 0; attempt < 5; ++attempt, Sleep(200)) {
    std::wstring line = CommandLine(arguments);
    if (CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
      CloseHandle(process.hThread);
      return process.hProcess;
    }
    refusal = GetLastError();
  }
  std::fprintf(stderr, "cannot start %s: Windows error %lu\n", arguments.front().c_str(), refusal);
  return nullptr;
}

inline int WaitForExit(HANDLE process) {
  DWORD code = 0;
  const bool ended = process != nullptr && WaitForSingleObject(process, INFINITE) == WAIT_OBJECT_0;
  return ended && GetExitCodeProcess(process, &code) ? static_cast<int>(code) : -1;
}

inline HANDLE InheritableFile(const std::string& path) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  return CreateFileW(Wide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

inline ProcessResult RunProcess(const std::vector<std::string>& arguments) {
  const TempDir dir;
  const std::string out = dir.File("out"), err = dir.File("err");
  const HANDLE outFile = InheritableFile(out), errFile = InheritableFile(err);
  const HANDLE process = StartProcess(arguments, outFile, errFile);
  const int status = WaitForExit(process);
  if (process != nullptr) CloseHandle(process);
  CloseHandle(outFile);
  CloseHandle(errFile);
  return {status, ReadFile(out), ReadFile(err)};
}

class ChildProcess : public OutputLines<ChildProcess> {
 public:
  // Windows cannot send Ctrl+C or a request to end to one child alone.
  static constexpr bool CanInterrupt = false;

  explicit ChildProcess(const std::vector<std::string>& arguments) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE write = nullptr;
    if (!CreatePipe(&Output, &write, &inherit, 0)) {
      std::fprintf(stderr, "cannot make a pipe: Windows error %lu\n", GetLastError());
      return;
    }
    SetHandleInformation(Output, HANDLE_FLAG_INHERIT, 0);
    Process = StartProcess(arguments, write, write);
    CloseHandle(write);
  }
  ~ChildProcess() {
    Signal(0);
    Wait();
    if (Output != nullptr) CloseHandle(Output);
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Waits as long as the program runs; CTest's time limit bounds a silent one.
  bool ReadByte(char& c) {
    DWORD got = 0;
    return ::ReadFile(Output, &c, 1, &got, nullptr) && got == 1;
  }

  // Lets go of the program's output, as a reader that goes away does.
  void CloseOutput() {
    if (Output != nullptr) CloseHandle(Output);
    Output = nullptr;
  }

  // Ends the program at once, with 128 + signal as its status.
  void Signal(int signal) const {
    if (Process != nullptr) TerminateProcess(Process, static_cast<UINT>(128 + signal));
  }

  int Wait() {
    if (Process == nullptr) return Status;
    Status = WaitForExit(Process);
    CloseHandle(Process);
    Process = nullptr;
    return Status;
  }

 private:
  HANDLE Process = nullptr;
  HANDLE Output = nullptr;
  int Status = -1;
};

}  // namespace smsconf::testing
