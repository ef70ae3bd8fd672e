#include "shell/uApplication.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QTranslator>
#include <memory>
#include <vector>

namespace kelvor {

namespace {

std::unique_ptr<QTranslator>& Installed() {
  static std::unique_ptr<QTranslator> translator;
  return translator;
}

}  // namespace

void InitApplication() {
  QApplication::setApplicationName(QStringLiteral("Kelvor"));
  // The main window may live in the tray with no window shown; the program
  // ends when the main window closes, not when the last window goes.
  QApplication::setQuitOnLastWindowClosed(false);
  InstallQtTranslations(QtTextLocale(QLocale::system()),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath));
}

QLocale QtTextLocale(const QLocale& System) {
  if (System.language() == QLocale::Chinese) return System;
  return QLocale(QLocale::Chinese, QLocale::China);
}

QString InstallQtTranslations(const QLocale& Locale, const QString& Folder) {
  RemoveQtTranslations();
  QLocale::setDefault(Locale);
  std::vector<QLocale> candidates{Locale};
  // Qt ships files for zh_CN and zh_TW only (not zh_HK, zh_SG, ...).
  if (Locale.language() == QLocale::Chinese)
    candidates.push_back(Locale.script() == QLocale::TraditionalChineseScript
                             ? QLocale(QLocale::Chinese, QLocale::Taiwan)
                             : QLocale(QLocale::Chinese, QLocale::China));
  auto translator = std::make_unique<QTranslator>();
  for (const QLocale& candidate : candidates) {
    if (translator->load(candidate, QStringLiteral("qtbase"), QStringLiteral("_"), Folder)) {
      QCoreApplication::installTranslator(translator.get());
      Installed() = std::move(translator);
      return Installed()->language();
    }
  }
  return QString();
}

void RemoveQtTranslations() {
  if (!Installed()) return;
  QCoreApplication::removeTranslator(Installed().get());
  Installed().reset();
}

}  // namespace kelvor
