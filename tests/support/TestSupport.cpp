#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "platform/Paths.h"
#include "platform/TextFile.h"
#include "platform/Thread.h"
#include "services/uBroadMessage.h"

namespace kelvor::test {

TempDir::TempDir() {
  std::string base = std::filesystem::temp_directory_path().string() + "/kelvor-test-XXXXXX";
  std::vector<char> buf(base.begin(), base.end());
  buf.push_back('\0');
  if (::mkdtemp(buf.data()) == nullptr) {
    ADD_FAILURE() << "mkdtemp failed";
    std::abort();
  }
  FPath = std::string(buf.data()) + "/";
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(FPath, ec);
}

std::string TempDir::Sub(const std::string& Name, bool CreateFolder) const {
  std::string p = FPath + Name;
  if (CreateFolder) {
    std::error_code ec;
    std::filesystem::create_directories(p, ec);
  }
  return p;
}

std::string ReadFileOrEmpty(const std::string& Path) {
  std::string s;
  ReadWholeFile(Path, s);
  return s;
}

void WriteFileOrDie(const std::string& Path, const std::string& Text) {
  if (!WriteWholeFile(Path, Text)) {
    ADD_FAILURE() << "cannot write " << Path;
    std::abort();
  }
}

TShellOutcome RunShell(const std::string& Command) {
  TShellOutcome r;
  FILE* pipe = popen(("(" + Command + ") 2>&1").c_str(), "r");
  if (!pipe) return r;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
    r.Output.append(buffer, n);
  const int status = pclose(pipe);
  r.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

TDateTime At(int Year, int Month, int Day, int Hour, int Minute, int Second) {
  TDateTime t;
  t.Year = Year;
  t.Month = Month;
  t.Day = Day;
  t.Hour = Hour;
  t.Minute = Minute;
  t.Second = Second;
  return t;
}

CurrentDirectoryScope::CurrentDirectoryScope(const std::string& Folder) {
  char buf[4096];
  if (::getcwd(buf, sizeof buf) == nullptr || ::chdir(Folder.c_str()) != 0) {
    ADD_FAILURE() << "cannot change to " << Folder;
    std::abort();
  }
  FPrevious = buf;
}

CurrentDirectoryScope::~CurrentDirectoryScope() {
  if (::chdir(FPrevious.c_str()) != 0) std::abort();
}

ProgramFolderScope::ProgramFolderScope(const std::string& Folder) : FPrevious(ProgramFolder()) {
  SetProgramFolder(Folder);
}

ProgramFolderScope::~ProgramFolderScope() {
  SetProgramFolder(FPrevious);
}

bool WaitUntil(const std::function<bool()>& Condition, std::chrono::milliseconds Timeout) {
  const auto end = std::chrono::steady_clock::now() + Timeout;
  while (!Condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    TThread::Sleep(10);
  }
  return true;
}

TBroadMessage* NewChannel(const std::string& Key) {
  TBroadMessage* channel =
      GetBroadMessageHandler()->Register(Key, std::make_unique<TBroadMessage>());
  if (Key.front() != '{') channel->SetMissionName(Key);
  return channel;
}

}  // namespace kelvor::test
