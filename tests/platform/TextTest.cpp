// Byte-string helpers: strict integers at their limits, and what trimming and
// ASCII case leave alone (UTF-8 text, inner blanks).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/Text.h"

namespace kelvor {
namespace {

TEST(TextTest, TryStrToIntTakesOnlyWholeInt32Numbers) {
  struct Case {
    std::string Text;
    bool Ok;
    int32_t Value;
  };
  const std::vector<Case> cases = {
      {"0", true, 0},
      {"+17", true, 17},
      {"-0042", true, -42},
      {"2147483647", true, INT32_MAX},
      {"-2147483648", true, INT32_MIN},
      {"2147483648", false, 0},
      {"-2147483649", false, 0},
      {"99999999999999999999", false, 0},
      {"", false, 0},
      {"-", false, 0},
      {" 1", false, 0},
      {"1 ", false, 0},
      {"1e3", false, 0},
      {"0x10", false, 0},
  };
  for (const Case& c : cases) {
    int32_t value = 12345;
    EXPECT_EQ(TryStrToInt(c.Text, value), c.Ok) << c.Text;
    EXPECT_EQ(value, c.Ok ? c.Value : 12345) << c.Text;  // unchanged on failure
  }
}

TEST(TextTest, TrimAndCaseChangeOnlyWhatTheySay) {
  EXPECT_EQ(TrimText("\t\r\n a b \x01\n"), "a b");
  EXPECT_EQ(TrimBlanks("\t a b \n"), "\t a b \n");
  EXPECT_EQ(TrimBlanks("  a b  "), "a b");
  EXPECT_EQ(LowerCase("SELECT Ä 任务"), "select Ä 任务");
  EXPECT_EQ(UpperCase("where ä 任务"), "WHERE ä 任务");
  EXPECT_TRUE(SameText("Data Source", "data SOURCE"));
  EXPECT_FALSE(SameText("Ä", "ä"));
  EXPECT_FALSE(SameText("abc", "abcd"));
  EXPECT_EQ(ReplaceAll("&lt&lt;x", "&lt", "<"), "<<;x");
  EXPECT_EQ(ReplaceAll("aaa", "aa", "a"), "aa");
  EXPECT_EQ(ReplaceAll("abc", "", "x"), "abc");
}

}  // namespace
}  // namespace kelvor
