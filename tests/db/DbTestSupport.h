// Databases for tests, reached the way Kelvor reaches them: through the
// system's own connection strings.
//
//   SQLite   an "access" string naming a file in a temporary folder
//   Postgres the server of scripts/with-postgres (KELVOR_PG_* variables), as
//            the "odbc" type through its data source, or as the "sqlserver"
//            type routed to the PostgreSQL ODBC driver by a providers.ini
//
// A TDbTestHome makes a program folder <temp>/bin/ with <temp>/conf/
// providers.ini beside it and points ProgramFolder() at it for its lifetime,
// so every connection opened meanwhile reads that providers.ini. Tests that
// need PostgreSQL call SkipWithoutPostgres() (GTEST_SKIP when the variables
// are not set). Not thread-safe: set up on the test's main thread.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "db/DbConnection.h"
#include "db/DbError.h"
#include "db/DbQuery.h"
#include "support/TestSupport.h"
#include "tasks/uInstance.h"

namespace kelvor::test {

class TDbTestHome {
 public:
  // Writes a providers.ini that routes [sqlserver] to the test PostgreSQL
  // (when its variables are set) and sets BoolsAsChar=0 for [odbc], so that
  // PostgreSQL booleans arrive as boolean columns.
  TDbTestHome();
  ~TDbTestHome();
  TDbTestHome(const TDbTestHome&) = delete;
  TDbTestHome& operator=(const TDbTestHome&) = delete;

  const std::string& Root() const { return FDir.Path(); }  // ends with "/"
  std::string BinFolder() const { return FDir.Path() + "bin/"; }
  std::string ProvidersIniPath() const { return FDir.Path() + "conf/providers.ini"; }
  void WriteProvidersIni(const std::string& Text) const;
  // Creates an empty SQLite database file Root()+Name (Kelvor never creates one).
  std::string CreateSqliteFile(const std::string& Name) const;

 private:
  TempDir FDir;
  std::string FOldProgramFolder;
};

// The providers.ini text TDbTestHome writes.
std::string DefaultTestProvidersIni();

// The system's connection string of the access type for a file.
std::string AccessConnectionString(const std::string& Path);

bool PostgresAvailable();
// Use first thing in a test body or SetUp.
#define SKIP_WITHOUT_POSTGRES()                                                            \
  do {                                                                                     \
    if (!::kelvor::test::PostgresAvailable())                                              \
      GTEST_SKIP() << "KELVOR_PG_DSN is not set: run under scripts/with-postgres to test " \
                      "against PostgreSQL";                                                \
  } while (0)

std::string PgEnv(const char* Name);  // a KELVOR_PG_* variable, or ""
// The odbc type: "Provider=MSDASQL.1;...;Data Source=<KELVOR_PG_DSN>".
std::string PostgresOdbcConnectionString();
std::string PostgresOdbcConnectionString(const std::string& User, const std::string& Password);
// The sqlserver type; with TDbTestHome's providers.ini it reaches PostgreSQL
// (server, port and database come from providers.ini).
std::string PostgresSqlServerConnectionString();
std::string PostgresSqlServerConnectionString(const std::string& User, const std::string& Password);

// The same databases as a task's connection settings, for tests that let the
// engine build the connection string: access (type 2) with the file's
// absolute path, odbc (type 3) with the data source, sqlserver (type 1) whose
// server and database providers.ini replaces.
TSyncDataSource SqliteDataSource(const std::string& Path);
TSyncDataSource PostgresOdbcDataSource();
TSyncDataSource PostgresSqlServerDataSource();

// A name no other test process uses at the same time: Prefix + pid + counter.
std::string UniqueName(const std::string& Prefix);

// Runs Statement on the connection with a fresh query (ExecSQL).
void ExecOn(TDbConnection& Connection, const std::string& Sql);
// The text of column 0 of the first row of Sql.
std::string ScalarOn(TDbConnection& Connection, const std::string& Sql);

}  // namespace kelvor::test

// Fails the test with the database's message when Statement raises TDbError.
#define ASSERT_DB_OK(Statement)                                  \
  do {                                                           \
    try {                                                        \
      Statement;                                                 \
    } catch (const ::kelvor::TDbError& e_) {                     \
      FAIL() << #Statement << " raised TDbError: " << e_.what(); \
    }                                                            \
  } while (0)
#define EXPECT_DB_OK(Statement)                                         \
  do {                                                                  \
    try {                                                               \
      Statement;                                                        \
    } catch (const ::kelvor::TDbError& e_) {                            \
      ADD_FAILURE() << #Statement << " raised TDbError: " << e_.what(); \
    }                                                                   \
  } while (0)
