#include "app/QtTranslations.h"

#include "engine/files/Paths.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

void InstallQtTranslations(QCoreApplication &application)
{
    const QLocale locale = QLocale::system();
    if (locale.language() != QLocale::Chinese)
        return;
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
