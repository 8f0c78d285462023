#pragma once

#include <QLocale>
#include <QString>
#include <QStringList>

// Installs the translations for the user's interface languages: the app's catalogue
// (teodal_<language>.qm) and, in the same language, Qt's own (qtbase_<language>.qm). A language
// without a catalogue, or a catalogue that does not load, leaves the whole interface in English.
// Calling again replaces the previous translations. Returns the language loaded, or an empty
// string for English.
QString installAppTranslations();

// The same, with the locale and the folders given: the app's folders in the order they are tried,
// and Qt's folder.
QString installAppTranslations(const QLocale &locale, const QStringList &catalogueDirs, const QString &qtDir);

// Where the app looks for its catalogues: below the installed prefix
// (<prefix>/share/teodal-calendar/translations, found from the binary's place), then the build tree.
QStringList appTranslationDirs();
