// The event scanner over the XML reader. Execute walks the whole document and
// raises one event per part; a program binds the events it wants (the task
// record binds only StartTagEvent).
//
// Every event slot is a std::function: the handler together with the object
// it is called on (usually a lambda capturing that object). An unassigned
// slot does nothing. Handlers run on the thread that calls Execute, before
// the scanner moves on; an exception thrown by a handler ends Execute and
// passes to its caller. A handler may set StopScan to end Execute after the
// current part.
//
// Ownership: a scanner owns its TScannerXmlParser. The attribute lists and
// declaration records handed to handlers belong to the parser and are valid
// only during the call. Threads: one scanner is used by one thread at a time.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "xml/uXmlParser.h"

namespace kelvor {

class TCustomXmlScanner;

// The parser a scanner owns: its three hooks call the scanner.
class TScannerXmlParser : public TXmlParser {
 public:
  explicit TScannerXmlParser(TCustomXmlScanner& Scanner) : FScanner(Scanner) {}

 protected:
  std::unique_ptr<TXmlParser> OpenExternal(const std::string& SystemLiteral,
                                           const std::string& PublicLiteral,
                                           TExternalKind Kind) override;
  std::string ConvertText(std::string_view Text) override;
  void DeclarationFound(const TDtdObject& Declaration) override;

 private:
  friend class TCustomXmlScanner;
  std::string DefaultConvertText(std::string_view Text) { return TXmlParser::ConvertText(Text); }

  TCustomXmlScanner& FScanner;
};

using TXmlPrologEvent = std::function<void(TCustomXmlScanner& Sender, const std::string& XmlVersion,
                                           const std::string& Encoding, bool Standalone)>;
using TXmlCommentEvent = std::function<void(TCustomXmlScanner& Sender, const std::string& Comment)>;
using TXmlPIEvent = std::function<void(TCustomXmlScanner& Sender, const std::string& Target,
                                       const std::string& Content, const TAttrList& Attributes)>;
using TXmlDoctypeEvent =
    std::function<void(TCustomXmlScanner& Sender, const std::string& RootName)>;
using TXmlTagEvent = std::function<void(TCustomXmlScanner& Sender, const std::string& TagName,
                                        const TAttrList& Attributes)>;
using TXmlEndTagEvent = std::function<void(TCustomXmlScanner& Sender, const std::string& TagName)>;
using TXmlContentEvent = std::function<void(TCustomXmlScanner& Sender, const std::string& Content)>;
using TXmlElementDeclEvent = std::function<void(TCustomXmlScanner& Sender, const TElemDef& Decl)>;
// Raised once per attribute definition of an attribute-list declaration.
using TXmlAttListDeclEvent = std::function<void(TCustomXmlScanner& Sender, const TAttrDef& Decl)>;
using TXmlEntityDeclEvent = std::function<void(TCustomXmlScanner& Sender, const TEntityDef& Decl)>;
using TXmlNotationDeclEvent =
    std::function<void(TCustomXmlScanner& Sender, const TNotationDef& Decl)>;
using TXmlDtdErrorEvent = std::function<void(TCustomXmlScanner& Sender, const char* Position)>;
// Loads an external subset or entity; nullptr to leave it unread.
using TXmlExternalEvent = std::function<std::unique_ptr<TXmlParser>(
    TCustomXmlScanner& Sender, const std::string& SystemLiteral, const std::string& PublicLiteral,
    TExternalKind Kind)>;
// Replaces the default code page conversion of document text.
using TXmlConvertEvent = std::function<std::string(
    TCustomXmlScanner& Sender, const std::string& CurrentEncoding, std::string_view Text)>;

class TCustomXmlScanner {
 public:
  TCustomXmlScanner();
  virtual ~TCustomXmlScanner();
  TCustomXmlScanner(const TCustomXmlScanner&) = delete;
  TCustomXmlScanner& operator=(const TCustomXmlScanner&) = delete;

  // Loads the parser's document; false (and an empty document) when the file
  // cannot be read.
  bool LoadFromFile(const std::string& Path) { return FParser.LoadFromFile(Path); }
  void LoadFromBuffer(const char* Data, size_t Size) { FParser.LoadFromBuffer(Data, Size); }
  void LoadFromText(std::string_view Text) { FParser.LoadFromText(Text); }

  // Clears StopScan, rewinds and raises one event per part until the end of
  // the document or until a handler sets StopScan.
  void Execute();
  bool StopScan = false;

  // After Execute: whether the document's first element was closed, by an
  // end tag of its name ending in ">" that stood in the document itself (not
  // in an entity's text), or by being one complete empty-element tag. False
  // when the document held no element or ended before its first one closed:
  // a file cut short. Elements of the same name nested in it must close first.
  bool RootClosed() const { return FRootClosed; }
  // Whether Execute met any element at all.
  bool RootSeen() const { return FRootSeen; }

  TScannerXmlParser& XmlParser() { return FParser; }
  const TScannerXmlParser& XmlParser() const { return FParser; }

 protected:
  // The event operations, in slot order; each calls its slot when assigned.
  virtual void WhenXmlProlog(const std::string& XmlVersion, const std::string& Encoding,
                             bool Standalone);
  virtual void WhenComment(const std::string& Comment);
  virtual void WhenPI(const std::string& Target, const std::string& Content,
                      const TAttrList& Attributes);
  virtual void WhenDtdRead(const std::string& RootName);
  virtual void WhenStartTag(const std::string& TagName, const TAttrList& Attributes);
  virtual void WhenEmptyTag(const std::string& TagName, const TAttrList& Attributes);
  virtual void WhenEndTag(const std::string& TagName);
  virtual void WhenContent(const std::string& Content);
  virtual void WhenCData(const std::string& Content);
  virtual void WhenElement(const TElemDef& Decl);
  virtual void WhenAttList(const TAttrDef& Decl);
  virtual void WhenEntity(const TEntityDef& Decl);
  virtual void WhenNotation(const TNotationDef& Decl);
  virtual void WhenDtdError(const char* Position);
  // The parser's hooks.
  virtual std::unique_ptr<TXmlParser> LoadExternalEntity(const std::string& SystemLiteral,
                                                         const std::string& PublicLiteral,
                                                         TExternalKind Kind);
  virtual std::string TranslateEncoding(std::string_view Text);

  TXmlPrologEvent PrologEvent;
  TXmlCommentEvent CommentEvent;
  TXmlPIEvent InstructionEvent;
  TXmlDoctypeEvent DoctypeEvent;
  TXmlTagEvent StartTagEvent;
  TXmlTagEvent EmptyTagEvent;
  TXmlEndTagEvent EndTagEvent;
  TXmlContentEvent TextEvent;
  TXmlContentEvent CDataEvent;
  TXmlElementDeclEvent ElementDeclEvent;
  TXmlAttListDeclEvent AttListDeclEvent;
  TXmlEntityDeclEvent EntityDeclEvent;
  TXmlNotationDeclEvent NotationDeclEvent;
  TXmlDtdErrorEvent DtdErrorEvent;
  TXmlExternalEvent ExternalEvent;
  TXmlConvertEvent ConvertEvent;

 private:
  friend class TScannerXmlParser;
  void DispatchDeclaration(const TDtdObject& Declaration);
  // Follows the current tag part for RootClosed.
  void TrackRoot();

  TScannerXmlParser FParser;
  bool FRootSeen = false;
  bool FRootClosed = false;
  std::string FRootElement;
  int FRootDepth = 0;  // open elements named FRootElement
};

// The scanner with its event slots open to assignment.
class TXmlScanner : public TCustomXmlScanner {
 public:
  using TCustomXmlScanner::AttListDeclEvent;
  using TCustomXmlScanner::CDataEvent;
  using TCustomXmlScanner::CommentEvent;
  using TCustomXmlScanner::ConvertEvent;
  using TCustomXmlScanner::DoctypeEvent;
  using TCustomXmlScanner::DtdErrorEvent;
  using TCustomXmlScanner::ElementDeclEvent;
  using TCustomXmlScanner::EmptyTagEvent;
  using TCustomXmlScanner::EndTagEvent;
  using TCustomXmlScanner::EntityDeclEvent;
  using TCustomXmlScanner::ExternalEvent;
  using TCustomXmlScanner::InstructionEvent;
  using TCustomXmlScanner::NotationDeclEvent;
  using TCustomXmlScanner::PrologEvent;
  using TCustomXmlScanner::StartTagEvent;
  using TCustomXmlScanner::TextEvent;
};

}  // namespace kelvor
