#include "MainWindow.h"

#include <ProcessList.h>

#include <QApplication>

int main(int argc, char *argv[])
{
#ifdef _WIN32
    platform::EndOtherInstance("Parafold.exe");
#else
    platform::EndOtherInstance("Parafold");
#endif

    QApplication application(argc, argv);
    // The real path of the running executable, however it was started.
    MainWindow window(SettingsFilePath(QCoreApplication::applicationDirPath()));
    window.show();
    return application.exec();
}
