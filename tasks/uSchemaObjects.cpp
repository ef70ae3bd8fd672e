#include "tasks/uSchemaObjects.h"

#include <cerrno>

#include "platform/Text.h"
#include "platform/TextFile.h"
#include "tasks/uTaskText.h"

namespace kelvor {

// ---------------------------------------------------------------------------
// TFieldMap

void TFieldMap::ParseLine(std::string_view Line) {
  size_t colon = Line.find(':');
  if (colon == std::string_view::npos) return;
  auto strip = [](std::string_view s) {
    std::string r;
    r.reserve(s.size());
    for (char c : s)
      if (c != '<' && c != '>') r.push_back(c);
    return TrimText(r);
  };
  Src = strip(Line.substr(0, colon));
  std::string rest = strip(Line.substr(colon + 1));

  std::vector<std::string> parts;
  if (!rest.empty()) {
    size_t start = 0;
    for (;;) {
      size_t bar = rest.find('|', start);
      if (bar == std::string::npos) {
        if (start < rest.size()) parts.push_back(rest.substr(start));
        break;
      }
      parts.push_back(rest.substr(start, bar - start));
      start = bar + 1;
    }
  }
  Dst = parts.empty() ? rest : parts[0];
  if (parts.size() > 1) FieldType = parts[1];
  if (parts.size() > 2) {
    FieldLen = 0;
    int32_t len;
    if (TryStrToInt(parts[2], len)) FieldLen = len;
  }
  if (parts.size() > 3) IsKey = LowerCase(parts[3]) == "true";
}

std::string TFieldMap::ToLine() const {
  return "<" + Src + ">:<" + Dst + "|" + (FieldType.empty() ? std::string("varchar2") : FieldType) +
         "|" + std::to_string(FieldLen) + "|" + BoolToText(IsKey) + ">";
}

std::string TFieldMap::ToXml() const {
  return "<field src= \"" + EscapeAttributeValue(Src) + "\" dst =\"" + EscapeAttributeValue(Dst) +
         "\"  fieldtype=\"" + EscapeAttributeValue(FieldType) + "\" fieldlen=\"" +
         std::to_string(FieldLen) + "\" iskey=\"" + BoolToText(IsKey) + "\" ></field>";
}

// ---------------------------------------------------------------------------
// TFieldMapCollections

void TFieldMapCollections::Add(std::unique_ptr<TFieldMap> Entry) {
  if (Entry) Items.push_back(std::move(Entry));
}

void TFieldMapCollections::Clear() {
  Items.clear();
}

TFieldMap* TFieldMapCollections::GetItem(int Index) const {
  if (Index < 0 || Index >= Count()) return nullptr;
  return Items[static_cast<size_t>(Index)].get();
}

void TFieldMapCollections::SetFieldMapText(std::string_view Text) {
  std::vector<std::string> lines = SplitLines(Text);
  if (lines.empty()) return;
  Clear();
  for (const auto& line : lines) {
    if (line.empty()) continue;
    auto entry = std::make_unique<TFieldMap>();
    entry->ParseLine(line);
    Add(std::move(entry));
  }
}

std::string TFieldMapCollections::GetFieldMapText() const {
  std::string r;
  for (const auto& e : Items) {
    r += e->ToLine();
    r += "\r\n";
  }
  return r;
}

std::string TFieldMapCollections::MapsToXml() const {
  std::string r;
  r += "  <maps namespace = \"" + EscapeAttributeValue(Namespace) + "\" >\r\n";
  const std::string exact = ExactCommandAttribute(Command);
  r += "    <script command=\"" + CommandAttribute(Command) + "\"" +
       (exact.empty() ? std::string() : " commandtext=\"" + exact + "\"") + " validationsrc=\"" +
       EscapeAttributeValue(ValidationSrc) + "\" validationdst=\"" +
       EscapeAttributeValue(ValidationDst) + "\" ></script>\r\n";
  r += "    <dst_table name=\"" + EscapeAttributeValue(DstTable) + "\" operationtype=\"" +
       std::to_string(OperationType) + "\" ></dst_table>\r\n";
  r += "    <fields count=\"" + std::to_string(Count()) + "\" >\r\n";
  for (const auto& e : Items)
    r += "      " + e->ToXml() + "\r\n";
  r += "    </fields>\r\n";
  r += "  </maps>\r\n";
  return r;
}

std::string TFieldMapCollections::EncodeScript(std::string_view Text) {
  return ReplaceAll(ReplaceAll(ReplaceAll(Text, "<", "&lt"), ">", "&gt"), "\"", "&qt");
}

std::string TFieldMapCollections::DecodeScript(std::string_view Text) {
  return ReplaceAll(ReplaceAll(ReplaceAll(Text, "&lt", "<"), "&gt", ">"), "&qt", "\"");
}

std::string TFieldMapCollections::EscapeXml(std::string_view Text) {
  std::string r = ReplaceAll(Text, "\"", "&nbsp;");
  r = ReplaceAll(r, "<", "&lt;");
  r = ReplaceAll(r, ">", "&gt;");
  return ReplaceAll(r, "\r\n", "&nsp;&nsp;");
}

std::string TFieldMapCollections::UnescapeXml(std::string_view Text) {
  std::string r = ReplaceAll(Text, "&nbsp;", "\"");
  r = ReplaceAll(r, "&lt;", "<");
  r = ReplaceAll(r, "&gt;", ">");
  return ReplaceAll(r, "&nsp;&nsp;", "\r\n");
}

std::string TFieldMapCollections::CommandAttribute(std::string_view Command) {
  // A byte 0 written as it is would end the document there.
  return ReplaceAll(EscapeXml(EncodeScript(Command)), std::string_view("\0", 1), "&#0;");
}

std::string TFieldMapCollections::CommandFromAttribute(std::string_view Value) {
  return DecodeScript(EncodeScript(UnescapeXml(Value)));
}

std::string TFieldMapCollections::ExactCommandAttribute(std::string_view Command) {
  if (CommandFromAttribute(ReadBackAttributeValue(CommandAttribute(Command))) == Command)
    return std::string();
  return EscapeAttributeValueExactly(Command);
}

std::string TFieldMapCollections::CommandFromAttributes(std::string_view CommandValue,
                                                        const std::string* ExactValue) {
  if (ExactValue && ReadBackAttributeValue(CommandAttribute(*ExactValue)) == CommandValue)
    return *ExactValue;
  return CommandFromAttribute(CommandValue);
}

}  // namespace kelvor
