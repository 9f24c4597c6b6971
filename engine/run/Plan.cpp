#include "engine/run/Plan.h"

#include "engine/journal/ContentHash.h"
#include "engine/operations/FileHook.h"
#include "engine/run/TextFile.h"

QString EncodingName(TextEncoding encoding)
{
    switch (encoding) {
    case TextEncoding::Utf16Le:
        return QStringLiteral("UTF-16LE");
    case TextEncoding::Utf16Be:
        return QStringLiteral("UTF-16BE");
    case TextEncoding::Gbk:
        return QStringLiteral("GBK");
    case TextEncoding::Utf8:
        break;
    }
    return QStringLiteral("UTF-8");
}

bool EncodingFromName(const QString &name, TextEncoding &encoding)
{
    for (const TextEncoding each :
         {TextEncoding::Utf16Le, TextEncoding::Utf16Be, TextEncoding::Utf8, TextEncoding::Gbk}) {
        if (EncodingName(each) == name) {
            encoding = each;
            return true;
        }
    }
    return false;
}

namespace {

QString DecodedLines(const QByteArray &bytes, TextEncoding encoding)
{
    DecodedText decoded = DecodeBytes(bytes, encoding, false);
    NormaliseLineEnds(decoded.text);
    return decoded.text;
}

// The hunks' runs of removed and added lines.
std::vector<PlannedChange> Changes(const std::vector<DiffHunk> &hunks)
{
    std::vector<PlannedChange> changes;
    for (const DiffHunk &hunk : hunks) {
        int oldLine = hunk.oldCount == 0 ? hunk.oldStart + 1 : hunk.oldStart;
        QStringList removed;
        QStringList added;
        int changeLine = 0;
        const auto close = [&] {
            if (!removed.isEmpty() || !added.isEmpty())
                changes.push_back(
                    {changeLine, removed.join(QLatin1Char('\n')), added.join(QLatin1Char('\n'))});
            removed.clear();
            added.clear();
        };
        for (const DiffLine &line : hunk.lines) {
            if (line.kind == DiffLine::Same) {
                close();
                ++oldLine;
                continue;
            }
            if (removed.isEmpty() && added.isEmpty())
                changeLine = oldLine;
            if (line.kind == DiffLine::Removed) {
                removed << line.text;
                ++oldLine;
            } else {
                added << line.text;
            }
        }
        close();
    }
    return changes;
}

// Non-overlapping occurrences, as a search goes through the text.
int Occurrences(const QString &text, const QString &term)
{
    int count = 0;
    if (term.isEmpty())
        return count;
    for (int at = text.indexOf(term); at >= 0; at = text.indexOf(term, at + term.size()))
        ++count;
    return count;
}

void FindLines(const QString &text, const QStringList &terms, int context, PlannedFile &file)
{
    const TextLines lines = TextLines::of(text);
    int shownUpTo = -1; // index of the last line kept
    for (int i = 0; i < lines.lines.size(); ++i) {
        const QString &line = lines.lines.at(i);
        const bool holds = std::any_of(terms.begin(), terms.end(), [&](const QString &term) {
            return !term.isEmpty() && line.contains(term);
        });
        if (!holds)
            continue;
        const int from = std::max(shownUpTo + 1, i - context);
        const int to = std::min(static_cast<int>(lines.lines.size()) - 1, i + context);
        for (int j = from; j <= to; ++j)
            file.foundLines.emplace_back(j + 1, lines.lines.at(j));
        shownUpTo = std::max(shownUpTo, to);
        file.foundLineNumbers.push_back(i + 1);
    }
}

} // namespace

PlannedFile PlanFromDecision(Operation operation, const BatchSettings &settings,
                             const QString &relativePath, const FileDecision &decision,
                             const PlanOptions &planOptions)
{
    PlannedFile file;
    file.relativePath = relativePath;
    file.size = decision.outcome.bytes;
    if (decision.outcome.kind == FileOutcome::Failed) {
        file.failed = true;
        file.failure = decision.outcome.failure;
        return file;
    }
    file.encoding = DecideEncoding(decision.original, settings.detectUtf16);
    file.hash = ContentHash(decision.original);
    const QString oldText = DecodedLines(decision.original, file.encoding);
    if (operation == Operation::FindText) {
        file.newHash = file.hash;
        const QStringList terms = SplitTerms(settings.searchTerms);
        for (const QString &term : terms)
            file.matches.push_back(Occurrences(oldText, term));
        FindLines(oldText, terms, planOptions.context, file);
        return file;
    }
    file.matches = decision.hits;
    file.newHash = ContentHash(decision.newBytes);
    std::vector<DiffHunk> hunks = DiffTexts(
        TextLines::of(oldText), TextLines::of(DecodedLines(decision.newBytes, file.encoding)),
        planOptions.context);
    file.changes = Changes(hunks);
    if (planOptions.withHunks)
        file.hunks = std::move(hunks);
    return file;
}

RunResult MakePlan(Operation operation, const BatchSettings &settings,
                   const std::function<void(const PlannedFile &file)> &filePlanned,
                   RunObserver observer, RunOptions options, const PlanOptions &planOptions)
{
    options.dryRun = true;
    options.keepOriginals = true;
    observer.fileDecided = [&](const QString &relativePath, const FileDecision &decision) {
        if (decision.outcome.kind != FileOutcome::Unchanged)
            filePlanned(PlanFromDecision(operation, settings, relativePath, decision, planOptions));
    };
    return RunBatch(operation, settings, observer, options);
}

RunResult ApplyPlan(Operation operation, const BatchSettings &settings,
                    const QHash<QString, quint64> &files, const RunObserver &observer,
                    RunOptions options)
{
    options.dryRun = false;
    options.keepOriginals = false;
    options.reviewed = &files;
    return RunBatch(operation, settings, observer, options);
}
