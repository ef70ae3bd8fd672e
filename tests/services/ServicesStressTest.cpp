// Many threads at once on the channels, the log and the report; meant to be
// run under ThreadSanitizer as well.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
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

// Reads "p<producer> <sequence>" and fills the two numbers.
bool ParseMark(const std::string& Text, int& Producer, int& Sequence) {
  return std::sscanf(Text.c_str(), "p%d %d", &Producer, &Sequence) == 2;
}

// Checks that every producer's marks arrived exactly once and in order.
void ExpectCompleteAndOrdered(const std::vector<std::pair<int, int>>& Marks, int Producers,
                              int PerProducer, const std::string& What) {
  std::map<int, std::vector<int>> seen;
  for (const auto& [producer, sequence] : Marks)
    seen[producer].push_back(sequence);
  ASSERT_EQ(static_cast<int>(seen.size()), Producers) << What;
  for (const auto& [producer, sequences] : seen) {
    ASSERT_EQ(static_cast<int>(sequences.size()), PerProducer) << What << " of p" << producer;
    for (int k = 0; k < PerProducer; ++k)
      ASSERT_EQ(sequences[k], k) << What << " of p" << producer << " at " << k;
  }
}

std::vector<std::pair<int, int>> MarksOfText(const std::vector<std::string>& Lines, int Producers) {
  std::vector<std::pair<int, int>> marks;
  for (const auto& line : Lines) {
    int producer = -1, sequence = -1;
    if (ParseMark(line, producer, sequence) && producer < Producers)
      marks.emplace_back(producer, sequence);
    else
      ADD_FAILURE() << "unexpected line: " << line;
  }
  return marks;
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
  constexpr int kLines = 80;
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

  // Channels: every mark once, in each producer's order.
  std::vector<std::pair<int, int>> channelMarks;
  for (int c = 0; c < 2; ++c) {
    auto marks = MarksOfText(SplitLines(drained[c]), kProducers);
    for (const auto& m : marks)
      EXPECT_EQ(m.first % 2, c);
    channelMarks.insert(channelMarks.end(), marks.begin(), marks.end());
  }
  ExpectCompleteAndOrdered(channelMarks, kProducers, kLines, "shared channels");
  for (int p = 0; p < kProducers; ++p) {
    auto marks = MarksOfText(SplitLines(own[p]->TakeText()), kProducers);
    for (const auto& m : marks)
      EXPECT_EQ(m.first, p);
    ExpectCompleteAndOrdered(marks, 1, kLines, "own channel");
  }

  // The log file: stamp, then the mark.
  std::vector<std::string> logLines;
  ASSERT_TRUE(ReadLines(Tmp.Path() + "logs/log20261207.txt", logLines));
  std::vector<std::string> logTexts;
  for (const auto& line : logLines) {
    ASSERT_EQ(line.rfind("<2026-12-07 10:00:00>", 0), 0u) << line;
    logTexts.push_back(line.substr(21));
  }
  ExpectCompleteAndOrdered(MarksOfText(logTexts, kProducers), kProducers, kLines, "log file");

  // The report file: producer in the first field, sequence as record count.
  std::vector<std::string> reportLines;
  ASSERT_TRUE(ReadLines(Tmp.Path() + "reports/report20261207.txt", reportLines));
  std::vector<std::pair<int, int>> reportMarks;
  for (const auto& line : reportLines) {
    auto fields = TReportFileHandler::SplitFields(line, "\t");
    ASSERT_EQ(fields.size(), 6u) << line;
    reportMarks.emplace_back(std::stoi(fields[0].substr(1)), std::stoi(fields[3]));
  }
  ExpectCompleteAndOrdered(reportMarks, kProducers, kLines, "report file");
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
