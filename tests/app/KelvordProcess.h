// The real kelvord program, started on a test installation the way an
// operator starts it (kelvord --home <installation>/bin ...), with its
// standard output and error gathered in a file of the installation.
// Test thread only.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "DbTestSupport.h"

namespace kelvor::test {

// Starts kelvord --home <bin> Args... with its standard output in OutPath and
// its standard error in ErrPath (with the output when ErrPath is empty); the
// pid, or -1 (the test has failed).
pid_t SpawnKelvord(const TInstallation& Home, std::vector<std::string> Args,
                   const std::string& OutPath, const std::string& ErrPath);
// Starts kelvord --home <bin> Args..., output and error in the installation's
// kelvord.out; the pid, or -1 (the test has failed).
pid_t StartKelvord(const TInstallation& Home, std::vector<std::string> Args);
// Waits for the program; its exit status, 128 + signal when a signal ended it.
int WaitKelvord(pid_t Pid);
// Start and wait.
int RunKelvord(const TInstallation& Home, std::vector<std::string> Args);
// What the last started program printed.
std::string KelvordOutput(const TInstallation& Home);

// The day's log of the installation (empty when there is none).
std::string TodaysLog(const TInstallation& Home);

// A task of the installation stored in its task folder and listed, with the
// others already listed, in tasks.ini.
void AddListedTask(const TInstallation& Home, TKelvorInstance& Task);

}  // namespace kelvor::test
