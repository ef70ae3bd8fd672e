// The main window as it starts and what it does on its own: close through
// the controller's hook, help, download, about, tray restore, status prompts,
// and the list, pane and status operations the controller uses.
#include <QAction>
#include <QDesktopServices>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
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

// The window as it starts: caption, size, panes, the list's columns, the
// timers (stopped), and every command with its caption, shortcut and state.
// (The columns' widths follow the font: ListTextsShowWholeAtAnyFont.)
TEST_F(MainWindowTest, InitialState) {
  EXPECT_FALSE(Main.isEnabled());
  EXPECT_EQ(Main.windowTitle(), QStringLiteral("Kelvor"));
  EXPECT_EQ(Main.size(), QSize(873, 578));
  EXPECT_EQ(Main.PageControl->currentWidget(), Main.MemoStatus);
  QStringList tabs;
  for (int i = 0; i < Main.PageControl->count(); ++i)
    tabs << Main.PageControl->tabText(i);
  EXPECT_EQ(tabs, QStringList({U("控制台"), U("任务信息"), U("任务配置")}));
  EXPECT_GE(Main.StatusPanel0->width(), 100);
  EXPECT_GE(Main.StatusPanel1->width(), 300);
  EXPECT_FALSE(Main.StatusPanel2->text().isEmpty());

  QTableWidget* list = Main.ListViewInstances;
  const char* captions[] = {"序号", "任务", "开始时间", "结束时间", "状态", "激活状态", "描述"};
  ASSERT_EQ(list->columnCount(), 7);
  for (int c = 0; c < 7; ++c)
    EXPECT_EQ(list->horizontalHeaderItem(c)->text(), U(captions[c]));
  EXPECT_EQ(list->editTriggers(), QAbstractItemView::NoEditTriggers);
  EXPECT_EQ(list->selectionBehavior(), QAbstractItemView::SelectRows);
  for (auto [timer, interval] : {std::pair{Main.TimerMessage, 2000},
                                 {Main.TimerReady, 500},
                                 {Main.TimerCheckServer, 1000},
                                 {Main.TimerClear, 6000}}) {
    EXPECT_EQ(timer->interval(), interval) << timer->objectName().toStdString();
    EXPECT_FALSE(timer->isActive()) << timer->objectName().toStdString();
  }

  // Every command is on except those of a selected task and of a stopped service.
  const QStringList off = {"btnStartMission", "btnStopMission", "btnStartServer",
                           "N_StartMission",  "N_StopMission",  "n_ActiveMission",
                           "n_disableMission"};
  for (QAction* a : Main.findChildren<QAction*>() + Main.PopupMenuFace->findChildren<QAction*>())
    if (!a->objectName().isEmpty() && !a->isSeparator() && !a->menu()) {
      EXPECT_EQ(a->isEnabled(), !off.contains(a->objectName())) << a->objectName().toStdString();
    }
  for (auto [name, keys] : {std::pair{"n_addmission", "Ctrl+N"},
                            {"n_importmission", "Ctrl+I"},
                            {"n_exportmission", "Ctrl+O"},
                            {"n_exit", "Ctrl+X"},
                            {"N_StartMission", "Ctrl+R"},
                            {"N_StopMission", "Ctrl+S"},
                            {"N_config", "Ctrl+P"},
                            {"N7", "Ctrl+A"},
                            {"n_show", "Ctrl+R"},
                            {"n_closeApp", "Ctrl+X"}}) {
    QAction* a = Main.findChild<QAction*>(QString::fromLatin1(name));
    if (!a) a = Main.PopupMenuFace->findChild<QAction*>(QString::fromLatin1(name));
    ASSERT_NE(a, nullptr) << name;
    EXPECT_EQ(a->shortcut(), QKeySequence(QString::fromLatin1(keys))) << name;
  }
  EXPECT_EQ(Main.btnNew->text(), U("新增"));
  EXPECT_EQ(Main.btnNew->toolTip(), U("新增任务"));
  EXPECT_FALSE(Main.btnNew->icon().isNull());

  // Order and separators of the toolbar and the menus.
  auto shape = [](const QList<QAction*>& Actions) {
    QString s;
    for (QAction* a : Actions)
      s += a->isSeparator() ? QStringLiteral("| ") : a->objectName() + ' ';
    return s.trimmed();
  };
  EXPECT_EQ(shape(Main.ToolBarMain->actions()),
            "btnNew btnEdit btnDelete | btnImport btnExport | btnStartMission btnStopMission | "
            "btnStartServer btnStopServer | btnReport btnConfig | btnExit");
  EXPECT_EQ(shape(Main.mnuFile->actions()),
            "n_addmission n_deletemission n_modifymission | n_importmission n_exportmission | "
            "n_exit");
  EXPECT_EQ(shape(Main.mnuMission->actions()),
            "N_StartMission N_StopMission | n_ActiveMission n_disableMission");
  EXPECT_EQ(shape(Main.mnuHelp->actions()), "N6 n_download | N7");
  EXPECT_EQ(shape(Main.PopupMenu->actions()), "np_AddMission np_deleteMission np_modifyMission");
  EXPECT_EQ(shape(Main.PopupMenuFace->actions()), "n_show | n_closeApp");
  QStringList titles;
  for (QAction* a : Main.menuBar()->actions())
    titles << a->text();
  EXPECT_EQ(titles, QStringList({U("文件"), U("任务"), U("选项"), U("报表"), U("帮助")}));
  EXPECT_EQ(Main.TrayIcon->toolTip(), QStringLiteral("Kelvor Vantrel"));
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
  test::ProgramFolderScope folder(dir.Path() + "bin");
  TUrlCatcher catcher;
  QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "Open");
  QDesktopServices::setUrlHandler(QStringLiteral("https"), &catcher, "Open");
  Main.N6->trigger();
  Main.n_download->trigger();
  QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
  QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
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

TEST_F(MainWindowTest, OnlySelectionsAreSignalled) {
  TKelvorInstance a, b;
  QSignalSpy selected(&Main, &TfrmMain::MissionSelected);
  Main.AddMissionRow({"1", "orders"}, 0, &a);
  Main.AddMissionRow({"2", "stores"}, 6, &b);
  EXPECT_EQ(Main.MissionOfRow(1), &b);
  EXPECT_EQ(Main.MissionImage(5), -1);
  Main.setEnabled(true);
  test::ShowActive(Main);
  QTableWidget* list = Main.ListViewInstances;
  const QPoint cell = list->visualItemRect(list->item(0, 1)).center();
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, cell);
  ASSERT_EQ(selected.count(), 1);
  EXPECT_EQ(selected.takeFirst().at(0).toInt(), 0);
  QSignalSpy doubled(&Main, &TfrmMain::MissionDoubleClicked);
  QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, cell);
  EXPECT_EQ(doubled.count(), 1);
  // A deselection and a rebuild are silent.
  selected.clear();
  Main.SelectMissionRow(-1);
  Main.ClearMissionRows();
  EXPECT_EQ(selected.count(), 0);
  EXPECT_EQ(Main.SelectedMissionRow(), -1);
}

// A row's bar lies over its "状态" cell and shows the share applied, also
// for counts beyond the bar's own int range; Total 0 takes it away, and so
// does a rebuild of the list.
TEST_F(MainWindowTest, RowProgressBarShowsTheShareApplied) {
  TKelvorInstance a, b;
  Main.AddMissionRow({"1", "orders", "", "", SyncText::Running}, miRunning, &a);
  Main.AddMissionRow({"2", "stores"}, miStopped, &b);
  const struct {
    int64_t Done, Total;
    const char* Text;
    const char* Tip;
  } cases[] = {
      {10000, 25000, "40%", "applied 10000 of 25000"},
      {0, 7, "0%", "applied 0 of 7"},
      {24999, 25000, "99%", "applied 24999 of 25000"},
      {1000000000000000000, 4000000000000000000, "25%",
       "applied 1000000000000000000 of 4000000000000000000"},
      {INT64_MAX, INT64_MAX, "100%", "applied 9223372036854775807 of 9223372036854775807"},
      {30, 20, "100%", "applied 20 of 20"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Tip);
    Main.SetMissionProgress(0, c.Done, c.Total);
    QProgressBar* bar = Main.MissionProgress(0);
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar->objectName(), QStringLiteral("pbMission"));
    EXPECT_EQ(bar->text(), QString::fromLatin1(c.Text));
    EXPECT_EQ(bar->toolTip(), QString::fromLatin1(c.Tip));
  }
  EXPECT_EQ(Main.MissionProgress(1), nullptr);
  const QPointer<QProgressBar> bar = Main.MissionProgress(0);
  Main.SetMissionProgress(0, 0, 0);
  EXPECT_EQ(Main.MissionProgress(0), nullptr);
  EXPECT_TRUE(!bar || bar->isHidden());  // gone at once, not only once Qt deletes it
  EXPECT_EQ(Main.MissionCell(0, mcState), "运行中...");  // the cell's text was kept under it
  Main.SetMissionProgress(5, 1, 2);                      // no such row: nothing happens
  Main.SetMissionProgress(1, 1, 2);
  Main.ClearMissionRows();
  Main.AddMissionRow({"1", "stores"}, miStopped, &b);
  Main.AddMissionRow({"2", "orders"}, miStopped, &a);
  EXPECT_EQ(Main.MissionProgress(1), nullptr);
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

// The controller's fixed texts show whole in their columns, headers
// included, at the default font and at one twice as large: the widths follow
// the font. The task's name and note elide, their tooltip holding them.
TEST(MainWindowColumns, ListTextsShowWholeAtAnyFont) {
  const QFont original = QApplication::font();
  int activationWidth = 0;
  for (int scale : {1, 2}) {
    QFont font = original;
    font.setPointSize(original.pointSize() * scale);
    QApplication::setFont(font);
    TfrmMain main;
    TKelvorInstance a, b;
    const std::string longName(60, 'n'), longNote(120, 'x');
    main.AddMissionRow(
        {"999", longName, "23:30", "23:31", SyncText::Running, SyncText::NotActivated, longNote},
        miRunning, &a);
    main.AddMissionRow({"1", "b", "", "", SyncText::Stopped, SyncText::Activated, ""}, miStopped,
                       &b);
    QTableWidget* list = main.ListViewInstances;
    const QAbstractItemView& view = *list;
    for (int c : {mcNumber, mcStart, mcEnd, mcState, mcActivation}) {
      // Two pixels beyond Qt's own measure: a text may draw a fraction wider.
      EXPECT_GE(list->columnWidth(c), view.sizeHintForColumn(c) + 2) << c << " at " << scale;
      EXPECT_GE(list->columnWidth(c), list->horizontalHeader()->sectionSizeHint(c)) << c;
    }
    for (int c : {mcMission, mcNote}) {
      EXPECT_LT(list->columnWidth(c), view.sizeHintForColumn(c)) << c;
      EXPECT_EQ(list->item(0, c)->toolTip(), list->item(0, c)->text()) << c;
    }
    for (const char* prompt : {SyncText::SelectToEdit, SyncText::SelectToExport})
      EXPECT_GT(main.StatusPanel1->width(),
                main.StatusPanel1->fontMetrics().horizontalAdvance(U(prompt)));
    EXPECT_GT(list->columnWidth(mcActivation), activationWidth);
    activationWidth = list->columnWidth(mcActivation);
  }
  QApplication::setFont(original);
}

}  // namespace
}  // namespace kelvor
