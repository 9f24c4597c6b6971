#include "platform/ProcessList.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

#ifdef Q_OS_WIN
#include <windows.h>
#endif
#ifdef Q_OS_UNIX
#include <csignal>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

using platform::ProcessEntry;
using platform::ProcessId;

namespace {

// "name:id" items, as a process list in that order.
std::vector<ProcessEntry> Processes(const QByteArrayList &items)
{
    std::vector<ProcessEntry> processes;
    for (const QByteArray &item : items) {
        const int colon = item.lastIndexOf(':');
        processes.push_back({item.left(colon).toStdString(), item.mid(colon + 1).toUInt()});
    }
    return processes;
}

bool IsListed(ProcessId id, const std::string &name)
{
    for (const ProcessEntry &entry : platform::ListProcesses()) {
        if (entry.id == id)
            return entry.executableName == name;
    }
    return false;
}

QString OwnName()
{
    return QFileInfo(QCoreApplication::applicationFilePath()).fileName();
}

// A program file name: Windows starts only files that carry the extension.
QString ProgramName(const QString &name)
{
#ifdef Q_OS_WIN
    return name + QStringLiteral(".exe");
#else
    return name;
#endif
}

// A program that waits for the number of seconds given, to be copied under other names.
QString Sleeper()
{
#ifdef Q_OS_WIN
    return QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("sleeper.exe"));
#else
    return QStringLiteral("/bin/sleep");
#endif
}

// A copy of the sleeper under the given file name, started so it runs until ended.
class StandIn
{
public:
    StandIn(const QString &folder, const QString &name) : path(QDir(folder).filePath(name))
    {
        if (!QFileInfo::exists(path))
            QFile::copy(Sleeper(), path);
#ifdef Q_OS_WIN
        // Without a console: wine's console host outlives a stand-in that is ended, and
        // holds the test's output open.
        process.setCreateProcessArgumentsModifier([](QProcess::CreateProcessArguments *arguments) {
            arguments->flags = (arguments->flags & ~DWORD(CREATE_NO_WINDOW)) | DETACHED_PROCESS;
        });
#endif
        process.start(path, {QStringLiteral("60")});
        process.waitForStarted();
    }
    ~StandIn()
    {
        process.kill();
        process.waitForFinished();
    }
    ProcessId id() const
    {
        return static_cast<ProcessId>(process.processId());
    }
    bool running() const
    {
        return process.state() == QProcess::Running;
    }
    // True once the process has been ended: by a signal, or on Windows by TerminateProcess
    // with exit code 0, which the sleeper never returns.
    bool endedBySignal()
    {
        if (!process.waitForFinished(10000))
            return false;
#ifdef Q_OS_WIN
        return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
#else
        return process.exitStatus() == QProcess::CrashExit;
#endif
    }

    const QString path;

private:
    QProcess process;
};

} // namespace

class TestProcessList : public QObject
{
    Q_OBJECT

private slots:
    void ruleChoosesProcess_data();
    void ruleChoosesProcess();
    void listsProcessUnderItsFileName_data();
    void listsProcessUnderItsFileName();
    void ruleEndsLiveStandIns_data();
    void ruleEndsLiveStandIns();
    void unreapedProcessIsNoInstance();
    void endingGoneProcessFails();
};

void TestProcessList::ruleChoosesProcess_data()
{
    QTest::addColumn<QByteArrayList>("processes");
    QTest::addColumn<uint>("self");
    QTest::addColumn<QList<uint>>("unendable");
    QTest::addColumn<uint>("ended"); // 0: none
    QTest::addColumn<QList<uint>>("tried");

    const QList<uint> none;
    QTest::newRow("alone") << QByteArrayList{"init:1", "Parafold:10"} << 10u << none << 0u << none;
    QTest::newRow("other listed first") << QByteArrayList{"Parafold:5", "bash:7", "Parafold:10"}
                                        << 10u << none << 5u << QList<uint>{5};
    QTest::newRow("self listed first")
        << QByteArrayList{"Parafold:10", "Parafold:5"} << 10u << none << 5u << QList<uint>{5};
    QTest::newRow("only the first other")
        << QByteArrayList{"Parafold:10", "Parafold:5", "Parafold:7"} << 10u << none << 5u
        << QList<uint>{5};
    QTest::newRow("self under another name counts two others")
        << QByteArrayList{"Parafold:5", "Parafold:7", "Parafold-old:10"} << 10u << none << 5u
        << QList<uint>{5};
    QTest::newRow("one other and self under another name")
        << QByteArrayList{"Parafold:5", "Parafold-old:10"} << 10u << none << 0u << none;
    QTest::newRow("letter case differs")
        << QByteArrayList{"parafold:5", "PARAFOLD:6", "Parafold:10"} << 10u << none << 0u << none;
    QTest::newRow("prefix and extension differ")
        << QByteArrayList{"Parafol:5", "Parafold.exe:6", "Parafold :7", "Parafold:10"} << 10u
        << none << 0u << none;
    QTest::newRow("first cannot be ended")
        << QByteArrayList{"Parafold:5", "Parafold:7", "Parafold:10"} << 10u << QList<uint>{5} << 7u
        << QList<uint>{5, 7};
    QTest::newRow("none can be ended") << QByteArrayList{"Parafold:5", "Parafold:10"} << 10u
                                       << QList<uint>{5} << 0u << QList<uint>{5};
    QTest::newRow("empty list") << QByteArrayList{} << 10u << none << 0u << none;
}

void TestProcessList::ruleChoosesProcess()
{
    QFETCH(QByteArrayList, processes);
    QFETCH(uint, self);
    QFETCH(QList<uint>, unendable);
    QFETCH(uint, ended);
    QFETCH(QList<uint>, tried);

    QList<uint> attempts;
    const auto result =
        platform::EndOtherInstance(Processes(processes), "Parafold", self, [&](ProcessId id) {
            attempts << id;
            return !unendable.contains(id);
        });
    QCOMPARE(result.value_or(0), ended);
    QCOMPARE(attempts, tried);
}

void TestProcessList::listsProcessUnderItsFileName_data()
{
    QTest::addColumn<QString>("start");
    QTest::newRow("by its path") << QString();
#ifndef Q_OS_WIN
    // Windows has no symbolic links that QFile::link makes (it makes .lnk shortcuts), and
    // a running program's file cannot be deleted there.
    QTest::newRow("through a link") << QStringLiteral("link");
    QTest::newRow("file deleted while running") << QStringLiteral("delete");
#endif
}

void TestProcessList::listsProcessUnderItsFileName()
{
    QFETCH(QString, start);
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString name = ProgramName(QStringLiteral("Parafold stand-in"));
    const QString file = folder.filePath(name);
    QVERIFY(QFile::copy(Sleeper(), file));

    std::unique_ptr<StandIn> standIn;
    if (start == QLatin1String("link")) {
        QVERIFY(QFile::link(file, folder.filePath(QStringLiteral("alias"))));
        standIn = std::make_unique<StandIn>(folder.path(), QStringLiteral("alias"));
    } else {
        standIn = std::make_unique<StandIn>(folder.path(), name);
        if (start == QLatin1String("delete"))
            QVERIFY(QFile::remove(file));
    }
    QVERIFY(standIn->running());
    QVERIFY(IsListed(standIn->id(), name.toStdString()));
}

void TestProcessList::ruleEndsLiveStandIns_data()
{
    QTest::addColumn<bool>("namedAsSelf");
    QTest::addColumn<int>("standIns");
    QTest::addColumn<bool>("oneEnded");

    QTest::newRow("one beside this process") << true << 1 << true;
    QTest::newRow("two beside this process") << true << 2 << true;
    QTest::newRow("one alone") << false << 1 << false;
    QTest::newRow("two alone") << false << 2 << true;
}

// Runs the rule on the live list with this test as the starting process. When this test
// carries the name too, it is the first of that name in the list and must be spared.
void TestProcessList::ruleEndsLiveStandIns()
{
    QFETCH(bool, namedAsSelf);
    QFETCH(int, standIns);
    QFETCH(bool, oneEnded);

    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString name =
        namedAsSelf ? OwnName()
                    : ProgramName(QStringLiteral("pf-%1").arg(QCoreApplication::applicationPid()));
    std::vector<std::unique_ptr<StandIn>> started;
    for (int i = 0; i < standIns; ++i) {
        started.push_back(std::make_unique<StandIn>(folder.path(), name));
        QVERIFY(started.back()->running());
    }

    // Other stand-ins of that name would make the outcome depend on them.
    ProcessId firstStandIn = 0;
    for (const ProcessEntry &entry : platform::ListProcesses()) {
        if (entry.executableName != name.toStdString() || entry.id == platform::CurrentProcessId())
            continue;
        const bool ours = std::any_of(started.begin(), started.end(),
                                      [&](const auto &s) { return s->id() == entry.id; });
        if (!ours)
            QSKIP("another process of that name runs");
        if (!firstStandIn)
            firstStandIn = entry.id;
    }

    const auto ended = platform::EndOtherInstance(name.toStdString());
    QCOMPARE(ended.has_value(), oneEnded);
    for (const auto &standIn : started) {
        if (oneEnded && standIn->id() == firstStandIn) {
            QCOMPARE(*ended, standIn->id());
            QVERIFY(standIn->endedBySignal());
        } else {
            QTest::qWait(200);
            QVERIFY(standIn->running());
        }
    }
}

// A process that has exited but whose parent has not collected it still shows in the
// process table under its short name; ending it would spare the real instance.
void TestProcessList::unreapedProcessIsNoInstance()
{
#ifdef Q_OS_WIN
    QSKIP("Windows keeps no exited processes in its list");
#else
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString name = OwnName();
    const QString file = folder.filePath(name);
    QVERIFY(QFile::copy(QStringLiteral("/bin/sleep"), file));

    const QByteArray path = QFile::encodeName(file);
    char *arguments[] = {const_cast<char *>(path.constData()), const_cast<char *>("60"), nullptr};
    pid_t zombie = 0;
    QCOMPARE(posix_spawn(&zombie, path.constData(), nullptr, nullptr, arguments, environ), 0);
    QCOMPARE(kill(zombie, SIGKILL), 0);
    QTRY_VERIFY(!IsListed(static_cast<ProcessId>(zombie), name.toStdString()));

    StandIn live(folder.path(), name);
    QVERIFY(live.running());
    const auto ended = platform::EndOtherInstance(name.toStdString());
    int status = 0;
    QCOMPARE(waitpid(zombie, &status, 0), zombie);
    QCOMPARE(ended.value_or(0), live.id());
    QVERIFY(live.endedBySignal());
#endif
}

void TestProcessList::endingGoneProcessFails()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    ProcessId gone = 0;
    {
        StandIn standIn(folder.path(), ProgramName(QStringLiteral("short-lived")));
        QVERIFY(standIn.running());
        gone = standIn.id();
    }
    QVERIFY(!platform::EndProcess(gone));
}

QTEST_GUILESS_MAIN(TestProcessList)
#include "tst_processlist.moc"
