// The checks behind the task dialog's input rules, value by value.
#include <gtest/gtest.h>

#include "shell/uDatatypeChecker.h"

namespace kelvor {
namespace {

using C = TDataTypeChecker;

struct TCheckCase {
  const char* Name;
  bool (*Check)(std::string_view);
  std::vector<std::string> Accepted;
  std::vector<std::string> Refused;
};

TEST(DataTypeChecker, EachCheckAcceptsAndRefuses) {
  const TCheckCase cases[] = {
      // ASCII letters, digits and underscore only, and not none.
      {"name",
       C::CheckMissionName,
       {"Orders_2024_a", "_"},
       {"", "orders-2024", "orders 2024", "订单", "caf\xc3\xa9", "a.b"}},
      // Only a double quote and angle brackets are refused.
      {"text", C::CheckText, {"", "版本 1.0 & 'x' |;"}, {"1.0>", "<", "a\"b"}},
      // Digits and minus signs anywhere.
      {"number", C::CheckNumber, {"0", "-5", "5-", "--"}, {"", "1.5", "+5", " 5", "12a"}},
      // A number that also converts to a 32-bit integer.
      {"integer",
       C::CheckInteger,
       {"0", "-5", "2147483647", "-2147483648"},
       {"2147483648", "99999999999", "5-", "-", "--5", "", "+5"}},
      // Trimmed for the length only; no range test.
      {"time",
       C::CheckTime,
       {"12:30", "12:30 ", "99:99", "-1:-5"},
       {" 12:30", "1230", "12-30", "1:30", "12:3", "12:30:00", "ab:cd", ""}},
  };
  for (const TCheckCase& c : cases) {
    for (const std::string& text : c.Accepted)
      EXPECT_TRUE(c.Check(text)) << c.Name << " '" << text << "'";
    for (const std::string& text : c.Refused)
      EXPECT_FALSE(c.Check(text)) << c.Name << " '" << text << "'";
  }
}

}  // namespace
}  // namespace kelvor
