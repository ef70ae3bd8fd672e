#include "shell/uMainView.h"

#include <QAction>
#include <QApplication>
#include <QEventLoop>
#include <QPushButton>
#include <QStringList>
#include <QTimer>

#include "shell/uConfigDialog.h"
#include "shell/uDialogs.h"
#include "shell/uMain.h"
#include "shell/uMissionReportDialog.h"
#include "shell/uQtText.h"

namespace kelvor {

QString ChooserFilter(const std::string& Filter) {
  const QStringList parts = Q(Filter).split(QLatin1Char('|'));
  QStringList filters;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2)
    filters << parts[i] + QStringLiteral(" (") + parts[i + 1] + QLatin1Char(')');
  return filters.join(QStringLiteral(";;"));
}

TMainWindowView::TMainWindowView(TfrmMain& Main, TConfigDialog& Config,
                                 TMissionReportDialog& Report)
    : FMain(Main), FConfig(Config), FReport(Report) {}

void TMainWindowView::BindCommands(TSyncFramework& Target) {
  TSyncFramework* t = &Target;
  auto bind = [this](std::initializer_list<QAction*> Actions, auto Method) {
    for (QAction* a : Actions)
      QObject::connect(a, &QAction::triggered, &FMain, Method);
  };
  bind({FMain.btnNew, FMain.n_addmission, FMain.np_AddMission}, [t] { t->NewMission(); });
  bind({FMain.btnEdit, FMain.n_modifymission, FMain.np_modifyMission}, [t] { t->EditMission(); });
  bind({FMain.btnDelete, FMain.n_deletemission, FMain.np_deleteMission},
       [t] { t->DeleteMission(); });
  bind({FMain.n_ActiveMission}, [t] { t->ActivateMission(); });
  bind({FMain.n_disableMission}, [t] { t->DisableMission(); });
  bind({FMain.btnImport, FMain.n_importmission}, [t] { t->ImportMission(); });
  bind({FMain.btnExport, FMain.n_exportmission}, [t] { t->ExportMission(); });
  bind({FMain.btnStartMission, FMain.N_StartMission}, [t] { t->StartSelectedMission(); });
  bind({FMain.btnStopMission, FMain.N_StopMission}, [t] { t->StopSelectedMission(); });
  bind({FMain.btnStartServer}, [t] { t->StartServer(); });
  bind({FMain.btnStopServer}, [t] { t->StopServer(); });
  bind({FMain.btnReport, FMain.n_report}, [t] { t->ShowReport(); });
  bind({FMain.btnConfig, FMain.N_config}, [t] { t->ShowConfig(); });
  // The double-click first selects its row, so the command edits that row.
  QObject::connect(&FMain, &TfrmMain::MissionDoubleClicked, &FMain, [t](int) { t->EditMission(); });
  QObject::connect(&FMain, &TfrmMain::MissionSelected, &FMain,
                   [t](int Row) { t->MissionSelectItem(Row); });
  QObject::connect(FMain.TimerReady, &QTimer::timeout, &FMain, [t] { t->ReadyTimer(); });
  QObject::connect(FMain.TimerMessage, &QTimer::timeout, &FMain, [t] { t->MessageTimer(); });
  QObject::connect(FMain.TimerCheckServer, &QTimer::timeout, &FMain,
                   [t] { t->CheckServerTimer(); });
  QObject::connect(&FMain, &TfrmMain::FirstShown, &FMain, [t] { t->MainFormShow(); });
  FMain.SetCloseQuery([t] { return t->ConfirmClose(); });
  QObject::connect(FReport.btnChange, &QPushButton::clicked, &FReport,
                   [t] { t->ChangeReportDate(); });
}

QAction* TMainWindowView::Action(TSyncControl Control) const {
  switch (Control) {
    case TSyncControl::StartMissionButton:
      return FMain.btnStartMission;
    case TSyncControl::StopMissionButton:
      return FMain.btnStopMission;
    case TSyncControl::StartMissionMenu:
      return FMain.N_StartMission;
    case TSyncControl::StopMissionMenu:
      return FMain.N_StopMission;
    case TSyncControl::ActivateMenu:
      return FMain.n_ActiveMission;
    case TSyncControl::DisableMenu:
      return FMain.n_disableMission;
    case TSyncControl::StartServerButton:
      return FMain.btnStartServer;
    case TSyncControl::StopServerButton:
      return FMain.btnStopServer;
    case TSyncControl::MainWindow:
      break;
  }
  return nullptr;
}

void TMainWindowView::SetEnabled(TSyncControl Control, bool Enabled) {
  if (Control == TSyncControl::MainWindow)
    FMain.setEnabled(Enabled);
  else if (QAction* a = Action(Control))
    a->setEnabled(Enabled);
}

bool TMainWindowView::IsEnabled(TSyncControl Control) const {
  if (Control == TSyncControl::MainWindow) return FMain.isEnabled();
  const QAction* a = Action(Control);
  return a && a->isEnabled();
}

namespace {
QPlainTextEdit* PaneOf(TfrmMain& Main, TSyncPane Pane) {
  switch (Pane) {
    case TSyncPane::Console:
      return Main.MemoStatus;
    case TSyncPane::Info:
      return Main.MemoInfo;
    case TSyncPane::Config:
      return Main.MemoInstanceConfig;
  }
  return nullptr;
}

QTimer* TimerOf(TfrmMain& Main, TSyncTimer Timer) {
  switch (Timer) {
    case TSyncTimer::Ready:
      return Main.TimerReady;
    case TSyncTimer::Message:
      return Main.TimerMessage;
    case TSyncTimer::CheckServer:
      return Main.TimerCheckServer;
  }
  return nullptr;
}
}  // namespace

void TMainWindowView::AddPaneLine(TSyncPane Pane, const std::string& Text) {
  TfrmMain::AddPaneLine(PaneOf(FMain, Pane), Text);
}

void TMainWindowView::SetPaneText(TSyncPane Pane, const std::string& Text) {
  TfrmMain::SetPaneText(PaneOf(FMain, Pane), Text);
}

void TMainWindowView::SetStatusText(int Panel, const std::string& Text) {
  FMain.SetStatusText(Panel, Text);
}

void TMainWindowView::ShowStatusPrompt(const std::string& Text) {
  FMain.ShowStatusPrompt(Text);
}

void TMainWindowView::BeginRowUpdate() {
  FMain.BeginMissionUpdate();
}
void TMainWindowView::EndRowUpdate() {
  FMain.EndMissionUpdate();
}
void TMainWindowView::ClearRows() {
  FMain.ClearMissionRows();
}
int TMainWindowView::AddRow(const std::vector<std::string>& Cells, int Icon,
                            TKelvorInstance* Mission) {
  return FMain.AddMissionRow(Cells, Icon, Mission);
}
int TMainWindowView::RowCount() const {
  return FMain.MissionRowCount();
}
std::string TMainWindowView::Cell(int Row, int Column) const {
  return FMain.MissionCell(Row, Column);
}
void TMainWindowView::SetCell(int Row, int Column, const std::string& Text) {
  FMain.SetMissionCell(Row, Column, Text);
}
int TMainWindowView::RowIcon(int Row) const {
  return FMain.MissionImage(Row);
}
void TMainWindowView::SetRowIcon(int Row, int Icon) {
  FMain.SetMissionImage(Row, Icon);
}
TKelvorInstance* TMainWindowView::RowMission(int Row) const {
  return FMain.MissionOfRow(Row);
}
int TMainWindowView::SelectedRow() const {
  return FMain.SelectedMissionRow();
}
void TMainWindowView::SelectRow(int Row) {
  FMain.SelectMissionRow(Row);
}

void TMainWindowView::SetRowProgress(int Row, int64_t Done, int64_t Total) {
  FMain.SetMissionProgress(Row, Done, Total);
}

void TMainWindowView::StartTimer(TSyncTimer Timer) {
  if (QTimer* t = TimerOf(FMain, Timer)) t->start();
}

void TMainWindowView::StopTimer(TSyncTimer Timer) {
  if (QTimer* t = TimerOf(FMain, Timer)) t->stop();
}

bool TMainWindowView::AskOkCancel(const std::string& Text) {
  return TDialogs::AskOkCancel(&FMain, Q(Text));
}

void TMainWindowView::ShowMessage(const std::string& Text) {
  TDialogs::ShowMessage(&FMain, Q(Text));
}

std::string TMainWindowView::OpenFileName(const std::string& Filter,
                                          const std::string& StartFolder) {
  return S(TDialogs::OpenFileName(&FMain, ChooserFilter(Filter), Q(StartFolder)));
}

std::string TMainWindowView::SaveFileName(const std::string& Filter, const std::string& StartFolder,
                                          const std::string& DefaultExt) {
  return S(TDialogs::SaveFileName(&FMain, ChooserFilter(Filter), Q(StartFolder), Q(DefaultExt)));
}

bool TMainWindowView::LoadConfigPane(TConfigPane Pane, const std::string& Path) {
  return TConfigDialog::LoadPaneFromFile(
      Pane == TConfigPane::Server ? FConfig.MemoServerConfig : FConfig.MemoTasksConfig, Path);
}

void TMainWindowView::ShowConfigDialog() {
  TDialogs::ExecModal(FConfig);
}

TReportRowSink& TMainWindowView::ReportRows() {
  return FReport;
}

void TMainWindowView::SetReportDate(const TDateTime& Date) {
  FReport.SetReportDate(Date);
}

TDateTime TMainWindowView::ReportDate() const {
  return FReport.ReportDate();
}

void TMainWindowView::ShowReportDialog() {
  TDialogs::ExecModal(FReport);
}

void TMainWindowView::ProcessEvents() {
  QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void TMainWindowView::Wait(int Milliseconds) {
  QEventLoop loop;
  QTimer::singleShot(Milliseconds, &loop, &QEventLoop::quit);
  loop.exec(QEventLoop::ExcludeUserInputEvents);
}

}  // namespace kelvor
