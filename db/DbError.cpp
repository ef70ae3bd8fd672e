#include "db/DbError.h"

#include <utility>

namespace kelvor {

namespace {
std::string JoinMessage(const std::string& Driver, const std::string& Database,
                        const std::string& State) {
  std::string m = Driver;
  if (!Database.empty()) {
    if (!m.empty()) m += ": ";
    m += Database;
  }
  if (!State.empty()) m += " [SQLSTATE " + State + "]";
  return m;
}
}  // namespace

TDbError::TDbError(std::string DriverText, std::string DatabaseText, std::string SqlState,
                   int NativeCode)
    : std::runtime_error(JoinMessage(DriverText, DatabaseText, SqlState)),
      FDriverText(std::move(DriverText)),
      FDatabaseText(std::move(DatabaseText)),
      FSqlState(std::move(SqlState)),
      FNativeCode(NativeCode) {}

}  // namespace kelvor
