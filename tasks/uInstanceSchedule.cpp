// Schedule arithmetic and run-state flags of a task record. Executed and
// StopRequested are touched only under InstanceLock; the other run-state
// fields belong to the task's daemon thread.
#include <mutex>
#include <string>

#include "platform/Clock.h"
#include "platform/Locks.h"
#include "platform/Wakeup.h"
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

// "HH:MM" as the clock formats it: two-digit hour 00-23, two-digit minute.
bool IsTimeOfDay(const std::string& Text) {
  auto digit = [&](size_t i) { return Text[i] >= '0' && Text[i] <= '9'; };
  if (Text.size() != 5 || Text[2] != ':' || !digit(0) || !digit(1) || !digit(3) || !digit(4))
    return false;
  const int hour = (Text[0] - '0') * 10 + (Text[1] - '0');
  const int minute = (Text[3] - '0') * 10 + (Text[4] - '0');
  return hour < 24 && minute < 60;
}

}  // namespace

std::string TKelvorInstance::ScheduleProblem() const {
  switch (Mode) {
    case modeOnce:
      return std::string();
    case modePlanned:
      if (ScheduleMode != scheduleDaily && ScheduleMode != scheduleWeekly &&
          ScheduleMode != scheduleMonthly)
        return "its planned kind " + std::to_string(ScheduleMode) +
               " is none of daily (0), weekly (1) or monthly (2)";
      // The due test compares the formatted clock with the text as stored.
      if (!IsTimeOfDay(TimePoint))
        return "its time point \"" + TimePoint + "\" is no time of day HH:MM";
      if (ScheduleMode == scheduleMonthly && (DaySet < 1 || DaySet > 31))
        return "its day of the month " + std::to_string(DaySet) + " is not between 1 and 31";
      return std::string();
    case modeInterval:
      // An interval of 0 would make the task due again in the minute of
      // every run; a negative one puts the next run in the past.
      if (TimeDistance <= 0)
        return "its interval of " + std::to_string(TimeDistance) + " minutes is not positive";
      return std::string();
    default:
      return "its schedule mode " + std::to_string(Mode) +
             " is none of run once (0), planned (1) or fixed interval (2)";
  }
}

std::string TKelvorInstance::WhyNotRunnable() const {
  return ReadProblem.empty() ? ScheduleProblem() : ReadProblem;
}

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
  DueMinute.clear();
  DueRuns = 0;
}

void TKelvorInstance::RequestStop() {
  {
    std::lock_guard<std::mutex> lock(InstanceLock);
    StopRequested = true;
  }
  // A daemon pausing between polls ends now rather than at its next poll.
  ProcessWakeup().Notify();
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
    case modeInterval: {
      if (now.Day != NextRunDay) return false;
      const std::string hhmm = FormatHHMM(now);
      if (hhmm != NextRunTime) return false;
      // The run state starts afresh once per due minute, not at every poll:
      // a monthly success leaves the next run on this very day and time (only
      // its month moves on), and a failure moves nothing, so within the
      // minute a success ends the runs and failures are retried a few times.
      const std::string minute = FormatDate(now) + " " + hhmm;
      if (minute != DueMinute) {
        DueMinute = minute;
        DueRuns = 0;
        Executed = false;  // ResetRunState; StopRequested is already clear
        FailCount = 0;
      } else if (Executed || DueRuns >= kRunsPerDueMinute) {
        return false;
      }
      ++DueRuns;
      return true;
    }
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
