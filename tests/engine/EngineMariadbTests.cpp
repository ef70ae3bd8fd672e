// The shared run cases between SQLite and the MariaDB server of
// scripts/with-mariadb in every direction, MariaDB reached as the odbc type
// and, for the literal statement path, as the sqlserver type routed to its
// driver. (A server killed in the middle of a run is in
// EngineMariadbKillTest.cpp.)
#include "EngineHarness.h"

namespace kelvor::test {

std::vector<TRunConfig> RunConfigs() {
  return {{TDbSide::SQLite, TDbSide::MariaOdbc},
          {TDbSide::SQLite, TDbSide::MariaLiteral},
          {TDbSide::MariaOdbc, TDbSide::SQLite},
          {TDbSide::MariaOdbc, TDbSide::MariaOdbc},
          {TDbSide::MariaOdbc, TDbSide::MariaLiteral}};
}

}  // namespace kelvor::test
