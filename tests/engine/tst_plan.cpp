#include "engine/batch/Failure.h"
#include "engine/batch/LaunchChecks.h"
#include "engine/files/FileNames.h"
#include "engine/run/LineDiff.h"
#include "engine/run/Plan.h"
#include "engine/run/PlanFile.h"
#include "engine/run/RunBatch.h"
#include "tests/engine/Fixture.h"
#include "tests/engine/RunRecorder.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using namespace fixture;

Q_DECLARE_METATYPE(Operation)

namespace {

// Files of every encoding the engine reads, some holding the texts the operations look for
// and some not, one that only the decoded path can edit (GBK with a stray byte is left to
// it) and two that fail, one of them holding none of the texts.
void MakeTree(const QString &root)
{
    const QString text = QString::fromUtf8("第一行 cat\r\n猫 dog 猫\r\ncatcat 三\r\n");
    WriteBytes(root + QStringLiteral("/utf8.txt"), Utf8(text));
    WriteBytes(root + QStringLiteral("/bom.txt"), Bom() + Utf8(text));
    WriteBytes(root + QStringLiteral("/a/gbk.txt"), Gbk(text));
    WriteBytes(root + QStringLiteral("/a/le.txt"), Utf16(text, true));
    WriteBytes(root + QStringLiteral("/a/b/be.txt"), Utf16(text, false));
    WriteBytes(root + QStringLiteral("/a/b/lf.txt"), Utf8(QStringLiteral("cat\nno end cat")));
    WriteBytes(root + QStringLiteral("/none.txt"), Utf8(QStringLiteral("nothing here\r\n")));
    WriteBytes(root + QStringLiteral("/nul.txt"), QByteArray("cat\0cat", 7));
    WriteBytes(root + QStringLiteral("/damaged.txt"),
               Utf8(QString::fromUtf8("第一行 三\n").repeated(10)) + "\xFF\n");
    WriteBytes(root + QStringLiteral("/other.dat"), QByteArray("cat"));
}

void SetTexts(BatchSettings &settings)
{
    settings.findText = QStringLiteral("cat");
    settings.replaceText = QString::fromUtf8("狗");
    settings.findLines = Names({"cat", "猫", "", "狗狗"});
    settings.replaceLines = Names({"狗", "cat", "x", "dog"});
    settings.insertText = QString::fromUtf8("插入\n");
    settings.searchTerms = QStringLiteral("cat");
}

BatchSettings InPlace(const QString &root)
{
    BatchSettings settings;
    settings.sourceDir = root + QLatin1Char('/');
    settings.saveInSource = true;
    settings.detectUtf16 = true;
    SetTexts(settings);
    return settings;
}

// The tree's files apart from the journal, which names runs by their time.
QMap<QString, QByteArray> Contents(const QString &root, const QString &below = QString())
{
    QMap<QString, QByteArray> contents;
    const QDir dir(root + below);
    for (const QFileInfo &entry :
         dir.entryInfoList(QDir::Files | QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot)) {
        const QString name = below + QLatin1Char('/') + entry.fileName();
        if (entry.fileName() == QLatin1String(".parafold-journal"))
            continue;
        if (entry.isDir())
            contents.insert(Contents(root, name));
        else
            contents.insert(name, ReadBytes(entry.filePath()));
    }
    return contents;
}

ReviewedFiles Planned(Operation operation, const BatchSettings &settings,
                      std::vector<PlannedFile> *files = nullptr, int *failed = nullptr)
{
    ReviewedFiles hashes;
    MakePlan(operation, settings, [&](const PlannedFile &file) {
        if (!file.failed)
            hashes.insert(file.relativePath,
                          {file.hash, file.newHash, ChangesHash(file.changes, file.utf8Texts)});
        else if (failed)
            ++*failed;
        if (files)
            files->push_back(file);
    });
    return hashes;
}

} // namespace

class TestPlan : public QObject
{
    Q_OBJECT

private slots:
    void applyingWholePlanIsTheDirectRun_data();
    void applyingWholePlanIsTheDirectRun();
    void applyTakesOnlyReviewedFiles_data();
    void applyTakesOnlyReviewedFiles();
    void hitsComeFromTheReplacement_data();
    void hitsComeFromTheReplacement();
    void byteDiffIsTheTextDiff_data();
    void byteDiffIsTheTextDiff();
    void changesAreTheTextDiffs_data();
    void changesAreTheTextDiffs();
    void unifiedHunks_data();
    void unifiedHunks();
    void planFileKeepsPathsAndHashes();
    void planRefusedWhole_data();
    void planRefusedWhole();
    void planOver2GiBRefused();
    void applyRefusesOtherFolders_data();
    void applyRefusesOtherFolders();
};

void TestPlan::applyingWholePlanIsTheDirectRun_data()
{
    QTest::addColumn<Operation>("operation");
    QTest::newRow("replace") << Operation::ReplaceText;
    QTest::newRow("pairs") << Operation::ReplacePairs;
    QTest::newRow("insert") << Operation::InsertText;
}

void TestPlan::applyingWholePlanIsTheDirectRun()
{
    QFETCH(Operation, operation);
    QTemporaryDir direct;
    QTemporaryDir reviewed;
    MakeTree(direct.path());
    MakeTree(reviewed.path());
    const QMap<QString, QByteArray> before = Contents(reviewed.path());

    RunOptions noReports; // they name their own tree
    noReports.writeReports = false;
    const RunResult run = RunBatch(operation, InPlace(direct.path()), {}, noReports);
    const BatchSettings settings = InPlace(reviewed.path());
    int failed = 0;
    const ReviewedFiles plan = Planned(operation, settings, nullptr, &failed);
    QCOMPARE(Contents(reviewed.path()), before); // making the plan wrote nothing
    QCOMPARE(plan.size(), run.changed);
    QCOMPARE(failed, run.failed); // a file fails in the plan as in the run, with a match or not
    const RunResult applied = ApplyPlan({operation, settings, plan}, settings, {}, noReports);

    QCOMPARE(applied.changed, run.changed);
    QCOMPARE(applied.failed, 0); // the file that fails is not in the plan
    QCOMPARE(Contents(reviewed.path()), Contents(direct.path()));
    QVERIFY(!applied.journalRunId.isEmpty());
}

void TestPlan::applyTakesOnlyReviewedFiles_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("change");
    QTest::addColumn<QString>("failure");
    QTest::newRow("unchecked") << "a/gbk.txt"
                               << "unchecked" << QString();
    QTest::newRow("edited") << "utf8.txt"
                            << "edited" << reasonChangedSinceReview();
    QTest::newRow("deleted") << "a/le.txt"
                             << "deleted" << reasonFileGone();
    QTest::newRow("a folder in its place") << "a/le.txt"
                                           << "folder" << reasonChangedSinceReview();
    QTest::newRow("other new bytes") << "a/b/be.txt"
                                     << "newHash" << reasonNewContentDiffers();
    QTest::newRow("other changed lines") << "bom.txt"
                                         << "changesHash" << reasonNewContentDiffers();
}

void TestPlan::applyTakesOnlyReviewedFiles()
{
    QFETCH(QString, file);
    QFETCH(QString, change);
    QFETCH(QString, failure);
    QTemporaryDir tree;
    MakeTree(tree.path());
    const BatchSettings settings = InPlace(tree.path());
    ReviewedFiles plan = Planned(Operation::ReplaceText, settings);
    QVERIFY(plan.contains(file));
    const QString path = tree.path() + QLatin1Char('/') + file;
    if (change == QLatin1String("unchecked"))
        plan.remove(file);
    else if (change == QLatin1String("edited"))
        WriteBytes(path, "cat edited\r\n");
    else if (change == QLatin1String("newHash"))
        plan[file].newHash ^= 1;
    else if (change == QLatin1String("changesHash"))
        plan[file].changesHash ^= 1;
    else
        QVERIFY(QFile::remove(path));
    if (change == QLatin1String("folder"))
        QVERIFY(QDir().mkdir(path));
    const QByteArray left = ReadBytes(path);
    const QMap<QString, QByteArray> before = Contents(tree.path());

    RunRecorder recorder;
    const RunResult applied =
        ApplyPlan({Operation::ReplaceText, settings, plan}, settings, recorder.observer());

    QCOMPARE(ReadBytes(path), left);
    QCOMPARE(applied.changed, plan.size() - (failure.isEmpty() ? 0 : 1));
    QCOMPARE(recorder.reasons, failure.isEmpty() ? QStringList() : QStringList{failure});
    // Every other planned file was written, and nothing else was.
    const QMap<QString, QByteArray> after = Contents(tree.path());
    for (auto it = before.begin(); it != before.end(); ++it) {
        const bool written = plan.contains(it.key().mid(1)) && it.key().mid(1) != file;
        QCOMPARE(after.value(it.key()) != it.value(), written);
    }
}

void TestPlan::hitsComeFromTheReplacement_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QList<int>>("hits");
    // Pairs: cat->狗, 猫->cat, ""->x, 狗狗->dog: the second's work is not counted again by
    // the first, and the last counts what the first made.
    const QString text = QString::fromUtf8("catcat 第一 猫\r\n");
    QTest::newRow("utf-8, from bytes") << Utf8(text) << QList<int>{2, 1, 0, 1};
    QTest::newRow("gbk, from bytes") << Gbk(text) << QList<int>{2, 1, 0, 1};
    QTest::newRow("utf-16, decoded") << Utf16(text, true) << QList<int>{2, 1, 0, 1};
}

void TestPlan::hitsComeFromTheReplacement()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QList<int>, hits);
    QTemporaryDir tree;
    WriteBytes(tree.path() + QStringLiteral("/f.txt"), bytes);
    const BatchSettings settings = InPlace(tree.path());
    std::vector<PlannedFile> files;
    Planned(Operation::ReplacePairs, settings, &files);
    QCOMPARE(files.size(), size_t(1));
    const std::vector<int> expected(hits.begin(), hits.end());
    QCOMPARE(files[0].matches, expected);
    RunOptions counting;
    counting.countHits = true;
    const RunResult run = RunBatch(Operation::ReplacePairs, settings, {}, counting);
    QCOMPARE(run.hits, std::vector<qint64>(hits.begin(), hits.end()));
}

void TestPlan::byteDiffIsTheTextDiff_data()
{
    // UTF-8, GBK and UTF-16 are diffed on their bytes: each must show the changes of the
    // decoded texts, whatever the line ends.
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("replacement");
    const QString lines = QString::fromUtf8("狗\n新行");
    QTest::newRow("crlf") << QString::fromUtf8("一\r\ncat 二\r\n三\r\n") << lines;
    QTest::newRow("lone cr and lf") << QString::fromUtf8("一\rcat\n二\r\ncat") << lines;
    QTest::newRow("lines added") << QString::fromUtf8("cat\n一\n二\n三\n四\n五\n六\n七\ncat")
                                 << lines;
    // 000A and 000D inside other code units: only whole units end a line.
    QTest::newRow("line-end bytes in units")
        << QString::fromUtf8("\u0A0D\u0D0Acat\n\u0A00\r\n") << lines;
    // As many lines after as before: the lines are compared one against the other, and the
    // hunks' context must come out as the diff's. Changes six lines apart share a hunk, seven
    // apart do not.
    const QString kept = QString::fromUtf8("一\n二\n三\n四\n五\n六\n");
    QTest::newRow("lines kept, first and last line")
        << QStringLiteral("cat\r\n") + kept + kept + QStringLiteral("cat")
        << QString::fromUtf8("狗");
    QTest::newRow("lines kept, near and apart")
        << kept + QStringLiteral("cat\n") + kept + QStringLiteral("cat\rcat\n七\n") + kept +
               QStringLiteral("cat\n") + kept
        << QString::fromUtf8("狗");
}

void TestPlan::byteDiffIsTheTextDiff()
{
    QFETCH(QString, text);
    QFETCH(QString, replacement);
    QTemporaryDir tree;
    WriteBytes(tree.path() + QStringLiteral("/a.txt"), Utf8(text));
    WriteBytes(tree.path() + QStringLiteral("/b.txt"), Gbk(text));
    WriteBytes(tree.path() + QStringLiteral("/c.txt"), Utf16(text, true));
    BatchSettings settings = InPlace(tree.path());
    settings.replaceText = replacement;
    // Each file twice: as text, and as UTF-8 where the bytes are that.
    std::vector<PlannedFile> files;
    Planned(Operation::ReplaceText, settings, &files);
    PlanOptions inUtf8;
    inUtf8.utf8Hunks = true;
    MakePlan(
        Operation::ReplaceText, settings, [&](const PlannedFile &file) { files.push_back(file); },
        {}, {}, inUtf8);
    QCOMPARE(files.size(), size_t(6));
    QVERIFY(files[3].utf8Hunks); // a.txt
    const auto shown = [](const PlannedFile &file) {
        QStringList lines;
        for (const DiffHunk &hunk : file.hunks)
            lines << (file.utf8Hunks ? QString::fromUtf8(UnifiedHunkUtf8(hunk))
                                     : UnifiedHunk(hunk));
        return lines;
    };
    QString before = text;
    NormaliseLineEnds(before);
    QString after = before;
    after.replace(settings.findText, settings.replaceText);
    QStringList expected;
    for (const DiffHunk &hunk : DiffTexts(TextLines::of(before), TextLines::of(after)))
        expected << UnifiedHunk(hunk);
    QVERIFY(!expected.isEmpty());
    // GBK holds the text only where it has every character.
    const bool inGbk = QTextCodec::codecForName("GBK")->toUnicode(Gbk(text)) == text;
    for (const PlannedFile &file : files) {
        if (inGbk || file.relativePath != QLatin1String("b.txt"))
            QCOMPARE(shown(file), expected);
    }
}

void TestPlan::changesAreTheTextDiffs_data()
{
    // A plan's changes, made from the bytes, in text or in UTF-8, must be the text diff's.
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("replacement");
    QTest::newRow("runs of lines") << QString::fromUtf8("cat\ncat 一\n二\r\ncat\r三\ncat") << "狗";
    QTest::newRow("lines added") << QString::fromUtf8("一\ncat\n二\n") << "狗\n新行";
    QTest::newRow("a run over both line ends")
        << QString::fromUtf8("cat 一\ncat\r\ncat\r二\rcat\r\n") << "狗";
    QTest::newRow("lines removed") << QString::fromUtf8("一\ncat\n二\n") << "";
    QTest::newRow("no line changes") << QString::fromUtf8("cat\n一\n") << "cat";
    QTest::newRow("escapes") << QString::fromUtf8("\t\"cat\\\" 一二三四五六七八\n") << "\x01狗";
}

void TestPlan::changesAreTheTextDiffs()
{
    QFETCH(QString, text);
    QFETCH(QString, replacement);
    QTemporaryDir tree;
    WriteBytes(tree.path() + QStringLiteral("/a.txt"), Utf8(text));
    WriteBytes(tree.path() + QStringLiteral("/b.txt"), Gbk(text));
    WriteBytes(tree.path() + QStringLiteral("/c.txt"), Utf16(text, true));
    BatchSettings settings = InPlace(tree.path());
    settings.replaceText = replacement;
    QString before = text;
    NormaliseLineEnds(before);
    QString after = before;
    after.replace(settings.findText, replacement);
    QStringList expected;
    for (const DiffHunk &hunk : DiffTexts(TextLines::of(before), TextLines::of(after), 0)) {
        QStringList removed;
        QStringList added;
        for (const DiffLine &line : hunk.lines)
            (line.kind == DiffLine::Removed ? removed : added) << line.text;
        expected << QStringLiteral("%1:%2>%3")
                        .arg(hunk.oldCount == 0 ? hunk.oldStart + 1 : hunk.oldStart)
                        .arg(removed.join(QLatin1Char('\n')), added.join(QLatin1Char('\n')));
    }
    for (const bool utf8 : {false, true}) {
        PlanOptions options;
        options.withHunks = false;
        options.utf8Texts = utf8;
        int planned = 0;
        MakePlan(
            Operation::ReplaceText, settings,
            [&](const PlannedFile &file) {
                ++planned;
                QStringList shown;
                for (const PlannedChange &change : file.changes)
                    shown << QStringLiteral("%1:%2>%3")
                                 .arg(change.line)
                                 .arg(utf8 ? QString::fromUtf8(change.beforeUtf8) : change.before,
                                      utf8 ? QString::fromUtf8(change.afterUtf8) : change.after);
                QCOMPARE(shown, expected);
                // The plan line holds them as JSON does.
                const QJsonArray changes = QJsonDocument::fromJson(PlanFileLine(file))
                                               .object()
                                               .value(QStringLiteral("changes"))
                                               .toArray();
                QCOMPARE(changes.size(), expected.size());
                for (int i = 0; i < changes.size(); ++i)
                    QCOMPARE(changes.at(i).toObject().value(QStringLiteral("after")).toString(),
                             expected.at(i).section(QLatin1Char('>'), 1));
            },
            {}, {}, options);
        QCOMPARE(planned, 3);
    }
}

void TestPlan::unifiedHunks_data()
{
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("after");
    QTest::addColumn<QString>("diff");
    QTest::newRow("far apart") << "1\n2\n3\n4\n5\n6\n7\n8\n9\n10\n"
                               << "x\n2\n3\n4\n5\n6\n7\n8\n9\ny\n"
                               << "@@ -1,4 +1,4 @@\n-1\n+x\n 2\n 3\n 4\n"
                                  "@@ -7,4 +7,4 @@\n 7\n 8\n 9\n-10\n+y\n";
    QTest::newRow("into empty") << ""
                                << "a\n"
                                << "@@ -0,0 +1 @@\n+a\n";
    QTest::newRow("line end lost") << "a\nb\n"
                                   << "a\nb"
                                   << "@@ -1,2 +1,2 @@\n a\n-b\n+b\n\\ No newline at end of file\n";
    QTest::newRow("lines removed") << "a\nb\nc\n"
                                   << "a\nc\n"
                                   << "@@ -1,3 +1,2 @@\n a\n-b\n c\n";
}

void TestPlan::unifiedHunks()
{
    QFETCH(QString, before);
    QFETCH(QString, after);
    QFETCH(QString, diff);
    QString unified;
    for (const DiffHunk &hunk : DiffTexts(TextLines::of(before), TextLines::of(after)))
        unified += UnifiedHunk(hunk);
    QCOMPARE(unified, diff);
}

void TestPlan::planFileKeepsPathsAndHashes()
{
    BatchSettings settings = InPlace(QStringLiteral("/src"));
    PlannedFile file;
    file.relativePath = QStringLiteral("a/") + DecodeFileName(QByteArray("\xB2\xE2.txt"));
    file.hash = 0xfedcba9876543210ULL;
    // Written by hand: the texts must come back as QJsonDocument reads them.
    const QString awkward = QString::fromUtf8("\"引号\" \\ \t\x01\x1f\r\n\u2028😀");
    file.changes.push_back({7, awkward, awkward + QLatin1Char('x')});
    PlannedFile failed;
    failed.relativePath = QStringLiteral("b.txt");
    failed.failed = true;
    const QJsonObject line = QJsonDocument::fromJson(PlanFileLine(file)).object();
    const QJsonObject change = line.value(QStringLiteral("changes")).toArray().at(0).toObject();
    QCOMPARE(change.value(QStringLiteral("before")).toString(), awkward);
    QCOMPARE(change.value(QStringLiteral("line")).toInt(), 7);
    QCOMPARE(PlanFileLine(file), QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n');
    file.newHash = 0x0123456789abcdefULL;
    StoredPlan plan;
    QString error;
    QVERIFY2(ParsePlan(PlanHeaderLine(Operation::ReplacePairs, settings) + PlanFileLine(file) +
                           PlanFileLine(failed) + PlanEndLine(2),
                       plan, error),
             qPrintable(error));
    QCOMPARE(plan.operation, Operation::ReplacePairs);
    QCOMPARE(plan.settings.findLines, settings.findLines);
    QCOMPARE(plan.settings.replaceLines, settings.replaceLines);
    QCOMPARE(plan.files.keys(), QStringList{file.relativePath});
    const ReviewedFile reviewed = plan.files.value(file.relativePath);
    QCOMPARE(reviewed.hash, file.hash);
    QCOMPARE(reviewed.newHash, file.newHash);
    QCOMPARE(reviewed.changesHash, ChangesHash(file.changes, false));
    QCOMPARE(plan.failedFiles, 1);
}

void TestPlan::planRefusedWhole_data()
{
    // A plan of a header, two files and its end; each row edits one line ("" removes it).
    QTest::addColumn<int>("line");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("cutLastFeed");
    QTest::addColumn<QString>("error"); // empty: the plan is taken
    QTest::newRow("whole") << 0 << QByteArray() << false << QString();
    QTest::newRow("an older plan, without its end") << 0 << QByteArray() << false << QString();
    QTest::newRow("cut at a line break")
        << 4 << QByteArray() << false << QString::fromUtf8("在第3行之后被截断");
    QTest::newRow("cut within a line")
        << 0 << QByteArray() << true << QString::fromUtf8("第4行:不完整");
    QTest::newRow("a file left out")
        << 2 << QByteArray() << false << QString::fromUtf8("第3行:计划结尾记录2个文件,实际列出1个");
    QTest::newRow("an array") << 2 << QByteArray("[1]") << false
                              << QString::fromUtf8("第2行:不是JSON对象");
    QTest::newRow("broken JSON") << 3 << QByteArray("{\"path\":") << false
                                 << QString::fromUtf8("第3行:不是JSON对象");
    QTest::newRow("an empty line")
        << 3 << QByteArray(" ") << false << QString::fromUtf8("第3行:不是JSON对象");
    QTest::newRow("out of the folder") << 2 << QByteArray("{\"path\":\"../x.txt\"}") << false
                                       << QString::fromUtf8("第2行:../x.txt 不是文件夹之内的路径");
    QTest::newRow("absolute") << 2 << QByteArray("{\"path\":\"/etc/x.txt\"}") << false
                              << QString::fromUtf8("第2行:/etc/x.txt 不是文件夹之内的路径");
    QTest::newRow("no new hash")
        << 2 << QByteArray("{\"changes\":[],\"hash\":\"0000000000000001\",\"path\":\"a.txt\"}")
        << false << QString::fromUtf8("第2行:缺少哈希值");
    QTest::newRow("no changes") << 2
                                << QByteArray("{\"hash\":\"0000000000000001\",\"newHash\":"
                                              "\"0000000000000002\",\"path\":\"a.txt\"}")
                                << false << QString::fromUtf8("第2行:缺少修改内容");
    QTest::newRow("listed twice") << 3 << QByteArray() << false
                                  << QString::fromUtf8("第3行:a.txt 重复列出");
    QTest::newRow("after the end")
        << 5 << QByteArray("{}") << false << QString::fromUtf8("第5行:位于计划结尾之后");
}

void TestPlan::planRefusedWhole()
{
    QFETCH(int, line);
    QFETCH(QByteArray, text);
    QFETCH(bool, cutLastFeed);
    QFETCH(QString, error);
    PlannedFile file;
    file.relativePath = QStringLiteral("a.txt");
    file.hash = 1;
    file.newHash = 2;
    file.changes.push_back({1, QStringLiteral("x"), QStringLiteral("y")});
    QList<QByteArray> lines{PlanHeaderLine(Operation::ReplaceText, InPlace(QStringLiteral("/s"))),
                            PlanFileLine(file)};
    file.relativePath = QStringLiteral("b.txt");
    lines << PlanFileLine(file) << PlanEndLine(2);
    if (QTest::currentDataTag() == QByteArray("listed twice")) {
        lines[2] = lines[1];
    } else if (QTest::currentDataTag() == QByteArray("an older plan, without its end")) {
        lines[0].replace("\"version\":2", "\"version\":1");
        lines.removeLast();
    } else if (line > lines.size())
        lines << text + '\n';
    else if (line > 0 && text.isEmpty())
        lines.removeAt(line - 1);
    else if (line > 0)
        lines[line - 1] = text + '\n';
    QByteArray bytes = lines.join();
    if (cutLastFeed)
        bytes.chop(1);
    StoredPlan plan;
    QString why;
    QCOMPARE(ParsePlan(bytes, plan, why), error.isEmpty());
    QCOMPARE(why, error);
    if (error.isEmpty())
        QCOMPARE(plan.files.size(), 2);
}

void TestPlan::planOver2GiBRefused()
{
    QTemporaryDir folder;
    QFile plan(folder.filePath(QStringLiteral("plan.jsonl")));
    QVERIFY(plan.open(QIODevice::WriteOnly));
    QVERIFY(plan.resize((qint64(2) << 30) + 1)); // sparse: nothing is read before the refusal
    plan.close();
    StoredPlan stored;
    QString error;
    QVERIFY(!ReadPlanFile(plan.fileName(), stored, error));
    QCOMPARE(error, QString::fromUtf8("计划文件超过2 GiB"));
}

void TestPlan::applyRefusesOtherFolders_data()
{
    QTest::addColumn<QString>("chosen"); // what the apply is given instead of the plan's
    QTest::newRow("another source") << "source";
    QTest::newRow("a save folder, not in place") << "save";
}

void TestPlan::applyRefusesOtherFolders()
{
    QFETCH(QString, chosen);
    QTemporaryDir tree;
    QTemporaryDir other;
    MakeTree(tree.path());
    MakeTree(other.path());
    const BatchSettings settings = InPlace(tree.path());
    const ReviewedFiles files = Planned(Operation::ReplaceText, settings);
    BatchSettings given = settings;
    if (chosen == QLatin1String("source")) {
        given.sourceDir = other.path();
    } else {
        given.saveInSource = false;
        given.saveDir = other.path();
    }
    const QMap<QString, QByteArray> before = Contents(tree.path());
    const QMap<QString, QByteArray> otherBefore = Contents(other.path());

    const RunResult applied = ApplyPlan({Operation::ReplaceText, settings, files}, given);

    QCOMPARE(applied.refusal, messagePlanMismatch());
    QCOMPARE(Contents(tree.path()), before);
    QCOMPARE(Contents(other.path()), otherBefore);
}

QTEST_GUILESS_MAIN(TestPlan)
#include "tst_plan.moc"
