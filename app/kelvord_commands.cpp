#include "app/kelvord_commands.h"

#include <algorithm>
#include <cstdint>
#include <exception>
#include <memory>
#include <thread>
#include <vector>

#include "daemons/uNotifyService.h"
#include "db/DbConnection.h"
#include "db/DbQuery.h"
#include "engine/uKelvorOperation.h"
#include "platform/Clock.h"
#include "platform/LineText.h"
#include "platform/Text.h"
#include "platform/TextFile.h"
#include "platform/Thread.h"
#include "platform/Wakeup.h"
#include "services/uAlertService.h"
#include "services/uBroadMessage.h"
#include "services/uLogService.h"
#include "services/uReportService.h"
#include "tasks/uInstanceCollections.h"

namespace kelvor {

namespace {

// A planned day of the month recurs within two months (31 January to 31
// March is the longest wait), so a search this long finds it if it exists.
constexpr int kDaysToSearch = 62;

bool IsTimeOfDay(const std::string& Text) {
  auto digit = [&](size_t i) { return Text[i] >= '0' && Text[i] <= '9'; };
  if (Text.size() != 5 || Text[2] != ':' || !digit(0) || !digit(1) || !digit(3) || !digit(4))
    return false;
  return (Text[0] - '0') * 10 + (Text[1] - '0') < 24 && Text[3] < '6';
}

std::string WeekdayName(int Day) {
  static const char* const names[] = {"Monday", "Tuesday",  "Wednesday", "Thursday",
                                      "Friday", "Saturday", "Sunday"};
  if (Day >= 1 && Day <= 7) return names[Day - 1];
  return "weekday " + std::to_string(Day);
}

// Columns of a UTF-8 text on a terminal: East Asian wide characters take two.
size_t DisplayWidth(std::string_view Text) {
  size_t width = 0;
  for (size_t i = 0; i < Text.size();) {
    const auto c = static_cast<unsigned char>(Text[i]);
    const size_t length = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    uint32_t cp = length == 1 ? c : c & (0x7F >> length);
    for (size_t k = 1; k < length && i + k < Text.size(); ++k)
      cp = (cp << 6) | (static_cast<unsigned char>(Text[i + k]) & 0x3F);
    const bool wide = (cp >= 0x1100 && cp <= 0x115F) || (cp >= 0x2E80 && cp <= 0xA4CF) ||
                      (cp >= 0xAC00 && cp <= 0xD7A3) || (cp >= 0xF900 && cp <= 0xFAFF) ||
                      (cp >= 0xFE30 && cp <= 0xFE4F) || (cp >= 0xFF00 && cp <= 0xFF60) ||
                      (cp >= 0xFFE0 && cp <= 0xFFE6) || cp >= 0x20000;
    width += wide ? 2 : 1;
    i += length;
  }
  return width;
}

// What the check found for one task.
struct TCheckRow {
  std::vector<std::string> Cells;  // in the order of kCheckColumns
  std::vector<std::string> Notes;  // the reasons behind an "error" or "never"
  bool Active = false;
  bool CouldRun = true;
};

const std::vector<std::string> kCheckColumns = {"task",   "active",      "schedule", "next due",
                                                "source", "destination", "field map"};

// Opens one side as a run would; the empty text when it opened, else why not.
std::string TryConnect(TDbConnection& Connection, const TSyncDataSource& Settings) {
  try {
    Connection.SetConnectionString(TKelvorOperationHandler::ConnectionStringFor(Settings));
    Connection.Open();
    return std::string();
  } catch (const std::exception& e) {
    const std::string why = e.what();
    return why.empty() ? "the connection failed" : why;
  }
}

bool NeedsKey(int OperationType) {
  return OperationType == opUpdateThenInsert || OperationType == opUpdate ||
         OperationType == opMirror;
}

// The field map cell of a task whose destination is connected. Only a query
// that returns no row is sent: the destination table's columns are read from
// the result's description.
std::string CheckFieldMap(const TKelvorInstance& Task, TDbConnection& Destination, TCheckRow& Row) {
  const TFieldMapCollections& maps = Task.FieldMaps;
  const int op = maps.OperationType;
  if (op == opScriptOnDestination || op == opScriptOnSource) return "not used";
  if (maps.Count() == 0) {
    Row.CouldRun = false;
    return "no fields";
  }
  std::vector<std::string> missing;
  bool hasKey = false;
  try {
    TDbQuery query(Destination);
    query.SetParamCheck(false);
    query.SetSQL("select * from " + maps.DstTable + " where 1=0");
    query.Open();
    for (int i = 0; i < maps.Count(); ++i) {
      const TFieldMap& m = *maps.GetItem(i);
      hasKey = hasKey || m.IsKey;
      const std::string column = TrimText(m.Dst);
      if (!query.FindField(column)) missing.push_back(column);
    }
    query.Close();
  } catch (const std::exception& e) {
    Row.CouldRun = false;
    Row.Notes.push_back("field map: table " + maps.DstTable + ": " + e.what());
    return "error";
  }
  if (!missing.empty()) {
    Row.CouldRun = false;
    std::string cell = "missing:";
    for (size_t i = 0; i < missing.size(); ++i)
      cell += (i == 0 ? " " : ", ") + missing[i];
    return cell;
  }
  if (NeedsKey(op) && !hasKey) {
    Row.CouldRun = false;
    return "no key column";
  }
  return "yes";
}

TCheckRow CheckMission(TKelvorInstance& Task) {
  TCheckRow row;
  row.Active = Task.IsActive.load();
  const std::string nextDue = NextDueText(Task);
  // What the service refuses to run: a task file not read completely, and a
  // schedule it can never keep although a moment is found (an interval that
  // is not positive).
  if (!Task.ReadProblem.empty()) {
    row.CouldRun = false;
    row.Notes.push_back("task file: " + Task.ReadProblem);
  }
  if (nextDue == "never") {
    row.CouldRun = false;
    row.Notes.push_back("schedule: the service would never run it");
  } else if (const std::string why = Task.ScheduleProblem(); !why.empty()) {
    row.CouldRun = false;
    row.Notes.push_back("schedule: " + why);
  }
  TDbConnection source, destination;
  const std::string sourceError = TryConnect(source, Task.Source);
  const std::string destinationError = TryConnect(destination, Task.Destination);
  if (!sourceError.empty()) {
    row.CouldRun = false;
    row.Notes.push_back("source: " + sourceError);
  }
  if (!destinationError.empty()) {
    row.CouldRun = false;
    row.Notes.push_back("destination: " + destinationError);
  }
  const std::string fieldMap =
      destinationError.empty() ? CheckFieldMap(Task, destination, row) : "-";
  destination.Close();
  source.Close();
  row.Cells = {Task.MissionName,
               row.Active ? "yes" : "no",
               ScheduleInWords(Task),
               nextDue,
               sourceError.empty() ? "ok" : "error",
               destinationError.empty() ? "ok" : "error",
               fieldMap};
  return row;
}

void PrintTable(std::vector<std::vector<std::string>> Rows, std::FILE* Out) {
  // Names and times come from task files: one row stays one line.
  for (auto& cells : Rows)
    for (std::string& cell : cells)
      cell = EscapeLineText(cell);
  std::vector<size_t> widths(kCheckColumns.size(), 0);
  for (const auto& cells : Rows)
    for (size_t c = 0; c < cells.size(); ++c)
      widths[c] = std::max(widths[c], DisplayWidth(cells[c]));
  for (const auto& cells : Rows) {
    std::string line;
    for (size_t c = 0; c < cells.size(); ++c) {
      line += cells[c];
      if (c + 1 < cells.size()) line += std::string(widths[c] - DisplayWidth(cells[c]) + 2, ' ');
    }
    std::fprintf(Out, "%s\n", line.c_str());
  }
}

// Prints what every channel of the registry holds in the order it was
// posted, each task line prefixed with its task's name: a run that is over
// before the first print still reads from its start to its end.
void PrintChannels(std::FILE* Out) {
  struct TNamedLine {
    TPostedLine Line;
    std::string Prefix;
  };
  std::vector<TNamedLine> lines;
  TBroadMessageHandler* handler = GetBroadMessageHandler();
  for (int i = 0; i < handler->Count(); ++i) {
    TBroadMessage* channel = handler->GetChannel(i);
    if (!channel || !channel->HasLines()) continue;
    // The lines come escaped from the channel; the name is the task's own.
    const std::string name = EscapeLineText(channel->GetMissionName());
    const std::string prefix = name.empty() ? std::string() : "[" + name + "] ";
    for (TPostedLine& line : channel->TakeLines())
      lines.push_back({std::move(line), prefix});
  }
  std::sort(lines.begin(), lines.end(),
            [](const TNamedLine& A, const TNamedLine& B) { return A.Line.Number < B.Line.Number; });
  for (const TNamedLine& line : lines)
    std::fprintf(Out, "%s%s\n", line.Prefix.c_str(), line.Line.Text.c_str());
  std::fflush(Out);
}

void PrintChannel(TBroadMessage& Channel, std::FILE* Out) {
  if (!Channel.HasLines()) return;
  // The lines come escaped from the channel; the name is the task's own.
  const std::string name = EscapeLineText(Channel.GetMissionName());
  for (const std::string& line : SplitLines(Channel.TakeText()))
    std::fprintf(Out, "[%s] %s\n", name.c_str(), line.c_str());
  std::fflush(Out);
}

void StopWriters() {
  // Alerts log their failures: they go before the log.
  StopAlertService();
  StopLogService();
  StopReportService();
}

}  // namespace

std::string ScheduleInWords(const TKelvorInstance& Task) {
  switch (Task.Mode) {
    case modeOnce:
      return "once";
    case modePlanned:
      switch (Task.ScheduleMode) {
        case scheduleDaily:
          return "daily at " + Task.TimePoint;
        case scheduleWeekly:
          return "weekly on " + WeekdayName(Task.WeekSet) + " at " + Task.TimePoint;
        case scheduleMonthly:
          return "monthly on day " + std::to_string(Task.DaySet) + " at " + Task.TimePoint;
        default:
          return "planned, schedule mode " + std::to_string(Task.ScheduleMode);
      }
    case modeInterval:
      return "every " + std::to_string(Task.TimeDistance) + " minutes";
    default:
      return "mode " + std::to_string(Task.Mode);
  }
}

std::string NextDueText(TKelvorInstance& Task) {
  if (Task.Mode == modeOnce) return "at service start";
  if (Task.Mode != modePlanned && Task.Mode != modeInterval) return "never";
  Task.ResetRunState();
  Task.ComputeNextRun();
  // The daemon's due test compares the day of the month and the time "HH:MM"
  // only: the first moment from now at which both match is the next run.
  const std::string time = Task.NextRunTime;
  if (!IsTimeOfDay(time)) return "never";
  const TDateTime now = Clock::Now();
  for (int d = 0; d <= kDaysToSearch; ++d) {
    const TDateTime day = AddDays(now, d);
    if (day.Day != Task.NextRunDay) continue;
    if (d == 0 && time < FormatHHMM(now)) continue;
    return FormatDate(day) + " " + time;
  }
  return "never";
}

int ServeMissions(TInstanceCollections& Missions, bool UntilIdle,
                  const std::atomic<bool>& StopSignal, std::FILE* Out,
                  std::chrono::milliseconds PrintInterval) {
  // Counted before the service starts: the manager reports each of them.
  const int notRunnable = CountNotRunnable(Missions);
  const int failuresBefore = RunStatistics().Failures.load();
  auto manager = std::make_shared<TRevoroProxyService>(&Missions);
  manager->Resume();
  const auto daemonsEnded = [&manager] {
    return manager->RunningDaemonCount() == 0 && !AnyDaemonRunning();
  };
  const auto idle = [&] { return UntilIdle && manager->Started() && daemonsEnded(); };
  for (;;) {
    // The manager's start and every thread's end notify the wakeup, and so
    // does the caller's stop signal: the end is acted on when it comes, and
    // the interval only paces the printing.
    ProcessWakeup().WaitFor(PrintInterval, [&] { return StopSignal.load() || idle(); });
    PrintChannels(Out);
    const bool signalled = StopSignal.load();
    const bool ended = idle();
    if (!signalled && !ended) continue;
    if (signalled) std::fprintf(Out, "kelvord: stop requested, stopping the service\n");
    RequestServiceStop(*manager, Missions, ended ? 0 : 2000);
    break;
  }
  while (!daemonsEnded()) {
    ProcessWakeup().WaitFor(PrintInterval, daemonsEnded);
    PrintChannels(Out);
  }
  manager->WaitFor();
  manager.reset();
  PrintChannels(Out);
  StopWriters();
  // Every body has returned; let the last ones finish freeing themselves.
  WaitForAllThreads(std::chrono::seconds(10));
  const int failures = RunStatistics().Failures.load() - failuresBefore;
  return failures > 0 || notRunnable > 0 ? 1 : 0;
}

int CheckMissions(TInstanceCollections& Missions, std::FILE* Out) {
  std::vector<std::vector<std::string>> table = {kCheckColumns};
  std::vector<std::string> notes;
  std::vector<std::string> cannotRun;
  for (int i = 0; i < Missions.Count(); ++i) {
    std::shared_ptr<TKelvorInstance> task = Missions.GetItem(i);
    if (!task) continue;
    TCheckRow row = CheckMission(*task);
    table.push_back(row.Cells);
    for (const std::string& note : row.Notes)
      notes.push_back(task->MissionName + ": " + note);
    if (row.Active && !row.CouldRun) cannotRun.push_back(task->MissionName);
  }
  PrintTable(std::move(table), Out);
  if (!notes.empty()) std::fprintf(Out, "\n");
  for (const std::string& note : notes)
    std::fprintf(Out, "%s\n", EscapeLineText(note).c_str());
  std::fprintf(Out, "\n");
  if (cannotRun.empty()) {
    std::fprintf(Out, "every active task could run\n");
  } else {
    std::string names;
    for (const std::string& name : cannotRun)
      names += (names.empty() ? "" : ", ") + EscapeLineText(name);
    std::fprintf(Out, "%zu active task%s could not run: %s\n", cannotRun.size(),
                 cannotRun.size() == 1 ? "" : "s", names.c_str());
  }
  std::fflush(Out);
  StopWriters();
  return cannotRun.empty() ? 0 : 1;
}

namespace {

// Rows of a dry run's summary: a label and its number, aligned.
void PrintCount(std::FILE* Out, const char* Label, int64_t Value) {
  std::fprintf(Out, "  %-32s%lld\n", Label, static_cast<long long>(Value));
}

// What a dry run would have done, after its lines.
void PrintDryRun(const TKelvorInstance& Task, const TKelvorOperationHandler& Executor, bool Ok,
                 std::FILE* Out) {
  const std::string name = EscapeLineText(Task.MissionName);
  std::fprintf(Out, "kelvord: dry run of task %s: %s; nothing was committed\n", name.c_str(),
               Ok ? "it would have succeeded" : "it would have failed");
  const int op = Task.FieldMaps.OperationType;
  if (op == opInsert || op == opUpdateThenInsert || op == opUpdate || op == opMirror) {
    const TRunCounts& c = Executor.Counts();
    PrintCount(Out, "rows read", c.Read);
    PrintCount(Out, "skipped by the pre-check", c.SkippedByCheck);
    PrintCount(Out, "inserted", c.Inserted);
    PrintCount(Out, "updated", c.Updated);
    PrintCount(Out, "unchanged (no row had the key)", c.SkippedNoMatch);
    PrintCount(Out, "deleted", c.Deleted);
  }
  const std::vector<TSentStatement>& sent = Executor.SentStatements();
  std::fprintf(Out, "  %-32s%lld", "statements sent", static_cast<long long>(Executor.SentCount()));
  if (!sent.empty())
    std::fprintf(Out, " (the first %zu follow%s)", sent.size(), sent.size() == 1 ? "s" : "");
  std::fprintf(Out, "\n");
  for (size_t i = 0; i < sent.size(); ++i) {
    std::fprintf(Out, "  %zu. %s: %s\n", i + 1, sent[i].OnSource ? "source" : "destination",
                 EscapeLineText(sent[i].Sql).c_str());
    if (!sent[i].Values.empty())
      std::fprintf(Out, "     values: %s\n", EscapeLineText(sent[i].Values).c_str());
  }
}

// --run and --dry-run: one run of the task named Name on a worker thread,
// its lines printed here as they come.
int RunOneMission(TInstanceCollections& Missions, const std::string& Name, TRunEnd End,
                  size_t ShownStatements, const std::atomic<bool>& StopSignal, std::FILE* Out) {
  std::shared_ptr<TKelvorInstance> task = Missions.FindByName(Name);
  if (!task) {
    std::fprintf(stderr, "kelvord: no task named '%s' is listed in %s\n",
                 EscapeLineText(Name).c_str(), Missions.IndexFileName().c_str());
    return 2;
  }
  // Whatever its schedule, a task whose file was cut short is never run: it
  // would run with what was read, a field map short of what was meant.
  if (!task->ReadProblem.empty()) {
    std::fprintf(stderr, "kelvord: task %s cannot run: %s (task file %s)\n", Name.c_str(),
                 task->ReadProblem.c_str(), task->FileName.c_str());
    StopWriters();
    return 1;
  }
  TBroadMessageHandler* handler = GetBroadMessageHandler();
  TBroadMessage* channel = handler->Find(Name);
  if (!channel) {
    channel = handler->Register(Name, std::make_unique<TBroadMessage>());
    channel->SetMissionName(Name);
  }
  // The run itself is the service's: the daemon's RunMission, called once
  // here instead of from its polling loop, so its lines, log, report and
  // alert are those of any run.
  TBroadMessage serviceChannel;
  auto daemon = std::make_shared<TDaemonService>("0", task, channel, &serviceChannel);
  daemon->Executor->KeepStatements = ShownStatements;
  task->ResetRunState();
  task->RunStartTime.Set(FormatHHMM(Clock::Now()));
  channel->MarkStarted();
  std::atomic<bool> done{false};
  bool ok = false;
  std::thread runner([&] {
    ok = daemon->RunMission(End);
    done.store(true);
    ProcessWakeup().Notify();
  });
  bool stopAsked = false;
  while (!done.load()) {
    ProcessWakeup().WaitFor(std::chrono::milliseconds(100),
                            [&] { return done.load() || (StopSignal.load() && !stopAsked); });
    PrintChannel(*channel, Out);
    if (StopSignal.load() && !stopAsked) {
      std::fprintf(Out, "kelvord: stop requested, stopping the run\n");
      task->RequestStop();
      stopAsked = true;
    }
  }
  runner.join();
  channel->MarkStopped();
  PrintChannel(*channel, Out);
  const bool dry = End == TRunEnd::Rollback;
  if (dry) PrintDryRun(*task, *daemon->Executor, ok, Out);
  std::fprintf(Out, "kelvord: task %s %s%s\n", EscapeLineText(Name).c_str(),
               ok ? "succeeded" : "failed", dry ? " (dry run)" : "");
  std::fflush(Out);
  StopWriters();
  return ok ? 0 : 1;
}

}  // namespace

int RunMissionNow(TInstanceCollections& Missions, const std::string& Name,
                  const std::atomic<bool>& StopSignal, std::FILE* Out) {
  return RunOneMission(Missions, Name, TRunEnd::Commit, 0, StopSignal, Out);
}

int DryRunMission(TInstanceCollections& Missions, const std::string& Name,
                  const std::atomic<bool>& StopSignal, std::FILE* Out, size_t ShownStatements) {
  return RunOneMission(Missions, Name, TRunEnd::Rollback, ShownStatements, StopSignal, Out);
}

}  // namespace kelvor
