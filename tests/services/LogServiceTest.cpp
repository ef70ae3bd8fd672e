#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "platform/Paths.h"
#include "platform/TextFile.h"
#include "services/uLogService.h"
#include "support/TestSupport.h"

namespace kelvor {
namespace {

using std::chrono::milliseconds;

std::unique_ptr<TLogOrder> Order(const std::string& Text) {
  auto order = std::make_unique<TLogOrder>();
  order->Text = Text;
  return order;
}

// Polls until the file holds exactly Expected; false after a generous timeout.
bool WaitForFileText(const std::string& Path, const std::string& Expected) {
  for (int i = 0; i < 1000; ++i) {
    if (test::ReadFileOrEmpty(Path) == Expected) return true;
    TThread::Sleep(10);
  }
  return false;
}

// The program runs in bin/; its log folder is the sibling logs/.
class LogServiceTest : public ::testing::Test {
 protected:
  void SetUp() override { StopLogService(milliseconds(0)); }
  // Still inside bin/, so whatever a test left queued lands in its own folder.
  void TearDown() override { StopLogService(milliseconds(0)); }

  void MakeLogFolder() { std::filesystem::create_directories(Logs); }

  test::TempDir Tmp;
  std::string Bin = Tmp.Sub("bin", true);
  std::string Logs = Tmp.Sub("logs/");
  test::CurrentDirectoryScope Cwd{Bin};
};

TEST_F(LogServiceTest, StampedLinesGoToTheFileOfTheDay) {
  MakeLogFolder();
  test::FixedClock clock(test::At(2026, 12, 7, 2, 0, 5));
  WriteLog("abc");
  WriteLog("");
  StopLogService();
  const std::string day = Logs + "log20261207.txt";
  EXPECT_EQ(test::ReadFileOrEmpty(day), "<2026-12-07 02:00:05>abc\r\n<2026-12-07 02:00:05>\r\n");

  // After a stop the next line starts a fresh writer, which appends.
  WriteLog("连接数据库失败");
  StopLogService();
  EXPECT_EQ(test::ReadFileOrEmpty(day),
            "<2026-12-07 02:00:05>abc\r\n<2026-12-07 02:00:05>\r\n"
            "<2026-12-07 02:00:05>连接数据库失败\r\n");
}

TEST_F(LogServiceTest, FolderFollowsTheCurrentDirectoryWhenTheFileIsOpened) {
  MakeLogFolder();
  std::string otherBin = Tmp.Sub("other/bin", true);
  std::string otherLogs = Tmp.Sub("other/logs/", true);
  test::FixedClock clock(test::At(2026, 12, 7, 2, 0, 5));
  WriteLog("here");
  ASSERT_TRUE(WaitForFileText(Logs + "log20261207.txt", "<2026-12-07 02:00:05>here\r\n"));
  {
    test::CurrentDirectoryScope moved(otherBin);
    WriteLog("there");
    ASSERT_TRUE(WaitForFileText(otherLogs + "log20261207.txt", "<2026-12-07 02:00:05>there\r\n"));
  }
  EXPECT_EQ(test::ReadFileOrEmpty(Logs + "log20261207.txt"), "<2026-12-07 02:00:05>here\r\n");
}

TEST_F(LogServiceTest, LineQueuedBeforeMidnightWrittenAfterGoesToTheNextDay) {
  MakeLogFolder();
  test::FixedClock clock(test::At(2026, 12, 7, 23, 59, 59));
  TLogQueue queue;
  TLogService writer(&queue, Logs);  // never resumed: the test runs the passes
  queue.Push(Order(StampLogLine("late")));
  clock.Set(test::At(2026, 12, 8, 0, 0, 1));
  writer.Flush();
  EXPECT_EQ(test::ReadFileOrEmpty(Logs + "log20261208.txt"), "<2026-12-07 23:59:59>late\r\n");
  EXPECT_FALSE(FileExists(Logs + "log20261207.txt"));
}

TEST_F(LogServiceTest, PassBegunBeforeMidnightWritesAllItsLinesToThatDay) {
  MakeLogFolder();
  test::FixedClock clock(test::At(2026, 12, 7, 23, 59, 59));
  TLogQueue queue;
  TLogService writer(&queue, Logs);
  const int lines = 20;
  for (int i = 0; i < lines; ++i)
    queue.Push(Order(StampLogLine("line " + std::to_string(i))));

  std::thread pass([&writer] { writer.Flush(); });
  const std::string before = Logs + "log20261207.txt";
  while (!FileExists(before))
    TThread::Sleep(1);
  clock.Set(test::At(2026, 12, 8, 0, 0, 1));  // midnight passes during the pass
  const int queuedAtMidnight = queue.Count();
  pass.join();
  if (queuedAtMidnight == 0) GTEST_SKIP() << "the pass ended before the clock moved";

  std::vector<std::string> written;
  ASSERT_TRUE(ReadLines(before, written));
  EXPECT_EQ(written.size(), static_cast<size_t>(lines));
  EXPECT_FALSE(FileExists(Logs + "log20261208.txt"));

  // The next pass begins after midnight.
  queue.Push(Order(StampLogLine("next")));
  writer.Flush();
  EXPECT_EQ(test::ReadFileOrEmpty(Logs + "log20261208.txt"), "<2026-12-08 00:00:01>next\r\n");
}

TEST_F(LogServiceTest, MissingFolderDropsLinesSilently) {
  test::FixedClock clock(test::At(2026, 12, 7, 2, 0, 5));
  EXPECT_NO_THROW({
    WriteLog("lost 1");
    WriteLog("lost 2");
    StopLogService();
  });
  EXPECT_FALSE(DirectoryExists(Logs));
  EXPECT_FALSE(FileExists(Bin + "/log20261207.txt"));

  // A failed line ends the pass; the next pass goes on with the next line.
  TLogQueue queue;
  TLogService writer(&queue, Tmp.Path() + "later");
  EXPECT_EQ(writer.Folder, Tmp.Path() + "later/");
  queue.Push(Order("first"));
  queue.Push(Order("second"));
  writer.Flush();
  EXPECT_EQ(queue.Count(), 1);
  std::filesystem::create_directories(Tmp.Path() + "later");
  writer.Flush();
  EXPECT_EQ(queue.Count(), 0);
  EXPECT_EQ(test::ReadFileOrEmpty(Tmp.Path() + "later/log20261207.txt"), "second\r\n");
}

TEST_F(LogServiceTest, StopWritesEverythingStillQueuedInOrder) {
  MakeLogFolder();
  test::FixedClock clock(test::At(2026, 12, 7, 2, 0, 5));
  std::string expected;
  for (int i = 0; i < 300; ++i) {
    WriteLog("entry " + std::to_string(i));
    expected += "<2026-12-07 02:00:05>entry " + std::to_string(i) + "\r\n";
  }
  // No waiting: the writer has had time for a few lines at most, and the
  // rest must still reach the file.
  StopLogService(milliseconds(0));
  EXPECT_EQ(test::ReadFileOrEmpty(Logs + "log20261207.txt"), expected);
}

}  // namespace
}  // namespace kelvor
