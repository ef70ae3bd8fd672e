// The catalogue's files on a real folder: saves that never write over or
// delete another task's file, tasks.ini naming each task's own file, names
// that cannot be file names, and what a load makes of every kind of listed
// entry. After each save a fresh catalogue loads the folder, as the next
// start of the program does.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "platform/Paths.h"
#include "support/TestSupport.h"
#include "tasks/uInstanceCollections.h"

namespace kelvor {
namespace {

using Lines = std::vector<std::string>;

class CatalogueFilesTest : public ::testing::Test {
 protected:
  CatalogueFilesTest() { Catalogue.SetFolder(Dir.Path()); }

  // A whole task file named File holding the task Name.
  void WriteTask(const std::string& File, const std::string& Name) {
    TKelvorInstance t;
    t.MissionName = Name;
    t.Note = "kept in " + File;
    ASSERT_TRUE(t.WriteTaskFile(Dir.Path() + File));
  }
  void WriteIndex(const Lines& Files) {
    std::string text = "#define all tasks....\r\n";
    for (const auto& f : Files)
      text += f + "\r\n";
    test::WriteFileOrDie(Dir.Path() + "tasks.ini", text);
  }
  std::string Local(const std::string& Path) const { return Path.substr(Dir.Path().size()); }
  // What the next start finds: "<name>@<file>" per task, in tasks.ini order,
  // each task's note telling the file it was first written to.
  Lines Restart() {
    TInstanceCollections next;
    next.SetFolder(Dir.Path());
    next.LoadAll();
    Lines found;
    for (int i = 0; auto t = next.GetItem(i); ++i)
      found.push_back(t->MissionName + "@" + Local(t->FileName));
    return found;
  }

  test::TempDir Dir;
  TInstanceCollections Catalogue;
};

TEST_F(CatalogueFilesTest, SavingATaskStoredUnderAnotherTasksNameKeepsBoth) {
  // x.xml holds y and y.xml holds z: activating y must not write y.xml.
  WriteTask("x.xml", "y");
  WriteTask("y.xml", "z");
  WriteIndex({"x.xml", "y.xml"});
  ASSERT_TRUE(Catalogue.LoadAll());
  auto y = Catalogue.FindByName("y");
  y->IsActive = true;
  std::string note;
  ASSERT_TRUE(Catalogue.SaveMission(*y, &note));
  EXPECT_EQ(Local(y->FileName), "x.xml");
  EXPECT_NE(note.find("y.xml is the file of another task"), std::string::npos) << note;
  EXPECT_EQ(Restart(), (Lines{"y@x.xml", "z@y.xml"}));

  // Renamed to a name whose file no task of the catalogue was loaded from:
  // that file stays as it was, and so does the task's own.
  WriteTask("o.xml", "orphan");
  const std::string orphan = test::ReadFileOrEmpty(Dir.Path() + "o.xml");
  y->MissionName = "o";
  ASSERT_TRUE(Catalogue.SaveMission(*y, &note));
  EXPECT_EQ(Local(y->FileName), "x.xml");
  EXPECT_NE(note.find("o.xml already exists"), std::string::npos) << note;
  EXPECT_EQ(test::ReadFileOrEmpty(Dir.Path() + "o.xml"), orphan);
  EXPECT_EQ(Restart(), (Lines{"o@x.xml", "z@y.xml"}));
}

TEST_F(CatalogueFilesTest, NewTaskNamedAfterAnotherTasksFileGetsAFreeName) {
  // a.xml holds c; a new task a comes; then c is saved under its own name.
  WriteTask("a.xml", "c");
  WriteIndex({"a.xml"});
  ASSERT_TRUE(Catalogue.LoadAll());
  auto a = std::make_shared<TKelvorInstance>();
  a->MissionName = "a";
  Catalogue.Add(a);
  std::string note;
  ASSERT_TRUE(Catalogue.SaveMission(*a, &note));
  EXPECT_EQ(Local(a->FileName), "a_2.xml");
  EXPECT_NE(note.find("saved to " + Dir.Path() + "a_2.xml"), std::string::npos) << note;
  EXPECT_EQ(Restart(), (Lines{"c@a.xml", "a@a_2.xml"}));

  auto c = Catalogue.FindByName("c");
  note.clear();
  ASSERT_TRUE(Catalogue.SaveMission(*c, &note));
  EXPECT_TRUE(note.empty()) << note;
  EXPECT_EQ(Local(c->FileName), "c.xml");
  EXPECT_FALSE(FileExists(Dir.Path() + "a.xml"));  // its old file, used by no other task
  EXPECT_EQ(Restart(), (Lines{"c@c.xml", "a@a_2.xml"}));

  // Now a.xml is free again, and a moves there.
  ASSERT_TRUE(Catalogue.SaveMission(*a));
  EXPECT_EQ(Restart(), (Lines{"c@c.xml", "a@a.xml"}));
  EXPECT_FALSE(FileExists(Dir.Path() + "a_2.xml"));
}

TEST_F(CatalogueFilesTest, IndexListsEachTasksOwnFile) {
  // Loaded from files of other names and not saved since, then another task
  // makes tasks.ini be rewritten.
  std::filesystem::create_directories(Dir.Path() + "sub");
  WriteTask("m.xml", "n");
  WriteTask("sub/k.xml", "k");
  WriteIndex({"m.xml", "sub\\k.xml"});
  ASSERT_TRUE(Catalogue.LoadAll());
  auto q = std::make_shared<TKelvorInstance>();
  q->MissionName = "q";
  Catalogue.Add(q);
  ASSERT_TRUE(Catalogue.SaveMission(*q));
  EXPECT_EQ(test::ReadFileOrEmpty(Dir.Path() + "tasks.ini"),
            "#define all tasks....\r\nm.xml\r\nsub/k.xml\r\nq.xml\r\n");
  EXPECT_EQ(Restart(), (Lines{"n@m.xml", "k@sub/k.xml", "q@q.xml"}));
}

TEST_F(CatalogueFilesTest, NamesThatCannotBeFileNamesKeepTheTasksOwnFile) {
  const struct {
    std::string Name;
    const char* Why;
  } cases[] = {
      {"", "it is empty"},
      {"../evil", "path separator"},
      {"a\\b", "path separator"},
      {"x..y", "\"..\""},
      {".hidden", "hidden"},
      {"#x", "comment"},
      {" lead", "blank"},
      {"a\x01"
       "b",
       "control character"},
      {std::string(260, 'n'), "too long"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    test::TempDir dir;
    TInstanceCollections catalogue;
    catalogue.SetFolder(dir.Path());
    // Written as a hand or another program may write it.
    test::WriteFileOrDie(dir.Path() + "f.xml",
                         "<xml version=\"1.0\">\r\n  <data_operation mission_name=\"" +
                             EscapeAttributeValueExactly(c.Name) +
                             "\" isactive=\"false\" >\r\n</data_operation>\r\n</xml>\r\n");
    test::WriteFileOrDie(dir.Path() + "tasks.ini", "#define all tasks....\r\nf.xml\r\n");
    ASSERT_TRUE(catalogue.LoadAll());
    auto t = catalogue.GetItem(0);
    ASSERT_EQ(t->MissionName, c.Name);
    t->IsActive = true;
    std::string note;
    ASSERT_TRUE(catalogue.SaveMission(*t, &note));
    EXPECT_EQ(t->FileName, dir.Path() + "f.xml");
    EXPECT_NE(note.find(c.Why), std::string::npos) << note;
    size_t files = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.Path()))
      ++files;
    EXPECT_EQ(files, 2u);  // f.xml and tasks.ini, nothing else
    TInstanceCollections next;
    next.SetFolder(dir.Path());
    ASSERT_TRUE(next.LoadAll());
    EXPECT_EQ(next.GetItem(0)->MissionName, c.Name);
    EXPECT_TRUE(next.GetItem(0)->IsActive);
  }
  // A record with such a name and no file yet gets a free name.
  auto nameless = std::make_shared<TKelvorInstance>();
  Catalogue.Add(nameless);
  ASSERT_TRUE(Catalogue.SaveMission(*nameless));
  EXPECT_EQ(Local(nameless->FileName), "mission_2.xml");
}

TEST_F(CatalogueFilesTest, ATaskNotReadCompletelyIsNeverWrittenOver) {
  TKelvorInstance whole;
  whole.MissionName = "cut";
  whole.FieldMaps.SetFieldMapText("<a>:<a|t|1|true>\r\n<b>:<b|t|2|false>");
  const std::string text = whole.SaveToText();
  const std::string cut = text.substr(0, text.find("<field src= \"b\"") + 20);
  test::WriteFileOrDie(Dir.Path() + "cut.xml", cut);
  WriteIndex({"cut.xml"});
  ASSERT_TRUE(Catalogue.LoadAll());
  auto t = Catalogue.GetItem(0);
  // Read up to the cut: the second field with its source and no destination.
  ASSERT_EQ(t->FieldMaps.Count(), 2);
  EXPECT_EQ(t->FieldMaps.GetItem(1)->Dst, "");
  EXPECT_NE(t->ReadProblem.find("ends before its root element closes"), std::string::npos);
  t->IsActive = true;
  std::string note;
  EXPECT_FALSE(Catalogue.SaveMission(*t, &note));
  EXPECT_NE(note.find("not read completely"), std::string::npos) << note;
  EXPECT_EQ(test::ReadFileOrEmpty(Dir.Path() + "cut.xml"), cut);
}

TEST_F(CatalogueFilesTest, EveryListedEntryIsLoadedOnceOrNoted) {
  WriteTask("good.xml", "good");
  std::filesystem::create_directories(Dir.Path() + "folder.xml");
  ASSERT_EQ(::mkfifo((Dir.Path() + "fifo.xml").c_str(), 0600), 0);  // opening it would block
  test::WriteFileOrDie(Dir.Path() + "empty.xml", "");
  test::WriteFileOrDie(Dir.Path() + "binary.xml", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16));
  std::string utf16 = "\xFF\xFE";
  for (char c : std::string("<xml version=\"1.0\">"))
    utf16 += std::string(1, c) + '\0';
  test::WriteFileOrDie(Dir.Path() + "utf16.xml", utf16);
  std::filesystem::create_symlink(Dir.Path() + "good.xml", Dir.Path() + "link.xml");
  WriteIndex({"good.xml", "missing.xml", "folder.xml", "fifo.xml", "empty.xml", "binary.xml",
              "utf16.xml", "./good.xml", "folder.xml/../good.xml", "link.xml"});
  ASSERT_TRUE(Catalogue.LoadAll());

  Lines records;
  for (int i = 0; auto t = Catalogue.GetItem(i); ++i)
    records.push_back(Local(t->FileName) + (t->ReadProblem.empty() ? "" : " cannot run"));
  EXPECT_EQ(records, (Lines{"good.xml", "empty.xml cannot run", "binary.xml cannot run",
                            "utf16.xml cannot run"}));
  Lines notes;
  for (const TLoadNote& n : Catalogue.LoadNotes())
    notes.push_back(Local(n.File) + ": " + n.Reason);
  EXPECT_EQ(notes,
            (Lines{"missing.xml: the file does not exist", "folder.xml: it is not a regular file",
                   "fifo.xml: it is not a regular file",
                   "./good.xml: it is listed more than once; it was loaded once",
                   "folder.xml/../good.xml: it is listed more than once; it was loaded once",
                   "link.xml: it is listed more than once; it was loaded once"}));
}

}  // namespace
}  // namespace kelvor
