// Byte-string helpers used at every layer: trimming, ASCII case, search and
// replace, strict integer conversion. Text is bytes; only ASCII letters change
// case, so UTF-8 text passes through unchanged. Stateless; any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kelvor {

std::string ReplaceAll(std::string_view Text, std::string_view From, std::string_view To);
// Removes leading and trailing blanks and control characters (bytes <= 0x20).
std::string TrimText(std::string_view Text);
// Removes leading and trailing blanks only.
std::string TrimBlanks(std::string_view Text);
std::string LowerCase(std::string_view Text);           // ASCII letters only
std::string UpperCase(std::string_view Text);           // ASCII letters only
bool SameText(std::string_view A, std::string_view B);  // ASCII case-insensitive
// Strict decimal conversion: optional sign and digits, nothing else, no overflow.
bool TryStrToInt(std::string_view Text, int32_t& Value);

}  // namespace kelvor
