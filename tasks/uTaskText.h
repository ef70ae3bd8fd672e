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
// escaping: '"' becomes "&quot;", a byte 0 "&#0;", and an "&" followed
// somewhere later by ";", '"' or a byte 0 becomes "&amp;". Everything else is
// written as it is, so the reader gives back the value (tabs and line breaks
// as blanks), and files stay readable by other installations.
std::string EscapeAttributeValue(std::string_view Value);

// An attribute value from which the task file reader gives back every byte:
// besides the quote and "&", the characters the reader would change or that
// would end the document (tab, CR, LF, byte 0) and "<", ">" are written as
// references.
std::string EscapeAttributeValueExactly(std::string_view Value);

// What the task file reader hands over for an attribute value written as
// Written between double quotes (no double quote inside) in a task file.
std::string ReadBackAttributeValue(std::string_view Written);

}  // namespace kelvor
