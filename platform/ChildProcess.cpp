#include "platform/ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

extern char** environ;

namespace kelvor {

namespace {

constexpr auto kPollStep = std::chrono::milliseconds(20);
constexpr auto kKillGrace = std::chrono::seconds(2);

std::vector<std::string> BuildEnvironment(const TEnvironment& Extra) {
  std::vector<std::string> env;
  for (char** e = environ; e && *e; ++e) {
    const std::string_view entry(*e);
    const std::string_view name = entry.substr(0, entry.find('='));
    bool replaced = false;
    for (const auto& [key, value] : Extra)
      if (name == key) replaced = true;
    if (!replaced) env.emplace_back(entry);
  }
  for (const auto& [key, value] : Extra)
    env.push_back(key + "=" + value);
  return env;
}

TChildOutcome OutcomeOf(int Status) {
  TChildOutcome r;
  if (WIFEXITED(Status)) {
    r.Kind = TChildOutcome::Exited;
    r.Code = WEXITSTATUS(Status);
  } else {
    r.Kind = TChildOutcome::Signalled;
    r.Code = WIFSIGNALED(Status) ? WTERMSIG(Status) : 0;
  }
  return r;
}

// Waits for Pid until Deadline; true with Status filled when it ended.
bool WaitUntil(pid_t Pid, std::chrono::steady_clock::time_point Deadline, int& Status,
               const std::function<bool()>& GiveUp, bool& GaveUp) {
  for (;;) {
    const pid_t r = ::waitpid(Pid, &Status, WNOHANG);
    if (r == Pid) return true;
    if (r < 0 && errno != EINTR) {
      Status = 0;
      return true;  // nothing left to wait for
    }
    if (GiveUp && GiveUp()) {
      GaveUp = true;
      return false;
    }
    if (std::chrono::steady_clock::now() >= Deadline) return false;
    std::this_thread::sleep_for(kPollStep);
  }
}

}  // namespace

std::string TChildOutcome::Describe() const {
  switch (Kind) {
    case NotStarted:
      return "could not be started: " + Error;
    case Exited:
      return "exit status " + std::to_string(Code);
    case Signalled:
      return "ended by signal " + std::to_string(Code);
    case TimedOut:
      return "no end within its time limit, stopped";
    case Abandoned:
      return "left running";
  }
  return std::string();
}

TChildOutcome RunShellCommand(const std::string& Command, const TEnvironment& Extra,
                              std::chrono::milliseconds Timeout,
                              const std::function<bool()>& GiveUp) {
  std::vector<std::string> env = BuildEnvironment(Extra);
  std::vector<char*> envp;
  for (auto& e : env)
    envp.push_back(e.data());
  envp.push_back(nullptr);
  std::string sh = "sh", dashC = "-c", text = Command;
  char* argv[] = {sh.data(), dashC.data(), text.data(), nullptr};

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  // Its own process group, so that a stop reaches whatever the command
  // started; the caller's signal handlers and blocked signals are not its.
  posix_spawnattr_setflags(&attr,
                           POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  posix_spawnattr_setpgroup(&attr, 0);
  sigset_t none, defaults;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attr, &none);
  sigemptyset(&defaults);
  for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGCHLD})
    sigaddset(&defaults, s);
  posix_spawnattr_setsigdefault(&attr, &defaults);

  pid_t pid = -1;
  const int rc = ::posix_spawn(&pid, "/bin/sh", &actions, &attr, argv, envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  if (rc != 0) {
    TChildOutcome r;
    r.Error = std::string("/bin/sh: ") + std::strerror(rc);
    return r;
  }

  int status = 0;
  bool gaveUp = false;
  if (WaitUntil(pid, std::chrono::steady_clock::now() + Timeout, status, GiveUp, gaveUp))
    return OutcomeOf(status);
  TChildOutcome r;
  if (gaveUp) {
    r.Kind = TChildOutcome::Abandoned;
    return r;
  }
  ::kill(-pid, SIGTERM);
  bool ignored = false;
  const bool ended =
      WaitUntil(pid, std::chrono::steady_clock::now() + kKillGrace, status, {}, ignored);
  // Also when the shell itself ended: what it started may ignore SIGTERM.
  ::kill(-pid, SIGKILL);
  if (!ended) {
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }
  r.Kind = TChildOutcome::TimedOut;
  return r;
}

}  // namespace kelvor
