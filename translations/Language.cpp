#include "translations/Language.h"

#include "platform/CodePage936.h"

#include <QCoreApplication>
#include <QLocale>
#include <QTranslator>

// Outside any namespace, as Q_INIT_RESOURCE wants; a static library's resources are only
// registered when something calls for them.
static void RegisterTranslationResource()
{
    Q_INIT_RESOURCE(translations);
}

bool UsesChinese()
{
    return QLocale::system().language() == QLocale::Chinese || platform::UsesCodePage936();
}

void InstallTranslations(QCoreApplication &application)
{
    if (!UsesChinese())
        return;
    RegisterTranslationResource();
    auto *translator = new QTranslator(&application);
    if (translator->load(QStringLiteral(":/translations/parafold_zh_CN.qm")))
        QCoreApplication::installTranslator(translator);
    else
        delete translator;
}
