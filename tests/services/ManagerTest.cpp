// The service manager: which daemons it builds and starts, start requests,
// tasks added while it runs, and many tasks at once.
#include <gtest/gtest.h>

#include <algorithm>

#include "DbTestSupport.h"
#include "platform/TextFile.h"
#include "services/uBroadMessage.h"
#include "services/uNotifyService.h"
#include "tasks/uInstanceCollections.h"

namespace kelvor {
namespace {

using test::At;
using test::WaitUntil;

class ManagerTest : public ::testing::Test {
 protected:
  std::shared_ptr<TRevoroProxyService> StartService() {
    auto manager = std::make_shared<TRevoroProxyService>(&Missions);
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
