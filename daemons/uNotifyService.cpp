#include "daemons/uNotifyService.h"

#include <exception>
#include <optional>

#include "platform/Clock.h"
#include "platform/Locks.h"
#include "platform/Wakeup.h"
#include "services/uAlertService.h"
#include "services/uLogService.h"
#include "services/uReportService.h"

namespace kelvor {

namespace {
constexpr const char* kSuccessMessage = "Operation execute successfully.";
constexpr const char* kFailureMessage = "操作完成, 但出现错误,请查看相关日志.";
constexpr const char* kConnectFailedMessage = "连接数据库失败，请看详细日志信息!";
constexpr const char* kDryRunMark = "[dry run] ";
}  // namespace

TRunStatistics& RunStatistics() {
  static TRunStatistics* statistics = new TRunStatistics;  // outlives every daemon
  return *statistics;
}

// ---------------------------------------------------------------------------
// TDaemonService

TDaemonService::TDaemonService(std::string AId, std::shared_ptr<TKelvorInstance> AMission,
                               TBroadMessage* AMissionChannel, TBroadMessage* AServiceChannel)
    : Id(std::move(AId)),
      Mission(std::move(AMission)),
      Executor(std::make_unique<TKelvorOperationHandler>(Id)),
      MissionChannel(AMissionChannel),
      ServiceChannel(AServiceChannel) {
  FreeOnTerminate = true;
  Mission->Channel = MissionChannel;
}

TDaemonService::~TDaemonService() = default;

void TDaemonService::Execute() {
  const std::string name = Mission->MissionName;
  MissionChannel->MarkStarted();
  try {
    Mission->ResetRunState();
    Mission->InitSchedule();
    ServiceChannel->Post("任务<" + name + ">已经运行...");
    // After a failed run of a planned or interval task the next due moment
    // is computed afresh once the due minute is over: the task is then next
    // due a day, a week, a month or an interval later, as after a success.
    bool failedInDueMinute = false;
    while (Active.load() && !Terminated()) {
      if (Mission->IsDue()) {
        Mission->RunStartTime.Set(FormatHHMM(Clock::Now()));
        const bool ok = RunMission();
        failedInDueMinute = !ok && (Mission->Mode == modePlanned || Mission->Mode == modeInterval);
      } else if (failedInDueMinute) {
        const TDateTime now = Clock::Now();
        if (now.Day != Mission->NextRunDay || FormatHHMM(now) != Mission->NextRunTime) {
          Mission->ComputeNextRun();
          failedInDueMinute = false;
        }
      }
      // The pause looks at its condition first: a task the run finished (a
      // run-once task that ran or failed for the third time, a stop asked for
      // meanwhile) ends the daemon now rather than after one more pause.
      try {
        Pause(PollInterval, [this] { return !Active.load() || Mission->IsFinished(); });
      } catch (const std::exception& e) {
        WriteLog(e.what());
      }
      if (Mission->IsFinished()) break;
    }
  } catch (const std::exception& e) {
    // The channel must not go on showing a daemon that has ended.
    WriteLog("mission<" + name + "> daemon ended by an error,info:" + e.what());
  }
  MissionChannel->MarkStopped();
  ServiceChannel->Post("任务<" + name + ">已经停止.");
}

bool TDaemonService::RunMission(TRunEnd End) {
  TKelvorInstance& task = *Mission;
  const bool dry = End == TRunEnd::Rollback;
  std::optional<TLogLineMark> mark;
  if (dry) mark.emplace(kDryRunMark);
  MissionChannel->Post("开始连接目标和源数据库....");
  bool ok = false;
  std::string failure = kFailureMessage;  // the line an alert carries
  ++RunStatistics().Runs;
  try {
    const bool connected =
        Executor->ConnectSource(task.Source) && Executor->ConnectDestination(task.Destination);
    if (!connected) {
      task.RecordFailure();
      MissionChannel->Post("连接数据库失败，请看详细日志信息!");
      failure = kConnectFailedMessage;
    } else {
      MissionChannel->Post("开始执行同步操作...");
      Executor->MessageChannel = MissionChannel;
      ok = Executor->Execute(task, End);
      const std::string end = FormatHHMM(Clock::Now());
      task.RunEndTime.Set(end);
      const int op = task.FieldMaps.OperationType;
      const bool copies =
          op == opInsert || op == opUpdateThenInsert || op == opUpdate || op == opMirror;
      // A failed run applied nothing; the rows it read say how far it got.
      const std::string counts = !copies ? std::string()
                                 : ok    ? Executor->Counts().Text()
                                         : "read " + std::to_string(Executor->Counts().Read);
      const std::string rolledBack = dry ? " (dry run: rolled back)" : "";
      if (ok) {
        MissionChannel->Post("同步操作成功执行." + (counts.empty() ? "" : " " + counts) +
                             rolledBack);
        if (!dry)
          WriteReport(task.MissionName, task.RunStartTime.Get(), end, task.RecordCount, 0,
                      kSuccessMessage);
      } else {
        MissionChannel->Post(kFailureMessage);
        if (!dry)
          WriteReport(task.MissionName, task.RunStartTime.Get(), end, 0, -1, kFailureMessage);
      }
      WriteLog("mission<" + task.MissionName + "> run " +
               (ok ? "succeeded" : "failed, nothing applied") +
               (counts.empty() ? "" : ": " + counts) + rolledBack);
    }
  } catch (const std::exception& e) {
    WriteLog("mission<" + task.MissionName + "> run error,info:" + e.what());
    ok = false;
  }
  Executor->DisconnectDestination();
  Executor->DisconnectSource();
  if (!ok) {
    ++RunStatistics().Failures;
    // An operator who asked for a dry run watches it; nobody is to be woken.
    if (!dry) RaiseAlert(task.MissionName, failure);
  }
  return ok;
}

// ---------------------------------------------------------------------------
// TRevoroProxyService

TRevoroProxyService::TRevoroProxyService(TInstanceCollections* AMissions)
    : Missions(AMissions),
      Handler(GetBroadMessageHandler()),
      ServiceChannel(Handler->Register(ServiceChannelId, std::make_unique<TBroadMessage>())) {
  FreeOnTerminate = true;
}

TRevoroProxyService::~TRevoroProxyService() {
  Active.store(false);
}

TBroadMessage* TRevoroProxyService::ChannelOf(const TKelvorInstance& Mission) {
  std::string name;
  {
    // The window thread renames tasks under this lock.
    std::lock_guard<std::mutex> lock(CatalogueLock);
    name = Mission.MissionName;
  }
  TBroadMessage* channel = Handler->Find(name);
  if (!channel) {
    channel = Handler->Register(name, std::make_unique<TBroadMessage>());
    channel->SetMissionName(name);
  }
  return channel;
}

std::shared_ptr<TDaemonService> TRevoroProxyService::BuildDaemon(
    int Index, const std::shared_ptr<TKelvorInstance>& Mission, TBroadMessage* Channel) {
  auto daemon =
      std::make_shared<TDaemonService>(std::to_string(Index), Mission, Channel, ServiceChannel);
  daemon->PollInterval = DaemonPollInterval;
  std::lock_guard<std::mutex> lock(FDaemonsLock);
  FDaemons.push_back(daemon);
  return daemon;
}

void TRevoroProxyService::ReportNotRunnable(const TKelvorInstance& Mission,
                                            const std::string& Reason) {
  std::string name, file;
  {
    std::lock_guard<std::mutex> lock(CatalogueLock);
    name = Mission.MissionName;
    file = Mission.FileName;
  }
  if (name.empty()) {
    WriteLog("task file " + file + " cannot run: " + Reason);
    ServiceChannel->Post("任务文件" + file + "不能运行: " + Reason);
    return;
  }
  const std::string where = file.empty() ? std::string() : " (task file " + file + ")";
  WriteLog("mission<" + name + "> cannot run: " + Reason + where);
  ServiceChannel->Post("任务<" + name + ">不能运行: " + Reason + where);
}

void TRevoroProxyService::InitDaemons() {
  for (const TLoadNote& note : Missions->LoadNotes()) {
    WriteLog("task file " + note.File + " not loaded: " + note.Reason);
    ServiceChannel->Post("任务文件" + note.File + "未加载: " + note.Reason);
  }
  for (int i = 0; i < Missions->Count(); ++i) {
    std::shared_ptr<TKelvorInstance> task = Missions->GetItem(i);
    if (!task) continue;
    const std::string reason = NotRunnableReason(*task, task->IsActive);
    if (!reason.empty()) {
      ReportNotRunnable(*task, reason);
      continue;
    }
    if (!task->IsActive) continue;
    TBroadMessage* channel = ChannelOf(*task);
    if (channel->GetRunState() == 0) BuildDaemon(i, task, channel);
  }
  ServiceChannel->ResetRequests();
}

void TRevoroProxyService::StartDaemons() {
  std::lock_guard<std::mutex> lock(FDaemonsLock);
  for (auto& daemon : FDaemons)
    daemon->Resume();
}

void TRevoroProxyService::CheckRequests() {
  if (!Handler->IsRequestPending()) return;
  try {
    for (int n = 0; n < Handler->Count(); ++n) {
      TBroadMessage* channel = Handler->GetChannel(n);
      if (!channel) continue;
      std::shared_ptr<TKelvorInstance> task = Missions->FindByName(channel->GetMissionName());
      if (task && channel->IsStartRequested()) {
        const std::string reason = NotRunnableReason(*task, true);
        if (!reason.empty()) {
          channel->ResetRequests();
          ReportNotRunnable(*task, reason);
        } else {
          auto daemon = BuildDaemon(n, task, channel);
          channel->ResetRequests();
          daemon->Resume();
        }
      }
      if (ServiceChannel->IsStopAllRequested()) break;
    }
  } catch (...) {
    // The pending flag is cleared below all the same.
  }
  Handler->ClearRequestPending();
}

void TRevoroProxyService::AddMission(const std::shared_ptr<TKelvorInstance>& Mission) {
  if (!Mission || !Mission->IsActive) return;
  if (const std::string reason = NotRunnableReason(*Mission, true); !reason.empty()) {
    ReportNotRunnable(*Mission, reason);
    return;
  }
  TBroadMessage* channel = ChannelOf(*Mission);
  if (channel->GetRunState() != 0) return;
  BuildDaemon(Missions->Count() - 1, Mission, channel)->Resume();
}

void TRevoroProxyService::Execute() {
  if (Active.load()) {
    ServiceChannel->Post("初始化所有的任务处理服务...");
    InitDaemons();
    ServiceChannel->Post("初始化所有的任务处理服务完成");
    ServiceChannel->Post("启动所有的任务处理服务.....");
    StartDaemons();
    ServiceChannel->Post("启动完成.");
  }
  FStarted.store(true);
  ProcessWakeup().Notify();
  while (Active.load() && !Terminated()) {
    CheckRequests();
    if (ServiceChannel->IsStopAllRequested() && !FStopAllSeen.exchange(true))
      ProcessWakeup().Notify();
    Pause(PollInterval, [this] {
      return !Active.load() || Handler->IsRequestPending() ||
             (!FStopAllSeen.load() && ServiceChannel->IsStopAllRequested());
    });
  }
  ServiceChannel->Post("数据同步服务已经停止.");
}

int TRevoroProxyService::RunningDaemonCount() const {
  std::lock_guard<std::mutex> lock(FDaemonsLock);
  int running = 0;
  for (const auto& daemon : FDaemons)
    if (daemon->Started() && !daemon->Finished()) ++running;
  return running;
}

void TRevoroProxyService::TerminateDaemons() {
  std::lock_guard<std::mutex> lock(FDaemonsLock);
  for (const auto& daemon : FDaemons)
    daemon->Terminate();
}

// ---------------------------------------------------------------------------
// Stopping

void RequestServiceStop(TRevoroProxyService& Manager, TInstanceCollections& Missions, int PauseMs) {
  Manager.ServiceChannel->RequestStopAll();
  // The pause lets a walk over start requests that is under way end before
  // the tasks are asked to stop; once the manager has seen the request, no
  // walk is under way and there is nothing left to wait for.
  if (PauseMs > 0) {
    ProcessWakeup().WaitFor(std::chrono::milliseconds(PauseMs), [&Manager] {
      return Manager.StopAllSeen() || !Manager.TThread::Started() || Manager.Finished();
    });
  }
  // Before the stop requests: a daemon whose body only starts now resets its
  // task's run state, which would wipe out a stop request made before it,
  // but a termination request stays.
  Manager.TerminateDaemons();
  for (int i = 0; i < Missions.Count(); ++i)
    if (auto task = Missions.GetItem(i)) task->RequestStop();
  Manager.Terminate();
}

std::string NotRunnableReason(const TKelvorInstance& Task, bool Watched) {
  std::lock_guard<std::mutex> lock(CatalogueLock);
  if (!Task.ReadProblem.empty()) return Task.ReadProblem;
  return Watched ? Task.ScheduleProblem() : std::string();
}

int CountNotRunnable(const TInstanceCollections& Missions) {
  int count = static_cast<int>(Missions.LoadNotes().size());
  for (int i = 0;; ++i) {
    std::shared_ptr<TKelvorInstance> task = Missions.GetItem(i);
    if (!task) break;
    if (!NotRunnableReason(*task, task->IsActive).empty()) ++count;
  }
  return count;
}

bool AnyDaemonRunning() {
  TBroadMessageHandler* handler = GetBroadMessageHandler();
  for (int i = 0; i < handler->Count(); ++i)
    if (TBroadMessage* channel = handler->GetChannel(i); channel && channel->GetRunState() == 1)
      return true;
  return false;
}

}  // namespace kelvor
