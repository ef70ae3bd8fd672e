// The field map of a task: destination table, operation type, command and
// validation scripts, and the ordered source-to-destination column pairs.
//
// TFieldMapCollections owns its TFieldMap entries. The command is kept exactly
// as written, so the SQL that runs is the SQL the operator wrote, whatever
// entity-like text it holds. ValidationSrc and ValidationDst are kept in
// their stored (encoded) form and read through the getters, which decode.
// Not thread-safe: a field map belongs to its task record and is changed on
// the window thread only, while no run uses it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kelvor {

// One source column paired with one destination column.
class TFieldMap {
 public:
  std::string Src;        // source column, as the SELECT names it
  std::string Dst;        // destination column
  std::string FieldType;  // type text; shown and stored, not used by a run
  int32_t FieldLen = 0;   // length handed to the engine with the column
  bool IsKey = false;     // part of the key that identifies a destination row

  // Fills the entry from one line of the text form
  // "<Src>:<Dst|type|length|key>". A line without ":" leaves it unchanged.
  void ParseLine(std::string_view Line);
  // The text form; an empty FieldType is written as "varchar2".
  std::string ToLine() const;
  // The entry's <field ...> line of the task file, without indent or line end.
  std::string ToXml() const;
};

class TFieldMapCollections {
 public:
  std::string Namespace;      // read from the task file, written back unchanged
  std::string DstTable;       // destination table
  int32_t OperationType = 0;  // 0 insert .. 5 mirror

  void Add(std::unique_ptr<TFieldMap> Entry);
  void Clear();
  int Count() const { return static_cast<int>(Items.size()); }
  // The entry at Index, or nullptr when the index is out of range.
  TFieldMap* GetItem(int Index) const;

  void SetCommand(std::string_view Text) { Command = Text; }
  std::string GetCommand() const { return Command; }
  void SetValidationSrc(std::string_view Text) { ValidationSrc = EncodeScript(Text); }
  std::string GetValidationSrc() const { return DecodeScript(ValidationSrc); }
  void SetValidationDst(std::string_view Text) { ValidationDst = EncodeScript(Text); }
  std::string GetValidationDst() const { return DecodeScript(ValidationDst); }
  // The stored forms, as written to the task file.
  std::string StoredCommand() const { return EncodeScript(Command); }
  const std::string& StoredValidationSrc() const { return ValidationSrc; }
  const std::string& StoredValidationDst() const { return ValidationDst; }

  // Replaces the field map from lines of the text form. A text without lines
  // keeps the map; otherwise every non-empty line becomes one entry.
  void SetFieldMapText(std::string_view Text);
  // ToLine of every entry, each followed by CR LF.
  std::string GetFieldMapText() const;

  // The maps fragment of the task file (from "  <maps" to "  </maps>"), each
  // line ended by CR LF.
  std::string MapsToXml() const;

  // Stored form: "<" -> "&lt", ">" -> "&gt", '"' -> "&qt" (no semicolons).
  static std::string EncodeScript(std::string_view Text);
  static std::string DecodeScript(std::string_view Text);
  // Escaping of the stored command for the task file's command attribute.
  static std::string EscapeXml(std::string_view Text);
  static std::string UnescapeXml(std::string_view Text);

  // The command attribute of the task file, as every installation writes
  // it: EscapeXml of the stored form. Not every command survives it (entity
  // references, "&lt" letters, tabs and lone line breaks change on the way).
  static std::string CommandAttribute(std::string_view Command);
  // What a command attribute means, given its value as the reader hands it
  // over (references already resolved): the inverse of the above wherever
  // one exists, and the meaning files of other installations have always had.
  static std::string CommandFromAttribute(std::string_view Value);
  // The exact command attribute, written beside the command attribute only
  // for a command that the latter does not bring back byte for byte; empty
  // when none is needed. Other installations ignore it and read the command
  // attribute as ever.
  static std::string ExactCommandAttribute(std::string_view Command);
  // The command a script element carries: CommandValue and ExactValue as the
  // reader hands them over (ExactValue null when absent). The exact value
  // counts only while the command attribute is still the one written with
  // it, so a command edited by hand in the file is never overruled.
  static std::string CommandFromAttributes(std::string_view CommandValue,
                                           const std::string* ExactValue);

 private:
  std::string Command;
  std::string ValidationSrc;
  std::string ValidationDst;
  std::vector<std::unique_ptr<TFieldMap>> Items;
};

}  // namespace kelvor
