#include "engine/scan/Scan.h"
#include "tests/engine/Fixture.h"

#include <QTest>

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
    void missingFolder();
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
    QTemporaryDir dir;
    const QString root = dir.filePath(QStringLiteral("root"));
    QVERIFY(WriteBytes(dir.filePath(QStringLiteral("elsewhere/far.txt")), "x"));
    QVERIFY(WriteBytes(root + QStringLiteral("/real.txt"), "x"));
    QVERIFY(
        QFile::link(dir.filePath(QStringLiteral("elsewhere")), root + QStringLiteral("/linked")));
    QVERIFY(QFile::link(root + QStringLiteral("/real.txt"), root + QStringLiteral("/alias.txt")));
    QVERIFY(QFile::link(root + QStringLiteral("/gone.txt"), root + QStringLiteral("/broken.txt")));
    const FileList list = CollectFiles(root);
    QCOMPARE(Relative(list), Names({"real.txt", "linked/far.txt"}));
    QCOMPARE(list.path(list.files[1]), root + QStringLiteral("/linked/far.txt"));
}

void TestScan::linkCycleEnds()
{
    QTemporaryDir dir;
    const QString root = dir.path();
    QVERIFY(WriteBytes(root + QStringLiteral("/a/in-a.txt"), "x"));
    QVERIFY(WriteBytes(root + QStringLiteral("/b/in-b.txt"), "x"));
    QVERIFY(QFile::link(root, root + QStringLiteral("/a/up"))); // back to the top
    QVERIFY(QFile::link(root + QStringLiteral("/a"), root + QStringLiteral("/b/to-a"))); // twice
    QCOMPARE(Relative(CollectFiles(root)), Names({"a/in-a.txt", "b/in-b.txt"}));
}

void TestScan::missingFolder()
{
    QTemporaryDir dir;
    QVERIFY(CollectFiles(dir.filePath(QStringLiteral("nothing"))).files.empty());
    QVERIFY(CollectFiles(QString()).files.empty());
}

QTEST_GUILESS_MAIN(TestScan)
#include "tst_scan.moc"
