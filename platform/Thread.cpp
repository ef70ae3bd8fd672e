#include "platform/Thread.h"

#include <stdexcept>

#include "platform/Wakeup.h"

namespace kelvor {

namespace {
// Counts running bodies. Never destroyed: a detached body may still be
// leaving while static objects are being torn down at exit.
struct LiveBodies {
  std::mutex Mutex;
  std::condition_variable Changed;
  int Count = 0;  // guarded by Mutex
};
LiveBodies& Live() {
  static LiveBodies* live = new LiveBodies;
  return *live;
}
}  // namespace

TThread::~TThread() {
  if (FThread.joinable()) {
    if (FThread.get_id() == std::this_thread::get_id())
      FThread.detach();  // the body dropped the last reference to itself
    else
      FThread.join();
  }
}

void TThread::Terminate() {
  FTerminated.store(true);
  ProcessWakeup().Notify();
}

bool TThread::Pause(std::chrono::milliseconds Interval, const std::function<bool()>& Done) {
  return ProcessWakeup().WaitFor(Interval,
                                 [this, &Done] { return Terminated() || (Done && Done()); });
}

void TThread::Resume() {
  bool expected = false;
  if (!FStarted.compare_exchange_strong(expected, true)) return;
  std::shared_ptr<TThread> keep;
  if (FreeOnTerminate) {
    keep = weak_from_this().lock();
    if (!keep) throw std::logic_error("a self-freeing thread must be held by a shared_ptr");
  }
  {
    std::lock_guard<std::mutex> lock(Live().Mutex);
    ++Live().Count;
  }
  // The body waits for this lock, so FThread is assigned before the body can
  // run to its end and free the object.
  std::lock_guard<std::mutex> lock(FStateMutex);
  FThread = std::thread([this, keep = std::move(keep)]() mutable { Run(std::move(keep)); });
}

void TThread::Run(std::shared_ptr<TThread> KeepAlive) {
  { std::lock_guard<std::mutex> lock(FStateMutex); }
  try {
    Execute();
  } catch (...) {
    // A body that lets an error escape ends like one that returned.
  }
  {
    std::lock_guard<std::mutex> lock(FStateMutex);
    FFinished = true;
  }
  FStateChanged.notify_all();
  // Whoever waits for this thread to end (an idle check, say) looks now.
  ProcessWakeup().Notify();
  KeepAlive.reset();  // may free this object; nothing below touches it
  LiveBodies& live = Live();
  std::lock_guard<std::mutex> lock(live.Mutex);
  --live.Count;
  live.Changed.notify_all();
}

bool TThread::Finished() const {
  std::lock_guard<std::mutex> lock(FStateMutex);
  return FFinished;
}

void TThread::WaitFor() {
  if (!FStarted.load()) return;
  std::unique_lock<std::mutex> lock(FStateMutex);
  FStateChanged.wait(lock, [this] { return FFinished; });
}

bool TThread::WaitFor(std::chrono::milliseconds Timeout) {
  if (!FStarted.load()) return true;
  std::unique_lock<std::mutex> lock(FStateMutex);
  return FStateChanged.wait_for(lock, Timeout, [this] { return FFinished; });
}

void TThread::Sleep(int Milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(Milliseconds));
}

int LiveThreadCount() {
  std::lock_guard<std::mutex> lock(Live().Mutex);
  return Live().Count;
}

bool WaitForAllThreads(std::chrono::milliseconds Timeout) {
  LiveBodies& live = Live();
  std::unique_lock<std::mutex> lock(live.Mutex);
  return live.Changed.wait_for(lock, Timeout, [&live] { return live.Count == 0; });
}

}  // namespace kelvor
