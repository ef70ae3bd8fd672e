// Helpers of the controller's tests: a window that records what the
// controller does to it and answers its questions (TFakeSyncView), and a task
// editor answering from a script instead of a dialog.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "DbTestSupport.h"
#include "shell/uSyncFramework.h"
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
    int64_t Done = 0;  // the row's progress bar; Total 0: none
    int64_t Total = 0;
  };
  class TRecordingSink : public TReportRowSink {
   public:
    void Clear() override { Rows.clear(); }
    void AddRow(const std::vector<std::string>& Columns) override { Rows.push_back(Columns); }
    std::vector<std::vector<std::string>> Rows;
  };

  TFakeSyncView();

  void BindCommands(TSyncFramework& ATarget) override;
  void SetEnabled(TSyncControl Control, bool On) override;
  bool IsEnabled(TSyncControl Control) const override { return Enabled.at(Control); }
  void AddPaneLine(TSyncPane Pane, const std::string& Text) override;
  void SetPaneText(TSyncPane Pane, const std::string& Text) override {
    Panes[static_cast<int>(Pane)] = PaneLines(Text);
  }
  void SetStatusText(int Panel, const std::string& Text) override { Status[Panel] = Text; }
  void ShowStatusPrompt(const std::string& Text) override { Prompts.push_back(Status[1] = Text); }
  void BeginRowUpdate() override { ++UpdateDepth; }
  void EndRowUpdate() override { --UpdateDepth; }
  void ClearRows() override;
  int AddRow(const std::vector<std::string>& Cells, int Icon, TKelvorInstance* Mission) override;
  int RowCount() const override { return static_cast<int>(Rows.size()); }
  // Out of range, rows answer as the window's list does: "", -1, nullptr.
  std::string Cell(int Row, int Column) const override {
    return RowAt(Row) && Column >= 0 && Column < mcColumnCount ? RowAt(Row)->Cells[Column] : "";
  }
  void SetCell(int Row, int Column, const std::string& Text) override {
    if (RowAt(Row) && Column >= 0 && Column < mcColumnCount) Rows[Row].Cells[Column] = Text;
  }
  int RowIcon(int Row) const override { return RowAt(Row) ? RowAt(Row)->Icon : -1; }
  void SetRowIcon(int Row, int Icon) override {
    if (RowAt(Row)) Rows[Row].Icon = Icon;
  }
  TKelvorInstance* RowMission(int Row) const override {
    return RowAt(Row) ? RowAt(Row)->Mission : nullptr;
  }
  int SelectedRow() const override { return Selected; }
  void SelectRow(int Row) override;
  void SetRowProgress(int Row, int64_t Done, int64_t Total) override {
    if (!RowAt(Row)) return;
    Rows[Row].Done = Total > 0 ? Done : 0;
    Rows[Row].Total = Total;
  }
  void StartTimer(TSyncTimer Timer) override { ActiveTimers.insert(Timer); }
  void StopTimer(TSyncTimer Timer) override { ActiveTimers.erase(Timer); }
  bool AskOkCancel(const std::string& Text) override;
  void ShowMessage(const std::string& Text) override { Messages.push_back(Text); }
  std::string OpenFileName(const std::string& Filter, const std::string& StartFolder) override {
    return FileName("open:" + Filter + "|" + StartFolder);
  }
  std::string SaveFileName(const std::string& Filter, const std::string& StartFolder,
                           const std::string& DefaultExt) override {
    return FileName("save:" + Filter + "|" + StartFolder + "|" + DefaultExt);
  }
  bool LoadConfigPane(TConfigPane Pane, const std::string& Path) override;
  void ShowConfigDialog() override { ++ConfigShown; }
  TReportRowSink& ReportRows() override { return Report; }
  void SetReportDate(const TDateTime& Date) override { ReportDay = Date; }
  TDateTime ReportDate() const override { return ReportDay; }
  void ShowReportDialog() override;
  void ProcessEvents() override {}
  void Wait(int Milliseconds) override;

  // An operator's click on a row: selects it and tells the controller.
  void ClickRow(int Row) { SelectRow(Row); }
  bool TimerActive(TSyncTimer Timer) const { return ActiveTimers.count(Timer) > 0; }
  int RowOf(const std::string& MissionName) const;
  // The progress bar of MissionName's row as "N of M", or "" without one.
  std::string Progress(const std::string& MissionName) const;
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
  int WaitedMs = 0;
  std::function<void()> OnWait;  // runs during every wait
  // Console lines and the main window's enabled changes, in order.
  std::vector<std::string> Trace;

 private:
  const TRow* RowAt(int Row) const { return Row >= 0 && Row < RowCount() ? &Rows[Row] : nullptr; }
  std::string FileName(const std::string& Chooser);
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
  };
  std::deque<TEditorStep> Steps;
  std::vector<TCall> Calls;
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

}  // namespace kelvor::test
