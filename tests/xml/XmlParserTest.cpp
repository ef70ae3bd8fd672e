#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/TestSupport.h"
#include "xml/uXmlParser.h"

namespace kelvor {
namespace {

std::string Attrs(const TAttrList& List) {
  std::string r;
  for (const auto& a : List)
    r += "[" + a->Name + "=" + a->Value + "]";
  return r;
}

// One line per part: kind name, then name, text and attributes where present.
std::vector<std::string> Parts(TXmlParser& P) {
  std::vector<std::string> r;
  P.Rewind();
  while (P.NextPart()) {
    std::string s = PartKindName(P.PartKind());
    if (!P.PartName().empty()) s += " " + P.PartName();
    if (!P.PartText().empty()) s += " {" + P.PartText() + "}";
    s += Attrs(P.PartAttributes());
    r.push_back(s);
  }
  return r;
}

std::vector<std::string> Parts(std::string_view Doc, bool Normalize = true) {
  TXmlParser p;
  p.Normalize = Normalize;
  p.LoadFromText(Doc);
  return Parts(p);
}

using Lines = std::vector<std::string>;

// The attributes of the first tag of a document.
std::string FirstTagAttrs(std::string_view Doc) {
  TXmlParser p;
  p.LoadFromText(Doc);
  while (p.NextPart()) {
    if (p.PartKind() >= ptStartTag && p.PartKind() <= ptEndTag) return Attrs(p.PartAttributes());
  }
  return "<no tag>";
}

std::string AttrValue(std::string_view RawValue) {
  TXmlParser p;
  p.LoadFromText("<a v=\"" + std::string(RawValue) + "\">");
  EXPECT_TRUE(p.NextPart());
  return p.PartAttributes().Value("v");
}

std::string TextOf(std::string_view Doc, bool Normalize = true) {
  TXmlParser p;
  p.Normalize = Normalize;
  p.LoadFromText(Doc);
  std::string r;
  while (p.NextPart()) {
    if (p.PartKind() == ptContent) r += "{" + p.PartText() + "}";
  }
  return r;
}

TEST(XmlParserTest, RecognisesEveryKindOfPart) {
  EXPECT_EQ(Parts("<?xml version=\"1.0\"?><!-- c --><?pi do it?><!DOCTYPE r>"
                  "<r a='1'>t<![CDATA[<x>&amp;]]><e/></r>"),
            (Lines{"XML Prolog xml {version=\"1.0\"}[version=1.0]", "Comment {<!-- c -->}",
                   "PI pi {do it}[do=]", "DTD Declaration r {<!DOCTYPE r>}", "Start Tag r[a=1]",
                   "Text {t}", "CDATA {<x>&amp;}", "Empty Tag e", "End Tag r"}));
}

TEST(XmlParserTest, RecognitionOrderAndCase) {
  // "<?xml" needs white space after it to be the declaration.
  EXPECT_EQ(Parts("<?xml-stylesheet href='a'?><?xml?>"),
            (Lines{"PI xml-stylesheet {href='a'}[href=a]", "PI xml"}));
  EXPECT_EQ(Parts("<?xml\nversion='1'?>"), (Lines{"XML Prolog xml {version='1'}[version=1]"}));
  // Markup keywords are case-sensitive; anything else after "<" is a tag.
  EXPECT_EQ(Parts("<![cdata[x]]>"), (Lines{"Start Tag ![cdata[x]]"}));
  // An attribute without "=" takes the value after the next "=" and quote,
  // however far away.
  EXPECT_EQ(Parts("<!doctype html><a b='1'>"), (Lines{"Start Tag !doctype[html=1]"}));
  EXPECT_EQ(Parts("<>< x='1'>"), (Lines{"Start Tag", "Start Tag[x=1]"}));
}

TEST(XmlParserTest, TagNamesAndTagKinds) {
  EXPECT_EQ(
      Parts("<a/><b / ><c\tx='1'/></d ><E\r\nF='2'>"),
      (Lines{"Empty Tag a", "Empty Tag b", "Empty Tag c[x=1]", "End Tag d", "Start Tag E[F=2]"}));
  // Names are taken as written: no case folding, any bytes.
  EXPECT_EQ(Parts("<MODE_DEFINE MODE=\"1\"><\xE4\xB8\xAD a:b='2'>"),
            (Lines{"Start Tag MODE_DEFINE[MODE=1]", "Start Tag \xE4\xB8\xAD[a:b=2]"}));
  // The list stops at a character that cannot start a name; only "/" there
  // makes an empty tag, and the part ends at the next ">".
  EXPECT_EQ(Parts("<a 1b='x'/>"), (Lines{"Start Tag a"}));
  EXPECT_EQ(Parts("<a b='1' / junk>t"), (Lines{"Empty Tag a[b=1]", "Text {t}"}));
}

TEST(XmlParserTest, AttributeListRules) {
  // Blanks around "=", single quotes.
  EXPECT_EQ(FirstTagAttrs("<t a = 'x'>"), "[a=x]");
  // Blanks, tabs and line breaks before and after "=", and anything else
  // between the name and "=" or between "=" and the quote, are ignored.
  EXPECT_EQ(FirstTagAttrs("<t a\r\n=\t\"x\" b junk = more 'y'>"), "[a=x][b=y]");
  // Sorted by name in byte order, not in document order.
  EXPECT_EQ(FirstTagAttrs("<t name=\"n\" id=\"1\" Zed='z' \xC3\xA9='e'>"),
            "[Zed=z][id=1][name=n][\xC3\xA9=e]");
  // The value runs to the same quote; the other quote, "<" and ">" are plain.
  EXPECT_EQ(FirstTagAttrs("<t a=\"it's <b>\" b='say \"hi\"'>"), "[a=it's <b>][b=say \"hi\"]");
  // A repeated name goes before the earlier ones; lookup finds the last written.
  TXmlParser p;
  p.LoadFromText("<t k='1' k='2' k='3'>");
  ASSERT_TRUE(p.NextPart());
  EXPECT_EQ(Attrs(p.PartAttributes()), "[k=3][k=2][k=1]");
  EXPECT_EQ(p.PartAttributes().Value("k"), "3");
  EXPECT_EQ(p.PartAttributes().Find("K"), nullptr);
}

TEST(XmlParserTest, UnterminatedConstructsRunToTheEnd) {
  EXPECT_EQ(Parts("<a b='x>\r\n<c d='1'>"), (Lines{"Start Tag a[b=x>  <c d=]"}));
  EXPECT_EQ(Parts("<a b=\"open"), (Lines{"Start Tag a[b=open]"}));
  EXPECT_EQ(Parts("<a b"), (Lines{"Start Tag a[b=]"}));
  EXPECT_EQ(Parts("<a"), (Lines{"Start Tag a"}));
  EXPECT_EQ(Parts("x<!-- c <a>"), (Lines{"Text {x}", "Comment {<!-- c <a>}"}));
  EXPECT_EQ(Parts("<![CDATA[a<b>"), (Lines{"CDATA {a<b>}"}));
  EXPECT_EQ(Parts("<?pi a='1' <b>"), (Lines{"PI pi {a='1' <b>}[a=1]"}));
  EXPECT_EQ(Parts("<!DOCTYPE r [ <!ENTITY e 'x"),
            (Lines{"DTD Declaration r {<!DOCTYPE r [ <!ENTITY e 'x}"}));
  EXPECT_EQ(Parts("<?xml version='1.0'"), (Lines{"XML Prolog xml {version='1.0'}[version=1.0]"}));
}

TEST(XmlParserTest, ReferencesInAttributeValues) {
  EXPECT_EQ(AttrValue("a&lt;b&#65;&foo;"), "a<bA&foo;");
  EXPECT_EQ(AttrValue("&gt;&amp;&apos;&quot;"), ">&'\"");
  // One pass: what a reference produces is not read again.
  EXPECT_EQ(AttrValue("&amp;#65;"), "&#65;");
  EXPECT_EQ(AttrValue("&amp;lt;"), "&lt;");
  EXPECT_EQ(AttrValue("&amp;amp;"), "&amp;");
  // Unknown names stay as written, as does everything after an "&" with no ";".
  EXPECT_EQ(AttrValue("x&nsp;&nsp;y&nbsp;"), "x&nsp;&nsp;y&nbsp;");
  EXPECT_EQ(AttrValue("a & b"), "a & b");
  EXPECT_EQ(AttrValue("&lt;x&amp;y & &lt z"), "<x&y & &lt z");
  EXPECT_EQ(AttrValue("select &lt top"), "select &lt top");
  // The ";" is the next one anywhere after the "&".
  EXPECT_EQ(AttrValue("a & b;c"), "a & b;c");
  EXPECT_EQ(AttrValue("&lt&gt;"), "&lt&gt;");
}

TEST(XmlParserTest, CharacterReferencesInAttributeValues) {
  EXPECT_EQ(AttrValue("&#65;&#x42;&#X43;&#x6a;"), "ABCj");
  EXPECT_EQ(AttrValue("[&#1a;][&#;]"), "[ ][ ]");                      // malformed decimal: a blank
  EXPECT_EQ(AttrValue("[&#xZZ;][&#x;]"), std::string("[\0][\0]", 6));  // malformed hex: byte 0
  EXPECT_EQ(AttrValue("&#233;&#255;"), "\xE9\xFF");
  // Above 255: the Windows-1252 byte where there is one, else "¿".
  EXPECT_EQ(AttrValue("&#8364;&#x2122;&#20013;&#99999999999999999999;"), "\x80\x99\xBF\xBF");
  // A reference to white space is kept; written white space becomes blanks.
  EXPECT_EQ(AttrValue("a&#10;b"), "a\nb");
}

TEST(XmlParserTest, WhiteSpaceInAttributeValues) {
  EXPECT_EQ(AttrValue("a\r\nb\tc\nd\re"), "a  b c d e");
  EXPECT_EQ(AttrValue("  two  blanks  "), "  two  blanks  ");
  EXPECT_EQ(AttrValue("line one\r\nline two"), "line one  line two");
}

TEST(XmlParserTest, TextParts) {
  EXPECT_EQ(TextOf("<a>  a   b  </a>"), "{a b}");
  EXPECT_EQ(TextOf("<a> \r\n\t </a><b></b>"), "");
  EXPECT_EQ(TextOf("<a> \r\n x\ty \r\n</a>", false), "{ \r\n x\ty \r\n}");
  EXPECT_EQ(TextOf("<a> </a>", false), "{ }");
  // References: character, predefined, unknown names give the bare name, an
  // "&" without ";" is dropped, a malformed hexadecimal number gives a blank.
  EXPECT_EQ(TextOf("<a>&lt;&#65;&#x42;&foo;|&#xZZ;|&#1a;|&amp;lt;</a>"), "{<ABfoo| | |&lt;}");
  EXPECT_EQ(TextOf("<a>Tom & Jerry</a><b>x&y</b>"), "{Tom Jerry}{xy}");
  // The ";" is looked for only up to the end of the text.
  EXPECT_EQ(TextOf("a & b<c d=';'>"), "{a b}");
}

TEST(XmlParserTest, CDataCommentsAndInstructionsAreNotReferenceProcessed) {
  EXPECT_EQ(Parts("<![CDATA[ &lt; x  y ]]><!-- &amp; --><?p a='&lt;'?>"),
            (Lines{"CDATA { &lt; x  y }", "Comment {<!-- &amp; -->}", "PI p {a='&lt;'}[a=&lt;]"}));
}

TEST(XmlParserTest, DeclaredUtf8IsConvertedAndUndeclaredTextPassesByteForByte) {
  const std::string body = "<a v=\"\xC3\xA9|\xE4\xB8\xAD\">\xC3\xA9 \xE4\xB8\xAD</a>";
  EXPECT_EQ(Parts("<?xml version=\"1.0\"?>" + body)[1], "Start Tag a[v=\xE9|\xBF]");
  EXPECT_EQ(TextOf("<?xml version=\"1.0\"?>" + body), "{\xE9 \xBF}");
  EXPECT_EQ(Parts(body)[0], "Start Tag a[v=\xC3\xA9|\xE4\xB8\xAD]");
  EXPECT_EQ(TextOf(body), "{\xC3\xA9 \xE4\xB8\xAD}");
  // Only "UTF-8" exactly (after upper-casing) converts.
  EXPECT_EQ(TextOf("<?xml version='1.0' encoding='utf-8'?>" + body), "{\xE9 \xBF}");
  EXPECT_EQ(TextOf("<?xml version='1.0' encoding='GB2312'?>" + body), "{\xC3\xA9 \xE4\xB8\xAD}");
  // A character reference is a Windows-1252 byte already and is not decoded.
  EXPECT_EQ(TextOf("<?xml version='1.0'?><a>&#233;</a>"), "{\xE9}");
  EXPECT_EQ(Parts("<?xml version='1.0'?><a v='&#233;\xC3\xA9'/>")[1], "Empty Tag a[v=\xE9\xE9]");
  // CDATA is converted, comments are not.
  EXPECT_EQ(Parts("<?xml version='1.0'?><![CDATA[\xC3\xA9]]><!--\xC3\xA9-->")[1], "CDATA {\xE9}");
  EXPECT_EQ(Parts("<?xml version='1.0'?><![CDATA[\xC3\xA9]]><!--\xC3\xA9-->")[2],
            "Comment {<!--\xC3\xA9-->}");
}

TEST(XmlParserTest, Utf8ToWindows1252) {
  const std::pair<std::string, std::string> cases[] = {
      {"plain", "plain"},
      {"\xC2\xA0\xC3\xBF\xE2\x82\xAC\xE2\x84\xA2\xC5\xB8", "\xA0\xFF\x80\x99\x9F"},
      // The five unassigned positions map to themselves; U+0080 has no byte.
      {"\xC2\x81\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D\xC2\x80", "\x81\x8D\x8F\x90\x9D\xBF"},
      // Undecodable input: a stray continuation byte, a cut sequence, an
      // overlong form and a four-byte sequence each give one "¿".
      {"\x80|\xE4\xB8|\xC0\x80|\xF0\x9F\x98\x80|\xF0", "\xBF|\xBF|\xBF|\xBF|\xBF"},
  };
  for (const auto& [in, out] : cases)
    EXPECT_EQ(Utf8ToWindows1252(in), out);
}

TEST(XmlParserTest, ByteZeroEndsTheDocument) {
  const char doc[] = "<a x='1\0'><b/>";
  TXmlParser p;
  p.LoadFromBuffer(doc, sizeof doc - 1);
  EXPECT_EQ(p.Buffer(), "<a x='1");
  EXPECT_EQ(Parts(p), (Lines{"Start Tag a[x=1]"}));
}

}  // namespace
}  // namespace kelvor
