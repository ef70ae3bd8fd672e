#include "services/uAlertService.h"

#include <condition_variable>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>

#include "platform/ChildProcess.h"
#include "platform/Clock.h"
#include "platform/LineText.h"
#include "platform/Paths.h"
#include "platform/Text.h"
#include "platform/TextFile.h"
#include "platform/Thread.h"
#include "platform/Wakeup.h"
#include "services/uLogService.h"

namespace kelvor {

namespace {

struct TAlertOrder {
  std::string MissionName;
  std::string Result;
  std::string LogFile;
  std::string Time;
  std::string Command;
  std::chrono::seconds TimeLimit{kAlertTimeLimit};
};

// Runs queued alerts one at a time, oldest first.
class TAlertRunner : public TThread {
 public:
  ~TAlertRunner() override {
    Terminate();
    Wake.notify_all();
    WaitFor();
  }

  void Push(TAlertOrder Order) {
    {
      std::lock_guard<std::mutex> lock(FLock);
      FQueue.push_back(std::move(Order));
    }
    Wake.notify_all();
  }

  // True when nothing is queued and no command runs.
  bool Idle() {
    std::lock_guard<std::mutex> lock(FLock);
    return FQueue.empty() && !FBusy;
  }

  // The alerts that were never run; called once the body has ended.
  std::deque<TAlertOrder> TakeLeftOver() {
    std::lock_guard<std::mutex> lock(FLock);
    return std::move(FQueue);
  }

  std::condition_variable Wake;

 protected:
  void Execute() override {
    while (!Terminated()) {
      TAlertOrder order;
      {
        std::unique_lock<std::mutex> lock(FLock);
        // A stop request sets Terminated without this lock: the wait is
        // bounded, so it is seen within one step even without a wake-up.
        Wake.wait_for(lock, std::chrono::milliseconds(100),
                      [this] { return Terminated() || !FQueue.empty(); });
        if (Terminated() || FQueue.empty()) continue;
        order = std::move(FQueue.front());
        FQueue.pop_front();
        FBusy = true;
      }
      Run(order);
      {
        std::lock_guard<std::mutex> lock(FLock);
        FBusy = false;
      }
      // Program exit may be waiting for the runner to become idle.
      ProcessWakeup().Notify();
    }
  }

 private:
  void Run(const TAlertOrder& Order) {
    // Commands put these into a mail subject or a chat line: a name holding
    // a line break must not add a header or a line of its own.
    const TEnvironment env = {{"KELVOR_TASK", EscapeLineText(Order.MissionName)},
                              {"KELVOR_RESULT", EscapeLineText(Order.Result)},
                              {"KELVOR_LOG", Order.LogFile},
                              {"KELVOR_TIME", Order.Time}};
    const TChildOutcome outcome =
        RunShellCommand(Order.Command, env, Order.TimeLimit, [this] { return Terminated(); });
    if (outcome.Kind == TChildOutcome::Abandoned) return;
    if (!outcome.Succeeded())
      WriteLog("alert command for mission<" + Order.MissionName +
               "> failed,info: " + outcome.Describe());
  }

  std::mutex FLock;
  std::deque<TAlertOrder> FQueue;  // guarded by FLock
  bool FBusy = false;              // guarded by FLock
};

// The process-wide runner; AlertSlotLock guards the pointer, never a wait.
std::mutex AlertSlotLock;
std::shared_ptr<TAlertRunner>& AlertRunner() {
  static auto* runner = new std::shared_ptr<TAlertRunner>;  // outlives every caller
  return *runner;
}

std::chrono::seconds AlertTimeLimit(std::string_view IniText) {
  int32_t seconds = 0;
  if (TryStrToInt(IniValue(IniText, "alert", "timeout"), seconds) && seconds > 0)
    return std::chrono::seconds(seconds);
  return kAlertTimeLimit;
}

std::string ReadServerIni() {
  std::string text;
  if (!ReadWholeFile(ServerIniPath(), text)) text.clear();
  return text;
}

}  // namespace

std::string IniValue(std::string_view IniText, std::string_view Section, std::string_view Key) {
  bool inSection = false;
  for (const std::string& raw : SplitLines(IniText)) {
    const std::string line = TrimText(raw);
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (line.front() == '[') {
      const size_t close = line.find(']');
      inSection =
          close != std::string::npos && SameText(TrimText(line.substr(1, close - 1)), Section);
      continue;
    }
    const size_t eq = line.find('=');
    if (inSection && eq != std::string::npos && SameText(TrimText(line.substr(0, eq)), Key))
      return TrimText(line.substr(eq + 1));
  }
  return std::string();
}

std::string ServerIniPath() {
  return ProgramFolder() + "../conf/server.ini";
}

std::string AlertCommand() {
  return IniValue(ReadServerIni(), "alert", "command");
}

void RaiseAlert(std::string_view MissionName, std::string_view Result) {
  try {
    const std::string ini = ReadServerIni();
    TAlertOrder order;
    order.Command = IniValue(ini, "alert", "command");
    if (order.Command.empty()) return;
    order.TimeLimit = AlertTimeLimit(ini);
    order.MissionName = MissionName;
    order.Result = Result;
    const TDateTime now = Clock::Now();
    order.Time = FormatDateTime(now);
    // The log writer opens "../logs/" from the current directory; the
    // command may run anywhere, so it gets the full path.
    order.LogFile = std::filesystem::absolute("../logs/log" + FormatDayStamp(now) + ".txt")
                        .lexically_normal()
                        .string();
    std::lock_guard<std::mutex> lock(AlertSlotLock);
    std::shared_ptr<TAlertRunner>& runner = AlertRunner();
    if (!runner) {
      runner = std::make_shared<TAlertRunner>();
      runner->Resume();
    }
    runner->Push(std::move(order));
  } catch (const std::exception& e) {
    WriteLog(std::string("alert for mission<") + std::string(MissionName) +
             "> not sent,info: " + e.what());
  }
}

void StopAlertService(std::chrono::milliseconds MaxWait) {
  std::shared_ptr<TAlertRunner> runner;
  {
    std::lock_guard<std::mutex> lock(AlertSlotLock);
    runner = AlertRunner();
  }
  if (!runner) return;
  ProcessWakeup().WaitFor(MaxWait, [&runner] { return runner->Idle(); });
  {
    std::lock_guard<std::mutex> lock(AlertSlotLock);
    if (AlertRunner() == runner) AlertRunner().reset();
  }
  runner->Terminate();
  runner->Wake.notify_all();
  runner->WaitFor();
  for (const TAlertOrder& order : runner->TakeLeftOver())
    WriteLog("alert for mission<" + order.MissionName + "> not sent: the program ended first");
}

}  // namespace kelvor
