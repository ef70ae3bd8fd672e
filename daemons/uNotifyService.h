// The service that makes tasks run: one task daemon per watched task, and the
// service manager that builds and starts them.
//
// TDaemonService watches one task on its own thread: it polls the task's
// schedule five times a second and, when the task falls due, runs it through
// its own executor (connect both sides, Execute, disconnect), posts progress
// to the task's channel and writes one report line per run.
// TRevoroProxyService is the manager thread of one start of the service: it
// builds a daemon for every active task of the catalogue, starts them, and
// then answers the start requests the window places on task channels,
// looking for them twice a second.
//
// Neither waits out its interval when there is something to act on: their
// pauses are waits on the process wakeup (platform/Wakeup.h), which a stop
// request, a start request, a stop-all request and a termination request
// notify. A daemon whose task is finished (a run-once task that ran, a stop
// request) ends at once; the manager answers a start request at once.
//
// Ownership and threads: both are self-freeing threads held by shared_ptr
// (platform/Thread.h): a running body keeps its own object alive, so nothing
// is freed under a thread that still runs. A daemon shares the ownership of
// its task record with the catalogue and owns its executor, which only the
// daemon's thread uses. The manager keeps every daemon it built in Daemons
// (under its own lock) and never removes one. The catalogue must outlive the
// manager; channels belong to the process-wide registry.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/uKelvorOperation.h"
#include "platform/Thread.h"
#include "services/uBroadMessage.h"
#include "tasks/uInstanceCollections.h"

namespace kelvor {

// How often a daemon looks whether its task is due, and how often the
// manager looks for start requests.
inline constexpr std::chrono::milliseconds kDaemonPollInterval{200};
inline constexpr std::chrono::milliseconds kManagerPollInterval{500};

class TDaemonService : public TThread {
 public:
  // Created suspended and self-freeing; attaches MissionChannel to the task.
  TDaemonService(std::string AId, std::shared_ptr<TKelvorInstance> AMission,
                 TBroadMessage* AMissionChannel, TBroadMessage* AServiceChannel);
  ~TDaemonService() override;

  const std::string Id;
  std::atomic<bool> Active{true};
  const std::shared_ptr<TKelvorInstance> Mission;
  const std::unique_ptr<TKelvorOperationHandler> Executor;
  TBroadMessage* const MissionChannel;  // not owned
  TBroadMessage* const ServiceChannel;  // not owned
  // The pause between two due tests; set before Resume.
  std::chrono::milliseconds PollInterval = kDaemonPollInterval;

  // One run of the task; true when it succeeded. Runs on the daemon thread.
  // The result line and the closing log line carry the run's counts when it
  // copies rows. A dry run (End Rollback) rolls every transaction back,
  // marks its log lines "[dry run] ", and writes no report line and raises
  // no alert.
  bool RunMission(TRunEnd End = TRunEnd::Commit);

 protected:
  void Execute() override;
};

class TRevoroProxyService : public TThread {
 public:
  // Created suspended and self-freeing; registers a new service channel under
  // ServiceChannelId. The creator resumes it.
  explicit TRevoroProxyService(TInstanceCollections* AMissions);
  ~TRevoroProxyService() override;

  std::atomic<bool> Active{true};
  TInstanceCollections* const Missions;  // not owned
  TBroadMessageHandler* const Handler;   // the process-wide registry
  TBroadMessage* const ServiceChannel;   // owned by the registry
  // The pause between two looks for start requests, and the one of every
  // daemon this manager builds; set before Resume.
  std::chrono::milliseconds PollInterval = kManagerPollInterval;
  std::chrono::milliseconds DaemonPollInterval = kDaemonPollInterval;

  // Builds a daemon for every active task that can run. Every line of
  // tasks.ini that gave no task, and every task that cannot run (its file
  // was not read completely, or, for an active task, its schedule can never
  // fall due), gets a log line and a line on the service channel instead.
  void InitDaemons();
  void StartDaemons();
  // Answers start requests; a task that cannot run is refused with its lines.
  void CheckRequests();
  // A task added to the catalogue while the service runs (window thread):
  // when it is active, can run and has no running daemon, a daemon is built
  // and started at once.
  void AddMission(const std::shared_ptr<TKelvorInstance>& Mission);

  // True once every daemon of the first start has been resumed; the process
  // wakeup is notified then.
  bool Started() const { return FStarted.load(); }
  // True once the polling loop has seen the stop-all request on the service
  // channel: no walk over start requests is under way any more. The process
  // wakeup is notified then.
  bool StopAllSeen() const { return FStopAllSeen.load(); }
  // Daemons built by this manager whose thread has not ended.
  int RunningDaemonCount() const;
  // Asks every daemon this manager built to terminate: each ends after its
  // current run, or at once when it is pausing.
  void TerminateDaemons();

 protected:
  void Execute() override;

 private:
  // The channel of a task, registered on first use.
  TBroadMessage* ChannelOf(const TKelvorInstance& Mission);
  // Writes the log line and posts the service line of a task that cannot run.
  void ReportNotRunnable(const TKelvorInstance& Mission, const std::string& Reason);
  std::shared_ptr<TDaemonService> BuildDaemon(int Index,
                                              const std::shared_ptr<TKelvorInstance>& Mission,
                                              TBroadMessage* Channel);

  mutable std::mutex FDaemonsLock;
  std::vector<std::shared_ptr<TDaemonService>> FDaemons;  // guarded by FDaemonsLock
  std::atomic<bool> FStarted{false};
  std::atomic<bool> FStopAllSeen{false};
};

// Runs and failures counted over the life of the process: the daemons count
// every run and every failed run or connect. Any thread.
struct TRunStatistics {
  std::atomic<int> Runs{0};
  std::atomic<int> Failures{0};
};
TRunStatistics& RunStatistics();

// The stop sequence of the service: the stop-all request on the manager's
// service channel; a pause of up to PauseMs, which ends as soon as the manager
// has seen that request (StopAllSeen) or is not running; the manager's daemons
// asked to terminate; every task's stop request; and the manager asked to
// terminate. Daemons end after their current run, pausing ones at once.
void RequestServiceStop(TRevoroProxyService& Manager, TInstanceCollections& Missions,
                        int PauseMs = 2000);
// True while any channel of the registry shows a running daemon.
bool AnyDaemonRunning();

// What keeps a listed task from running: its ReadProblem, and when Watched
// (the task is active, or asked to start) also a schedule that can never
// fall due. Empty when nothing does. Takes CatalogueLock; any thread.
std::string NotRunnableReason(const TKelvorInstance& Task, bool Watched);
// The lines of tasks.ini that gave no task, plus the tasks that cannot run
// when the service starts (NotRunnableReason, watched when active).
int CountNotRunnable(const TInstanceCollections& Missions);

}  // namespace kelvor
