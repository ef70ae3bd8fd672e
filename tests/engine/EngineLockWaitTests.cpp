// A second SQLite connection holding the write lock of a run's destination:
// how long statements wait for it, what the run says while it waits, and a
// stop request that ends the wait. The run goes through a real task daemon
// on its own thread, so this also runs under ThreadSanitizer.
#include <gmock/gmock.h>

#include <vector>

#include "DbTestSupport.h"
#include "daemons/uNotifyService.h"
#include "platform/TextFile.h"
#include "services/uBroadMessage.h"

namespace kelvor::test {
namespace {

using ::testing::Contains;
using ::testing::HasSubstr;

// The connection's own wait, counted by the calls of its hook: the time is
// counted over every statement from Open on, and a hook that answers false
// ends a wait at once.
TEST(LockWaitTest, StatementsWaitForALockAtMostTheBusyTimeoutInAll) {
  TDbTestHome home;
  const std::string cs = AccessConnectionString(home.CreateSqliteFile("locked.db"));
  TDbConnection holder;
  holder.SetConnectionString(cs);
  ASSERT_DB_OK(holder.Open());
  ASSERT_DB_OK(ExecOn(holder, "create table t(id INT)"));
  ASSERT_DB_OK(holder.BeginTrans());  // takes the write lock and keeps it

  std::vector<std::chrono::milliseconds> waits;
  bool answer = true;
  TDbConnection waiter;
  waiter.SetConnectionString(cs);
  waiter.SetBusyTimeout(300);
  waiter.SetLockWaitHook([&](std::chrono::milliseconds Waited) {
    waits.push_back(Waited);
    return answer;
  });
  ASSERT_DB_OK(waiter.Open());
  EXPECT_THROW(waiter.BeginTrans(), TDbError);
  ASSERT_FALSE(waits.empty());
  EXPECT_GE(waits.back(), std::chrono::milliseconds(300));
  // The time is spent: the next statement that meets the lock fails without
  // waiting again.
  const size_t calls = waits.size();
  EXPECT_THROW(ExecOn(waiter, "insert into t values(1)"), TDbError);
  EXPECT_EQ(waits.size(), calls);

  // A new opening starts a new count; a hook answering false ends the wait.
  waiter.Close();
  answer = false;
  ASSERT_DB_OK(waiter.Open());
  waits.clear();
  EXPECT_THROW(ExecOn(waiter, "insert into t values(1)"), TDbError);
  EXPECT_EQ(waits.size(), 1u);

  // Without a lock in the way a spent count costs nothing.
  ASSERT_DB_OK(holder.RollbackTrans());
  ASSERT_DB_OK(ExecOn(waiter, "insert into t values(1)"));
  EXPECT_EQ(ScalarOn(holder, "select count(*) from t"), "1");
}

// A run that meets the lock says so after five seconds, in the task's
// channel and in the log, and a stop request ends its wait: the daemon ends
// long before the 30 seconds the wait would otherwise last.
TEST(LockWaitTest, DaemonWaitingForALockSaysSoAndEndsOnAStopRequest) {
  TInstallation home;
  TDbConnection holder;
  holder.SetConnectionString(AccessConnectionString(home.Destination));
  ASSERT_DB_OK(holder.Open());
  ASSERT_DB_OK(holder.BeginTrans());
  ASSERT_DB_OK(ExecOn(holder, "insert into t values(100, 'held')"));

  const std::string name = UniqueName("locked_");
  auto task = home.CopyTask(name);
  TBroadMessage* channel = NewChannel(name);
  TBroadMessage* service = NewChannel(std::string(ServiceChannelId));
  auto daemon = std::make_shared<TDaemonService>("0", task, channel, service);
  daemon->Resume();
  std::vector<std::string> lines;
  const std::string waiting =
      "waiting for a lock on the destination database: 5 s so far, at most 30 s in all";
  const bool said = WaitUntil([&] {
    for (auto& line : SplitLines(channel->TakeText()))
      lines.push_back(line);
    return std::find(lines.begin(), lines.end(), waiting) != lines.end();
  });
  task->RequestStop();
  ASSERT_TRUE(said) << "lines so far: " << ::testing::PrintToString(lines);
  EXPECT_TRUE(daemon->WaitFor(std::chrono::seconds(10)));
  for (auto& line : SplitLines(channel->TakeText()))
    lines.push_back(line);
  EXPECT_THAT(lines, Contains("Mission has been explicit stopped!"));
  EXPECT_THAT(lines, Contains("操作完成, 但出现错误,请查看相关日志."));

  const std::vector<std::string> log = home.LogLines(Clock::Now());
  std::string text;
  for (const auto& line : log)
    text += line + "\n";
  EXPECT_THAT(text, HasSubstr(waiting + " (mission<" + name + ">)"));
  EXPECT_THAT(text, HasSubstr("Mission has been explicit stopped! (mission<" + name + ">)"));
  EXPECT_THAT(text, HasSubstr("database is locked"));

  ASSERT_DB_OK(holder.RollbackTrans());
  EXPECT_EQ(ScalarOn(holder, "select count(*) from t"), "0");
}

}  // namespace
}  // namespace kelvor::test
