// parafold-cli undo: what it puts back, what it refuses, and a journal that survives kills.

#include "engine/journal/Journal.h"
#include "engine/journal/TreeLock.h"
#include "engine/journal/Undo.h"
#include "tests/cli/CliFixture.h"

#include <QDirIterator>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Every file below root by relative path, without the journal and without the temporary
// file of a write that a kill cut short.
QMap<QString, QByteArray> Files(const QString &root)
{
    QMap<QString, QByteArray> files;
    const QMap<QString, QByteArray> all = Snapshot(root, false);
    for (auto entry = all.begin(); entry != all.end(); ++entry) {
        const QString name = QFileInfo(entry.key()).fileName();
        if (!entry.key().startsWith(journalFolderName) && entry.value() != "<dir>" &&
            !(name.startsWith(QLatin1String(".parafold-")) && name.endsWith(QLatin1String(".tmp"))))
            files.insert(entry.key(), entry.value());
    }
    return files;
}

QStringList Args(const char *words, const QString &source)
{
    QStringList arguments = QString::fromUtf8(words).split(QLatin1Char(' '));
    if (!source.isEmpty())
        arguments.replaceInStrings(QStringLiteral("@SRC"), source);
    return arguments;
}

int EntryLines(const QString &source)
{
    int lines = 0;
    QDirIterator runs(JournalFolder(source), QDir::Dirs | QDir::NoDotAndDotDot);
    while (runs.hasNext()) {
        const QString run = runs.next();
        lines += ReadBytes(run + QStringLiteral("/entries.tsv")).count("\nf\t");
    }
    return lines;
}

} // namespace

class CliUndo : public QObject
{
    Q_OBJECT

private slots:
    void usage_data();
    void usage();
    void undoListDryRunAndRefusal();
    void listColumnsLineUp();
    void droppedRunIsToldOnStderr();
    void killDuringRunThenUndo();
    void runLockTurnsWritersAway_data();
    void runLockTurnsWritersAway();
    void waitsForTheTree();
};

void CliUndo::usage_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");
    QTest::newRow("list with run") << Args("undo @SRC --list --run x", QString()) << 2
                                   << QStringLiteral("--list 不能与 --run");
    QTest::newRow("empty run") << (Args("undo @SRC --run", QString()) << QString()) << 2
                               << QStringLiteral("--run 需要");
    QTest::newRow("no journal for find") << Args("find @SRC --terms a --no-journal", QString()) << 2
                                         << QStringLiteral("不适用于命令");
    QTest::newRow("nothing to undo") << Args("undo @SRC", QString()) << 1 << messageNothingToUndo();
    QTest::newRow("no such run") << Args("undo @SRC --run 20000101-000000", QString()) << 2
                                 << QStringLiteral("20000101-000000");
}

void CliUndo::usage()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    QTemporaryDir root;
    MakeSampleTree(root.path());
    arguments.replaceInStrings(QStringLiteral("@SRC"), root.path());
    const CliResult cli = RunCli(arguments);
    QCOMPARE(cli.exitCode, exitCode);
    QVERIFY2(CliText(cli.err).contains(message), cli.err.constData());
}

void CliUndo::undoListDryRunAndRefusal()
{
    QTemporaryDir root;
    const QString src = root.path();
    MakeSampleTree(src);
    const QMap<QString, QByteArray> before = Files(src);

    QCOMPARE(
        RunCli(Args("replace @SRC --find 小吉 --replace X --in-place --no-journal", src)).exitCode,
        0);
    // The journal folder holds the tree's lock, but no run.
    QVERIFY(ReadJournal(src).empty());
    QCOMPARE(RunCli(Args("undo @SRC", src)).exitCode, 1);
    MakeSampleTree(src);

    QCOMPARE(RunCli(Args("replace @SRC --find 小云 --replace 阿云 --in-place", src)).exitCode, 0);
    const QMap<QString, QByteArray> edited = Files(src);
    const CliResult list = RunCli(Args("undo @SRC --list", src));
    QCOMPARE(list.exitCode, 0);
    QCOMPARE(CliText(list.out).count(QStringLiteral("“查找替换”(小云→阿云)")), 1);
    QVERIFY(CliText(list.out).contains(QStringLiteral(" 3个文件")));

    const CliResult dry = RunCli(Args("undo @SRC --dry-run", src));
    QCOMPARE(dry.exitCode, 0);
    QCOMPARE(SplitList(dry.out, '\n').size(), 3);
    QCOMPARE(Files(src), edited);

    const QString later = QDir::toNativeSeparators(src + QStringLiteral("/a.txt"));
    WriteBytes(src, QStringLiteral("a.txt"), "edited later");
    const CliResult undo = RunCli(Args("undo @SRC", src));
    QCOMPARE(undo.exitCode, 2);
    QVERIFY(CliText(undo.err).contains(later + QStringLiteral(": ") + reasonChangedSinceRun()));
    QCOMPARE(SplitList(undo.out, '\n').size(), 2);
    QMap<QString, QByteArray> expected = before;
    expected[QStringLiteral("a.txt")] = "edited later";
    QCOMPARE(Files(src), expected);
}

// A second run in the same second has a longer id; the columns after it stay in place.
void CliUndo::listColumnsLineUp()
{
    QTemporaryDir root;
    const QString src = root.path();
    MakeSampleTree(src);
    QCOMPARE(RunCli(Args("replace @SRC --find 小云 --replace 阿云 --in-place", src)).exitCode, 0);
    QCOMPARE(RunCli(Args("insert @SRC --text X --in-place", src)).exitCode, 0);
    const std::vector<JournalRun> runs = ReadJournal(src);
    QCOMPARE(runs.size(), size_t(2));
    const QString secondId = runs[0].id + QStringLiteral("-2");
    if (runs[1].id != secondId)
        QVERIFY(QDir(JournalFolder(src)).rename(runs[1].id, secondId));

    const QStringList lines =
        CliText(RunCli(Args("undo @SRC --list", src)).out).split(QLatin1Char('\n'));
    QVERIFY(lines.size() > 2);
    QVERIFY(lines[1].startsWith(secondId));
    QCOMPARE(lines[0].indexOf(QStringLiteral(" files")),
             lines[1].indexOf(QStringLiteral(" files")));
    QVERIFY(lines[1].contains(QStringLiteral("“插入内容”(开头插入“X”)")));
}

void CliUndo::droppedRunIsToldOnStderr()
{
    QTemporaryDir root;
    WriteBytes(root.path(), QStringLiteral("a.txt"), "a");
    for (int run = 1; run <= journalKeptRuns + 1; ++run) {
        const CliResult cli = RunCli(Args("insert @SRC --text x --in-place -q", root.path()));
        QCOMPARE(cli.exitCode, 0);
        QCOMPARE(CliText(cli.err).contains(QStringLiteral("已删除较早的修改记录")),
                 run > journalKeptRuns);
    }
    QCOMPARE(int(ReadJournal(root.path()).size()), journalKeptRuns);
}

void CliUndo::killDuringRunThenUndo()
{
    QTemporaryDir root;
    const QString tree = root.path() + QStringLiteral("/tree");
    for (int i = 0; i < 800; ++i) {
        const QString text = QStringLiteral("第%1篇 小云望着江水\r\n").arg(i).repeated(i % 7 + 1);
        WriteBytes(tree, QStringLiteral("d%1/f%2.txt").arg(i % 9).arg(i),
                   i % 3 == 0 ? Gbk(text) : (i % 3 == 1 ? text.toUtf8() : Utf16LeWithBom(text)));
    }
    const QMap<QString, QByteArray> original = Files(tree);

    // Each round kills the run once the journal holds that many entries, then undoes.
    int killedMidRun = 0;
    for (const int entries : {1, 30, 200, 500}) {
        const QString src = root.path() + QStringLiteral("/src%1").arg(entries);
        for (auto file = original.begin(); file != original.end(); ++file)
            WriteBytes(src, file.key(), file.value());
        QProcess run;
        run.setStandardOutputFile(QProcess::nullDevice());
        run.start(CliPath(), Args("replace @SRC --find 小云 --replace 阿云 --in-place", src));
        QElapsedTimer waited;
        waited.start();
        while (run.state() != QProcess::NotRunning && EntryLines(src) < entries &&
               waited.elapsed() < 60000)
            QTest::qWait(1);
        run.kill();
        QVERIFY(run.waitForFinished());
        if (run.exitStatus() == QProcess::CrashExit)
            ++killedMidRun;

        const CliResult undo = RunCli(Args("undo @SRC", src));
        QVERIFY2(undo.exitCode == 0, undo.err.constData());
        QCOMPARE(Files(src), original);
        // The killed run's hidden temporaries go with its undo, wherever they are.
        const QMap<QString, QByteArray> left = Snapshot(src, false);
        for (auto entry = left.begin(); entry != left.end(); ++entry)
            QVERIFY2(entry.key().startsWith(journalFolderName) ||
                         !QFileInfo(entry.key()).fileName().startsWith(QLatin1String(".parafold-")),
                     qPrintable(entry.key()));
    }
    QVERIFY(killedMidRun >= 3);
}

void CliUndo::runLockTurnsWritersAway_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<bool>("turnedAway");
    QTest::newRow("undo") << "undo @SRC --no-wait" << true;
    QTest::newRow("replace in place")
        << "replace @SRC --find 云 --replace 雲 --in-place --no-wait" << true;
    QTest::newRow("insert in place") << "insert @SRC --text X --in-place --no-wait" << true;
    QTest::newRow("convert in place") << "convert @SRC --to gbk --in-place --no-wait" << true;
    QTest::newRow("another tree runs at once")
        << "replace @OTHER --find 云 --replace 雲 --in-place --no-wait" << false;
    QTest::newRow("find only reads") << "find @SRC --terms 云" << false;
    QTest::newRow("undo --list only reads") << "undo @SRC --list" << false;
    QTest::newRow("dry run only reads") << "undo @SRC --dry-run" << false;
}

// While another process (here the test, as a window would) holds the tree's lock, a command
// that writes in the tree ends at once with --no-wait, with the window's words, touching
// nothing, whatever its environment says of temporary folders; one on another tree runs.
void CliUndo::runLockTurnsWritersAway()
{
    QFETCH(QString, command);
    QFETCH(bool, turnedAway);
    QTemporaryDir root;
    const QString source = root.filePath(QStringLiteral("src"));
    const QString other = root.filePath(QStringLiteral("other"));
    WriteBytes(source, QStringLiteral("a.txt"), Utf8("小云"));
    WriteBytes(other, QStringLiteral("a.txt"), Utf8("小云"));
    QCOMPARE(RunCli(Args("replace @SRC --find 小 --replace 大 --in-place", source)).exitCode, 0);
    const QMap<QString, QByteArray> before = Snapshot(source, false);

    TreeLock lock;
    QCOMPARE(lock.take(source, false, nullptr), TreeLock::Result::Held);
    const QByteArray runtime = root.filePath(QStringLiteral("runtime")).toUtf8();
    QVERIFY(QDir().mkpath(QString::fromUtf8(runtime)));
    qputenv("XDG_RUNTIME_DIR", runtime);
    qputenv("TMPDIR", runtime);
    const CliResult result = RunCli(Args(command.toUtf8().constData(), source)
                                        .replaceInStrings(QStringLiteral("@OTHER"), other));
    qunsetenv("XDG_RUNTIME_DIR");
    qunsetenv("TMPDIR");
    lock.release();

    const bool refused =
        CliText(result.err).contains(QStringLiteral("正在处理中,请等待当前操作完成!"));
    QCOMPARE(refused, turnedAway);
    if (turnedAway) {
        QCOMPARE(result.exitCode, 75);
        QCOMPARE(Snapshot(source, false), before);
    } else {
        QVERIFY2(result.exitCode <= 1, result.err.constData());
    }
}

// Without --no-wait a command waits for the tree, saying so once, and runs when it is free.
void CliUndo::waitsForTheTree()
{
    QTemporaryDir root;
    const QString source = root.filePath(QStringLiteral("src"));
    WriteBytes(source, QStringLiteral("a.txt"), Utf8("小云"));
    TreeLock lock;
    QCOMPARE(lock.take(source, false, nullptr), TreeLock::Result::Held);
    QProcess run;
#ifndef Q_OS_WIN
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("zh_CN.UTF-8"));
    run.setProcessEnvironment(environment);
#endif
    run.start(CliPath(), Args("replace @SRC --find 小 --replace 大 --in-place -q", source));
    QVERIFY(run.waitForStarted());
    QByteArray said;
    QTRY_VERIFY_WITH_TIMEOUT(
        (said += run.readAllStandardError(),
         CliText(said).contains(QStringLiteral("等待另一个对此文件夹的操作结束…"))),
        20000);
    QTest::qWait(300);
    QCOMPARE(run.state(), QProcess::Running);
    QCOMPARE(ReadBytes(source + QStringLiteral("/a.txt")), Utf8("小云"));
    lock.release();
    const CliResult result = FinishCli(run);
    QCOMPARE(result.exitCode, 0);
    QVERIFY(!CliText(result.err).contains(QStringLiteral("等待")));
    QCOMPARE(ReadBytes(source + QStringLiteral("/a.txt")), Utf8("大云"));
}

QTEST_GUILESS_MAIN(CliUndo)
#include "tst_cli_undo.moc"
