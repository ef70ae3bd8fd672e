// The value table: one source row per value (NULL of every type, empty texts
// and large objects, dates, times and date-times in the forms sources hold
// them, quotes, unicode, a 1 MB text), copied by every row-copying operation
// type to the destination and compared value by value with the source.
//
// It runs for every pair of RunConfigs(): a new destination (another
// server, another dialect) is added there and, when its dialect cannot take
// some values, in Takes(). The comparison reads both tables back after the
// run, so it holds whatever way the rows were applied.
#include <functional>

#include "EngineHarness.h"
#include "db/DbValueText.h"
#include "platform/Text.h"

namespace kelvor::test {
namespace {

using Rows = std::vector<std::string>;

// The columns of both tables. Old is what a destination row holds before an
// update ("" for the large object, whose literal depends on the database).
// MariaDB's TIMESTAMP is a moment of the session's time zone within
// 1970-2038 that may fill itself in: there date-times are DATETIME.
struct TColumn {
  const char* Name;
  const char* Type;
  const char* Old;
  const char* MariadbType = nullptr;
};
const TColumn kColumns[] = {
    {"s", "VARCHAR(40)", "'old'"},
    {"m", "TEXT", "'old'"},
    {"i", "INTEGER", "1"},
    {"b", "BIGINT", "1"},
    {"n", "NUMERIC(12,2)", "1"},
    {"f", "DOUBLE PRECISION", "1"},
    {"flag", "BOOLEAN", "true"},
    {"d", "DATE", "'1990-01-01'"},
    {"t", "TIME", "'01:02:03'"},
    {"ts", "TIMESTAMP", "'1990-01-01 01:02:03'", "DATETIME"},
    {"y", "BLOB", ""},
};

struct TValueCase {
  std::string Column;    // the one column of the row that is not NULL; "" for none
  std::string Source;    // the SQL literal the source row holds
  std::string Expected;  // the value as read from the source
  // A text only a SQLite column keeps as written for Kelvor to read; a
  // server turns it into a value of its own on insert, or refuses it.
  bool OnlySqliteKeepsIt = false;
};

std::string MegabyteText() {
  std::string text;
  while (text.size() < (1u << 20))
    text += "line " + std::to_string(text.size()) + " 中文 'quoted' \"double\"\n";
  return text;
}

std::vector<TValueCase> ValueCases() {
  const std::string big = MegabyteText();
  return {
      {"", "", ""},  // NULL of every type
      {"s", "''", ""},
      {"s", "'O''Brien \"q\" :p'", "O'Brien \"q\" :p"},
      {"s", "'中文，数据同步'", "中文，数据同步"},
      {"m", "''", ""},
      {"m", "'" + ReplaceAll(big, "'", "''") + "'", big},
      {"i", "-7", "-7"},
      {"i", "0", "0"},
      {"b", "9007199254740993", "9007199254740993"},
      {"n", "1234567890.12", "1234567890.12"},
      {"n", "-0.01", "-0.01"},
      {"f", "0.1", "0.1"},
      {"flag", "true", "True"},
      {"flag", "false", "False"},
      {"d", "'2024-02-29'", "2024-02-29"},
      {"t", "'10:20:30'", "10:20:30"},
      {"t", "'00:00:00'", "00:00:00"},
      {"t", "'23:59'", "23:59:00"},
      {"ts", "'2024-05-01 10:20:30'", "2024-05-01 10:20:30"},
      {"ts", "'2024-05-01 10:20'", "2024-05-01 10:20:00"},
      {"ts", "'2024-05-01T10:20:30.789'", "2024-05-01 10:20:30"},
      {"ts", "'2024-05-01T10:20:30Z'", "2024-05-01 10:20:30", true},
      {"ts", "'2024-05-01 10:20:30+02:00'", "2024-05-01 08:20:30", true},
      {"ts", "'2024-05-01'", "2024-05-01 00:00:00"},
      {"y", "", "x''"},
      {"y", "00", "x'00'"},
      {"y", "00FF10", "x'00FF10'"},
  };
}

// Whether the destination's dialect can take the value at all. The literal
// statements of the sqlserver type write booleans as 1/0 and large objects as
// convert(image,...), which PostgreSQL refuses (MariaDB the latter); their
// NULLs both take.
bool Takes(TDbSide Destination, const TValueCase& Case) {
  if (Destination == TDbSide::PgLiteral) return Case.Column != "flag" && Case.Column != "y";
  if (Destination == TDbSide::MariaLiteral) return Case.Column != "y";
  return true;
}

// A long text by its length and hash: a failing comparison of 1 MB is unreadable.
std::string ShownText(const std::string& Text) {
  if (Text.size() <= 80) return Text;
  return "<" + std::to_string(Text.size()) + " bytes, hash " +
         std::to_string(std::hash<std::string>()(Text)) + ">";
}

// A value as the test shows it: "<null>", bytes in hexadecimal, or its text.
// MariaDB's BOOLEAN is a TINYINT(1) and reads as 1 or 0.
std::string Shown(const TDbField& F) {
  if (F.IsNull()) return "<null>";
  if (F.FieldName() == "flag" && (F.AsString() == "1" || F.AsString() == "0"))
    return F.AsString() == "1" ? "True" : "False";
  if (dbtext::IsBinaryType(F.DataType())) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string hex = "x'";
    for (unsigned char c : F.AsBytes())
      hex += {kDigits[c >> 4], kDigits[c & 15]};
    return hex + "'";
  }
  return ShownText(F.AsString());
}

// Every row of Table, ordered by id, each value Shown and the values joined with "|".
Rows TableRows(TTestDatabase& Db, const std::string& Table, const std::string& Where = "") {
  std::string columns = "id";
  for (const TColumn& c : kColumns)
    columns += std::string(", ") + c.Name;
  TDbQuery q(Db.Conn());
  q.SetParamCheck(false);
  q.SetSQL("select " + columns + " from " + Table + Where + " order by id");
  q.Open();
  Rows rows;
  for (; !q.Eof(); q.Next()) {
    std::string row;
    for (int i = 0; i < q.FieldCount(); ++i)
      row += (i > 0 ? "|" : "") + Shown(q.Field(i));
    rows.push_back(row);
  }
  return rows;
}

class EngineValueTest : public EngineRunTest {
 protected:
  std::string ColumnList(const TTestDatabase& Db) const {
    std::string r = "id INTEGER";
    for (const TColumn& c : kColumns)
      r += std::string(", ") + c.Name + " " +
           (Db.IsMariadb() && c.MariadbType ? c.MariadbType : c.Type);
    return r;
  }
  std::string OldRow(TTestDatabase& Db, int Id) const {
    std::string r = "(" + std::to_string(Id);
    for (const TColumn& c : kColumns)
      r += ", " + (*c.Old ? std::string(c.Old) : Db.BlobLiteral("99"));
    return r + ")";
  }
};

TEST_P(EngineValueTest, EveryValueArrivesAsItLeft) {
  const std::string src = Src->CreateTable(ColumnList(*Src));
  std::vector<TValueCase> cases;
  for (const TValueCase& c : ValueCases())
    if (Takes(GetParam().Destination, c) &&
        (!c.OnlySqliteKeepsIt || Src->Side() == TDbSide::SQLite))
      cases.push_back(c);
  std::vector<int> ids;
  for (size_t k = 0; k < cases.size(); ++k) {
    const TValueCase& c = cases[k];
    ids.push_back(static_cast<int>(k) + 1);
    if (c.Column.empty()) {
      Src->Exec("insert into " + src + "(id) values (" + std::to_string(ids.back()) + ")");
    } else {
      const std::string literal = c.Column == "y" ? Src->BlobLiteral(c.Source) : c.Source;
      Src->Exec("insert into " + src + "(id, " + c.Column + ") values (" +
                std::to_string(ids.back()) + ", " + literal + ")");
    }
  }

  // The source reads as the table says: the one value, NULL elsewhere.
  const Rows source = TableRows(*Src, src);
  ASSERT_EQ(source.size(), cases.size());
  for (size_t k = 0; k < cases.size(); ++k) {
    std::string want = std::to_string(ids[k]);
    for (const TColumn& column : kColumns)
      want += "|" + (cases[k].Column == column.Name ? ShownText(cases[k].Expected) : "<null>");
    EXPECT_EQ(source[k], want) << ShownText(cases[k].Source);
  }

  std::vector<TMapEntry> maps = {{"id", true}};
  for (const TColumn& c : kColumns)
    maps.push_back({c.Name});
  for (int op : {opInsert, opUpdateThenInsert, opUpdate, opMirror}) {
    SCOPED_TRACE("operation type " + std::to_string(op));
    const std::string dst = Dst->CreateTable(ColumnList(*Dst));
    // Types that update find old values in every row (type 2) or every
    // second row; the mirror has a row to delete, type 1 one to keep.
    for (int id : ids)
      if (op == opUpdate || ((op == opUpdateThenInsert || op == opMirror) && id % 2 == 0))
        Dst->Exec("insert into " + dst + " values " + OldRow(*Dst, id));
    if (op == opUpdateThenInsert || op == opMirror)
      Dst->Exec("insert into " + dst + " values " + OldRow(*Dst, 1000));
    auto task = Task(op, dst, "select * from " + src, maps);
    ASSERT_TRUE(Run(*task)) << Env->LogText();
    EXPECT_EQ(TableRows(*Dst, dst, " where id < 1000"), source);
    EXPECT_EQ(Dst->Count(dst + " where id = 1000"), op == opUpdateThenInsert ? "1" : "0");
  }
}

INSTANTIATE_TEST_SUITE_P(Runs, EngineValueTest, ::testing::ValuesIn(RunConfigs()), RunConfigName);

}  // namespace
}  // namespace kelvor::test
