#include "engine/files/FileIo.h"
#include "engine/files/FileNames.h"
#include "engine/scan/Scan.h"
#include "tests/engine/Fixture.h"

#include <QTest>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace fixture;

class TestScan : public QObject
{
    Q_OBJECT

private slots:
    void order_data();
    void order();
    void topFolderPath_data();
    void topFolderPath();
    void linksToFolders();
    void linkCycleEnds();
    void wideTreeKeepsOrder();
    void missingFolder();
    void fileNamesRoundTrip_data();
    void fileNamesRoundTrip();
#ifdef Q_OS_UNIX
    void namesThatAreNotText();
    void pathsLongerThanTheSystemTakes();
    void deepChainInLinearMemory();
#endif
};

static QStringList Relative(const FileList &list)
{
    QStringList paths;
    for (const ScannedFile &file : list.files)
        paths += list.relativePath(file);
    return paths;
}

void TestScan::order_data()
{
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("case ignored") << Names({"c.txt", "B.txt", "a.txt"})
                                  << Names({"a.txt", "B.txt", "c.txt"});
    QTest::newRow("no numeric order")
        << Names({"file2.txt", "file10.txt"}) << Names({"file10.txt", "file2.txt"});
    QTest::newRow("chinese by character code")
        << Names({"小.txt", "大.txt", "中.txt"}) << Names({"中.txt", "大.txt", "小.txt"});
    QTest::newRow("own files before sub-folders")
        << Names({"z.txt", "a/x.txt", "a/b/y.txt", "a/c.txt", "m/k.txt"})
        << Names({"z.txt", "a/c.txt", "a/x.txt", "a/b/y.txt", "m/k.txt"});
    QTest::newRow("other types listed")
        << Names({"x.doc", "y.txt.bak", "NOTES.TXT"}) << Names({"NOTES.TXT", "x.doc", "y.txt.bak"});
    QTest::newRow("hidden file listed, hidden folder skipped")
        << Names({".h.txt", ".git/config.txt", "v.txt", "d/.e.txt"})
        << Names({".h.txt", "v.txt", "d/.e.txt"});
    QTest::newRow("undo journal never scanned")
        << Names({".parafold-journal/a.txt", "a.txt"}) << Names({"a.txt"});
    QTest::newRow("empty folders add nothing") << Names({"e/", "e/f/"}) << QStringList();
}

void TestScan::order()
{
    QFETCH(QStringList, files);
    QFETCH(QStringList, expected);
    QTemporaryDir dir;
    for (const QString &file : files) {
        if (file.endsWith(QLatin1Char('/')))
            QVERIFY(QDir().mkpath(dir.filePath(file)));
        else
            QVERIFY(WriteBytes(dir.filePath(file), "x"));
    }
    QCOMPARE(Relative(CollectFiles(dir.path())), expected);
}

void TestScan::topFolderPath_data()
{
    QTest::addColumn<QString>("suffix");
    QTest::newRow("without separator") << QString();
    QTest::newRow("with separator") << QStringLiteral("/");
}

void TestScan::topFolderPath()
{
    QFETCH(QString, suffix);
    QTemporaryDir dir;
    QVERIFY(WriteBytes(dir.filePath(QStringLiteral("a.txt")), "x"));
    QVERIFY(WriteBytes(dir.filePath(QStringLiteral("sub/b.txt")), "x"));
    const FileList list = CollectFiles(dir.path() + suffix);
    QCOMPARE(list.files.size(), size_t(2));
    QCOMPARE(list.path(list.files[0]), dir.path() + QStringLiteral("/a.txt"));
    QCOMPARE(list.path(list.files[1]), dir.path() + QStringLiteral("/sub/b.txt"));
}

void TestScan::linksToFolders()
{
#ifdef Q_OS_WIN
    QSKIP("QFile::link makes .lnk shortcuts on Windows, no links");
#endif
    QTemporaryDir dir;
    const QString root = dir.filePath(QStringLiteral("root"));
    QVERIFY(WriteBytes(dir.filePath(QStringLiteral("elsewhere/far.txt")), "x"));
    QVERIFY(WriteBytes(root + QStringLiteral("/real.txt"), "x"));
    QVERIFY(
        QFile::link(dir.filePath(QStringLiteral("elsewhere")), root + QStringLiteral("/linked")));
    QVERIFY(QFile::link(root + QStringLiteral("/real.txt"), root + QStringLiteral("/alias.txt")));
    QVERIFY(QFile::link(root + QStringLiteral("/gone.txt"), root + QStringLiteral("/broken.txt")));
    QVERIFY(QFile::link(root + QStringLiteral("/sub"), root + QStringLiteral("/inside")));
    QVERIFY(WriteBytes(root + QStringLiteral("/sub/near.txt"), "x"));
    const FileList list = CollectFiles(root);
    // Never entered: the folder inside is scanned in its place, the one outside is listed.
    QCOMPARE(Relative(list), Names({"real.txt", "sub/near.txt"}));
    QCOMPARE(list.unlisted.size(), size_t(1));
    QCOMPARE(list.unlisted[0].path, root + QStringLiteral("/linked"));
    QCOMPARE(list.unlisted[0].systemReason, reasonLinkLeadsOut());
}

void TestScan::linkCycleEnds()
{
#ifdef Q_OS_WIN
    QSKIP("QFile::link makes .lnk shortcuts on Windows, no links");
#endif
    QTemporaryDir dir;
    const QString root = dir.path();
    QVERIFY(WriteBytes(root + QStringLiteral("/a/in-a.txt"), "x"));
    QVERIFY(WriteBytes(root + QStringLiteral("/b/in-b.txt"), "x"));
    QVERIFY(QFile::link(root, root + QStringLiteral("/a/up"))); // back to the top
    QVERIFY(QFile::link(root + QStringLiteral("/a"), root + QStringLiteral("/b/to-a"))); // twice
    QCOMPARE(Relative(CollectFiles(root)), Names({"a/in-a.txt", "b/in-b.txt"}));
}

// Folders are read on two threads from both ends of the tree; the list keeps the scan's order,
// also for a folder that the far end reached first through a link, while the scan was busy in
// the large first folder.
void TestScan::wideTreeKeepsOrder()
{
    QTemporaryDir dir;
    const QString root = dir.path();
    QStringList expected;
    for (int folder = 0; folder < 30; ++folder) {
        const QString name = QStringLiteral("d%1").arg(folder, 2, 10, QLatin1Char('0'));
        QVERIFY(WriteBytes(root + QLatin1Char('/') + name + QStringLiteral("/f.txt"), "x"));
        expected += name + QStringLiteral("/f.txt");
        for (int sub = 0; sub < (folder == 0 ? 200 : 3); ++sub) {
            const QString inner =
                name + QStringLiteral("/e%1/g.txt").arg(sub, 3, 10, QLatin1Char('0'));
            QVERIFY(WriteBytes(root + QLatin1Char('/') + inner, "x"));
            expected += inner;
        }
    }
#ifdef Q_OS_UNIX
    QVERIFY(QFile::link(root + QStringLiteral("/d05"), root + QStringLiteral("/zz-link")));
#endif
    for (int round = 0; round < 10; ++round)
        QCOMPARE(Relative(CollectFiles(root)), expected);
}

void TestScan::missingFolder()
{
    QTemporaryDir dir;
    QVERIFY(CollectFiles(dir.filePath(QStringLiteral("nothing"))).files.empty());
    QVERIFY(CollectFiles(QString()).files.empty());
}

void TestScan::fileNamesRoundTrip_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("isText");
    QTest::newRow("ascii") << QByteArray("a.txt") << true;
    QTest::newRow("utf8 chinese") << Utf8(QStringLiteral("小云.txt")) << true;
    // Its second half, DC80, lies in the range that stands for single bytes.
    QTest::newRow("pair ending in DC80") << Utf8(QString::fromUcs4(U"\U00010080")) << true;
    QTest::newRow("gbk") << Gbk(QStringLiteral("小云.txt")) << false;
    QTest::newRow("lone byte FF") << QByteArray("d\xFF") << false;
    QTest::newRow("encoded surrogate") << QByteArray("\xED\xB2\x80") << false;
    QTest::newRow("cut-off sequence") << QByteArray("a\xE5\xB0") << false;
    QTest::newRow("byte after pair") << Utf8(QString::fromUcs4(U"\U00010080")) + '\x80' << false;
}

void TestScan::fileNamesRoundTrip()
{
#ifdef Q_OS_WIN
    QSKIP("Windows names files in UTF-16: no name holds bytes outside its text");
#endif
    QFETCH(QByteArray, bytes);
    QFETCH(bool, isText);
    const QString name = DecodeFileName(bytes);
    QCOMPARE(EncodeFileName(name), bytes);
    QCOMPARE(HasUndecodedBytes(name), !isText);
}

#ifdef Q_OS_UNIX

void TestScan::namesThatAreNotText()
{
    QTemporaryDir dir;
    const QByteArray root = QFile::encodeName(dir.path());
    QVERIFY(::mkdir((root + "/d\xFF").constData(), 0777) == 0);
    for (const QByteArray &name : {QByteArray("/\xB0\xA1.txt"), QByteArray("/d\xFF/in.txt")}) {
        const int fd = ::open((root + name).constData(), O_WRONLY | O_CREAT, 0666);
        QVERIFY(fd >= 0 && ::write(fd, "x", 1) == 1);
        ::close(fd);
    }
    const FileList list = CollectFiles(dir.path());
    QByteArrayList read;
    for (const ScannedFile &file : list.files) {
        QByteArray bytes;
        if (ReadFileBytes(list.path(file), bytes))
            read += EncodeFileName(list.relativePath(file));
    }
    // Qt cannot remove what it cannot name.
    ::unlink((root + "/\xB0\xA1.txt").constData());
    ::unlink((root + "/d\xFF/in.txt").constData());
    ::rmdir((root + "/d\xFF").constData());
    QCOMPARE(read, QByteArrayList({"\xB0\xA1.txt", "d\xFF/in.txt"}));
}

// Each folder is made and removed from the one above it: no path to the deepest ones can be
// given.
void TestScan::pathsLongerThanTheSystemTakes()
{
    QTemporaryDir dir;
    const QByteArray longName(200, 'n');
    const char *name = longName.constData();
    std::vector<int> folders{
        ::open(QFile::encodeName(dir.path()).constData(), O_RDONLY | O_DIRECTORY)};
    for (int depth = 0; depth < 22; ++depth) {
        ::mkdirat(folders.back(), name, 0777);
        folders.push_back(::openat(folders.back(), name, O_RDONLY | O_DIRECTORY));
        ::close(::openat(folders.back(), "f.txt", O_WRONLY | O_CREAT, 0666));
    }
    const FileList list = CollectFiles(dir.path());
    QByteArray bytes;
    QString error;
    const bool deepestRead = ReadFileBytes(list.path(list.files.back()), bytes, &error);
    for (size_t i = folders.size() - 1; i > 0; --i) {
        ::unlinkat(folders[i], "f.txt", 0);
        ::close(folders[i]);
        ::unlinkat(folders[i - 1], name, AT_REMOVEDIR);
    }
    ::close(folders.front());

    QCOMPARE(list.files.size(), size_t(22));
    QVERIFY(list.unlisted.empty());
    QVERIFY(!deepestRead);
    QCOMPARE(error, QString::fromLocal8Bit(std::strerror(ENAMETOOLONG)));
}

// Memory once grew with the square of the depth: every folder kept its whole path twice.
void TestScan::deepChainInLinearMemory()
{
#if defined(__SANITIZE_ADDRESS__)
    QSKIP("AddressSanitizer holds freed memory back, so the peak says nothing of the scan");
#endif
    constexpr int depth = 6000;
    QTemporaryDir dir;
    std::vector<int> folders{
        ::open(QFile::encodeName(dir.path()).constData(), O_RDONLY | O_DIRECTORY)};
    for (int level = 0; level < depth; ++level) {
        ::mkdirat(folders.back(), "d", 0777);
        folders.push_back(::openat(folders.back(), "d", O_RDONLY | O_DIRECTORY));
    }
    ::close(::openat(folders.back(), "f.txt", O_WRONLY | O_CREAT, 0666));
    const auto peakKb = [] {
        struct rusage usage = {};
        ::getrusage(RUSAGE_SELF, &usage);
        return usage.ru_maxrss;
    };
    const long before = peakKb();
    const FileList list = CollectFiles(dir.path());
    const long grownKb = peakKb() - before;
    const QString relative = list.relativePath(list.files.back());
    ::unlinkat(folders.back(), "f.txt", 0);
    for (size_t i = folders.size() - 1; i > 0; --i) {
        ::close(folders[i]);
        ::unlinkat(folders[i - 1], "d", AT_REMOVEDIR);
    }
    ::close(folders.front());

    QCOMPARE(list.folders.size(), size_t(depth + 1));
    QCOMPARE(relative.size(), depth * 2 + 5);
    QVERIFY2(grownKb < 48 * 1024, qPrintable(QStringLiteral("%1 KiB").arg(grownKb)));
}

#endif

QTEST_GUILESS_MAIN(TestScan)
#include "tst_scan.moc"
