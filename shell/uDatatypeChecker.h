// TDataTypeChecker: the task dialog's checks of what the operator typed.
// Pure functions on the bytes of the text as entered (UTF-8 here, so every
// byte of a non-ASCII character counts as one character that is neither a
// letter nor a digit). No state; callable from any thread.
#pragma once

#include <string_view>

namespace kelvor {

class TDataTypeChecker {
 public:
  // Not empty, and every character is an ASCII letter, a digit or "_".
  static bool CheckMissionName(std::string_view Text);
  // Not empty, and every character is "0".."9" or "-" (a "-" anywhere).
  static bool CheckNumber(std::string_view Text);
  // "HH:MM": 5 characters once blanks around it are trimmed; then, on the
  // text as entered, characters 1-2 and 4-5 pass CheckNumber and the third
  // is ":". Hours and minutes are not range-checked.
  static bool CheckTime(std::string_view Text);
  // No double quote, "<" or ">"; the empty text passes.
  static bool CheckText(std::string_view Text);
  // CheckNumber, and the text also converts to a 32-bit integer, so a field
  // that passes can always be stored ("5-" or "--" pass CheckNumber alone).
  static bool CheckInteger(std::string_view Text);
};

}  // namespace kelvor
