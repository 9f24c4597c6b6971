// The lock of a source tree: one holder at a time, whoever it is, and no lock place that
// someone else could swap or hold.

#include "engine/journal/TreeLock.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif

class TestTreeLock : public QObject
{
    Q_OBJECT

private slots:
    void lockPlace_data();
    void lockPlace();
    void treesApartLockApart();
};

void TestTreeLock::lockPlace_data()
{
    QTest::addColumn<QString>("planted");
    QTest::addColumn<int>("expected");
    const int held = int(TreeLock::Result::Held);
    const int busy = int(TreeLock::Result::Busy);
    const int refused = int(TreeLock::Result::Refused);
    QTest::newRow("nothing there: made") << "none" << held;
    QTest::newRow("held by another") << "held" << busy;
    QTest::newRow("journal folder is a link") << "journal link" << refused;
    QTest::newRow("lock is a link") << "lock link" << refused;
    QTest::newRow("lock is a folder") << "lock folder" << refused;
    QTest::newRow("lock has a second name") << "lock hard link" << refused;
    QTest::newRow("journal open to others") << "journal 0777" << refused;
    QTest::newRow("lock of another user") << "lock owner" << refused;
    QTest::newRow("journal of another user") << "journal owner" << refused;
}

void TestTreeLock::lockPlace()
{
    QFETCH(QString, planted);
    QFETCH(int, expected);
#ifndef Q_OS_UNIX
    if (planted != QLatin1String("none") && planted != QLatin1String("held") &&
        planted != QLatin1String("lock folder"))
        QSKIP("links, modes and owners are planted with POSIX calls");
#else
    if (planted.endsWith(QLatin1String("owner")) && ::geteuid() != 0)
        QSKIP("handing a file to another user needs root");
#endif
    QTemporaryDir temporary;
    QVERIFY(temporary.isValid());
    const QString source = temporary.filePath(QStringLiteral("src"));
    const QString outside = temporary.filePath(QStringLiteral("outside"));
    const QString journal = source + QStringLiteral("/.parafold-journal");
    const QString lockPath = journal + QStringLiteral("/lock");
    QVERIFY(QDir().mkpath(source) && QDir().mkpath(outside));
    const bool plantsInJournal = planted.startsWith(QLatin1String("lock")) ||
                                 planted == QLatin1String("journal 0777") ||
                                 planted == QLatin1String("journal owner");
    if (plantsInJournal)
        QVERIFY(QDir().mkpath(journal));
#ifdef Q_OS_UNIX
    if (plantsInJournal)
        QCOMPARE(::chmod(QFile::encodeName(journal).constData(), 0700), 0);
    const QByteArray lockName = QFile::encodeName(lockPath);
    if (planted == QLatin1String("journal link"))
        QVERIFY(QFile::link(outside, journal));
    if (planted == QLatin1String("lock link"))
        QVERIFY(QFile::link(outside + QStringLiteral("/lock"), lockPath));
    if (planted == QLatin1String("lock hard link")) {
        QFile other(source + QStringLiteral("/a.txt"));
        QVERIFY(other.open(QIODevice::WriteOnly));
        other.close();
        QCOMPARE(::link(QFile::encodeName(other.fileName()).constData(), lockName.constData()), 0);
    }
    if (planted == QLatin1String("journal 0777"))
        QCOMPARE(::chmod(QFile::encodeName(journal).constData(), 0777), 0);
    if (planted == QLatin1String("lock owner")) {
        QFile lock(lockPath);
        QVERIFY(lock.open(QIODevice::WriteOnly));
        lock.close();
        QCOMPARE(::chown(lockName.constData(), 1234, 1234), 0);
    }
    if (planted == QLatin1String("journal owner"))
        QCOMPARE(::chown(QFile::encodeName(journal).constData(), 1234, 1234), 0);
#endif
    if (planted == QLatin1String("lock folder"))
        QVERIFY(QDir().mkpath(lockPath));
    TreeLock other;
    if (planted == QLatin1String("held"))
        QCOMPARE(other.take(source, false, nullptr), TreeLock::Result::Held);

    TreeLock lock;
    QString reason;
    const TreeLock::Result result = lock.take(source, false, &reason);
    QCOMPARE(int(result), expected);
    QCOMPARE(lock.isHeld(), result == TreeLock::Result::Held);
    // A refusal names the lock place and the system's reason.
    QCOMPARE(reason.contains(QStringLiteral(".parafold-journal")),
             result == TreeLock::Result::Refused);
    // Nothing is made through a link.
    QVERIFY(QDir(outside).isEmpty());
}

// Two trees are locked at once; one tree's lock is free again once released.
void TestTreeLock::treesApartLockApart()
{
    QTemporaryDir temporary;
    QVERIFY(temporary.isValid());
    const QString first = temporary.filePath(QStringLiteral("一"));
    const QString second = temporary.filePath(QStringLiteral("二"));
    QVERIFY(QDir().mkpath(first) && QDir().mkpath(second));
    TreeLock a, b, c;
    QCOMPARE(a.take(first, false, nullptr), TreeLock::Result::Held);
    QCOMPARE(b.take(second, false, nullptr), TreeLock::Result::Held);
    QCOMPARE(c.take(first, false, nullptr), TreeLock::Result::Busy);
    a.release();
    QCOMPARE(c.take(first, false, nullptr), TreeLock::Result::Held);
}

QTEST_GUILESS_MAIN(TestTreeLock)
#include "tst_treelock.moc"
