// Parsing the system's connection strings, quoting, providers.ini, the
// routing of each provider; placeholders and the conversion of parameter
// and value texts.
#include <gtest/gtest.h>

#include "db/ConnectionString.h"
#include "db/DbError.h"
#include "db/DbQuery.h"
#include "db/DbValueText.h"
#include "db/SqlParams.h"

namespace kelvor {
namespace {

TEST(ConnectionStringTest, ParsesTheSystemsStrings) {
  auto cs = TConnectionString::Parse(
      "Provider=SQLOLEDB.1;Password=p;Persist Security Info=True;User ID=u;Initial Catalog=db;"
      "Data Source=srv");
  EXPECT_EQ(cs.Value("provider"), "SQLOLEDB.1");
  EXPECT_EQ(cs.Value("PASSWORD"), "p");
  EXPECT_EQ(cs.Value("User ID"), "u");
  EXPECT_EQ(cs.Value("initial catalog"), "db");
  EXPECT_EQ(cs.Value("Data Source"), "srv");
  EXPECT_EQ(cs.Value("Location"), "");
  EXPECT_FALSE(cs.Contains("Location"));
  EXPECT_EQ(cs.Items().size(), 6u);

  // Values are kept exactly, blanks included; blanks around keys are not part of them.
  cs = TConnectionString::Parse(" Data Source = C:\\a b\\x.mdb ;Password=;;junk; User ID=a=b");
  EXPECT_EQ(cs.Value("Data Source"), " C:\\a b\\x.mdb ");
  EXPECT_TRUE(cs.Contains("Password"));
  EXPECT_EQ(cs.Value("Password"), "");
  EXPECT_EQ(cs.Value("User ID"), "a=b");
  EXPECT_FALSE(cs.Contains("junk"));

  cs = TConnectionString::Parse("A=1;a=2");
  EXPECT_EQ(cs.Value("A"), "2") << "the last of a repeated key wins";
  EXPECT_EQ(cs.Items().size(), 1u);
}

TEST(ConnectionStringTest, QuotedValuesHoldSemicolonsAndDoubledQuotes) {
  auto cs = TConnectionString::Parse(
      "Provider=SQLOLEDB.1;Password=\"a;b\"\"c'd\";User ID= \"x\" ;Data Source=\"\"");
  EXPECT_EQ(cs.Value("Password"), "a;b\"c'd");
  EXPECT_EQ(cs.Value("User ID"), "x");
  EXPECT_EQ(cs.Value("Data Source"), "");
  EXPECT_THROW(TConnectionString::Parse("Password=\"abc;User ID=u"), TDbError);
  EXPECT_THROW(TConnectionString::Parse("Password=\"abc\"def;User ID=u"), TDbError);
  // An apostrophe is an ordinary character.
  EXPECT_EQ(TConnectionString::Parse("Password='x;User ID=u").Value("Password"), "'x");

  for (std::string v : {"plain", "", "a;b", "\"", "\";\"", "x\"\"y", " lead", "中文;密码", "'q'"}) {
    std::string text = "Provider=MSDASQL.1;Password=" + QuoteConnectionValue(v) + ";User ID=u";
    auto parsed = TConnectionString::Parse(text);
    EXPECT_EQ(parsed.Value("Password"), v) << text;
    EXPECT_EQ(parsed.Value("User ID"), "u") << text;
  }
  EXPECT_EQ(QuoteConnectionValue("abc"), "abc");
  EXPECT_EQ(QuoteConnectionValue("a;\"b"), "\"a;\"\"b\"");
}

TEST(ConnectionStringTest, OdbcValuesAreBracedWhenNeeded) {
  EXPECT_EQ(QuoteOdbcValue("secret"), "secret");
  EXPECT_EQ(QuoteOdbcValue("a;b"), "{a;b}");
  EXPECT_EQ(QuoteOdbcValue("a}b{"), "{a}}b{}");
  EXPECT_EQ(QuoteOdbcValue(" x"), "{ x}");
  EXPECT_EQ(QuoteOdbcValue(""), "");
}

// The found-rows bit joins the option in force, whichever place sets it,
// and a connection string read back keeps braced values whole.
TEST(ConnectionStringTest, FoundRowsIsAddedToTheOptionInForce) {
  struct TCase {
    const char* ConnectionString;
    const char* DataSourceOption;
    const char* Want;  // nullptr: already set, nothing changes
  };
  const TCase cases[] = {
      {"DSN=d;UID=u;PWD=p;", "", "DSN=d;UID=u;PWD=p;OPTION=2;"},
      {"DSN=d;", "4096", "DSN=d;OPTION=4098;"},
      {"DSN=d;", " 12 ", "DSN=d;OPTION=14;"},
      {"DSN=d;", "none", "DSN=d;OPTION=2;"},
      {"DSN=d;", "6", nullptr},
      {"DSN=d;Options=8;UID=u", "4096", "DSN=d;UID=u;OPTION=10;"},
      {"DSN=d;option=1;OPTION=x;", "4", "DSN=d;OPTION=2;"},
      {"DSN=d;Option=3;", "", nullptr},
      {"DRIVER={My }}Driver};PWD={a;b}}c};SERVER={ h };", "",
       "DRIVER={My }}Driver};PWD={a;b}}c};"
       "SERVER={ h };OPTION=2;"},
  };
  for (const TCase& c : cases) {
    std::string cs = c.ConnectionString;
    EXPECT_EQ(AddFoundRowsOption(cs, c.DataSourceOption), c.Want != nullptr)
        << c.ConnectionString << " with " << c.DataSourceOption;
    EXPECT_EQ(cs, c.Want ? c.Want : c.ConnectionString);
  }
  const TKeyValueList items = ParseOdbcConnectionString("DRIVER={a;b}}};x;PWD=;Port = 1");
  EXPECT_EQ(items, (TKeyValueList{{"DRIVER", "a;b}"}, {"PWD", ""}, {"Port", " 1"}}));
}

// psqlodbc's level of rollback on errors: the layer's own unless the user
// set the attribute, in the connection string (providers.ini) or in the data
// source.
TEST(ConnectionStringTest, PsqlodbcRollbackLevelIsAddedUnlessSetAlready) {
  struct TCase {
    const char* ConnectionString;
    const char* DataSourceProtocol;
    const char* Want;  // nullptr: unchanged
  };
  const TCase cases[] = {
      {"DSN=pg;UID=u;", "", "DSN=pg;UID=u;Protocol=7.4-0;"},
      {"DSN=pg", "", "DSN=pg;Protocol=7.4-0;"},
      {"DRIVER={PostgreSQL Unicode};Server=h;", "  ",
       "DRIVER={PostgreSQL Unicode};Server=h;"
       "Protocol=7.4-0;"},
      {"DSN=pg;protocol=7.4-2;", "", nullptr},
      {"DSN=pg;A1=7.4;", "", nullptr},
      {"DSN=pg;", "7.4-2", nullptr},
      {"DSN=pg;PWD={Protocol=1};", "", "DSN=pg;PWD={Protocol=1};Protocol=7.4-0;"},
  };
  for (const TCase& c : cases) {
    std::string cs = c.ConnectionString;
    EXPECT_EQ(AddPsqlodbcRollbackLevel(cs, c.DataSourceProtocol), c.Want != nullptr)
        << c.ConnectionString << " with " << c.DataSourceProtocol;
    EXPECT_EQ(cs, c.Want ? c.Want : c.ConnectionString);
  }
}

TEST(ProviderSettingsTest, ReadsSectionsDriversAndAttributes) {
  auto s = TProviderSettings::FromText(
      "; comment\r\n# another\r\nstray=1\r\n[SQLServer]\r\n Driver = PostgreSQL Unicode \r\n"
      "Port=5432\r\nUseDeclareFetch=1\r\n\r\n[oracle]\rDriver=Oracle 19 ODBC driver\n[sqlserver]\n"
      "Extra=x\n");
  EXPECT_EQ(s.Driver("sqlserver"), "PostgreSQL Unicode");
  EXPECT_EQ(s.Driver("oracle"), "Oracle 19 ODBC driver");
  EXPECT_EQ(s.Driver("db2"), "");
  ASSERT_EQ(s.Section("sqlserver").size(), 4u);
  EXPECT_EQ(s.Section("sqlserver")[1], (std::pair<std::string, std::string>("Port", "5432")));
  EXPECT_EQ(s.Section("sqlserver")[3].first, "Extra");
  EXPECT_TRUE(s.Section("access").empty());
  EXPECT_TRUE(TProviderSettings::Load("/nonexistent/providers.ini").Section("odbc").empty());
}

TEST(RouteTest, EachProviderLeadsWhereItShould) {
  const TProviderSettings none;
  const TProviderSettings ini = TProviderSettings::FromText(
      "[oracle]\nDriver=Oracle in OraClient\n[db2]\nDriver=IBM DB2 ODBC DRIVER\n"
      "[sqlserver]\nDriver=PostgreSQL Unicode\nServer=127.0.0.1\nPort=5432\n"
      "[odbc]\nDriver=ignored\nBoolsAsChar=0\n[access]\nDriver=MDB {Tools}\nReadOnly=1\n");
  struct TCase {
    const TProviderSettings& Settings;
    const char* ConnectionString;
    const char* Type;
    const char* Odbc;  // "" for a SQLite file
  };
  // clang-format off
  const TCase cases[] = {
      {none, "Provider=Microsoft.Jet.OLEDB.4.0;User ID=Admin;Persist Security Info=False;"
             "Data Source=/opt/kelvor/bin/..\\data\\a.db", "access", ""},
      {none, "Provider=Microsoft.Jet.OLEDB.4.0;Password=;User ID=Admin;Data Source=/d/Old.MDB",
       "access", "DRIVER={MDBTools};DBQ=/d/Old.MDB;"},
      {none, "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=x.accdb", "access",
       "DRIVER={MDBTools};DBQ=x.accdb;"},
      {none, "Provider=MSDASQL.1;Persist Security Info=False;User ID=u;Password=p;"
             "Data Source=my dsn", "odbc", "DSN=my dsn;UID=u;PWD=p;"},
      // An empty login leaves the data source's own.
      {none, "Provider=MSDASQL.1;User ID=;Password=;Data Source=d", "odbc", "DSN=d;"},
      {none, "Provider=SQLOLEDB.1;Password=p;Persist Security Info=True;User ID=u;"
             "Initial Catalog=db;Data Source=srv", "sqlserver",
       "DRIVER={FreeTDS};Server=srv;Database=db;UID=u;PWD=p;ClientCharset=UTF-8;"},
      {ini, "Provider=OraOLEDB.Oracle.1;Password=p;Persist Security Info=True;User ID=u;"
            "Data Source=orcl", "oracle", "DRIVER={Oracle in OraClient};DBQ=orcl;UID=u;PWD=p;"},
      {ini, "Provider=IBMDADB2.DB2COPY1;Persist Security Info=False;User ID=u;Password=p;"
            "Location=db2host:50001;Data Source=SAMPLE", "db2",
       "DRIVER={IBM DB2 ODBC DRIVER};Database=SAMPLE;Hostname=db2host;Port=50001;"
       "Protocol=TCPIP;UID=u;PWD=p;"},
      {ini, "Provider=IBMDADB2.DB2COPY1;Location=h;Data Source=S", "db2",
       "DRIVER={IBM DB2 ODBC DRIVER};Database=S;Hostname=h;Protocol=TCPIP;"},
      // providers.ini chooses the driver and overrides attributes; an unquoted
      // ";" ends the password, as the system has always read it.
      {ini, "Provider=SQLOLEDB.1;Password=a;b{c}d;Persist Security Info=True;User ID=u;"
            "Initial Catalog=db;Data Source=srv", "sqlserver",
       "DRIVER={PostgreSQL Unicode};Server=127.0.0.1;Database=db;UID=u;PWD=a;Port=5432;"},
      {ini, "Provider=SQLOLEDB.1;Password=\"a;b{c}d\";User ID=u;Initial Catalog=db;"
            "Data Source=srv", "sqlserver",
       "DRIVER={PostgreSQL Unicode};Server=127.0.0.1;Database=db;UID=u;PWD={a;b{c}}d};Port=5432;"},
      {ini, "Provider=MSDASQL.1;User ID=u;Password=p;Data Source=d", "odbc",
       "DSN=d;UID=u;PWD=p;BoolsAsChar=0;"},
      {ini, "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=a.mdb", "access",
       "DRIVER={MDB {Tools}}};DBQ=a.mdb;ReadOnly=1;"},
  };
  // clang-format on
  for (const TCase& c : cases) {
    const TDbRoute r = RouteConnectionString(c.ConnectionString, c.Settings);
    EXPECT_EQ(r.DatabaseType, c.Type) << c.ConnectionString;
    EXPECT_EQ(r.Backend, *c.Odbc ? TDbBackend::Odbc : TDbBackend::SQLite) << c.ConnectionString;
    EXPECT_EQ(r.OdbcConnectionString, c.Odbc) << c.ConnectionString;
  }
  EXPECT_EQ(RouteConnectionString(cases[0].ConnectionString, none).FilePath,
            "/opt/kelvor/bin/../data/a.db");
  EXPECT_EQ(RouteConnectionString(cases[5].ConnectionString, none).Description.find("p;"),
            std::string::npos);  // never the password
}

TEST(RouteTest, MissingPiecesFailWithAReadableMessage) {
  TProviderSettings none;
  auto message = [&](const std::string& cs) {
    try {
      RouteConnectionString(cs, none);
    } catch (const TDbError& e) {
      return std::string(e.what());
    }
    return std::string("<no error>");
  };
  EXPECT_NE(message("").find("names no provider"), std::string::npos);
  EXPECT_NE(message("Password=x;Data Source=y").find("names no provider"), std::string::npos);
  EXPECT_NE(message("Provider=Foo.1;Data Source=y").find("unknown provider \"Foo.1\""),
            std::string::npos);
  EXPECT_NE(message("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=  ").find("Data Source"),
            std::string::npos);
  EXPECT_NE(message("Provider=OraOLEDB.Oracle.1;Data Source=orcl").find("[oracle]"),
            std::string::npos);
  EXPECT_NE(message("Provider=IBMDADB2.DB2COPY1;Data Source=S").find("[db2]"), std::string::npos);
}

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

TEST(ValueTextTest, SqliteDateTextsAreReadInEveryFormSqliteTakes) {
  const std::pair<const char*, const char*> good[] = {
      {"2024-05-01", "2024-05-01 00:00:00"},
      {"2024-05-01 10:20", "2024-05-01 10:20:00"},
      {"2024-05-01 10:20:30", "2024-05-01 10:20:30"},
      {"2024-05-01 10:20:30.789", "2024-05-01 10:20:30"},
      {" 2024-05-01T10:20:30 ", "2024-05-01 10:20:30"},
      {"2024-05-01  10:20", "2024-05-01 10:20:00"},
      {"2024-05-01T10:20:30Z", "2024-05-01 10:20:30"},
      {"2024-05-01 10:20:30 z", "2024-05-01 10:20:30"},
      // A zone is taken away as SQLite's own functions do: the time is UTC.
      {"2024-05-01 10:20:30+02:00", "2024-05-01 08:20:30"},
      {"2024-05-01 01:00 +02:30", "2024-04-30 22:30:00"},
      {"2024-12-31T23:30:00.5-01:00", "2025-01-01 00:30:00"},
      {"10:20", "1899-12-30 10:20:00"},
      {"10:20:30.5", "1899-12-30 10:20:30"},
      {"00:30+01:00", "1899-12-29 23:30:00"},
  };
  for (auto [text, want] : good) {
    TDateTime t;
    ASSERT_TRUE(dbtext::ParseSqliteDateTime(text, t)) << text;
    EXPECT_EQ(FormatDateTime(t), want) << text;
  }
  for (const char* bad :
       {"", "not a date", "2024-5-1", "2024-02-30", "2024-13-01", "2024-05-01Z", "2024-05-01 10",
        "2024-05-01 10:20:3", "2024-05-01 24:00", "10:61", "2024-05-01 10:20+0200",
        "2024-05-01 10:20+15:00", "2024-05-01 10:20:30.", "2024-05-01 10:20:30 x", "1714558830"}) {
    TDateTime t;
    EXPECT_FALSE(dbtext::ParseSqliteDateTime(bad, t)) << bad;
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
