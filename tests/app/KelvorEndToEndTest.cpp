// The real kelvor program under Xvfb, from start to exit, on a throw-away
// installation: bin/kelvor (a copy, so that its own folder is the
// installation's), tasks/dbtasks/ with tasks.ini and two task files, logs/,
// reports/, conf/server.ini and two SQLite files under data/.
//
// The program is watched and driven by the probe library (KelvorProbe.cpp)
// loaded into it: the list shows the tasks, the run-once task's row turns to
// running while the probe holds the destination's write lock, and back once
// it lets go; the console shows the service's lines, the report dialog the
// run; the exit question is answered OK. The probe's PNG files land in the
// folder KELVOR_E2E_SHOTS names (scripts/e2e-screenshots), else in a
// temporary one.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "DbTestSupport.h"
#include "platform/Clock.h"
#include "platform/TextFile.h"
#include "support/TestSupport.h"
#include "tasks/uInstance.h"

namespace kelvor {
namespace {

namespace fs = std::filesystem;

constexpr int kSourceRows = 500;

std::string Quote(const std::string& Text) {
  std::string q = "'";
  for (char c : Text)
    q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

bool OnPath(const char* Program) {
  return std::system((std::string("command -v ") + Program + " >/dev/null 2>&1").c_str()) == 0;
}

TSyncDataSource SqliteSide(const std::string& Path) {
  TSyncDataSource side;
  side.DbName = Path;
  side.DbType = dbAccess;
  return side;
}

TEST(KelvorEndToEndTest, RunsAndShowsARunOnceTaskUnderXvfb) {
  if (!OnPath("xvfb-run")) GTEST_SKIP() << "xvfb-run is not installed";

  test::TempDir home;
  const std::string root = home.Path();
  for (const char* folder : {"bin", "tasks/dbtasks", "logs", "reports", "conf", "data"})
    fs::create_directories(root + folder);
  fs::copy_file(KELVOR_BINARY, root + "bin/kelvor");
  fs::permissions(root + "bin/kelvor", fs::perms::owner_all, fs::perm_options::add);
  test::WriteFileOrDie(root + "conf/server.ini", "[server]\r\nport=9000\r\n");

  // The databases.
  const std::string source = root + "data/source.db";
  const std::string destination = root + "data/destination.db";
  {
    test::TDbTestHome scratch;  // only to make the SQLite files
    fs::copy_file(scratch.CreateSqliteFile("s.db"), source);
    fs::copy_file(scratch.CreateSqliteFile("d.db"), destination);
  }
  TDbConnection src, dst;
  src.SetConnectionString(test::AccessConnectionString(source));
  dst.SetConnectionString(test::AccessConnectionString(destination));
  src.Open();
  dst.Open();
  test::ExecOn(src, "create table orders(id integer primary key, item varchar(40), qty integer)");
  test::ExecOn(dst, "create table orders(id integer primary key, item varchar(40), qty integer)");
  src.BeginTrans();
  for (int i = 1; i <= kSourceRows; ++i)
    test::ExecOn(src, "insert into orders values(" + std::to_string(i) + ",'item " +
                          std::to_string(i) + "'," + std::to_string(i % 7) + ")");
  src.CommitTrans();
  src.Close();
  dst.Close();

  // The tasks: a run-once copy, and a daily one that is only watched.
  TKelvorInstance copy;
  copy.MissionName = "orders_copy";
  copy.Version = "1.0";
  copy.Note = "订单表一次同步";
  copy.IsActive = true;
  copy.Mode = modeOnce;
  copy.TimePoint = "00:00";
  copy.Source = SqliteSide(source);
  copy.Destination = SqliteSide(destination);
  copy.FieldMaps.DstTable = "orders";
  copy.FieldMaps.OperationType = opUpdateThenInsert;
  copy.FieldMaps.SetCommand("select id, item, qty from orders");
  copy.FieldMaps.SetFieldMapText(
      "<id>:<id|integer|0|true>\r\n<item>:<item|varchar|40|false>\r\n<qty>:<qty|integer|0|false>");
  ASSERT_TRUE(copy.WriteTaskFile(root + "tasks/dbtasks/orders_copy.xml"));
  TKelvorInstance nightly;
  nightly.MissionName = "orders_nightly";
  nightly.Version = "1.0";
  nightly.Note = "每晚同步";
  nightly.IsActive = false;
  nightly.Mode = modePlanned;
  nightly.TimePoint = "23:30";
  nightly.Source = SqliteSide(source);
  nightly.Destination = SqliteSide(destination);
  nightly.FieldMaps.DstTable = "orders";
  nightly.FieldMaps.SetCommand("select id, item, qty from orders");
  ASSERT_TRUE(nightly.WriteTaskFile(root + "tasks/dbtasks/orders_nightly.xml"));
  test::WriteFileOrDie(root + "tasks/dbtasks/tasks.ini",
                       "#define all tasks....\r\norders_copy.xml\r\norders_nightly.xml\r\n");

  // The run, watched by the probe.
  const char* shots = std::getenv("KELVOR_E2E_SHOTS");
  const std::string out = shots && *shots ? std::string(shots) : root + "shots";
  fs::create_directories(out);
  const std::string report = root + "reports/report" + FormatDayStamp(Clock::Now()) + ".txt";
  const std::string command =
      "cd " + Quote(root + "bin") + " && timeout 240 xvfb-run -a -s '-screen 0 1280x1024x24' env" +
      " QT_QPA_PLATFORM=xcb LD_PRELOAD=" + Quote(KELVOR_PROBE) + " KELVOR_PROBE_DIR=" + Quote(out) +
      " KELVOR_PROBE_TASK=orders_copy KELVOR_PROBE_ROWS=2" +
      " KELVOR_PROBE_RECORDS=" + std::to_string(kSourceRows) +
      " KELVOR_PROBE_HOLD=" + Quote(destination) + " KELVOR_PROBE_REPORT=" + Quote(report) + " " +
      Quote(root + "bin/kelvor") + " >" + Quote(out + "/kelvor.out") + " 2>&1";
  const int status = std::system(command.c_str());
  const std::string probeLog = test::ReadFileOrEmpty(out + "/probe.log");
  const std::string programOut = test::ReadFileOrEmpty(out + "/kelvor.out");
  ASSERT_TRUE(WIFEXITED(status)) << probeLog << programOut;
  EXPECT_EQ(WEXITSTATUS(status), 0) << probeLog << programOut;

  // Every check of the probe passed, and it went all the way.
  std::vector<std::string> lines = SplitLines(probeLog);
  int checks = 0;
  for (const std::string& line : lines) {
    EXPECT_NE(line.rfind("fail", 0), 0u) << line;
    if (line.rfind("ok", 0) == 0) ++checks;
  }
  EXPECT_NE(probeLog.find("\ndone\n"), std::string::npos) << probeLog << programOut;
  EXPECT_GE(checks, 20) << probeLog;
  for (const char* shot :
       {"01-started", "02-running", "03-finished", "04-task-info", "05-report", "06-exit-question"})
    EXPECT_TRUE(fs::exists(out + "/" + shot + ".png")) << shot;

  // What the run left behind.
  dst.Open();
  EXPECT_EQ(test::ScalarOn(dst, "select count(*) from orders"), std::to_string(kSourceRows));
  dst.Close();
  std::vector<std::string> reportLines;
  ASSERT_TRUE(ReadLines(report, reportLines));
  ASSERT_EQ(reportLines.size(), 1u);
  EXPECT_EQ(reportLines[0].rfind("orders_copy\t", 0), 0u) << reportLines[0];
  EXPECT_NE(reportLines[0].find("\t" + std::to_string(kSourceRows) + "\t0\t"), std::string::npos)
      << reportLines[0];
  // The program stopped its service and drained its writers before it ended.
  EXPECT_TRUE(fs::exists(root + "logs") && fs::is_directory(root + "logs"));
}

}  // namespace
}  // namespace kelvor
