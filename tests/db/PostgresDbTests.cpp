// The shared cases on the PostgreSQL server of scripts/with-postgres, reached
// as the odbc type (data source) and as the sqlserver type routed to the
// PostgreSQL driver by providers.ini; and what needs a real server: failed
// logins, routing and a killed connection. (Passwords holding ";", quotes and
// braces are shown by the engine's tests, which build the strings.)
#include "DbBackendHarness.h"

namespace kelvor::test {

INSTANTIATE_TEST_SUITE_P(Postgres, DbBackendTest,
                         ::testing::Values(TDbSide::PgOdbc, TDbSide::PgLiteral), TestDbName);

namespace {

class PostgresTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SKIP_WITHOUT_POSTGRES();
    Home = std::make_unique<TDbTestHome>();
    Admin.SetConnectionString(PostgresOdbcConnectionString());
    ASSERT_DB_OK(Admin.Open());
  }
  std::unique_ptr<TDbTestHome> Home;
  TDbConnection Admin;
};

TEST_F(PostgresTest, WrongPasswordIsReportedReadably) {
  TDbConnection c;
  c.SetConnectionString(PostgresOdbcConnectionString(PgEnv("KELVOR_PG_USER"), "wrong"));
  try {
    c.Open();
    FAIL() << "logged in with a wrong password";
  } catch (const TDbError& e) {
    EXPECT_NE(std::string(e.what()).find("password authentication failed"), std::string::npos)
        << e.what();
    EXPECT_NE(std::string(e.what()).find(PgEnv("KELVOR_PG_DSN")), std::string::npos)
        << "names the data source: " << e.what();
    EXPECT_EQ(std::string(e.what()).find("wrong"), std::string::npos)
        << "never shows the password: " << e.what();
    EXPECT_FALSE(e.SqlState().empty());
  }
  EXPECT_FALSE(c.Connected());
}

TEST_F(PostgresTest, SqlServerTypeIsRoutedByProvidersIni) {
  TDbConnection c;
  c.SetConnectionString(PostgresSqlServerConnectionString());
  ASSERT_DB_OK(c.Open());
  EXPECT_EQ(c.Route().DatabaseType, "sqlserver");
  EXPECT_NE(c.Route().OdbcConnectionString.find("DRIVER={PostgreSQL Unicode}"), std::string::npos);
  EXPECT_EQ(ScalarOn(c, "select current_database()"), PgEnv("KELVOR_PG_DB"));
  c.Close();

  // providers.ini is read at each open: without its section the default
  // driver is tried, and the failure says which.
  Home->WriteProvidersIni("[sqlserver]\r\nDriver=No Such Driver\r\n");
  try {
    c.Open();
    FAIL() << "opened through a driver that does not exist";
  } catch (const TDbError& e) {
    EXPECT_NE(std::string(e.what()).find("No Such Driver"), std::string::npos) << e.what();
  }
}

TEST_F(PostgresTest, KilledConnectionMakesTheNextStatementRaise) {
  TDbConnection victim;
  victim.SetConnectionString(PostgresOdbcConnectionString());
  ASSERT_DB_OK(victim.Open());
  std::string pid = ScalarOn(victim, "select pg_backend_pid()");
  ASSERT_DB_OK(victim.BeginTrans());
  EXPECT_EQ(ScalarOn(Admin, "select pg_terminate_backend(" + pid + ")"), "True");
  ExpectDeadConnectionFailsItsTransaction(victim, "select 1");
  ASSERT_DB_OK(victim.Open());
  EXPECT_EQ(ScalarOn(victim, "select 1"), "1");
}

// PostgreSQL's text types cannot hold a NUL byte, and psqlodbc cut such a
// value (or statement) short at it without a word.
TEST_F(PostgresTest, NulByteInTextIsRefusedNotCutShort) {
  const std::string t = UniqueName("kt_");
  ExecOn(Admin, "create table " + t + "(s VARCHAR(10))");
  EXPECT_FALSE(Admin.TextHoldsNul());
  TDbQuery q(Admin);
  q.SetSQL("insert into " + t + "(s) values(:s)");
  q.Param(0).SetDataType(ftString);
  q.Param(0).SetValue(std::string("a\0b", 3));
  try {
    q.ExecSQL();
    ADD_FAILURE() << "a text holding a NUL byte was sent";
  } catch (const TDbError& e) {
    EXPECT_NE(std::string(e.what()).find("\"s\""), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("NUL"), std::string::npos) << e.what();
  }
  EXPECT_THROW(ExecOn(Admin, "insert into " + t + "(s) values('a" + std::string(1, '\0') + "b')"),
               TDbError);
  EXPECT_EQ(ScalarOn(Admin, "select count(*) from " + t), "0");
  ExecOn(Admin, "drop table " + t);
}

}  // namespace
}  // namespace kelvor::test
