#include <gtest/gtest.h>

#include "platform/Clock.h"
#include "support/TestSupport.h"

namespace kelvor {
namespace {

using test::At;

TEST(CalendarTest, MonthArithmeticClampsToTheLastDay) {
  EXPECT_EQ(AddMonths(At(2027, 1, 31), 1), At(2027, 2, 28));
  EXPECT_EQ(AddMonths(At(2028, 1, 31), 1), At(2028, 2, 29));
  EXPECT_EQ(AddMonths(At(2026, 12, 15), 1), At(2027, 1, 15));
  EXPECT_EQ(AddMonths(At(2026, 3, 31), -1), At(2026, 2, 28));
  EXPECT_EQ(AddMonths(At(2026, 1, 10), -13), At(2024, 12, 10));
}

TEST(CalendarTest, DaysAndMinutesCrossMonthAndYearEnds) {
  EXPECT_EQ(AddDays(At(2026, 12, 31), 1), At(2027, 1, 1));
  EXPECT_EQ(AddDays(At(2024, 3, 1), -1), At(2024, 2, 29));
  EXPECT_EQ(AddMinutes(At(2026, 12, 31, 23, 55), 12), At(2027, 1, 1, 0, 7));
  EXPECT_EQ(AddMinutes(At(2026, 1, 1, 0, 5), -10), At(2025, 12, 31, 23, 55));
}

TEST(CalendarTest, IsoWeekdayStartsOnMonday) {
  EXPECT_EQ(IsoWeekday(At(2026, 12, 7)), 1);   // Monday
  EXPECT_EQ(IsoWeekday(At(2026, 12, 13)), 7);  // Sunday
  EXPECT_EQ(IsoWeekday(At(1899, 12, 30)), 6);  // Saturday
  EXPECT_EQ(IsoWeekday(At(1960, 2, 29)), 1);
}

TEST(ParseDateTimeTextTest, AcceptsTheReadingSideFormsOnly) {
  TDateTime t;
  for (auto [text, when] : {std::pair{"2024-05-01 10:20:30", At(2024, 5, 1, 10, 20, 30)},
                            {"2024-05-02", At(2024, 5, 2)},
                            {"10:20:30", At(1899, 12, 30, 10, 20, 30)},
                            {" 2024-05-01T10:20:30.125 ", At(2024, 5, 1, 10, 20, 30)}}) {
    ASSERT_TRUE(ParseDateTimeText(text, t)) << text;
    EXPECT_EQ(t, when) << text;
  }
  for (const char* bad :
       {"", "  ", "2024-5-1", "2024-02-30", "2024-13-01", "24:00:00", "2024-05-01 10:20",
        "2024-05-01 10:20:30x", "abc", "10:61:00", "2024-05-01 10:20:30."})
    EXPECT_FALSE(ParseDateTimeText(bad, t)) << bad;
}

}  // namespace
}  // namespace kelvor
