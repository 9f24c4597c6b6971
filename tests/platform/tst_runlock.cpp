// Where the run lock lives: a folder that another user cannot plant, link or hold.

#include "platform/RunLock.h"

#include <QTemporaryDir>
#include <QtTest>

#ifdef Q_OS_UNIX
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

class TestRunLock : public QObject
{
    Q_OBJECT

private slots:
    void plantedFolderIsRefused_data();
    void plantedFolderIsRefused();
    void lockHeldByAnotherProcess();
};

void TestRunLock::plantedFolderIsRefused_data()
{
    QTest::addColumn<QString>("planted");
    QTest::addColumn<bool>("usable");
    QTest::newRow("none: made 0700") << "none" << true;
    QTest::newRow("own folder 0700") << "own" << true;
    QTest::newRow("another user's folder") << "other user" << false;
    QTest::newRow("open to others") << "mode 0777" << false;
    QTest::newRow("link to an own folder") << "link" << false;
    QTest::newRow("a file") << "file" << false;
}

void TestRunLock::plantedFolderIsRefused()
{
#ifndef Q_OS_UNIX
    QSKIP("the temporary folder is the user's own on Windows");
#else
    QFETCH(QString, planted);
    QFETCH(bool, usable);
    if (planted == QLatin1String("other user") && ::geteuid() != 0)
        QSKIP("handing a folder to another user needs root");
    QTemporaryDir temporary;
    QVERIFY(temporary.isValid());
    const std::string base = QFile::encodeName(temporary.path()).toStdString();
    const std::string folder = base + "/parafold-" + std::to_string(::getuid());
    if (planted == QLatin1String("own") || planted == QLatin1String("other user"))
        QCOMPARE(::mkdir(folder.c_str(), 0700), 0);
    if (planted == QLatin1String("other user"))
        QCOMPARE(::chown(folder.c_str(), 1234, 1234), 0);
    if (planted == QLatin1String("mode 0777")) {
        QCOMPARE(::mkdir(folder.c_str(), 0700), 0);
        QCOMPARE(::chmod(folder.c_str(), 0777), 0);
    }
    if (planted == QLatin1String("link")) {
        QCOMPARE(::mkdir((base + "/mine").c_str(), 0700), 0);
        QCOMPARE(::symlink((base + "/mine").c_str(), folder.c_str()), 0);
    }
    if (planted == QLatin1String("file"))
        QCOMPARE(::close(::open(folder.c_str(), O_CREAT | O_WRONLY, 0600)), 0);

    std::string reason;
    const std::string path = platform::RunLockPathIn(base, reason);
    QCOMPARE(!path.empty(), usable);
    QCOMPARE(reason.empty(), usable);
    if (!usable)
        return;
    struct stat status;
    QCOMPARE(::lstat(folder.c_str(), &status), 0);
    QCOMPARE(int(status.st_mode & 0777), 0700);
    platform::RunLock lock(path);
    QVERIFY(lock.acquire());
    QCOMPARE(::lstat(path.c_str(), &status), 0);
    QCOMPARE(int(status.st_mode & 0777), 0600);
#endif
}

// A lock file that is a link is never opened; one held elsewhere says so.
void TestRunLock::lockHeldByAnotherProcess()
{
#ifndef Q_OS_UNIX
    QSKIP("needs fork");
#else
    QTemporaryDir temporary;
    std::string reason;
    const std::string path =
        platform::RunLockPathIn(QFile::encodeName(temporary.path()).toStdString(), reason);
    QVERIFY2(!path.empty(), reason.c_str());

    QCOMPARE(::symlink((path + ".elsewhere").c_str(), path.c_str()), 0);
    platform::RunLock linked(path);
    QVERIFY(!linked.acquire());
    QVERIFY(!linked.heldElsewhere());
    QVERIFY(!QFileInfo::exists(QFile::decodeName((path + ".elsewhere").c_str())));
    QCOMPARE(::unlink(path.c_str()), 0);

    int ready[2];
    QCOMPARE(::pipe(ready), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        platform::RunLock held(path);
        const char byte = held.acquire() ? 1 : 0;
        [[maybe_unused]] const ssize_t written = ::write(ready[1], &byte, 1);
        ::pause();
        ::_exit(0);
    }
    char byte = 0;
    QCOMPARE(::read(ready[0], &byte, 1), ssize_t(1));
    platform::RunLock second(path);
    const bool taken = second.acquire();
    const bool busy = second.heldElsewhere();
    const bool held = platform::RunLockHeld(path);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    ::close(ready[0]);
    ::close(ready[1]);
    QCOMPARE(byte, char(1));
    QVERIFY(!taken);
    QVERIFY(busy);
    QVERIFY(held);
    // The holder gone, the lock is free.
    QVERIFY(second.acquire());
#endif
}

QTEST_GUILESS_MAIN(TestRunLock)
#include "tst_runlock.moc"
