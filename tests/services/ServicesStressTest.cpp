// Many threads at once on the channels, the log and the report; meant to be
// run under ThreadSanitizer as well.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <latch>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "platform/TextFile.h"
#include "platform/Thread.h"
#include "services/uBroadMessage.h"
#include "services/uLogService.h"
#include "services/uReportService.h"
#include "support/TestSupport.h"

namespace kelvor {
namespace {

using std::chrono::milliseconds;

constexpr int kLines = 80;

// Every mark "p<producer> <k>" of the given producers arrived exactly once,
// in each producer's order, and no other line.
void ExpectEveryMarkOnceInOrder(const std::vector<std::string>& Marks,
                                const std::vector<int>& Producers, const std::string& What) {
  std::map<std::string, std::vector<std::string>> seen;
  for (const std::string& mark : Marks)
    seen[mark.substr(0, mark.find(' '))].push_back(mark);
  EXPECT_EQ(seen.size(), Producers.size()) << What;
  for (int p : Producers) {
    std::vector<std::string> want;
    for (int k = 0; k < kLines; ++k)
      want.push_back("p" + std::to_string(p) + " " + std::to_string(k));
    EXPECT_EQ(seen["p" + std::to_string(p)], want) << What << " of p" << p;
  }
}

class ServicesStressTest : public ::testing::Test {
 protected:
  void SetUp() override {
    StopLogService(milliseconds(0));
    StopReportService(milliseconds(0));
    std::filesystem::create_directories(Tmp.Path() + "logs");
    std::filesystem::create_directories(Tmp.Path() + "reports");
  }
  void TearDown() override {
    StopLogService(milliseconds(0));
    StopReportService(milliseconds(0));
  }

  test::TempDir Tmp;
  std::string Bin = Tmp.Sub("bin/", true);
  test::CurrentDirectoryScope Cwd{Bin};
  test::ProgramFolderScope Program{Bin};
  test::FixedClock Clock{test::At(2026, 12, 7, 10, 0, 0)};
};

TEST_F(ServicesStressTest, ProducersDrainerAndStopsLoseNothing) {
  constexpr int kProducers = 6;
  TBroadMessageHandler* registry = GetBroadMessageHandler();
  TBroadMessage* shared[2] = {
      registry->Register("stress-shared-0", std::make_unique<TBroadMessage>()),
      registry->Register("stress-shared-1", std::make_unique<TBroadMessage>())};
  TBroadMessage* own[kProducers] = {};

  std::latch go(kProducers + 3);
  std::atomic<int> producersLeft{kProducers};
  std::vector<std::thread> threads;

  for (int p = 0; p < kProducers; ++p) {
    threads.emplace_back([&, p] {
      own[p] = GetBroadMessageHandler()->Register("stress-own-" + std::to_string(p),
                                                  std::make_unique<TBroadMessage>());
      own[p]->SetMissionName("p" + std::to_string(p));
      go.arrive_and_wait();
      for (int k = 0; k < kLines; ++k) {
        const std::string mark = "p" + std::to_string(p) + " " + std::to_string(k);
        TBroadMessage* channel =
            GetBroadMessageHandler()->Find(p % 2 == 0 ? "STRESS-SHARED-0" : "Stress-Shared-1");
        channel->Post(mark);
        own[p]->Post(mark);
        WriteLog(mark);
        WriteReport("p" + std::to_string(p), "10:00", "10:01", k, 0, "m");
        if (k % 8 == 0) own[p]->RequestStart();
        TThread::Sleep(k % 3 == 0 ? 10 : 5);
      }
      --producersLeft;
    });
  }

  // The window: drains the shared channels and reads run state while the
  // producers post.
  std::string drained[2];
  threads.emplace_back([&] {
    go.arrive_and_wait();
    while (producersLeft.load() > 0) {
      for (int c = 0; c < 2; ++c)
        if (shared[c]->HasLines()) drained[c] += shared[c]->TakeText();
      shared[0]->MarkStarted();
      (void)shared[1]->GetRunState();
      TThread::Sleep(3);
    }
    for (int c = 0; c < 2; ++c)
      drained[c] += shared[c]->TakeText();
  });

  // The service manager: looks for start requests and walks the registry.
  threads.emplace_back([&] {
    go.arrive_and_wait();
    while (producersLeft.load() > 0) {
      TBroadMessageHandler* handler = GetBroadMessageHandler();
      if (handler->IsRequestPending()) {
        for (int n = 0; n < handler->Count(); ++n) {
          TBroadMessage* channel = handler->GetChannel(n);
          if (channel && channel->IsStartRequested()) {
            (void)channel->GetMissionName();
            channel->ResetRequests();
          }
        }
        handler->ClearRequestPending();
      }
      TThread::Sleep(5);
    }
  });

  // Program exit comes early once, while everyone is still writing.
  threads.emplace_back([&] {
    go.arrive_and_wait();
    TThread::Sleep(300);
    StopLogService(milliseconds(100));
    StopReportService(milliseconds(100));
  });

  for (auto& t : threads)
    t.join();
  StopLogService(milliseconds(200));
  StopReportService(milliseconds(200));

  // Channels: the shared ones hold the even and the odd producers' marks.
  ExpectEveryMarkOnceInOrder(SplitLines(drained[0]), {0, 2, 4}, "shared channel 0");
  ExpectEveryMarkOnceInOrder(SplitLines(drained[1]), {1, 3, 5}, "shared channel 1");
  for (int p = 0; p < kProducers; ++p)
    ExpectEveryMarkOnceInOrder(SplitLines(own[p]->TakeText()), {p}, "own channel");

  // The log file: stamp, then the mark; the report file: producer in the
  // first field, sequence as record count.
  std::vector<std::string> lines, marks;
  ASSERT_TRUE(ReadLines(Tmp.Path() + "logs/log20261207.txt", lines));
  for (const auto& line : lines) {
    EXPECT_EQ(line.rfind("<2026-12-07 10:00:00>", 0), 0u) << line;
    marks.push_back(line.substr(21));
  }
  ExpectEveryMarkOnceInOrder(marks, {0, 1, 2, 3, 4, 5}, "log file");
  marks.clear();
  ASSERT_TRUE(ReadLines(Tmp.Path() + "reports/report20261207.txt", lines));
  for (const auto& line : lines) {
    auto fields = TReportFileHandler::SplitFields(line, "\t");
    ASSERT_EQ(fields.size(), 6u) << line;
    marks.push_back(fields[0] + " " + fields[3]);
  }
  ExpectEveryMarkOnceInOrder(marks, {0, 1, 2, 3, 4, 5}, "report file");
}

TEST_F(ServicesStressTest, ConcurrentFirstUseMakesOneOfEach) {
  constexpr int kThreads = 8;
  std::latch go(kThreads);
  std::vector<TBroadMessageHandler*> registries(kThreads, nullptr);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      go.arrive_and_wait();
      registries[i] = GetBroadMessageHandler();
      WriteLog("p" + std::to_string(i) + " 0");
      WriteReport("p" + std::to_string(i), "10:00", "10:00", 0, 0, "m");
    });
  }
  for (auto& t : threads)
    t.join();
  for (auto* r : registries)
    EXPECT_EQ(r, registries[0]);
  StopLogService();
  StopReportService();

  std::vector<std::string> logLines, reportLines;
  ASSERT_TRUE(ReadLines(Tmp.Path() + "logs/log20261207.txt", logLines));
  ASSERT_TRUE(ReadLines(Tmp.Path() + "reports/report20261207.txt", reportLines));
  EXPECT_EQ(logLines.size(), static_cast<size_t>(kThreads));
  EXPECT_EQ(reportLines.size(), static_cast<size_t>(kThreads));
}

}  // namespace
}  // namespace kelvor
