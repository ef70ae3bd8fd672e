// ODBC through the unixODBC C API, with the narrow ("A") calls: Kelvor's text
// is UTF-8 bytes, and the drivers in use (psqlodbc, FreeTDS with
// ClientCharset=UTF-8, MariaDB) pass such bytes through unchanged, which a
// conversion through UTF-16 in the driver manager would not guarantee for
// every driver and locale.
#include <odbcinst.h>
#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <mutex>
#include <span>

#include "db/DbBackend.h"
#include "db/DbError.h"
#include "db/DbValueText.h"
#include "platform/Text.h"

namespace kelvor {

namespace {

// The one place where ODBC diagnostics become a TDbError. All records of the
// handle are kept, joined with "; "; the SQLSTATE is the first record's.
TDbError OdbcError(SQLSMALLINT HandleType, SQLHANDLE Handle, std::string DriverText) {
  std::string text, state;
  std::vector<std::string> seen;  // some drivers repeat a record
  int native = 0;
  for (SQLSMALLINT i = 1;; ++i) {
    SQLCHAR st[6] = {0};
    SQLINTEGER nat = 0;
    SQLCHAR msg[2048];
    SQLSMALLINT len = 0;
    SQLRETURN rc = SQLGetDiagRec(HandleType, Handle, i, st, &nat, msg, sizeof msg, &len);
    if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) break;
    std::string m(reinterpret_cast<char*>(msg),
                  static_cast<size_t>(len < 0 ? 0 : std::min<int>(len, sizeof msg - 1)));
    // One line per error: drivers end lines inside their messages.
    for (char& c : m)
      if (c == '\n' || c == '\r') c = ' ';
    while (!m.empty() && m.back() == ' ')
      m.pop_back();
    if (state.empty()) {
      state = reinterpret_cast<char*>(st);
      native = static_cast<int>(nat);
    }
    if (!m.empty() && std::find(seen.begin(), seen.end(), m) == seen.end()) {
      if (!text.empty()) text += "; ";
      text += m;
      seen.push_back(std::move(m));
    }
    if (i >= 20) break;
  }
  if (text.empty()) text = "the driver gave no diagnostic";
  return TDbError(std::move(DriverText), std::move(text), std::move(state), native);
}

[[noreturn]] void ThrowOdbc(SQLSMALLINT HandleType, SQLHANDLE Handle, std::string DriverText) {
  throw OdbcError(HandleType, Handle, std::move(DriverText));
}

bool Ok(SQLRETURN Rc) {
  return Rc == SQL_SUCCESS || Rc == SQL_SUCCESS_WITH_INFO;
}

// How a column is read.
enum TFetchKind : int {
  fkText = 0,  // SQL_C_CHAR, as the driver renders it
  fkDecimal,   // SQL_C_CHAR, then made plain
  fkBinary,
  fkBit,
  fkReal,
  fkDouble,
  fkDate,
  fkTime,
  fkTimestamp,
};

TFieldType TypeFromSql(SQLSMALLINT T, int& Fetch) {
  Fetch = fkText;
  switch (T) {
    case SQL_CHAR:
    case SQL_WCHAR:
      return ftFixedChar;
    case SQL_VARCHAR:
      return ftString;
    case SQL_WVARCHAR:
      return ftWideString;
    case SQL_LONGVARCHAR:
    case SQL_WLONGVARCHAR:
      return ftMemo;
    case SQL_TINYINT:
    case SQL_SMALLINT:
      return ftSmallint;
    case SQL_INTEGER:
      return ftInteger;
    case SQL_BIGINT:
      return ftLargeint;
    case SQL_REAL:
      Fetch = fkReal;
      return ftFloat;
    case SQL_FLOAT:
    case SQL_DOUBLE:
      Fetch = fkDouble;
      return ftFloat;
    case SQL_DECIMAL:
    case SQL_NUMERIC:
      Fetch = fkDecimal;
      return ftBCD;
    case SQL_BIT:
      Fetch = fkBit;
      return ftBoolean;
    case SQL_TYPE_DATE:
    case SQL_DATE:
      Fetch = fkDate;
      return ftDate;
    case SQL_TYPE_TIME:
    case SQL_TIME:
      Fetch = fkTime;
      return ftTime;
    case SQL_TYPE_TIMESTAMP:
    case SQL_TIMESTAMP:
      Fetch = fkTimestamp;
      return ftDateTime;
    case SQL_BINARY:
      Fetch = fkBinary;
      return ftBytes;
    case SQL_VARBINARY:
      Fetch = fkBinary;
      return ftVarBytes;
    case SQL_LONGVARBINARY:
      Fetch = fkBinary;
      return ftBlob;
    case SQL_GUID:
      return ftGuid;
    default:
      return ftString;
  }
}

// The SQL type a parameter of this field type is declared with.
SQLSMALLINT SqlTypeOf(TFieldType T) {
  switch (T) {
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftAutoInc:
      return SQL_INTEGER;
    case ftLargeint:
      return SQL_BIGINT;
    case ftFloat:
    case ftCurrency:
      return SQL_DOUBLE;
    case ftBCD:
    case ftFMTBcd:
      return SQL_NUMERIC;
    case ftDate:
      return SQL_TYPE_DATE;
    case ftTime:
      return SQL_TYPE_TIME;
    case ftDateTime:
    case ftTimeStamp:
      return SQL_TYPE_TIMESTAMP;
    case ftBoolean:
      return SQL_BIT;
    default:
      return dbtext::IsBinaryType(T) ? SQL_VARBINARY : SQL_VARCHAR;
  }
}

constexpr size_t kLongData = 8000;  // above this, bind as a long type

// PostgreSQL's text types cannot hold a NUL byte, and psqlodbc cuts a value
// (or a statement text) short at one without a word.
bool TextHoldsNulOn(const std::string& DbmsName) {
  return !SameText(DbmsName, "PostgreSQL");
}

class TOdbcSession final : public TDbSession {
 public:
  TOdbcSession(SQLHENV Env, SQLHDBC Dbc, std::string DbmsName, bool BackslashEscapes)
      : FEnv(Env),
        FDbc(Dbc),
        FDbmsName(std::move(DbmsName)),
        FTextHoldsNul(TextHoldsNulOn(FDbmsName)),
        FBackslashEscapes(BackslashEscapes) {}
  ~TOdbcSession() override {
    if (FInTransaction) SQLEndTran(SQL_HANDLE_DBC, FDbc, SQL_ROLLBACK);
    SQLDisconnect(FDbc);
    SQLFreeHandle(SQL_HANDLE_DBC, FDbc);
    SQLFreeHandle(SQL_HANDLE_ENV, FEnv);
  }
  std::unique_ptr<TDbStatement> Prepare(const std::string& Sql, bool Persistent) override;
  void Begin() override {
    SQLRETURN rc = SQLSetConnectAttr(FDbc, SQL_ATTR_AUTOCOMMIT,
                                     reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0);
    if (!Ok(rc)) ThrowOdbc(SQL_HANDLE_DBC, FDbc, "Unable to begin a transaction");
    FInTransaction = true;
  }
  const std::string& DbmsName() const override { return FDbmsName; }
  void Commit() override { End(SQL_COMMIT, "Unable to commit the transaction"); }
  void Rollback() override { End(SQL_ROLLBACK, "Unable to roll back the transaction"); }
  // The driver does not tell when the server ended a transaction; the
  // connection goes by the failed statements it saw instead.
  bool TransactionOpen() const override { return FInTransaction; }
  bool TextHoldsNul() const override { return FTextHoldsNul; }
  bool BackslashEscapes() const override { return FBackslashEscapes; }

 private:
  void End(SQLSMALLINT How, const char* What) {
    SQLRETURN rc = SQLEndTran(SQL_HANDLE_DBC, FDbc, How);
    if (!Ok(rc)) {
      TDbError error = OdbcError(SQL_HANDLE_DBC, FDbc, What);
      if (How == SQL_COMMIT) SQLEndTran(SQL_HANDLE_DBC, FDbc, SQL_ROLLBACK);
      RestoreAutocommit();
      throw error;
    }
    RestoreAutocommit();
  }
  void RestoreAutocommit() noexcept {
    FInTransaction = false;
    SQLSetConnectAttr(FDbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON),
                      0);
  }
  SQLHENV FEnv;
  SQLHDBC FDbc;
  std::string FDbmsName;
  const bool FTextHoldsNul;
  const bool FBackslashEscapes;
  bool FInTransaction = false;
};

// How one value is declared to the driver: its C type, SQL type, column
// size and decimal digits. The rules are the same for a single row and for
// each row of an array of rows.
struct TValueDecl {
  SQLSMALLINT CType = SQL_C_CHAR;
  SQLSMALLINT SqlType = SQL_VARCHAR;
  SQLULEN Size = 1;
  SQLSMALLINT Digits = 0;
};

TValueDecl DeclareValue(const TDbParam& P, const TBindValue& V, bool TextHoldsNul) {
  TValueDecl d;
  d.SqlType = SqlTypeOf(P.DataType());
  switch (V.Kind) {
    case TBindKind::Null:
      // Declared with the size a value of its type would have: some
      // drivers check the size of a date or time even for a NULL.
      if (d.SqlType == SQL_TYPE_TIMESTAMP || d.SqlType == SQL_BIGINT) d.Size = 19;
      if (d.SqlType == SQL_NUMERIC) d.Size = 18;
      if (d.SqlType == SQL_TYPE_DATE || d.SqlType == SQL_INTEGER) d.Size = 10;
      if (d.SqlType == SQL_TYPE_TIME) d.Size = 8;
      if (d.SqlType == SQL_DOUBLE) d.Size = 15;
      break;
    case TBindKind::Integer:
      d.CType = SQL_C_SBIGINT;
      if (V.Integer > INT32_MAX || V.Integer < INT32_MIN) d.SqlType = SQL_BIGINT;
      d.Size = d.SqlType == SQL_BIGINT ? 19 : 10;
      break;
    case TBindKind::Float:
      d.CType = SQL_C_DOUBLE;
      d.SqlType = SQL_DOUBLE;
      d.Size = 15;
      break;
    case TBindKind::Decimal:
      d.SqlType = SQL_NUMERIC;
      d.Size = static_cast<SQLULEN>(V.Precision);
      d.Digits = static_cast<SQLSMALLINT>(V.Scale);
      break;
    case TBindKind::Date:
      d.CType = SQL_C_TYPE_DATE;
      d.SqlType = SQL_TYPE_DATE;
      d.Size = 10;
      break;
    case TBindKind::Time:
      d.CType = SQL_C_TYPE_TIME;
      d.SqlType = SQL_TYPE_TIME;
      d.Size = 8;
      break;
    case TBindKind::DateTime:
      d.CType = SQL_C_TYPE_TIMESTAMP;
      d.SqlType = SQL_TYPE_TIMESTAMP;
      d.Size = 19;
      break;
    case TBindKind::Boolean:
      d.CType = SQL_C_BIT;
      d.SqlType = SQL_BIT;
      break;
    case TBindKind::Bytes:
      d.CType = SQL_C_BINARY;
      d.SqlType = V.Data.size() > kLongData ? SQL_LONGVARBINARY : SQL_VARBINARY;
      d.Size = V.Data.empty() ? 1 : V.Data.size();
      break;
    case TBindKind::Text:
      if (!TextHoldsNul && V.Data.find('\0') != std::string_view::npos)
        throw TDbError("Unable to bind parameter \"" + P.Name() + "\"",
                       "the value holds a NUL byte, which the database's text types cannot "
                       "hold");
      d.SqlType = V.Data.size() > kLongData ? SQL_LONGVARCHAR : SQL_VARCHAR;
      // The declared size stays within the short type for short values
      // (a field length above it would ask some servers for a long type).
      d.Size = std::max<SQLULEN>(
          {static_cast<SQLULEN>(V.Data.size()),
           std::min<SQLULEN>(P.Size(), V.Data.size() > kLongData ? P.Size() : kLongData), 1});
      break;
  }
  return d;
}

SQL_DATE_STRUCT DateOf(const TDateTime& W) {
  return {static_cast<SQLSMALLINT>(W.Year), static_cast<SQLUSMALLINT>(W.Month),
          static_cast<SQLUSMALLINT>(W.Day)};
}

SQL_TIME_STRUCT TimeOf(const TDateTime& W) {
  return {static_cast<SQLUSMALLINT>(W.Hour), static_cast<SQLUSMALLINT>(W.Minute),
          static_cast<SQLUSMALLINT>(W.Second)};
}

SQL_TIMESTAMP_STRUCT StampOf(const TDateTime& W) {
  return {static_cast<SQLSMALLINT>(W.Year),
          static_cast<SQLUSMALLINT>(W.Month),
          static_cast<SQLUSMALLINT>(W.Day),
          static_cast<SQLUSMALLINT>(W.Hour),
          static_cast<SQLUSMALLINT>(W.Minute),
          static_cast<SQLUSMALLINT>(W.Second),
          0};
}

// Arrays of rows are split so that the buffers of one execution stay within
// this many bytes (a long text in one row widens its whole column).
constexpr size_t kArrayBytes = size_t{16} << 20;

}  // namespace

class TOdbcStatement final : public TDbStatement {
 public:
  TOdbcStatement(SQLHSTMT Stmt, std::string Sql, bool Prepared, bool TextHoldsNul)
      : FStmt(Stmt), FSql(std::move(Sql)), FPrepared(Prepared), FTextHoldsNul(TextHoldsNul) {}
  ~TOdbcStatement() override { SQLFreeHandle(SQL_HANDLE_STMT, FStmt); }

  bool Execute(std::span<const TDbParam> Params, bool KeepResult) override {
    CloseResult();
    FRows = 0;
    CheckText();
    Bind(Params);
    SQLRETURN rc = Run();
    if (rc == SQL_NO_DATA) return false;  // a searched UPDATE/DELETE that matched no row
    if (!Ok(rc)) ThrowOdbc(SQL_HANDLE_STMT, FStmt, "Unable to execute statement");
    if (KeepResult) {
      // Skip leading row counts (a batch that changes rows before selecting).
      for (;;) {
        SQLSMALLINT cols = 0;
        if (!Ok(SQLNumResultCols(FStmt, &cols)))
          ThrowOdbc(SQL_HANDLE_STMT, FStmt, "Unable to read the result");
        if (cols > 0) {
          FOpen = true;
          return true;
        }
        if (!NextResult()) return false;
      }
    }
    CountRows();
    return false;
  }

  void ExecuteRows(std::span<const TDbParam> Params, size_t Rows) override {
    CloseResult();
    FRows = 0;
    const size_t columns = Rows == 0 ? 0 : Params.size() / Rows;
    if (columns * Rows != Params.size())
      throw TDbError("Unable to execute statement", std::to_string(Params.size()) +
                                                        " parameter values do not make " +
                                                        std::to_string(Rows) + " rows");
    CheckText();
    int64_t total = 0;
    RunRows(Params, columns, 0, Rows, total);
    FRows = total;
  }

  int64_t RowsAffected() const override { return FRows; }

  void Describe(std::vector<TDbField>& Fields) override {
    SQLSMALLINT cols = 0;
    if (!Ok(SQLNumResultCols(FStmt, &cols)))
      ThrowOdbc(SQL_HANDLE_STMT, FStmt, "Unable to read the result");
    Fields.resize(static_cast<size_t>(cols));
    for (SQLUSMALLINT i = 1; i <= static_cast<SQLUSMALLINT>(cols); ++i) {
      TDbField& f = Fields[i - 1];
      SQLCHAR name[512];
      SQLSMALLINT nameLen = 0, type = 0, digits = 0, nullable = 0;
      SQLULEN size = 0;
      SQLRETURN rc =
          SQLDescribeCol(FStmt, i, name, sizeof name, &nameLen, &type, &size, &digits, &nullable);
      if (!Ok(rc)) ThrowOdbc(SQL_HANDLE_STMT, FStmt, "Unable to describe the result");
      f.FName.assign(reinterpret_cast<char*>(name),
                     static_cast<size_t>(std::min<int>(nameLen, sizeof name - 1)));
      f.FDataType = TypeFromSql(type, f.FFetchAs);
      f.FSize = size > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(size);
      f.FIsNull = true;
      f.FValue.clear();
    }
  }

  bool Fetch(std::vector<TDbField>& Fields) override {
    if (!FOpen) return false;
    SQLRETURN rc = SQLFetch(FStmt);
    if (rc == SQL_NO_DATA) {
      for (TDbField& f : Fields) {
        f.FIsNull = true;
        f.FValue.clear();
      }
      return false;
    }
    if (!Ok(rc)) ThrowOdbc(SQL_HANDLE_STMT, FStmt, "Unable to fetch a row");
    // SQLGetData may have to be called in column order: read the whole row.
    SQLUSMALLINT col = 1;
    for (TDbField& f : Fields)
      ReadColumn(col++, f);
    return true;
  }

  void CloseResult() noexcept override {
    FOpen = false;
    SQLFreeStmt(FStmt, SQL_CLOSE);
  }

 private:
  static SQLCHAR* Text(const std::string& S) {
    return reinterpret_cast<SQLCHAR*>(const_cast<char*>(S.c_str()));
  }

  bool NextResult() {
    SQLRETURN rc = SQLMoreResults(FStmt);
    if (rc == SQL_NO_DATA) return false;
    if (!Ok(rc)) ThrowOdbc(SQL_HANDLE_STMT, FStmt, "Unable to execute statement");
    return true;
  }

  void CheckText() const {
    if (!FTextHoldsNul && FSql.find('\0') != std::string::npos)
      throw TDbError("Unable to execute statement",
                     "the statement text holds a NUL byte, which the database cannot take");
  }

  SQLRETURN Run() {
    return FPrepared ? SQLExecute(FStmt)
                     : SQLExecDirect(FStmt, Text(FSql), static_cast<SQLINTEGER>(FSql.size()));
  }

  // Errors of later statements of a batch only show in SQLMoreResults.
  void CountRows() {
    do {
      SQLLEN n = 0;
      if (Ok(SQLRowCount(FStmt, &n)) && n > 0) FRows += n;
    } while (NextResult());
  }

  struct TParamBuffer {
    SQLLEN Indicator = 0;
    union {
      int64_t Integer;
      double Float;
      unsigned char Bit;
      SQL_DATE_STRUCT Date;
      SQL_TIME_STRUCT Time;
      SQL_TIMESTAMP_STRUCT Stamp;
    };
    TParamBuffer() : Integer(0) {}
  };

  // A parameter as it was last bound. Drivers read the bound buffers when
  // the statement runs, so a parameter whose binding is unchanged (the same
  // types and sizes, the same buffer) is not bound again: a statement of
  // many rows of parameters runs thousands of times per run.
  struct TBinding {
    TValueDecl Decl;
    SQLPOINTER Data = nullptr;
    SQLLEN BufferLength = 0;
    bool Valid = false;
  };

  void BindOne(SQLUSMALLINT Number, const TValueDecl& D, SQLPOINTER Data, SQLLEN BufferLength,
               SQLLEN* Indicator, const std::string& Name) {
    TBinding& last = FBound[Number - 1];
    if (last.Valid && last.Decl.CType == D.CType && last.Decl.SqlType == D.SqlType &&
        last.Decl.Size == D.Size && last.Decl.Digits == D.Digits && last.Data == Data &&
        last.BufferLength == BufferLength)
      return;
    last.Valid = false;
    SQLRETURN rc = SQLBindParameter(FStmt, Number, SQL_PARAM_INPUT, D.CType, D.SqlType, D.Size,
                                    D.Digits, Data, BufferLength, Indicator);
    if (!Ok(rc)) ThrowOdbc(SQL_HANDLE_STMT, FStmt, "Unable to bind parameter \"" + Name + "\"");
    last = {D, Data, BufferLength, true};
  }

  void ForgetBindings() {
    for (TBinding& b : FBound)
      b.Valid = false;
  }

  void Bind(std::span<const TDbParam> Params) {
    if (FBuffers.size() < Params.size()) {
      // The indicators and values move: every binding must be made again.
      FBuffers.resize(Params.size());
      ForgetBindings();
    }
    if (FBound.size() < Params.size()) FBound.resize(Params.size());
    static char kEmpty[1] = {0};
    for (size_t i = 0; i < Params.size(); ++i) {
      const TDbParam& p = Params[i];
      TParamBuffer& b = FBuffers[i];
      const TBindValue v = ConvertParam(p);
      const TValueDecl d = DeclareValue(p, v, FTextHoldsNul);
      SQLPOINTER data = kEmpty;
      SQLLEN bufLen = 0;
      switch (v.Kind) {
        case TBindKind::Null:
          b.Indicator = SQL_NULL_DATA;
          break;
        case TBindKind::Integer:
          b.Integer = v.Integer;
          data = &b.Integer;
          b.Indicator = sizeof b.Integer;
          break;
        case TBindKind::Float:
          b.Float = v.Float;
          data = &b.Float;
          b.Indicator = sizeof b.Float;
          break;
        case TBindKind::Date:
          b.Date = DateOf(v.When);
          data = &b.Date;
          b.Indicator = sizeof b.Date;
          break;
        case TBindKind::Time:
          b.Time = TimeOf(v.When);
          data = &b.Time;
          b.Indicator = sizeof b.Time;
          break;
        case TBindKind::DateTime:
          b.Stamp = StampOf(v.When);
          data = &b.Stamp;
          b.Indicator = sizeof b.Stamp;
          break;
        case TBindKind::Boolean:
          b.Bit = v.Integer ? 1 : 0;
          data = &b.Bit;
          b.Indicator = 1;
          break;
        case TBindKind::Decimal:
        case TBindKind::Bytes:
        case TBindKind::Text:
          if (!v.Data.empty()) data = const_cast<char*>(v.Data.data());
          bufLen = b.Indicator = static_cast<SQLLEN>(v.Data.size());
          break;
      }
      BindOne(static_cast<SQLUSMALLINT>(i + 1), d, data, bufLen, &b.Indicator, p.Name());
    }
  }

  // One column of an array of rows: values of one C type, column-wise.
  struct TArrayColumn {
    TValueDecl Decl;
    bool AnyValue = false;  // some row holds a value (not NULL)
    size_t Width = 0;       // bytes per element
    std::vector<unsigned char> Data;
    std::vector<SQLLEN> Indicators;
  };

  // Runs rows [Begin, Begin + Count) of Params, as arrays where the rows
  // allow it. Total sums the rows affected.
  void RunRows(std::span<const TDbParam> Params, size_t Columns, size_t Begin, size_t Count,
               int64_t& Total) {
    if (Count == 0) return;
    if (Count == 1 || Columns == 0) {
      for (size_t r = Begin; r < Begin + Count; ++r) {
        Execute(Params.subspan(r * Columns, Columns), false);
        Total += FRows;
      }
      return;
    }
    std::vector<TArrayColumn> cols(Columns);
    size_t bytes = 0;
    for (size_t c = 0; c < Columns; ++c) {
      if (!DeclareColumn(Params, Columns, c, Begin, Count, cols[c])) {
        // Rows whose values of one column are not all of one kind cannot
        // share an array: one row at a time, which the database cannot
        // tell from the array.
        for (size_t r = Begin; r < Begin + Count; ++r) {
          Execute(Params.subspan(r * Columns, Columns), false);
          Total += FRows;
        }
        return;
      }
      bytes += cols[c].Width * Count;
    }
    if (bytes > kArrayBytes) {
      RunRows(Params, Columns, Begin, Count / 2, Total);
      RunRows(Params, Columns, Begin + Count / 2, Count - Count / 2, Total);
      return;
    }
    for (size_t c = 0; c < Columns; ++c)
      FillColumn(Params, Columns, c, Begin, Count, cols[c]);
    FRows = 0;
    std::vector<SQLUSMALLINT> status(Count, SQL_PARAM_UNUSED);
    SQLULEN processed = 0;
    ForgetBindings();
    SQLSetStmtAttr(FStmt, SQL_ATTR_PARAM_BIND_TYPE,
                   reinterpret_cast<SQLPOINTER>(SQL_PARAM_BIND_BY_COLUMN), 0);
    SQLSetStmtAttr(FStmt, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(Count), 0);
    SQLSetStmtAttr(FStmt, SQL_ATTR_PARAM_STATUS_PTR, status.data(), 0);
    SQLSetStmtAttr(FStmt, SQL_ATTR_PARAMS_PROCESSED_PTR, &processed, 0);
    // Back to one row per execution whatever happens, before the arrays go.
    struct TRestore {
      SQLHSTMT Stmt;
      ~TRestore() {
        SQLSetStmtAttr(Stmt, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(1), 0);
        SQLSetStmtAttr(Stmt, SQL_ATTR_PARAM_STATUS_PTR, nullptr, 0);
        SQLSetStmtAttr(Stmt, SQL_ATTR_PARAMS_PROCESSED_PTR, nullptr, 0);
        SQLFreeStmt(Stmt, SQL_RESET_PARAMS);
      }
    } restore{FStmt};
    for (size_t c = 0; c < Columns; ++c) {
      TArrayColumn& col = cols[c];
      SQLRETURN rc =
          SQLBindParameter(FStmt, static_cast<SQLUSMALLINT>(c + 1), SQL_PARAM_INPUT, col.Decl.CType,
                           col.Decl.SqlType, col.Decl.Size, col.Decl.Digits, col.Data.data(),
                           static_cast<SQLLEN>(col.Width), col.Indicators.data());
      if (!Ok(rc))
        ThrowOdbc(SQL_HANDLE_STMT, FStmt,
                  "Unable to bind parameter \"" + Params[Begin * Columns + c].Name() + "\"");
    }
    SQLRETURN rc = Run();
    if (rc != SQL_NO_DATA) {
      if (!Ok(rc)) {
        TDbError error = OdbcError(SQL_HANDLE_STMT, FStmt, "Unable to execute statement");
        for (size_t r = 0; r < Count; ++r)
          if (status[r] == SQL_PARAM_ERROR)
            throw TDbError(error.DriverText() + " (row " + std::to_string(r + 1) + " of " +
                               std::to_string(Count) + " sent together)",
                           error.DatabaseText(), error.SqlState(), error.NativeCode());
        throw error;
      }
      CountRows();
    }
    Total += FRows;
  }

  // The declaration one array column of rows [Begin, Begin + Count) takes:
  // the widest of its values' declarations. False when the values are not
  // all of one kind (NULL goes with any).
  bool DeclareColumn(std::span<const TDbParam> Params, size_t Columns, size_t C, size_t Begin,
                     size_t Count, TArrayColumn& Col) {
    TBindKind kind = TBindKind::Null;
    int wholeDigits = 0;
    for (size_t r = Begin; r < Begin + Count; ++r) {
      const TDbParam& p = Params[r * Columns + C];
      const TBindValue v = ConvertParam(p);
      const TValueDecl d = DeclareValue(p, v, FTextHoldsNul);
      if (v.Kind == TBindKind::Null) {
        if (!Col.AnyValue && r == Begin) Col.Decl = d;
        continue;
      }
      if (!Col.AnyValue) {
        kind = v.Kind;
        Col.Decl = d;
        Col.AnyValue = true;
      } else if (v.Kind != kind) {
        return false;
      } else {
        Col.Decl.Size = std::max(Col.Decl.Size, d.Size);
        Col.Decl.Digits = std::max(Col.Decl.Digits, d.Digits);
        if (d.SqlType == SQL_BIGINT || d.SqlType == SQL_LONGVARCHAR ||
            d.SqlType == SQL_LONGVARBINARY)
          Col.Decl.SqlType = d.SqlType;
      }
      if (v.Kind == TBindKind::Decimal) wholeDigits = std::max(wholeDigits, v.Precision - v.Scale);
      if (v.Kind == TBindKind::Decimal || v.Kind == TBindKind::Text || v.Kind == TBindKind::Bytes)
        Col.Width = std::max(Col.Width, v.Data.size());
    }
    if (kind == TBindKind::Decimal)
      Col.Decl.Size = static_cast<SQLULEN>(std::max(1, wholeDigits + Col.Decl.Digits));
    switch (kind) {
      case TBindKind::Null:
      case TBindKind::Decimal:
      case TBindKind::Text:
      case TBindKind::Bytes:
        Col.Width = std::max<size_t>(Col.Width, 1);
        break;
      case TBindKind::Integer:
        Col.Width = sizeof(int64_t);
        break;
      case TBindKind::Float:
        Col.Width = sizeof(double);
        break;
      case TBindKind::Boolean:
        Col.Width = 1;
        break;
      case TBindKind::Date:
        Col.Width = sizeof(SQL_DATE_STRUCT);
        break;
      case TBindKind::Time:
        Col.Width = sizeof(SQL_TIME_STRUCT);
        break;
      case TBindKind::DateTime:
        Col.Width = sizeof(SQL_TIMESTAMP_STRUCT);
        break;
    }
    return true;
  }

  void FillColumn(std::span<const TDbParam> Params, size_t Columns, size_t C, size_t Begin,
                  size_t Count, TArrayColumn& Col) {
    Col.Data.assign(Col.Width * Count, 0);
    Col.Indicators.assign(Count, SQL_NULL_DATA);
    for (size_t i = 0; i < Count; ++i) {
      const TBindValue v = ConvertParam(Params[(Begin + i) * Columns + C]);
      unsigned char* at = Col.Data.data() + i * Col.Width;
      SQLLEN& ind = Col.Indicators[i];
      switch (v.Kind) {
        case TBindKind::Null:
          break;
        case TBindKind::Integer:
          std::memcpy(at, &v.Integer, sizeof v.Integer);
          ind = sizeof v.Integer;
          break;
        case TBindKind::Float:
          std::memcpy(at, &v.Float, sizeof v.Float);
          ind = sizeof v.Float;
          break;
        case TBindKind::Boolean:
          *at = v.Integer ? 1 : 0;
          ind = 1;
          break;
        case TBindKind::Date: {
          const SQL_DATE_STRUCT d = DateOf(v.When);
          std::memcpy(at, &d, sizeof d);
          ind = sizeof d;
          break;
        }
        case TBindKind::Time: {
          const SQL_TIME_STRUCT t = TimeOf(v.When);
          std::memcpy(at, &t, sizeof t);
          ind = sizeof t;
          break;
        }
        case TBindKind::DateTime: {
          const SQL_TIMESTAMP_STRUCT t = StampOf(v.When);
          std::memcpy(at, &t, sizeof t);
          ind = sizeof t;
          break;
        }
        case TBindKind::Decimal:
        case TBindKind::Text:
        case TBindKind::Bytes:
          if (!v.Data.empty()) std::memcpy(at, v.Data.data(), v.Data.size());
          ind = static_cast<SQLLEN>(v.Data.size());
          break;
      }
    }
  }

  // Reads one value, in chunks when it is long.
  void ReadChunks(SQLUSMALLINT Col, SQLSMALLINT CType, TDbField& F) {
    const size_t terminator = CType == SQL_C_CHAR ? 1 : 0;
    if (FChunk.size() < 4096) FChunk.resize(4096);
    size_t got = 0;
    for (;;) {
      const size_t avail = FChunk.size() - got;
      SQLLEN ind = 0;
      SQLRETURN rc =
          SQLGetData(FStmt, Col, CType, FChunk.data() + got, static_cast<SQLLEN>(avail), &ind);
      if (rc == SQL_NO_DATA) break;
      if (!Ok(rc)) ThrowOdbc(SQL_HANDLE_STMT, FStmt, "Unable to read column \"" + F.FName + "\"");
      if (ind == SQL_NULL_DATA) {
        F.FIsNull = true;
        F.FValue.clear();
        return;
      }
      const bool truncated = rc == SQL_SUCCESS_WITH_INFO &&
                             (ind == SQL_NO_TOTAL || static_cast<size_t>(ind) + terminator > avail);
      if (!truncated) {
        got += static_cast<size_t>(ind);
        break;
      }
      got += avail - terminator;
      size_t want = ind == SQL_NO_TOTAL
                        ? FChunk.size() * 2
                        : got + (static_cast<size_t>(ind) - (avail - terminator)) + terminator + 1;
      FChunk.resize(std::max(want, FChunk.size() + 1024));
    }
    F.FIsNull = false;
    F.FValue.assign(FChunk.data(), got);
  }

  template <typename T>
  bool ReadFixed(SQLUSMALLINT Col, SQLSMALLINT CType, T& Out, TDbField& F) {
    SQLLEN ind = 0;
    SQLRETURN rc = SQLGetData(FStmt, Col, CType, &Out, sizeof Out, &ind);
    if (!Ok(rc)) ThrowOdbc(SQL_HANDLE_STMT, FStmt, "Unable to read column \"" + F.FName + "\"");
    F.FValue.clear();
    F.FIsNull = ind == SQL_NULL_DATA;
    return !F.FIsNull;
  }

  void ReadColumn(SQLUSMALLINT Col, TDbField& F) {
    switch (F.FFetchAs) {
      case fkBinary:
        ReadChunks(Col, SQL_C_BINARY, F);
        return;
      case fkDecimal:
        ReadChunks(Col, SQL_C_CHAR, F);
        dbtext::NormalizeDecimal(F.FValue);
        return;
      case fkBit: {
        unsigned char bit = 0;
        if (ReadFixed(Col, SQL_C_BIT, bit, F)) F.FValue = bit ? "True" : "False";
        return;
      }
      case fkReal: {
        float v = 0;
        if (ReadFixed(Col, SQL_C_FLOAT, v, F)) dbtext::AppendShortest(F.FValue, v);
        return;
      }
      case fkDouble: {
        double v = 0;
        if (ReadFixed(Col, SQL_C_DOUBLE, v, F)) dbtext::AppendShortest(F.FValue, v);
        return;
      }
      case fkDate: {
        SQL_DATE_STRUCT d{};
        if (ReadFixed(Col, SQL_C_TYPE_DATE, d, F))
          dbtext::AppendDate(F.FValue, d.year, d.month, d.day);
        return;
      }
      case fkTime: {
        SQL_TIME_STRUCT t{};
        if (ReadFixed(Col, SQL_C_TYPE_TIME, t, F))
          dbtext::AppendTime(F.FValue, t.hour, t.minute, t.second);
        return;
      }
      case fkTimestamp: {
        SQL_TIMESTAMP_STRUCT s{};
        if (ReadFixed(Col, SQL_C_TYPE_TIMESTAMP, s, F)) {
          TDateTime w;
          w.Year = s.year;
          w.Month = s.month;
          w.Day = s.day;
          w.Hour = s.hour;
          w.Minute = s.minute;
          w.Second = s.second;
          dbtext::AppendDateTime(F.FValue, w);
        }
        return;
      }
      default:
        ReadChunks(Col, SQL_C_CHAR, F);
        return;
    }
  }

  SQLHSTMT FStmt;
  std::string FSql;
  bool FPrepared;  // SQLPrepare done; otherwise SQLExecDirect each time
  bool FTextHoldsNul;
  bool FOpen = false;
  int64_t FRows = 0;
  std::vector<TParamBuffer> FBuffers;  // stable while a statement runs
  std::vector<TBinding> FBound;        // per parameter, as last bound
  std::vector<char> FChunk;
};

namespace {

std::unique_ptr<TDbStatement> TOdbcSession::Prepare(const std::string& Sql, bool Persistent) {
  SQLHSTMT st = SQL_NULL_HSTMT;
  if (!Ok(SQLAllocHandle(SQL_HANDLE_STMT, FDbc, &st)))
    ThrowOdbc(SQL_HANDLE_DBC, FDbc, "Unable to create a statement");
  if (Persistent) {
    SQLRETURN rc = SQLPrepare(st, reinterpret_cast<SQLCHAR*>(const_cast<char*>(Sql.c_str())),
                              static_cast<SQLINTEGER>(Sql.size()));
    if (!Ok(rc)) {
      TDbError error = OdbcError(SQL_HANDLE_STMT, st, "Unable to prepare statement");
      SQLFreeHandle(SQL_HANDLE_STMT, st);
      throw error;
    }
  }
  return std::make_unique<TOdbcStatement>(st, Sql, Persistent, FTextHoldsNul);
}

}  // namespace

namespace {

// SQLDriverConnect without a prompt: a task runs on a worker thread and must
// never wait for a login dialog.
SQLRETURN DriverConnect(SQLHDBC Dbc, const std::string& ConnectionString) {
  SQLCHAR out[1024];
  SQLSMALLINT outLen = 0;
  return SQLDriverConnect(Dbc, nullptr,
                          reinterpret_cast<SQLCHAR*>(const_cast<char*>(ConnectionString.c_str())),
                          static_cast<SQLSMALLINT>(ConnectionString.size()), out, sizeof out,
                          &outLen, SQL_DRIVER_NOPROMPT);
}

std::string InfoText(SQLHDBC Dbc, SQLUSMALLINT What) {
  char text[256] = {0};
  SQLSMALLINT len = 0;
  if (!Ok(SQLGetInfo(Dbc, What, text, sizeof text, &len))) return {};
  return std::string(text, static_cast<size_t>(std::clamp<int>(len, 0, sizeof text - 1)));
}

// The installer library keeps one process-wide configuration state; task
// threads connect at the same time.
std::mutex InstallerLock;

// The value of Key in Section of the driver manager's odbc.ini or
// odbcinst.ini (File), or the empty text.
std::string ProfileText(const std::string& Section, const char* Key, const char* File) {
  char value[512] = {0};
  int n = SQLGetPrivateProfileString(Section.c_str(), Key, "", value, sizeof value, File);
  if (n <= 0) return {};
  return std::string(value, static_cast<size_t>(std::min<int>(n, sizeof value - 1)));
}

// The data source a connection string names, or the empty text.
std::string DataSourceName(const std::string& ConnectionString) {
  std::string dsn;
  for (const auto& kv : ParseOdbcConnectionString(ConnectionString))
    if (SameText(kv.first, "DSN")) dsn = kv.second;
  return dsn;
}

// The first of Keys the data source a connection string names has a line
// for in odbc.ini, as the driver manager reads it; the empty text otherwise.
std::string DataSourceLine(const std::string& ConnectionString,
                           std::initializer_list<const char*> Keys) {
  const std::string dsn = DataSourceName(ConnectionString);
  if (dsn.empty()) return {};
  std::lock_guard<std::mutex> lock(InstallerLock);
  for (const char* key : Keys) {
    std::string value = ProfileText(dsn, key, "odbc.ini");
    if (!value.empty()) return value;
  }
  return {};
}

// The OPTION (or OPTIONS) line of the data source a connection string names.
std::string DataSourceOption(const std::string& ConnectionString) {
  return DataSourceLine(ConnectionString, {"OPTION", "OPTIONS"});
}

// The driver library a connection string leads to, as far as the
// configuration tells: its DRIVER attribute, or else the Driver line of its
// data source, each a library or the name of a driver in odbcinst.ini.
std::string DriverLibrary(const std::string& ConnectionString) {
  std::string driver;
  for (const auto& kv : ParseOdbcConnectionString(ConnectionString))
    if (SameText(kv.first, "DRIVER")) driver = kv.second;
  std::lock_guard<std::mutex> lock(InstallerLock);
  if (driver.empty()) {
    const std::string dsn = DataSourceName(ConnectionString);
    if (!dsn.empty()) driver = ProfileText(dsn, "Driver", "odbc.ini");
  }
  if (driver.empty() || driver.find('/') != std::string::npos) return driver;
  return ProfileText(driver, "Driver", "odbcinst.ini");
}

// psqlodbcw.so, psqlodbca.so, PSQLODBC35W.DLL.
bool IsPsqlodbc(std::string_view Driver) {
  return LowerCase(Driver).find("psqlodbc") != std::string::npos;
}

// The text of the first column of the first row of Sql, run on a connection
// that has no transaction open.
std::string QueryText(SQLHDBC Dbc, const std::string& Sql) {
  SQLHSTMT st = SQL_NULL_HSTMT;
  if (!Ok(SQLAllocHandle(SQL_HANDLE_STMT, Dbc, &st)))
    ThrowOdbc(SQL_HANDLE_DBC, Dbc, "Unable to create a statement");
  std::string text;
  char chunk[1024];
  SQLLEN ind = 0;
  SQLRETURN rc = SQLExecDirect(st, reinterpret_cast<SQLCHAR*>(const_cast<char*>(Sql.c_str())),
                               static_cast<SQLINTEGER>(Sql.size()));
  if (Ok(rc)) rc = SQLFetch(st);
  // Long enough for any sql_mode; a longer text is cut, which loses nothing asked here.
  if (Ok(rc)) rc = SQLGetData(st, 1, SQL_C_CHAR, chunk, sizeof chunk, &ind);
  if (!Ok(rc)) {
    TDbError error = OdbcError(SQL_HANDLE_STMT, st, "Unable to execute statement " + Sql);
    SQLFreeHandle(SQL_HANDLE_STMT, st);
    throw error;
  }
  if (ind != SQL_NULL_DATA)
    text.assign(chunk, static_cast<size_t>(std::clamp<SQLLEN>(ind, 0, sizeof chunk - 1)));
  SQLFreeHandle(SQL_HANDLE_STMT, st);
  return text;
}

// Asked once per connection: a literal text is written for the rule in
// force when it was opened.
bool ReadsBackslashEscapes(SQLHDBC Dbc, const std::string& DbmsName) {
  if (IsMySqlFamily(DbmsName))
    return UpperCase(QueryText(Dbc, "select @@sql_mode")).find("NO_BACKSLASH_ESCAPES") ==
           std::string::npos;
  if (SameText(DbmsName, "PostgreSQL"))
    return SameText(TrimBlanks(QueryText(Dbc, "show standard_conforming_strings")), "off");
  return false;
}

}  // namespace

std::unique_ptr<TDbSession> OpenOdbcSession(const TDbRoute& Route, const TDbOpenOptions& Options) {
  const std::string what = "Unable to open " + Route.Description;
  SQLHENV env = SQL_NULL_HENV;
  SQLHDBC dbc = SQL_NULL_HDBC;
  if (!Ok(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env)))
    throw TDbError(what, "the ODBC driver manager cannot create an environment");
  SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  if (!Ok(SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc))) {
    SQLFreeHandle(SQL_HANDLE_ENV, env);
    throw TDbError(what, "the ODBC driver manager cannot create a connection");
  }
  SQLSetConnectAttr(dbc, SQL_ATTR_LOGIN_TIMEOUT,
                    reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(Options.LoginTimeoutSeconds)),
                    0);
  auto fail = [&]() {
    TDbError error = OdbcError(SQL_HANDLE_DBC, dbc, what);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    SQLFreeHandle(SQL_HANDLE_ENV, env);
    throw error;
  };
  // psqlodbc's level of rollback on errors is fixed when the connection is
  // made: set where the configuration shows the driver, checked below.
  std::string first = Route.OdbcConnectionString;
  if (IsPsqlodbc(DriverLibrary(first)))
    AddPsqlodbcRollbackLevel(first, DataSourceLine(first, {"Protocol"}));
  if (!Ok(DriverConnect(dbc, first))) fail();
  std::string dbms = InfoText(dbc, SQL_DBMS_NAME);
  // MariaDB and MySQL count an UPDATE that matches a row without changing it
  // as 0 rows, where every other database counts 1; update-then-insert would
  // then insert the unchanged row again. The found-rows flag is fixed when
  // the connection is made, so connect once more with it added to the data
  // source's own options. The same for psqlodbc's rollback level where the
  // configuration did not show the driver.
  std::string again = first;
  bool reconnect = IsMySqlFamily(dbms) && AddFoundRowsOption(again, DataSourceOption(again));
  if (IsPsqlodbc(InfoText(dbc, SQL_DRIVER_NAME)) &&
      AddPsqlodbcRollbackLevel(again, DataSourceLine(again, {"Protocol"})))
    reconnect = true;
  if (reconnect) {
    SQLDisconnect(dbc);
    if (!Ok(DriverConnect(dbc, again))) fail();
  }
  bool escapes = false;
  try {
    escapes = ReadsBackslashEscapes(dbc, dbms);
  } catch (const TDbError& e) {
    SQLDisconnect(dbc);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    SQLFreeHandle(SQL_HANDLE_ENV, env);
    throw TDbError(what, e.what(), e.SqlState(), e.NativeCode());
  }
  return std::make_unique<TOdbcSession>(env, dbc, std::move(dbms), escapes);
}

}  // namespace kelvor
