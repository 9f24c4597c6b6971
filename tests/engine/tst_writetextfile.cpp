#include "engine/files/FileIo.h"
#include "tests/engine/Fixture.h"

#include <QTest>

#include <sys/stat.h>

using namespace fixture;

class TestWriteTextFile : public QObject
{
    Q_OBJECT

private slots:
    void replacesWhole_data();
    void replacesWhole();
};

void TestWriteTextFile::replacesWhole_data()
{
    QTest::addColumn<QString>("standing"); // what stands at the target before the write
    QTest::addColumn<bool>("written");
    QTest::addColumn<int>("mode"); // of the file that holds the content afterwards
    QTest::newRow("nothing") << QStringLiteral("nothing") << true << 0644;
    QTest::newRow("file 0640") << QStringLiteral("file 0640") << true << 0640;
    QTest::newRow("file 0755") << QStringLiteral("file 0755") << true << 0755;
    QTest::newRow("set-user-id file") << QStringLiteral("file 4755") << true << 0755;
    QTest::newRow("read-only file") << QStringLiteral("file 0444") << true << 0444;
    QTest::newRow("link to a file") << QStringLiteral("link") << true << 0600;
    QTest::newRow("folder") << QStringLiteral("folder") << false << 0;
    QTest::newRow("missing folder") << QStringLiteral("missing folder") << false << 0;
}

// The target holds the old content or the whole new one, keeps its mode, and no temporary
// file is left beside it either way.
void TestWriteTextFile::replacesWhole()
{
    QFETCH(QString, standing);
    QFETCH(bool, written);
    QFETCH(int, mode);
    QTemporaryDir temp;
    const QString dir = temp.filePath(QStringLiteral("d"));
    QVERIFY(QDir().mkpath(dir));
    QString target = dir + QStringLiteral("/a.txt");
    QString holder = target;
    if (standing.startsWith(QLatin1String("file"))) {
        QVERIFY(WriteBytes(target, "old content"));
        QCOMPARE(::chmod(QFile::encodeName(target).constData(), standing.mid(5).toInt(nullptr, 8)),
                 0);
    } else if (standing == QLatin1String("link")) {
        holder = temp.filePath(QStringLiteral("elsewhere.txt"));
        QVERIFY(WriteBytes(holder, "old"));
        QCOMPARE(::chmod(QFile::encodeName(holder).constData(), 0600), 0);
        QVERIFY(QFile::link(holder, target));
    } else if (standing == QLatin1String("folder")) {
        QVERIFY(QDir().mkpath(target));
    } else if (standing == QLatin1String("missing folder")) {
        target = dir + QStringLiteral("/none/a.txt");
    }
    const QStringList before = TreeListing(dir);
    const mode_t oldMask = ::umask(022);
    const bool ok = WriteTextFile(target, QByteArray("new\r\n"));
    ::umask(oldMask);
    QCOMPARE(ok, written);
    if (written) {
        QCOMPARE(ReadBytes(holder), QByteArray("new\r\n"));
        struct stat info = {};
        QCOMPARE(::stat(QFile::encodeName(holder).constData(), &info), 0);
        QCOMPARE(int(info.st_mode & 07777), mode);
        QCOMPARE(QFileInfo(target).isSymLink(), standing == QLatin1String("link"));
        QStringList after = before;
        if (!after.contains(QStringLiteral("a.txt")))
            after.append(QStringLiteral("a.txt"));
        QCOMPARE(TreeListing(dir), after);
    } else {
        QCOMPARE(TreeListing(dir), before);
    }
}

QTEST_GUILESS_MAIN(TestWriteTextFile)
#include "tst_writetextfile.moc"
