// One test body, run against every backend: the cases are written once in
// DbBackendCases.cpp and instantiated per backend by the SQLite, the
// PostgreSQL and the MariaDB test programs. Conn is the side's own connection.
#pragma once

#include "DbTestSupport.h"

namespace kelvor::test {

class DbBackendTest : public ::testing::TestWithParam<TDbSide> {
 protected:
  void SetUp() override {
    SKIP_WITHOUT_SERVER_OF(GetParam());
    Home = std::make_unique<TDbTestHome>();
    Db = std::make_unique<TTestDatabase>(GetParam(), *Home, "data.db");
  }
  void TearDown() override { Db.reset(); }

  bool IsSqlite() const { return GetParam() == TDbSide::SQLite; }
  bool IsMariadb() const { return GetParam() == TDbSide::MariaOdbc; }
  TDbConnection& Conn() { return Db->Conn(); }
  void OpenSecond(TDbConnection& Other) const {
    Other.SetConnectionString(Db->ConnectionString());
    Other.Open();
  }
  std::string NewTable(const std::string& Columns) { return Db->CreateTable(Columns); }
  void Exec(const std::string& Sql) { Db->Exec(Sql); }
  std::string Scalar(const std::string& Sql) { return Db->Scalar(Sql); }
  std::string CountOn(TDbConnection& C, const std::string& Table) {
    return ScalarOn(C, "select count(*) from " + Table);
  }

  std::unique_ptr<TDbTestHome> Home;
  std::unique_ptr<TTestDatabase> Db;
};

inline std::string TestDbName(const ::testing::TestParamInfo<TDbSide>& Info) {
  return SideName(Info.param);
}

}  // namespace kelvor::test
