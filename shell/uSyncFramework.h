// TSyncFramework: the application controller. It binds every command, list
// event and timer of the main window to the task catalogue and the service,
// loads the catalogue, fills the task list, starts and stops the service
// manager, and moves the channels' text into the window's panes.
//
// The controller knows the window only through TSyncView, a small set of
// window operations; TMainWindowView (shell/uMainView.h) implements it over
// TfrmMain and the dialogs, and the tests implement it without a screen. This
// unit includes no Qt header.
//
// Ownership: the controller owns the catalogue (and through it the task
// records) and the report reader; it shares the service manager with the
// manager's own thread (the thread frees itself when it ends). It does not
// own the view.
// Threads: window thread only, one method at a time. It meets the worker
// threads only through the channels and a task's stop request, and takes no
// lock itself. The waits of StartMission, StopMission and StopServer let the
// window process its events (TSyncView::Wait) without user input, so the
// window stays painted and no command runs inside another.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "daemons/uNotifyService.h"
#include "platform/Clock.h"
#include "services/uBroadMessage.h"
#include "services/uReportService.h"
#include "tasks/uInstanceCollections.h"

namespace kelvor {

class TSyncFramework;

// Controls whose enabled state the controller sets.
enum class TSyncControl {
  MainWindow,
  StartMissionButton,  // toolbar "启动任务"
  StopMissionButton,   // toolbar "停止任务"
  StartMissionMenu,    // "任务" -> "开始任务"
  StopMissionMenu,     // "任务" -> "停止任务"
  ActivateMenu,        // "任务" -> "激活任务"
  DisableMenu,         // "任务" -> "禁止任务"
  StartServerButton,   // toolbar "启动服务"
  StopServerButton,    // toolbar "停止服务"
};

enum class TSyncPane {
  Console,  // "控制台"
  Info,     // "任务信息"
  Config,   // "任务配置"
};

enum class TSyncTimer { Ready, Message, CheckServer };

enum class TConfigPane {
  Server,  // "服务器配置"
  Tasks,   // "任务配置"
};

// Columns of the task list.
enum TMissionListColumn {
  mcNumber = 0,      // "序号"
  mcMission = 1,     // "任务"
  mcStart = 2,       // "开始时间"
  mcEnd = 3,         // "结束时间"
  mcState = 4,       // "状态"
  mcActivation = 5,  // "激活状态"
  mcNote = 6,        // "描述"
  mcColumnCount = 7
};

// Row icons, read back as the row's state.
enum TMissionIcon { miStopped = 0, miRunning = 1, miNotActivated = 6 };

// The window as the controller sees it.
class TSyncView {
 public:
  virtual ~TSyncView() = default;

  // Binds every command, the list's selection and double-click, the timers,
  // the report dialog's date button and the main window's show and close
  // events to Target.
  virtual void BindCommands(TSyncFramework& Target) = 0;

  virtual void SetEnabled(TSyncControl Control, bool Enabled) = 0;
  virtual bool IsEnabled(TSyncControl Control) const = 0;

  // Adds Text as one more entry (its line breaks split it into lines).
  virtual void AddPaneLine(TSyncPane Pane, const std::string& Text) = 0;
  virtual void SetPaneText(TSyncPane Pane, const std::string& Text) = 0;

  virtual void SetStatusText(int Panel, const std::string& Text) = 0;
  // Status panel 1 := Text, cleared after 6 s (a second prompt does not
  // prolong the first one).
  virtual void ShowStatusPrompt(const std::string& Text) = 0;

  // The task list. Rows carry an icon number and a reference to their task
  // record (not owned). SelectRow selects a row and runs MissionSelectItem
  // for it at once; -1 clears the selection.
  virtual void BeginRowUpdate() = 0;
  virtual void EndRowUpdate() = 0;
  virtual void ClearRows() = 0;
  virtual int AddRow(const std::vector<std::string>& Cells, int Icon, TKelvorInstance* Mission) = 0;
  virtual int RowCount() const = 0;
  virtual std::string Cell(int Row, int Column) const = 0;
  virtual void SetCell(int Row, int Column, const std::string& Text) = 0;
  virtual int RowIcon(int Row) const = 0;
  virtual void SetRowIcon(int Row, int Icon) = 0;
  virtual TKelvorInstance* RowMission(int Row) const = 0;
  virtual int SelectedRow() const = 0;
  virtual void SelectRow(int Row) = 0;
  // A progress bar in Row for a run that has applied Done of Total items
  // (0 <= Done <= Total); Total 0 takes the row's bar away. A row starts
  // without one; setting what the row already shows changes nothing.
  virtual void SetRowProgress(int Row, int64_t Done, int64_t Total) = 0;

  // Starting a running timer restarts its interval.
  virtual void StartTimer(TSyncTimer Timer) = 0;
  virtual void StopTimer(TSyncTimer Timer) = 0;

  // A warning with OK and Cancel; true only for OK.
  virtual bool AskOkCancel(const std::string& Text) = 0;
  // A plain message box.
  virtual void ShowMessage(const std::string& Text) = 0;
  // File choosers; Filter in the form "xml|*.xml". Empty when cancelled.
  // An empty StartFolder leaves the folder to the window: the one the
  // operator chose from last, else his home folder.
  virtual std::string OpenFileName(const std::string& Filter, const std::string& StartFolder) = 0;
  virtual std::string SaveFileName(const std::string& Filter, const std::string& StartFolder,
                                   const std::string& DefaultExt) = 0;

  // The configuration viewer: a pane takes a file's text (false, pane
  // unchanged, when it cannot be read); then the dialog is shown modally.
  virtual bool LoadConfigPane(TConfigPane Pane, const std::string& Path) = 0;
  virtual void ShowConfigDialog() = 0;

  // The report dialog: its list as the report reader's sink, its date, and
  // its modal run.
  virtual TReportRowSink& ReportRows() = 0;
  virtual void SetReportDate(const TDateTime& Date) = 0;
  virtual TDateTime ReportDate() const = 0;
  virtual void ShowReportDialog() = 0;

  // Lets the window repaint and run its timers; user input waits.
  virtual void ProcessEvents() = 0;
  // Returns after Milliseconds, processing events as ProcessEvents does.
  virtual void Wait(int Milliseconds) = 0;
};

// The line a run's executor posts while it applies a batch, "applied N of
// M": true, with Done = N and Total = M, for such a line with
// 0 <= N <= M and M > 0 (blanks around it allowed); false for any other line.
bool ParseAppliedLine(std::string_view Line, int64_t& Done, int64_t& Total);

// States of the service as the toolbar shows them.
enum class TServiceState { NotStarted, Running, Stopping, Stopped };

class TSyncFramework {
 public:
  // Construction only: the program folder, the catalogue pointed at its task
  // folder, the report reader. GetSyncFramework adds the console lines and
  // the bindings.
  explicit TSyncFramework(TSyncView& View);
  ~TSyncFramework();
  TSyncFramework(const TSyncFramework&) = delete;
  TSyncFramework& operator=(const TSyncFramework&) = delete;

  // Commands.
  void NewMission();
  void EditMission();
  void DeleteMission();
  void ActivateMission();
  void DisableMission();
  void ImportMission();
  void ExportMission();
  void StartSelectedMission();
  void StopSelectedMission();
  void StartServer();
  void StopServer();
  void ShowReport();
  void ShowConfig();
  void ChangeReportDate();
  // The close query: true when the window may close.
  bool ConfirmClose();
  // A row became selected.
  void MissionSelectItem(int Row);

  // Events and timers.
  void MainFormShow();
  void ReadyTimer();
  void MessageTimer();
  void CheckServerTimer();

  void FillMissionList();
  // Drains every task channel: the selected task's text goes to the
  // task-info pane, the others' waits in the controller until their task is
  // selected. A run's "applied N of M" lines put a progress bar in its row,
  // which goes at its next line of any other kind (the run stopped, ended,
  // or went on to another step) or when its daemon ends.
  void RefreshMissionStates();
  // Starts the task's daemon: by a start request on its channel, or, for an
  // active task the running service has no channel for, as a task added
  // while the service runs. Waits up to 3 s for the daemon; when the task
  // cannot start, or the service left the request unanswered, the console
  // says why.
  void StartMission(const std::string& Name);
  void StopMission(const std::string& Name);

  // The pause between the stop-all request and the tasks' stop requests.
  static constexpr int kStopAllPauseMs = 2000;

  // At program exit, after the event loop: runs the stop sequence (with
  // PauseMs as its pause) if the service still runs, then waits up to
  // Timeout for every daemon and the manager to end. True when they did.
  bool StopServiceForExit(std::chrono::milliseconds Timeout, int PauseMs = kStopAllPauseMs);

  // State, for the program entry and the tests.
  TInstanceCollections& Missions() { return FMissions; }
  const std::string& AppPath() const { return FAppPath; }
  TServiceState ServiceState() const { return FServiceState; }
  bool ServiceReady() const { return FServiceReady; }
  const std::shared_ptr<TRevoroProxyService>& Service() const { return FService; }
  TBroadMessage* ServiceChannel() const { return FServiceChannel; }
  const std::string& CurrentMission() const { return FCurrentMission; }
  std::string ServerIniPath() const { return FAppPath + "../conf/server.ini"; }

 private:
  // The selected row's task (nullptr without a selection or when the row's
  // record has left the catalogue) and its index in the catalogue.
  std::shared_ptr<TKelvorInstance> SelectedMission(int* Index = nullptr) const;
  bool MissionRunning(const std::string& Name) const;
  void CreateService();
  void SetMissionCommands(int Icon, bool IsActive);
  // Writes Record to Path; says so when it could not be written.
  bool WriteMission(TKelvorInstance& Record, const std::string& Path);
  // Saves Record in the task folder under its name (the catalogue's
  // SaveMission); says so when that failed.
  bool SaveMission(TKelvorInstance& Record);
  void SaveIndex();
  // Waits up to 3 s, letting the window run, until Channel's run state is
  // State.
  void WaitForRunState(TBroadMessage* Channel, int State);
  void WaitWindow(int Milliseconds);
  // Row's bar as the feed of Channel has it (none without a feed).
  void ShowProgress(int Row, const TBroadMessage* Channel);

  // What the controller holds of a task channel it drained.
  struct TMissionFeed {
    std::string Pending;  // text not shown yet: its task was not selected
    int64_t Done = 0;     // the run's progress; Total 0: no bar
    int64_t Total = 0;
  };

  TSyncView& FView;
  bool FServiceReady = false;
  std::string FAppPath;
  TInstanceCollections FMissions;
  std::shared_ptr<TRevoroProxyService> FService;
  TBroadMessage* FServiceChannel = nullptr;
  TBroadMessageHandler* FChannels;  // the process-wide registry
  // The record of the row selected last; compared only, never dereferenced.
  const TKelvorInstance* FLastItem = nullptr;
  std::string FCurrentMission;
  TReportFileHandler FReportHandler;

  TServiceState FServiceState = TServiceState::NotStarted;
  int FWaitDepth = 0;  // > 0 while a wait lets the window run
  // By channel (registry channels live as long as the process); only
  // channels some row finds are kept.
  std::unordered_map<const TBroadMessage*, TMissionFeed> FFeeds;
};

// The process-wide controller: made on the first call, bound to View (later
// calls return it and ignore View). Adds the start-up lines to the console
// around its construction and binding.
TSyncFramework* GetSyncFramework(TSyncView* View);
// Frees the process-wide controller (its catalogue and task records, with
// their dialogs); the program entry calls it after the event loop, before the
// windows and the application object go.
void FreeSyncFramework();
// Makes a controller as GetSyncFramework does, without keeping it.
std::unique_ptr<TSyncFramework> CreateSyncFramework(TSyncView& View);

// Texts the controller shows.
namespace SyncText {
inline constexpr const char* Initializing = "系统正在初始化";
inline constexpr const char* LoadingMissions = "获取所有任务信息....";
inline constexpr const char* MissionsLoaded = "完成所有任务信息获取";
inline constexpr const char* MissionCount = "任务数:";
inline constexpr const char* Running = "运行中...";
inline constexpr const char* Stopped = "已停止";
inline constexpr const char* Activated = "已激活";
inline constexpr const char* NotActivated = "未激活，如要运行该任务，请先激活!";
inline constexpr const char* SelectToEdit = "请选择待修改的任务信息!";
inline constexpr const char* SelectToExport = "请选择待导出的任务信息!";
inline constexpr const char* CannotDeleteRunning = "当前任务正在运行中，不能删除!";
inline constexpr const char* ConfirmDelete = "是否真的删除该任务?";
inline constexpr const char* ConfirmExit = "确定退出VantrelKelvor?";
inline constexpr const char* TaskFileFilter = "xml|*.xml";
// Ours: a task file or tasks.ini that could not be written.
inline constexpr const char* SaveFailed = "保存任务文件失败: ";
// Ours: why "启动任务" did not start a task, after "任务<name>".
inline constexpr const char* NotStarted = "未启动: ";
inline constexpr const char* ServiceNotRunning = "数据同步服务没有运行，请先启动服务";
inline constexpr const char* NoSuchMission = "任务不存在";
inline constexpr const char* AlreadyRunning = "任务已在运行中";
inline constexpr const char* NotAnswered = "数据同步服务没有响应启动请求";
// Ours: the state of a task whose file was cut short or whose schedule can
// never fall due.
inline constexpr const char* NotRunnable = "不能运行";
}  // namespace SyncText

}  // namespace kelvor
