// The schedule columns of kelvord --check: the schedule in words, and the
// first moment a service started now would run the task, by the same day and
// "HH:MM" comparison its daemon makes.
#include <gtest/gtest.h>

#include "app/kelvord_commands.h"
#include "support/TestSupport.h"
#include "tasks/uInstance.h"

namespace kelvor {
namespace {

using test::At;

TEST(ScheduleTextTest, WordsAndNextDueMoment) {
  struct Case {
    TDateTime Now;
    int Mode, ScheduleMode, WeekSet, DaySet, TimeDistance;
    const char* TimePoint;
    const char* Words;
    const char* NextDue;
  };
  const TDateTime tuesday = At(2026, 12, 8, 10, 0, 30);
  const Case cases[] = {
      {tuesday, modeOnce, 0, 0, 0, 0, "17:30", "once", "at service start"},
      {tuesday, modePlanned, scheduleDaily, 0, 0, 0, "17:30", "daily at 17:30", "2026-12-08 17:30"},
      // The current minute is still due; a minute past is tomorrow.
      {tuesday, modePlanned, scheduleDaily, 0, 0, 0, "10:00", "daily at 10:00", "2026-12-08 10:00"},
      {tuesday, modePlanned, scheduleDaily, 0, 0, 0, "09:59", "daily at 09:59", "2026-12-09 09:59"},
      {At(2026, 12, 31, 23, 0), modePlanned, scheduleDaily, 0, 0, 0, "22:00", "daily at 22:00",
       "2027-01-01 22:00"},
      // A time not written "HH:MM" never equals the clock's.
      {tuesday, modePlanned, scheduleDaily, 0, 0, 0, "7:30", "daily at 7:30", "never"},
      {tuesday, modePlanned, scheduleDaily, 0, 0, 0, "24:00", "daily at 24:00", "never"},
      // On its own weekday a weekly task is next due a week later.
      {tuesday, modePlanned, scheduleWeekly, 2, 0, 0, "08:00", "weekly on Tuesday at 08:00",
       "2026-12-15 08:00"},
      {tuesday, modePlanned, scheduleWeekly, 5, 0, 0, "08:00", "weekly on Friday at 08:00",
       "2026-12-11 08:00"},
      {tuesday, modePlanned, scheduleWeekly, 0, 0, 0, "08:00", "weekly on weekday 0 at 08:00",
       "2026-12-13 08:00"},
      {tuesday, modePlanned, scheduleMonthly, 0, 31, 0, "03:00", "monthly on day 31 at 03:00",
       "2026-12-31 03:00"},
      // November has no 31st: the first day 31 to come is in December.
      {At(2026, 11, 8), modePlanned, scheduleMonthly, 0, 31, 0, "03:00",
       "monthly on day 31 at 03:00", "2026-12-31 03:00"},
      {At(2027, 2, 10), modePlanned, scheduleMonthly, 0, 30, 0, "03:00",
       "monthly on day 30 at 03:00", "2027-02-28 03:00"},
      {tuesday, modePlanned, scheduleMonthly, 0, 0, 0, "03:00", "monthly on day 0 at 03:00",
       "never"},
      {tuesday, modePlanned, 5, 0, 0, 0, "03:00", "planned, schedule mode 5", "never"},
      {tuesday, modeInterval, 0, 0, 0, 12, "", "every 12 minutes", "2026-12-08 10:12"},
      {At(2026, 12, 8, 23, 55), modeInterval, 0, 0, 0, 10, "", "every 10 minutes",
       "2026-12-09 00:05"},
      {tuesday, 7, 0, 0, 0, 0, "", "mode 7", "never"},
  };
  for (const Case& c : cases) {
    test::FixedClock clock(c.Now);
    TKelvorInstance task;
    task.Mode = c.Mode;
    task.ScheduleMode = c.ScheduleMode;
    task.WeekSet = c.WeekSet;
    task.DaySet = c.DaySet;
    task.TimeDistance = c.TimeDistance;
    task.TimePoint = c.TimePoint;
    EXPECT_EQ(ScheduleInWords(task), c.Words);
    EXPECT_EQ(NextDueText(task), c.NextDue) << c.Words << " at " << FormatDateTime(c.Now);
  }
}

}  // namespace
}  // namespace kelvor
