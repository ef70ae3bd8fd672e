// The operator's one-off commands of kelvord, beside the service itself:
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
//
// Threads: both run on the caller's thread (--run runs the task on one worker
// thread of its own and prints from the caller's); call them once the catalogue
// is loaded and no service runs in the process. Both stop the alert, log and
// report writers before they return.
#pragma once

#include <atomic>
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

// kelvord --check; returns the exit status.
int CheckMissions(TInstanceCollections& Missions, std::FILE* Out);

// kelvord --run NAME; returns the exit status. StopSignal set (SIGINT,
// SIGTERM) asks the run to stop, as the service's stop does: a batch under
// way rolls back.
int RunMissionNow(TInstanceCollections& Missions, const std::string& Name,
                  const std::atomic<bool>& StopSignal, std::FILE* Out);

}  // namespace kelvor
