// One-line text: what the log, the report and the console make of a text that
// may hold control characters (a task name read from a task file through
// character references, a database's message, a statement of several lines).
//
// EscapeLineText keeps every byte of ordinary text as it is, UTF-8 Chinese
// included, and writes each control character as an escape, so the result
// holds no line break, TAB or other control character and is never read as
// more than one line or one TAB-separated field:
//   CR "\r", LF "\n", TAB "\t"; any other byte below 0x20, and DEL, "\xHH";
//   the UTF-8 forms of U+0080..U+009F (NEL among them) and of U+2028 and
//   U+2029, at which some viewers break lines, "\xHH" for each of their bytes.
// A backslash is doubled only where it would otherwise start an escape: right
// before r, n, t, x, another backslash or an escaped character. Every other
// backslash (a path such as C:\data, a LIKE escape in a logged statement)
// stays as written, so a line without control characters reads as before,
// while an escaped text still stands for exactly one original: "\\" is one
// backslash, "\r", "\n", "\t" and "\xHH" the escaped byte, any other
// backslash itself.
// Thread safety: no shared state.
#pragma once

#include <string>
#include <string_view>

namespace kelvor {

std::string EscapeLineText(std::string_view Text);

}  // namespace kelvor
