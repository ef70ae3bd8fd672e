#include "db/DbConnection.h"

#include <algorithm>

#include "db/DbBackend.h"
#include "db/DbError.h"
#include "db/DbQuery.h"
#include "platform/Paths.h"
#include "platform/Text.h"

namespace kelvor {

TDbConnection::TDbConnection() = default;

TDbConnection::~TDbConnection() {
  Close();
  for (TDbQuery* q : FQueries)
    q->Detached();
}

void TDbConnection::Open() {
  Close();
  TDbRoute route = RouteConnectionString(FConnectionString, TProviderSettings::LoadDefault());
  // Checked here for both file routes: SQLite would create a missing file and
  // the MDB Tools driver reports it only on its standard error.
  if (route.DatabaseType == "access" && !FileExists(route.FilePath))
    throw TDbError("Unable to open " + route.Description, "the file does not exist");
  TDbOpenOptions options;
  options.LoginTimeoutSeconds = FLoginTimeout;
  options.BusyTimeoutMs = FBusyTimeout;
  options.LockWait = FLockWaitHook;
  FSession = route.Backend == TDbBackend::SQLite ? OpenSqliteSession(route, options)
                                                 : OpenOdbcSession(route, options);
  FRoute = std::move(route);
}

void TDbConnection::Close() noexcept {
  if (!FSession) return;
  // Statements belong to the session and must go first.
  for (TDbQuery* q : FQueries)
    q->ReleaseStatements();
  FInTransaction = false;
  FTransactionFailed = false;
  FSavepointSet = false;
  FSession.reset();  // rolls back an open transaction
}

const std::string& TDbConnection::DbmsName() const {
  static const std::string kNone;
  return FSession ? FSession->DbmsName() : kNone;
}

bool TDbConnection::TextHoldsNul() const {
  return !FSession || FSession->TextHoldsNul();
}

bool TDbConnection::BackslashEscapes() const {
  return FSession && FSession->BackslashEscapes();
}

TDbSession& TDbConnection::Session() {
  if (!FSession) throw TDbError("Unable to execute statement", "the connection is not open");
  return *FSession;
}

void TDbConnection::BeginTrans() {
  if (!FSession) throw TDbError("Unable to begin a transaction", "the connection is not open");
  if (FInTransaction)
    throw TDbError("Unable to begin a transaction", "a transaction is already active");
  FSession->Begin();
  FInTransaction = true;
  FTransactionFailed = false;
  FSavepointSet = false;
}

namespace {
constexpr const char* kEndedByDatabase = "the database ended the transaction by itself";
}  // namespace

void TDbConnection::CheckTransactionOpen() {
  if (!FInTransaction || !FSession) return;
  if (FTransactionFailed)
    throw TDbError("Statement not sent",
                   "a statement failed inside the transaction; nothing more is sent in it");
  if (!FSession->TransactionOpen())
    throw TDbError("Statement not sent",
                   std::string(kEndedByDatabase) + "; nothing more is sent in it");
}

bool TDbConnection::TransactionEndedByDatabase() const {
  return FInTransaction && FSession && !FSession->TransactionOpen();
}

void TDbConnection::CommitTrans() {
  if (!FSession || !FInTransaction)
    throw TDbError("Unable to commit the transaction", "no transaction is active");
  FInTransaction = false;
  FSavepointSet = false;
  const bool failed = FTransactionFailed;
  const bool ended = !FSession->TransactionOpen();
  FTransactionFailed = false;
  if (failed || ended) {
    try {
      FSession->Rollback();
    } catch (const TDbError&) {
      // The commit is refused either way; the reason below is the one to report.
    }
    throw TDbError("Unable to commit the transaction",
                   ended ? std::string(kEndedByDatabase) + "; nothing more was committed"
                         : "a statement failed inside the transaction; it was rolled back");
  }
  try {
    FSession->Commit();
  } catch (const TDbError&) {
    try {
      FSession->Rollback();
    } catch (const TDbError&) {
    }
    throw;
  }
}

void TDbConnection::RollbackTrans() {
  if (!FSession || !FInTransaction) return;
  FInTransaction = false;
  FTransactionFailed = false;
  FSavepointSet = false;
  FSession->Rollback();
}

namespace {
// The layer's one savepoint; no statement of a task names it.
constexpr const char* kSavepointName = "kelvor_batch";
}  // namespace

bool TDbConnection::HasSavepoints() const {
  const std::string& name = DbmsName();
  return SameText(name, "PostgreSQL") || SameText(name, "SQLite") || IsMySqlFamily(name);
}

void TDbConnection::RunControl(const char* Sql, const char* What) {
  try {
    std::unique_ptr<TDbStatement> st = Session().Prepare(Sql, false);
    st->Execute({}, false);
  } catch (const TDbError& e) {
    NoteStatementFailure();
    throw TDbError(What, e.DatabaseText().empty() ? e.DriverText() : e.DatabaseText(), e.SqlState(),
                   e.NativeCode());
  }
}

void TDbConnection::SetSavepoint() {
  constexpr const char* what = "Unable to set a savepoint";
  if (!FSession || !FInTransaction) throw TDbError(what, "no transaction is active");
  if (!HasSavepoints())
    throw TDbError(what, "savepoints are not known for " + FSession->DbmsName());
  if (FSavepointSet) throw TDbError(what, "a savepoint is set already");
  CheckTransactionOpen();
  RunControl((std::string("SAVEPOINT ") + kSavepointName).c_str(), what);
  FSavepointSet = true;
}

void TDbConnection::ReleaseSavepoint() {
  constexpr const char* what = "Unable to release the savepoint";
  if (!FSession || !FInTransaction || !FSavepointSet) throw TDbError(what, "no savepoint is set");
  CheckTransactionOpen();
  RunControl((std::string("RELEASE SAVEPOINT ") + kSavepointName).c_str(), what);
  FSavepointSet = false;
}

void TDbConnection::RollbackToSavepoint() {
  constexpr const char* what = "Unable to roll back to the savepoint";
  if (!FSession || !FInTransaction || !FSavepointSet) throw TDbError(what, "no savepoint is set");
  if (!FSession->TransactionOpen())
    throw TDbError(what, std::string(kEndedByDatabase) + "; the savepoint went with it");
  RunControl((std::string("ROLLBACK TO SAVEPOINT ") + kSavepointName).c_str(), what);
  FTransactionFailed = false;
}

void TDbConnection::NoteStatementFailure() noexcept {
  if (FInTransaction) FTransactionFailed = true;
}

void TDbConnection::Attach(TDbQuery* Query) {
  FQueries.push_back(Query);
}

void TDbConnection::Detach(TDbQuery* Query) noexcept {
  FQueries.erase(std::remove(FQueries.begin(), FQueries.end(), Query), FQueries.end());
}

}  // namespace kelvor
