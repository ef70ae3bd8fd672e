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

}  // namespace

class TOdbcStatement final : public TDbStatement {
 public:
  TOdbcStatement(SQLHSTMT Stmt, std::string Sql, bool Prepared, bool TextHoldsNul)
      : FStmt(Stmt), FSql(std::move(Sql)), FPrepared(Prepared), FTextHoldsNul(TextHoldsNul) {}
  ~TOdbcStatement() override { SQLFreeHandle(SQL_HANDLE_STMT, FStmt); }

  bool Execute(const std::vector<TDbParam>& Params, bool KeepResult) override {
    CloseResult();
    FRows = 0;
    if (!FTextHoldsNul && FSql.find('\0') != std::string::npos)
      throw TDbError("Unable to execute statement",
                     "the statement text holds a NUL byte, which the database cannot take");
    Bind(Params);
    SQLRETURN rc = FPrepared
                       ? SQLExecute(FStmt)
                       : SQLExecDirect(FStmt, Text(FSql), static_cast<SQLINTEGER>(FSql.size()));
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
    // Errors of later statements of a batch only show in SQLMoreResults.
    do {
      SQLLEN n = 0;
      if (Ok(SQLRowCount(FStmt, &n)) && n > 0) FRows += n;
    } while (NextResult());
    return false;
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

  void Bind(const std::vector<TDbParam>& Params) {
    if (FBuffers.size() < Params.size()) FBuffers.resize(Params.size());
    static char kEmpty[1] = {0};
    for (size_t i = 0; i < Params.size(); ++i) {
      const TDbParam& p = Params[i];
      TParamBuffer& b = FBuffers[i];
      TBindValue v = ConvertParam(p);
      SQLSMALLINT cType = SQL_C_CHAR, sqlType = SqlTypeOf(p.DataType());
      SQLULEN size = 1;
      SQLSMALLINT digits = 0;
      SQLPOINTER data = kEmpty;
      SQLLEN bufLen = 0;
      switch (v.Kind) {
        case TBindKind::Null:
          // Declared with the size a value of its type would have: some
          // drivers check the size of a date or time even for a NULL.
          b.Indicator = SQL_NULL_DATA;
          if (sqlType == SQL_TYPE_TIMESTAMP || sqlType == SQL_BIGINT) size = 19;
          if (sqlType == SQL_NUMERIC) size = 18;
          if (sqlType == SQL_TYPE_DATE || sqlType == SQL_INTEGER) size = 10;
          if (sqlType == SQL_TYPE_TIME) size = 8;
          if (sqlType == SQL_DOUBLE) size = 15;
          break;
        case TBindKind::Integer:
          cType = SQL_C_SBIGINT;
          b.Integer = v.Integer;
          if (v.Integer > INT32_MAX || v.Integer < INT32_MIN) sqlType = SQL_BIGINT;
          size = sqlType == SQL_BIGINT ? 19 : 10;
          data = &b.Integer;
          b.Indicator = sizeof b.Integer;
          break;
        case TBindKind::Float:
          cType = SQL_C_DOUBLE;
          sqlType = SQL_DOUBLE;
          size = 15;
          b.Float = v.Float;
          data = &b.Float;
          b.Indicator = sizeof b.Float;
          break;
        case TBindKind::Decimal:
          sqlType = SQL_NUMERIC;
          size = static_cast<SQLULEN>(v.Precision);
          digits = static_cast<SQLSMALLINT>(v.Scale);
          data = const_cast<char*>(v.Data.data());
          bufLen = b.Indicator = static_cast<SQLLEN>(v.Data.size());
          break;
        case TBindKind::Date:
          cType = SQL_C_TYPE_DATE;
          sqlType = SQL_TYPE_DATE;
          size = 10;
          b.Date = {static_cast<SQLSMALLINT>(v.When.Year), static_cast<SQLUSMALLINT>(v.When.Month),
                    static_cast<SQLUSMALLINT>(v.When.Day)};
          data = &b.Date;
          b.Indicator = sizeof b.Date;
          break;
        case TBindKind::Time:
          cType = SQL_C_TYPE_TIME;
          sqlType = SQL_TYPE_TIME;
          size = 8;
          b.Time = {static_cast<SQLUSMALLINT>(v.When.Hour),
                    static_cast<SQLUSMALLINT>(v.When.Minute),
                    static_cast<SQLUSMALLINT>(v.When.Second)};
          data = &b.Time;
          b.Indicator = sizeof b.Time;
          break;
        case TBindKind::DateTime:
          cType = SQL_C_TYPE_TIMESTAMP;
          sqlType = SQL_TYPE_TIMESTAMP;
          size = 19;
          b.Stamp = {static_cast<SQLSMALLINT>(v.When.Year),
                     static_cast<SQLUSMALLINT>(v.When.Month),
                     static_cast<SQLUSMALLINT>(v.When.Day),
                     static_cast<SQLUSMALLINT>(v.When.Hour),
                     static_cast<SQLUSMALLINT>(v.When.Minute),
                     static_cast<SQLUSMALLINT>(v.When.Second),
                     0};
          data = &b.Stamp;
          b.Indicator = sizeof b.Stamp;
          break;
        case TBindKind::Boolean:
          cType = SQL_C_BIT;
          sqlType = SQL_BIT;
          b.Bit = v.Integer ? 1 : 0;
          data = &b.Bit;
          b.Indicator = 1;
          break;
        case TBindKind::Bytes:
          cType = SQL_C_BINARY;
          sqlType = v.Data.size() > kLongData ? SQL_LONGVARBINARY : SQL_VARBINARY;
          size = v.Data.empty() ? 1 : v.Data.size();
          if (!v.Data.empty()) data = const_cast<char*>(v.Data.data());
          bufLen = b.Indicator = static_cast<SQLLEN>(v.Data.size());
          break;
        case TBindKind::Text:
          if (!FTextHoldsNul && v.Data.find('\0') != std::string_view::npos)
            throw TDbError("Unable to bind parameter \"" + p.Name() + "\"",
                           "the value holds a NUL byte, which the database's text types cannot "
                           "hold");
          sqlType = v.Data.size() > kLongData ? SQL_LONGVARCHAR : SQL_VARCHAR;
          // The declared size stays within the short type for short values
          // (a field length above it would ask some servers for a long type).
          size = std::max<SQLULEN>(
              {static_cast<SQLULEN>(v.Data.size()),
               std::min<SQLULEN>(p.Size(), v.Data.size() > kLongData ? p.Size() : kLongData), 1});
          if (!v.Data.empty()) data = const_cast<char*>(v.Data.data());
          bufLen = b.Indicator = static_cast<SQLLEN>(v.Data.size());
          break;
      }
      SQLRETURN rc = SQLBindParameter(FStmt, static_cast<SQLUSMALLINT>(i + 1), SQL_PARAM_INPUT,
                                      cType, sqlType, size, digits, data, bufLen, &b.Indicator);
      if (!Ok(rc))
        ThrowOdbc(SQL_HANDLE_STMT, FStmt, "Unable to bind parameter \"" + p.Name() + "\"");
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
