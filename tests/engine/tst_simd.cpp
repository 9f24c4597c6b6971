#include "engine/codec/ByteChecks.h"
#include "engine/codec/Utf16Pieces.h"
#include "engine/search/FindBytes.h"
#include "engine/simd/SimdLevel.h"

#include <QRandomGenerator>
#include <QTest>

#include <cstring>

// Every vector kernel gives the scalar kernel's answer. The kernels work on 16-, 32- and
// 64-byte blocks, so faults are placed at every offset of inputs of every length up to 64
// and beyond a block boundary, and the inputs are copied to a buffer of exactly their size,
// so that a read past the end shows under the sanitizers.
class TestSimd : public QObject
{
    Q_OBJECT

private slots:
    void validatorsAgreeAroundFaults_data();
    void validatorsAgreeAroundFaults();
    void validatorsAgreeOnRandomBytes_data();
    void validatorsAgreeOnRandomBytes();
    void searchAgrees();
    void utf16ToUtf8Agrees_data();
    void utf16ToUtf8Agrees();
};

namespace {

struct Answers
{
    bool utf8;
    bool gbk;
};

Answers Check(SimdLevel level, const QByteArray &bytes)
{
    // A buffer of exactly the input's size, without QByteArray's terminating zero behind it.
    std::vector<char> exact(bytes.begin(), bytes.end());
    return {IsValidUtf8(level, exact.data(), bytes.size()),
            IsCleanGbk(level, exact.data(), bytes.size())};
}

QString Describe(SimdLevel level, const QByteArray &bytes)
{
    return QStringLiteral("level %1 disagrees on %2")
        .arg(static_cast<int>(level))
        .arg(QString::fromLatin1(bytes.toHex(' ')));
}

bool AllLevelsAgree(const QByteArray &bytes)
{
    const Answers scalar = Check(SimdLevel::Scalar, bytes);
    for (const SimdLevel level : SupportedSimdLevels()) {
        const Answers answers = Check(level, bytes);
        if (answers.utf8 != scalar.utf8 || answers.gbk != scalar.gbk) {
            qWarning("%s", qPrintable(Describe(level, bytes)));
            return false;
        }
    }
    return true;
}

} // namespace

void TestSimd::validatorsAgreeAroundFaults_data()
{
    QTest::addColumn<QByteArray>("filler");
    QTest::addColumn<QByteArray>("fault");
    // Fillers: what the fault sits in. Faults: one short sequence, valid or not in either
    // encoding, with the narrow second bytes and the cut-off leads of both.
    const QByteArray chinese = QStringLiteral("小云").toUtf8();
    const QByteArray gbk("\xD0\xA1\xD4\xC6");
    const QList<QPair<const char *, QByteArray>> fillers{
        {"ascii", "a"}, {"utf8", chinese}, {"gbk", gbk}, {"gbk lead run", "\xB0"}};
    const QList<QPair<const char *, QByteArray>> faults{{"C0", "\xC0\x80"},
                                                        {"C1", "\xC1\xBF"},
                                                        {"E0 low", "\xE0\x9F\xBF"},
                                                        {"E0 ok", "\xE0\xA0\x80"},
                                                        {"ED surrogate", "\xED\xA0\x80"},
                                                        {"ED ok", "\xED\x9F\xBF"},
                                                        {"F0 low", "\xF0\x8F\xBF\xBF"},
                                                        {"F0 ok", "\xF0\x90\x80\x80"},
                                                        {"F4 high", "\xF4\x90\x80\x80"},
                                                        {"F4 ok", "\xF4\x8F\xBF\xBF"},
                                                        {"F5", "\xF5\x80\x80\x80"},
                                                        {"FF", "\xFF"},
                                                        {"lone continuation", "\x80"},
                                                        {"lead cut off", "\xE5\xB0"},
                                                        {"lead then ascii", "\xE5"
                                                                            "a"},
                                                        {"four cut off", "\xF0\x9F\x98"},
                                                        {"too many continuations", "\xC3\xA9\xA9"},
                                                        {"gbk lead alone", "\x81"},
                                                        {"gbk lead, 7F", "\x81\x7F"},
                                                        {"gbk lead, 3F", "\x81\x3F"},
                                                        {"gbk lead, 40", "\x81\x40"},
                                                        {"gbk lead, 80", "\x81\x80"},
                                                        {"gbk lead, FF", "\xFE\xFF"},
                                                        {"gbk leads, odd run", "\xB0\xB0\xB0"
                                                                               "A"},
                                                        {"gbk leads, even run", "\xB0\xB0\xB0\xB0"},
                                                        {"nul", QByteArray(1, '\0')}};
    for (const auto &filler : fillers) {
        for (const auto &fault : faults)
            QTest::addRow("%s in %s", fault.first, filler.first) << filler.second << fault.second;
    }
}

// Every length 0 to 64, and 120 to 136 across the second block's end, with the fault at every
// position: the filler before it, the filler after it, or cut off right behind it.
void TestSimd::validatorsAgreeAroundFaults()
{
    QFETCH(QByteArray, filler);
    QFETCH(QByteArray, fault);
    QList<int> lengths;
    for (int length = 0; length <= 64; ++length)
        lengths += length;
    for (int length = 120; length <= 136; ++length)
        lengths += length;
    for (const int length : lengths) {
        for (int at = 0; at + fault.size() <= length; ++at) {
            QByteArray bytes = filler.repeated(length / filler.size() + 2).left(length);
            bytes.replace(at, fault.size(), fault);
            if (!AllLevelsAgree(bytes) || !AllLevelsAgree(bytes.left(at + fault.size())))
                QFAIL("a vector kernel disagrees with the scalar one");
        }
    }
}

void TestSimd::validatorsAgreeOnRandomBytes_data()
{
    QTest::addColumn<QByteArrayList>("pieces");
    QByteArrayList utf8;
    for (const char *piece :
         {"a", "\n", "\xE5\xB0\x8F", "\xE4\xBA\x91", "\xC3\xA9", "\xF0\x9F\x98\x80", "\xE0\xA0\x80",
          "\xED\x9F\xBF", "\xF4\x8F\xBF\xBF"})
        utf8 += QByteArray(piece);
    QTest::newRow("utf8 characters") << utf8;
    QByteArrayList bytes;
    for (const int byte : {0x00, 0x3F, 0x40, 0x7E, 0x7F, 0x80, 0x81, 0x8F, 0x90, 0x9F, 0xA0, 0xBF,
                           0xC0, 0xC2, 0xDF, 0xE0, 0xED, 0xEF, 0xF0, 0xF4, 0xF5, 0xFE, 0xFF})
        bytes += QByteArray(1, static_cast<char>(byte));
    QTest::newRow("edge bytes") << bytes;
    QTest::newRow("utf8 characters and edge bytes") << utf8 + bytes;
    QTest::newRow("gbk characters")
        << QByteArrayList{"\xD0\xA1", "\xD4\xC6", "\x81\x40", "\xFE\x80", "\xB0", "A", "\r\n"};
}

void TestSimd::validatorsAgreeOnRandomBytes()
{
    QFETCH(QByteArrayList, pieces);
    QRandomGenerator random(5);
    int accepted = 0;
    int refused = 0;
    for (int i = 0; i < 20000; ++i) {
        QByteArray bytes;
        const int count = random.bounded(80);
        for (int k = 0; k < count; ++k)
            bytes += pieces.at(random.bounded(pieces.size()));
        if (!AllLevelsAgree(bytes))
            QFAIL("a vector kernel disagrees with the scalar one");
        const Answers answers = Check(SimdLevel::Scalar, bytes);
        accepted += answers.utf8 || answers.gbk;
        refused += !answers.utf8 || !answers.gbk;
    }
    // Both answers must come up often, or the comparison proves little.
    QVERIFY2(accepted > 500 && refused > 500,
             qPrintable(QStringLiteral("%1 %2").arg(accepted).arg(refused)));
}

// The search finds the first occurrence at every offset and length, also where only the
// first and last bytes match, and nothing past the haystack's end.
void TestSimd::searchAgrees()
{
    QRandomGenerator random(3);
    for (int round = 0; round < 3000; ++round) {
        QByteArray haystack;
        const int size = random.bounded(100);
        for (int i = 0; i < size; ++i)
            haystack += "abcx"[random.bounded(4)];
        QByteArray needle;
        if (size > 0 && random.bounded(2) == 0) {
            const int from = random.bounded(size);
            needle = haystack.mid(from, 1 + random.bounded(6));
        } else {
            for (int i = 0, length = 1 + random.bounded(5); i < length; ++i)
                needle += "abc"[random.bounded(3)];
        }
        std::vector<char> exact(haystack.begin(), haystack.end());
        const char *begin = exact.data();
        const char *end = begin + exact.size();
        const int expected = haystack.indexOf(needle);
        for (const SimdLevel level : SupportedSimdLevels()) {
            const char *at = FindBytes(level, begin, end, needle.constData(), needle.size());
            const int found = at ? static_cast<int>(at - begin) : -1;
            if (found != expected)
                QFAIL(
                    qPrintable(QStringLiteral("level %1: %2 in %3 at %4, not %5")
                                   .arg(static_cast<int>(level))
                                   .arg(QString::fromLatin1(needle), QString::fromLatin1(haystack))
                                   .arg(found)
                                   .arg(expected)));
        }
    }
}

void TestSimd::utf16ToUtf8Agrees_data()
{
    QTest::addColumn<QString>("text");
    const QString chinese = QStringLiteral("夜色渐深，掌柜的笑着迎了出来。");
    QTest::newRow("Chinese") << chinese.repeated(9);
    QTest::newRow("ASCII") << QStringLiteral("They said nothing more. ").repeated(9);
    QTest::newRow("mixed") << (chinese + QStringLiteral("ok\r\n") + chinese.left(5)).repeated(7);
    QTest::newRow("two-byte") << QStringLiteral("Ωμέγα é ").repeated(9) + chinese;
    QTest::newRow("surrogate pairs") << (chinese.left(7) + QStringLiteral("😀")).repeated(9);
    QTest::newRow("lone surrogate") << chinese.repeated(3) + QChar(0xD800) + chinese;
    QTest::newRow("lone low surrogate") << chinese.repeated(2) + QChar(0xDC00) + chinese;
}

// UTF-16 of either byte order, cut into pieces of every few sizes, turns into the UTF-8 of
// its text and back at every level, and a lone surrogate stops it at every level.
void TestSimd::utf16ToUtf8Agrees()
{
    QFETCH(QString, text);
    const bool wellFormed = text.isValidUtf16();
    std::vector<SimdLevel> levels = SupportedSimdLevels();
    levels.insert(levels.begin(), SimdLevel::Scalar);
    for (const bool little : {true, false}) {
        QByteArray utf16;
        for (const QChar c : text) {
            const char low = char(c.unicode() & 0xFF);
            const char high = char(c.unicode() >> 8);
            utf16 += little ? low : high;
            utf16 += little ? high : low;
        }
        for (const SimdLevel level : levels) {
            for (const int piece : {1, 3, 16, 17, 64, 4096}) {
                Utf16ToUtf8 decoder(little, level);
                std::string utf8;
                bool ok = true;
                for (int at = 0; at < utf16.size() && ok; at += piece) {
                    const QByteArray part = utf16.mid(at, piece);
                    // Exactly the piece, so that a read past it shows under the sanitizers.
                    const std::vector<char> exact(part.begin(), part.end());
                    ok = decoder.add(exact.data(), qint64(exact.size()), utf8);
                }
                const QString where =
                    QStringLiteral("level %1, piece %2, %3")
                        .arg(int(level))
                        .arg(piece)
                        .arg(little ? QStringLiteral("LE") : QStringLiteral("BE"));
                QVERIFY2((ok && decoder.complete()) == wellFormed, qPrintable(where));
                if (!wellFormed)
                    continue;
                QVERIFY2(QByteArray::fromStdString(utf8) == text.toUtf8(), qPrintable(where));
                // And back, the UTF-8 cut anywhere.
                Utf8ToUtf16 encoder(little, level);
                std::string back;
                for (size_t at = 0; at < utf8.size(); at += size_t(piece)) {
                    const std::string part = utf8.substr(at, size_t(piece));
                    const std::vector<char> exact(part.begin(), part.end());
                    encoder.add(exact.data(), qint64(exact.size()), back);
                }
                QVERIFY2(encoder.complete() && QByteArray::fromStdString(back) == utf16,
                         qPrintable(where));
            }
        }
    }
}

QTEST_GUILESS_MAIN(TestSimd)
#include "tst_simd.moc"
