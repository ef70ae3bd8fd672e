// In-memory field values and the SQL text built from them.
//
// TObuField is one standalone value (a template column, a test value).
// TObuFields is one record: its columns (name, type, size, key flag) are
// shared by every record cloned from the same template, and its values are
// kept back to back in one buffer, so a source table held in memory costs
// little more than its text. TObuFieldRef is a read-only view of one field of
// a record; it stays valid until that record is changed or destroyed.
//
// Every value is either NULL or a text (for large objects: bytes), and the
// two are never confused: a NULL has an empty Value, but an empty Value is
// not a NULL. Literal statements write a NULL as the keyword null; the key
// texts (KeyText, the key terms of a condition) use the Value text, so a NULL
// key reads there as the empty text.
//
// The builders return the exact statement texts a destination receives for
// its database type code (0 Oracle, 1 SQL Server, 2 Access, 3 ODBC, 4 DB2).
// Quoted literals double their quotes and, with BackslashEscapes (for a
// database that reads a backslash as an escape, TDbConnection says which),
// their backslashes, so that no value can end its literal early. The
// parameterised texts name every value, keys included, as a ":name"
// placeholder. They throw TConvertError when a date or date-time value does
// not parse.
// Not thread-safe: records belong to the run that read them.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "db/FieldType.h"

namespace kelvor {

class TDbParam;

// A value that cannot be converted (a date that does not parse). The message
// names the column and the value.
class TConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The quote mark a value of this type is written between: "'" or empty.
std::string_view QuoteFor(TFieldType Type);

// Read-only view of one field.
struct TObuFieldRef {
  uint32_t Size = 0;
  std::string_view FieldName;
  std::string_view Value;
  TFieldType DataType = ftUnknown;
  bool IsKey = false;
  std::string_view BlobData;
  bool IsNull = false;

  // The value text used in literal statements (a NULL gives what an empty
  // value gives; the builders write the keyword null instead).
  std::string SqlText() const;
  // Literal texts of the large-object bytes.
  std::string HexToRawLiteral() const;
  std::string ImageLiteral() const;
  std::string BlobLiteral(bool BackslashEscapes = false) const;
  std::string ClobLiteral() const;
};

// One standalone field value.
class TObuField {
 public:
  uint32_t Size = 0;
  std::string FieldName;
  std::string Value;
  TFieldType DataType = ftUnknown;
  bool IsKey = false;
  std::string BlobData;  // bytes of a large-object value
  bool IsNull = false;   // no value at all; Value and BlobData are then empty

  TObuFieldRef View() const { return {Size, FieldName, Value, DataType, IsKey, BlobData, IsNull}; }
  std::unique_ptr<TObuField> Clone() const { return std::make_unique<TObuField>(*this); }
  std::string SqlText() const { return View().SqlText(); }
  std::string HexToRawLiteral() const { return View().HexToRawLiteral(); }
  std::string ImageLiteral() const { return View().ImageLiteral(); }
  std::string BlobLiteral() const { return View().BlobLiteral(); }
  std::string ClobLiteral() const { return View().ClobLiteral(); }
};

// The column part of a field, shared by all records of one template.
struct TObuColumn {
  std::string FieldName;
  uint32_t Size = 0;
  TFieldType DataType = ftUnknown;
  bool IsKey = false;
};

// One record: the fields of one source row, in field map order.
class TObuFields {
 public:
  TObuFields();

  // Appends a field (its column and its value). A large-object field holds
  // bytes, an empty set of them when it has neither bytes nor a value text.
  void Add(const TObuField& Field);
  void Add(std::unique_ptr<TObuField> Field) { Add(*Field); }
  void Clear();
  int Count() const { return static_cast<int>(FColumns->size()); }
  TObuFieldRef GetItem(int Index) const;

  const TObuColumn& Column(int Index) const { return (*FColumns)[static_cast<size_t>(Index)]; }
  std::string_view Value(int Index) const;
  std::string_view BlobData(int Index) const;
  bool IsNull(int Index) const { return FEnds[static_cast<size_t>(Index)] & kNullBit; }
  // Sets the value text (the field then holds no large-object bytes).
  void SetValue(int Index, std::string_view Text);
  // Sets the large-object bytes (the field's value text is then empty).
  void SetBlobData(int Index, std::string_view Bytes);
  // Makes the field NULL: no text, no bytes.
  void SetNull(int Index);
  // Gives every field a new value at once, in field order: BeginValues, then
  // one Push per field from the first to the last. Cheaper than a Set per
  // field, which moves the values after it; until the last field is pushed
  // the record must not be read.
  void BeginValues();
  void PushValue(std::string_view Text) { PushSlot(Text, 0); }
  void PushBlobData(std::string_view Bytes) { PushSlot(Bytes, kBlobBit); }
  void PushNull() { PushSlot({}, kNullBit); }

  // Index of the first field whose name, trimmed, equals Name ignoring ASCII
  // case; -1 when none does.
  int IndexOfField(std::string_view Name) const;
  // That field, or the spare field (no name, size 0, empty value).
  TObuFieldRef FieldByName(std::string_view Name) const;

  // A new record with the same columns and values.
  TObuFields CloneRecord() const { return *this; }

  std::string BuildInsertSql(std::string_view Table, int DbType,
                             bool BackslashEscapes = false) const;
  std::string BuildUpdateSql(std::string_view Table, int DbType,
                             bool BackslashEscapes = false) const;
  std::string BuildKeyCondition(int DbType, bool BackslashEscapes = false) const;
  std::string BuildParamInsertSql(std::string_view Table) const;
  // The two parts of that text: "insert into T(a,b)values" and "(:a,:b)".
  std::string BuildParamInsertHead(std::string_view Table) const;
  std::string BuildParamInsertRow() const;
  // "update T set a= :a,b= :b where k= :k": the text is the same for every
  // record of a layout, so it is compiled once per run.
  std::string BuildParamUpdateSql(std::string_view Table) const;
  // The key terms with placeholders: "k= :k and j= :j".
  std::string BuildParamKeyCondition() const;
  // The key values joined with ":" (the form the check condition's keys take).
  std::string KeyText() const;
  // Throws TConvertError where the builders would: a non-empty date or
  // date-time value that does not parse, and, with Keys, any date or
  // date-time key value that does not parse (an empty one included).
  void CheckDates(bool Keys) const;
  // Throws TConvertError naming the column when a key of a type written
  // without quote marks (a number, a boolean) has no value: the key term
  // would read "k=" and find no row on any database.
  void CheckKeysHaveValues() const;
  // Throws TConvertError naming the column (and the row's key) when a value
  // of a type other than raw bytes holds a NUL byte: for destinations whose
  // text types cannot hold one.
  void CheckTextWithoutNul() const;

  // Identifies the column layout; records cloned from one template share it.
  const void* LayoutId() const { return FColumns.get(); }
  // The layout itself: held, it keeps LayoutId from naming another layout.
  std::shared_ptr<const void> Layout() const { return FColumns; }

  // Bytes of value text and large-object data held (for memory accounting).
  size_t DataBytes() const { return FData.size(); }

 private:
  void SetSlot(int Index, std::string_view Bytes, uint32_t Flags);
  void PushSlot(std::string_view Bytes, uint32_t Flags);
  size_t SlotBegin(int Index) const;
  size_t SlotEnd(int Index) const { return FEnds[static_cast<size_t>(Index)] & kEndMask; }
  bool SlotIsBlob(int Index) const { return FEnds[static_cast<size_t>(Index)] & kBlobBit; }
  std::string ValueForStatement(int Index, int DbType, bool ForInsert, bool BackslashEscapes) const;
  std::string KeyTerm(int Index, int DbType, bool BackslashEscapes) const;

  // The two flags of a slot live in the top bits of its end offset, so the
  // null state costs no memory of its own (a record holds up to 1 GiB).
  static constexpr uint32_t kBlobBit = 0x80000000u;
  static constexpr uint32_t kNullBit = 0x40000000u;
  static constexpr uint32_t kEndMask = 0x3fffffffu;

  std::shared_ptr<std::vector<TObuColumn>> FColumns;  // copy-on-write when shared
  std::string FData;                                  // the values back to back
  // End offset of each slot; kBlobBit marks bytes, kNullBit a NULL.
  std::vector<uint32_t> FEnds;
  size_t FPushed = 0;  // fields given a value since BeginValues
};

// A field's value as a statement parameter of the parameterised texts:
// ForInsert by the INSERT's rules (a date kind without a value text is NULL,
// a large object is its bytes), else by those of the UPDATE's SET part.
void FillParameter(TDbParam& P, const TObuFieldRef& F, bool ForInsert);
// A key value as the key comparison takes it: with its type, and with its
// text even when the field is NULL, since a key term reads a NULL as the
// empty text (a NULL key finds the row whose key is '').
void BindKey(TDbParam& P, const TObuFieldRef& F);

}  // namespace kelvor
