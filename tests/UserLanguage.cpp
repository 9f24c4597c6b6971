#include "translations/Language.h"

#include <QCoreApplication>

// The tests compare the texts users see, and run under a Chinese locale (CMakeLists.txt): they
// choose the language at start as the programs do.
static void InstallUserLanguage()
{
    InstallTranslations(*QCoreApplication::instance());
}
Q_COREAPP_STARTUP_FUNCTION(InstallUserLanguage)
