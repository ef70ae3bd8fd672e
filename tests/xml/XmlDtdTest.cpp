#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "support/TestSupport.h"
#include "xml/uXmlParser.h"

namespace kelvor {
namespace {

using Lines = std::vector<std::string>;

// Records the declarations it is shown and serves external texts from a map.
class TRecordingParser : public TXmlParser {
 public:
  Lines Decls;
  Lines Opened;
  std::map<std::string, std::string> Externals;  // system literal -> text

 protected:
  void DeclarationFound(const TDtdObject& D) override {
    static const char* const kKinds[] = {"element", "attlist", "entity", "notation",
                                         "comment", "pi",      "error"};
    std::string s = kKinds[D.Kind];
    if (D.Kind != dkError) s += " " + D.Name;
    if (D.Kind == dkError) s += " at " + std::string(D.Start, std::min<size_t>(8, strlen(D.Start)));
    Decls.push_back(s);
  }
  std::unique_ptr<TXmlParser> OpenExternal(const std::string& System, const std::string& Public,
                                           TExternalKind Kind) override {
    Opened.push_back(std::to_string(Kind) + ":" + Public + "|" + System);
    auto it = Externals.find(System);
    if (it == Externals.end()) return nullptr;
    auto p = std::make_unique<TXmlParser>();
    p->LoadFromText(it->second);
    return p;
  }
};

std::string Describe(const TXmlParser& P) {
  std::string s = PartKindName(P.PartKind());
  if (!P.PartName().empty()) s += " " + P.PartName();
  if (P.PartKind() == ptContent || P.PartKind() == ptCData) s += " {" + P.PartText() + "}";
  for (const auto& a : P.PartAttributes())
    s += "[" + a->Name + "=" + a->Value + "]";
  return s;
}

Lines Parts(TXmlParser& P) {
  Lines r;
  P.Rewind();
  while (P.NextPart())
    r.push_back(Describe(P));
  return r;
}

Lines Parts(std::string_view Doc) {
  TRecordingParser p;
  p.LoadFromText(Doc);
  return Parts(p);
}

const char kSubset[] =
    "<!DOCTYPE task SYSTEM \"task.dtd\" [\r\n"
    "  <!-- a comment with ] and > inside -->\r\n"
    "  <!ENTITY co \"Vantrel ] > Co\">\r\n"
    "  <!ATTLIST field note CDATA 'a>b]' iskey CDATA \"false\">\r\n"
    "  <?pi x]>?>\r\n"
    "]>\r\n"
    "<task/>";

TEST(XmlDtdTest, DoctypeWithInternalSubsetIsOnePart) {
  TRecordingParser p;
  p.LoadFromText(kSubset);
  EXPECT_EQ(Parts(p), (Lines{"DTD Declaration task", "Empty Tag task"}));
  EXPECT_EQ(p.RootName(), "task");
  ASSERT_NE(p.DoctypeEnd(), nullptr);
  EXPECT_EQ(std::string(p.DoctypeEnd()), "\r\n<task/>");
  EXPECT_EQ(p.Decls, (Lines{"comment ", "entity co", "attlist note", "attlist iskey", "pi pi"}));
  EXPECT_EQ(p.GeneralEntities().Find("co")->Value, "Vantrel ] > Co");
  // The external subset is offered to OpenExternal, which opens nothing here.
  EXPECT_EQ(p.Opened, (Lines{"0:|task.dtd"}));

  // A later scan skips the DOCTYPE: same parts, no declarations again.
  p.Decls.clear();
  EXPECT_EQ(Parts(p), (Lines{"DTD Declaration task", "Empty Tag task"}));
  EXPECT_TRUE(p.Decls.empty());

  EXPECT_EQ(Parts("<!DOCTYPE r PUBLIC \"-//x]>//\" 'y]>.dtd'><r/>"),
            (Lines{"DTD Declaration r", "Empty Tag r"}));
}

TEST(XmlDtdTest, InternalEntitiesInTextAndAttributes) {
  EXPECT_EQ(Parts("<!DOCTYPE r [\n"
                  "<!ENTITY name 'Kelvor'>\n"
                  "<!ENTITY co \"Acme &amp; Sons\">\n"
                  "<!ENTITY sig '<b>bold</b> end'>\n"
                  "<!ENTITY amp2 '&#38;#38;'>\n"
                  "]>"
                  "<r a='&co;!' b='&name;&amp2;'>Hello &name; ! &co; and &sig;&amp2;</r>"),
            (Lines{"DTD Declaration r", "Start Tag r[a=Acme & Sons!][b=Kelvor&]",
                   "Text {Hello Kelvor !}", "Text {Acme & Sons}", "Text {and}", "Start Tag b",
                   "Text {bold}", "End Tag b", "Text {end}", "Text {&}", "End Tag r"}));
}

TEST(XmlDtdTest, RecursiveEntitiesAreNotFollowed) {
  EXPECT_EQ(Parts("<!DOCTYPE r [<!ENTITY a '&a;x'><!ENTITY b '&c;'><!ENTITY c '&b;'>]>"
                  "<r v='&a;|&b;'>&a;|&b;</r>"),
            (Lines{"DTD Declaration r", "Start Tag r[v=&a;x|&b;]", "Text {ax}", "Text {|}",
                   "Text {b}", "End Tag r"}));
}

TEST(XmlDtdTest, EntityExpansionIsBounded) {
  std::string doc = "<!DOCTYPE r [<!ENTITY l0 'lol'>";
  for (int i = 1; i <= 12; ++i) {
    doc += "<!ENTITY l" + std::to_string(i) + " '";
    for (int k = 0; k < 10; ++k)
      doc += "&l" + std::to_string(i - 1) + ";";
    doc += "'>";
  }
  doc += "]><r a='&l12;'>&l12;</r>";
  TXmlParser p;
  p.LoadFromText(doc);
  size_t text = 0;
  size_t value = 0;
  while (p.NextPart()) {
    if (p.PartKind() == ptContent) text += p.PartText().size();
    if (p.PartKind() == ptStartTag) value = p.PartAttributes().Value("a").size();
  }
  EXPECT_GT(value, 1000u);
  EXPECT_LE(value + text, p.ExpansionLimit());
  EXPECT_EQ(p.ExpansionLimit(), TXmlParser::kMinExpansion);

  // Deep nesting stops at the depth limit.
  std::string deep = "<!DOCTYPE r [<!ENTITY d0 '<x/>'>";
  for (int i = 1; i <= 40; ++i) {
    deep += "<!ENTITY d" + std::to_string(i) + " '&d" + std::to_string(i - 1) + ";'>";
  }
  deep += "]><r>&d40;</r>";
  p.LoadFromText(deep);
  int maxNesting = 0;
  while (p.NextPart())
    maxNesting = std::max(maxNesting, p.Nesting().Count());
  EXPECT_EQ(maxNesting, TXmlParser::kMaxEntityDepth);
}

TEST(XmlDtdTest, ParameterEntitiesInTheSubset) {
  TRecordingParser p;
  p.LoadFromText(
      "<!DOCTYPE r [\n"
      "<!ENTITY % part 'middle'>\n"
      "<!ENTITY whole 'a %part; b &#65;'>\n"
      "<!ENTITY % decl \"<!ENTITY pe 'from pe'><!ATTLIST r k CDATA 'dflt'>\">\n"
      "%decl;\n"
      "<!ENTITY % self '%self;'>\n"
      "%self; %missing;\n"
      "]><r>&whole;|&pe;</r>");
  EXPECT_EQ(Parts(p), (Lines{"DTD Declaration r", "Start Tag r[k=dflt]",
                             "Text {a middle b A|from pe}", "End Tag r"}));
  EXPECT_EQ(p.ParameterEntities().Find("self")->Value, "%self;");
  EXPECT_EQ(p.Decls, (Lines{"entity part", "entity whole", "entity decl", "entity pe", "attlist k",
                            "entity self", "error at %self;", "error at %missing"}));
}

TEST(XmlDtdTest, AttributeDefaultsAndDeclaredTypes) {
  TXmlParser p;
  p.LoadFromText(
      "<!DOCTYPE r [\n"
      "<!ATTLIST field iskey CDATA 'false' kind (a|b) \"a\" id ID #IMPLIED\n"
      "                fixed CDATA #FIXED \"f\" must CDATA #REQUIRED\n"
      "                iskey CDATA 'ignored'>\n"
      "<!ELEMENT field EMPTY>\n"
      "]><field id='  x   y ' iskey='true'/><field/><other/>");
  ASSERT_TRUE(p.NextPart());
  ASSERT_TRUE(p.NextPart());
  EXPECT_EQ(Describe(p), "Empty Tag field[fixed=f][id=x y][iskey=true][kind=a]");
  const TAttrList& a = p.PartAttributes();
  EXPECT_EQ(a.Find("id")->AttrType, atId);
  EXPECT_EQ(a.Find("id")->ValueKind, avNormal);
  EXPECT_EQ(a.Find("kind")->ValueKind, avDefault);
  EXPECT_EQ(a.Find("kind")->AttrType, atEnumeration);
  ASSERT_TRUE(p.NextPart());
  EXPECT_EQ(Describe(p), "Empty Tag field[fixed=f][iskey=false][kind=a]");
  ASSERT_TRUE(p.NextPart());
  EXPECT_EQ(Describe(p), "Empty Tag other");

  const TElemDef* field = p.ElementDecls().Find("field");
  ASSERT_NE(field, nullptr);
  EXPECT_EQ(field->ElemType, etEmpty);
  EXPECT_EQ(field->AttrDefs.Count(), 5);
  EXPECT_EQ(field->AttrDefs.Find("kind")->TypeDef, "(a|b)");
  EXPECT_EQ(field->AttrDefs.Find("must")->DefaultType, adRequired);
  EXPECT_EQ(field->AttrDefs.Find("iskey")->Value, "false");  // the first definition binds
}

TEST(XmlDtdTest, DeclarationRecords) {
  TRecordingParser p;
  p.LoadFromText(
      "<!DOCTYPE r [\n"
      "<!ELEMENT r (#PCDATA|b)*>\n"
      "<!ELEMENT b (c,d?)>\n"
      "<!ELEMENT r ANY>\n"
      "<!NOTATION png PUBLIC 'image/png' 'viewer'>\n"
      "<!ENTITY pic SYSTEM 'pic.png' NDATA png>\n"
      "<!ENTITY ext PUBLIC '-//ext' \"ext.ent\">\n"
      "junk <!BOGUS x> <!ENTITY>\n"
      "]><r>&pic;&ext;</r>");
  EXPECT_EQ(Parts(p), (Lines{"DTD Declaration r", "Start Tag r", "Text {picext}", "End Tag r"}));
  EXPECT_EQ(p.ElementDecls().Find("r")->ElemType, etMixed);
  EXPECT_EQ(p.ElementDecls().Find("r")->Value, "(#PCDATA|b)*");
  EXPECT_EQ(p.ElementDecls().Find("b")->ElemType, etChildren);
  EXPECT_EQ(p.NotationDecls().Find("png")->ExternalId.PublicId, "image/png");
  EXPECT_EQ(p.NotationDecls().Find("png")->ExternalId.SystemId, "viewer");
  const TEntityDef* pic = p.GeneralEntities().Find("pic");
  EXPECT_EQ(pic->NotationName, "png");
  EXPECT_EQ(p.GeneralEntities().Find("ext")->ExternalId.SystemId, "ext.ent");
  EXPECT_EQ(p.Decls,
            (Lines{"element r", "element b", "element r", "notation png", "entity pic",
                   "entity ext", "error at junk <!B", "error at <!BOGUS ", "error at <!ENTITY"}));
  // The unparsed entity is never opened; the external one is offered.
  EXPECT_EQ(p.Opened, (Lines{"1:-//ext|ext.ent"}));
}

TEST(XmlDtdTest, ExternalFilesAreNotOpenedByDefault) {
  test::TempDir dir;
  test::WriteFileOrDie(dir.Sub("ext.dtd"), "<!ENTITY fromdtd 'leaked'>");
  test::WriteFileOrDie(dir.Sub("ext.ent"), "leaked");
  test::WriteFileOrDie(dir.Sub("t.xml"),
                       "<!DOCTYPE r SYSTEM \"ext.dtd\" [<!ENTITY ext SYSTEM \"ext.ent\">]>"
                       "<r a='&ext;&fromdtd;'>&ext;|&fromdtd;|&" +
                           dir.Sub("ext.ent") + ";</r>");
  TXmlParser p;
  ASSERT_TRUE(p.LoadFromFile(dir.Sub("t.xml")));
  EXPECT_EQ(Parts(p), (Lines{"DTD Declaration r", "Start Tag r[a=&ext;&fromdtd;]",
                             "Text {ext|fromdtd|" + dir.Sub("ext.ent") + "}", "End Tag r"}));
  EXPECT_EQ(p.GeneralEntities().Find("fromdtd"), nullptr);
}

TEST(XmlDtdTest, ExternalTextsFromOpenExternalAreReadInPlace) {
  TRecordingParser p;
  p.Externals["sub.dtd"] = "<!ENTITY fromdtd 'declared outside'><!ENTITY co 'outer'>";
  p.Externals["part.xml"] = "<?xml version='1.0' encoding='utf-8'?><i>\xC3\xA9</i>";
  p.LoadFromText(
      "<!DOCTYPE r SYSTEM 'sub.dtd' [<!ENTITY co 'inner'><!ENTITY part SYSTEM 'part.xml'>]>"
      "<r a='&co;|&fromdtd;'>\xC3\xA9&part;\xC3\xA9</r>");
  EXPECT_EQ(Parts(p),
            (Lines{"DTD Declaration r", "Start Tag r[a=inner|declared outside]", "Text {\xC3\xA9}",
                   "XML Prolog xml[encoding=utf-8][version=1.0]", "Start Tag i", "Text {\xE9}",
                   "End Tag i", "Text {\xC3\xA9}", "End Tag r"}));
  // The entity's own declaration changes neither the document's fields nor,
  // once the entity is read, the encoding in force.
  EXPECT_EQ(p.XmlVersion(), "");
  EXPECT_EQ(p.CurrentEncoding(), "");
  EXPECT_EQ(p.Opened, (Lines{"0:|sub.dtd", "1:|part.xml"}));
}

}  // namespace
}  // namespace kelvor
