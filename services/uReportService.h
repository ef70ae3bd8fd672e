// The run report: WriteReport queues one entry per task run; one writer
// thread appends the entries as TAB-separated lines to "report" + yyyymmdd +
// ".txt" in the program folder's "../reports/". TReportFileHandler reads one
// day's file back into the rows of a view.
//
// Ownership: the queue owns its entries; the process-wide queue and writer
// are owned by the service and freed only by StopReportService.
// Threads and locks: WriteReport may be called from any thread and never
// waits for the disk. It holds ReportWriteLock while it pushes, and the queue
// takes ReportQueueLock inside; the writer thread takes only ReportQueueLock.
// TReportFileHandler has no state and takes no lock; LoadDay runs on the
// window thread while the writer may append (each append is one whole line).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Clock.h"
#include "platform/Locks.h"
#include "services/uQueuedWriter.h"

namespace kelvor {

// One queued run.
struct TMissionReport {
  std::string MissionName;
  std::string StartTime;  // "HH:MM"
  std::string EndTime;    // "HH:MM"
  int32_t RecordCount = 0;
  int32_t ResultCode = 0;  // 0 success, -1 failure
  std::string Message;
};

using TReportQueue = TOrderQueue<TMissionReport, ReportQueueLock>;

// The six fields of Entry joined by TAB, numbers in decimal, the text fields
// with their control characters escaped (EscapeLineText): the line always
// reads back as six fields.
std::string FormatReportLine(const TMissionReport& Entry);

// The writer thread (see TQueuedWriter for Folder, Queue, Active, Flush).
class TReportService : public TQueuedWriter<TMissionReport, ReportQueueLock> {
 public:
  TReportService(TReportQueue* Queue, std::string_view Folder);
  ~TReportService() override;

 protected:
  std::string LineOf(const TMissionReport& Entry) const override { return FormatReportLine(Entry); }
};

// Queues one report entry, starting the service with ProgramFolder() +
// "../reports/" first if no writer runs. Returns at once; never reports a
// failure.
void WriteReport(std::string_view MissionName, std::string_view StartTime, std::string_view EndTime,
                 int32_t RecordCount, int32_t ResultCode, std::string_view Message);

// Creates the queue if there is none, then the writer if there is none,
// writing to Folder; the writer runs at once.
void StartReportService(std::string_view Folder);

// Called at program exit: as StopLogService, for the report entries.
void StopReportService(std::chrono::milliseconds MaxWait = kStopWait);

// What LoadDay fills: the report view of the window implements it.
class TReportRowSink {
 public:
  virtual ~TReportRowSink() = default;
  // Removes every row.
  virtual void Clear() = 0;
  // Adds a row: Columns[0] is its caption, the rest its further columns in
  // order (task, start, end, record count, result code, message).
  virtual void AddRow(const std::vector<std::string>& Columns) = 0;
};

class TReportFileHandler {
 public:
  // Clears Sink, then adds one row per non-blank line of the report file of
  // Date's day, fields split at TAB. A missing or unreadable file leaves the
  // sink empty; nothing is reported.
  void LoadDay(TReportRowSink& Sink, const TDateTime& Date) const;
  // The pieces of Line between occurrences of Separator: two separators in a
  // row give an empty piece, a separator at the very end gives none, and an
  // empty Line gives no pieces. Line breaks in Line split it as well.
  static std::vector<std::string> SplitFields(std::string_view Line, std::string_view Separator);
  // ProgramFolder() + "../reports/report" + yyyymmdd + ".txt".
  static std::string DayFilePath(const TDateTime& Date);
};

}  // namespace kelvor
