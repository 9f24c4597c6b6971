#include "engine/files/FileTree.h"
#include "tests/engine/Fixture.h"

#include <QDirIterator>
#include <QMap>
#include <QTest>

#include <functional>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace fixture;

namespace {

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

using Attack = std::function<bool(FileTree &tree, const QString &path, QString *error)>;

} // namespace

Q_DECLARE_METATYPE(Attack)

class TestFileTree : public QObject
{
    Q_OBJECT

private slots:
    void staysInside_data();
    void staysInside();
};

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
        return tree.replaceInPlace(path, "planted", asRead, nullptr, error) == FileIoResult::Done;
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

QTEST_GUILESS_MAIN(TestFileTree)
#include "tst_filetree.moc"
