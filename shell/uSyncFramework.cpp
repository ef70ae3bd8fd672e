#include "shell/uSyncFramework.h"

#include <charconv>
#include <exception>
#include <optional>
#include <unordered_set>

#include "platform/Paths.h"
#include "platform/Text.h"
#include "platform/TextFile.h"
#include "platform/Thread.h"
#include "services/uLogService.h"

namespace kelvor {

namespace {

constexpr int kMissionWaitMs = 3000;
// The waits look at the channel this often; they end as soon as the daemon
// followed, and never later than kMissionWaitMs.
constexpr int kMissionWaitStepMs = 100;

std::unique_ptr<TSyncFramework>& Instance() {
  static std::unique_ptr<TSyncFramework> instance;
  return instance;
}

// Reads the decimal number that Text starts with into Value (digits only, no
// sign); returns what follows it, or nothing when there is no number or it
// does not fit.
std::optional<std::string_view> ReadCount(std::string_view Text, int64_t& Value) {
  if (Text.empty() || Text.front() < '0' || Text.front() > '9') return std::nullopt;
  const auto [end, error] = std::from_chars(Text.data(), Text.data() + Text.size(), Value);
  if (error != std::errc()) return std::nullopt;
  return Text.substr(static_cast<size_t>(end - Text.data()));
}

}  // namespace

bool ParseAppliedLine(std::string_view Line, int64_t& Done, int64_t& Total) {
  const std::string line = TrimText(Line);
  std::string_view rest = line;
  constexpr std::string_view kApplied = "applied ", kOf = " of ";
  if (rest.substr(0, kApplied.size()) != kApplied) return false;
  int64_t done = 0, total = 0;
  std::optional<std::string_view> after = ReadCount(rest.substr(kApplied.size()), done);
  if (!after || after->substr(0, kOf.size()) != kOf) return false;
  after = ReadCount(after->substr(kOf.size()), total);
  if (!after || !after->empty() || total <= 0 || done > total) return false;
  Done = done;
  Total = total;
  return true;
}

TSyncFramework* GetSyncFramework(TSyncView* View) {
  if (Instance() || !View) return Instance().get();
  Instance() = CreateSyncFramework(*View);
  return Instance().get();
}

void FreeSyncFramework() {
  Instance().reset();
}

std::unique_ptr<TSyncFramework> CreateSyncFramework(TSyncView& View) {
  View.AddPaneLine(TSyncPane::Console, SyncText::Initializing);
  View.AddPaneLine(TSyncPane::Console, SyncText::LoadingMissions);
  auto framework = std::make_unique<TSyncFramework>(View);
  View.BindCommands(*framework);
  View.AddPaneLine(TSyncPane::Console, SyncText::MissionsLoaded);
  return framework;
}

TSyncFramework::TSyncFramework(TSyncView& View)
    : FView(View),
      FAppPath(IncludeTrailingSeparator(ProgramFolder())),
      FChannels(GetBroadMessageHandler()) {
  FMissions.SetFolder(FAppPath + "../tasks/dbtasks/");
}

// The program stops the service and waits for its threads
// (StopServiceForExit) before the catalogue they use goes with the controller.
TSyncFramework::~TSyncFramework() = default;

// ---------------------------------------------------------------------------
// Helpers

std::shared_ptr<TKelvorInstance> TSyncFramework::SelectedMission(int* Index) const {
  const int row = FView.SelectedRow();
  if (row < 0) return nullptr;
  const TKelvorInstance* record = FView.RowMission(row);
  if (!record) return nullptr;
  // The row's own record, not the first of its name: names are not unique
  // in a catalogue loaded from hand-written files.
  for (int i = 0, n = FMissions.Count(); i < n; ++i) {
    std::shared_ptr<TKelvorInstance> item = FMissions.GetItem(i);
    if (item.get() == record) {
      if (Index) *Index = i;
      return item;
    }
  }
  return nullptr;
}

bool TSyncFramework::MissionRunning(const std::string& Name) const {
  TBroadMessage* channel = FChannels ? FChannels->Find(Name) : nullptr;
  return channel && channel->GetRunState() == 1;
}

bool TSyncFramework::WriteMission(TKelvorInstance& Record, const std::string& Path) {
  if (Record.WriteTaskFile(Path)) return true;
  WriteLog("save mission file " + Path + " error");
  FView.ShowMessage(SyncText::SaveFailed + Path);
  return false;
}

bool TSyncFramework::SaveMission(TKelvorInstance& Record) {
  // Under its name where that loses no other task: a renamed task's old file
  // goes and tasks.ini names the new one, so the task is found at the next
  // start. The catalogue says when it kept another file, or wrote none.
  try {
    std::string note;
    const bool saved = FMissions.SaveMission(Record, &note);
    if (!note.empty()) WriteLog(note);
    if (saved) return true;
    const std::string path = Record.FileName.empty()
                                 ? FMissions.Folder() + Record.MissionName + ".xml"
                                 : Record.FileName;
    if (note.empty()) WriteLog("save mission file " + path + " error");
    FView.ShowMessage(SyncText::SaveFailed + path);
  } catch (const std::exception& e) {
    // The task file was written; tasks.ini was not.
    WriteLog(e.what());
    FView.ShowMessage(SyncText::SaveFailed + FMissions.IndexFileName());
  }
  return false;
}

void TSyncFramework::SaveIndex() {
  try {
    FMissions.SaveIndex();
  } catch (const std::exception& e) {
    WriteLog(e.what());
    FView.ShowMessage(SyncText::SaveFailed + FMissions.IndexFileName());
  }
}

void TSyncFramework::WaitWindow(int Milliseconds) {
  ++FWaitDepth;
  FView.Wait(Milliseconds);
  --FWaitDepth;
}

void TSyncFramework::WaitForRunState(TBroadMessage* Channel, int State) {
  for (int waited = 0; waited < kMissionWaitMs; waited += kMissionWaitStepMs) {
    if (Channel->GetRunState() == State) return;
    WaitWindow(kMissionWaitStepMs);
  }
}

// ---------------------------------------------------------------------------
// Start-up and the service

void TSyncFramework::MainFormShow() {
  FView.StartTimer(TSyncTimer::Ready);
  FView.StartTimer(TSyncTimer::Message);
}

void TSyncFramework::ReadyTimer() {
  FView.StopTimer(TSyncTimer::Ready);
  if (FServiceState != TServiceState::NotStarted) return;
  // With no task loaded the window still opens, empty, with the service
  // running, so that the operator can make the first task.
  try {
    FMissions.LoadAll();
  } catch (const std::exception& e) {
    WriteLog(e.what());
  }
  FillMissionList();
  CreateService();
  FView.SetStatusText(0, SyncText::MissionCount + std::to_string(FView.RowCount()));
  FService->Resume();
  FView.SetEnabled(TSyncControl::StartServerButton, false);
  FView.SetEnabled(TSyncControl::StopServerButton, true);
  FServiceState = TServiceState::Running;
  FView.SetEnabled(TSyncControl::MainWindow, true);
}

void TSyncFramework::CreateService() {
  FService = std::make_shared<TRevoroProxyService>(&FMissions);
  // The manager registered its channel under ServiceChannelId, so Find
  // yields that very channel; taking it from the manager says so.
  FServiceChannel = FService->ServiceChannel;
  FServiceReady = true;
}

void TSyncFramework::StartServer() {
  if (FServiceState != TServiceState::Stopped) return;
  // The previous manager's last line would be lost with its channel.
  if (FServiceChannel && FServiceChannel->HasLines())
    FView.AddPaneLine(TSyncPane::Console, FServiceChannel->TakeText());
  CreateService();
  FView.SetStatusText(0, SyncText::MissionCount + std::to_string(FView.RowCount()));
  FService->Resume();
  FView.SetEnabled(TSyncControl::StartServerButton, false);
  FView.SetEnabled(TSyncControl::StopServerButton, true);
  FServiceState = TServiceState::Running;
}

void TSyncFramework::StopServer() {
  if (FServiceState != TServiceState::Running || !FService) return;
  FServiceState = TServiceState::Stopping;
  FView.SetEnabled(TSyncControl::StartServerButton, false);
  FView.SetEnabled(TSyncControl::StopServerButton, false);
  // A start request left on a channel now would be answered by the next
  // manager as well as by the daemon that manager builds itself.
  FView.SetEnabled(TSyncControl::StartMissionButton, false);
  FView.SetEnabled(TSyncControl::StartMissionMenu, false);
  FService->ServiceChannel->RequestStopAll();
  WaitWindow(TSyncFramework::kStopAllPauseMs);
  RequestServiceStop(*FService, FMissions, 0);
  FView.StartTimer(TSyncTimer::CheckServer);
}

void TSyncFramework::CheckServerTimer() {
  FView.StopTimer(TSyncTimer::CheckServer);
  if (FServiceState != TServiceState::Stopping) return;
  if (AnyDaemonRunning()) {
    FView.StartTimer(TSyncTimer::CheckServer);
    return;
  }
  FView.SetEnabled(TSyncControl::StartServerButton, true);
  FView.SetEnabled(TSyncControl::StopServerButton, false);
  FView.SetEnabled(TSyncControl::StartMissionButton, false);
  FView.SetEnabled(TSyncControl::StartMissionMenu, false);
  FServiceState = TServiceState::Stopped;
}

bool TSyncFramework::StopServiceForExit(std::chrono::milliseconds Timeout, int PauseMs) {
  if (FServiceState == TServiceState::Running && FService) {
    FServiceState = TServiceState::Stopping;
    RequestServiceStop(*FService, FMissions, PauseMs);
  }
  const auto end = std::chrono::steady_clock::now() + Timeout;
  for (;;) {
    const bool managerDone = !FService || !FService->Started() || FService->Finished();
    if (managerDone && !AnyDaemonRunning()) return true;
    if (std::chrono::steady_clock::now() >= end) return false;
    TThread::Sleep(50);
  }
}

// ---------------------------------------------------------------------------
// The console, the task list and the selection

void TSyncFramework::MessageTimer() {
  FView.StopTimer(TSyncTimer::Message);
  if (FServiceReady && FServiceChannel && FServiceChannel->HasLines()) {
    FView.AddPaneLine(TSyncPane::Console, FServiceChannel->TakeText());
    FView.ProcessEvents();
  }
  RefreshMissionStates();
  FView.StartTimer(TSyncTimer::Message);
}

void TSyncFramework::RefreshMissionStates() {
  if (!FChannels) return;
  std::unordered_set<const TBroadMessage*> seen;
  for (int row = 0; row < FView.RowCount(); ++row) {
    TBroadMessage* channel = FChannels->Find(FView.Cell(row, mcMission));
    if (!channel) continue;
    seen.insert(channel);
    const int state = channel->GetRunState();
    if (state != FView.RowIcon(row)) {
      FView.SetRowIcon(row, state);
      FView.SetCell(row, mcState, state == 0 ? SyncText::Stopped : SyncText::Running);
      FView.SetCell(row, mcStart, channel->GetStartedAt());
      FView.SetCell(row, mcEnd, channel->GetStoppedAt());
      // The selected task's commands follow what it now does: a task just
      // started can be stopped without selecting it again.
      if (row == FView.SelectedRow())
        if (const TKelvorInstance* task = FView.RowMission(row))
          SetMissionCommands(state, task->IsActive);
    }
    // Every channel is drained, so that each running task's progress shows
    // whichever row is selected; the text waits here instead.
    TMissionFeed& feed = FFeeds[channel];
    if (channel->HasLines()) {
      const std::string text = channel->TakeText();
      feed.Pending += text;
      for (const std::string& line : SplitLines(text))
        if (!ParseAppliedLine(line, feed.Done, feed.Total)) feed.Total = 0;
    }
    // A daemon that ended has no run under way, whatever its last line.
    if (state == 0) feed.Total = 0;
    ShowProgress(row, channel);
    if (row == FView.SelectedRow() && !feed.Pending.empty()) {
      FView.AddPaneLine(TSyncPane::Info, feed.Pending);
      feed.Pending.clear();
    }
  }
  // Tasks deleted, and channels a new start of the service replaced.
  std::erase_if(FFeeds, [&](const auto& Feed) { return seen.count(Feed.first) == 0; });
}

void TSyncFramework::ShowProgress(int Row, const TBroadMessage* Channel) {
  const auto feed = FFeeds.find(Channel);
  if (feed == FFeeds.end() || feed->second.Total <= 0)
    FView.SetRowProgress(Row, 0, 0);
  else
    FView.SetRowProgress(Row, feed->second.Done, feed->second.Total);
}

void TSyncFramework::FillMissionList() {
  FView.BeginRowUpdate();
  FView.ClearRows();
  for (int i = 0, n = FMissions.Count(); i < n; ++i) {
    std::shared_ptr<TKelvorInstance> task = FMissions.GetItem(i);
    if (!task) break;
    // A task that can never run says so; the service's lines say why.
    const char* state = task->WhyNotRunnable().empty() ? SyncText::Stopped : SyncText::NotRunnable;
    const int row = FView.AddRow(
        {std::to_string(i + 1), task->MissionName, task->RunStartTime.Get(), task->RunEndTime.Get(),
         state, task->IsActive ? SyncText::Activated : SyncText::NotActivated, task->Note},
        miStopped, task.get());
    // Selected while its icon is still 0: the enabled states follow the
    // icon-0 rows.
    if (task->MissionName == FCurrentMission) FView.SelectRow(row);
    if (!task->IsActive) FView.SetRowIcon(row, miNotActivated);
    // A run under way keeps its bar through the rebuild.
    if (FChannels)
      if (const TBroadMessage* channel = FChannels->Find(task->MissionName))
        ShowProgress(row, channel);
  }
  FView.EndRowUpdate();
  FView.SetStatusText(0, SyncText::MissionCount + std::to_string(FView.RowCount()));
}

void TSyncFramework::MissionSelectItem(int Row) {
  TKelvorInstance* task = FView.RowMission(Row);
  if (!task) return;
  FView.SetPaneText(TSyncPane::Config, task->SaveToText());
  if (FLastItem != task) {
    if (FLastItem) FView.SetPaneText(TSyncPane::Info, std::string());
    FLastItem = task;
  }
  SetMissionCommands(FView.RowIcon(Row), task->IsActive);
}

void TSyncFramework::SetMissionCommands(int Icon, bool IsActive) {
  bool start = false, stopButton = false, stopMenu = false, activate = false, disable = false;
  if (Icon == miStopped) {
    start = IsActive && FServiceState == TServiceState::Running;
    activate = !IsActive;
    disable = IsActive;
  } else if (Icon == miRunning) {
    stopButton = stopMenu = true;
  } else {
    activate = true;
  }
  FView.SetEnabled(TSyncControl::StartMissionButton, start);
  FView.SetEnabled(TSyncControl::StartMissionMenu, start);
  FView.SetEnabled(TSyncControl::StopMissionButton, stopButton);
  FView.SetEnabled(TSyncControl::StopMissionMenu, stopMenu);
  FView.SetEnabled(TSyncControl::ActivateMenu, activate);
  FView.SetEnabled(TSyncControl::DisableMenu, disable);
}

// ---------------------------------------------------------------------------
// Commands on tasks

void TSyncFramework::NewMission() {
  auto task = std::make_shared<TKelvorInstance>();
  task->Owner = &FMissions;
  if (!task->EditNew()) return;
  FMissions.Add(task);
  SaveMission(*task);
  if (FServiceState == TServiceState::Running && FService) FService->AddMission(task);
  // The new task's row is the one selected after the rebuild.
  FCurrentMission = task->MissionName;
  FillMissionList();
  SaveIndex();
}

void TSyncFramework::EditMission() {
  const int row = FView.SelectedRow();
  std::shared_ptr<TKelvorInstance> task = SelectedMission();
  if (!task) {
    FView.ShowStatusPrompt(SyncText::SelectToEdit);
    return;
  }
  // The row's icon may be a tick behind the daemon; its channel is not.
  const bool running = FView.RowIcon(row) == miRunning || MissionRunning(task->MissionName);
  if (!task->Edit(running)) return;
  SaveMission(*task);
  FCurrentMission = task->MissionName;
  FillMissionList();
}

void TSyncFramework::DeleteMission() {
  int index = -1;
  std::shared_ptr<TKelvorInstance> task = SelectedMission(&index);
  if (!task) return;
  if (MissionRunning(task->MissionName)) {
    FView.ShowMessage(SyncText::CannotDeleteRunning);
    return;
  }
  if (!FView.AskOkCancel(SyncText::ConfirmDelete)) return;
  task->DeleteTaskFile();
  FCurrentMission = task->MissionName;
  if (FLastItem == task.get()) FLastItem = nullptr;
  FMissions.Delete(index);
  task.reset();
  FillMissionList();
  SaveIndex();
}

void TSyncFramework::ActivateMission() {
  std::shared_ptr<TKelvorInstance> task = SelectedMission();
  if (!task) return;
  task->IsActive = true;
  SaveMission(*task);
  FCurrentMission = task->MissionName;
  FillMissionList();
}

void TSyncFramework::DisableMission() {
  std::shared_ptr<TKelvorInstance> task = SelectedMission();
  if (!task) return;
  task->IsActive = false;
  SaveMission(*task);
  FCurrentMission = task->MissionName;
  FillMissionList();
}

void TSyncFramework::ImportMission() {
  const std::string path = FView.OpenFileName(SyncText::TaskFileFilter, "");
  if (path.empty()) return;
  auto task = std::make_shared<TKelvorInstance>();
  task->LoadFromFile(path);
  // Not listed yet: with its Owner set the dialog refuses a name the
  // catalogue already has, also when it is the file's unchanged name.
  task->Owner = &FMissions;
  if (!task->Edit(false)) return;
  // Its file is made in the task folder; the chosen file stays where it is.
  task->FileName.clear();
  FMissions.Add(task);
  SaveMission(*task);
  if (FServiceState == TServiceState::Running && FService) FService->AddMission(task);
  FCurrentMission = task->MissionName;
  FillMissionList();
  SaveIndex();
}

void TSyncFramework::ExportMission() {
  std::shared_ptr<TKelvorInstance> task = SelectedMission();
  if (!task) {
    FView.ShowStatusPrompt(SyncText::SelectToExport);
    return;
  }
  const std::string path = FView.SaveFileName(SyncText::TaskFileFilter, "", "xml");
  if (path.empty()) return;
  WriteMission(*task, path);
}

void TSyncFramework::StartSelectedMission() {
  const int row = FView.SelectedRow();
  if (row < 0) return;
  FView.SetEnabled(TSyncControl::StartMissionButton, false);
  FView.SetEnabled(TSyncControl::StopMissionButton, false);
  StartMission(FView.Cell(row, mcMission));
}

void TSyncFramework::StopSelectedMission() {
  const int row = FView.SelectedRow();
  if (row < 0) return;
  FView.SetEnabled(TSyncControl::StartMissionButton, false);
  FView.SetEnabled(TSyncControl::StopMissionButton, false);
  StopMission(FView.Cell(row, mcMission));
}

void TSyncFramework::StartMission(const std::string& Name) {
  // Whatever keeps the task from starting is said in the console: the
  // operator clicked, and a greyed button alone explains nothing.
  auto refuse = [&](const char* Reason) {
    FView.AddPaneLine(TSyncPane::Console, "任务<" + Name + ">" + SyncText::NotStarted + Reason);
  };
  // Only a running manager answers a start request; one left behind would
  // give the task a second daemon at the next start of the service.
  if (FServiceState != TServiceState::Running || !FService || !FChannels)
    return refuse(SyncText::ServiceNotRunning);
  std::shared_ptr<TKelvorInstance> task = FMissions.FindByName(Name);
  if (!task) return refuse(SyncText::NoSuchMission);
  if (!task->IsActive) return refuse(SyncText::NotActivated);
  if (const std::string why = task->WhyNotRunnable(); !why.empty())
    return FView.AddPaneLine(TSyncPane::Console, "任务<" + Name + ">" + SyncText::NotStarted +
                                                     SyncText::NotRunnable + ": " + why);
  TBroadMessage* channel = FChannels->Find(Name);
  if (channel && channel->GetRunState() == 1) return refuse(SyncText::AlreadyRunning);
  if (!channel) {
    // Activated after the service started, so the manager never built it
    // a daemon: it gets one now, as a task added while the service runs.
    FService->AddMission(task);
    channel = FChannels->Find(Name);
    if (!channel) return refuse(SyncText::NotAnswered);
    WaitForRunState(channel, 1);
    return;
  }
  channel->SetMissionName(Name);
  channel->RequestStart();
  WaitForRunState(channel, 1);
  // A daemon may start and end (a run-once task) between two looks at the
  // channel; a request the manager took up was answered either way.
  if (channel->GetRunState() != 1 && channel->IsStartRequested()) refuse(SyncText::NotAnswered);
}

void TSyncFramework::StopMission(const std::string& Name) {
  if (!FChannels) return;
  TBroadMessage* channel = FChannels->Find(Name);
  std::shared_ptr<TKelvorInstance> task = FMissions.FindByName(Name);
  if (!channel || !task) return;
  task->RequestStop();
  WaitForRunState(channel, 0);
}

// ---------------------------------------------------------------------------
// Viewers and closing

void TSyncFramework::ShowConfig() {
  const std::string server = ServerIniPath();
  if (FileExists(server)) FView.LoadConfigPane(TConfigPane::Server, server);
  const std::string index = FMissions.IndexFileName();
  if (FileExists(index)) FView.LoadConfigPane(TConfigPane::Tasks, index);
  FView.ShowConfigDialog();
}

void TSyncFramework::ShowReport() {
  const TDateTime now = Clock::Now();
  FView.SetReportDate(now);
  FReportHandler.LoadDay(FView.ReportRows(), now);
  FView.ShowReportDialog();
}

void TSyncFramework::ChangeReportDate() {
  FReportHandler.LoadDay(FView.ReportRows(), FView.ReportDate());
}

bool TSyncFramework::ConfirmClose() {
  // A close arriving while a wait lets the window run is not taken up.
  if (FWaitDepth > 0) return false;
  if (!FView.AskOkCancel(SyncText::ConfirmExit)) return false;
  if (FServiceState == TServiceState::Running) StopServer();
  return true;
}

}  // namespace kelvor
