#include "engine/uKeyTable.h"

#include <algorithm>

#include "platform/Text.h"

namespace kelvor {

namespace {

constexpr const char* kTableName = "kelvor_keys";
// The alias of the destination row in PostgreSQL's delete.
constexpr const char* kRow = "kelvor_row";

// Parameters one INSERT of keys carries at most (SQLite allows 32766, the
// servers 65535; a few hundred rows already make the round trips cheap).
constexpr size_t kParamsPerInsert = 500;

// MariaDB and MySQL index a text or binary column only up to a length, and
// all parts of one index together up to 3072 bytes (768 four-byte characters).
constexpr uint32_t kLongestIndexPart = 255;
constexpr uint32_t kIndexCharacters = 700;

bool IsTextOrBytes(TFieldType T) {
  switch (T) {
    case ftString:
    case ftFixedChar:
    case ftWideString:
    case ftBytes:
    case ftVarBytes:
    case ftTypedBinary:
      return true;
    default:
      return ValueKindOf(T) == TValueKind::LargeObject || T == ftMemo || T == ftFmtMemo;
  }
}

// TEXT and BLOB columns take an index only with a length.
bool NeedsIndexLength(TFieldType T) {
  return ValueKindOf(T) == TValueKind::LargeObject || T == ftMemo || T == ftFmtMemo;
}

}  // namespace

std::optional<TKeyTable::TDialect> TKeyTable::DialectFor(std::string_view DbmsName) {
  const std::string name = TrimBlanks(DbmsName);
  if (SameText(name, "SQLite")) return TDialect::Sqlite;
  if (SameText(name, "PostgreSQL")) return TDialect::Postgres;
  if (SameText(name, "MariaDB") || SameText(name, "MySQL")) return TDialect::MySql;
  return std::nullopt;
}

TKeyTable::TKeyTable(TDialect Dialect, std::string_view Table, std::vector<TKeyColumn> Keys)
    : FDialect(Dialect), FTable(Table), FKeys(std::move(Keys)) {}

size_t TKeyTable::RowsPerInsert() const {
  return std::max<size_t>(1, kParamsPerInsert / std::max<size_t>(1, FKeys.size()));
}

std::string TKeyTable::Name() const {
  switch (FDialect) {
    case TDialect::Sqlite:
      return std::string("temp.") + kTableName;
    case TDialect::Postgres:
      // Never a table of that name in the user's own schemas.
      return std::string("pg_temp.") + kTableName;
    case TDialect::MySql:
      break;
  }
  return kTableName;
}

std::string TKeyTable::ColumnList() const {
  std::string r;
  for (const TKeyColumn& k : FKeys)
    r += (r.empty() ? "" : ",") + k.Name;
  return r;
}

std::string TKeyTable::DropStatement() const {
  if (FDialect == TDialect::MySql)
    // TEMPORARY: never a real table, and no implicit commit.
    return std::string("drop temporary table if exists ") + kTableName;
  return "drop table if exists " + Name();
}

std::string TKeyTable::CreateStatement() const {
  // Made from the destination's own columns, so that its keys compare as
  // the destination's do ("A" and "a" are one key in a case-insensitive
  // column). No row is copied.
  const std::string select = " as select " + ColumnList() + " from " + FTable + " where 1=0";
  switch (FDialect) {
    case TDialect::Sqlite:
      return std::string("create temp table ") + kTableName + select;
    case TDialect::Postgres:
      return std::string("create temporary table ") + kTableName + select;
    case TDialect::MySql:
      break;
  }
  // MariaDB runs the delete's subquery once per destination row: it needs an
  // index, declared here because any later index change would commit.
  size_t texts = 0;
  for (const TKeyColumn& k : FKeys)
    if (IsTextOrBytes(k.DataType)) ++texts;
  const uint32_t longest =
      std::min<uint32_t>(kLongestIndexPart, kIndexCharacters / std::max<uint32_t>(1, texts));
  std::string parts;
  for (const TKeyColumn& k : FKeys) {
    parts += (parts.empty() ? "" : ",") + k.Name;
    if (!IsTextOrBytes(k.DataType)) continue;
    if (NeedsIndexLength(k.DataType) || k.Size == 0 || k.Size > longest)
      parts += "(" + std::to_string(k.Size == 0 ? longest : std::min(k.Size, longest)) + ")";
  }
  return std::string("create temporary table ") + kTableName + " (index (" + parts + "))" + select;
}

std::string TKeyTable::InsertStatement(size_t Rows) const {
  const std::string row = InsertRow();
  std::string r = InsertHead();
  for (size_t i = 0; i < Rows; ++i)
    r += (i == 0 ? "" : ",") + row;
  return r;
}

std::string TKeyTable::InsertHead() const {
  return "insert into " + Name() + "(" + ColumnList() + ") values";
}

std::string TKeyTable::InsertRow() const {
  std::string row;
  for (const TKeyColumn& k : FKeys)
    row += (row.empty() ? "(:" : ",:") + k.Name;
  return row + ")";
}

std::vector<std::string> TKeyTable::AnalyzeStatements() const {
  // A fresh temporary table has no statistics: without them PostgreSQL may
  // plan the delete as a loop over every key for every row.
  if (FDialect == TDialect::Postgres) return {"analyze " + Name()};
  return {};
}

std::vector<std::string> TKeyTable::DeleteStatements() const {
  const std::string columns = ColumnList();
  if (FDialect != TDialect::Postgres) {
    // "not in" keeps a row whose key compares as NULL with every key, and
    // with a row value it deletes a row only where some column differs
    // from each key: the meaning of the written condition.
    if (FKeys.size() == 1)
      return {"delete from " + FTable + " where " + columns + " is not null and " + columns +
              " not in (select " + columns + " from " + Name() + ")"};
    return {"delete from " + FTable + " where (" + columns + ") not in (select " + columns +
            " from " + Name() + ")"};
  }
  // PostgreSQL evaluates "not in" row by row; "not exists" becomes one anti
  // join. The rows with no NULL in their key go first; a row with a NULL in
  // some but not all key columns goes when its other columns match no key.
  const std::string row = std::string(kRow) + ".";
  std::string notNull, anyNull, equal, equalOrNull;
  for (const TKeyColumn& k : FKeys) {
    notNull += row + k.Name + " is not null and ";
    anyNull += (anyNull.empty() ? "(" : " or ") + row + k.Name + " is null";
    equal += (equal.empty() ? "" : " and ") + std::string("s.") + k.Name + " = " + row + k.Name;
    equalOrNull += (equalOrNull.empty() ? "(" : " and (") + row + k.Name + " is null or s." +
                   k.Name + " = " + row + k.Name + ")";
  }
  const std::string head = "delete from " + FTable + " as " + kRow + " where ";
  const std::string keys = " from " + Name() + " s where ";
  std::vector<std::string> r = {head + notNull + "not exists (select 1" + keys + equal + ")"};
  if (FKeys.size() > 1)
    r.push_back(head + anyNull + ") and not exists (select 1" + keys + equalOrNull + ")");
  return r;
}

}  // namespace kelvor
