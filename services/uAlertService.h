// Alerts: a command of the operator's choosing, run after every failed run,
// so that mail, a chat message or a webhook can be wired without Kelvor
// knowing any of them. conf/server.ini names it:
//
//   [alert]
//   command=mail -s "Kelvor: $KELVOR_TASK failed" ops@example.com < "$KELVOR_LOG"
//
// The command is run by /bin/sh with these environment variables:
//   KELVOR_TASK    the task's name, control characters escaped as in the log
//   KELVOR_RESULT  the result line of the run, as posted to its channel
//   KELVOR_LOG     the full path of the day's log file
//   KELVOR_TIME    when the run failed, "YYYY-MM-DD HH:MM:SS"
// The file is read at every failed run, so an edit takes effect at once.
//
// RaiseAlert only queues and returns: one runner thread runs the queued
// alerts one after the other, each given "timeout=" seconds of the same
// section (kAlertTimeLimit when absent or not a positive number). A command that
// cannot be started, fails or overruns is written to the log; nothing of it
// ever reaches the run that raised it.
// Ownership and threads: the queue and the runner are process-wide, created
// on the first alert and freed by StopAlertService; all functions may be
// called from any thread. The queue is guarded by the service's own lock,
// which is never held while a command runs or while the log is written to.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "services/uQueuedWriter.h"

namespace kelvor {

inline constexpr std::chrono::seconds kAlertTimeLimit{60};

// The value of Key in Section of an INI text ("[section]" lines, "key=value"
// lines; section and key names without regard to letter case, blanks around
// names and values dropped, lines starting with ";" or "#" ignored), or the
// empty text when there is none.
std::string IniValue(std::string_view IniText, std::string_view Section, std::string_view Key);

// ProgramFolder() + "../conf/server.ini".
std::string ServerIniPath();
// The [alert] command of server.ini; empty when the file, the section or the
// key is missing.
std::string AlertCommand();

// Queues the alert of a failed run when server.ini names a command; does
// nothing otherwise. Never blocks on the command and never fails.
void RaiseAlert(std::string_view MissionName, std::string_view Result);

// Called at program exit, before the log is stopped: waits up to MaxWait for
// the queued alerts to be run, then ends the runner. A command still running
// then is left to finish alone; alerts still queued are written to the log as
// not sent.
void StopAlertService(std::chrono::milliseconds MaxWait = kStopWait);

}  // namespace kelvor
