// The worker thread's life cycle, and threads that free themselves without
// touching freed memory (also run under ThreadSanitizer).
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>
#include <vector>

#include "platform/Thread.h"
#include "platform/Wakeup.h"

namespace kelvor {
namespace {

// Runs Body as its Execute; counts its own destruction.
class TBodyThread : public TThread {
 public:
  TBodyThread(std::function<void(TBodyThread&)> Body, std::atomic<int>& Destroyed)
      : FBody(std::move(Body)), FDestroyed(Destroyed) {}
  ~TBodyThread() override { ++FDestroyed; }
  using TThread::Pause;
  using TThread::Terminated;
  int Value = 0;

 protected:
  void Execute() override { FBody(*this); }

 private:
  std::function<void(TBodyThread&)> FBody;
  std::atomic<int>& FDestroyed;
};

// Polls Terminated like the service loops do.
auto Polling(std::atomic<int>& Passes) {
  return [&Passes](TBodyThread& T) {
    while (!T.Terminated()) {
      ++Passes;
      TThread::Sleep(1);
    }
  };
}

TEST(ThreadTest, CreatedSuspendedUntilResume) {
  std::atomic<int> passes{0}, destroyed{0};
  TBodyThread t(Polling(passes), destroyed);
  TThread::Sleep(20);
  EXPECT_EQ(passes.load(), 0);
  EXPECT_FALSE(t.Started());
  EXPECT_TRUE(t.WaitFor(std::chrono::milliseconds(0)));  // never started: nothing to wait for
  t.Resume();
  t.Resume();  // a second resume does nothing
  while (passes.load() == 0)
    TThread::Sleep(1);
  t.Terminate();
  t.WaitFor();
  EXPECT_TRUE(t.Finished());
}

TEST(ThreadTest, SelfFreeingThreadOutlivesItsCreatorsReferenceAndNeedsSharedOwnership) {
  std::atomic<int> destroyed{0};
  std::weak_ptr<TThread> watch;
  {
    auto t = std::make_shared<TBodyThread>([](TBodyThread& T) { T.Value = 42; }, destroyed);
    t->FreeOnTerminate = true;
    watch = t;
    t->Resume();
  }  // the creator lets go at once; the body keeps the object alive
  ASSERT_TRUE(WaitForAllThreads(std::chrono::seconds(10)));
  EXPECT_TRUE(watch.expired());
  EXPECT_EQ(destroyed.load(), 1);

  // An observer's reference keeps it readable after it ended.
  auto t = std::make_shared<TBodyThread>([](TBodyThread& T) { T.Value = 42; }, destroyed);
  t->FreeOnTerminate = true;
  t->Resume();
  t->WaitFor();
  EXPECT_EQ(t->Value, 42);
  t.reset();
  ASSERT_TRUE(WaitForAllThreads(std::chrono::seconds(10)));
  EXPECT_EQ(destroyed.load(), 2);

  TBodyThread owned([](TBodyThread&) {}, destroyed);
  owned.FreeOnTerminate = true;
  EXPECT_THROW(owned.Resume(), std::logic_error);
}

TEST(ThreadTest, ManySelfFreeingThreadsEndCleanly) {
  std::atomic<int> destroyed{0}, passes{0};
  std::vector<std::weak_ptr<TThread>> watches;
  for (int i = 0; i < 32; ++i) {
    auto t = std::make_shared<TBodyThread>(Polling(passes), destroyed);
    t->FreeOnTerminate = true;
    t->Resume();
    watches.push_back(t);
    if (i % 2 == 0) t->Terminate();
  }
  for (auto& w : watches)
    if (auto t = w.lock()) t->Terminate();
  ASSERT_TRUE(WaitForAllThreads(std::chrono::seconds(10)));
  EXPECT_EQ(destroyed.load(), 32);
  EXPECT_EQ(LiveThreadCount(), 0);
}

// Pauses are meant to outlast every test here: each case below can only end
// through a termination request or a notified condition.
constexpr std::chrono::hours kLongPause{1};

TEST(ThreadTest, APauseEndsAtATerminationRequestOrWhenItsConditionIsNotified) {
  struct TCase {
    const char* Name;
    bool ByTerminate;  // else the condition is set and the wakeup notified
  };
  for (const TCase& c : {TCase{"terminate", true}, TCase{"condition", false}}) {
    std::atomic<int> destroyed{0};
    std::atomic<bool> condition{false}, ended{false}, paused{false};
    TBodyThread t(
        [&](TBodyThread& T) {
          paused.store(true);
          ended.store(T.Pause(kLongPause, [&] { return condition.load(); }));
        },
        destroyed);
    t.Resume();
    while (!paused.load())
      TThread::Sleep(1);
    if (c.ByTerminate) {
      t.Terminate();
    } else {
      condition.store(true);
      ProcessWakeup().Notify();
    }
    // The generous bound only guards against a hang.
    ASSERT_TRUE(t.WaitFor(std::chrono::seconds(20))) << c.Name;
    EXPECT_TRUE(ended.load()) << c.Name;
  }
}

TEST(ThreadTest, AWakeupWaitReturnsWhetherItsConditionHeld) {
  TWakeup wakeup;
  // A condition that holds already ends the wait before it begins.
  EXPECT_TRUE(wakeup.WaitFor(kLongPause, [] { return true; }));

  // Notices without the condition do not end the wait: it runs to its
  // deadline and says the condition did not hold.
  std::atomic<bool> stop{false};
  std::thread noise([&] {
    while (!stop.load()) {
      wakeup.Notify();
      TThread::Sleep(1);
    }
  });
  EXPECT_FALSE(wakeup.WaitFor(std::chrono::milliseconds(30), [] { return false; }));

  // A condition set by another thread is seen at its notice.
  std::atomic<int> looks{0};
  std::thread setter([&] {
    while (looks.load() == 0)
      TThread::Sleep(1);
    stop.store(true);
    wakeup.Notify();
  });
  EXPECT_TRUE(wakeup.WaitFor(kLongPause, [&] {
    ++looks;
    return stop.load();
  }));
  setter.join();
  noise.join();
}

}  // namespace
}  // namespace kelvor
