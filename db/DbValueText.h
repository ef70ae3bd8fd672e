// Text forms of values and the conversion of parameter texts, shared by the
// SQLite and ODBC backends so that both read and bind values the same way.
// Stateless; callable from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "db/FieldType.h"
#include "platform/Clock.h"

namespace kelvor {

class TDbParam;

namespace dbtext {

// The shortest text that reads back as the same number: fixed notation for
// decimal exponents from -4 up to 14 (float: 5), else "1.5e+20"; "Infinity",
// "-Infinity", "NaN". Appends to Out.
void AppendShortest(std::string& Out, double Value);
void AppendShortest(std::string& Out, float Value);
void AppendInteger(std::string& Out, int64_t Value);
// "YYYY-MM-DD", "HH:MM:SS", "YYYY-MM-DD HH:MM:SS".
void AppendDate(std::string& Out, int Year, int Month, int Day);
void AppendTime(std::string& Out, int Hour, int Minute, int Second);
void AppendDateTime(std::string& Out, const TDateTime& When);

// A driver's decimal text made plain: "," becomes ".", a missing leading 0
// is added (".5" -> "0.5", "-.5" -> "-0.5").
void NormalizeDecimal(std::string& Text);

// Is a byte/binary code (sent and read as raw bytes).
bool IsBinaryType(TFieldType Type);

// Reads a date and time text in the forms SQLite's own date functions take:
// "YYYY-MM-DD", optionally followed (after blanks or a "T") by a time, or a
// time alone; a time is "HH:MM", "HH:MM:SS" or "HH:MM:SS.fff" (fractions
// dropped) and may end in "Z" or "+HH:MM"/"-HH:MM" (after optional blanks),
// which is taken away as SQLite does, giving UTC. A time alone is on
// 1899-12-30, like the layer's "HH:MM:SS" form. False for anything else.
bool ParseSqliteDateTime(std::string_view Text, TDateTime& Out);

// Whether Text, already read as a date or time, is exactly the text the
// layer gives for it as a value of Type ("YYYY-MM-DD" for ftDate,
// "HH:MM:SS" for ftTime, "YYYY-MM-DD HH:MM:SS" for the date-time codes):
// then it can be passed on as it is, without writing it anew.
bool IsOwnTemporalForm(std::string_view Text, TFieldType Type);

}  // namespace dbtext

// A parameter's value as it is handed to a driver.
enum class TBindKind : uint8_t {
  Null,
  Integer,   // Integer
  Float,     // Float
  Decimal,   // Data: the decimal text; Precision, Scale
  Date,      // When (date part)
  Time,      // When (time part)
  DateTime,  // When
  Boolean,   // Integer 1 or 0
  Bytes,     // Data
  Text,      // Data
};

struct TBindValue {
  TBindKind Kind = TBindKind::Null;
  int64_t Integer = 0;
  double Float = 0;
  TDateTime When;
  // Points into the parameter's value. For a date or time: the value when
  // it is written the layer's own way for its kind (see IsOwnTemporalForm),
  // else empty.
  std::string_view Data;
  int Precision = 0;
  int Scale = 0;
};

// Converts by the parameter's DataType (see DbQuery.h). Raises TDbError
// naming the parameter when the text does not convert.
TBindValue ConvertParam(const TDbParam& Param);

}  // namespace kelvor
