// kelvord: the Kelvor service without a window, for servers, cron and systemd.
//
//   kelvord [--home DIR] [--until-idle]
//   kelvord [--home DIR] --check | --run NAME | --dry-run NAME
//                                         (see kelvord_commands.h)
//
// Loads the task catalogue (tasks.ini beside the program, in
// ../tasks/dbtasks/), starts the service as the desktop program does, and
// prints every line posted to the service channel and to each task channel.
// SIGINT or SIGTERM runs the stop sequence; --until-idle stops the same way
// once no task daemon is running. A log or report file that cannot be
// written (a full disk, a missing or read-only folder) is said once on
// standard error, and again only if it failed anew after a line went through;
// the service goes on. Exit status: 0 when every run succeeded, 1 when any
// run or connect failed or any task listed in tasks.ini could not be loaded
// or can never run (the service says which and why), 2 for a usage error or
// when no task could be loaded.
#include <semaphore.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>

#include "app/kelvord_commands.h"
#include "platform/Paths.h"
#include "platform/TextFile.h"
#include "platform/Wakeup.h"
#include "services/uQueuedWriter.h"
#include "tasks/uInstanceCollections.h"

namespace {

std::atomic<bool> g_StopSignal{false};
sem_t g_StopSemaphore;

void OnStopSignal(int) {
  g_StopSignal.store(true);
  sem_post(&g_StopSemaphore);  // async-signal-safe, unlike waking the waiting threads
}

// Installs the SIGINT and SIGTERM handlers and passes each signal on to the
// threads waiting on the process wakeup, which a signal handler cannot
// notify itself: a stop is acted on when it comes, not at a next poll.
class TStopSignalWatcher {
 public:
  TStopSignalWatcher() {
    sem_init(&g_StopSemaphore, 0, 0);
    FThread = std::thread([this] { Watch(); });
    struct sigaction sa {};
    sa.sa_handler = OnStopSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
  }
  ~TStopSignalWatcher() {
    FQuit.store(true);
    sem_post(&g_StopSemaphore);
    FThread.join();
  }
  TStopSignalWatcher(const TStopSignalWatcher&) = delete;
  TStopSignalWatcher& operator=(const TStopSignalWatcher&) = delete;

 private:
  void Watch() {
    for (;;) {
      while (sem_wait(&g_StopSemaphore) != 0 && errno == EINTR) {
      }
      if (FQuit.load()) return;
      kelvor::ProcessWakeup().Notify();
    }
  }

  std::atomic<bool> FQuit{false};
  std::thread FThread;
};

void Usage(FILE* Out) {
  std::fprintf(
      Out,
      "usage: kelvord [--home DIR] [--until-idle | --check | --run NAME | --dry-run NAME]\n"
      "  --home DIR    act as if the program file lay in DIR (tasks are read from\n"
      "                DIR/../tasks/dbtasks/tasks.ini)\n"
      "  --until-idle  stop once no task daemon is running (every run-once task ran)\n"
      "  --check       check every task's schedule, connections and field map;\n"
      "                writes nothing; exit 1 when an active task could not run\n"
      "  --run NAME    run task NAME once now, whatever its schedule or active flag\n"
      "  --dry-run NAME\n"
      "                run task NAME as --run does, but roll back every transaction at\n"
      "                its end, and print what would have happened\n");
}

}  // namespace

int main(int argc, char** argv) {
  std::string home;
  bool untilIdle = false;
  bool check = false;
  std::string runName;
  std::string dryRunName;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--home") == 0 && i + 1 < argc) {
      home = argv[++i];
    } else if (std::strcmp(argv[i], "--until-idle") == 0) {
      untilIdle = true;
    } else if (std::strcmp(argv[i], "--check") == 0) {
      check = true;
    } else if (std::strcmp(argv[i], "--run") == 0 && i + 1 < argc && argv[i + 1][0] != '\0') {
      runName = argv[++i];
    } else if (std::strcmp(argv[i], "--dry-run") == 0 && i + 1 < argc && argv[i + 1][0] != '\0') {
      dryRunName = argv[++i];
    } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      Usage(stdout);
      return 0;
    } else {
      std::fprintf(stderr, "kelvord: unknown argument '%s'\n", argv[i]);
      Usage(stderr);
      return 2;
    }
  }
  if (int(untilIdle) + int(check) + int(!runName.empty()) + int(!dryRunName.empty()) > 1) {
    std::fprintf(stderr,
                 "kelvord: --until-idle, --check, --run and --dry-run exclude each other\n");
    Usage(stderr);
    return 2;
  }
  // A full or unwritable log folder is said once on standard error, apart
  // from the service's lines on standard output; the service goes on.
  kelvor::SetWriteFailureHandler([](const std::string& Text) {
    std::fprintf(stderr, "kelvord: %s\n", Text.c_str());
    std::fflush(stderr);
  });
  if (!home.empty()) {
    if (!kelvor::DirectoryExists(home)) {
      std::fprintf(stderr, "kelvord: --home %s is not a folder\n", home.c_str());
      return 2;
    }
    kelvor::SetProgramFolder(home);
  }
  // The log folder is taken from the current directory and the report folder
  // from the program folder: both are the program folder's siblings.
  const std::string programFolder = kelvor::ProgramFolder();
  if (::chdir(programFolder.c_str()) != 0) {
    std::fprintf(stderr, "kelvord: cannot enter %s\n", programFolder.c_str());
    return 2;
  }

  kelvor::TInstanceCollections missions;
  missions.SetFolder(programFolder + "../tasks/dbtasks/");
  bool loaded = false;
  try {
    loaded = missions.LoadAll();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "kelvord: %s\n", e.what());
    return 2;
  }
  if (!loaded) {
    for (const kelvor::TLoadNote& note : missions.LoadNotes())
      std::fprintf(stderr, "kelvord: task file %s not loaded: %s\n", note.File.c_str(),
                   note.Reason.c_str());
    std::fprintf(stderr,
                 "kelvord: no task could be loaded: %s is missing or lists no task file "
                 "of that folder\n",
                 missions.IndexFileName().c_str());
    return 2;
  }
  TStopSignalWatcher stopSignals;
  if (check) return kelvor::CheckMissions(missions, stdout);
  if (!runName.empty()) return kelvor::RunMissionNow(missions, runName, g_StopSignal, stdout);
  if (!dryRunName.empty()) return kelvor::DryRunMission(missions, dryRunName, g_StopSignal, stdout);
  return kelvor::ServeMissions(missions, untilIdle, g_StopSignal, stdout);
}
