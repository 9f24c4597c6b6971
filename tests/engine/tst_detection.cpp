#include "engine/codec/ByteChecks.h"
#include "engine/codec/TextCodec.h"
#include "engine/run/RunBatch.h"
#include "tests/engine/Fixture.h"

#include <QTest>

#include <algorithm>

using namespace fixture;

Q_DECLARE_METATYPE(TextEncoding)
Q_DECLARE_METATYPE(Operation)

// Novels of real text in every encoding a file may have, encoded by Qt's own codecs: each must
// be read in the encoding it was written in, and a short file never taken surely for another.
class TestDetection : public QObject
{
    Q_OBJECT

private slots:
    void novels_data();
    void novels();
    void shortFiles_data();
    void shortFiles();
    void gb18030OnlyPairs();
    void big5Kept_data();
    void big5Kept();
};

namespace {

const QString simplified = QStringLiteral(
    "天色渐渐暗了下来，小云独自坐在窗前，望着远处的山峦出神。她想起了小时候和哥哥一起在河边捉鱼的"
    "日子，那时候的天空总是那么蓝，风也是那么温柔。母亲常说，人这一辈子最难得的就是平安二字。如今"
    "哥哥远在京城做官，已经三年没有回家了。门外忽然传来一阵急促的脚步声，丫鬟推门进来，气喘吁吁地"
    "说道：“小姐，老爷请您去前厅，说是有贵客到了。”小云整理了一下衣裳，跟着丫鬟穿过长长的走廊。"
    "院子里的桂花开得正盛，香气扑鼻。她心里隐隐觉得，今天将要发生一件改变她一生的大事。前厅里灯火"
    "通明，父亲正和一位白发老人说话，见她进来，便招手让她过去。那老人仔细打量了她一番，点头笑道："
    "“果然是个聪明伶俐的好孩子。”第二天一早，村口的老槐树下聚满了看热闹的人。有人说那老人是朝廷"
    "派来的大官，也有人说他是云游四方的神医。小吉挤在人群里，踮着脚往里看，只见一辆马车停在路边，"
    "车夫正忙着给马喂草料。");
const QString traditional = QStringLiteral(
    "天色漸漸暗了下來，小云獨自坐在窗前，望著遠處的山巒出神。她想起了小時候和哥哥一起在河邊捉魚的"
    "日子，那時候的天空總是那麼藍，風也是那麼溫柔。母親常說，人這一輩子最難得的就是平安二字。如今"
    "哥哥遠在京城做官，已經三年沒有回家了。門外忽然傳來一陣急促的腳步聲，丫鬟推門進來，氣喘吁吁地"
    "說道：“小姐，老爺請您去前廳，說是有貴客到了。”小云整理了一下衣裳，跟著丫鬟穿過長長的走廊。"
    "院子裡的桂花開得正盛，香氣撲鼻。她心裡隱隱覺得，今天將要發生一件改變她一生的大事。前廳裡燈火"
    "通明，父親正和一位白髮老人說話，見她進來，便招手讓她過去。那老人仔細打量了她一番，點頭笑道："
    "“果然是個聰明伶俐的好孩子。”第二天一早，村口的老槐樹下聚滿了看熱鬧的人。有人說那老人是朝廷"
    "派來的大官，也有人說他是雲遊四方的神醫。小吉擠在人群裡，踮著腳往裡看，只見一輛馬車停在路邊，"
    "車伕正忙著給馬喂草料。");

struct Kind
{
    const char *name;
    TextEncoding encoding;
    const QString *text;
    QString extra; // characters put into every other sentence
};

const Kind kinds[] = {
    {"gbk", TextEncoding::Gbk, &simplified, {}},
    {"gbk traditional", TextEncoding::Gbk, &traditional, {}},
    {"gb18030 two-byte", TextEncoding::Gb18030, &simplified, QStringLiteral("䶮€⿰ǹ")},
    {"gb18030 four-byte", TextEncoding::Gb18030, &simplified, QStringLiteral("𠮷㐀")},
    {"big5", TextEncoding::Big5, &traditional, {}},
    {"utf-8", TextEncoding::Utf8, &simplified, {}},
    {"utf-16le", TextEncoding::Utf16Le, &traditional, {}},
    {"utf-16be", TextEncoding::Utf16Be, &simplified, {}},
};

QStringList Sentences(const QString &text)
{
    QStringList sentences;
    int from = 0;
    for (int i = 0; i < text.size(); ++i) {
        if (text.at(i) == QChar(0x3002) || text.at(i) == QChar(0x201D)) {
            sentences += text.mid(from, i + 1 - from);
            from = i + 1;
        }
    }
    return sentences;
}

QByteArray Encoded(const QString &text, TextEncoding encoding)
{
    switch (encoding) {
    case TextEncoding::Gbk:
        return Gbk(text);
    case TextEncoding::Gb18030:
        return QTextCodec::codecForName("GB18030")->fromUnicode(text);
    case TextEncoding::Big5:
        return QTextCodec::codecForName("Big5")->fromUnicode(text);
    case TextEncoding::Utf16Le:
    case TextEncoding::Utf16Be:
        return Utf16(text, encoding == TextEncoding::Utf16Le);
    case TextEncoding::Utf8:
        break;
    }
    return Utf8(text);
}

// Chapters of the kind's sentences in an order of the seed's, up to about size bytes.
QString Novel(const Kind &kind, int size, quint32 seed)
{
    const QStringList sentences = Sentences(*kind.text);
    const QVector<uint> extra = kind.extra.toUcs4();
    QString text;
    int chapter = 0;
    for (int n = 0, bytes = 0; bytes < size; ++n) {
        QString piece;
        if (n % 40 == 0)
            piece += QStringLiteral("第%1章\r\n").arg(++chapter);
        seed = seed * 1103515245u + 12345u;
        piece += sentences.at(int((seed >> 8) % quint32(sentences.size())));
        if (n % 2 == 1 && !extra.isEmpty())
            piece += QString::fromUcs4(&extra.at(int((seed >> 4) % quint32(extra.size()))), 1);
        if (n % 5 == 4)
            piece += QStringLiteral("\r\n");
        text += piece;
        const bool utf16 =
            kind.encoding == TextEncoding::Utf16Le || kind.encoding == TextEncoding::Utf16Be;
        bytes += utf16 ? 2 * piece.size() : Encoded(piece, kind.encoding).size();
    }
    // A short file ends on a whole character: cut the text, not the bytes.
    while (text.size() > 1 && Encoded(text, kind.encoding).size() > size)
        text.chop(text.at(text.size() - 1).isLowSurrogate() ? 2 : 1);
    if (text.endsWith(QLatin1Char('\r')))
        text.chop(1); // a lone CR would be written back as CR LF
    return text;
}

} // namespace

void TestDetection::novels_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<TextEncoding>("encoding");
    for (const Kind &kind : kinds) {
        for (const int size : {2048, 3000, 8192, 65536, 300000, 1 << 20}) {
            for (quint32 seed = 1; seed <= (size > 10000 ? 1u : 3u); ++seed) {
                QTest::addRow("%s %d #%u", kind.name, size, seed)
                    << Novel(kind, size, seed) << kind.encoding;
            }
        }
    }
}

void TestDetection::novels()
{
    QFETCH(QString, text);
    QFETCH(TextEncoding, encoding);
    const QByteArray bytes = Encoded(text, encoding);
    const EncodingDecision decision = DetectEncoding(bytes, true);
    QCOMPARE(EncodingName(decision.encoding, bytes), EncodingName(encoding, bytes));
    QVERIFY(!decision.rival);
    const DecodedText decoded = DecodeBytes(bytes, decision.encoding);
    QVERIFY(decoded.lossless);
    QCOMPARE(decoded.text, text);
}

void TestDetection::shortFiles_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<TextEncoding>("encoding");
    for (const Kind &kind : kinds) {
        for (const int size : {6, 12, 30, 60, 120, 250, 500, 1000, 1500, 2000}) {
            for (quint32 seed = 1; seed <= 4; ++seed) {
                QTest::addRow("%s %d #%u", kind.name, size, seed)
                    << Novel(kind, size, seed) << kind.encoding;
            }
        }
    }
}

void TestDetection::shortFiles()
{
    QFETCH(QString, text);
    QFETCH(TextEncoding, encoding);
    const QByteArray bytes = Encoded(text, encoding);
    if (encoding == TextEncoding::Gb18030 && Gbk(text) == bytes)
        encoding = TextEncoding::Gbk; // none of GB18030's own characters made it in
    const EncodingDecision decision = DetectEncoding(bytes, true);
    // Two characters are too few to tell: GBK, as always.
    const int legacy =
        int(std::count_if(text.begin(), text.end(), [](QChar c) { return c > 0x7F; }));
    if (legacy < 3 && encoding == TextEncoding::Big5 && decision.encoding == TextEncoding::Gbk)
        return;
    // Too little text may leave the question open, but then the answer is among the two, and
    // the file is never written from it.
    if (decision.rival) {
        QVERIFY(decision.encoding == encoding || *decision.rival == encoding);
        return;
    }
    // Where code page 936 reads the bytes as the same text (Windows' reads a few of GB18030's
    // own pairs, such as A8 BC), GBK and GB18030 are both right: the text must come back.
    const auto family = [](TextEncoding each) {
        return each == TextEncoding::Gbk || each == TextEncoding::Gb18030;
    };
    if (family(decision.encoding) && family(encoding)) {
        const DecodedText read = DecodeBytes(bytes, decision.encoding);
        QVERIFY(read.lossless);
        QCOMPARE(read.text, text);
        return;
    }
    QCOMPARE(EncodingName(decision.encoding, bytes), EncodingName(encoding, bytes));
}

void TestDetection::gb18030OnlyPairs()
{
    // Exactly the cells that code page 936 reads as private use and GB18030 as a character.
    for (int lead = 0x81; lead <= 0xFE; ++lead) {
        for (int trail = 0x40; trail <= 0xFE; ++trail) {
            QByteArray cell;
            cell.append(char(lead)).append(char(trail));
            const QString asGbk = GbkCodec()->toUnicode(cell);
            const QString asGb18030 = Gb18030Codec()->toUnicode(cell);
            const auto privateUse = [](const QString &text) {
                return text.size() == 1 && text.at(0).unicode() >= 0xE000 &&
                       text.at(0).unicode() <= 0xF8FF;
            };
            const bool expected = trail != 0x7F && privateUse(asGbk) && asGb18030.size() == 1 &&
                                  !privateUse(asGb18030) && asGb18030 != QChar(0xFFFD);
            QVERIFY2(IsGb18030OnlyPair(uchar(lead), uchar(trail)) == expected,
                     cell.toHex().constData());
            // Found only at a character start: behind a lead byte it is a trail and a lead.
            const QByteArray behind = QByteArray("\xB0") + cell;
            QCOMPARE(HoldsGb18030OnlyPair(cell.constData(), 2), expected);
            QVERIFY(!HoldsGb18030OnlyPair(behind.constData(), 2));
        }
    }
}

void TestDetection::big5Kept_data()
{
    QTest::addColumn<Operation>("operation");
    QTest::addColumn<QString>("expected"); // the file's new text, in Big5; empty: only found
    const QString novel = Novel(kinds[4], 4096, 7);
    QTest::newRow("find") << Operation::FindText << QString();
    QTest::newRow("replace") << Operation::ReplaceText
                             << QString(novel).replace(QStringLiteral("遠處"),
                                                       QStringLiteral("遠方"));
    QTest::newRow("pairs") << Operation::ReplacePairs
                           << QString(novel)
                                  .replace(QStringLiteral("遠處"), QStringLiteral("遠方"))
                                  .replace(QStringLiteral("丫鬟"), QStringLiteral("侍女"));
    QTest::newRow("insert") << Operation::InsertText << QStringLiteral("序：") + novel;
}

void TestDetection::big5Kept()
{
    QFETCH(Operation, operation);
    QFETCH(QString, expected);
    // Sure to hold 遠處 and 丫鬟: the seed's novel has each sentence.
    const QString novel = Novel(kinds[4], 4096, 7);
    QVERIFY(novel.contains(QStringLiteral("遠處")) && novel.contains(QStringLiteral("丫鬟")));
    QTemporaryDir temp;
    const QString src = temp.filePath(QStringLiteral("src"));
    const QString out = temp.filePath(QStringLiteral("out"));
    QVERIFY(WriteBytes(src + QStringLiteral("/f.txt"), Encoded(novel, TextEncoding::Big5)));
    QVERIFY(QDir().mkpath(out));
    BatchSettings settings;
    settings.sourceDir = src + QLatin1Char('/');
    settings.saveDir = out + QLatin1Char('/');
    settings.searchTerms = QStringLiteral("遠處");
    settings.findText = QStringLiteral("遠處");
    settings.replaceText = QStringLiteral("遠方");
    settings.findLines = Names({"遠處", "丫鬟"});
    settings.replaceLines = Names({"遠方", "侍女"});
    settings.insertText = QStringLiteral("序：");
    RunOptions options;
    options.writeReports = false;
    const RunResult result = RunBatch(operation, settings, {}, options);
    QCOMPARE(result.failed, 0);
    QCOMPARE(result.changed, 1);
    if (!expected.isEmpty())
        QCOMPARE(ReadBytes(out + QStringLiteral("/f.txt")), Encoded(expected, TextEncoding::Big5));
}

QTEST_GUILESS_MAIN(TestDetection)
#include "tst_detection.moc"
