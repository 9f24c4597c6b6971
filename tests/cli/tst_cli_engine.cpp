// parafold-cli must do exactly what the window's engine does for the same record: the
// same list, the same statistics line and the same bytes on disk.

#include "tests/cli/CliFixture.h"

#include "engine/batch/BatchSettings.h"
#include "engine/batch/LaunchChecks.h"
#include "engine/run/RunBatch.h"

#include <QTemporaryDir>
#include <QTest>

Q_DECLARE_METATYPE(Operation)

class CliMatchesEngine : public QObject
{
    Q_OBJECT

private slots:
    void sameAsRunBatch_data();
    void sameAsRunBatch();
};

namespace {

struct EngineRun
{
    RunResult result;
    QStringList found;
};

EngineRun RunEngine(Operation operation, const BatchSettings &settings, bool dryRun, bool report)
{
    EngineRun run;
    RunObserver observer;
    observer.fileFound = [&](const QString &path) { run.found << path; };
    RunOptions options;
    options.dryRun = dryRun;
    options.writeReports = report;
    if (report)
        DeleteStaleReports(settings);
    run.result = RunBatch(operation, settings, observer, options);
    return run;
}

QStringList Substituted(QStringList arguments, const QString &root)
{
    for (QString &argument : arguments) {
        argument.replace(QStringLiteral("@SRC"), root + QStringLiteral("/src"));
        argument.replace(QStringLiteral("@SAVE"), root + QStringLiteral("/save"));
        argument.replace(QStringLiteral("@IN"), root + QStringLiteral("/in"));
    }
    return arguments;
}

} // namespace

void CliMatchesEngine::sameAsRunBatch_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<Operation>("operation");
    // The record the window would capture for the same request; folders are added below.
    QTest::addColumn<QVariantMap>("record");
    QTest::addColumn<QByteArray>("findFile");
    QTest::addColumn<QByteArray>("replaceFile");
    QTest::addColumn<QByteArray>("textFile");
    QTest::addColumn<int>("expectedFound");
    QTest::addColumn<int>("expectedExit");

    const QByteArray none;
    auto args = [](const char *command, std::initializer_list<QString> rest) {
        QStringList list{QString::fromUtf8(command), QStringLiteral("@SRC")};
        list.append(rest);
        return list;
    };
    const QString saveDir = QStringLiteral("--save-dir");
    const QString save = QStringLiteral("@SAVE");
    const QString inPlace = QStringLiteral("--in-place");

    QTest::newRow("replace into save folder")
        << args("replace", {QStringLiteral("--find"), QStringLiteral("小云"),
                            QStringLiteral("--replace"), QStringLiteral("小雲"), saveDir, save})
        << Operation::ReplaceText
        << QVariantMap{{QStringLiteral("findText"), QStringLiteral("小云")},
                       {QStringLiteral("replaceText"), QStringLiteral("小雲")}}
        << none << none << none << 3 << 0;
    QTest::newRow("replace in place, BOM, reports")
        << args("replace",
                {QStringLiteral("--find"), QStringLiteral("小云"), QStringLiteral("--replace"),
                 QString(), inPlace, QStringLiteral("--bom"), QStringLiteral("--report")})
        << Operation::ReplaceText
        << QVariantMap{{QStringLiteral("findText"), QStringLiteral("小云")},
                       {QStringLiteral("saveInSource"), true},
                       {QStringLiteral("withBom"), true},
                       {QStringLiteral("report"), true}}
        << none << none << none << 3 << 0;
    QTest::newRow("replace without UTF-16 detection")
        << args("replace",
                {QStringLiteral("--find"), QStringLiteral("小云"), QStringLiteral("--replace"),
                 QStringLiteral("x"), inPlace, QStringLiteral("--no-utf16")})
        << Operation::ReplaceText
        << QVariantMap{{QStringLiteral("findText"), QStringLiteral("小云")},
                       {QStringLiteral("replaceText"), QStringLiteral("x")},
                       {QStringLiteral("saveInSource"), true},
                       {QStringLiteral("detectUtf16"), false}}
        << none << none << none << 2 << 0;
    QTest::newRow("replace finds nothing")
        << args("replace",
                {QStringLiteral("--find"), QStringLiteral("不存在"), QStringLiteral("--replace"),
                 QStringLiteral("x"), saveDir, save, QStringLiteral("--report")})
        << Operation::ReplaceText
        << QVariantMap{{QStringLiteral("findText"), QStringLiteral("不存在")},
                       {QStringLiteral("replaceText"), QStringLiteral("x")},
                       {QStringLiteral("report"), true}}
        << none << none << none << 0 << 1;
    // U+FEFF at the start of an argument is text, not a byte-order mark to drop.
    QTest::newRow("replace a text that starts with U+FEFF")
        << args("replace", {QStringLiteral("--find"), QStringLiteral("\uFEFF小云"),
                            QStringLiteral("--replace"), QStringLiteral("x"), saveDir, save})
        << Operation::ReplaceText
        << QVariantMap{{QStringLiteral("findText"), QStringLiteral("\uFEFF小云")},
                       {QStringLiteral("replaceText"), QStringLiteral("x")}}
        << none << none << none << 0 << 1;
    QTest::newRow("pairs into save folder, CR LF files")
        << args("replace-pairs",
                {QStringLiteral("--find-file"), QStringLiteral("@IN/find"),
                 QStringLiteral("--replace-file"), QStringLiteral("@IN/replace"), saveDir, save})
        << Operation::ReplacePairs
        << QVariantMap{{QStringLiteral("findLines"),
                        QStringList{QStringLiteral("小云"), QStringLiteral("小吉")}},
                       {QStringLiteral("replaceLines"),
                        QStringList{QStringLiteral("甲"), QStringLiteral("乙")}}}
        << Utf8("小云\r\n小吉\r\n") << Utf8("甲\r\n乙\r\n") << none << 4 << 0;
    QTest::newRow("pairs in place, dry run, NUL list")
        << args("replace-pairs", {QStringLiteral("--find-file"), QStringLiteral("@IN/find"),
                                  QStringLiteral("--replace-file"), QStringLiteral("@IN/replace"),
                                  inPlace, QStringLiteral("--dry-run"), QStringLiteral("-0")})
        << Operation::ReplacePairs
        << QVariantMap{{QStringLiteral("findLines"),
                        QStringList{QStringLiteral("第二行"), QStringLiteral("plain")}},
                       {QStringLiteral("replaceLines"),
                        QStringList{QStringLiteral("第2行"), QStringLiteral("PLAIN")}},
                       {QStringLiteral("saveInSource"), true},
                       {QStringLiteral("dryRun"), true},
                       {QStringLiteral("null"), true}}
        << Utf8("第二行\nplain") << Utf8("第2行\nPLAIN\n") << none << 2 << 0;
    // The rule table gives the same run as its switched-on rules given as two files.
    QTest::newRow("pairs from a rule table, a rule switched off")
        << args("replace-pairs",
                {QStringLiteral("--rules"), QStringLiteral("@IN/find"), saveDir, save})
        << Operation::ReplacePairs
        << QVariantMap{{QStringLiteral("findLines"),
                        QStringList{QStringLiteral("小云"), QStringLiteral("第二行")}},
                       {QStringLiteral("replaceLines"),
                        QStringList{QStringLiteral("甲\t"), QStringLiteral("第2行")}}}
        << Utf8("# 规则\n小云\t甲\\t\n#off 小吉\t乙\n\n第二行\t第2行\n") << none << none << 3 << 0;
    QTest::newRow("insert in front into save folder")
        << args("insert", {QStringLiteral("--text"), QStringLiteral("【序】"), saveDir, save})
        << Operation::InsertText
        << QVariantMap{{QStringLiteral("insertText"), QStringLiteral("【序】")}} << none << none
        << none << 7 << 0; // the stale report at the top is not a text to edit
    QTest::newRow("insert behind from CR LF file, in place, reports")
        << args("insert", {QStringLiteral("--text-file"), QStringLiteral("@IN/text"),
                           QStringLiteral("--behind"), inPlace, QStringLiteral("--report")})
        << Operation::InsertText
        << QVariantMap{{QStringLiteral("insertText"), QStringLiteral("\n——完——\n附注")},
                       {QStringLiteral("insertAtFront"), false},
                       {QStringLiteral("saveInSource"), true},
                       {QStringLiteral("report"), true}}
        << none << none << Utf8("\r\n——完——\r\n附注") << 7 << 0;
    QTest::newRow("find all terms, reports")
        << args("find", {QStringLiteral("--terms"), QStringLiteral("小云||小吉"),
                         QStringLiteral("--report")})
        << Operation::FindText
        << QVariantMap{{QStringLiteral("searchTerms"), QStringLiteral("小云||小吉")},
                       {QStringLiteral("report"), true}}
        << none << none << none << 2 << 0;
    QTest::newRow("find with empty terms lists every file, NUL list")
        << args("find", {QStringLiteral("--terms"), QString(), QStringLiteral("--null")})
        << Operation::FindText
        << QVariantMap{{QStringLiteral("searchTerms"), QString()}, {QStringLiteral("null"), true}}
        << none << none << none << 7 << 0;
    QTest::newRow("find nothing") << args("find", {QStringLiteral("--terms"),
                                                   QStringLiteral("小云||不存在"),
                                                   QStringLiteral("--dry-run")})
                                  << Operation::FindText
                                  << QVariantMap{{QStringLiteral("searchTerms"),
                                                  QStringLiteral("小云||不存在")},
                                                 {QStringLiteral("dryRun"), true}}
                                  << none << none << none << 0 << 1;
}

void CliMatchesEngine::sameAsRunBatch()
{
    QFETCH(QStringList, arguments);
    QFETCH(Operation, operation);
    QFETCH(QVariantMap, record);
    QFETCH(QByteArray, findFile);
    QFETCH(QByteArray, replaceFile);
    QFETCH(QByteArray, textFile);
    QFETCH(int, expectedFound);
    QFETCH(int, expectedExit);

    QTemporaryDir cliRoot;
    QTemporaryDir engineRoot;
    QVERIFY(cliRoot.isValid() && engineRoot.isValid());
    for (const QString &root : {cliRoot.path(), engineRoot.path()}) {
        MakeSampleTree(root + QStringLiteral("/src"));
        QVERIFY(QDir().mkpath(root + QStringLiteral("/save")));
        // A stale report that a run with reports must delete first.
        WriteBytes(root, QStringLiteral("src/") + reportMatchedName, Utf8("stale\r\n"));
    }
    WriteBytes(cliRoot.path(), QStringLiteral("in/find"), findFile);
    WriteBytes(cliRoot.path(), QStringLiteral("in/replace"), replaceFile);
    WriteBytes(cliRoot.path(), QStringLiteral("in/text"), textFile);

    const CliResult cli = RunCli(Substituted(arguments, cliRoot.path()));

    BatchSettings settings;
    settings.sourceDir = engineRoot.path() + QStringLiteral("/src/");
    settings.detectUtf16 = record.value(QStringLiteral("detectUtf16"), true).toBool();
    settings.withBom = record.value(QStringLiteral("withBom")).toBool();
    settings.saveInSource = record.value(QStringLiteral("saveInSource")).toBool();
    if (operation != Operation::FindText && !settings.saveInSource)
        settings.saveDir = engineRoot.path() + QStringLiteral("/save/");
    settings.findText = record.value(QStringLiteral("findText")).toString();
    settings.replaceText = record.value(QStringLiteral("replaceText")).toString();
    settings.findLines = record.value(QStringLiteral("findLines")).toStringList();
    settings.replaceLines = record.value(QStringLiteral("replaceLines")).toStringList();
    settings.searchTerms = record.value(QStringLiteral("searchTerms")).toString();
    settings.insertText = record.value(QStringLiteral("insertText")).toString();
    settings.insertAtFront = record.value(QStringLiteral("insertAtFront"), true).toBool();
    SetReportPaths(settings);
    const bool report = record.value(QStringLiteral("report")).toBool();
    const EngineRun engine =
        RunEngine(operation, settings, record.value(QStringLiteral("dryRun")).toBool(), report);

    QCOMPARE(cli.exitStatus, QProcess::NormalExit);
    QCOMPARE(cli.exitCode, expectedExit);
    QCOMPARE(engine.found.size(), expectedFound);
    QCOMPARE(engine.result.failed, 0);

    const QString engineFolder = QDir::toNativeSeparators(engineRoot.path());
    const QString cliFolder = QDir::toNativeSeparators(cliRoot.path());
    QStringList engineList = engine.found;
    for (QString &path : engineList)
        path.replace(engineFolder, cliFolder);
    const char separator = record.value(QStringLiteral("null")).toBool() ? '\0' : '\n';
    QCOMPARE(SplitList(cli.out, separator), engineList);
    QCOMPARE(WithoutSeconds(CliText(cli.err)),
             WithoutSeconds(engine.result.statistics) + QLatin1Char('\n'));

    // Same bytes on disk below src and save, reports included (their paths mapped).
    QMap<QString, QByteArray> engineTree = Snapshot(engineRoot.path(), false);
    for (QByteArray &bytes : engineTree)
        bytes.replace(engineFolder.toUtf8(), cliFolder.toUtf8());
    QMap<QString, QByteArray> cliTree = Snapshot(cliRoot.path(), false);
    for (const QString &input : {QStringLiteral("in"), QStringLiteral("in/find"),
                                 QStringLiteral("in/replace"), QStringLiteral("in/text")})
        cliTree.remove(input);
    // Both keep a journal of an in-place run; its run names and times differ. The command
    // line's run also leaves the tree's lock, which the engine alone does not take.
    const auto dropJournal = [](QMap<QString, QByteArray> &tree) {
        bool dropped = false;
        for (auto it = tree.begin(); it != tree.end();) {
            const bool journal = it.key().contains(QLatin1String("/.parafold-journal"));
            dropped = dropped || (journal && it.value() != "<dir>" &&
                                  !it.key().endsWith(QLatin1String(".parafold-journal/lock")));
            it = journal ? tree.erase(it) : std::next(it);
        }
        return dropped;
    };
    QCOMPARE(dropJournal(cliTree), dropJournal(engineTree));
    QCOMPARE(cliTree.keys(), engineTree.keys());
    for (auto it = cliTree.cbegin(); it != cliTree.cend(); ++it)
        QVERIFY2(it.value() == engineTree.value(it.key()), qPrintable(it.key()));
}

QTEST_GUILESS_MAIN(CliMatchesEngine)
#include "tst_cli_engine.moc"
