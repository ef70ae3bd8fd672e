// The MariaDB server of scripts/with-mariadb killed (SIGKILL, as a crash
// would end it) while a connection holds a transaction open, and started
// again. It stops the server every other test uses, so CTest runs it alone.
#include "DbTestSupport.h"

namespace kelvor::test {
namespace {

TEST(MariadbKillTest, ServerKilledInATransactionGivesAnErrorAndNothingApplied) {
  SKIP_WITHOUT_MARIADB();
  if (MariaEnv("KELVOR_MARIADB_CTL").empty()) GTEST_SKIP() << "KELVOR_MARIADB_CTL is not set";
  TDbTestHome home;
  TTestDatabase db(TDbSide::MariaOdbc, home, "");
  const std::string t = db.CreateTable("id INT PRIMARY KEY, v INT");
  db.Exec("insert into " + t + " values (1, 0)");

  TDbConnection victim;
  victim.SetConnectionString(db.ConnectionString());
  ASSERT_DB_OK(victim.Open());
  ASSERT_DB_OK(victim.BeginTrans());
  ASSERT_DB_OK(ExecOn(victim, "insert into " + t + " values (2, 0), (3, 0)"));
  ASSERT_DB_OK(ExecOn(victim, "update " + t + " set v = 9"));

  TMariaRestartAtEnd restart;
  restart.Killed = true;
  ASSERT_TRUE(MariaServerCtl("kill"));
  ExpectDeadConnectionFailsItsTransaction(victim, "insert into " + t + " values (4, 0)");

  restart.Killed = false;
  ASSERT_TRUE(MariaServerCtl("start"));
  // The test's own connection died with the server too.
  db.Conn().Close();
  ASSERT_DB_OK(db.Conn().Open());
  EXPECT_EQ(db.Rows("select id, v from " + t + " order by id"), std::vector<std::string>{"1|0"})
      << "crash recovery keeps only what was committed";
  ASSERT_DB_OK(victim.Open());
  EXPECT_EQ(ScalarOn(victim, "select count(*) from " + t), "1");
}

}  // namespace
}  // namespace kelvor::test
