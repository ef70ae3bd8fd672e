#include "services/uReportService.h"

#include <mutex>

#include "platform/LineText.h"
#include "platform/Paths.h"
#include "platform/Text.h"
#include "platform/TextFile.h"

namespace kelvor {

std::string FormatReportLine(const TMissionReport& Entry) {
  // The reader splits lines at line breaks and fields at TAB: no text field
  // may hold either.
  std::string line = EscapeLineText(Entry.MissionName);
  line += '\t';
  line += EscapeLineText(Entry.StartTime);
  line += '\t';
  line += EscapeLineText(Entry.EndTime);
  line += '\t';
  line += std::to_string(Entry.RecordCount);
  line += '\t';
  line += std::to_string(Entry.ResultCode);
  line += '\t';
  line += EscapeLineText(Entry.Message);
  return line;
}

TReportService::TReportService(TReportQueue* Queue, std::string_view Folder)
    : TQueuedWriter(Queue, Folder, "report") {}

TReportService::~TReportService() {
  // The body calls LineOf, which is gone once this destructor has run.
  Terminate();
  WaitFor();
}

namespace {

using TReportSlot = TWriterSlot<TReportService>;

TReportSlot& ReportSlot() {
  // Never freed: daemons may still report while the process exits.
  static TReportSlot* const slot = new TReportSlot;
  return *slot;
}

std::string ReportFolder() {
  return IncludeTrailingSeparator(ProgramFolder()) + "../reports/";
}

}  // namespace

void WriteReport(std::string_view MissionName, std::string_view StartTime, std::string_view EndTime,
                 int32_t RecordCount, int32_t ResultCode, std::string_view Message) {
  auto entry = std::make_unique<TMissionReport>();
  entry->MissionName = MissionName;
  entry->StartTime = StartTime;
  entry->EndTime = EndTime;
  entry->RecordCount = RecordCount;
  entry->ResultCode = ResultCode;
  entry->Message = Message;
  std::string folder = ReportFolder();
  TReportSlot& slot = ReportSlot();
  std::lock_guard<std::mutex> lock(ReportWriteLock);
  // Started under ReportWriteLock, so two first reporters make one service.
  if (!slot.HasWriter()) slot.Start(folder);
  slot.Push(std::move(entry));
}

void StartReportService(std::string_view Folder) {
  TReportSlot& slot = ReportSlot();
  std::lock_guard<std::mutex> lock(ReportWriteLock);
  slot.Start(Folder);
}

void StopReportService(std::chrono::milliseconds MaxWait) {
  ReportSlot().Stop(ReportWriteLock, MaxWait);
}

std::string TReportFileHandler::DayFilePath(const TDateTime& Date) {
  return ReportFolder() + "report" + FormatDayStamp(Date) + ".txt";
}

void TReportFileHandler::LoadDay(TReportRowSink& Sink, const TDateTime& Date) const {
  Sink.Clear();
  std::vector<std::string> lines;
  if (!ReadLines(DayFilePath(Date), lines)) return;
  for (const auto& line : lines) {
    if (TrimText(line).empty()) continue;
    std::vector<std::string> fields = SplitFields(line, "\t");
    if (!fields.empty()) Sink.AddRow(fields);
  }
}

std::vector<std::string> TReportFileHandler::SplitFields(std::string_view Line,
                                                         std::string_view Separator) {
  if (Separator.empty()) return SplitLines(Line);
  return SplitLines(ReplaceAll(Line, Separator, "\n"));
}

}  // namespace kelvor
