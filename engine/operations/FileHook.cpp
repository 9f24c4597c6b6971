#include "engine/operations/FileHook.h"

#include "engine/chinese/ChineseConverter.h"
#include "engine/operations/ChineseConversion.h"
#include "engine/operations/PairMatcher.h"
#include "engine/search/FindBytes.h"

#include <algorithm>
#include <memory>

bool ReplaceAll(QString &text, const QString &find, const QString &replacement, int *count)
{
    if (count)
        *count = 0;
    if (find.isEmpty())
        return false;
    // The code units searched as bytes with the vector search, several times faster than
    // QString's on two-character Chinese texts; a match at an even byte offset is a match of
    // whole code units.
    const char *const begin = reinterpret_cast<const char *>(text.constData());
    const char *const end = begin + 2 * qsizetype(text.size());
    const char *const needle = reinterpret_cast<const char *>(find.constData());
    const qsizetype needleSize = 2 * qsizetype(find.size());
    const auto next = [&](int from) {
        for (const char *at = FindBytes(begin + 2 * qsizetype(from), end, needle, needleSize); at;
             at = FindBytes(at + 1, end, needle, needleSize)) {
            if ((at - begin) % 2 == 0)
                return int((at - begin) / 2);
        }
        return -1;
    };
    int at = next(0);
    if (at < 0)
        return false;
    // Left to right, each search after the previous match, as QString::replace goes.
    QString result;
    result.reserve(text.size() + std::max(0, replacement.size() - find.size()) * 16);
    int copied = 0;
    int hits = 0;
    for (; at >= 0; at = next(copied)) {
        result.append(text.constData() + copied, at - copied);
        result.append(replacement);
        copied = at + find.size();
        ++hits;
    }
    result.append(text.constData() + copied, text.size() - copied);
    text = std::move(result);
    if (count)
        *count = hits;
    return true;
}

bool ReplacePairs(QString &text, const QStringList &findLines, const QStringList &replaceLines,
                  std::vector<int> *hits)
{
    bool found = false;
    const int pairs = std::min(findLines.size(), replaceLines.size());
    if (hits)
        hits->assign(static_cast<size_t>(pairs), 0);
    for (int i = 0; i < pairs; ++i)
        found = ReplaceAll(text, findLines.at(i), replaceLines.at(i),
                           hits ? &(*hits)[static_cast<size_t>(i)] : nullptr) ||
                found;
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

namespace {

QStringList NonEmpty(QStringList texts)
{
    texts.removeAll(QString());
    return texts;
}

bool ContainsAnyTerm(const QString &text, const QStringList &terms)
{
    return std::any_of(terms.cbegin(), terms.cend(), [&text](const QString &term) {
        return !term.isEmpty() && text.contains(term, Qt::CaseSensitive);
    });
}

} // namespace

bool MatchesTerms(const QString &text, const QStringList &all, const QStringList &any,
                  const QStringList &none)
{
    return ContainsAllTerms(text, all) && (NonEmpty(any).isEmpty() || ContainsAnyTerm(text, any)) &&
           !ContainsAnyTerm(text, none);
}

QStringList ShownTerms(const BatchSettings &settings)
{
    return SplitTerms(settings.searchTerms) + NonEmpty(SplitTerms(settings.anyTerms));
}

FileRule::FileRule(Operation operation, const BatchSettings &settings)
{
    switch (operation) {
    case Operation::ReplaceText:
        hook = [find = settings.findText,
                replacement = settings.replaceText](QString &text, std::vector<int> *hits) {
            if (hits)
                hits->assign(1, 0);
            return ReplaceAll(text, find, replacement, hits ? hits->data() : nullptr);
        };
        check = ByteCheck::AnyPresent;
        terms = EncodeTerms(NonEmpty({settings.findText}));
        byteEdit.emplace(QStringList{settings.findText}, QStringList{settings.replaceText});
        break;
    case Operation::ReplacePairs:
        byteEdit.emplace(settings.findLines, settings.replaceLines);
        if (byteEdit->matchesPairs()) {
            // Many pairs: found in one pass and applied in merged passes, where each pair
            // would take a search and a copy of the text of its own.
            auto pairs = std::make_shared<OrderedPairs<ushort>>(byteEdit->pairConflicts());
            std::vector<int> given; // each pair's place among the pairs given
            const int count = std::min(settings.findLines.size(), settings.replaceLines.size());
            for (int i = 0; i < count; ++i) {
                const QString &find = settings.findLines.at(i);
                const QString &replacement = settings.replaceLines.at(i);
                if (find.isEmpty())
                    continue;
                pairs->add(reinterpret_cast<const ushort *>(find.constData()), find.size(),
                           reinterpret_cast<const ushort *>(replacement.constData()),
                           replacement.size());
                given.push_back(i);
            }
            pairs->finish();
            hook = [pairs, given, count](QString &text, std::vector<int> *hits) {
                std::vector<int> counts(given.size(), 0);
                std::vector<ushort> edited;
                const bool changed =
                    pairs->apply(reinterpret_cast<const ushort *>(text.constData()), text.size(),
                                 edited, counts.data());
                if (changed)
                    text =
                        QString(reinterpret_cast<const QChar *>(edited.data()), int(edited.size()));
                if (hits) {
                    hits->assign(size_t(count), 0);
                    for (size_t i = 0; i < given.size(); ++i)
                        (*hits)[size_t(given[i])] = counts[i];
                }
                return changed;
            };
            break;
        }
        // When no find entry occurs in the text, no pair changes it, so none occurs later.
        hook = [finds = settings.findLines,
                replacements = settings.replaceLines](QString &text, std::vector<int> *hits) {
            return ReplacePairs(text, finds, replacements, hits);
        };
        check = ByteCheck::AnyPresent;
        terms = EncodeTerms(NonEmpty(settings.findLines));
        break;
    case Operation::InsertText:
        hook = [insert = settings.insertText,
                atFront = settings.insertAtFront](QString &text, std::vector<int> *hits) {
            if (hits)
                hits->assign(1, 1);
            return InsertText(text, insert, atFront);
        };
        byteEdit.emplace(settings.insertText, settings.insertAtFront);
        break;
    case Operation::FindText: {
        const QStringList all = NonEmpty(SplitTerms(settings.searchTerms));
        const QStringList any = NonEmpty(SplitTerms(settings.anyTerms));
        const QStringList none = NonEmpty(SplitTerms(settings.noneTerms));
        hook = [all, any, none](QString &text, std::vector<int> *hits) {
            if (hits)
                hits->clear(); // a search is counted by whoever shows its matches
            return MatchesTerms(text, all, any, none);
        };
        check = ByteCheck::FoundTerms;
        terms = EncodeTerms(all + any + none);
        anyFrom = size_t(all.size());
        noneFrom = anyFrom + size_t(any.size());
        break;
    }
    case Operation::ConvertEncoding:
        hook = [](QString &, std::vector<int> *) { return false; };
        converting = std::make_shared<Conversion>(settings);
        break;
    case Operation::ConvertChinese:
        hook = [](QString &, std::vector<int> *) { return false; };
        // Loaded once per run, as its dictionaries take a while, and shared by every thread.
        if (std::shared_ptr<const ChineseConverter> converter =
                ChineseConverter::load(ChineseConfigName(settings.chineseConfig), &unusable))
            converting = std::make_shared<ChineseConversion>(std::move(converter));
        break;
    }
}

FileRule::Role FileRule::role(size_t term) const
{
    if (term < anyFrom)
        return Role::All;
    return term < noneFrom ? Role::Any : Role::None;
}

std::optional<bool> FileRule::decideFromBytes(const QByteArray &bytes, TextEncoding encoding) const
{
    if (check == ByteCheck::None)
        return std::nullopt;
    const ByteText text(bytes, encoding);
    std::vector<Presence> presence;
    presence.reserve(terms.size());
    for (const EncodedTerm &term : terms) {
        presence.push_back(text.contains(term));
        // An absent all-term or a present none-term settles a search, the first present
        // term an edit.
        const Role termRole = role(presence.size() - 1);
        if ((check == ByteCheck::FoundTerms &&
             ((termRole == Role::All && presence.back() == Presence::Absent) ||
              (termRole == Role::None && presence.back() == Presence::Present))) ||
            (check == ByteCheck::AnyPresent && presence.back() == Presence::Present))
            break;
    }
    return decideFromPresence(presence);
}

std::optional<bool> FileRule::decideFromPresence(const std::vector<Presence> &found) const
{
    if (check == ByteCheck::None)
        return std::nullopt;
    if (check == ByteCheck::AnyPresent) {
        for (const Presence presence : found) {
            if (presence == Presence::Present)
                return std::nullopt;
        }
        if (found.size() < terms.size() ||
            std::find(found.begin(), found.end(), Presence::Unknown) != found.end())
            return std::nullopt;
        return false;
    }
    // A term not asked about is unknown.
    bool unknown = found.size() < terms.size();
    bool anyFound = false;
    bool anyUnknown = found.size() < noneFrom;
    for (size_t i = 0; i < found.size(); ++i) {
        const Presence presence = found[i];
        switch (role(i)) {
        case Role::All:
            if (presence == Presence::Absent)
                return false;
            unknown = unknown || presence == Presence::Unknown;
            break;
        case Role::Any:
            anyFound = anyFound || presence == Presence::Present;
            anyUnknown = anyUnknown || presence == Presence::Unknown;
            break;
        case Role::None:
            if (presence == Presence::Present)
                return false;
            unknown = unknown || presence == Presence::Unknown;
            break;
        }
    }
    if (noneFrom > anyFrom && !anyFound) {
        if (!anyUnknown)
            return false;
        unknown = true;
    }
    if (unknown)
        return std::nullopt;
    return true;
}

ByteEdit::Outcome FileRule::editBytes(const QByteArray &bytes, TextEncoding encoding, bool withBom,
                                      QByteArray &newBytes, std::vector<int> *hits) const
{
    if (!byteEdit)
        return ByteEdit::Outcome::Unknown;
    return byteEdit->apply(bytes, encoding, withBom, newBytes, hits);
}
