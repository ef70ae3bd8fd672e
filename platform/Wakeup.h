// TWakeup: ends the pause of a polling thread as soon as what it waits for may
// have happened, instead of at its next poll.
//
// A polling thread pauses through WaitUntil, naming its own condition and the
// end of its interval. Whoever changes something such a condition reads (a
// stop or start request, a thread asked to terminate, a thread that ended)
// calls Notify, and every waiting thread looks at its condition again. A
// waiter whose condition does not hold goes on waiting until its deadline, so
// a thread still polls at its own interval; it only acts sooner.
// Threads and locks: any thread. Conditions are evaluated without the
// wakeup's own lock held, so they may take any lock, and Notify may be called
// with any lock held. Notify is not async-signal-safe.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

namespace kelvor {

class TWakeup {
 public:
  TWakeup() = default;
  TWakeup(const TWakeup&) = delete;
  TWakeup& operator=(const TWakeup&) = delete;

  // Makes every waiter look at its condition again.
  void Notify();
  // Waits until Done holds (true) or Deadline has passed (then Done once
  // more). Done is looked at first, and again after every Notify.
  bool WaitUntil(std::chrono::steady_clock::time_point Deadline, const std::function<bool()>& Done);
  bool WaitFor(std::chrono::milliseconds Timeout, const std::function<bool()>& Done);

 private:
  std::mutex FMutex;
  std::condition_variable FNotified;
  uint64_t FGeneration = 0;  // guarded by FMutex; counts Notify calls
};

// The wakeup every thread of the process shares: TThread::Terminate and the
// end of every thread body notify it, and so do the service's stop and start
// requests. Never destroyed.
TWakeup& ProcessWakeup();

}  // namespace kelvor
