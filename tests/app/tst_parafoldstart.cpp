#include "app/MainWindow.h"
#include "engine/batch/BatchSettings.h"
#include "platform/ProcessList.h"
#include "platform/RunLock.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

#ifdef Q_OS_WIN
const char executableName[] = "Parafold.exe";
#else
const char executableName[] = "Parafold";
#endif

QString ParafoldPath()
{
    return QDir(QCoreApplication::applicationDirPath())
        .filePath(QString::fromLatin1(executableName));
}

bool OtherParafoldRuns()
{
    for (const platform::ProcessEntry &entry : platform::ListProcesses()) {
        if (entry.executableName == executableName)
            return true;
    }
    return false;
}

// `temporaryFolder`, when given, is where the copies look for each other's run lock.
std::unique_ptr<QProcess> StartParafold(const QString &temporaryFolder = QString())
{
    auto process = std::make_unique<QProcess>();
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    if (!temporaryFolder.isEmpty()) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("TMPDIR"), temporaryFolder);
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), QString());
#ifdef Q_OS_WIN
        environment.insert(QStringLiteral("TMP"), temporaryFolder);
        environment.insert(QStringLiteral("TEMP"), temporaryFolder);
#endif
        process->setProcessEnvironment(environment);
    }
    process->start(ParafoldPath(), QStringList());
    return process;
}

void Stop(QProcess &process)
{
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished();
    }
}

} // namespace

// Runs the built program itself, headless.
class TestParafoldStart : public QObject
{
    Q_OBJECT

private slots:
    void settingsFileBesideExecutable();
    void secondStartEndsFirst();
    void busySecondStartLeavesTheRunAlone();
    void terminateEndsCleanly();
};

void TestParafoldStart::settingsFileBesideExecutable()
{
    QVERIFY(QFileInfo(ParafoldPath()).isExecutable());
    QVERIFY(
        QFileInfo(
            QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("Parafold.cvn")))
            .isFile());
}

void TestParafoldStart::secondStartEndsFirst()
{
    if (OtherParafoldRuns())
        QSKIP("a Parafold outside this test runs, and the second start could end that one");

    auto first = StartParafold();
    QVERIFY(first->waitForStarted());
    // Up and idle in its event loop, so it is a running instance, not one still starting.
    QVERIFY(!first->waitForFinished(1500));

    auto second = StartParafold();
    QVERIFY(second->waitForStarted());
    const bool firstEnded = first->waitForFinished(10000);
    const QProcess::ExitStatus firstStatus = first->exitStatus();
    const bool secondRuns = !second->waitForFinished(1500);
    Stop(*first);
    Stop(*second);

    QVERIFY(firstEnded);
    // Ended the way its tray menu ends it, not killed (on Windows TerminateProcess with
    // exit code 0).
    QCOMPARE(firstStatus, QProcess::NormalExit);
    QCOMPARE(first->exitCode(), 0);
    QVERIFY(secondRuns);
}

void TestParafoldStart::busySecondStartLeavesTheRunAlone()
{
    if (OtherParafoldRuns())
        QSKIP("a Parafold outside this test runs, and a start could end that one");

    QTemporaryDir temporary;
    QVERIFY(temporary.isValid());
    std::string reason;
#ifdef Q_OS_WIN
    const std::string folder = temporary.path().toStdString();
#else
    const std::string folder = QFile::encodeName(temporary.path()).toStdString();
#endif
    const std::string lockFile = platform::RunLockPathIn(folder, reason);
    QVERIFY2(!lockFile.empty(), reason.c_str());
    auto first = StartParafold(temporary.path());
    QVERIFY(first->waitForStarted());
    QVERIFY(!first->waitForFinished(1500));

    // A window here works on a run, held in its report opener, as a busy copy would.
    const QString source = temporary.filePath(QStringLiteral("源"));
    QVERIFY(QDir().mkpath(source));
    QFile text(QDir(source).filePath(QStringLiteral("a.txt")));
    QVERIFY(text.open(QIODevice::WriteOnly) && text.write("小云") == 6);
    text.close();
    QSemaphore reached;
    QSemaphore proceed;
    MainWindow window(SettingsFilePath(temporary.path()));
    window.setRunLockPath(lockFile);
    window.setReportOpener([&](const QString &, const std::function<void()> &) {
        reached.release();
        proceed.tryAcquire(1, 20000);
    });
    window.findChild<QLineEdit *>(QStringLiteral("lEdt_SourcePath"))->setText(source);
    window.findChild<QLineEdit *>(QStringLiteral("lEdt_JustFindText"))
        ->setText(QStringLiteral("小云"));
    window.findChild<QPushButton *>(QStringLiteral("pBtn_JustFindText"))->click();
    QVERIFY(reached.tryAcquire(1, 20000));

    auto second = StartParafold(temporary.path());
    QVERIFY(second->waitForStarted());
    // It tells the user and waits for the message to be read, ending nothing.
    const bool secondWaits = !second->waitForFinished(1500);
    const bool firstRuns = !first->waitForFinished(500);
#ifdef Q_OS_WIN
    // There terminate() posts WM_CLOSE to the message's window, which the offscreen platform
    // does not make: the copy is killed instead, and its exit code is not its own.
    const bool closable = qEnvironmentVariable("QT_QPA_PLATFORM") != QLatin1String("offscreen");
#else
    const bool closable = true;
#endif
    if (closable)
        second->terminate();
    else
        second->kill();
    const bool secondEnded = second->waitForFinished(10000);
    const int secondCode = second->exitCode();
    proceed.release();
    QTRY_VERIFY_WITH_TIMEOUT(!window.isRunWorking(), 20000);

    // The run over, the lock is free again and a new start ends the idle copy.
    auto third = StartParafold(temporary.path());
    QVERIFY(third->waitForStarted());
    const bool firstEndedByThird = first->waitForFinished(10000);
    Stop(*first);
    Stop(*second);
    Stop(*third);

    QVERIFY(secondWaits);
    QVERIFY(firstRuns);
    QVERIFY(secondEnded);
    if (closable) {
        QCOMPARE(second->exitStatus(), QProcess::NormalExit);
        QCOMPARE(secondCode, 1);
    }
    QVERIFY(firstEndedByThird);
}

void TestParafoldStart::terminateEndsCleanly()
{
    if (OtherParafoldRuns())
        QSKIP("a Parafold outside this test runs, and this start would end that one");
#ifdef Q_OS_WIN
    // There terminate() posts WM_CLOSE to the program's windows, and the offscreen platform
    // makes no native ones.
    if (qEnvironmentVariable("QT_QPA_PLATFORM") == QLatin1String("offscreen"))
        QSKIP("no native window to ask to close");
#endif

    auto parafold = StartParafold();
    QVERIFY(parafold->waitForStarted());
    QVERIFY(!parafold->waitForFinished(1500));
    parafold->terminate();
    const bool ended = parafold->waitForFinished(10000);
    Stop(*parafold);

    QVERIFY(ended);
    QCOMPARE(parafold->exitStatus(), QProcess::NormalExit);
    QCOMPARE(parafold->exitCode(), 0);
}

QTEST_MAIN(TestParafoldStart)
#include "tst_parafoldstart.moc"
