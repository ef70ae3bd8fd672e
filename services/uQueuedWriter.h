// The machinery the log and the report service share: a queue of entries
// guarded by one process-wide lock, a writer thread that appends them to a
// daily file, and the process-wide slot holding one queue and one writer.
//
// Ownership: the queue owns its entries; Extract hands one to the caller. The
// writer does not own its queue; the slot owns both.
// Threads and locks: producers push under the service's write lock, and the
// queue takes its own queue lock inside (write lock before queue lock). The
// writer thread takes only the queue lock, once per Count or Extract, and
// does all file work without a lock. A writer pauses on the process wakeup
// (platform/Wakeup.h), so a stop ends its pauses at once.
// A writer whose file cannot be written says so once through the write
// failure handler, and again only after a line was written in between.
#pragma once

#include <atomic>
#include <cerrno>
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>

#include "platform/Clock.h"
#include "platform/Paths.h"
#include "platform/TextFile.h"
#include "platform/Thread.h"
#include "platform/Wakeup.h"

namespace kelvor {

// How long stopping a service waits for its writer to empty the queue
// (about ten seconds).
inline constexpr std::chrono::milliseconds kStopWait{10050};

// Receives the text saying that a writer's file cannot be written (a full
// disk, a folder that is missing or read-only). Called on the writer's thread
// with no lock held, or on the thread stopping the service while it holds the
// service's write lock: it must not write to the log or the report itself,
// and must return quickly.
using TWriteFailureHandler = std::function<void(const std::string& Text)>;

// Replaces the process-wide handler; an empty one restores the default, which
// writes the text to standard error and posts it to the service channel of
// the latest service start, if any, for the window's console.
void SetWriteFailureHandler(TWriteFailureHandler Handler);

// Hands "cannot write the <Kind> file <absolute Path>: <reason of Error>..."
// to the handler.
void SayWriteFailure(std::string_view Kind, const std::string& Path, int Error);

template <typename TEntry, std::mutex& QueueLock>
class TOrderQueue {
 public:
  TOrderQueue() = default;
  TOrderQueue(const TOrderQueue&) = delete;
  TOrderQueue& operator=(const TOrderQueue&) = delete;

  void Push(std::unique_ptr<TEntry> Entry) {
    std::lock_guard<std::mutex> lock(QueueLock);
    Items.push_back(std::move(Entry));
  }
  int Count() const {
    std::lock_guard<std::mutex> lock(QueueLock);
    return static_cast<int>(Items.size());
  }
  // Removes the entry at Index and hands it over; nullptr when Index is out
  // of range.
  std::unique_ptr<TEntry> Extract(int Index) {
    std::lock_guard<std::mutex> lock(QueueLock);
    if (Index < 0 || static_cast<size_t>(Index) >= Items.size()) return nullptr;
    auto it = Items.begin() + Index;
    std::unique_ptr<TEntry> entry = std::move(*it);
    Items.erase(it);
    return entry;
  }
  void Clear() {
    std::deque<std::unique_ptr<TEntry>> gone;
    std::lock_guard<std::mutex> lock(QueueLock);
    gone.swap(Items);
  }

 private:
  std::deque<std::unique_ptr<TEntry>> Items;  // oldest first; guarded by QueueLock
};

// A writer thread appending the entries of Queue to Folder + Prefix +
// "yyyymmdd" + ".txt", one open/append/close per entry, paced at 10 ms per
// entry and 100 ms per pass until it is told to hurry (the service is
// stopping): then it writes what is queued at once and without pacing.
// Subclasses give the line of an entry.
template <typename TEntry, std::mutex& QueueLock>
class TQueuedWriter : public TThread {
 public:
  using TQueue = TOrderQueue<TEntry, QueueLock>;

  // A non-empty Folder gets a trailing separator; the folder is not created.
  TQueuedWriter(TQueue* AQueue, std::string_view AFolder, std::string_view APrefix)
      : Folder(IncludeTrailingSeparator(AFolder)), Queue(AQueue), FPrefix(APrefix) {}

  const std::string Folder;
  TQueue* const Queue;  // not owned
  std::atomic<bool> Active{true};

  // One pass: writes queued entries oldest first to the file of the day the
  // pass began. A failed append loses that entry and ends the pass; a
  // termination request ends it between two entries.
  void Flush() {
    const std::string path = FileForToday();
    while (!Terminated() && Queue->Count() > 0) {
      std::unique_ptr<TEntry> entry = Queue->Extract(0);
      if (!entry) break;
      if (!Append(path, *entry)) return;
      entry.reset();
      if (!FHurry.load()) Pause(std::chrono::milliseconds(10), [this] { return FHurry.load(); });
    }
  }

  // Ends the writer's pacing for good: it leaves its pause and writes what is
  // queued at once, without pausing between entries. Any thread.
  void Hurry() {
    FHurry.store(true);
    ProcessWakeup().Notify();
  }

  // Writes every entry still queued, in order and without pacing, to the file
  // of the day the drain began; entries that cannot be written are dropped.
  // Called once the thread has ended.
  void Drain() {
    const std::string path = FileForToday();
    while (std::unique_ptr<TEntry> entry = Queue->Extract(0))
      Append(path, *entry);
  }

 protected:
  virtual std::string LineOf(const TEntry& Entry) const = 0;

  void Execute() override {
    while (Active.load() && !Terminated()) {
      try {
        Flush();
      } catch (...) {
        // A pass that fails is simply retried with the next entry.
      }
      // Whoever waits for the queue to be written looks now.
      if (FHurry.load()) ProcessWakeup().Notify();
      Pause(std::chrono::milliseconds(100),
            [this] { return !Active.load() || (FHurry.load() && Queue->Count() > 0); });
    }
  }

 private:
  std::string FileForToday() const {
    return Folder + FPrefix + FormatDayStamp(Clock::Now()) + ".txt";
  }

  // A disk that stays full fails every line: only the first failure after a
  // written line (or since the start) is said.
  bool Append(const std::string& Path, const TEntry& Entry) {
    if (AppendLine(Path, LineOf(Entry))) {
      FFailing = false;
      return true;
    }
    const int error = errno;
    if (!FFailing) SayWriteFailure(FPrefix, Path, error);
    FFailing = true;
    return false;
  }

  const std::string FPrefix;
  std::atomic<bool> FHurry{false};
  // Touched only by the thread that writes: the writer, or Drain once the
  // writer has ended.
  bool FFailing = false;
};

// The process-wide queue and writer of one service. Every member must be
// called with the service's write lock held, except Stop, which takes it.
template <typename TWriter>
class TWriterSlot {
 public:
  using TQueue = typename TWriter::TQueue;

  bool HasWriter() const { return FWriter != nullptr; }

  // Creates the queue if there is none, then the writer if there is none,
  // and starts it.
  void Start(std::string_view Folder) {
    if (!FQueue) FQueue = std::make_unique<TQueue>();
    if (!FWriter) {
      FWriter = std::make_unique<TWriter>(FQueue.get(), Folder);
      FWriter->Resume();
    }
  }

  template <typename TEntry>
  void Push(std::unique_ptr<TEntry> Entry) {
    FQueue->Push(std::move(Entry));
  }

  // Tells the writer to hurry and waits (up to MaxWait) for it to empty the
  // queue, ends the writer, then writes what is still queued itself before
  // freeing both. Nothing waits for the writer's next pass: the wait ends
  // when the queue is empty. Producers keep queuing during the wait and are
  // held back only while the writer ends and the rest is written, so every
  // line queued before the slot is emptied reaches the file, in order. A
  // later Start begins afresh.
  void Stop(std::mutex& WriteLock, std::chrono::milliseconds MaxWait) {
    std::lock_guard<std::mutex> serial(FStopMutex);
    TQueue* queue;
    TWriter* writer;
    {
      std::lock_guard<std::mutex> lock(WriteLock);
      queue = FQueue.get();
      writer = FWriter.get();
    }
    // Only Stop frees the queue and the writer, and FStopMutex keeps Stops
    // apart.
    if (writer) writer->Hurry();
    if (queue) ProcessWakeup().WaitFor(MaxWait, [queue] { return queue->Count() == 0; });
    std::lock_guard<std::mutex> lock(WriteLock);
    if (FWriter) {
      FWriter->Terminate();
      FWriter->WaitFor();
      FWriter->Drain();
    }
    FWriter.reset();
    FQueue.reset();
  }

 private:
  std::mutex FStopMutex;             // taken first, only by Stop
  std::unique_ptr<TQueue> FQueue;    // guarded by the write lock
  std::unique_ptr<TWriter> FWriter;  // guarded by the write lock
};

}  // namespace kelvor
