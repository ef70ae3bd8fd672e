// Local date and time for every part of Kelvor that reads the clock.
//
// TDateTime is a plain civil date and time (no time zone, no fractions of a
// second). The process-wide clock answers the local time of the machine unless
// a test has pinned it with Clock::SetFixed; every schedule, stamp and daily
// file name goes through Clock::Now so that they can be tested at any moment.
// Thread safety: all Clock functions may be called from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kelvor {

struct TDateTime {
  int Year = 1899;
  int Month = 12;
  int Day = 30;
  int Hour = 0;
  int Minute = 0;
  int Second = 0;

  friend bool operator==(const TDateTime&, const TDateTime&) = default;
};

// Calendar arithmetic on the proleptic Gregorian calendar.
bool IsLeapYear(int Year);
int DaysInMonth(int Year, int Month);
// Days since 1970-01-01 for a civil date (negative before), and back.
int64_t DaysFromCivil(int Year, int Month, int Day);
void CivilFromDays(int64_t Days, int& Year, int& Month, int& Day);

TDateTime AddDays(const TDateTime& When, int64_t Days);
// Calendar months; a day that the target month lacks becomes its last day
// (31 January + 1 month = 28 or 29 February).
TDateTime AddMonths(const TDateTime& When, int Months);
TDateTime AddMinutes(const TDateTime& When, int64_t Minutes);
TDateTime AddSeconds(const TDateTime& When, int64_t Seconds);
// ISO weekday: Monday = 1 .. Sunday = 7.
int IsoWeekday(const TDateTime& When);

std::string FormatHHMM(const TDateTime& When);      // "HH:MM"
std::string FormatDate(const TDateTime& When);      // "YYYY-MM-DD"
std::string FormatDateTime(const TDateTime& When);  // "YYYY-MM-DD HH:MM:SS"
std::string FormatDayStamp(const TDateTime& When);  // "yyyymmdd"

// Parses the text forms the data access layer hands out for temporal values:
// "YYYY-MM-DD", "YYYY-MM-DD HH:MM:SS" (optionally with fractions, which are
// dropped, and "T" in place of the blank) and "HH:MM:SS", which gives
// 1899-12-30 with that time. Surrounding blanks are ignored. Returns false
// for anything else, including out-of-range fields.
bool ParseDateTimeText(std::string_view Text, TDateTime& Out);

namespace Clock {
// The current local date and time (or the pinned one).
TDateTime Now();
// Pins the clock at When until Reset; Advance moves a pinned clock on.
void SetFixed(const TDateTime& When);
void Advance(int64_t Seconds);
void Reset();
}  // namespace Clock

}  // namespace kelvor
