// Parsing the system's connection strings, quoting, providers.ini and the
// routing of each provider.
#include <gtest/gtest.h>

#include "db/ConnectionString.h"
#include "db/DbError.h"

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

}  // namespace
}  // namespace kelvor
