#include "shell/uDatatypeChecker.h"

#include <cstdint>

#include "platform/Text.h"

namespace kelvor {

namespace {
bool IsDigit(char C) {
  return C >= '0' && C <= '9';
}
bool IsAsciiLetter(char C) {
  return (C >= 'a' && C <= 'z') || (C >= 'A' && C <= 'Z');
}
}  // namespace

bool TDataTypeChecker::CheckMissionName(std::string_view Text) {
  // A task without a name would be saved as a hidden ".xml" and listed as a
  // nameless row.
  if (Text.empty()) return false;
  for (char c : Text)
    if (!IsDigit(c) && !IsAsciiLetter(c) && c != '_') return false;
  return true;
}

bool TDataTypeChecker::CheckNumber(std::string_view Text) {
  if (Text.empty()) return false;
  for (char c : Text)
    if (!IsDigit(c) && c != '-') return false;
  return true;
}

bool TDataTypeChecker::CheckTime(std::string_view Text) {
  // Blanks are trimmed for the length only; the parts are then read from the
  // text as entered, so a leading blank fails and a trailing one passes.
  if (TrimText(Text).size() != 5) return false;
  return CheckNumber(Text.substr(0, 2)) && Text[2] == ':' && CheckNumber(Text.substr(3, 2));
}

bool TDataTypeChecker::CheckText(std::string_view Text) {
  for (char c : Text)
    if (c == '"' || c == '<' || c == '>') return false;
  return true;
}

bool TDataTypeChecker::CheckInteger(std::string_view Text) {
  int32_t value = 0;
  return CheckNumber(Text) && TryStrToInt(Text, value);
}

}  // namespace kelvor
