#pragma once

#include <QString>
#include <QStringList>
#include <atomic>
#include <vector>

// A replacement rule table (替换规则表): a UTF-8 text file, one rule a line, the find text and
// its replacement separated by a tab. A line starting with "#" is a comment, and an empty line
// is skipped. In both texts "\t", "\n" and "\\" stand for a tab, a line feed and a backslash,
// and "\#" for a "#" (so a find text may begin with one). A rule switched off is kept as
// "#off " in front of its line: other editors show it as a comment, and it reads back off.

struct ReplacementRule
{
    QString find;
    QString replacement;
    bool enabled = true;
    int line = 0; // in the file it was read from, from 1; 0 when made otherwise
};

struct RuleTableError
{
    int line = 0;
    QString message; // with the line number, as the window and the command line show it
};

struct RuleTable
{
    std::vector<ReplacementRule> rules;
    std::vector<RuleTableError> errors;
};

// Far beyond any table a person keeps; the whole text stays in memory.
constexpr int ruleTableLimit = 16 << 20;

// Parses a table's text; every line that is not a rule, comment or empty line is an error.
RuleTable ParseRuleTable(const QString &text);
// The table's text, which parses back to the same rules (line numbers aside).
QString RuleTableText(const std::vector<ReplacementRule> &rules);
// A text with its tabs, line feeds, backslashes and a leading "#" written as escapes.
QString EscapeRuleText(const QString &text, bool leadingHash = false);

// The text of an escaped field; false at a backslash that starts no escape.
bool UnescapeRuleText(const QString &field, QString &text);

// Reads and parses a table file; false with the reason when it cannot be read or is not
// UTF-8 (a byte-order mark is allowed). Errors of single lines are in table.errors.
bool ReadRuleTable(const QString &path, RuleTable &table, QString &error);
// Writes the table, replacing the file whole. False with the system's words in error.
bool WriteRuleTable(const QString &path, const std::vector<ReplacementRule> &rules,
                    QString *error = nullptr);

// Rules from the two-file form: line i of the find file is replaced by line i of the other,
// both read as the tree's files are (UTF-8, GBK, UTF-16 by its mark). False with the reason
// when a file cannot be read, or when their lines differ in number; empty finds are left out.
bool ReadPairFiles(const QString &findPath, const QString &replacePath,
                   std::vector<ReplacementRule> &rules, QString &error);

// The switched-on rules as the two pair lists of a run.
void EnabledPairs(const std::vector<ReplacementRule> &rules, QStringList &finds,
                  QStringList &replacements);

// A later rule whose find text occurs in an earlier rule's replacement: the earlier rule's
// output may be rewritten again. Indexes into the rules given; switched-off rules take no part.
struct RuleChain
{
    int earlier = 0;
    int later = 0;
};
struct RuleChains
{
    std::vector<RuleChain> chains; // ordered by the later rule, then the earlier
    qint64 total = 0;              // all there are, also those beyond the ones kept
    bool stopped = false;          // the stop flag was set before the check ended
};
// Keeps the first `kept` chains met (the earlier rule's order), then counts the rest. Looks at
// stop now and then, so that an interrupted check ends at once.
RuleChains FindRuleChains(const std::vector<ReplacementRule> &rules,
                          const std::atomic_bool *stop = nullptr, size_t kept = 100000);
// "find → replacement", escaped as in the table.
QString DescribeRule(const ReplacementRule &rule);
// One line naming both rules, by line number when they have one, and their texts.
QString DescribeChain(const std::vector<ReplacementRule> &rules, const RuleChain &chain);

// One report line per rule: its hits, a tab, "find → replacement".
QStringList RuleHitLines(const QStringList &finds, const QStringList &replacements,
                         const std::vector<qint64> &hits);
