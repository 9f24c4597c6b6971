#include "engine/batch/FileMasks.h"

#include <QCoreApplication>
#include <algorithm>

namespace {

const QString defaultMask = QStringLiteral("*.txt");

QChar Folded(QChar c)
{
    const ushort unit = c.unicode();
    if (unit < 0x80)
        return (unit >= 'A' && unit <= 'Z') ? QChar(ushort(unit | 0x20)) : c;
    return c.toCaseFolded();
}

// ".txt" in any letter case; asked of every name of a tree, so without folding it whole.
bool IsTxtName(const QString &name)
{
    const int size = name.size();
    if (size < 4 || name.at(size - 4) != QLatin1Char('.'))
        return false;
    for (int i = 0; i < 3; ++i) {
        const ushort unit = name.at(size - 3 + i).unicode();
        if ((unit | 0x20) != ushort("txt"[i]))
            return false;
    }
    return true;
}

bool IsSeparator(QChar c)
{
    return c == QLatin1Char(';') || c == QChar(0xFF1B); // "；" from a Chinese input method
}

bool IsExclusionMark(QChar c)
{
    return c == QLatin1Char('!') || c == QChar(0xFF01); // "！"
}

} // namespace

QString messageBadFileMask()
{
    return QCoreApplication::translate(
        "FileMasks", "File types are name patterns (such as *.txt;!*backup*) and cannot hold "
                     "“/” or “\\”: ");
}

bool MatchesFileMask(const QString &pattern, const QString &name)
{
    const int patternSize = pattern.size();
    const int nameSize = name.size();
    int p = 0;
    int n = 0;
    int starAt = -1; // the last "*" seen, and where in the name its run ends for now
    int starEnd = 0;
    while (n < nameSize) {
        if (p < patternSize && pattern.at(p) == QLatin1Char('*')) {
            starAt = p++;
            starEnd = n;
            continue;
        }
        if (p < patternSize && pattern.at(p) == QLatin1Char('?')) {
            // One character, also where it takes two UTF-16 units.
            n += (name.at(n).isHighSurrogate() && n + 1 < nameSize &&
                  name.at(n + 1).isLowSurrogate())
                     ? 2
                     : 1;
            ++p;
            continue;
        }
        if (p < patternSize && pattern.at(p) == Folded(name.at(n))) {
            ++p;
            ++n;
            continue;
        }
        if (starAt < 0)
            return false;
        p = starAt + 1;
        n = ++starEnd;
    }
    while (p < patternSize && pattern.at(p) == QLatin1Char('*'))
        ++p;
    return p == patternSize;
}

FileMasks::FileMasks() : includes{defaultMask} {}

bool FileMasks::add(const QString &given, bool exclude, QString *error)
{
    QString pattern = given.trimmed();
    if (!exclude && !pattern.isEmpty() && IsExclusionMark(pattern.at(0))) {
        exclude = true;
        pattern = pattern.mid(1).trimmed();
    }
    if (pattern.isEmpty())
        return true;
    // A path would be matched against a name and take nothing, silently.
    if (pattern.contains(QLatin1Char('/')) || pattern.contains(QLatin1Char('\\'))) {
        if (error)
            *error = pattern;
        return false;
    }
    QString folded;
    folded.reserve(pattern.size());
    for (const QChar c : pattern)
        folded += Folded(c);
    QStringList &list = exclude ? excludes : includes;
    if (!list.contains(folded))
        list << folded;
    return true;
}

bool FileMasks::parse(const QString &text, QString *error)
{
    return parse(QStringList{text}, QStringList(), error);
}

bool FileMasks::parse(const QStringList &includeTexts, const QStringList &excludeTexts,
                      QString *error)
{
    includes.clear();
    excludes.clear();
    const auto addAll = [&](const QStringList &texts, bool exclude) {
        for (const QString &text : texts) {
            int start = 0;
            for (int i = 0; i <= text.size(); ++i) {
                if (i < text.size() && !IsSeparator(text.at(i)))
                    continue;
                if (!add(text.mid(start, i - start), exclude, error))
                    return false;
                start = i + 1;
            }
        }
        return true;
    };
    const bool parsed = addAll(includeTexts, false) && addAll(excludeTexts, true);
    if (includes.isEmpty())
        includes << defaultMask;
    onlyTxt = includes == QStringList{defaultMask};
    return parsed;
}

bool FileMasks::takesFile(const QString &name) const
{
    if (onlyTxt) {
        if (!IsTxtName(name))
            return false;
    } else if (std::none_of(includes.cbegin(), includes.cend(),
                            [&](const QString &mask) { return MatchesFileMask(mask, name); })) {
        return false;
    }
    return std::none_of(excludes.cbegin(), excludes.cend(),
                        [&](const QString &mask) { return MatchesFileMask(mask, name); });
}

bool FileMasks::entersFolder(const QString &name) const
{
    return std::none_of(excludes.cbegin(), excludes.cend(),
                        [&](const QString &mask) { return MatchesFileMask(mask, name); });
}

QString FileMasks::text() const
{
    QStringList all = includes;
    for (const QString &mask : excludes)
        all << QLatin1Char('!') + mask;
    return all.join(QLatin1Char(';'));
}
