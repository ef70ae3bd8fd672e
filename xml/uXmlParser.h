// TXmlParser: the lenient XML reader. It holds a whole document in memory and
// walks it part by part (XML declaration, comment, processing instruction,
// DOCTYPE, start/empty/end tag, text, CDATA).
//
// It never validates and never reports a syntax error: what it cannot
// recognise it skips, and a construct left open runs to the end of the
// document. A byte 0 ends the document. References are resolved in one
// left-to-right pass: the text a reference produces is never scanned again,
// except the replacement text of a declared entity, which is document text.
// Entity expansion is bounded in depth and in total size per pass, and no
// step of a pass is quadratic in the input, so hostile documents stay cheap.
// External subsets and external entities are read only through OpenExternal,
// whose default opens nothing: a document never makes the reader open
// another file by itself.
//
// Ownership: a parser owns its document, its current part, the declarations
// read from a DTD and every nested document OpenExternal handed it.
// PartStart/PartEnd and the positions in declarations point into those
// buffers and stay valid until the next load.
// Threads: not thread-safe; one parser is used by one thread at a time.
#pragma once

#include <algorithm>
#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kelvor {

class TXmlParser;

// Kinds of parts; the values are the ones the reader has always used.
enum TPartKind : int {
  ptNone = 0,
  ptXmlProlog = 1,
  ptComment = 2,
  ptPI = 3,
  ptDtdc = 4,
  ptStartTag = 5,
  ptEmptyTag = 6,
  ptEndTag = 7,
  ptContent = 8,
  ptCData = 9,
};
// Display name of a part kind ("XML Prolog", "Start Tag", ...; "" for ptNone).
const char* PartKindName(TPartKind Kind);

// Declared type of an attribute; atCData unless a DTD says otherwise.
enum TAttrType : int {
  atCData,
  atId,
  atIdRef,
  atIdRefs,
  atEntity,
  atEntities,
  atNmToken,
  atNmTokens,
  atEnumeration,
  atNotation,
};
// Where an attribute's value came from.
enum TAttrValueKind : int { avNormal, avDefault };
// Default declaration of an attribute in a DTD.
enum TAttrDefaultType : int { adDefault, adRequired, adImplied, adFixed };
// Content kind of a declared element; etUndeclared for an element known only
// from an attribute-list declaration.
enum TElemType : int { etUndeclared, etEmpty, etAny, etMixed, etChildren };
// What OpenExternal is asked to load.
enum TExternalKind : int { ekDoctype, ekGeneralEntity, ekParameterEntity };
// Kinds of declaration records handed to DeclarationFound.
enum TDtdKind : int { dkElement, dkAttList, dkEntity, dkNotation, dkComment, dkPI, dkError };

// A name/value node.
class TNvpNode {
 public:
  TNvpNode() = default;
  TNvpNode(std::string AName, std::string AValue)
      : Name(std::move(AName)), Value(std::move(AValue)) {}
  virtual ~TNvpNode() = default;

  std::string Name;
  std::string Value;
};

// An attribute of a tag, an XML declaration or a processing instruction.
class TAttr : public TNvpNode {
 public:
  using TNvpNode::TNvpNode;

  TAttrValueKind ValueKind = avNormal;
  TAttrType AttrType = atCData;
};

// A list of owned nodes kept sorted by Name in ascending byte order. A new
// node goes after the last node whose name is smaller, so it lands before
// nodes of an equal name. Find bisects and compares exactly (case-sensitive).
template <class TNode>
class TNodeList {
 public:
  TNodeList() = default;
  virtual ~TNodeList() = default;
  TNodeList(const TNodeList&) = delete;
  TNodeList& operator=(const TNodeList&) = delete;

  int Count() const { return static_cast<int>(FItems.size()); }
  // The node at Index, or nullptr when the index is out of range.
  const TNode* Item(int Index) const {
    return Index >= 0 && Index < Count() ? FItems[static_cast<size_t>(Index)].get() : nullptr;
  }
  // The first node named Name, or nullptr.
  const TNode* Find(std::string_view Name) const {
    auto it = LowerBound(Name);
    return it != FItems.end() && (*it)->Name == Name ? it->get() : nullptr;
  }
  // Value of the first node named Name; empty when there is none.
  std::string Value(std::string_view Name) const {
    const TNode* n = Find(Name);
    return n ? n->Value : std::string();
  }
  void Add(std::unique_ptr<TNode> Node) {
    auto it = LowerBound(Node->Name);
    FItems.insert(it, std::move(Node));
  }
  void Clear() { FItems.clear(); }

  // Range-for over the nodes in list order (each element is a unique_ptr).
  auto begin() const { return FItems.cbegin(); }
  auto end() const { return FItems.cend(); }

 private:
  friend class TXmlParser;

  typename std::vector<std::unique_ptr<TNode>>::const_iterator LowerBound(
      std::string_view Name) const {
    return std::lower_bound(
        FItems.begin(), FItems.end(), Name,
        [](const std::unique_ptr<TNode>& N, std::string_view K) { return N->Name < K; });
  }
  // Bulk insertion for the parser: append in document order, then SortAppended
  // puts the list in the order one Add per node would have given, in
  // O(n log n) instead of O(n^2).
  void Append(std::unique_ptr<TNode> Node) { FItems.push_back(std::move(Node)); }
  void SortAppended(size_t FirstAppended) {
    std::reverse(FItems.begin() + static_cast<std::ptrdiff_t>(FirstAppended), FItems.end());
    std::stable_sort(FItems.begin(), FItems.end(),
                     [](const std::unique_ptr<TNode>& A, const std::unique_ptr<TNode>& B) {
                       return A->Name < B->Name;
                     });
  }

  std::vector<std::unique_ptr<TNode>> FItems;
};

class TNvpList : public TNodeList<TNvpNode> {};
class TAttrList : public TNodeList<TAttr> {};

// Declarations read from a DTD, one per name: the first declaration of a name
// binds and later ones are not recorded. Sorted by name in byte order.
template <class TDecl>
class TDeclList {
 public:
  int Count() const { return static_cast<int>(FItems.size()); }
  const TDecl* Find(std::string_view Name) const {
    auto it = FItems.find(Name);
    return it == FItems.end() ? nullptr : it->second.get();
  }
  TDecl* Find(std::string_view Name) {
    auto it = FItems.find(Name);
    return it == FItems.end() ? nullptr : it->second.get();
  }
  // Takes Decl unless its name is already declared; the recorded object, or
  // nullptr when Decl was refused (and destroyed).
  TDecl* Add(std::unique_ptr<TDecl> Decl) {
    auto [it, added] = FItems.try_emplace(Decl->Name, nullptr);
    if (!added) return nullptr;
    it->second = std::move(Decl);
    return it->second.get();
  }
  void Clear() { FItems.clear(); }
  // Range-for over (name, unique_ptr) pairs in name order.
  auto begin() const { return FItems.cbegin(); }
  auto end() const { return FItems.cend(); }

 private:
  std::map<std::string, std::unique_ptr<TDecl>, std::less<>> FItems;
};

// The SYSTEM and PUBLIC literals of an external subset, entity or notation.
struct TExternalID {
  std::string PublicId;
  std::string SystemId;
  bool Empty() const { return PublicId.empty() && SystemId.empty(); }
};

// Base of every record handed to DeclarationFound. Start and End delimit the
// declaration's bytes in the buffer it was read from; for a declaration read
// inside an external general entity they are valid only until Rewind.
class TDtdObject : public TNvpNode {
 public:
  explicit TDtdObject(TDtdKind AKind) : Kind(AKind) {}
  const TDtdKind Kind;
  const char* Start = nullptr;
  const char* End = nullptr;
};

// <!ENTITY>: Value is the replacement text of an internal entity, with
// character references and parameter-entity references already expanded.
class TEntityDef : public TDtdObject {
 public:
  TEntityDef() : TDtdObject(dkEntity) {}
  bool IsParameter = false;
  TExternalID ExternalId;
  std::string NotationName;  // NDATA: an unparsed entity, never read
  bool IsExternal() const { return !ExternalId.Empty(); }
};

// <!NOTATION>.
class TNotationDef : public TDtdObject {
 public:
  TNotationDef() : TDtdObject(dkNotation) {}
  TExternalID ExternalId;
};

// One attribute definition of an <!ATTLIST>: Name is the attribute, Value its
// default value (already processed like a written value).
class TAttrDef : public TDtdObject {
 public:
  TAttrDef() : TDtdObject(dkAttList) {}
  std::string ElementName;
  TAttrType AttrType = atCData;
  std::string TypeDef;  // the enumeration as written, e.g. "(a|b)"
  TAttrDefaultType DefaultType = adImplied;
  bool HasDefault() const { return DefaultType == adDefault || DefaultType == adFixed; }
};

// <!ELEMENT>: Value is the content model as written; AttrDefs collects the
// element's attribute definitions from every <!ATTLIST> naming it.
class TElemDef : public TDtdObject {
 public:
  TElemDef() : TDtdObject(dkElement) {}
  TElemType ElemType = etUndeclared;
  TDeclList<TAttrDef> AttrDefs;
  std::vector<const TAttrDef*> Defaults;  // the AttrDefs with a default value
};

// A processing instruction inside a DTD (comments arrive as a plain
// TDtdObject of kind dkComment, errors as one of kind dkError).
class TDtdInstruction : public TDtdObject {
 public:
  TDtdInstruction() : TDtdObject(dkPI) {}
  TAttrList Attributes;
};

using TElemList = TDeclList<TElemDef>;
using TEntityList = TDeclList<TEntityDef>;
using TNotationList = TDeclList<TNotationDef>;

// One entity text being read in place of its reference.
struct TEntityStackNode {
  const TEntityDef* Entity = nullptr;
  const char* ResumeAt = nullptr;        // where reading goes on when the text is done
  const char* ResumeEnd = nullptr;       // end of the buffer ResumeAt lies in
  std::string Encoding;                  // CurrentEncoding to restore
  std::unique_ptr<TXmlParser> Document;  // an external entity's loaded document
};

class TEntityStack {
 public:
  int Count() const { return static_cast<int>(FItems.size()); }
  bool Contains(const TEntityDef* Entity) const;
  void Push(TEntityStackNode Node) { FItems.push_back(std::move(Node)); }
  TEntityStackNode Pop();
  void Clear() { FItems.clear(); }

 private:
  std::vector<TEntityStackNode> FItems;
};

class TXmlParser {
 public:
  // Entity texts may nest this deep.
  static constexpr int kMaxEntityDepth = 16;
  // Bytes that entity replacement texts, loaded external texts and attribute
  // defaults may add in one pass: kExpansionFactor times the document's size,
  // at least kMinExpansion. Each expansion also costs kExpansionCost, so that
  // empty ones are bounded too. A reference beyond the limit is read as an
  // undeclared name, and a default beyond it is left out.
  static constexpr size_t kMinExpansion = 1u << 20;
  static constexpr size_t kExpansionFactor = 8;
  static constexpr size_t kExpansionCost = 32;

  TXmlParser();
  virtual ~TXmlParser();
  TXmlParser(const TXmlParser&) = delete;
  TXmlParser& operator=(const TXmlParser&) = delete;

  // Reads the whole file (no lock kept on it); false and an empty document
  // when it cannot be opened or read.
  bool LoadFromFile(const std::string& Path);
  // A document given as bytes; SourceName becomes empty.
  void LoadFromBuffer(const char* Data, size_t Size);
  void LoadFromText(std::string_view Text) { LoadFromBuffer(Text.data(), Text.size()); }
  // Empty document, no declarations.
  void Clear();

  // Back to the start of the document; the current part is cleared.
  void Rewind();
  // Reads the next part; false at the end of the document.
  bool NextPart();

  // The document: bytes up to its first byte 0, followed by one byte 0.
  const std::string& Buffer() const { return FBuffer; }
  const std::string& SourceName() const { return FSourceName; }
  const std::string& XmlVersion() const { return FXmlVersion; }
  const std::string& DeclaredEncoding() const { return FDeclaredEncoding; }
  bool Standalone() const { return FStandalone; }
  // Upper-cased encoding in force; empty until an XML declaration is read.
  const std::string& CurrentEncoding() const { return FCurrentEncoding; }
  const std::string& RootName() const { return FRootName; }
  // One past the end of the document's last DOCTYPE read; nullptr when none.
  const char* DoctypeEnd() const { return FDoctypeEnd; }

  // Text parts are trimmed and their white-space runs packed to one blank.
  bool Normalize = true;

  // The current part. PartStart/PartEnd delimit its bytes ([start, end)) in
  // the buffer it was read from (the document or an entity text).
  TPartKind PartKind() const { return FPartKind; }
  const std::string& PartName() const { return FPartName; }
  const std::string& PartText() const { return FPartText; }
  const char* PartStart() const { return FPartStart; }
  const char* PartEnd() const { return FPartEnd; }
  const TAttrList& PartAttributes() const { return FPartAttributes; }
  // For a tag: whether its closing ">" stood in the document. A tag cut off
  // by the end of the document is still reported, with this false.
  bool PartClosed() const { return FPartClosed; }

  // What a pass may expand in all (see kMinExpansion).
  size_t ExpansionLimit() const {
    return std::max(kMinExpansion, kExpansionFactor * FBuffer.size());
  }

  const TEntityStack& Nesting() const { return FNesting; }
  const TElemList& ElementDecls() const { return FElementDecls; }
  const TEntityList& GeneralEntities() const { return FGeneralEntities; }
  const TEntityList& ParameterEntities() const { return FParameterEntities; }
  const TNotationList& NotationDecls() const { return FNotationDecls; }

 protected:
  // Loads an external subset or entity; nullptr when it is not to be read.
  // The default reads nothing.
  virtual std::unique_ptr<TXmlParser> OpenExternal(const std::string& SystemLiteral,
                                                   const std::string& PublicLiteral,
                                                   TExternalKind Kind);
  // Turns document bytes into the program's text. The default decodes UTF-8
  // into Windows-1252 when CurrentEncoding is exactly "UTF-8" and otherwise
  // returns the text unchanged.
  virtual std::string ConvertText(std::string_view Text);
  // Called for every declaration, comment, processing instruction and error
  // met while reading a DTD. The default does nothing.
  virtual void DeclarationFound(const TDtdObject& Declaration);

 private:
  struct TRawAttr {
    std::string_view Name;
    std::string_view Value;
  };

  void ResetDocument();
  void ClearPart();
  void PopEntity();
  bool Spend(size_t Bytes);

  void ParseProlog();
  void ParsePI();
  void ParseComment();
  void ParseCData();
  void ParseTag();
  bool ParseText();
  void ParseDoctype();

  static const char* ReadAttributeList(const char* P, const char* End, std::vector<TRawAttr>& Out);
  void FillAttributes(const std::vector<TRawAttr>& Raw, const TElemDef* Elem, bool Process,
                      TAttrList& List);
  std::string ProcessAttrValue(std::string_view Raw, TAttrType Type);
  void AppendAttrValue(std::string& Out, std::string_view Raw, int Depth,
                       std::vector<const TEntityDef*>& Active);
  void AppendLiteral(std::string& Out, std::string_view Raw);

  // DTD (uXmlParserDtd.cpp).
  const char* ParseDtdSubset(const char* P, const char* End, int Depth, bool Bracketed);
  const char* ParseElementDecl(const char* P, const char* End);
  const char* ParseAttListDecl(const char* P, const char* End);
  const char* ParseEntityDecl(const char* P, const char* End);
  const char* ParseNotationDecl(const char* P, const char* End);
  const char* ParsePEReference(const char* P, const char* End, int Depth);
  std::string ExpandEntityLiteral(std::string_view Raw);
  TElemDef* FindOrAddElement(const std::string& Name);
  void ReportDtdError(const char* At);
  // Parses a loaded external subset or parameter entity as declarations.
  void ReadExternalDeclarations(std::unique_ptr<TXmlParser> Doc, int Depth);

  std::string FBuffer;
  std::string FSourceName;
  const char* FCurr = nullptr;  // reading position
  const char* FEnd = nullptr;   // end of the buffer FCurr lies in

  std::string FXmlVersion;
  std::string FDeclaredEncoding;
  bool FStandalone = false;
  std::string FCurrentEncoding;
  std::string FRootName;
  const char* FDoctypeEnd = nullptr;
  // Every DOCTYPE of the document already read, by its start offset.
  struct TDoctypeSpan {
    size_t End;
    std::string Root;
  };
  std::map<size_t, TDoctypeSpan> FDoctypeSpans;

  TPartKind FPartKind = ptNone;
  std::string FPartName;
  std::string FPartText;
  const char* FPartStart = nullptr;
  const char* FPartEnd = nullptr;
  TAttrList FPartAttributes;
  bool FPartClosed = false;

  TEntityStack FNesting;
  std::vector<const TEntityDef*> FActiveParameterEntities;
  size_t FExpansionLeft = kMinExpansion;

  TElemList FElementDecls;
  TEntityList FGeneralEntities;
  TEntityList FParameterEntities;
  TNotationList FNotationDecls;
  // External subsets and parameter entities read from OpenExternal; they hold
  // the bytes of declarations and live until the next load.
  std::vector<std::unique_ptr<TXmlParser>> FExternalDocs;
  // External general entities read in this pass; released at Rewind.
  std::vector<std::unique_ptr<TXmlParser>> FPassDocs;
};

// Decodes UTF-8 (one- to three-byte sequences) into Windows-1252 bytes; a
// code point without such a byte and an undecodable sequence give 0xBF.
std::string Utf8ToWindows1252(std::string_view Text);

}  // namespace kelvor
