#include <gtest/gtest.h>

#include "shell/uDatatypeChecker.h"

namespace kelvor {
namespace {

using C = TDataTypeChecker;

TEST(DataTypeChecker, MissionNameAllowsAsciiLettersDigitsAndUnderscoreOnly) {
  EXPECT_TRUE(C::CheckMissionName(""));
  EXPECT_TRUE(C::CheckMissionName("Orders_2024_a"));
  EXPECT_TRUE(C::CheckMissionName("_"));
  EXPECT_FALSE(C::CheckMissionName("orders-2024"));
  EXPECT_FALSE(C::CheckMissionName("orders 2024"));
  EXPECT_FALSE(C::CheckMissionName("订单"));
  EXPECT_FALSE(C::CheckMissionName("caf\xc3\xa9"));  // a letter outside ASCII
  EXPECT_FALSE(C::CheckMissionName("a.b"));
}

TEST(DataTypeChecker, TextRefusesQuoteAndAngleBracketsOnly) {
  EXPECT_TRUE(C::CheckText(""));
  EXPECT_TRUE(C::CheckText("版本 1.0 & 'x' |;"));
  EXPECT_FALSE(C::CheckText("1.0>"));
  EXPECT_FALSE(C::CheckText("<"));
  EXPECT_FALSE(C::CheckText("a\"b"));
}

TEST(DataTypeChecker, NumberIsDigitsAndMinusSignsAnywhere) {
  EXPECT_FALSE(C::CheckNumber(""));
  EXPECT_TRUE(C::CheckNumber("0"));
  EXPECT_TRUE(C::CheckNumber("-5"));
  EXPECT_TRUE(C::CheckNumber("5-"));
  EXPECT_TRUE(C::CheckNumber("--"));
  EXPECT_FALSE(C::CheckNumber("1.5"));
  EXPECT_FALSE(C::CheckNumber("+5"));
  EXPECT_FALSE(C::CheckNumber(" 5"));
  EXPECT_FALSE(C::CheckNumber("12a"));
}

TEST(DataTypeChecker, IntegerAlsoNeedsAConvertibleValue) {
  EXPECT_TRUE(C::CheckInteger("0"));
  EXPECT_TRUE(C::CheckInteger("-5"));
  EXPECT_TRUE(C::CheckInteger("2147483647"));
  EXPECT_TRUE(C::CheckInteger("-2147483648"));
  EXPECT_FALSE(C::CheckInteger("2147483648"));
  EXPECT_FALSE(C::CheckInteger("99999999999"));
  EXPECT_FALSE(C::CheckInteger("5-"));
  EXPECT_FALSE(C::CheckInteger("-"));
  EXPECT_FALSE(C::CheckInteger("--5"));
  EXPECT_FALSE(C::CheckInteger(""));
  EXPECT_FALSE(C::CheckInteger("+5"));
}

TEST(DataTypeChecker, TimeTrimsForTheLengthButReadsTheTextAsEntered) {
  EXPECT_TRUE(C::CheckTime("12:30"));
  EXPECT_TRUE(C::CheckTime("12:30 "));
  EXPECT_FALSE(C::CheckTime(" 12:30"));
  EXPECT_TRUE(C::CheckTime("99:99"));  // no range test
  EXPECT_TRUE(C::CheckTime("-1:-5"));
  EXPECT_FALSE(C::CheckTime("1230"));
  EXPECT_FALSE(C::CheckTime("12-30"));
  EXPECT_FALSE(C::CheckTime("1:30"));
  EXPECT_FALSE(C::CheckTime("12:3"));
  EXPECT_FALSE(C::CheckTime("12:30:00"));
  EXPECT_FALSE(C::CheckTime("ab:cd"));
  EXPECT_FALSE(C::CheckTime(""));
}

}  // namespace
}  // namespace kelvor
