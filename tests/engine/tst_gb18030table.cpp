#include "engine/codec/TextCodec.h"

#include <QCryptographicHash>
#include <QTest>
#include <QTextCodec>
#include <vector>

// Every two- and four-byte sequence through the GB18030 codec the program uses: ICU's here,
// Windows' code page 54936 there. Both must give GB18030's one-to-one mapping of all of
// Unicode, and the same table, or a file written on one system reads differently on the other.
class TestGb18030Table : public QObject
{
    Q_OBJECT

private slots:
    void everySequence();
};

namespace {

QByteArray Sequence(int b1, int b2, int b3 = -1, int b4 = -1)
{
    QByteArray bytes;
    bytes += char(b1);
    bytes += char(b2);
    if (b3 >= 0) {
        bytes += char(b3);
        bytes += char(b4);
    }
    return bytes;
}

// The four-byte sequence's place from 81 30 81 30 on.
int Linear(int b1, int b2, int b3, int b4)
{
    return (((b1 - 0x81) * 10 + (b2 - 0x30)) * 126 + (b3 - 0x81)) * 10 + (b4 - 0x30);
}

// The one character the bytes decode to, if they decode to exactly one and it encodes back to
// the same bytes; -1 otherwise.
int RoundTrip(QTextCodec *codec, const QByteArray &bytes)
{
    const QString text = codec->toUnicode(bytes);
    const QVector<uint> ucs4 = text.toUcs4();
    if (ucs4.size() != 1 || codec->fromUnicode(text) != bytes)
        return -1;
    return int(ucs4.first());
}

} // namespace

void TestGb18030Table::everySequence()
{
    QTextCodec *codec = Gb18030Codec();
    QVERIFY(codec);
    std::vector<int> owner(0x110000, -1); // the sequence number that decodes to a code point
    QCryptographicHash digest(QCryptographicHash::Sha256);
    int sequence = 0;
    const auto claim = [&](int codePoint) {
        QVERIFY2(owner[size_t(codePoint)] < 0,
                 qPrintable(QStringLiteral("U+%1 twice").arg(codePoint, 4, 16, QLatin1Char('0'))));
        owner[size_t(codePoint)] = sequence;
        const quint32 entry = quint32(codePoint);
        digest.addData(reinterpret_cast<const char *>(&entry), sizeof entry);
    };
    for (int b = 0; b < 0x80; ++b, ++sequence)
        claim(b);

    for (int b1 = 0x81; b1 <= 0xFE; ++b1) {
        for (int b2 = 0x40; b2 <= 0xFE; ++b2) {
            if (b2 == 0x7F)
                continue;
            const QByteArray bytes = Sequence(b1, b2);
            const int codePoint = RoundTrip(codec, bytes);
            QVERIFY2(codePoint >= 0 && codePoint < 0x10000, bytes.toHex().constData());
            claim(codePoint);
            ++sequence;
        }
    }

    // Four-byte sequences: 81 30 81 30 to 84 31 A4 39 are the rest of the BMP, 90 30 81 30 to
    // E3 32 9A 35 the planes above it in order; every other one is undefined.
    const int bmpEnd = Linear(0x84, 0x31, 0xA4, 0x39);
    const int planesBegin = Linear(0x90, 0x30, 0x81, 0x30);
    const int planesEnd = Linear(0xE3, 0x32, 0x9A, 0x35);
    for (int b1 = 0x81; b1 <= 0xFE; ++b1) {
        for (int b2 = 0x30; b2 <= 0x39; ++b2) {
            for (int b3 = 0x81; b3 <= 0xFE; ++b3) {
                for (int b4 = 0x30; b4 <= 0x39; ++b4) {
                    const QByteArray bytes = Sequence(b1, b2, b3, b4);
                    const int linear = Linear(b1, b2, b3, b4);
                    const int codePoint = RoundTrip(codec, bytes);
                    if (linear <= bmpEnd) {
                        QVERIFY2(codePoint >= 0 && codePoint < 0x10000, bytes.toHex().constData());
                        claim(codePoint);
                    } else if (linear >= planesBegin && linear <= planesEnd) {
                        QVERIFY2(codePoint == 0x10000 + linear - planesBegin,
                                 bytes.toHex().constData());
                        owner[size_t(codePoint)] = sequence;
                    } else {
                        QVERIFY2(codePoint < 0, bytes.toHex().constData());
                    }
                    ++sequence;
                }
            }
        }
    }

    // Every character outside the surrogates has its sequence.
    for (int codePoint = 0; codePoint < 0x110000; ++codePoint) {
        if (codePoint >= 0xD800 && codePoint <= 0xDFFF)
            continue;
        QVERIFY2(
            owner[size_t(codePoint)] >= 0,
            qPrintable(QStringLiteral("U+%1 unmapped").arg(codePoint, 4, 16, QLatin1Char('0'))));
    }
    // The BMP table as ICU 72's gb18030 gives it, which is GB18030-2005 (A8 BC is U+1E3F; in
    // the 2000 edition, and in Python's and Qt's own codecs, it is U+E7C7 and 81 35 F4 37 is
    // U+1E3F, which the program trades back).
    QCOMPARE(digest.result().toHex(),
             QByteArray("f1f840fd20520ed983e2cc0e5a82fa015227ce54ad1bf1ed9f62193e51b4a0f8"));
}

QTEST_GUILESS_MAIN(TestGb18030Table)
#include "tst_gb18030table.moc"
