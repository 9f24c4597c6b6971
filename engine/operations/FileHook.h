#pragma once

#include "engine/batch/BatchSettings.h"
#include "engine/codec/TextCodec.h"
#include "engine/operations/ByteEdit.h"
#include "engine/operations/Conversion.h"
#include "engine/search/ByteSearch.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

// An operation's decision for one decoded text: true when the file changes (or, for the
// find-only operation, matches); an editing hook leaves the new text in place of the old.
// When hits is given it gets one count per search text or pair, in the settings' order.
using FileHook = std::function<bool(QString &text, std::vector<int> *hits)>;

// Every occurrence of find, left to right without overlap; an empty find matches nothing.
// count, when given, gets the number of occurrences replaced.
bool ReplaceAll(QString &text, const QString &find, const QString &replacement,
                int *count = nullptr);
// The pairs in order, each on the text the earlier ones left; empty find entries are skipped.
// True when any pair was found. hits, when given, gets each pair's count of replacements.
bool ReplacePairs(QString &text, const QStringList &findLines, const QStringList &replaceLines,
                  std::vector<int> *hits = nullptr);
// Always true.
bool InsertText(QString &text, const QString &insertText, bool atFront);
// The find-only terms: searchTerms cut at every "||", empty pieces kept.
QStringList SplitTerms(const QString &searchTerms);
// True when every term occurs; an empty term occurs everywhere.
bool ContainsAllTerms(const QString &text, const QStringList &terms);
// The find-only test: every one of all, at least one of any (when it has one), none of none.
// Empty entries of any and none are left out: they would match, or refuse, every file.
bool MatchesTerms(const QString &text, const QStringList &all, const QStringList &any,
                  const QStringList &none);
// The terms whose lines a search shows: the settings' all-terms and any-terms.
QStringList ShownTerms(const BatchSettings &settings);

// The hook of an operation, and the search texts that often settle a file from its bytes
// alone: most files of a tree hold none of them, and need not be decoded at all.
class FileRule
{
public:
    FileRule(Operation operation, const BatchSettings &settings);

    // The hook's answer when the bytes already tell it; nothing when the text is needed.
    std::optional<bool> decideFromBytes(const QByteArray &bytes, TextEncoding encoding) const;
    // The same from each search text's presence, in the order of searchTerms().
    std::optional<bool> decideFromPresence(const std::vector<Presence> &presence) const;
    // The texts whose presence may settle a file; none when only the text can tell.
    const std::vector<EncodedTerm> &searchTerms() const { return terms; }
    bool settlesFromBytes() const { return check != ByteCheck::None; }
    // The editing hook on the file's own bytes; null for a search.
    const ByteEdit *byteEditor() const { return byteEdit ? &*byteEdit : nullptr; }
    // hits, when given, gets the hook's counts (FileHook).
    bool apply(QString &text, std::vector<int> *hits = nullptr) const { return hook(text, hits); }
    // An editing hook's new bytes from the file's own bytes, where those tell them.
    ByteEdit::Outcome editBytes(const QByteArray &bytes, TextEncoding encoding, bool withBom,
                                QByteArray &newBytes, std::vector<int> *hits = nullptr) const;
    // The conversion that takes the place of the hook, which then never runs.
    const FileConversion *conversion() const { return converting.get(); }
    // Why the operation cannot run at all (OpenCC's dictionaries missing); empty when it can.
    const QString &problem() const { return unusable; }

private:
    enum class ByteCheck
    {
        None,       // the text always changes
        FoundTerms, // matches when every all-term, some any-term and no none-term occurs
        AnyPresent, // can change only when some term occurs
    };
    FileHook hook;
    ByteCheck check = ByteCheck::None;
    std::vector<EncodedTerm> terms; // the non-empty search texts
    // A search's terms in three runs: all-terms before anyFrom, then any-terms, then
    // none-terms from noneFrom.
    size_t anyFrom = 0;
    size_t noneFrom = 0;
    enum class Role
    {
        All,
        Any,
        None,
    };
    Role role(size_t term) const;
    std::optional<ByteEdit> byteEdit;
    std::shared_ptr<const FileConversion> converting;
    QString unusable;
};
