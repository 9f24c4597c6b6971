#include "app/QtTranslations.h"

#include "engine/files/Paths.h"
#include "translations/Language.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

void InstallQtTranslations(QCoreApplication &application)
{
    if (!UsesChinese())
        return;
    // A Chinese Windows in another language: Qt's dialogs in Chinese like the rest.
    const QLocale system = QLocale::system();
    const QLocale locale =
        system.language() == QLocale::Chinese ? system : QLocale(QLocale::Chinese, QLocale::China);
    const QStringList folders{
        QLibraryInfo::location(QLibraryInfo::TranslationsPath),
        JoinPath(QCoreApplication::applicationDirPath(), QStringLiteral("translations"))};
    for (const QString &folder : folders) {
        auto *translator = new QTranslator(&application);
        if (translator->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"), folder)) {
            QCoreApplication::installTranslator(translator);
            return;
        }
        delete translator;
    }
}
