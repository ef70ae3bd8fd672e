// The worker thread's life cycle, and threads that free themselves without
// touching freed memory (also run under ThreadSanitizer).
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <vector>

#include "platform/Thread.h"

namespace kelvor {
namespace {

// Runs Body as its Execute; counts its own destruction.
class TBodyThread : public TThread {
 public:
  TBodyThread(std::function<void(TBodyThread&)> Body, std::atomic<int>& Destroyed)
      : FBody(std::move(Body)), FDestroyed(Destroyed) {}
  ~TBodyThread() override { ++FDestroyed; }
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

}  // namespace
}  // namespace kelvor
