// The message channels, the log writer and the report writer and reader.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/Paths.h"
#include "platform/TextFile.h"
#include "services/uBroadMessage.h"
#include "services/uLogService.h"
#include "services/uReportService.h"
#include "support/TestSupport.h"

namespace kelvor {
namespace {

using std::chrono::milliseconds;
using Fields = std::vector<std::string>;

TEST(BroadMessageTest, PostKeepsLinesWithTextAndTakeTextEmptiesTheChannel) {
  TBroadMessage channel;
  for (const char* blank : {"", " \t  ", "\r\n"})
    channel.Post(blank);
  EXPECT_FALSE(channel.HasLines());
  channel.Post("  spaced out\t");
  channel.Post("开始连接目标和源数据库....");
  channel.Post("任务<a\r\nb>已经运行...");
  EXPECT_TRUE(channel.HasLines());
  std::string text = "stale";
  channel.TakeText(text);
  // Every line taken stays one line, whatever it held.
  EXPECT_EQ(text, "  spaced out\\t\r\n开始连接目标和源数据库....\r\n任务<a\\r\\nb>已经运行...\r\n");
  EXPECT_FALSE(channel.HasLines());
  EXPECT_EQ(channel.TakeText(), "");
}

TEST(BroadMessageTest, FindIgnoresCaseAndYieldsTheLatestRegistration) {
  TBroadMessageHandler registry;
  TBroadMessage* service1 = registry.Register(ServiceChannelId, std::make_unique<TBroadMessage>());
  TBroadMessage* task = registry.Register("Orders-Nightly", std::make_unique<TBroadMessage>());
  TBroadMessage* service2 = registry.Register(ServiceChannelId, std::make_unique<TBroadMessage>());

  EXPECT_EQ(registry.Find("orders-nightly"), task);
  EXPECT_EQ(registry.Find("ORDERS-NIGHTLY"), task);
  EXPECT_EQ(registry.Find("{ecb4dda5-95c6-49c3-8f5f-d0f50265ca78}"), service2);
  EXPECT_EQ(registry.Find("never registered"), nullptr);
  EXPECT_EQ(registry.Find(""), nullptr);

  ASSERT_EQ(registry.Count(), 3);
  EXPECT_EQ(registry.GetChannel(0), service1);
  EXPECT_EQ(registry.GetChannel(1), task);
  EXPECT_EQ(registry.GetChannel(2), service2);
  EXPECT_EQ(registry.GetChannel(-1), nullptr);
  EXPECT_EQ(registry.GetChannel(registry.Count()), nullptr);
}

std::unique_ptr<TLogOrder> Order(const std::string& Text) {
  auto order = std::make_unique<TLogOrder>();
  order->Text = Text;
  return order;
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

const char* const kSuccess = "Operation execute successfully.";
const char* const kFailure = "操作完成, 但出现错误,请查看相关日志.";

// Stands in for the report view of the window.
class RowCollector : public TReportRowSink {
 public:
  void Clear() override { Rows.clear(); }
  void AddRow(const std::vector<std::string>& Columns) override { Rows.push_back(Columns); }
  std::vector<Fields> Rows;
};

// The program lies in bin/; its report folder is the sibling reports/.
class ReportServiceTest : public ::testing::Test {
 protected:
  void SetUp() override { StopReportService(milliseconds(0)); }
  void TearDown() override { StopReportService(milliseconds(0)); }

  void MakeReportFolder() { std::filesystem::create_directories(Reports); }

  test::TempDir Tmp;
  std::string Bin = Tmp.Sub("bin/", true);
  std::string Reports = Tmp.Sub("reports/");
  test::ProgramFolderScope Program{Bin};
};

TEST_F(ReportServiceTest, RunsAreWrittenAsTabSeparatedLines) {
  MakeReportFolder();
  test::FixedClock clock(test::At(2026, 12, 7, 10, 2, 30));
  WriteReport("t1", "10:00", "10:02", 15, 0, kSuccess);
  WriteReport("t2", "10:01", "10:02", 0, -1, kFailure);
  StopReportService();
  EXPECT_EQ(test::ReadFileOrEmpty(Reports + "report20261207.txt"),
            std::string("t1\t10:00\t10:02\t15\t0\tOperation execute successfully.\r\n") +
                "t2\t10:01\t10:02\t0\t-1\t" + kFailure + "\r\n");

  TMissionReport entry{"t3", "23:59", "00:01", -7, 0, ""};
  EXPECT_EQ(FormatReportLine(entry), "t3\t23:59\t00:01\t-7\t0\t");
}

TEST_F(ReportServiceTest, MissingFolderDropsEntriesAndStopDrainsTheRest) {
  test::FixedClock clock(test::At(2026, 12, 7, 10, 2, 30));
  EXPECT_NO_THROW({
    WriteReport("t1", "10:00", "10:02", 15, 0, kSuccess);
    StopReportService();
  });
  EXPECT_FALSE(DirectoryExists(Reports));

  MakeReportFolder();
  std::string expected;
  for (int i = 0; i < 200; ++i) {
    WriteReport("t" + std::to_string(i), "10:00", "10:02", i, 0, kSuccess);
    expected += "t" + std::to_string(i) + "\t10:00\t10:02\t" + std::to_string(i) + "\t0\t" +
                kSuccess + "\r\n";
  }
  StopReportService(milliseconds(0));
  EXPECT_EQ(test::ReadFileOrEmpty(Reports + "report20261207.txt"), expected);
}

TEST_F(ReportServiceTest, LoadDayReadsTheRowsOfThatDay) {
  MakeReportFolder();
  RowCollector rows;
  rows.Rows.push_back({"left over"});
  TReportFileHandler handler;

  handler.LoadDay(rows, test::At(2026, 12, 7));  // no file for that day: cleared
  EXPECT_TRUE(rows.Rows.empty());

  test::WriteFileOrDie(Reports + "report20261207.txt", std::string("t1\t10:00\t10:02\t15\t0\t") +
                                                           kSuccess +
                                                           "\r\n"
                                                           "\r\n"
                                                           "  \t \r\n"
                                                           "t2\t10:05\t10:06\t0\t-1\t\r\n"
                                                           "t3\t11:00\t11:01\t3\t0\tdone");
  handler.LoadDay(rows, test::At(2026, 12, 7, 18, 0, 0));
  ASSERT_EQ(rows.Rows.size(), 3u);
  EXPECT_EQ(rows.Rows[0], (Fields{"t1", "10:00", "10:02", "15", "0", kSuccess}));
  // An empty message leaves the sixth column out.
  EXPECT_EQ(rows.Rows[1], (Fields{"t2", "10:05", "10:06", "0", "-1"}));
  EXPECT_EQ(rows.Rows[2], (Fields{"t3", "11:00", "11:01", "3", "0", "done"}));

  handler.LoadDay(rows, test::At(2026, 12, 8));
  EXPECT_TRUE(rows.Rows.empty());
}

TEST(ReportFieldsTest, SplitFieldsCases) {
  auto split = [](std::string_view Line, std::string_view Sep = "\t") {
    return TReportFileHandler::SplitFields(Line, Sep);
  };
  EXPECT_EQ(split("a\tb\tc"), (Fields{"a", "b", "c"}));
  EXPECT_EQ(split("a\t\tb"), (Fields{"a", "", "b"}));
  EXPECT_EQ(split("a\t"), (Fields{"a"}));
  EXPECT_EQ(split("a\t\t"), (Fields{"a", ""}));
  EXPECT_EQ(split("\ta"), (Fields{"", "a"}));
  EXPECT_EQ(split("abc"), (Fields{"abc"}));
  EXPECT_EQ(split(""), Fields{});
  EXPECT_EQ(split("\t"), (Fields{""}));
  EXPECT_EQ(split("a, b,c", ", "), (Fields{"a", "b,c"}));
  EXPECT_EQ(split("a\tb", ""), (Fields{"a\tb"}));
}

}  // namespace
}  // namespace kelvor
