#include "services/uLogService.h"

#include <mutex>

#include "platform/Clock.h"
#include "platform/LineText.h"

namespace kelvor {

TLogService::TLogService(TLogQueue* Queue, std::string_view Folder)
    : TQueuedWriter(Queue, Folder, "log") {}

TLogService::~TLogService() {
  // The body calls LineOf, which is gone once this destructor has run.
  Terminate();
  WaitFor();
}

namespace {

using TLogSlot = TWriterSlot<TLogService>;

TLogSlot& LogSlot() {
  // Never freed: threads may still log while the process exits.
  static TLogSlot* const slot = new TLogSlot;
  return *slot;
}

thread_local std::string t_LineMark;

}  // namespace

TLogLineMark::TLogLineMark(std::string_view Mark) {
  t_LineMark = Mark;
}

TLogLineMark::~TLogLineMark() {
  t_LineMark.clear();
}

std::string StampLogLine(std::string_view Text) {
  std::string line = "<" + FormatDateTime(Clock::Now()) + ">" + t_LineMark;
  // One event, one line: a name or a statement holding line breaks must not
  // read as further events.
  line += EscapeLineText(Text);
  return line;
}

void WriteLog(std::string_view Text) {
  auto entry = std::make_unique<TLogOrder>();
  entry->Text = StampLogLine(Text);
  TLogSlot& slot = LogSlot();
  std::lock_guard<std::mutex> lock(LogWriteLock);
  // Started under LogWriteLock, so two first writers make one service.
  if (!slot.HasWriter()) slot.Start("../logs/");
  slot.Push(std::move(entry));
}

void StartLogService(std::string_view Folder) {
  TLogSlot& slot = LogSlot();
  std::lock_guard<std::mutex> lock(LogWriteLock);
  slot.Start(Folder);
}

void StopLogService(std::chrono::milliseconds MaxWait) {
  LogSlot().Stop(LogWriteLock, MaxWait);
}

}  // namespace kelvor
