// The shared run cases between SQLite and the MariaDB server of
// scripts/with-mariadb in every direction, MariaDB reached as the odbc type.
#include "EngineHarness.h"

namespace kelvor::test {

std::vector<TRunConfig> RunConfigs() {
  return {{TDbSide::SQLite, TDbSide::MariaOdbc},
          {TDbSide::MariaOdbc, TDbSide::SQLite},
          {TDbSide::MariaOdbc, TDbSide::MariaOdbc}};
}

}  // namespace kelvor::test
