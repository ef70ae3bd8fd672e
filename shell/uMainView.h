// TMainWindowView: the controller's window operations (TSyncView) carried out
// on the main window TfrmMain, the configuration viewer and the report
// dialog; message boxes and file choosers go through TDialogs, so tests can
// answer them.
//
// Ownership: refers to the three windows, owns none of them; they must
// outlive it. Threads: window thread only.
#pragma once

#include <QString>

#include "shell/uSyncFramework.h"

class QAction;

namespace kelvor {

class TfrmMain;
class TConfigDialog;
class TMissionReportDialog;

class TMainWindowView : public TSyncView {
 public:
  TMainWindowView(TfrmMain& Main, TConfigDialog& Config, TMissionReportDialog& Report);

  void BindCommands(TSyncFramework& Target) override;

  void SetEnabled(TSyncControl Control, bool Enabled) override;
  bool IsEnabled(TSyncControl Control) const override;

  void AddPaneLine(TSyncPane Pane, const std::string& Text) override;
  void SetPaneText(TSyncPane Pane, const std::string& Text) override;
  void SetStatusText(int Panel, const std::string& Text) override;
  void ShowStatusPrompt(const std::string& Text) override;

  void BeginRowUpdate() override;
  void EndRowUpdate() override;
  void ClearRows() override;
  int AddRow(const std::vector<std::string>& Cells, int Icon, TKelvorInstance* Mission) override;
  int RowCount() const override;
  std::string Cell(int Row, int Column) const override;
  void SetCell(int Row, int Column, const std::string& Text) override;
  int RowIcon(int Row) const override;
  void SetRowIcon(int Row, int Icon) override;
  TKelvorInstance* RowMission(int Row) const override;
  int SelectedRow() const override;
  void SelectRow(int Row) override;
  void SetRowProgress(int Row, int64_t Done, int64_t Total) override;

  void StartTimer(TSyncTimer Timer) override;
  void StopTimer(TSyncTimer Timer) override;

  bool AskOkCancel(const std::string& Text) override;
  void ShowMessage(const std::string& Text) override;
  std::string OpenFileName(const std::string& Filter, const std::string& StartFolder) override;
  std::string SaveFileName(const std::string& Filter, const std::string& StartFolder,
                           const std::string& DefaultExt) override;

  bool LoadConfigPane(TConfigPane Pane, const std::string& Path) override;
  void ShowConfigDialog() override;

  TReportRowSink& ReportRows() override;
  void SetReportDate(const TDateTime& Date) override;
  TDateTime ReportDate() const override;
  void ShowReportDialog() override;

  void ProcessEvents() override;
  void Wait(int Milliseconds) override;

 private:
  QAction* Action(TSyncControl Control) const;

  TfrmMain& FMain;
  TConfigDialog& FConfig;
  TMissionReportDialog& FReport;
};

// The chooser filter of the system's form "xml|*.xml" in Qt's form
// "xml (*.xml)"; several pairs are joined by ";;".
QString ChooserFilter(const std::string& Filter);

}  // namespace kelvor
