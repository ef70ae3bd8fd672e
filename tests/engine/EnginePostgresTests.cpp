// The shared run cases between SQLite and PostgreSQL in every direction, and
// what needs a real server: a commit the server refuses, logins with awkward
// passwords, and the dialog's data module. (Runs stopped or killed while a
// statement sleeps are in EnginePgThreadTests.cpp.)
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

TEST_P(PgDestinationTest, CommitTheServerRefusesIsLoggedAndFailsTheRun) {
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

TEST_P(PgDestinationTest, PasswordsWithSemicolonsAndQuotesConnect) {
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

TEST_P(PgDestinationTest, DataModuleReadsColumnNamesAndSizes) {
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

INSTANTIATE_TEST_SUITE_P(Postgres, PgDestinationTest,
                         ::testing::Values(TDbSide::PgOdbc, TDbSide::PgLiteral), PgDestinationName);

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
