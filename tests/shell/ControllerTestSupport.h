// Helpers of the controller's tests: a window that records what the
// controller does to it and answers its questions (TFakeSyncView), a task
// editor answering from a script instead of a dialog, and a throw-away
// installation (bin/, tasks/dbtasks/, logs/, reports/, conf/ and two SQLite
// files) made the program folder and the current directory.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "DbTestSupport.h"
#include "platform/Thread.h"
#include "shell/uSyncFramework.h"
#include "tasks/uInstance.h"
#include "tasks/uInstanceEditor.h"

namespace kelvor::test {

// The lines a text pane shows after a text was set or added.
std::vector<std::string> PaneLines(const std::string& Text);

class TFakeSyncView : public TSyncView {
 public:
  struct TRow {
    std::vector<std::string> Cells;
    int Icon = 0;
    TKelvorInstance* Mission = nullptr;
  };
  class TRecordingSink : public TReportRowSink {
   public:
    void Clear() override {
      Rows.clear();
      ++Clears;
    }
    void AddRow(const std::vector<std::string>& Columns) override { Rows.push_back(Columns); }
    std::vector<std::vector<std::string>> Rows;
    int Clears = 0;
  };

  TFakeSyncView();

  void BindCommands(TSyncFramework& ATarget) override;
  void SetEnabled(TSyncControl Control, bool Enabled) override;
  bool IsEnabled(TSyncControl Control) const override;
  void AddPaneLine(TSyncPane Pane, const std::string& Text) override;
  void SetPaneText(TSyncPane Pane, const std::string& Text) override;
  void SetStatusText(int Panel, const std::string& Text) override;
  void ShowStatusPrompt(const std::string& Text) override;
  void BeginRowUpdate() override { ++UpdateDepth; }
  void EndRowUpdate() override { --UpdateDepth; }
  void ClearRows() override;
  int AddRow(const std::vector<std::string>& Cells, int Icon, TKelvorInstance* Mission) override;
  int RowCount() const override { return static_cast<int>(Rows.size()); }
  std::string Cell(int Row, int Column) const override;
  void SetCell(int Row, int Column, const std::string& Text) override;
  int RowIcon(int Row) const override;
  void SetRowIcon(int Row, int Icon) override;
  TKelvorInstance* RowMission(int Row) const override;
  int SelectedRow() const override { return Selected; }
  void SelectRow(int Row) override;
  void StartTimer(TSyncTimer Timer) override;
  void StopTimer(TSyncTimer Timer) override;
  bool AskOkCancel(const std::string& Text) override;
  void ShowMessage(const std::string& Text) override;
  std::string OpenFileName(const std::string& Filter, const std::string& StartFolder) override;
  std::string SaveFileName(const std::string& Filter, const std::string& StartFolder,
                           const std::string& DefaultExt) override;
  bool LoadConfigPane(TConfigPane Pane, const std::string& Path) override;
  void ShowConfigDialog() override { ++ConfigShown; }
  TReportRowSink& ReportRows() override { return Report; }
  void SetReportDate(const TDateTime& Date) override { ReportDay = Date; }
  TDateTime ReportDate() const override { return ReportDay; }
  void ShowReportDialog() override;
  void ProcessEvents() override { ++ProcessEventsCalls; }
  void Wait(int Milliseconds) override;

  // An operator's click on a row: selects it and tells the controller.
  void ClickRow(int Row);
  bool TimerActive(TSyncTimer Timer) const { return ActiveTimers.count(Timer) > 0; }
  int RowOf(const std::string& MissionName) const;
  std::vector<std::string> Console() const { return Panes[0]; }
  std::vector<std::string> Info() const { return Panes[1]; }
  std::vector<std::string> Config() const { return Panes[2]; }

  TSyncFramework* Target = nullptr;
  std::map<TSyncControl, bool> Enabled;
  std::vector<std::string> Panes[3];
  std::string Status[3];
  std::vector<std::string> Prompts;
  std::vector<TRow> Rows;
  int Selected = -1;
  int UpdateDepth = 0;
  int SelectionsDuringUpdate = 0;
  std::set<TSyncTimer> ActiveTimers;
  std::deque<bool> Answers;  // OK/Cancel answers, oldest first; none: Cancel
  std::vector<std::string> Questions;
  std::vector<std::string> Messages;
  std::deque<std::string> FileNames;  // chooser answers; none: cancelled
  std::vector<std::string> Choosers;  // "open:" / "save:" + filter + "|" + folder
  std::map<TConfigPane, std::string> ConfigPanes;
  int ConfigShown = 0;
  TRecordingSink Report;
  TDateTime ReportDay{};
  int ReportShown = 0;
  std::function<void()> OnReportShown;
  int ProcessEventsCalls = 0;
  int WaitedMs = 0;
  std::function<void()> OnWait;  // runs during every wait
  // Console lines and enabled-state changes in the order they happened.
  std::vector<std::string> Trace;
};

// The task dialog replaced by a script: each Edit/EditNew takes the next
// step. A step with Ok closes with OK unless the record may not take the
// name (the dialog's name check) or the dialog is read-only (OK disabled);
// then, as an operator would, it cancels. Installed for a test's length.
struct TEditorStep {
  bool Ok = false;
  std::string Name;  // the name typed; empty keeps the record's
  std::function<void(TKelvorInstance&)> Apply;
};

class TEditorScript {
 public:
  TEditorScript();
  ~TEditorScript();
  void Push(TEditorStep Step) { Steps.push_back(std::move(Step)); }
  void PushCancel() { Steps.push_back(TEditorStep{}); }

  struct TCall {
    std::string Name;  // the record's name when the dialog opened
    bool ReadOnly = false;
    bool New = false;
    bool OwnerSet = false;
    bool NameRefused = false;
  };
  std::deque<TEditorStep> Steps;
  std::vector<TCall> Calls;
};

// Makes Folder the current directory until destroyed.
class TCwdScope {
 public:
  explicit TCwdScope(const std::string& Folder);
  ~TCwdScope();
  TCwdScope(const TCwdScope&) = delete;
  TCwdScope& operator=(const TCwdScope&) = delete;

 private:
  std::string FPrevious;
};

// <temp>/bin (program folder, current directory), tasks/dbtasks, logs,
// reports, conf/server.ini, source.db with table t(id, name) holding
// SourceRows rows and destination.db with t empty.
class TControllerHome {
 public:
  explicit TControllerHome(int SourceRows = 3);
  ~TControllerHome();

  std::string Root() const { return FHome.Root(); }
  std::string Bin() const { return FHome.BinFolder(); }
  // As the controller names it: beside the program folder.
  std::string TaskFolder() const { return FHome.BinFolder() + "../tasks/dbtasks/"; }
  std::string IndexPath() const { return TaskFolder() + "tasks.ini"; }
  std::string ServerIniPath() const { return FHome.Root() + "conf/server.ini"; }
  std::string ReportPath(const TDateTime& Day) const;

  // A run-once copy of t from source.db to destination.db.
  std::shared_ptr<TKelvorInstance> CopyTask(const std::string& Name) const;
  // A daily task due at 23:59: its daemon watches and never runs it while
  // the clock is pinned earlier in the day.
  std::shared_ptr<TKelvorInstance> WatchTask(const std::string& Name) const;
  // Writes the task's file into the task folder (its FileName is set).
  void StoreTask(TKelvorInstance& Task) const;
  // tasks.ini listing the given file names.
  void WriteIndex(const std::vector<std::string>& Files) const;
  std::string DestinationScalar(const std::string& Sql) const;

  std::string Source;
  std::string Destination;

 private:
  TDbTestHome FHome;
  TCwdScope FCwd;
};

// Holds the write lock of a SQLite file until Release or destruction: a run
// writing to it waits (the busy timeout), so its daemon stays running.
class TWriteLock {
 public:
  explicit TWriteLock(const std::string& Path);
  ~TWriteLock() { Release(); }
  void Release();

 private:
  std::unique_ptr<TDbConnection> FConnection;
};

// Polls Condition every 10 ms until it holds or Timeout passes.
bool WaitUntil(const std::function<bool()>& Condition,
               std::chrono::milliseconds Timeout = std::chrono::seconds(20));

}  // namespace kelvor::test
