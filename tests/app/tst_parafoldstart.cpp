#include "platform/ProcessList.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QtTest>

#include <memory>

namespace {

QString ParafoldPath()
{
    return QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("Parafold"));
}

bool OtherParafoldRuns()
{
    for (const platform::ProcessEntry &entry : platform::ListProcesses()) {
        if (entry.executableName == "Parafold")
            return true;
    }
    return false;
}

std::unique_ptr<QProcess> StartParafold()
{
    auto process = std::make_unique<QProcess>();
    process->setProcessChannelMode(QProcess::ForwardedChannels);
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
    // Ended the way its tray menu ends it, not killed.
    QCOMPARE(firstStatus, QProcess::NormalExit);
    QCOMPARE(first->exitCode(), 0);
    QVERIFY(secondRuns);
}

void TestParafoldStart::terminateEndsCleanly()
{
    if (OtherParafoldRuns())
        QSKIP("a Parafold outside this test runs, and this start would end that one");

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

QTEST_GUILESS_MAIN(TestParafoldStart)
#include "tst_parafoldstart.moc"
