// What kelvord does: the service itself, and the operator's one-off commands
// beside it:
//
//   kelvord [--until-idle]
//                        starts the service on the catalogue and prints every
//                        line of the channels, task lines prefixed with the
//                        task's name, until a stop signal or, with
//                        --until-idle, until no task daemon runs any more.
//
//   kelvord --check      one row per listed task: name, active, schedule in
//                        words and when a service started now would first run
//                        it, whether the source and the destination connect,
//                        and whether the destination table has every column of
//                        the field map. Exit 0 when every active task could
//                        run, 1 otherwise. Nothing is written to any
//                        database, nor to the log or the report.
//   kelvord --run NAME   runs that one task now, in the foreground, whatever
//                        its schedule or active flag: the same run the service
//                        makes, with its lines on standard output and its log,
//                        report and alert as usual. Exit 0 when it succeeded,
//                        1 when it failed, 2 when no task has that name.
//   kelvord --dry-run NAME
//                        the same run, but every transaction it opens, on
//                        the source as on the destination, is rolled back
//                        at its end instead of committed; then what would
//                        have happened: rows read, skipped by the pre-check,
//                        inserted, updated, unchanged and deleted, how many
//                        statements were sent and the first of them with
//                        their bound values. No report line, no alert; its
//                        log lines are marked "[dry run] ". Exit status as
//                        for --run.
//
// Threads: each runs on the caller's thread (the service has its own threads,
// and --run and --dry-run run the task on one worker thread of their own,
// while the caller's prints); call one of them once the catalogue is loaded
// and no service runs in the process. Each stops the alert, log and report writers before it
// returns. A stop signal is an atomic flag set by the caller; whoever sets it
// notifies ProcessWakeup() (platform/Wakeup.h) so that it is acted on at once.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>

namespace kelvor {

class TInstanceCollections;
class TKelvorInstance;

// "once", "daily at 17:30", "weekly on Monday at 17:30", "monthly on day 5 at
// 17:30", "every 12 minutes"; a schedule mode the service does not know is
// named by its number.
std::string ScheduleInWords(const TKelvorInstance& Task);

// When a service started now would first run Task: "at service start" for a
// run-once task, "YYYY-MM-DD HH:MM", or "never" when the computed day and time
// never come (a day 0, a time not written "HH:MM", an unknown mode). The task's
// run state is reset and its next run computed, as a daemon's start does: call
// it only for a task no daemon serves.
std::string NextDueText(TKelvorInstance& Task);

// kelvord [--until-idle]; returns the exit status: 0 when every run
// succeeded, 1 when a run or connect failed or a listed task could not be
// loaded or can never run. The channels are printed to Out every
// PrintInterval and once more at the end. A stop signal runs the stop
// sequence with its pause; idleness (every daemon ended, which the end of its
// thread notifies) stops the service without one.
int ServeMissions(TInstanceCollections& Missions, bool UntilIdle,
                  const std::atomic<bool>& StopSignal, std::FILE* Out,
                  std::chrono::milliseconds PrintInterval = std::chrono::milliseconds(100));

// kelvord --check; returns the exit status.
int CheckMissions(TInstanceCollections& Missions, std::FILE* Out);

// kelvord --run NAME; returns the exit status. StopSignal set (SIGINT,
// SIGTERM) asks the run to stop, as the service's stop does: a batch under
// way rolls back.
int RunMissionNow(TInstanceCollections& Missions, const std::string& Name,
                  const std::atomic<bool>& StopSignal, std::FILE* Out);

// kelvord --dry-run NAME; returns the exit status. ShownStatements: how many
// of the statements sent are printed in full. StopSignal as for --run.
int DryRunMission(TInstanceCollections& Missions, const std::string& Name,
                  const std::atomic<bool>& StopSignal, std::FILE* Out, size_t ShownStatements = 10);

}  // namespace kelvor
