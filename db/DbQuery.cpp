#include "db/DbQuery.h"

#include <cstring>

#include "db/DbBackend.h"
#include "db/DbConnection.h"
#include "db/DbError.h"
#include "db/SqlParams.h"
#include "platform/Text.h"

namespace kelvor {

namespace {
// Enough for the engine's alternating parameterised UPDATE and INSERT texts.
constexpr size_t kKeptStatements = 4;
}  // namespace

void TDbField::SaveToBytes(std::vector<uint8_t>& Stream) const {
  Stream.assign(reinterpret_cast<const uint8_t*>(FValue.data()),
                reinterpret_cast<const uint8_t*>(FValue.data()) + FValue.size());
}

void TDbParam::LoadFromBytes(const void* Data, size_t Length, TFieldType Type) {
  // No bytes may come without an address at all.
  if (Length == 0)
    FValue.clear();
  else
    FValue.assign(static_cast<const char*>(Data), Length);
  FDataType = Type;
  FIsNull = false;
  FFromBytes = true;
}

TDbQuery::TDbQuery(TDbConnection& Connection) : FConnection(&Connection) {
  FConnection->Attach(this);
}

TDbQuery::~TDbQuery() {
  ReleaseStatements();
  if (FConnection) FConnection->Detach(this);
}

TDbConnection& TDbQuery::Connection() const {
  if (!FConnection) throw TDbError("Unable to use the query", "its connection no longer exists");
  return *FConnection;
}

void TDbQuery::SetSQL(std::string_view Text) {
  Close();
  if (Text == FSQL && !FParamsCleared) {
    // The engine sets the same parameterised text once per record: keep the
    // parsed placeholders, start every parameter afresh.
    for (TDbParam& p : FParams)
      p.Reset();
    return;
  }
  FSQL.assign(Text.data(), Text.size());
  ParseText();
}

void TDbQuery::SetParamCheck(bool On) {
  if (On == FParamCheck) return;
  Close();
  FParamCheck = On;
  ParseText();
}

void TDbQuery::ParseText() {
  FParamsCleared = false;
  FParams.clear();
  if (!FParamCheck) {
    FSendText = FSQL;
    FParamNames.clear();
    return;
  }
  TParsedSql parsed = ParseSqlParams(FSQL);
  FSendText = std::move(parsed.Text);
  FParamNames = std::move(parsed.Names);
  FParams.reserve(FParamNames.size());
  for (const std::string& name : FParamNames)
    FParams.emplace_back(name);
}

TDbParam& TDbQuery::Param(int Index) {
  if (Index < 0 || Index >= ParamCount())
    throw TDbError("Parameter index out of range", std::to_string(Index));
  return FParams[static_cast<size_t>(Index)];
}

TDbParam* TDbQuery::FindParam(std::string_view Name) {
  for (TDbParam& p : FParams)
    if (SameText(p.Name(), Name)) return &p;
  return nullptr;
}

TDbParam& TDbQuery::ParamByName(std::string_view Name) {
  TDbParam* p = FindParam(Name);
  if (!p) throw TDbError("Parameter not found", "no parameter named \"" + std::string(Name) + "\"");
  return *p;
}

void TDbQuery::ClearParams() {
  FParams.clear();
  FParamsCleared = true;
}

TDbStatement& TDbQuery::ObtainStatement() {
  TDbSession& session = Connection().Session();
  FConnection->CheckTransactionOpen();
  ++FUseCounter;
  if (!FPrepared) {
    FOneShot.reset();
    FOneShot = session.Prepare(FSendText, false);
    return *FOneShot;
  }
  for (TKept& k : FKept)
    if (k.Text == FSendText) {
      k.LastUse = FUseCounter;
      return *k.Statement;
    }
  std::unique_ptr<TDbStatement> st = session.Prepare(FSendText, true);
  if (FKept.size() >= kKeptStatements) {
    auto oldest = FKept.begin();
    for (auto it = FKept.begin(); it != FKept.end(); ++it)
      if (it->LastUse < oldest->LastUse) oldest = it;
    FKept.erase(oldest);
  }
  FKept.push_back(TKept{FSendText, std::move(st), FUseCounter});
  return *FKept.back().Statement;
}

void TDbQuery::NoteFailure() noexcept {
  if (FConnection) FConnection->NoteStatementFailure();
}

void TDbQuery::Open() {
  Close();
  try {
    TDbStatement& st = ObtainStatement();
    FRowsAffected = 0;
    if (!st.Execute(FParams, true)) {
      st.CloseResult();
      throw TDbError("Unable to open the query", "the statement returns no result set");
    }
    FCurrent = &st;
    st.Describe(FFields);
    FActive = true;
    FEof = !st.Fetch(FFields);
  } catch (const TDbError&) {
    NoteFailure();
    Close();
    throw;
  }
}

void TDbQuery::Close() {
  if (FCurrent) FCurrent->CloseResult();
  FCurrent = nullptr;
  FOneShot.reset();
  FActive = false;
  FEof = true;
  FMoved = false;
  FFields.clear();
}

void TDbQuery::Next() {
  if (!FActive) throw TDbError("Unable to move to the next row", "the query is not open");
  if (FEof) return;
  FMoved = true;
  try {
    FEof = !FCurrent->Fetch(FFields);
  } catch (const TDbError&) {
    NoteFailure();
    FEof = true;
    throw;
  }
}

void TDbQuery::First() {
  if (!FActive) throw TDbError("Unable to move to the first row", "the query is not open");
  if (FMoved) Open();
}

TDbField& TDbQuery::Field(int Index) {
  if (Index < 0 || Index >= FieldCount())
    throw TDbError("Field index out of range", std::to_string(Index));
  return FFields[static_cast<size_t>(Index)];
}

TDbField* TDbQuery::FindField(std::string_view Name) {
  for (TDbField& f : FFields)
    if (f.FieldName().size() == Name.size() && SameText(f.FieldName(), Name)) return &f;
  return nullptr;
}

TDbField& TDbQuery::FieldByName(std::string_view Name) {
  TDbField* f = FindField(Name);
  if (!f)
    throw TDbError("Field not found", "the result has no field \"" + std::string(Name) + "\"");
  return *f;
}

void TDbQuery::ExecSQL() {
  Run(FParams, 1);
}

void TDbQuery::ExecSQL(std::span<const TDbParam> Params) {
  Run(Params, 1);
}

void TDbQuery::ExecSQLRows(std::span<const TDbParam> Params, size_t Rows) {
  Run(Params, Rows);
}

void TDbQuery::Run(std::span<const TDbParam> Params, size_t Rows) {
  Close();
  FRowsAffected = 0;
  if (Rows == 0) return;
  try {
    TDbStatement& st = ObtainStatement();
    if (Rows == 1)
      st.Execute(Params, false);
    else
      st.ExecuteRows(Params, Rows);
    FRowsAffected = st.RowsAffected();
  } catch (const TDbError&) {
    NoteFailure();
    FOneShot.reset();
    throw;
  }
  FOneShot.reset();
}

void TDbQuery::ReleaseStatements() noexcept {
  Close();
  FKept.clear();
}

void TDbQuery::Detached() noexcept {
  ReleaseStatements();
  FConnection = nullptr;
}

}  // namespace kelvor
