// libFuzzer target for the XML reader: the input is a document, read by a
// scanner with every event bound, twice (the second scan skips the DOCTYPE
// read by the first), then once more by a bare parser without normalisation.
// External texts are served from the system literal itself, so the fuzzer
// also drives nested documents. Invariants that must hold for any input abort
// the run when broken.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "xml/uXmlParser.h"
#include "xml/uXmlScanner.h"

namespace {

using namespace kelvor;

void Check(bool Condition) {
  if (!Condition) std::abort();
}

size_t gSink = 0;

void Touch(const std::string& S) {
  gSink += S.size();
}

void WalkAttributes(const TAttrList& List) {
  const TAttr* previous = nullptr;
  for (int i = 0; i < List.Count(); ++i) {
    const TAttr* a = List.Item(i);
    Check(a != nullptr);
    if (previous) Check(previous->Name <= a->Name);
    Check(List.Find(a->Name) != nullptr);
    Touch(a->Name);
    Touch(a->Value);
    previous = a;
  }
  Check(List.Item(List.Count()) == nullptr);
}

void BindAll(TXmlScanner& S) {
  S.PrologEvent = [](TCustomXmlScanner&, const std::string& V, const std::string& E, bool) {
    Touch(V);
    Touch(E);
  };
  S.CommentEvent = [](TCustomXmlScanner&, const std::string& C) { Touch(C); };
  S.InstructionEvent = [](TCustomXmlScanner&, const std::string& T, const std::string& C,
                          const TAttrList& A) {
    Touch(T);
    Touch(C);
    WalkAttributes(A);
  };
  S.DoctypeEvent = [](TCustomXmlScanner&, const std::string& R) { Touch(R); };
  S.StartTagEvent = [](TCustomXmlScanner&, const std::string& N, const TAttrList& A) {
    Touch(N);
    WalkAttributes(A);
  };
  S.EmptyTagEvent = [](TCustomXmlScanner&, const std::string& N, const TAttrList& A) {
    Touch(N);
    WalkAttributes(A);
  };
  S.EndTagEvent = [](TCustomXmlScanner&, const std::string& N) { Touch(N); };
  S.TextEvent = [](TCustomXmlScanner& Sender, const std::string& T) {
    Check(!T.empty());
    if (Sender.XmlParser().Normalize) {
      Check(T.front() != ' ' && T.back() != ' ');
      Check(T.find("  ") == std::string::npos);
    }
    Touch(T);
  };
  S.CDataEvent = [](TCustomXmlScanner&, const std::string& T) { Touch(T); };
  S.ElementDeclEvent = [](TCustomXmlScanner&, const TElemDef& D) {
    Touch(D.Name);
    Touch(D.Value);
  };
  S.AttListDeclEvent = [](TCustomXmlScanner&, const TAttrDef& D) {
    Touch(D.ElementName);
    Touch(D.Value);
  };
  S.EntityDeclEvent = [](TCustomXmlScanner&, const TEntityDef& D) {
    Touch(D.Name);
    Touch(D.Value);
  };
  S.NotationDeclEvent = [](TCustomXmlScanner&, const TNotationDef& D) {
    Touch(D.ExternalId.SystemId);
  };
  S.DtdErrorEvent = [](TCustomXmlScanner&, const char* P) {
    Check(P != nullptr);
    gSink += static_cast<unsigned char>(*P);
  };
  S.ExternalEvent = [](TCustomXmlScanner&, const std::string& System, const std::string&,
                       TExternalKind) -> std::unique_ptr<TXmlParser> {
    if (System.empty()) return nullptr;
    auto p = std::make_unique<TXmlParser>();
    p->LoadFromText(System);
    return p;
  };
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const char* doc = reinterpret_cast<const char*>(Data);

  TXmlScanner scanner;
  BindAll(scanner);
  scanner.LoadFromBuffer(doc, Size);
  const std::string& buffer = scanner.XmlParser().Buffer();
  Check(buffer.size() <= Size && buffer.find('\0') == std::string::npos);
  scanner.Execute();
  scanner.Execute();

  TXmlParser parser;
  parser.Normalize = false;
  parser.LoadFromBuffer(doc, Size);
  while (parser.NextPart()) {
    Check(parser.PartKind() != ptNone);
    Check(parser.PartStart() != nullptr && parser.PartStart() <= parser.PartEnd());
    Check(parser.Nesting().Count() <= TXmlParser::kMaxEntityDepth);
    WalkAttributes(parser.PartAttributes());
  }
  Check(parser.PartKind() == ptNone);

  Touch(Utf8ToWindows1252(std::string_view(doc, Size)));
  return 0;
}
