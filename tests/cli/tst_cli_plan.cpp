// Review before writing: a diff that patch applies to the run's own result, the grep-style
// lines of find --context, and a plan that refuses a file changed after it was made.

#include "engine/codec/TextCodec.h"
#include "tests/cli/CliFixture.h"

#include <QDir>
#include <QDirIterator>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

#ifdef Q_OS_UNIX
// Every .txt file's text below root, as UTF-8 with line feeds.
QMap<QString, QByteArray> TextsAsUtf8(const QString &root)
{
    QMap<QString, QByteArray> texts;
    QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (!path.endsWith(QLatin1String(".txt"), Qt::CaseInsensitive) ||
            path.contains(QLatin1String(".parafold-journal")))
            continue;
        const std::optional<DecodedText> decoded = DecodeTextFile(path, true);
        texts.insert(QDir(root).relativeFilePath(path),
                     decoded ? decoded->text.toUtf8() : QByteArray("<unreadable>"));
    }
    return texts;
}

void WriteTexts(const QString &root, const QMap<QString, QByteArray> &texts)
{
    for (auto it = texts.begin(); it != texts.end(); ++it)
        WriteBytes(root, it.key(), it.value());
}
#endif

} // namespace

class TestCliPlan : public QObject
{
    Q_OBJECT

private slots:
    void diffPatchesToTheRunsResult_data();
    void diffPatchesToTheRunsResult();
    void findContext_data();
    void findContext();
    void applyRefusesFileChangedSince();
};

void TestCliPlan::diffPatchesToTheRunsResult_data()
{
    QTest::addColumn<QStringList>("operation");
    QTest::newRow("replace") << QStringList{QStringLiteral("replace"), QStringLiteral("--find"),
                                            QString::fromUtf8("小云"), QStringLiteral("--replace"),
                                            QString::fromUtf8("小雨\n新行")};
    QTest::newRow("insert") << QStringList{QStringLiteral("insert"), QStringLiteral("--text"),
                                           QString::fromUtf8("开头\n")};
    QTest::newRow("insert behind")
        << QStringList{QStringLiteral("insert"), QStringLiteral("--text"),
                       QString::fromUtf8("结尾"), QStringLiteral("--behind")};
}

void TestCliPlan::diffPatchesToTheRunsResult()
{
#ifndef Q_OS_UNIX
    QSKIP("patch is a POSIX tool");
#else
    QFETCH(QStringList, operation);
    if (QStandardPaths::findExecutable(QStringLiteral("patch")).isEmpty())
        QSKIP("patch is not installed");
    QTemporaryDir run;
    QTemporaryDir reviewed;
    QTemporaryDir patched;
    MakeSampleTree(run.path());
    MakeSampleTree(reviewed.path());
    const QMap<QString, QByteArray> before = Snapshot(reviewed.path(), false);

    const CliResult diff =
        RunCli(operation + QStringList{QStringLiteral("--in-place"), QStringLiteral("--diff"),
                                       reviewed.path()});
    QCOMPARE(diff.exitCode, 0);
    QCOMPARE(Snapshot(reviewed.path(), false), before);
    QVERIFY(diff.out.startsWith("--- "));
    QCOMPARE(RunCli(operation + QStringList{QStringLiteral("--in-place"), run.path()}).exitCode, 0);

    WriteTexts(patched.path(), TextsAsUtf8(reviewed.path()));
    QProcess patch;
    patch.setWorkingDirectory(patched.path());
    patch.start(QStringLiteral("patch"), {QStringLiteral("-p0"), QStringLiteral("-s")});
    patch.write(diff.out);
    patch.closeWriteChannel();
    QVERIFY(patch.waitForFinished());
    QVERIFY2(patch.exitCode() == 0, patch.readAll().constData());
    QCOMPARE(TextsAsUtf8(patched.path()), TextsAsUtf8(run.path()));
#endif
}

void TestCliPlan::findContext_data()
{
    QTest::addColumn<QString>("context");
    QTest::addColumn<QString>("lines"); // "PATH" stands for the file
    QTest::newRow("none") << "0"
                          << "PATH:2:b cat\n--\nPATH:6:cat f\n";
    QTest::newRow("one, groups apart")
        << "1"
        << "PATH-1-a\nPATH:2:b cat\nPATH-3-c\n--\nPATH-5-e\nPATH:6:cat f\n";
    QTest::newRow("two, groups joined")
        << "2"
        << "PATH-1-a\nPATH:2:b cat\nPATH-3-c\nPATH-4-d\nPATH-5-e\nPATH:6:cat f\n";
}

void TestCliPlan::findContext()
{
    QFETCH(QString, context);
    QFETCH(QString, lines);
    QTemporaryDir tree;
    WriteBytes(tree.path(), QStringLiteral("f.txt"),
               Gbk(QStringLiteral("a\r\nb cat\r\nc\r\nd\r\ne\r\ncat f")));
    const CliResult found =
        RunCli({QStringLiteral("find"), QStringLiteral("--terms"), QStringLiteral("cat"),
                QStringLiteral("--context"), context, tree.path()});
    QCOMPARE(found.exitCode, 0);
    QCOMPARE(CliText(found.out),
             QString(lines).replace(QLatin1String("PATH"), QDir::toNativeSeparators(tree.filePath(
                                                               QStringLiteral("f.txt")))));
}

void TestCliPlan::applyRefusesFileChangedSince()
{
    QTemporaryDir tree;
    MakeSampleTree(tree.path());
    const QString plan = tree.filePath(QStringLiteral("plan.jsonl"));
    const QStringList replace{QStringLiteral("replace"), QStringLiteral("--find"),
                              QString::fromUtf8("小云"), QStringLiteral("--replace"),
                              QString::fromUtf8("小雨"), QStringLiteral("--in-place")};
    QCOMPARE(RunCli(replace + QStringList{QStringLiteral("--plan"), plan, tree.path()}).exitCode,
             0);
    const QByteArray changed = Utf8("小云, edited after the plan");
    WriteBytes(tree.path(), QStringLiteral("a.txt"), changed);

    const CliResult applied = RunCli({QStringLiteral("apply"), plan});
    QCOMPARE(applied.exitCode, 2);
    QVERIFY(CliText(applied.err).contains(QString::fromUtf8("文件在预览之后被修改")));
    QCOMPARE(ReadBytes(tree.filePath(QStringLiteral("a.txt"))), changed);
    QCOMPARE(ReadBytes(tree.filePath(QStringLiteral("sub/b.txt"))),
             Gbk(QString::fromUtf8("小雨在这里\r\n只有一个\r\n")));
    // The run is journaled like any other.
    QVERIFY(RunCli({QStringLiteral("undo"), QStringLiteral("--list"), tree.path()}).out.size() > 0);
}

QTEST_GUILESS_MAIN(TestCliPlan)
#include "tst_cli_plan.moc"
