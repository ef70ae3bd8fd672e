// The MariaDB server of scripts/with-mariadb killed (SIGKILL, as a crash
// would end it) while a run applies its rows, on both statement paths, and
// started again. It stops the server every other test uses, so CTest runs it
// alone.
#include "EngineHarness.h"

namespace kelvor::test {

std::vector<TRunConfig> RunConfigs() {
  return {{TDbSide::SQLite, TDbSide::MariaOdbc}, {TDbSide::SQLite, TDbSide::MariaLiteral}};
}

namespace {

using ::testing::HasSubstr;
using MariadbKillTest = EngineRunTest;

TEST_P(MariadbKillTest, ServerKilledWhileRowsAreAppliedLeavesNothingAndFailsTheRun) {
  if (MariaEnv("KELVOR_MARIADB_CTL").empty()) GTEST_SKIP() << "KELVOR_MARIADB_CTL is not set";
  const std::string src = Src->CreateTable("id INTEGER, name VARCHAR(32)");
  const std::string dst = Dst->CreateTable("id INTEGER primary key, name VARCHAR(32)");
  Src->Exec("insert into " + src + "(id, name) select i, 'n' || i from " + Series(100));
  Dst->Exec("insert into " + dst + " values (1, 'old')");
  // Row 50 sleeps in the server, so that the run is in the middle of its
  // rows; the session shows the trigger's statement, named after the table.
  const std::string marker = dst + "_slept";
  Dst->Exec("create trigger " + dst + "_sleep before insert on " + dst + " for each row set @" +
            marker + " = if(new.id = 50, sleep(30), 0)");
  auto task = Task(opUpdateThenInsert, dst, "select id, name from " + src + " order by id",
                   {{"id", true}, {"name"}});
  StartRun(*task);
  std::string sleeping;
  WaitUntil(
      [&] {
        sleeping = Dst->Scalar(
            "select count(*) from information_schema.processlist where state "
            "= 'User sleep' and info like '%" +
            dst + "%'");
        return sleeping == "1";
      },
      std::chrono::seconds(10));
  ASSERT_EQ(sleeping, "1") << "the run never reached row 50";

  TMariaRestartAtEnd restart;
  restart.Killed = true;
  ASSERT_TRUE(MariaServerCtl("kill"));
  EXPECT_FALSE(FinishRun());
  restart.Killed = false;
  ASSERT_TRUE(MariaServerCtl("start"));

  // The test's own connection died with the server too.
  Dst->Conn().Close();
  ASSERT_DB_OK(Dst->Conn().Open());
  EXPECT_EQ(Dst->Rows("select id, name from " + dst), std::vector<std::string>{"1|old"});
  EXPECT_EQ(task->FailCount, 1);
  EXPECT_FALSE(task->Executed);
  const std::string log = Env->LogText();
  // The statement the server died in: the record's INSERT, or the INSERT of
  // the batch's new records.
  EXPECT_THAT(log, ::testing::ContainsRegex("execute sql: ? insert into " + dst +
                                            "\\(id,name\\)(values\\(| select ).* error,info:"));
  EXPECT_THAT(log, HasSubstr("mission<" + Name + "> execute 1 times fail!"));
}

INSTANTIATE_TEST_SUITE_P(Mariadb, MariadbKillTest, ::testing::ValuesIn(RunConfigs()),
                         RunConfigName);

}  // namespace
}  // namespace kelvor::test
