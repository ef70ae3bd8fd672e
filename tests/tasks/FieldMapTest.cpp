// The field map's line form, stored form and task-file escaping. (The maps
// fragment of the task file is shown by TaskFileTest's layout.)
#include <gtest/gtest.h>

#include "tasks/uInstance.h"
#include "tasks/uSchemaObjects.h"

namespace kelvor {
namespace {

TEST(FieldMapLineTest, ParsesThePartsThatArePresent) {
  TFieldMap start;
  start.FieldType = "number";
  start.FieldLen = 9;
  start.IsKey = true;
  struct TCase {
    const char* Line;
    const char* Src;
    const char* Dst;
    const char* Type;
    int Len;
    bool Key;
  };
  const TCase cases[] = {
      {"<A>:<B|t|12|TRUE>", "A", "B", "t", 12, true},
      // Missing parts leave the fields as they were; no ":" changes nothing.
      {"<A>:<B>", "A", "B", "number", 9, true},
      {"<A><B|t|1|true>", "", "", "number", 9, true},
      // Parts are not trimmed one by one.
      {"<A>:<B | t | 12 | true>", "A", "B ", " t ", 0, false},
      // A length that is no 32-bit number gives 0.
      {"<a>:<b|t|x1|false>", "a", "b", "t", 0, false},
      {"<a>:<b|t|-3|false>", "a", "b", "t", -3, false},
      {"<a>:<b|t|99999999999|false>", "a", "b", "t", 0, false},
      // An empty part between two bars counts; a trailing bar adds no part.
      {"<a>:<b||7|>", "a", "b", "", 7, true},
  };
  for (const TCase& c : cases) {
    TFieldMap m = start;
    m.ParseLine(c.Line);
    EXPECT_EQ(m.Src, c.Src) << c.Line;
    EXPECT_EQ(m.Dst, c.Dst) << c.Line;
    EXPECT_EQ(m.FieldType, c.Type) << c.Line;
    EXPECT_EQ(m.FieldLen, c.Len) << c.Line;
    EXPECT_EQ(m.IsKey, c.Key) << c.Line;
  }
  // The line form defaults an empty type and reads back.
  TFieldMap m;
  m.ParseLine("<ID>:<CODE||10|true>");
  EXPECT_EQ(m.ToLine(), "<ID>:<CODE|varchar2|10|true>");
  TFieldMap back;
  back.ParseLine(m.ToLine());
  EXPECT_EQ(back.ToLine(), m.ToLine());
}

TEST(FieldMapTextTest, SetFieldMapTextReplacesKeepsOrEmpties) {
  TFieldMapCollections maps;
  maps.SetFieldMapText("<a>:<a|t|1|true>\r\n<b>:<b|t|2|false>\n");
  ASSERT_EQ(maps.Count(), 2);
  EXPECT_EQ(maps.GetFieldMapText(), "<a>:<a|t|1|true>\r\n<b>:<b|t|2|false>\r\n");
  maps.SetFieldMapText("");  // no lines: the map stays
  EXPECT_EQ(maps.Count(), 2);
  maps.SetFieldMapText("<c>:<c|t|3|false>");
  ASSERT_EQ(maps.Count(), 1);
  EXPECT_EQ(maps.GetItem(0)->Src, "c");
  maps.SetFieldMapText("\r\n");  // one empty line: the map is emptied
  EXPECT_EQ(maps.Count(), 0);
  maps.SetFieldMapText("   \rno colon");  // blanks and a line without ":" still add entries
  ASSERT_EQ(maps.Count(), 2);
  EXPECT_EQ(maps.GetItem(1)->Src, "");
  EXPECT_EQ(maps.GetItem(-1), nullptr);
  EXPECT_EQ(maps.GetItem(2), nullptr);
}

TEST(ScriptFormTest, StoredFormRoundTrips) {
  TFieldMapCollections maps;
  const std::string command = "select * from t where a<1 and b>2 and c=\"x\"\r\nand d=1";
  maps.SetCommand(command);
  EXPECT_EQ(maps.StoredCommand(), "select * from t where a&lt1 and b&gt2 and c=&qtx&qt\r\nand d=1");
  EXPECT_EQ(maps.GetCommand(), command);
  // Letters that look like the stored form read back as characters.
  maps.SetValidationSrc("a &lt b");
  EXPECT_EQ(maps.GetValidationSrc(), "a < b");
}

TEST(ScriptFormTest, EscapeXmlJoinsLinesAndUnescapeRestores) {
  TFieldMapCollections maps;
  maps.SetCommand("line1 \"q\" <a>\r\nline2");
  std::string escaped = TFieldMapCollections::EscapeXml(maps.StoredCommand());
  EXPECT_EQ(escaped, "line1 &qtq&qt &lta&gt&nsp;&nsp;line2");
  EXPECT_EQ(TFieldMapCollections::UnescapeXml(escaped), maps.StoredCommand());
  EXPECT_EQ(TFieldMapCollections::EscapeXml("a\"b<c>d"), "a&nbsp;b&lt;c&gt;d");
  EXPECT_EQ(TFieldMapCollections::UnescapeXml("a&nbsp;b&lt;c&gt;d"), "a\"b<c>d");
  EXPECT_EQ(TFieldMapCollections::UnescapeXml("x&nsp;y"), "x&nsp;y");
}

TEST(TaskTextTest, BoolTextAndAttributeValues) {
  EXPECT_TRUE(TextToBool("TRUE"));
  EXPECT_TRUE(TextToBool("True"));
  EXPECT_FALSE(TextToBool("yes"));
  EXPECT_FALSE(TextToBool("1"));
  EXPECT_FALSE(TextToBool(""));
  EXPECT_EQ(BoolToText(true), "true");
  EXPECT_EQ(EscapeAttributeValue("p\"w&amp;x"), "p&quot;w&amp;amp;x");
  EXPECT_EQ(EscapeAttributeValue("a&b"), "a&b");  // no ";" after it: the reader keeps it
  EXPECT_EQ(EscapeAttributeValue("a&b\""), "a&amp;b&quot;");  // the quote's escape has one
}

}  // namespace
}  // namespace kelvor
