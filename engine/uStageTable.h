// The statements that apply update-then-insert, update and the mirror's
// upserts a batch of records at a time on PostgreSQL, MariaDB and MySQL:
// the batch goes into a temporary table on the destination connection
// (inside the run's transaction), made from the destination table's own
// columns so that every value is converted as the destination converts it;
// one UPDATE joined to it and, for the types that insert, one INSERT of the
// rows whose key matched nothing apply the whole batch.
//
// The destination compares the keys itself, as the record-by-record
// UPDATE's WHERE part does: by the type and collation of its own key
// columns, a NULL text key as the empty text (the form that UPDATE binds it
// in). Two records of one batch whose keys the destination takes for the
// same key would depend on their order: DuplicateKeyQuery finds them, and
// such a batch is applied record by record instead.
//
// Pure text builders: no database is touched here; not thread-safe, like the
// records they are built for.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "engine/uKeyTable.h"

namespace kelvor {

class TStageTable {
 public:
  struct TColumn {
    std::string Name;
    bool IsKey = false;
    // A NULL in this key column compares as the empty text (text and
    // byte keys).
    bool NullAsEmpty = false;
  };

  // Dialect: Postgres or MySql. Table: the destination table as the task
  // names it. Columns: the field map's destination columns in order.
  TStageTable(TKeyTable::TDialect Dialect, std::string_view Table, std::vector<TColumn> Columns);

  // Removes a table of this name left in the session.
  std::string DropStatement() const;
  // An empty table with the destination's columns, types and collations.
  std::string CreateStatement() const;
  // Empties the table for the next batch. PostgreSQL truncates (in place
  // when sent outside a savepoint of the run); MariaDB drops and creates it
  // again, since a TRUNCATE would commit the run's transaction there and
  // the rows a DELETE leaves behind would be read by every later batch.
  std::vector<std::string> ClearStatements() const;
  // "insert into <stage>(a,b)values" and "(:a,:b)": the rows of a batch go
  // in through a TDbInsertBatch.
  std::string InsertHead() const;
  std::string InsertRow() const;
  // A row when two staged records compare as the same key, none otherwise.
  std::string DuplicateKeyQuery() const;
  // How many staged records match no destination row.
  std::string UnmatchedCountQuery() const;
  // Sets the non-key columns of every destination row matching a staged key;
  // the rows affected are the destination rows matched.
  std::string UpdateStatement() const;
  // Inserts the staged records whose key matches no destination row.
  std::string InsertMissingStatement() const;

 private:
  std::string Name() const;
  std::string ColumnList(std::string_view Prefix = {}) const;
  // The staged key as the destination compares it.
  std::string StagedKey(const TColumn& Key) const;
  // "<row>.k = <staged k> and ..."
  std::string KeyMatch(std::string_view Row) const;

  TKeyTable::TDialect FDialect;
  std::string FTable;
  std::vector<TColumn> FColumns;
};

}  // namespace kelvor
