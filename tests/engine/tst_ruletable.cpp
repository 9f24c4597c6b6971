#include "Fixture.h"

#include "engine/batch/BatchSettings.h"
#include "engine/codec/TextCodec.h"
#include "engine/operations/FileHook.h"
#include "engine/operations/PairMatcher.h"
#include "engine/operations/RuleTable.h"
#include "engine/report/Reports.h"
#include "engine/run/RunBatch.h"

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

using namespace fixture;

class TestRuleTable : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
    void readFile_data();
    void readFile();
    void chains_data();
    void chains();
    void chainsOfManyRules();
    void conflictsOfManyPairs();
    void hitCounts_data();
    void hitCounts();
    void sameAsOneByOne_data();
    void sameAsOneByOne();
};

namespace {

// A rule as one comparable line: on or off, the texts, the line it came from.
QString Shown(const ReplacementRule &rule)
{
    return QStringLiteral("%1|%2|%3|%4")
        .arg(rule.enabled ? QStringLiteral("on") : QStringLiteral("off"), rule.find,
             rule.replacement)
        .arg(rule.line);
}

std::vector<ReplacementRule> Rules(const QStringList &finds, const QStringList &replacements,
                                   const QList<int> &offRules = {})
{
    std::vector<ReplacementRule> rules;
    for (int i = 0; i < finds.size(); ++i)
        rules.push_back({finds.at(i), replacements.at(i), !offRules.contains(i), i + 1});
    return rules;
}

} // namespace

void TestRuleTable::parse_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("rules");
    QTest::addColumn<QList<int>>("errorLines");

    const auto s = [](const char *text) { return QString::fromUtf8(text); };
    QTest::newRow("plain rule") << s("甲\t乙") << QStringList{s("on|甲|乙|1")} << QList<int>();
    QTest::newRow("empty replacement deletes")
        << s("广告\t\n") << QStringList{s("on|广告||1")} << QList<int>();
    QTest::newRow("escapes in both texts")
        << s("a\\tb\\\\\tc\\nd") << QStringList{s("on|a\tb\\|c\nd|1")} << QList<int>();
    QTest::newRow("a find text starting with #")
        << s("\\#标签\t标签") << QStringList{s("on|#标签|标签|1")} << QList<int>();
    QTest::newRow("comments and empty lines keep line numbers")
        << s("# 清理\n\n甲\t乙\n#另一条\n丙\t丁\n") << QStringList{s("on|甲|乙|3"), s("on|丙|丁|5")}
        << QList<int>();
    QTest::newRow("rule switched off")
        << s("#off 甲\t乙\n丙\t丁") << QStringList{s("off|甲|乙|1"), s("on|丙|丁|2")}
        << QList<int>();
    QTest::newRow("#off without a tab is a comment")
        << s("#off topic\n甲\t乙") << QStringList{s("on|甲|乙|2")} << QList<int>();
    QTest::newRow("byte-order mark and CR LF")
        << s("\xEF\xBB\xBF甲\t乙\r\n丙\t丁\r\n") << QStringList{s("on|甲|乙|1"), s("on|丙|丁|2")}
        << QList<int>();
    QTest::newRow("every kind of error, by line")
        << s("没有制表符\n甲\t乙\t丙\n坏\\q\t乙\n\t空\n尾\\\t乙\n好\t的")
        << QStringList{s("on|好|的|6")} << QList<int>{1, 2, 3, 4, 5};
}

void TestRuleTable::parse()
{
    QFETCH(QString, text);
    QFETCH(QStringList, rules);
    QFETCH(QList<int>, errorLines);

    const RuleTable table = ParseRuleTable(text);
    QStringList shown;
    for (const ReplacementRule &rule : table.rules)
        shown << Shown(rule);
    QCOMPARE(shown, rules);
    QList<int> lines;
    for (const RuleTableError &error : table.errors) {
        lines << error.line;
        QVERIFY2(error.message.contains(QString::number(error.line)), qPrintable(error.message));
    }
    QCOMPARE(lines, errorLines);

    // Saved and read back, the same rules, those switched off included.
    const RuleTable again = ParseRuleTable(RuleTableText(table.rules));
    QVERIFY(again.errors.empty());
    QCOMPARE(again.rules.size(), table.rules.size());
    for (size_t i = 0; i < again.rules.size(); ++i) {
        QCOMPARE(again.rules[i].find, table.rules[i].find);
        QCOMPARE(again.rules[i].replacement, table.rules[i].replacement);
        QCOMPARE(again.rules[i].enabled, table.rules[i].enabled);
    }
}

void TestRuleTable::chains_data()
{
    QTest::addColumn<QStringList>("finds");
    QTest::addColumn<QStringList>("replacements");
    QTest::addColumn<QList<int>>("offRules");
    QTest::addColumn<QStringList>("chains"); // "earlier>later", by index

    QTest::newRow("independent rules")
        << Names({"甲", "乙"}) << Names({"丙", "丁"}) << QList<int>() << QStringList();
    QTest::newRow("later rule rewrites the output")
        << Names({"小云", "大云"}) << Names({"大云", "云"}) << QList<int>()
        << QStringList{QStringLiteral("0>1")};
    QTest::newRow("find inside a longer replacement, two rules later")
        << Names({"甲", "乙", "丙"}) << Names({"丙丁戊", "x", "y"}) << QList<int>()
        << QStringList{QStringLiteral("0>2")};
    QTest::newRow("an earlier rule's find in a later replacement is no chain")
        << Names({"甲", "乙"}) << Names({"x", "甲"}) << QList<int>() << QStringList();
    QTest::newRow("a rule's own output is no chain")
        << Names({"甲"}) << Names({"甲甲"}) << QList<int>() << QStringList();
    QTest::newRow("a rule switched off takes no part")
        << Names({"甲", "乙", "丙"}) << Names({"乙", "丙", "丁"}) << QList<int>{1} << QStringList();
}

void TestRuleTable::readFile_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("rules"); // empty: the file is refused

    const QStringList rules{QStringLiteral("on|甲|乙|1"), QStringLiteral("off|丙|丁\n|2")};
    const QString text = QStringLiteral("甲\t乙\r\n#off 丙\t丁\\n\r\n");
    QTest::newRow("UTF-8") << text.toUtf8() << rules;
    QTest::newRow("UTF-8 with a byte-order mark") << "\xEF\xBB\xBF" + text.toUtf8() << rules;
    QTest::newRow("GBK, as Notepad's ANSI saves it") << Gbk(text) << rules;
    QTest::newRow("neither") << QByteArray("\x81 \t\x81 \n") << QStringList();
}

void TestRuleTable::readFile()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, rules);
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("表.txt"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    file.close();
    RuleTable table;
    QString error;
    QCOMPARE(ReadRuleTable(path, table, error), !rules.isEmpty());
    QStringList shown;
    for (const ReplacementRule &rule : table.rules)
        shown << Shown(rule);
    QCOMPARE(shown, rules);
}

// Every find text against every earlier replacement, as the one-pass check must agree with.
void TestRuleTable::chainsOfManyRules()
{
    QRandomGenerator random(7);
    const QString letters = QStringLiteral("甲乙丙丁ab");
    const auto text = [&](int most) {
        QString made;
        for (int i = int(random.bounded(most + 1)); i > 0; --i)
            made += letters.at(int(random.bounded(letters.size())));
        return made;
    };
    std::vector<ReplacementRule> rules;
    for (int i = 0; i < 300; ++i)
        rules.push_back({text(3), text(6), random.bounded(5) != 0, i + 1});
    QStringList expected;
    for (size_t later = 0; later < rules.size(); ++later) {
        for (size_t earlier = 0; earlier < later; ++earlier) {
            if (rules[later].enabled && rules[earlier].enabled && !rules[later].find.isEmpty() &&
                rules[earlier].replacement.contains(rules[later].find))
                expected << QStringLiteral("%1>%2").arg(earlier).arg(later);
        }
    }
    const RuleChains found = FindRuleChains(rules);
    QStringList seen;
    for (const RuleChain &chain : found.chains)
        seen << QStringLiteral("%1>%2").arg(chain.earlier).arg(chain.later);
    QCOMPARE(seen, expected);
    QCOMPARE(found.total, qint64(expected.size()));
    // Kept short, still counted; a set stop ends the check.
    QCOMPARE(FindRuleChains(rules, nullptr, 5).chains.size(), size_t(5));
    QCOMPARE(FindRuleChains(rules, nullptr, 5).total, qint64(expected.size()));
    const std::atomic_bool stop{true};
    QVERIFY(FindRuleChains(rules, &stop).stopped);
}

// Each pair's first later find text that can overlap its replacement, against every pair
// compared with every later one.
void TestRuleTable::conflictsOfManyPairs()
{
    QRandomGenerator random(11);
    const QString letters = QStringLiteral("甲乙丙ab");
    const auto text = [&](int least, int most) {
        QString made;
        for (int i = least + int(random.bounded(most - least + 1)); i > 0; --i)
            made += letters.at(int(random.bounded(letters.size())));
        return made;
    };
    const auto overlap = [](const QString &a, const QString &b) {
        for (int shift = 1 - b.size(); shift < a.size(); ++shift) {
            const int from = std::max(0, shift);
            const int to = std::min(int(a.size()), shift + int(b.size()));
            if (a.mid(from, to - from) == b.mid(from - shift, to - from))
                return true;
        }
        return false;
    };
    for (int round = 0; round < 20; ++round) {
        std::vector<QString> finds;
        std::vector<QString> replacements;
        for (int i = 0; i < 60; ++i) {
            finds.push_back(text(1 + round % 3, 4));
            replacements.push_back(text(random.bounded(8) == 0 ? 0 : 1, 4 + round % 4));
        }
        std::vector<int> expected(finds.size(), int(finds.size()));
        for (size_t pair = 0; pair < finds.size(); ++pair) {
            for (size_t later = pair + 1; later < finds.size() && expected[pair] == 60; ++later) {
                if (replacements[pair].isEmpty() || overlap(replacements[pair], finds[later]))
                    expected[pair] = int(later);
            }
        }
        QCOMPARE(FindPairConflicts(finds, replacements).firstCreated, expected);
    }
}

void TestRuleTable::chains()
{
    QFETCH(QStringList, finds);
    QFETCH(QStringList, replacements);
    QFETCH(QList<int>, offRules);
    QFETCH(QStringList, chains);

    const std::vector<ReplacementRule> rules = Rules(finds, replacements, offRules);
    QStringList found;
    for (const RuleChain &chain : FindRuleChains(rules).chains) {
        found << QStringLiteral("%1>%2").arg(chain.earlier).arg(chain.later);
        // The warning names both rules by line and text.
        const QString line = DescribeChain(rules, chain);
        for (const int index : {chain.earlier, chain.later}) {
            QVERIFY2(line.contains(QString::number(rules[size_t(index)].line)), qPrintable(line));
            QVERIFY2(line.contains(DescribeRule(rules[size_t(index)])), qPrintable(line));
        }
    }
    QCOMPARE(found, chains);
}

void TestRuleTable::hitCounts_data()
{
    QTest::addColumn<QStringList>("finds");
    QTest::addColumn<QStringList>("replacements");

    QTest::newRow("few rules, one hits nothing")
        << Names({"小云", "不存在", "小吉"}) << Names({"大云", "x", "吉"});
    // Enough rules for the one-pass matching of many: chains into later rules, a deletion
    // that joins text into a later find, a GBK find that starts mid-character in the bytes.
    QTest::newRow("many rules, chains and joins")
        << Names({"无", "小云", "AB", "甲", "大云", "乙乙", "丙", "啊", "云和", "丁", "小吉",
                  "吉吉", "戊"})
        << Names({"x", "大云", "", "乙", "甲甲", "乙", "丁", "", "和云", "", "吉吉吉", "好", "z"});
}

void TestRuleTable::hitCounts()
{
    QFETCH(QStringList, finds);
    QFETCH(QStringList, replacements);

    // Texts in every encoding the tree may hold; GBK "啊" is B0 A1, which also ends in
    // the bytes of "谋啊" shifted, and must be counted only at a character.
    struct File
    {
        QString name;
        QString text;
        int encoding; // 0 UTF-8, 1 UTF-8 with BOM, 2 GBK, 3 UTF-16LE
    };
    const QList<File> files{
        {QStringLiteral("a.txt"), QString::fromUtf8("小云和小吉,小云在AAB山BB上甲乙乙"), 0},
        {QStringLiteral("b.txt"), QString::fromUtf8("大云丙乙甲小吉吉啊"), 1},
        {QStringLiteral("子/c.txt"), QString::fromUtf8("小云A啊B谋啊云啊和小吉丙丙乙甲"), 2},
        {QStringLiteral("子/d.txt"), QString::fromUtf8("乙甲丙丁小云云啊和小吉吉吉戊"), 3},
        {QStringLiteral("e.txt"), QString::fromUtf8("没有任何规则"), 2},
    };
    QTemporaryDir temp;
    QVERIFY(temp.isValid());
    const QString source = temp.filePath(QStringLiteral("src")) + QLatin1Char('/');
    const QString save = temp.filePath(QStringLiteral("save")) + QLatin1Char('/');
    const auto encode = [](const QString &text, int encoding) {
        switch (encoding) {
        case 1:
            return Bom() + Utf8(text);
        case 2:
            return Gbk(text);
        case 3:
            return Utf16(text, true);
        default:
            return Utf8(text);
        }
    };
    for (const File &file : files)
        QVERIFY(WriteBytes(source + file.name, encode(file.text, file.encoding)));

    // The count made plainly: each rule in turn on the text the earlier ones left.
    std::vector<qint64> expected(size_t(finds.size()), 0);
    QMap<QString, QByteArray> expectedFiles;
    for (const File &file : files) {
        QString text = file.text;
        for (int i = 0; i < finds.size(); ++i) {
            const QString &find = finds.at(i);
            for (int at = text.indexOf(find); at >= 0; at = text.indexOf(find, at + find.size()))
                ++expected[size_t(i)];
            text.replace(find, replacements.at(i));
        }
        // Written without the mark unless asked for, as every edit writes UTF-8.
        if (text != file.text)
            expectedFiles.insert(file.name, encode(text, file.encoding == 1 ? 0 : file.encoding));
    }

    BatchSettings settings;
    settings.sourceDir = source;
    settings.saveDir = save;
    settings.detectUtf16 = true;
    settings.findLines = finds;
    settings.replaceLines = replacements;
    const RunResult result = RunBatch(Operation::ReplacePairs, settings, RunObserver());
    QCOMPARE(result.failed, 0);
    QCOMPARE(result.hits, expected);
    QMap<QString, QByteArray> written;
    for (const QString &name : TreeListing(save)) {
        if (!name.endsWith(QLatin1Char('/')))
            written.insert(name, ReadBytes(save + name));
    }
    QCOMPARE(written, expectedFiles);
    // The counts' own report beside the found list, every rule on a line.
    QCOMPARE(ReadBytes(source + reportRuleHitsName),
             ReportBytes(RuleHitLines(finds, replacements, expected)));
}

void TestRuleTable::sameAsOneByOne_data()
{
    QTest::addColumn<int>("encoding"); // 0 UTF-8, 1 GBK (both edited as bytes), 2 UTF-16
    QTest::addColumn<QStringList>("symbols");

    // Few symbols: most rules overlap, chain and join. More: runs of rules that cannot
    // interact, applied together. GBK A1 D4 also lies across the bytes of 小云 (D0 A1 D4 C6).
    const QString straddle = GbkCodec()->toUnicode(QByteArray("\xA1\xD4"));
    const QStringList few{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("云")};
    const QStringList more = Names({"a", "b", "c", "小", "云", "吉", "雲"}) << straddle;
    const char *names[] = {"UTF-8", "GBK", "UTF-16"};
    for (int encoding = 0; encoding < 3; ++encoding) {
        QTest::addRow("%s, few symbols", names[encoding]) << encoding << few;
        QTest::addRow("%s, more symbols", names[encoding]) << encoding << more;
    }
}

// Random tables of many rules against each rule applied in turn to the whole text.
void TestRuleTable::sameAsOneByOne()
{
    QFETCH(int, encoding);
    QFETCH(QStringList, symbols);

    QRandomGenerator random(quint32(17 + encoding + symbols.size()));
    const auto word = [&](int from, int to) {
        QString text;
        for (int i = from + int(random.bounded(to - from + 1)); i > 0; --i)
            text += symbols.at(int(random.bounded(symbols.size())));
        return text;
    };
    for (int trial = 0; trial < 400; ++trial) {
        QStringList finds;
        QStringList replacements;
        for (int i = 9 + int(random.bounded(8)); i > 0; --i) {
            finds << word(1, 3);
            replacements << (random.bounded(4) == 0 ? QString() : word(1, 3));
        }
        finds[int(random.bounded(finds.size()))].clear(); // an empty find does nothing
        const QString text = word(0, 40);

        QString expected = text;
        std::vector<int> expectedHits(size_t(finds.size()), 0);
        for (int i = 0; i < finds.size(); ++i) {
            const QString &find = finds.at(i);
            if (find.isEmpty())
                continue;
            for (int at = expected.indexOf(find); at >= 0;
                 at = expected.indexOf(find, at + find.size()))
                ++expectedHits[size_t(i)];
            expected.replace(find, replacements.at(i));
        }

        BatchSettings settings;
        settings.findLines = finds;
        settings.replaceLines = replacements;
        const FileRule rule(Operation::ReplacePairs, settings);
        std::vector<int> hits;
        const QString shown =
            QStringLiteral("%1 on %2 -> %3").arg(finds.join(QLatin1Char('|')), text, expected) +
            QStringLiteral(" (%1)").arg(replacements.join(QLatin1Char('|')));
        const bool replaced = std::any_of(expectedHits.begin(), expectedHits.end(),
                                          [](int count) { return count > 0; });
        if (encoding == 2) {
            QString edited = text;
            QCOMPARE(rule.apply(edited, &hits), replaced);
            QVERIFY2(edited == expected, qPrintable(shown + QStringLiteral(": ") + edited));
        } else {
            const TextEncoding as = encoding == 0 ? TextEncoding::Utf8 : TextEncoding::Gbk;
            QByteArray edited = *EncodeText(text, as, false);
            const ByteEdit::Outcome outcome =
                rule.editBytes(QByteArray(edited), as, false, edited, &hits);
            QCOMPARE(outcome, replaced ? ByteEdit::Outcome::Changed : ByteEdit::Outcome::Unchanged);
            QVERIFY2(edited == *EncodeText(expected, as, false),
                     qPrintable(shown + QStringLiteral(": ") + DecodeBytes(edited, as).text));
        }
        QVERIFY2(hits == expectedHits, qPrintable(shown));
    }
}

QTEST_GUILESS_MAIN(TestRuleTable)
#include "tst_ruletable.moc"
