// TThread: the worker-thread life cycle Kelvor's services are built on.
//
// A thread object is created suspended; Resume starts its body (Execute) once.
// Terminate only sets a request flag that the body polls through Terminated();
// a body pausing between polls in Pause is woken by it at once.
// WaitFor blocks until the body has returned.
//
// Ownership. A thread is owned either
//  - by a plain owner (FreeOnTerminate false): the owner must Terminate and
//    WaitFor before it destroys the object; the destructor joins as a last
//    resort; or
//  - by itself (FreeOnTerminate true): the object must be held by a
//    std::shared_ptr when Resume is called; the running body keeps one
//    reference and drops it when it returns, so the object is freed after its
//    body ends and never while it runs. Others observe it through shared_ptr or
//    weak_ptr and never touch freed memory.
// Every started body is counted until it has fully finished, so that program
// exit can wait for self-freeing threads (WaitForAllThreads).
// Thread safety: Resume, Terminate, Terminated, Finished and WaitFor may be
// called from any thread.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace kelvor {

class TThread : public std::enable_shared_from_this<TThread> {
 public:
  TThread() = default;
  virtual ~TThread();
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;

  // Starts the body; later calls do nothing. Set FreeOnTerminate before.
  void Resume();
  // Sets the request and wakes the process's pausing threads (Wakeup.h).
  void Terminate();
  bool Terminated() const { return FTerminated.load(); }
  bool Started() const { return FStarted.load(); }
  // True once Execute has returned.
  bool Finished() const;
  // Blocks until Execute has returned; returns at once for a thread that was
  // never started. Must not be called from the thread itself.
  void WaitFor();
  // As WaitFor, giving up after Timeout; true when the body has returned.
  bool WaitFor(std::chrono::milliseconds Timeout);

  // The object frees itself when its body returns (see the header comment).
  bool FreeOnTerminate = false;

  static void Sleep(int Milliseconds);

 protected:
  virtual void Execute() = 0;

  // Pauses the body for up to Interval between two polls. Returns true as
  // soon as Terminate was called or Done holds (Done is looked at again
  // whenever the process wakeup is notified), false once the whole interval
  // has passed. Call it from the body only.
  bool Pause(std::chrono::milliseconds Interval, const std::function<bool()>& Done = nullptr);

 private:
  void Run(std::shared_ptr<TThread> KeepAlive);

  std::atomic<bool> FTerminated{false};
  std::atomic<bool> FStarted{false};
  mutable std::mutex FStateMutex;
  std::condition_variable FStateChanged;
  bool FFinished = false;  // guarded by FStateMutex
  std::thread FThread;
};

// Number of thread bodies started and not yet completely finished.
int LiveThreadCount();
// Waits until no started body is left running; false on timeout.
bool WaitForAllThreads(std::chrono::milliseconds Timeout);

}  // namespace kelvor
