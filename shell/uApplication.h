// The desktop program's application-wide settings, shared by kelvor and the
// screenshot tool so that what is photographed is what runs: the
// application's name, its life in the tray, and Qt's own texts (buttons of
// message boxes, file choosers, the calendar, edit menus) in Chinese.
//
// Threads: window thread only, after the QApplication exists. The installed
// translator is process-wide and replaced by each InstallQtTranslations.
#pragma once

#include <QLocale>
#include <QString>

namespace kelvor {

// Names the application "Kelvor" and gives it no display name (Qt would
// append a display name to every window's caption), keeps it running when
// its last window closes (it lives on in the tray), and installs Qt's
// translations for QtTextLocale(system locale) from Qt's translation folder.
void InitApplication();

// The locale of Qt's own texts: the system's when it is Chinese, else
// Simplified Chinese (zh_CN), the program's own language.
QLocale QtTextLocale(const QLocale& System);

// Installs Qt's translations ("qtbase") for Locale from Folder, in place of
// those an earlier call installed, and makes Locale the default locale (the
// calendar's month and day names). A Chinese locale without a file of its
// own takes the file of its script: zh_TW for Traditional, else zh_CN.
// Returns the loaded file's language ("zh_CN"), or empty when none could be
// loaded: Qt's texts then stay in English and everything else works.
QString InstallQtTranslations(const QLocale& Locale, const QString& Folder);

// Removes the translations InstallQtTranslations installed.
void RemoveQtTranslations();

}  // namespace kelvor
