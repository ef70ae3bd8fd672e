// TfrmMain: the main window ("Kelvor"): toolbar, task list, the three text
// panes, status bar, menus, tray icon and timers.
//
// The window handles only close, help, the download page, the about box,
// the tray restore and the clearing of status prompts. Everything that
// touches tasks or the service is bound by the application controller to the
// public controls below (the window's own names) and to the signals.
// Closing, by any route, first asks the close hook the controller sets.
// Threads: window thread only. Every control is owned by the window (Qt
// parent); the pointers are for binding and tests.
#pragma once

#include <QMainWindow>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "shell/uSyncFramework.h"

class QAction;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QProgressBar;
class QSplitter;
class QSystemTrayIcon;
class QTabWidget;
class QTableWidget;
class QTimer;
class QToolBar;

namespace kelvor {

class TAboutDialog;
class TKelvorInstance;

class TfrmMain : public QMainWindow {
  Q_OBJECT

 public:
  explicit TfrmMain(QWidget* Parent = nullptr);
  ~TfrmMain() override;

  // Asked by every close of the window; false keeps it open. Without a hook
  // the window closes.
  void SetCloseQuery(std::function<bool()> CloseQuery) { FCloseQuery = std::move(CloseQuery); }

  // --- The task list. Rows carry an icon number (0 stopped, 1 running,
  // 6 not activated) that the controller reads back as the row's state, and
  // a reference to their task record (not owned).
  void BeginMissionUpdate();  // suspends repainting and the selection signal
  void EndMissionUpdate();
  void ClearMissionRows();
  // Appends a row; Cells in column order (missing cells stay empty).
  // Returns the row's index.
  int AddMissionRow(const std::vector<std::string>& Cells, int ImageIndex,
                    TKelvorInstance* Mission);
  int MissionRowCount() const;
  std::string MissionCell(int Row, int Column) const;
  void SetMissionCell(int Row, int Column, const std::string& Text);
  int MissionImage(int Row) const;  // -1 for no such row
  void SetMissionImage(int Row, int ImageIndex);
  TKelvorInstance* MissionOfRow(int Row) const;
  int SelectedMissionRow() const;  // -1 when no row is selected
  // Selects Row (and emits MissionSelected); -1 clears the selection.
  void SelectMissionRow(int Row);
  // A progress bar (pbMission) over Row's "状态" cell for a run that has
  // applied Done of Total items; Total 0 takes it away. The bar goes with
  // its row.
  void SetMissionProgress(int Row, int64_t Done, int64_t Total);
  // Row's bar, or nullptr without one.
  QProgressBar* MissionProgress(int Row) const;

  // --- Text panes: MemoStatus ("控制台"), MemoInfo ("任务信息"),
  // MemoInstanceConfig ("任务配置"). AddPaneLine adds Text as one more entry,
  // its line breaks splitting it into lines (so a text ending in a line
  // break leaves an empty line after it).
  static void AddPaneLine(QPlainTextEdit* Pane, const std::string& Text);
  static void SetPaneText(QPlainTextEdit* Pane, const std::string& Text);
  static std::string PaneText(const QPlainTextEdit* Pane);

  // --- Status bar: panel 0 "任务数:" + count, panel 1 prompts, panel 2 a
  // fixed line.
  void SetStatusText(int Panel, const std::string& Text);
  std::string StatusText(int Panel) const;
  // Panel 1 := Text and TimerClear started unless it already runs (a second
  // prompt does not prolong the first one's 6 s).
  void ShowStatusPrompt(const std::string& Text);

  // The about box N7Click shows; without one the window makes its own.
  void SetAboutDialog(TAboutDialog* Dialog) { FAboutDialog = Dialog; }

  // Handlers, under the window's event names.
  void btnExitClick();
  void n_exitClick();
  void n_closeAppClick();
  void n_showClick();
  void N6Click();
  void n_downloadClick();
  void N7Click();
  void TimerClearTimer();

  // Toolbar ToolBarMain.
  QToolBar* ToolBarMain = nullptr;
  QAction* btnNew = nullptr;
  QAction* btnEdit = nullptr;
  QAction* btnDelete = nullptr;
  QAction* btnImport = nullptr;
  QAction* btnExport = nullptr;
  QAction* btnStartMission = nullptr;
  QAction* btnStopMission = nullptr;
  QAction* btnStartServer = nullptr;
  QAction* btnStopServer = nullptr;
  QAction* btnReport = nullptr;
  QAction* btnConfig = nullptr;
  QAction* btnExit = nullptr;

  // Task list, splitter and panes.
  QTableWidget* ListViewInstances = nullptr;
  QSplitter* Splitter1 = nullptr;
  QTabWidget* PageControl = nullptr;
  QPlainTextEdit* MemoStatus = nullptr;
  QPlainTextEdit* MemoInfo = nullptr;
  QPlainTextEdit* MemoInstanceConfig = nullptr;

  // Status bar panels.
  QLabel* StatusPanel0 = nullptr;
  QLabel* StatusPanel1 = nullptr;
  QLabel* StatusPanel2 = nullptr;

  // Main menu.
  QMenu* mnuFile = nullptr;
  QAction* n_addmission = nullptr;
  QAction* n_deletemission = nullptr;
  QAction* n_modifymission = nullptr;
  QAction* n_importmission = nullptr;
  QAction* n_exportmission = nullptr;
  QAction* n_exit = nullptr;
  QMenu* mnuMission = nullptr;
  QAction* N_StartMission = nullptr;
  QAction* N_StopMission = nullptr;
  QAction* n_ActiveMission = nullptr;
  QAction* n_disableMission = nullptr;
  QMenu* mnuOptions = nullptr;
  QAction* N_config = nullptr;
  QMenu* mnuReport = nullptr;
  QAction* n_report = nullptr;
  QMenu* mnuHelp = nullptr;
  QAction* N6 = nullptr;
  QAction* n_download = nullptr;
  QAction* N7 = nullptr;

  // Task list pop-up menu.
  QMenu* PopupMenu = nullptr;
  QAction* np_AddMission = nullptr;
  QAction* np_deleteMission = nullptr;
  QAction* np_modifyMission = nullptr;

  // Tray icon and its menu (a top-level menu: it works while the window is
  // disabled). The icon is shown only where the desktop has a tray.
  QSystemTrayIcon* TrayIcon = nullptr;
  QMenu* PopupMenuFace = nullptr;
  QAction* n_show = nullptr;
  QAction* n_closeApp = nullptr;

  // Timers, all stopped at start. Only TimerClear is handled here.
  QTimer* TimerMessage = nullptr;
  QTimer* TimerReady = nullptr;
  QTimer* TimerCheckServer = nullptr;
  QTimer* TimerClear = nullptr;

 signals:
  // A row became selected (not emitted for a deselection or while the list
  // is being rebuilt between BeginMissionUpdate and EndMissionUpdate unless
  // SelectMissionRow is called).
  void MissionSelected(int Row);
  void MissionDoubleClicked(int Row);
  // The window was shown for the first time.
  void FirstShown();
  // The window closed (the close hook agreed); the program entry ends the
  // event loop on it, since a window hidden in the tray closes without
  // Qt's last-window logic.
  void Closed();

 protected:
  void closeEvent(QCloseEvent* Event) override;
  void showEvent(QShowEvent* Event) override;
  void changeEvent(QEvent* Event) override;

 private:
  void BuildActions();
  void BuildMenus();
  void BuildToolBar();
  void BuildCentralArea();
  void BuildStatusBar();
  void BuildTray();
  void BuildTimers();
  QAction* MakeAction(const char* Name, const char* Caption, QObject* Parent);
  QLabel* StatusPanel(int Panel) const;

  std::function<bool()> FCloseQuery;
  TAboutDialog* FAboutDialog = nullptr;
  TAboutDialog* FOwnAboutDialog = nullptr;
  bool FShownOnce = false;
  int FUpdateDepth = 0;
};

}  // namespace kelvor
