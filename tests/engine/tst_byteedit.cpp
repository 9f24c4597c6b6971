#include "engine/batch/BatchSettings.h"
#include "engine/codec/TextCodec.h"
#include "engine/journal/ContentHash.h"
#include "engine/operations/FileHook.h"
#include "engine/run/RunBatch.h"
#include "tests/engine/Fixture.h"

#include <QRandomGenerator>
#include <QTest>

#include <algorithm>
#include <cstring>

using namespace fixture;

Q_DECLARE_METATYPE(Operation)

// Editing a clean UTF-8 or GBK file as bytes must write exactly what decoding, editing the
// text and encoding it again writes: both paths run on random files in every encoding, with
// every kind of line end and the GBK byte pairs that straddle two characters, and a whole
// tree edited by a run must hold the decoded path's bytes.
class TestByteEdit : public QObject
{
    Q_OBJECT

private slots:
    void sameBytesAsDecodedPath_data();
    void sameBytesAsDecodedPath();
    void piecesSameAsWholeFile_data() { sameBytesAsDecodedPath_data(); }
    void piecesSameAsWholeFile();
    void replaceAllOnWholeUnits_data();
    void replaceAllOnWholeUnits();
};

namespace {

// A1 D4 is a character of its own that 小云 (D0 A1 D4 C6) holds across its two characters.
QString Straddle()
{
    return GbkCodec()->toUnicode(QByteArray("\xA1\xD4"));
}

// What the decoded path writes: nothing for an unchanged or failed file, such as an edited
// file with NUL bytes that is not UTF-16.
std::optional<QByteArray> DecodedPath(const QByteArray &bytes, const FileRule &rule, bool withBom,
                                      bool &changed, std::vector<int> *hits = nullptr)
{
    DecodedText decoded = DecodeBytes(bytes, DecideEncoding(bytes, true));
    NormaliseLineEnds(decoded.text);
    changed = rule.apply(decoded.text, hits);
    const bool utf16 =
        decoded.encoding == TextEncoding::Utf16Le || decoded.encoding == TextEncoding::Utf16Be;
    if (!changed || !decoded.lossless || (!utf16 && bytes.contains('\0')))
        return std::nullopt;
    return EncodeText(decoded.text, decoded.encoding, withBom);
}

QByteArray RandomFile(QRandomGenerator &random)
{
    static const QStringList pieces{
        QStringLiteral("小"),    QStringLiteral("云"), QStringLiteral("吉"),
        QStringLiteral("雲"),    Straddle(),           QStringLiteral("a"),
        QStringLiteral("\r"),    QStringLiteral("\n"), QStringLiteral("\r\n"),
        QStringLiteral("\uFEFF")};
    QString text;
    for (int i = random.bounded(24); i > 0; --i)
        text += pieces.at(random.bounded(pieces.size()));
    switch (random.bounded(9)) {
    case 0:
    case 1:
        return Gbk(text);
    case 2:
        return Bom() + Utf8(text);
    case 3:
        return Utf8(text + QStringLiteral("😀"));
    case 4:
        return Utf16(text, random.bounded(2) == 0);
    case 5:
        return Gbk(text) + '\x81'; // a lead byte without its trail: not clean
    case 6:
        return Utf8(text + QStringLiteral("云")).chopped(1); // cut off in its last character
    case 7:
        return Gbk(text + QChar(0));
    default:
        return Utf8(text);
    }
}

} // namespace

void TestByteEdit::sameBytesAsDecodedPath_data()
{
    QTest::addColumn<Operation>("operation");
    QTest::addColumn<QStringList>("finds");
    QTest::addColumn<QStringList>("replacements");
    const QString xiaoYun = QStringLiteral("小云");
    const auto replace = [](const char *name, const QString &find, const QString &replacement) {
        QTest::newRow(name) << Operation::ReplaceText << QStringList{find}
                            << QStringList{replacement};
    };
    replace("replace", xiaoYun, QStringLiteral("小雲"));
    replace("replacement holds the find", QStringLiteral("云"), QStringLiteral("云云"));
    replace("delete", QStringLiteral("a"), QString());
    replace("straddling find", Straddle(), QStringLiteral("b"));
    replace("find with a line feed", QStringLiteral("云\n"), QStringLiteral("|"));
    replace("find with a carriage return", QStringLiteral("\r"), QStringLiteral("|"));
    replace("line ends put in", QStringLiteral("a"), QStringLiteral("\r\n\r"));
    replace("byte-order mark as text", QStringLiteral("\uFEFF"), QStringLiteral("a"));
    replace("replacement GBK cannot hold", xiaoYun, QStringLiteral("😀"));
    QTest::newRow("pairs, chained")
        << Operation::ReplacePairs << QStringList{QStringLiteral("a"), QStringLiteral("云a")}
        << QStringList{QStringLiteral("云"), QStringLiteral("x")};
    QTest::newRow("pairs, swap") << Operation::ReplacePairs
                                 << QStringList{xiaoYun, QStringLiteral("吉")}
                                 << QStringList{QStringLiteral("吉"), xiaoYun};
    // 吉 then 小 makes D0 A1 right behind B C, which a straddling A1 must not match.
    QTest::newRow("pairs, straddle after replacing")
        << Operation::ReplacePairs << QStringList{QStringLiteral("a"), Straddle()}
        << QStringList{QStringLiteral("小"), QStringLiteral("b")};
    // Pairs of equal lengths are replaced where they stand, one pair behind the other.
    QTest::newRow("pairs of equal length, chained")
        << Operation::ReplacePairs << QStringList{xiaoYun, QStringLiteral("吉云")}
        << QStringList{QStringLiteral("吉云"), QStringLiteral("小吉")};
    QTest::newRow("pairs of equal length, straddle after replacing")
        << Operation::ReplacePairs << QStringList{QStringLiteral("吉"), Straddle()}
        << QStringList{QStringLiteral("小"), QStringLiteral("雲")};
    QTest::newRow("pairs, empty find")
        << Operation::ReplacePairs << QStringList{QString(), QStringLiteral("云")}
        << QStringList{QStringLiteral("x"), QStringLiteral("y")};
    QTest::newRow("insert in front")
        << Operation::InsertText << QStringList{QStringLiteral("【序】\n")} << QStringList{};
    QTest::newRow("insert behind")
        << Operation::InsertText << QStringList{QStringLiteral("a\r")} << QStringList{QString()};
    QTest::newRow("insert nothing")
        << Operation::InsertText << QStringList{QString()} << QStringList{};
}

void TestByteEdit::sameBytesAsDecodedPath()
{
    QFETCH(Operation, operation);
    QFETCH(QStringList, finds);
    QFETCH(QStringList, replacements);
    QTemporaryDir dir;
    BatchSettings settings;
    settings.sourceDir = dir.filePath(QStringLiteral("src"));
    settings.saveDir = dir.filePath(QStringLiteral("out"));
    settings.detectUtf16 = true;
    settings.findText = finds.value(0);
    settings.replaceText = replacements.value(0);
    settings.findLines = finds;
    settings.replaceLines = replacements;
    settings.insertText = finds.value(0);
    settings.insertAtFront = replacements.isEmpty();
    const FileRule rule(operation, settings);

    QRandomGenerator random(13);
    QList<QByteArray> files;
    int byBytes = 0;
    for (int i = 0; i < 4000; ++i) {
        const QByteArray bytes = RandomFile(random);
        const bool withBom = i % 2;
        bool changed = false;
        const std::optional<QByteArray> expected = DecodedPath(bytes, rule, withBom, changed);
        QByteArray newBytes;
        const ByteEdit::Outcome outcome =
            rule.editBytes(bytes, DecideEncoding(bytes, true), withBom, newBytes);
        if (outcome == ByteEdit::Outcome::Unknown)
            continue;
        ++byBytes;
        const bool same = outcome == ByteEdit::Outcome::Changed
                              ? changed && expected && newBytes == *expected
                              : !changed;
        if (!same)
            QFAIL(qPrintable(QStringLiteral("file %1: bytes %2, decoded %3")
                                 .arg(QString::fromLatin1(bytes.toHex(' ')),
                                      QString::fromLatin1(newBytes.toHex(' ')),
                                      QString::fromLatin1(expected.value_or("-").toHex(' ')))));
        if (i < 200)
            files += bytes;
    }
    // Most of the files are clean UTF-8 or GBK: the bytes must settle them.
    QVERIFY2(byBytes > 1000, qPrintable(QString::number(byBytes)));

    // The same files through a whole run, half of them with a byte-order mark to write.
    settings.withBom = true;
    for (int i = 0; i < files.size(); ++i)
        QVERIFY(WriteBytes(settings.sourceDir + QStringLiteral("/d%1/f%2.txt").arg(i % 3).arg(i),
                           files.at(i)));
    QDir().mkpath(settings.saveDir);
    const RunResult result = RunBatch(operation, settings, RunObserver());
    QVERIFY(result.refusal.isEmpty());
    for (int i = 0; i < files.size(); ++i) {
        const QString name = QStringLiteral("/d%1/f%2.txt").arg(i % 3).arg(i);
        bool changed = false;
        const std::optional<QByteArray> expected = DecodedPath(files.at(i), rule, true, changed);
        QCOMPARE(ReadBytes(settings.saveDir + name), expected.value_or("<missing>"));
    }
}

// The file read in pieces of small sizes, handed over in shorter reads still, is edited into
// exactly the whole file's new bytes, and left to the whole file wherever that answers
// Unknown: pieces end at every offset of a character, a line end and a find.
void TestByteEdit::piecesSameAsWholeFile()
{
    QFETCH(Operation, operation);
    QFETCH(QStringList, finds);
    QFETCH(QStringList, replacements);
    BatchSettings settings;
    settings.findText = finds.value(0);
    settings.replaceText = replacements.value(0);
    settings.findLines = finds;
    settings.replaceLines = replacements;
    settings.insertText = finds.value(0);
    settings.insertAtFront = replacements.isEmpty();
    const FileRule rule(operation, settings);

    QRandomGenerator random(17);
    int settled = 0;
    int known = 0; // pieces the whole file answers
    for (int i = 0; i < 1500; ++i) {
        QByteArray bytes = RandomFile(random);
        if (i % 3 == 0)
            bytes += bytes + RandomFile(random); // longer, the same encoding most often
        const bool withBom = i % 2;
        QByteArray newBytes;
        std::vector<int> hits;
        const TextEncoding encoding = DecideEncoding(bytes, true);
        ByteEdit::Outcome outcome = rule.editBytes(bytes, encoding, withBom, newBytes, &hits);
        const bool legacy = encoding != TextEncoding::Utf8 && encoding != TextEncoding::Utf16Le &&
                            encoding != TextEncoding::Utf16Be;
        // UTF-16, which the bytes leave to the decoded path, the pieces edit as that path does.
        if (encoding == TextEncoding::Utf16Le || encoding == TextEncoding::Utf16Be) {
            bool changed = false;
            const std::optional<QByteArray> decoded =
                DecodedPath(bytes, rule, withBom, changed, &hits);
            newBytes = decoded.value_or(QByteArray());
            outcome = !changed  ? ByteEdit::Outcome::Unchanged
                      : decoded ? ByteEdit::Outcome::Changed
                                : ByteEdit::Outcome::Unknown;
        }
        for (const qint64 chunk : {4, 5, 7, 16}) {
            qint64 at = 0;
            const auto read = [&](char *data, qint64 size, qint64 &got) {
                got = std::min({size, bytes.size() - at, 1 + (at + chunk) % 6});
                std::memcpy(data, bytes.constData() + at, size_t(got));
                at += got;
                return true;
            };
            // As a run does: one pass decides, a second one with the encoding writes.
            const auto rewind = [&] { return (at = 0) == 0; };
            const StreamedEdit edited = EditStream(*rule.byteEditor(), true, withBom, read, rewind,
                                                   EditWrite(), true, std::nullopt, chunk);
            QByteArray written;
            if (edited.result == StreamedEdit::Changed) {
                at = 0;
                const StreamedEdit second = EditStream(
                    *rule.byteEditor(), true, withBom, read, rewind,
                    [&](const char *data, qint64 size) {
                        written.append(data, int(size));
                        return true;
                    },
                    false, edited.encoding, chunk);
                QCOMPARE(int(second.result), int(StreamedEdit::Changed));
            }
            // A legacy file's start names its encoding, which pieces this small cannot hold.
            known += outcome != ByteEdit::Outcome::Unknown && !legacy;
            if (edited.result == StreamedEdit::NeedsWholeFile)
                continue;
            settled += outcome != ByteEdit::Outcome::Unknown && !legacy;
            const bool same = outcome == ByteEdit::Outcome::Changed
                                  ? edited.result == StreamedEdit::Changed && written == newBytes
                                  : outcome == ByteEdit::Outcome::Unchanged &&
                                        edited.result == StreamedEdit::Unchanged;
            if (!same || edited.originalHash != ContentHash(bytes) || edited.hits != hits)
                QFAIL(qPrintable(QStringLiteral("pieces of %1: file %2, pieces %3, whole %4")
                                     .arg(chunk)
                                     .arg(QString::fromLatin1(bytes.toHex(' ')),
                                          QString::fromLatin1(written.toHex(' ')),
                                          QString::fromLatin1(newBytes.toHex(' ')))));
        }
    }
    // Most files the bytes answer are edited in pieces, or the pieces would save nothing.
    QVERIFY2(settled > known * 3 / 4,
             qPrintable(QStringLiteral("%1 of %2").arg(settled).arg(known)));
}

// The decoded path searches a text's code units as bytes: only a match of whole units counts.
void TestByteEdit::replaceAllOnWholeUnits_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("find");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<int>("count");
    // U+4100 U+0042 hold the bytes of U+4241 across their two units, in either byte order.
    QTest::newRow("bytes across two units")
        << QStringLiteral("\u4100B") << QStringLiteral("\u4241") << QStringLiteral("\u4100B") << 0;
    QTest::newRow("after a unit match")
        << QStringLiteral("\u4100B\u4241") << QStringLiteral("\u4241") << QStringLiteral("\u4100Bx")
        << 1;
    QTest::newRow("left to right, no overlap")
        << QStringLiteral("云云云") << QStringLiteral("云云") << QStringLiteral("x云") << 1;
    QTest::newRow("at both ends") << QStringLiteral("小云a小云") << QStringLiteral("小云")
                                  << QStringLiteral("xax") << 2;
    QTest::newRow("empty find") << QStringLiteral("abc") << QString() << QStringLiteral("abc") << 0;
}

void TestByteEdit::replaceAllOnWholeUnits()
{
    QFETCH(QString, text);
    QFETCH(QString, find);
    QFETCH(QString, expected);
    QFETCH(int, count);
    int replaced = -1;
    QCOMPARE(ReplaceAll(text, find, QStringLiteral("x"), &replaced), count > 0);
    QCOMPARE(text, expected);
    QCOMPARE(replaced, count);
}

QTEST_GUILESS_MAIN(TestByteEdit)
#include "tst_byteedit.moc"
