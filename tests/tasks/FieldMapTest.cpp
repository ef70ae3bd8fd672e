// The field map's line form, stored form and task-file escaping, and the
// task record's defaults.
#include <gtest/gtest.h>

#include "tasks/uInstance.h"
#include "tasks/uSchemaObjects.h"

namespace kelvor {
namespace {

TFieldMap Parsed(const std::string& Line, TFieldMap Start = {}) {
  Start.ParseLine(Line);
  return Start;
}

TEST(FieldMapLineTest, ParsesEveryPart) {
  TFieldMap m = Parsed("<A>:<B|t|12|TRUE>");
  EXPECT_EQ(m.Src, "A");
  EXPECT_EQ(m.Dst, "B");
  EXPECT_EQ(m.FieldType, "t");
  EXPECT_EQ(m.FieldLen, 12);
  EXPECT_TRUE(m.IsKey);
}

TEST(FieldMapLineTest, MissingPartsLeaveFieldsAsTheyWere) {
  TFieldMap start;
  start.FieldType = "number";
  start.FieldLen = 9;
  start.IsKey = true;
  TFieldMap m = Parsed("<A>:<B>", start);
  EXPECT_EQ(m.Dst, "B");
  EXPECT_EQ(m.FieldType, "number");
  EXPECT_EQ(m.FieldLen, 9);
  EXPECT_TRUE(m.IsKey);
  // No ":" at all: nothing changes.
  TFieldMap none = Parsed("<A><B|t|1|true>", start);
  EXPECT_EQ(none.Src, "");
  EXPECT_EQ(none.FieldType, "number");
}

TEST(FieldMapLineTest, PartsAreNotTrimmedOneByOne) {
  TFieldMap m = Parsed("<A>:<B | t | 12 | true>");
  EXPECT_EQ(m.Dst, "B ");
  EXPECT_EQ(m.FieldType, " t ");
  EXPECT_EQ(m.FieldLen, 0);
  EXPECT_FALSE(m.IsKey);
}

TEST(FieldMapLineTest, LengthThatIsNotANumberGivesZero) {
  TFieldMap start;
  start.FieldLen = 5;
  EXPECT_EQ(Parsed("<a>:<b|t|x1|false>", start).FieldLen, 0);
  EXPECT_EQ(Parsed("<a>:<b|t|-3|false>", start).FieldLen, -3);
  EXPECT_EQ(Parsed("<a>:<b|t|99999999999|false>", start).FieldLen, 0);
  // An empty part between two bars counts; a trailing bar adds no part.
  TFieldMap m = Parsed("<a>:<b||7|>", start);
  EXPECT_EQ(m.FieldType, "");
  EXPECT_EQ(m.FieldLen, 7);
}

TEST(FieldMapLineTest, ToLineDefaultsTheTypeAndRoundTrips) {
  TFieldMap m;
  m.Src = "ID";
  m.Dst = "CODE";
  m.FieldType = "number";
  m.FieldLen = 10;
  m.IsKey = true;
  EXPECT_EQ(m.ToLine(), "<ID>:<CODE|number|10|true>");
  m.FieldType.clear();
  EXPECT_EQ(m.ToLine(), "<ID>:<CODE|varchar2|10|true>");
  TFieldMap back = Parsed(m.ToLine());
  EXPECT_EQ(back.FieldType, "varchar2");
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
}

TEST(TaskRecordTest, FreshRecordHasEmptyDefaults) {
  TKelvorInstance task;
  EXPECT_EQ(task.Mode, 0);
  EXPECT_EQ(task.ScheduleMode, 0);
  EXPECT_EQ(task.Source.DbType, 0);
  EXPECT_EQ(task.Destination.DbType, 0);
  EXPECT_EQ(task.FieldMaps.OperationType, 0);
  EXPECT_FALSE(task.IsActive);
  EXPECT_TRUE(task.MissionName.empty());
  EXPECT_TRUE(task.FieldMaps.GetCommand().empty());
  EXPECT_TRUE(task.RunStartTime.Get().empty());
  EXPECT_EQ(task.FieldMaps.Count(), 0);
}

TEST(FieldMapXmlTest, MapsFragmentLayout) {
  TFieldMapCollections maps;
  maps.Namespace = "ns";
  maps.DstTable = "test";
  maps.OperationType = 1;
  maps.SetCommand("select 1");
  maps.SetFieldMapText("<a1>:<a1|varchar2|32|true>\n<a2>:<b2||0|false>");
  EXPECT_EQ(maps.MapsToXml(),
            "  <maps namespace = \"ns\" >\r\n"
            "    <script command=\"select 1\" validationsrc=\"\" validationdst=\"\" ></script>\r\n"
            "    <dst_table name=\"test\" operationtype=\"1\" ></dst_table>\r\n"
            "    <fields count=\"2\" >\r\n"
            "      <field src= \"a1\" dst =\"a1\"  fieldtype=\"varchar2\" fieldlen=\"32\" "
            "iskey=\"true\" ></field>\r\n"
            "      <field src= \"a2\" dst =\"b2\"  fieldtype=\"\" fieldlen=\"0\" iskey=\"false\" "
            "></field>\r\n"
            "    </fields>\r\n"
            "  </maps>\r\n");
}

}  // namespace
}  // namespace kelvor
