// The calendar and date parsing, paths, and CR LF text files.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "platform/Clock.h"
#include "platform/Paths.h"
#include "platform/TextFile.h"
#include "support/TestSupport.h"

namespace kelvor {
namespace {

using test::At;

TEST(CalendarTest, MonthArithmeticClampsToTheLastDay) {
  EXPECT_EQ(AddMonths(At(2027, 1, 31), 1), At(2027, 2, 28));
  EXPECT_EQ(AddMonths(At(2028, 1, 31), 1), At(2028, 2, 29));
  EXPECT_EQ(AddMonths(At(2026, 12, 15), 1), At(2027, 1, 15));
  EXPECT_EQ(AddMonths(At(2026, 3, 31), -1), At(2026, 2, 28));
  EXPECT_EQ(AddMonths(At(2026, 1, 10), -13), At(2024, 12, 10));
}

TEST(CalendarTest, DaysAndMinutesCrossMonthAndYearEnds) {
  EXPECT_EQ(AddDays(At(2026, 12, 31), 1), At(2027, 1, 1));
  EXPECT_EQ(AddDays(At(2024, 3, 1), -1), At(2024, 2, 29));
  EXPECT_EQ(AddMinutes(At(2026, 12, 31, 23, 55), 12), At(2027, 1, 1, 0, 7));
  EXPECT_EQ(AddMinutes(At(2026, 1, 1, 0, 5), -10), At(2025, 12, 31, 23, 55));
}

TEST(CalendarTest, IsoWeekdayStartsOnMonday) {
  EXPECT_EQ(IsoWeekday(At(2026, 12, 7)), 1);   // Monday
  EXPECT_EQ(IsoWeekday(At(2026, 12, 13)), 7);  // Sunday
  EXPECT_EQ(IsoWeekday(At(1899, 12, 30)), 6);  // Saturday
  EXPECT_EQ(IsoWeekday(At(1960, 2, 29)), 1);
}

TEST(ParseDateTimeTextTest, AcceptsTheReadingSideFormsOnly) {
  TDateTime t;
  for (auto [text, when] : {std::pair{"2024-05-01 10:20:30", At(2024, 5, 1, 10, 20, 30)},
                            {"2024-05-02", At(2024, 5, 2)},
                            {"10:20:30", At(1899, 12, 30, 10, 20, 30)},
                            {" 2024-05-01T10:20:30.125 ", At(2024, 5, 1, 10, 20, 30)}}) {
    ASSERT_TRUE(ParseDateTimeText(text, t)) << text;
    EXPECT_EQ(t, when) << text;
  }
  for (const char* bad :
       {"", "  ", "2024-5-1", "2024-02-30", "2024-13-01", "24:00:00", "2024-05-01 10:20",
        "2024-05-01 10:20:30x", "abc", "10:61:00", "2024-05-01 10:20:30."})
    EXPECT_FALSE(ParseDateTimeText(bad, t)) << bad;
}

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
