#pragma once

#include "BatchSettings.h"
#include "Operation.h"

#include <QString>
#include <QStringList>
#include <functional>

// An operation's decision for one decoded text: true when the file changes (or, for the
// find-only operation, matches); an editing hook leaves the new text in place of the old.
using FileHook = std::function<bool(QString &text)>;

// Every occurrence of find, left to right without overlap; an empty find matches nothing.
bool ReplaceAll(QString &text, const QString &find, const QString &replacement);
// The pairs in order, each on the text the earlier ones left; empty find entries are skipped.
// True when any pair was found.
bool ReplacePairs(QString &text, const QStringList &findLines, const QStringList &replaceLines);
// Always true.
bool InsertText(QString &text, const QString &insertText, bool atFront);
// The find-only terms: searchTerms cut at every "||", empty pieces kept.
QStringList SplitTerms(const QString &searchTerms);
// True when every term occurs; an empty term occurs everywhere.
bool ContainsAllTerms(const QString &text, const QStringList &terms);

// The hook of the operation, with the operation's texts taken from settings.
FileHook MakeFileHook(Operation operation, const BatchSettings &settings);
