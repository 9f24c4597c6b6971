#include "app/MainWindow.h"
#include "app/QtTranslations.h"
#include "app/TerminationSignals.h"

#include "engine/files/SettingsFiles.h"
#include "platform/ProcessList.h"
#include "platform/Program.h"
#include "platform/RunLock.h"
#include "translations/Language.h"

#include <QApplication>
#include <QCoreApplication>
#include <QMessageBox>
#include <QStandardPaths>

namespace {

// Windows laptops commonly run at 125% or 150%: without this the window keeps its size in
// pixels while its text grows, and the form no longer fits. Scaled by the exact factor.
void ScaleWithScreen()
{
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(
        Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
}

// Another copy is in the middle of a run: it is left alone, and this one says so and ends.
int RefuseBusyStart(int argc, char *argv[])
{
    QApplication application(argc, argv);
    InstallQtTranslations(application);
    InstallTranslations(application);
    TerminationSignals termination;
    QObject::connect(&termination, &TerminationSignals::terminationRequested, &application,
                     &QCoreApplication::quit);
    QMessageBox::about(nullptr, QCoreApplication::translate("MainWindow", "Note:"),
                       messageRunWorks());
    return 1;
}

} // namespace

int main(int argc, char *argv[])
{
    platform::ShareOneHeap();
    ScaleWithScreen();
    // No safe folder for the lock (one planted by another user): the window runs without.
    std::string lockRefusal;
    const std::string runLockPath = platform::RunLockPath(lockRefusal);
    if (!runLockPath.empty() && platform::RunLockHeld(runLockPath))
        return RefuseBusyStart(argc, argv);
    platform::EndOtherInstance(platform::ExecutableFileName("Parafold"));

    QApplication application(argc, argv);
    InstallQtTranslations(application);
    InstallTranslations(application);
    // Ends like the tray menu's quit: the window, destroyed below, waits for the file in hand.
    TerminationSignals termination;
    QObject::connect(&termination, &TerminationSignals::terminationRequested, &application,
                     &QCoreApplication::quit);
    // A portable copy keeps its settings beside the real path of its executable, however it
    // was started; an installed one in the user's own folder.
    QCoreApplication::setApplicationName(QStringLiteral("Parafold"));
    MainWindow window(
        ChooseSettingsFile(SettingsFilePath(QCoreApplication::applicationDirPath()),
                           QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)));
    if (!runLockPath.empty())
        window.setRunLockPath(runLockPath);
    // `Parafold FOLDER`: the file manager's "open with", or a shortcut on a folder.
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() > 1)
        window.setSourceFolder(arguments.at(1));
    window.show();
    return application.exec();
}
