// The DOCTYPE part: root name, external identifier and internal subset, with
// element, attribute-list, entity and notation declarations recorded.
#include <cstring>

#include "xml/uXmlParser.h"
#include "xml/uXmlParserText.h"

namespace kelvor {

using xmltext::IsWhite;
using xmltext::SkipWhite;
using xmltext::StartsWith;

namespace {

bool IsQuote(char C) {
  return C == '"' || C == '\'';
}

// Position of the ">" that closes a declaration, skipping quoted strings
// (which may hold ">"); End when there is none.
const char* FindDeclEnd(const char* P, const char* End) {
  while (P < End) {
    if (*P == '>') return P;
    if (IsQuote(*P)) {
      const void* q = std::memchr(P + 1, *P, static_cast<size_t>(End - P - 1));
      if (!q) return End;
      P = static_cast<const char*>(q) + 1;
      continue;
    }
    ++P;
  }
  return End;
}

const char* After(const char* Close, const char* End) {
  return Close < End ? Close + 1 : End;
}

// A quoted literal at P; a literal left open runs to End.
const char* ReadLiteral(const char* P, const char* End, std::string& Out) {
  Out.clear();
  if (P >= End || !IsQuote(*P)) return P;
  const void* q = std::memchr(P + 1, *P, static_cast<size_t>(End - P - 1));
  const char* e = q ? static_cast<const char*>(q) : End;
  Out.assign(P + 1, e);
  return After(e, End);
}

const char* ReadExternalId(const char* P, const char* End, TExternalID& Id) {
  if (StartsWith(P, End, "SYSTEM")) {
    P = SkipWhite(P + 6, End);
    return ReadLiteral(P, End, Id.SystemId);
  }
  if (StartsWith(P, End, "PUBLIC")) {
    P = SkipWhite(P + 6, End);
    P = ReadLiteral(P, End, Id.PublicId);
    const char* s = SkipWhite(P, End);
    if (s < End && IsQuote(*s)) P = ReadLiteral(s, End, Id.SystemId);
  }
  return P;
}

bool IsOneOf(char C, std::string_view Set) {
  return Set.find(C) != std::string_view::npos;
}

// Up to the next white space, ">" or any of Stops.
const char* ReadToken(const char* P, const char* End, std::string_view Stops) {
  while (P < End && !IsWhite(*P) && *P != '>' && !IsOneOf(*P, Stops))
    ++P;
  return P;
}

std::string Trimmed(const char* B, const char* E) {
  while (B < E && IsWhite(*B))
    ++B;
  while (E > B && IsWhite(E[-1]))
    --E;
  return std::string(B, E);
}

bool AttrTypeFromWord(std::string_view Word, TAttrType& Type) {
  static const std::pair<std::string_view, TAttrType> kTypes[] = {
      {"CDATA", atCData},       {"ID", atId},
      {"IDREF", atIdRef},       {"IDREFS", atIdRefs},
      {"ENTITY", atEntity},     {"ENTITIES", atEntities},
      {"NMTOKEN", atNmToken},   {"NMTOKENS", atNmTokens},
      {"NOTATION", atNotation},
  };
  for (const auto& [w, t] : kTypes) {
    if (w == Word) {
      Type = t;
      return true;
    }
  }
  return false;
}

}  // namespace

void TXmlParser::ParseDoctype() {
  const char* start = FCurr;
  FPartKind = ptDtdc;
  const bool inDocument = FNesting.Count() == 0;
  const size_t offset = inDocument ? static_cast<size_t>(start - FBuffer.data()) : 0;
  if (inDocument) {
    // Read before in this document: skipped, its declarations are known.
    auto it = FDoctypeSpans.find(offset);
    if (it != FDoctypeSpans.end()) {
      FRootName = it->second.Root;
      FPartName = FRootName;
      FPartEnd = FBuffer.data() + it->second.End;
      FPartText.assign(start, FPartEnd);
      FCurr = FPartEnd;
      return;
    }
  }

  const char* p = SkipWhite(start + 9, FEnd);
  const char* name = p;
  p = ReadToken(p, FEnd, "[");
  FRootName.assign(name, p);
  FPartName = FRootName;
  TExternalID external;
  p = ReadExternalId(SkipWhite(p, FEnd), FEnd, external);
  p = SkipWhite(p, FEnd);
  if (p < FEnd && *p == '[') p = ParseDtdSubset(p + 1, FEnd, 0, true);
  p = After(FindDeclEnd(p, FEnd), FEnd);
  FPartEnd = p;
  FPartText.assign(start, p);
  FCurr = p;
  if (inDocument) {
    FDoctypeSpans[offset] = {static_cast<size_t>(p - FBuffer.data()), FRootName};
    FDoctypeEnd = p;
  }
  // The internal subset was read first, so its declarations bind.
  if (!external.Empty()) {
    auto doc = OpenExternal(external.SystemId, external.PublicId, ekDoctype);
    if (doc) ReadExternalDeclarations(std::move(doc), 0);
  }
}

void TXmlParser::ReadExternalDeclarations(std::unique_ptr<TXmlParser> Doc, int Depth) {
  if (!Spend(Doc->FBuffer.size())) return;
  const char* b = Doc->FBuffer.data();
  const char* e = b + Doc->FBuffer.size();
  FExternalDocs.push_back(std::move(Doc));
  ParseDtdSubset(b, e, Depth, false);
}

// Reads declarations up to End, or up to the "]" closing a bracketed subset.
// Recursion (parameter entities) is bounded by kMaxEntityDepth.
const char* TXmlParser::ParseDtdSubset(const char* P, const char* End, int Depth, bool Bracketed) {
  while (P < End) {
    if (IsWhite(*P)) {
      ++P;
      continue;
    }
    const char* start = P;
    if (*P == ']' && Bracketed) return P + 1;
    if (StartsWith(P, End, "<!--")) {
      const char* close = xmltext::Find(P + 4, End, "-->");
      P = close == End ? End : close + 3;
      TDtdObject comment(dkComment);
      comment.Value.assign(start, P);
      comment.Start = start;
      comment.End = P;
      DeclarationFound(comment);
    } else if (StartsWith(P, End, "<?")) {
      const char* close = xmltext::Find(P + 2, End, "?>");
      P = close == End ? End : close + 2;
      TDtdInstruction pi;
      const char* t = start + 2;
      while (t < close && !IsWhite(*t))
        ++t;
      pi.Name.assign(start + 2, t);
      const char* content = SkipWhite(t, close);
      pi.Value.assign(content, close);
      std::vector<TRawAttr> raw;
      ReadAttributeList(content, close, raw);
      FillAttributes(raw, nullptr, false, pi.Attributes);
      pi.Start = start;
      pi.End = P;
      DeclarationFound(pi);
    } else if (StartsWith(P, End, "<!ELEMENT")) {
      P = ParseElementDecl(P, End);
    } else if (StartsWith(P, End, "<!ATTLIST")) {
      P = ParseAttListDecl(P, End);
    } else if (StartsWith(P, End, "<!ENTITY")) {
      P = ParseEntityDecl(P, End);
    } else if (StartsWith(P, End, "<!NOTATION")) {
      P = ParseNotationDecl(P, End);
    } else if (*P == '%') {
      P = ParsePEReference(P, End, Depth);
    } else {
      ReportDtdError(P);
      if (*P == '<') {
        P = After(FindDeclEnd(P + 1, End), End);
      } else {
        ++P;
        while (P < End && *P != '<' && *P != '%' && !(Bracketed && *P == ']'))
          ++P;
      }
    }
  }
  return P;
}

void TXmlParser::ReportDtdError(const char* At) {
  TDtdObject error(dkError);
  error.Start = At;
  error.End = At;
  DeclarationFound(error);
}

TElemDef* TXmlParser::FindOrAddElement(const std::string& Name) {
  if (TElemDef* e = FElementDecls.Find(Name)) return e;
  auto e = std::make_unique<TElemDef>();
  e->Name = Name;
  return FElementDecls.Add(std::move(e));
}

const char* TXmlParser::ParseElementDecl(const char* P, const char* End) {
  const char* start = P;
  const char* p = SkipWhite(P + 9, End);
  const char* name = p;
  p = ReadToken(p, End, "(%");
  const char* close = FindDeclEnd(p, End);
  const char* after = After(close, End);
  if (p == name) {
    ReportDtdError(start);
    return after;
  }
  auto decl = std::make_unique<TElemDef>();
  decl->Name.assign(name, p);
  decl->Value = Trimmed(p, close);
  decl->Start = start;
  decl->End = after;
  const std::string& model = decl->Value;
  if (model == "EMPTY") {
    decl->ElemType = etEmpty;
  } else if (model == "ANY") {
    decl->ElemType = etAny;
  } else if (!model.empty() && model[0] == '(') {
    decl->ElemType = model.find("#PCDATA") != std::string::npos ? etMixed : etChildren;
  } else {
    ReportDtdError(p);
  }

  TElemDef* known = FElementDecls.Find(decl->Name);
  if (!known) {
    DeclarationFound(*FElementDecls.Add(std::move(decl)));
  } else if (known->ElemType == etUndeclared) {
    // Known so far from an attribute-list declaration only.
    known->Value = decl->Value;
    known->ElemType = decl->ElemType;
    known->Start = start;
    known->End = after;
    DeclarationFound(*known);
  } else {
    DeclarationFound(*decl);  // repeated: reported, not recorded
  }
  return after;
}

const char* TXmlParser::ParseAttListDecl(const char* P, const char* End) {
  const char* start = P;
  const char* p = SkipWhite(P + 9, End);
  const char* name = p;
  p = ReadToken(p, End, "");
  const char* close = FindDeclEnd(p, End);
  const char* after = After(close, End);
  if (p == name) {
    ReportDtdError(start);
    return after;
  }
  const std::string elemName(name, p);
  TElemDef* elem = FindOrAddElement(elemName);

  for (;;) {
    p = SkipWhite(p, close);
    if (p >= close) break;
    const char* attName = p;
    while (p < close && !IsWhite(*p))
      ++p;
    auto def = std::make_unique<TAttrDef>();
    def->Name.assign(attName, p);
    def->ElementName = elemName;
    def->Start = start;
    def->End = after;

    p = SkipWhite(p, close);
    if (p < close && *p == '(') {
      const void* rp = std::memchr(p, ')', static_cast<size_t>(close - p));
      const char* e = rp ? static_cast<const char*>(rp) + 1 : close;
      def->AttrType = atEnumeration;
      def->TypeDef.assign(p, e);
      p = e;
    } else {
      const char* w = p;
      while (p < close && !IsWhite(*p) && *p != '(')
        ++p;
      if (!AttrTypeFromWord(std::string_view(w, static_cast<size_t>(p - w)), def->AttrType)) {
        ReportDtdError(w);
        break;
      }
      if (def->AttrType == atNotation) {
        p = SkipWhite(p, close);
        if (p < close && *p == '(') {
          const void* rp = std::memchr(p, ')', static_cast<size_t>(close - p));
          const char* e = rp ? static_cast<const char*>(rp) + 1 : close;
          def->TypeDef.assign(p, e);
          p = e;
        }
      }
    }

    p = SkipWhite(p, close);
    std::string literal;
    if (p < close && *p == '#') {
      const char* w = p;
      while (p < close && !IsWhite(*p) && !IsQuote(*p))
        ++p;
      std::string_view word(w, static_cast<size_t>(p - w));
      if (word == "#REQUIRED") {
        def->DefaultType = adRequired;
      } else if (word == "#IMPLIED") {
        def->DefaultType = adImplied;
      } else if (word == "#FIXED") {
        def->DefaultType = adFixed;
        p = ReadLiteral(SkipWhite(p, close), close, literal);
      } else {
        ReportDtdError(w);
        break;
      }
    } else if (p < close && IsQuote(*p)) {
      def->DefaultType = adDefault;
      p = ReadLiteral(p, close, literal);
    } else {
      ReportDtdError(p);
      break;
    }
    if (def->HasDefault()) def->Value = ProcessAttrValue(literal, def->AttrType);

    if (elem->AttrDefs.Find(def->Name)) {
      DeclarationFound(*def);  // the first definition of a name binds
    } else {
      TAttrDef* kept = elem->AttrDefs.Add(std::move(def));
      if (kept->HasDefault()) elem->Defaults.push_back(kept);
      DeclarationFound(*kept);
    }
  }
  return after;
}

const char* TXmlParser::ParseEntityDecl(const char* P, const char* End) {
  const char* start = P;
  const char* p = SkipWhite(P + 8, End);
  auto def = std::make_unique<TEntityDef>();
  if (p + 1 < End && *p == '%' && IsWhite(p[1])) {
    def->IsParameter = true;
    p = SkipWhite(p + 1, End);
  }
  const char* name = p;
  p = ReadToken(p, End, "\"'");
  def->Name.assign(name, p);
  p = SkipWhite(p, End);
  bool ok = !def->Name.empty();
  if (p < End && IsQuote(*p)) {
    std::string literal;
    p = ReadLiteral(p, End, literal);
    def->Value = ExpandEntityLiteral(literal);
  } else if (StartsWith(p, End, "SYSTEM") || StartsWith(p, End, "PUBLIC")) {
    p = SkipWhite(ReadExternalId(p, End, def->ExternalId), End);
    if (StartsWith(p, End, "NDATA")) {
      p = SkipWhite(p + 5, End);
      const char* n = p;
      p = ReadToken(p, End, "");
      def->NotationName.assign(n, p);
    }
  } else {
    ok = false;
  }
  const char* after = After(FindDeclEnd(p, End), End);
  def->Start = start;
  def->End = after;
  if (!ok) {
    ReportDtdError(start);
    return after;
  }
  TEntityList& list = def->IsParameter ? FParameterEntities : FGeneralEntities;
  if (list.Find(def->Name)) {
    DeclarationFound(*def);  // the first declaration binds
  } else {
    DeclarationFound(*list.Add(std::move(def)));
  }
  return after;
}

const char* TXmlParser::ParseNotationDecl(const char* P, const char* End) {
  const char* start = P;
  const char* p = SkipWhite(P + 10, End);
  auto def = std::make_unique<TNotationDef>();
  const char* name = p;
  p = ReadToken(p, End, "\"'");
  def->Name.assign(name, p);
  p = ReadExternalId(SkipWhite(p, End), End, def->ExternalId);
  const char* after = After(FindDeclEnd(p, End), End);
  def->Start = start;
  def->End = after;
  if (def->Name.empty()) {
    ReportDtdError(start);
    return after;
  }
  if (FNotationDecls.Find(def->Name)) {
    DeclarationFound(*def);
  } else {
    DeclarationFound(*FNotationDecls.Add(std::move(def)));
  }
  return after;
}

const char* TXmlParser::ParsePEReference(const char* P, const char* End, int Depth) {
  const char* name = P + 1;
  const char* q = name;
  while (q < End && *q != ';' && !IsWhite(*q) && !IsOneOf(*q, "<>%]\"'"))
    ++q;
  if (q >= End || *q != ';' || q == name) {
    ReportDtdError(P);
    return P + 1;
  }
  const char* next = q + 1;
  const TEntityDef* pe =
      FParameterEntities.Find(std::string_view(name, static_cast<size_t>(q - name)));
  if (!pe || Depth + 1 >= kMaxEntityDepth ||
      std::find(FActiveParameterEntities.begin(), FActiveParameterEntities.end(), pe) !=
          FActiveParameterEntities.end()) {
    ReportDtdError(P);
    return next;
  }
  if (!pe->IsExternal()) {
    if (!Spend(pe->Value.size())) {
      ReportDtdError(P);
      return next;
    }
    FActiveParameterEntities.push_back(pe);
    ParseDtdSubset(pe->Value.data(), pe->Value.data() + pe->Value.size(), Depth + 1, false);
    FActiveParameterEntities.pop_back();
  } else if (auto doc = OpenExternal(pe->ExternalId.SystemId, pe->ExternalId.PublicId,
                                     ekParameterEntity)) {
    FActiveParameterEntities.push_back(pe);
    ReadExternalDeclarations(std::move(doc), Depth + 1);
    FActiveParameterEntities.pop_back();
  }
  return next;
}

// An entity's literal value: character references and references to
// parameter entities declared so far are replaced (their values are already
// expanded, so nothing is replaced twice); general entity references stay for
// the place the entity is used.
std::string TXmlParser::ExpandEntityLiteral(std::string_view Raw) {
  std::string out;
  out.reserve(Raw.size());
  size_t i = 0;
  for (;;) {
    size_t at = Raw.find_first_of("%&", i);
    if (at == std::string_view::npos) break;
    if (Raw[at] == '&' && (at + 1 >= Raw.size() || Raw[at + 1] != '#')) {
      out.append(Raw.substr(i, at + 1 - i));
      i = at + 1;
      continue;
    }
    size_t semi = Raw.find(';', at + 1);
    if (semi == std::string_view::npos) break;
    out.append(Raw.substr(i, at - i));
    std::string_view name = Raw.substr(at + 1, semi - at - 1);
    i = semi + 1;
    if (Raw[at] == '&') {
      out += xmltext::CharRefByte(name.substr(1), ' ', '\0');
      continue;
    }
    const TEntityDef* pe = FParameterEntities.Find(name);
    if (pe && !pe->IsExternal() && Spend(pe->Value.size())) {
      out.append(pe->Value);
    } else {
      out.append(Raw.substr(at, semi - at + 1));
    }
  }
  out.append(Raw.substr(i));
  return out;
}

}  // namespace kelvor
