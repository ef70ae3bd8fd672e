// Byte-level helpers shared by the reader's translation units. Internal to
// xml/; no state.
#pragma once

#include <cstring>
#include <string>
#include <string_view>

namespace kelvor::xmltext {

inline bool IsWhite(char C) {
  return C == ' ' || C == '\t' || C == '\r' || C == '\n';
}

// ":", "_", an ASCII letter, or a byte in 0xC0-0xD6, 0xD8-0xF6, 0xF8-0xFF.
inline bool IsNameStart(char C) {
  unsigned char u = static_cast<unsigned char>(C);
  return u == ':' || u == '_' || (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') ||
         (u >= 0xC0 && u != 0xD7 && u != 0xF7);
}

inline bool StartsWith(const char* P, const char* End, std::string_view S) {
  return static_cast<size_t>(End - P) >= S.size() && std::memcmp(P, S.data(), S.size()) == 0;
}

// Position of S in [P, End), or End.
inline const char* Find(const char* P, const char* End, std::string_view S) {
  std::string_view hay(P, static_cast<size_t>(End - P));
  size_t at = hay.find(S);
  return at == std::string_view::npos ? End : P + at;
}

inline const char* SkipWhite(const char* P, const char* End) {
  while (P < End && IsWhite(*P))
    ++P;
  return P;
}

// Trims white space at both ends and packs every inner run into one blank.
std::string PackWhite(std::string_view Text);

// The byte a character reference stands for. Body is the text between "&#"
// and ";". A malformed decimal number gives MalformedDecimal, a malformed
// hexadecimal one MalformedHex. Codes up to 255 give that byte; higher code
// points give their Windows-1252 byte, or 0xBF when there is none.
char CharRefByte(std::string_view Body, char MalformedDecimal, char MalformedHex);

// The character of a predefined entity (lt, gt, amp, apos, quot).
bool PredefinedEntity(std::string_view Name, char& Out);

// Windows-1252 byte of a Unicode code point, or 0xBF when it has none; the
// five positions the code page leaves unassigned map to themselves.
unsigned char CodePointToWindows1252(unsigned long CodePoint);

}  // namespace kelvor::xmltext
