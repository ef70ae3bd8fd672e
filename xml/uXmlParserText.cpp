#include "xml/uXmlParserText.h"

#include <algorithm>

#include "xml/uXmlParser.h"

namespace kelvor {
namespace xmltext {

namespace {

// Unicode code points of Windows-1252 bytes 0x80-0x9F; an unassigned byte
// holds its own value.
constexpr unsigned short kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

constexpr unsigned char kInverted = 0xBF;
constexpr unsigned long kCodeLimit = 0x110000;

bool HexValue(char C, unsigned& Out) {
  if (C >= '0' && C <= '9') {
    Out = static_cast<unsigned>(C - '0');
  } else if (C >= 'a' && C <= 'f') {
    Out = static_cast<unsigned>(C - 'a' + 10);
  } else if (C >= 'A' && C <= 'F') {
    Out = static_cast<unsigned>(C - 'A' + 10);
  } else {
    return false;
  }
  return true;
}

}  // namespace

std::string PackWhite(std::string_view Text) {
  std::string r;
  r.reserve(Text.size());
  bool pending = false;
  for (char c : Text) {
    if (IsWhite(c)) {
      pending = !r.empty();
      continue;
    }
    if (pending) r += ' ';
    pending = false;
    r += c;
  }
  return r;
}

unsigned char CodePointToWindows1252(unsigned long CodePoint) {
  if (CodePoint < 0x80 || (CodePoint >= 0xA0 && CodePoint <= 0xFF)) {
    return static_cast<unsigned char>(CodePoint);
  }
  for (unsigned i = 0; i < 32; ++i) {
    if (kHighControls[i] == CodePoint) return static_cast<unsigned char>(0x80 + i);
  }
  return kInverted;
}

char CharRefByte(std::string_view Body, char MalformedDecimal, char MalformedHex) {
  unsigned long code = 0;
  if (!Body.empty() && (Body[0] == 'x' || Body[0] == 'X')) {
    std::string_view digits = Body.substr(1);
    if (digits.empty()) return MalformedHex;
    for (char c : digits) {
      unsigned v;
      if (!HexValue(c, v)) return MalformedHex;
      code = std::min(code * 16 + v, kCodeLimit);
    }
  } else {
    if (Body.empty()) return MalformedDecimal;
    for (char c : Body) {
      if (c < '0' || c > '9') return MalformedDecimal;
      code = std::min(code * 10 + static_cast<unsigned>(c - '0'), kCodeLimit);
    }
  }
  if (code <= 0xFF) return static_cast<char>(code);
  return static_cast<char>(CodePointToWindows1252(code));
}

bool PredefinedEntity(std::string_view Name, char& Out) {
  if (Name == "lt") {
    Out = '<';
  } else if (Name == "gt") {
    Out = '>';
  } else if (Name == "amp") {
    Out = '&';
  } else if (Name == "apos") {
    Out = '\'';
  } else if (Name == "quot") {
    Out = '"';
  } else {
    return false;
  }
  return true;
}

}  // namespace xmltext

std::string Utf8ToWindows1252(std::string_view Text) {
  auto isCont = [](unsigned char c) { return (c & 0xC0) == 0x80; };
  std::string r;
  r.reserve(Text.size());
  const size_t n = Text.size();
  size_t i = 0;
  while (i < n) {
    unsigned char lead = static_cast<unsigned char>(Text[i]);
    if (lead < 0x80) {
      r += static_cast<char>(lead);
      ++i;
      continue;
    }
    if (lead < 0xC0) {  // a continuation byte without its lead
      r += static_cast<char>(xmltext::kInverted);
      ++i;
      continue;
    }
    if (lead >= 0xF0) {
      // Four-byte sequences are not decoded; one "¿" stands for the lead
      // and the continuation bytes that follow it.
      ++i;
      for (int k = 0; k < 3 && i < n && isCont(static_cast<unsigned char>(Text[i])); ++k)
        ++i;
      r += static_cast<char>(xmltext::kInverted);
      continue;
    }
    const int need = lead >= 0xE0 ? 2 : 1;
    unsigned long cp = lead & (need == 2 ? 0x0Fu : 0x1Fu);
    size_t j = i + 1;
    bool ok = true;
    for (int k = 0; k < need; ++k) {
      if (j < n && isCont(static_cast<unsigned char>(Text[j]))) {
        cp = (cp << 6) | (static_cast<unsigned char>(Text[j]) & 0x3Fu);
        ++j;
      } else {
        ok = false;
        break;
      }
    }
    if (ok && (need == 1 ? cp < 0x80 : cp < 0x800)) ok = false;  // overlong
    r += static_cast<char>(ok ? xmltext::CodePointToWindows1252(cp) : xmltext::kInverted);
    i = j;
  }
  return r;
}

}  // namespace kelvor
