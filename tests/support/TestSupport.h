// Helpers shared by the test suites: temporary folders that clean up after
// themselves, file helpers, scopes for the process-wide clock, current
// directory and program folder, and polling waits. Set up on the test's own
// thread.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "platform/Clock.h"

namespace kelvor {
class TBroadMessage;
}

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

// A shell command's exit status (-1 when it could not run or a signal ended
// it) and what it wrote on standard output and error together.
struct TShellOutcome {
  int Status = -1;
  std::string Output;
};
TShellOutcome RunShell(const std::string& Command);

// Pins Clock::Now for the lifetime of the object.
class FixedClock {
 public:
  explicit FixedClock(const TDateTime& When) { Clock::SetFixed(When); }
  ~FixedClock() { Clock::Reset(); }
  void Set(const TDateTime& When) { Clock::SetFixed(When); }
  void Advance(int64_t Seconds) { Clock::Advance(Seconds); }
};

TDateTime At(int Year, int Month, int Day, int Hour = 0, int Minute = 0, int Second = 0);

// Makes Folder the current directory (the log folder is taken from it) until destroyed.
class CurrentDirectoryScope {
 public:
  explicit CurrentDirectoryScope(const std::string& Folder);
  ~CurrentDirectoryScope();
  CurrentDirectoryScope(const CurrentDirectoryScope&) = delete;
  CurrentDirectoryScope& operator=(const CurrentDirectoryScope&) = delete;

 private:
  std::string FPrevious;
};

// Makes Folder the program folder (the report folder is taken from it) until destroyed.
class ProgramFolderScope {
 public:
  explicit ProgramFolderScope(const std::string& Folder);
  ~ProgramFolderScope();
  ProgramFolderScope(const ProgramFolderScope&) = delete;
  ProgramFolderScope& operator=(const ProgramFolderScope&) = delete;

 private:
  std::string FPrevious;
};

// Polls Condition every 10 ms until it holds (true) or Timeout passes (false).
bool WaitUntil(const std::function<bool()>& Condition,
               std::chrono::milliseconds Timeout = std::chrono::seconds(20));

// A fresh channel registered under Key in the process-wide registry; a task's
// channel (any key not starting with "{") also carries the task's name.
TBroadMessage* NewChannel(const std::string& Key);

}  // namespace kelvor::test
