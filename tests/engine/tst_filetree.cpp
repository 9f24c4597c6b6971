#include "engine/batch/BatchSettings.h"
#include "engine/batch/Failure.h"
#include "engine/files/FileNames.h"
#include "engine/files/FileTree.h"
#include "engine/run/RunBatch.h"
#include "tests/engine/Fixture.h"
#include "tests/engine/RunRecorder.h"

#include <QDirIterator>
#include <QMap>
#include <QTest>
#include <QTextCodec>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <functional>
#include <optional>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#endif

using namespace fixture;

namespace {

// Every attack below plants links or POSIX modes: the helpers serve POSIX only.
#ifdef Q_OS_UNIX
// Bytes and permission bits of everything below a folder, links as their targets' names.
QMap<QString, QString> Snapshot(const QString &root)
{
    QMap<QString, QString> state;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo info(path);
        QString value = QString::number(int(info.permissions()), 16);
        if (info.isSymLink())
            value += QStringLiteral(" -> ") + info.symLinkTarget();
        else if (info.isFile())
            value += QLatin1Char(' ') + QString::fromLatin1(ReadBytes(path).toHex());
        state.insert(QDir(root).relativeFilePath(path), value);
    }
    return state;
}
#endif

using Attack = std::function<bool(FileTree &tree, const QString &path, QString *error)>;

} // namespace

Q_DECLARE_METATYPE(Attack)

class TestFileTree : public QObject
{
    Q_OBJECT

private slots:
    void relativePathsChecked_data();
    void relativePathsChecked();
    void staysInside_data();
    void staysInside();
    void reportLinkRefused_data();
    void reportLinkRefused();
    void inPlaceKeepsWhatTheFileWas_data();
    void inPlaceKeepsWhatTheFileWas();
    void sourceFolderNameNotText();
    void heldFolderIsTheFilesOwn_data();
    void heldFolderIsTheFilesOwn();
    void heldFoldersServeCallsBetweenFolders();
};

#ifdef Q_OS_UNIX
namespace {

BatchSettings InPlace(const QString &source)
{
    BatchSettings settings;
    settings.sourceDir = source;
    settings.saveInSource = true;
    settings.findText = QStringLiteral("hit");
    settings.replaceText = QStringLiteral("X");
    return settings;
}

} // namespace
#endif

// What a tar or zip can carry into a tree: paths that climb out, and links in the middle or
// at the end of a path pointing outside. Each call either fails with a reason or acts on the
// link itself; nothing outside the tree changes.
void TestFileTree::staysInside_data()
{
#ifndef Q_OS_UNIX
    QSKIP("the attacks plant symbolic links, which Windows grants only to administrators");
#else
    QTest::addColumn<Attack>("attack");
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("succeeds");

    const Attack read = [](FileTree &tree, const QString &path, QString *error) {
        QByteArray bytes;
        return tree.readFile(path, bytes, nullptr, error) == FileIoResult::Done;
    };
    const Attack list = [](FileTree &tree, const QString &path, QString *error) {
        error->clear();
        tree.list(path, error);
        return error->isEmpty();
    };
    const Attack writeNew = [](FileTree &tree, const QString &path, QString *error) {
        return tree.writeNewFile(path, "planted", FileTree::Access::Shared, error);
    };
    const Attack replace = [](FileTree &tree, const QString &path, QString *error) {
        return tree.replaceFile(path, "planted", error);
    };
    const Attack inPlace = [](FileTree &tree, const QString &path, QString *error) {
        FileIdentity asRead;
        QByteArray bytes;
        tree.readFile(QStringLiteral("inside.txt"), bytes, &asRead, nullptr);
        const FileIoResult result = tree.replaceInPlace(path, "planted", asRead, nullptr, error);
        if (result == FileIoResult::Changed)
            *error = QStringLiteral("changed"); // a kind of its own, with no system words
        return result == FileIoResult::Done;
    };
    const Attack makeFolder = [](FileTree &tree, const QString &path, QString *error) {
        return tree.makeFolder(path + QStringLiteral("/new"), FileTree::Access::Shared, error);
    };
    const Attack removeFile = [](FileTree &tree, const QString &path, QString *error) {
        return tree.removeFile(path, error);
    };
    const Attack removeTree = [](FileTree &tree, const QString &path, QString *error) {
        return tree.removeTree(path, error);
    };
    const Attack setStamp = [](FileTree &tree, const QString &path, QString *error) {
        FileStamp stamp;
        stamp.modifiedNs = 0;
        stamp.mode = 0777;
        return tree.setStamp(path, stamp, error);
    };
    const Attack copyOut = [](FileTree &tree, const QString &path, QString *error) {
        return tree.copyFile(QStringLiteral("inside.txt"), path, error);
    };
    const Attack copyIn = [](FileTree &tree, const QString &path, QString *error) {
        return tree.copyFile(path, QStringLiteral("copy.txt"), error);
    };
    const Attack linkOut = [](FileTree &tree, const QString &path, QString *error) {
        return tree.linkFile(QStringLiteral("inside.txt"), path, error);
    };
    const Attack linkIn = [](FileTree &tree, const QString &path, QString *error) {
        return tree.linkFile(path, QStringLiteral("hard.txt"), error);
    };
    const Attack renameOnto = [](FileTree &tree, const QString &path, QString *error) {
        return tree.rename(QStringLiteral("inside.txt"), path, error);
    };

    const struct
    {
        const char *name;
        Attack attack;
    } attacks[] = {{"read", read},
                   {"list", list},
                   {"writeNew", writeNew},
                   {"replace", replace},
                   {"inPlace", inPlace},
                   {"makeFolder", makeFolder},
                   {"removeFile", removeFile},
                   {"removeTree", removeTree},
                   {"setStamp", setStamp},
                   {"copyOut", copyOut},
                   {"copyIn", copyIn},
                   {"linkOut", linkOut},
                   {"linkIn", linkIn},
                   {"renameOnto", renameOnto}};
    // Paths that leave the tree, and those which end at a link (acted on as the link).
    const char *climbing[] = {"../outside/secret.txt",
                              "sub/../../outside/secret.txt",
                              "/tmp/parafold-absolute",
                              "linkdir/secret.txt",
                              "sub/./x",
                              "sub//x"};
    for (const auto &attack : attacks) {
        for (const char *path : climbing)
            QTest::addRow("%s %s", attack.name, path)
                << attack.attack << QString::fromUtf8(path) << false;
        const bool onLink = std::string(attack.name) == "removeFile" ||
                            std::string(attack.name) == "removeTree" ||
                            std::string(attack.name) == "renameOnto";
        for (const char *path : {"linkfile", "dangling", "linkdir"}) {
            // list, makeFolder below a link and the other calls need a file or folder there
            QTest::addRow("%s at %s", attack.name, path)
                << attack.attack << QString::fromUtf8(path) << onLink;
        }
    }
    // A folder holding a link to an outside folder goes, the outside folder stays.
    QTest::addRow("removeTree over a folder link") << removeTree << QStringLiteral("sub") << true;
#endif
}

void TestFileTree::relativePathsChecked_data()
{
    QTest::addColumn<QString>("relative");
    QTest::addColumn<bool>("valid");
    QTest::newRow("the top") << QString() << true;
    QTest::newRow("nested") << QStringLiteral("卷0/第0部/篇1.txt") << true;
    QTest::newRow("climbing") << QStringLiteral("卷0/../../x.txt") << false;
    QTest::newRow("absolute") << QStringLiteral("/tmp/x.txt") << false;
    QTest::newRow("empty name") << QStringLiteral("a//b") << false;
    QTest::newRow("dot") << QStringLiteral("a/./b") << false;
    QTest::newRow("trailing slash") << QStringLiteral("a/") << false;
    QTest::newRow("climbing last") << QStringLiteral("a/..") << false;
    QTest::newRow("dots in names") << QStringLiteral("..a/.b/c..") << true;
#ifdef Q_OS_WIN
    QTest::newRow("climbing by backslash") << QStringLiteral("a\\..\\..\\x.txt") << false;
    QTest::newRow("drive") << QStringLiteral("C:x.txt") << false;
#endif
}

// The lexical check every path below the top passes before the system is asked.
void TestFileTree::relativePathsChecked()
{
    QFETCH(QString, relative);
    QFETCH(bool, valid);
    QCOMPARE(FileTree::IsValidRelative(relative), valid);
}

void TestFileTree::staysInside()
{
#ifdef Q_OS_UNIX
    QFETCH(Attack, attack);
    QFETCH(QString, path);
    QFETCH(bool, succeeds);

    QTemporaryDir dir;
    const QString outside = dir.filePath(QStringLiteral("outside"));
    const QString top = dir.filePath(QStringLiteral("tree"));
    QVERIFY(WriteBytes(outside + QStringLiteral("/secret.txt"), "secret"));
    QVERIFY(WriteBytes(outside + QStringLiteral("/deeper/keep.txt"), "keep"));
    QVERIFY(QFile::setPermissions(outside + QStringLiteral("/secret.txt"),
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
    QVERIFY(WriteBytes(top + QStringLiteral("/inside.txt"), "inside"));
    QVERIFY(QDir().mkpath(top + QStringLiteral("/sub")));
    QVERIFY(QFile::link(outside, top + QStringLiteral("/linkdir")));
    QVERIFY(QFile::link(outside, top + QStringLiteral("/sub/linkdir")));
    QVERIFY(
        QFile::link(outside + QStringLiteral("/secret.txt"), top + QStringLiteral("/linkfile")));
    QVERIFY(QFile::link(outside + QStringLiteral("/gone.txt"), top + QStringLiteral("/dangling")));
    const QMap<QString, QString> before = Snapshot(outside);

    FileTree tree(top);
    QVERIFY2(tree.isOpen(), qPrintable(tree.error()));
    QString error;
    const bool done = attack(tree, path, &error);
    QCOMPARE(done, succeeds);
    if (!done)
        QVERIFY(!error.isEmpty());
    QCOMPARE(Snapshot(outside), before);
    QVERIFY(!QFileInfo::exists(QStringLiteral("/tmp/parafold-absolute")));
#endif
}

// A report's name in the source folder that is a link to a file outside, planted before the
// run or while it runs: the report fails with the system's words, the outside file stays.
void TestFileTree::reportLinkRefused_data()
{
    QTest::addColumn<bool>("midRun");
    QTest::newRow("planted before the run") << false;
    QTest::newRow("planted during the run") << true;
}

void TestFileTree::reportLinkRefused()
{
#ifndef Q_OS_UNIX
    QSKIP("planting a symbolic link needs administrator rights on Windows");
#else
    QFETCH(bool, midRun);
    QTemporaryDir dir;
    const QString source = dir.filePath(QStringLiteral("src"));
    const QString outside = dir.filePath(QStringLiteral("outside.txt"));
    QVERIFY(WriteBytes(source + QStringLiteral("/a.txt"), "hit"));
    QVERIFY(WriteBytes(outside, "precious"));
    QVERIFY(::chmod(QFile::encodeName(outside).constData(), 0640) == 0);
    BatchSettings settings = InPlace(source);
    settings.journal = false;
    SetReportPaths(settings);
    const QString report = settings.reportMatchedPath;
    const auto plant = [&] { QFile::link(outside, report); };
    if (!midRun)
        plant();
    RunRecorder recorder;
    RunObserver observer = recorder.observer();
    if (midRun)
        observer.fileHandled = [&](qint64) { plant(); };
    const RunResult result = RunBatch(Operation::ReplaceText, settings, observer);
    QCOMPARE(ReadBytes(source + QStringLiteral("/a.txt")), QByteArray("X"));
    QVERIFY(QFileInfo(report).isSymLink());
    QCOMPARE(ReadBytes(outside), QByteArray("precious"));
    struct stat info = {};
    QVERIFY(::stat(QFile::encodeName(outside).constData(), &info) == 0);
    QCOMPARE(int(info.st_mode & 07777), 0640);
    QCOMPARE(result.unwrittenReports.size(), size_t(1));
    QCOMPARE(result.unwrittenReports.front().second, QString::fromLocal8Bit(std::strerror(ELOOP)));
#endif
}

// An in-place rewrite keeps the file's mode, owner, extended attributes, and leaves a file of
// several hard links whole.
void TestFileTree::inPlaceKeepsWhatTheFileWas_data()
{
    QTest::addColumn<QString>("standing");
    QTest::addColumn<QString>("reason"); // empty: edited
    QTest::newRow("mode 0604") << QStringLiteral("mode") << QString();
    QTest::newRow("extended attribute") << QStringLiteral("xattr") << QString();
    QTest::newRow("another user's file") << QStringLiteral("owner") << QString();
    QTest::newRow("two hard links") << QStringLiteral("hardlink") << reasonHardLinked();
}

void TestFileTree::inPlaceKeepsWhatTheFileWas()
{
#ifndef Q_OS_UNIX
    QSKIP("POSIX owners, modes and extended attributes; Windows keeps its own by ReplaceFileW");
#else
    QFETCH(QString, standing);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    const QString source = dir.filePath(QStringLiteral("src"));
    const QString file = source + QStringLiteral("/a.txt");
    const QByteArray native = QFile::encodeName(file);
    QVERIFY(WriteBytes(file, "hit"));
    QVERIFY(::chmod(native.constData(), 0604) == 0);
    if (standing == QLatin1String("xattr") &&
        ::setxattr(native.constData(), "user.x", "kept", 4, 0) != 0)
        QSKIP("the file system of the temporary folder has no user attributes");
    if (standing == QLatin1String("owner") && ::geteuid() != 0)
        QSKIP("giving a file to another user needs root");
    if (standing == QLatin1String("owner"))
        QVERIFY(::chown(native.constData(), 1234, 1234) == 0);
    if (standing == QLatin1String("hardlink"))
        QVERIFY(::link(native.constData(),
                       QFile::encodeName(dir.filePath(QStringLiteral("other"))).constData()) == 0);
    RunRecorder recorder;
    RunBatch(Operation::ReplaceText, InPlace(source), recorder.observer());
    QCOMPARE(recorder.reasons, reason.isEmpty() ? QStringList() : QStringList{reason});
    QCOMPARE(ReadBytes(file), QByteArray(reason.isEmpty() ? "X" : "hit"));
    struct stat info = {};
    QVERIFY(::stat(native.constData(), &info) == 0);
    QCOMPARE(int(info.st_mode & 07777), 0604);
    if (standing == QLatin1String("owner")) {
        QCOMPARE(int(info.st_uid), 1234);
        QCOMPARE(int(info.st_gid), 1234);
    }
    if (standing == QLatin1String("xattr")) {
        char value[16] = {};
        QCOMPARE(int(::getxattr(native.constData(), "user.x", value, sizeof value)), 4);
        QCOMPARE(QByteArray(value), QByteArray("kept"));
    }
#endif
}

// A source folder whose name holds bytes that are not text in the locale (GBK from a zip)
// is edited like any other.
void TestFileTree::sourceFolderNameNotText()
{
#ifndef Q_OS_UNIX
    QSKIP("Windows names are UTF-16, every one of them text");
#else
    if (QTextCodec::codecForLocale()->mibEnum() != 106)
        QSKIP("needs a UTF-8 locale");
    QTemporaryDir dir;
    const QString source = dir.filePath(DecodeFileName(QByteArray("src\xD6\xD0")));
    QVERIFY(HasUndecodedBytes(source));
    const QByteArray native = EncodeFileName(source);
    QVERIFY(::mkdir(native.constData(), 0755) == 0);
    for (const char *name : {"/a.txt", "/b.txt"}) {
        FILE *file = ::fopen((native + name).constData(), "wb");
        QVERIFY(file);
        std::fputs("hit", file);
        std::fclose(file);
    }
    // Qt's own calls cannot remove such a folder at the end.
    struct Cleanup
    {
        QByteArray folder;
        ~Cleanup()
        {
            for (const char *name : {"/a.txt", "/b.txt"})
                ::unlink((folder + name).constData());
            ::rmdir(folder.constData());
        }
    } cleanup{native};
    // The journal keeps its own folder there; it is another room's concern.
    BatchSettings settings = InPlace(source);
    settings.journal = false;
    RunRecorder recorder;
    RunOptions options;
    options.writeReports = false;
    const RunResult result =
        RunBatch(Operation::ReplaceText, settings, recorder.observer(), options);
    const QString described = recorder.described.join(QLatin1Char('\n'));
    QVERIFY2(recorder.described.isEmpty(), qPrintable(described));
    QCOMPARE(result.changed, 2);
    FILE *file = ::fopen((native + "/a.txt").constData(), "rb");
    QVERIFY(file);
    char bytes[8] = {};
    std::fread(bytes, 1, sizeof bytes - 1, file);
    std::fclose(file);
    QCOMPARE(QByteArray(bytes), QByteArray("X"));
#endif
}

// Files read while a folder is held: the next file of the same folder is opened in it, and
// only a file of that folder of that tree is; a link put where the held folder was leads
// nowhere outside.
void TestFileTree::heldFolderIsTheFilesOwn_data()
{
    QTest::addColumn<QString>("first"); // "tree:path"
    QTest::addColumn<QString>("second");
    QTest::addColumn<bool>("swapped"); // the folder moved and a link to outside put there
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("the same folder")
        << QStringLiteral("one:sub/a.txt") << QStringLiteral("one:sub/b.txt") << false
        << QByteArray("one sub/b.txt");
    QTest::newRow("a longer name")
        << QStringLiteral("one:sub/a.txt") << QStringLiteral("one:subway/a.txt") << false
        << QByteArray("one subway/a.txt");
    QTest::newRow("a shorter name")
        << QStringLiteral("one:subway/a.txt") << QStringLiteral("one:sub/a.txt") << false
        << QByteArray("one sub/a.txt");
    QTest::newRow("deeper") << QStringLiteral("one:sub/a.txt")
                            << QStringLiteral("one:sub/deeper/a.txt") << false
                            << QByteArray("one sub/deeper/a.txt");
    QTest::newRow("another tree") << QStringLiteral("one:sub/a.txt")
                                  << QStringLiteral("two:sub/a.txt") << false
                                  << QByteArray("two sub/a.txt");
    QTest::newRow("another tree made where one was")
        << QStringLiteral("one:sub/a.txt") << QStringLiteral("remade:sub/a.txt") << false
        << QByteArray("two sub/a.txt");
#ifdef Q_OS_UNIX
    QTest::newRow("swapped for a link")
        << QStringLiteral("one:sub/a.txt") << QStringLiteral("one:sub/b.txt") << true
        << QByteArray("one sub/b.txt");
#endif
}

void TestFileTree::heldFolderIsTheFilesOwn()
{
    QFETCH(QString, first);
    QFETCH(QString, second);
    QFETCH(bool, swapped);
    QFETCH(QByteArray, expected);
    QTemporaryDir dir;
    const QStringList names = {QStringLiteral("sub/a.txt"), QStringLiteral("sub/b.txt"),
                               QStringLiteral("subway/a.txt"), QStringLiteral("sub/deeper/a.txt")};
    for (const QString &tree : {QStringLiteral("one"), QStringLiteral("two")}) {
        for (const QString &name : names)
            QVERIFY(WriteBytes(dir.filePath(tree + u'/' + name), (tree + u' ' + name).toUtf8()));
    }
    QVERIFY(WriteBytes(dir.filePath(QStringLiteral("outside/b.txt")), "outside"));
    std::optional<FileTree> one(std::in_place, dir.filePath(QStringLiteral("one")));
    const FileTree two(dir.filePath(QStringLiteral("two")));
    const auto read = [&](const QString &at, QByteArray &bytes) {
        const QStringList parts = at.split(u':');
        if (parts[0] == QLatin1String("remade")) { // "two" made where "one" was
            one.reset();
            one.emplace(dir.filePath(QStringLiteral("two")));
        }
        QString error;
        return (parts[0] == QLatin1String("two") ? two : *one)
                   .readFile(parts[1], bytes, nullptr, &error) == FileIoResult::Done;
    };
    const HeldFolders held;
    QByteArray bytes;
    QVERIFY(read(first, bytes));
    if (swapped) {
        QVERIFY(QDir(dir.path()).rename(QStringLiteral("one/sub"), QStringLiteral("one/moved")));
        QVERIFY(QFile::link(dir.filePath(QStringLiteral("outside")),
                            dir.filePath(QStringLiteral("one/sub"))));
    }
    QVERIFY(read(second, bytes));
    QCOMPARE(bytes, expected);
}

// Calls between two folders, and calls in a third between them, while folders are held: each
// name is taken in its own folder, as the journal keeps originals file after file.
void TestFileTree::heldFoldersServeCallsBetweenFolders()
{
    QTemporaryDir dir;
    const QStringList folders = {QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c"),
                                 QStringLiteral("d")};
    for (const QString &folder : folders) {
        for (int i = 0; i < 3; ++i) {
            const QString name = folder + QStringLiteral("/%1.txt").arg(i);
            QVERIFY(WriteBytes(dir.filePath(QStringLiteral("tree/") + name), name.toUtf8()));
        }
    }
    QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("tree/kept"))));
    FileTree tree(dir.filePath(QStringLiteral("tree")));
    const HeldFolders held;
    int kept = 0;
    for (const QString &folder : folders) {
        for (int i = 0; i < 3; ++i) {
            const QString name = folder + QStringLiteral("/%1.txt").arg(i);
            FileStamp stamp;
            QVERIFY(tree.readStamp(name, stamp));
            QCOMPARE(stamp.size, qint64(name.size()));
            QString error;
            const QString to = QStringLiteral("kept/%1").arg(++kept);
            QVERIFY2(tree.linkFile(name, to, &error) || tree.copyFile(name, to, &error),
                     qPrintable(error));
            QVERIFY2(tree.rename(name, name + QStringLiteral(".old"), &error), qPrintable(error));
        }
    }
    kept = 0;
    for (const QString &folder : folders) {
        for (int i = 0; i < 3; ++i) {
            const QString name = folder + QStringLiteral("/%1.txt").arg(i);
            QCOMPARE(ReadBytes(dir.filePath(QStringLiteral("tree/kept/%1").arg(++kept))),
                     name.toUtf8());
            QCOMPARE(
                ReadBytes(dir.filePath(QStringLiteral("tree/") + name + QStringLiteral(".old"))),
                name.toUtf8());
        }
    }
}

QTEST_GUILESS_MAIN(TestFileTree)
#include "tst_filetree.moc"
