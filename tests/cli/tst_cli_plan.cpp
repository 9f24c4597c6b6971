// Review before writing: a diff that patch applies to the run's own result, the grep-style
// lines of find --context, and a plan that refuses a file changed after it was made.

#include "engine/codec/TextCodec.h"
#include "tests/cli/CliFixture.h"

#include <algorithm>

#include <QDir>
#include <QDirIterator>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
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
    void editedPlanAppliesOnlyWhatWasReviewed_data();
    void editedPlanAppliesOnlyWhatWasReviewed();
    void planFileIsNeverWrittenOverData_data();
    void planFileIsNeverWrittenOverData();
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
    QTest::newRow("more than any file has")
        << "2147483647"
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
    QTemporaryDir elsewhere;
    MakeSampleTree(tree.path());
    const QString plan = elsewhere.filePath(QStringLiteral("plan.jsonl"));
    const QStringList replace{QStringLiteral("replace"), QStringLiteral("--find"),
                              QString::fromUtf8("小云"), QStringLiteral("--replace"),
                              QString::fromUtf8("小雨"), QStringLiteral("--in-place")};
    QCOMPARE(RunCli(replace + QStringList{QStringLiteral("--plan"), plan, tree.path()}).exitCode,
             0);
    const QByteArray changed = Utf8("小云, edited after the plan");
    WriteBytes(tree.path(), QStringLiteral("a.txt"), changed);

    const CliResult applied =
        RunCli({QStringLiteral("apply"), plan, tree.path(), QStringLiteral("--in-place")});
    QCOMPARE(applied.exitCode, 2);
    QVERIFY(CliText(applied.err).contains(QString::fromUtf8("文件在预览之后被修改")));
    QCOMPARE(ReadBytes(tree.filePath(QStringLiteral("a.txt"))), changed);
    QCOMPARE(ReadBytes(tree.filePath(QStringLiteral("sub/b.txt"))),
             Gbk(QString::fromUtf8("小雨在这里\r\n只有一个\r\n")));
    // The run is journaled like any other.
    QVERIFY(RunCli({QStringLiteral("undo"), QStringLiteral("--list"), tree.path()}).out.size() > 0);
}

void TestCliPlan::editedPlanAppliesOnlyWhatWasReviewed_data()
{
    // Each row edits one line of a plan made for src in place: the header, a.txt's entry or
    // the end; "<remove>" drops the line, "<twice>" lists it twice, "<cut>" cuts the plan
    // within it, "<raw>" puts other text in its place. The apply always names src in place.
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value"); // JSON
    QTest::addColumn<QStringList>("written");
    QTest::addColumn<QString>("said"); // on stderr
    const QStringList all{QStringLiteral("a.txt"), QStringLiteral("d.txt"),
                          QStringLiteral("sub/b.txt")};
    const QStringList notA{QStringLiteral("d.txt"), QStringLiteral("sub/b.txt")};
    const QString mismatch = QString::fromUtf8("预览文件与所选文件夹不符");
    const QString differs = QString::fromUtf8("新内容与预览不符");
    QTest::newRow("as made") << "header" << QString() << QString() << all << QString();
    QTest::newRow("made with --diff") << "--diff" << QString() << QString() << all << QString();
    QTest::newRow("header: journal off") << "header"
                                         << "journal"
                                         << "false" << all << QString();
    QTest::newRow("header: another source") << "header"
                                            << "source"
                                            << "\"OTHER\"" << QStringList() << mismatch;
    QTest::newRow("header: a save folder") << "header"
                                           << "inPlace"
                                           << "false" << QStringList() << mismatch;
    QTest::newRow("header: another find text") << "header"
                                               << "find"
                                               << "\"小\"" << QStringList() << differs;
    QTest::newRow("header: a find text no file holds")
        << "header"
        << "find"
        << "\"无此文本\"" << QStringList() << differs;
    QTest::newRow("header: another replacement") << "header"
                                                 << "replace"
                                                 << "\"小雨 \"" << QStringList() << differs;
    QTest::newRow("entry: old hash")
        << "a.txt"
        << "hash"
        << "\"0000000000000001\"" << notA << QString::fromUtf8("文件在预览之后被修改");
    QTest::newRow("entry: new hash") << "a.txt"
                                     << "newHash"
                                     << "\"0000000000000001\"" << notA << differs;
    QTest::newRow("entry: new text") << "a.txt"
                                     << "changes"
                                     << QString::fromUtf8("[{\"after\":\"小雨和小吉\",\"before\":"
                                                          "\"小云和小吉\",\"line\":1}]")
                                     << notA << differs;
    QTest::newRow("entry: another file") << "a.txt"
                                         << "path" << QString::fromUtf8("\"名字 有空格.txt\"")
                                         << notA << differs; // it holds no 小云
    QTest::newRow("entry: out of the folder")
        << "a.txt"
        << "path"
        << "\"../other/a.txt\"" << QStringList()
        << QString::fromUtf8("../other/a.txt 不是文件夹之内的路径");
    QTest::newRow("entry: removed") << "a.txt"
                                    << "<remove>" << QString() << QStringList()
                                    << QString::fromUtf8("计划结尾记录3个文件,实际列出2个");
    QTest::newRow("entry: twice") << "a.txt"
                                  << "<twice>" << QString() << QStringList()
                                  << QString::fromUtf8("a.txt 重复列出");
    QTest::newRow("entry: not an object")
        << "a.txt"
        << "<raw>"
        << "[1]" << QStringList() << QString::fromUtf8("不是JSON对象");
    QTest::newRow("cut at a line break")
        << "end"
        << "<remove>" << QString() << QStringList() << QString::fromUtf8("在第4行之后被截断");
    QTest::newRow("cut within a line")
        << "end"
        << "<cut>" << QString() << QStringList() << QString::fromUtf8("第5行:不完整");
}

void TestCliPlan::editedPlanAppliesOnlyWhatWasReviewed()
{
    QFETCH(QString, line);
    QFETCH(QString, key);
    QFETCH(QString, value);
    QFETCH(QStringList, written);
    QFETCH(QString, said);
    QTemporaryDir around;
    const QString source = around.filePath(QStringLiteral("src"));
    const QString other = around.filePath(QStringLiteral("other"));
    const QString plan = around.filePath(QStringLiteral("plan.jsonl"));
    MakeSampleTree(source);
    MakeSampleTree(other);
    QTemporaryDir direct;
    MakeSampleTree(direct.path());
    const QStringList replace{QStringLiteral("replace"), QStringLiteral("--find"),
                              QString::fromUtf8("小云"), QStringLiteral("--replace"),
                              QString::fromUtf8("小雨"), QStringLiteral("--in-place")};
    QCOMPARE(RunCli(replace + QStringList{direct.path()}).exitCode, 0);
    QStringList planning = replace + QStringList{QStringLiteral("--plan"), plan, source};
    if (line == QLatin1String("--diff"))
        planning << line;
    QCOMPARE(RunCli(planning).exitCode, 0);

    QList<QByteArray> lines = ReadBytes(plan).split('\n');
    QCOMPARE(lines.takeLast(), QByteArray());
    QCOMPARE(lines.size(), 5); // the header, three files, the end
    int at = line == QLatin1String("end") ? lines.size() - 1 : 0;
    for (int i = 1; line.endsWith(QLatin1String(".txt")) && at == 0; ++i) {
        if (QJsonDocument::fromJson(lines.at(i)).object().value(QStringLiteral("path")) == line)
            at = i;
    }
    if (key == QLatin1String("<remove>")) {
        lines.removeAt(at);
    } else if (key == QLatin1String("<twice>")) {
        lines.insert(at, lines.at(at));
    } else if (key == QLatin1String("<raw>")) {
        lines[at] = value.toUtf8();
    } else if (key == QLatin1String("<cut>")) {
        lines[at].chop(3);
    } else if (!key.isEmpty()) {
        QJsonObject object = QJsonDocument::fromJson(lines.at(at)).object();
        const QByteArray json = value.replace(QLatin1String("OTHER"), other).toUtf8();
        object.insert(key, QJsonDocument::fromJson("[" + json + "]").array().at(0));
        lines[at] = QJsonDocument(object).toJson(QJsonDocument::Compact);
    }
    QByteArray edited = lines.join('\n');
    if (key != QLatin1String("<cut>"))
        edited += '\n';
    WriteBytes(around.path(), QStringLiteral("plan.jsonl"), edited);
    const QMap<QString, QByteArray> before = Snapshot(around.path(), true);
    QMap<QString, QByteArray> sourceBefore = Snapshot(source, false);
    for (auto it = sourceBefore.begin(); it != sourceBefore.end();)
        it = it.value() == "<dir>" ? sourceBefore.erase(it) : std::next(it);

    const CliResult applied =
        RunCli({QStringLiteral("apply"), plan, source, QStringLiteral("--in-place")});

    QCOMPARE(applied.exitCode, said.isEmpty() ? 0 : 2);
    QVERIFY2(CliText(applied.err).contains(said), applied.err.constData());
    // Outside src nothing changed, not even a time; inside, the written files are the direct
    // run's, the rest as they were, and only the journal was added.
    const QMap<QString, QByteArray> after = Snapshot(around.path(), true);
    const QString inSource = QStringLiteral("src/");
    for (auto it = before.begin(); it != before.end(); ++it) {
        if (it.key() != QLatin1String("src") && !it.key().startsWith(inSource))
            QVERIFY2(after.value(it.key()) == it.value(), qPrintable(it.key()));
    }
    for (auto it = sourceBefore.begin(); it != sourceBefore.end(); ++it) {
        const QByteArray expected = written.contains(it.key())
                                        ? ReadBytes(direct.path() + QLatin1Char('/') + it.key())
                                        : it.value();
        QVERIFY2(ReadBytes(source + QLatin1Char('/') + it.key()) == expected, qPrintable(it.key()));
    }
    for (auto it = after.begin(); it != after.end(); ++it)
        QVERIFY2(before.contains(it.key()) ||
                     it.key().startsWith(QStringLiteral("src/.parafold-journal")),
                 qPrintable(it.key()));
    // A written in-place run is journaled whatever the plan says; the tree's lock alone is no
    // journal.
    const QString journal = QStringLiteral("src/.parafold-journal/");
    const bool journaled = std::any_of(after.keyBegin(), after.keyEnd(), [&](const QString &key) {
        return key.startsWith(journal) && key != journal + QStringLiteral("lock");
    });
    QCOMPARE(journaled, !written.isEmpty());
}

void TestCliPlan::planFileIsNeverWrittenOverData_data()
{
    QTest::addColumn<QString>("plan");     // below the temporary folder
    QTest::addColumn<QByteArray>("there"); // what stands there before; empty: nothing
    QTest::addColumn<int>("exitCode");
    QTest::newRow("a new file") << "plan.jsonl" << QByteArray() << 0;
    QTest::newRow("an older plan")
        << "plan.jsonl" << QByteArray("{\"format\":\"parafold-plan\",\"version\":1}\n") << 0;
    QTest::newRow("a novel") << "novel.txt" << Utf8("小云的故事\n") << 2;
    QTest::newRow("in the source folder") << "src/plan.jsonl" << QByteArray() << 2;
    QTest::newRow("in the save folder") << "save/plan.jsonl" << QByteArray() << 2;
}

void TestCliPlan::planFileIsNeverWrittenOverData()
{
    QFETCH(QString, plan);
    QFETCH(QByteArray, there);
    QFETCH(int, exitCode);
    QTemporaryDir around;
    MakeSampleTree(around.filePath(QStringLiteral("src")));
    QVERIFY(QDir(around.path()).mkdir(QStringLiteral("save")));
    if (!there.isEmpty())
        WriteBytes(around.path(), plan, there);
    const QMap<QString, QByteArray> before = Snapshot(around.path(), false);

    const CliResult planned = RunCli(
        {QStringLiteral("replace"), around.filePath(QStringLiteral("src")),
         QStringLiteral("--find"), QString::fromUtf8("小云"), QStringLiteral("--replace"),
         QString::fromUtf8("小雨"), QStringLiteral("--save-dir"),
         around.filePath(QStringLiteral("save")), QStringLiteral("--plan"), around.filePath(plan)});

    QCOMPARE(planned.exitCode, exitCode);
    QMap<QString, QByteArray> after = Snapshot(around.path(), false);
    if (exitCode == 0)
        QVERIFY(after.take(plan).startsWith("{"));
    after.remove(plan);
    QMap<QString, QByteArray> unchanged = before;
    unchanged.remove(plan);
    QCOMPARE(after, unchanged);
    if (exitCode != 0 && !there.isEmpty())
        QCOMPARE(ReadBytes(around.filePath(plan)), there);
}

QTEST_GUILESS_MAIN(TestCliPlan)
#include "tst_cli_plan.moc"
