// Small text conversions shared by the task record, the field map and the
// task file writer. Stateless; callable from any thread.
#pragma once

#include <string>
#include <string_view>

namespace kelvor {

// "true" or "false".
inline std::string BoolToText(bool Value) {
  return Value ? "true" : "false";
}
// True exactly when the text, lower-cased, equals "true".
bool TextToBool(std::string_view Text);

// An attribute value for a task file that is written without any other
// escaping: '"' becomes "&quot;" and an "&" followed somewhere later by ";"
// or '"' becomes "&amp;". Everything else is written as it is, so the reader gives
// back exactly the value, and files stay readable by other installations.
std::string EscapeAttributeValue(std::string_view Value);

}  // namespace kelvor
