#include "KelvordProcess.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include "platform/TextFile.h"

extern char** environ;

namespace kelvor::test {

namespace {
std::string OutputPath(const TInstallation& Home) {
  return Home.Root() + "kelvord.out";
}
}  // namespace

pid_t SpawnKelvord(const TInstallation& Home, std::vector<std::string> Args,
                   const std::string& OutPath, const std::string& ErrPath) {
  Args.insert(Args.begin(), {KELVORD_PATH, "--home", Home.BinFolder()});
  std::vector<char*> argv;
  for (auto& a : Args)
    argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, OutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  if (ErrPath.empty())
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
  else
    posix_spawn_file_actions_addopen(&actions, 2, ErrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
  pid_t pid = -1;
  EXPECT_EQ(posix_spawn(&pid, KELVORD_PATH, &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

pid_t StartKelvord(const TInstallation& Home, std::vector<std::string> Args) {
  return SpawnKelvord(Home, std::move(Args), OutputPath(Home), "");
}

int WaitKelvord(pid_t Pid) {
  int status = 0;
  if (Pid < 0 || waitpid(Pid, &status, 0) != Pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int RunKelvord(const TInstallation& Home, std::vector<std::string> Args) {
  return WaitKelvord(StartKelvord(Home, std::move(Args)));
}

std::string KelvordOutput(const TInstallation& Home) {
  return ReadFileOrEmpty(OutputPath(Home));
}

std::string TodaysLog(const TInstallation& Home) {
  return ReadFileOrEmpty(Home.Root() + "logs/log" + FormatDayStamp(Clock::Now()) + ".txt");
}

void AddListedTask(const TInstallation& Home, TKelvorInstance& Task) {
  Home.StoreTask(Task);
  std::vector<std::string> listed;
  ReadLines(Home.IndexPath(), listed);
  if (!listed.empty()) listed.erase(listed.begin());  // the header line
  listed.push_back(Task.MissionName + ".xml");
  Home.WriteIndex(listed);
}

}  // namespace kelvor::test
