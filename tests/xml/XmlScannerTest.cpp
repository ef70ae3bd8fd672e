#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "support/TestSupport.h"
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

// A task file as the task record writes it.
const char kTaskFile[] =
    "<xml version=\"1.0\">\r\n"
    "  <data_operation mission_name=\"\xE8\xAE\xA2\xE5\x8D\x95\" version=\"1.0\" "
    "isactive=\"true\" note=\"line one\r\nline two\" >\r\n"
    "  <mode_define mode=\"1\" time_point=\"08:30\" time_distance=\"0\" weekset=\"0\" "
    "dayset=\"0\" schedulemode=\"0\" checkcondition = \"select id from t where a &lt; 5\" "
    "></mode_define>\r\n"
    "  <db_src dbname=\"src.db\" dbuser=\"sa\" dbpwd=\"p&amp;w\" dbtype=\"2\" dbserver=\"\" "
    "></db_src>\r\n"
    "  <db_dst dbname=\"dst\" dbuser=\"u\" dbpwd=\"x&nbsp;y\" dbserver=\"srv\" dbtype=\"3\" "
    "></db_dst>\r\n"
    "  <maps namespace = \"ns\" >\r\n"
    "    <script command=\"select * from a where b &lt 3&nsp;&nsp;go\" "
    "validationsrc=\"update a set f=1\r\nwhere k=:k\" validationdst=\"\" ></script>\r\n"
    "    <dst_table name=\"T_DST\" operationtype=\"0\" ></dst_table>\r\n"
    "    <fields count=\"1\" >\r\n"
    "      <field src= \"ID\" dst =\"ID\"  fieldtype=\"integer\" fieldlen=\"10\" iskey=\"true\" "
    "></field>\r\n"
    "    </fields>\r\n"
    "  </maps>\r\n"
    "\r\n"
    "</data_operation>\r\n"
    "</xml>\r\n";

TEST(XmlScannerTest, ReadsATaskFile) {
  TXmlScanner s;
  Lines starts;
  int others = 0;
  s.StartTagEvent = [&](TCustomXmlScanner&, const std::string& Name, const TAttrList& A) {
    starts.push_back(Name + Attrs(A));
  };
  s.EndTagEvent = [&](TCustomXmlScanner&, const std::string&) { ++others; };
  s.TextEvent = [&](TCustomXmlScanner&, const std::string&) { ++others; };
  s.EmptyTagEvent = [&](TCustomXmlScanner&, const std::string&, const TAttrList&) { ++others; };
  s.LoadFromText(kTaskFile);
  s.Execute();
  EXPECT_EQ(starts, (Lines{
                        "xml[version=1.0]",
                        "data_operation[isactive=true][mission_name=\xE8\xAE\xA2\xE5\x8D\x95]"
                        "[note=line one  line two][version=1.0]",
                        "mode_define[checkcondition=select id from t where a < 5][dayset=0][mode=1]"
                        "[schedulemode=0][time_distance=0][time_point=08:30][weekset=0]",
                        "db_src[dbname=src.db][dbpwd=p&w][dbserver=][dbtype=2][dbuser=sa]",
                        "db_dst[dbname=dst][dbpwd=x&nbsp;y][dbserver=srv][dbtype=3][dbuser=u]",
                        "maps[namespace=ns]",
                        "script[command=select * from a where b &lt 3&nsp;&nsp;go][validationdst=]"
                        "[validationsrc=update a set f=1  where k=:k]",
                        "dst_table[name=T_DST][operationtype=0]",
                        "fields[count=1]",
                        "field[dst=ID][fieldlen=10][fieldtype=integer][iskey=true][src=ID]",
                    }));
  EXPECT_EQ(others, 10);  // the end tags; no text, no empty tags
}

TEST(XmlScannerTest, NamesArriveAsWrittenAndTagKindsAreDistinct) {
  TLoggedScanner t;
  EXPECT_EQ(t.Run("<MODE_DEFINE MODE=\"2\" TIME_POINT='09:00'></MODE_DEFINE>"),
            (Lines{"start MODE_DEFINE[MODE=2][TIME_POINT=09:00]", "end MODE_DEFINE"}));
  EXPECT_EQ(t.Run("<field src=\"a\" />"), (Lines{"empty field[src=a]"}));
  EXPECT_EQ(t.Run("<field src=\"a\" ></field>"), (Lines{"start field[src=a]", "end field"}));
}

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

TEST(XmlScannerTest, StopScanEndsAfterTheCurrentPart) {
  TLoggedScanner t;
  auto logStart = t.Scanner.StartTagEvent;
  t.Scanner.StartTagEvent = [&](TCustomXmlScanner& S, const std::string& N, const TAttrList& A) {
    logStart(S, N, A);
    if (N == "b") S.StopScan = true;
  };
  EXPECT_EQ(t.Run("<a><b><c/></b></a>"), (Lines{"start a", "start b"}));
  // Execute clears the flag and starts over.
  t.Log.clear();
  t.Scanner.Execute();
  EXPECT_EQ(t.Log, (Lines{"start a", "start b"}));
}

TEST(XmlScannerTest, HandlerExceptionEndsExecuteAndReachesTheCaller) {
  TLoggedScanner t;
  auto logStart = t.Scanner.StartTagEvent;
  bool fail = true;
  t.Scanner.StartTagEvent = [&](TCustomXmlScanner& S, const std::string& N, const TAttrList& A) {
    if (fail && N == "b") throw std::invalid_argument("not a number");
    logStart(S, N, A);
  };
  t.Scanner.LoadFromText("<a x='1'><b y='2'></b><c/></a>");
  EXPECT_THROW(t.Scanner.Execute(), std::invalid_argument);
  EXPECT_EQ(t.Log, (Lines{"start a[x=1]"}));
  // The scanner stays usable and the next Execute reads from the start.
  fail = false;
  t.Log.clear();
  t.Scanner.Execute();
  EXPECT_EQ(t.Log, (Lines{"start a[x=1]", "start b[y=2]", "end b", "empty c", "end a"}));
}

TEST(XmlScannerTest, ExecuteTwiceGivesTheSameEvents) {
  TLoggedScanner t;
  Lines first =
      t.Run("<!DOCTYPE r [<!ENTITY e '<i>in</i>'><!ATTLIST r k CDATA 'd'>]><r>&e;&e;</r>");
  EXPECT_EQ(first, (Lines{"entity e=<i>in</i>", "attlist r.k=d", "doctype r", "start r[k=d]",
                          "start i", "text in", "end i", "start i", "text in", "end i", "end r"}));
  t.Log.clear();
  t.Scanner.Execute();
  // The declarations are known from the first scan and are not raised again.
  EXPECT_EQ(t.Log, Lines(first.begin() + 2, first.end()));
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

TEST(XmlScannerTest, MissingFileAndByteZero) {
  test::TempDir dir;
  TLoggedScanner t;
  EXPECT_FALSE(t.Scanner.LoadFromFile(dir.Sub("none.xml")));
  t.Scanner.Execute();
  EXPECT_TRUE(t.Log.empty());

  const std::string doc("<a v='1'/>\0<b/>", 15);
  test::WriteFileOrDie(dir.Sub("zero.xml"), doc);
  EXPECT_TRUE(t.Scanner.LoadFromFile(dir.Sub("zero.xml")));
  t.Scanner.Execute();
  EXPECT_EQ(t.Log, (Lines{"empty a[v=1]"}));
}

}  // namespace
}  // namespace kelvor
