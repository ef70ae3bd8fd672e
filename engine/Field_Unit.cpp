#include "engine/Field_Unit.h"

#include <algorithm>
#include <stdexcept>

#include "db/DbQuery.h"
#include "db/DbValueText.h"
#include "platform/Clock.h"
#include "platform/Text.h"

namespace kelvor {

namespace {

std::string Hex(std::string_view Bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string r;
  r.reserve(Bytes.size() * 2);
  for (unsigned char b : Bytes) {
    r.push_back(kDigits[b >> 4]);
    r.push_back(kDigits[b & 15]);
  }
  return r;
}

// Doubles every single quote, and where the database reads a backslash as
// the start of an escape every backslash too, so that a value always stays
// one SQL literal: "\'" would otherwise end it early there. Such a database
// also has an escape for a NUL byte, which would otherwise end the statement
// text (MariaDB reads no further).
std::string DoubleQuotes(std::string_view Text, bool BackslashEscapes = false) {
  std::string r = ReplaceAll(Text, "'", "''");
  if (!BackslashEscapes) return r;
  return ReplaceAll(ReplaceAll(r, "\\", "\\\\"), std::string_view("\0", 1), "\\0");
}

// A number the destination reads as one literal: [+-]digits[.digits][e[+-]digits].
bool IsNumberLiteral(std::string_view Text) {
  size_t i = 0, n = Text.size();
  if (i < n && (Text[i] == '+' || Text[i] == '-')) ++i;
  size_t digits = 0;
  while (i < n && Text[i] >= '0' && Text[i] <= '9')
    ++i, ++digits;
  if (i < n && Text[i] == '.') {
    ++i;
    while (i < n && Text[i] >= '0' && Text[i] <= '9')
      ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < n && (Text[i] == 'e' || Text[i] == 'E')) {
    ++i;
    if (i < n && (Text[i] == '+' || Text[i] == '-')) ++i;
    size_t exp = 0;
    while (i < n && Text[i] >= '0' && Text[i] <= '9')
      ++i, ++exp;
    if (exp == 0) return false;
  }
  return i == n;
}

// A value between its quote marks. Quoted values have their quotes doubled.
// A value of an unquoted type that is not a number (or a boolean word) would
// be read as SQL; it is written as a quoted literal instead, so the database
// refuses it rather than running it.
std::string Literal(std::string_view Quote, std::string_view Text, bool BackslashEscapes) {
  if (!Quote.empty())
    return std::string(Quote) + DoubleQuotes(Text, BackslashEscapes) + std::string(Quote);
  if (Text.empty() || IsNumberLiteral(Text) || SameText(Text, "true") || SameText(Text, "false"))
    return std::string(Text);
  return "'" + DoubleQuotes(Text, BackslashEscapes) + "'";
}

// The message names the column and the value; it ends up as one log line,
// so a long value is cut and line breaks become blanks.
TDateTime ParseOrThrow(const TObuFieldRef& F) {
  const std::string text = F.SqlText();
  TDateTime t;
  if (!ParseDateTimeText(text, t)) {
    constexpr size_t kShown = 64;
    std::string shown = text.substr(0, kShown);
    for (char& c : shown)
      if (c == '\r' || c == '\n') c = ' ';
    if (text.size() > kShown) shown += "...";
    throw TConvertError("'" + shown + "' in column " + std::string(F.FieldName) +
                        " is not a valid date and time");
  }
  return t;
}

std::string DateText(const TObuFieldRef& F) {
  return FormatDate(ParseOrThrow(F));
}
std::string DateTimeText(const TObuFieldRef& F) {
  return FormatDateTime(ParseOrThrow(F));
}
// "HH:MM:SS" of a time-of-day value.
std::string TimeText(const TObuFieldRef& F) {
  return FormatDateTime(ParseOrThrow(F)).substr(11);
}

bool IsOracle(int DbType) {
  return DbType == 0;
}
bool IsDb2(int DbType) {
  return DbType == 4;
}

}  // namespace

std::string_view QuoteFor(TFieldType Type) {
  switch (Type) {
    case ftString:
    case ftDate:
    case ftTime:
    case ftDateTime:
    case ftMemo:
    case ftFmtMemo:
    case ftFixedChar:
    case ftWideString:
    case ftTimeStamp:
      return "'";
    default:
      return "";
  }
}

// ---------------------------------------------------------------------------
// TObuFieldRef

std::string TObuFieldRef::SqlText() const {
  if (!Value.empty()) {
    if (DataType == ftBoolean) return UpperCase(Value) == "TRUE" ? "1" : "0";
    return std::string(Value);
  }
  switch (DataType) {
    case ftString:
    case ftDate:
    case ftTime:
    case ftDateTime:
    case ftWideString:
    case ftTimeStamp:
    // An empty text stays empty for every text type; the fixed-length and
    // memo types must not turn an empty text into '0'.
    case ftMemo:
    case ftFmtMemo:
    case ftFixedChar:
      return std::string();
    default:
      return "0";
  }
}

// Oracle reads hextoraw's argument as text: unquoted, a digit A-F would be
// an identifier and a leading zero byte would be lost.
std::string TObuFieldRef::HexToRawLiteral() const {
  return BlobData.empty() ? "EMPTY_BLOB()" : "hextoraw('" + Hex(BlobData) + "')";
}

// "0x" alone is SQL Server's empty binary constant; "0x0" would be one zero byte.
std::string TObuFieldRef::ImageLiteral() const {
  return "convert(image,0x" + Hex(BlobData) + ")";
}

std::string TObuFieldRef::BlobLiteral(bool BackslashEscapes) const {
  return BlobData.empty() ? "EMPTY_BLOB()"
                          : "BLOB('" + DoubleQuotes(BlobData, BackslashEscapes) + " ')";
}

std::string TObuFieldRef::ClobLiteral() const {
  return BlobData.empty() ? "EMPTY_CLOB()" : "CLOB('0x" + Hex(BlobData) + "')";
}

// ---------------------------------------------------------------------------
// TObuFields: storage

TObuFields::TObuFields() : FColumns(std::make_shared<std::vector<TObuColumn>>()) {}

void TObuFields::Add(const TObuField& Field) {
  if (FColumns.use_count() > 1) FColumns = std::make_shared<std::vector<TObuColumn>>(*FColumns);
  FColumns->push_back({Field.FieldName, Field.Size, Field.DataType, Field.IsKey});
  const bool blob = !Field.BlobData.empty() ||
                    (ValueKindOf(Field.DataType) == TValueKind::LargeObject && Field.Value.empty());
  FEnds.push_back(static_cast<uint32_t>(FData.size()));
  if (Field.IsNull)
    SetNull(Count() - 1);
  else
    SetSlot(Count() - 1, blob ? Field.BlobData : Field.Value, blob ? kBlobBit : 0);
}

void TObuFields::Clear() {
  FColumns = std::make_shared<std::vector<TObuColumn>>();
  FData.clear();
  FEnds.clear();
}

size_t TObuFields::SlotBegin(int Index) const {
  return Index == 0 ? 0 : SlotEnd(Index - 1);
}

std::string_view TObuFields::Value(int Index) const {
  if (SlotIsBlob(Index)) return {};
  return std::string_view(FData).substr(SlotBegin(Index), SlotEnd(Index) - SlotBegin(Index));
}

std::string_view TObuFields::BlobData(int Index) const {
  if (!SlotIsBlob(Index)) return {};
  return std::string_view(FData).substr(SlotBegin(Index), SlotEnd(Index) - SlotBegin(Index));
}

void TObuFields::SetValue(int Index, std::string_view Text) {
  SetSlot(Index, Text, 0);
}
void TObuFields::SetBlobData(int Index, std::string_view Bytes) {
  SetSlot(Index, Bytes, kBlobBit);
}
void TObuFields::SetNull(int Index) {
  SetSlot(Index, {}, kNullBit);
}

void TObuFields::SetSlot(int Index, std::string_view Bytes, uint32_t Flags) {
  if (Index < 0 || Index >= Count()) throw std::out_of_range("field index out of range");
  const size_t begin = SlotBegin(Index), end = SlotEnd(Index);
  if (FData.size() - (end - begin) + Bytes.size() > kEndMask)
    throw std::length_error("record too large");
  FData.replace(begin, end - begin, Bytes);
  const int64_t delta = static_cast<int64_t>(Bytes.size()) - static_cast<int64_t>(end - begin);
  for (size_t i = static_cast<size_t>(Index); i < FEnds.size(); ++i) {
    uint32_t flags = FEnds[i] & ~kEndMask;
    uint32_t pos = static_cast<uint32_t>((FEnds[i] & kEndMask) + delta);
    if (i == static_cast<size_t>(Index)) flags = Flags;
    FEnds[i] = pos | flags;
  }
}

void TObuFields::BeginValues() {
  FData.clear();
  FPushed = 0;
}

void TObuFields::PushSlot(std::string_view Bytes, uint32_t Flags) {
  if (FPushed >= FEnds.size()) throw std::out_of_range("more values than fields");
  if (FData.size() + Bytes.size() > kEndMask) throw std::length_error("record too large");
  FData.append(Bytes);
  FEnds[FPushed++] = static_cast<uint32_t>(FData.size()) | Flags;
}

TObuFieldRef TObuFields::GetItem(int Index) const {
  const TObuColumn& c = Column(Index);
  return {c.Size, c.FieldName, Value(Index), c.DataType, c.IsKey, BlobData(Index), IsNull(Index)};
}

int TObuFields::IndexOfField(std::string_view Name) const {
  for (int i = 0; i < Count(); ++i) {
    std::string_view n = Column(i).FieldName;
    while (!n.empty() && static_cast<unsigned char>(n.front()) <= ' ')
      n.remove_prefix(1);
    while (!n.empty() && static_cast<unsigned char>(n.back()) <= ' ')
      n.remove_suffix(1);
    if (SameText(n, Name)) return i;
  }
  return -1;
}

TObuFieldRef TObuFields::FieldByName(std::string_view Name) const {
  int i = IndexOfField(Name);
  return i < 0 ? TObuFieldRef{} : GetItem(i);
}

std::string TObuFields::KeyText() const {
  std::string r;
  bool first = true;
  for (int i = 0; i < Count(); ++i) {
    if (!Column(i).IsKey) continue;
    if (!first) r += ':';
    r += Value(i);
    first = false;
  }
  return r;
}

void TObuFields::CheckDates(bool Keys) const {
  for (int i = 0; i < Count(); ++i) {
    const TValueKind kind = ValueKindOf(Column(i).DataType);
    if (kind != TValueKind::Date && kind != TValueKind::DateTime) continue;
    const std::string_view value = Value(i);
    // A value that trims to nothing is written as NULL, unparsed.
    if (!(Keys && Column(i).IsKey) && std::none_of(value.begin(), value.end(), [](char c) {
          return static_cast<unsigned char>(c) > ' ';
        }))
      continue;
    // The statements read a date kind's text as it is (SqlText).
    TDateTime when;
    if (!ParseDateTimeText(value, when)) ParseOrThrow(GetItem(i));
  }
}

void TObuFields::CheckKeysHaveValues() const {
  for (int i = 0; i < Count(); ++i) {
    const TObuColumn& c = Column(i);
    if (!c.IsKey || ValueKindOf(c.DataType) != TValueKind::Plain || !QuoteFor(c.DataType).empty())
      continue;
    if (!Value(i).empty()) continue;
    const std::string key = KeyText();
    throw TConvertError("the key column " + c.FieldName + " holds no value in the row with key '" +
                        key + "'; a row is found by its key only when every key column has one");
  }
}

void TObuFields::CheckTextWithoutNul() const {
  if (FData.find('\0') == std::string::npos) return;  // the usual case, at one look
  for (int i = 0; i < Count(); ++i) {
    if (dbtext::IsBinaryType(Column(i).DataType) || IsNull(i)) continue;
    if (Value(i).find('\0') == std::string_view::npos &&
        BlobData(i).find('\0') == std::string_view::npos)
      continue;
    const std::string key = KeyText();
    throw TConvertError("the value in column " + Column(i).FieldName +
                        (key.empty() ? std::string() : " of the row with key " + key) +
                        " holds a NUL byte, which the destination's text cannot hold");
  }
}

// ---------------------------------------------------------------------------
// TObuFields: statement builders

std::string TObuFields::ValueForStatement(int Index, int DbType, bool ForInsert,
                                          bool BackslashEscapes) const {
  const TObuFieldRef f = GetItem(Index);
  const TValueKind kind = ValueKindOf(f.DataType);
  if (f.IsNull) return "null";
  if ((kind == TValueKind::Date || kind == TValueKind::DateTime) && TrimText(f.Value).empty())
    return "null";
  const std::string lead = ForInsert ? " '" : "'";
  switch (kind) {
    case TValueKind::Date:
      if (IsOracle(DbType)) return " TO_DATE('" + DateText(f) + "','YYYY-MM-DD')";
      if (IsDb2(DbType)) return " TO_DATE('" + DateText(f) + "')";
      return lead + DateText(f) + "'";
    case TValueKind::DateTime:
      // Oracle has no time-of-day type: a time is kept on day zero, the same
      // moment on every run, so that it can be matched as a key.
      if (IsOracle(DbType)) return " TO_DATE('" + DateTimeText(f) + "','YYYY-MM-DD HH24:MI:SS')";
      if (f.DataType == ftTime) {
        if (IsDb2(DbType)) return " TIME('" + TimeText(f) + "')";
        return lead + TimeText(f) + "'";
      }
      if (IsDb2(DbType))
        return (ForInsert && Index > 0 ? " TimeStamp('" : " TIMESTAMP('") + DateTimeText(f) + "')";
      return lead + DateTimeText(f) + "'";
    case TValueKind::LargeObject:
      if (IsOracle(DbType)) return f.HexToRawLiteral();
      if (IsDb2(DbType))
        return f.DataType == ftOraClob ? f.ClobLiteral() : f.BlobLiteral(BackslashEscapes);
      return f.ImageLiteral();
    case TValueKind::Plain:
      break;
  }
  return Literal(QuoteFor(f.DataType), f.SqlText(), BackslashEscapes);
}

// Key terms are built from the Value text even for a NULL, as the key texts
// of the check condition are: a NULL key matches the empty text.
std::string TObuFields::KeyTerm(int Index, int DbType, bool BackslashEscapes) const {
  const TObuFieldRef f = GetItem(Index);
  std::string r(f.FieldName);
  r += '=';
  switch (ValueKindOf(f.DataType)) {
    case TValueKind::Date:
      if (IsOracle(DbType)) return r + " TO_DATE('" + DateText(f) + "','YYYY-MM-DD')";
      if (IsDb2(DbType)) return r + " TO_DATE('" + DateText(f) + "')";
      return r + "'" + DateText(f) + "'";
    case TValueKind::DateTime:
      if (IsOracle(DbType))
        return r + " TO_DATE('" + DateTimeText(f) + "','YYYY-MM-DD HH24:MI:SS')";
      if (f.DataType == ftTime)
        return IsDb2(DbType) ? r + " TIME('" + TimeText(f) + "')" : r + "'" + TimeText(f) + "'";
      if (IsDb2(DbType)) return r + " TIMESTAMP('" + DateTimeText(f) + "')";
      return r + "'" + DateTimeText(f) + "'";
    default:
      return r + Literal(QuoteFor(f.DataType), f.Value, BackslashEscapes);
  }
}

std::string TObuFields::BuildInsertSql(std::string_view Table, int DbType,
                                       bool BackslashEscapes) const {
  std::string names, values;
  for (int i = 0; i < Count(); ++i) {
    if (i > 0) {
      names += ',';
      values += ',';
    }
    names += Column(i).FieldName;
    values += ValueForStatement(i, DbType, true, BackslashEscapes);
  }
  return "insert into " + TrimText(Table) + "(" + names + ")values(" + values + ")";
}

std::string TObuFields::BuildUpdateSql(std::string_view Table, int DbType,
                                       bool BackslashEscapes) const {
  std::string set;
  for (int i = 0; i < Count(); ++i) {
    const TObuColumn& c = Column(i);
    if (c.IsKey) continue;
    if (!set.empty()) set += ',';
    const TValueKind kind = ValueKindOf(c.DataType);
    if (IsNull(i) ||
        ((kind == TValueKind::Date || kind == TValueKind::DateTime) && TrimText(Value(i)).empty()))
      set += " " + c.FieldName + "=null ";
    else
      set += " " + c.FieldName + "=" + ValueForStatement(i, DbType, false, BackslashEscapes);
  }
  std::string where = BuildKeyCondition(DbType, BackslashEscapes);
  std::string r = "update " + std::string(Table) + " set " + set;
  if (!where.empty()) r += " where " + where;
  return r;
}

std::string TObuFields::BuildKeyCondition(int DbType, bool BackslashEscapes) const {
  std::string r;
  for (int i = 0; i < Count(); ++i) {
    if (!Column(i).IsKey) continue;
    if (!r.empty()) r += " and ";
    r += KeyTerm(i, DbType, BackslashEscapes);
  }
  return r;
}

std::string TObuFields::BuildParamKeyCondition() const {
  std::string r;
  for (int i = 0; i < Count(); ++i) {
    const TObuColumn& c = Column(i);
    if (!c.IsKey) continue;
    if (!r.empty()) r += " and ";
    r += c.FieldName + "= :" + c.FieldName;
  }
  return r;
}

std::string TObuFields::BuildParamInsertSql(std::string_view Table) const {
  return BuildParamInsertHead(Table) + BuildParamInsertRow();
}

std::string TObuFields::BuildParamInsertHead(std::string_view Table) const {
  std::string names;
  for (int i = 0; i < Count(); ++i) {
    if (i > 0) names += ',';
    names += Column(i).FieldName;
  }
  return "insert into " + TrimText(Table) + "(" + names + ")values";
}

std::string TObuFields::BuildParamInsertRow() const {
  std::string params;
  for (int i = 0; i < Count(); ++i) {
    if (i > 0) params += ',';
    params += ':' + Column(i).FieldName;
  }
  return "(" + params + ")";
}

std::string TObuFields::BuildParamUpdateSql(std::string_view Table) const {
  std::string set;
  for (int i = 0; i < Count(); ++i) {
    const TObuColumn& c = Column(i);
    if (c.IsKey) continue;
    if (!set.empty()) set += ',';
    set += c.FieldName + "= :" + c.FieldName;
  }
  std::string where = BuildParamKeyCondition();
  std::string r = "update " + std::string(Table) + " set " + set;
  if (!where.empty()) r += " where " + where;
  return r;
}

// ---------------------------------------------------------------------------
// Parameters

void FillParameter(TDbParam& P, const TObuFieldRef& F, bool ForInsert) {
  P.SetDataType(F.DataType);
  P.SetSize(F.Size);
  if (F.IsNull) {
    P.Clear();
    return;
  }
  const TValueKind kind = ValueKindOf(F.DataType);
  if (!ForInsert) {
    P.SetValue(F.Value);
    if (kind == TValueKind::LargeObject)
      P.LoadFromBytes(F.BlobData.data(), F.BlobData.size(), F.DataType);
    return;
  }
  switch (kind) {
    case TValueKind::Date:
    case TValueKind::DateTime:
      if (F.Value.empty())
        P.Clear();
      else
        P.SetValue(F.Value);
      break;
    case TValueKind::LargeObject:
      // Bytes are the value, none at all an empty one.
      P.LoadFromBytes(F.BlobData.data(), F.BlobData.size(), F.DataType);
      break;
    case TValueKind::Plain:
      P.SetValue(F.Value);
      break;
  }
}

void BindKey(TDbParam& P, const TObuFieldRef& F) {
  P.SetDataType(F.DataType);
  P.SetSize(F.Size);
  if (ValueKindOf(F.DataType) == TValueKind::LargeObject)
    P.LoadFromBytes(F.BlobData.data(), F.BlobData.size(), F.DataType);
  else
    P.SetValue(F.Value);
}

}  // namespace kelvor
