// Running an operator's command line as a child process.
//
// RunShellCommand hands the text to /bin/sh -c, exactly as the operator wrote
// it; anything that comes from data (a task name, a message) is passed in
// environment variables, never pasted into the text, so no value can change
// what the shell runs. The child gets /dev/null as standard input, shares the
// caller's standard output and error, and runs in its own process group so
// that a command that overruns its time is stopped with every process it
// started.
// Threads: may be called from any thread; the call blocks until the child has
// ended, was stopped, or the caller gave up on it. Nothing here is shared.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace kelvor {

using TEnvironment = std::vector<std::pair<std::string, std::string>>;

struct TChildOutcome {
  enum TKind {
    NotStarted,  // the shell could not be started (Error says why)
    Exited,      // Code is the exit status
    Signalled,   // Code is the signal that ended it
    TimedOut,    // stopped after the time limit
    Abandoned,   // the caller gave up waiting; the child was left running
  };
  TKind Kind = NotStarted;
  int Code = 0;
  std::string Error;

  bool Succeeded() const { return Kind == Exited && Code == 0; }
  // "exit status 3", "ended by signal 9", "no end within 60 s, stopped", ...
  std::string Describe() const;
};

// Runs Command through /bin/sh -c with the caller's environment plus Extra
// (an Extra variable replaces one of the same name). Waits at most Timeout:
// then the child's process group gets SIGTERM and, two seconds later,
// SIGKILL. GiveUp, when set, is asked while waiting; once it answers true
// the wait ends at once and the child is left to finish alone.
TChildOutcome RunShellCommand(const std::string& Command, const TEnvironment& Extra,
                              std::chrono::milliseconds Timeout,
                              const std::function<bool()>& GiveUp = {});

}  // namespace kelvor
