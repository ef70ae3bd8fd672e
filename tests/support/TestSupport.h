// Helpers shared by the test suites: temporary folders that clean up after
// themselves, file helpers and a pinned clock for the length of a test.
#pragma once

#include <string>
#include <vector>

#include "platform/Clock.h"

namespace kelvor::test {

// A fresh, empty folder under the system's temporary folder; removed with
// everything in it when the object is destroyed. Path() ends with "/".
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& Path() const { return FPath; }
  // Path() + Name; with CreateFolder the folder (and its parents) is made.
  std::string Sub(const std::string& Name, bool CreateFolder = false) const;

 private:
  std::string FPath;
};

std::string ReadFileOrEmpty(const std::string& Path);
void WriteFileOrDie(const std::string& Path, const std::string& Text);

// Pins Clock::Now for the lifetime of the object.
class FixedClock {
 public:
  explicit FixedClock(const TDateTime& When) { Clock::SetFixed(When); }
  ~FixedClock() { Clock::Reset(); }
  void Set(const TDateTime& When) { Clock::SetFixed(When); }
  void Advance(int64_t Seconds) { Clock::Advance(Seconds); }
};

TDateTime At(int Year, int Month, int Day, int Hour = 0, int Minute = 0, int Second = 0);

}  // namespace kelvor::test
