// The shared run cases between SQLite and PostgreSQL in every direction, and
// what needs a real server: stop requests while a statement sleeps, a
// connection killed in the middle of a batch, a commit the server refuses,
// logins with awkward passwords, and the dialog's data module.
#include <chrono>
#include <functional>
#include <thread>

#include "EngineHarness.h"
#include "engine/udatamodule.h"

namespace kelvor::test {

std::vector<TRunConfig> RunConfigs() {
  return {{TDbSide::SQLite, TDbSide::PgOdbc},
          {TDbSide::SQLite, TDbSide::PgLiteral},
          {TDbSide::PgOdbc, TDbSide::SQLite},
          {TDbSide::PgOdbc, TDbSide::PgOdbc},
          {TDbSide::PgOdbc, TDbSide::PgLiteral}};
}

namespace {

using ::testing::HasSubstr;
using Rows = std::vector<std::string>;

// Polls until Done answers true; false after ten seconds.
bool WaitUntil(const std::function<bool()>& Done) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < end) {
    if (Done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

// PostgreSQL as the destination, through its data source (parameterised
// path) or as the sqlserver type (literal path).
class PgEngineTest : public ::testing::TestWithParam<TDbSide> {
 protected:
  void SetUp() override {
    SKIP_WITHOUT_POSTGRES();
    Env = std::make_unique<TEngineEnv>();
    Db = std::make_unique<TTestDatabase>(TDbSide::PgOdbc, Env->Home, "");
    Name = UniqueName("pg_mission_");
  }
  void TearDown() override {
    if (Worker.joinable()) Worker.join();
    Executor.DisconnectDestination();
    Executor.DisconnectSource();
    Db.reset();
    Env.reset();
  }
  TSyncDataSource DstSettings() const {
    return GetParam() == TDbSide::PgOdbc ? PostgresOdbcDataSource() : PostgresSqlServerDataSource();
  }
  std::unique_ptr<TKelvorInstance> Task(int Op, const std::string& DstTable,
                                        const std::string& Command,
                                        const std::vector<TMapEntry>& Maps = {}) {
    return MakeTask(Name, PostgresOdbcDataSource(), DstSettings(), Op, DstTable, Command, Maps);
  }
  // Starts the run on a thread of its own, as a daemon would.
  void StartRun(TKelvorInstance& Task) {
    Worker = std::thread([this, &Task] { Result = RunAsDaemon(Executor, Task, &Env->Channel); });
  }
  bool FinishRun() {
    Worker.join();
    return Result;
  }
  // The process id of the session sleeping in a statement that mentions Marker.
  std::string SleepingBackend(const std::string& Marker) {
    std::string pid;
    WaitUntil([&] {
      pid = Db->Scalar(
          "select pid from pg_stat_activity where wait_event = 'PgSleep' and query like '%" +
          Marker + "%' and pid <> pg_backend_pid()");
      return pid != "<no row>";
    });
    return pid;
  }
  std::string SequenceValue(const std::string& Seq) {
    return Db->Scalar("select case when is_called then last_value else 0 end from " + Seq);
  }
  std::string NewSequence() {
    const std::string seq = UniqueName("ks_");
    Db->Exec("create sequence " + seq);
    Db->DropAtEnd("sequence " + seq);
    return seq;
  }

  std::unique_ptr<TEngineEnv> Env;
  std::unique_ptr<TTestDatabase> Db;
  TKelvorOperationHandler Executor{"pg"};
  std::string Name;
  std::thread Worker;
  bool Result = false;
};

std::string Go(const std::string& Statement) {
  return Statement + "\r\ngo\r\n";
}

TEST_P(PgEngineTest, StopRequestedWhileItemZeroRunsIsNoticedRightAfterIt) {
  const std::string seq = NewSequence();
  const std::string t = Db->CreateTable("id INTEGER");
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
  EXPECT_EQ(Db->Count(t), "0");
  EXPECT_THAT(Env->Progress(), HasSubstr("Mission has been explicit stopped!"));
  EXPECT_EQ(task->FailCount, 1);
}

TEST_P(PgEngineTest, StopRequestedWhileItemOneRunsIsNoticedAfterItemHundred) {
  const std::string seq = NewSequence();
  const std::string t = Db->CreateTable("id INTEGER");
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
  EXPECT_EQ(Db->Count(t), "0");
  EXPECT_THAT(Env->Progress(), HasSubstr("Mission has been explicit stopped!"));
}

TEST_P(PgEngineTest, ConnectionKilledInTheMiddleOfAScriptLeavesNothing) {
  const std::string t = Db->CreateTable("id INTEGER");
  const std::string sleep = "select pg_sleep(30), '" + t + "'";
  auto task = Task(
      opScriptOnDestination, "",
      Go("insert into " + t + " values (1)") + Go(sleep) + Go("insert into " + t + " values (2)"));
  StartRun(*task);
  const std::string pid = SleepingBackend(t);
  ASSERT_NE(pid, "<no row>");
  EXPECT_EQ(Db->Scalar("select pg_terminate_backend(" + pid + ")"), "True");
  EXPECT_FALSE(FinishRun());
  EXPECT_EQ(Db->Count(t), "0");
  EXPECT_EQ(task->FailCount, 1);
  const std::string log = Env->LogText();
  EXPECT_THAT(log, HasSubstr("execute sql: " + sleep + " error,info:"));
  EXPECT_THAT(log, HasSubstr("mission<" + Name + "> execute 1 times fail!"));
}

TEST_P(PgEngineTest, ConnectionKilledInTheMiddleOfCopyingRowsLeavesNothing) {
  const std::string src = Db->CreateTable("id INTEGER, name VARCHAR(32)");
  const std::string dst = Db->CreateTable("id INTEGER primary key, name VARCHAR(32)");
  const std::string fn = UniqueName("kf_");
  Db->Exec("create function " + fn +
           "() returns trigger language plpgsql as $f$ begin if new.id = 50 then perform "
           "pg_sleep(30); end if; return new; end $f$");
  Db->DropAtEnd("function " + fn + "() cascade");
  Db->Exec("create trigger " + fn + " before insert on " + dst + " for each row execute function " +
           fn + "()");
  Db->Exec("insert into " + src + " select i, 'n' || i from generate_series(1, 100) i");
  auto task =
      Task(opInsert, dst, "select id, name from " + src + " order by id", {{"id", true}, {"name"}});
  StartRun(*task);
  const std::string pid = SleepingBackend(dst);
  ASSERT_NE(pid, "<no row>");
  EXPECT_EQ(Db->Scalar("select pg_terminate_backend(" + pid + ")"), "True");
  EXPECT_FALSE(FinishRun());
  EXPECT_EQ(Db->Count(dst), "0");
  EXPECT_EQ(task->FailCount, 1);
  EXPECT_FALSE(task->Executed);
  EXPECT_THAT(Env->LogText(), HasSubstr("mission<" + Name + "> execute 1 times fail!"));
}

TEST_P(PgEngineTest, CommitTheServerRefusesIsLoggedAndFailsTheRun) {
  const std::string t = Db->CreateTable("id INTEGER unique deferrable initially deferred");
  auto script =
      Task(opScriptOnDestination, "",
           Go("insert into " + t + " values (1)") + Go("insert into " + t + " values (1)"));
  EXPECT_FALSE(RunAsDaemon(Executor, *script, &Env->Channel));
  EXPECT_EQ(script->FailCount, 1);

  const std::string src = Db->CreateTable("id INTEGER");
  Db->Exec("insert into " + src + " values (1), (1)");
  auto copy = Task(opInsert, t, "select id from " + src, {{"id", true}});
  EXPECT_FALSE(RunAsDaemon(Executor, *copy, &Env->Channel));
  EXPECT_EQ(copy->FailCount, 1);
  EXPECT_EQ(Db->Count(t), "0");
  const std::string log = Env->LogText();
  const std::string line = "execute transaction error,info:";
  ASSERT_THAT(log, HasSubstr(line));
  EXPECT_THAT(log.substr(log.find(line)), HasSubstr("duplicate key value violates unique"));
  EXPECT_NE(log.find(line, log.find(line) + 1), std::string::npos) << log;
}

TEST_P(PgEngineTest, PasswordsWithSemicolonsAndQuotesConnect) {
  const std::string password = "p;w\"d x";
  const std::string role = UniqueName("kelvor_r");
  Db->Exec("create role " + role + " login password '" + password + "'");
  Db->DropAtEnd("role " + role);
  TSyncDataSource s = DstSettings();
  s.DbUser = role;
  s.DbPwd = password;
  EXPECT_TRUE(Executor.ConnectSource(s)) << Env->LogText();
  ASSERT_EQ(Executor.OpenSource("select current_user"), 0);
  EXPECT_EQ(Executor.SourceQuery.Field(0).AsString(), role);
  Executor.DisconnectSource();

  TgDataModule module;
  EXPECT_TRUE(module.ConnectDatabase(s.DbName, role, password, s.DbServer, s.DbType));

  s.DbPwd = "wrong";
  EXPECT_FALSE(Executor.ConnectSource(s));
  EXPECT_FALSE(module.ConnectDatabase(s.DbName, role, "wrong", s.DbServer, s.DbType));
  const std::string log = Env->LogText();
  const std::string line = "connect to database error ,info: ";
  ASSERT_THAT(log, HasSubstr(line));
  EXPECT_THAT(log.substr(log.find(line)), HasSubstr("password authentication failed"));
  EXPECT_NE(log.find(line, log.find(line) + 1), std::string::npos) << log;
}

TEST_P(PgEngineTest, DataModuleReadsColumnNamesAndSizes) {
  const std::string t = Db->CreateTable("id INTEGER, name VARCHAR(32), note TEXT");
  const TSyncDataSource s = DstSettings();
  TgDataModule module;
  ASSERT_TRUE(module.ConnectDatabase(s.DbName, s.DbUser, s.DbPwd, s.DbServer, s.DbType));
  // Placeholders are not parsed: a cast stays a cast.
  ASSERT_TRUE(module.OpenQuery("select id, name, note, '1'::int as one from " + t));
  ASSERT_EQ(module.FieldCount(), 4);
  EXPECT_EQ(module.FieldName(0), "id");
  EXPECT_EQ(module.FieldName(1), "name");
  EXPECT_EQ(module.FieldName(3), "one");
  EXPECT_EQ(module.FieldSize(1), 32);
  EXPECT_FALSE(module.OpenQuery("select nothing from nowhere"));
}

INSTANTIATE_TEST_SUITE_P(Postgres, PgEngineTest,
                         ::testing::Values(TDbSide::PgOdbc, TDbSide::PgLiteral),
                         [](const ::testing::TestParamInfo<TDbSide>& Info) {
                           return Info.param == TDbSide::PgOdbc ? "OdbcDsn" : "AsSqlServer";
                         });

// ---------------------------------------------------------------------------

TEST(PgRoundTripTest, ValuesComeBackUnchangedFromSqliteThroughPostgres) {
  SKIP_WITHOUT_POSTGRES();
  TEngineEnv env;
  {
    TTestDatabase lite(TDbSide::SQLite, env.Home, "a.db");
    TTestDatabase pg(TDbSide::PgOdbc, env.Home, "");
    const std::string cols =
        "id INTEGER, name VARCHAR(32), qty INTEGER, ts TIMESTAMP, amount NUMERIC(12,2), "
        "note TEXT, day DATE, data BLOB, flag BOOLEAN";
    const std::string a = lite.CreateTable(cols);
    const std::string b = pg.CreateTable(cols);
    const std::string c = lite.CreateTable(cols);
    lite.Exec("insert into " + a +
              " values (1, '汉字 ''q'' $$', 2147483647, '2038-01-19 03:14:07', 9999999999.99, "
              "'多行\r\n文本', '1900-01-01', x'000102fffe', 1), "
              "(2, 'x', -2147483648, '1970-01-01 00:00:00', -9999999999.99, 'y', '2099-12-31', "
              "x'7f', 0), (3, 'z', NULL, NULL, NULL, 'w', NULL, NULL, NULL)");
    const std::vector<TMapEntry> maps = {{"id", true}, {"name"}, {"qty"},  {"ts"},  {"amount"},
                                         {"note"},     {"day"},  {"data"}, {"flag"}};
    TKelvorOperationHandler executor("round trip");
    auto there =
        MakeTask("there", lite.Settings(), pg.Settings(), opInsert, b, "select * from " + a, maps);
    ASSERT_TRUE(RunAsDaemon(executor, *there, nullptr)) << env.LogText();
    auto back =
        MakeTask("back", pg.Settings(), lite.Settings(), opMirror, c, "select * from " + b, maps);
    ASSERT_TRUE(RunAsDaemon(executor, *back, nullptr)) << env.LogText();
    const std::string select =
        "select id, name, qty, ts, amount, note, day, hex(data), flag, typeof(data) from ";
    EXPECT_EQ(lite.Rows(select + c + " order by id"), lite.Rows(select + a + " order by id"));
  }
}

}  // namespace
}  // namespace kelvor::test
