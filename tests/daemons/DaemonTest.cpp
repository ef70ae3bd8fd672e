// Task daemons and the service manager against real SQLite files: when
// tasks run, what they post and report, how they end, and many at once.
#include <gtest/gtest.h>

#include <algorithm>
#include <limits>

#include "DbTestSupport.h"
#include "daemons/uNotifyService.h"
#include "platform/TextFile.h"
#include "services/uBroadMessage.h"
#include "tasks/uInstanceCollections.h"

namespace kelvor {
namespace {

using test::At;
using test::NewChannel;
using test::WaitUntil;

int CountOf(const std::vector<std::string>& Lines, const std::string& Line) {
  return static_cast<int>(std::count(Lines.begin(), Lines.end(), Line));
}

// A poll interval no test outlasts: a daemon or manager given it acts only on
// what it is notified of (a stop, a start request, its task finished).
constexpr std::chrono::hours kNeverPoll{1};

class DaemonTest : public ::testing::Test {
 protected:
  std::shared_ptr<TDaemonService> Start(
      const std::shared_ptr<TKelvorInstance>& Task,
      std::chrono::milliseconds PollInterval = kDaemonPollInterval) {
    TaskChannel = NewChannel(Task->MissionName);
    ServiceChannel = NewChannel(std::string(ServiceChannelId));
    auto daemon = std::make_shared<TDaemonService>("0", Task, TaskChannel, ServiceChannel);
    daemon->PollInterval = PollInterval;
    daemon->Resume();
    return daemon;
  }

  // Collects the task channel's lines as they arrive.
  int RunsSoFar() {
    for (auto& line : SplitLines(TaskChannel->TakeText()))
      TaskLines.push_back(line);
    return CountOf(TaskLines, "开始连接目标和源数据库....");
  }

  test::FixedClock Clock{At(2026, 12, 7, 10, 0, 0)};
  test::TInstallation Home;
  TBroadMessage* TaskChannel = nullptr;
  TBroadMessage* ServiceChannel = nullptr;
  std::vector<std::string> TaskLines;
};

TEST_F(DaemonTest, RunOnceSucceedsOnceReportsAndStops) {
  auto task = Home.CopyTask("once_ok");
  // The task is finished by its run: the daemon ends without another pause.
  auto daemon = Start(task, kNeverPoll);
  ASSERT_TRUE(daemon->WaitFor(std::chrono::seconds(20)));

  EXPECT_EQ(Home.DestinationScalar("select count(*) from t"), "3");
  EXPECT_EQ(RunsSoFar(), 1);
  EXPECT_EQ(TaskLines,
            (std::vector<std::string>{"开始连接目标和源数据库....", "开始执行同步操作...",
                                      "begin to open record...", "record count:3",
                                      "同步操作成功执行. read 3, inserted 3, updated 0, deleted 0, "
                                      "skipped 0 (pre-check 0, no matching key 0)"}));
  EXPECT_EQ(SplitLines(ServiceChannel->TakeText()),
            (std::vector<std::string>{"任务<once_ok>已经运行...", "任务<once_ok>已经停止."}));
  EXPECT_EQ(TaskChannel->GetRunState(), 0);
  EXPECT_EQ(TaskChannel->GetStartedAt(), "10:00");
  EXPECT_EQ(task->RunStartTime.Get(), "10:00");
  EXPECT_EQ(task->RunEndTime.Get(), "10:00");
  EXPECT_EQ(
      Home.ReportLines(At(2026, 12, 7)),
      (std::vector<std::string>{"once_ok\t10:00\t10:00\t3\t0\tOperation execute successfully."}));
}

TEST_F(DaemonTest, RunOnceWithFailingConnectTriesThreeTimes) {
  auto task = Home.FailingTask("once_bad");
  auto daemon = Start(task);
  ASSERT_TRUE(daemon->WaitFor(std::chrono::seconds(20)));

  EXPECT_EQ(RunsSoFar(), 3);
  EXPECT_EQ(CountOf(TaskLines, "连接数据库失败，请看详细日志信息!"), 3);
  EXPECT_EQ(SplitLines(ServiceChannel->TakeText()).back(), "任务<once_bad>已经停止.");
  std::vector<std::string> log = Home.LogLines(At(2026, 12, 7));
  std::vector<std::string> failures;
  for (const auto& line : log)
    if (line.find("mission<once_bad>") != std::string::npos) failures.push_back(line.substr(21));
  EXPECT_EQ(failures, (std::vector<std::string>{"mission<once_bad> execute 1 times fail!",
                                                "mission<once_bad> execute 2 times fail!",
                                                "mission<once_bad> execute 3 times fail!"}));
  EXPECT_TRUE(Home.ReportLines(At(2026, 12, 7)).empty());  // a failed connect writes no report
}

TEST_F(DaemonTest, StopRequestWhileWaitingEndsTheDaemon) {
  auto task = Home.CopyTask("waiting");
  task->Mode = modePlanned;
  task->TimePoint = "23:00";
  // The stop request wakes the pausing daemon: it does not wait for a poll.
  auto daemon = Start(task, kNeverPoll);
  ASSERT_TRUE(WaitUntil([&] { return TaskChannel->GetRunState() == 1; }));
  task->RequestStop();
  // The generous bound only guards against a hang.
  EXPECT_TRUE(daemon->WaitFor(std::chrono::seconds(20)));
  EXPECT_EQ(TaskChannel->GetRunState(), 0);
  EXPECT_EQ(RunsSoFar(), 0);
}

TEST_F(DaemonTest, PlannedDailyTaskRunsAtItsMinuteAndThenTomorrow) {
  auto task = Home.CopyTask("daily");
  task->Mode = modePlanned;
  task->ScheduleMode = scheduleDaily;
  task->TimePoint = "10:30";
  Clock.Set(At(2026, 12, 7, 10, 29, 58));
  auto daemon = Start(task);
  ASSERT_TRUE(WaitUntil([&] { return TaskChannel->GetRunState() == 1; }));
  TThread::Sleep(500);
  EXPECT_EQ(RunsSoFar(), 0);

  Clock.Set(At(2026, 12, 7, 10, 30, 0));
  ASSERT_TRUE(WaitUntil([&] { return RunsSoFar() == 1 && task->RunEndTime.Get() == "10:30"; }));
  TThread::Sleep(600);  // still 10:30: a success moved the next run to tomorrow
  EXPECT_EQ(RunsSoFar(), 1);

  Clock.Set(At(2026, 12, 8, 10, 30, 0));
  ASSERT_TRUE(WaitUntil([&] { return RunsSoFar() == 2; }));
  task->RequestStop();
  ASSERT_TRUE(daemon->WaitFor(std::chrono::seconds(20)));
}

TEST_F(DaemonTest, IntervalTaskRunsEveryIntervalAfterTheLastRun) {
  auto task = Home.CopyTask("interval");
  task->Mode = modeInterval;
  task->TimeDistance = 12;
  auto daemon = Start(task);  // started at 10:00: first run at 10:12
  ASSERT_TRUE(WaitUntil([&] { return TaskChannel->GetRunState() == 1; }));
  Clock.Set(At(2026, 12, 7, 10, 11, 0));
  TThread::Sleep(500);
  EXPECT_EQ(RunsSoFar(), 0);
  Clock.Set(At(2026, 12, 7, 10, 12, 0));
  ASSERT_TRUE(WaitUntil([&] { return RunsSoFar() == 1 && task->RunEndTime.Get() == "10:12"; }));
  // The success at 10:12 makes the next run 10:24, not earlier.
  Clock.Set(At(2026, 12, 7, 10, 23, 0));
  TThread::Sleep(500);
  EXPECT_EQ(RunsSoFar(), 1);
  Clock.Set(At(2026, 12, 7, 10, 24, 0));
  ASSERT_TRUE(WaitUntil([&] { return RunsSoFar() == 2; }));
  task->RequestStop();
  ASSERT_TRUE(daemon->WaitFor(std::chrono::seconds(20)));
}

TEST_F(DaemonTest, FailingDailyTaskRunsThreeTimesInItsMinuteThenTheNextDay) {
  auto task = Home.FailingTask("daily_bad");
  task->Mode = modePlanned;
  task->ScheduleMode = scheduleDaily;
  task->TimePoint = "10:30";
  Clock.Set(At(2026, 12, 7, 10, 30, 0));
  auto daemon = Start(task);
  ASSERT_TRUE(WaitUntil([&] { return RunsSoFar() == 3; }));
  TThread::Sleep(1000);  // five more polls in the same minute
  EXPECT_EQ(RunsSoFar(), 3);
  Clock.Set(At(2026, 12, 7, 10, 31, 0));
  TThread::Sleep(500);
  EXPECT_EQ(RunsSoFar(), 3);
  std::vector<std::string> failures;
  for (const auto& line : Home.LogLines(At(2026, 12, 7)))
    if (line.find("mission<daily_bad>") != std::string::npos) failures.push_back(line.substr(21));
  EXPECT_EQ(failures, (std::vector<std::string>{"mission<daily_bad> execute 1 times fail!",
                                                "mission<daily_bad> execute 2 times fail!",
                                                "mission<daily_bad> execute 3 times fail!"}));

  Clock.Set(At(2026, 12, 8, 10, 30, 0));
  ASSERT_TRUE(WaitUntil([&] { return RunsSoFar() == 6; }));
  task->RequestStop();
  ASSERT_TRUE(daemon->WaitFor(std::chrono::seconds(20)));
  EXPECT_EQ(RunsSoFar(), 6);
}

TEST_F(DaemonTest, MonthlyTaskThatSucceededRunsOnceInItsMinute) {
  auto task = Home.CopyTask("monthly");
  task->Mode = modePlanned;
  task->ScheduleMode = scheduleMonthly;
  task->DaySet = 7;
  task->TimePoint = "10:30";
  Clock.Set(At(2026, 12, 7, 10, 29, 59));
  auto daemon = Start(task);
  ASSERT_TRUE(WaitUntil([&] { return TaskChannel->GetRunState() == 1; }));
  Clock.Set(At(2026, 12, 7, 10, 30, 0));
  ASSERT_TRUE(WaitUntil([&] { return RunsSoFar() == 1 && task->RunEndTime.Get() == "10:30"; }));
  TThread::Sleep(1000);  // five more polls in the same minute
  EXPECT_EQ(RunsSoFar(), 1);
  EXPECT_EQ(Home.ReportLines(At(2026, 12, 7)).size(), 1u);

  Clock.Set(At(2027, 1, 7, 10, 30, 0));  // the same day of the next month
  ASSERT_TRUE(WaitUntil([&] { return RunsSoFar() >= 2; }));
  task->RequestStop();
  ASSERT_TRUE(daemon->WaitFor(std::chrono::seconds(20)));
}

TEST_F(DaemonTest, FailedRunIsReportedWithResultCodeMinusOne) {
  auto task = Home.CopyTask("bad_sql");
  task->FieldMaps.SetCommand("select * from no_such_table");
  auto daemon = Start(task);
  ASSERT_TRUE(daemon->WaitFor(std::chrono::seconds(20)));
  EXPECT_EQ(RunsSoFar(), 3);  // counted failures end a run-once task after three runs
  EXPECT_EQ(CountOf(TaskLines, "操作完成, 但出现错误,请查看相关日志."), 3);
  std::vector<std::string> report = Home.ReportLines(At(2026, 12, 7));
  ASSERT_EQ(report.size(), 3u);
  EXPECT_EQ(report[0], "bad_sql\t10:00\t10:00\t0\t-1\t操作完成, 但出现错误,请查看相关日志.");
}

class ManagerTest : public ::testing::Test {
 protected:
  // Neither the manager nor its daemons poll within a test: start requests,
  // stops and the end of run-once tasks are all acted on when notified.
  std::shared_ptr<TRevoroProxyService> StartService() {
    auto manager = std::make_shared<TRevoroProxyService>(&Missions);
    manager->PollInterval = kNeverPoll;
    manager->DaemonPollInterval = kNeverPoll;
    manager->Resume();
    EXPECT_TRUE(WaitUntil([&] { return manager->Started(); }));
    return manager;
  }
  void StopService(const std::shared_ptr<TRevoroProxyService>& Manager) {
    RequestServiceStop(*Manager, Missions, 0);
    ASSERT_TRUE(Manager->WaitFor(std::chrono::seconds(20)));
    ASSERT_TRUE(WaitUntil([&] { return Manager->RunningDaemonCount() == 0; }));
  }
  std::string Name(const std::string& Base) { return test::UniqueName(Base); }

  test::FixedClock Clock{At(2026, 12, 7, 9, 0, 0)};
  test::TInstallation Home{50};
  TInstanceCollections Missions;
};

TEST_F(ManagerTest, StartBuildsDaemonsForActiveTasksOnly) {
  auto active = Home.CopyTask(Name("active"));
  auto inactive = Home.CopyTask(Name("inactive"));
  inactive->IsActive = false;
  Missions.Add(active);
  Missions.Add(inactive);
  auto manager = StartService();
  EXPECT_EQ(manager->ServiceChannel, GetBroadMessageHandler()->Find(ServiceChannelId));
  ASSERT_TRUE(WaitUntil(
      [&] { return manager->RunningDaemonCount() == 0 && active->RunEndTime.Get() != ""; }));
  EXPECT_EQ(GetBroadMessageHandler()->Find(inactive->MissionName), nullptr);
  StopService(manager);
  std::vector<std::string> lines = SplitLines(manager->ServiceChannel->TakeText());
  const std::vector<std::string> start = {"初始化所有的任务处理服务...",
                                          "初始化所有的任务处理服务完成",
                                          "启动所有的任务处理服务.....", "启动完成."};
  // Daemons post their own start lines as soon as they are resumed, so the
  // manager's four lines come in order but may have others among them.
  std::vector<std::string> own;
  for (const auto& line : lines)
    if (std::find(start.begin(), start.end(), line) != start.end()) own.push_back(line);
  EXPECT_EQ(own, start);
  EXPECT_EQ(lines.front(), start.front());
  EXPECT_EQ(lines.back(), "数据同步服务已经停止.");
  EXPECT_EQ(Home.DestinationScalar("select count(*) from t"), "50");
}

TEST_F(ManagerTest, TaskWhoseDaemonStillRunsGetsNoSecond) {
  auto task = Home.CopyTask(Name("busy"));
  Missions.Add(task);
  TBroadMessage* channel = test::NewChannel(task->MissionName);
  channel->MarkStarted();  // a daemon of an earlier start is still running
  auto manager = StartService();
  EXPECT_EQ(manager->RunningDaemonCount(), 0);
  EXPECT_TRUE(task->RunEndTime.Get().empty());
  channel->MarkStopped();
  StopService(manager);
}

TEST_F(ManagerTest, StartRequestsBuildAndStartADaemon) {
  auto task = Home.CopyTask(Name("requested"));
  task->IsActive = false;  // no daemon at service start
  Missions.Add(task);
  auto manager = StartService();
  TBroadMessage* channel = test::NewChannel(task->MissionName);
  TBroadMessage* orphan = test::NewChannel(Name("deleted_task"));
  orphan->RequestStart();
  channel->RequestStart();
  ASSERT_TRUE(WaitUntil(
      [&] { return task->RunEndTime.Get() != "" && manager->RunningDaemonCount() == 0; }));
  EXPECT_FALSE(channel->IsStartRequested());
  EXPECT_TRUE(orphan->IsStartRequested());  // names no task: ignored and left set
  EXPECT_FALSE(GetBroadMessageHandler()->IsRequestPending());
  StopService(manager);
  EXPECT_EQ(Home.DestinationScalar("select count(*) from t"), "50");
}

TEST_F(ManagerTest, TaskAddedWhileRunningStartsAtOnce) {
  auto manager = StartService();
  auto task = Home.CopyTask(Name("added"));
  Missions.Add(task);
  manager->AddMission(task);
  ASSERT_TRUE(WaitUntil(
      [&] { return task->RunEndTime.Get() != "" && manager->RunningDaemonCount() == 0; }));
  StopService(manager);
  EXPECT_EQ(Home.DestinationScalar("select count(*) from t"), "50");
}

TEST_F(ManagerTest, SecondStartRegistersANewServiceChannel) {
  auto task = Home.CopyTask(Name("twice"));
  Missions.Add(task);
  auto first = StartService();
  StopService(first);
  TBroadMessage* firstChannel = first->ServiceChannel;
  TBroadMessage* taskChannel = GetBroadMessageHandler()->Find(task->MissionName);
  auto second = StartService();
  EXPECT_NE(second->ServiceChannel, firstChannel);
  EXPECT_EQ(GetBroadMessageHandler()->Find(ServiceChannelId), second->ServiceChannel);
  EXPECT_EQ(GetBroadMessageHandler()->Find(task->MissionName), taskChannel);  // reused
  StopService(second);
}

TEST_F(ManagerTest, StopSequencePauseEndsOnceTheManagerHasSeenTheStop) {
  auto watch = Home.WatchTask(Name("watch"));  // pinned at 09:00: due at 23:59 only
  Missions.Add(watch);
  auto manager = StartService();
  ASSERT_TRUE(WaitUntil([&] { return manager->RunningDaemonCount() == 1 && AnyDaemonRunning(); }));
  // A pause no test outlasts: only the manager's notice of the stop-all
  // request ends it.
  RequestServiceStop(*manager, Missions, std::numeric_limits<int>::max());
  EXPECT_TRUE(manager->StopAllSeen());
  ASSERT_TRUE(manager->WaitFor(std::chrono::seconds(20)));
  ASSERT_TRUE(WaitUntil([&] { return manager->RunningDaemonCount() == 0; }));
  EXPECT_EQ(GetBroadMessageHandler()->Find(watch->MissionName)->GetRunState(), 0);
}

TEST_F(ManagerTest, ADaemonWhoseBodyStartsAfterTheStopStillEnds) {
  auto watch = Home.WatchTask(Name("late"));  // pinned at 09:00: due at 23:59 only
  Missions.Add(watch);
  auto manager = std::make_shared<TRevoroProxyService>(&Missions);
  manager->DaemonPollInterval = kNeverPoll;
  manager->InitDaemons();  // built, not yet resumed
  RequestServiceStop(*manager, Missions, 0);
  // Starting resets the task's run state, the stop request with it; the
  // termination request is what still ends the daemon.
  manager->StartDaemons();
  ASSERT_TRUE(WaitUntil([&] { return manager->RunningDaemonCount() == 0; }));
  EXPECT_EQ(GetBroadMessageHandler()->Find(watch->MissionName)->GetRunState(), 0);
}

// Labelled tsan: twenty daemons copy into one destination file at once.
TEST_F(ManagerTest, TwentyTasksAtOnce) {
  TDbConnection dst;
  dst.SetConnectionString(test::AccessConnectionString(Home.Destination));
  dst.Open();
  std::vector<std::shared_ptr<TKelvorInstance>> tasks;
  for (int i = 0; i < 20; ++i) {
    const std::string table = "t" + std::to_string(i);
    test::ExecOn(dst, "create table " + table + "(id integer primary key, name varchar(20))");
    auto task = Home.CopyTask(Name("many" + std::to_string(i)));
    task->FieldMaps.DstTable = table;
    task->FieldMaps.OperationType = i % 2 == 0 ? opInsert : opUpdateThenInsert;
    tasks.push_back(task);
    Missions.Add(task);
  }
  auto manager = StartService();
  ASSERT_TRUE(WaitUntil([&] { return manager->RunningDaemonCount() == 0 && !AnyDaemonRunning(); },
                        std::chrono::seconds(120)));
  StopService(manager);
  for (int i = 0; i < 20; ++i)
    EXPECT_EQ(test::ScalarOn(dst, "select count(*) from t" + std::to_string(i)), "50") << i;
  EXPECT_EQ(Home.ReportLines(At(2026, 12, 7)).size(), 20u);
}

}  // namespace
}  // namespace kelvor
