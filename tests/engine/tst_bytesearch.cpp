#include "engine/codec/ByteChecks.h"
#include "engine/codec/TextCodec.h"
#include "engine/search/ByteSearch.h"
#include "engine/search/StreamSearch.h"
#include "tests/engine/Fixture.h"

#include <QRandomGenerator>
#include <QTest>

#include <algorithm>
#include <cstring>

using namespace fixture;

Q_DECLARE_METATYPE(Presence)

namespace {

bool RoundTripsAsGbk(const QByteArray &bytes)
{
    return GbkCodec()->fromUnicode(GbkCodec()->toUnicode(bytes)) == bytes;
}

// What the run's decoded search finds.
bool DecodedContains(const QByteArray &bytes, bool detectUtf16, const QString &term)
{
    DecodedText decoded = DecodeBytes(bytes, DecideEncoding(bytes, detectUtf16), false);
    NormaliseLineEnds(decoded.text);
    return decoded.text.contains(term);
}

Presence ByteAnswer(const QByteArray &bytes, bool detectUtf16, const QString &term)
{
    return ByteText(bytes, DecideEncoding(bytes, detectUtf16)).contains(EncodedTerm(term));
}

QByteArray RandomBytes(QRandomGenerator &random, const QByteArray &alphabet, int size)
{
    QByteArray bytes;
    for (int i = 0; i < size; ++i)
        bytes += alphabet.at(random.bounded(alphabet.size()));
    return bytes;
}

} // namespace

class TestByteSearch : public QObject
{
    Q_OBJECT

private slots:
    void cleanGbkIsExactlyRoundTrip();
    void agreesWithDecodedSearch_data();
    void agreesWithDecodedSearch();
    void randomBytesAgree_data();
    void randomBytesAgree();
    void piecesAgreeWithWholeFile_data() { randomBytesAgree_data(); }
    void piecesAgreeWithWholeFile();
    void keptBufferFitsEachUser();
};

// Every one- and two-byte sequence, and random longer ones built from the bytes where GBK's
// ranges begin and end.
void TestByteSearch::cleanGbkIsExactlyRoundTrip()
{
    for (int first = 0; first < 256; ++first) {
        const QByteArray one(1, static_cast<char>(first));
        QCOMPARE(IsCleanGbk(one.constData(), one.size()), RoundTripsAsGbk(one));
        for (int second = 0; second < 256; ++second) {
            const QByteArray two = one + static_cast<char>(second);
            if (IsCleanGbk(two.constData(), two.size()) != RoundTripsAsGbk(two))
                QFAIL(qPrintable(
                    QStringLiteral("disagree on %1").arg(QString::fromLatin1(two.toHex()))));
        }
    }
    const QByteArray edges("\x00\x30\x3F\x40\x41\x7E\x7F\x80\x81\xA1\xD0\xFE\xFF\x0D\x0A", 15);
    // Long runs of bytes from 80 to FF, where the validator takes eight bytes at a time.
    const QByteArray high("\x80\x81\xA1\xB0\xD0\xFE\xFE\xD4\xC6\xFF\x41", 11);
    QRandomGenerator random(7);
    for (int i = 0; i < 40000; ++i) {
        const QByteArray bytes = i % 2 ? RandomBytes(random, edges, 3 + random.bounded(12))
                                       : RandomBytes(random, high, 8 + random.bounded(32));
        if (IsCleanGbk(bytes.constData(), bytes.size()) != RoundTripsAsGbk(bytes))
            QFAIL(qPrintable(
                QStringLiteral("disagree on %1").arg(QString::fromLatin1(bytes.toHex()))));
    }
}

void TestByteSearch::agreesWithDecodedSearch_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("detectUtf16");
    QTest::addColumn<QString>("term");
    QTest::addColumn<Presence>("expected");

    const QString xiaoYun = QStringLiteral("小云");
    // 小云 is D0 A1 D4 C6 in GBK; A1 D4 is a character of its own, found across the two.
    const QString straddle = GbkCodec()->toUnicode(QByteArray("\xA1\xD4"));
    const QString gbkText = QStringLiteral("夜色渐深，小云说道：小吉来了。");
    const QByteArray gbk = Gbk(gbkText);
    const auto P = Presence::Present;
    const auto A = Presence::Absent;
    const auto U = Presence::Unknown;

    QTest::newRow("gbk term inside") << gbk << true << xiaoYun << P;
    QTest::newRow("gbk term absent") << gbk << true << QStringLiteral("京城") << A;
    QTest::newRow("gbk term at start") << gbk << true << QStringLiteral("夜色") << P;
    QTest::newRow("gbk term at end") << gbk << true << QStringLiteral("了。") << P;
    QTest::newRow("gbk whole text") << gbk << true << gbkText << P;
    QTest::newRow("gbk straddling two characters") << Gbk(xiaoYun) << true << straddle << A;
    QTest::newRow("gbk straddling, then aligned")
        << Gbk(xiaoYun + QStringLiteral("和") + straddle) << true << straddle << P;
    // 81 41 and 81 7E are single characters whose trail bytes are ASCII letters.
    QTest::newRow("ascii A as trail byte")
        << QByteArray("\x81\x41\xB0\xA1") << true << QStringLiteral("A") << A;
    QTest::newRow("ascii tilde as trail byte")
        << QByteArray("\x81\x7E\xB0\xA1") << true << QStringLiteral("~") << A;
    QTest::newRow("ascii @ as trail byte")
        << QByteArray("\xB0\x40\xB0\xA1") << true << QStringLiteral("@") << A;
    QTest::newRow("ascii after trail byte") << QByteArray("\x81\x41"
                                                          "A\xB0\xA1")
                                            << true << QStringLiteral("A") << P;
    QTest::newRow("trail run without ascii")
        << QByteArray("\xB0\xA1\xB0\xA1\xB0\xA1\xB0\xA1\xB0\xA1\xB0\xA1") << true
        << GbkCodec()->toUnicode(QByteArray("\xA1\xB0")) << A;
    QTest::newRow("gbk euro single byte")
        << QByteArray("\x80\xB0\xA1") << true << QString(QChar(0x20AC)) << P;
    QTest::newRow("gbk lone lead at end") << gbk + '\x81' << true << xiaoYun << U;
    QTest::newRow("gbk invalid trail") << QByteArray("\x81\x0A") + gbk << true << xiaoYun << U;
    QTest::newRow("gbk four-byte form")
        << QByteArray("\x81\x30\x81\x30") + gbk << true << xiaoYun << U;
    QTest::newRow("gbk unrepresentable term") << gbk << true << QStringLiteral("😀") << U;
    QTest::newRow("gbk crlf, term on one line")
        << Gbk(QStringLiteral("小吉\r\n小云\r\n")) << true << xiaoYun << P;
    QTest::newRow("gbk term with line feed")
        << Gbk(QStringLiteral("小吉\r\n小云")) << true << QStringLiteral("吉\n小") << U;

    QTest::newRow("utf8 term inside") << Utf8(gbkText) << true << xiaoYun << P;
    QTest::newRow("utf8 term absent") << Utf8(gbkText) << true << QStringLiteral("京城") << A;
    QTest::newRow("utf8 bom is not text")
        << Bom() + Utf8(QStringLiteral("abc")) << true << QStringLiteral("\uFEFFabc") << A;
    QTest::newRow("utf8 second bom is text")
        << Bom() + Bom() + Utf8(QStringLiteral("abc")) << true << QStringLiteral("\uFEFFabc") << P;
    QTest::newRow("utf8 term right after bom") << Bom() + Utf8(xiaoYun) << true << xiaoYun << P;
    QTest::newRow("utf8 emoji") << Utf8(QStringLiteral("a😀b")) << true << QStringLiteral("😀b") << P;
    QTest::newRow("utf8 lone surrogate term")
        << Utf8(QStringLiteral("a😀b")) << true << QString(QChar(0xD83D)) << U;
    QTest::newRow("utf8 lone cr, term beside it")
        << QByteArray("ab\rcd") << true << QStringLiteral("cd") << P;
    QTest::newRow("utf8 term with carriage return")
        << QByteArray("ab\rcd") << true << QStringLiteral("b\rc") << U;
    QTest::newRow("empty term") << Utf8(gbkText) << true << QString() << U;
    QTest::newRow("empty file") << QByteArray() << true << xiaoYun << A;

    QTest::newRow("utf16le term inside") << Utf16(gbkText, true) << true << xiaoYun << P;
    QTest::newRow("utf16be term inside") << Utf16(gbkText, false) << true << xiaoYun << P;
    QTest::newRow("utf16le term absent")
        << Utf16(gbkText, true) << true << QStringLiteral("京城") << A;
    // Units 4100 0000 hold the bytes 41 00 of "A" at an odd offset.
    QTest::newRow("utf16le odd offset")
        << QByteArray("\xFF\xFE\x00\x41\x00\x00", 6) << true << QStringLiteral("A") << A;
    QTest::newRow("utf16be odd offset")
        << QByteArray("\xFE\xFF\x41\x00\x41\x00", 6) << true << QStringLiteral("A") << A;
    QTest::newRow("utf16le odd final byte")
        << QByteArray("\xFF\xFE\x41\x00\x42", 5) << true << QStringLiteral("B") << A;
    QTest::newRow("utf16le term at end")
        << Utf16(QStringLiteral("xyz小云"), true) << true << xiaoYun << P;
    QTest::newRow("utf16le second mark is text")
        << Utf16(QStringLiteral("\uFEFFab"), true) << true << QStringLiteral("\uFEFFa") << P;
    QTest::newRow("utf16 mark itself is not text")
        << Utf16(QStringLiteral("ab"), true) << true << QStringLiteral("\uFEFFa") << A;
    QTest::newRow("utf16le surrogate pair")
        << Utf16(QStringLiteral("a😀"), true) << true << QStringLiteral("😀") << P;
    QTest::newRow("utf16le crlf") << Utf16(QStringLiteral("a\r\nb"), true) << true
                                  << QStringLiteral("b") << P;
    QTest::newRow("utf8 cut off in last character, term before it")
        << Utf8(QStringLiteral("小云吉吉")).chopped(1) << false << xiaoYun << P;
    QTest::newRow("utf8 cut off in last character, term in the lost tail")
        << Utf8(QStringLiteral("小云吉云")).chopped(1) << false << QStringLiteral("云吉云") << A;
    QTest::newRow("gbk ending like cut-off utf8")
        << QByteArray("ver 2: \xE5\xA5") << false << QStringLiteral("濂") << P;
    QTest::newRow("utf16 mark read as gbk without detection")
        << Utf16(xiaoYun, true) << false << xiaoYun << U;
}

void TestByteSearch::agreesWithDecodedSearch()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, detectUtf16);
    QFETCH(QString, term);
    QFETCH(Presence, expected);
    const Presence answer = ByteAnswer(bytes, detectUtf16, term);
    QCOMPARE(answer, expected);
    if (answer != Presence::Unknown)
        QCOMPARE(answer == Presence::Present, DecodedContains(bytes, detectUtf16, term));
}

void TestByteSearch::randomBytesAgree_data()
{
    QTest::addColumn<QByteArrayList>("pieces");
    QTest::addColumn<QByteArray>("prefix");
    // Single bytes where GBK's lead and trail ranges begin and end, whole characters and
    // line ends.
    QByteArrayList gbk;
    for (const char byte : QByteArray("\x30\x3F\x40\x41\x7E\x7F\x80\x81\xA1\xB0\xD4\xFE\xFF", 13))
        gbk += QByteArray(1, byte);
    QByteArrayList gbkCharacters{"\xB0\xA1", "\xD0\xA1", "\xD4\xC6", "\xA1\xD4", "\x81\x41",
                                 "\xA1\xB0", "A",        "\r",       "\n",       "\r\n"};
    QTest::newRow("gbk bytes") << gbk + gbkCharacters << QByteArray();
    QTest::newRow("gbk characters") << gbkCharacters << QByteArray();
    const QByteArrayList utf8{Utf8(QStringLiteral("小")),
                              Utf8(QStringLiteral("云")),
                              Utf8(QStringLiteral("\uFEFF")),
                              Utf8(QStringLiteral("😀")),
                              "a",
                              "\r",
                              "\n"};
    QTest::newRow("utf8") << utf8 << QByteArray();
    QTest::newRow("utf8 with bom") << utf8 << Bom();
    QTest::newRow("utf8 with a stray byte") << utf8 + QByteArrayList{"\xB0"} << QByteArray();
    const QByteArrayList utf16{QByteArray("\x00", 1),
                               "\x41",
                               "\xFE",
                               "\xFF",
                               "\r",
                               "\n",
                               QByteArray("\x41\x00", 2),
                               QByteArray("\x00\x41", 2),
                               QByteArray("\x0D\x00", 2),
                               QByteArray("\x0A\x00", 2)};
    QTest::newRow("utf16le") << utf16 << QByteArray("\xFF\xFE");
    QTest::newRow("utf16be") << utf16 << QByteArray("\xFE\xFF");
}

// Random files and terms: wherever the bytes give an answer, it is the decoded search's.
void TestByteSearch::randomBytesAgree()
{
    QFETCH(QByteArrayList, pieces);
    QFETCH(QByteArray, prefix);
    QRandomGenerator random(11);
    auto randomBytes = [&](int count) {
        QByteArray bytes;
        for (int i = 0; i < count; ++i)
            bytes += pieces.at(random.bounded(pieces.size()));
        return bytes;
    };
    int answered = 0;
    for (int i = 0; i < 20000; ++i) {
        const QByteArray bytes = prefix + randomBytes(random.bounded(16));
        DecodedText decoded = DecodeBytes(bytes, DecideEncoding(bytes, true), false);
        NormaliseLineEnds(decoded.text);
        // Half the terms are taken from the text itself, so that many are present.
        QString term;
        if (random.bounded(2) == 0 && !decoded.text.isEmpty()) {
            const int from = random.bounded(decoded.text.size());
            term = decoded.text.mid(from, 1 + random.bounded(3));
        } else {
            const QByteArray termBytes = randomBytes(1 + random.bounded(2));
            term = DecodeBytes(termBytes, DecideEncoding(termBytes, false), false).text;
        }
        const Presence answer = ByteAnswer(bytes, true, term);
        if (answer == Presence::Unknown)
            continue;
        ++answered;
        if ((answer == Presence::Present) != DecodedContains(bytes, true, term))
            QFAIL(qPrintable(QStringLiteral("bytes %1, term %2")
                                 .arg(QString::fromLatin1(bytes.toHex()),
                                      QString::fromLatin1(Utf8(term).toHex()))));
    }
    // The byte search must settle a good share of them, or it would save nothing.
    QVERIFY2(answered > 2000, qPrintable(QString::number(answered)));
}

// The file read in pieces of small sizes, and handed over in shorter reads still, gives the
// whole file's answer for every term: pieces end at every offset of a character and a term.
void TestByteSearch::piecesAgreeWithWholeFile()
{
    // As on a worker: every search reads into the one buffer, left as the last one left it.
    const StreamBufferKeeper keeper;
    QFETCH(QByteArrayList, pieces);
    QFETCH(QByteArray, prefix);
    QRandomGenerator random(13);
    int settled = 0;
    int known = 0; // searches the whole file answers for every term
    for (int i = 0; i < 1500; ++i) {
        QByteArray bytes = prefix;
        for (int count = random.bounded(48); count > 0; --count)
            bytes += pieces.at(random.bounded(pieces.size()));
        DecodedText decoded = DecodeBytes(bytes, DecideEncoding(bytes, true), false);
        NormaliseLineEnds(decoded.text);
        QStringList texts{decoded.text.mid(random.bounded(decoded.text.size() + 1), 1 + i % 4),
                          decoded.text.mid(random.bounded(decoded.text.size() + 1), 2),
                          GbkCodec()->toUnicode(pieces.at(random.bounded(pieces.size())))};
        const std::vector<EncodedTerm> terms = EncodeTerms(texts);
        std::vector<Presence> expected;
        for (const QString &text : texts)
            expected.push_back(ByteAnswer(bytes, true, text));
        for (const qint64 chunk : {4, 5, 7, 16}) {
            qint64 at = 0;
            const auto read = [&](char *data, qint64 size, qint64 &got) {
                got = std::min({size, bytes.size() - at, 1 + (at + chunk) % 6});
                std::memcpy(data, bytes.constData() + at, size_t(got));
                at += got;
                return true;
            };
            const StreamedSearch found = SearchStream(
                terms, true, read, [&] { return (at = 0) == 0; }, chunk);
            // A legacy file's start names its encoding, which pieces this small cannot hold.
            const bool legacy = decoded.encoding != TextEncoding::Utf8 &&
                                decoded.encoding != TextEncoding::Utf16Le &&
                                decoded.encoding != TextEncoding::Utf16Be;
            known +=
                std::count(expected.begin(), expected.end(), Presence::Unknown) == 0 && !legacy;
            QVERIFY(found.result != StreamedSearch::ReadFailed);
            if (found.result != StreamedSearch::Settled)
                continue;
            settled += !legacy;
            if (found.presence != expected)
                QFAIL(qPrintable(
                    QStringLiteral("pieces of %1: bytes %2, terms %3")
                        .arg(chunk)
                        .arg(QString::fromLatin1(bytes.toHex()), texts.join(QLatin1Char('|')))));
        }
    }
    // Most files the bytes answer are settled in pieces, or the pieces would save nothing.
    QVERIFY2(settled > known * 3 / 4,
             qPrintable(QStringLiteral("%1 of %2").arg(settled).arg(known)));
}

// The kept buffer grows to what each user asks for, and two buffers in use at once on one
// thread (a search and an edit) never share memory. The sanitizers tell an overrun.
void TestByteSearch::keptBufferFitsEachUser()
{
    const StreamBufferKeeper keeper;
    {
        const AlignedStreamBuffer small(64);
        std::memset(small.data(), 1, 64);
    }
    const qint64 size = qint64(1) << 20;
    const AlignedStreamBuffer first(size);
    std::memset(first.data(), 2, size_t(size));
    const AlignedStreamBuffer second(size);
    std::memset(second.data(), 3, size_t(size));
    QCOMPARE(first.data()[size - 1], char(2));
}

QTEST_GUILESS_MAIN(TestByteSearch)
#include "tst_bytesearch.moc"
