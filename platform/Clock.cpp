#include "platform/Clock.h"

#include <cstdio>
#include <ctime>
#include <mutex>

namespace kelvor {

bool IsLeapYear(int Year) {
  return (Year % 4 == 0 && Year % 100 != 0) || Year % 400 == 0;
}

int DaysInMonth(int Year, int Month) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (Month < 1 || Month > 12) return 0;
  return Month == 2 && IsLeapYear(Year) ? 29 : kDays[Month - 1];
}

// Howard Hinnant's days_from_civil / civil_from_days.
int64_t DaysFromCivil(int Year, int Month, int Day) {
  int64_t y = Year - (Month <= 2 ? 1 : 0);
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t mp = (Month + 9) % 12;
  const int64_t doy = (153 * mp + 2) / 5 + Day - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t Days, int& Year, int& Month, int& Day) {
  Days += 719468;
  const int64_t era = (Days >= 0 ? Days : Days - 146096) / 146097;
  const int64_t doe = Days - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  Day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  Month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  Year = static_cast<int>(yoe + era * 400 + (Month <= 2 ? 1 : 0));
}

TDateTime AddDays(const TDateTime& When, int64_t Days) {
  TDateTime r = When;
  CivilFromDays(DaysFromCivil(When.Year, When.Month, When.Day) + Days, r.Year, r.Month, r.Day);
  return r;
}

TDateTime AddMonths(const TDateTime& When, int Months) {
  TDateTime r = When;
  int64_t index = static_cast<int64_t>(When.Year) * 12 + (When.Month - 1) + Months;
  r.Year = static_cast<int>(index >= 0 ? index / 12 : (index - 11) / 12);
  r.Month = static_cast<int>(index - static_cast<int64_t>(r.Year) * 12) + 1;
  const int last = DaysInMonth(r.Year, r.Month);
  if (r.Day > last) r.Day = last;
  return r;
}

TDateTime AddSeconds(const TDateTime& When, int64_t Seconds) {
  int64_t total = DaysFromCivil(When.Year, When.Month, When.Day) * 86400 + When.Hour * 3600 +
                  When.Minute * 60 + When.Second + Seconds;
  int64_t days = total >= 0 ? total / 86400 : (total - 86399) / 86400;
  int64_t rest = total - days * 86400;
  TDateTime r;
  CivilFromDays(days, r.Year, r.Month, r.Day);
  r.Hour = static_cast<int>(rest / 3600);
  r.Minute = static_cast<int>(rest % 3600 / 60);
  r.Second = static_cast<int>(rest % 60);
  return r;
}

TDateTime AddMinutes(const TDateTime& When, int64_t Minutes) {
  return AddSeconds(When, Minutes * 60);
}

int IsoWeekday(const TDateTime& When) {
  // 1970-01-01 was a Thursday (ISO 4).
  int64_t d = DaysFromCivil(When.Year, When.Month, When.Day);
  int64_t w = (d + 3) % 7;  // 0 = Monday
  if (w < 0) w += 7;
  return static_cast<int>(w) + 1;
}

namespace {
std::string Format(const char* Pattern, int a, int b, int c = 0, int d = 0, int e = 0, int f = 0) {
  char buf[48];
  std::snprintf(buf, sizeof buf, Pattern, a, b, c, d, e, f);
  return buf;
}
}  // namespace

std::string FormatHHMM(const TDateTime& When) {
  return Format("%02d:%02d", When.Hour, When.Minute);
}

std::string FormatDate(const TDateTime& When) {
  return Format("%04d-%02d-%02d", When.Year, When.Month, When.Day);
}

std::string FormatDateTime(const TDateTime& When) {
  return Format("%04d-%02d-%02d %02d:%02d:%02d", When.Year, When.Month, When.Day, When.Hour,
                When.Minute, When.Second);
}

std::string FormatDayStamp(const TDateTime& When) {
  return Format("%04d%02d%02d", When.Year, When.Month, When.Day);
}

namespace {

// Reads exactly Width digits at Pos.
bool ReadDigits(std::string_view Text, size_t& Pos, int Width, int& Out) {
  if (Pos + Width > Text.size()) return false;
  int v = 0;
  for (int i = 0; i < Width; ++i) {
    char c = Text[Pos + i];
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  Pos += Width;
  Out = v;
  return true;
}

bool Expect(std::string_view Text, size_t& Pos, char c) {
  if (Pos < Text.size() && Text[Pos] == c) {
    ++Pos;
    return true;
  }
  return false;
}

bool ReadTime(std::string_view Text, size_t& Pos, TDateTime& Out) {
  if (!ReadDigits(Text, Pos, 2, Out.Hour) || !Expect(Text, Pos, ':') ||
      !ReadDigits(Text, Pos, 2, Out.Minute) || !Expect(Text, Pos, ':') ||
      !ReadDigits(Text, Pos, 2, Out.Second))
    return false;
  if (Expect(Text, Pos, '.')) {
    size_t start = Pos;
    while (Pos < Text.size() && Text[Pos] >= '0' && Text[Pos] <= '9')
      ++Pos;
    if (Pos == start) return false;
  }
  return Out.Hour < 24 && Out.Minute < 60 && Out.Second < 60;
}

}  // namespace

bool ParseDateTimeText(std::string_view Text, TDateTime& Out) {
  while (!Text.empty() && (Text.front() == ' ' || Text.front() == '\t'))
    Text.remove_prefix(1);
  while (!Text.empty() && (Text.back() == ' ' || Text.back() == '\t'))
    Text.remove_suffix(1);
  TDateTime r;
  size_t pos = 0;
  if (Text.size() >= 3 && Text[2] == ':') {
    if (!ReadTime(Text, pos, r) || pos != Text.size()) return false;
    Out = r;
    return true;
  }
  if (!ReadDigits(Text, pos, 4, r.Year) || !Expect(Text, pos, '-') ||
      !ReadDigits(Text, pos, 2, r.Month) || !Expect(Text, pos, '-') ||
      !ReadDigits(Text, pos, 2, r.Day))
    return false;
  if (r.Month < 1 || r.Month > 12 || r.Day < 1 || r.Day > DaysInMonth(r.Year, r.Month))
    return false;
  if (pos < Text.size()) {
    if (!Expect(Text, pos, ' ') && !Expect(Text, pos, 'T')) return false;
    if (!ReadTime(Text, pos, r)) return false;
  }
  if (pos != Text.size()) return false;
  Out = r;
  return true;
}

namespace Clock {
namespace {
std::mutex g_ClockMutex;
bool g_Fixed = false;   // guarded by g_ClockMutex
TDateTime g_FixedTime;  // guarded by g_ClockMutex
}  // namespace

TDateTime Now() {
  {
    std::lock_guard<std::mutex> lock(g_ClockMutex);
    if (g_Fixed) return g_FixedTime;
  }
  std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  TDateTime r;
  r.Year = tm.tm_year + 1900;
  r.Month = tm.tm_mon + 1;
  r.Day = tm.tm_mday;
  r.Hour = tm.tm_hour;
  r.Minute = tm.tm_min;
  r.Second = tm.tm_sec > 59 ? 59 : tm.tm_sec;
  return r;
}

void SetFixed(const TDateTime& When) {
  std::lock_guard<std::mutex> lock(g_ClockMutex);
  g_Fixed = true;
  g_FixedTime = When;
}

void Advance(int64_t Seconds) {
  std::lock_guard<std::mutex> lock(g_ClockMutex);
  if (g_Fixed) g_FixedTime = AddSeconds(g_FixedTime, Seconds);
}

void Reset() {
  std::lock_guard<std::mutex> lock(g_ClockMutex);
  g_Fixed = false;
}

}  // namespace Clock
}  // namespace kelvor
