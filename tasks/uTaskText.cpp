#include "tasks/uTaskText.h"

#include "platform/Text.h"
#include "xml/uXmlParser.h"

namespace kelvor {

bool TextToBool(std::string_view Text) {
  return LowerCase(Text) == "true";
}

std::string EscapeAttributeValue(std::string_view Value) {
  std::string r;
  r.reserve(Value.size());
  // The reader takes an "&" as the start of a reference when a ";" follows
  // anywhere in the written value; a later quote or byte 0 is written with one.
  constexpr std::string_view kEndsReference(";\"\0", 3);
  for (size_t i = 0; i < Value.size(); ++i) {
    char c = Value[i];
    if (c == '"')
      r += "&quot;";
    else if (c == '\0')  // written as it is, it would end the document there
      r += "&#0;";
    else if (c == '&' && Value.find_first_of(kEndsReference, i + 1) != std::string_view::npos)
      r += "&amp;";
    else
      r.push_back(c);
  }
  return r;
}

std::string EscapeAttributeValueExactly(std::string_view Value) {
  std::string r;
  r.reserve(Value.size());
  for (char c : Value) {
    switch (c) {
      case '"':
        r += "&quot;";
        break;
      case '&':
        r += "&amp;";
        break;
      case '<':
        r += "&lt;";
        break;
      case '>':
        r += "&gt;";
        break;
      case '\t':
        r += "&#9;";
        break;
      case '\r':
        r += "&#13;";
        break;
      case '\n':
        r += "&#10;";
        break;
      case '\0':
        r += "&#0;";
        break;
      default:
        r.push_back(c);
    }
  }
  return r;
}

std::string ReadBackAttributeValue(std::string_view Written) {
  // The reader itself, on a one-tag document: no rule is repeated here.
  TXmlParser parser;
  std::string document = "<a v=\"";
  document.append(Written);
  document += "\">";
  parser.LoadFromText(document);
  if (!parser.NextPart()) return std::string();
  return parser.PartAttributes().Value("v");
}

}  // namespace kelvor
