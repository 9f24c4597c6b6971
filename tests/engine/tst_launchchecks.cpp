#include "engine/batch/BatchSettings.h"
#include "engine/batch/LaunchChecks.h"
#include "engine/files/Paths.h"
#include "tests/engine/Fixture.h"

#include <QTest>

using namespace fixture;

Q_DECLARE_METATYPE(Operation)

class TestLaunchChecks : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void folderCheckMessage_data();
    void folderCheckMessage();
    void existence_data();
    void existence();
    void sameFolder_data();
    void sameFolder();
    void deleteStaleReports();
    void emptySourceDeletesNothing();
    void splitLines_data();
    void splitLines();
    void joinPath_data();
    void joinPath();
    void initialRecord();

private:
    QTemporaryDir temp;
    QString dir(const char *name) const { return temp.filePath(QString::fromUtf8(name)); }
};

void TestLaunchChecks::initTestCase()
{
    QVERIFY(QDir().mkpath(dir("src")));
    QVERIFY(QDir().mkpath(dir("out/in")));
    QVERIFY(QDir().mkpath(dir("tree/sub")));
    QVERIFY(QDir().mkpath(dir("tree2")));
    QVERIFY(WriteBytes(dir("file.txt"), "x"));
#ifndef Q_OS_WIN
    // QFile::link makes .lnk shortcuts on Windows, no links: no rows through links there.
    QVERIFY(QFile::link(dir("src"), dir("src-link")));
    QVERIFY(QFile::link(dir("tree"), dir("tree-link")));
    // Windows ignores a folder's read-only attribute, the only thing setPermissions sets.
    QVERIFY(QDir().mkpath(dir("ro")));
    QVERIFY(QFile::setPermissions(dir("ro"), QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup |
                                                 QFile::ExeGroup));
#endif
}

void TestLaunchChecks::folderCheckMessage_data()
{
    QTest::addColumn<Operation>("operation");
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("save");
    QTest::addColumn<bool>("saveInSource");
    QTest::addColumn<QString>("text"); // the search text, or the text to insert
    QTest::addColumn<QString>("message");
    const auto R = Operation::ReplaceText;
    const auto P = Operation::ReplacePairs;
    const auto F = Operation::FindText;
    const auto I = Operation::InsertText;
    const QString ok;
    const QString find = QStringLiteral("x");
    QTest::newRow("replace ok") << R << "src/"
                                << "out/" << false << find << ok;
    QTest::newRow("replace both missing") << R << ""
                                          << "none" << false << find << messageSourceMissing();
    QTest::newRow("pairs both missing") << P << ""
                                        << "none" << false << find << messageSaveMissing();
    QTest::newRow("pairs source missing") << P << "none"
                                          << "out" << false << find << messageFolderMissing();
    QTest::newRow("find source missing") << F << ""
                                         << "" << false << find << messageFolderMissing();
    QTest::newRow("find ignores save") << F << "src"
                                       << "src" << false << find << ok;
    QTest::newRow("insert save missing") << I << "src"
                                         << "none" << false << find << messageSaveMissing();
    QTest::newRow("save not needed in place") << I << "src"
                                              << "" << true << find << ok;
    QTest::newRow("file is no folder") << I << "file.txt"
                                       << "out" << false << find << messageFolderMissing();
    QTest::newRow("replace empty find") << R << "src"
                                        << "out" << false << QString() << messageEmptyFind();
    QTest::newRow("empty find before same folder")
        << R << "src"
        << "src" << false << QString() << messageEmptyFind();
    QTest::newRow("replace same folder") << R << "src/"
                                         << "src" << false << find << messageSameFolder();
#ifndef Q_OS_WIN
    QTest::newRow("pairs same folder by link")
        << P << "src"
        << "src-link/" << false << find << messageSameFolder();
#endif
    QTest::newRow("insert same folder") << I << "src"
                                        << "src/" << false << find << messageSameFolder();
    QTest::newRow("same folder allowed in place") << R << "src"
                                                  << "src" << true << find << ok;
    QTest::newRow("insert empty text") << I << "src"
                                       << "out" << false << QString() << messageEmptyInsert();
    QTest::newRow("insert empty text in place") << I << "src"
                                                << "" << true << QString() << messageEmptyInsert();
    QTest::newRow("save folder missing before empty insert")
        << I << "src"
        << "none" << false << QString() << messageSaveMissing();
    QTest::newRow("empty insert before same folder")
        << I << "src"
        << "src" << false << QString() << messageEmptyInsert();
    QTest::newRow("replace save inside source")
        << R << "tree/"
        << "tree/sub" << false << find << messageSaveInsideSource();
#ifndef Q_OS_WIN
    QTest::newRow("pairs save inside source by link")
        << P << "tree"
        << "tree-link/sub/" << false << find << messageSaveInsideSource();
    QTest::newRow("insert save inside source given by link")
        << I << "tree-link"
        << "tree/sub" << false << find << messageSaveInsideSource();
#endif
    QTest::newRow("source inside save is fine") << I << "out/in"
                                                << "out" << false << find << ok;
    QTest::newRow("sibling with the source's name as prefix") << R << "tree"
                                                              << "tree2" << false << find << ok;
    QTest::newRow("inside allowed in place") << R << "tree"
                                             << "tree/sub" << true << find << ok;
#ifndef Q_OS_WIN
    QTest::newRow("read-only source in place") << R << "ro"
                                               << "" << true << find << messageSourceReadOnly();
    QTest::newRow("read-only save folder") << I << "src"
                                           << "ro" << false << find << messageSaveReadOnly();
    QTest::newRow("read-only source into a save folder") << P << "ro"
                                                         << "out" << false << find << ok;
    QTest::newRow("find in a read-only source") << F << "ro"
                                                << "" << false << find << ok;
#endif
}

void TestLaunchChecks::folderCheckMessage()
{
    QFETCH(Operation, operation);
    QFETCH(QString, source);
    QFETCH(QString, save);
    QFETCH(bool, saveInSource);
    QFETCH(QString, text);
    QFETCH(QString, message);
    BatchSettings settings;
    settings.sourceDir = source.isEmpty() ? source : temp.filePath(source);
    settings.saveDir = save.isEmpty() ? save : temp.filePath(save);
    settings.saveInSource = saveInSource;
    settings.findText = text;
    settings.insertText = text;
    QCOMPARE(FolderCheckMessage(operation, settings), message);
}

void TestLaunchChecks::existence_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("folder");
    QTest::addColumn<bool>("file");
    QTest::newRow("empty") << QString() << false << false;
    QTest::newRow("folder") << dir("src") << true << true;
    QTest::newRow("folder with slash") << dir("src") + QLatin1Char('/') << true << true;
#ifdef Q_OS_WIN
    // A backslash separates folders there, as "/" does.
    QTest::newRow("folder with backslash") << dir("src") + QLatin1Char('\\') << true << true;
#else
    QTest::newRow("folder with backslash") << dir("src") + QLatin1Char('\\') << true << false;
#endif
    QTest::newRow("folder with two slashes") << dir("src") + QStringLiteral("//") << true << true;
    QTest::newRow("file") << dir("file.txt") << false << true;
    QTest::newRow("missing") << dir("none") << false << false;
    QTest::newRow("root") << QStringLiteral("/") << true << true;
}

void TestLaunchChecks::existence()
{
    QFETCH(QString, path);
    QFETCH(bool, folder);
    QFETCH(bool, file);
    QCOMPARE(FolderExists(path), folder);
    QCOMPARE(FileExists(path), file);
}

void TestLaunchChecks::sameFolder_data()
{
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<bool>("same");
    QTest::newRow("trailing slash") << dir("src/") << dir("src") << true;
    QTest::newRow("dot dot") << dir("out/../src") << dir("src") << true;
#ifdef Q_OS_WIN
    // Folder names there are the same whatever their letter case.
    QTest::newRow("letter case") << dir("SRC/") << dir("src") << true;
#else
    QTest::newRow("link") << dir("src-link") << dir("src") << true;
    QTest::newRow("not made yet, below a link") << dir("src-link/new/") << dir("src/new") << true;
#endif
    QTest::newRow("different") << dir("src") << dir("out") << false;
    QTest::newRow("missing alike") << dir("gone/") << dir("gone") << true;
    QTest::newRow("empty") << QString() << QString() << false;
}

void TestLaunchChecks::sameFolder()
{
    QFETCH(QString, a);
    QFETCH(QString, b);
    QFETCH(bool, same);
    QCOMPARE(SameFolder(a, b), same);
}

void TestLaunchChecks::deleteStaleReports()
{
    BatchSettings settings;
    settings.sourceDir = dir("src") + QLatin1Char('/');
    SetReportPaths(settings);
    QVERIFY(WriteBytes(settings.reportUnreadablePath, "old"));
    QVERIFY(WriteBytes(settings.reportMatchedPath, "old"));
    QVERIFY(WriteBytes(dir("src/keep.txt"), "x"));
    DeleteStaleReports(settings);
    QCOMPARE(TreeListing(dir("src")), Names({"keep.txt"}));
}

void TestLaunchChecks::emptySourceDeletesNothing()
{
    QVERIFY(QDir().mkpath(dir("cwd")));
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir("cwd")));
    BatchSettings settings;
    SetReportPaths(settings);
    QVERIFY(WriteBytes(settings.reportMatchedPath, "someone else's"));
    DeleteStaleReports(settings);
    QVERIFY(QDir::setCurrent(previous));
    QCOMPARE(TreeListing(dir("cwd")), QStringList{reportMatchedName});
}

void TestLaunchChecks::splitLines_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("empty box") << QString() << QStringList{QString()};
    QTest::newRow("trailing break") << QStringLiteral("a\n") << Names({"a", ""});
    QTest::newRow("blank kept") << QStringLiteral(" a \n\nb") << Names({" a ", "", "b"});
}

void TestLaunchChecks::splitLines()
{
    QFETCH(QString, text);
    QFETCH(QStringList, lines);
    QCOMPARE(SplitLines(text), lines);
}

void TestLaunchChecks::joinPath_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("joined");
    QTest::newRow("plain") << "D:/texts"
                           << "a.txt"
                           << "D:/texts/a.txt";
    QTest::newRow("folder slash") << "D:/texts/"
                                  << "a.txt"
                                  << "D:/texts/a.txt";
    QTest::newRow("both sides") << "/out//"
                                << "/sub/a.txt"
                                << "/out/sub/a.txt";
    QTest::newRow("root") << "/"
                          << "a.txt"
                          << "/a.txt";
    QTest::newRow("drive root") << "D:/"
                                << "a.txt"
                                << "D:/a.txt";
    QTest::newRow("no folder") << ""
                               << "a.txt"
                               << "a.txt";
}

void TestLaunchChecks::joinPath()
{
    QFETCH(QString, folder);
    QFETCH(QString, name);
    QFETCH(QString, joined);
    QCOMPARE(JoinPath(folder, name), joined);
}

void TestLaunchChecks::initialRecord()
{
    QVERIFY(batchSettings.insertAtFront);
    QVERIFY(!batchSettings.detectUtf16 && !batchSettings.withBom && !batchSettings.saveInSource);
    BatchSettings settings;
    settings.sourceDir = QStringLiteral("D:/texts/");
    SetReportPaths(settings);
    QCOMPARE(settings.reportMatchedPath,
             QStringLiteral("D:/texts/包含内容并成功修改的文件目录.txt"));
    QCOMPARE(settings.reportUnreadablePath,
             QStringLiteral("D:/texts/无法打开修改的文件目录(文件格式有误).txt"));
    QCOMPARE(settings.reportUnmatchedPath,
             QStringLiteral("D:/texts/不包含内容无修改的文件目录.txt"));
}

QTEST_GUILESS_MAIN(TestLaunchChecks)
#include "tst_launchchecks.moc"
