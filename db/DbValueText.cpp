#include "db/DbValueText.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

#include "db/DbError.h"
#include "db/DbQuery.h"
#include "platform/Text.h"

namespace kelvor {
namespace dbtext {

namespace {

void AppendTwo(std::string& Out, int V) {
  Out += static_cast<char>('0' + (V / 10) % 10);
  Out += static_cast<char>('0' + V % 10);
}

template <typename T>
void AppendShortestImpl(std::string& Out, T Value, int FixedUpTo) {
  if (std::isnan(Value)) {
    Out += "NaN";
    return;
  }
  if (std::isinf(Value)) {
    Out += Value < 0 ? "-Infinity" : "Infinity";
    return;
  }
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, Value, std::chars_format::scientific);
  std::string_view sci(buf, res.ptr - buf);  // "-d.ddde+XX"
  size_t e = sci.find('e');
  int exponent = std::atoi(std::string(sci.substr(e + 1)).c_str());
  if (exponent < -4 || exponent > FixedUpTo) {
    Out.append(sci);
    return;
  }
  std::string_view mant = sci.substr(0, e);
  bool negative = !mant.empty() && mant[0] == '-';
  if (negative) {
    Out += '-';
    mant.remove_prefix(1);
  }
  std::string digits;
  for (char c : mant)
    if (c != '.') digits += c;
  if (exponent < 0) {
    Out += "0.";
    Out.append(static_cast<size_t>(-exponent - 1), '0');
    Out += digits;
  } else if (static_cast<size_t>(exponent) + 1 >= digits.size()) {
    Out += digits;
    Out.append(static_cast<size_t>(exponent) + 1 - digits.size(), '0');
  } else {
    Out.append(digits, 0, exponent + 1);
    Out += '.';
    Out.append(digits, exponent + 1, std::string::npos);
  }
}

}  // namespace

void AppendShortest(std::string& Out, double Value) {
  AppendShortestImpl(Out, Value, 14);
}
void AppendShortest(std::string& Out, float Value) {
  AppendShortestImpl(Out, Value, 5);
}

void AppendInteger(std::string& Out, int64_t Value) {
  char buf[24];
  auto res = std::to_chars(buf, buf + sizeof buf, Value);
  Out.append(buf, res.ptr);
}

void AppendDate(std::string& Out, int Year, int Month, int Day) {
  if (Year < 0) {
    Out += '-';
    Year = -Year;
  }
  if (Year < 1000) Out.append(Year < 10 ? 3 : Year < 100 ? 2 : 1, '0');
  AppendInteger(Out, Year);
  Out += '-';
  AppendTwo(Out, Month);
  Out += '-';
  AppendTwo(Out, Day);
}

void AppendTime(std::string& Out, int Hour, int Minute, int Second) {
  AppendTwo(Out, Hour);
  Out += ':';
  AppendTwo(Out, Minute);
  Out += ':';
  AppendTwo(Out, Second);
}

void AppendDateTime(std::string& Out, const TDateTime& When) {
  AppendDate(Out, When.Year, When.Month, When.Day);
  Out += ' ';
  AppendTime(Out, When.Hour, When.Minute, When.Second);
}

void NormalizeDecimal(std::string& Text) {
  for (char& c : Text)
    if (c == ',') c = '.';
  if (!Text.empty() && Text[0] == '.')
    Text.insert(Text.begin(), '0');
  else if (Text.size() > 1 && (Text[0] == '-' || Text[0] == '+') && Text[1] == '.')
    Text.insert(Text.begin() + 1, '0');
}

bool IsBinaryType(TFieldType Type) {
  switch (Type) {
    case ftBytes:
    case ftVarBytes:
    case ftBlob:
    case ftGraphic:
    case ftParadoxOle:
    case ftDBaseOle:
    case ftTypedBinary:
    case ftOraBlob:
      return true;
    default:
      return false;
  }
}

namespace {

bool IsBlank(char C) {
  return C == ' ' || C == '\t' || C == '\n' || C == '\r' || C == '\f' || C == '\v';
}

// Exactly Width digits at Pos, at most Max.
bool TakeNumber(std::string_view T, size_t& Pos, int Width, int Max, int& Out) {
  if (Pos + static_cast<size_t>(Width) > T.size()) return false;
  int v = 0;
  for (int i = 0; i < Width; ++i) {
    const char c = T[Pos + static_cast<size_t>(i)];
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  if (v > Max) return false;
  Pos += static_cast<size_t>(Width);
  Out = v;
  return true;
}

bool Take(std::string_view T, size_t& Pos, char C) {
  if (Pos < T.size() && T[Pos] == C) {
    ++Pos;
    return true;
  }
  return false;
}

// "HH:MM[:SS[.fff]]" and an optional zone; Offset is the zone in minutes.
bool TakeTime(std::string_view T, size_t& Pos, TDateTime& Out, int& Offset) {
  if (!TakeNumber(T, Pos, 2, 23, Out.Hour) || !Take(T, Pos, ':') ||
      !TakeNumber(T, Pos, 2, 59, Out.Minute))
    return false;
  Out.Second = 0;
  if (Take(T, Pos, ':')) {
    if (!TakeNumber(T, Pos, 2, 59, Out.Second)) return false;
    if (Pos + 1 < T.size() && T[Pos] == '.' && T[Pos + 1] >= '0' && T[Pos + 1] <= '9') {
      ++Pos;
      while (Pos < T.size() && T[Pos] >= '0' && T[Pos] <= '9')
        ++Pos;
    }
  }
  Offset = 0;
  size_t p = Pos;
  while (p < T.size() && IsBlank(T[p]))
    ++p;
  if (p < T.size() && (T[p] == 'Z' || T[p] == 'z')) {
    Pos = p + 1;
  } else if (p < T.size() && (T[p] == '+' || T[p] == '-')) {
    const int sign = T[p] == '-' ? -1 : 1;
    ++p;
    int h = 0, m = 0;
    if (!TakeNumber(T, p, 2, 14, h) || !Take(T, p, ':') || !TakeNumber(T, p, 2, 59, m))
      return false;
    Offset = sign * (h * 60 + m);
    Pos = p;
  }
  return true;
}

}  // namespace

bool ParseSqliteDateTime(std::string_view Text, TDateTime& Out) {
  while (!Text.empty() && IsBlank(Text.front()))
    Text.remove_prefix(1);
  while (!Text.empty() && IsBlank(Text.back()))
    Text.remove_suffix(1);
  TDateTime r;
  size_t pos = 0;
  int offset = 0;
  if (Text.size() >= 3 && Text[2] == ':') {
    if (!TakeTime(Text, pos, r, offset)) return false;
  } else {
    if (!TakeNumber(Text, pos, 4, 9999, r.Year) || !Take(Text, pos, '-') ||
        !TakeNumber(Text, pos, 2, 12, r.Month) || !Take(Text, pos, '-') ||
        !TakeNumber(Text, pos, 2, 31, r.Day))
      return false;
    if (r.Month < 1 || r.Day < 1 || r.Day > DaysInMonth(r.Year, r.Month)) return false;
    if (pos < Text.size()) {
      while (pos < Text.size() && (IsBlank(Text[pos]) || Text[pos] == 'T'))
        ++pos;
      if (!TakeTime(Text, pos, r, offset)) return false;
    }
  }
  if (pos != Text.size()) return false;
  Out = offset == 0 ? r : AddMinutes(r, -offset);
  return true;
}

bool IsOwnTemporalForm(std::string_view Text, TFieldType Type) {
  // Every field at its place, in digits of its own width, and nothing else
  // (no blanks, "T", fractions or zone): read as a date or time, such a text
  // is written back character for character.
  std::string_view form;
  switch (Type) {
    case ftDate:
      form = "0000-00-00";
      break;
    case ftTime:
      form = "00:00:00";
      break;
    case ftDateTime:
    case ftTimeStamp:
      form = "0000-00-00 00:00:00";
      break;
    default:
      return false;
  }
  if (Text.size() != form.size()) return false;
  for (size_t i = 0; i < form.size(); ++i) {
    const char c = Text[i];
    if (form[i] == '0' ? (c < '0' || c > '9') : c != form[i]) return false;
  }
  return true;
}

}  // namespace dbtext

namespace {

std::string_view TrimView(std::string_view T) {
  while (!T.empty() && (T.front() == ' ' || T.front() == '\t'))
    T.remove_prefix(1);
  while (!T.empty() && (T.back() == ' ' || T.back() == '\t'))
    T.remove_suffix(1);
  return T;
}

[[noreturn]] void NotConvertible(const TDbParam& P, std::string_view What) {
  std::string shown(P.Value().substr(0, 64));
  if (P.Value().size() > 64) shown += "...";
  throw TDbError(
      "Unable to bind parameter \"" + P.Name() + "\"",
      "\"" + shown + "\" is not " + std::string(What) + " (" + FieldTypeName(P.DataType()) + ")");
}

bool IsDecimalText(std::string_view T, int& Precision, int& Scale) {
  size_t i = 0;
  if (i < T.size() && (T[i] == '+' || T[i] == '-')) ++i;
  int intDigits = 0, fracDigits = 0;
  while (i < T.size() && T[i] >= '0' && T[i] <= '9')
    ++i, ++intDigits;
  if (i < T.size() && T[i] == '.') {
    ++i;
    while (i < T.size() && T[i] >= '0' && T[i] <= '9')
      ++i, ++fracDigits;
  }
  if (intDigits + fracDigits == 0) return false;
  if (i < T.size() && (T[i] == 'e' || T[i] == 'E')) {
    ++i;
    if (i < T.size() && (T[i] == '+' || T[i] == '-')) ++i;
    size_t start = i;
    while (i < T.size() && T[i] >= '0' && T[i] <= '9')
      ++i;
    if (i == start) return false;
  }
  if (i != T.size()) return false;
  Precision = intDigits + fracDigits;
  Scale = fracDigits;
  return true;
}

}  // namespace

TBindValue ConvertParam(const TDbParam& P) {
  TBindValue v;
  if (P.IsNull()) return v;
  const TFieldType type = P.DataType();
  std::string_view text = P.Value();
  if (dbtext::IsBinaryType(type)) {
    // A text value that is empty carries no bytes to send: NULL. Bytes that
    // were loaded are sent as they are, an empty load included.
    if (text.empty() && !P.LoadedFromBytes()) return v;
    v.Kind = TBindKind::Bytes;
    v.Data = text;
    return v;
  }
  switch (type) {
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftLargeint:
    case ftAutoInc: {
      std::string_view t = TrimView(text);
      if (t.empty()) return v;
      if (t.front() == '+') t.remove_prefix(1);
      auto res = std::from_chars(t.data(), t.data() + t.size(), v.Integer);
      if (res.ec != std::errc() || res.ptr != t.data() + t.size() || t.empty())
        NotConvertible(P, "an integer");
      v.Kind = TBindKind::Integer;
      return v;
    }
    case ftFloat:
    case ftCurrency: {
      std::string_view t = TrimView(text);
      if (t.empty()) return v;
      if (t.front() == '+') t.remove_prefix(1);
      auto res = std::from_chars(t.data(), t.data() + t.size(), v.Float);
      if (res.ec != std::errc() || res.ptr != t.data() + t.size() || t.empty())
        NotConvertible(P, "a number");
      v.Kind = TBindKind::Float;
      return v;
    }
    case ftBCD:
    case ftFMTBcd: {
      std::string_view t = TrimView(text);
      if (t.empty()) return v;
      if (!IsDecimalText(t, v.Precision, v.Scale)) NotConvertible(P, "a decimal number");
      v.Kind = TBindKind::Decimal;
      v.Data = t;
      return v;
    }
    case ftDate:
    case ftTime:
    case ftDateTime:
    case ftTimeStamp: {
      if (TrimView(text).empty()) return v;
      if (!ParseDateTimeText(text, v.When)) NotConvertible(P, "a date or time");
      v.Kind = type == ftDate   ? TBindKind::Date
               : type == ftTime ? TBindKind::Time
                                : TBindKind::DateTime;
      if (dbtext::IsOwnTemporalForm(text, type)) v.Data = text;
      return v;
    }
    case ftBoolean: {
      std::string_view t = TrimView(text);
      if (t.empty()) return v;
      if (SameText(t, "True") || t == "1")
        v.Integer = 1;
      else if (SameText(t, "False") || t == "0")
        v.Integer = 0;
      else
        NotConvertible(P, "a boolean");
      v.Kind = TBindKind::Boolean;
      return v;
    }
    default:
      v.Kind = TBindKind::Text;
      v.Data = text;
      return v;
  }
}

}  // namespace kelvor
