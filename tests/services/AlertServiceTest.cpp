// The alert service: commands of conf/server.ini run by one runner thread
// for alerts raised from many threads, and program exit with alerts pending.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <thread>
#include <vector>

#include "platform/Clock.h"
#include "platform/TextFile.h"
#include "services/uAlertService.h"
#include "services/uLogService.h"
#include "support/TestSupport.h"

namespace kelvor {
namespace {

// bin/, conf/ and logs/ of a throw-away installation, bin/ being the program
// folder and the current directory.
class AlertServiceTest : public ::testing::Test {
 protected:
  AlertServiceTest() : FBin(FDir.Sub("bin/", true)), FProgram(FBin), FCwd(FBin) {
    std::filesystem::create_directories(FDir.Path() + "conf");
    std::filesystem::create_directories(FDir.Path() + "logs");
  }
  void WriteServerIni(const std::string& Text) {
    test::WriteFileOrDie(FDir.Path() + "conf/server.ini", Text);
  }
  std::string Log() {
    StopLogService();
    return test::ReadFileOrEmpty(FDir.Path() + "logs/log" + FormatDayStamp(Clock::Now()) + ".txt");
  }

  test::TempDir FDir;
  std::string FBin;
  test::ProgramFolderScope FProgram;
  test::CurrentDirectoryScope FCwd;
};

TEST_F(AlertServiceTest, AlertsRaisedFromManyThreadsAllRunInTheirOrder) {
  WriteServerIni("[alert]\r\ncommand=echo \"$KELVOR_TASK $KELVOR_RESULT\" >> ../alerts.txt\r\n");
  constexpr int kThreads = 4, kEach = 5;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([t] {
      for (int i = 0; i < kEach; ++i)
        RaiseAlert("task" + std::to_string(t), std::to_string(i));
    });
  for (auto& thread : threads)
    thread.join();
  StopAlertService();

  std::vector<std::string> lines;
  ASSERT_TRUE(ReadLines(FDir.Path() + "alerts.txt", lines));
  ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kEach));
  std::map<std::string, int> next;  // each thread's alerts ran in the order raised
  for (const std::string& line : lines) {
    const std::string task = line.substr(0, line.find(' '));
    EXPECT_EQ(line, task + " " + std::to_string(next[task]++));
  }
  EXPECT_EQ(next.size(), static_cast<size_t>(kThreads));
  EXPECT_EQ(Log(), "");
}

TEST_F(AlertServiceTest, ExitLeavesARunningCommandAloneAndLogsTheAlertsNeverSent) {
  WriteServerIni("[alert]\r\ncommand=sleep 2\r\n");
  for (const char* task : {"first", "second", "third"})
    RaiseAlert(task, "failed");
  StopAlertService(std::chrono::milliseconds(100));
  const std::string log = Log();
  EXPECT_EQ(log.find("mission<first>"), std::string::npos) << log;
  for (const char* task : {"second", "third"})
    EXPECT_NE(
        log.find(std::string("alert for mission<") + task + "> not sent: the program ended first"),
        std::string::npos)
        << log;
  // Without a command nothing is queued, and a later alert starts afresh.
  WriteServerIni("[server]\r\nname=x\r\n;[alert]\r\n;command=touch ../alerted\r\n");
  RaiseAlert("fourth", "failed");
  StopAlertService();
  EXPECT_FALSE(std::filesystem::exists(FDir.Path() + "alerted"));
}

}  // namespace
}  // namespace kelvor
