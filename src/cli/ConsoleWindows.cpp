#include "cli/Console.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>

#include <csignal>
#include <cstdio>

#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <shellapi.h>

namespace smsconf::cli {

namespace {

// The console calls its handler on a thread of its own, so a plain lock and
// condition carry the wake-up.
std::mutex Lock;
std::condition_variable Woken;
std::deque<char> Bytes;
bool StopOnTermination = false;

std::atomic<int> LastStopSignal{SIGINT};

// The system ends the program as soon as the handler of a close, log-off or
// shutdown event returns; this long it may still finish, as after Ctrl+C.
constexpr DWORD EndingGraceMs = 10000;

BOOL WINAPI OnConsoleEvent(DWORD event) {
  const bool interrupt = event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
  if (!interrupt && !StopOnTermination) return FALSE;
  LastStopSignal = interrupt ? SIGINT : SIGTERM;
  WakeUp::Notify(WakeUp::Interrupted);
  // The program's own end comes first; the system cuts the wait short.
  if (!interrupt) Sleep(EndingGraceMs);
  return TRUE;
}

std::string Utf8(const wchar_t* wide) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<std::size_t>(size > 0 ? size - 1 : 0), '\0');
  if (size > 1) WideCharToMultiByte(CP_UTF8, 0, wide, -1, text.data(), size, nullptr, nullptr);
  return text;
}

}  // namespace

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return {argv, argv + argc};
  std::vector<std::string> arguments;
  for (int i = 0; i < count; ++i) arguments.push_back(Utf8(wide[i]));
  LocalFree(wide);
  return arguments;
}

// The console shows Cyrillic as it is only with the UTF-8 output code page.
// Binary mode keeps a newline one byte, so that files and pipes get the same
// bytes as from the Linux build; the console takes a bare newline as well.
// A pipe whose reader has gone is a write error here anyway: Windows has no
// SIGPIPE.
void PrepareConsole() {
  SetConsoleOutputCP(CP_UTF8);
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
}

int OutputErrorNow() { return 0; }

// A console takes the escapes once it is asked to; an old one that cannot
// gets plain lines. _isatty is no help: it says yes to NUL.
bool OutputIsTerminal() {
  const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (output == INVALID_HANDLE_VALUE || !GetConsoleMode(output, &mode)) return false;
  return SetConsoleMode(output, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

WakeUp::WakeUp(bool alsoTermination) : AlsoTermination(alsoTermination) {
  StopOnTermination = alsoTermination;
  Installed = SetConsoleCtrlHandler(OnConsoleEvent, TRUE) != 0;
}

WakeUp::~WakeUp() {
  if (Installed) SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
  std::lock_guard guard(Lock);
  Bytes.clear();
}

char WakeUp::Wait() {
  std::unique_lock guard(Lock);
  Woken.wait(guard, [] { return !Bytes.empty(); });
  const char byte = Bytes.front();
  Bytes.pop_front();
  return byte;
}

void WakeUp::Notify(char byte) {
  {
    std::lock_guard guard(Lock);
    Bytes.push_back(byte);
  }
  Woken.notify_one();
}

int WakeUp::StopSignal() { return LastStopSignal; }

// Console events never interrupt another thread, so there is nothing to shield.
void WakeUp::StartShielded(const std::function<void()>& start) const { start(); }

}  // namespace smsconf::cli
