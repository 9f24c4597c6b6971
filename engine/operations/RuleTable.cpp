#include "engine/operations/RuleTable.h"

#include "engine/operations/TextSet.h"

#include "engine/codec/ByteChecks.h"
#include "engine/codec/TextCodec.h"
#include "engine/files/FileIo.h"
#include "engine/files/SettingsFiles.h"

#include <QCoreApplication>

#include <algorithm>

namespace {

const QString offMarker = QStringLiteral("#off ");

QString Translated(const char *text)
{
    return QCoreApplication::translate("RuleTable", text);
}

// The text with its escapes resolved; false at a backslash that starts none.
bool Unescape(const QString &field, QString &text, QChar &bad)
{
    text.clear();
    text.reserve(field.size());
    for (int i = 0; i < field.size(); ++i) {
        const QChar c = field.at(i);
        if (c != QLatin1Char('\\')) {
            text += c;
            continue;
        }
        const QChar next = i + 1 < field.size() ? field.at(i + 1) : QChar();
        if (next == QLatin1Char('t'))
            text += QLatin1Char('\t');
        else if (next == QLatin1Char('n'))
            text += QLatin1Char('\n');
        else if (next == QLatin1Char('\\') || next == QLatin1Char('#'))
            text += next;
        else {
            bad = next;
            return false;
        }
        ++i;
    }
    return true;
}

} // namespace

RuleTable ParseRuleTable(const QString &text)
{
    RuleTable table;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (int i = 0; i < lines.size(); ++i) {
        const int number = i + 1;
        QString line = lines.at(i);
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        if (i == 0 && line.startsWith(QChar(0xFEFF)))
            line.remove(0, 1);
        bool enabled = true;
        // A switched-off rule: "#off " and a line that holds a tab; any other "#" line is a
        // comment.
        if (line.startsWith(offMarker) && line.contains(QLatin1Char('\t'))) {
            enabled = false;
            line.remove(0, offMarker.size());
        } else if (line.isEmpty() || line.startsWith(QLatin1Char('#'))) {
            continue;
        }
        const auto fail = [&](const QString &message) {
            table.errors.push_back(
                {number, Translated(QT_TRANSLATE_NOOP("RuleTable", "line %1: %2"))
                             .arg(number)
                             .arg(message)});
        };
        const int tab = line.indexOf(QLatin1Char('\t'));
        if (tab < 0) {
            fail(Translated(QT_TRANSLATE_NOOP("RuleTable",
                                              "no tab between the find text and the replacement")));
            continue;
        }
        if (line.indexOf(QLatin1Char('\t'), tab + 1) >= 0) {
            fail(Translated(QT_TRANSLATE_NOOP(
                "RuleTable", "more than one tab (write a tab inside a text as \\t)")));
            continue;
        }
        ReplacementRule rule;
        rule.enabled = enabled;
        rule.line = number;
        QChar bad;
        if (!Unescape(line.left(tab), rule.find, bad) ||
            !Unescape(line.mid(tab + 1), rule.replacement, bad)) {
            fail(bad.isNull() ? Translated(QT_TRANSLATE_NOOP(
                                    "RuleTable", "a backslash ends the text (write one as \\\\)"))
                              : Translated(QT_TRANSLATE_NOOP(
                                               "RuleTable",
                                               "unknown escape \\%1 (use \\t, \\n, \\\\ or \\#)"))
                                    .arg(bad));
            continue;
        }
        if (rule.find.isEmpty()) {
            fail(Translated(QT_TRANSLATE_NOOP("RuleTable", "the find text is empty")));
            continue;
        }
        table.rules.push_back(std::move(rule));
    }
    return table;
}

QString EscapeRuleText(const QString &text, bool leadingHash)
{
    QString escaped;
    escaped.reserve(text.size());
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('\\'))
            escaped += QLatin1String("\\\\");
        else if (c == QLatin1Char('\t'))
            escaped += QLatin1String("\\t");
        else if (c == QLatin1Char('\n'))
            escaped += QLatin1String("\\n");
        else if (c == QLatin1Char('#') && i == 0 && leadingHash)
            escaped += QLatin1String("\\#");
        else
            escaped += c;
    }
    return escaped;
}

QString RuleTableText(const std::vector<ReplacementRule> &rules)
{
    QString text;
    for (const ReplacementRule &rule : rules) {
        if (!rule.enabled)
            text += offMarker;
        text += EscapeRuleText(rule.find, true) + QLatin1Char('\t') +
                EscapeRuleText(rule.replacement) + QLatin1Char('\n');
    }
    return text;
}

bool UnescapeRuleText(const QString &field, QString &text)
{
    QChar bad;
    return Unescape(field, text, bad);
}

namespace {

// A table's or pair file's bytes, refused when unreadable or larger than any table should be.
bool ReadTableBytes(const QString &path, QByteArray &bytes, QString &error)
{
    QString systemError;
    if (!ReadFileStart(path, ruleTableLimit + 1, bytes, &systemError)) {
        error =
            Translated(QT_TRANSLATE_NOOP("RuleTable", "cannot read %1: %2")).arg(path, systemError);
        return false;
    }
    if (bytes.size() > ruleTableLimit) {
        error = Translated(QT_TRANSLATE_NOOP("RuleTable", "%1 is larger than %2 MiB"))
                    .arg(path)
                    .arg(ruleTableLimit >> 20);
        return false;
    }
    return true;
}

// A pair file's lines; a final line break adds no empty line.
bool ReadLines(const QString &path, QStringList &lines, QString &error)
{
    QByteArray bytes;
    if (!ReadTableBytes(path, bytes, error))
        return false;
    DecodedText decoded = DecodeBytes(bytes, DecideEncoding(bytes, true));
    if (!decoded.lossless) {
        error = Translated(QT_TRANSLATE_NOOP("RuleTable", "%1 is neither UTF-8 nor GBK text"))
                    .arg(path);
        return false;
    }
    QString text = decoded.text;
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    if (text.endsWith(QLatin1Char('\n')))
        text.chop(1);
    lines = text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
    return true;
}

} // namespace

bool ReadPairFiles(const QString &findPath, const QString &replacePath,
                   std::vector<ReplacementRule> &rules, QString &error)
{
    QStringList finds;
    QStringList replacements;
    if (!ReadLines(findPath, finds, error) || !ReadLines(replacePath, replacements, error))
        return false;
    if (finds.size() != replacements.size()) {
        error = Translated(QT_TRANSLATE_NOOP("RuleTable", "%1 has %2 lines but %3 has %4"))
                    .arg(findPath)
                    .arg(finds.size())
                    .arg(replacePath)
                    .arg(replacements.size());
        return false;
    }
    rules.clear();
    for (int i = 0; i < finds.size(); ++i) {
        if (!finds.at(i).isEmpty())
            rules.push_back({finds.at(i), replacements.at(i), true, i + 1});
    }
    return true;
}

bool ReadRuleTable(const QString &path, RuleTable &table, QString &error)
{
    QByteArray bytes;
    if (!ReadTableBytes(path, bytes, error))
        return false;
    // Notepad's ANSI on a Chinese Windows is GBK: read as the tree's files and pair files are.
    const DecodedText decoded = DecodeBytes(bytes, DecideEncoding(bytes, true));
    if (!decoded.lossless) {
        error = Translated(QT_TRANSLATE_NOOP("RuleTable", "%1 is neither UTF-8 nor GBK text"))
                    .arg(path);
        return false;
    }
    table = ParseRuleTable(decoded.text);
    return true;
}

bool WriteRuleTable(const QString &path, const std::vector<ReplacementRule> &rules, QString *error)
{
    return WriteTextFile(path, RuleTableText(rules).toUtf8(), error);
}

void EnabledPairs(const std::vector<ReplacementRule> &rules, QStringList &finds,
                  QStringList &replacements)
{
    finds.clear();
    replacements.clear();
    for (const ReplacementRule &rule : rules) {
        if (rule.enabled) {
            finds << rule.find;
            replacements << rule.replacement;
        }
    }
}

namespace {

// How often the check looks at the stop flag: rarely enough to cost nothing.
constexpr int stopCheckRules = 1024;

} // namespace

RuleChains FindRuleChains(const std::vector<ReplacementRule> &rules, const std::atomic_bool *stop,
                          size_t kept)
{
    RuleChains result;
    const auto stopped = [&](size_t rule) {
        if (stop && rule % stopCheckRules == 0 && stop->load())
            result.stopped = true;
        return result.stopped;
    };
    TextSet finds; // every find text at once: one pass over each replacement
    std::vector<std::vector<int>> rulesOfText; // rules by find text, in order
    for (size_t rule = 0; rule < rules.size(); ++rule) {
        if (stopped(rule))
            return result;
        if (!rules[rule].enabled || rules[rule].find.isEmpty())
            continue;
        const int text = finds.add(rules[rule].find);
        if (size_t(text) == rulesOfText.size())
            rulesOfText.emplace_back();
        rulesOfText[size_t(text)].push_back(int(rule));
    }
    finds.finish();
    std::vector<size_t> seenIn(rulesOfText.size(), size_t(-1));
    for (size_t earlier = 0; earlier < rules.size(); ++earlier) {
        if (stopped(earlier))
            return result;
        if (!rules[earlier].enabled)
            continue;
        finds.scan(rules[earlier].replacement, [&](int text) {
            if (seenIn[size_t(text)] == earlier)
                return;
            seenIn[size_t(text)] = earlier;
            const std::vector<int> &later = rulesOfText[size_t(text)];
            auto from = std::upper_bound(later.begin(), later.end(), int(earlier));
            result.total += later.end() - from;
            for (; from != later.end() && result.chains.size() < kept; ++from)
                result.chains.push_back({int(earlier), *from});
        });
    }
    // In the order of the later rule, as a reader goes down the table.
    std::sort(result.chains.begin(), result.chains.end(),
              [](const RuleChain &a, const RuleChain &b) {
                  return a.later != b.later ? a.later < b.later : a.earlier < b.earlier;
              });
    return result;
}

QString DescribeRule(const ReplacementRule &rule)
{
    return EscapeRuleText(rule.find) + QStringLiteral(" → ") + EscapeRuleText(rule.replacement);
}

QString DescribeChain(const std::vector<ReplacementRule> &rules, const RuleChain &chain)
{
    const ReplacementRule &earlier = rules[size_t(chain.earlier)];
    const ReplacementRule &later = rules[size_t(chain.later)];
    // Rules typed into the boxes have no line of a file; their place in the list stands in.
    const auto number = [](const ReplacementRule &rule, int index) {
        return rule.line > 0 ? rule.line : index + 1;
    };
    return Translated(
               QT_TRANSLATE_NOOP(
                   "RuleTable",
                   "the rule on line %1 (%2) puts in text that the rule on line %3 (%4) finds"))
        .arg(number(earlier, chain.earlier))
        .arg(DescribeRule(earlier))
        .arg(number(later, chain.later))
        .arg(DescribeRule(later));
}

QStringList RuleHitLines(const QStringList &finds, const QStringList &replacements,
                         const std::vector<qint64> &hits)
{
    QStringList lines;
    const int pairs = std::min(finds.size(), replacements.size());
    for (int i = 0; i < pairs; ++i) {
        ReplacementRule rule;
        rule.find = finds.at(i);
        rule.replacement = replacements.at(i);
        const qint64 count = size_t(i) < hits.size() ? hits[size_t(i)] : 0;
        lines << QString::number(count) + QLatin1Char('\t') + DescribeRule(rule);
    }
    return lines;
}
