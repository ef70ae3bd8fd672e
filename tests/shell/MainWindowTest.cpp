// The main window as it starts and what it does on its own: close through
// the controller's hook, help, download, about, tray restore, status prompts,
// and the list, pane and status operations the controller uses.
#include <QAction>
#include <QDesktopServices>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSplitter>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <QToolBar>
#include <QUrl>

#include "GuiTestSupport.h"
#include "UrlCatcher.h"
#include "platform/Paths.h"
#include "shell/uAboutDialog.h"
#include "shell/uMain.h"
#include "support/TestSupport.h"
#include "tasks/uInstance.h"

namespace kelvor {
namespace {

using test::DialogHooks;
using test::U;

class MainWindowTest : public ::testing::Test {
 protected:
  DialogHooks Hooks;
  TfrmMain Main;
};

TEST_F(MainWindowTest, StartsDisabledWithItsCaptionAndSize) {
  EXPECT_FALSE(Main.isEnabled());
  EXPECT_EQ(Main.windowTitle(), QStringLiteral("Kelvor"));
  EXPECT_EQ(Main.size(), QSize(873, 578));
  EXPECT_EQ(Main.PageControl->currentWidget(), Main.MemoStatus);
  EXPECT_EQ(Main.PageControl->tabText(0), U("控制台"));
  EXPECT_EQ(Main.PageControl->tabText(1), U("任务信息"));
  EXPECT_EQ(Main.PageControl->tabText(2), U("任务配置"));
  EXPECT_EQ(Main.StatusPanel0->width(), 100);
  EXPECT_EQ(Main.StatusPanel1->width(), 300);
  EXPECT_FALSE(Main.StatusPanel2->text().isEmpty());
}

TEST_F(MainWindowTest, ToolbarButtonsInOrderWithCaptionsAndStates) {
  struct TButton {
    const char* Name;
    const char* Caption;
    bool Enabled;
  };
  const TButton expected[] = {
      {"btnNew", "新增", true},
      {"btnEdit", "修改", true},
      {"btnDelete", "删除", true},
      {"|", "", true},
      {"btnImport", "导入", true},
      {"btnExport", "导出", true},
      {"|", "", true},
      {"btnStartMission", "启动任务", false},
      {"btnStopMission", "停止任务", false},
      {"|", "", true},
      {"btnStartServer", "启动服务", false},
      {"btnStopServer", "停止服务", true},
      {"|", "", true},
      {"btnReport", "报表", true},
      {"btnConfig", "配置", true},
      {"|", "", true},
      {"btnExit", "退出", true},
  };
  const QList<QAction*> actions = Main.ToolBarMain->actions();
  ASSERT_EQ(actions.size(), static_cast<qsizetype>(std::size(expected)));
  for (size_t i = 0; i < std::size(expected); ++i) {
    const TButton& e = expected[i];
    QAction* a = actions[static_cast<qsizetype>(i)];
    SCOPED_TRACE(e.Name);
    if (std::string(e.Name) == "|") {
      EXPECT_TRUE(a->isSeparator());
      continue;
    }
    EXPECT_EQ(a->objectName(), QString::fromLatin1(e.Name));
    EXPECT_EQ(a->text(), U(e.Caption));
    EXPECT_EQ(a->isEnabled(), e.Enabled);
    EXPECT_FALSE(a->icon().isNull());
  }
  EXPECT_EQ(Main.btnNew->toolTip(), U("新增任务"));
  EXPECT_EQ(Main.btnEdit->toolTip(), U("修改任务"));
  EXPECT_EQ(Main.btnDelete->toolTip(), U("删除任务"));
}

TEST_F(MainWindowTest, MenusWithNamesShortcutsAndStates) {
  struct TItem {
    const char* Name;
    const char* Caption;
    const char* Shortcut;
    bool Enabled;
  };
  const TItem items[] = {
      {"n_addmission", "添加任务", "Ctrl+N", true},
      {"n_deletemission", "删除任务", "", true},
      {"n_modifymission", "修改任务", "", true},
      {"n_importmission", "导入...", "Ctrl+I", true},
      {"n_exportmission", "导出...", "Ctrl+O", true},
      {"n_exit", "退出", "Ctrl+X", true},
      {"N_StartMission", "开始任务", "Ctrl+R", false},
      {"N_StopMission", "停止任务", "Ctrl+S", false},
      {"n_ActiveMission", "激活任务", "", false},
      {"n_disableMission", "禁止任务", "", false},
      {"N_config", "参数设置", "Ctrl+P", true},
      {"n_report", "每天任务执行情况表", "", true},
      {"N6", "帮助", "", true},
      {"n_download", "下载最新版本", "", true},
      {"N7", "关于kelvor...", "Ctrl+A", true},
      {"np_AddMission", "新增任务", "", true},
      {"np_deleteMission", "删除任务", "", true},
      {"np_modifyMission", "修改任务", "", true},
      {"n_show", "显示主界面", "Ctrl+R", true},
      {"n_closeApp", "关闭Kelvor", "Ctrl+X", true},
  };
  for (const TItem& e : items) {
    SCOPED_TRACE(e.Name);
    QAction* a = nullptr;
    for (QObject* root : {static_cast<QObject*>(&Main), static_cast<QObject*>(Main.PopupMenuFace)})
      if (!a) a = root->findChild<QAction*>(QString::fromLatin1(e.Name));
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->text(), U(e.Caption));
    EXPECT_EQ(a->shortcut(), QKeySequence(QString::fromLatin1(e.Shortcut)));
    EXPECT_EQ(a->isEnabled(), e.Enabled);
  }
  QStringList titles;
  for (QAction* a : Main.menuBar()->actions())
    titles << a->text();
  EXPECT_EQ(titles, QStringList({U("文件"), U("任务"), U("选项"), U("报表"), U("帮助")}));
  // Separators where the window has them.
  auto shape = [](QMenu* m) {
    QString s;
    for (QAction* a : m->actions())
      s += a->isSeparator() ? '-' : 'x';
    return s;
  };
  EXPECT_EQ(shape(Main.mnuFile), QStringLiteral("xxx-xx-x"));
  EXPECT_EQ(shape(Main.mnuMission), QStringLiteral("xx-xx"));
  EXPECT_EQ(shape(Main.mnuHelp), QStringLiteral("xx-x"));
  EXPECT_EQ(shape(Main.PopupMenu), QStringLiteral("xxx"));
  EXPECT_EQ(shape(Main.PopupMenuFace), QStringLiteral("x-x"));
  EXPECT_EQ(Main.TrayIcon->toolTip(), QStringLiteral("Kelvor Vantrel"));
}

TEST_F(MainWindowTest, TaskListColumnsAndTimers) {
  QTableWidget* list = Main.ListViewInstances;
  const char* captions[] = {"序号", "任务", "开始时间", "结束时间", "状态", "激活状态", "描述"};
  ASSERT_EQ(list->columnCount(), 7);
  for (int c = 0; c < 7; ++c)
    EXPECT_EQ(list->horizontalHeaderItem(c)->text(), U(captions[c]));
  EXPECT_EQ(list->columnWidth(1), 160);
  EXPECT_EQ(list->columnWidth(2), 100);
  EXPECT_EQ(list->columnWidth(3), 100);
  EXPECT_EQ(list->columnWidth(4), 100);
  EXPECT_EQ(list->columnWidth(5), 70);
  EXPECT_EQ(list->editTriggers(), QAbstractItemView::NoEditTriggers);
  EXPECT_EQ(list->selectionBehavior(), QAbstractItemView::SelectRows);
  EXPECT_TRUE(list->showGrid());

  struct TTimer {
    QTimer* Timer;
    int Interval;
  };
  for (const TTimer& t : {TTimer{Main.TimerMessage, 2000}, TTimer{Main.TimerReady, 500},
                          TTimer{Main.TimerCheckServer, 1000}, TTimer{Main.TimerClear, 6000}}) {
    EXPECT_EQ(t.Timer->interval(), t.Interval) << t.Timer->objectName().toStdString();
    EXPECT_FALSE(t.Timer->isActive()) << t.Timer->objectName().toStdString();
  }
}

TEST_F(MainWindowTest, StatusPromptClearsOnceWithoutRestart) {
  Main.ShowStatusPrompt(U("请选择待修改的任务信息!").toStdString());
  EXPECT_EQ(Main.StatusText(1), U("请选择待修改的任务信息!").toStdString());
  ASSERT_TRUE(Main.TimerClear->isActive());
  const int before = Main.TimerClear->remainingTime();
  QTest::qWait(30);
  Main.ShowStatusPrompt(U("请选择待导出的任务信息!").toStdString());
  EXPECT_EQ(Main.StatusText(1), U("请选择待导出的任务信息!").toStdString());
  EXPECT_LT(Main.TimerClear->remainingTime(), before);

  // The timer's own tick (shortened) clears panel 1 and stops it.
  Main.TimerClear->stop();
  Main.TimerClear->setInterval(20);
  Main.ShowStatusPrompt("x");
  EXPECT_TRUE(QTest::qWaitFor([&] { return Main.StatusText(1).empty(); }, 2000));
  EXPECT_FALSE(Main.TimerClear->isActive());
  Main.SetStatusText(0, "任务数:3");
  EXPECT_EQ(Main.StatusText(0), "任务数:3");
}

TEST_F(MainWindowTest, EveryCloseAsksTheHook) {
  int asked = 0;
  bool allow = false;
  Main.SetCloseQuery([&] {
    ++asked;
    return allow;
  });
  QSignalSpy closed(&Main, &TfrmMain::Closed);
  Main.show();
  Main.btnExit->trigger();
  Main.n_exit->trigger();
  Main.n_closeApp->trigger();  // the tray menu works while the window is disabled
  Main.close();
  EXPECT_EQ(asked, 4);
  EXPECT_TRUE(Main.isVisible());
  EXPECT_EQ(closed.count(), 0);

  allow = true;
  Main.n_closeApp->trigger();
  EXPECT_EQ(asked, 5);
  EXPECT_FALSE(Main.isVisible());
  EXPECT_EQ(closed.count(), 1);
}

TEST_F(MainWindowTest, HelpAndDownloadGoToTheDesktop) {
  test::TempDir dir;
  const std::string before = ProgramFolder();
  SetProgramFolder(dir.Path() + "bin");
  TUrlCatcher catcher;
  QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "Open");
  QDesktopServices::setUrlHandler(QStringLiteral("https"), &catcher, "Open");
  Main.N6->trigger();
  Main.n_download->trigger();
  QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
  QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
  SetProgramFolder(before);
  ASSERT_EQ(catcher.Urls.size(), 2);
  EXPECT_EQ(catcher.Urls[0].toLocalFile(), QString::fromStdString(dir.Path() + "bin/rivoviza.pdf"));
  EXPECT_EQ(catcher.Urls[1].scheme(), QStringLiteral("https"));
}

TEST_F(MainWindowTest, AboutBoxShowsTheBuildVersion) {
  QString caption, version;
  TDialogs::PushModalDriver([&](QDialog& d) {
    auto& about = static_cast<TAboutDialog&>(d);
    caption = about.windowTitle();
    version = about.lbl_version->text();
    about.btnOk->click();
  });
  Main.N7->trigger();
  EXPECT_EQ(caption, U("关于Vantrel"));
  EXPECT_EQ(version, U("当前软件版本:1.0.0.0"));
}

TEST_F(MainWindowTest, TrayRestoresTheMinimisedWindow) {
  Main.setEnabled(true);
  test::ShowActive(Main);
  Main.showMinimized();
  QApplication::processEvents();
  Main.n_show->trigger();
  QApplication::processEvents();
  EXPECT_TRUE(Main.isVisible());
  EXPECT_FALSE(Main.isMinimized());
}

TEST_F(MainWindowTest, RowsCarryTextIconAndRecord) {
  TKelvorInstance a, b;
  QSignalSpy selected(&Main, &TfrmMain::MissionSelected);
  Main.BeginMissionUpdate();
  Main.ClearMissionRows();
  Main.AddMissionRow({"1", "orders", "08:00", "08:01", "已停止", "已激活", "nightly"}, 0, &a);
  Main.AddMissionRow({"2", "stores"}, 0, &b);
  Main.SetMissionImage(1, 6);
  Main.EndMissionUpdate();
  ASSERT_EQ(Main.MissionRowCount(), 2);
  EXPECT_EQ(Main.MissionCell(0, TfrmMain::colMission), "orders");
  EXPECT_EQ(Main.MissionCell(1, TfrmMain::colNote), "");
  EXPECT_EQ(Main.MissionImage(0), 0);
  EXPECT_EQ(Main.MissionImage(1), 6);
  EXPECT_EQ(Main.MissionImage(5), -1);
  EXPECT_EQ(Main.MissionOfRow(1), &b);
  EXPECT_EQ(Main.MissionOfRow(2), nullptr);
  Main.SetMissionCell(0, TfrmMain::colState, "运行中...");
  EXPECT_EQ(Main.MissionCell(0, TfrmMain::colState), "运行中...");
  EXPECT_EQ(Main.SelectedMissionRow(), -1);
  EXPECT_EQ(selected.count(), 0);

  // Selection by the program and by the operator; a deselection is silent.
  Main.SelectMissionRow(1);
  ASSERT_EQ(selected.count(), 1);
  EXPECT_EQ(selected.takeFirst().at(0).toInt(), 1);
  EXPECT_EQ(Main.SelectedMissionRow(), 1);
  Main.setEnabled(true);
  test::ShowActive(Main);
  QTableWidget* list = Main.ListViewInstances;
  const QRect cell = list->visualItemRect(list->item(0, 1));
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, cell.center());
  ASSERT_EQ(selected.count(), 1);
  EXPECT_EQ(selected.takeFirst().at(0).toInt(), 0);
  QSignalSpy doubled(&Main, &TfrmMain::MissionDoubleClicked);
  QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, cell.center());
  EXPECT_EQ(doubled.count(), 1);
  selected.clear();
  Main.SelectMissionRow(-1);
  Main.ClearMissionRows();
  EXPECT_EQ(selected.count(), 0);
  EXPECT_EQ(Main.SelectedMissionRow(), -1);
}

TEST_F(MainWindowTest, PaneEntriesSplitAtLineBreaks) {
  TfrmMain::AddPaneLine(Main.MemoStatus, "系统正在初始化");
  TfrmMain::AddPaneLine(Main.MemoStatus, "a\r\nb\r\n");
  TfrmMain::AddPaneLine(Main.MemoStatus, "c");
  EXPECT_EQ(Main.MemoStatus->toPlainText(), U("系统正在初始化\na\nb\n\nc"));
  EXPECT_EQ(Main.MemoStatus->blockCount(), 5);
  TfrmMain::SetPaneText(Main.MemoInstanceConfig, "<instance>\r\n</instance>\r\n");
  EXPECT_EQ(TfrmMain::PaneText(Main.MemoInstanceConfig), "<instance>\r\n</instance>\r\n");
}

}  // namespace
}  // namespace kelvor
