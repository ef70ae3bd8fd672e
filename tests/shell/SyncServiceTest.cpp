// The controller with the real service: task daemons running copy tasks
// between SQLite files, the rows and the console following them, start and
// stop of one task and of the whole service, and the exit.
//
// A run is held "running" for as long as the test wants by holding the
// write lock of the destination file: the run's transaction waits for it.
#include <gtest/gtest.h>

#include <algorithm>

#include "ControllerTestSupport.h"
#include "platform/Paths.h"

namespace kelvor {
namespace {

using test::At;
using test::TEditorStep;
using test::WaitUntil;

bool Contains(const std::vector<std::string>& Lines, const std::string& Line) {
  return std::find(Lines.begin(), Lines.end(), Line) != Lines.end();
}

class SyncServiceTest : public ::testing::Test {
 protected:
  void TearDown() override {
    if (Framework) {
      EXPECT_TRUE(Framework->StopServiceForExit(std::chrono::seconds(30), 0));
    }
    Framework.reset();
  }

  std::shared_ptr<TKelvorInstance> Listed(std::shared_ptr<TKelvorInstance> Task) {
    Home.StoreTask(*Task);
    Files.push_back(Task->MissionName + ".xml");
    Home.WriteIndex(Files);
    return Task;
  }
  // Start-up as the window runs it: shown, then the ready timer.
  void StartUp() {
    Framework->MainFormShow();
    Framework->ReadyTimer();
    ASSERT_TRUE(WaitUntil([&] { return Framework->Service()->Started(); }));
  }
  TBroadMessage* ChannelOf(const std::string& Name) { return GetBroadMessageHandler()->Find(Name); }
  int RunState(const std::string& Name) {
    TBroadMessage* c = ChannelOf(Name);
    return c ? c->GetRunState() : -1;
  }
  // Ticks of the message timer until the row of Name shows Icon.
  bool TickUntilIcon(const std::string& Name, int Icon) {
    return WaitUntil([&] {
      Framework->MessageTimer();
      return View.RowIcon(View.RowOf(Name)) == Icon;
    });
  }
  bool On(TSyncControl Control) const { return View.IsEnabled(Control); }
  std::string Unique(const std::string& Base) { return test::UniqueName(Base); }
  bool ConsoleShows(const std::string& Line) {
    return WaitUntil([&] {
      Framework->MessageTimer();
      return Contains(View.Console(), Line);
    });
  }

  test::FixedClock Clock{At(2026, 5, 4, 10, 15, 0)};
  test::TInstallation Home{20};
  test::TFakeSyncView View;
  test::TEditorScript Editors;
  std::unique_ptr<TSyncFramework> Framework = CreateSyncFramework(View);
  std::vector<std::string> Files;
};

TEST_F(SyncServiceTest, StartUpRunsARunOnceTaskAndTheConsoleShowsTheService) {
  auto task = Listed(Home.CopyTask(Unique("copy")));
  const std::string name = task->MissionName;
  StartUp();
  ASSERT_EQ(View.RowCount(), 1);
  EXPECT_EQ(View.Status[0], "任务数:1");
  ASSERT_TRUE(WaitUntil([&] { return Home.DestinationScalar("select count(*) from t") == "20"; }));
  ASSERT_TRUE(WaitUntil([&] { return RunState(name) == 0 && !AnyDaemonRunning(); }));
  ASSERT_TRUE(ConsoleShows("任务<" + name + ">已经停止."));
  const std::vector<std::string> console = View.Console();
  for (const char* line : {"系统正在初始化", "初始化所有的任务处理服务...", "启动完成."})
    EXPECT_TRUE(Contains(console, line)) << line;
  EXPECT_TRUE(Contains(console, "任务<" + name + ">已经运行..."));
  // The task's own lines wait in its channel until its row is selected.
  View.ClickRow(0);
  Framework->MessageTimer();
  EXPECT_TRUE(Contains(View.Info(), "开始连接目标和源数据库...."));
  EXPECT_TRUE(Contains(View.Info(),
                       "同步操作成功执行. read 20, inserted 20, updated 0, deleted 0, skipped 0 "
                       "(pre-check 0, no matching key 0)"));

  // The report dialog shows the run.
  StopReportService(std::chrono::milliseconds(2000));
  Framework->ShowReport();
  ASSERT_EQ(View.Report.Rows.size(), 1u);
  EXPECT_EQ(View.Report.Rows[0], (std::vector<std::string>{name, "10:15", "10:15", "20", "0",
                                                           "Operation execute successfully."}));
}

TEST_F(SyncServiceTest, RowTurnsToRunningAndBackAndARunningTaskIsNotDeleted) {
  auto task = Listed(Home.CopyTask(Unique("held")));
  const std::string name = task->MissionName;
  test::TWriteLock lock(Home.Destination);
  StartUp();
  ASSERT_TRUE(TickUntilIcon(name, miRunning));
  EXPECT_EQ(View.Cell(0, mcState), "运行中...");
  EXPECT_EQ(View.Cell(0, mcStart), "10:15");

  View.ClickRow(0);
  EXPECT_FALSE(On(TSyncControl::StartMissionButton));
  EXPECT_TRUE(On(TSyncControl::StopMissionButton));
  EXPECT_TRUE(On(TSyncControl::StopMissionMenu));
  EXPECT_FALSE(On(TSyncControl::ActivateMenu));
  EXPECT_FALSE(On(TSyncControl::DisableMenu));

  Framework->DeleteMission();
  EXPECT_EQ(View.Messages, std::vector<std::string>{"当前任务正在运行中，不能删除!"});
  EXPECT_TRUE(View.Questions.empty());
  EXPECT_EQ(Framework->Missions().Count(), 1);

  // Double-click: the dialog opens read-only; nothing is saved.
  const std::string before = test::ReadFileOrEmpty(task->FileName);
  Editors.Push(TEditorStep{true, "", [](TKelvorInstance& T) { T.Note = "changed"; }});
  Framework->EditMission();
  ASSERT_EQ(Editors.Calls.size(), 1u);
  EXPECT_TRUE(Editors.Calls[0].ReadOnly);
  EXPECT_EQ(test::ReadFileOrEmpty(task->FileName), before);

  Clock.Set(At(2026, 5, 4, 10, 16, 0));
  lock.Release();
  ASSERT_TRUE(TickUntilIcon(name, miStopped));
  EXPECT_EQ(View.Cell(0, mcState), "已停止");
  EXPECT_EQ(View.Cell(0, mcEnd), "10:16");
  EXPECT_EQ(Home.DestinationScalar("select count(*) from t"), "20");

  // Stopped, the task can be deleted.
  View.ClickRow(0);
  View.Answers = {true};
  Framework->DeleteMission();
  EXPECT_EQ(Framework->Missions().Count(), 0);
  EXPECT_FALSE(FileExists(task->FileName));
}

TEST_F(SyncServiceTest, StopAndStartOneTask) {
  auto watch = Listed(Home.WatchTask(Unique("watch")));
  auto other = Listed(Home.WatchTask(Unique("other")));
  auto inactive = Home.WatchTask(Unique("inactive"));
  inactive->IsActive = false;
  Listed(inactive);
  const std::string name = watch->MissionName;
  StartUp();
  ASSERT_TRUE(TickUntilIcon(name, miRunning));
  ASSERT_TRUE(TickUntilIcon(other->MissionName, miRunning));

  View.ClickRow(View.RowOf(name));
  Framework->StopSelectedMission();
  EXPECT_FALSE(On(TSyncControl::StartMissionButton));
  EXPECT_FALSE(On(TSyncControl::StopMissionButton));
  ASSERT_TRUE(WaitUntil([&] { return RunState(name) == 0; }));
  EXPECT_EQ(RunState(other->MissionName), 1);  // the other task goes on
  ASSERT_TRUE(ConsoleShows("任务<" + name + ">已经停止."));
  EXPECT_EQ(View.RowIcon(View.RowOf(name)), miStopped);

  View.ClickRow(View.RowOf(name));
  EXPECT_TRUE(On(TSyncControl::StartMissionButton));
  EXPECT_TRUE(On(TSyncControl::StartMissionMenu));
  EXPECT_FALSE(On(TSyncControl::StopMissionMenu));
  Framework->StartSelectedMission();
  // The command returns once the daemon runs (the manager may take the
  // request up before the first look, so no wait is needed then).
  EXPECT_EQ(RunState(name), 1);
  ASSERT_TRUE(TickUntilIcon(name, miRunning));

  // A second start while its daemon runs asks for nothing and says why.
  View.WaitedMs = 0;
  Framework->StartMission(name);
  EXPECT_FALSE(ChannelOf(name)->IsStartRequested());
  EXPECT_EQ(View.WaitedMs, 0);
  EXPECT_EQ(View.Console().back(), "任务<" + name + ">未启动: 任务已在运行中");

  // A task that was inactive when the service started has no daemon; once
  // activated, "启动任务" gives it one as a task added while the service
  // runs, and its row's stop command follows at the next tick.
  EXPECT_EQ(ChannelOf(inactive->MissionName), nullptr);
  View.ClickRow(View.RowOf(inactive->MissionName));
  Framework->ActivateMission();
  ASSERT_TRUE(On(TSyncControl::StartMissionButton));
  Framework->StartSelectedMission();
  EXPECT_EQ(RunState(inactive->MissionName), 1);
  ASSERT_TRUE(TickUntilIcon(inactive->MissionName, miRunning));
  EXPECT_TRUE(On(TSyncControl::StopMissionButton));
  EXPECT_TRUE(On(TSyncControl::StopMissionMenu));
  EXPECT_FALSE(On(TSyncControl::StartMissionButton));
  EXPECT_TRUE(ConsoleShows("任务<" + inactive->MissionName + ">已经运行..."));
}

TEST_F(SyncServiceTest, StopServiceWaitsForEveryDaemonThenStartsAgain) {
  auto watch = Listed(Home.WatchTask(Unique("watch")));
  auto held = Listed(Home.CopyTask(Unique("held")));
  test::TWriteLock lock(Home.Destination);
  StartUp();
  ASSERT_TRUE(TickUntilIcon(watch->MissionName, miRunning));
  ASSERT_TRUE(TickUntilIcon(held->MissionName, miRunning));
  TBroadMessage* firstChannel = Framework->ServiceChannel();
  auto firstService = Framework->Service();

  Framework->StopServer();
  EXPECT_EQ(View.WaitedMs, TSyncFramework::kStopAllPauseMs);
  EXPECT_TRUE(firstChannel->IsStopAllRequested());
  EXPECT_TRUE(firstService->Terminated());
  EXPECT_FALSE(On(TSyncControl::StartServerButton));
  EXPECT_FALSE(On(TSyncControl::StopServerButton));
  EXPECT_FALSE(On(TSyncControl::StartMissionButton));
  EXPECT_FALSE(On(TSyncControl::StartMissionMenu));
  EXPECT_TRUE(View.TimerActive(TSyncTimer::CheckServer));
  EXPECT_EQ(Framework->ServiceState(), TServiceState::Stopping);

  // The watching daemon ends; the held run goes on until its lock is free.
  ASSERT_TRUE(WaitUntil([&] { return RunState(watch->MissionName) == 0; }));
  Framework->CheckServerTimer();
  EXPECT_TRUE(View.TimerActive(TSyncTimer::CheckServer));
  EXPECT_FALSE(On(TSyncControl::StartServerButton));
  StartUp();  // a stray ready tick starts nothing
  EXPECT_EQ(Framework->Service(), firstService);

  lock.Release();
  ASSERT_TRUE(WaitUntil([&] { return !AnyDaemonRunning(); }));
  Framework->CheckServerTimer();
  EXPECT_FALSE(View.TimerActive(TSyncTimer::CheckServer));
  EXPECT_TRUE(On(TSyncControl::StartServerButton));
  EXPECT_FALSE(On(TSyncControl::StopServerButton));
  EXPECT_FALSE(On(TSyncControl::StartMissionButton));
  EXPECT_EQ(Framework->ServiceState(), TServiceState::Stopped);
  ASSERT_TRUE(firstService->WaitFor(std::chrono::seconds(10)));

  Framework->StartServer();
  EXPECT_EQ(Framework->ServiceState(), TServiceState::Running);
  EXPECT_NE(Framework->Service(), firstService);
  EXPECT_NE(Framework->ServiceChannel(), firstChannel);
  EXPECT_EQ(Framework->ServiceChannel(), GetBroadMessageHandler()->Find(ServiceChannelId));
  EXPECT_FALSE(On(TSyncControl::StartServerButton));
  EXPECT_TRUE(On(TSyncControl::StopServerButton));
  // The first manager's last line reached the console.
  EXPECT_TRUE(Contains(View.Console(), "数据同步服务已经停止."));
  // The watching task is watched again; the run-once task ran its run.
  ASSERT_TRUE(TickUntilIcon(watch->MissionName, miRunning));
  EXPECT_TRUE(WaitUntil([&] { return Home.DestinationScalar("select count(*) from t") == "20"; }));
}

TEST_F(SyncServiceTest, NewTaskAddedWhileTheServiceRunsRunsAtOnce) {
  StartUp();  // no task yet
  EXPECT_EQ(View.RowCount(), 0);
  const std::string name = Unique("fresh");
  auto model = Home.CopyTask(name);
  Editors.Push(TEditorStep{true, name, [model](TKelvorInstance& T) {
                             T.IsActive = true;
                             T.Source = model->Source;
                             T.Destination = model->Destination;
                             T.FieldMaps.DstTable = "t";
                             T.FieldMaps.SetCommand("select * from t");
                             T.FieldMaps.SetFieldMapText(model->FieldMaps.GetFieldMapText());
                           }});
  Framework->NewMission();
  ASSERT_EQ(View.RowCount(), 1);
  ASSERT_TRUE(WaitUntil([&] { return Home.DestinationScalar("select count(*) from t") == "20"; }));
  ASSERT_TRUE(ConsoleShows("任务<" + name + ">已经停止."));
  // Stored and listed, so it is there at the next start.
  TInstanceCollections next;
  next.SetFolder(Home.TaskFolder());
  ASSERT_TRUE(next.LoadAll());
  EXPECT_EQ(next.GetItem(0)->MissionName, name);
}

TEST_F(SyncServiceTest, ExitStopsTheServiceWithoutWaitingForDaemons) {
  auto watch = Listed(Home.WatchTask(Unique("watch")));
  auto held = Listed(Home.CopyTask(Unique("held")));
  test::TWriteLock lock(Home.Destination);
  StartUp();
  ASSERT_TRUE(TickUntilIcon(held->MissionName, miRunning));
  ASSERT_TRUE(TickUntilIcon(watch->MissionName, miRunning));

  View.Answers = {false, true};
  EXPECT_FALSE(Framework->ConfirmClose());
  EXPECT_EQ(View.Questions, std::vector<std::string>{"确定退出VantrelKelvor?"});
  EXPECT_EQ(Framework->ServiceState(), TServiceState::Running);
  EXPECT_EQ(View.WaitedMs, 0);
  EXPECT_EQ(RunState(watch->MissionName), 1);

  EXPECT_TRUE(Framework->ConfirmClose());  // returns with the held run still on
  EXPECT_EQ(Framework->ServiceState(), TServiceState::Stopping);
  EXPECT_EQ(View.WaitedMs, TSyncFramework::kStopAllPauseMs);
  EXPECT_EQ(RunState(held->MissionName), 1);
  // Every task was asked to stop.
  EXPECT_TRUE(Framework->Missions().FindByName(held->MissionName)->IsFinished());
  EXPECT_TRUE(Framework->Missions().FindByName(watch->MissionName)->IsFinished());
  // The program's exit: a bounded wait, which a held run outlasts. The held
  // run notices the stop at its next look while it waits for the lock and
  // its daemon then ends at once, so only a wait shorter than that look
  // (at most 100 ms) is sure to be outlasted.
  EXPECT_FALSE(Framework->StopServiceForExit(std::chrono::milliseconds(0)));
  lock.Release();
  EXPECT_TRUE(Framework->StopServiceForExit(std::chrono::seconds(30)));
  // The run was stopped before it wrote anything.
  EXPECT_EQ(Home.DestinationScalar("select count(*) from t"), "0");
}

}  // namespace
}  // namespace kelvor
