// The shared cases on the MariaDB server of scripts/with-mariadb, reached as
// the odbc type through its data source; and what only MariaDB and MySQL
// need: the found-rows option added to whatever options a data source sets.
// (A server killed in a transaction is in MariadbKillTest.cpp.)
#include "DbBackendHarness.h"

namespace kelvor::test {

INSTANTIATE_TEST_SUITE_P(Mariadb, DbBackendTest, ::testing::Values(TDbSide::MariaOdbc), TestDbName);

namespace {

class MariadbTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SKIP_WITHOUT_MARIADB();
    Home = std::make_unique<TDbTestHome>();
    Db = std::make_unique<TTestDatabase>(TDbSide::MariaOdbc, *Home, "");
  }
  void TearDown() override { Db.reset(); }

  std::unique_ptr<TDbTestHome> Home;
  std::unique_ptr<TTestDatabase> Db;
};

std::string ConnectionStringFor(const std::string& DataSource) {
  return "Provider=MSDASQL.1;Persist Security Info=False;User ID=" +
         MariaEnv("KELVOR_MARIADB_USER") + ";Password=" + MariaEnv("KELVOR_MARIADB_PASSWORD") +
         ";Data Source=" + DataSource;
}

// An UPDATE that leaves a row as it was counts the row, however the data
// source is set up, and the data source's other option bits stay in force.
// Bit 4096 (spaces after function names) shows in the session's sql_mode.
TEST_F(MariadbTest, UnchangedRowCountsAsMatchedAndOtherOptionBitsStay) {
  const std::string t = Db->CreateTable("id INT PRIMARY KEY, v INT");
  Db->Exec("insert into " + t + " values (1, 7), (2, 7)");
  const std::string dsn = MariaEnv("KELVOR_MARIADB_DSN");
  const std::string sqlserver =
      "Provider=SQLOLEDB.1;Password=" + MariaEnv("KELVOR_MARIADB_PASSWORD") +
      ";Persist Security Info=True;User ID=" + MariaEnv("KELVOR_MARIADB_USER") +
      ";Initial Catalog=" + MariaEnv("KELVOR_MARIADB_DB") +
      ";Data Source=" + MariaEnv("KELVOR_MARIADB_HOST");
  const std::string driver = "[sqlserver]\r\nDriver=" + MariaEnv("KELVOR_MARIADB_DRIVER") +
                             "\r\nPort=" + MariaEnv("KELVOR_MARIADB_PORT") + "\r\n";
  struct TCase {
    const char* What;
    std::string DataSourceLines;  // of a copy of the test data source, "" for the test's own
    std::string ProvidersIni;
    std::string ConnectionString;  // "" for the copy of the data source
    bool IgnoreSpace;
  };
  const std::vector<TCase> cases = {
      {"a data source without options", "", "", ConnectionStringFor(dsn), false},
      {"a data source with another bit", "Option=4096", "", "", true},
      {"the alias Options, found rows set already", "Options=4098", "", "", true},
      {"providers.ini's option replaces the data source's", "Option=4096", "[odbc]\r\nOption=0\r\n",
       "", false},
      {"the sqlserver type routed to the MariaDB driver", "", driver + "Option=4096\r\n", sqlserver,
       true},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    const std::string copy = UniqueName("kelvor_maria_");
    TDataSourceScope scope(*Home, dsn, copy, c.DataSourceLines);
    Home->WriteProvidersIni(c.ProvidersIni);
    TDbConnection conn;
    conn.SetConnectionString(c.ConnectionString.empty() ? ConnectionStringFor(copy)
                                                        : c.ConnectionString);
    ASSERT_DB_OK(conn.Open());
    EXPECT_EQ(conn.DbmsName(), "MariaDB");
    TDbQuery q(conn);
    for (int round = 0; round < 2; ++round) {
      q.SetSQL("update " + t + " set v = 7 where id = 1");
      ASSERT_DB_OK(q.ExecSQL());
      EXPECT_EQ(q.RowsAffected(), 1) << "round " << round;
    }
    q.SetPrepared(true);
    q.SetSQL("update " + t + " set v = :v where v = 7");
    q.Param(0).SetDataType(ftInteger);
    q.Param(0).SetValue("7");
    ASSERT_DB_OK(q.ExecSQL());
    EXPECT_EQ(q.RowsAffected(), 2) << "a prepared statement counts the same way";
    EXPECT_EQ(ScalarOn(conn, "select @@sql_mode like '%IGNORE_SPACE%'"), c.IgnoreSpace ? "1" : "0");
  }
}

}  // namespace
}  // namespace kelvor::test
