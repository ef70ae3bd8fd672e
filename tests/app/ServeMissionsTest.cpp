// The service loop of kelvord, run in the test's own process on SQLite
// tasks: it ends when the work does, whatever its printing interval, prints
// every line in the order it was posted, and leaves every log and report
// line in the files when it returns.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "DbTestSupport.h"
#include "app/kelvord_commands.h"
#include "daemons/uNotifyService.h"
#include "platform/TextFile.h"
#include "platform/Wakeup.h"
#include "tasks/uInstanceCollections.h"

namespace kelvor {
namespace {

using test::At;

// A printing interval no test outlasts: the loop can only end through a
// notification (every daemon ended, a stop signal).
constexpr std::chrono::hours kNeverPrint{1};

// What ServeMissions printed, and its exit status.
struct TServed {
  int Status = -1;
  std::vector<std::string> Lines;
};

TServed Serve(TInstanceCollections& Missions, bool UntilIdle, const std::atomic<bool>& Stop) {
  char* text = nullptr;
  size_t size = 0;
  std::FILE* out = open_memstream(&text, &size);
  TServed served;
  served.Status = ServeMissions(Missions, UntilIdle, Stop, out, kNeverPrint);
  std::fclose(out);
  served.Lines = SplitLines(std::string(text, size));
  std::free(text);
  return served;
}

// The lines without the manager's four start lines, which the daemons' first
// lines may come among.
std::vector<std::string> WithoutStartLines(std::vector<std::string> Lines) {
  const std::vector<std::string> start = {"初始化所有的任务处理服务...",
                                          "初始化所有的任务处理服务完成",
                                          "启动所有的任务处理服务.....", "启动完成."};
  std::erase_if(Lines, [&](const std::string& Line) {
    return std::find(start.begin(), start.end(), Line) != start.end();
  });
  return Lines;
}

std::vector<std::string> FileLines(const std::string& Path) {
  std::vector<std::string> lines;
  ReadLines(Path, lines);
  return lines;
}

TEST(ServeMissionsTest, UntilIdleEndsWithTheLastDaemonAndLeavesEveryLineWritten) {
  test::FixedClock clock(At(2026, 12, 7, 10, 0, 0));
  struct TCase {
    bool Failing;
    int Status;
    std::vector<std::string> TaskLines;  // once per run
    int Runs;
  };
  const TCase cases[] = {
      {false,
       0,
       {"开始连接目标和源数据库....", "开始执行同步操作...", "begin to open record...",
        "record count:3",
        "同步操作成功执行. read 3, inserted 3, updated 0, deleted 0, skipped 0 (pre-check 0, no "
        "matching key 0)"},
       1},
      {true, 1, {"开始连接目标和源数据库....", "连接数据库失败，请看详细日志信息!"}, 3},
  };
  for (const TCase& c : cases) {
    test::TInstallation home;
    const std::string name = c.Failing ? "unreachable" : "copy";
    TInstanceCollections missions;
    missions.Add(c.Failing ? home.FailingTask(name) : home.CopyTask(name));
    const std::atomic<bool> stop{false};
    const TServed served = Serve(missions, true, stop);

    EXPECT_EQ(served.Status, c.Status) << name;
    std::vector<std::string> want = {"任务<" + name + ">已经运行..."};
    for (int run = 0; run < c.Runs; ++run)
      for (const std::string& line : c.TaskLines)
        want.push_back("[" + name + "] " + line);
    want.push_back("任务<" + name + ">已经停止.");
    want.push_back("数据同步服务已经停止.");
    EXPECT_EQ(WithoutStartLines(served.Lines), want) << name;

    // Read straight from the files: the service stopped the writers itself.
    const std::vector<std::string> report = FileLines(home.ReportPath(At(2026, 12, 7)));
    const std::vector<std::string> log = FileLines(home.Root() + "logs/log20261207.txt");
    if (c.Failing) {
      EXPECT_TRUE(report.empty());
      int counted = 0;
      for (const std::string& line : log)
        if (line.find("mission<" + name + "> execute ") != std::string::npos) ++counted;
      EXPECT_EQ(counted, 3) << testing::PrintToString(log);
    } else {
      EXPECT_EQ(report, std::vector<std::string>{name + "\t10:00\t10:00\t3\t0\tOperation execute "
                                                        "successfully."});
      EXPECT_EQ(home.DestinationScalar("select count(*) from t"), "3");
    }
  }
}

TEST(ServeMissionsTest, AStopSignalEndsAServiceThatWouldWaitAllDay) {
  test::FixedClock clock(At(2026, 12, 7, 9, 0, 0));
  test::TInstallation home;
  TInstanceCollections missions;
  missions.Add(home.WatchTask("watch"));  // due at 23:59 only
  std::atomic<bool> stop{false};
  std::thread signaller([&] {
    EXPECT_TRUE(test::WaitUntil([] { return AnyDaemonRunning(); }));
    // What kelvord's signal watcher does for SIGTERM.
    stop.store(true);
    ProcessWakeup().Notify();
  });
  const TServed served = Serve(missions, false, stop);
  signaller.join();

  EXPECT_EQ(served.Status, 0);
  std::vector<std::string> lines = WithoutStartLines(served.Lines);
  ASSERT_EQ(lines.size(), 4u) << testing::PrintToString(lines);
  EXPECT_EQ(lines[0], "任务<watch>已经运行...");
  EXPECT_EQ(lines[1], "kelvord: stop requested, stopping the service");
  // The manager may end before its daemon does.
  std::sort(lines.begin() + 2, lines.end());
  EXPECT_EQ(lines[2], "任务<watch>已经停止.");
  EXPECT_EQ(lines[3], "数据同步服务已经停止.");
  EXPECT_FALSE(AnyDaemonRunning());
}

}  // namespace
}  // namespace kelvor
