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

TEST_F(InstanceScheduleTest, DailyBeforeAndAfterTheTimePoint) {
  Planned(scheduleDaily, At(2026, 12, 7, 17, 29, 0));
  ExpectNext(7, 12, "17:30");
  EXPECT_FALSE(DueAt(At(2026, 12, 7, 17, 29, 59)));
  EXPECT_TRUE(DueAt(At(2026, 12, 7, 17, 30, 0)));

  Planned(scheduleDaily, At(2026, 12, 7, 17, 30, 59));  // the minute itself is not past
  ExpectNext(7, 12, "17:30");

  Planned(scheduleDaily, At(2026, 12, 7, 17, 31, 0));
  ExpectNext(8, 12, "17:30");
  EXPECT_FALSE(DueAt(At(2026, 12, 7, 17, 30, 0)));
  EXPECT_TRUE(DueAt(At(2026, 12, 8, 17, 30, 0)));

  Planned(scheduleDaily, At(2026, 12, 31, 18, 0, 0));
  ExpectNext(1, 1, "17:30");
}

TEST_F(InstanceScheduleTest, DailySuccessMovesToTomorrow) {
  Planned(scheduleDaily, At(2026, 12, 7, 17, 29, 0));
  ASSERT_TRUE(DueAt(At(2026, 12, 7, 17, 30, 5)));
  Task.SetExecuted(true);
  ExpectNext(8, 12, "17:30");
  EXPECT_FALSE(DueAt(At(2026, 12, 7, 17, 30, 40)));
  EXPECT_TRUE(DueAt(At(2026, 12, 8, 17, 30, 0)));
  EXPECT_FALSE(Task.IsFinished());  // planned tasks never finish by themselves
}

TEST_F(InstanceScheduleTest, DailyFailureMovesNothing) {
  Planned(scheduleDaily, At(2026, 12, 7, 17, 29, 0));
  ASSERT_TRUE(DueAt(At(2026, 12, 7, 17, 30, 0)));
  Task.RecordFailure();
  EXPECT_TRUE(DueAt(At(2026, 12, 7, 17, 30, 20)));  // due again, count reset
  EXPECT_EQ(Task.FailCount, 0);
  Task.RecordFailure();
  EXPECT_FALSE(DueAt(At(2026, 12, 7, 17, 31, 0)));
  EXPECT_FALSE(DueAt(At(2026, 12, 8, 17, 30, 0)));
  EXPECT_TRUE(DueAt(At(2027, 1, 7, 17, 30, 0)));  // the same day of the month recurs
}

TEST_F(InstanceScheduleTest, WeeklyOnAndOffTheSetWeekday) {
  Task.WeekSet = 3;  // Wednesday, from Monday the 7th
  Planned(scheduleWeekly, At(2026, 12, 7, 23, 0, 0));
  ExpectNext(9, 12, "17:30");
  EXPECT_TRUE(DueAt(At(2026, 12, 9, 17, 30, 0)));

  Task.WeekSet = 5;  // Friday, from Saturday the 12th
  Planned(scheduleWeekly, At(2026, 12, 12, 8, 0, 0));
  ExpectNext(18, 12, "17:30");

  Task.WeekSet = 1;  // on the set weekday itself: a week later, whatever the time
  Planned(scheduleWeekly, At(2026, 12, 7, 0, 0, 0));
  ExpectNext(14, 12, "17:30");
  Planned(scheduleWeekly, At(2026, 12, 7, 23, 59, 0));
  ExpectNext(14, 12, "17:30");
  EXPECT_FALSE(DueAt(At(2026, 12, 7, 17, 30, 0)));

  Task.WeekSet = 4;  // after a success or three failures: a week on
  Planned(scheduleWeekly, At(2026, 12, 28, 8, 0, 0));
  Task.SetExecuted(true);
  ExpectNext(4, 1, "17:30");
  Task.ResetRunState();
  Task.FailCount = 3;
  Task.ComputeNextRun();
  ExpectNext(4, 1, "17:30");
}

TEST_F(InstanceScheduleTest, WeeklyWithWeekSetZeroFallsDueOnSundays) {
  Task.WeekSet = 0;
  Planned(scheduleWeekly, At(2026, 12, 7, 8, 0, 0));  // Monday
  ExpectNext(13, 12, "17:30");
  Planned(scheduleWeekly, At(2026, 12, 13, 8, 0, 0));  // Sunday: that same day
  ExpectNext(13, 12, "17:30");
  EXPECT_TRUE(DueAt(At(2026, 12, 13, 17, 30, 0)));
}

TEST_F(InstanceScheduleTest, MonthlyWithDaySet31) {
  Task.DaySet = 31;
  Planned(scheduleMonthly, At(2026, 2, 15, 8, 0, 0));
  ExpectNext(28, 2, "17:30");
  Planned(scheduleMonthly, At(2026, 1, 31, 18, 0, 0));
  Task.SetExecuted(true);  // reference date 28 February
  ExpectNext(28, 2, "17:30");

  // Day 31 never comes in April; the next 31st of any month does.
  Planned(scheduleMonthly, At(2026, 4, 10, 8, 0, 0));
  ExpectNext(31, 4, "17:30");
  EXPECT_FALSE(DueAt(At(2026, 4, 30, 17, 30, 0)));
  EXPECT_TRUE(DueAt(At(2026, 5, 31, 17, 30, 0)));
}

TEST_F(InstanceScheduleTest, MonthlyWithDaySetZeroNeverFallsDue) {
  Task.DaySet = 0;
  Planned(scheduleMonthly, At(2026, 12, 7, 8, 0, 0));
  ExpectNext(0, 1, "17:30");
  for (int day = 1; day <= 31; ++day)
    EXPECT_FALSE(DueAt(At(2026, 12, day, 17, 30, 0)));
}

TEST_F(InstanceScheduleTest, MonthlyWithDaySetToday) {
  Task.DaySet = 7;
  Planned(scheduleMonthly, At(2026, 12, 7, 9, 0, 0));
  ExpectNext(7, 12, "17:30");
  EXPECT_TRUE(DueAt(At(2026, 12, 7, 17, 30, 0)));
  Task.SetExecuted(true);
  ExpectNext(7, 1, "17:30");

  // Started after the minute has passed: the same day of the next month.
  Planned(scheduleMonthly, At(2026, 12, 7, 18, 0, 0));
  ExpectNext(7, 12, "17:30");
  EXPECT_FALSE(DueAt(At(2026, 12, 8, 17, 30, 0)));
  EXPECT_TRUE(DueAt(At(2027, 1, 7, 17, 30, 0)));

  Planned(scheduleMonthly, At(2026, 12, 20, 9, 0, 0));  // the day has passed this month
  ExpectNext(7, 1, "17:30");
  Task.ResetRunState();
  Task.FailCount = 3;
  Clock.Set(At(2026, 12, 1, 9, 0, 0));
  Task.ComputeNextRun();
  ExpectNext(7, 1, "17:30");
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

TEST_F(InstanceScheduleTest, IntervalZeroIsDueForTheRestOfTheMinute) {
  Task.Mode = modeInterval;
  Task.TimeDistance = 0;
  Clock.Set(At(2026, 12, 7, 10, 0, 10));
  Task.InitSchedule();
  ExpectNext(7, 12, "10:00");
  EXPECT_TRUE(DueAt(At(2026, 12, 7, 10, 0, 20)));
  Task.SetExecuted(true);
  EXPECT_TRUE(DueAt(At(2026, 12, 7, 10, 0, 40)));
  EXPECT_FALSE(DueAt(At(2026, 12, 7, 10, 1, 0)));
  EXPECT_TRUE(DueAt(At(2027, 1, 7, 10, 0, 0)));
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

TEST_F(InstanceScheduleTest, UnknownModesNeverFallDue) {
  Task.DaySet = 7;
  Planned(3, At(2026, 12, 7, 9, 0, 0));  // no such planned kind: day stays 0
  ExpectNext(0, 0, "17:30");
  for (int day = 1; day <= 31; ++day)
    EXPECT_FALSE(DueAt(At(2026, 12, day, 17, 30, 0)));
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
