#include "platform/Wakeup.h"

namespace kelvor {

void TWakeup::Notify() {
  {
    std::lock_guard<std::mutex> lock(FMutex);
    ++FGeneration;
  }
  FNotified.notify_all();
}

bool TWakeup::WaitUntil(std::chrono::steady_clock::time_point Deadline,
                        const std::function<bool()>& Done) {
  for (;;) {
    // The generation is taken before the condition is read: a change made
    // after that reading comes with a Notify that ends the wait below.
    uint64_t seen;
    {
      std::lock_guard<std::mutex> lock(FMutex);
      seen = FGeneration;
    }
    if (Done && Done()) return true;
    std::unique_lock<std::mutex> lock(FMutex);
    if (!FNotified.wait_until(lock, Deadline, [&] { return FGeneration != seen; })) break;
  }
  return Done && Done();
}

bool TWakeup::WaitFor(std::chrono::milliseconds Timeout, const std::function<bool()>& Done) {
  return WaitUntil(std::chrono::steady_clock::now() + Timeout, Done);
}

TWakeup& ProcessWakeup() {
  // Threads may still notify while static objects are torn down at exit.
  static TWakeup* const wakeup = new TWakeup;
  return *wakeup;
}

}  // namespace kelvor
