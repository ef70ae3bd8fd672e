// The statements of a mirror's delete on a destination reached through
// parameters: the keys of every source row go into a temporary table on the
// destination connection, inside the run's transaction, and one DELETE (two
// for several key columns on PostgreSQL) removes the destination rows whose
// key matches none of them. The destination compares the keys itself, by
// the type and collation of its own key columns, and the texts stay the same
// whatever the number of keys.
//
// A destination row whose key compares as NULL with every source key is
// kept, as the written condition "not ((k='a') or ...)" keeps it: with
// several key columns a row is deleted only when, for every source key, one
// of its key columns holds a value different from that key's.
//
// Known for SQLite, PostgreSQL, MariaDB and MySQL (TKeyTable::For answers
// nothing for other database systems). Pure text builders: no database is
// touched here; not thread-safe, like the records they are built for.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "db/FieldType.h"

namespace kelvor {

// One key column of the destination table, as a query on it describes it
// (MariaDB and MySQL need its type and size to index it).
struct TKeyColumn {
  std::string Name;
  TFieldType DataType = ftUnknown;
  uint32_t Size = 0;
};

class TKeyTable {
 public:
  enum class TDialect { Sqlite, Postgres, MySql };

  // The dialect of a database system as TDbConnection::DbmsName names it;
  // nothing when this program does not know how to make the table there.
  static std::optional<TDialect> DialectFor(std::string_view DbmsName);

  // Table: the destination table as the task names it. Keys: its key
  // columns in field map order (types and sizes are used by MySql only).
  TKeyTable(TDialect Dialect, std::string_view Table, std::vector<TKeyColumn> Keys);

  TDialect Dialect() const { return FDialect; }
  // Rows of placeholders one INSERT carries: fewer round trips, within every
  // database's limit on parameters per statement.
  size_t RowsPerInsert() const;

  // Removes a table of this name left in the session (MariaDB keeps a
  // temporary table through a rollback).
  std::string DropStatement() const;
  // An empty table with the destination's key columns, types and collations.
  std::string CreateStatement() const;
  // "insert into <keys>(k,j) values(:k,:j),(:k,:j),..." with Rows rows.
  std::string InsertStatement(size_t Rows) const;
  // Its two parts, "insert into <keys>(k,j) values" and "(:k,:j)", for a
  // TDbInsertBatch.
  std::string InsertHead() const;
  std::string InsertRow() const;
  // Statements that let the planner see the filled table (may be none).
  std::vector<std::string> AnalyzeStatements() const;
  std::vector<std::string> DeleteStatements() const;

 private:
  std::string Name() const;        // the table, qualified where that keeps it apart
  std::string ColumnList() const;  // "k,j"

  TDialect FDialect;
  std::string FTable;
  std::vector<TKeyColumn> FKeys;
};

}  // namespace kelvor
