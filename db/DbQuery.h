// Statements on a TDbConnection: forward-only results with typed fields,
// commands with rows affected, and ":name" parameters.
//
// Ownership and threads: a query is bound to one connection for its whole
// life (not owned; the connection must outlive it) and is used by the thread
// that uses the connection. A query owns its fields and parameters; a field's
// value is valid until the next Next, First, Open, Close, SetSQL or ExecSQL,
// a field reference until the result is closed, and a parameter reference
// until the text changes or ClearParams.
//
// Value as text (TDbField::AsString), whatever the backend:
//   null            ""               date        "YYYY-MM-DD"
//   boolean         "True"/"False"   time        "HH:MM:SS"
//   date-time       "YYYY-MM-DD HH:MM:SS" (fractions of a second dropped)
//   integer/decimal the exact decimal text, "." as separator
//   float           the shortest text that reads back as the same number
//   binary          the bytes themselves
// SQLite columns are typed by their declared type. A value in a date column
// is read as SQLite's date functions read it: a text in any of their forms
// (a zone suffix taken away, giving UTC), an integer as seconds since 1970, a
// real as a Julian day; a number in a column declared NUMERIC(p,s) or
// DECIMAL(p,s) is shown with at least s decimals ("5" -> "5.00"), never
// rounded; text that does not fit the column's type is shown unchanged.
//
// Parameter values are converted by the parameter's DataType when a
// statement runs: integer codes (ftSmallint, ftInteger, ftWord, ftLargeint,
// ftAutoInc) to integers, ftFloat and ftCurrency to floating point, ftBCD and
// ftFMTBcd to exact decimals, ftDate/ftTime/ftDateTime/ftTimeStamp to dates
// and times (texts as AsString gives them), ftBoolean from "True", "False",
// "1" or "0", the binary codes (ftBytes, ftVarBytes, ftBlob, ftGraphic,
// ftTypedBinary, ftOraBlob, ...) to bytes, every other code to text. An
// empty text for a non-text type is NULL; a text that does not convert raises
// TDbError naming the parameter.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "db/FieldType.h"

namespace kelvor {

class TDbConnection;
class TDbStatement;

// One column of the open result, holding the current row's value.
class TDbField {
 public:
  const std::string& FieldName() const { return FName; }
  TFieldType DataType() const { return FDataType; }
  // ODBC: the driver's column size; SQLite: the n of a declared "(n)", else 0.
  uint32_t Size() const { return FSize; }
  // From the driver's null indicator only.
  bool IsNull() const { return FIsNull; }
  // The value as text (table above); empty for null.
  const std::string& AsString() const { return FValue; }
  // The value's bytes (for binary columns the raw data; for others the text).
  std::string_view AsBytes() const { return FValue; }
  // Replaces Stream's contents with the value's bytes.
  void SaveToBytes(std::vector<uint8_t>& Stream) const;

 private:
  friend class TSqliteStatement;
  friend class TOdbcStatement;
  std::string FName;
  TFieldType FDataType = ftUnknown;
  uint32_t FSize = 0;
  bool FIsNull = true;
  std::string FValue;
  int FFetchAs = 0;  // backend's note of how to read the column
};

// One ":name" parameter. A parameter without a value is NULL.
class TDbParam {
 public:
  explicit TDbParam(std::string Name = {}) : FName(std::move(Name)) {}

  const std::string& Name() const { return FName; }
  TFieldType DataType() const { return FDataType; }
  void SetDataType(TFieldType Type) { FDataType = Type; }
  uint32_t Size() const { return FSize; }
  void SetSize(uint32_t Size) { FSize = Size; }

  // The value as text, converted by DataType when the statement runs.
  void SetValue(std::string_view Text) {
    FValue.assign(Text.data(), Text.size());
    FIsNull = false;
    FFromBytes = false;
  }
  // No value: NULL.
  void Clear() {
    FValue.clear();
    FIsNull = true;
    FFromBytes = false;
  }
  // The value is these bytes, with the given type (a binary code sends them
  // as binary data, a text code as text); zero bytes are an empty value.
  void LoadFromBytes(const void* Data, size_t Length, TFieldType Type);
  void LoadFromBytes(const std::vector<uint8_t>& Bytes, TFieldType Type) {
    LoadFromBytes(Bytes.data(), Bytes.size(), Type);
  }

  bool IsNull() const { return FIsNull; }
  const std::string& Value() const { return FValue; }
  bool LoadedFromBytes() const { return FFromBytes; }

 private:
  friend class TDbQuery;
  void Reset() {
    Clear();
    FDataType = ftUnknown;
    FSize = 0;
  }
  std::string FName;
  TFieldType FDataType = ftUnknown;
  uint32_t FSize = 0;
  bool FIsNull = true;
  bool FFromBytes = false;
  std::string FValue;
};

class TDbQuery {
 public:
  explicit TDbQuery(TDbConnection& Connection);
  ~TDbQuery();
  TDbQuery(const TDbQuery&) = delete;
  TDbQuery& operator=(const TDbQuery&) = delete;

  TDbConnection& Connection() const;

  // Sets the statement text and closes any open result. With ParamCheck on,
  // every ":name" outside quoted literals and comments becomes one parameter
  // in order of appearance (duplicates included) and is sent as "?". Every
  // parameter starts without a value and with type ftUnknown, also when the
  // text is unchanged (then the text is not parsed again).
  void SetSQL(std::string_view Text);
  const std::string& SQL() const { return FSQL; }

  // On by default. Changing it re-reads the parameters of the current text.
  void SetParamCheck(bool On);
  bool ParamCheck() const { return FParamCheck; }

  // On: the compiled statement is kept and reused while the text is
  // unchanged (a few recent texts are kept). Off: each execution compiles its
  // text afresh and keeps nothing; switching never drops kept statements.
  void SetPrepared(bool On) { FPrepared = On; }
  bool Prepared() const { return FPrepared; }

  int ParamCount() const { return static_cast<int>(FParams.size()); }
  // Raises TDbError for an index out of range.
  TDbParam& Param(int Index);
  // First parameter of that name (letter case ignored), or nullptr.
  TDbParam* FindParam(std::string_view Name);
  // Raises TDbError when absent.
  TDbParam& ParamByName(std::string_view Name);
  // Removes every parameter (until the text is set again).
  void ClearParams();

  // Runs a row-returning statement and stands on its first row (Eof at once
  // when there is none). Raises when the statement fails or returns no
  // result set.
  void Open();
  // Ends the result; does nothing when none is open.
  void Close();
  bool Active() const { return FActive; }
  // True when no current row is left (also when not active).
  bool Eof() const { return FEof; }
  // Moves to the next row; does nothing at Eof. Raises when not active.
  void Next();
  // Back to the first row: nothing to do right after Open; otherwise the
  // statement runs again (the result is forward-only). Raises when not active.
  void First();

  int FieldCount() const { return static_cast<int>(FFields.size()); }
  // Raises TDbError for an index out of range.
  TDbField& Field(int Index);
  // Letter case ignored; nullptr when absent.
  TDbField* FindField(std::string_view Name);
  // Raises TDbError when absent.
  TDbField& FieldByName(std::string_view Name);

  // Runs the statement as a command (any rows are discarded).
  void ExecSQL();
  // The same with parameter values held elsewhere: Params takes the place
  // of the query's own parameters, one value per placeholder in order.
  void ExecSQL(std::span<const TDbParam> Params);
  // Runs the statement as a command once for each of Rows rows of parameter
  // values, Params holding them row after row (ParamCount() per row). ODBC
  // sends the rows as arrays of parameters, in one round trip where the
  // driver can; SQLite runs the statement row by row. Raises at the first
  // row the database refuses (the rows before it may then have been
  // applied); RowsAffected is the total.
  void ExecSQLRows(std::span<const TDbParam> Params, size_t Rows);
  // Rows inserted, updated or deleted by the last ExecSQL (0 when unknown).
  int64_t RowsAffected() const { return FRowsAffected; }

 private:
  friend class TDbConnection;
  void ParseText();
  TDbStatement& ObtainStatement();
  // Runs the statement (Rows rows of Params) as a command.
  void Run(std::span<const TDbParam> Params, size_t Rows);
  void ReleaseStatements() noexcept;  // the connection closes
  void Detached() noexcept;           // the connection is destroyed
  void NoteFailure() noexcept;

  struct TKept {
    std::string Text;
    std::unique_ptr<TDbStatement> Statement;
    uint64_t LastUse = 0;
  };

  TDbConnection* FConnection;
  std::string FSQL;
  bool FParamCheck = true;
  bool FPrepared = false;
  std::string FSendText;                 // FSQL with placeholders as "?"
  std::vector<std::string> FParamNames;  // parsed from FSendText's source
  bool FParamsCleared = false;
  std::vector<TDbParam> FParams;
  std::vector<TDbField> FFields;
  std::vector<TKept> FKept;
  std::unique_ptr<TDbStatement> FOneShot;
  TDbStatement* FCurrent = nullptr;  // the statement whose result is open
  uint64_t FUseCounter = 0;
  bool FActive = false;
  bool FEof = true;
  bool FMoved = false;  // Next has left the first row
  int64_t FRowsAffected = 0;
};

}  // namespace kelvor
