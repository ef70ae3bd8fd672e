#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "xml/uXmlScanner.h"

namespace kelvor {
namespace {

using Lines = std::vector<std::string>;

std::string Attrs(const TAttrList& List) {
  std::string r;
  for (int i = 0; i < List.Count(); ++i) {
    const TAttr* a = List.Item(i);
    r += "[" + a->Name + "=" + a->Value + "]";
  }
  return r;
}

// A scanner with every slot bound to a log line.
struct TLoggedScanner {
  TXmlScanner Scanner;
  Lines Log;

  TLoggedScanner() {
    TXmlScanner& s = Scanner;
    s.PrologEvent = [this](TCustomXmlScanner&, const std::string& V, const std::string& E, bool S) {
      Log.push_back("prolog " + V + "|" + E + "|" + (S ? "yes" : "no"));
    };
    s.CommentEvent = [this](TCustomXmlScanner&, const std::string& C) {
      Log.push_back("comment " + C);
    };
    s.InstructionEvent = [this](TCustomXmlScanner&, const std::string& T, const std::string& C,
                                const TAttrList& A) {
      Log.push_back("pi " + T + "|" + C + Attrs(A));
    };
    s.DoctypeEvent = [this](TCustomXmlScanner&, const std::string& R) {
      Log.push_back("doctype " + R);
    };
    s.StartTagEvent = [this](TCustomXmlScanner&, const std::string& N, const TAttrList& A) {
      Log.push_back("start " + N + Attrs(A));
    };
    s.EmptyTagEvent = [this](TCustomXmlScanner&, const std::string& N, const TAttrList& A) {
      Log.push_back("empty " + N + Attrs(A));
    };
    s.EndTagEvent = [this](TCustomXmlScanner&, const std::string& N) { Log.push_back("end " + N); };
    s.TextEvent = [this](TCustomXmlScanner&, const std::string& T) { Log.push_back("text " + T); };
    s.CDataEvent = [this](TCustomXmlScanner&, const std::string& T) {
      Log.push_back("cdata " + T);
    };
    s.ElementDeclEvent = [this](TCustomXmlScanner&, const TElemDef& D) {
      Log.push_back("element " + D.Name + " " + D.Value);
    };
    s.AttListDeclEvent = [this](TCustomXmlScanner&, const TAttrDef& D) {
      Log.push_back("attlist " + D.ElementName + "." + D.Name + "=" + D.Value);
    };
    s.EntityDeclEvent = [this](TCustomXmlScanner&, const TEntityDef& D) {
      Log.push_back("entity " + D.Name + "=" + D.Value);
    };
    s.NotationDeclEvent = [this](TCustomXmlScanner&, const TNotationDef& D) {
      Log.push_back("notation " + D.Name + "=" + D.ExternalId.SystemId);
    };
    s.DtdErrorEvent = [this](TCustomXmlScanner&, const char* P) {
      Log.push_back("dtd error at " + std::string(P, 4));
    };
  }

  Lines Run(std::string_view Doc) {
    Log.clear();
    Scanner.LoadFromText(Doc);
    Scanner.Execute();
    return Log;
  }
};

TEST(XmlScannerTest, EverySlotIsRaised) {
  TLoggedScanner t;
  EXPECT_EQ(t.Run("<?xml version='1.0' encoding='ISO-8859-1' standalone='yes'?>\n"
                  "<!-- c -->\n"
                  "<?app k='v'?>\n"
                  "<!DOCTYPE r [\n"
                  "  <!ELEMENT r ANY>\n"
                  "  <!ATTLIST r k CDATA 'd'>\n"
                  "  <!ENTITY e 'x'>\n"
                  "  <!NOTATION n SYSTEM 'viewer'>\n"
                  "  <!-- in dtd -->\n"
                  "  <?dtdpi a='1'?>\n"
                  "  oops\n"
                  "]>\n"
                  "<r>t&e;<![CDATA[c]]><e/></r>"),
            (Lines{"prolog 1.0|ISO-8859-1|yes", "comment <!-- c -->", "pi app|k='v'[k=v]",
                   "element r ANY", "attlist r.k=d", "entity e=x", "notation n=viewer",
                   "comment <!-- in dtd -->", "pi dtdpi|a='1'[a=1]", "dtd error at oops",
                   "doctype r", "start r[k=d]", "text tx", "cdata c", "empty e", "end r"}));
}

TEST(XmlScannerTest, StopScanAndExceptionsEndExecuteWhichStartsOverNextTime) {
  TLoggedScanner t;
  auto logStart = t.Scanner.StartTagEvent;
  bool fail = true;
  t.Scanner.StartTagEvent = [&](TCustomXmlScanner& S, const std::string& N, const TAttrList& A) {
    if (fail && N == "c") throw std::invalid_argument("not a number");
    logStart(S, N, A);
    if (N == "b") S.StopScan = true;
  };
  EXPECT_EQ(t.Run("<!DOCTYPE r [<!ENTITY e '<c/>'>]><a><b></b><c></c>&e;</a>"),
            (Lines{"entity e=<c/>", "doctype r", "start a", "start b"}));
  // The flag is cleared and the scan starts over; the declarations are known
  // from the first scan and are not raised again. A handler's exception ends
  // Execute and reaches the caller.
  t.Log.clear();
  t.Scanner.StartTagEvent = [&](TCustomXmlScanner& S, const std::string& N, const TAttrList& A) {
    if (fail && N == "c") throw std::invalid_argument("not a number");
    logStart(S, N, A);
  };
  EXPECT_THROW(t.Scanner.Execute(), std::invalid_argument);
  EXPECT_EQ(t.Log, (Lines{"doctype r", "start a", "start b", "end b"}));
  fail = false;
  t.Log.clear();
  t.Scanner.Execute();
  EXPECT_EQ(t.Log, (Lines{"doctype r", "start a", "start b", "end b", "start c", "end c", "empty c",
                          "end a"}));
}

TEST(XmlScannerTest, ConvertAndExternalEventsReplaceTheDefaults) {
  TLoggedScanner t;
  std::string encodings;
  t.Scanner.ConvertEvent = [&](TCustomXmlScanner&, const std::string& Enc, std::string_view Text) {
    encodings += "<" + Enc + ">";
    return "(" + std::string(Text) + ")";
  };
  t.Scanner.ExternalEvent = [](TCustomXmlScanner&, const std::string& System, const std::string&,
                               TExternalKind Kind) -> std::unique_ptr<TXmlParser> {
    if (Kind != ekGeneralEntity || System != "part") return nullptr;
    auto p = std::make_unique<TXmlParser>();
    p->LoadFromText("<part k='z'/>");
    return p;
  };
  EXPECT_EQ(t.Run("<?xml version='1.0'?><!DOCTYPE r [<!ENTITY p SYSTEM 'part'>]>"
                  "<r a='v'>x&p;<![CDATA[y]]></r>"),
            (Lines{"prolog 1.0||no", "entity p=", "doctype r", "start r[a=(v)]", "text (x)",
                   "empty part[k=(z)]", "cdata (y)", "end r"}));
  EXPECT_EQ(encodings, "<UTF-8><UTF-8><><UTF-8>");
}

// Whether a document's first element closed: what tells a whole task file
// from one cut short.
TEST(XmlScannerTest, RootClosedOnlyWhenTheFirstElementEndsInTheDocument) {
  const struct {
    const char* Document;
    bool Seen, Closed;
  } cases[] = {
      {"<xml><a x='1'></a>\r\n</xml>\r\n", true, true},
      {"<xml><a x='1'></a>\r\n</xml>", true, true},
      {"<xml><a x='1'></a>\r\n</xml", true, false},  // the end tag's ">" is cut off
      {"<xml><a x='1'></a>\r\n</xm", true, false},
      {"<xml><a x='1'></a>", true, false},
      {"<xml><a x='1", true, false},
      {"<xm", true, false},
      {"", false, false},
      {"  text only &amp; ", false, false},
      {"<!-- c --><?pi x?></xml>", false, false},  // an end tag before any element
      {"<xml/>", true, true},
      {"<xml/", true, false},
      {"<xml><xml></xml>", true, false},  // the inner one of the same name closed
      {"<xml><xml></xml></xml>", true, true},
      {"<xml><a><b></xml>", true, true},  // inner elements left open do not matter
      {"<XML></xml>", true, false},       // names are compared exactly
      {"<xml></xml><more>", true, true},
      // An end tag from an entity's text is not the document's own.
      {"<!DOCTYPE xml [<!ENTITY e '</xml>'>]><xml>&e;", true, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Document);
    TXmlScanner s;
    s.LoadFromText(c.Document);
    s.Execute();
    EXPECT_EQ(s.RootSeen(), c.Seen);
    EXPECT_EQ(s.RootClosed(), c.Closed);
  }
}

}  // namespace
}  // namespace kelvor
