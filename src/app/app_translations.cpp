#include "app_translations.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QTranslator>

namespace {

const char *const translatorName = "teodal-translator";

void removeInstalledTranslators()
{
    const auto translators = qApp->findChildren<QTranslator *>(QString::fromLatin1(translatorName),
                                                                Qt::FindDirectChildrenOnly);
    for (QTranslator *translator : translators) {
        QCoreApplication::removeTranslator(translator);
        delete translator;
    }
}

QTranslator *loadedTranslator(const QLocale &locale, const QString &name, const QString &dir)
{
    auto *translator = new QTranslator(qApp);
    translator->setObjectName(QString::fromLatin1(translatorName));
    // Tries each of the locale's interface languages, most specific first (es_MX, es, …).
    if (dir.isEmpty() || !translator->load(locale, name, QStringLiteral("_"), dir) || translator->isEmpty()) {
        delete translator;
        return nullptr;
    }
    return translator;
}

} // namespace

QStringList appTranslationDirs()
{
    QStringList dirs{QDir(QCoreApplication::applicationDirPath())
                         .absoluteFilePath(QStringLiteral("../share/teodal-calendar/translations"))};
#ifdef TEODAL_BUILD_TRANSLATIONS_DIR
    dirs << QStringLiteral(TEODAL_BUILD_TRANSLATIONS_DIR);
#endif
    return dirs;
}

QString installAppTranslations(const QLocale &locale, const QStringList &catalogueDirs, const QString &qtDir)
{
    removeInstalledTranslators();
    QTranslator *app = nullptr;
    for (const QString &dir : catalogueDirs) {
        if ((app = loadedTranslator(locale, QStringLiteral("teodal"), dir)))
            break;
    }
    if (!app)
        return {};
    QCoreApplication::installTranslator(app);
    // Qt's dialogs and context menus in the language the app speaks, never in another one.
    const QString language = app->language();
    if (QTranslator *qt = loadedTranslator(QLocale(language), QStringLiteral("qtbase"), qtDir))
        QCoreApplication::installTranslator(qt);
    return language;
}

QString installAppTranslations()
{
    return installAppTranslations(QLocale(), appTranslationDirs(),
                                  QLibraryInfo::path(QLibraryInfo::TranslationsPath));
}
