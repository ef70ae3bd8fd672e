// Schedule arithmetic and run-state flags of a task record. Executed and
// StopRequested are touched only under InstanceLock; the other run-state
// fields belong to the task's daemon thread.
#include <mutex>
#include <string>

#include "platform/Clock.h"
#include "platform/Locks.h"
#include "services/uLogService.h"
#include "tasks/uInstance.h"

namespace kelvor {

namespace {

// The next due moment from the schedule fields, Executed given by the
// caller (who read it under InstanceLock), and the time Now.
void ComputeNextRunAt(TKelvorInstance& Task, bool Executed, const TDateTime& Now) {
  switch (Task.Mode) {
    case modeOnce:
      Task.NextRunDay = 0;
      Task.NextRunTime = "00:00";
      return;
    case modePlanned: {
      Task.NextRunTime = Task.TimePoint;
      TDateTime next;
      switch (Task.ScheduleMode) {
        case scheduleDaily: {
          // Times of day compare as text, as they are stored.
          const bool later = Executed || FormatHHMM(Now) > Task.TimePoint;
          next = later ? AddDays(Now, 1) : Now;
          Task.NextRunDay = next.Day;
          Task.NextRunMonth = next.Month;
          return;
        }
        case scheduleWeekly: {
          const int today = IsoWeekday(Now);
          int64_t days;
          if (Executed || Task.FailCount >= 3)
            days = 7;
          else if (today < Task.WeekSet)
            days = Task.WeekSet - today;
          else
            days = Task.WeekSet + 7 - today;
          next = AddDays(Now, days);
          Task.NextRunDay = next.Day;
          Task.NextRunMonth = next.Month;
          return;
        }
        case scheduleMonthly: {
          const bool nextMonth = Executed || Task.FailCount >= 3 || Now.Day > Task.DaySet;
          next = nextMonth ? AddMonths(Now, 1) : Now;
          Task.NextRunDay = next.Month == 2 && Task.DaySet >= 29 ? 28 : Task.DaySet;
          Task.NextRunMonth = next.Month;
          return;
        }
        default:
          return;
      }
    }
    case modeInterval: {
      const TDateTime next = AddMinutes(Now, Task.TimeDistance);
      Task.NextRunDay = next.Day;
      Task.NextRunMonth = next.Month;
      Task.NextRunTime = FormatHHMM(next);
      return;
    }
    default:
      return;
  }
}

}  // namespace

void TKelvorInstance::ComputeNextRun() {
  bool executed;
  {
    std::lock_guard<std::mutex> lock(InstanceLock);
    executed = Executed;
  }
  ComputeNextRunAt(*this, executed, Clock::Now());
}

void TKelvorInstance::InitSchedule() {
  ComputeNextRun();
}

void TKelvorInstance::SetExecuted(bool Value) {
  std::lock_guard<std::mutex> lock(InstanceLock);
  Executed = Value;
  ComputeNextRunAt(*this, Value, Clock::Now());
}

void TKelvorInstance::RecordFailure() {
  ++FailCount;
  WriteLog("mission<" + MissionName + "> execute " + std::to_string(FailCount) + " times fail!");
}

void TKelvorInstance::ResetRunState() {
  {
    std::lock_guard<std::mutex> lock(InstanceLock);
    StopRequested = false;
    Executed = false;
  }
  FailCount = 0;
}

void TKelvorInstance::RequestStop() {
  std::lock_guard<std::mutex> lock(InstanceLock);
  StopRequested = true;
}

bool TKelvorInstance::IsDue() {
  const TDateTime now = Clock::Now();
  // The stop test and the reset of a due task happen under one hold of the
  // lock, so a stop requested at that moment is never wiped out by the reset.
  std::lock_guard<std::mutex> lock(InstanceLock);
  if (StopRequested) return false;
  switch (Mode) {
    case modeOnce:
      return !Executed && FailCount < 3;
    case modePlanned:
    case modeInterval:
      if (now.Day != NextRunDay) return false;
      if (FormatHHMM(now) != NextRunTime) return false;
      Executed = false;  // ResetRunState; StopRequested is already clear
      FailCount = 0;
      return true;
    default:
      return false;
  }
}

bool TKelvorInstance::IsFinished() {
  std::lock_guard<std::mutex> lock(InstanceLock);
  if (StopRequested) return true;
  if (Mode != modeOnce) return false;
  return Executed || FailCount >= 3;
}

}  // namespace kelvor
