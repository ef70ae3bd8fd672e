// Conversions between the core's byte strings (UTF-8) and Qt's texts, and
// the line-break convention of the multi-line editors: the core keeps CR LF
// (task files store a command's line breaks only in that form), the editors
// keep LF. Pure functions; any thread.
#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace kelvor {

inline QString Q(std::string_view Text) {
  return QString::fromUtf8(Text.data(), static_cast<qsizetype>(Text.size()));
}
inline std::string S(const QString& Text) {
  return Text.toUtf8().toStdString();
}

// CR LF and lone CR become LF.
inline QString ToEditorLines(std::string_view Text) {
  QString t = Q(Text);
  t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  t.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return t;
}
// LF becomes CR LF.
inline std::string FromEditorLines(const QString& Text) {
  QString t = Text;
  t.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
  return S(t);
}

}  // namespace kelvor
