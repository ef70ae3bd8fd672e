#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "platform/Paths.h"
#include "platform/TextFile.h"
#include "support/TestSupport.h"

namespace kelvor {
namespace {

TEST(PathsTest, SeparatorsAndTrailingSeparator) {
  EXPECT_EQ(NormalizeSeparators("..\\data\\a.mdb"), "../data/a.mdb");
  EXPECT_EQ(IncludeTrailingSeparator("a/b"), "a/b/");
  EXPECT_EQ(IncludeTrailingSeparator("a/b/"), "a/b/");
  EXPECT_EQ(IncludeTrailingSeparator("a\\b\\"), "a\\b/");
  EXPECT_EQ(IncludeTrailingSeparator(""), "");
  EXPECT_EQ(ExtractFilePath("a/b/c.txt"), "a/b/");
  EXPECT_EQ(ExtractFilePath("c.txt"), "");
  test::ProgramFolderScope folder("/opt/kelvor\\bin");
  EXPECT_EQ(ProgramFolder(), "/opt/kelvor/bin/");
}

TEST(TextFileTest, SplitLinesAcceptsEveryLineEnd) {
  EXPECT_EQ(SplitLines("a\r\nb\rc\nd"), (std::vector<std::string>{"a", "b", "c", "d"}));
  EXPECT_EQ(SplitLines("a\r\n\r\nb\r\n"), (std::vector<std::string>{"a", "", "b"}));
  EXPECT_TRUE(SplitLines("").empty());
  EXPECT_EQ(SplitLines("\n"), (std::vector<std::string>{""}));
}

TEST(TextFileTest, WriteAppendAndReadUseCrLfAndAMissingFolderFailsQuietly) {
  test::TempDir dir;
  std::string path = dir.Sub("f.txt");
  ASSERT_TRUE(WriteLines(path, {"one", "two"}));
  ASSERT_TRUE(AppendLine(path, "three"));
  EXPECT_EQ(test::ReadFileOrEmpty(path), "one\r\ntwo\r\nthree\r\n");
  std::vector<std::string> lines;
  ASSERT_TRUE(ReadLines(path, lines));
  EXPECT_EQ(lines, (std::vector<std::string>{"one", "two", "three"}));

  path = dir.Sub("no/such/folder/f.txt");
  EXPECT_FALSE(AppendLine(path, "x"));
  EXPECT_FALSE(WriteFileAtomically(path, "x"));
  std::string text = "left alone";
  EXPECT_FALSE(ReadWholeFile(path, text));
  EXPECT_TRUE(text.empty());
}

TEST(TextFileTest, AtomicWriteReplacesWholeAndSetsMode) {
  test::TempDir dir;
  std::string path = dir.Sub("task.xml");
  ASSERT_TRUE(WriteWholeFile(path, "old contents that are longer"));
  ASSERT_TRUE(WriteFileAtomically(path, "new", 0600));
  EXPECT_EQ(test::ReadFileOrEmpty(path), "new");
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  // No temporary file is left beside it.
  int files = 0;
  for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(dir.Path()))
    ++files;
  EXPECT_EQ(files, 1);
}

}  // namespace
}  // namespace kelvor
