#include "engine/files/FileIo.h"
#include "tests/engine/Fixture.h"

#include <QTest>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#else
#include <thread>
#include <windows.h>
#endif

using namespace fixture;

class TestWriteTextFile : public QObject
{
    Q_OBJECT

private slots:
    void replacesWhole_data();
    void replacesWhole();
    void partsFollowEachOther_data();
    void partsFollowEachOther();
};

void TestWriteTextFile::partsFollowEachOther_data()
{
    // Sizes of the parts, around the runs of a megabyte that small ones are written in.
    // Handed over as they are made, the writer may give up after them: the old file stays.
    QTest::addColumn<QList<int>>("sizes");
    QTest::addColumn<bool>("givenUp");
    const int mega = 1 << 20;
    QTest::newRow("none") << QList<int>{} << false;
    QTest::newRow("small and empty") << QList<int>{5, 0, 7} << false;
    QTest::newRow("a run filled") << QList<int>{mega - 3, 2, 1, 4} << false;
    QTest::newRow("large between small") << QList<int>{3, mega + 5, 0, 9, 2 * mega} << false;
    QTest::newRow("given up") << QList<int>{5, 0, 7} << true;
    QTest::newRow("given up after a large part") << QList<int>{3, mega + 5} << true;
}

void TestWriteTextFile::partsFollowEachOther()
{
    QFETCH(QList<int>, sizes);
    QFETCH(bool, givenUp);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("plan.jsonl"));
    WriteBytes(path, "old content");
    std::vector<QByteArray> parts;
    QByteArray whole;
    for (const int size : sizes) {
        parts.push_back(QByteArray(size, char('a' + parts.size())));
        whole += parts.back();
    }
    if (givenUp) {
        bool taken = true;
        QVERIFY(!WriteTextFile(path, [&](const PieceWrite &write) {
            for (const QByteArray &part : parts)
                taken = write(part.constData(), part.size()) && taken;
            return false;
        }));
        QVERIFY(taken);
        whole = "old content";
    } else {
        QVERIFY(WriteTextFile(path, parts));
    }
    QCOMPARE(ReadBytes(path), whole);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
             QStringList{QStringLiteral("plan.jsonl")});
}

void TestWriteTextFile::replacesWhole_data()
{
    QTest::addColumn<QString>("standing"); // what stands at the target before the write
    QTest::addColumn<bool>("written");
    QTest::addColumn<int>("mode"); // of the file that holds the content afterwards
    QTest::newRow("nothing") << QStringLiteral("nothing") << true << 0644;
    QTest::newRow("file 0640") << QStringLiteral("file 0640") << true << 0640;
    QTest::newRow("file 0755") << QStringLiteral("file 0755") << true << 0755;
    QTest::newRow("set-user-id file") << QStringLiteral("file 4755") << true << 0755;
#ifdef Q_OS_WIN
    // The read-only attribute guards a file on Windows: the write fails instead of replacing
    // it. QFile::link makes .lnk shortcuts there, no links.
    QTest::newRow("read-only file") << QStringLiteral("file 0444") << false << 0444;
    // As a virus scanner holds a file: the rename is tried again until it is let go.
    QTest::newRow("file held for a moment") << QStringLiteral("held 100") << true << 0644;
    QTest::newRow("file held throughout") << QStringLiteral("held 1000") << false << 0644;
#else
    QTest::newRow("read-only file") << QStringLiteral("file 0444") << true << 0444;
    // A link planted where a report or an edited file goes is not written through.
    QTest::newRow("link to a file") << QStringLiteral("link") << false << 0600;
#endif
    QTest::newRow("folder") << QStringLiteral("folder") << false << 0;
    QTest::newRow("missing folder") << QStringLiteral("missing folder") << false << 0;
}

namespace {

bool SetMode(const QString &path, int mode)
{
#ifdef Q_OS_WIN
    // Only the owner's write bit has a counterpart there: the read-only attribute.
    return QFile::setPermissions(path, (mode & 0200) ? QFile::ReadOwner | QFile::WriteOwner
                                                     : QFile::ReadOwner);
#else
    return ::chmod(QFile::encodeName(path).constData(), static_cast<mode_t>(mode)) == 0;
#endif
}

} // namespace

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
        QVERIFY(SetMode(target, standing.mid(5).toInt(nullptr, 8)));
    } else if (standing == QLatin1String("link")) {
        holder = temp.filePath(QStringLiteral("elsewhere.txt"));
        QVERIFY(WriteBytes(holder, "old"));
        QVERIFY(SetMode(holder, 0600));
        QVERIFY(QFile::link(holder, target));
    } else if (standing == QLatin1String("folder")) {
        QVERIFY(QDir().mkpath(target));
    } else if (standing == QLatin1String("missing folder")) {
        target = dir + QStringLiteral("/none/a.txt");
    }
#ifdef Q_OS_WIN
    std::thread letGo;
    if (standing.startsWith(QLatin1String("held"))) {
        QVERIFY(WriteBytes(target, "old content"));
        const HANDLE held =
            CreateFileW(reinterpret_cast<const wchar_t *>(target.utf16()), GENERIC_READ,
                        FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        QVERIFY(held != INVALID_HANDLE_VALUE);
        letGo = std::thread([held, ms = standing.mid(5).toInt()] {
            Sleep(DWORD(ms));
            CloseHandle(held);
        });
    }
#endif
    const QStringList before = TreeListing(dir);
#ifdef Q_OS_UNIX
    const mode_t oldMask = ::umask(022);
#endif
    const bool ok = WriteTextFile(target, QByteArray("new\r\n"));
#ifdef Q_OS_UNIX
    ::umask(oldMask);
#endif
#ifdef Q_OS_WIN
    if (letGo.joinable())
        letGo.join();
#endif
    QCOMPARE(ok, written);
    if (written) {
        QCOMPARE(ReadBytes(holder), QByteArray("new\r\n"));
#ifdef Q_OS_UNIX
        struct stat info = {};
        QCOMPARE(::stat(QFile::encodeName(holder).constData(), &info), 0);
        QCOMPARE(int(info.st_mode & 07777), mode);
#endif
        QCOMPARE(QFileInfo(target).isSymLink(), standing == QLatin1String("link"));
        QStringList after = before;
        if (!after.contains(QStringLiteral("a.txt")))
            after.append(QStringLiteral("a.txt"));
        QCOMPARE(TreeListing(dir), after);
    } else {
        QCOMPARE(TreeListing(dir), before);
        if (standing.startsWith(QLatin1String("file")) ||
            standing.startsWith(QLatin1String("held"))) {
            QCOMPARE(ReadBytes(target), QByteArray("old content"));
            QCOMPARE(QFileInfo(target).isWritable(), bool(mode & 0200));
        }
    }
}

QTEST_GUILESS_MAIN(TestWriteTextFile)
#include "tst_writetextfile.moc"
