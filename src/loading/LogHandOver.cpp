#include "loading/LogHandOver.h"

namespace smsconf {

void CLogHandOver::Hand(int kind, const std::string& text, const std::function<void()>& wake) {
  std::unique_lock lock(Guard);
  Pending.push_back({kind, text});
  const std::uint64_t ticket = ++Handed;
  Changed.notify_all();
  lock.unlock();
  wake();
  lock.lock();
  Changed.wait(lock, [&] { return Shown >= ticket; });
}

void CLogHandOver::WorkerEnded() {
  std::lock_guard lock(Guard);
  Ended = true;
  Changed.notify_all();
}

// The lock is let go while a line is shown, so that showing may take its
// time without holding the worker's next line back from the queue.
void CLogHandOver::ShowPending(const Show& show) {
  std::unique_lock lock(Guard);
  while (!Pending.empty()) {
    const Line line = std::move(Pending.front());
    Pending.pop_front();
    lock.unlock();
    show(line);
    lock.lock();
    ++Shown;
    Changed.notify_all();
  }
}

void CLogHandOver::ShowUntilEnded(const Show& show) {
  for (;;) {
    {
      std::unique_lock lock(Guard);
      Changed.wait(lock, [&] { return Ended || !Pending.empty(); });
      if (Pending.empty()) return;
    }
    ShowPending(show);
  }
}

}  // namespace smsconf
