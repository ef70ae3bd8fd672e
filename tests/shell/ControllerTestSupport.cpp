#include "ControllerTestSupport.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "platform/Paths.h"
#include "platform/TextFile.h"
#include "services/uLogService.h"
#include "services/uReportService.h"

namespace kelvor::test {

std::vector<std::string> PaneLines(const std::string& Text) {
  std::vector<std::string> lines;
  if (Text.empty()) return lines;
  std::string line;
  for (size_t i = 0; i < Text.size(); ++i) {
    const char c = Text[i];
    if (c == '\r' || c == '\n') {
      lines.push_back(line);
      line.clear();
      if (c == '\r' && i + 1 < Text.size() && Text[i + 1] == '\n') ++i;
    } else {
      line += c;
    }
  }
  lines.push_back(line);
  return lines;
}

// ---------------------------------------------------------------------------
// TFakeSyncView

TFakeSyncView::TFakeSyncView() {
  // The main window's initial states.
  Enabled = {{TSyncControl::MainWindow, false},        {TSyncControl::StartMissionButton, false},
             {TSyncControl::StopMissionButton, false}, {TSyncControl::StartMissionMenu, false},
             {TSyncControl::StopMissionMenu, false},   {TSyncControl::ActivateMenu, false},
             {TSyncControl::DisableMenu, false},       {TSyncControl::StartServerButton, false},
             {TSyncControl::StopServerButton, true}};
}

void TFakeSyncView::BindCommands(TSyncFramework& ATarget) {
  Target = &ATarget;
  Trace.push_back("bind");
}

void TFakeSyncView::SetEnabled(TSyncControl Control, bool On) {
  Enabled[Control] = On;
  if (Control == TSyncControl::MainWindow) Trace.push_back(On ? "window on" : "window off");
}

bool TFakeSyncView::IsEnabled(TSyncControl Control) const {
  auto it = Enabled.find(Control);
  return it != Enabled.end() && it->second;
}

void TFakeSyncView::AddPaneLine(TSyncPane Pane, const std::string& Text) {
  std::vector<std::string>& pane = Panes[static_cast<int>(Pane)];
  std::vector<std::string> lines = PaneLines(Text);
  if (lines.empty()) lines.push_back("");
  for (const std::string& line : lines) {
    pane.push_back(line);
    if (Pane == TSyncPane::Console) Trace.push_back("console:" + line);
  }
}

void TFakeSyncView::SetPaneText(TSyncPane Pane, const std::string& Text) {
  Panes[static_cast<int>(Pane)] = PaneLines(Text);
}

void TFakeSyncView::SetStatusText(int Panel, const std::string& Text) {
  if (Panel >= 0 && Panel < 3) Status[Panel] = Text;
}

void TFakeSyncView::ShowStatusPrompt(const std::string& Text) {
  Status[1] = Text;
  Prompts.push_back(Text);
}

void TFakeSyncView::ClearRows() {
  Rows.clear();
  Selected = -1;
}

int TFakeSyncView::AddRow(const std::vector<std::string>& Cells, int Icon,
                          TKelvorInstance* Mission) {
  TRow row;
  row.Cells = Cells;
  row.Cells.resize(mcColumnCount);
  row.Icon = Icon;
  row.Mission = Mission;
  Rows.push_back(row);
  return static_cast<int>(Rows.size()) - 1;
}

std::string TFakeSyncView::Cell(int Row, int Column) const {
  if (Row < 0 || Row >= RowCount() || Column < 0 || Column >= mcColumnCount) return {};
  return Rows[static_cast<size_t>(Row)].Cells[static_cast<size_t>(Column)];
}

void TFakeSyncView::SetCell(int Row, int Column, const std::string& Text) {
  if (Row < 0 || Row >= RowCount() || Column < 0 || Column >= mcColumnCount) return;
  Rows[static_cast<size_t>(Row)].Cells[static_cast<size_t>(Column)] = Text;
}

int TFakeSyncView::RowIcon(int Row) const {
  return Row >= 0 && Row < RowCount() ? Rows[static_cast<size_t>(Row)].Icon : -1;
}

void TFakeSyncView::SetRowIcon(int Row, int Icon) {
  if (Row >= 0 && Row < RowCount()) Rows[static_cast<size_t>(Row)].Icon = Icon;
}

TKelvorInstance* TFakeSyncView::RowMission(int Row) const {
  return Row >= 0 && Row < RowCount() ? Rows[static_cast<size_t>(Row)].Mission : nullptr;
}

void TFakeSyncView::SelectRow(int Row) {
  if (Row < 0 || Row >= RowCount()) {
    Selected = -1;
    return;
  }
  Selected = Row;
  if (UpdateDepth > 0) ++SelectionsDuringUpdate;
  if (Target) Target->MissionSelectItem(Row);
}

void TFakeSyncView::ClickRow(int Row) {
  SelectRow(Row);
}

int TFakeSyncView::RowOf(const std::string& MissionName) const {
  for (int r = 0; r < RowCount(); ++r)
    if (Cell(r, mcMission) == MissionName) return r;
  return -1;
}

void TFakeSyncView::StartTimer(TSyncTimer Timer) {
  ActiveTimers.insert(Timer);
}

void TFakeSyncView::StopTimer(TSyncTimer Timer) {
  ActiveTimers.erase(Timer);
}

bool TFakeSyncView::AskOkCancel(const std::string& Text) {
  Questions.push_back(Text);
  if (Answers.empty()) return false;
  const bool ok = Answers.front();
  Answers.pop_front();
  return ok;
}

void TFakeSyncView::ShowMessage(const std::string& Text) {
  Messages.push_back(Text);
}

std::string TFakeSyncView::OpenFileName(const std::string& Filter, const std::string& StartFolder) {
  Choosers.push_back("open:" + Filter + "|" + StartFolder);
  if (FileNames.empty()) return {};
  std::string name = FileNames.front();
  FileNames.pop_front();
  return name;
}

std::string TFakeSyncView::SaveFileName(const std::string& Filter, const std::string& StartFolder,
                                        const std::string& DefaultExt) {
  Choosers.push_back("save:" + Filter + "|" + StartFolder + "|" + DefaultExt);
  if (FileNames.empty()) return {};
  std::string name = FileNames.front();
  FileNames.pop_front();
  return name;
}

bool TFakeSyncView::LoadConfigPane(TConfigPane Pane, const std::string& Path) {
  std::string text;
  if (!ReadWholeFile(Path, text)) return false;
  ConfigPanes[Pane] = text;
  return true;
}

void TFakeSyncView::ShowReportDialog() {
  ++ReportShown;
  if (OnReportShown) OnReportShown();
}

void TFakeSyncView::Wait(int Milliseconds) {
  WaitedMs += Milliseconds;
  if (OnWait) OnWait();
  TThread::Sleep(Milliseconds);
}

// ---------------------------------------------------------------------------
// TEditorScript

namespace {

class TScriptedEditor : public TInstanceEditor {
 public:
  TScriptedEditor(TEditorScript& Script, TKelvorInstance& Record)
      : FScript(Script), FRecord(Record) {}

  void LoadToEditor(const TKelvorInstance&) override { FLoaded = true; }
  void ReadFromEditor(TKelvorInstance& Instance) override {
    Instance.MissionName = FName;
    if (FStep.Apply) FStep.Apply(Instance);
  }
  bool Execute(bool ReadOnly) override {
    TEditorScript::TCall call;
    call.Name = FRecord.MissionName;
    call.ReadOnly = ReadOnly;
    call.New = !FLoaded;
    call.OwnerSet = FRecord.Owner != nullptr;
    FLoaded = false;
    FStep = TEditorStep{};
    if (!FScript.Steps.empty()) {
      FStep = FScript.Steps.front();
      FScript.Steps.pop_front();
    }
    FName = FStep.Name.empty() ? FRecord.MissionName : FStep.Name;
    bool ok = FStep.Ok && !ReadOnly;
    if (ok && FRecord.CheckNameClash(FName)) {
      call.NameRefused = true;
      ok = false;
    }
    FScript.Calls.push_back(call);
    return ok;
  }

 private:
  TEditorScript& FScript;
  TKelvorInstance& FRecord;
  TEditorStep FStep;
  std::string FName;
  bool FLoaded = false;
};

}  // namespace

TEditorScript::TEditorScript() {
  SetInstanceEditorFactory([this](TKelvorInstance& Record) -> std::unique_ptr<TInstanceEditor> {
    return std::make_unique<TScriptedEditor>(*this, Record);
  });
}

TEditorScript::~TEditorScript() {
  SetInstanceEditorFactory(nullptr);
}

// ---------------------------------------------------------------------------
// Installation

TCwdScope::TCwdScope(const std::string& Folder) {
  char buf[4096];
  if (::getcwd(buf, sizeof buf) == nullptr || ::chdir(Folder.c_str()) != 0) {
    ADD_FAILURE() << "cannot change to " << Folder;
    std::abort();
  }
  FPrevious = buf;
}

TCwdScope::~TCwdScope() {
  if (::chdir(FPrevious.c_str()) != 0) std::abort();
}

TControllerHome::TControllerHome(int SourceRows) : FCwd(FHome.BinFolder()) {
  for (const char* folder : {"tasks/dbtasks", "logs", "reports", "conf"})
    std::filesystem::create_directories(FHome.Root() + folder);
  WriteFileOrDie(ServerIniPath(), "[server]\r\nport=9000\r\n");
  Source = FHome.CreateSqliteFile("source.db");
  Destination = FHome.CreateSqliteFile("destination.db");
  TDbConnection src, dst;
  src.SetConnectionString(AccessConnectionString(Source));
  dst.SetConnectionString(AccessConnectionString(Destination));
  src.Open();
  dst.Open();
  ExecOn(src, "create table t(id integer primary key, name varchar(20))");
  ExecOn(dst, "create table t(id integer primary key, name varchar(20))");
  src.BeginTrans();
  for (int i = 1; i <= SourceRows; ++i)
    ExecOn(src, "insert into t values(" + std::to_string(i) + ",'row " + std::to_string(i) + "')");
  src.CommitTrans();
}

TControllerHome::~TControllerHome() {
  // Everything queued reaches its file before the folders go.
  StopLogService(std::chrono::milliseconds(2000));
  StopReportService(std::chrono::milliseconds(2000));
}

std::string TControllerHome::ReportPath(const TDateTime& Day) const {
  return FHome.Root() + "reports/report" + FormatDayStamp(Day) + ".txt";
}

std::shared_ptr<TKelvorInstance> TControllerHome::CopyTask(const std::string& Name) const {
  auto task = std::make_shared<TKelvorInstance>();
  task->MissionName = Name;
  task->Version = "1.0";
  task->Note = "copy of " + Name;
  task->IsActive = true;
  task->Mode = modeOnce;
  task->TimePoint = "17:30";
  task->Source = SqliteDataSource(Source);
  task->Destination = SqliteDataSource(Destination);
  task->FieldMaps.DstTable = "t";
  task->FieldMaps.OperationType = opUpdateThenInsert;
  task->FieldMaps.SetCommand("select * from t");
  task->FieldMaps.SetFieldMapText("<id>:<id|integer|0|true>\r\n<name>:<name|varchar|20|false>");
  return task;
}

std::shared_ptr<TKelvorInstance> TControllerHome::WatchTask(const std::string& Name) const {
  auto task = CopyTask(Name);
  task->Mode = modePlanned;
  task->ScheduleMode = scheduleDaily;
  task->TimePoint = "23:59";
  return task;
}

void TControllerHome::StoreTask(TKelvorInstance& Task) const {
  Task.FileName = TaskFolder() + Task.MissionName + ".xml";
  ASSERT_TRUE(Task.WriteTaskFile(Task.FileName)) << Task.FileName;
}

void TControllerHome::WriteIndex(const std::vector<std::string>& Files) const {
  std::string text = "#define all tasks....\r\n";
  for (const std::string& f : Files)
    text += f + "\r\n";
  WriteFileOrDie(IndexPath(), text);
}

std::string TControllerHome::DestinationScalar(const std::string& Sql) const {
  TDbConnection dst;
  dst.SetConnectionString(AccessConnectionString(Destination));
  dst.Open();
  return ScalarOn(dst, Sql);
}

TWriteLock::TWriteLock(const std::string& Path) : FConnection(std::make_unique<TDbConnection>()) {
  FConnection->SetConnectionString(AccessConnectionString(Path));
  FConnection->Open();
  FConnection->BeginTrans();
}

void TWriteLock::Release() {
  if (!FConnection) return;
  FConnection->RollbackTrans();
  FConnection->Close();
  FConnection.reset();
}

bool WaitUntil(const std::function<bool()>& Condition, std::chrono::milliseconds Timeout) {
  const auto end = std::chrono::steady_clock::now() + Timeout;
  while (!Condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    TThread::Sleep(10);
  }
  return true;
}

}  // namespace kelvor::test
