// What the executor decides without a database: connection strings, the
// access type's path rule, cutting scripts, $now$, and batches given nothing.
#include <gtest/gtest.h>

#include "engine/uKelvorOperation.h"
#include "services/uLogService.h"
#include "support/TestSupport.h"

namespace kelvor {
namespace {

using Handler = TKelvorOperationHandler;

TSyncDataSource Side(int Type, const std::string& Name, const std::string& User,
                     const std::string& Pwd, const std::string& Server) {
  TSyncDataSource s;
  s.DbType = Type;
  s.DbName = Name;
  s.DbUser = User;
  s.DbPwd = Pwd;
  s.DbServer = Server;
  return s;
}

TEST(ConnectionStringTest, EveryTypeJoinsItsPiecesInOrder) {
  test::ProgramFolderScope folder("/opt/kelvor/bin/");
  EXPECT_EQ(Handler::ConnectionStringFor(Side(0, "orcl", "scott", "tiger", "ignored")),
            "Provider=OraOLEDB.Oracle.1;Password=tiger;Persist Security Info=True;User ID=scott;"
            "Data Source=orcl");
  EXPECT_EQ(Handler::ConnectionStringFor(Side(1, "sales", "sa", "pw", "db1\\inst")),
            "Provider=SQLOLEDB.1;Password=pw;Persist Security Info=True;User ID=sa;"
            "Initial Catalog=sales;Data Source=db1\\inst");
  EXPECT_EQ(Handler::ConnectionStringFor(Side(2, "/data/a.db", "u", "p", "s")),
            "Provider=Microsoft.Jet.OLEDB.4.0;User ID=Admin;Persist Security Info=False;"
            "Data Source=/data/a.db");
  EXPECT_EQ(Handler::ConnectionStringFor(Side(3, "dsn", "u", "p", "s")),
            "Provider=MSDASQL.1;Persist Security Info=False;User ID=u;Password=p;Data Source=dsn");
  EXPECT_EQ(Handler::ConnectionStringFor(Side(4, "sample", "db2inst1", "p", "host:50000")),
            "Provider=IBMDADB2.DB2COPY1;Persist Security Info=False;User ID=db2inst1;Password=p;"
            "Location=host:50000;Data Source=sample");
  EXPECT_EQ(Handler::ConnectionStringFor(Side(5, "x", "u", "p", "s")), "");
  EXPECT_EQ(Handler::ConnectionStringFor(Side(-1, "x", "u", "p", "s")), "");
  // The dialog's test of an Access file passes user and password.
  EXPECT_EQ(Handler::DataModuleConnectionStringFor(Side(2, "a.db", "u", "p", "s")),
            "Provider=Microsoft.Jet.OLEDB.4.0;Password=p;Persist Security Info=True;User ID=u;"
            "Data Source=a.db");
  EXPECT_EQ(Handler::DataModuleConnectionStringFor(Side(3, "dsn", "u", "p", "s")),
            Handler::ConnectionStringFor(Side(3, "dsn", "u", "p", "s")));
}

TEST(ConnectionStringTest, OnlyValuesHoldingSemicolonsOrDoubleQuotesAreQuoted) {
  EXPECT_EQ(Handler::ConnectionStringFor(Side(3, "dsn", "a b", "p;w\"d", "")),
            "Provider=MSDASQL.1;Persist Security Info=False;User ID=a b;Password=\"p;w\"\"d\";"
            "Data Source=dsn");
  // Every other value goes byte for byte, blanks, braces and quotes included.
  EXPECT_EQ(Handler::ConnectionStringFor(Side(0, " svc ", "x'y", "{p}=", "")),
            "Provider=OraOLEDB.Oracle.1;Password={p}=;Persist Security Info=True;User ID=x'y;"
            "Data Source= svc ");
  EXPECT_EQ(Handler::ConnectionStringFor(Side(1, "db", "u", "\"", "srv;x")),
            "Provider=SQLOLEDB.1;Password=\"\"\"\";Persist Security Info=True;User ID=u;"
            "Initial Catalog=db;Data Source=\"srv;x\"");
}

TEST(ConnectionStringTest, AccessPathStartsAtTheProgramFolderOnlyAfterTwoDots) {
  test::ProgramFolderScope folder("/opt/kelvor/bin/");
  EXPECT_EQ(Handler::AccessPath("  ..\\db\\x.mdb"), "/opt/kelvor/bin/../db/x.mdb");
  EXPECT_EQ(Handler::AccessPath("..\\db\\x.mdb  "), "/opt/kelvor/bin/../db/x.mdb");
  EXPECT_EQ(Handler::AccessPath("db\\x.mdb"), "db/x.mdb");
  EXPECT_EQ(Handler::AccessPath("  db\\x.mdb"), "  db/x.mdb");  // untrimmed
  EXPECT_EQ(Handler::AccessPath("./x.db"), "./x.db");
  EXPECT_EQ(Handler::AccessPath(".x.db"), ".x.db");
  {
    test::ProgramFolderScope bare("/opt/kelvor/bin");
    EXPECT_EQ(Handler::AccessPath("..\\x.db"), "/opt/kelvor/bin/../x.db");
  }
  EXPECT_EQ(Handler::ConnectionStringFor(Side(2, " ..\\d;b\\x.db", "", "", "")),
            "Provider=Microsoft.Jet.OLEDB.4.0;User ID=Admin;Persist Security Info=False;"
            "Data Source=\"/opt/kelvor/bin/../d;b/x.db\"");
}

std::vector<std::string> Statements(const std::vector<std::string>& Lines) {
  return SplitLines(Handler::SplitScript(Lines));
}

TEST(SplitScriptTest, WorkedExample) {
  EXPECT_EQ(
      Handler::SplitScript({"-- refresh flags", "UPDATE TEST SET NAME = 'NAME'", "GO",
                            "INSERT TEST(NAME) ", "VALUES('NAME')", "go", "DELETE FROM TEST2"}),
      "UPDATE TEST SET NAME = 'NAME'\r\nINSERT TEST(NAME) VALUES('NAME')\r\n");
}

TEST(SplitScriptTest, SeparatorsAndComments) {
  // Any line whose trimmed, lower-cased text begins with "go" separates.
  EXPECT_EQ(Statements({"a", "  Go  ", "b", "GOTO label", "c", "go;", "d", "--go", "e", "GO"}),
            (std::vector<std::string>{"a", "b", "c", "de"}));
  EXPECT_EQ(Handler::SplitScript({"go", "GO"}), "\r\n\r\n");
  EXPECT_EQ(Handler::SplitScript({"select a", "from t", "go"}), "select afrom t\r\n");
  EXPECT_EQ(Handler::SplitScript({"select 1 ", "   ", "+ 1", "go"}), "select 1    + 1\r\n");
  EXPECT_EQ(Handler::SplitScript({"  -- comment", "x", "go"}), "x\r\n");
  EXPECT_EQ(Handler::SplitScript({}), "");
  EXPECT_EQ(Handler::SplitScript({"select 1"}), "");
  // Tabs around a separator or a comment mark count as blanks.
  EXPECT_EQ(Statements({"a", "\tGO\t", "\t-- note", "b", "\tgo"}),
            (std::vector<std::string>{"a", "b"}));
}

TEST(NowMacroTest, EveryNowInAnyCaseBecomesMidnightOfToday) {
  test::FixedClock clock(test::At(2024, 5, 1, 23, 59, 59));
  EXPECT_EQ(Handler::ExpandNowMacro("where a >= $now$ and b < $NOW$ or c = $Now$"),
            "where a >= '2024-05-01 00:00:00' and b < '2024-05-01 00:00:00' or "
            "c = '2024-05-01 00:00:00'");
  EXPECT_EQ(Handler::ExpandNowMacro("$now"), "$now");
  EXPECT_EQ(Handler::ExpandNowMacro("$$now$$"), "$'2024-05-01 00:00:00'$");
}

TEST(StatementForLogTest, LongTextsAreCutAt4KBOnACharacterBoundary) {
  const std::string x4096(4096, 'x');
  EXPECT_EQ(StatementForLog("select 1"), "select 1");
  EXPECT_EQ(StatementForLog(x4096), x4096);
  EXPECT_EQ(StatementForLog(x4096 + "y"), x4096 + "... (cut; the statement has 4097 bytes)");
  // "中" is three bytes: after two bytes of "xx" one starts at 4094 and
  // would be cut in two at 4096, so the cut comes before it.
  std::string chinese = "xx";
  while (chinese.size() < 5000)
    chinese += "中";
  EXPECT_EQ(StatementForLog(chinese), chinese.substr(0, 4094) + "... (cut; the statement has " +
                                          std::to_string(chinese.size()) + " bytes)");
}

TEST(EmptyBatchTest, NothingToSendNeedsNoConnection) {
  test::TempDir tmp;
  test::CurrentDirectoryScope cwd(tmp.Sub("bin", true));
  TKelvorOperationHandler executor("empty");
  EXPECT_FALSE(executor.RunDestinationBatch({}));
  EXPECT_FALSE(executor.RunSourceBatch({}));
  EXPECT_EQ(executor.RunUpsertBatch({}), 0);
  TObuRec none;
  EXPECT_TRUE(executor.ApplyRecordsWithParameters(none, opInsert));
  EXPECT_FALSE(executor.MustStop());  // no task
  StopLogService();
}

}  // namespace
}  // namespace kelvor
