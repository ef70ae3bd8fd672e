#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/Paths.h"
#include "services/uReportService.h"
#include "support/TestSupport.h"

namespace kelvor {
namespace {

using std::chrono::milliseconds;
using Fields = std::vector<std::string>;

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
