#include "app/MainWindow.h"
#include "app/QtTranslations.h"
#include "app/TerminationSignals.h"
#include "app/WindowHandOver.h"

#include "engine/files/SettingsFiles.h"
#include "platform/Program.h"
#include "platform/RunLock.h"
#include "platform/WindowChannel.h"
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

// Tells the user why this start opens no window, and ends once the message is read.
int RefuseStart(QApplication &application, const QString &message)
{
    TerminationSignals termination;
    QObject::connect(&termination, &TerminationSignals::terminationRequested, &application,
                     &QCoreApplication::quit);
    QMessageBox::about(nullptr, QCoreApplication::translate("MainWindow", "Note:"), message);
    return 1;
}

} // namespace

int main(int argc, char *argv[])
{
    platform::ShareOneHeap();
    ScaleWithScreen();
    QApplication application(argc, argv);
    InstallQtTranslations(application);
    InstallTranslations(application);

    // `Parafold FOLDER`: the file manager's "open with", or a shortcut on a folder. A window
    // of this user's that runs already takes it; none is ever ended for another.
    const QStringList arguments = QCoreApplication::arguments();
    const QString folder = arguments.size() > 1 ? FolderArgument(arguments.at(1)) : QString();
    std::string channelRefusal;
    const QString channel = QString::fromStdString(platform::WindowChannelName(channelRefusal));
    if (!channel.isEmpty()) {
        platform::LetWindowComeForward();
        switch (WindowHandOver::HandOver(channel, folder)) {
        case WindowHandOver::Outcome::Taken:
            return 0;
        case WindowHandOver::Outcome::NoAnswer:
            return RefuseStart(application,
                               QCoreApplication::translate(
                                   "MainWindow", "The Parafold window that runs does not answer."));
        case WindowHandOver::Outcome::NoWindow:
            break;
        }
    }
    // No safe folder for the lock (one planted by another user): the window runs without.
    std::string lockRefusal;
    const std::string runLockPath = platform::RunLockPath(lockRefusal);
    if (!runLockPath.empty() && platform::RunLockHeld(runLockPath))
        return RefuseStart(application, messageRunWorks());

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
    if (!folder.isEmpty())
        window.setSourceFolder(folder);
    // Without a channel later starts open windows of their own, as the run lock allows.
    WindowHandOver handOver;
    if (!channel.isEmpty() && handOver.listen(channel))
        QObject::connect(&handOver, &WindowHandOver::folderHandedOver, &window,
                         &MainWindow::takeHandedOverFolder);
    window.show();
    return application.exec();
}
