#include "engine/journal/Undo.h"
#include "engine/run/RunBatch.h"
#include "tests/engine/Fixture.h"

#include <QTest>

using namespace fixture;

Q_DECLARE_METATYPE(ConvertTarget)
Q_DECLARE_METATYPE(ConvertSource)
Q_DECLARE_METATYPE(LineEnds)

class TestConversion : public QObject
{
    Q_OBJECT

private slots:
    void convert_data();
    void convert();
    void roundTripAndUndo();
    void pythonSamples_data();
    void pythonSamples();
};

namespace {

enum Expected
{
    Already,
    Converted,
    Failed,
};

const QString zh = QStringLiteral("小云\r\n吉\n");
const QString emoji = QStringLiteral("小云\U0001F600");
// GB18030 of emoji: 小云 as in GBK, U+1F600 as 94 39 FC 36.
const QByteArray emojiGb18030("\xD0\xA1\xD4\xC6\x94\x39\xFC\x36");

} // namespace

void TestConversion::convert_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<ConvertTarget>("target");
    QTest::addColumn<ConvertSource>("source");
    QTest::addColumn<LineEnds>("lineEnds");
    QTest::addColumn<int>("expected");
    QTest::addColumn<QByteArray>("output"); // for Converted; the failure's reason otherwise
    const auto row = [](const char *name, const QByteArray &input, ConvertTarget target,
                        Expected expected, const QByteArray &output,
                        ConvertSource source = ConvertSource::Detect,
                        LineEnds lineEnds = LineEnds::Keep) {
        QTest::newRow(name) << input << target << source << lineEnds << int(expected) << output;
    };
    using T = ConvertTarget;
    row("gbk to utf-8", Gbk(zh), T::Utf8, Converted, Utf8(zh));
    row("gbk to utf-8 with mark", Gbk(zh), T::Utf8WithBom, Converted, Bom() + Utf8(zh));
    row("gbk to utf-16le", Gbk(zh), T::Utf16LeWithBom, Converted, Utf16(zh, true));
    row("utf-8 to gbk", Utf8(zh), T::Gbk, Converted, Gbk(zh));
    row("utf-16be to gbk", Utf16(zh, false), T::Gbk, Converted, Gbk(zh));
    row("gb18030 to utf-8", emojiGb18030, T::Utf8, Converted, Utf8(emoji));
    row("utf-8 to gb18030 where gbk cannot", Utf8(emoji), T::Gb18030, Converted, emojiGb18030);
    row("utf-8 to gb18030 stays gbk", Utf8(zh), T::Gb18030, Converted, Gbk(zh));
    row("big5 named", QByteArray("\xA4\xA4\xA4\xE5"), T::Utf8, Converted,
        Utf8(QStringLiteral("中文")), ConvertSource::Big5);
    row("gb18030 named", emojiGb18030, T::Utf16LeWithBom, Converted, Utf16(emoji, true),
        ConvertSource::Gb18030);
    row("mark decides over the named source", Bom() + Utf8(zh), T::Gbk, Converted, Gbk(zh),
        ConvertSource::Big5);
    // Line ends, a lone CR counting as one.
    const QByteArray mixed("a\r\nb\nc\rd");
    row("eol lf", mixed, T::Utf8, Converted, "a\nb\nc\nd", ConvertSource::Detect, LineEnds::Lf);
    row("eol crlf", mixed, T::Utf8, Converted, "a\r\nb\r\nc\r\nd", ConvertSource::Detect,
        LineEnds::CrLf);
    row("eol crlf already", QByteArray("a\r\nb"), T::Utf8, Already, {}, ConvertSource::Detect,
        LineEnds::CrLf);
    // Already in the target: nothing written.
    row("gbk to gbk", Gbk(zh), T::Gbk, Already, {});
    row("utf-8 to utf-8", Utf8(zh), T::Utf8, Already, {});
    row("ascii to gbk", QByteArray("plain\r\n"), T::Gbk, Already, {});
    row("gb18030 to gb18030", emojiGb18030, T::Gb18030, Already, {});
    // Listed and not written.
    row("emoji to gbk", Utf8(emoji), T::Gbk, Failed, reasonTargetUnrepresentable().toUtf8());
    // Windows' GBK writes € as 0x80, which GB18030 decoders reject: GB18030's own A2 E3, which
    // reads back as GB18030.
    row("euro to gb18030", Utf8(QStringLiteral("小云€")), T::Gb18030, Converted,
        QByteArray("\xD0\xA1\xD4\xC6\xA2\xE3"));
    // Behind the mark, a U+FEFF of the text: without a mark it would be read as one.
    row("text beginning with U+FEFF to utf-8", Bom() + Utf8(QStringLiteral("\uFEFFa")), T::Utf8,
        Failed, reasonTargetUnrepresentable().toUtf8());
    row("lone surrogate in utf-16 to utf-8", Utf16(QString(QChar(0xD800)), true), T::Utf8, Failed,
        reasonTargetUnrepresentable().toUtf8());
    row("broken gbk", QByteArray("\xD0\xA1\x81\x20"), T::Utf8, Failed,
        reasonNotLossless().toUtf8());
    const QByteArray novel =
        Utf8(QStringLiteral("小云在山上看见了很多的花朵和树木，他很高兴地走回家中。\r\n"));
    row("damaged utf-8", novel + '\xFF' + novel, T::Gbk, Failed, reasonDamagedUtf8().toUtf8());
    row("broken big5", QByteArray("\xA4\xA4\xA4"), T::Utf8, Failed,
        reasonUncertainEncoding().toUtf8(), ConvertSource::Big5);
    // A named encoding settles no sure answer of the detection, and reads only valid bytes.
    row("gbk named big5", Gbk(QString::fromUtf8(novel)), T::Utf8, Failed,
        reasonUncertainEncoding().toUtf8(), ConvertSource::Big5);
    row("gbk named gbk", Gbk(zh), T::Utf8, Converted, Utf8(zh), ConvertSource::Gbk);
    row("utf-8 named gbk", novel, T::Gbk, Failed, reasonUncertainEncoding().toUtf8(),
        ConvertSource::Gbk);
    // A character only GB18030 reads (FE 9F), far behind the start: not a private-use one.
    const QString late = QString::fromUtf8(novel).repeated(100) + QStringLiteral("䶮");
    row("gb18030 character late in the file",
        QTextCodec::codecForName("GB18030")->fromUnicode(late), T::Utf8, Converted, Utf8(late));
    row("nul bytes", QByteArray("a\0b", 3), T::Gbk, Failed, reasonNotText().toUtf8());
}

void TestConversion::convert()
{
    QFETCH(QByteArray, input);
    QFETCH(ConvertTarget, target);
    QFETCH(ConvertSource, source);
    QFETCH(LineEnds, lineEnds);
    QFETCH(int, expected);
    QFETCH(QByteArray, output);
    QTemporaryDir temp;
    const QString src = temp.filePath(QStringLiteral("src"));
    const QString out = temp.filePath(QStringLiteral("out"));
    QVERIFY(WriteBytes(src + QStringLiteral("/d/f.txt"), input));
    QVERIFY(QDir().mkpath(out));
    BatchSettings settings;
    settings.sourceDir = src + QLatin1Char('/');
    settings.saveDir = out + QLatin1Char('/');
    settings.convertTo = target;
    settings.convertFrom = source;
    settings.convertLineEnds = lineEnds;
    QStringList reasons;
    RunObserver observer;
    observer.fileFailed = [&](const QString &, const FileFailure &failure) {
        reasons << failure.reason();
    };
    RunOptions options;
    options.writeReports = false;
    const RunResult result = RunBatch(Operation::ConvertEncoding, settings, observer, options);
    QCOMPARE(ReadBytes(src + QStringLiteral("/d/f.txt")), input);
    QCOMPARE(result.changed, expected == Converted ? 1 : 0);
    QCOMPARE(result.alreadyInTarget, expected == Already ? 1 : 0);
    QCOMPARE(reasons, expected == Failed ? QStringList{QString::fromUtf8(output)} : QStringList());
    if (expected == Converted)
        QCOMPARE(ReadBytes(out + QStringLiteral("/d/f.txt")), output);
    else
        QCOMPARE(TreeListing(out), QStringList());
}

// A tree to UTF-8 and back to GBK in place: every GBK file as it was; undoing both runs
// gives back the whole tree.
void TestConversion::roundTripAndUndo()
{
    QTemporaryDir temp;
    const QString src = temp.filePath(QStringLiteral("src"));
    const QList<QPair<QString, QByteArray>> files = {
        {QStringLiteral("crlf.txt"), Gbk(QStringLiteral("小云\r\n小吉\r\n"))},
        // Code page 936's own € (0x80), which Qt's codec without ICU writes as GB18030's A2 E3.
        {QStringLiteral("a/mixed.txt"), Gbk(QStringLiteral("甲\r乙\n丙\r\n")) + '\x80'},
        {QStringLiteral("a/ascii.txt"), QByteArray("plain")},
        {QStringLiteral("a/b/emoji.txt"), emojiGb18030},
        {QStringLiteral("utf8.txt"), Utf8(zh)},
    };
    for (const auto &file : files)
        QVERIFY(WriteBytes(src + QLatin1Char('/') + file.first, file.second));
    const QStringList listing = TreeListing(src);
    BatchSettings settings;
    settings.sourceDir = src + QLatin1Char('/');
    settings.saveInSource = true;
    RunOptions options;
    options.writeReports = false;
    settings.convertTo = ConvertTarget::Utf8;
    RunResult result = RunBatch(Operation::ConvertEncoding, settings, {}, options);
    QCOMPARE(result.changed, 3);
    QCOMPARE(result.alreadyInTarget, 2);
    settings.convertTo = ConvertTarget::Gbk;
    result = RunBatch(Operation::ConvertEncoding, settings, {}, options);
    QCOMPARE(result.failed, 1); // the emoji
    for (const auto &file : files.mid(0, 3))
        QCOMPARE(ReadBytes(src + QLatin1Char('/') + file.first), file.second);
    for (int run = 0; run < 2; ++run) {
        QString message;
        const std::optional<JournalRun> last = FindUndoRun(src, QString(), message);
        QVERIFY2(last, qPrintable(message));
        const UndoResult undone = UndoRun(src, *last, false, [](const UndoFile &file) {
            QVERIFY(file.status == UndoFile::Restored || file.status == UndoFile::AlreadyOriginal);
        });
        Q_UNUSED(undone);
    }
    for (const auto &file : files)
        QCOMPARE(ReadBytes(src + QLatin1Char('/') + file.first), file.second);
    QStringList after = TreeListing(src);
    after.erase(std::remove_if(after.begin(), after.end(),
                               [](const QString &path) {
                                   return path.startsWith(QLatin1String(".parafold-journal"));
                               }),
                after.end());
    QCOMPARE(after, listing);
}

// CPython's codec test texts, each in its encoding and in UTF-8 (Debian's
// libpython3.11-testsuite, which scripts/setup installs): converting one gives the other.
const QString samples = QStringLiteral("/usr/lib/python3.11/test/cjkencodings/");

void TestConversion::pythonSamples_data()
{
    QTest::addColumn<QString>("from");
    QTest::addColumn<ConvertSource>("source");
    QTest::addColumn<ConvertTarget>("target");
    QTest::addColumn<QString>("to");
    for (const char *name : {"gbk", "gb2312", "gb18030"}) {
        const QString file = QString::fromLatin1(name);
        QTest::newRow(name) << file + QStringLiteral(".txt") << ConvertSource::Detect
                            << ConvertTarget::Utf8 << file + QStringLiteral("-utf8.txt");
        QTest::newRow(qPrintable(file + QStringLiteral(" back")))
            << file + QStringLiteral("-utf8.txt") << ConvertSource::Detect
            << (file == QLatin1String("gb18030") ? ConvertTarget::Gb18030 : ConvertTarget::Gbk)
            << file + QStringLiteral(".txt");
    }
    QTest::newRow("big5") << QStringLiteral("big5.txt") << ConvertSource::Big5
                          << ConvertTarget::Utf8 << QStringLiteral("big5-utf8.txt");
    QTest::newRow("big5 detected") << QStringLiteral("big5.txt") << ConvertSource::Detect
                                   << ConvertTarget::Utf8 << QStringLiteral("big5-utf8.txt");
}

void TestConversion::pythonSamples()
{
    QFETCH(QString, from);
    QFETCH(ConvertSource, source);
    QFETCH(ConvertTarget, target);
    QFETCH(QString, to);
    if (!QFileInfo::exists(samples + from))
        QSKIP("CPython's cjkencodings samples are not installed (libpython3.11-testsuite)");
    QTemporaryDir temp;
    const QString src = temp.filePath(QStringLiteral("src"));
    const QString out = temp.filePath(QStringLiteral("out"));
    QVERIFY(WriteBytes(src + QStringLiteral("/f.txt"), ReadBytes(samples + from)));
    QVERIFY(QDir().mkpath(out));
    BatchSettings settings;
    settings.sourceDir = src + QLatin1Char('/');
    settings.saveDir = out + QLatin1Char('/');
    settings.convertTo = target;
    settings.convertFrom = source;
    RunOptions options;
    options.writeReports = false;
    const RunResult result = RunBatch(Operation::ConvertEncoding, settings, {}, options);
    QCOMPARE(result.changed, 1);
    QCOMPARE(ReadBytes(out + QStringLiteral("/f.txt")), ReadBytes(samples + to));
}

QTEST_GUILESS_MAIN(TestConversion)
#include "tst_conversion.moc"
