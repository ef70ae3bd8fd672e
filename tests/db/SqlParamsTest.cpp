// Placeholders and the conversion of parameter texts.
#include <gtest/gtest.h>

#include "db/DbError.h"
#include "db/DbQuery.h"
#include "db/DbValueText.h"
#include "db/SqlParams.h"

namespace kelvor {
namespace {

TEST(SqlParamsTest, FindsPlaceholdersOutsideLiteralsAndComments) {
  struct TCase {
    const char* Sql;
    const char* Text;
    std::vector<std::string> Names;
  };
  const TCase cases[] = {
      {"insert into t(a1,a2)values(:a1,:a2)", "insert into t(a1,a2)values(?,?)", {"a1", "a2"}},
      {"update t set a2= :a2,a3= :a3 where a1='k1'",
       "update t set a2= ?,a3= ? where a1='k1'",
       {"a2", "a3"}},
      {"select :a, :A, :a", "select ?, ?, ?", {"a", "A", "a"}},
      {"select ':x', \":y\", 'it''s :z', :w", "select ':x', \":y\", 'it''s :z', ?", {"w"}},
      {"select 1 -- :c\n, :d /* :e \n :f */ + :g",
       "select 1 -- :c\n, ? /* :e \n :f */ + ?",
       {"d", "g"}},
      {"select x::int, y :: text, :v::date", "select x::int, y :: text, ?::date", {"v"}},
      {"begin x := 1; end", "begin x := 1; end", {}},
      {"select :_1, :2b, :中文列", "select ?, ?, ?", {"_1", "2b", "中文列"}},
      {"select ':unterminated", "select ':unterminated", {}},
      {"select 1 /* open", "select 1 /* open", {}},
      {"select :", "select :", {}},
  };
  for (const TCase& c : cases) {
    TParsedSql p = ParseSqlParams(c.Sql);
    EXPECT_EQ(p.Text, c.Text) << c.Sql;
    EXPECT_EQ(p.Names, c.Names) << c.Sql;
  }
}

// The converted value points into the parameter, which must outlive it.
TBindValue Convert(TFieldType Type, const std::string& Text, const char* Name = "p") {
  static TDbParam p;
  p = TDbParam(Name);
  p.SetDataType(Type);
  p.SetValue(Text);
  return ConvertParam(p);
}

TEST(ParamConversionTest, TextsConvertByDataType) {
  EXPECT_EQ(Convert(ftInteger, " -12 ").Integer, -12);
  EXPECT_EQ(Convert(ftLargeint, "9223372036854775807").Integer, INT64_MAX);
  EXPECT_EQ(Convert(ftFloat, "1.5e3").Float, 1500.0);
  TBindValue d = Convert(ftBCD, "-12345678.90");
  EXPECT_EQ(d.Kind, TBindKind::Decimal);
  EXPECT_EQ(d.Data, "-12345678.90");
  EXPECT_EQ(d.Precision, 10);
  EXPECT_EQ(d.Scale, 2);
  EXPECT_EQ(Convert(ftDateTime, "2024-05-01 10:20:30").When.Hour, 10);
  EXPECT_EQ(Convert(ftBoolean, "true").Integer, 1);
  EXPECT_EQ(Convert(ftBoolean, "FALSE").Integer, 0);
  struct TKindCase {
    TFieldType Type;
    const char* Text;
    TBindKind Kind;
  };
  for (const TKindCase& c : {TKindCase{ftSmallint, "+3", TBindKind::Integer},
                             {ftFMTBcd, ".5", TBindKind::Decimal},
                             {ftDateTime, "2024-05-01 10:20:30", TBindKind::DateTime},
                             {ftTime, "10:20:30", TBindKind::Time},
                             {ftDate, "2024-05-01", TBindKind::Date},
                             {ftVarBytes, "ab", TBindKind::Bytes},
                             {ftMemo, "x", TBindKind::Text},
                             {ftUnknown, "x", TBindKind::Text},
                             {ftOraClob, "x", TBindKind::Text}})
    EXPECT_EQ(Convert(c.Type, c.Text).Kind, c.Kind) << FieldTypeName(c.Type);

  // Empty texts: NULL for typed parameters, the empty text for text ones.
  for (TFieldType type : {ftInteger, ftFloat, ftBCD, ftDate, ftDateTime, ftBoolean, ftBlob})
    EXPECT_EQ(Convert(type, "").Kind, TBindKind::Null) << FieldTypeName(type);
  EXPECT_EQ(Convert(ftString, "").Kind, TBindKind::Text);
  TDbParam loaded("b");
  loaded.LoadFromBytes("", 0, ftBlob);
  EXPECT_EQ(ConvertParam(loaded).Kind, TBindKind::Bytes) << "loaded bytes are a value";
  TDbParam none("n");
  none.SetDataType(ftInteger);
  EXPECT_EQ(ConvertParam(none).Kind, TBindKind::Null);
}

TEST(ParamConversionTest, TextsThatDoNotConvertRaiseNamingTheParameter) {
  struct TCase {
    TFieldType Type;
    const char* Text;
  };
  const TCase bad[] = {{ftInteger, "12x"},
                       {ftInteger, "1.0"},
                       {ftInteger, "-"},
                       {ftLargeint, "99999999999999999999"},
                       {ftFloat, "1,5"},
                       {ftBCD, "1.2.3"},
                       {ftBCD, "e5"},
                       {ftDate, "2024-02-30"},
                       {ftDateTime, "yesterday"},
                       {ftBoolean, "yes"},
                       {ftTime, "25:00:00"}};
  for (const TCase& c : bad) {
    try {
      Convert(c.Type, c.Text, "qty");
      ADD_FAILURE() << FieldTypeName(c.Type) << " accepted " << c.Text;
    } catch (const TDbError& e) {
      EXPECT_NE(std::string(e.what()).find("\"qty\""), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find(FieldTypeName(c.Type)), std::string::npos) << e.what();
    }
  }
}

TEST(ValueTextTest, FloatsAreTheShortestTextThatReadsBack) {
  for (auto [value, text] :
       std::vector<std::pair<double, std::string>>{{0.1, "0.1"},
                                                   {0.1 + 0.2, "0.30000000000000004"},
                                                   {100.0, "100"},
                                                   {-2.5, "-2.5"},
                                                   {0.0, "0"},
                                                   {0.0001, "0.0001"},
                                                   {0.00001, "1e-05"},
                                                   {123456789012345.0, "123456789012345"},
                                                   {1e15, "1e+15"},
                                                   {1.5e300, "1.5e+300"}}) {
    std::string s;
    dbtext::AppendShortest(s, value);
    EXPECT_EQ(s, text);
  }
  for (auto [value, text] : std::vector<std::pair<float, std::string>>{
           {3.14f, "3.14"}, {123456.0f, "123456"}, {1234567.0f, "1.234567e+06"}}) {
    std::string s;
    dbtext::AppendShortest(s, value);
    EXPECT_EQ(s, text);
  }
}

TEST(ValueTextTest, DecimalTextsFromDriversAreMadePlain) {
  for (auto [in, out] : std::vector<std::pair<std::string, std::string>>{
           {"12,50", "12.50"}, {".5", "0.5"}, {"-.5", "-0.5"}, {"7", "7"}, {"", ""}}) {
    std::string s = in;
    dbtext::NormalizeDecimal(s);
    EXPECT_EQ(s, out) << in;
  }
}

}  // namespace
}  // namespace kelvor
