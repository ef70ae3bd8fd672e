// kelvord --check, --run NAME and --dry-run NAME end to end: the real program
// on temporary installations with SQLite databases.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <regex>

#include "KelvordProcess.h"
#include "platform/Paths.h"
#include "platform/TextFile.h"

namespace kelvor {
namespace {

using namespace test;

// The rows of the --check table (the header included), cut at runs of two or
// more blanks, up to the first empty line.
std::vector<std::vector<std::string>> CheckTable(const std::string& Output) {
  std::vector<std::vector<std::string>> rows;
  static const std::regex gap("  +");
  for (const std::string& line : SplitLines(Output)) {
    if (line.empty()) break;
    rows.emplace_back(std::sregex_token_iterator(line.begin(), line.end(), gap, -1),
                      std::sregex_token_iterator());
  }
  return rows;
}

bool FolderEmpty(const std::string& Path) {
  return std::filesystem::is_empty(Path);
}

TEST(KelvordCheckTest, OneRowPerTaskWritingNothingAnywhere) {
  TInstallation home;
  auto good = home.CopyTask("good");
  auto nightly = home.CopyTask("nightly");
  nightly->Mode = modePlanned;
  nightly->TimePoint = "02:00";
  auto column = home.CopyTask("column");
  column->FieldMaps.SetFieldMapText(
      "<id>:<id|integer|0|true>\r\n<name>:<name|varchar|20|false>\r\n"
      "<region>:<region|varchar|8|false>\r\n<zone>:< zone |varchar|8|false>");
  auto keyless = home.CopyTask("keyless");
  keyless->FieldMaps.OperationType = opMirror;
  keyless->FieldMaps.SetFieldMapText("<id>:<id|integer|0|false>\r\n<name>:<name|varchar|20|false>");
  auto unreachable = home.FailingTask("unreachable");
  auto idle = home.FailingTask("idle");
  idle->IsActive = false;
  auto never = home.CopyTask("never");
  never->Mode = modePlanned;
  never->ScheduleMode = scheduleMonthly;
  never->DaySet = 0;
  auto script = home.CopyTask("script");
  script->FieldMaps.OperationType = opScriptOnDestination;
  script->FieldMaps.SetCommand("delete from t");
  for (auto* task : {&good, &nightly, &column, &keyless, &unreachable, &idle, &never, &script})
    AddListedTask(home, **task);
  const std::string source = ReadFileOrEmpty(home.Source);
  const std::string destination = ReadFileOrEmpty(home.Destination);

  ASSERT_EQ(RunKelvord(home, {"--check"}), 1) << KelvordOutput(home);
  const std::string out = KelvordOutput(home);
  const std::vector<std::vector<std::string>> expected = {
      {"task", "active", "schedule", "next due", "source", "destination", "field map"},
      {"good", "yes", "once", "at service start", "ok", "ok", "yes"},
      {"nightly", "yes", "daily at 02:00", "<date> 02:00", "ok", "ok", "yes"},
      {"column", "yes", "once", "at service start", "ok", "ok", "missing: region, zone"},
      {"keyless", "yes", "once", "at service start", "ok", "ok", "no key column"},
      {"unreachable", "yes", "once", "at service start", "error", "ok", "yes"},
      {"idle", "no", "once", "at service start", "error", "ok", "yes"},
      {"never", "yes", "monthly on day 0 at 17:30", "never", "ok", "ok", "yes"},
      {"script", "yes", "once", "at service start", "ok", "ok", "not used"},
  };
  std::vector<std::vector<std::string>> table = CheckTable(out);
  ASSERT_EQ(table.size(), expected.size()) << out;
  EXPECT_TRUE(std::regex_match(table[2][3], std::regex(R"(\d{4}-\d\d-\d\d 02:00)"))) << out;
  table[2][3] = "<date> 02:00";
  for (size_t i = 0; i < expected.size(); ++i)
    EXPECT_EQ(table[i], expected[i]) << out;
  for (const char* note :
       {"unreachable: source: Unable to open SQLite file", "idle: source: Unable to open",
        "never: schedule: the service would never run it",
        "4 active tasks could not run: column, keyless, unreachable, never"})
    EXPECT_NE(out.find(note), std::string::npos) << note << "\n" << out;

  // Nothing written: the databases are byte for byte as before, the missing
  // one was not created, and neither the log nor the report got a line.
  EXPECT_EQ(ReadFileOrEmpty(home.Source), source);
  EXPECT_EQ(ReadFileOrEmpty(home.Destination), destination);
  EXPECT_FALSE(FileExists(home.Root() + "missing.db"));
  EXPECT_TRUE(FolderEmpty(home.Root() + "logs")) << TodaysLog(home);
  EXPECT_TRUE(FolderEmpty(home.Root() + "reports"));

  // Only active tasks count.
  home.WriteIndex({"good.xml", "idle.xml", "script.xml"});
  EXPECT_EQ(RunKelvord(home, {"--check"}), 0) << KelvordOutput(home);
  EXPECT_NE(KelvordOutput(home).find("every active task could run"), std::string::npos);
}

TEST(KelvordRunTest, RunsOneTaskNowWhateverItsScheduleAndActiveFlag) {
  TInstallation home;
  auto other = home.CopyTask("other");
  auto late = home.WatchTask("late");  // daily at 23:59, and inactive
  late->IsActive = false;
  AddListedTask(home, *other);
  AddListedTask(home, *late);
  // An alert is for failed runs only.
  WriteFileOrDie(home.ServerIniPath(), "[alert]\r\ncommand=touch '" + home.Root() + "alerted'\r\n");

  ASSERT_EQ(RunKelvord(home, {"--run", "late"}), 0) << KelvordOutput(home);
  const std::string out = KelvordOutput(home);
  for (const char* line : {"[late] 开始连接目标和源数据库....", "[late] record count:3",
                           "[late] 同步操作成功执行.", "kelvord: task late succeeded"})
    EXPECT_NE(out.find(line), std::string::npos) << line << "\n" << out;
  EXPECT_EQ(out.find("[other]"), std::string::npos) << out;
  EXPECT_EQ(home.DestinationScalar("select count(*) from t"), "3");
  const std::vector<std::string> report = home.ReportLines(Clock::Now());
  ASSERT_EQ(report.size(), 1u);
  EXPECT_EQ(report[0].substr(0, 5), "late\t");
  EXPECT_NE(report[0].find("\t3\t0\tOperation execute successfully."), std::string::npos);
  EXPECT_FALSE(FileExists(home.Root() + "alerted"));
}

TEST(KelvordRunTest, AFailedRunRaisesTheAlertWhoseOwnFailureIsOnlyLogged) {
  struct Case {
    std::string Command;
    std::string Timeout;
    std::string LogLine;  // "" when the alert succeeds
  };
  const Case cases[] = {
      {"env | grep -E '^KELVOR_(TASK|RESULT|LOG|TIME)=' | sort > \"$KELVOR_LOG.alert\"", "", ""},
      {"exit 7", "", "alert command for mission<broken> failed,info: exit status 7"},
      {"no-such-command-for-kelvor", "", "failed,info: exit status 127"},
      {"sleep 30", "1", "failed,info: no end within its time limit, stopped"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Command);
    TInstallation home;
    auto broken = home.FailingTask("broken");
    AddListedTask(home, *broken);
    WriteFileOrDie(home.ServerIniPath(), "[server]\r\nname=x\r\n\r\n[ALERT]\r\n  command = " +
                                             c.Command + "\r\ntimeout=" + c.Timeout + "\r\n");
    EXPECT_EQ(RunKelvord(home, {"--run", "broken"}), 1) << KelvordOutput(home);
    EXPECT_NE(KelvordOutput(home).find("kelvord: task broken failed"), std::string::npos);
    const std::string log = TodaysLog(home);
    // One run, as asked, however the alert went; a failed connect writes no report.
    EXPECT_NE(log.find("mission<broken> execute 1 times fail!"), std::string::npos) << log;
    EXPECT_EQ(log.find("execute 2 times"), std::string::npos) << log;
    EXPECT_TRUE(home.ReportLines(Clock::Now()).empty());
    if (!c.LogLine.empty()) {
      EXPECT_NE(log.find(c.LogLine), std::string::npos) << log;
      continue;
    }
    EXPECT_EQ(log.find("alert"), std::string::npos) << log;
    const std::string logFile = home.Root() + "logs/log" + FormatDayStamp(Clock::Now()) + ".txt";
    const std::vector<std::string> env = SplitLines(ReadFileOrEmpty(logFile + ".alert"));
    ASSERT_EQ(env.size(), 4u) << ReadFileOrEmpty(logFile + ".alert");
    EXPECT_EQ(env[0], "KELVOR_LOG=" + logFile);
    EXPECT_EQ(env[1], "KELVOR_RESULT=连接数据库失败，请看详细日志信息!");
    EXPECT_EQ(env[2], "KELVOR_TASK=broken");
    EXPECT_TRUE(
        std::regex_match(env[3], std::regex(R"(KELVOR_TIME=\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)")))
        << env[3];
  }
}

TEST(KelvordRunTest, UnknownTasksAndMixedCommandsGiveStatusTwo) {
  TInstallation home;
  auto task = home.CopyTask("known");
  AddListedTask(home, *task);
  for (const auto& args :
       std::vector<std::vector<std::string>>{{"--run", "Known"},
                                             {"--dry-run", "Known"},
                                             {"--check", "--run", "known"},
                                             {"--run", "known", "--dry-run", "known"},
                                             {"--until-idle", "--check"}})
    EXPECT_EQ(RunKelvord(home, args), 2) << KelvordOutput(home);
  EXPECT_TRUE(home.ReportLines(Clock::Now()).empty());
}

// A dry run stops as a run does.
TEST(KelvordRunTest, TerminateDuringTheRunRollsItBack) {
  for (const std::string command : {"--run", "--dry-run"}) {
    SCOPED_TRACE(command);
    TInstallation home(3000);
    TDbConnection dst;
    dst.SetConnectionString(AccessConnectionString(home.Destination));
    dst.Open();
    // Every insert does some work, so the batch takes seconds and the signal
    // arrives while it runs.
    ExecOn(dst,
           "create trigger slow after insert on t begin select count(*) from (with recursive "
           "c(x) as (select 1 union all select x+1 from c where x < 40000) select x from c); end");
    dst.Close();
    auto task = home.CopyTask("long");
    task->FieldMaps.OperationType = opInsert;
    AddListedTask(home, *task);
    const pid_t pid = StartKelvord(home, {command, "long"});
    ASSERT_TRUE(WaitUntil(
        [&] { return KelvordOutput(home).find("[long] record count:3000") != std::string::npos; },
        std::chrono::seconds(60)))
        << KelvordOutput(home);
    kill(pid, SIGTERM);
    EXPECT_EQ(WaitKelvord(pid), 1) << KelvordOutput(home);
    const std::string out = KelvordOutput(home);
    for (const char* line :
         {"kelvord: stop requested, stopping the run", "[long] Mission has been explicit stopped!",
          "kelvord: task long failed"})
      EXPECT_NE(out.find(line), std::string::npos) << line << "\n" << out;
    EXPECT_EQ(home.DestinationScalar("select count(*) from t"), "0");
  }
}

// --dry-run runs the task as --run does and rolls every transaction back,
// the validations on the source included: both database files are byte for
// byte as before, for every row-copying type and both scripts, while the
// output says what would have happened. The report gets no line, a failed
// dry run raises no alert, and every log line it wrote is marked.
TEST(KelvordDryRunTest, LeavesBothFilesAsTheyWereAndSaysWhatWouldHaveHappened) {
  TInstallation home(4);  // source t: 1 "row 1" ... 4 "row 4"
  for (const auto& [file, sql] :
       {std::pair{home.Source, "alter table t add column done integer default 0"},
        std::pair{home.Destination,
                  "insert into t values (1, 'old'), (2, 'row 2'), (9, 'extra')"}}) {
    TDbConnection db;
    db.SetConnectionString(AccessConnectionString(file));
    db.Open();
    ExecOn(db, sql);
  }
  WriteFileOrDie(home.ServerIniPath(), "[alert]\r\ncommand=touch '" + home.Root() + "alerted'\r\n");
  struct TCase {
    std::string Name;
    int Op;
    std::string Command;  // empty: the copy of t
    bool Check;           // a check condition reading the destination's keys
    int Status;
    std::vector<std::string> Lines;  // expected in the output, as regular expressions
  };
  const std::string validated = "update t set done = 1 where 1=1";
  const TCase cases[] = {
      {"insert",
       opInsert,
       "",
       true,
       0,
       {R"(rows read +4\n)", R"(skipped by the pre-check +2\n)", R"(inserted +2\n)",
        R"(statements sent +3 \(the first 3 follow\)\n)",
        // One INSERT carries both rows.
        R"(1\. destination: insert into t\(id,name\)values\(:id,:name\),\(:id,:name\)\n)"
        R"( +values: :id=3, :name='row 3', :id=4, :name='row 4'\n)",
        R"(2\. source: update t set done = 1 where 1=1 and id=3\n)"}},
      {"upsert",
       opUpdateThenInsert,
       "",
       false,
       0,
       {R"(\[upsert\] 同步操作成功执行\. read 4, inserted 2, updated 2, deleted 0, skipped 0 )"
        R"(\(pre-check 0, no matching key 0\) \(dry run: rolled back\)\n)",
        R"(updated +2\n)", R"(inserted +2\n)", R"(statements sent +10 \(the first 10 follow\)\n)"}},
      {"update",
       opUpdate,
       "",
       false,
       0,
       {R"(updated +2\n)", R"(unchanged \(no row had the key\) +2\n)", R"(inserted +0\n)"}},
      {"mirror",
       opMirror,
       "",
       false,
       0,
       {R"(updated +2\n)", R"(inserted +2\n)", R"(deleted +1\n)"}},
      {"refused",
       opInsert,
       "",
       false,
       1,
       {R"(dry run of task refused: it would have failed; nothing was committed\n)",
        R"(inserted +0\n)", "kelvord: task refused failed \\(dry run\\)\n"}},
      {"script",
       opScriptOnDestination,
       "delete from t\r\ngo\r\ninsert into t values (7, 'seven')\r\ngo\r\n",
       false,
       0,
       {R"(statements sent +2 \(the first 2 follow\)\n)",
        R"(2\. destination: insert into t values \(7, 'seven'\)\n)"}},
      {"source_script",
       opScriptOnSource,
       "update t set name = 'changed'\r\ngo\r\n",
       false,
       0,
       {R"(1\. source: update t set name = 'changed'\n)"}},
  };
  for (const TCase& c : cases) {
    auto task = home.CopyTask(c.Name);
    task->FieldMaps.OperationType = c.Op;
    task->FieldMaps.SetCommand(
        c.Command.empty() ? "select id, name from t where done = 0 order by id" : c.Command);
    if (c.Command.empty()) task->FieldMaps.SetValidationSrc(validated);
    if (c.Check) task->CheckCondition = "select id from t";
    AddListedTask(home, *task);
  }
  const std::string source = ReadFileOrEmpty(home.Source);
  const std::string destination = ReadFileOrEmpty(home.Destination);
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(RunKelvord(home, {"--dry-run", c.Name}), c.Status) << KelvordOutput(home);
    const std::string out = KelvordOutput(home);
    for (const std::string& line : c.Lines)
      EXPECT_TRUE(std::regex_search(out, std::regex(line))) << line << "\n" << out;
    EXPECT_TRUE(ReadFileOrEmpty(home.Source) == source);
    EXPECT_TRUE(ReadFileOrEmpty(home.Destination) == destination);
  }
  EXPECT_TRUE(FolderEmpty(home.Root() + "reports"));
  EXPECT_FALSE(FileExists(home.Root() + "alerted"));
  const std::vector<std::string> log = home.LogLines(Clock::Now());
  ASSERT_FALSE(log.empty());
  for (const std::string& line : log)
    EXPECT_TRUE(std::regex_search(line, std::regex(R"(^<[-0-9: ]+>\[dry run\] )"))) << line;
  const std::string closing =
      "mission<mirror> run succeeded: read 4, inserted 2, updated 2, deleted 1, skipped 0 "
      "(pre-check 0, no matching key 0) (dry run: rolled back)";
  EXPECT_NE(
      std::find_if(log.begin(), log.end(),
                   [&](const std::string& l) { return l.find(closing) != std::string::npos; }),
      log.end());

  // The same task run for real changes what the dry run left alone.
  ASSERT_EQ(RunKelvord(home, {"--run", "mirror"}), 0) << KelvordOutput(home);
  EXPECT_NE(KelvordOutput(home).find("[mirror] 同步操作成功执行. read 4, inserted 2, updated 2, "
                                     "deleted 1, skipped 0 (pre-check 0, no matching key 0)\n"),
            std::string::npos)
      << KelvordOutput(home);
  EXPECT_EQ(home.DestinationScalar("select group_concat(id || ':' || name, ',') from t"),
            "1:row 1,2:row 2,3:row 3,4:row 4");
  EXPECT_EQ(home.ReportLines(Clock::Now()).size(), 1u);
}

TEST(KelvordRunTest, ATaskFileCutShortIsCheckedAsSuchAndNeverRun) {
  TInstallation home;
  auto cut = home.CopyTask("cut");
  AddListedTask(home, *cut);
  const std::string text = ReadFileOrEmpty(cut->FileName);
  WriteFileOrDie(cut->FileName, text.substr(0, text.find("<field src= \"name\"") + 10));
  auto zero = home.CopyTask("zero");
  zero->Mode = modeInterval;
  zero->TimeDistance = 0;
  AddListedTask(home, *zero);

  ASSERT_EQ(RunKelvord(home, {"--check"}), 1) << KelvordOutput(home);
  std::string out = KelvordOutput(home);
  for (const char* note : {"cut: task file: the file ends before its root element closes",
                           "zero: schedule: its interval of 0 minutes is not positive",
                           "2 active tasks could not run: cut, zero"})
    EXPECT_NE(out.find(note), std::string::npos) << note << "\n" << out;

  ASSERT_EQ(RunKelvord(home, {"--run", "cut"}), 1) << KelvordOutput(home);
  out = KelvordOutput(home);
  EXPECT_NE(out.find("kelvord: task cut cannot run: the file ends before its root element closes"),
            std::string::npos)
      << out;
  EXPECT_EQ(home.DestinationScalar("select count(*) from t"), "0");
  EXPECT_TRUE(home.ReportLines(Clock::Now()).empty());
}

}  // namespace
}  // namespace kelvor
