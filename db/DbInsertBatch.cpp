#include "db/DbInsertBatch.h"

#include <algorithm>
#include <span>

#include "db/ConnectionString.h"
#include "db/DbConnection.h"
#include "db/DbError.h"
#include "db/SqlParams.h"
#include "platform/Text.h"

namespace kelvor {

TDbInsertBatch::TDbInsertBatch(TDbConnection& Connection) : FQuery(Connection) {
  FQuery.SetPrepared(true);
}

void TDbInsertBatch::SetStatement(std::string_view Head, std::string_view RowGroup) {
  const TDbConnection& connection = FQuery.Connection();
  if (!connection.Connected())
    throw TDbError("Unable to prepare the insert", "the connection is not open");
  FHead.assign(Head);
  FGroup.assign(RowGroup);
  FRowStatement = FHead + FGroup;
  FNames = ParseSqlParams(FGroup).Names;
  if (FNames.empty())
    throw TDbError("Unable to prepare the insert", "the row holds no placeholder: " + FGroup);
  FRows.clear();
  FRowCount = 0;
  FRowsAffected = 0;
  const std::string& dbms = connection.DbmsName();
  FInProcess = connection.Route().Backend == TDbBackend::SQLite;
  if (SameText(TrimBlanks(dbms), "PostgreSQL") || IsMySqlFamily(dbms) || FInProcess)
    FForm = TForm::MultiRowValues;
  else
    FForm = TForm::OneByOne;
  const size_t most = FInProcess ? kSqliteParameters : kMultiRowParameters;
  FFullRows = std::clamp<size_t>(most / FNames.size(), 1, kMultiRowRows);
  FFullText = MultiRowStatement(FFullRows);
}

std::string TDbInsertBatch::MultiRowStatement(size_t Rows) const {
  std::string text;
  text.reserve(FHead.size() + Rows * (FGroup.size() + 1));
  text += FHead;
  for (size_t i = 0; i < Rows; ++i) {
    if (i > 0) text += ',';
    text += FGroup;
  }
  return text;
}

size_t TDbInsertBatch::RowsWithin(size_t First, size_t Most) const {
  // At least one row, however long.
  size_t k = 1, bytes = RowBytes(First, 1);
  while (k < Most) {
    const size_t next = RowBytes(First + k, 1);
    if (bytes + next > kStatementBytes) break;
    bytes += next;
    ++k;
  }
  return k;
}

TDbParam* TDbInsertBatch::AddRow() {
  const size_t n = FNames.size();
  const size_t first = FRowCount * n;
  if (FRows.size() < first + n) {
    FRows.reserve(std::max(first + n, FRows.size() * 2));
    for (size_t i = FRows.size(); i < first + n; ++i)
      FRows.emplace_back(FNames[i % n]);
  } else {
    for (size_t i = first; i < first + n; ++i) {
      TDbParam& p = FRows[i];
      p.Clear();
      p.SetDataType(ftUnknown);
      p.SetSize(0);
    }
  }
  ++FRowCount;
  return &FRows[first];
}

size_t TDbInsertBatch::RowBytes(size_t First, size_t Count) const {
  const size_t n = FNames.size();
  size_t bytes = 0;
  for (size_t i = First * n; i < (First + Count) * n; ++i)
    bytes += FRows[i].Value().size();
  return bytes;
}

bool TDbInsertBatch::Full() {
  if (FRowCount >= RowsPerRoundTrip()) return true;
  FBytesCounted += RowBytes(FRowsCounted, FRowCount - FRowsCounted);
  FRowsCounted = FRowCount;
  return FBytesCounted >= kStatementBytes;
}

size_t TDbInsertBatch::RowsPerRoundTrip() const {
  switch (FForm) {
    case TForm::MultiRowValues:
      return FFullRows;
    case TForm::ParameterArrays:
      return kArrayRows;
    case TForm::OneByOne:
      break;
  }
  return kOneByOneRows;
}

void TDbInsertBatch::Flush() {
  const size_t rows = FRowCount;
  const size_t n = FNames.size();
  FRowCount = 0;
  FRowsCounted = 0;
  FBytesCounted = 0;
  FRowsAffected = 0;
  if (rows == 0) return;
  const std::span<const TDbParam> all(FRows.data(), rows * n);
  switch (FForm) {
    case TForm::OneByOne:
      FQuery.SetSQL(FRowStatement);
      if (FInProcess) {
        // SQLite runs rows of parameters one by one itself, each a statement
        // of its own as the loop below would make it.
        if (FSendHook)
          for (size_t r = 0; r < rows; ++r)
            FSendHook(FRowStatement, all.subspan(r * n, n));
        FQuery.ExecSQLRows(all, rows);
        FRowsAffected = FQuery.RowsAffected();
        return;
      }
      for (size_t r = 0; r < rows; ++r) {
        if (FSendHook) FSendHook(FRowStatement, all.subspan(r * n, n));
        FQuery.ExecSQL(all.subspan(r * n, n));
        FRowsAffected += FQuery.RowsAffected();
      }
      return;
    case TForm::ParameterArrays:
      FQuery.SetSQL(FRowStatement);
      for (size_t r = 0, k = 0; r < rows; r += k) {
        k = RowsWithin(r, std::min(kArrayRows, rows - r));
        if (FSendHook) FSendHook(FRowStatement, all.subspan(r * n, k * n));
        FQuery.ExecSQLRows(all.subspan(r * n, k * n), k);
        FRowsAffected += FQuery.RowsAffected();
      }
      return;
    case TForm::MultiRowValues:
      for (size_t r = 0, k = 0; r < rows; r += k) {
        k = RowsWithin(r, std::min(FFullRows, rows - r));
        if (k == FFullRows)
          FQuery.SetSQL(FFullText);
        else
          FQuery.SetSQL(MultiRowStatement(k));
        if (FSendHook) FSendHook(FQuery.SQL(), all.subspan(r * n, k * n));
        FQuery.ExecSQL(all.subspan(r * n, k * n));
        FRowsAffected += FQuery.RowsAffected();
      }
      return;
  }
}

}  // namespace kelvor
