#include "app/MainWindow.h"
#include "app/QtTranslations.h"
#include "app/TerminationSignals.h"

#include "platform/ProcessList.h"

#include <QApplication>

int main(int argc, char *argv[])
{
#ifdef _WIN32
    platform::EndOtherInstance("Parafold.exe");
#else
    platform::EndOtherInstance("Parafold");
#endif

    QApplication application(argc, argv);
    InstallQtTranslations(application);
    // Ends like the tray menu's quit: the window, destroyed below, waits for the file in hand.
    TerminationSignals termination;
    QObject::connect(&termination, &TerminationSignals::terminationRequested, &application,
                     &QCoreApplication::quit);
    // The real path of the running executable, however it was started.
    MainWindow window(SettingsFilePath(QCoreApplication::applicationDirPath()));
    window.show();
    return application.exec();
}
