// One-line text: control characters escaped, ordinary text kept, and no two
// texts escaped alike.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "platform/LineText.h"

namespace kelvor {
namespace {

TEST(LineTextTest, EscapesControlCharactersAndKeepsOrdinaryText) {
  struct Case {
    std::string Text;
    std::string Escaped;
  };
  const std::vector<Case> cases = {
      {"", ""},
      {"demo_customers", "demo_customers"},
      {"任务<订单>已经运行...", "任务<订单>已经运行..."},
      {"a\r\nb", "a\\r\\nb"},
      {"name\t10:00\t10:02\t0\t0\tforged", "name\\t10:00\\t10:02\\t0\\t0\\tforged"},
      {std::string("n\0m", 3), "n\\x00m"},
      {"\x01\x1b[2J\x7f", "\\x01\\x1b[2J\\x7f"},
      // NEL, LINE SEPARATOR and PARAGRAPH SEPARATOR break lines in some
      // viewers; other three-byte characters around them do not.
      {"a\xc2\x85"
       "b",
       "a\\xc2\\x85b"},
      {"a\xe2\x80\xa8"
       "b\xe2\x80\xa9",
       "a\\xe2\\x80\\xa8b\\xe2\\x80\\xa9"},
      {"a\xe2\x80\x94"
       "b\xc2\xa0",
       "a\xe2\x80\x94"
       "b\xc2\xa0"},
      // A lone or cut lead byte is ordinary (if broken) text.
      {"\xc2", "\xc2"},
      {"\xe2\x80", "\xe2\x80"},
      // Backslashes stay unless they would start an escape.
      {"C:\\data\\orders.mdb", "C:\\data\\orders.mdb"},
      {"like 'a\\_b%' escape '\\'", "like 'a\\_b%' escape '\\'"},
      {"trailing\\", "trailing\\"},
      {"C:\\temp\\new", "C:\\\\temp\\\\new"},
      {"\\x41", "\\\\x41"},
      {"\\\\server", "\\\\\\server"},
      {"a\\\nb", "a\\\\\\nb"},
      {"a\\\xc2\x85", "a\\\\\\xc2\\x85"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(EscapeLineText(c.Text), c.Escaped) << "text: " << c.Text;
}

// Every text over an alphabet that holds a backslash, the letters of the
// escapes, control characters and the bytes of NEL: no escaped text holds a
// control character or a line-breaking character, and no two texts share
// their escaped form.
TEST(LineTextTest, EscapedTextsAreOneLineAndStandForOneOriginalEach) {
  const std::string alphabet = std::string("\\nxa0\n\t\r", 8) + std::string("\0\xc2\x85", 3);
  std::vector<std::string> texts = {""};
  for (size_t begin = 0, length = 1; length <= 4; ++length) {
    const size_t end = texts.size();
    for (size_t i = begin; i < end; ++i)
      for (char c : alphabet)
        texts.push_back(texts[i] + c);
    begin = end;
  }
  std::set<std::string> escaped;
  for (const std::string& text : texts) {
    const std::string e = EscapeLineText(text);
    for (size_t i = 0; i < e.size(); ++i) {
      const auto b = static_cast<unsigned char>(e[i]);
      ASSERT_FALSE(b < 0x20 || b == 0x7F) << "control byte in " << e;
      const auto next = i + 1 < e.size() ? static_cast<unsigned char>(e[i + 1]) : 0;
      ASSERT_FALSE(b == 0xC2 && next >= 0x80 && next <= 0x9F) << "C1 control in " << e;
    }
    ASSERT_TRUE(escaped.insert(e).second) << "two texts escape to " << e;
  }
  EXPECT_EQ(escaped.size(), texts.size());
}

}  // namespace
}  // namespace kelvor
