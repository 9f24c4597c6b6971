#include "app/MainWindow.h"
#include "app/WindowHandOver.h"
#include "engine/batch/BatchSettings.h"
#include "platform/RunLock.h"
#include "platform/WindowChannel.h"

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

// `channelFolder` is where the copies of this user meet (their XDG_RUNTIME_DIR, a folder
// only this user may enter), so that the test never meets a window outside it;
// `temporaryFolder`, when given, is where they look for each other's run lock.
QProcessEnvironment ParafoldEnvironment(const QString &channelFolder,
                                        const QString &temporaryFolder)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), channelFolder);
    if (!temporaryFolder.isEmpty()) {
        environment.insert(QStringLiteral("TMPDIR"), temporaryFolder);
#ifdef Q_OS_WIN
        environment.insert(QStringLiteral("TMP"), temporaryFolder);
        environment.insert(QStringLiteral("TEMP"), temporaryFolder);
#endif
    }
    return environment;
}

std::unique_ptr<QProcess> StartParafold(const QString &channelFolder,
                                        const QString &temporaryFolder = QString(),
                                        const QStringList &arguments = QStringList())
{
    auto process = std::make_unique<QProcess>();
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    process->setProcessEnvironment(ParafoldEnvironment(channelFolder, temporaryFolder));
    process->start(ParafoldPath(), arguments);
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
    void secondStartHandsFolderOver_data();
    void secondStartHandsFolderOver();
    void handedFolderFillsRunningWindow();
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

void TestParafoldStart::secondStartHandsFolderOver_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("no folder") << QStringList();
    QTest::newRow("a folder") << QStringList{QStringLiteral("书 ")};
}

// The second start hands over and ends; the first window stays.
void TestParafoldStart::secondStartHandsFolderOver()
{
    QFETCH(QStringList, arguments);
    QTemporaryDir channel;
    QVERIFY(channel.isValid());
    auto first = StartParafold(channel.path());
    QVERIFY(first->waitForStarted());
    // Up and idle in its event loop, so it is a running instance, not one still starting.
    QVERIFY(!first->waitForFinished(1500));

    auto second = StartParafold(channel.path(), QString(), arguments);
    QVERIFY(second->waitForStarted());
    const bool secondEnded = second->waitForFinished(10000);
    const bool firstRuns = !first->waitForFinished(1000);
    Stop(*first);
    Stop(*second);

    QVERIFY(secondEnded);
    QCOMPARE(second->exitStatus(), QProcess::NormalExit);
    QCOMPARE(second->exitCode(), 0);
    QVERIFY(firstRuns);
}

// A window of this test takes what a started copy hands it, exactly as given.
void TestParafoldStart::handedFolderFillsRunningWindow()
{
    QTemporaryDir channelFolder;
    QVERIFY(channelFolder.isValid());
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(channelFolder.path()));
    std::string reason;
    const QString channel = QString::fromStdString(platform::WindowChannelName(reason));
    qunsetenv("XDG_RUNTIME_DIR");
    QVERIFY2(!channel.isEmpty(), reason.c_str());
    QTemporaryDir settings;
    MainWindow window(SettingsFilePath(settings.path()));
    WindowHandOver handOver;
    QVERIFY(handOver.listen(channel));
    connect(&handOver, &WindowHandOver::folderHandedOver, &window,
            &MainWindow::takeHandedOverFolder);
    QLineEdit *source = window.findChild<QLineEdit *>(QStringLiteral("lEdt_SourcePath"));
    source->setText(QStringLiteral("unchanged"));

    QTemporaryDir books;
    QVERIFY(QDir(books.path()).mkpath(QStringLiteral("书")));
    QVERIFY(QDir(books.path()).mkpath(QStringLiteral("书 ")));
    const QString given = books.filePath(QStringLiteral("书 "));
    auto second = StartParafold(channelFolder.path(), QString(), {given});
    QVERIFY(second->waitForStarted());
    QTRY_COMPARE_WITH_TIMEOUT(second->state(), QProcess::NotRunning, 10000);
    QCOMPARE(second->exitCode(), 0);
    QCOMPARE(QDir::fromNativeSeparators(source->text()), given);
    QVERIFY(window.isVisible());
}

// No window listens, but a run holds the lock: the start says so and opens no window.
void TestParafoldStart::busySecondStartLeavesTheRunAlone()
{
    QTemporaryDir channel;
    QVERIFY(channel.isValid());
    QTemporaryDir temporary;
    QVERIFY(temporary.isValid());
    std::string reason;
    // Where the copies started below look for the lock, with their environment.
    const QProcessEnvironment own = QProcessEnvironment::systemEnvironment();
    const QProcessEnvironment copies = ParafoldEnvironment(channel.path(), temporary.path());
    for (const char *name : {"XDG_RUNTIME_DIR", "TMPDIR", "TMP", "TEMP"})
        qputenv(name, copies.value(QString::fromLatin1(name)).toLocal8Bit());
    const std::string lockFile = platform::RunLockPath(reason);
    for (const char *name : {"XDG_RUNTIME_DIR", "TMPDIR", "TMP", "TEMP"}) {
        if (own.contains(QString::fromLatin1(name)))
            qputenv(name, own.value(QString::fromLatin1(name)).toLocal8Bit());
        else
            qunsetenv(name);
    }
    QVERIFY2(!lockFile.empty(), reason.c_str());

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

    auto second = StartParafold(channel.path(), temporary.path());
    QVERIFY(second->waitForStarted());
    // It tells the user and waits for the message to be read.
    const bool secondWaits = !second->waitForFinished(1500);
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

    // The run over, the lock is free again and a new start opens its window.
    auto third = StartParafold(channel.path(), temporary.path());
    QVERIFY(third->waitForStarted());
    const bool thirdRuns = !third->waitForFinished(1500);
    Stop(*second);
    Stop(*third);

    QVERIFY(secondWaits);
    QVERIFY(secondEnded);
    if (closable) {
        QCOMPARE(second->exitStatus(), QProcess::NormalExit);
        QCOMPARE(secondCode, 1);
    }
    QVERIFY(thirdRuns);
}

void TestParafoldStart::terminateEndsCleanly()
{
#ifdef Q_OS_WIN
    // There terminate() posts WM_CLOSE to the program's windows, and the offscreen platform
    // makes no native ones.
    if (qEnvironmentVariable("QT_QPA_PLATFORM") == QLatin1String("offscreen"))
        QSKIP("no native window to ask to close");
#endif

    QTemporaryDir channel;
    QVERIFY(channel.isValid());
    auto parafold = StartParafold(channel.path());
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
