#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/TestSupport.h"
#include "xml/uXmlParser.h"

namespace kelvor {
namespace {

using Lines = std::vector<std::string>;

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
  TXmlParser p;
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
  TXmlParser p;
  p.LoadFromText(kSubset);
  EXPECT_EQ(Parts(p), (Lines{"DTD Declaration task", "Empty Tag task"}));
  EXPECT_EQ(p.RootName(), "task");
  ASSERT_NE(p.DoctypeEnd(), nullptr);
  EXPECT_EQ(std::string(p.DoctypeEnd()), "\r\n<task/>");
  EXPECT_EQ(p.GeneralEntities().Find("co")->Value, "Vantrel ] > Co");
  // A later scan skips the DOCTYPE: the same parts.
  EXPECT_EQ(Parts(p), (Lines{"DTD Declaration task", "Empty Tag task"}));

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

TEST(XmlDtdTest, RecursiveEntitiesAreNotFollowedAndExpansionIsBounded) {
  EXPECT_EQ(Parts("<!DOCTYPE r [<!ENTITY a '&a;x'><!ENTITY b '&c;'><!ENTITY c '&b;'>]>"
                  "<r v='&a;|&b;'>&a;|&b;</r>"),
            (Lines{"DTD Declaration r", "Start Tag r[v=&a;x|&b;]", "Text {ax}", "Text {|}",
                   "Text {b}", "End Tag r"}));

  // A billion laughs stays within the expansion limit.
  std::string doc = "<!DOCTYPE r [<!ENTITY l0 'lol'>";
  for (int i = 1; i <= 12; ++i)
    doc += "<!ENTITY l" + std::to_string(i) + " '" + [&] {
      std::string refs;
      for (int k = 0; k < 10; ++k)
        refs += "&l" + std::to_string(i - 1) + ";";
      return refs;
    }() + "'>";
  doc += "]><r a='&l12;'>&l12;</r>";
  TXmlParser p;
  p.LoadFromText(doc);
  size_t total = 0;
  while (p.NextPart())
    total += p.PartKind() == ptContent ? p.PartText().size() : p.PartAttributes().Value("a").size();
  EXPECT_GT(total, 1000u);
  EXPECT_LE(total, p.ExpansionLimit());

  // Deep nesting stops at the depth limit.
  std::string deep = "<!DOCTYPE r [<!ENTITY d0 '<x/>'>";
  for (int i = 1; i <= 40; ++i)
    deep += "<!ENTITY d" + std::to_string(i) + " '&d" + std::to_string(i - 1) + ";'>";
  p.LoadFromText(deep + "]><r>&d40;</r>");
  int maxNesting = 0;
  while (p.NextPart())
    maxNesting = std::max(maxNesting, p.Nesting().Count());
  EXPECT_EQ(maxNesting, TXmlParser::kMaxEntityDepth);
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

}  // namespace
}  // namespace kelvor
