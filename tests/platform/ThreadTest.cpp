#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "platform/Thread.h"

namespace kelvor {
namespace {

// Polls Terminated like the service loops do.
class PollingThread : public TThread {
 public:
  explicit PollingThread(std::atomic<int>* Passes, std::atomic<int>* Destroyed = nullptr)
      : FPasses(Passes), FDestroyed(Destroyed) {}
  ~PollingThread() override {
    if (FDestroyed) ++*FDestroyed;
  }

 protected:
  void Execute() override {
    while (!Terminated()) {
      ++*FPasses;
      Sleep(1);
    }
  }

 private:
  std::atomic<int>* FPasses;
  std::atomic<int>* FDestroyed;
};

class OneShotThread : public TThread {
 public:
  explicit OneShotThread(std::atomic<int>* Destroyed) : FDestroyed(Destroyed) {}
  ~OneShotThread() override { ++*FDestroyed; }
  int Value = 0;

 protected:
  void Execute() override { Value = 42; }

 private:
  std::atomic<int>* FDestroyed;
};

TEST(ThreadTest, CreatedSuspendedUntilResume) {
  std::atomic<int> passes{0};
  PollingThread t(&passes);
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

TEST(ThreadTest, SelfFreeingThreadOutlivesItsCreatorsReference) {
  std::atomic<int> destroyed{0};
  std::weak_ptr<TThread> watch;
  {
    auto t = std::make_shared<OneShotThread>(&destroyed);
    t->FreeOnTerminate = true;
    watch = t;
    t->Resume();
  }  // the creator lets go at once; the body keeps the object alive
  ASSERT_TRUE(WaitForAllThreads(std::chrono::seconds(10)));
  EXPECT_TRUE(watch.expired());
  EXPECT_EQ(destroyed.load(), 1);
}

TEST(ThreadTest, ObserverKeepsASelfFreeingThreadReadable) {
  std::atomic<int> destroyed{0};
  auto t = std::make_shared<OneShotThread>(&destroyed);
  t->FreeOnTerminate = true;
  t->Resume();
  t->WaitFor();
  EXPECT_EQ(t->Value, 42);  // still ours: the shared reference keeps it alive
  t.reset();
  ASSERT_TRUE(WaitForAllThreads(std::chrono::seconds(10)));
  EXPECT_EQ(destroyed.load(), 1);
}

TEST(ThreadTest, SelfFreeingNeedsSharedOwnership) {
  std::atomic<int> destroyed{0};
  OneShotThread t(&destroyed);
  t.FreeOnTerminate = true;
  EXPECT_THROW(t.Resume(), std::logic_error);
}

TEST(ThreadTest, ManySelfFreeingThreadsEndCleanly) {
  std::atomic<int> destroyed{0};
  std::atomic<int> passes{0};
  std::vector<std::weak_ptr<TThread>> watches;
  for (int i = 0; i < 32; ++i) {
    auto t = std::make_shared<PollingThread>(&passes, &destroyed);
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
