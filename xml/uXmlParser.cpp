#include "xml/uXmlParser.h"

#include <cstring>

#include "platform/TextFile.h"
#include "xml/uXmlParserText.h"

namespace kelvor {

using xmltext::CharRefByte;
using xmltext::Find;
using xmltext::IsNameStart;
using xmltext::IsWhite;
using xmltext::PredefinedEntity;
using xmltext::SkipWhite;
using xmltext::StartsWith;

const char* PartKindName(TPartKind Kind) {
  switch (Kind) {
    case ptXmlProlog:
      return "XML Prolog";
    case ptComment:
      return "Comment";
    case ptPI:
      return "PI";
    case ptDtdc:
      return "DTD Declaration";
    case ptStartTag:
      return "Start Tag";
    case ptEmptyTag:
      return "Empty Tag";
    case ptEndTag:
      return "End Tag";
    case ptContent:
      return "Text";
    case ptCData:
      return "CDATA";
    case ptNone:
      break;
  }
  return "";
}

bool TEntityStack::Contains(const TEntityDef* Entity) const {
  for (const auto& n : FItems) {
    if (n.Entity == Entity) return true;
  }
  return false;
}

TEntityStackNode TEntityStack::Pop() {
  TEntityStackNode n = std::move(FItems.back());
  FItems.pop_back();
  return n;
}

TXmlParser::TXmlParser() {
  Rewind();
}

TXmlParser::~TXmlParser() = default;

bool TXmlParser::LoadFromFile(const std::string& Path) {
  std::string data;
  bool ok = ReadWholeFile(Path, data);
  if (!ok) data.clear();
  LoadFromBuffer(data.data(), data.size());
  FSourceName = Path;
  return ok;
}

void TXmlParser::LoadFromBuffer(const char* Data, size_t Size) {
  ResetDocument();
  if (Data && Size > 0) {
    const void* zero = std::memchr(Data, 0, Size);
    size_t n = zero ? static_cast<size_t>(static_cast<const char*>(zero) - Data) : Size;
    FBuffer.assign(Data, n);
  }
  Rewind();
}

void TXmlParser::Clear() {
  ResetDocument();
  Rewind();
}

void TXmlParser::ResetDocument() {
  // The entity stack and the part may point into buffers released below.
  FNesting.Clear();
  ClearPart();
  FBuffer.clear();
  FSourceName.clear();
  FXmlVersion.clear();
  FDeclaredEncoding.clear();
  FStandalone = false;
  FRootName.clear();
  FDoctypeEnd = nullptr;
  FDoctypeSpans.clear();
  FElementDecls.Clear();
  FGeneralEntities.Clear();
  FParameterEntities.Clear();
  FNotationDecls.Clear();
  FExternalDocs.clear();
  FPassDocs.clear();
}

void TXmlParser::Rewind() {
  FNesting.Clear();
  FActiveParameterEntities.clear();
  FCurr = FBuffer.data();
  FEnd = FCurr + FBuffer.size();
  FCurrentEncoding.clear();
  FExpansionLeft = ExpansionLimit();
  FPassDocs.clear();
  ClearPart();
}

void TXmlParser::ClearPart() {
  FPartKind = ptNone;
  FPartName.clear();
  FPartText.clear();
  FPartStart = nullptr;
  FPartEnd = nullptr;
  FPartAttributes.Clear();
  FPartClosed = false;
}

bool TXmlParser::Spend(size_t Bytes) {
  if (Bytes > FExpansionLeft || Bytes + kExpansionCost > FExpansionLeft) return false;
  FExpansionLeft -= Bytes + kExpansionCost;
  return true;
}

void TXmlParser::PopEntity() {
  TEntityStackNode n = FNesting.Pop();
  FCurr = n.ResumeAt;
  FEnd = n.ResumeEnd;
  FCurrentEncoding = std::move(n.Encoding);
  // The part just read may still point into a loaded entity.
  if (n.Document) FPassDocs.push_back(std::move(n.Document));
}

bool TXmlParser::NextPart() {
  for (;;) {
    ClearPart();
    if (FCurr >= FEnd) {
      if (FNesting.Count() == 0) return false;
      PopEntity();
      continue;
    }
    FPartStart = FCurr;
    if (*FCurr != '<') {
      if (ParseText()) return true;
      continue;
    }
    if (StartsWith(FCurr, FEnd, "<?xml") && FEnd - FCurr > 5 && IsWhite(FCurr[5])) {
      ParseProlog();
    } else if (StartsWith(FCurr, FEnd, "<?")) {
      ParsePI();
    } else if (StartsWith(FCurr, FEnd, "<!--")) {
      ParseComment();
    } else if (StartsWith(FCurr, FEnd, "<!DOCTYPE")) {
      ParseDoctype();
    } else if (StartsWith(FCurr, FEnd, "<![CDATA[")) {
      ParseCData();
    } else {
      ParseTag();
    }
    return true;
  }
}

void TXmlParser::ParseProlog() {
  const char* p = FCurr + 5;
  const char* close = Find(p, FEnd, "?>");
  FPartKind = ptXmlProlog;
  FPartName = "xml";
  FPartEnd = close == FEnd ? FEnd : close + 2;
  FCurr = FPartEnd;
  FPartText.assign(SkipWhite(p, close), close);
  std::vector<TRawAttr> raw;
  ReadAttributeList(p, close, raw);
  FillAttributes(raw, nullptr, false, FPartAttributes);

  std::string encoding = FPartAttributes.Value("encoding");
  if (FNesting.Count() == 0) {
    FXmlVersion = FPartAttributes.Value("version");
    FDeclaredEncoding = encoding;
    FStandalone = FPartAttributes.Value("standalone") == "yes";
  }
  if (encoding.empty()) {
    FCurrentEncoding = "UTF-8";
  } else {
    for (char& c : encoding) {
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    FCurrentEncoding = std::move(encoding);
  }
}

void TXmlParser::ParsePI() {
  const char* p = FCurr + 2;
  const char* close = Find(p, FEnd, "?>");
  FPartKind = ptPI;
  FPartEnd = close == FEnd ? FEnd : close + 2;
  FCurr = FPartEnd;
  const char* t = p;
  while (t < close && !IsWhite(*t))
    ++t;
  FPartName.assign(p, t);
  const char* content = SkipWhite(t, close);
  FPartText.assign(content, close);
  std::vector<TRawAttr> raw;
  ReadAttributeList(content, close, raw);
  FillAttributes(raw, nullptr, false, FPartAttributes);
}

void TXmlParser::ParseComment() {
  const char* close = Find(FCurr + 4, FEnd, "-->");
  FPartKind = ptComment;
  FPartEnd = close == FEnd ? FEnd : close + 3;
  FPartText.assign(FCurr, FPartEnd);
  FCurr = FPartEnd;
}

void TXmlParser::ParseCData() {
  const char* p = FCurr + 9;
  const char* close = Find(p, FEnd, "]]>");
  FPartKind = ptCData;
  FPartEnd = close == FEnd ? FEnd : close + 3;
  FCurr = FPartEnd;
  FPartText = ConvertText(std::string_view(p, static_cast<size_t>(close - p)));
}

void TXmlParser::ParseTag() {
  const char* p = FCurr + 1;
  TPartKind kind = ptStartTag;
  if (p < FEnd && *p == '/') {
    kind = ptEndTag;
    ++p;
  }
  const char* name = p;
  while (p < FEnd && !IsWhite(*p) && *p != '/' && *p != '>')
    ++p;
  FPartName.assign(name, p);
  std::vector<TRawAttr> raw;
  p = ReadAttributeList(p, FEnd, raw);
  if (kind == ptStartTag && p < FEnd && *p == '/') kind = ptEmptyTag;
  const void* gt = p < FEnd ? std::memchr(p, '>', static_cast<size_t>(FEnd - p)) : nullptr;
  p = gt ? static_cast<const char*>(gt) + 1 : FEnd;
  FPartKind = kind;
  FPartEnd = p;
  FPartClosed = gt != nullptr;
  FCurr = p;
  // Declared types and defaults belong to the tags that open an element.
  const TElemDef* elem =
      kind != ptEndTag && FElementDecls.Count() > 0 ? FElementDecls.Find(FPartName) : nullptr;
  FillAttributes(raw, elem, true, FPartAttributes);
}

const char* TXmlParser::ReadAttributeList(const char* P, const char* End,
                                          std::vector<TRawAttr>& Out) {
  for (;;) {
    P = SkipWhite(P, End);
    if (P >= End || !IsNameStart(*P)) return P;
    const char* name = P;
    while (P < End && !IsWhite(*P) && *P != '/' && *P != '=' && *P != '>')
      ++P;
    TRawAttr a;
    a.Name = std::string_view(name, static_cast<size_t>(P - name));
    // Whatever stands between the name and "=", and between "=" and the
    // opening quote, is skipped.
    while (P < End && *P != '=')
      ++P;
    if (P < End) ++P;
    while (P < End && *P != '"' && *P != '\'')
      ++P;
    if (P < End) {
      const char quote = *P++;
      const void* close = std::memchr(P, quote, static_cast<size_t>(End - P));
      const char* e = close ? static_cast<const char*>(close) : End;
      a.Value = std::string_view(P, static_cast<size_t>(e - P));
      P = e < End ? e + 1 : End;
    }
    Out.push_back(a);
  }
}

void TXmlParser::FillAttributes(const std::vector<TRawAttr>& Raw, const TElemDef* Elem,
                                bool Process, TAttrList& List) {
  for (const TRawAttr& a : Raw) {
    auto node = std::make_unique<TAttr>(std::string(a.Name), std::string());
    if (Process) {
      const TAttrDef* def = Elem ? Elem->AttrDefs.Find(a.Name) : nullptr;
      if (def) node->AttrType = def->AttrType;
      node->Value = ProcessAttrValue(a.Value, node->AttrType);
    } else {
      node->Value.assign(a.Value);
    }
    List.Append(std::move(node));
  }
  List.SortAppended(0);
  if (!Elem || Elem->Defaults.empty()) return;

  std::vector<std::unique_ptr<TAttr>> defaults;
  for (const TAttrDef* d : Elem->Defaults) {
    if (List.Find(d->Name)) continue;
    if (!Spend(d->Value.size())) break;
    auto node = std::make_unique<TAttr>(d->Name, d->Value);
    node->ValueKind = avDefault;
    node->AttrType = d->AttrType;
    defaults.push_back(std::move(node));
  }
  if (defaults.empty()) return;
  const size_t first = static_cast<size_t>(List.Count());
  for (auto& d : defaults)
    List.Append(std::move(d));
  List.SortAppended(first);
}

std::string TXmlParser::ProcessAttrValue(std::string_view Raw, TAttrType Type) {
  std::string out;
  out.reserve(Raw.size());
  std::vector<const TEntityDef*> active;
  AppendAttrValue(out, Raw, 0, active);
  if (Type != atCData) return xmltext::PackWhite(out);
  return out;
}

// One left-to-right pass: literal runs have their tabs and line breaks turned
// into blanks and pass ConvertText; what a character or predefined reference
// produces goes in as it is and is never looked at again. Only a declared
// entity's replacement text, which is document text, is read the same way.
void TXmlParser::AppendAttrValue(std::string& Out, std::string_view Raw, int Depth,
                                 std::vector<const TEntityDef*>& Active) {
  size_t i = 0;
  for (;;) {
    size_t amp = Raw.find('&', i);
    if (amp == std::string_view::npos) break;
    size_t semi = Raw.find(';', amp + 1);
    if (semi == std::string_view::npos) break;  // the rest stays as written
    AppendLiteral(Out, Raw.substr(i, amp - i));
    std::string_view name = Raw.substr(amp + 1, semi - amp - 1);
    i = semi + 1;
    char c;
    if (!name.empty() && name[0] == '#') {
      Out += CharRefByte(name.substr(1), ' ', '\0');
      continue;
    }
    if (PredefinedEntity(name, c)) {
      Out += c;
      continue;
    }
    const TEntityDef* e = FGeneralEntities.Count() > 0 ? FGeneralEntities.Find(name) : nullptr;
    if (e && e->NotationName.empty() && Depth < kMaxEntityDepth && !FNesting.Contains(e) &&
        std::find(Active.begin(), Active.end(), e) == Active.end()) {
      std::unique_ptr<TXmlParser> doc;
      std::string_view text = e->Value;
      if (e->IsExternal()) {
        doc = OpenExternal(e->ExternalId.SystemId, e->ExternalId.PublicId, ekGeneralEntity);
        text = doc ? std::string_view(doc->FBuffer) : std::string_view();
      }
      if ((!e->IsExternal() || doc) && Spend(text.size())) {
        Active.push_back(e);
        AppendAttrValue(Out, text, Depth + 1, Active);
        Active.pop_back();
        continue;
      }
    }
    Out.append(Raw.substr(amp, semi - amp + 1));
  }
  AppendLiteral(Out, Raw.substr(i));
}

void TXmlParser::AppendLiteral(std::string& Out, std::string_view Raw) {
  if (Raw.empty()) return;
  std::string run(Raw);
  for (char& c : run) {
    if (c == '\t' || c == '\r' || c == '\n') c = ' ';
  }
  Out += ConvertText(run);
}

bool TXmlParser::ParseText() {
  const char* p = FCurr;
  const char* run = p;
  const char* refStart = nullptr;  // set when an entity text was entered
  // The next ';' before the end of this text, found once and reused by every
  // "&" before it so that a run of "&" without ";" is not rescanned.
  const char* semi = nullptr;
  bool semiKnown = false;
  std::string text;

  while (p < FEnd && *p != '<') {
    if (*p != '&') {
      ++p;
      continue;
    }
    if (run < p) text += ConvertText(std::string_view(run, static_cast<size_t>(p - run)));
    if (!semiKnown || (semi && semi <= p)) {
      semi = nullptr;
      for (const char* q = p + 1; q < FEnd && *q != '<'; ++q) {
        if (*q == ';') {
          semi = q;
          break;
        }
      }
      semiKnown = true;
    }
    if (!semi) {  // an "&" with no ";" after it is dropped
      run = ++p;
      continue;
    }
    std::string_view name(p + 1, static_cast<size_t>(semi - p - 1));
    const char* next = semi + 1;
    char c;
    if (!name.empty() && name[0] == '#') {
      text += CharRefByte(name.substr(1), ' ', ' ');
    } else if (PredefinedEntity(name, c)) {
      text += c;
    } else {
      const TEntityDef* e = FGeneralEntities.Count() > 0 ? FGeneralEntities.Find(name) : nullptr;
      bool done = false;
      if (e && e->NotationName.empty() && FNesting.Count() < kMaxEntityDepth &&
          !FNesting.Contains(e)) {
        if (!e->IsExternal()) {
          const std::string& v = e->Value;
          if (v.find_first_of("<&") == std::string::npos) {
            // Plain text: taken into this text part directly.
            if (Spend(v.size())) {
              text += ConvertText(v);
              done = true;
            }
          } else if (Spend(v.size())) {
            FNesting.Push({e, next, FEnd, FCurrentEncoding, nullptr});
            FCurr = v.data();
            FEnd = v.data() + v.size();
            refStart = p;
          }
        } else {
          auto doc = OpenExternal(e->ExternalId.SystemId, e->ExternalId.PublicId, ekGeneralEntity);
          if (doc && Spend(doc->FBuffer.size())) {
            const char* b = doc->FBuffer.data();
            const char* eob = b + doc->FBuffer.size();
            FNesting.Push({e, next, FEnd, FCurrentEncoding, std::move(doc)});
            FCurrentEncoding.clear();
            FCurr = b;
            FEnd = eob;
            refStart = p;
          }
        }
      }
      if (refStart) break;
      if (!done) text.append(name);  // an unknown name gives the bare name
    }
    p = next;
    run = p;
  }

  if (refStart) {
    FPartEnd = refStart;
  } else {
    if (run < p) text += ConvertText(std::string_view(run, static_cast<size_t>(p - run)));
    FPartEnd = p;
    FCurr = p;
  }
  if (Normalize) text = xmltext::PackWhite(text);
  if (text.empty()) return false;
  FPartKind = ptContent;
  FPartText = std::move(text);
  return true;
}

std::unique_ptr<TXmlParser> TXmlParser::OpenExternal(const std::string&, const std::string&,
                                                     TExternalKind) {
  return nullptr;
}

std::string TXmlParser::ConvertText(std::string_view Text) {
  if (FCurrentEncoding == "UTF-8") return Utf8ToWindows1252(Text);
  return std::string(Text);
}

void TXmlParser::DeclarationFound(const TDtdObject&) {}

}  // namespace kelvor
