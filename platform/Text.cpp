#include "platform/Text.h"

namespace kelvor {

std::string ReplaceAll(std::string_view Text, std::string_view From, std::string_view To) {
  std::string r;
  if (From.empty()) return std::string(Text);
  r.reserve(Text.size());
  size_t pos = 0;
  for (;;) {
    size_t hit = Text.find(From, pos);
    if (hit == std::string_view::npos) break;
    r.append(Text.substr(pos, hit - pos));
    r.append(To);
    pos = hit + From.size();
  }
  r.append(Text.substr(pos));
  return r;
}

std::string TrimText(std::string_view Text) {
  size_t b = 0, e = Text.size();
  while (b < e && static_cast<unsigned char>(Text[b]) <= ' ')
    ++b;
  while (e > b && static_cast<unsigned char>(Text[e - 1]) <= ' ')
    --e;
  return std::string(Text.substr(b, e - b));
}

std::string TrimBlanks(std::string_view Text) {
  size_t b = 0, e = Text.size();
  while (b < e && Text[b] == ' ')
    ++b;
  while (e > b && Text[e - 1] == ' ')
    --e;
  return std::string(Text.substr(b, e - b));
}

std::string LowerCase(std::string_view Text) {
  std::string r(Text);
  for (char& c : r)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return r;
}

std::string UpperCase(std::string_view Text) {
  std::string r(Text);
  for (char& c : r)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return r;
}

bool SameText(std::string_view A, std::string_view B) {
  if (A.size() != B.size()) return false;
  for (size_t i = 0; i < A.size(); ++i) {
    char a = A[i], b = B[i];
    if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
    if (b >= 'A' && b <= 'Z') b = static_cast<char>(b - 'A' + 'a');
    if (a != b) return false;
  }
  return true;
}

bool TryStrToInt(std::string_view Text, int32_t& Value) {
  size_t i = 0;
  bool negative = false;
  if (i < Text.size() && (Text[i] == '-' || Text[i] == '+')) negative = Text[i++] == '-';
  if (i == Text.size()) return false;
  int64_t v = 0;
  for (; i < Text.size(); ++i) {
    char c = Text[i];
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
    if (v > static_cast<int64_t>(INT32_MAX) + 1) return false;
  }
  if (negative) v = -v;
  if (v > INT32_MAX || v < INT32_MIN) return false;
  Value = static_cast<int32_t>(v);
  return true;
}

}  // namespace kelvor
