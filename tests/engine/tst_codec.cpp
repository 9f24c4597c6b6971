#include "engine/codec/ByteChecks.h"
#include "engine/codec/GbkUtf8.h"
#include "engine/codec/TextCodec.h"
#include "tests/engine/Fixture.h"

#include <QTest>

using namespace fixture;

Q_DECLARE_METATYPE(TextEncoding)

class TestCodec : public QObject
{
    Q_OBJECT

private slots:
    void validatorAgreesWithQt_data();
    void validatorAgreesWithQt();
    void decideEncoding_data();
    void decideEncoding();
    void damagedUtf8_data();
    void damagedUtf8();
    void roundTrip_data();
    void roundTrip();
    void lossless_data();
    void lossless();
    void lineEnds_data();
    void lineEnds();
    void unrepresentable_data();
    void unrepresentable();
    void unreadableFile();
    void gbkTableIsTheDecoder_data();
    void gbkTableIsTheDecoder();
};

void TestCodec::validatorAgreesWithQt_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("valid");
    QTest::newRow("empty") << QByteArray() << true;
    QTest::newRow("ascii") << QByteArray("plain text, long enough for blocks\r\n") << true;
    QTest::newRow("chinese") << Utf8(QStringLiteral("小云和小吉在江边")) << true;
    QTest::newRow("emoji") << QByteArray("\xF0\x9F\x98\x80") << true;
    QTest::newRow("highest") << QByteArray("\xF4\x8F\xBF\xBF") << true;
    QTest::newRow("noncharacter FFFE") << QByteArray("\xEF\xBF\xBE") << true;
    QTest::newRow("bom") << QByteArray("\xEF\xBB\xBF"
                                       "a")
                         << true;
    QTest::newRow("nul byte") << QByteArray("a\0b", 3) << true;
    QTest::newRow("overlong 2") << QByteArray("\xC0\xAF") << false;
    QTest::newRow("overlong C1") << QByteArray("\xC1\xBF") << false;
    QTest::newRow("overlong 3") << QByteArray("\xE0\x80\xAF") << false;
    QTest::newRow("overlong 4") << QByteArray("\xF0\x80\x80\xAF") << false;
    QTest::newRow("surrogate") << QByteArray("\xED\xA0\x80") << false;
    QTest::newRow("above 10FFFF") << QByteArray("\xF4\x90\x80\x80") << false;
    QTest::newRow("F5") << QByteArray("\xF5\x80\x80\x80") << false;
    QTest::newRow("FF") << QByteArray("ab\xFF") << false;
    QTest::newRow("lone continuation") << QByteArray("a\x80z") << false;
    QTest::newRow("truncated at end") << QByteArray("abc\xE4\xB8") << false;
    QTest::newRow("truncated inside") << QByteArray("\xE4\xB8z") << false;
    QTest::newRow("gbk chinese") << Gbk(QStringLiteral("小云")) << false;
    QTest::newRow("invalid after ascii block") << QByteArray("0123456789abcdef\xC3") << false;
}

void TestCodec::validatorAgreesWithQt()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, valid);
    QCOMPARE(IsValidUtf8(bytes.constData(), bytes.size()), valid);
    QTextCodec::ConverterState state;
    QTextCodec::codecForName("UTF-8")->toUnicode(bytes.constData(), bytes.size(), &state);
    QCOMPARE(state.invalidChars == 0 && state.remainingChars == 0, valid);
}

void TestCodec::decideEncoding_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("detectUtf16");
    QTest::addColumn<TextEncoding>("encoding");
    const QByteArray le = Utf16(QStringLiteral("小云"), true);
    const QByteArray be = Utf16(QStringLiteral("小云"), false);
    QTest::newRow("empty") << QByteArray() << true << TextEncoding::Utf8;
    QTest::newRow("ascii") << QByteArray("abc") << false << TextEncoding::Utf8;
    QTest::newRow("utf8") << Utf8(QStringLiteral("小吉")) << false << TextEncoding::Utf8;
    QTest::newRow("gbk") << Gbk(QStringLiteral("小吉")) << false << TextEncoding::Gbk;
    QTest::newRow("le detected") << le << true << TextEncoding::Utf16Le;
    QTest::newRow("be detected") << be << true << TextEncoding::Utf16Be;
    QTest::newRow("le not asked") << le << false << TextEncoding::Gbk;
    QTest::newRow("be not asked") << be << false << TextEncoding::Gbk;
    QTest::newRow("utf16 without mark")
        << Utf16(QStringLiteral("ab"), true, false) << true << TextEncoding::Utf8;
    // A cut-off last character is invalid UTF-8: GBK when the bytes are clean GBK, else the
    // UTF-8 file that lost its tail.
    QTest::newRow("utf8 cut off, bytes clean gbk")
        << Utf8(QStringLiteral("小云吉")).chopped(1) << false << TextEncoding::Gbk;
    QTest::newRow("gbk ending like cut-off utf8")
        << QByteArray("ver 2: \xE5\xA5") << false << TextEncoding::Gbk;
    QTest::newRow("utf8 cut off, bytes not clean gbk")
        << Utf8(QStringLiteral("小云吉吉")).chopped(1) << false << TextEncoding::Utf8;
    QTest::newRow("utf8 cut off after one byte")
        << Utf8(QStringLiteral("ab\U0001F600")).chopped(3) << false << TextEncoding::Utf8;
    QTest::newRow("cut-off lead byte that is never valid")
        << QByteArray("ab\xC0") << false << TextEncoding::Gbk;
    QTest::newRow("utf8 cut off, then more bytes")
        << QByteArray("\xE5\xB0z") << false << TextEncoding::Gbk;
    // GB18030 only where GBK cannot read the bytes.
    QTest::newRow("gb18030 four-byte sequence")
        << QByteArray("\xD0\xA1\x94\x39\xFC\x36") << false << TextEncoding::Gb18030;
    QTest::newRow("gb18030 digits after a lead byte, cut off")
        << QByteArray("\xD0\xA1\x94\x39\xFC") << false << TextEncoding::Gbk;
    QTest::newRow("gb18030 bad third byte")
        << QByteArray("\x81\x30\x20\x30") << false << TextEncoding::Gbk;
    QTest::newRow("gbk that is also gb18030 stays gbk")
        << QByteArray("\xD0\xA1\xA8\xA6 1") << false << TextEncoding::Gbk;
}

void TestCodec::decideEncoding()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, detectUtf16);
    QFETCH(TextEncoding, encoding);
    QCOMPARE(DecideEncoding(bytes, detectUtf16), encoding);
}

void TestCodec::damagedUtf8_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("damaged");
    const QString line = QStringLiteral("小云在山上看见了很多的花朵和树木，他很高兴地走回家中。\n");
    const QByteArray text = Utf8(line + line);
    const QByteArray cut = Utf8(QStringLiteral("云")).left(2);
    QTest::newRow("valid utf8") << text << false;
    QTest::newRow("one cut character") << text + cut + text << true;
    QTest::newRow("one stray byte") << text + '\xFF' + text << true;
    QTest::newRow("a fault every few characters")
        << Utf8(QStringLiteral("小云吉")) + cut + Utf8(QStringLiteral("小云吉")) + cut + text
        << false;
    QTest::newRow("broken gbk") << Gbk(line + line) + '\x81' + Gbk(line) << false;
    // Two continuation bytes pair up as a GBK character: the bytes read as GBK unchanged.
    const QByteArray even = Utf8(QString(20, QChar(0x5C0F)));
    QTest::newRow("clean gbk") << even + QByteArray("\xB0\xB0") + even << false;
}

void TestCodec::damagedUtf8()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, damaged);
    QCOMPARE(IsDamagedUtf8(bytes.constData(), bytes.size()), damaged);
}

// A file's bytes, read and written back without an edit.
void TestCodec::roundTrip_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<bool>("detectUtf16");
    QTest::addColumn<bool>("withBom");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("output");
    const QString zh = QStringLiteral("小云说：“走吧。”\n小吉笑了。\n");
    const QString zhCrLf = QStringLiteral("小云说：“走吧。”\r\n小吉笑了。\r\n");
    QTest::newRow("utf8 lf") << Utf8(zh) << false << false << zh << Utf8(zhCrLf);
    QTest::newRow("utf8 crlf, mark added")
        << Utf8(zhCrLf) << false << true << zh << Bom() + Utf8(zhCrLf);
    QTest::newRow("utf8 mark dropped")
        << Bom() + Utf8(zhCrLf) << false << false << zh << Utf8(zhCrLf);
    QTest::newRow("utf8 mark kept once")
        << Bom() + Utf8(zhCrLf) << false << true << zh << Bom() + Utf8(zhCrLf);
    // Without a mark in front, reading back would take the content's U+FEFF for one.
    QTest::newRow("utf8 second mark is content")
        << Bom() + Bom() + QByteArray("a") << false << false << QStringLiteral("\uFEFFa")
        << Bom() + Bom() + QByteArray("a");
    QTest::newRow("gbk never gets a mark") << Gbk(zh) << false << true << zh << Gbk(zhCrLf);
    QTest::newRow("gbk euro and private use")
        << QByteArray("\x80\xA2\xA0\xFF") << false << false << QStringLiteral("€\uE585\uF8F5")
        << QByteArray("\x80\xA2\xA0\xFF");
    QTest::newRow("ascii stays utf8")
        << QByteArray("a\nb") << false << false << QStringLiteral("a\nb") << QByteArray("a\r\nb");
    QTest::newRow("utf16le") << Utf16(zh, true) << true << false << zh << Utf16(zhCrLf, true);
    QTest::newRow("utf16be") << Utf16(zh, false) << true << true << zh << Utf16(zhCrLf, false);
    QTest::newRow("utf16 cr byte inside a character")
        << Utf16(QStringLiteral("\u0D0A\u0A0D\r\n"), true) << true << false
        << QStringLiteral("\u0D0A\u0A0D\n") << Utf16(QStringLiteral("\u0D0A\u0A0D\r\n"), true);
    QTest::newRow("utf16 second mark is content")
        << Utf16(QStringLiteral("\uFEFFx"), true) << true << false << QStringLiteral("\uFEFFx")
        << Utf16(QStringLiteral("\uFEFFx"), true);
    QTest::newRow("utf16 lone surrogate")
        << Utf16(QStringLiteral("a") + QChar(0xD800), false) << true << false
        << QStringLiteral("a") + QChar(0xD800) << Utf16(QStringLiteral("a") + QChar(0xD800), false);
    QTest::newRow("empty") << QByteArray() << true << false << QString() << QByteArray();
    QTest::newRow("gb18030 four-byte characters kept")
        << QByteArray("\xD0\xA1\xD4\xC6\x94\x39\xFC\x36\r\n\x95\x32\x82\x36\xBC\xAA\r\n") << false
        << true << QStringLiteral("小云\U0001F600\n\U00020000吉\n")
        << QByteArray("\xD0\xA1\xD4\xC6\x94\x39\xFC\x36\r\n\x95\x32\x82\x36\xBC\xAA\r\n");
}

void TestCodec::roundTrip()
{
    QFETCH(QByteArray, input);
    QFETCH(bool, detectUtf16);
    QFETCH(bool, withBom);
    QFETCH(QString, text);
    QFETCH(QByteArray, output);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("in.txt"));
    QVERIFY(WriteBytes(path, input));
    const std::optional<DecodedText> decoded = DecodeTextFile(path, detectUtf16);
    QVERIFY(decoded);
    QVERIFY(decoded->lossless);
    QCOMPARE(decoded->text, text);
    const std::optional<QByteArray> encoded = EncodeText(decoded->text, decoded->encoding, withBom);
    QVERIFY(encoded);
    QCOMPARE(*encoded, output);
}

void TestCodec::lossless_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("detectUtf16");
    QTest::addColumn<bool>("lossless");
    QTest::newRow("gbk text") << Gbk(QStringLiteral("小云\r\n小吉")) << false << true;
    QTest::newRow("gbk lone CR and LF") << Gbk(QStringLiteral("甲\r乙\n丙\r\n")) << false << true;
    QTest::newRow("gbk bad trail byte") << QByteArray("\xD0\xA1\x81\x20") << false << false;
    QTest::newRow("gbk lead byte at end") << QByteArray("\xA1\xA1\xD6") << false << false;
    QTest::newRow("four byte gb18030") << QByteArray("\x81\x30\x81\x30") << false << true;
    QTest::newRow("gb18030 unassigned four-byte sequence")
        << QByteArray("\x84\x31\xA5\x30") << false << false;
    QTest::newRow("utf8 cut off in last character")
        << Utf8(QStringLiteral("小云")).left(5) << false << false;
    QTest::newRow("utf8 cut off, bytes also clean gbk")
        << Utf8(QStringLiteral("小云吉")).chopped(1) << false << true;
    QTest::newRow("utf16 odd length") << Utf16(QStringLiteral("ab"), true) + 'x' << true << false;
    QTest::newRow("big5 bytes") << QByteArray("\xA4\x40\xA1\x7F") << false << false;
}

void TestCodec::lossless()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, detectUtf16);
    QFETCH(bool, lossless);
    QCOMPARE(DecodeBytes(bytes, DecideEncoding(bytes, detectUtf16)).lossless, lossless);
}

void TestCodec::lineEnds_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("normalised");
    QTest::newRow("none") << QStringLiteral("ab") << QStringLiteral("ab");
    QTest::newRow("crlf") << QStringLiteral("a\r\nb\r\n") << QStringLiteral("a\nb\n");
    QTest::newRow("lone cr") << QStringLiteral("a\rb") << QStringLiteral("a\nb");
    QTest::newRow("old mac lines") << QStringLiteral("a\rb\rc\r") << QStringLiteral("a\nb\nc\n");
    QTest::newRow("cr cr lf") << QStringLiteral("a\r\r\nb") << QStringLiteral("a\n\nb");
    QTest::newRow("lf cr") << QStringLiteral("a\n\rb") << QStringLiteral("a\n\nb");
    QTest::newRow("mixed") << QStringLiteral("1\r\n2\n3\r4") << QStringLiteral("1\n2\n3\n4");
    QTest::newRow("only cr") << QStringLiteral("\r") << QStringLiteral("\n");
}

void TestCodec::lineEnds()
{
    QFETCH(QString, text);
    QFETCH(QString, normalised);
    NormaliseLineEnds(text);
    QCOMPARE(text, normalised);
}

void TestCodec::unrepresentable_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<TextEncoding>("encoding");
    QTest::addColumn<bool>("representable");
    const QString emoji = QStringLiteral("小云\U0001F600");
    QTest::newRow("emoji in gbk") << emoji << TextEncoding::Gbk << false;
    QTest::newRow("replacement char in gbk")
        << QStringLiteral("\uFFFD") << TextEncoding::Gbk << false;
    QTest::newRow("emoji in utf8") << emoji << TextEncoding::Utf8 << true;
    QTest::newRow("emoji in gb18030") << emoji << TextEncoding::Gb18030 << true;
    QTest::newRow("lone surrogate in gb18030")
        << QString(QChar(0xDC00)) << TextEncoding::Gb18030 << false;
    QTest::newRow("emoji in utf16") << emoji << TextEncoding::Utf16Be << true;
    QTest::newRow("lone surrogate in utf8")
        << QString(QChar(0xDC00)) << TextEncoding::Utf8 << false;
    QTest::newRow("reversed pair in utf8")
        << QString(QChar(0xDC00)) + QChar(0xD800) << TextEncoding::Utf8 << false;
    QTest::newRow("lone surrogate in utf16")
        << QString(QChar(0xDC00)) << TextEncoding::Utf16Le << true;
}

void TestCodec::unrepresentable()
{
    QFETCH(QString, text);
    QFETCH(TextEncoding, encoding);
    QFETCH(bool, representable);
    QCOMPARE(EncodeText(text, encoding, false).has_value(), representable);
}

void TestCodec::unreadableFile()
{
    QTemporaryDir dir;
    QVERIFY(!DecodeTextFile(dir.filePath(QStringLiteral("missing.txt")), false));
    QVERIFY(!DecodeTextFile(dir.path(), false)); // a folder cannot be read as a file
}

QTEST_GUILESS_MAIN(TestCodec)
#include "tst_codec.moc"

void TestCodec::gbkTableIsTheDecoder_data()
{
    // Clean GBK comes out of the table as the decoder reads it; anything else is left to the
    // decoder.
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("settled");
    QTest::addColumn<bool>("oneByOne"); // each character on its own, settled or not
    QTest::newRow("text") << Gbk(QString::fromUtf8("小云说：“你好”，ABC\t１２３。")) << true
                          << false;
    QTest::newRow("ascii") << QByteArray("a\x01\x7F z", 5) << true << false;
    QTest::newRow("lead byte at the end")
        << Gbk(QString::fromUtf8("你好")) + "\xD0" << false << false;
    QTest::newRow("lead byte before ascii") << QByteArray("\xD0\x30") << false << false;
    for (int lead = 0x81; lead <= 0xFE; ++lead) {
        QByteArray row;
        for (int trail = 0x40; trail <= 0xFE; ++trail) {
            if (trail != 0x7F)
                row.append(char(lead)).append(char(trail));
        }
        QTest::addRow("row %02x", lead) << row << true << true;
    }
}

void TestCodec::gbkTableIsTheDecoder()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, settled);
    QFETCH(bool, oneByOne);
    const auto decoded = [](const QByteArray &gbk) {
        return DecodeBytes(gbk, TextEncoding::Gbk, false).text.toUtf8();
    };
    if (!oneByOne) {
        QByteArray utf8;
        const bool took = AppendGbkAsUtf8(bytes.constData(), bytes.size(), utf8);
        QCOMPARE(took, settled);
        if (took)
            QCOMPARE(utf8, decoded(bytes));
        return;
    }
    // Every row holds assigned characters, which the table must settle.
    int taken = 0;
    for (int at = 0; at < bytes.size(); at += 2) {
        QByteArray utf8("x");
        if (AppendGbkAsUtf8(bytes.constData() + at, 2, utf8)) {
            QCOMPARE(utf8, "x" + decoded(bytes.mid(at, 2)));
            ++taken;
        }
    }
    QCOMPARE(taken > 0, settled);
}
