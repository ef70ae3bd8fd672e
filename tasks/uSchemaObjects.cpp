#include "tasks/uSchemaObjects.h"

#include <cerrno>
#include <climits>

#include "platform/TextFile.h"
#include "tasks/uTaskText.h"

namespace kelvor {

std::string ReplaceAll(std::string_view Text, std::string_view From, std::string_view To) {
  std::string r;
  if (From.empty()) return std::string(Text);
  r.reserve(Text.size());
  size_t pos = 0;
  for (;;) {
    size_t hit = Text.find(From, pos);
    if (hit == std::string_view::npos) break;
    r.append(Text.substr(pos, hit - pos));
    r.append(To);
    pos = hit + From.size();
  }
  r.append(Text.substr(pos));
  return r;
}

std::string TrimText(std::string_view Text) {
  size_t b = 0, e = Text.size();
  while (b < e && static_cast<unsigned char>(Text[b]) <= ' ')
    ++b;
  while (e > b && static_cast<unsigned char>(Text[e - 1]) <= ' ')
    --e;
  return std::string(Text.substr(b, e - b));
}

std::string TrimBlanks(std::string_view Text) {
  size_t b = 0, e = Text.size();
  while (b < e && Text[b] == ' ')
    ++b;
  while (e > b && Text[e - 1] == ' ')
    --e;
  return std::string(Text.substr(b, e - b));
}

std::string LowerCase(std::string_view Text) {
  std::string r(Text);
  for (char& c : r)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return r;
}

std::string UpperCase(std::string_view Text) {
  std::string r(Text);
  for (char& c : r)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return r;
}

bool SameText(std::string_view A, std::string_view B) {
  if (A.size() != B.size()) return false;
  for (size_t i = 0; i < A.size(); ++i) {
    char a = A[i], b = B[i];
    if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
    if (b >= 'A' && b <= 'Z') b = static_cast<char>(b - 'A' + 'a');
    if (a != b) return false;
  }
  return true;
}

bool TryStrToInt(std::string_view Text, int32_t& Value) {
  size_t i = 0;
  bool negative = false;
  if (i < Text.size() && (Text[i] == '-' || Text[i] == '+')) negative = Text[i++] == '-';
  if (i == Text.size()) return false;
  int64_t v = 0;
  for (; i < Text.size(); ++i) {
    char c = Text[i];
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
    if (v > static_cast<int64_t>(INT32_MAX) + 1) return false;
  }
  if (negative) v = -v;
  if (v > INT32_MAX || v < INT32_MIN) return false;
  Value = static_cast<int32_t>(v);
  return true;
}

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
