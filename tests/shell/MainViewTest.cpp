// The controller bound to the real main window and dialogs (offscreen): the
// start-up as the window's timers drive it, the commands reaching the
// controller through their toolbar buttons and menu items, the viewers, and
// waits that keep the window running. (The exit question through the window
// is answered in the end-to-end test of kelvor.)
#include <QAction>
#include <QApplication>
#include <QDateEdit>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTimer>

#include "ControllerTestSupport.h"
#include "GuiTestSupport.h"
#include "platform/Paths.h"
#include "shell/uConfigDialog.h"
#include "shell/uMain.h"
#include "shell/uMainView.h"
#include "shell/uMissionReportDialog.h"
#include "shell/uQtText.h"
#include "shell/uSyncFramework.h"

namespace kelvor {
namespace {

using test::U;

class MainViewTest : public ::testing::Test {
 protected:
  void TearDown() override {
    EXPECT_TRUE(Framework->StopServiceForExit(std::chrono::seconds(20), 0));
    Framework.reset();
  }
  void StartUp() {
    test::ShowActive(Main);
    EXPECT_TRUE(Main.TimerReady->isActive());
    EXPECT_TRUE(Main.TimerMessage->isActive());
    ASSERT_TRUE(QTest::qWaitFor([&] { return Main.isEnabled(); }, 5000));
    // The manager has built its daemons from the catalogue as it was.
    ASSERT_TRUE(QTest::qWaitFor([&] { return Framework->Service()->Started(); }, 5000));
  }
  std::shared_ptr<TKelvorInstance> Listed(const std::string& Base, bool Active) {
    auto task = Home.WatchTask(test::UniqueName(Base));
    task->IsActive = Active;
    Home.StoreTask(*task);
    Files.push_back(task->MissionName + ".xml");
    Home.WriteIndex(Files);
    return task;
  }

  test::TInstallation Home;
  test::DialogHooks Hooks;
  test::TEditorScript Editors;
  std::vector<std::string> Files;
  TfrmMain Main;
  TConfigDialog Config{&Main};
  TMissionReportDialog Report{&Main};
  TMainWindowView View{Main, Config, Report};
  std::unique_ptr<TSyncFramework> Framework = CreateSyncFramework(View);
};

TEST_F(MainViewTest, SelectionAndCommandsReachTheController) {
  auto active = Listed("active", true);
  auto inactive = Listed("inactive", false);
  EXPECT_EQ(TfrmMain::PaneText(Main.MemoStatus),
            "系统正在初始化\r\n获取所有任务信息....\r\n完成所有任务信息获取");
  StartUp();
  ASSERT_EQ(Main.MissionRowCount(), 2);
  EXPECT_EQ(Main.MissionImage(1), miNotActivated);
  EXPECT_EQ(Main.StatusText(0), "任务数:2");
  EXPECT_FALSE(Main.TimerReady->isActive());
  // A click on a row.
  Main.ListViewInstances->selectRow(1);
  EXPECT_EQ(TfrmMain::PaneText(Main.MemoInstanceConfig), inactive->SaveToText());
  EXPECT_TRUE(Main.n_ActiveMission->isEnabled());
  EXPECT_FALSE(Main.n_disableMission->isEnabled());
  Main.n_ActiveMission->trigger();
  EXPECT_TRUE(Framework->Missions().FindByName(inactive->MissionName)->IsActive);
  EXPECT_EQ(Main.MissionCell(1, mcActivation), "已激活");
  EXPECT_EQ(Main.SelectedMissionRow(), 1);
  EXPECT_TRUE(Main.btnStartMission->isEnabled());
  EXPECT_TRUE(Main.N_StartMission->isEnabled());
  EXPECT_FALSE(Main.N_StopMission->isEnabled());
  EXPECT_TRUE(Main.n_disableMission->isEnabled());

  // Commands without a selected row say so in status panel 1.
  Main.ListViewInstances->clearSelection();
  Main.btnEdit->trigger();
  EXPECT_EQ(Main.StatusText(1), "请选择待修改的任务信息!");
  EXPECT_TRUE(Main.TimerClear->isActive());
  Main.n_exportmission->trigger();
  EXPECT_EQ(Main.StatusText(1), "请选择待导出的任务信息!");

  // New through the pop-up menu, cancelled in its dialog.
  Editors.PushCancel();
  Main.np_AddMission->trigger();
  EXPECT_EQ(Editors.Calls.size(), 1u);
  EXPECT_EQ(Framework->Missions().Count(), 2);

  // Double-click edits the row it selects.
  Editors.PushCancel();
  Main.ListViewInstances->selectRow(0);
  emit Main.MissionDoubleClicked(0);
  ASSERT_EQ(Editors.Calls.size(), 2u);
  EXPECT_EQ(Editors.Calls[1].Name, active->MissionName);

  // Delete through the menu: the running task is refused, the other one
  // asked for and kept on Cancel.
  Main.n_deletemission->trigger();
  EXPECT_EQ(TDialogs::Shown().back(), U("当前任务正在运行中，不能删除!"));
  Main.ListViewInstances->selectRow(1);
  TDialogs::PushAnswer(false);
  Main.n_deletemission->trigger();
  EXPECT_EQ(TDialogs::Shown().back(), U("是否真的删除该任务?"));
  EXPECT_EQ(Framework->Missions().Count(), 2);

  // The file choosers get the system's filter in Qt's form.
  Main.btnImport->trigger();
  EXPECT_EQ(TDialogs::Shown().back(), "open:xml (*.xml):" + QDir::homePath());
}

// After New the new task's row is selected, whole, with its definition
// shown. Import and Export open in the home folder until the operator chose
// a file; then where he chose it.
TEST_F(MainViewTest, NewSelectsItsRowAndChoosersOpenInTheOperatorsFolders) {
  Listed("first", true);
  StartUp();
  Main.ListViewInstances->selectRow(0);
  const std::string name = test::UniqueName("fresh");
  Editors.Push(test::TEditorStep{true, name, nullptr});
  Main.btnNew->trigger();
  ASSERT_EQ(Main.MissionRowCount(), 2);
  EXPECT_EQ(Main.MissionCell(1, mcMission), name);
  EXPECT_EQ(Main.SelectedMissionRow(), 1);
  EXPECT_TRUE(Main.ListViewInstances->selectionModel()->isRowSelected(1, QModelIndex()));
  EXPECT_EQ(TfrmMain::PaneText(Main.MemoInstanceConfig),
            Framework->Missions().FindByName(name)->SaveToText());

  Main.btnImport->trigger();  // cancelled
  EXPECT_EQ(TDialogs::Shown().back(), "open:xml (*.xml):" + QDir::homePath());
  test::TempDir elsewhere;
  const QString exported = QString::fromStdString(elsewhere.Path() + "fresh.xml");
  TDialogs::PushFileName(exported);
  Main.btnExport->trigger();
  EXPECT_EQ(TDialogs::Shown().back(), "save:xml (*.xml):" + QDir::homePath());
  EXPECT_TRUE(FileExists(S(exported)));
  Main.n_importmission->trigger();
  EXPECT_EQ(TDialogs::Shown().back(), "open:xml (*.xml):" + QFileInfo(exported).absolutePath());
}

// "启动任务" on a task activated while the service runs starts it; on a task
// whose row does not yet show its running daemon it says so in the console.
TEST_F(MainViewTest, StartMissionStartsTheTaskOrSaysWhyNot) {
  auto watched = Listed("watched", true);
  auto later = Listed("later", false);
  StartUp();
  TBroadMessage* channel = GetBroadMessageHandler()->Find(watched->MissionName);
  ASSERT_NE(channel, nullptr);
  ASSERT_TRUE(QTest::qWaitFor([&] { return channel->GetRunState() == 1; }, 5000));
  // A rebuilt list shows every row stopped until the next tick.
  Main.TimerMessage->stop();
  Framework->FillMissionList();

  Main.ListViewInstances->selectRow(0);
  ASSERT_TRUE(Main.btnStartMission->isEnabled());
  Main.btnStartMission->trigger();
  EXPECT_TRUE(TfrmMain::PaneText(Main.MemoStatus)
                  .ends_with("任务<" + watched->MissionName + ">未启动: 任务已在运行中"));

  Main.ListViewInstances->selectRow(1);
  Main.n_ActiveMission->trigger();
  ASSERT_EQ(Main.SelectedMissionRow(), 1);
  ASSERT_TRUE(Main.btnStartMission->isEnabled());
  Main.btnStartMission->trigger();
  TBroadMessage* started = GetBroadMessageHandler()->Find(later->MissionName);
  ASSERT_NE(started, nullptr);
  EXPECT_EQ(started->GetRunState(), 1);
  // The next tick shows it running, and it can be stopped at once.
  Framework->MessageTimer();
  EXPECT_EQ(Main.MissionImage(1), miRunning);
  EXPECT_TRUE(Main.btnStopMission->isEnabled());
  EXPECT_FALSE(Main.btnStartMission->isEnabled());
}

// A run under way shows a bar (pbMission) over its row's "状态" cell, fed by
// the window's own message timer, until the run ends. The run is held after
// its destination batch: its validation batch waits for the source file's
// write lock.
TEST_F(MainViewTest, ARunShowsItsProgressInItsRowUntilItEnds) {
  constexpr int kRows = 25000;
  {
    TDbConnection source;
    source.SetConnectionString(test::AccessConnectionString(Home.Source));
    source.Open();
    test::ExecOn(source,
                 "insert into t with recursive n(i) as (select 4 union all select i + 1 from n "
                 "limit " +
                     std::to_string(kRows - 3) + ") select i, 'row ' || i from n");
  }
  auto big = Home.CopyTask(test::UniqueName("big"));
  big->FieldMaps.SetValidationSrc("update t set name = name where 1=1");
  Home.StoreTask(*big);
  Home.WriteIndex({big->MissionName + ".xml"});
  test::TWriteLock lock(Home.Source);
  StartUp();
  Main.ListViewInstances->selectRow(0);
  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return Home.DestinationScalar("select count(*) from t") == std::to_string(kRows); },
      60000));
  // The bar tells what the run's last progress line in the task-info pane
  // says, once a tick has taken that line.
  QTableWidget* list = Main.ListViewInstances;
  auto lastApplied = [&] {
    const QStringList lines = Main.MemoInfo->toPlainText().split(QLatin1Char('\n'));
    for (qsizetype i = lines.size() - 1; i >= 0; --i)
      if (lines[i].startsWith(QStringLiteral("applied "))) return lines[i];
    return QString();
  };
  QProgressBar* bar = nullptr;
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        bar = list->findChild<QProgressBar*>(QStringLiteral("pbMission"));
        return bar && !lastApplied().isEmpty() && bar->toolTip() == lastApplied();
      },
      10000));
  EXPECT_EQ(list->cellWidget(0, mcState), bar);
  EXPECT_TRUE(bar->isVisible());
  const QStringList counts = lastApplied().split(QLatin1Char(' '));
  ASSERT_EQ(counts.size(), 4);
  EXPECT_EQ(counts[3], QString::number(kRows));
  EXPECT_EQ(bar->text(), QString::number(counts[1].toLongLong() * 100 / kRows) + "%");

  lock.Release();
  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return !list->findChild<QProgressBar*>(QStringLiteral("pbMission")); }, 10000));
  EXPECT_EQ(list->cellWidget(0, mcState), nullptr);
  EXPECT_NE(Main.MemoInfo->toPlainText().indexOf(U("同步操作成功执行.")), -1);
}

TEST_F(MainViewTest, ConfigAndReportDialogs) {
  Listed("viewed", false);
  test::WriteFileOrDie(Home.ReportPath(Clock::Now()),
                       "viewed\t08:00\t08:01\t3\t0\tOperation execute successfully.\r\n");
  StartUp();

  bool configSeen = false;
  TDialogs::PushModalDriver([&](QDialog& D) {
    configSeen = &D == &Config && D.isVisible();
    EXPECT_EQ(S(Config.MemoServerConfig->toPlainText()), "[server]\nport=9000\n");
    EXPECT_NE(Config.MemoTasksConfig->toPlainText().indexOf(U("#define all tasks....")), -1);
  });
  Main.N_config->trigger();
  EXPECT_TRUE(configSeen);

  bool reportSeen = false;
  TDialogs::PushModalDriver([&](QDialog& D) {
    reportSeen = &D == &Report;
    ASSERT_EQ(Report.listviewReport->rowCount(), 1);
    EXPECT_EQ(Report.listviewReport->item(0, 3)->text(), U("3"));
    // Another day through "改变(&S)": no file, no rows.
    Report.dtreporter->setDate(Report.dtreporter->date().addDays(-3));
    Report.btnChange->click();
    EXPECT_EQ(Report.listviewReport->rowCount(), 0);
  });
  Main.n_report->trigger();
  EXPECT_TRUE(reportSeen);
}

TEST_F(MainViewTest, WaitsKeepTimersRunningAndHoldUserInputBack) {
  int fired = 0;
  QTimer::singleShot(50, &Main, [&] { ++fired; });
  QElapsedTimer clock;
  clock.start();
  View.Wait(300);
  EXPECT_GE(clock.elapsed(), 290);
  EXPECT_EQ(fired, 1);
}

}  // namespace
}  // namespace kelvor
