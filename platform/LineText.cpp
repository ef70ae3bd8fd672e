#include "platform/LineText.h"

namespace kelvor {

namespace {

unsigned char ByteAt(std::string_view Text, size_t At) {
  return static_cast<unsigned char>(Text[At]);
}

// How many bytes from At on are written as escapes: 0 when the byte there is
// ordinary text.
size_t EscapedLength(std::string_view Text, size_t At) {
  const unsigned char b = ByteAt(Text, At);
  if (b < 0x20 || b == 0x7F) return 1;
  if (b == 0xC2 && At + 1 < Text.size()) {
    const unsigned char c = ByteAt(Text, At + 1);
    if (c >= 0x80 && c <= 0x9F) return 2;
  }
  if (b == 0xE2 && At + 2 < Text.size() && ByteAt(Text, At + 1) == 0x80) {
    const unsigned char c = ByteAt(Text, At + 2);
    if (c == 0xA8 || c == 0xA9) return 3;
  }
  return 0;
}

void AppendEscape(std::string& Out, unsigned char Byte) {
  static constexpr char kHex[] = "0123456789abcdef";
  switch (Byte) {
    case '\r':
      Out += "\\r";
      return;
    case '\n':
      Out += "\\n";
      return;
    case '\t':
      Out += "\\t";
      return;
    default:
      Out += "\\x";
      Out += kHex[Byte >> 4];
      Out += kHex[Byte & 0x0F];
  }
}

// A backslash followed by one of these, or by an escaped byte, would read as
// the start of an escape.
bool StartsEscape(std::string_view Text, size_t At) {
  if (At >= Text.size()) return false;
  return std::string_view("\\rntx").find(Text[At]) != std::string_view::npos ||
         EscapedLength(Text, At) > 0;
}

}  // namespace

std::string EscapeLineText(std::string_view Text) {
  size_t at = 0;
  while (at < Text.size() && Text[at] != '\\' && EscapedLength(Text, at) == 0)
    ++at;
  if (at == Text.size()) return std::string(Text);  // nearly every line

  std::string out(Text.substr(0, at));
  out.reserve(Text.size() + 16);
  while (at < Text.size()) {
    if (Text[at] == '\\') {
      out += StartsEscape(Text, at + 1) ? "\\\\" : "\\";
      ++at;
      continue;
    }
    const size_t escaped = EscapedLength(Text, at);
    if (escaped == 0) {
      out += Text[at++];
      continue;
    }
    for (size_t k = 0; k < escaped; ++k)
      AppendEscape(out, ByteAt(Text, at + k));
    at += escaped;
  }
  return out;
}

}  // namespace kelvor
