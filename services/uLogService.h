// The log: WriteLog stamps a line and queues it; one writer thread appends
// queued lines to "log" + yyyymmdd + ".txt" in its folder ("../logs/" from
// the current directory at the moment each file is opened), in queue order.
//
// Ownership: the queue owns its entries; the process-wide queue and writer
// are owned by the service and freed only by StopLogService.
// Threads and locks: WriteLog may be called from any thread and never waits
// for the disk. It holds LogWriteLock while it pushes, and the queue takes
// LogQueueLock inside; the writer thread takes only LogQueueLock.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/Locks.h"
#include "services/uQueuedWriter.h"

namespace kelvor {

// One queued line, complete but for the line end.
struct TLogOrder {
  std::string Text;
};

using TLogQueue = TOrderQueue<TLogOrder, LogQueueLock>;

// The writer thread (see TQueuedWriter for Folder, Queue, Active, Flush).
class TLogService : public TQueuedWriter<TLogOrder, LogQueueLock> {
 public:
  TLogService(TLogQueue* Queue, std::string_view Folder);
  ~TLogService() override;

 protected:
  std::string LineOf(const TLogOrder& Entry) const override { return Entry.Text; }
};

// "<YYYY-MM-DD HH:MM:SS>" of the current time, the calling thread's line
// mark (TLogLineMark), then Text with its control characters escaped
// (EscapeLineText): the line WriteLog queues.
std::string StampLogLine(std::string_view Text);

// While it lives, every line the constructing thread logs carries Mark right
// after its stamp: a dry run's lines read as such in the log every task
// shares. Not nested; lives on the one thread that made it.
class TLogLineMark {
 public:
  explicit TLogLineMark(std::string_view Mark);
  ~TLogLineMark();
  TLogLineMark(const TLogLineMark&) = delete;
  TLogLineMark& operator=(const TLogLineMark&) = delete;
};

// Queues StampLogLine(Text), starting the service with "../logs/" first if
// no writer runs. Returns at once; never reports a failure.
void WriteLog(std::string_view Text);

// Creates the queue if there is none, then the writer if there is none,
// writing to Folder; the writer runs at once.
void StartLogService(std::string_view Folder);

// Called at program exit: waits up to MaxWait (by default about ten seconds)
// for the writer to empty the queue, ends it, then writes whatever is still
// queued, in order, before freeing the queue. A later WriteLog starts a fresh
// writer.
void StopLogService(std::chrono::milliseconds MaxWait = kStopWait);

}  // namespace kelvor
