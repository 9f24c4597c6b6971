#include "engine/batch/BatchSettings.h"
#include "engine/batch/Failure.h"
#include "engine/batch/FileMasks.h"
#include "engine/batch/LaunchChecks.h"
#include "engine/files/FileNames.h"
#include "engine/files/FileTree.h"
#include "engine/files/Paths.h"
#include "engine/operations/FileHook.h"
#include "engine/report/Reports.h"
#include "engine/run/RunBatch.h"
#include "engine/run/TextFile.h"
#include "tests/engine/Fixture.h"
#include "tests/engine/RunRecorder.h"

#include <QDateTime>
#include <QProcess>
#include <QScopeGuard>
#include <QTest>

#include <cerrno>
#include <cstring>

#include <memory>

#ifdef Q_OS_WIN
// Without the common dialogs, whose macros would rename FindText and ReplaceText.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#endif
#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

using namespace fixture;

Q_DECLARE_METATYPE(Operation)

namespace {

// The statistics line with the elapsed seconds of the run filled in.
QString Line(const char *pattern, const RunResult &result)
{
    return QString::fromUtf8(pattern).arg(result.seconds);
}

} // namespace

class TestRunBatch : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void statistics_data();
    void statistics();
    void mirroredSaveFolder();
    void editInPlace_data();
    void editInPlace();
    void findOnly_data();
    void findOnly();
    void fileMasks_data();
    void fileMasks();
    void findAnyAndNone_data();
    void findAnyAndNone();
    void unreadableFile_data();
    void unreadableFile();
    void unwritableTarget_data();
    void unwritableTarget();
    void leftAloneInPlace_data();
    void leftAloneInPlace();
    void tooLarge_data();
    void tooLarge();
    void decisionReservesOnce_data();
    void decisionReservesOnce();
    void killedWritersTemporaryRemoved_data();
    void killedWritersTemporaryRemoved();
    void sameFolderRefused_data();
    void sameFolderRefused();
    void linkedSaveFolderNeverOverwritesSource();
    void nestedSaveFolderNeverOverwritesOtherSources_data();
    void nestedSaveFolderNeverOverwritesOtherSources();
    void symlinkTargetRefused();
    void permissionsKept();
    void dryRunWritesNothing();
    void stopEndsCleanly();
    void reportsInsideSourceFolder();
    void reportsAtTopNotEdited_data();
    void reportsAtTopNotEdited();
    void pairCountMismatchRefused();
    void reportBytes_data();
    void reportBytes();
    void unwritableReportTold();
#ifdef Q_OS_UNIX
    void namesThatAreNotTextEdited_data();
    void namesThatAreNotTextEdited();
    void unlistableFolderFailed();
#endif

private:
    std::unique_ptr<QTemporaryDir> temp;
    QString src;
    QString out;
    BatchSettings settings;
};

void TestRunBatch::init()
{
    temp = std::make_unique<QTemporaryDir>();
    src = temp->filePath(QStringLiteral("src"));
    out = temp->filePath(QStringLiteral("out"));
    QVERIFY(QDir().mkpath(src));
    QVERIFY(QDir().mkpath(out));
    settings = BatchSettings();
    settings.sourceDir = src + QLatin1Char('/');
    settings.saveDir = out + QLatin1Char('/');
}

void TestRunBatch::statistics_data()
{
    QTest::addColumn<Operation>("operation");
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QString>("line");
    const QStringList none;
    const QStringList mixed = Names({"a.txt", "b.TXT", "c.doc", "d/e.txt", "d/f.txt.bak"});
    QTest::newRow("empty folder") << Operation::ReplaceText << none
                                  << QStringLiteral(
                                         "扫描文件0个,查找符合类型文件0个,修改文件0个,耗时%1秒。");
    QTest::newRow("no text files")
        << Operation::InsertText << Names({"x.doc", "y.txt.bak"})
        << QStringLiteral("扫描文件2个,查找符合类型文件0个,修改文件0个,耗时%1秒。");
    QTest::newRow("replace") << Operation::ReplaceText << mixed
                             << QStringLiteral(
                                    "扫描文件5个,查找符合类型文件3个,修改文件2个,耗时%1秒。");
    QTest::newRow("find only")
        << Operation::FindText << mixed
        << QStringLiteral(
               "扫描文件5个,查找符合类型文件3个,包含查找内容文件2个,修改文件0个,耗时%1秒。");
    QTest::newRow("find only, empty")
        << Operation::FindText << none
        << QStringLiteral(
               "扫描文件0个,查找符合类型文件0个,包含查找内容文件0个,修改文件0个,耗时%1秒。");
}

void TestRunBatch::statistics()
{
    QFETCH(Operation, operation);
    QFETCH(QStringList, files);
    QFETCH(QString, line);
    // a.txt and d/e.txt hold the search text, b.TXT does not.
    for (const QString &file : files)
        QVERIFY(WriteBytes(QDir(src).filePath(file),
                           file == QLatin1String("b.TXT") ? "nothing" : "小云"));
    settings.findText = QStringLiteral("小云");
    settings.searchTerms = QStringLiteral("小云");
    settings.saveInSource = true;
    RunRecorder recorder;
    const RunResult result = RunBatch(operation, settings, recorder.observer());
    QVERIFY(result.seconds == 0 || result.seconds == 1);
    QCOMPARE(result.statistics, line.arg(result.seconds));
    QCOMPARE(recorder.shown.last(), result.statistics);
    QCOMPARE(recorder.finished, 1);
    QCOMPARE(recorder.shown.size(), result.txtFiles + 1);
    if (result.changed == 0) {
        QVERIFY(recorder.opened.isEmpty());
        QVERIFY(!QFile::exists(QDir(src).filePath(reportMatchedName)));
    }
}

void TestRunBatch::mirroredSaveFolder()
{
    const QString hit = QStringLiteral("小云望着江水，小吉没有说话。\n");
    QVERIFY(WriteBytes(src + QStringLiteral("/a.txt"), Utf8(hit)));
    QVERIFY(WriteBytes(src + QStringLiteral("/sub/b.txt"), Gbk(hit)));
    QVERIFY(WriteBytes(src + QStringLiteral("/sub/c.txt"), Gbk(QStringLiteral("别的故事\n"))));
    QVERIFY(WriteBytes(src + QStringLiteral("/quiet/d.txt"), "nothing here"));
    QVERIFY(WriteBytes(src + QStringLiteral("/sub/deep/e.txt"), Bom() + Utf8(hit)));
    QVERIFY(WriteBytes(src + QStringLiteral("/x.doc"), Utf8(hit)));
    const QStringList sourceBefore = TreeListing(src);
    settings.saveDir = out; // typed without the final separator
    settings.findText = QStringLiteral("小云");
    settings.replaceText = QStringLiteral("阿云");
    RunRecorder recorder;
    const RunResult result = RunBatch(Operation::ReplaceText, settings, recorder.observer());

    QCOMPARE(TreeListing(out),
             Names({"a.txt", "sub/", "sub/b.txt", "sub/deep/", "sub/deep/e.txt"}));
    QVERIFY(!QFileInfo::exists(temp->filePath(QStringLiteral("outsub"))));
    const QString edited = QStringLiteral("阿云望着江水，小吉没有说话。\r\n");
    QCOMPARE(ReadBytes(out + QStringLiteral("/a.txt")), Utf8(edited));
    QCOMPARE(ReadBytes(out + QStringLiteral("/sub/b.txt")), Gbk(edited));
    QCOMPARE(ReadBytes(out + QStringLiteral("/sub/deep/e.txt")), Utf8(edited));
    QCOMPARE(ReadBytes(src + QStringLiteral("/a.txt")), Utf8(hit));
    QCOMPARE(TreeListing(src), sourceBefore + Names({reportMatchedName.toUtf8().constData()}));

    const QString a = QDir::toNativeSeparators(src + QStringLiteral("/a.txt"));
    const QString b = QDir::toNativeSeparators(src + QStringLiteral("/sub/b.txt"));
    const QString c = QDir::toNativeSeparators(src + QStringLiteral("/sub/c.txt"));
    const QString d = QDir::toNativeSeparators(src + QStringLiteral("/quiet/d.txt"));
    const QString e = QDir::toNativeSeparators(src + QStringLiteral("/sub/deep/e.txt"));
    const QString report = src + QLatin1Char('/') + reportMatchedName;
    QCOMPARE(ReadBytes(report),
             (a + QStringLiteral("\r\n") + b + QStringLiteral("\r\n") + e + QStringLiteral("\r\n"))
                 .toLocal8Bit());
    // A file is shown as it is taken; it is found once its group of writes is in place.
    QCOMPARE(recorder.events,
             QStringList({QStringLiteral("scan 5"), QStringLiteral("show ") + a,
                          QStringLiteral("show ") + d, QStringLiteral("show ") + b,
                          QStringLiteral("show ") + c, QStringLiteral("show ") + e,
                          QStringLiteral("found ") + a, QStringLiteral("found ") + b,
                          QStringLiteral("found ") + e, QStringLiteral("show ") + result.statistics,
                          QStringLiteral("finished"), QStringLiteral("open ") + report}));
    QCOMPARE(recorder.bytes, 2 * Utf8(hit).size() + 3 + Gbk(hit).size() + 12 +
                                 Gbk(QStringLiteral("别的故事\n")).size());
}

// One file edited in place: its bytes before and after, or untouched with a failure.
void TestRunBatch::editInPlace_data()
{
    QTest::addColumn<Operation>("operation");
    QTest::addColumn<QStringList>(
        "texts");                   // find/replace, or find lines | replace lines, or insert
    QTest::addColumn<bool>("flag"); // withBom, or insertAtFront for the insert operation
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("output"); // empty: the file must stay as it was
    QTest::addColumn<QString>("reason");    // the failure, if any

    const auto R = Operation::ReplaceText;
    const auto P = Operation::ReplacePairs;
    const auto I = Operation::InsertText;
    const QString none;
    QTest::newRow("case matters") << R << Names({"abc", "X"}) << false << QByteArray("Abc")
                                  << QByteArray() << none;
    QTest::newRow("no overlap") << R << Names({"aa", "X"}) << false << QByteArray("aaa")
                                << QByteArray("Xa") << none;
    QTest::newRow("no cascade") << R << Names({"a", "aa"}) << false << QByteArray("a")
                                << QByteArray("aa") << none;
    QTest::newRow("empty replacement deletes")
        << R << Names({"b", ""}) << false << QByteArray("abc") << QByteArray("ac") << none;
    QTest::newRow("same text still written")
        << R << Names({"a", "a"}) << true << QByteArray("a\nb") << Bom() + "a\r\nb" << none;
    QTest::newRow("empty find matches nothing")
        << R << Names({"", "X"}) << false << QByteArray("abc") << QByteArray() << none;
    QTest::newRow("gbk keeps gbk")
        << R << Names({"小云", "小吉"}) << false << Gbk(QStringLiteral("小云\n"))
        << Gbk(QStringLiteral("小吉\r\n")) << none;
    QTest::newRow("lone carriage returns kept as breaks")
        << R << Names({"b", "B"}) << false << QByteArray("a\rb\rc\r\nd\n")
        << QByteArray("a\r\nB\r\nc\r\nd\r\n") << none;
    QTest::newRow("pairs in order") << P << Names({"a", "b", "|", "b", "c"}) << false
                                    << QByteArray("ab") << QByteArray("cc") << none;
    QTest::newRow("pairs other order") << P << Names({"b", "a", "|", "c", "b"}) << false
                                       << QByteArray("ab") << QByteArray("bc") << none;
    QTest::newRow("pairs swap attempt") << P << Names({"x", "y", "|", "y", "x"}) << false
                                        << QByteArray("xy") << QByteArray("xx") << none;
    QTest::newRow("pairs trailing empty lines skipped")
        << P << Names({"a", "", "|", "b", ""}) << false << QByteArray("a") << QByteArray("b")
        << none;
    QTest::newRow("pairs only empty entries")
        << P << Names({"", "|", "X"}) << false << QByteArray("abc") << QByteArray() << none;
    QTest::newRow("pair blank belongs to line")
        << P << Names({"a ", "|", "X"}) << false << QByteArray("a\nb") << QByteArray() << none;
    QTest::newRow("insert front") << I << Names({"abc"}) << true << QByteArray("xyz")
                                  << QByteArray("abcxyz") << none;
    QTest::newRow("insert behind after final break")
        << I << Names({"abc"}) << false << QByteArray("xyz\r\n") << QByteArray("xyz\r\nabc")
        << none;
    QTest::newRow("insert into empty file")
        << I << Names({"a\nb"}) << false << QByteArray() << QByteArray("a\r\nb") << none;
    QTest::newRow("insert after utf8 mark")
        << I << Names({"前"}) << true << Bom() + Utf8(QStringLiteral("文"))
        << Utf8(QStringLiteral("前文")) << none;
    QTest::newRow("insert after utf16 mark")
        << I << Names({"前"}) << true << Utf16(QStringLiteral("文\r\n"), false)
        << Utf16(QStringLiteral("前文\r\n"), false) << none;
    QTest::newRow("emoji into gbk refused")
        << I << Names({"😀"}) << true << Gbk(QStringLiteral("小云")) << QByteArray()
        << reasonUnrepresentable();
    QTest::newRow("invalid gbk bytes untouched")
        << I << Names({"x"}) << true << QByteArray("\xD0\xA1\x81\x20\r\n\xA1") << QByteArray()
        << reasonNotLossless();
    QTest::newRow("truncated utf8 untouched")
        << R << Names({"a", "b"}) << false << Utf8(QStringLiteral("a小")).chopped(2) << QByteArray()
        << reasonNotLossless();
    QTest::newRow("utf8 cut off, not clean gbk, untouched")
        << I << Names({"前"}) << true << Utf8(QStringLiteral("小云吉吉")).chopped(1) << QByteArray()
        << reasonNotLossless();
    const QByteArray novel =
        Utf8(QStringLiteral("小云在山上看见了很多的花朵和树木，他很高兴地走回家中。\r\n"));
    QTest::newRow("damaged utf8 untouched")
        << R << Names({"小云", "小雲"}) << false << novel + '\xE5' + novel << QByteArray()
        << reasonDamagedUtf8();
    QTest::newRow("gbk ending like cut-off utf8 edited")
        << R << Names({"濂", "X"}) << false << QByteArray("ver 2: \xE5\xA5")
        << QByteArray("ver 2: X") << none;
    QTest::newRow("utf16 without mark not edited")
        << I << Names({"P "}) << true << Utf16(QStringLiteral("Hello\r\n"), true, false)
        << QByteArray() << reasonNotText();
    QTest::newRow("nul in gbk not edited")
        << R << Names({"a", "b"}) << false << QByteArray("a\0\xD0\xA1", 4) << QByteArray()
        << reasonNotText();
    QTest::newRow("odd utf16 untouched")
        << I << Names({"x"}) << true << Utf16(QStringLiteral("ab"), true) + 'z' << QByteArray()
        << reasonNotLossless();
}

void TestRunBatch::editInPlace()
{
    QFETCH(Operation, operation);
    QFETCH(QStringList, texts);
    QFETCH(bool, flag);
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, output);
    QFETCH(QString, reason);
    const QString file = src + QStringLiteral("/f.txt");
    QVERIFY(WriteBytes(file, input));
    settings.saveInSource = true;
    settings.detectUtf16 = true;
    settings.withBom = flag;
    if (operation == Operation::ReplaceText) {
        settings.findText = texts.at(0);
        settings.replaceText = texts.at(1);
    } else if (operation == Operation::ReplacePairs) {
        const int bar = texts.indexOf(QStringLiteral("|"));
        settings.findLines = texts.mid(0, bar);
        settings.replaceLines = texts.mid(bar + 1);
    } else {
        settings.insertText = texts.at(0);
        settings.insertAtFront = flag;
        settings.withBom = false;
    }
    RunRecorder recorder;
    const RunResult result = RunBatch(operation, settings, recorder.observer());
    const QString native = QDir::toNativeSeparators(file);
    QCOMPARE(ReadBytes(file), output.isEmpty() ? input : output);
    QCOMPARE(recorder.found, output.isEmpty() ? QStringList() : QStringList{native});
    QCOMPARE(recorder.reasons, reason.isEmpty() ? QStringList() : QStringList{reason});
    QCOMPARE(result.changed, output.isEmpty() ? 0 : 1);
    QCOMPARE(result.failed, reason.isEmpty() ? 0 : 1);
    QCOMPARE(TreeListing(src).contains(reportUnreadableName), !reason.isEmpty());
}

void TestRunBatch::findOnly_data()
{
    QTest::addColumn<QString>("terms");
    QTest::addColumn<QStringList>("matched");
    QTest::newRow("both terms") << QStringLiteral("小云||小吉")
                                << Names({"both.txt", "gbk.txt", "lines.txt"});
    QTest::newRow("one term") << QStringLiteral("小云")
                              << Names({"both.txt", "gbk.txt", "lines.txt", "yun.txt"});
    QTest::newRow("trailing separator")
        << QStringLiteral("小云||") << Names({"both.txt", "gbk.txt", "lines.txt", "yun.txt"});
    QTest::newRow("empty lists every file")
        << QString() << Names({"both.txt", "empty.txt", "gbk.txt", "lines.txt", "yun.txt"});
    QTest::newRow("four bars") << QStringLiteral("||||")
                               << Names(
                                      {"both.txt", "empty.txt", "gbk.txt", "lines.txt", "yun.txt"});
    QTest::newRow("three bars") << QStringLiteral("a|||b") << Names({"yun.txt"});
    QTest::newRow("leading blank") << QStringLiteral(" 小云") << Names({"lines.txt"});
    QTest::newRow("case matters") << QStringLiteral("ABC") << QStringList();
}

void TestRunBatch::findOnly()
{
    QFETCH(QString, terms);
    QFETCH(QStringList, matched);
    QVERIFY(WriteBytes(src + QStringLiteral("/both.txt"), Utf8(QStringLiteral("小吉遇见小云"))));
    QVERIFY(WriteBytes(src + QStringLiteral("/empty.txt"), QByteArray()));
    QVERIFY(WriteBytes(src + QStringLiteral("/gbk.txt"), Gbk(QStringLiteral("小云\r\n小吉\r\n"))));
    QVERIFY(WriteBytes(src + QStringLiteral("/lines.txt"),
                       Utf16(QStringLiteral("甲 小云\n乙小吉"), true)));
    QVERIFY(WriteBytes(src + QStringLiteral("/yun.txt"), Utf8(QStringLiteral("小云 abc a|b"))));
    const QStringList before = TreeListing(src);
    settings.searchTerms = terms;
    settings.detectUtf16 = true;
    settings.saveDir.clear();
    RunRecorder recorder;
    const RunResult result = RunBatch(Operation::FindText, settings, recorder.observer());
    QStringList expected;
    for (const QString &name : matched)
        expected += QDir::toNativeSeparators(src + QLatin1Char('/') + name);
    QCOMPARE(recorder.found, expected);
    QCOMPARE(result.changed, matched.size());
    QCOMPARE(TreeListing(out), QStringList());
    QStringList after = TreeListing(src);
    if (!matched.isEmpty()) {
        after.removeOne(reportMatchedName);
        QStringList lines;
        for (const QString &path : expected)
            lines += path + QStringLiteral("\r\n");
        QCOMPARE(ReadBytes(src + QLatin1Char('/') + reportMatchedName),
                 lines.join(QString()).toLocal8Bit());
    }
    QCOMPARE(after, before);
    QCOMPARE(ReadBytes(src + QStringLiteral("/gbk.txt")), Gbk(QStringLiteral("小云\r\n小吉\r\n")));
}

void TestRunBatch::fileMasks_data()
{
    QTest::addColumn<QString>("masks");
    QTest::addColumn<QStringList>("taken"); // in scan order
    QTest::addColumn<int>("scanned");
    const QStringList txt =
        Names({"a.txt", "B.TXT", "小说备份.txt", "old/f.txt", "older/g.txt", "备份/e.txt"});
    QTest::newRow("default: .txt in any case") << QString() << txt << 11;
    QTest::newRow("other types only")
        << QStringLiteral("*.srt;*.md") << Names({"c.srt", "d.md"}) << 11;
    QTest::newRow("full-width separator, case ignored")
        << QStringLiteral(" *.txt ；*.SRT")
        << Names({"a.txt", "B.TXT", "c.srt", "小说备份.txt", "old/f.txt", "older/g.txt",
                  "备份/e.txt"})
        << 11;
    QTest::newRow("exclusion leaves out files and folders")
        << QStringLiteral("!*备份*") << Names({"a.txt", "B.TXT", "old/f.txt", "older/g.txt"}) << 10;
    QTest::newRow("folder name skipped, not its prefix")
        << QStringLiteral("*.txt;!old")
        << Names({"a.txt", "B.TXT", "小说备份.txt", "older/g.txt", "备份/e.txt"}) << 10;
    QTest::newRow("everything but the program's own files")
        << QStringLiteral("*")
        << Names({"a.txt", "B.TXT", "c.srt", "d.md", "x.doc", "小说备份.txt", "old/f.txt",
                  "older/g.txt", "备份/e.txt"})
        << 11;
    QTest::newRow("one character")
        << QStringLiteral("?.txt")
        << Names({"a.txt", "B.TXT", "old/f.txt", "older/g.txt", "备份/e.txt"}) << 11;
    QTest::newRow("a path is refused") << QStringLiteral("old/*.txt") << QStringList() << 0;
}

void TestRunBatch::fileMasks()
{
    QFETCH(QString, masks);
    QFETCH(QStringList, taken);
    QFETCH(int, scanned);
    for (const char *name :
         {"a.txt", "B.TXT", "c.srt", "d.md", "x.doc", "小说备份.txt", "old/f.txt", "older/g.txt",
          "备份/e.txt", ".parafold-99999-0123456789abcdef.tmp"})
        QVERIFY(WriteBytes(QDir(src).filePath(QString::fromUtf8(name)), "x"));
    QVERIFY(WriteBytes(QDir(src).filePath(reportMatchedName), "stale\r\n"));
    settings.fileMasks = masks;
    RunRecorder recorder;
    const RunResult result = RunBatch(Operation::FindText, settings, recorder.observer());
    QStringList expected;
    for (const QString &name : taken)
        expected += QDir::toNativeSeparators(src + QLatin1Char('/') + name);
    QCOMPARE(recorder.found, expected);
    QCOMPARE(result.scanned, scanned);
    if (scanned == 0) {
        QVERIFY(result.refusal.startsWith(messageBadFileMask()));
        return;
    }
    QCOMPARE(result.txtFiles, taken.size());
    QVERIFY2(result.statistics.contains(QStringLiteral("查找符合类型文件%1个").arg(taken.size())),
             qPrintable(result.statistics));
}

void TestRunBatch::findAnyAndNone_data()
{
    QTest::addColumn<QString>("all");
    QTest::addColumn<QString>("any");
    QTest::addColumn<QString>("none");
    QTest::addColumn<QStringList>("matched");
    const QString no;
    QTest::newRow("any of two") << no << QStringLiteral("小吉||只有") << no
                                << Names({"big.txt", "gbk.txt", "u16.txt", "u8.txt"});
    QTest::newRow("none alone") << no << no << QStringLiteral("小吉")
                                << Names({"gbk.txt", "plain.txt"});
    QTest::newRow("all and none") << QStringLiteral("小云") << no << QStringLiteral("小吉")
                                  << Names({"gbk.txt"});
    QTest::newRow("all and any") << QStringLiteral("小云") << QStringLiteral("只有||独自") << no
                                 << Names({"gbk.txt"});
    QTest::newRow("empty any piece is no term")
        << no << QStringLiteral("||小吉") << no << Names({"big.txt", "u16.txt", "u8.txt"});
    QTest::newRow("empty none pieces refuse nothing")
        << no << no << QStringLiteral("||")
        << Names({"big.txt", "gbk.txt", "plain.txt", "u16.txt", "u8.txt"});
    QTest::newRow("all three") << QStringLiteral("小") << QStringLiteral("独自||与")
                               << QStringLiteral("一个") << Names({"u16.txt", "u8.txt"});
    QTest::newRow("none found in a later piece")
        << no << no << QStringLiteral("甲||未有")
        << Names({"gbk.txt", "plain.txt", "u16.txt", "u8.txt"});
}

void TestRunBatch::findAnyAndNone()
{
    QFETCH(QString, all);
    QFETCH(QString, any);
    QFETCH(QString, none);
    QFETCH(QStringList, matched);
    // big.txt runs over several pieces, its only term at the end.
    QVERIFY(WriteBytes(src + QStringLiteral("/big.txt"),
                       QByteArray(300 << 10, 'a') + Utf8(QStringLiteral("甲小吉"))));
    QVERIFY(
        WriteBytes(src + QStringLiteral("/gbk.txt"), Gbk(QStringLiteral("小云在这里，只有一个"))));
    QVERIFY(WriteBytes(src + QStringLiteral("/plain.txt"), "nothing here"));
    QVERIFY(WriteBytes(src + QStringLiteral("/u16.txt"), Utf16(QStringLiteral("小吉 独自"), true)));
    QVERIFY(WriteBytes(src + QStringLiteral("/u8.txt"), Utf8(QStringLiteral("小云与小吉"))));
    settings.searchTerms = all;
    settings.anyTerms = any;
    settings.noneTerms = none;
    settings.detectUtf16 = true;
    RunRecorder recorder;
    const RunResult result = RunBatch(Operation::FindText, settings, recorder.observer());
    QStringList expected;
    for (const QString &name : matched)
        expected += QDir::toNativeSeparators(src + QLatin1Char('/') + name);
    QCOMPARE(recorder.found, expected);
    QCOMPARE(result.changed, matched.size());
}

// A file that vanishes between the scan and its turn cannot be read: it matches nothing,
// is never written and goes to the unreadable list.
void TestRunBatch::unreadableFile_data()
{
    QTest::addColumn<Operation>("operation");
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("replacedBy"); // what stands at the file's path at its turn
    const QString insertLine =
        QStringLiteral("扫描文件2个,查找符合类型文件2个,修改文件1个,失败1个,耗时%1秒。");
    const QString findLine =
        QStringLiteral("扫描文件2个,查找符合类型文件2个,包含查找内容文件1个,修改文件0个,失败1个,"
                       "耗时%1秒。");
#ifdef Q_OS_WIN
    // Windows has no named pipes in folders, and QFile::link makes .lnk shortcuts there, no
    // links; so in the tests below.
    const auto standIns = {"nothing", "a folder"};
#else
    const auto standIns = {"nothing", "a pipe", "a folder", "a link to a file"};
#endif
    for (const char *replacedBy : standIns) {
        const QString by = QString::fromUtf8(replacedBy);
        QTest::addRow("insert, %s", replacedBy) << Operation::InsertText << insertLine << by;
        QTest::addRow("find everything, %s", replacedBy) << Operation::FindText << findLine << by;
    }
}

void TestRunBatch::unreadableFile()
{
    QFETCH(Operation, operation);
    QFETCH(QString, line);
    QFETCH(QString, replacedBy);
    const QString gone = src + QStringLiteral("/a.txt");
    const QString kept = src + QStringLiteral("/b.txt");
    QVERIFY(WriteBytes(gone, "a"));
    QVERIFY(WriteBytes(kept, "b"));
    settings.insertText = QStringLiteral("X");
    RunRecorder recorder;
    RunObserver observer = recorder.observer();
    observer.scanFinished = [&](int) {
        QFile::remove(gone);
#ifdef Q_OS_UNIX
        if (replacedBy == QLatin1String("a pipe"))
            QCOMPARE(::mkfifo(QFile::encodeName(gone).constData(), 0644), 0);
#endif
        if (replacedBy == QLatin1String("a folder"))
            QVERIFY(QDir().mkdir(gone));
        else if (replacedBy == QLatin1String("a link to a file"))
            QVERIFY(QFile::link(kept, gone));
    };
    const RunResult result = RunBatch(operation, settings, observer);
    QCOMPARE(result.statistics, line.arg(result.seconds));
    QCOMPARE(recorder.failed, QStringList{QDir::toNativeSeparators(gone)});
    QCOMPARE(recorder.reasons, QStringList{reasonUnreadable()});
    QCOMPARE(recorder.found, QStringList{QDir::toNativeSeparators(kept)});
    QVERIFY(!QFileInfo::exists(out + QStringLiteral("/a.txt")));
    const QString failedReport = src + QLatin1Char('/') + reportUnreadableName;
    const QString foundReport = src + QLatin1Char('/') + reportMatchedName;
    // Each failed file with its reason after a tab.
    QVERIFY2(
        ReadBytes(failedReport)
            .startsWith((QDir::toNativeSeparators(gone) + QLatin1Char('\t') + reasonUnreadable())
                            .toLocal8Bit()),
        ReadBytes(failedReport).constData());
    QVERIFY(ReadBytes(failedReport).endsWith("\r\n"));
    QCOMPARE(ReadBytes(failedReport).count("\r\n"), 1);
    QCOMPARE(recorder.opened, QStringList({failedReport, foundReport}));
}

void TestRunBatch::unwritableTarget_data()
{
    QTest::addColumn<QString>("obstacle"); // what stands in the save folder
    QTest::addColumn<bool>("obstacleIsFolder");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<QString>("systemReason"); // tells the two obstacles apart
#ifdef Q_OS_WIN
    // ERROR_DIRECTORY and ERROR_DIRECTORY_NOT_SUPPORTED, Windows' words for the two
    const QString notFolder = SystemErrorText(ERROR_DIRECTORY);
    const QString isFolder = SystemErrorText(336);
#else
    const QString notFolder = QString::fromLocal8Bit(std::strerror(ENOTDIR));
    const QString isFolder = QString::fromLocal8Bit(std::strerror(EISDIR));
#endif
    QTest::newRow("file where a folder must be")
        << QStringLiteral("sub") << false << reasonFolderFailed() << notFolder;
    QTest::newRow("folder where the file must be")
        << QStringLiteral("sub/a.txt") << true << reasonWriteFailed() << isFolder;
}

void TestRunBatch::unwritableTarget()
{
    QFETCH(QString, obstacle);
    QFETCH(bool, obstacleIsFolder);
    QFETCH(QString, reason);
    QFETCH(QString, systemReason);
    QVERIFY(WriteBytes(src + QStringLiteral("/sub/a.txt"), "hit"));
    QVERIFY(WriteBytes(src + QStringLiteral("/z.txt"), "hit"));
    const QString blocked = out + QLatin1Char('/') + obstacle;
    if (obstacleIsFolder)
        QVERIFY(QDir().mkpath(blocked));
    else
        QVERIFY(WriteBytes(blocked, "not a folder"));
    settings.findText = QStringLiteral("hit");
    settings.replaceText = QStringLiteral("HIT");
    RunRecorder recorder;
    const RunResult result = RunBatch(Operation::ReplaceText, settings, recorder.observer());
    QCOMPARE(recorder.failed,
             QStringList{QDir::toNativeSeparators(src + QStringLiteral("/sub/a.txt"))});
    QCOMPARE(recorder.reasons, QStringList{reason});
    QCOMPARE(recorder.described,
             QStringList{reason + QStringLiteral(" (") + systemReason + QLatin1Char(')')});
    QCOMPARE(recorder.found, QStringList{QDir::toNativeSeparators(src + QStringLiteral("/z.txt"))});
    QCOMPARE(result.changed, 1);
    QCOMPARE(result.failed, 1);
    QVERIFY(result.statistics.contains(QStringLiteral("修改文件1个,失败1个,耗时")));
    QCOMPARE(ReadBytes(out + QStringLiteral("/z.txt")), QByteArray("HIT"));
    if (!obstacleIsFolder)
        QCOMPARE(ReadBytes(blocked), QByteArray("not a folder"));
    const QByteArray matched = ReadBytes(src + QLatin1Char('/') + reportMatchedName);
    QVERIFY(!matched.contains("a.txt"));
}

// What happens to a source file between its read and its turn to be written. Only the
// file as it was read is replaced in place; a file its user may not write is not replaced.
void TestRunBatch::leftAloneInPlace_data()
{
    QTest::addColumn<QString>("meanwhile");
    QTest::addColumn<bool>("inPlace");
    QTest::addColumn<QByteArray>("after"); // at the source path; "<link>" for the outside file
    QTest::addColumn<QString>("reason");
    QTest::newRow("rewritten, same size")
        << QStringLiteral("rewritten") << true << QByteArray("hot") << reasonChangedDuringRun();
    QTest::newRow("grown") << QStringLiteral("grown") << true << QByteArray("hit, and more")
                           << reasonChangedDuringRun();
    QTest::newRow("deleted, not brought back")
        << QStringLiteral("deleted") << true << QByteArray("<missing>") << reasonChangedDuringRun();
#ifndef Q_OS_WIN
    QTest::newRow("swapped for a link")
        << QStringLiteral("linked") << true << QByteArray("<link>") << reasonChangedDuringRun();
#endif
    QTest::newRow("read-only") << QStringLiteral("read-only") << true << QByteArray("hit")
                               << reasonReadOnly();
    QTest::newRow("read-only into a save folder")
        << QStringLiteral("read-only") << false << QByteArray("hit") << QString();
}

void TestRunBatch::leftAloneInPlace()
{
    QFETCH(QString, meanwhile);
    QFETCH(bool, inPlace);
    QFETCH(QByteArray, after);
    QFETCH(QString, reason);
    const QString file = src + QStringLiteral("/a.txt");
    const QString outside = temp->filePath(QStringLiteral("outside.txt"));
    QVERIFY(WriteBytes(file, "hit"));
    QVERIFY(WriteBytes(outside, "root's own"));
    const QByteArray path = QFile::encodeName(file);
#ifdef Q_OS_WIN
    // The read-only attribute, which the temporary folder cannot be removed with.
    if (meanwhile == QLatin1String("read-only"))
        QVERIFY(QFile::setPermissions(file, QFile::ReadOwner));
    const auto writable =
        qScopeGuard([&] { QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner); });
#else
    // Permission bits, not access(): root, who runs CI, may write any file.
    if (meanwhile == QLatin1String("read-only"))
        QCOMPARE(::chmod(path.constData(), 0444), 0);
#endif
    settings.saveInSource = inPlace;
    settings.findText = QStringLiteral("i");
    settings.replaceText = QStringLiteral("I");
    RunRecorder recorder;
    RunObserver observer = recorder.observer();
    observer.showDisposingFile = [&](const QString &shown) { // read and decided by now
        if (shown != QDir::toNativeSeparators(file))
            return;
        if (meanwhile == QLatin1String("rewritten")) {
            QVERIFY(WriteBytes(file, "hot"));
#ifdef Q_OS_WIN
            QFile rewritten(file);
            QVERIFY(rewritten.open(QIODevice::ReadWrite));
            QVERIFY(rewritten.setFileTime(QDateTime::fromSecsSinceEpoch(1000000000),
                                          QFileDevice::FileModificationTime));
#else
            const struct timespec times[2] = {{0, UTIME_OMIT}, {1000000000, 0}};
            QCOMPARE(::utimensat(AT_FDCWD, path.constData(), times, 0), 0);
#endif
        } else if (meanwhile == QLatin1String("grown")) {
            QVERIFY(WriteBytes(file, "hit, and more"));
        } else if (meanwhile != QLatin1String("read-only")) {
            QVERIFY(QFile::remove(file));
            if (meanwhile == QLatin1String("linked"))
                QVERIFY(QFile::link(outside, file));
        }
    };
    const RunResult result = RunBatch(Operation::ReplaceText, settings, observer);
    QCOMPARE(recorder.reasons, reason.isEmpty() ? QStringList() : QStringList{reason});
    QCOMPARE(result.changed, reason.isEmpty() ? 1 : 0);
    QCOMPARE(ReadBytes(outside), QByteArray("root's own"));
    if (after == "<link>")
        QCOMPARE(QFileInfo(file).symLinkTarget(), outside);
    else
        QCOMPARE(ReadBytes(file), after);
    if (!inPlace)
        QCOMPARE(ReadBytes(out + QStringLiteral("/a.txt")), QByteArray("hIt"));
    const QStringList left = QDir(src).entryList(QDir::Hidden | QDir::Files | QDir::System);
    QVERIFY2(left.filter(QStringLiteral(".tmp")).isEmpty(), qPrintable(left.join(u' ')));
}

// A file over the operation's limit fails before it is read; the run goes on. A search reads
// it in pieces and is held to no limit.
void TestRunBatch::tooLarge_data()
{
    QTest::addColumn<Operation>("operation");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<bool>("fails");
    QTest::newRow("edit") << Operation::InsertText << FileSizeLimit(true) + 1 << true;
    QTest::newRow("search") << Operation::FindText << FileSizeLimit(false) + 1 << false;
}

void TestRunBatch::tooLarge()
{
    QFETCH(Operation, operation);
    QFETCH(qint64, size);
    QFETCH(bool, fails);
    const QString large = src + QStringLiteral("/a.txt");
    QFile file(large);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(size)); // sparse: no disk space
    file.close();
    QVERIFY(WriteBytes(src + QStringLiteral("/b.txt"), "b"));
    settings.insertText = QStringLiteral("X");
    settings.searchTerms = QStringLiteral("b");
    RunRecorder recorder;
    const RunResult result = RunBatch(operation, settings, recorder.observer());
    QCOMPARE(recorder.failed, fails ? QStringList{QDir::toNativeSeparators(large)} : QStringList());
    QCOMPARE(recorder.reasons, fails ? QStringList{reasonTooLarge()} : QStringList());
    QCOMPARE(result.changed, 1);
    QCOMPARE(QFileInfo(large).size(), size);
}

// A pipeline counts each reservation as a decision under way: a decision that tries its file
// in pieces and then reads it whole must still reserve once, or the pipeline waits for good.
void TestRunBatch::decisionReservesOnce_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("writes");
    QTest::addColumn<int>("outcome");
    const QString text = QStringLiteral("小云\r\n");
    const int changed = FileOutcome::Changed;
    QTest::newRow("utf-8 edit") << Utf8(text) << true << changed;
    QTest::newRow("utf-16 edit, read whole") << Utf16(text, true) << true << changed;
    QTest::newRow("gbk with NUL edit, read whole")
        << Gbk(text) + '\0' << true << int(FileOutcome::Failed);
    QTest::newRow("unclean gbk search, read whole") << Gbk(text) + '\x81' << false << changed;
}

void TestRunBatch::decisionReservesOnce()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, writes);
    QFETCH(int, outcome);
    QVERIFY(WriteBytes(src + QStringLiteral("/a.txt"), bytes));
    settings.findText = QStringLiteral("小云");
    settings.replaceText = QStringLiteral("小雲");
    settings.searchTerms = settings.findText;
    const FileRule rule(writes ? Operation::ReplaceText : Operation::FindText, settings);
    const FileTree tree(src);
    FileTask task;
    task.sourceTree = &tree;
    task.relativePath = QStringLiteral("a.txt");
    task.writes = writes;
    task.detectUtf16 = true;
    int reservations = 0;
    const FileDecision decision = DecideTextFile(task, rule, [&](qint64) { ++reservations; });
    QCOMPARE(int(decision.outcome.kind), outcome);
    QVERIFY2(reservations <= 1, qPrintable(QString::number(reservations)));
}

void TestRunBatch::killedWritersTemporaryRemoved_data()
{
    QTest::addColumn<Operation>("operation");
    QTest::addColumn<bool>("removed");
    QTest::newRow("edit") << Operation::InsertText << true;
    QTest::newRow("search writes nothing") << Operation::FindText << false;
}

// Only a temporary file whose writer is gone is removed; a running writer's, and names that
// merely look alike, stay.
void TestRunBatch::killedWritersTemporaryRemoved()
{
    QFETCH(Operation, operation);
    QFETCH(bool, removed);
#ifdef Q_OS_WIN
    // A process that has ended, and another that runs: a command prompt waiting for input.
    QProcess ended;
    ended.start(QCoreApplication::applicationFilePath(), {QStringLiteral("-functions")});
    QVERIFY(ended.waitForStarted());
    const qint64 child = ended.processId();
    QVERIFY(ended.waitForFinished());
    QProcess waiting;
    // Without a console: wine's console host would outlive it and hold the test's output.
    waiting.setCreateProcessArgumentsModifier([](QProcess::CreateProcessArguments *arguments) {
        arguments->flags = (arguments->flags & ~DWORD(CREATE_NO_WINDOW)) | DETACHED_PROCESS;
    });
    waiting.start(QStringLiteral("cmd.exe"), {QStringLiteral("/q"), QStringLiteral("/k")});
    QVERIFY(waiting.waitForStarted());
    const qint64 other = waiting.processId();
#else
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(0);
    QCOMPARE(::waitpid(child, nullptr, 0), child);
    const pid_t other = ::getppid();
#endif
    const QString random = QStringLiteral("-0123456789abcdef.tmp");
    const QString stale = QStringLiteral(".parafold-%1").arg(child) + random;
    const QString running = QStringLiteral(".parafold-%1").arg(other) + random;
    const QStringList kept = {running, QStringLiteral(".parafold-notes.tmp"),
                              QStringLiteral("a.txt")};
    for (const QString &name : kept + QStringList{stale})
        QVERIFY(WriteBytes(src + QStringLiteral("/sub/") + name, "x"));
    settings.saveInSource = true;
    settings.insertText = QStringLiteral("X");
    settings.searchTerms = QStringLiteral("x");
    RunOptions options;
    options.writeReports = false;
    const RunResult result = RunBatch(operation, settings, RunObserver(), options);
    QCOMPARE(result.scanned, 4);
    QCOMPARE(QFileInfo::exists(src + QStringLiteral("/sub/") + stale), !removed);
    for (const QString &name : kept)
        QVERIFY2(QFileInfo::exists(src + QStringLiteral("/sub/") + name), qPrintable(name));
}

void TestRunBatch::sameFolderRefused_data()
{
    QTest::addColumn<QString>("save");
    QTest::newRow("same text") << QStringLiteral("src/");
    QTest::newRow("without separator") << QStringLiteral("src");
    QTest::newRow("through dot-dot") << QStringLiteral("src/../src");
#ifndef Q_OS_WIN
    QTest::newRow("through a link") << QStringLiteral("link-to-src");
#endif
    QTest::newRow("empty save folder") << QString();
}

void TestRunBatch::sameFolderRefused()
{
    QFETCH(QString, save);
#ifndef Q_OS_WIN
    QVERIFY(QFile::link(src, temp->filePath(QStringLiteral("link-to-src"))));
#endif
    QVERIFY(WriteBytes(src + QStringLiteral("/a.txt"), "hit"));
    settings.saveDir = save.isEmpty() ? QString() : temp->filePath(save);
    for (Operation operation :
         {Operation::ReplaceText, Operation::ReplacePairs, Operation::InsertText}) {
        settings.findText = QStringLiteral("hit");
        settings.findLines = Names({"hit"});
        settings.replaceLines = Names({"X"});
        RunRecorder recorder;
        const RunResult result = RunBatch(operation, settings, recorder.observer());
        QCOMPARE(result.refusal, save.isEmpty() ? messageSaveMissing() : messageSameFolder());
        QVERIFY(recorder.events.isEmpty());
        QCOMPARE(ReadBytes(src + QStringLiteral("/a.txt")), QByteArray("hit"));
        QCOMPARE(TreeListing(src), Names({"a.txt"}));
    }
}

void TestRunBatch::linkedSaveFolderNeverOverwritesSource()
{
#ifdef Q_OS_WIN
    QSKIP("QFile::link makes .lnk shortcuts on Windows, no links");
#endif
    QVERIFY(WriteBytes(src + QStringLiteral("/sub/a.txt"), "hit"));
    QVERIFY(QFile::link(src + QStringLiteral("/sub"), out + QStringLiteral("/sub")));
    settings.findText = QStringLiteral("hit");
    settings.replaceText = QStringLiteral("X");
    RunRecorder recorder;
    RunBatch(Operation::ReplaceText, settings, recorder.observer());
    QCOMPARE(recorder.reasons, QStringList{reasonTargetIsSource()});
    QCOMPARE(ReadBytes(src + QStringLiteral("/sub/a.txt")), QByteArray("hit"));
}

// A save folder inside the source folder, around it, or reached through a link can put one
// file's target on another file of the scan; that file is the user's original and stays.
void TestRunBatch::nestedSaveFolderNeverOverwritesOtherSources_data()
{
    QTest::addColumn<QString>("saveDir");     // below the temporary folder
    QTest::addColumn<QStringList>("sources"); // below src, each holding "hit" and its name
    QTest::addColumn<QStringList>("links");   // link path, then what it points to
    QTest::addColumn<QStringList>("refused"); // sources whose target is another source
    QTest::addColumn<QStringList>("written"); // new files below the temporary folder

    QTest::newRow("save folder inside the source folder")
        << QStringLiteral("src/out") << Names({"a.txt", "out/a.txt"}) << QStringList()
        << Names({"a.txt"}) << Names({"src/out/out/a.txt"});
    QTest::newRow("source folder inside the save folder")
        << QString() << Names({"a.txt", "src/a.txt"}) << QStringList() << Names({"src/a.txt"})
        << Names({"a.txt"});
#ifndef Q_OS_WIN
    QTest::newRow("save folder links into another source folder")
        << QStringLiteral("out") << Names({"one/a.txt", "two/a.txt"})
        << Names({"out/one", "src/two"}) << Names({"one/a.txt"}) << Names({"out/two/a.txt"});
    QTest::newRow("file link in the save folder to a non-text source")
        << QStringLiteral("out") << Names({"a.txt", "b.doc"}) << Names({"out/a.txt", "src/b.doc"})
        << Names({"a.txt"}) << QStringList();
#endif
}

void TestRunBatch::nestedSaveFolderNeverOverwritesOtherSources()
{
    QFETCH(QString, saveDir);
    QFETCH(QStringList, sources);
    QFETCH(QStringList, links);
    QFETCH(QStringList, refused);
    QFETCH(QStringList, written);
    for (const QString &name : sources)
        QVERIFY(WriteBytes(src + QLatin1Char('/') + name, "hit " + name.toUtf8()));
    for (int i = 0; i + 1 < links.size(); i += 2) {
        QVERIFY(QDir().mkpath(QFileInfo(temp->filePath(links.at(i))).path()));
        QVERIFY(QFile::link(temp->filePath(links.at(i + 1)), temp->filePath(links.at(i))));
    }
    settings.saveDir = temp->filePath(saveDir) + QLatin1Char('/');
    settings.findText = QStringLiteral("hit");
    settings.replaceText = QStringLiteral("X");
    RunRecorder recorder;
    const RunResult result = RunBatch(Operation::ReplaceText, settings, recorder.observer());
    for (const QString &name : sources)
        QCOMPARE(ReadBytes(src + QLatin1Char('/') + name), "hit " + name.toUtf8());
    QStringList refusedPaths;
    for (const QString &name : refused)
        refusedPaths += QDir::toNativeSeparators(src + QLatin1Char('/') + name);
    QCOMPARE(recorder.failed, refusedPaths);
    for (const QString &reason : recorder.reasons)
        QCOMPARE(reason, reasonTargetIsOtherSource());
    QCOMPARE(result.changed, static_cast<int>(written.size()));
    for (const QString &name : written)
        QVERIFY2(ReadBytes(temp->filePath(name)).startsWith("X "), qPrintable(name));
}

// A link in the save folder is written through, like an editor does: the link stays and the
// file it names receives the text.
// A link in the save folder may lead anywhere: the file fails and the link's target stays.
void TestRunBatch::symlinkTargetRefused()
{
#ifdef Q_OS_WIN
    QSKIP("QFile::link makes .lnk shortcuts on Windows, no links");
#endif
    QVERIFY(WriteBytes(src + QStringLiteral("/a.txt"), "hit"));
    const QString elsewhere = temp->filePath(QStringLiteral("elsewhere.txt"));
    QVERIFY(WriteBytes(elsewhere, "old"));
    QVERIFY(QFile::link(elsewhere, out + QStringLiteral("/a.txt")));
    settings.findText = QStringLiteral("hit");
    settings.replaceText = QStringLiteral("X");
    RunRecorder recorder;
    RunBatch(Operation::ReplaceText, settings, recorder.observer());
    QVERIFY(QFileInfo(out + QStringLiteral("/a.txt")).isSymLink());
    QCOMPARE(ReadBytes(elsewhere), QByteArray("old"));
    QCOMPARE(recorder.reasons, QStringList{reasonWriteFailed()});
    QCOMPARE(ReadBytes(src + QStringLiteral("/a.txt")), QByteArray("hit"));
}

void TestRunBatch::permissionsKept()
{
#ifdef Q_OS_WIN
    QSKIP("Windows keeps no permission bits; its read-only attribute is tested above");
#endif
    const QString file = src + QStringLiteral("/a.txt");
    QVERIFY(WriteBytes(file, "hit"));
    const QFile::Permissions mode = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup;
    QVERIFY(QFile::setPermissions(file, mode));
    settings.saveInSource = true;
    settings.journal = false; // the listing below is of the edited folder alone
    settings.findText = QStringLiteral("hit");
    settings.replaceText = QStringLiteral("X");
    RunRecorder recorder;
    RunBatch(Operation::ReplaceText, settings, recorder.observer());
    QCOMPARE(ReadBytes(file), QByteArray("X"));
    QCOMPARE(QFileInfo(file).permissions() & ~(QFile::ReadUser | QFile::WriteUser), mode);
    QCOMPARE(TreeListing(src), Names({"a.txt", reportMatchedName.toUtf8().constData()}));
}

void TestRunBatch::dryRunWritesNothing()
{
    QVERIFY(WriteBytes(src + QStringLiteral("/sub/a.txt"), "hit"));
    QVERIFY(WriteBytes(src + QStringLiteral("/b.txt"), Gbk(QStringLiteral("坏")) + "\x81"));
    settings.insertText = QStringLiteral("X");
    RunOptions options;
    options.dryRun = true;
    RunRecorder recorder;
    const RunResult result =
        RunBatch(Operation::InsertText, settings, recorder.observer(), options);
    QCOMPARE(recorder.found,
             QStringList{QDir::toNativeSeparators(src + QStringLiteral("/sub/a.txt"))});
    QCOMPARE(recorder.reasons, QStringList{reasonNotLossless()});
    QCOMPARE(result.changed, 1);
    QCOMPARE(TreeListing(out), QStringList());
    QCOMPARE(TreeListing(src), Names({"b.txt", "sub/", "sub/a.txt"}));
    QVERIFY(recorder.opened.isEmpty());
}

void TestRunBatch::stopEndsCleanly()
{
    for (const char *name : {"a.txt", "b.txt", "c.txt"})
        QVERIFY(WriteBytes(src + QLatin1Char('/') + QLatin1String(name), "x"));
    std::atomic_bool stop{false};
    RunOptions options;
    options.stop = &stop;
    settings.insertText = QStringLiteral("I");
    RunRecorder recorder;
    RunObserver observer = recorder.observer();
    observer.fileHandled = [&](qint64) { stop = true; };
    const RunResult result = RunBatch(Operation::InsertText, settings, observer, options);
    QVERIFY(result.stopped);
    QCOMPARE(result.changed, 1);
    QCOMPARE(recorder.finished, 1);
    QCOMPARE(TreeListing(out), Names({"a.txt"}));
    QCOMPARE(recorder.opened.size(), 1);
    QCOMPARE(result.statistics,
             Line("扫描文件1个,查找符合类型文件1个,修改文件1个,耗时%1秒。(已停止)", result));
    // The report says so, and how many files the run did not reach.
    QCOMPARE(ReadBytes(recorder.opened.value(0)),
             (QDir::toNativeSeparators(src + QStringLiteral("/a.txt")) +
              QStringLiteral("\r\n(已停止:另有2个文件未处理)\r\n"))
                 .toLocal8Bit());
}

void TestRunBatch::reportsInsideSourceFolder()
{
    QVERIFY(WriteBytes(src + QStringLiteral("/a.txt"), "hit"));
    settings.sourceDir = src; // typed without the final separator
    settings.searchTerms = QStringLiteral("hit");
    settings.reportMatchedPath = src + reportMatchedName; // what a bare concatenation gives
    RunRecorder recorder;
    RunBatch(Operation::FindText, settings, recorder.observer());
    const QString report = src + QLatin1Char('/') + reportMatchedName;
    QCOMPARE(recorder.opened, QStringList{report});
    QVERIFY(QFileInfo::exists(report));
    QVERIFY(!QFileInfo::exists(src + reportMatchedName));
}

void TestRunBatch::reportsAtTopNotEdited_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("changed list") << reportMatchedName;
    QTest::newRow("failed list") << reportUnreadableName;
    QTest::newRow("unchanged list") << reportUnmatchedName;
    QTest::newRow("undo list") << QStringLiteral("未能撤销的文件目录.txt");
}

// A report at the top of the source folder is counted as scanned but never edited; a file of
// the same name deeper down is an ordinary text.
void TestRunBatch::reportsAtTopNotEdited()
{
    QFETCH(QString, name);
    QVERIFY(WriteBytes(src + QLatin1Char('/') + name, "x"));
    QVERIFY(WriteBytes(src + QStringLiteral("/sub/") + name, "x"));
    settings.saveInSource = true;
    settings.insertText = QStringLiteral("I");
    RunOptions options;
    options.dryRun = true;
    RunRecorder recorder;
    const RunResult result =
        RunBatch(Operation::InsertText, settings, recorder.observer(), options);
    QCOMPARE(recorder.found,
             QStringList{QDir::toNativeSeparators(src + QStringLiteral("/sub/") + name)});
    QCOMPARE(result.scanned, 2);
    QCOMPARE(result.txtFiles, 1);
}

void TestRunBatch::pairCountMismatchRefused()
{
    QVERIFY(WriteBytes(src + QStringLiteral("/a.txt"), "a"));
    settings.saveInSource = true;
    settings.findLines = Names({"a", ""});
    settings.replaceLines = Names({"b"});
    RunRecorder recorder;
    const RunResult result = RunBatch(Operation::ReplacePairs, settings, recorder.observer());
    QCOMPARE(result.refusal, messageCountMismatch());
    QCOMPARE(ReadBytes(src + QStringLiteral("/a.txt")), QByteArray("a"));
}

void TestRunBatch::reportBytes_data()
{
    QTest::addColumn<QByteArray>("localCodec");
    QTest::addColumn<QStringList>("paths");
    QTest::addColumn<QByteArray>("bytes");
    const QStringList chinese = Names({"D:\\书\\小云.txt", "D:\\a.txt"});
    const QByteArray chineseLines = "D:\\书\\小云.txt\r\nD:\\a.txt\r\n";
    QTest::newRow("utf-8 system") << QByteArray("UTF-8") << chinese
                                  << Utf8(QString::fromUtf8(chineseLines));
    QTest::newRow("gbk system") << QByteArray("GBK") << chinese
                                << Gbk(QString::fromUtf8(chineseLines));
    QTest::newRow("name outside gbk") << QByteArray("GBK") << Names({"D:\\😀.txt"})
                                      << Bom() + Utf8(QStringLiteral("D:\\😀.txt\r\n"));
#ifndef Q_OS_WIN
    // Windows names files in UTF-16: no name holds bytes outside its text.
    QTest::newRow("name bytes that are not text")
        << QByteArray("UTF-8") << QStringList{DecodeFileName("/s/\xB0\xA1.txt")}
        << QByteArray("/s/\xB0\xA1.txt\r\n");
#endif
}

void TestRunBatch::reportBytes()
{
    QFETCH(QByteArray, localCodec);
    QFETCH(QStringList, paths);
    QFETCH(QByteArray, bytes);
    QTextCodec *system = QTextCodec::codecForLocale();
    QTextCodec::setCodecForLocale(QTextCodec::codecForName(localCodec));
    const QByteArray written = ReportBytes(paths);
    QTextCodec::setCodecForLocale(system);
    QCOMPARE(written, bytes);
}

void TestRunBatch::unwritableReportTold()
{
    QVERIFY(WriteBytes(src + QStringLiteral("/a.txt"), "hit"));
    const QString report = src + QLatin1Char('/') + reportMatchedName;
    QVERIFY(QDir().mkpath(report)); // a folder where the report goes
    settings.searchTerms = QStringLiteral("hit");
    RunRecorder recorder;
    const RunResult result = RunBatch(Operation::FindText, settings, recorder.observer());
    QCOMPARE(result.changed, 1);
    QCOMPARE(result.unwrittenReports.size(), size_t(1));
    QCOMPARE(result.unwrittenReports.front().first, report);
    QVERIFY(!result.unwrittenReports.front().second.isEmpty());
    QVERIFY(recorder.opened.isEmpty());
}

#ifdef Q_OS_UNIX

namespace {

QByteArray RawRead(const QByteArray &path)
{
    QByteArray bytes(4096, '\0');
    const int fd = ::open(path.constData(), O_RDONLY);
    const ssize_t size = fd >= 0 ? ::read(fd, bytes.data(), static_cast<size_t>(bytes.size())) : -1;
    if (fd >= 0)
        ::close(fd);
    return size < 0 ? QByteArray("<missing>") : bytes.left(static_cast<int>(size));
}

} // namespace

void TestRunBatch::namesThatAreNotTextEdited_data()
{
    QTest::addColumn<bool>("saveInSource");
    QTest::newRow("into the save folder") << false;
    QTest::newRow("in place") << true;
}

// GBK names as ZIP archives from Chinese Windows leave them: read, edited and written under
// the same bytes.
void TestRunBatch::namesThatAreNotTextEdited()
{
    QFETCH(bool, saveInSource);
    const QByteArray source = QFile::encodeName(src);
    const QByteArray gbkName = "/\xB0\xA1.txt";
    const QByteArray inOddFolder = "/d\xFF/in.txt";
    ::mkdir((source + "/d\xFF").constData(), 0777);
    for (const auto &[name, bytes] : {std::make_pair(gbkName, Gbk(QStringLiteral("小云"))),
                                      std::make_pair(inOddFolder, Utf8(QStringLiteral("小云")))}) {
        const int fd = ::open((source + name).constData(), O_WRONLY | O_CREAT, 0666);
        QVERIFY(fd >= 0 &&
                ::write(fd, bytes.constData(), static_cast<size_t>(bytes.size())) == bytes.size());
        ::close(fd);
    }
    settings.saveInSource = saveInSource;
    settings.findText = QStringLiteral("小云");
    settings.replaceText = QStringLiteral("大");
    const RunResult result = RunBatch(Operation::ReplaceText, settings, RunRecorder().observer());

    const QByteArray target = QFile::encodeName(saveInSource ? src : out);
    const QByteArray edited = RawRead(target + gbkName) + RawRead(target + inOddFolder);
    const QByteArray report = RawRead(source + '/' + QFile::encodeName(reportMatchedName));
    for (const QByteArray &root : {source, QFile::encodeName(out)}) {
        ::unlink((root + gbkName).constData());
        ::unlink((root + inOddFolder).constData());
        ::rmdir((root + "/d\xFF").constData());
    }
    QCOMPARE(result.changed, 2);
    QCOMPARE(result.failed, 0);
    QCOMPARE(edited, Gbk(QStringLiteral("大")) + Utf8(QStringLiteral("大")));
    QCOMPARE(report, source + gbkName + "\r\n" + source + inOddFolder + "\r\n");
}

// A folder the scan cannot list goes on the failed list; its files are unknown. Root may open
// any folder, but running out of descriptors fails a listing for anyone.
void TestRunBatch::unlistableFolderFailed()
{
    QVERIFY(WriteBytes(src + QStringLiteral("/top.txt"), "hit"));
    QVERIFY(WriteBytes(src + QStringLiteral("/sub/lost.txt"), "hit"));
    settings.searchTerms = QStringLiteral("hit");
    const int lowestFree = ::open("/dev/null", O_RDONLY);
    ::close(lowestFree);
    rlimit limit = {};
    QVERIFY(::getrlimit(RLIMIT_NOFILE, &limit) == 0);
    // Enough for the top folder and its listing, none for the sub-folder's listing.
    const rlimit tight = {static_cast<rlim_t>(lowestFree + 2), limit.rlim_max};
    QVERIFY(::setrlimit(RLIMIT_NOFILE, &tight) == 0);
    RunRecorder recorder;
    RunObserver observer = recorder.observer();
    observer.scanFinished = [&](int) { ::setrlimit(RLIMIT_NOFILE, &limit); };
    const RunResult result = RunBatch(Operation::FindText, settings, observer);
    ::setrlimit(RLIMIT_NOFILE, &limit);
    const FileFailure expected{FailureKind::FolderUnreadable,
                               QString::fromLocal8Bit(std::strerror(EMFILE))};
    QCOMPARE(recorder.found,
             QStringList{QDir::toNativeSeparators(src + QStringLiteral("/top.txt"))});
    QCOMPARE(recorder.failed, QStringList{QDir::toNativeSeparators(src + QStringLiteral("/sub"))});
    QCOMPARE(recorder.described, QStringList{expected.describe()});
    QCOMPARE(result.failed, 1);
}

#endif

QTEST_GUILESS_MAIN(TestRunBatch)
#include "tst_runbatch.moc"
