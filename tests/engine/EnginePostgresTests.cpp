// The shared run cases between SQLite and PostgreSQL in every direction, and
// what needs a real server as the destination: a commit the server refuses,
// logins with awkward passwords, and the dialog's data module. (Runs stopped
// or killed while a statement sleeps are in EnginePgThreadTests.cpp.)
#include "EngineHarness.h"
#include "engine/udatamodule.h"
#include "platform/Text.h"

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
using PgRunTest = EngineRunTest;

TEST_P(PgRunTest, CommitTheServerRefusesIsLoggedAndFailsTheRun) {
  const std::string t = Dst->CreateTable("id INTEGER unique deferrable initially deferred");
  auto script =
      Task(opScriptOnDestination, "",
           Go("insert into " + t + " values (1)") + Go("insert into " + t + " values (1)"));
  EXPECT_FALSE(Run(*script));
  EXPECT_EQ(script->FailCount, 1);

  const std::string src = Dst->CreateTable("id INTEGER");
  Dst->Exec("insert into " + src + " values (1), (1)");
  auto copy = Task(opInsert, t, "select id from " + src, {{"id", true}});
  EXPECT_FALSE(Run(*copy));
  EXPECT_EQ(copy->FailCount, 1);
  EXPECT_EQ(Dst->Count(t), "0");
  const std::string log = Env->LogText();
  const std::string line = "execute transaction error,info:";
  ASSERT_THAT(log, HasSubstr(line));
  EXPECT_THAT(log.substr(log.find(line)), HasSubstr("duplicate key value violates unique"));
  EXPECT_NE(log.find(line, log.find(line) + 1), std::string::npos) << log;
}

TEST_P(PgRunTest, PasswordsWithSemicolonsAndQuotesConnect) {
  const std::string password = "p;w\"d'{x}};y";
  const std::string role = UniqueName("kelvor_r");
  Dst->Exec("create role " + role + " login password '" + ReplaceAll(password, "'", "''") + "'");
  Dst->DropAtEnd("role " + role);
  TSyncDataSource s = Dst->Settings();
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

TEST_P(PgRunTest, DataModuleReadsColumnNamesAndSizes) {
  const std::string t = Dst->CreateTable("id INTEGER, name VARCHAR(32), note TEXT");
  const TSyncDataSource s = Dst->Settings();
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

INSTANTIATE_TEST_SUITE_P(Postgres, PgRunTest,
                         ::testing::Values(TRunConfig{TDbSide::PgOdbc, TDbSide::PgOdbc},
                                           TRunConfig{TDbSide::PgOdbc, TDbSide::PgLiteral}),
                         RunConfigName);

}  // namespace
}  // namespace kelvor::test
