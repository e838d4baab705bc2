#pragma once

// What the command line does its own way on each system: how the arguments
// arrive, what the console shows, and how Ctrl+C reaches the program.

#include <functional>
#include <string>
#include <vector>

namespace smsconf::cli {

// The arguments as UTF-8. Windows hands a program its command line in the
// local code page, so there they are read again in wide characters, and a
// path in any language arrives whole.
std::vector<std::string> Utf8Arguments(int argc, char** argv);

// Makes the console show the program's UTF-8 output as it is, and a reader
// of the output that has gone an ordinary write error rather than the end
// of the program (SIGPIPE is ignored).
void PrepareConsole();

// Why standard output takes nothing more, when the system can still tell
// after the failed write (a full device, a pipe whose reader has gone); 0
// when it cannot. Nothing is written.
int OutputErrorNow();

// Whether standard output is a terminal that takes the colour and
// line-clearing escapes; a file, pipe or NUL is none.
bool OutputIsTerminal();

// Sleeps one thread until another wakes it with a byte, or until the user
// stops the program: Ctrl+C, and with `alsoTermination` a request to end it
// as well (SIGTERM, SIGHUP, or the console window closing, the session
// ending or the system shutting down).
class WakeUp {
 public:
  static constexpr char Interrupted = 'I';

  explicit WakeUp(bool alsoTermination = false);
  ~WakeUp();
  WakeUp(const WakeUp&) = delete;
  WakeUp& operator=(const WakeUp&) = delete;

  bool Ready() const { return Installed; }
  // The byte that woke it: Interrupted for the user's stop.
  char Wait();
  // Wakes the waiting thread; safe from any thread.
  static void Notify(char byte);
  // The signal behind the last Interrupted: SIGINT for Ctrl+C, SIGTERM or
  // SIGHUP; on Windows SIGTERM stands for the console's close, log-off and
  // shutdown events. Shells report 128 plus it.
  static int StopSignal();
  // Runs `start` so that the threads it starts never take the user's stop
  // themselves: it must reach the waiting thread, not interrupt a worker.
  void StartShielded(const std::function<void()>& start) const;

 private:
  bool Installed = false;
  bool AlsoTermination;
};

}  // namespace smsconf::cli
