// The field type codes of the data access layer. The same codes describe a
// result column, a statement parameter and an in-memory field value; task
// files never store them. Values 0 to 37 in this order.
#pragma once

#include <cstdint>

namespace kelvor {

enum TFieldType : uint8_t {
  ftUnknown = 0,
  ftString,
  ftSmallint,
  ftInteger,
  ftWord,
  ftBoolean,
  ftFloat,
  ftCurrency,
  ftBCD,
  ftDate,
  ftTime,
  ftDateTime,
  ftBytes,
  ftVarBytes,
  ftAutoInc,
  ftBlob,
  ftMemo,
  ftGraphic,
  ftFmtMemo,
  ftParadoxOle,
  ftDBaseOle,
  ftTypedBinary,
  ftCursor,
  ftFixedChar,
  ftWideString,
  ftLargeint,
  ftADT,
  ftArray,
  ftReference,
  ftDataSet,
  ftOraBlob,
  ftOraClob,
  ftVariant,
  ftInterface,
  ftIDispatch,
  ftGuid,
  ftTimeStamp,
  ftFMTBcd,
};

// How the statement builders treat a value of a given code.
enum class TValueKind { Plain, Date, DateTime, LargeObject };

constexpr TValueKind ValueKindOf(TFieldType Type) {
  switch (Type) {
    case ftDate:
      return TValueKind::Date;
    case ftTime:
    case ftDateTime:
    case ftTimeStamp:
      return TValueKind::DateTime;
    case ftBlob:
    case ftGraphic:
    case ftOraBlob:
    case ftOraClob:
      return TValueKind::LargeObject;
    default:
      return TValueKind::Plain;
  }
}

// The code's name as written above ("ftInteger"), for messages.
constexpr const char* FieldTypeName(TFieldType Type) {
  constexpr const char* kNames[] = {
      "ftUnknown",    "ftString",     "ftSmallint", "ftInteger",     "ftWord",      "ftBoolean",
      "ftFloat",      "ftCurrency",   "ftBCD",      "ftDate",        "ftTime",      "ftDateTime",
      "ftBytes",      "ftVarBytes",   "ftAutoInc",  "ftBlob",        "ftMemo",      "ftGraphic",
      "ftFmtMemo",    "ftParadoxOle", "ftDBaseOle", "ftTypedBinary", "ftCursor",    "ftFixedChar",
      "ftWideString", "ftLargeint",   "ftADT",      "ftArray",       "ftReference", "ftDataSet",
      "ftOraBlob",    "ftOraClob",    "ftVariant",  "ftInterface",   "ftIDispatch", "ftGuid",
      "ftTimeStamp",  "ftFMTBcd"};
  return Type <= ftFMTBcd ? kNames[Type] : "ftUnknown";
}

}  // namespace kelvor
