#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "platform/Paths.h"
#include "services/uLogService.h"
#include "support/TestSupport.h"
#include "tasks/uInstance.h"

namespace kelvor {
namespace {

using test::At;

// 2026-12-07 is a Monday, 2026-12-13 a Sunday.
class InstanceScheduleTest : public ::testing::Test {
 protected:
  void SetUp() override { StopLogService(std::chrono::milliseconds(0)); }
  // Failures are logged; what is still queued lands in this test's folder.
  void TearDown() override { StopLogService(std::chrono::milliseconds(0)); }

  // A planned task at TimePoint of the given kind, scheduled at Now.
  void Planned(int ScheduleMode, const TDateTime& Now, const std::string& TimePoint = "17:30") {
    Task.Mode = modePlanned;
    Task.ScheduleMode = ScheduleMode;
    Task.TimePoint = TimePoint;
    Clock.Set(Now);
    Task.ResetRunState();
    Task.InitSchedule();
  }
  bool DueAt(const TDateTime& When) {
    Clock.Set(When);
    return Task.IsDue();
  }
  void ExpectNext(int Day, int Month, const std::string& Time) {
    EXPECT_EQ(Task.NextRunDay, Day);
    EXPECT_EQ(Task.NextRunMonth, Month);
    EXPECT_EQ(Task.NextRunTime, Time);
  }

  test::TempDir Tmp;
  std::string Bin = Tmp.Sub("bin", true);
  std::string Logs = Tmp.Sub("logs/", true);
  test::CurrentDirectoryScope Cwd{Bin};
  test::FixedClock Clock{At(2026, 12, 7, 9, 0, 0)};
  TKelvorInstance Task;
};

// Planned tasks at 17:30: the next run computed at Start (then after a
// success or after three counted failures), and when the task is due.
struct TPlanCase {
  const char* What;
  int Kind;  // scheduleDaily, scheduleWeekly or scheduleMonthly
  int Set;   // WeekSet or DaySet
  TDateTime Start;
  char Then;  // ' ', 'x' SetExecuted(true), '3' three failures counted
  int Day, Month;
  std::vector<TDateTime> Due, NotDue;
};

TEST_F(InstanceScheduleTest, PlannedKindsAndTheirEdgeCases) {
  // Times in 2026; month 13 is January 2027.
  auto T = [](int Month, int Day, int Hour, int Minute, int Second = 0) {
    return At(Month == 13 ? 2027 : 2026, Month == 13 ? 1 : Month, Day, Hour, Minute, Second);
  };
  std::vector<TDateTime> everyDay;
  for (int day = 1; day <= 31; ++day)
    everyDay.push_back(T(12, day, 17, 30));
  const int D = scheduleDaily, W = scheduleWeekly, M = scheduleMonthly;
  // clang-format off
  const TPlanCase cases[] = {
      {"daily before", D, 0, T(12, 7, 17, 29), ' ', 7, 12, {T(12, 7, 17, 30)},
       {T(12, 7, 17, 29, 59)}},
      {"daily within the minute", D, 0, T(12, 7, 17, 30, 59), ' ', 7, 12, {}, {}},
      {"daily after", D, 0, T(12, 7, 17, 31), ' ', 8, 12, {T(12, 8, 17, 30)}, {T(12, 7, 17, 30)}},
      {"daily at the year's end", D, 0, T(12, 31, 18, 0), ' ', 1, 1, {}, {}},
      {"daily success", D, 0, T(12, 7, 17, 30, 5), 'x', 8, 12, {T(12, 8, 17, 30)},
       {T(12, 7, 17, 30, 40)}},
      {"weekly Wednesday from Monday", W, 3, T(12, 7, 23, 0), ' ', 9, 12, {T(12, 9, 17, 30)}, {}},
      {"weekly Friday from Saturday", W, 5, T(12, 12, 8, 0), ' ', 18, 12, {}, {}},
      // On the set weekday itself: a week later, whatever the time.
      {"weekly on the day early", W, 1, T(12, 7, 0, 0), ' ', 14, 12, {}, {}},
      {"weekly on the day late", W, 1, T(12, 7, 23, 59), ' ', 14, 12, {}, {T(12, 7, 17, 30)}},
      {"weekly success", W, 4, T(12, 28, 8, 0), 'x', 4, 1, {}, {}},
      {"weekly three failures", W, 4, T(12, 28, 8, 0), '3', 4, 1, {}, {}},
      // WeekSet 0 falls due on Sundays.
      {"weekly 0 from Monday", W, 0, T(12, 7, 8, 0), ' ', 13, 12, {}, {}},
      {"weekly 0 on Sunday", W, 0, T(12, 13, 8, 0), ' ', 13, 12, {T(12, 13, 17, 30)}, {}},
      {"monthly 31 in February", M, 31, T(2, 15, 8, 0), ' ', 28, 2, {}, {}},
      {"monthly 31 success in January", M, 31, T(1, 31, 18, 0), 'x', 28, 2, {}, {}},
      // Day 31 never comes in April; the next 31st of any month does.
      {"monthly 31 in April", M, 31, T(4, 10, 8, 0), ' ', 31, 4, {T(5, 31, 17, 30)},
       {T(4, 30, 17, 30)}},
      {"monthly 0", M, 0, T(12, 7, 8, 0), ' ', 0, 1, {}, everyDay},
      {"monthly today", M, 7, T(12, 7, 9, 0), ' ', 7, 12, {T(12, 7, 17, 30)}, {}},
      {"monthly today success", M, 7, T(12, 7, 9, 0), 'x', 7, 1, {}, {}},
      // Started after the minute has passed: the same day of the next month.
      {"monthly today late", M, 7, T(12, 7, 18, 0), ' ', 7, 12, {T(13, 7, 17, 30)},
       {T(12, 8, 17, 30)}},
      {"monthly day passed", M, 7, T(12, 20, 9, 0), ' ', 7, 1, {}, {}},
      {"monthly three failures", M, 7, T(12, 1, 9, 0), '3', 7, 1, {}, {}},
  };
  // clang-format on
  for (const TPlanCase& c : cases) {
    SCOPED_TRACE(c.What);
    Task.WeekSet = Task.DaySet = c.Set;
    Planned(c.Kind, c.Start);
    if (c.Then == 'x') Task.SetExecuted(true);
    if (c.Then == '3') {
      Task.ResetRunState();
      Task.FailCount = 3;
      Task.ComputeNextRun();
    }
    ExpectNext(c.Day, c.Month, "17:30");
    for (const TDateTime& when : c.Due)
      EXPECT_TRUE(DueAt(when)) << FormatDateTime(when);
    for (const TDateTime& when : c.NotDue)
      EXPECT_FALSE(DueAt(when)) << FormatDateTime(when);
    EXPECT_FALSE(Task.IsFinished());  // planned tasks never finish by themselves
  }
}

// Within one due minute of a planned or interval task, with the clock
// pinned: after a success no further run; after a failure a retry, three
// runs in all, and then (the daemon computing afresh once the minute is
// over) the next moment of the schedule.
struct TDueMinuteCase {
  const char* What;
  int Mode, Kind, Set;  // Kind and Set as in TPlanCase; Set is the interval for Mode 2
  TDateTime Start, Due;
  TDateTime Next, NextAfterSuccess;
};

TEST_F(InstanceScheduleTest, OneSuccessOrThreeFailuresPerDueMinute) {
  const int P = modePlanned, I = modeInterval;
  // clang-format off
  const TDueMinuteCase cases[] = {
      {"daily", P, scheduleDaily, 0, At(2026, 12, 7, 17, 0), At(2026, 12, 7, 17, 30),
       At(2026, 12, 8, 17, 30), At(2026, 12, 8, 17, 30)},
      {"weekly on Tuesdays", P, scheduleWeekly, 2, At(2026, 12, 7, 17, 0),
       At(2026, 12, 8, 17, 30), At(2026, 12, 15, 17, 30), At(2026, 12, 15, 17, 30)},
      {"monthly on the 7th", P, scheduleMonthly, 7, At(2026, 12, 7, 17, 0),
       At(2026, 12, 7, 17, 30), At(2027, 1, 7, 17, 30), At(2027, 1, 7, 17, 30)},
      // Counted from the end of the successful run, or from the end of the
      // minute of failures.
      {"every 12 minutes", I, 0, 12, At(2026, 12, 7, 17, 18), At(2026, 12, 7, 17, 30),
       At(2026, 12, 7, 17, 43), At(2026, 12, 7, 17, 42)},
  };
  // clang-format on
  for (const TDueMinuteCase& c : cases) {
    for (bool success : {true, false}) {
      SCOPED_TRACE(std::string(c.What) + (success ? ", success" : ", failures"));
      Task.Mode = c.Mode;
      Task.ScheduleMode = c.Kind;
      Task.WeekSet = Task.DaySet = Task.TimeDistance = c.Set;
      Task.TimePoint = "17:30";
      Clock.Set(c.Start);
      Task.ResetRunState();
      Task.InitSchedule();
      int runs = 0;
      // A poll every 200 ms for the whole minute.
      for (int ms = 0; ms < 60000; ms += 200) {
        if (!DueAt(AddSeconds(c.Due, ms / 1000))) continue;
        ++runs;
        if (success)
          Task.SetExecuted(true);
        else
          Task.RecordFailure();
      }
      EXPECT_EQ(runs, success ? 1 : 3);
      Clock.Set(AddSeconds(c.Due, 60));
      if (!success) Task.ComputeNextRun();
      EXPECT_FALSE(DueAt(AddSeconds(c.Due, 60)));
      const TDateTime next = success ? c.NextAfterSuccess : c.Next;
      EXPECT_EQ(Task.NextRunDay, next.Day);
      EXPECT_EQ(Task.NextRunTime, FormatHHMM(next));
      EXPECT_TRUE(DueAt(next));
    }
  }
}

// A schedule that can never fall due is told from one that can.
TEST_F(InstanceScheduleTest, SchedulesThatCanNeverFallDueSaySo) {
  const struct {
    int Mode, Kind, Day, Interval;
    const char* TimePoint;
    const char* Problem;  // a part of it; "" for none
  } cases[] = {
      {modeOnce, 9, 0, 0, "", ""},
      {modePlanned, scheduleDaily, 0, 0, "00:00", ""},
      {modePlanned, scheduleWeekly, 0, 0, "23:59", ""},  // weekday 0: Sundays
      {modePlanned, scheduleMonthly, 31, 0, "17:30", ""},
      {modeInterval, 0, 0, 1, "", ""},
      {3, 0, 0, 0, "", "schedule mode 3"},
      {99, 0, 0, 0, "", "schedule mode 99"},
      {modePlanned, 3, 0, 0, "17:30", "planned kind 3"},
      {modePlanned, scheduleDaily, 0, 0, "99:30", "time point \"99:30\""},
      {modePlanned, scheduleDaily, 0, 0, "24:00", "time point"},
      {modePlanned, scheduleWeekly, 0, 0, "12:60", "time point"},
      {modePlanned, scheduleDaily, 0, 0, "9:30", "time point"},
      {modePlanned, scheduleMonthly, 0, 0, "17:30", "day of the month 0"},
      {modePlanned, scheduleMonthly, 32, 0, "17:30", "day of the month 32"},
      {modeInterval, 0, 0, 0, "", "interval of 0 minutes"},
      {modeInterval, 0, 0, -5, "", "interval of -5 minutes"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.Mode) + "/" + std::to_string(c.Kind) + "/" + c.TimePoint);
    TKelvorInstance t;
    t.Mode = c.Mode;
    t.ScheduleMode = c.Kind;
    t.DaySet = c.Day;
    t.TimeDistance = c.Interval;
    t.TimePoint = c.TimePoint;
    const std::string problem = t.ScheduleProblem();
    if (*c.Problem == '\0')
      EXPECT_EQ(problem, "");
    else
      EXPECT_NE(problem.find(c.Problem), std::string::npos) << problem;
    EXPECT_EQ(t.WhyNotRunnable(), problem);
  }
}

TEST_F(InstanceScheduleTest, IntervalCountsFromNow) {
  Task.Mode = modeInterval;
  Task.TimeDistance = 12;
  Clock.Set(At(2026, 12, 7, 10, 0, 0));
  Task.InitSchedule();
  ExpectNext(7, 12, "10:12");
  EXPECT_FALSE(DueAt(At(2026, 12, 7, 10, 11, 59)));
  EXPECT_TRUE(DueAt(At(2026, 12, 7, 10, 12, 0)));
  Clock.Set(At(2026, 12, 7, 10, 13, 0));
  Task.SetExecuted(true);
  ExpectNext(7, 12, "10:25");

  Clock.Set(At(2026, 12, 31, 23, 55, 0));
  Task.ComputeNextRun();
  ExpectNext(1, 1, "00:07");
}

TEST_F(InstanceScheduleTest, RunOnceUntilSuccessOrThreeFailures) {
  Task.MissionName = "t1";
  Task.Mode = modeOnce;
  Task.NextRunMonth = 5;
  Task.InitSchedule();
  ExpectNext(0, 5, "00:00");
  EXPECT_TRUE(Task.IsDue());
  EXPECT_FALSE(Task.IsFinished());
  for (int failure = 1; failure <= 3; ++failure) {
    EXPECT_TRUE(Task.IsDue());
    Task.RecordFailure();
    EXPECT_EQ(Task.FailCount, failure);
  }
  EXPECT_FALSE(Task.IsDue());
  EXPECT_TRUE(Task.IsFinished());
  StopLogService();
  EXPECT_EQ(test::ReadFileOrEmpty(Logs + "log20261207.txt"),
            "<2026-12-07 09:00:00>mission<t1> execute 1 times fail!\r\n"
            "<2026-12-07 09:00:00>mission<t1> execute 2 times fail!\r\n"
            "<2026-12-07 09:00:00>mission<t1> execute 3 times fail!\r\n");

  Task.ResetRunState();
  EXPECT_EQ(Task.FailCount, 0);
  EXPECT_TRUE(Task.IsDue());
  Task.SetExecuted(true);
  EXPECT_FALSE(Task.IsDue());
  EXPECT_TRUE(Task.IsFinished());
}

TEST_F(InstanceScheduleTest, RequestStopEndsEveryMode) {
  Planned(scheduleDaily, At(2026, 12, 7, 17, 0, 0));
  Task.RequestStop();
  EXPECT_FALSE(DueAt(At(2026, 12, 7, 17, 30, 0)));
  EXPECT_TRUE(Task.IsFinished());
  Task.ResetRunState();
  EXPECT_FALSE(Task.IsFinished());
  EXPECT_TRUE(DueAt(At(2026, 12, 7, 17, 30, 0)));

  Task.Mode = modeOnce;
  Task.RequestStop();
  EXPECT_FALSE(Task.IsDue());
  EXPECT_TRUE(Task.IsFinished());
}

TEST_F(InstanceScheduleTest, UnknownModesKeepTheNextRun) {
  Planned(scheduleDaily, At(2026, 12, 7, 9, 0, 0));
  Task.NextRunDay = 12;
  Task.NextRunMonth = 11;
  Task.ScheduleMode = -1;
  Task.ComputeNextRun();
  ExpectNext(12, 11, "17:30");
  Task.Mode = 7;
  Task.TimePoint = "08:00";
  Task.ComputeNextRun();
  ExpectNext(12, 11, "17:30");
  EXPECT_FALSE(DueAt(At(2026, 12, 12, 17, 30, 0)));
  EXPECT_FALSE(Task.IsFinished());
}

TEST_F(InstanceScheduleTest, OneDigitHourTimePointNeverFallsDue) {
  Planned(scheduleDaily, At(2026, 12, 7, 9, 0, 0), "9:30");
  ExpectNext(7, 12, "9:30");
  EXPECT_FALSE(DueAt(At(2026, 12, 7, 9, 30, 0)));
  EXPECT_FALSE(DueAt(At(2026, 12, 7, 19, 30, 0)));
}

}  // namespace
}  // namespace kelvor
