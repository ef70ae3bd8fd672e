#include "engine/udatamodule.h"

#include <exception>

#include "db/DbConnection.h"
#include "db/DbQuery.h"
#include "engine/uKelvorOperation.h"
#include "services/uLogService.h"

namespace kelvor {

struct TgDataModule::TImpl {
  TDbConnection ADOConnection;
  TDbQuery ADOQuery{ADOConnection};
  TImpl() { ADOQuery.SetParamCheck(false); }
};

TgDataModule::TgDataModule() : FImpl(std::make_unique<TImpl>()) {}
TgDataModule::~TgDataModule() = default;

bool TgDataModule::ConnectDatabase(const std::string& DbName, const std::string& DbUser,
                                   const std::string& DbPwd, const std::string& DbServer,
                                   int DbType) {
  TSyncDataSource settings;
  settings.DbName = DbName;
  settings.DbUser = DbUser;
  settings.DbPwd = DbPwd;
  settings.DbServer = DbServer;
  settings.DbType = DbType;
  try {
    const std::string text = TKelvorOperationHandler::DataModuleConnectionStringFor(settings);
    FImpl->ADOQuery.Close();
    FImpl->ADOConnection.Close();
    FImpl->ADOConnection.SetConnectionString(text);
    FImpl->ADOConnection.Open();
    return true;
  } catch (const std::exception& e) {
    WriteLog(std::string("connect to database error ,info: ") + e.what());
    return false;
  }
}

bool TgDataModule::OpenQuery(const std::string& Sql) {
  try {
    FImpl->ADOQuery.Close();
    FImpl->ADOQuery.SetSQL(Sql);
    FImpl->ADOQuery.Open();
    return true;
  } catch (...) {
    return false;
  }
}

int TgDataModule::FieldCount() const {
  return FImpl->ADOQuery.FieldCount();
}

// An index out of range answers with no entry: the dialog must never see
// the query's error.
std::string TgDataModule::FieldName(int Index) const {
  if (Index < 0 || Index >= FieldCount()) return std::string();
  return FImpl->ADOQuery.Field(Index).FieldName();
}

int TgDataModule::FieldSize(int Index) const {
  if (Index < 0 || Index >= FieldCount()) return 0;
  return static_cast<int>(FImpl->ADOQuery.Field(Index).Size());
}

}  // namespace kelvor
