// The task catalogue and its index file tasks.ini.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/Paths.h"
#include "platform/TextFile.h"
#include "support/TestSupport.h"
#include "tasks/uInstanceCollections.h"

namespace kelvor {
namespace {

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
  for (const char* n : {"one", "two", "three"})
    Catalogue.Add(Task(n));
  Catalogue.Delete(1);
  Catalogue.Delete(5);   // out of range: nothing
  Catalogue.Delete(-1);  // out of range: nothing
  Catalogue.DeleteByName("none");
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
  t->MissionName = "no/such/folder/x";
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
