#include "engine/uStageTable.h"

namespace kelvor {

namespace {

constexpr const char* kTableName = "kelvor_stage";
// The alias of the destination row and of the staged record.
constexpr const char* kRow = "kelvor_row";
constexpr const char* kStaged = "kelvor_new";

}  // namespace

TStageTable::TStageTable(TKeyTable::TDialect Dialect, std::string_view Table,
                         std::vector<TColumn> Columns)
    : FDialect(Dialect), FTable(Table), FColumns(std::move(Columns)) {}

std::string TStageTable::Name() const {
  // Never a table of that name in the user's own schemas.
  if (FDialect == TKeyTable::TDialect::Postgres) return std::string("pg_temp.") + kTableName;
  return kTableName;
}

std::string TStageTable::ColumnList(std::string_view Prefix) const {
  std::string r;
  for (const TColumn& c : FColumns) {
    if (!r.empty()) r += ',';
    r += Prefix;
    r += c.Name;
  }
  return r;
}

std::string TStageTable::StagedKey(const TColumn& Key) const {
  const std::string staged = std::string(kStaged) + "." + Key.Name;
  return Key.NullAsEmpty ? "coalesce(" + staged + ",'')" : staged;
}

std::string TStageTable::KeyMatch(std::string_view Row) const {
  std::string r;
  for (const TColumn& c : FColumns) {
    if (!c.IsKey) continue;
    if (!r.empty()) r += " and ";
    r += std::string(Row) + "." + c.Name + " = " + StagedKey(c);
  }
  return r;
}

std::string TStageTable::DropStatement() const {
  if (FDialect == TKeyTable::TDialect::MySql)
    // TEMPORARY: never a real table, and no implicit commit.
    return std::string("drop temporary table if exists ") + kTableName;
  return "drop table if exists " + Name();
}

std::string TStageTable::CreateStatement() const {
  // No row is copied; the columns keep the destination's types and
  // collations.
  return std::string("create temporary table ") + kTableName + " as select " + ColumnList() +
         " from " + FTable + " where 1=0";
}

std::vector<std::string> TStageTable::ClearStatements() const {
  if (FDialect == TKeyTable::TDialect::MySql) return {DropStatement(), CreateStatement()};
  return {"truncate table " + Name()};
}

std::string TStageTable::InsertHead() const {
  return "insert into " + Name() + "(" + ColumnList() + ")values";
}

std::string TStageTable::InsertRow() const {
  return "(" + ColumnList(":") + ")";
}

std::string TStageTable::DuplicateKeyQuery() const {
  std::string keys;
  for (const TColumn& c : FColumns)
    if (c.IsKey) keys += (keys.empty() ? "" : ",") + StagedKey(c);
  return "select 1 from " + Name() + " " + kStaged + " group by " + keys +
         " having count(*) > 1 limit 1";
}

std::string TStageTable::UpdateStatement() const {
  std::string set;
  const std::string row = std::string(kRow) + ".";
  const bool mysql = FDialect == TKeyTable::TDialect::MySql;
  for (const TColumn& c : FColumns) {
    if (c.IsKey) continue;
    if (!set.empty()) set += ',';
    // PostgreSQL names the columns of SET without a table; MariaDB needs it
    // in a joined UPDATE.
    set += (mysql ? row : std::string()) + c.Name + " = " + kStaged + "." + c.Name;
  }
  if (mysql)
    return "update " + FTable + " " + kRow + " join " + Name() + " " + kStaged + " on " +
           KeyMatch(kRow) + " set " + set;
  return "update " + FTable + " as " + kRow + " set " + set + " from " + Name() + " " + kStaged +
         " where " + KeyMatch(kRow);
}

std::string TStageTable::UnmatchedCountQuery() const {
  return "select count(*) from " + Name() + " " + kStaged + " where not exists (select 1 from " +
         FTable + " " + kRow + " where " + KeyMatch(kRow) + ")";
}

std::string TStageTable::InsertMissingStatement() const {
  return "insert into " + FTable + "(" + ColumnList() + ") select " +
         ColumnList(std::string(kStaged) + ".") + " from " + Name() + " " + kStaged +
         " where not exists (select 1 from " + FTable + " " + kRow + " where " + KeyMatch(kRow) +
         ")";
}

}  // namespace kelvor
