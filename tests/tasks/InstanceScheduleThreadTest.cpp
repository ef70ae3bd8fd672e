// The window thread stops a task while its daemon polls and reports runs.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/Thread.h"
#include "support/TestSupport.h"
#include "tasks/uInstance.h"

namespace kelvor {
namespace {

TEST(InstanceScheduleThreadTest, StopFromAnotherThreadEndsThePollingDaemon) {
  test::FixedClock clock(test::At(2026, 12, 7, 10, 0, 0));
  TKelvorInstance task;
  task.Mode = modeInterval;
  task.TimeDistance = 0;  // due in this very minute, once
  task.ResetRunState();
  task.InitSchedule();

  std::atomic<int> runs{0};
  std::thread daemon([&] {
    for (;;) {
      if (task.IsDue()) {
        ++runs;
        task.SetExecuted(true);
      }
      if (task.IsFinished()) break;
      std::this_thread::yield();
    }
  });
  // The daemon goes on polling the due and finish tests while the stop comes.
  while (runs.load() < 1)
    TThread::Sleep(1);
  TThread::Sleep(20);
  task.RequestStop();
  daemon.join();
  EXPECT_TRUE(task.IsFinished());
  EXPECT_FALSE(task.IsDue());
}

}  // namespace
}  // namespace kelvor
