// The task file: its exact layout, what reads back, and how reading ends.
// The task catalogue and its index file tasks.ini.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "platform/Paths.h"
#include "platform/TextFile.h"
#include "support/TestSupport.h"
#include "tasks/uInstance.h"
#include "tasks/uInstanceCollections.h"

namespace kelvor {
namespace {

// A task with two field map entries and a two-line command holding a quote,
// "<" and ">".
std::unique_ptr<TKelvorInstance> SampleTask() {
  auto t = std::make_unique<TKelvorInstance>();
  t->MissionName = "orders";
  t->Version = "1.2";
  t->IsActive = true;
  t->Note = "nightly copy";
  t->Mode = 1;
  t->TimePoint = "23:30";
  t->TimeDistance = 12;
  t->WeekSet = 5;
  t->DaySet = 0;
  t->ScheduleMode = 1;
  t->CheckCondition = "select id from orders";
  t->Source = {"../data/shop.db", "reader", "pw1", 2, "localhost"};
  t->Destination = {"warehouse", "loader", "pw2", 3, "dbhost"};
  t->FieldMaps.Namespace = "ns";
  t->FieldMaps.SetCommand("select * from orders\r\nwhere a < 1 and b > 2 and c = \"x\"");
  t->FieldMaps.SetValidationSrc("update orders set flag = 1 where 1=1");
  t->FieldMaps.DstTable = "orders";
  t->FieldMaps.OperationType = 1;
  t->FieldMaps.SetFieldMapText("<id>:<id|integer|0|true>\r\n<name>:<name|varchar|32|false>");
  return t;
}

TEST(TaskFileLayoutTest, ByteForByte) {
  const std::string expected =
      "<xml version=\"1.0\">\r\n"
      "  <data_operation mission_name=\"orders\" version=\"1.2\" isactive=\"true\" "
      "note=\"nightly copy\" >\r\n"
      "  <mode_define mode=\"1\" time_point=\"23:30\" time_distance=\"12\" weekset=\"5\" "
      "dayset=\"0\" schedulemode=\"1\" checkcondition = \"select id from orders\" "
      "></mode_define>\r\n"
      "  <db_src dbname=\"../data/shop.db\" dbuser=\"reader\" dbpwd=\"pw1\" dbtype=\"2\" "
      "dbserver=\"localhost\" ></db_src>\r\n"
      "  <db_dst dbname=\"warehouse\" dbuser=\"loader\" dbpwd=\"pw2\" dbserver=\"dbhost\" "
      "dbtype=\"3\" ></db_dst>\r\n"
      "  <maps namespace = \"ns\" >\r\n"
      "    <script command=\"select * from orders&nsp;&nsp;where a &lt 1 and b &gt 2 and c = "
      "&qtx&qt\" validationsrc=\"update orders set flag = 1 where 1=1\" validationdst=\"\" "
      "></script>\r\n"
      "    <dst_table name=\"orders\" operationtype=\"1\" ></dst_table>\r\n"
      "    <fields count=\"2\" >\r\n"
      "      <field src= \"id\" dst =\"id\"  fieldtype=\"integer\" fieldlen=\"0\" iskey=\"true\" "
      "></field>\r\n"
      "      <field src= \"name\" dst =\"name\"  fieldtype=\"varchar\" fieldlen=\"32\" "
      "iskey=\"false\" ></field>\r\n"
      "    </fields>\r\n"
      "  </maps>\r\n"
      "\r\n"
      "</data_operation>\r\n"
      "</xml>\r\n";
  auto t = SampleTask();
  EXPECT_EQ(t->SaveToText(), expected);

  test::TempDir dir;
  const std::string path = dir.Sub("orders.xml");
  t->SaveToFile(path);
  EXPECT_EQ(test::ReadFileOrEmpty(path), expected);
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);  // it holds passwords
}

TEST(TaskFileRoundTripTest, EveryDefinitionFieldComesBack) {
  auto t = SampleTask();
  t->Note = "line one\r\nline\ttwo";
  t->CheckCondition = "select id\r\nfrom orders where name = \"a&b;\" and c = 'x;y'";
  t->Source.DbPwd = "p\"w&amp;x;y";
  t->Destination.DbServer = "host \"main\"";
  t->Destination.DbPwd = "&#x\"&#65";  // a quote's escape must not complete a reference
  t->Destination.DbUser = std::string("u&\0v", 4);  // a byte 0 must not end the file
  t->FieldMaps.SetValidationSrc("update a\r\nset b = 1 where b <> 2; -- &lt;");
  t->FieldMaps.SetValidationDst("check\r\nthis");
  t->FieldMaps.GetItem(1)->FieldType = "";
  test::TempDir dir;
  const std::string path = dir.Sub("orders.xml");
  t->SaveToFile(path);
  TKelvorInstance r;
  ASSERT_TRUE(r.LoadFromFile(path));
  EXPECT_EQ(r.FileName, path);
  // Everything comes back exactly (the command with its line break, quote,
  // "<" and ">", values holding quotes and "&...;"), except that the other
  // multi-line texts lose their line breaks and tabs to blanks.
  t->Note = "line one  line two";
  t->CheckCondition = "select id  from orders where name = \"a&b;\" and c = 'x;y'";
  t->FieldMaps.SetValidationSrc("update a  set b = 1 where b <> 2; -- &lt;");
  t->FieldMaps.SetValidationDst("check  this");
  EXPECT_EQ(r.SaveToText(), t->SaveToText());
  EXPECT_EQ(r.FieldMaps.GetFieldMapText(),
            "<id>:<id|integer|0|true>\r\n<name>:<name|varchar2|32|false>\r\n");
  EXPECT_EQ(r.FieldMaps.GetItem(1)->FieldType, "");  // "varchar2" belongs to the line form only
}

// Save then load gives back every command byte for byte. Commands that the
// command attribute brings back exactly are written as every installation
// writes them; the others carry their exact text beside it.
TEST(TaskFileCommandTest, EveryCommandComesBackExactly) {
  const struct {
    std::string Command;
    bool Plain;  // written as every installation writes it, nothing beside
  } cases[] = {
      {"select * from t where a < 1 and b > 2 and c = \"x\"\r\ngo\r\n", true},
      {"select 'R&D' from t", true},
      {"update t set a = 'a;b' where b = 'c&d;'", true},
      {"select '中文', 'caf\xC3\xA9' from t", true},
      {"", true},
      {"select '&#39;' from t", false},
      {"select '&amp;', '&quot;', '&apos;' from t", false},
      {"select '&lt;b&gt;' from t", false},
      {"select '&lt', '&gt', '&qt' from t", false},  // the stored form's own letters
      {"select '&nbsp;' || '&nsp;&nsp;' from t", false},
      {"select 1 where a <; b", false},
      {"select\t1\rfrom\nt", false},             // a tab and lone line breaks
      {std::string("select 'a\0b'", 12), true},  // a byte 0 is written as a reference
      {"&#x41;&#65;&#;&#x;&", false},
  };
  test::TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Command);
    TKelvorInstance t;
    t.MissionName = "cmd";
    t.FieldMaps.SetCommand(c.Command);
    EXPECT_EQ(t.FieldMaps.GetCommand(), c.Command);
    EXPECT_EQ(t.SaveToText().find("commandtext") == std::string::npos, c.Plain);
    t.SaveToFile(dir.Sub("cmd.xml"));
    TKelvorInstance r;
    ASSERT_TRUE(r.LoadFromFile(dir.Sub("cmd.xml")));
    EXPECT_EQ(r.FieldMaps.GetCommand(), c.Command);
    EXPECT_EQ(r.SaveToText(), t.SaveToText());
  }
}

// Files of other installations have only the command attribute: it keeps
// the meaning it always had, and an exact text left beside a command that
// was edited by hand in the file does not overrule the edit.
TEST(TaskFileCommandTest, CommandAttributesKeepTheirMeaning) {
  const struct {
    const char* Script;
    const char* Command;
  } cases[] = {
      {"<script command=\"a &lt 1 and b &gt; 2&nsp;&nsp;go\">", "a < 1 and b > 2\r\ngo"},
      {"<script command=\"c = &qtx&qt and d = &nbsp;y&nbsp;\">", "c = \"x\" and d = \"y\""},
      {"<script command=\"x &#39; y &amp; z\">", "x ' y & z"},
      {"<script command=\"p &amp;lt; q\tr\">", "p < q r"},
      {"<script command=\"select 2\" commandtext=\"select &amp;1\">", "select 2"},
      {"<script commandtext=\"select 1\">", ""},
  };
  test::TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Script);
    test::WriteFileOrDie(dir.Sub("t.xml"), c.Script);
    TKelvorInstance t;
    t.LoadFromFile(dir.Sub("t.xml"));
    EXPECT_EQ(t.FieldMaps.GetCommand(), c.Command);
  }
}

// Reading files written by hand or by other installations.
class TaskFileReaderTest : public ::testing::Test {
 protected:
  bool Load(const std::string& Text, TKelvorInstance& Task) {
    test::WriteFileOrDie(Dir.Sub("t.xml"), Text);
    return Task.LoadFromFile(Dir.Sub("t.xml"));
  }
  test::TempDir Dir;
};

TEST_F(TaskFileReaderTest, MissingFileReadsAsEmpty) {
  TKelvorInstance t;
  t.MissionName = "kept";
  EXPECT_TRUE(t.LoadFromFile(Dir.Sub("nothing.xml")));
  EXPECT_EQ(t.MissionName, "kept");
}

TEST_F(TaskFileReaderTest, UpperCaseNamesReadLikeLowerCase) {
  TKelvorInstance t;
  ASSERT_TRUE(
      Load("<MODE_DEFINE MODE=\"2\" Time_Point='08:15'></MODE_DEFINE>"
           "<Data_Operation ISACTIVE=\"TRUE\" Mission_Name=\"m\">",
           t));
  EXPECT_EQ(t.Mode, 2);
  EXPECT_EQ(t.TimePoint, "08:15");
  EXPECT_TRUE(t.IsActive);
  EXPECT_EQ(t.MissionName, "m");
  EXPECT_EQ(t.CurrentElement, "DATA_OPERATION");
}

TEST_F(TaskFileReaderTest, FlagsAndReferences) {
  TKelvorInstance t;
  ASSERT_TRUE(
      Load("<data_operation isactive=\"yes\" note=\"a&lt;b&#65;&foo;\r\nc\" >"
           "<db_src dbpwd=\"x&amp;y\" dbname=\"a&b\">",
           t));
  EXPECT_FALSE(t.IsActive);
  EXPECT_EQ(t.Note, "a<bA&foo;  c");
  EXPECT_EQ(t.Source.DbPwd, "x&y");
  EXPECT_EQ(t.Source.DbName, "a&b");  // no ";" after the "&": kept as written
}

TEST_F(TaskFileReaderTest, FieldsAddEntriesOnlyForStartTags) {
  TKelvorInstance t;
  ASSERT_TRUE(
      Load("<fields count=\"1\">"
           "<field src=\"a\" dst=\"a\" fieldlen=\"x\" iskey=\"true\"></field>"
           "<field src=\"b\" dst=\"b\" fieldlen=\"7\"/>"
           "<field src=\"c\" dst=\"c\" fieldlen=\"3\"></field>"
           "</fields>",
           t));
  ASSERT_EQ(t.FieldMaps.Count(), 2);  // the count does not limit, the empty tag adds nothing
  EXPECT_EQ(t.FieldMaps.GetItem(0)->FieldLen, 0);  // a bad length gives 0 and reading goes on
  EXPECT_TRUE(t.FieldMaps.GetItem(0)->IsKey);
  EXPECT_EQ(t.FieldMaps.GetItem(1)->Src, "c");
  EXPECT_EQ(t.FieldMaps.GetItem(1)->FieldLen, 3);
}

TEST_F(TaskFileReaderTest, BadIntegerEndsReadingAndAnswersFalse) {
  TKelvorInstance t;
  // Attributes are visited in byte order of their names: dbname, dbpwd,
  // dbtype (bad), dbuser. What comes after is not read.
  EXPECT_FALSE(
      Load("<db_src dbuser=\"u\" dbtype=\"x\" dbpwd=\"p\" dbname=\"n\"></db_src>"
           "<dst_table name=\"never\"></dst_table>",
           t));
  EXPECT_EQ(t.Source.DbName, "n");
  EXPECT_EQ(t.Source.DbPwd, "p");
  EXPECT_EQ(t.Source.DbUser, "");
  EXPECT_EQ(t.FieldMaps.DstTable, "");
  TKelvorInstance empty;
  EXPECT_FALSE(Load("<mode_define mode=\"\">", empty));
  TKelvorInstance count;
  EXPECT_FALSE(Load("<fields count=\"two\"><field src=\"a\"></field>", count));
  EXPECT_EQ(count.FieldMaps.Count(), 0);
}

TEST_F(TaskFileReaderTest, Utf8DeclarationConvertsToTheSingleByteCodePage) {
  TKelvorInstance with, without;
  const std::string body = "<data_operation note=\"caf\xC3\xA9 \xE4\xB8\xAD\">";
  ASSERT_TRUE(Load("<?xml version=\"1.0\"?>" + body, with));
  EXPECT_EQ(with.Note, "caf\xE9 \xBF");
  ASSERT_TRUE(Load(body, without));
  EXPECT_EQ(without.Note, "caf\xC3\xA9 \xE4\xB8\xAD");
}

TEST_F(TaskFileReaderTest, CommandAttributeIsUnescaped) {
  TKelvorInstance t;
  ASSERT_TRUE(Load("<script command=\"a &gt; 1 and b = &nbsp;x&nbsp;&nsp;&nsp;go\">", t));
  EXPECT_EQ(t.FieldMaps.GetCommand(), "a > 1 and b = \"x\"\r\ngo");
}

TEST(TaskFileDeleteTest, DeletesItsOwnFileOnly) {
  test::TempDir dir;
  TKelvorInstance t;
  t.FileName = dir.Sub("a.xml");
  test::WriteFileOrDie(t.FileName, "x");
  t.DeleteTaskFile();
  EXPECT_FALSE(FileExists(t.FileName));
  t.DeleteTaskFile();  // already gone: nothing happens
}

class CatalogueTest : public ::testing::Test {
 protected:
  CatalogueTest() { Catalogue.SetFolder(Dir.Path()); }

  void WriteTask(const std::string& File, const std::string& Name) {
    TKelvorInstance t;
    t.MissionName = Name;
    t.SaveToFile(Dir.Path() + File);
  }
  std::shared_ptr<TKelvorInstance> Task(const std::string& Name) {
    auto t = std::make_shared<TKelvorInstance>();
    t->MissionName = Name;
    return t;
  }
  std::string Index() { return test::ReadFileOrEmpty(Dir.Path() + "tasks.ini"); }

  test::TempDir Dir;
  TInstanceCollections Catalogue;
};

TEST(CatalogueFolderTest, FolderGetsOneTrailingSeparator) {
  TInstanceCollections c;
  c.SetFolder("/opt/k/tasks");
  EXPECT_EQ(c.Folder(), "/opt/k/tasks/");
  c.SetFolder("/opt/k/tasks/");
  EXPECT_EQ(c.Folder(), "/opt/k/tasks/");
  c.SetFolder("..\\tasks\\dbtasks\\");
  EXPECT_EQ(c.Folder(), "../tasks/dbtasks/");
  c.SetFolder("");
  EXPECT_EQ(c.Folder(), "");
}

TEST_F(CatalogueTest, NoIndexOrAHeaderOnlyIndexLoadsNothing) {
  EXPECT_FALSE(Catalogue.LoadAll());
  test::WriteFileOrDie(Dir.Path() + "tasks.ini", "#define all tasks....\r\n");
  EXPECT_FALSE(Catalogue.LoadAll());
  EXPECT_EQ(Catalogue.Count(), 0);
}

TEST_F(CatalogueTest, BlankCommentAndMissingLinesAreSkipped) {
  WriteTask("a.xml", "a");
  WriteTask("b.xml", "b");
  std::filesystem::create_directories(Dir.Path() + "sub");
  WriteTask("sub/c.xml", "c");
  test::WriteFileOrDie(Dir.Path() + "tasks.ini",
                       "#define all tasks....\r\n\r\n  a.xml  \r\n# b.xml\r\n\tmissing.xml\n"
                       "sub\\c.xml\rb.xml\r\n");
  EXPECT_TRUE(Catalogue.LoadAll());
  ASSERT_EQ(Catalogue.Count(), 3);
  EXPECT_EQ(Catalogue.GetItem(0)->MissionName, "a");
  EXPECT_EQ(Catalogue.GetItem(0)->FileName, Dir.Path() + "a.xml");
  EXPECT_EQ(Catalogue.GetItem(1)->MissionName, "c");
  EXPECT_EQ(Catalogue.GetItem(2)->MissionName, "b");
  EXPECT_EQ(Catalogue.GetItem(2)->Owner, &Catalogue);
  EXPECT_EQ(Catalogue.GetItem(3), nullptr);
  EXPECT_EQ(Catalogue.GetItem(-1), nullptr);
}

TEST_F(CatalogueTest, UnreadableTaskFileIsAddedWithWhatWasRead) {
  test::WriteFileOrDie(Dir.Path() + "bad.xml",
                       "<data_operation mission_name=\"bad\"><mode_define mode=\"x\">");
  test::WriteFileOrDie(Dir.Path() + "tasks.ini", "#define all tasks....\r\nbad.xml\r\n");
  EXPECT_TRUE(Catalogue.LoadAll());
  EXPECT_EQ(Catalogue.GetItem(0)->MissionName, "bad");
}

TEST_F(CatalogueTest, DeleteTheSecondOfThreeRewritesTheIndex) {
  for (const char* n : {"one", "two", "three"}) {
    auto t = Task(n);
    Catalogue.Add(t);
    ASSERT_TRUE(Catalogue.SaveMission(*t));
  }
  Catalogue.Add(Task("never_saved"));  // no file: nothing to list
  Catalogue.Delete(1);
  Catalogue.Delete(5);   // out of range: nothing
  Catalogue.Delete(-1);  // out of range: nothing
  Catalogue.DeleteByName("none");
  std::filesystem::remove(Dir.Path() + "tasks.ini");
  Catalogue.SaveIndex();  // creates tasks.ini when it is missing
  EXPECT_EQ(Index(), "#define all tasks....\r\none.xml\r\nthree.xml\r\n");
}

TEST_F(CatalogueTest, DuplicatesFindAndDeleteTheFirst) {
  auto first = Task("dup");
  auto second = Task("dup");
  Catalogue.Add(first);
  Catalogue.Add(second);
  EXPECT_EQ(Catalogue.FindByName("dup"), first);
  EXPECT_TRUE(Catalogue.Exists("dup"));
  EXPECT_FALSE(Catalogue.Exists("DUP"));  // exact and case-sensitive
  Catalogue.DeleteByName("dup");
  ASSERT_EQ(Catalogue.Count(), 1);
  EXPECT_EQ(Catalogue.GetItem(0), second);
}

TEST_F(CatalogueTest, SavingUnderANewNameMovesTheFileAndTheIndex) {
  auto t = Task("old");
  Catalogue.Add(t);
  ASSERT_TRUE(Catalogue.SaveMission(*t));
  EXPECT_EQ(t->FileName, Dir.Path() + "old.xml");
  EXPECT_EQ(Index(), "#define all tasks....\r\nold.xml\r\n");
  t->MissionName = "new";
  ASSERT_TRUE(Catalogue.SaveMission(*t));
  EXPECT_EQ(t->FileName, Dir.Path() + "new.xml");
  EXPECT_FALSE(FileExists(Dir.Path() + "old.xml"));
  EXPECT_EQ(Index(), "#define all tasks....\r\nnew.xml\r\n");
  TInstanceCollections again;
  again.SetFolder(Dir.Path());
  ASSERT_TRUE(again.LoadAll());
  EXPECT_EQ(again.GetItem(0)->MissionName, "new");
}

TEST_F(CatalogueTest, FailedSaveKeepsTheOldFile) {
  auto t = Task("keep");
  Catalogue.Add(t);
  ASSERT_TRUE(Catalogue.SaveMission(*t));
  Catalogue.SetFolder(Dir.Path() + "gone/");  // the new file cannot be written
  t->MissionName = "renamed";
  EXPECT_FALSE(Catalogue.SaveMission(*t));
  EXPECT_TRUE(FileExists(Dir.Path() + "keep.xml"));
  EXPECT_EQ(t->FileName, Dir.Path() + "keep.xml");
}

TEST_F(CatalogueTest, IndexThatCannotBeWrittenRaises) {
  Catalogue.SetFolder(Dir.Path() + "missing/");
  Catalogue.Add(Task("x"));
  EXPECT_THROW(Catalogue.SaveIndex(), std::runtime_error);
}

}  // namespace
}  // namespace kelvor
