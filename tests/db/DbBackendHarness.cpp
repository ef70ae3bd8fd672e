#include "DbBackendHarness.h"

#include "tasks/uSchemaObjects.h"

namespace kelvor::test {

std::string TestDbName(const ::testing::TestParamInfo<TTestDb>& Info) {
  switch (Info.param) {
    case TTestDb::SQLite:
      return "SQLite";
    case TTestDb::PgOdbc:
      return "PostgresOdbcDsn";
    case TTestDb::PgSqlServer:
      return "PostgresAsSqlServer";
  }
  return "Unknown";
}

void DbBackendTest::SetUp() {
  if (!IsSqlite()) SKIP_WITHOUT_POSTGRES();
  Home = std::make_unique<TDbTestHome>();
  if (IsSqlite()) SqliteFile = Home->CreateSqliteFile("data.db");
  Conn.SetConnectionString(ConnectionString());
  ASSERT_DB_OK(Conn.Open());
}

void DbBackendTest::TearDown() {
  if (!Conn.Connected()) {
    try {
      Conn.Open();
    } catch (const TDbError&) {
      return;
    }
  }
  Conn.RollbackTrans();
  for (const std::string& t : Tables) {
    try {
      Exec("drop table " + t);
    } catch (const TDbError& e) {
      ADD_FAILURE() << "cannot drop " << t << ": " << e.what();
    }
  }
  Conn.Close();
}

std::string DbBackendTest::ConnectionString() const {
  switch (GetParam()) {
    case TTestDb::SQLite:
      return AccessConnectionString(SqliteFile);
    case TTestDb::PgOdbc:
      return PostgresOdbcConnectionString();
    case TTestDb::PgSqlServer:
      return PostgresSqlServerConnectionString();
  }
  return {};
}

void DbBackendTest::OpenSecond(TDbConnection& Other) const {
  Other.SetConnectionString(ConnectionString());
  Other.Open();
}

std::string DbBackendTest::NewTable(const std::string& Columns) {
  std::string name = UniqueName("kt_");
  std::string cols = IsSqlite() ? Columns : ReplaceAll(Columns, "BLOB", "bytea");
  Exec("create table " + name + "(" + cols + ")");
  Tables.push_back(name);
  return name;
}

std::string DbBackendTest::BlobLiteral(const std::string& Hex) const {
  return IsSqlite() ? "x'" + Hex + "'" : "decode('" + Hex + "','hex')";
}

}  // namespace kelvor::test
