// A log folder that cannot be written (missing, or on a full disk): the
// writer says so once, again only after a line went through in between, and
// goes on writing when it can.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/TextFile.h"
#include "services/uBroadMessage.h"
#include "services/uLogService.h"
#include "support/TestSupport.h"
#include "support/TmpfsMount.h"

namespace kelvor {
namespace {

// Collects what the writers say instead of standard error.
class SaidTexts {
 public:
  SaidTexts() {
    SetWriteFailureHandler([this](const std::string& Text) {
      std::lock_guard<std::mutex> lock(FLock);
      FTexts.push_back(Text);
    });
  }
  ~SaidTexts() { SetWriteFailureHandler({}); }
  std::vector<std::string> Texts() const {
    std::lock_guard<std::mutex> lock(FLock);
    return FTexts;
  }

 private:
  mutable std::mutex FLock;
  std::vector<std::string> FTexts;
};

class LogWriteFailureTest : public ::testing::Test {
 protected:
  // Queues Count lines and gives the writer one pass for each (a failed
  // line ends a pass, so this is as many passes as the thread would make).
  void WriteLines(int Count) {
    for (int i = 0; i < Count; ++i) {
      auto order = std::make_unique<TLogOrder>();
      order->Text = "line " + std::to_string(++FLines) + kFiller;
      Queue.Push(std::move(order));
      Writer.Flush();
    }
  }

  std::string LastLine() const {
    std::vector<std::string> lines = SplitLines(test::ReadFileOrEmpty(File));
    return lines.empty() ? "" : lines.back();
  }

  static constexpr const char* kFiller = " of the log, long enough to fill a page soon";
  test::TempDir Tmp;
  std::string Logs = Tmp.Sub("logs", true);
  test::FixedClock Clock{test::At(2026, 12, 7, 2, 0, 5)};
  std::string File = Logs + "/log20261207.txt";
  TLogQueue Queue;
  TLogService Writer{&Queue, Logs};
  int FLines = 0;
};

TEST_F(LogWriteFailureTest, SaidOncePerSpellOfFailuresForEverySeam) {
  // Mounted over the log folder once the missing folder has had its turn.
  std::unique_ptr<test::TmpfsMount> disk;
  struct Seam {
    const char* Name;
    const char* Reason;
    bool NeedsMount;
    std::function<void()> Break;
    std::function<void()> Mend;
  };
  const std::vector<Seam> seams = {
      {"missing folder", "No such file or directory", false,
       [&] { std::filesystem::remove_all(Logs); },
       [&] { std::filesystem::create_directories(Logs); }},
      {"full disk", "No space left on device", true, [&] { disk->Fill(); }, [&] { disk->Free(); }},
  };
  for (const Seam& seam : seams) {
    SCOPED_TRACE(seam.Name);
    if (seam.NeedsMount) {
      if (!disk) disk = std::make_unique<test::TmpfsMount>(Logs, 64 * 1024);
      if (!disk->Mounted()) {
        std::printf("the %s is not tried: %s\n", seam.Name, disk->Failure().c_str());
        continue;
      }
    }
    SaidTexts said;
    WriteLines(1);
    seam.Break();
    // More than a full tmpfs may still hold in the last page of the file.
    WriteLines(150);
    ASSERT_EQ(said.Texts().size(), 1u);
    EXPECT_EQ(said.Texts()[0], "cannot write the log file " + File + ": " + seam.Reason +
                                   "; its lines are lost until it can be written again");

    seam.Mend();
    WriteLines(1);
    EXPECT_EQ(said.Texts().size(), 1u);
    EXPECT_EQ(LastLine(), "line " + std::to_string(FLines) + kFiller);
    seam.Break();
    WriteLines(150);
    EXPECT_EQ(said.Texts().size(), 2u);
    // What is still queued at the stop is dropped without a further word.
    for (int i = 0; i < 5; ++i)
      Queue.Push(std::make_unique<TLogOrder>());
    Writer.Drain();
    EXPECT_EQ(Queue.Count(), 0);
    EXPECT_EQ(said.Texts().size(), 2u);
    seam.Mend();
  }
}

// Without a handler of the program's own, the window's console shows it: the
// text goes to the service channel of the latest service start.
TEST_F(LogWriteFailureTest, SaidOnTheServiceChannelByDefault) {
  TBroadMessage* service = test::NewChannel(std::string(ServiceChannelId));
  std::filesystem::remove_all(Logs);
  WriteLines(3);
  const std::vector<std::string> lines = SplitLines(service->TakeText());
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].rfind("cannot write the log file " + File + ": ", 0), 0u) << lines[0];
}

}  // namespace
}  // namespace kelvor
