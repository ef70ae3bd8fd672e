// The shared cases on the PostgreSQL server of scripts/with-postgres, reached
// as the odbc type (data source) and as the sqlserver type routed to the
// PostgreSQL driver by providers.ini; and what needs a real server: failed
// logins, routing and a killed connection. (Passwords holding ";", quotes and
// braces are shown by the engine's tests, which build the strings.)
#include <filesystem>
#include <vector>

#include "DbBackendHarness.h"
#include "platform/Text.h"

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

// psqlodbc would wrap each statement of a transaction in a savepoint of its
// own, a subtransaction with an id of its own for each that writes: the
// layer asks it not to, unless the user's configuration says otherwise.
TEST_F(PostgresTest, DriverSavepointsAreOffUnlessTheConfigurationAsksForThem) {
  const std::string t = UniqueName("kt_");
  ExecOn(Admin, "create table " + t + "(id int)");
  const std::string dsn = PgEnv("KELVOR_PG_DSN");
  struct TCase {
    const char* What;
    std::string DataSourceLines;  // of a copy of the test data source
    std::string ProvidersIni;
    bool SqlServerType;  // routed to the driver by providers.ini, no data source
    bool DriverSavepoints;
  };
  const std::string odbc = "[odbc]\r\nBoolsAsChar=0\r\n";
  const std::string sqlserver =
      "[sqlserver]\r\nDriver=PostgreSQL Unicode\r\nServer=" + PgEnv("KELVOR_PG_HOST") +
      "\r\nPort=" + PgEnv("KELVOR_PG_PORT") + "\r\nDatabase=" + PgEnv("KELVOR_PG_DB") + "\r\n";
  // The driver under a name that does not show it: the layer learns it only
  // from the driver once connected, and connects again.
  std::string hidden;
  for (const auto& dir : std::filesystem::directory_iterator("/usr/lib"))
    if (std::filesystem::exists(dir.path() / "odbc/psqlodbcw.so")) {
      hidden = Home->Root() + "libpgdriver.so";
      std::filesystem::create_symlink(dir.path() / "odbc/psqlodbcw.so", hidden);
      break;
    }
  std::vector<TCase> cases = {
      {"a data source without the setting", "", odbc, false, false},
      {"the data source asks for them", "Protocol=7.4-2", odbc, false, true},
      {"providers.ini asks for them", "", odbc + "Protocol=7.4-2\r\n", false, true},
      {"the sqlserver type through the driver's name", "", sqlserver, true, false},
      {"providers.ini names the driver and asks", "", sqlserver + "Protocol=7.4-2\r\n", true, true},
  };
  if (!hidden.empty())
    cases.push_back({"a driver whose name does not show it", "",
                     ReplaceAll(sqlserver, "PostgreSQL Unicode", hidden), true, false});
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    const std::string copy = UniqueName("kelvor_pg_");
    TDataSourceScope scope(*Home, dsn, copy, c.DataSourceLines);
    Home->WriteProvidersIni(c.ProvidersIni);
    TDbConnection conn;
    conn.SetConnectionString(
        c.SqlServerType
            ? PostgresSqlServerConnectionString()
            : "Provider=MSDASQL.1;Persist Security Info=False;User ID=" + PgEnv("KELVOR_PG_USER") +
                  ";Password=" + PgEnv("KELVOR_PG_PASSWORD") + ";Data Source=" + copy);
    ASSERT_DB_OK(conn.Open());
    ASSERT_DB_OK(conn.BeginTrans());
    for (int i = 0; i < 3; ++i)
      ExecOn(conn, "insert into " + t + " values(" + std::to_string(i) + ")");
    // A row carries the id of the (sub)transaction that wrote it.
    EXPECT_EQ(ScalarOn(conn, "select count(distinct xmin::text) from " + t),
              c.DriverSavepoints ? "3" : "1");
    ASSERT_DB_OK(conn.RollbackTrans());
  }
  ExecOn(Admin, "drop table " + t);
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
