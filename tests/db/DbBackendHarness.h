// One test body, run against every backend: the cases are written once in
// DbBackendCases.cpp and instantiated per backend by the SQLite and the
// PostgreSQL test programs.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "DbTestSupport.h"

namespace kelvor::test {

enum class TTestDb { SQLite, PgOdbc, PgSqlServer };

std::string TestDbName(const ::testing::TestParamInfo<TTestDb>& Info);

class DbBackendTest : public ::testing::TestWithParam<TTestDb> {
 protected:
  void SetUp() override;
  void TearDown() override;

  bool IsSqlite() const { return GetParam() == TTestDb::SQLite; }
  std::string ConnectionString() const;
  // Opens another connection to the same database.
  void OpenSecond(TDbConnection& Other) const;
  // Creates a table with a unique name (dropped at the end); the column list
  // may use BLOB, which becomes bytea on PostgreSQL.
  std::string NewTable(const std::string& Columns);
  // A literal of the bytes given in hexadecimal.
  std::string BlobLiteral(const std::string& Hex) const;
  void Exec(const std::string& Sql) { ExecOn(Conn, Sql); }
  std::string Scalar(const std::string& Sql) { return ScalarOn(Conn, Sql); }
  std::string CountOn(TDbConnection& C, const std::string& Table) {
    return ScalarOn(C, "select count(*) from " + Table);
  }

  std::unique_ptr<TDbTestHome> Home;
  std::string SqliteFile;
  TDbConnection Conn;
  std::vector<std::string> Tables;
};

}  // namespace kelvor::test
