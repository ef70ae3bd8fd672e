// The controller without a screen: start-up, the task list and its
// selection, the enabled states, every task command with its messages and
// files, the viewers, the exit question, and the rows following channels
// made by hand. Service threads appear only where start-up starts them; the
// runs of real tasks are in SyncServiceTest.cpp.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>

#include "ControllerTestSupport.h"
#include "platform/Paths.h"
#include "platform/TextFile.h"

namespace kelvor {
namespace {

using test::At;
using test::TEditorStep;
using Lines = std::vector<std::string>;

Lines FileLines(const std::string& Path) {
  Lines lines;
  ReadLines(Path, lines);
  return lines;
}

class SyncFrameworkTest : public ::testing::Test {
 protected:
  void TearDown() override {
    EXPECT_TRUE(Framework->StopServiceForExit(std::chrono::seconds(20), 0));
  }

  // Adds a task to the catalogue and stores its file.
  std::shared_ptr<TKelvorInstance> AddTask(const std::string& Base, bool Active = true) {
    auto task = Home.CopyTask(test::UniqueName(Base));
    task->IsActive = Active;
    Home.StoreTask(*task);
    Framework->Missions().Add(task);
    return task;
  }
  // The window shown and its ready timer: the catalogue is loaded and the service started.
  void StartUp() {
    Framework->MainFormShow();
    Framework->ReadyTimer();
    ASSERT_TRUE(test::WaitUntil([&] { return Framework->Service()->Started(); }));
  }
  bool On(TSyncControl Control) const { return View.IsEnabled(Control); }
  std::unique_ptr<TKelvorInstance> Reread(const std::string& Path) {
    auto task = std::make_unique<TKelvorInstance>();
    EXPECT_TRUE(task->LoadFromFile(Path));
    return task;
  }

  test::FixedClock Clock{At(2026, 3, 9, 9, 0, 0)};
  test::TInstallation Home;
  test::TFakeSyncView View;
  test::TEditorScript Editors;
  std::unique_ptr<TSyncFramework> Framework = CreateSyncFramework(View);
};

// ---------------------------------------------------------------------------
// Start-up

TEST_F(SyncFrameworkTest, StartUpLinesLoadingAndTheService) {
  auto task = Home.CopyTask(test::UniqueName("listed"));
  task->IsActive = false;  // no daemon: only the service's own lines
  Home.StoreTask(*task);
  Home.WriteIndex({task->MissionName + ".xml"});

  // Made: three console lines around the binding, nothing loaded yet.
  const Lines made = {"console:系统正在初始化", "console:获取所有任务信息....", "bind",
                      "console:完成所有任务信息获取"};
  EXPECT_EQ(View.Trace, made);
  EXPECT_EQ(Framework->Missions().Folder(), Home.BinFolder() + "../tasks/dbtasks/");
  EXPECT_TRUE(View.ActiveTimers.empty());

  Framework->MainFormShow();
  EXPECT_TRUE(View.TimerActive(TSyncTimer::Ready));
  EXPECT_TRUE(View.TimerActive(TSyncTimer::Message));
  Framework->ReadyTimer();
  EXPECT_FALSE(View.TimerActive(TSyncTimer::Ready));
  ASSERT_EQ(View.RowCount(), 1);
  EXPECT_EQ(View.Cell(0, mcMission), task->MissionName);
  EXPECT_EQ(View.Status[0], "任务数:1");
  EXPECT_FALSE(On(TSyncControl::StartServerButton));
  EXPECT_TRUE(On(TSyncControl::StopServerButton));
  EXPECT_EQ(Framework->ServiceState(), TServiceState::Running);
  EXPECT_EQ(Framework->ServiceChannel(), GetBroadMessageHandler()->Find(ServiceChannelId));
  // The window is enabled after the three lines and before any line of the service.
  EXPECT_EQ(View.Trace.size(), made.size() + 1);
  EXPECT_EQ(View.Trace.back(), "window on");

  ASSERT_TRUE(test::WaitUntil([&] { return Framework->Service()->Started(); }));
  Framework->MessageTimer();
  const Lines expected = {"系统正在初始化",
                          "获取所有任务信息....",
                          "完成所有任务信息获取",
                          "初始化所有的任务处理服务...",
                          "初始化所有的任务处理服务完成",
                          "启动所有的任务处理服务.....",
                          "启动完成.",
                          ""};
  EXPECT_EQ(View.Console(), expected);
  Framework->MessageTimer();  // nothing new: no further entry
  EXPECT_EQ(View.Console().size(), expected.size());
}

TEST_F(SyncFrameworkTest, WithoutATaskTheWindowOpensEmptyAndTheServiceRuns) {
  for (bool unreadable : {false, true}) {
    // No tasks.ini, then one that cannot be read (a folder): start-up goes on.
    if (unreadable) std::filesystem::create_directories(Home.IndexPath());
    test::TFakeSyncView view;
    auto framework = CreateSyncFramework(view);
    framework->MainFormShow();
    framework->ReadyTimer();
    EXPECT_EQ(view.RowCount(), 0);
    EXPECT_EQ(view.Status[0], "任务数:0");
    EXPECT_TRUE(view.IsEnabled(TSyncControl::MainWindow));
    EXPECT_EQ(framework->ServiceState(), TServiceState::Running);
    EXPECT_TRUE(test::WaitUntil([&] { return framework->Service()->Started(); }));
    EXPECT_TRUE(framework->StopServiceForExit(std::chrono::seconds(20), 0));
  }
}

// ---------------------------------------------------------------------------
// The task list and the selection

TEST_F(SyncFrameworkTest, ListRowsFollowTheCatalogueAndTheSelectionShowsTheDefinition) {
  auto a = AddTask("a");
  auto b = AddTask("b", false);
  a->RunStartTime.Set("08:10");
  a->RunEndTime.Set("08:12");
  Framework->FillMissionList();
  ASSERT_EQ(View.RowCount(), 2);
  EXPECT_EQ(View.Rows[0].Cells,
            (Lines{"1", a->MissionName, "08:10", "08:12", "已停止", "已激活", a->Note}));
  EXPECT_EQ(View.Rows[1].Cells, (Lines{"2", b->MissionName, "", "", "已停止",
                                       "未激活，如要运行该任务，请先激活!", b->Note}));
  EXPECT_EQ(View.RowIcon(0), miStopped);
  EXPECT_EQ(View.RowIcon(1), miNotActivated);
  EXPECT_EQ(View.RowMission(0), a.get());
  EXPECT_EQ(View.SelectedRow(), -1);  // nothing remembered yet
  EXPECT_EQ(View.Status[0], "任务数:2");

  // The info pane is cleared only when another task is selected.
  View.Panes[1] = {"old info"};
  View.ClickRow(0);
  EXPECT_EQ(View.Config(), test::PaneLines(a->SaveToText()));
  View.ClickRow(0);
  EXPECT_EQ(View.Info(), Lines{"old info"});  // first selection, then the same task: kept
  View.ClickRow(1);
  EXPECT_EQ(View.Config(), test::PaneLines(b->SaveToText()));
  EXPECT_TRUE(View.Info().empty());
  // A rebuild that selects the same task again keeps its info.
  View.Panes[1] = {"b info"};
  Framework->ActivateMission();
  EXPECT_EQ(View.SelectedRow(), 1);
  EXPECT_EQ(View.Info(), Lines{"b info"});
}

struct TStateCase {
  const char* Name;
  int Icon;
  bool Active;
  bool ServiceRunning;
  // start button, start menu, stop button, stop menu, activate, disable
  bool States[6];
};

class EnabledStatesTest : public SyncFrameworkTest,
                          public ::testing::WithParamInterface<TStateCase> {};

TEST_P(EnabledStatesTest, FollowTheRowIcon) {
  const TStateCase& c = GetParam();
  AddTask("state", c.Active);
  if (c.ServiceRunning)
    StartUp();
  else
    Framework->FillMissionList();
  View.SetRowIcon(0, c.Icon);  // the icon as the list shows it at the moment of the selection
  View.ClickRow(0);
  const bool got[6] = {On(TSyncControl::StartMissionButton), On(TSyncControl::StartMissionMenu),
                       On(TSyncControl::StopMissionButton),  On(TSyncControl::StopMissionMenu),
                       On(TSyncControl::ActivateMenu),       On(TSyncControl::DisableMenu)};
  for (int i = 0; i < 6; ++i)
    EXPECT_EQ(got[i], c.States[i]) << c.Name << " control " << i;
}

INSTANTIATE_TEST_SUITE_P(
    Table, EnabledStatesTest,
    ::testing::Values(
        TStateCase{
            "stopped_active_service", 0, true, true, {true, true, false, false, false, true}},
        TStateCase{
            "stopped_active_no_service", 0, true, false, {false, false, false, false, false, true}},
        TStateCase{"stopped_inactive", 0, false, true, {false, false, false, false, true, false}},
        TStateCase{"running", 1, true, true, {false, false, true, true, false, false}},
        TStateCase{"not_activated", 6, false, true, {false, false, false, false, true, false}}),
    [](const ::testing::TestParamInfo<TStateCase>& Info) { return std::string(Info.param.Name); });

TEST_F(SyncFrameworkTest, RebuildSelectsTheRememberedRowWhileItsIconIsStillZero) {
  AddTask("first");
  AddTask("second");
  Framework->FillMissionList();
  View.ClickRow(1);
  Framework->DisableMission();
  EXPECT_EQ(View.SelectedRow(), 1);
  EXPECT_EQ(View.SelectionsDuringUpdate, 1);
  EXPECT_EQ(View.RowIcon(1), miNotActivated);
  // The states of a stopped, inactive row, not those of an active one.
  EXPECT_TRUE(On(TSyncControl::ActivateMenu));
  EXPECT_FALSE(On(TSyncControl::DisableMenu));
  EXPECT_FALSE(On(TSyncControl::StartMissionButton));
}

// ---------------------------------------------------------------------------
// Task commands

TEST_F(SyncFrameworkTest, CommandsWithoutASelectedRow) {
  auto task = AddTask("lonely");
  Framework->Missions().SaveIndex();
  Framework->FillMissionList();
  const std::string index = test::ReadFileOrEmpty(Home.IndexPath());
  Framework->EditMission();
  Framework->ExportMission();
  EXPECT_EQ(View.Prompts, (Lines{"请选择待修改的任务信息!", "请选择待导出的任务信息!"}));
  EXPECT_EQ(View.Status[1], "请选择待导出的任务信息!");
  Framework->DeleteMission();
  Framework->ActivateMission();
  Framework->DisableMission();
  Framework->StartSelectedMission();
  Framework->StopSelectedMission();
  EXPECT_TRUE(View.Questions.empty() && View.Messages.empty() && View.Choosers.empty());
  EXPECT_TRUE(Editors.Calls.empty());
  EXPECT_TRUE(task->IsActive);
  EXPECT_EQ(test::ReadFileOrEmpty(Home.IndexPath()), index);
  EXPECT_EQ(View.WaitedMs, 0);
}

TEST_F(SyncFrameworkTest, NewTaskIsStoredListedIndexedAndSelected) {
  auto old = AddTask("old");
  Framework->FillMissionList();
  View.ClickRow(0);
  Framework->ActivateMission();  // remembers "old"
  Editors.PushCancel();
  Framework->NewMission();
  ASSERT_EQ(Editors.Calls.size(), 1u);
  EXPECT_TRUE(Editors.Calls[0].New);
  EXPECT_TRUE(Editors.Calls[0].OwnerSet);
  EXPECT_EQ(Framework->Missions().Count(), 1);
  EXPECT_FALSE(FileExists(Home.IndexPath()));

  const std::string name = test::UniqueName("new");
  Editors.Push(TEditorStep{true, name, [](TKelvorInstance& T) {
                             T.Note = "新任务";
                             T.IsActive = false;
                           }});
  Framework->NewMission();
  EXPECT_TRUE(View.Messages.empty());
  auto task = Framework->Missions().FindByName(name);
  ASSERT_NE(task, nullptr);
  EXPECT_EQ(task->Owner, &Framework->Missions());
  EXPECT_EQ(task->FileName, Framework->Missions().Folder() + name + ".xml");
  EXPECT_EQ(Reread(task->FileName)->SaveToText(), task->SaveToText());
  EXPECT_EQ(FileLines(Home.IndexPath()),
            (Lines{"#define all tasks....", old->MissionName + ".xml", name + ".xml"}));
  ASSERT_EQ(View.RowCount(), 2);
  EXPECT_EQ(View.Cell(1, mcNote), "新任务");
  EXPECT_EQ(View.RowIcon(1), miNotActivated);
  // The new task's row is selected and shows its definition.
  EXPECT_EQ(View.SelectedRow(), 1);
  EXPECT_EQ(Framework->CurrentMission(), name);
  EXPECT_EQ(View.Config(), test::PaneLines(task->SaveToText()));
}

TEST_F(SyncFrameworkTest, EditSavesTheTaskAndARenameMovesItsFileAndIndexLine) {
  AddTask("other");
  auto task = AddTask("edited");
  Framework->FillMissionList();
  View.ClickRow(1);
  Editors.Push(TEditorStep{true, "", [](TKelvorInstance& T) { T.Note = "changed"; }});
  Framework->EditMission();
  Editors.Push(TEditorStep{false, "", [](TKelvorInstance& T) { T.Note = "cancelled"; }});
  Framework->EditMission();
  ASSERT_EQ(Editors.Calls.size(), 2u);
  EXPECT_FALSE(Editors.Calls[0].ReadOnly);
  EXPECT_FALSE(Editors.Calls[0].New);
  EXPECT_EQ(View.Cell(1, mcNote), "changed");
  EXPECT_EQ(View.SelectedRow(), 1);
  EXPECT_EQ(Reread(task->FileName)->Note, "changed");
  EXPECT_FALSE(FileExists(Home.IndexPath()));  // an edit that keeps the name leaves tasks.ini

  const std::string oldFile = task->FileName;
  const std::string name = test::UniqueName("after");
  Editors.Push(TEditorStep{true, name, nullptr});
  Framework->EditMission();
  EXPECT_TRUE(View.Messages.empty());
  EXPECT_FALSE(FileExists(oldFile));
  EXPECT_EQ(View.Cell(1, mcMission), name);
  EXPECT_EQ(View.SelectedRow(), 1);
  // Found at the next start.
  TInstanceCollections next;
  next.SetFolder(Home.TaskFolder());
  ASSERT_TRUE(next.LoadAll());
  ASSERT_EQ(next.Count(), 2);
  EXPECT_EQ(next.GetItem(1)->MissionName, name);
  EXPECT_EQ(next.GetItem(1)->FileName, Home.TaskFolder() + name + ".xml");
}

TEST_F(SyncFrameworkTest, ANewTaskNeverTakesAnotherTasksFileAndACutTaskCannotRun) {
  // Listed: a task kept in the file a new task's name would give, and a task
  // file cut short.
  const std::string name = test::UniqueName("taken");
  auto other = Home.CopyTask(test::UniqueName("other"));
  other->FileName = Home.TaskFolder() + name + ".xml";
  ASSERT_TRUE(other->WriteTaskFile(other->FileName));
  const std::string whole = Home.CopyTask(test::UniqueName("cut"))->SaveToText();
  const std::string cut = whole.substr(0, whole.find("<field src= \"name\"") + 10);
  test::WriteFileOrDie(Home.TaskFolder() + "cut.xml", cut);
  Home.WriteIndex({name + ".xml", "cut.xml"});
  StartUp();
  EXPECT_EQ(View.Cell(0, mcState), "已停止");
  EXPECT_EQ(View.Cell(1, mcState), "不能运行");

  Editors.Push(TEditorStep{true, name, nullptr});
  Framework->NewMission();
  EXPECT_TRUE(View.Messages.empty());
  auto added = Framework->Missions().GetItem(2);
  ASSERT_EQ(added->MissionName, name);
  EXPECT_EQ(added->FileName, Home.TaskFolder() + name + "_2.xml");
  EXPECT_EQ(Reread(other->FileName)->MissionName, other->MissionName);
  TInstanceCollections next;
  next.SetFolder(Home.TaskFolder());
  ASSERT_TRUE(next.LoadAll());
  ASSERT_EQ(next.Count(), 3);
  EXPECT_EQ(next.GetItem(0)->MissionName, other->MissionName);
  EXPECT_EQ(next.GetItem(2)->MissionName, name);

  // Started by hand it says why it does not start.
  View.ClickRow(1);
  Framework->StartSelectedMission();
  const Lines console = View.Console();
  EXPECT_NE(std::find_if(console.begin(), console.end(),
                         [](const std::string& Line) {
                           return Line.find(
                                      ">未启动: 不能运行: the file ends before its root "
                                      "element closes") != std::string::npos;
                         }),
            console.end());

  // The cut task's file holds more than its record: it is not written over.
  Framework->ActivateMission();
  ASSERT_EQ(View.Messages.size(), 1u);
  EXPECT_EQ(View.Messages[0], std::string("保存任务文件失败: ") + Home.TaskFolder() + "cut.xml");
  EXPECT_EQ(test::ReadFileOrEmpty(Home.TaskFolder() + "cut.xml"), cut);
}

TEST_F(SyncFrameworkTest, DeleteAsksThenRemovesFileEntryAndRow) {
  auto a = AddTask("a");
  auto b = AddTask("b");
  Framework->Missions().SaveIndex();
  Framework->FillMissionList();
  View.ClickRow(1);
  View.Answers = {false, true};
  Framework->DeleteMission();
  EXPECT_EQ(Framework->Missions().Count(), 2);
  EXPECT_TRUE(FileExists(b->FileName));
  Framework->DeleteMission();
  EXPECT_EQ(View.Questions, (Lines{"是否真的删除该任务?", "是否真的删除该任务?"}));
  EXPECT_EQ(Framework->Missions().Count(), 1);
  EXPECT_FALSE(FileExists(b->FileName));
  EXPECT_EQ(View.RowCount(), 1);
  EXPECT_EQ(View.SelectedRow(), -1);
  EXPECT_EQ(FileLines(Home.IndexPath()), (Lines{"#define all tasks....", a->MissionName + ".xml"}));
  EXPECT_EQ(View.Status[0], "任务数:1");
}

TEST_F(SyncFrameworkTest, ActivateAndDisableSaveTheFlagAndAFailedSaveIsSaid) {
  auto task = AddTask("flag", false);
  Framework->FillMissionList();
  View.ClickRow(0);
  Framework->ActivateMission();
  EXPECT_EQ(View.Cell(0, mcActivation), "已激活");
  EXPECT_EQ(View.RowIcon(0), miStopped);
  EXPECT_TRUE(Reread(task->FileName)->IsActive);
  Framework->DisableMission();
  EXPECT_EQ(View.RowIcon(0), miNotActivated);
  EXPECT_FALSE(Reread(task->FileName)->IsActive);
  EXPECT_TRUE(View.Messages.empty());

  std::filesystem::remove_all(Home.TaskFolder());  // the folder is gone
  Framework->ActivateMission();
  ASSERT_EQ(View.Messages.size(), 1u);
  EXPECT_EQ(View.Messages[0].rfind("保存任务文件失败: ", 0), 0u);
}

TEST_F(SyncFrameworkTest, ImportAddsTheTaskUnderItsNameAndSelectsIt) {
  AddTask("present");
  Framework->FillMissionList();
  View.ClickRow(0);
  auto outside = Home.CopyTask(test::UniqueName("imported"));
  outside->Note = "from elsewhere";
  const std::string path = Home.Root() + "elsewhere.xml";
  ASSERT_TRUE(outside->WriteTaskFile(path));

  Framework->ImportMission();  // chooser cancelled
  View.FileNames = {path};
  Editors.PushCancel();
  Framework->ImportMission();  // dialog cancelled
  EXPECT_EQ(Framework->Missions().Count(), 1);
  EXPECT_FALSE(FileExists(Home.IndexPath()));

  View.FileNames = {path};
  Editors.Push(TEditorStep{true, "", nullptr});
  Framework->ImportMission();
  // The window chooses where the chooser opens.
  EXPECT_EQ(View.Choosers, Lines(3, "open:xml|*.xml|"));
  ASSERT_EQ(Editors.Calls.size(), 2u);
  EXPECT_TRUE(Editors.Calls[1].OwnerSet);  // so that a listed name is refused
  auto task = Framework->Missions().FindByName(outside->MissionName);
  ASSERT_NE(task, nullptr);
  EXPECT_EQ(task->Note, "from elsewhere");
  EXPECT_EQ(task->FileName, Framework->Missions().Folder() + outside->MissionName + ".xml");
  EXPECT_TRUE(FileExists(task->FileName));
  EXPECT_TRUE(FileExists(path));  // the imported file stays where it was
  EXPECT_EQ(View.SelectedRow(), 1);
  EXPECT_EQ(FileLines(Home.IndexPath()).back(), outside->MissionName + ".xml");
}

TEST_F(SyncFrameworkTest, ExportWritesTheSelectedTaskElsewhere) {
  auto task = AddTask("exported");
  Framework->FillMissionList();
  View.ClickRow(0);
  const std::string fileName = task->FileName;
  const std::string bad = Home.Root() + "no/such/folder/x.xml";
  View.FileNames = {Home.Root() + "export.xml", bad};
  Framework->ExportMission();
  Framework->ExportMission();
  EXPECT_EQ(View.Choosers, Lines(2, "save:xml|*.xml||xml"));
  EXPECT_EQ(task->FileName, fileName);
  EXPECT_EQ(Reread(Home.Root() + "export.xml")->SaveToText(), task->SaveToText());
  EXPECT_EQ(View.Messages, Lines{"保存任务文件失败: " + bad});
}

// ---------------------------------------------------------------------------
// Viewers and closing

TEST_F(SyncFrameworkTest, ConfigShowsServerIniAndTasksIni) {
  AddTask("configured");
  Framework->Missions().SaveIndex();
  Framework->ShowConfig();
  EXPECT_EQ(View.ConfigShown, 1);
  EXPECT_EQ(View.ConfigPanes[TConfigPane::Server], test::ReadFileOrEmpty(Home.ServerIniPath()));
  EXPECT_EQ(View.ConfigPanes[TConfigPane::Tasks], test::ReadFileOrEmpty(Home.IndexPath()));
  // Missing files: the panes keep what they showed.
  std::filesystem::remove(Home.ServerIniPath());
  View.ConfigPanes[TConfigPane::Server] = "before";
  Framework->ShowConfig();
  EXPECT_EQ(View.ConfigPanes[TConfigPane::Server], "before");
}

TEST_F(SyncFrameworkTest, ReportShowsTodayAndAnyPickedDay) {
  test::WriteFileOrDie(Home.ReportPath(At(2026, 3, 9)),
                       "copy\t08:00\t08:01\t3\t0\tOperation execute successfully.\r\n"
                       "copy\t08:30\t08:31\t0\t-1\t操作完成, 但出现错误,请查看相关日志.\r\n");
  test::WriteFileOrDie(Home.ReportPath(At(2026, 3, 1)),
                       "old\t07:00\t07:00\t1\t0\tOperation execute successfully.\r\n");
  size_t rowsWhenShown = 0;
  View.OnReportShown = [&] { rowsWhenShown = View.Report.Rows.size(); };
  Framework->ShowReport();
  EXPECT_EQ(rowsWhenShown, 2u);
  EXPECT_EQ(View.ReportDay.Day, 9);
  EXPECT_EQ(View.Report.Rows[1],
            (Lines{"copy", "08:30", "08:31", "0", "-1", "操作完成, 但出现错误,请查看相关日志."}));
  View.ReportDay = At(2026, 3, 1);
  Framework->ChangeReportDate();
  ASSERT_EQ(View.Report.Rows.size(), 1u);
  EXPECT_EQ(View.Report.Rows[0][0], "old");
  View.ReportDay = At(2026, 2, 1);  // no file
  Framework->ChangeReportDate();
  EXPECT_TRUE(View.Report.Rows.empty());
  EXPECT_EQ(View.ReportShown, 1);
}

// The exit question with a running service is in SyncServiceTest.cpp.
TEST_F(SyncFrameworkTest, ExitBeforeStartUpStopsNothing) {
  View.Answers = {true};
  EXPECT_TRUE(Framework->ConfirmClose());
  EXPECT_EQ(Framework->ServiceState(), TServiceState::NotStarted);
  EXPECT_EQ(View.WaitedMs, 0);
}

TEST_F(SyncFrameworkTest, CloseDuringAWaitIsNotTakenUp) {
  StartUp();
  auto task = AddTask("waited");
  Framework->FillMissionList();
  test::NewChannel(task->MissionName);
  bool closed = true;
  View.OnWait = [&] {
    View.OnWait = nullptr;
    closed = Framework->ConfirmClose();
  };
  Framework->StartMission(task->MissionName);
  EXPECT_GT(View.WaitedMs, 0);
  EXPECT_FALSE(closed);
  EXPECT_TRUE(View.Questions.empty());
}

// ---------------------------------------------------------------------------
// Rows following channels

class ChannelRowsTest : public SyncFrameworkTest {
 protected:
  void SetUp() override {
    A = AddTask("a");
    AddTask("b");
    C = AddTask("c", false);
    Framework->FillMissionList();
    ChannelA = test::NewChannel(A->MissionName);
    ChannelC = test::NewChannel(C->MissionName);
  }
  void TearDown() override {
    ChannelA->MarkStopped();
    ChannelC->MarkStopped();
    SyncFrameworkTest::TearDown();
  }
  std::shared_ptr<TKelvorInstance> A, C;
  TBroadMessage* ChannelA = nullptr;
  TBroadMessage* ChannelC = nullptr;
};

// Rows turning to running and back with real daemons: SyncServiceTest.cpp.
TEST_F(ChannelRowsTest, AnInactiveTaskWithAChannelTurnsToZeroAtTheNextTick) {
  EXPECT_EQ(View.RowIcon(2), miNotActivated);
  Framework->MessageTimer();
  EXPECT_EQ(View.RowIcon(2), miStopped);
  EXPECT_EQ(View.Cell(2, mcState), "已停止");
  EXPECT_EQ(View.Cell(2, mcActivation), "未激活，如要运行该任务，请先激活!");
  EXPECT_EQ(View.RowIcon(1), miStopped);  // no channel: untouched
}

TEST_F(ChannelRowsTest, OnlyTheSelectedTasksLinesReachTheInfoPane) {
  ChannelA->Post("line of a");
  ChannelC->Post("line of c");
  View.ClickRow(0);
  Framework->MessageTimer();
  EXPECT_EQ(View.Info(), (Lines{"line of a", ""}));
  // c's lines wait, over as many ticks as it takes, until c is selected.
  ChannelC->Post("more of c");
  Framework->MessageTimer();
  EXPECT_EQ(View.Info(), (Lines{"line of a", ""}));
  View.ClickRow(2);
  EXPECT_TRUE(View.Info().empty());
  Framework->MessageTimer();
  EXPECT_EQ(View.Info(), (Lines{"line of c", "more of c", ""}));
  EXPECT_EQ(View.Console().size(), 3u);  // the console is not fed before the service started
}

TEST(AppliedLine, OnlyTheEnginesProgressLineIsRead) {
  constexpr int64_t kMax = INT64_MAX;
  const struct {
    const char* Line;
    bool Read;
    int64_t Done, Total;
  } cases[] = {
      {"applied 10000 of 25000", true, 10000, 25000},
      {"  applied 0 of 1\t", true, 0, 1},
      {"applied 7 of 7", true, 7, 7},
      {"applied 9223372036854775807 of 9223372036854775807", true, kMax, kMax},
      {"applied 9223372036854775808 of 9223372036854775809", false, 0, 0},
      {"applied 30 of 20", false, 0, 0},
      {"applied 0 of 0", false, 0, 0},
      {"applied -1 of 5", false, 0, 0},
      {"applied +1 of 5", false, 0, 0},
      {"applied 1 of 5 rows", false, 0, 0},
      {"applied  1 of 5", false, 0, 0},
      {"Applied 1 of 5", false, 0, 0},
      {"record count:25000", false, 0, 0},
      {"", false, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Line);
    int64_t done = -1, total = -1;
    EXPECT_EQ(ParseAppliedLine(c.Line, done, total), c.Read);
    if (c.Read) {
      EXPECT_EQ(done, c.Done);
      EXPECT_EQ(total, c.Total);
    } else {
      EXPECT_EQ(done, -1);  // left as it was
      EXPECT_EQ(total, -1);
    }
  }
}

// Each tick takes the lines posted to a's channel since the last one; the
// bar of a's row follows the last of them. a is not the selected row.
TEST_F(ChannelRowsTest, RowProgressFollowsTheAppliedLinesUntilAnyOtherLine) {
  ChannelA->MarkStarted();
  const struct {
    Lines Posted;
    std::string Bar;
  } ticks[] = {
      {{"开始连接目标和源数据库....", "开始执行同步操作...", "begin to open record...",
        "record count:25000"},
       ""},
      {{"applied 10000 of 25000"}, "10000 of 25000"},
      {{}, "10000 of 25000"},
      {{"applied 20000 of 25000", "applied 24999 of 25000"}, "24999 of 25000"},
      // The validations are a batch of their own.
      {{"applied 3 of 9"}, "3 of 9"},
      {{"同步操作成功执行."}, ""},
      // The next run of the same daemon, stopped half-way.
      {{"开始连接目标和源数据库....", "applied 30000 of 80000"}, "30000 of 80000"},
      {{"Mission has been explicit stopped!"}, ""},
      {{"操作完成, 但出现错误,请查看相关日志."}, ""},
      // A line that is almost a progress line ends the bar like any other.
      {{"applied 10000 of 25000", "applied 30000 of 25000"}, ""},
      {{"applied 10000 of 25000"}, "10000 of 25000"},
  };
  Lines posted;
  for (const auto& tick : ticks) {
    SCOPED_TRACE(tick.Posted.empty() ? "(no line)" : tick.Posted.back());
    for (const std::string& line : tick.Posted) {
      ChannelA->Post(line);
      posted.push_back(line);
    }
    Framework->MessageTimer();
    EXPECT_EQ(View.Progress(A->MissionName), tick.Bar);
  }
  // A daemon that ends leaves no bar, whatever its last line said.
  ChannelA->MarkStopped();
  Framework->MessageTimer();
  EXPECT_EQ(View.Progress(A->MissionName), "");
  // Every line read for the bar still reaches the task-info pane.
  View.ClickRow(0);
  Framework->MessageTimer();
  posted.push_back("");
  EXPECT_EQ(View.Info(), posted);
}

TEST_F(ChannelRowsTest, EachRunningTaskHasItsOwnBarWhichFollowsItsRow) {
  ChannelA->MarkStarted();
  ChannelC->MarkStarted();
  ChannelA->Post("applied 10000 of 40000");
  ChannelC->Post("applied 20000 of 30000");
  View.ClickRow(0);
  Framework->MessageTimer();
  EXPECT_EQ(View.Progress(A->MissionName), "10000 of 40000");
  EXPECT_EQ(View.Progress(C->MissionName), "20000 of 30000");
  // b is deleted: c moves up a row, and its bar with it at once.
  View.ClickRow(1);
  View.Answers = {true};
  Framework->DeleteMission();
  ASSERT_EQ(View.RowOf(C->MissionName), 1);
  EXPECT_EQ(View.Progress(C->MissionName), "20000 of 30000");
  EXPECT_EQ(View.Progress(A->MissionName), "10000 of 40000");
  ChannelA->Post("同步操作成功执行.");
  Framework->MessageTimer();
  EXPECT_EQ(View.Progress(A->MissionName), "");
  EXPECT_EQ(View.Progress(C->MissionName), "20000 of 30000");
}

TEST_F(ChannelRowsTest, RowNotYetShowingItsRunningDaemonIsReadOnlyAndKept) {
  View.ClickRow(0);
  ChannelA->MarkStarted();  // the row still shows icon 0
  Editors.PushCancel();
  Framework->EditMission();
  ASSERT_EQ(Editors.Calls.size(), 1u);
  EXPECT_TRUE(Editors.Calls[0].ReadOnly);
  Framework->DeleteMission();
  EXPECT_EQ(View.Messages, Lines{"当前任务正在运行中，不能删除!"});
  EXPECT_TRUE(View.Questions.empty());
  EXPECT_TRUE(FileExists(A->FileName));
}

TEST_F(ChannelRowsTest, StartAndStopAskNothingBeforeTheServiceRuns) {
  View.ClickRow(0);
  Framework->StartSelectedMission();
  EXPECT_FALSE(ChannelA->IsStartRequested());
  EXPECT_EQ(View.Console().back(),
            "任务<" + A->MissionName + ">未启动: 数据同步服务没有运行，请先启动服务");
  // Both task buttons stay off until the next selection.
  EXPECT_FALSE(On(TSyncControl::StartMissionButton));
  EXPECT_FALSE(On(TSyncControl::StopMissionButton));
  Framework->StopSelectedMission();  // its daemon is not running: returns at once
  EXPECT_EQ(View.WaitedMs, 0);
}

}  // namespace
}  // namespace kelvor
