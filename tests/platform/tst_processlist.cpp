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

bool IsListed(ProcessId id, const std::string &name)
{
    for (const ProcessEntry &entry : platform::ListProcesses()) {
        if (entry.id == id)
            return entry.executableName == name;
    }
    return false;
}

#ifndef Q_OS_WIN
QString OwnName()
{
    return QFileInfo(QCoreApplication::applicationFilePath()).fileName();
}
#endif

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
    const QString path;

private:
    QProcess process;
};

} // namespace

class TestProcessList : public QObject
{
    Q_OBJECT

private slots:
    void listsProcessUnderItsFileName_data();
    void listsProcessUnderItsFileName();
    void unreapedProcessIsNoInstance();
};

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

// A process that has exited but whose parent has not collected it still shows in the
// process table under its short name, yet runs nothing: only the live one is listed.
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
    const bool liveListed = IsListed(live.id(), name.toStdString());
    const bool zombieListed = IsListed(static_cast<ProcessId>(zombie), name.toStdString());
    int status = 0;
    QCOMPARE(waitpid(zombie, &status, 0), zombie);
    QVERIFY(liveListed);
    QVERIFY(!zombieListed);
#endif
}

QTEST_GUILESS_MAIN(TestProcessList)
#include "tst_processlist.moc"
