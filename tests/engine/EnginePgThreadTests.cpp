// Runs interrupted while a statement sleeps on the PostgreSQL server of
// scripts/with-postgres: a stop request from another thread, and the run's
// connection killed from another session. The run goes on a thread of its
// own, as in a task daemon, so these also run under ThreadSanitizer.
#include "EngineHarness.h"

namespace kelvor::test {

namespace {

using ::testing::HasSubstr;
using PgThreadTest = EngineRunTest;

TEST_P(PgThreadTest, StopRequestedWhileItemZeroRunsIsNoticedRightAfterIt) {
  const std::string seq = NewSequence();
  const std::string t = Dst->CreateTable("id INTEGER");
  std::string script = Go("select nextval('" + seq + "'), pg_sleep(1)");
  for (int i = 1; i <= 150; ++i)
    script += Go("insert into " + t + "(id) values (nextval('" + seq + "'))");
  auto task = Task(opScriptOnDestination, "", script);
  StartRun(*task);
  ASSERT_NE(SleepingBackend(seq), "<no row>");
  task->RequestStop();
  EXPECT_FALSE(FinishRun());
  // A sequence is not rolled back: it counts the statements that ran.
  EXPECT_EQ(SequenceValue(seq), "1");
  EXPECT_EQ(Dst->Count(t), "0");
  EXPECT_THAT(Env->Progress(), HasSubstr("Mission has been explicit stopped!"));
  EXPECT_EQ(task->FailCount, 1);
  // The report line sends the reader to the log: the reason is there too.
  EXPECT_THAT(Env->LogText(),
              HasSubstr("Mission has been explicit stopped! (mission<" + Name + ">)"));
}

TEST_P(PgThreadTest, StopRequestedWhileItemOneRunsIsNoticedAfterItemHundred) {
  const std::string seq = NewSequence();
  const std::string t = Dst->CreateTable("id INTEGER");
  const std::string insert = Go("insert into " + t + "(id) values (nextval('" + seq + "'))");
  std::string script = insert + Go("select nextval('" + seq + "'), pg_sleep(1)");
  for (int i = 2; i <= 250; ++i)
    script += insert;
  auto task = Task(opScriptOnDestination, "", script);
  StartRun(*task);
  ASSERT_NE(SleepingBackend(seq), "<no row>");
  task->RequestStop();
  EXPECT_FALSE(FinishRun());
  EXPECT_EQ(SequenceValue(seq), "101");  // items 0 to 100
  EXPECT_EQ(Dst->Count(t), "0");
  EXPECT_THAT(Env->Progress(), HasSubstr("Mission has been explicit stopped!"));
}

TEST_P(PgThreadTest, ConnectionKilledInTheMiddleOfAScriptLeavesNothing) {
  const std::string t = Dst->CreateTable("id INTEGER");
  const std::string sleep = "select pg_sleep(30), '" + t + "'";
  auto task = Task(
      opScriptOnDestination, "",
      Go("insert into " + t + " values (1)") + Go(sleep) + Go("insert into " + t + " values (2)"));
  StartRun(*task);
  const std::string pid = SleepingBackend(t);
  ASSERT_NE(pid, "<no row>");
  EXPECT_EQ(Dst->Scalar("select pg_terminate_backend(" + pid + ")"), "True");
  EXPECT_FALSE(FinishRun());
  EXPECT_EQ(Dst->Count(t), "0");
  EXPECT_EQ(task->FailCount, 1);
  const std::string log = Env->LogText();
  EXPECT_THAT(log, HasSubstr("execute sql: " + sleep + " error,info:"));
  EXPECT_THAT(log, HasSubstr("mission<" + Name + "> execute 1 times fail!"));
}

TEST_P(PgThreadTest, ConnectionKilledInTheMiddleOfCopyingRowsLeavesNothing) {
  const std::string src = Dst->CreateTable("id INTEGER, name VARCHAR(32)");
  const std::string dst = Dst->CreateTable("id INTEGER primary key, name VARCHAR(32)");
  const std::string fn = UniqueName("kf_");
  Dst->Exec("create function " + fn +
            "() returns trigger language plpgsql as $f$ begin if new.id = 50 then perform "
            "pg_sleep(30); end if; return new; end $f$");
  Dst->DropAtEnd("function " + fn + "() cascade");
  Dst->Exec("create trigger " + fn + " before insert on " + dst +
            " for each row execute function " + fn + "()");
  Dst->Exec("insert into " + src + " select i, 'n' || i from generate_series(1, 100) i");
  auto task =
      Task(opInsert, dst, "select id, name from " + src + " order by id", {{"id", true}, {"name"}});
  StartRun(*task);
  const std::string pid = SleepingBackend(dst);
  ASSERT_NE(pid, "<no row>");
  EXPECT_EQ(Dst->Scalar("select pg_terminate_backend(" + pid + ")"), "True");
  EXPECT_FALSE(FinishRun());
  EXPECT_EQ(Dst->Count(dst), "0");
  EXPECT_EQ(task->FailCount, 1);
  EXPECT_FALSE(task->Executed);
  EXPECT_THAT(Env->LogText(), HasSubstr("mission<" + Name + "> execute 1 times fail!"));
}

TEST_P(PgThreadTest, StopRequestedWhileRowsAreAppliedIsNoticedWithinAThousandRows) {
  const std::string seq = NewSequence();
  const std::string src = Dst->CreateTable("id INTEGER, name VARCHAR(32)");
  const std::string dst = Dst->CreateTable("id INTEGER primary key, name VARCHAR(32)");
  // Every row the destination takes draws a number; row 1500 sleeps.
  const std::string fn = UniqueName("kf_");
  Dst->Exec("create function " + fn +
            "() returns trigger language plpgsql as $f$ begin perform nextval('" + seq +
            "'); if new.id = 1500 then perform pg_sleep(1); end if; return new; end $f$");
  Dst->DropAtEnd("function " + fn + "() cascade");
  Dst->Exec("create trigger " + fn + " before insert on " + dst +
            " for each row execute function " + fn + "()");
  Dst->Exec("insert into " + src + " select i, 'n' || i from generate_series(1, 20000) i");
  auto task =
      Task(opInsert, dst, "select id, name from " + src + " order by id", {{"id", true}, {"name"}});
  StartRun(*task);
  ASSERT_NE(SleepingBackend(dst), "<no row>");
  task->RequestStop();
  EXPECT_FALSE(FinishRun());
  const int drawn = std::stoi(SequenceValue(seq));
  EXPECT_GE(drawn, 1500);
  EXPECT_LE(drawn, 2500) << "rows sent after the stop request";
  EXPECT_EQ(Dst->Count(dst), "0");
  EXPECT_THAT(Env->Progress(), HasSubstr("Mission has been explicit stopped!"));
  EXPECT_EQ(task->FailCount, 1);
}

INSTANTIATE_TEST_SUITE_P(Postgres, PgThreadTest,
                         ::testing::Values(TRunConfig{TDbSide::PgOdbc, TDbSide::PgOdbc},
                                           TRunConfig{TDbSide::PgOdbc, TDbSide::PgLiteral}),
                         RunConfigName);

}  // namespace
}  // namespace kelvor::test
