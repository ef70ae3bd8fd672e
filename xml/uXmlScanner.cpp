#include "xml/uXmlScanner.h"

namespace kelvor {

std::unique_ptr<TXmlParser> TScannerXmlParser::OpenExternal(const std::string& SystemLiteral,
                                                            const std::string& PublicLiteral,
                                                            TExternalKind Kind) {
  return FScanner.LoadExternalEntity(SystemLiteral, PublicLiteral, Kind);
}

std::string TScannerXmlParser::ConvertText(std::string_view Text) {
  return FScanner.TranslateEncoding(Text);
}

void TScannerXmlParser::DeclarationFound(const TDtdObject& Declaration) {
  FScanner.DispatchDeclaration(Declaration);
}

TCustomXmlScanner::TCustomXmlScanner() : FParser(*this) {}

TCustomXmlScanner::~TCustomXmlScanner() = default;

void TCustomXmlScanner::Execute() {
  StopScan = false;
  FRootSeen = false;
  FRootClosed = false;
  FRootElement.clear();
  FRootDepth = 0;
  FParser.Rewind();
  while (!StopScan && FParser.NextPart()) {
    TrackRoot();
    const TAttrList& attrs = FParser.PartAttributes();
    switch (FParser.PartKind()) {
      case ptXmlProlog:
        WhenXmlProlog(attrs.Value("version"), attrs.Value("encoding"),
                      attrs.Value("standalone") == "yes");
        break;
      case ptComment:
        WhenComment(FParser.PartText());
        break;
      case ptPI:
        WhenPI(FParser.PartName(), FParser.PartText(), attrs);
        break;
      case ptDtdc:
        WhenDtdRead(FParser.PartName());
        break;
      case ptStartTag:
        WhenStartTag(FParser.PartName(), attrs);
        break;
      case ptEmptyTag:
        WhenEmptyTag(FParser.PartName(), attrs);
        break;
      case ptEndTag:
        WhenEndTag(FParser.PartName());
        break;
      case ptContent:
        WhenContent(FParser.PartText());
        break;
      case ptCData:
        WhenCData(FParser.PartText());
        break;
      case ptNone:
        break;
    }
  }
}

void TCustomXmlScanner::TrackRoot() {
  const TPartKind kind = FParser.PartKind();
  if (FRootClosed || (kind != ptStartTag && kind != ptEmptyTag && kind != ptEndTag)) return;
  const std::string& name = FParser.PartName();
  if (!FRootSeen) {
    if (kind == ptEndTag) return;  // closes nothing that was opened
    FRootSeen = true;
    FRootElement = name;
    if (kind == ptEmptyTag)
      FRootClosed = FParser.PartClosed();
    else
      FRootDepth = 1;
    return;
  }
  if (name != FRootElement) return;
  if (kind == ptStartTag) {
    ++FRootDepth;
  } else if (kind == ptEndTag && FParser.PartClosed() && FParser.Nesting().Count() == 0) {
    if (--FRootDepth == 0) FRootClosed = true;
  }
}

void TCustomXmlScanner::DispatchDeclaration(const TDtdObject& Declaration) {
  switch (Declaration.Kind) {
    case dkElement:
      if (auto d = dynamic_cast<const TElemDef*>(&Declaration)) WhenElement(*d);
      break;
    case dkAttList:
      if (auto d = dynamic_cast<const TAttrDef*>(&Declaration)) WhenAttList(*d);
      break;
    case dkEntity:
      if (auto d = dynamic_cast<const TEntityDef*>(&Declaration)) WhenEntity(*d);
      break;
    case dkNotation:
      if (auto d = dynamic_cast<const TNotationDef*>(&Declaration)) WhenNotation(*d);
      break;
    case dkComment:
      WhenComment(Declaration.Value);
      break;
    case dkPI:
      if (auto d = dynamic_cast<const TDtdInstruction*>(&Declaration)) {
        WhenPI(d->Name, d->Value, d->Attributes);
      }
      break;
    case dkError:
      WhenDtdError(Declaration.Start);
      break;
  }
}

void TCustomXmlScanner::WhenXmlProlog(const std::string& XmlVersion, const std::string& Encoding,
                                      bool Standalone) {
  if (PrologEvent) PrologEvent(*this, XmlVersion, Encoding, Standalone);
}

void TCustomXmlScanner::WhenComment(const std::string& Comment) {
  if (CommentEvent) CommentEvent(*this, Comment);
}

void TCustomXmlScanner::WhenPI(const std::string& Target, const std::string& Content,
                               const TAttrList& Attributes) {
  if (InstructionEvent) InstructionEvent(*this, Target, Content, Attributes);
}

void TCustomXmlScanner::WhenDtdRead(const std::string& RootName) {
  if (DoctypeEvent) DoctypeEvent(*this, RootName);
}

void TCustomXmlScanner::WhenStartTag(const std::string& TagName, const TAttrList& Attributes) {
  if (StartTagEvent) StartTagEvent(*this, TagName, Attributes);
}

void TCustomXmlScanner::WhenEmptyTag(const std::string& TagName, const TAttrList& Attributes) {
  if (EmptyTagEvent) EmptyTagEvent(*this, TagName, Attributes);
}

void TCustomXmlScanner::WhenEndTag(const std::string& TagName) {
  if (EndTagEvent) EndTagEvent(*this, TagName);
}

void TCustomXmlScanner::WhenContent(const std::string& Content) {
  if (TextEvent) TextEvent(*this, Content);
}

void TCustomXmlScanner::WhenCData(const std::string& Content) {
  if (CDataEvent) CDataEvent(*this, Content);
}

void TCustomXmlScanner::WhenElement(const TElemDef& Decl) {
  if (ElementDeclEvent) ElementDeclEvent(*this, Decl);
}

void TCustomXmlScanner::WhenAttList(const TAttrDef& Decl) {
  if (AttListDeclEvent) AttListDeclEvent(*this, Decl);
}

void TCustomXmlScanner::WhenEntity(const TEntityDef& Decl) {
  if (EntityDeclEvent) EntityDeclEvent(*this, Decl);
}

void TCustomXmlScanner::WhenNotation(const TNotationDef& Decl) {
  if (NotationDeclEvent) NotationDeclEvent(*this, Decl);
}

void TCustomXmlScanner::WhenDtdError(const char* Position) {
  if (DtdErrorEvent) DtdErrorEvent(*this, Position);
}

std::unique_ptr<TXmlParser> TCustomXmlScanner::LoadExternalEntity(const std::string& SystemLiteral,
                                                                  const std::string& PublicLiteral,
                                                                  TExternalKind Kind) {
  if (ExternalEvent) return ExternalEvent(*this, SystemLiteral, PublicLiteral, Kind);
  return nullptr;
}

std::string TCustomXmlScanner::TranslateEncoding(std::string_view Text) {
  if (ConvertEvent) return ConvertEvent(*this, FParser.CurrentEncoding(), Text);
  return FParser.DefaultConvertText(Text);
}

}  // namespace kelvor
