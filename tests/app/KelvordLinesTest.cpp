// kelvord's lines at their real seams: a task name from a task file that
// holds line breaks and TABs through character references, and a log folder
// on a full disk.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <string>
#include <vector>

#include "DbTestSupport.h"
#include "KelvordProcess.h"
#include "platform/TextFile.h"
#include "services/uReportService.h"
#include "support/TmpfsMount.h"

namespace kelvor {
namespace {

using test::TInstallation;

const char* const kFailure = "操作完成, 但出现错误,请查看相关日志.";

// Replaces the name in the stored task file by Attribute, written as the
// file holds it (character references and all).
void RenameInFile(const TKelvorInstance& Task, const std::string& Attribute) {
  std::string text = test::ReadFileOrEmpty(Task.FileName);
  const std::string stored = "mission_name=\"" + Task.MissionName + "\"";
  const size_t at = text.find(stored);
  ASSERT_NE(at, std::string::npos) << text;
  text.replace(at, stored.size(), "mission_name=\"" + Attribute + "\"");
  test::WriteFileOrDie(Task.FileName, text);
}

std::vector<std::string> LinesOf(const std::string& Text) {
  return SplitLines(Text);
}

class RowCollector : public TReportRowSink {
 public:
  void Clear() override { Rows.clear(); }
  void AddRow(const std::vector<std::string>& Columns) override { Rows.push_back(Columns); }
  std::vector<std::vector<std::string>> Rows;
};

TEST(KelvordLinesTest, ANameCannotForgeLinesOfTheReportTheLogTheConsoleOrAnAlert) {
  TInstallation home;
  auto task = home.CopyTask("forged");
  task->FieldMaps.DstTable = "no_such_table";  // every run fails in its batch
  test::AddListedTask(home, *task);
  // After the real name, a line break, a whole report line and a console
  // line of a task "forged", a terminal escape and a path.
  RenameInFile(*task,
               "nightly&#13;&#10;forged&#9;10:00&#9;10:01&#9;999&#9;0&#9;Operation execute "
               "successfully.&#13;&#10;[forged] 同步操作成功执行.&#27;[2J C:\\new");
  const std::string shown =
      "nightly\\r\\nforged\\t10:00\\t10:01\\t999\\t0\\tOperation execute "
      "successfully.\\r\\n[forged] 同步操作成功执行.\\x1b[2J C:\\\\new";
  test::WriteFileOrDie(home.ServerIniPath(),
                       "[alert]\r\ncommand=printf '%s\\n' \"$KELVOR_TASK\" >> ../alerts.txt\r\n");

  ASSERT_EQ(test::RunKelvord(home, {"--until-idle"}), 1) << test::KelvordOutput(home);

  // The window's report dialog reads six fields per line, the name first.
  test::ProgramFolderScope program(home.BinFolder());
  RowCollector report;
  TReportFileHandler().LoadDay(report, Clock::Now());
  ASSERT_EQ(report.Rows.size(), 3u);  // a run-once task is tried three times
  for (const auto& row : report.Rows) {
    ASSERT_EQ(row.size(), 6u);
    EXPECT_EQ(row[0], shown);
    EXPECT_EQ(row[4], "-1");
    EXPECT_EQ(row[5], kFailure);
  }

  // Every log line is one stamped event.
  const std::vector<std::string> log = LinesOf(test::TodaysLog(home));
  int failures = 0;
  for (const std::string& line : log) {
    EXPECT_EQ(line.rfind("<", 0), 0u) << line;
    if (line.find("> execute ") != std::string::npos) {
      ++failures;
      EXPECT_EQ(line.substr(21),
                "mission<" + shown + "> execute " + std::to_string(failures) + " times fail!");
    }
  }
  EXPECT_EQ(failures, 3);

  const std::string out = test::KelvordOutput(home);
  EXPECT_NE(out.find("任务<" + shown + ">已经运行..."), std::string::npos) << out;
  EXPECT_NE(out.find("[" + shown + "] 开始连接目标和源数据库...."), std::string::npos) << out;
  for (const std::string& line : LinesOf(out))
    EXPECT_NE(line.rfind("[forged]", 0), 0u) << out;
  EXPECT_EQ(out.find('\x1b'), std::string::npos);

  EXPECT_EQ(LinesOf(test::ReadFileOrEmpty(home.Root() + "alerts.txt")),
            std::vector<std::string>(3, shown));
}

TEST(KelvordLinesTest, AFullLogDiskIsSaidOnceOnStandardErrorAndTheServiceGoesOn) {
  TInstallation home;
  test::TmpfsMount disk(home.Root() + "logs", 64 * 1024);
  if (!disk.Mounted()) GTEST_SKIP() << "no tmpfs for the log folder: " << disk.Failure();
  disk.Fill();
  auto mirror = home.CopyTask("mirror");
  mirror->FieldMaps.OperationType = opMirror;
  test::AddListedTask(home, *mirror);
  // Three failed connects: a dozen log lines, none of which fits.
  auto broken = home.FailingTask("broken");
  test::AddListedTask(home, *broken);

  const std::string out = home.Root() + "kelvord.out", err = home.Root() + "kelvord.err";
  const pid_t pid = test::SpawnKelvord(home, {"--until-idle"}, out, err);
  int status = 0;
  const bool ended = test::WaitUntil([&] { return waitpid(pid, &status, WNOHANG) == pid; },
                                     std::chrono::seconds(60));
  if (!ended) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
  }
  ASSERT_TRUE(ended) << "kelvord hangs on a full log disk\n" << test::ReadFileOrEmpty(out);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);  // the broken task, not the disk

  EXPECT_EQ(test::ReadFileOrEmpty(err),
            "kelvord: cannot write the log file " + home.Root() + "logs/log" +
                FormatDayStamp(Clock::Now()) +
                ".txt: No space left on device; its lines are lost until it can be written "
                "again\n");
  const std::string printed = test::ReadFileOrEmpty(out);
  for (const char* line :
       {"[mirror] 同步操作成功执行.", "任务<broken>已经停止.", "数据同步服务已经停止."})
    EXPECT_NE(printed.find(line), std::string::npos) << line << "\n" << printed;
  EXPECT_EQ(home.DestinationScalar("select count(*) from t"), "3");
  const std::vector<std::string> report = home.ReportLines(Clock::Now());
  ASSERT_EQ(report.size(), 1u);
  EXPECT_EQ(report[0].rfind("mirror\t", 0), 0u) << report[0];
  EXPECT_EQ(test::TodaysLog(home), "");  // not a torn piece of a line
}

}  // namespace
}  // namespace kelvor
