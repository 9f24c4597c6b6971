// parafold-cli chinese: OpenCC's conversion of every file, in the file's own encoding, undone
// by undo.

#include "engine/batch/Failure.h"
#include "engine/chinese/ChineseConverter.h"
#include "tests/cli/CliFixture.h"

#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTextCodec>
#include <optional>

namespace {

// CPython's codec test texts (Debian's libpython3.11-testsuite, which scripts/setup installs).
const QString samples = QStringLiteral("/usr/lib/python3.11/test/cjkencodings/");

// What the opencc program makes of the text; nothing when it is not installed.
std::optional<QString> OpenccOutput(const QString &config, const QString &text)
{
    const QString program = QStandardPaths::findExecutable(QStringLiteral("opencc"));
    if (program.isEmpty())
        return std::nullopt;
    QProcess opencc;
    opencc.start(program, {QStringLiteral("-c"), config + QStringLiteral(".json")});
    if (!opencc.waitForStarted())
        return std::nullopt;
    opencc.write(text.toUtf8());
    opencc.closeWriteChannel();
    if (!opencc.waitForFinished(60000) || opencc.exitCode() != 0)
        return std::nullopt;
    return QString::fromUtf8(opencc.readAllStandardOutput());
}

QByteArray Encoded(const QString &text, const QByteArray &encoding)
{
    if (encoding == "UTF-16LE")
        return Utf16LeWithBom(text);
    if (encoding == "UTF-8 BOM")
        return QByteArrayLiteral("\xEF\xBB\xBF") + text.toUtf8();
    return QTextCodec::codecForName(encoding)->fromUnicode(text);
}

} // namespace

class CliChinese : public QObject
{
    Q_OBJECT

private slots:
    void convert_data();
    void convert();
};

void CliChinese::convert_data()
{
    QTest::addColumn<QString>("config");
    QTest::addColumn<QString>("text");        // or, when it ends in .txt, a CPython sample
    QTest::addColumn<QByteArray>("encoding"); // of the file
    QTest::addColumn<QString>("expected");    // as OpenCC converts text; empty: the file fails
    // The small tree's texts, with what a Linux run of opencc gave for them, so that the
    // rows also run where the opencc program is not (under wine). Phrases decide: 头发 → 頭髮
    // but 发展 → 發展; line ends and byte-order marks stay.
    const QString traditional = QStringLiteral("頭髮和發展，乾燥的後面。\r\n軟體\n");
    const QString simplified = QStringLiteral("头发和发展，干燥的后面。\r\n软体\n");
    const QString plain = QStringLiteral("头发和发展，干燥的后面。\r\n软件\n");
    const QString taiwan = QStringLiteral("頭髮和發展，乾燥的後面。\r\n軟體\n");
    for (const char *encoding : {"UTF-8", "GBK", "UTF-8 BOM", "UTF-16LE"}) {
        const QByteArray name(encoding);
        QTest::newRow(("t2s " + name).constData())
            << QStringLiteral("t2s") << traditional << name << simplified;
        QTest::newRow(("s2twp " + name).constData())
            << QStringLiteral("s2twp") << plain << name << taiwan;
    }
    QTest::newRow("tw2sp utf-8") << QStringLiteral("tw2sp") << taiwan << QByteArray("UTF-8")
                                 << plain;
    // Not clean GBK, so GB18030, and written back as GB18030.
    QTest::newRow("t2s gb18030") << QStringLiteral("t2s") << QStringLiteral("頭髮\U0001F600\n")
                                 << QByteArray("GB18030") << QStringLiteral("头发\U0001F600\n");
    // A lone surrogate is kept as it is, the text around it converted.
    QTest::newRow("t2s utf-16 lone surrogate")
        << QStringLiteral("t2s")
        << QStringLiteral("頭髮") + QChar(0xD800) + QStringLiteral("乾燥\n")
        << QByteArray("UTF-16LE")
        << QStringLiteral("头发") + QChar(0xD800) + QStringLiteral("干燥\n");
    QTest::newRow("already simplified")
        << QStringLiteral("t2s") << simplified << QByteArray("GBK") << simplified;
    // 鹮 becomes 䴉, which GBK does not have: the file is listed, not written lossy.
    QTest::newRow("gbk cannot hold it")
        << QStringLiteral("s2t") << QStringLiteral("朱鹮\n") << QByteArray("GBK") << QString();
    for (const char *encoding : {"UTF-8", "GBK"}) {
        const QByteArray name(encoding);
        QTest::newRow(("big5 sample t2s " + name).constData())
            << QStringLiteral("t2s") << QStringLiteral("big5-utf8.txt") << name << QString();
        QTest::newRow(("gb2312 sample s2twp " + name).constData())
            << QStringLiteral("s2twp") << QStringLiteral("gb2312-utf8.txt") << name << QString();
    }
}

void CliChinese::convert()
{
    QFETCH(QString, config);
    QFETCH(QString, text);
    QFETCH(QByteArray, encoding);
    QFETCH(QString, expected);
    if (!ChineseConverter::available())
        QSKIP("this build has no OpenCC (configured with -DPARAFOLD_OPENCC=OFF)");
    if (text.endsWith(QLatin1String(".txt"))) {
        // The samples are checked against the opencc program itself.
        if (!QFileInfo::exists(samples + text))
            QSKIP("CPython's cjkencodings samples are not installed (libpython3.11-testsuite)");
        text = QString::fromUtf8(ReadBytes(samples + text));
        const std::optional<QString> converted = OpenccOutput(config, text);
        if (!converted)
            QSKIP("the opencc program is not installed (Debian's opencc package)");
        expected = *converted;
    } else if (!expected.isEmpty() && !text.contains(QChar(0xD800))) {
        // (opencc cannot take a lone surrogate, which UTF-8 has no form for)
        if (const std::optional<QString> converted = OpenccOutput(config, text))
            QCOMPARE(*converted, expected);
    }
    QTemporaryDir temp;
    const QString src = temp.filePath(QStringLiteral("src"));
    const QByteArray original = Encoded(text, encoding);
    // A small tree: the file at the top and below, and a file that is no .txt.
    for (const char *name : {"a.txt", "章节/b.txt", "notes.md"})
        WriteBytes(src, QString::fromUtf8(name), original);
    const CliResult run = RunCli({QStringLiteral("chinese"), src, QStringLiteral("--config"),
                                  config, QStringLiteral("--in-place")});
    const QByteArray after = ReadBytes(src + QStringLiteral("/章节/b.txt"));
    QCOMPARE(ReadBytes(src + QStringLiteral("/a.txt")), after);
    QCOMPARE(ReadBytes(src + QStringLiteral("/notes.md")), original);
    if (expected.isEmpty()) {
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(CliText(run.err).contains(reasonUnrepresentable()), run.err.constData());
        QCOMPARE(after, original);
        return;
    }
    QCOMPARE(after, Encoded(expected, encoding));
    QCOMPARE(run.exitCode, expected == text ? 1 : 0);
    if (expected == text)
        return; // nothing written, nothing to undo
    const CliResult undo = RunCli({QStringLiteral("undo"), src});
    QCOMPARE(undo.exitCode, 0);
    QCOMPARE(ReadBytes(src + QStringLiteral("/章节/b.txt")), original);
    QCOMPARE(ReadBytes(src + QStringLiteral("/a.txt")), original);
}

QTEST_GUILESS_MAIN(CliChinese)
#include "tst_cli_chinese.moc"
