#include "FileHook.h"

bool ReplaceAll(QString &text, const QString &find, const QString &replacement)
{
    if (find.isEmpty() || !text.contains(find, Qt::CaseSensitive))
        return false;
    text.replace(find, replacement, Qt::CaseSensitive);
    return true;
}

bool ReplacePairs(QString &text, const QStringList &findLines, const QStringList &replaceLines)
{
    bool found = false;
    const int pairs = std::min(findLines.size(), replaceLines.size());
    for (int i = 0; i < pairs; ++i)
        found = ReplaceAll(text, findLines.at(i), replaceLines.at(i)) || found;
    return found;
}

bool InsertText(QString &text, const QString &insertText, bool atFront)
{
    if (atFront)
        text.prepend(insertText);
    else
        text.append(insertText);
    return true;
}

QStringList SplitTerms(const QString &searchTerms)
{
    return searchTerms.split(QLatin1String("||"), Qt::KeepEmptyParts, Qt::CaseSensitive);
}

bool ContainsAllTerms(const QString &text, const QStringList &terms)
{
    for (const QString &term : terms) {
        if (!term.isEmpty() && !text.contains(term, Qt::CaseSensitive))
            return false;
    }
    return true;
}

FileHook MakeFileHook(Operation operation, const BatchSettings &settings)
{
    switch (operation) {
    case Operation::ReplaceText:
        return [find = settings.findText, replacement = settings.replaceText](QString &text) {
            return ReplaceAll(text, find, replacement);
        };
    case Operation::ReplacePairs:
        return [finds = settings.findLines, replacements = settings.replaceLines](QString &text) {
            return ReplacePairs(text, finds, replacements);
        };
    case Operation::InsertText:
        return [insert = settings.insertText, atFront = settings.insertAtFront](QString &text) {
            return InsertText(text, insert, atFront);
        };
    case Operation::FindText:
        break;
    }
    return [terms = SplitTerms(settings.searchTerms)](QString &text) {
        return ContainsAllTerms(text, terms);
    };
}
