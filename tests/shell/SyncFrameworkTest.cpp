// The controller without a screen: start-up, the task list and its
// selection, the enabled states, every task command with its messages and
// files, the viewers, the exit question, and the rows following channels
// made by hand. Service threads appear only where start-up starts them; the
// runs of real tasks are in SyncServiceTest.cpp.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "ControllerTestSupport.h"
#include "platform/Paths.h"
#include "platform/TextFile.h"
#include "shell/uSyncFramework.h"

namespace kelvor {
namespace {

using test::At;
using test::TEditorStep;

std::vector<std::string> FileLines(const std::string& Path) {
  std::vector<std::string> lines;
  ReadLines(Path, lines);
  return lines;
}

class SyncFrameworkTest : public ::testing::Test {
 protected:
  void TearDown() override {
    if (Framework) {
      EXPECT_TRUE(Framework->StopServiceForExit(std::chrono::seconds(20), 0));
    }
    Framework.reset();
  }

  // Adds a task to the catalogue and stores its file.
  std::shared_ptr<TKelvorInstance> AddTask(const std::string& Name, bool Active = true) {
    auto task = Home.CopyTask(Name);
    task->IsActive = Active;
    Home.StoreTask(*task);
    Framework->Missions().Add(task);
    return task;
  }
  void SaveIndex() { Framework->Missions().SaveIndex(); }
  std::string Unique(const std::string& Base) { return test::UniqueName(Base); }
  bool On(TSyncControl Control) const { return View.IsEnabled(Control); }
  // Start-up without tasks.ini: the catalogue holds what the test added.
  void StartUp() {
    Framework->MainFormShow();
    Framework->ReadyTimer();
    // The manager has built its daemons from the catalogue as it was.
    ASSERT_TRUE(test::WaitUntil([&] { return Framework->Service()->Started(); }));
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
  auto task = Home.CopyTask(Unique("listed"));
  task->IsActive = false;  // no daemon: only the service's own lines
  Home.StoreTask(*task);
  Home.WriteIndex({task->MissionName + ".xml"});

  // Made: three console lines around the binding, nothing loaded yet.
  const std::vector<std::string> made = {"console:系统正在初始化", "console:获取所有任务信息....",
                                         "bind", "console:完成所有任务信息获取"};
  EXPECT_EQ(View.Trace, made);
  EXPECT_EQ(View.Target, Framework.get());
  EXPECT_EQ(Framework->Missions().Count(), 0);
  EXPECT_EQ(Framework->AppPath(), Home.BinFolder());
  EXPECT_EQ(Framework->Missions().Folder(), Home.BinFolder() + "../tasks/dbtasks/");
  EXPECT_TRUE(View.ActiveTimers.empty());
  EXPECT_FALSE(On(TSyncControl::MainWindow));

  Framework->MainFormShow();
  EXPECT_TRUE(View.TimerActive(TSyncTimer::Ready));
  EXPECT_TRUE(View.TimerActive(TSyncTimer::Message));

  Framework->ReadyTimer();
  EXPECT_FALSE(View.TimerActive(TSyncTimer::Ready));
  ASSERT_EQ(View.RowCount(), 1);
  EXPECT_EQ(View.Cell(0, mcMission), task->MissionName);
  EXPECT_EQ(View.Status[0], "任务数:1");
  EXPECT_TRUE(On(TSyncControl::MainWindow));
  EXPECT_FALSE(On(TSyncControl::StartServerButton));
  EXPECT_TRUE(On(TSyncControl::StopServerButton));
  EXPECT_EQ(Framework->ServiceState(), TServiceState::Running);
  ASSERT_TRUE(Framework->ServiceReady());
  EXPECT_EQ(Framework->ServiceChannel(), GetBroadMessageHandler()->Find(ServiceChannelId));
  EXPECT_EQ(Framework->ServiceChannel(), Framework->Service()->ServiceChannel);
  // The window is enabled after the three lines and before any line of the
  // service.
  EXPECT_EQ(View.Trace.size(), made.size() + 1);
  EXPECT_EQ(View.Trace.back(), "window on");

  ASSERT_TRUE(test::WaitUntil([&] { return Framework->Service()->Started(); }));
  Framework->MessageTimer();
  EXPECT_TRUE(View.TimerActive(TSyncTimer::Message));
  const std::vector<std::string> console = View.Console();
  const std::vector<std::string> expected = {"系统正在初始化",
                                             "获取所有任务信息....",
                                             "完成所有任务信息获取",
                                             "初始化所有的任务处理服务...",
                                             "初始化所有的任务处理服务完成",
                                             "启动所有的任务处理服务.....",
                                             "启动完成.",
                                             ""};
  EXPECT_EQ(console, expected);
  EXPECT_EQ(View.ProcessEventsCalls, 1);
  // Nothing new: no further entry.
  Framework->MessageTimer();
  EXPECT_EQ(View.Console().size(), expected.size());
}

TEST_F(SyncFrameworkTest, WithoutTasksTheWindowOpensEmptyAndTheServiceRuns) {
  StartUp();  // no tasks.ini
  EXPECT_EQ(View.RowCount(), 0);
  EXPECT_EQ(View.Status[0], "任务数:0");
  EXPECT_TRUE(On(TSyncControl::MainWindow));
  EXPECT_EQ(Framework->ServiceState(), TServiceState::Running);
  ASSERT_NE(Framework->Service(), nullptr);
  EXPECT_TRUE(test::WaitUntil([&] { return Framework->Service()->Started(); }));
}

TEST_F(SyncFrameworkTest, UnreadableIndexIsLoggedAndStartUpGoesOn) {
  std::filesystem::create_directories(Home.IndexPath());  // a folder cannot be read as a file
  StartUp();
  EXPECT_EQ(View.RowCount(), 0);
  EXPECT_TRUE(On(TSyncControl::MainWindow));
  EXPECT_EQ(Framework->ServiceState(), TServiceState::Running);
}

// ---------------------------------------------------------------------------
// The task list and the selection

TEST_F(SyncFrameworkTest, ListRowsFollowTheCatalogue) {
  auto a = AddTask(Unique("a"));
  auto b = AddTask(Unique("b"), false);
  a->RunStartTime.Set("08:10");
  a->RunEndTime.Set("08:12");
  b->Note = "说明";
  Framework->FillMissionList();

  ASSERT_EQ(View.RowCount(), 2);
  const std::vector<std::string> rowA = {"1",      a->MissionName, "08:10", "08:12",
                                         "已停止", "已激活",       a->Note};
  const std::vector<std::string> rowB = {
      "2", b->MissionName, "", "", "已停止", "未激活，如要运行该任务，请先激活!", "说明"};
  EXPECT_EQ(View.Rows[0].Cells, rowA);
  EXPECT_EQ(View.Rows[1].Cells, rowB);
  EXPECT_EQ(View.RowIcon(0), miStopped);
  EXPECT_EQ(View.RowIcon(1), miNotActivated);
  EXPECT_EQ(View.RowMission(0), a.get());
  EXPECT_EQ(View.SelectedRow(), -1);  // nothing remembered yet
  EXPECT_EQ(View.Status[0], "任务数:2");
  EXPECT_EQ(View.UpdateDepth, 0);
}

TEST_F(SyncFrameworkTest, SelectionShowsTheDefinitionAndClearsInfoOnlyForAnotherTask) {
  auto a = AddTask(Unique("a"));
  auto b = AddTask(Unique("b"));
  Framework->FillMissionList();

  View.Panes[1] = {"old info"};
  View.ClickRow(0);
  EXPECT_EQ(View.Config(), test::PaneLines(a->SaveToText()));
  EXPECT_EQ(View.Info(), std::vector<std::string>{"old info"});  // first selection: kept

  View.ClickRow(0);
  EXPECT_EQ(View.Info(), std::vector<std::string>{"old info"});  // same task: kept

  View.ClickRow(1);
  EXPECT_EQ(View.Config(), test::PaneLines(b->SaveToText()));
  EXPECT_TRUE(View.Info().empty());  // another task: cleared

  // A rebuild that selects the same task again keeps its info.
  View.Panes[1] = {"b info"};
  Framework->ActivateMission();
  EXPECT_EQ(View.SelectedRow(), 1);
  EXPECT_EQ(View.Info(), std::vector<std::string>{"b info"});
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
  auto task = AddTask(Unique("state"), c.Active);
  if (c.ServiceRunning)
    StartUp();
  else
    Framework->FillMissionList();
  // The icon as the list shows it at the moment of the selection.
  View.SetRowIcon(0, c.Icon);
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
  AddTask(Unique("first"));
  auto task = AddTask(Unique("second"));
  Framework->FillMissionList();
  View.ClickRow(1);
  Framework->DisableMission();
  EXPECT_EQ(View.SelectedRow(), 1);
  EXPECT_EQ(View.SelectionsDuringUpdate, 1);
  EXPECT_EQ(View.RowIcon(1), miNotActivated);
  // The states of a stopped, inactive row, not those of icon 6 (which would
  // agree here) nor of an active one.
  EXPECT_TRUE(On(TSyncControl::ActivateMenu));
  EXPECT_FALSE(On(TSyncControl::DisableMenu));
  EXPECT_FALSE(On(TSyncControl::StartMissionButton));
  EXPECT_EQ(View.Cell(1, mcActivation), "未激活，如要运行该任务，请先激活!");
}

// ---------------------------------------------------------------------------
// Commands that need a selected row

TEST_F(SyncFrameworkTest, CommandsWithoutASelectedRow) {
  auto task = AddTask(Unique("lonely"));
  SaveIndex();
  Framework->FillMissionList();
  const std::string index = test::ReadFileOrEmpty(Home.IndexPath());

  Framework->EditMission();
  EXPECT_EQ(View.Prompts, std::vector<std::string>{"请选择待修改的任务信息!"});
  Framework->ExportMission();
  EXPECT_EQ(View.Prompts.back(), "请选择待导出的任务信息!");
  EXPECT_EQ(View.Status[1], "请选择待导出的任务信息!");

  Framework->DeleteMission();
  Framework->ActivateMission();
  Framework->DisableMission();
  Framework->StartSelectedMission();
  Framework->StopSelectedMission();
  EXPECT_TRUE(View.Questions.empty());
  EXPECT_TRUE(View.Messages.empty());
  EXPECT_TRUE(View.Choosers.empty());
  EXPECT_TRUE(Editors.Calls.empty());
  EXPECT_EQ(Framework->Missions().Count(), 1);
  EXPECT_TRUE(task->IsActive);
  EXPECT_EQ(test::ReadFileOrEmpty(Home.IndexPath()), index);
  EXPECT_EQ(View.WaitedMs, 0);
}

// ---------------------------------------------------------------------------
// New, edit, delete, activate, disable

TEST_F(SyncFrameworkTest, NewTaskCancelledChangesNothing) {
  AddTask(Unique("kept"));
  Framework->FillMissionList();
  Editors.PushCancel();
  Framework->NewMission();
  ASSERT_EQ(Editors.Calls.size(), 1u);
  EXPECT_TRUE(Editors.Calls[0].New);
  EXPECT_TRUE(Editors.Calls[0].OwnerSet);
  EXPECT_EQ(Framework->Missions().Count(), 1);
  EXPECT_EQ(View.RowCount(), 1);
  EXPECT_FALSE(FileExists(Home.IndexPath()));
}

TEST_F(SyncFrameworkTest, NewTaskIsStoredListedAndIndexedKeepingTheSelection) {
  auto old = AddTask(Unique("old"));
  Framework->FillMissionList();
  View.ClickRow(0);
  Framework->ActivateMission();  // remembers "old"
  const std::string name = Unique("new");
  Editors.Push(TEditorStep{true, name, [](TKelvorInstance& T) {
                             T.Note = "新任务";
                             T.IsActive = false;
                           }});
  Framework->NewMission();

  EXPECT_TRUE(View.Messages.empty());
  ASSERT_EQ(Framework->Missions().Count(), 2);
  auto task = Framework->Missions().FindByName(name);
  ASSERT_NE(task, nullptr);
  EXPECT_EQ(task->Owner, &Framework->Missions());
  EXPECT_EQ(task->FileName, Framework->Missions().Folder() + name + ".xml");
  EXPECT_TRUE(FileExists(task->FileName));
  EXPECT_EQ(FileLines(Home.IndexPath()),
            (std::vector<std::string>{"#define all tasks....", old->MissionName + ".xml",
                                      name + ".xml"}));
  ASSERT_EQ(View.RowCount(), 2);
  EXPECT_EQ(View.Cell(1, mcMission), name);
  EXPECT_EQ(View.Cell(1, mcNote), "新任务");
  EXPECT_EQ(View.RowIcon(1), miNotActivated);
  EXPECT_EQ(View.SelectedRow(), 0);  // the previously remembered row
  EXPECT_EQ(Framework->CurrentMission(), name);
  // The file holds the task as its text shows it.
  TKelvorInstance reread;
  ASSERT_TRUE(reread.LoadFromFile(task->FileName));
  EXPECT_EQ(reread.SaveToText(), task->SaveToText());
}

TEST_F(SyncFrameworkTest, EditSavesTheTaskAndKeepsItSelected) {
  AddTask(Unique("other"));
  auto task = AddTask(Unique("edited"));
  Framework->FillMissionList();
  View.ClickRow(1);
  Editors.Push(TEditorStep{true, "", [](TKelvorInstance& T) { T.Note = "changed"; }});
  Framework->EditMission();
  ASSERT_EQ(Editors.Calls.size(), 1u);
  EXPECT_FALSE(Editors.Calls[0].ReadOnly);
  EXPECT_FALSE(Editors.Calls[0].New);
  EXPECT_EQ(View.Cell(1, mcNote), "changed");
  EXPECT_EQ(View.SelectedRow(), 1);
  TKelvorInstance reread;
  ASSERT_TRUE(reread.LoadFromFile(task->FileName));
  EXPECT_EQ(reread.Note, "changed");
  // tasks.ini is not rewritten by an edit that keeps the name.
  EXPECT_FALSE(FileExists(Home.IndexPath()));

  Editors.PushCancel();
  Framework->EditMission();
  TKelvorInstance after;
  ASSERT_TRUE(after.LoadFromFile(task->FileName));
  EXPECT_EQ(after.Note, "changed");
}

TEST_F(SyncFrameworkTest, RenameMovesTheFileAndRewritesTheIndex) {
  auto keep = AddTask(Unique("keep"));
  auto task = AddTask(Unique("before"));
  SaveIndex();
  const std::string oldFile = task->FileName;
  Framework->FillMissionList();
  View.ClickRow(1);
  const std::string name = Unique("after");
  Editors.Push(TEditorStep{true, name, nullptr});
  Framework->EditMission();

  EXPECT_TRUE(View.Messages.empty());
  EXPECT_EQ(task->FileName, Framework->Missions().Folder() + name + ".xml");
  EXPECT_TRUE(FileExists(task->FileName));
  EXPECT_FALSE(FileExists(oldFile));
  EXPECT_EQ(FileLines(Home.IndexPath()),
            (std::vector<std::string>{"#define all tasks....", keep->MissionName + ".xml",
                                      name + ".xml"}));
  EXPECT_EQ(View.Cell(1, mcMission), name);
  EXPECT_EQ(View.SelectedRow(), 1);
  EXPECT_EQ(Framework->CurrentMission(), name);

  // Found at the next start.
  TInstanceCollections next;
  next.SetFolder(Home.TaskFolder());
  ASSERT_TRUE(next.LoadAll());
  ASSERT_EQ(next.Count(), 2);
  EXPECT_EQ(next.GetItem(1)->MissionName, name);
}

TEST_F(SyncFrameworkTest, DeleteAsksThenRemovesFileEntryAndRow) {
  auto a = AddTask(Unique("a"));
  auto b = AddTask(Unique("b"));
  SaveIndex();
  Framework->FillMissionList();
  View.ClickRow(1);

  View.Answers = {false};
  Framework->DeleteMission();
  EXPECT_EQ(View.Questions, std::vector<std::string>{"是否真的删除该任务?"});
  EXPECT_EQ(Framework->Missions().Count(), 2);
  EXPECT_TRUE(FileExists(b->FileName));

  View.Answers = {true};
  Framework->DeleteMission();
  EXPECT_EQ(Framework->Missions().Count(), 1);
  EXPECT_FALSE(FileExists(b->FileName));
  EXPECT_TRUE(FileExists(a->FileName));
  EXPECT_EQ(View.RowCount(), 1);
  EXPECT_EQ(View.SelectedRow(), -1);
  EXPECT_EQ(FileLines(Home.IndexPath()),
            (std::vector<std::string>{"#define all tasks....", a->MissionName + ".xml"}));
  EXPECT_EQ(View.Status[0], "任务数:1");
}

TEST_F(SyncFrameworkTest, DeleteOfARunningTaskIsRefused) {
  auto task = AddTask(Unique("busy"));
  Framework->FillMissionList();
  View.ClickRow(0);
  TBroadMessage* channel =
      GetBroadMessageHandler()->Register(task->MissionName, std::make_unique<TBroadMessage>());
  channel->MarkStarted();  // its daemon runs, though the row does not show it yet
  Framework->DeleteMission();
  channel->MarkStopped();
  EXPECT_EQ(View.Messages, std::vector<std::string>{"当前任务正在运行中，不能删除!"});
  EXPECT_TRUE(View.Questions.empty());
  EXPECT_EQ(Framework->Missions().Count(), 1);
  EXPECT_TRUE(FileExists(task->FileName));
}

TEST_F(SyncFrameworkTest, ActivateAndDisableSaveTheFlag) {
  auto task = AddTask(Unique("flag"), false);
  Framework->FillMissionList();
  View.ClickRow(0);
  EXPECT_EQ(View.RowIcon(0), miNotActivated);

  Framework->ActivateMission();
  EXPECT_TRUE(task->IsActive);
  EXPECT_EQ(View.Cell(0, mcActivation), "已激活");
  EXPECT_EQ(View.RowIcon(0), miStopped);
  TKelvorInstance reread;
  ASSERT_TRUE(reread.LoadFromFile(task->FileName));
  EXPECT_TRUE(reread.IsActive);

  Framework->DisableMission();
  EXPECT_FALSE(task->IsActive);
  EXPECT_EQ(View.RowIcon(0), miNotActivated);
  TKelvorInstance again;
  ASSERT_TRUE(again.LoadFromFile(task->FileName));
  EXPECT_FALSE(again.IsActive);
  EXPECT_TRUE(View.Messages.empty());
}

TEST_F(SyncFrameworkTest, AFailedSaveIsSaid) {
  auto task = AddTask(Unique("readonly"));
  Framework->FillMissionList();
  View.ClickRow(0);
  std::filesystem::remove_all(Home.TaskFolder());  // the folder is gone
  Framework->DisableMission();
  ASSERT_EQ(View.Messages.size(), 1u);
  EXPECT_EQ(View.Messages[0].rfind("保存任务文件失败: ", 0), 0u);
}

// ---------------------------------------------------------------------------
// Import and export

TEST_F(SyncFrameworkTest, ImportAddsTheTaskUnderItsNameAndSelectsIt) {
  AddTask(Unique("present"));
  Framework->FillMissionList();
  View.ClickRow(0);
  // A task file somewhere else.
  auto outside = Home.CopyTask(Unique("imported"));
  outside->Note = "from elsewhere";
  const std::string path = Home.Root() + "elsewhere.xml";
  ASSERT_TRUE(outside->WriteTaskFile(path));

  View.FileNames = {path};
  Editors.Push(TEditorStep{true, "", nullptr});
  Framework->ImportMission();
  EXPECT_EQ(View.Choosers, std::vector<std::string>{"open:xml|*.xml|../tasks"});
  ASSERT_EQ(Editors.Calls.size(), 1u);
  EXPECT_FALSE(Editors.Calls[0].ReadOnly);
  EXPECT_TRUE(Editors.Calls[0].OwnerSet);
  auto task = Framework->Missions().FindByName(outside->MissionName);
  ASSERT_NE(task, nullptr);
  EXPECT_EQ(task->Note, "from elsewhere");
  EXPECT_EQ(task->FileName, Framework->Missions().Folder() + outside->MissionName + ".xml");
  EXPECT_TRUE(FileExists(task->FileName));
  EXPECT_TRUE(FileExists(path));  // the imported file stays where it was
  EXPECT_EQ(View.SelectedRow(), 1);
  EXPECT_EQ(View.Cell(1, mcMission), outside->MissionName);
  EXPECT_EQ(FileLines(Home.IndexPath()).back(), outside->MissionName + ".xml");
}

TEST_F(SyncFrameworkTest, ImportOfANameTheCatalogueHasIsRefused) {
  auto present = AddTask(Unique("twice"));
  SaveIndex();
  Framework->FillMissionList();
  const std::string index = test::ReadFileOrEmpty(Home.IndexPath());
  View.FileNames = {present->FileName};
  Editors.Push(TEditorStep{true, "", nullptr});  // OK on the unchanged name
  Framework->ImportMission();
  ASSERT_EQ(Editors.Calls.size(), 1u);
  EXPECT_TRUE(Editors.Calls[0].NameRefused);
  EXPECT_EQ(Framework->Missions().Count(), 1);
  EXPECT_EQ(test::ReadFileOrEmpty(Home.IndexPath()), index);
  EXPECT_TRUE(FileExists(present->FileName));
}

TEST_F(SyncFrameworkTest, ImportCancelledChangesNothing) {
  Framework->FillMissionList();
  Framework->ImportMission();  // chooser cancelled
  EXPECT_TRUE(Editors.Calls.empty());
  auto outside = Home.CopyTask(Unique("unwanted"));
  const std::string path = Home.Root() + "unwanted.xml";
  ASSERT_TRUE(outside->WriteTaskFile(path));
  View.FileNames = {path};
  Editors.PushCancel();
  Framework->ImportMission();
  EXPECT_EQ(Editors.Calls.size(), 1u);
  EXPECT_EQ(Framework->Missions().Count(), 0);
  EXPECT_FALSE(FileExists(Home.IndexPath()));
  EXPECT_FALSE(FileExists(Home.TaskFolder() + outside->MissionName + ".xml"));
}

TEST_F(SyncFrameworkTest, ExportWritesTheSelectedTaskElsewhere) {
  auto task = AddTask(Unique("exported"));
  Framework->FillMissionList();
  View.ClickRow(0);
  Framework->ExportMission();  // cancelled
  EXPECT_EQ(View.Choosers, std::vector<std::string>{"save:xml|*.xml|./|xml"});

  const std::string path = Home.Root() + "export.xml";
  View.FileNames = {path};
  const std::string fileName = task->FileName;
  Framework->ExportMission();
  EXPECT_EQ(task->FileName, fileName);
  TKelvorInstance reread;
  ASSERT_TRUE(reread.LoadFromFile(path));
  EXPECT_EQ(reread.SaveToText(), task->SaveToText());
  EXPECT_EQ(Framework->Missions().Count(), 1);

  View.FileNames = {Home.Root() + "no/such/folder/x.xml"};
  Framework->ExportMission();
  ASSERT_EQ(View.Messages.size(), 1u);
  EXPECT_EQ(View.Messages[0], "保存任务文件失败: " + Home.Root() + "no/such/folder/x.xml");
}

// ---------------------------------------------------------------------------
// Viewers

TEST_F(SyncFrameworkTest, ConfigShowsServerIniAndTasksIni) {
  AddTask(Unique("configured"));
  SaveIndex();
  Framework->ShowConfig();
  EXPECT_EQ(View.ConfigShown, 1);
  EXPECT_EQ(View.ConfigPanes[TConfigPane::Server], test::ReadFileOrEmpty(Home.ServerIniPath()));
  EXPECT_EQ(View.ConfigPanes[TConfigPane::Tasks], test::ReadFileOrEmpty(Home.IndexPath()));

  // Missing files: the panes keep what they showed.
  std::filesystem::remove(Home.ServerIniPath());
  std::filesystem::remove(Home.IndexPath());
  View.ConfigPanes[TConfigPane::Server] = "before";
  Framework->ShowConfig();
  EXPECT_EQ(View.ConfigShown, 2);
  EXPECT_EQ(View.ConfigPanes[TConfigPane::Server], "before");
}

TEST_F(SyncFrameworkTest, ReportShowsTodayAndAnyPickedDay) {
  test::WriteFileOrDie(Home.ReportPath(At(2026, 3, 9)),
                       "copy\t08:00\t08:01\t3\t0\tOperation execute successfully.\r\n"
                       "copy\t08:30\t08:31\t0\t-1\t操作完成, 但出现错误,请查看相关日志.\r\n");
  test::WriteFileOrDie(Home.ReportPath(At(2026, 3, 1)),
                       "old\t07:00\t07:00\t1\t0\tOperation execute successfully.\r\n");
  int rowsWhenShown = -1;
  View.OnReportShown = [&] { rowsWhenShown = static_cast<int>(View.Report.Rows.size()); };
  Framework->ShowReport();
  EXPECT_EQ(View.ReportShown, 1);
  EXPECT_EQ(rowsWhenShown, 2);
  EXPECT_EQ(View.ReportDay.Day, 9);
  EXPECT_EQ(View.Report.Rows[1],
            (std::vector<std::string>{"copy", "08:30", "08:31", "0", "-1",
                                      "操作完成, 但出现错误,请查看相关日志."}));

  View.ReportDay = At(2026, 3, 1);
  Framework->ChangeReportDate();
  ASSERT_EQ(View.Report.Rows.size(), 1u);
  EXPECT_EQ(View.Report.Rows[0][0], "old");

  View.ReportDay = At(2026, 2, 1);  // no file
  Framework->ChangeReportDate();
  EXPECT_TRUE(View.Report.Rows.empty());
  EXPECT_EQ(View.ReportShown, 1);
}

// ---------------------------------------------------------------------------
// Closing

TEST_F(SyncFrameworkTest, ExitQuestionCancelKeepsEverything) {
  StartUp();
  View.Answers = {false};
  EXPECT_FALSE(Framework->ConfirmClose());
  EXPECT_EQ(View.Questions, std::vector<std::string>{"确定退出VantrelKelvor?"});
  EXPECT_EQ(Framework->ServiceState(), TServiceState::Running);
  EXPECT_EQ(View.WaitedMs, 0);
  EXPECT_FALSE(Framework->ServiceChannel()->IsStopAllRequested());
}

TEST_F(SyncFrameworkTest, ExitQuestionOkStopsTheService) {
  StartUp();
  View.Answers = {true};
  EXPECT_TRUE(Framework->ConfirmClose());
  EXPECT_EQ(Framework->ServiceState(), TServiceState::Stopping);
  EXPECT_TRUE(Framework->Service()->Terminated());
  EXPECT_EQ(View.WaitedMs, TSyncFramework::kStopAllPauseMs);
  EXPECT_TRUE(Framework->StopServiceForExit(std::chrono::seconds(20)));
}

TEST_F(SyncFrameworkTest, ExitBeforeStartUpStopsNothing) {
  View.Answers = {true};
  EXPECT_TRUE(Framework->ConfirmClose());
  EXPECT_EQ(Framework->ServiceState(), TServiceState::NotStarted);
  EXPECT_EQ(View.WaitedMs, 0);
}

TEST_F(SyncFrameworkTest, CloseDuringAWaitIsNotTakenUp) {
  StartUp();
  auto task = AddTask(Unique("waited"));
  Framework->FillMissionList();
  GetBroadMessageHandler()
      ->Register(task->MissionName, std::make_unique<TBroadMessage>())
      ->SetMissionName(task->MissionName);
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
    A = AddTask(Unique("a"));
    B = AddTask(Unique("b"));
    C = AddTask(Unique("c"), false);
    Framework->FillMissionList();
    ChannelA = Channel(A->MissionName);
    ChannelC = Channel(C->MissionName);
  }
  static TBroadMessage* Channel(const std::string& Name) {
    TBroadMessage* c = GetBroadMessageHandler()->Register(Name, std::make_unique<TBroadMessage>());
    c->SetMissionName(Name);
    return c;
  }
  void TearDown() override {
    ChannelA->MarkStopped();
    SyncFrameworkTest::TearDown();
  }
  std::shared_ptr<TKelvorInstance> A, B, C;
  TBroadMessage* ChannelA = nullptr;
  TBroadMessage* ChannelC = nullptr;
};

TEST_F(ChannelRowsTest, RowsTakeStateAndTimesFromTheirChannel) {
  ChannelA->MarkStarted();
  Framework->RefreshMissionStates();
  EXPECT_EQ(View.RowIcon(0), miRunning);
  EXPECT_EQ(View.Cell(0, mcState), "运行中...");
  EXPECT_EQ(View.Cell(0, mcStart), "09:00");
  EXPECT_EQ(View.Cell(0, mcEnd), "");
  EXPECT_EQ(View.RowIcon(1), miStopped);  // no channel: untouched
  EXPECT_EQ(View.Cell(1, mcState), "已停止");

  Clock.Set(At(2026, 3, 9, 9, 7, 0));
  ChannelA->MarkStopped();
  Framework->RefreshMissionStates();
  EXPECT_EQ(View.RowIcon(0), miStopped);
  EXPECT_EQ(View.Cell(0, mcState), "已停止");
  EXPECT_EQ(View.Cell(0, mcEnd), "09:07");
}

TEST_F(ChannelRowsTest, AnInactiveTaskWithAChannelTurnsToZeroAtTheNextTick) {
  EXPECT_EQ(View.RowIcon(2), miNotActivated);
  Framework->MessageTimer();
  EXPECT_EQ(View.RowIcon(2), miStopped);
  EXPECT_EQ(View.Cell(2, mcState), "已停止");
  EXPECT_EQ(View.Cell(2, mcActivation), "未激活，如要运行该任务，请先激活!");
}

TEST_F(ChannelRowsTest, OnlyTheSelectedTasksLinesReachTheInfoPane) {
  ChannelA->Post("line of a");
  ChannelC->Post("line of c");
  View.ClickRow(0);
  Framework->MessageTimer();
  EXPECT_EQ(View.Info(), (std::vector<std::string>{"line of a", ""}));
  EXPECT_TRUE(ChannelC->HasLines());  // queued until c is selected
  View.ClickRow(2);
  EXPECT_TRUE(View.Info().empty());
  Framework->MessageTimer();
  EXPECT_EQ(View.Info(), (std::vector<std::string>{"line of c", ""}));
  // The console is not fed before the service was started.
  EXPECT_EQ(View.Console().size(), 3u);
}

TEST_F(ChannelRowsTest, RunningRowIsEditedReadOnly) {
  ChannelA->MarkStarted();
  Framework->RefreshMissionStates();
  View.ClickRow(0);
  Editors.Push(TEditorStep{true, "", [](TKelvorInstance& T) { T.Note = "lost"; }});
  Framework->EditMission();
  ASSERT_EQ(Editors.Calls.size(), 1u);
  EXPECT_TRUE(Editors.Calls[0].ReadOnly);
  EXPECT_NE(A->Note, "lost");
  EXPECT_EQ(test::ReadFileOrEmpty(A->FileName).find("lost"), std::string::npos);
}

TEST_F(ChannelRowsTest, RowNotYetShowingItsRunningDaemonIsEditedReadOnly) {
  View.ClickRow(0);
  ChannelA->MarkStarted();  // the row still shows icon 0
  Editors.PushCancel();
  Framework->EditMission();
  ASSERT_EQ(Editors.Calls.size(), 1u);
  EXPECT_TRUE(Editors.Calls[0].ReadOnly);
}

TEST_F(ChannelRowsTest, StartAndStopAskNothingBeforeTheServiceRuns) {
  View.ClickRow(0);
  Framework->StartSelectedMission();
  EXPECT_FALSE(ChannelA->IsStartRequested());
  EXPECT_EQ(View.WaitedMs, 0);
  // Both task buttons stay off until the next selection.
  EXPECT_FALSE(On(TSyncControl::StartMissionButton));
  EXPECT_FALSE(On(TSyncControl::StopMissionButton));
  // Stop of a task whose daemon is not running returns at once.
  Framework->StopSelectedMission();
  EXPECT_EQ(View.WaitedMs, 0);
}

}  // namespace
}  // namespace kelvor
