#pragma once

// Log lines crossing from a loading's worker thread to the thread that shows
// them, one at a time: the worker waits until its line has been shown. The
// owner shows lines when it is woken for them, and also while it waits for a
// stopping worker, so that a worker waiting here can always end.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>

namespace smsconf {

class CLogHandOver {
 public:
  struct Line {
    int Kind = 0;
    std::string Text;  // Windows-1251 bytes, as the worker logs them
  };
  using Show = std::function<void(const Line& line)>;

  // Worker: queues the line, calls wake (which must make the owner call
  // ShowPending soon, without waiting for it), and returns once the line
  // has been shown.
  void Hand(int kind, const std::string& text, const std::function<void()>& wake);
  // Worker, as its very last act: the owner's ShowUntilEnded may return.
  void WorkerEnded();

  // Owner: shows every queued line, oldest first.
  void ShowPending(const Show& show);
  // Owner: shows the lines as they come until the worker has ended, and
  // does nothing else meanwhile.
  void ShowUntilEnded(const Show& show);

 private:
  std::mutex Guard;
  std::condition_variable Changed;
  std::deque<Line> Pending;
  std::uint64_t Handed = 0;  // lines queued so far
  std::uint64_t Shown = 0;   // lines the owner has shown so far
  bool Ended = false;
};

}  // namespace smsconf
