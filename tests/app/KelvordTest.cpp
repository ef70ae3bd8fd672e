// kelvord end to end: the real program on a temporary installation with
// SQLite databases, started as an operator or systemd would start it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include "KelvordProcess.h"

namespace kelvor {
namespace {

using test::TInstallation;

void ExecOnFile(const std::string& Path, const std::string& Sql) {
  TDbConnection c;
  c.SetConnectionString(test::AccessConnectionString(Path));
  c.Open();
  test::ExecOn(c, Sql);
}

// A task of the installation, its databases named relative to the program
// folder as an operator would name them, stored and listed in tasks.ini.
void AddTask(const TInstallation& Home, const std::string& Name, int OperationType,
             const std::string& Source = "..\\source.db") {
  auto task = Home.CopyTask(Name);
  task->Source.DbName = Source;
  task->Destination.DbName = "../destination.db";
  task->FieldMaps.OperationType = OperationType;
  Home.StoreTask(*task);
  Home.WriteIndex({Name + ".xml"});
}

TEST(KelvordTest, RunsTheTasksUntilIdleAndWritesReportAndLog) {
  TInstallation home(0);
  ExecOnFile(home.Source, "insert into t values(1,'Anna'), (2,'王芳'), (3,'O''Brien')");
  ExecOnFile(home.Destination, "insert into t values(2,'old'), (9,'gone')");
  AddTask(home, "mirror", opMirror);
  ASSERT_EQ(test::RunKelvord(home, {"--until-idle"}), 0) << test::KelvordOutput(home);

  EXPECT_EQ(home.DestinationScalar("select group_concat(id || '=' || name, ',') from t"),
            "1=Anna,2=王芳,3=O'Brien");
  const std::string out = test::KelvordOutput(home);
  for (const char* line : {"启动完成.", "[mirror] record count:3", "[mirror] 同步操作成功执行.",
                           "任务<mirror>已经停止.", "数据同步服务已经停止."})
    EXPECT_NE(out.find(line), std::string::npos) << line << "\n" << out;
  const std::vector<std::string> report = home.ReportLines(Clock::Now());
  ASSERT_EQ(report.size(), 1u);
  EXPECT_EQ(report[0].substr(0, 7), "mirror\t");
  EXPECT_EQ(report[0].substr(18), "\t3\t0\tOperation execute successfully.") << report[0];
}

TEST(KelvordTest, FailedRunGivesStatusOneAndLogLines) {
  TInstallation home;
  AddTask(home, "broken", opInsert, "../missing.db");
  EXPECT_EQ(test::RunKelvord(home, {"--until-idle"}), 1) << test::KelvordOutput(home);
  const std::string log = test::TodaysLog(home);
  EXPECT_NE(log.find("connect to database error ,info: "), std::string::npos) << log;
  EXPECT_NE(log.find("mission<broken> execute 3 times fail!"), std::string::npos) << log;
  EXPECT_TRUE(home.ReportLines(Clock::Now()).empty());
}

TEST(KelvordTest, ListedTasksThatCannotRunAreSaidAndGiveStatusOne) {
  TInstallation home;
  AddTask(home, "good", opInsert);
  const std::string folder = home.TaskFolder();
  const std::string good = test::ReadFileOrEmpty(folder + "good.xml");
  test::WriteFileOrDie(folder + "cut.xml", good.substr(0, good.find("<field src= \"name\"") + 10));
  test::WriteFileOrDie(folder + "empty.xml", "");
  ASSERT_EQ(::mkfifo((folder + "fifo.xml").c_str(), 0600), 0);
  auto zero = home.CopyTask("zero");
  zero->Mode = modeInterval;
  zero->TimeDistance = 0;
  home.StoreTask(*zero);
  home.WriteIndex(
      {"good.xml", "missing.xml", "fifo.xml", "empty.xml", "cut.xml", "zero.xml", "good.xml"});
  ASSERT_EQ(test::RunKelvord(home, {"--until-idle"}), 1) << test::KelvordOutput(home);

  const std::string out = test::KelvordOutput(home);
  for (const std::string& line : std::vector<std::string>{
           "任务文件" + folder + "missing.xml未加载: the file does not exist",
           "任务文件" + folder + "fifo.xml未加载: it is not a regular file",
           "任务文件" + folder + "good.xml未加载: it is listed more than once",
           "任务文件" + folder + "empty.xml不能运行: the file holds no task definition",
           "任务<good>不能运行: the file ends before its root element closes",
           "任务<zero>不能运行: its interval of 0 minutes is not positive",
           "[good] 同步操作成功执行."})
    EXPECT_NE(out.find(line), std::string::npos) << line << "\n" << out;
  EXPECT_NE(test::TodaysLog(home).find("task file " + folder + "fifo.xml not loaded"),
            std::string::npos);
  EXPECT_EQ(home.ReportLines(Clock::Now()).size(), 1u);  // the whole task, once
  EXPECT_EQ(home.DestinationScalar("select count(*) from t"), "3");
}

TEST(KelvordTest, UsageErrorsAndMissingTasksGiveStatusTwo) {
  TInstallation home;
  EXPECT_EQ(test::RunKelvord(home, {"--no-such-option"}), 2);
  EXPECT_NE(test::KelvordOutput(home).find("usage: kelvord"), std::string::npos);
  EXPECT_EQ(test::RunKelvord(home, {"--until-idle"}), 2);
  EXPECT_NE(test::KelvordOutput(home).find("tasks/dbtasks/tasks.ini"), std::string::npos)
      << test::KelvordOutput(home);
}

TEST(KelvordTest, TerminateDuringALongBatchRollsBackAndExitsCleanly) {
  TInstallation home(3000);
  // Every insert into the destination does some work, so the batch takes
  // seconds and the stop request arrives while it runs.
  ExecOnFile(
      home.Destination,
      "create trigger slow after insert on t begin select count(*) from (with recursive "
      "c(x) as (select 1 union all select x+1 from c where x < 40000) select x from c); end");
  AddTask(home, "long", opInsert);
  pid_t pid = test::StartKelvord(home, {});
  ASSERT_TRUE(test::WaitUntil(
      [&] {
        return test::KelvordOutput(home).find("[long] record count:3000") != std::string::npos;
      },
      std::chrono::seconds(60)))
      << test::KelvordOutput(home);
  kill(pid, SIGTERM);
  EXPECT_EQ(test::WaitKelvord(pid), 1)
      << test::KelvordOutput(home);  // the run was stopped: it failed
  const std::string out = test::KelvordOutput(home);
  for (const char* line : {"kelvord: stop requested", "[long] Mission has been explicit stopped!",
                           "数据同步服务已经停止."})
    EXPECT_NE(out.find(line), std::string::npos) << line << "\n" << out;
  EXPECT_EQ(home.DestinationScalar("select count(*) from t"), "0");
  EXPECT_NE(test::TodaysLog(home).find("mission<long> execute 1 times fail!"), std::string::npos);
}

}  // namespace
}  // namespace kelvor
