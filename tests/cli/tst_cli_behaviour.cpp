// What parafold-cli refuses, what it leaves alone, and how it reads its input files.

#include "tests/cli/CliFixture.h"

#include "engine/batch/BatchSettings.h"
#include "engine/batch/LaunchChecks.h"
#include "engine/files/Paths.h"

#include <QTemporaryDir>
#include <QTest>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

class CliBehaviour : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void usageErrors_data();
    void usageErrors();
    void refusals_data();
    void refusals();
    void dryRunWritesNothing_data();
    void dryRunWritesNothing();
    void showEncoding_data();
    void showEncoding();
    void masksAndTerms_data();
    void masksAndTerms();
    void pairFileLines_data();
    void pairFileLines();
    void failedFile_data();
    void failedFile();
    void relativeFoldersListAbsolutePaths();
    void withoutReportStaleReportsStay();
    void unwritableReportTold();
#ifdef Q_OS_UNIX
    void textNotTextRefused_data();
    void textNotTextRefused();
    void sourceNamedInGbk();
#endif
    void argumentsBeyondTheCodePage();

private:
    QStringList substituted(QStringList arguments) const;

    QScopedPointer<QTemporaryDir> root;
};

void CliBehaviour::init()
{
    root.reset(new QTemporaryDir);
    QVERIFY(root->isValid());
    MakeSampleTree(root->filePath(QStringLiteral("src")));
    QVERIFY(QDir().mkpath(root->filePath(QStringLiteral("save"))));
    WriteBytes(root->path(), QStringLiteral("in/find"), Utf8("小云\n小吉\n"));
    WriteBytes(root->path(), QStringLiteral("in/replace"), Utf8("甲\n乙\n"));
    WriteBytes(root->path(), QStringLiteral("in/three"), Utf8("a\nb\nc\n"));
    WriteBytes(root->path(), QStringLiteral("in/gbk"), Gbk(QStringLiteral("小云\n")));
    WriteBytes(root->path(), QStringLiteral("in/empty"), QByteArray());
    WriteBytes(root->path(), QStringLiteral("in/binary"), QByteArray("a\x81 b"));
    WriteBytes(root->path(), QStringLiteral("src/") + reportMatchedName, Utf8("stale\r\n"));
}

QStringList CliBehaviour::substituted(QStringList arguments) const
{
    for (QString &argument : arguments) {
        argument.replace(QStringLiteral("@SRC"), root->filePath(QStringLiteral("src")));
        argument.replace(QStringLiteral("@SAVE"), root->filePath(QStringLiteral("save")));
        argument.replace(QStringLiteral("@IN"), root->filePath(QStringLiteral("in")));
        argument.replace(QStringLiteral("@ROOT"), root->path());
    }
    return arguments;
}

static QStringList Words(const char *text)
{
    return QString::fromUtf8(text).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

void CliBehaviour::usageErrors_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("complaint");

    QTest::newRow("nothing") << QStringList() << QStringLiteral("缺少命令");
    QTest::newRow("unknown command") << Words("grep @SRC") << QStringLiteral("未知命令");
    QTest::newRow("no source") << Words("find --terms a") << QStringLiteral("SOURCE");
    QTest::newRow("two sources") << Words("find @SRC @SAVE --terms a")
                                 << QStringLiteral("多余的参数");
    QTest::newRow("missing find") << Words("replace @SRC --replace x --in-place")
                                  << QStringLiteral("缺少 --find");
    QTest::newRow("missing replacement")
        << Words("replace @SRC --find x --in-place") << QStringLiteral("缺少 --replace");
    QTest::newRow("neither save folder nor in place")
        << Words("replace @SRC --find x --replace y") << QStringLiteral("须给出且只给出一个");
    QTest::newRow("both save folder and in place")
        << Words("insert @SRC --text x --save-dir @SAVE --in-place")
        << QStringLiteral("须给出且只给出一个");
    QTest::newRow("both insert texts")
        << Words("insert @SRC --text x --text-file @IN/find --in-place")
        << QStringLiteral("须给出且只给出一个");
    QTest::newRow("no insert text")
        << Words("insert @SRC --in-place") << QStringLiteral("须给出且只给出一个");
    QTest::newRow("save folder for find")
        << Words("find @SRC --terms a --save-dir @SAVE") << QStringLiteral("不适用于命令");
    QTest::newRow("bom for find") << Words("find @SRC --terms a --bom")
                                  << QStringLiteral("不适用于命令");
    QTest::newRow("terms for replace")
        << Words("replace @SRC --find a --replace b --in-place --terms a")
        << QStringLiteral("不适用于命令");
    QTest::newRow("unknown long option")
        << Words("find @SRC --terms a --fast") << QStringLiteral("未知选项");
    QTest::newRow("unknown short option")
        << Words("find @SRC --terms a -x") << QStringLiteral("未知选项");
    QTest::newRow("value missing at the end")
        << Words("find @SRC --terms") << QStringLiteral("需要一个值");
    QTest::newRow("value on a flag")
        << Words("find @SRC --terms a --quiet=yes") << QStringLiteral("不带值");
    QTest::newRow("option twice") << Words("find @SRC --terms a --terms b")
                                  << QStringLiteral("给出了两次");
    QTest::newRow("find without any term")
        << Words("find @SRC --include *.md") << QStringLiteral("缺少 --terms");
    QTest::newRow("a path as a file type")
        << Words("find @SRC --terms a --exclude sub/b.txt") << QStringLiteral("文件类型");
    QTest::newRow("any for replace")
        << Words("replace @SRC --find a --replace b --in-place --any c")
        << QStringLiteral("不适用于命令");
    QTest::newRow("dry run with report")
        << Words("find @SRC --terms a --dry-run --report") << QStringLiteral("--dry-run");
    QTest::newRow("convert without target")
        << Words("convert @SRC --in-place") << QStringLiteral("缺少 --to");
    QTest::newRow("convert to an unknown encoding")
        << Words("convert @SRC --to latin1 --in-place") << QStringLiteral("不是");
    QTest::newRow("convert with an unknown line end")
        << Words("convert @SRC --to gbk --eol cr --in-place") << QStringLiteral("不是");
    QTest::newRow("bom for convert")
        << Words("convert @SRC --to gbk --bom --in-place") << QStringLiteral("不适用于命令");
    QTest::newRow("line ends for replace")
        << Words("replace @SRC --find a --replace b --eol lf --in-place")
        << QStringLiteral("不适用于命令");
    QTest::newRow("pair file missing")
        << Words("replace-pairs @SRC --find-file @IN/none --replace-file @IN/replace --in-place")
        << QStringLiteral("无法读取");
    QTest::newRow("pair file in no encoding of the tree")
        << Words("replace-pairs @SRC --find-file @IN/binary --replace-file @IN/replace --in-place")
        << QStringLiteral("既不是 UTF-8 也不是 GBK 文本");
    QTest::newRow("text file missing")
        << Words("insert @SRC --text-file @IN/none --in-place") << QStringLiteral("无法读取");
    QTest::newRow("text file without end")
        << Words("insert @SRC --text-file /dev/zero --in-place") << QStringLiteral("大于");
    QTest::newRow("apply without a source")
        << Words("apply @IN/plan --in-place") << QStringLiteral("缺少 SOURCE");
    QTest::newRow("apply without a mode")
        << Words("apply @IN/plan @SRC") << QStringLiteral("须给出且只给出一个");
    QTest::newRow("pair file without end")
        << Words(
               "replace-pairs @SRC --find-file /dev/urandom --replace-file @IN/replace --in-place")
        << QStringLiteral("大于");
}

void CliBehaviour::usageErrors()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, complaint);

    const QMap<QString, QByteArray> before = Snapshot(root->path(), true);
    const CliResult cli = RunCli(substituted(arguments));
    QCOMPARE(cli.exitStatus, QProcess::NormalExit);
    QCOMPARE(cli.exitCode, 2);
    QCOMPARE(cli.out, QByteArray());
    QVERIFY2(CliText(cli.err).contains(complaint), cli.err.constData());
    QCOMPARE(Snapshot(root->path(), true), before);
}

void CliBehaviour::refusals_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");

    QTest::newRow("replace, source missing")
        << Words("replace @ROOT/none --find a --replace b --save-dir @SAVE --report")
        << QStringLiteral("源文件夹不存在:@ROOT/none/");
    QTest::newRow("replace, both missing: the source is named")
        << Words("replace @ROOT/none --find a --replace b --save-dir @ROOT/gone --report")
        << QStringLiteral("源文件夹不存在:@ROOT/none/");
    QTest::newRow("replace, save folder missing")
        << Words("replace @SRC --find a --replace b --save-dir @ROOT/gone --report")
        << QStringLiteral("保存文件夹不存在:@ROOT/gone/(如需就地修改文件,请用 --in-place)");
    QTest::newRow("replace, save folder is a file")
        << Words("replace @SRC --find a --replace b --save-dir @IN/find --report")
        << QStringLiteral("保存文件夹不存在:@IN/find/(如需就地修改文件,请用 --in-place)");
    QTest::newRow("replace, empty search text")
        << (Words("replace @SRC --find") << QString() << Words("--replace b --in-place --report"))
        << QStringLiteral("查找内容为空");
    QTest::newRow("replace, save folder is the source")
        << Words("replace @SRC --find 小云 --replace b --save-dir @SRC/ --report")
        << QStringLiteral("保存文件夹就是源文件夹:@SRC/(如需覆盖原文件,请用 --in-place)");
    QTest::newRow("insert, save folder is the source by another spelling")
        << Words("insert @SRC --text x --save-dir @SRC/sub/.. --report")
        << QStringLiteral("保存文件夹就是源文件夹:@SRC/(如需覆盖原文件,请用 --in-place)");
    QTest::newRow("insert, source missing") << Words("insert @ROOT/none --text x --in-place")
                                            << QStringLiteral("源文件夹不存在:@ROOT/none/");
    QTest::newRow("insert, empty text")
        << (Words("insert @SRC --text") << QString() << Words("--in-place --report"))
        << QStringLiteral("插入内容为空");
    QTest::newRow("insert, empty text file")
        << Words("insert @SRC --text-file @IN/empty --in-place --report")
        << QStringLiteral("插入内容为空");
    QTest::newRow("replace, save folder inside the source")
        << Words("replace @SRC --find 小云 --replace b --save-dir @SRC/sub --report")
        << QStringLiteral("保存文件夹位于源文件夹之内:@SRC/sub/");
    QTest::newRow("insert, save folder deep inside the source")
        << Words("insert @SRC --text x --save-dir @SRC/sub/deeper --report")
        << QStringLiteral("保存文件夹位于源文件夹之内:@SRC/sub/deeper/");
    QTest::newRow("pairs, both missing: the save folder is named")
        << Words("replace-pairs @ROOT/none --find-file @IN/find --replace-file @IN/replace "
                 "--save-dir @ROOT/gone")
        << QStringLiteral("保存文件夹不存在:@ROOT/gone/(如需就地修改文件,请用 --in-place)");
    QTest::newRow("pairs, source missing") << Words("replace-pairs @ROOT/none --find-file @IN/find "
                                                    "--replace-file @IN/replace --in-place")
                                           << QStringLiteral("源文件夹不存在:@ROOT/none/");
    QTest::newRow("pairs, counts differ")
        << Words("replace-pairs @SRC --find-file @IN/three --replace-file @IN/replace --in-place "
                 "--report")
        << QStringLiteral("--find-file 有 3 行,而 --replace-file 有 2 行");
    QTest::newRow("find, source missing") << Words("find @ROOT/none --terms a --report")
                                          << QStringLiteral("源文件夹不存在:@ROOT/none/");
    QTest::newRow("find, source is a file")
        << Words("find @IN/find --terms a --report") << QStringLiteral("源文件夹不存在:@IN/find/");
}

void CliBehaviour::refusals()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);

    const QMap<QString, QByteArray> before = Snapshot(root->path(), true);
    const CliResult cli = RunCli(substituted(arguments));
    QCOMPARE(cli.exitStatus, QProcess::NormalExit);
    QCOMPARE(cli.exitCode, 2);
    QCOMPARE(cli.out, QByteArray());
    QCOMPARE(CliText(cli.err), QDir::toNativeSeparators(QStringLiteral("parafold-cli: ") +
                                                        substituted({message}).first()) +
                                   QLatin1Char('\n'));
    // Not even the stale report is deleted.
    QCOMPARE(Snapshot(root->path(), true), before);
}

void CliBehaviour::dryRunWritesNothing_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("listed");

    QTest::newRow("replace, save folder")
        << Words("replace @SRC --find 小云 --replace 小雲 --save-dir @SAVE") << 3;
    QTest::newRow("replace, in place, BOM")
        << Words("replace @SRC --find 小云 --replace 小雲 --in-place --bom") << 3;
    QTest::newRow("pairs, save folder")
        << Words("replace-pairs @SRC --find-file @IN/find --replace-file @IN/replace "
                 "--save-dir @SAVE")
        << 4;
    QTest::newRow("pairs, in place")
        << Words("replace-pairs @SRC --find-file @IN/find --replace-file @IN/replace --in-place")
        << 4;
    // Seven texts; the stale report at the top is the program's own list, not one of them.
    QTest::newRow("insert, save folder") << Words("insert @SRC --text 序 --save-dir @SAVE") << 7;
    QTest::newRow("insert, in place") << Words("insert @SRC --text 跋 --behind --in-place") << 7;
    QTest::newRow("find") << Words("find @SRC --terms 小云||小吉") << 2;
    // a.txt, c.TXT, d.txt and the spaced name; b.txt is GBK, latin.txt and empty.txt as well.
    QTest::newRow("convert to gbk, save folder")
        << Words("convert @SRC --to gbk --save-dir @SAVE") << 4;
    // Every text but d.txt, which is UTF-16LE already; empty.txt gains its mark.
    QTest::newRow("convert to utf-16le, in place")
        << Words("convert @SRC --to utf-16le --eol crlf --in-place") << 6;
}

void CliBehaviour::dryRunWritesNothing()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, listed);

    const QStringList run = substituted(arguments);
    const QMap<QString, QByteArray> before = Snapshot(root->path(), true);
    const CliResult dry = RunCli(QStringList(run) << QStringLiteral("--dry-run"));
    QCOMPARE(dry.exitStatus, QProcess::NormalExit);
    QCOMPARE(dry.exitCode, 0);
    QCOMPARE(Snapshot(root->path(), true), before);

    // What the dry run listed is what the real run then changes.
    const CliResult real = RunCli(run);
    QCOMPARE(real.exitCode, 0);
    QCOMPARE(SplitList(dry.out, '\n').size(), listed);
    QCOMPARE(SplitList(dry.out, '\n'), SplitList(real.out, '\n'));
    // The same counts, said of what would change; a search changes nothing either way.
    QString realLine = WithoutSeconds(CliText(real.err));
    if (!realLine.contains(QStringLiteral("包含查找内容")))
        realLine.replace(QStringLiteral(",修改文件"), QStringLiteral(",将修改文件"));
    QCOMPARE(WithoutSeconds(CliText(dry.err)), realLine);
}

// Lines from a UTF-8 literal, cut at each line feed.
static QStringList Lines(const char *text)
{
    return QString::fromUtf8(text).split(QLatin1Char('\n'));
}

void CliBehaviour::showEncoding_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("listed"); // relative path, tab, encoding
    QTest::newRow("find")
        << Words("find @SRC --terms 小 --show-encoding")
        << Lines("a.txt\tUTF-8\nd.txt\tUTF-16LE\nsub/b.txt\tGBK\n名字 有空格.txt\tUTF-8");
    QTest::newRow("dry run")
        << Words("insert @SRC --text x --in-place --dry-run --show-encoding")
        << Lines("a.txt\tUTF-8\nd.txt\tUTF-16LE\nempty.txt\tUTF-8\nsub/b.txt\tGBK\nsub/deeper/"
                 "c.TXT\tUTF-8 BOM\nsub/latin.txt\tUTF-8\n名字 有空格.txt\tUTF-8");
    QTest::newRow("convert") << Words("convert @SRC --to utf-8 --in-place --show-encoding")
                             << Lines(
                                    "d.txt\tUTF-16LE\nsub/b.txt\tGBK\nsub/deeper/c.TXT\tUTF-8 BOM");
}

void CliBehaviour::showEncoding()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, listed);
    const CliResult cli = RunCli(substituted(arguments));
    QCOMPARE(cli.exitCode, 0);
    const QString src = QDir::toNativeSeparators(root->filePath(QStringLiteral("src/")));
    QStringList lines;
    for (const QString &line : SplitList(cli.out, '\n')) {
        QVERIFY2(line.startsWith(src), qPrintable(line));
        lines << QDir::fromNativeSeparators(line.mid(src.size()));
    }
    lines.sort();
    QCOMPARE(lines, listed);
}

void CliBehaviour::masksAndTerms_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("typed"); // the files the masks take
    QTest::addColumn<QStringList>("listed");
    QTest::newRow("other type") << Words("find @SRC --terms 小云 --include *.md") << 1
                                << Lines("notes.md");
    QTest::newRow("two types in one") << Words("find @SRC --terms 小云 --include *.txt;*.md") << 8
                                      << Lines("a.txt\nd.txt\nnotes.md\nsub/b.txt");
    QTest::newRow("repeated, case ignored")
        << Words("find @SRC --terms 小云 --include *.TXT --include *.bak") << 8
        << Lines("a.txt\nd.txt\ne.txt.bak\nsub/b.txt");
    QTest::newRow("folder left out")
        << Words("find @SRC --terms 小云 --exclude sub") << 4 << Lines("a.txt\nd.txt");
    QTest::newRow("file left out")
        << Words("find @SRC --terms 小 --exclude *空格*") << 6 << Lines("a.txt\nd.txt\nsub/b.txt");
    QTest::newRow("edit takes the masks too")
        << Words("insert @SRC --text x --in-place --dry-run --include *.md") << 1
        << Lines("notes.md");
    QTest::newRow("any") << Words("find @SRC --any 小吉||只有") << 7
                         << Lines("a.txt\nd.txt\nsub/b.txt\n名字 有空格.txt");
    QTest::newRow("all and none") << Words("find @SRC --terms 小云 --none 小吉") << 7
                                  << Lines("sub/b.txt");
    QTest::newRow("none alone") << Words("find @SRC --none 小") << 7
                                << Lines("empty.txt\nsub/deeper/c.TXT\nsub/latin.txt");
    QTest::newRow("all, any and none")
        << Words("find @SRC --terms 小云 --any 只有||第二行||吉 --none 小吉") << 7
        << Lines("sub/b.txt");
}

void CliBehaviour::masksAndTerms()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, typed);
    QFETCH(QStringList, listed);
    const CliResult cli = RunCli(substituted(arguments));
    QCOMPARE(cli.exitCode, 0);
    QVERIFY2(CliText(cli.err).contains(QStringLiteral("查找符合类型文件%1个").arg(typed)),
             cli.err.constData());
    const QString src = QDir::toNativeSeparators(root->filePath(QStringLiteral("src/")));
    QStringList lines;
    for (const QString &line : SplitList(cli.out, '\n'))
        lines << QDir::fromNativeSeparators(line.mid(src.size()));
    lines.sort();
    QCOMPARE(lines, listed);
}

void CliBehaviour::pairFileLines_data()
{
    QTest::addColumn<QByteArray>("findFile");
    QTest::addColumn<QByteArray>("replaceFile");
    QTest::addColumn<int>("expectedExit");
    // a.txt ("小云和小吉\n第二行小云") afterwards, written with CR LF.
    QTest::addColumn<QByteArray>("expectedText");

    const QByteArray unchanged = Utf8("小云和小吉\n第二行小云");
    QTest::newRow("LF, final line breaks")
        << Utf8("小云\n小吉\n") << Utf8("甲\n乙\n") << 0 << Utf8("甲和乙\r\n第二行甲");
    QTest::newRow("CR LF, final line breaks")
        << Utf8("小云\r\n小吉\r\n") << Utf8("甲\r\n乙\r\n") << 0 << Utf8("甲和乙\r\n第二行甲");
    QTest::newRow("final line break on one side only")
        << Utf8("小云\n小吉") << Utf8("甲\r\n乙\r\n") << 0 << Utf8("甲和乙\r\n第二行甲");
    QTest::newRow("one extra line break is one more entry")
        << Utf8("小云\n小吉\n\n") << Utf8("甲\n乙\n") << 2 << unchanged;
    QTest::newRow("empty middle entry does nothing")
        << Utf8("小云\n\n小吉\n") << Utf8("甲\n丙\n乙\n") << 0 << Utf8("甲和乙\r\n第二行甲");
    QTest::newRow("pairs apply in order")
        << Utf8("小云\n甲\n") << Utf8("甲\n丁\n") << 0 << Utf8("丁和小吉\r\n第二行丁");
    QTest::newRow("byte-order mark is not part of the first line")
        << Utf8("\xEF\xBB\xBF小云\n") << Utf8("\xEF\xBB\xBF甲") << 0
        << Utf8("甲和小吉\r\n第二行甲");
    // Notepad's default on older Chinese Windows.
    QTest::newRow("GBK pair files")
        << Gbk(QStringLiteral("小云\r\n小吉\r\n")) << Gbk(QStringLiteral("甲\r\n乙\r\n")) << 0
        << Utf8("甲和乙\r\n第二行甲");
    QTest::newRow("empty replacement line deletes the text")
        << Utf8("小云\n小吉\n") << Utf8("甲\n\n") << 0 << Utf8("甲和\r\n第二行甲");
    QTest::newRow("empty files: no pairs") << QByteArray() << QByteArray() << 1 << unchanged;
    QTest::newRow("one line break against an empty file")
        << Utf8("\n") << QByteArray() << 2 << unchanged;
}

void CliBehaviour::pairFileLines()
{
    QFETCH(QByteArray, findFile);
    QFETCH(QByteArray, replaceFile);
    QFETCH(int, expectedExit);
    QFETCH(QByteArray, expectedText);

    WriteBytes(root->path(), QStringLiteral("in/f"), findFile);
    WriteBytes(root->path(), QStringLiteral("in/r"), replaceFile);
    const CliResult cli = RunCli(
        substituted(Words("replace-pairs @SRC --find-file @IN/f --replace-file @IN/r --in-place")));
    QCOMPARE(cli.exitCode, expectedExit);
    if (expectedExit == 2)
        QVERIFY(CliText(cli.err).startsWith(QStringLiteral("parafold-cli: --find-file 有")));
    QCOMPARE(ReadBytes(root->filePath(QStringLiteral("src/a.txt"))), expectedText);
}

void CliBehaviour::failedFile_data()
{
    QTest::addColumn<bool>("quiet");
    QTest::newRow("statistics shown") << false;
    QTest::newRow("quiet") << true;
}

void CliBehaviour::failedFile()
{
    QFETCH(bool, quiet);

    // A file stands where the save folder needs the sub-folder "sub": b.txt cannot be
    // written there, even by root.
    WriteBytes(root->path(), QStringLiteral("save/sub"), Utf8("in the way"));
    QStringList arguments = Words("replace @SRC --find 小云 --replace 小雲 --save-dir @SAVE");
    if (quiet)
        arguments << QStringLiteral("-q");
    const CliResult cli = RunCli(substituted(arguments));
    QCOMPARE(cli.exitStatus, QProcess::NormalExit);
    QCOMPARE(cli.exitCode, 2);

    const QString failedPath =
        QDir::toNativeSeparators(root->filePath(QStringLiteral("src/sub/b.txt")));
    const QStringList listed = SplitList(cli.out, '\n');
    QVERIFY(!listed.contains(failedPath));
    QCOMPARE(listed.size(), 2);
    const QStringList messages = SplitList(cli.err, '\n');
    QCOMPARE(messages.size(), quiet ? 1 : 2);
    QVERIFY2(messages.first().startsWith(failedPath + QLatin1Char('\t')),
             qPrintable(messages.first()));
    QVERIFY(messages.first().size() > failedPath.size() + 2);
    if (!quiet)
        QVERIFY2(messages.last().contains(QStringLiteral("失败1个,")), qPrintable(messages.last()));
    QCOMPARE(ReadBytes(root->filePath(QStringLiteral("save/sub"))), Utf8("in the way"));
}

void CliBehaviour::relativeFoldersListAbsolutePaths()
{
    const CliResult cli = RunCli(
        Words("replace src --find 小吉 --replace 吉 --save-dir ./save/../save -q"), root->path());
    QCOMPARE(cli.exitCode, 0);
    QCOMPARE(cli.err, QByteArray());
    QStringList expected;
    for (const char *name : {"src/a.txt", "src/d.txt", "src/名字 有空格.txt"})
        expected << QDir::toNativeSeparators(root->filePath(QString::fromUtf8(name)));
    QStringList listed = SplitList(cli.out, '\n');
    listed.sort();
    QCOMPARE(listed, expected);
    QCOMPARE(ReadBytes(root->filePath(QStringLiteral("save/名字 有空格.txt"))), Utf8("吉"));
}

void CliBehaviour::withoutReportStaleReportsStay()
{
    const CliResult cli = RunCli(substituted(Words("find @SRC --terms 小云")));
    QCOMPARE(cli.exitCode, 0);
    QCOMPARE(ReadBytes(root->filePath(QStringLiteral("src/") + reportMatchedName)),
             Utf8("stale\r\n"));

    const CliResult withReport = RunCli(substituted(Words("find @SRC --terms 不存在 --report")));
    QCOMPARE(withReport.exitCode, 1);
    QVERIFY(!QFile::exists(root->filePath(QStringLiteral("src/") + reportMatchedName)));
}

void CliBehaviour::unwritableReportTold()
{
    const QString report = root->filePath(QStringLiteral("src/") + reportMatchedName);
    QVERIFY(QFile::remove(report));
    QVERIFY(QDir().mkpath(report)); // no file can go there
    const CliResult cli = RunCli(substituted(Words("find @SRC --terms 小云 --report")));
    QCOMPARE(cli.exitCode, 2);
    QVERIFY2(CliText(cli.err).contains(QStringLiteral("无法写入报告")), cli.err.constData());
}

#ifdef Q_OS_UNIX

namespace {

// Runs parafold-cli with the words and, last, an argument of raw bytes given as printf's
// escapes: QProcess would pass such bytes on as "?".
CliResult RunCliEndingInBytes(const QStringList &words, const QString &escapedBytes)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("zh_CN.UTF-8"));
    environment.insert(QStringLiteral("LAST"), escapedBytes);
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral("/bin/sh"),
                  QStringList{QStringLiteral("-c"),
                              QStringLiteral("exec \"$0\" \"$@\" \"$(printf \"$LAST\")\""),
                              CliPath()} +
                      words);
    return FinishCli(process);
}

} // namespace

void CliBehaviour::textNotTextRefused_data()
{
    QTest::addColumn<QStringList>("words");
    QTest::addColumn<QString>("bytes");
    QTest::addColumn<QString>("option");
    QTest::newRow("find cut off") << Words("replace @SRC --in-place --replace x --find")
                                  << QStringLiteral("小\\345\\260") << QStringLiteral("--find");
    QTest::newRow("replace in gbk") << Words("replace @SRC --in-place --find 小云 --replace")
                                    << QStringLiteral("\\260\\241") << QStringLiteral("--replace");
    QTest::newRow("lone byte as term")
        << Words("find @SRC --terms") << QStringLiteral("\\303") << QStringLiteral("--terms");
    QTest::newRow("text to insert") << Words("insert @SRC --in-place --text")
                                    << QStringLiteral("a\\377") << QStringLiteral("--text");
}

void CliBehaviour::textNotTextRefused()
{
    QFETCH(QStringList, words);
    QFETCH(QString, bytes);
    QFETCH(QString, option);
    const QMap<QString, QByteArray> before = Snapshot(root->path(), true);
    const CliResult cli = RunCliEndingInBytes(substituted(words), bytes);
    QCOMPARE(cli.exitCode, 2);
    QVERIFY2(QString::fromUtf8(cli.err).contains(option + QStringLiteral(":该值不是有效的")),
             cli.err.constData());
    QCOMPARE(Snapshot(root->path(), true), before);
}

// Unpacked from a ZIP archive made on Chinese Windows: the folder's name is GBK bytes.
void CliBehaviour::sourceNamedInGbk()
{
    const QByteArray folder = QFile::encodeName(root->path()) + "/\xB0\xA1";
    QVERIFY(::mkdir(folder.constData(), 0777) == 0);
    const int fd = ::open((folder + "/a.txt").constData(), O_WRONLY | O_CREAT, 0666);
    QVERIFY(fd >= 0 && ::write(fd, "hit", 3) == 3);
    ::close(fd);
    const CliResult cli = RunCliEndingInBytes(Words("find --terms hit --"),
                                              root->path() + QStringLiteral("/\\260\\241"));
    ::unlink((folder + "/a.txt").constData());
    ::rmdir(folder.constData());
    QCOMPARE(cli.exitCode, 0);
    QCOMPARE(cli.out, folder + "/a.txt\n");
}

#endif

// Hangul is in no Chinese code page: on Windows it arrives only through the wide command
// line.
void CliBehaviour::argumentsBeyondTheCodePage()
{
    WriteBytes(root->path(), QStringLiteral("src/k.txt"), Utf8("한글和小云\n"));
    const CliResult cli =
        RunCli(substituted(Words("replace @SRC --find 한글 --replace 韩文 --in-place -q")));
    QCOMPARE(cli.exitCode, 0);
    QCOMPARE(ReadBytes(root->filePath(QStringLiteral("src/k.txt"))), Utf8("韩文和小云\r\n"));
}

QTEST_GUILESS_MAIN(CliBehaviour)
#include "tst_cli_behaviour.moc"
