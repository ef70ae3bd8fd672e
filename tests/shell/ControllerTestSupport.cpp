#include "ControllerTestSupport.h"

#include "platform/TextFile.h"
#include "platform/Thread.h"

namespace kelvor::test {

std::vector<std::string> PaneLines(const std::string& Text) {
  std::vector<std::string> lines = SplitLines(Text);
  // A pane shows an empty last line after a final line break.
  if (!Text.empty() && (Text.back() == '\n' || Text.back() == '\r')) lines.push_back("");
  return lines;
}

// ---------------------------------------------------------------------------
// TFakeSyncView

TFakeSyncView::TFakeSyncView() {
  // The main window's initial states.
  for (TSyncControl c :
       {TSyncControl::MainWindow, TSyncControl::StartMissionButton, TSyncControl::StopMissionButton,
        TSyncControl::StartMissionMenu, TSyncControl::StopMissionMenu, TSyncControl::ActivateMenu,
        TSyncControl::DisableMenu, TSyncControl::StartServerButton})
    Enabled[c] = false;
  Enabled[TSyncControl::StopServerButton] = true;
}

void TFakeSyncView::BindCommands(TSyncFramework& ATarget) {
  Target = &ATarget;
  Trace.push_back("bind");
}

void TFakeSyncView::SetEnabled(TSyncControl Control, bool On) {
  Enabled[Control] = On;
  if (Control == TSyncControl::MainWindow) Trace.push_back(On ? "window on" : "window off");
}

void TFakeSyncView::AddPaneLine(TSyncPane Pane, const std::string& Text) {
  std::vector<std::string> lines = PaneLines(Text);
  if (lines.empty()) lines.push_back("");
  for (const std::string& line : lines) {
    Panes[static_cast<int>(Pane)].push_back(line);
    if (Pane == TSyncPane::Console) Trace.push_back("console:" + line);
  }
}

void TFakeSyncView::ClearRows() {
  Rows.clear();
  Selected = -1;
}

int TFakeSyncView::AddRow(const std::vector<std::string>& Cells, int Icon,
                          TKelvorInstance* Mission) {
  Rows.push_back(TRow{Cells, Icon, Mission});
  Rows.back().Cells.resize(mcColumnCount);
  return RowCount() - 1;
}

void TFakeSyncView::SelectRow(int Row) {
  Selected = RowAt(Row) ? Row : -1;
  if (Selected < 0) return;
  if (UpdateDepth > 0) ++SelectionsDuringUpdate;
  if (Target) Target->MissionSelectItem(Row);
}

int TFakeSyncView::RowOf(const std::string& MissionName) const {
  for (int r = 0; r < RowCount(); ++r)
    if (Cell(r, mcMission) == MissionName) return r;
  return -1;
}

std::string TFakeSyncView::Progress(const std::string& MissionName) const {
  const TRow* row = RowAt(RowOf(MissionName));
  if (!row || row->Total <= 0) return "";
  return std::to_string(row->Done) + " of " + std::to_string(row->Total);
}

bool TFakeSyncView::AskOkCancel(const std::string& Text) {
  Questions.push_back(Text);
  if (Answers.empty()) return false;
  const bool ok = Answers.front();
  Answers.pop_front();
  return ok;
}

std::string TFakeSyncView::FileName(const std::string& Chooser) {
  Choosers.push_back(Chooser);
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
    TEditorScript::TCall call{FRecord.MissionName, ReadOnly, !FLoaded, FRecord.Owner != nullptr};
    FLoaded = false;
    FStep = TEditorStep{};
    if (!FScript.Steps.empty()) {
      FStep = FScript.Steps.front();
      FScript.Steps.pop_front();
    }
    FName = FStep.Name.empty() ? FRecord.MissionName : FStep.Name;
    bool ok = FStep.Ok && !ReadOnly;
    if (ok && FRecord.CheckNameClash(FName)) ok = false;  // the dialog refuses the name
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

}  // namespace kelvor::test
