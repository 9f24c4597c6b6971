#pragma once

#include "engine/batch/BatchSettings.h"
#include "engine/batch/Failure.h"
#include "engine/codec/TextCodec.h"
#include "engine/journal/ContentHash.h"
#include "engine/run/LineDiff.h"
#include "engine/run/RunBatch.h"

#include <QHash>
#include <QString>
#include <functional>
#include <vector>

struct FileDecision;

// A changed place of a file: the lines it removes and the lines that take their place.
struct PlannedChange
{
    PlannedChange() = default;
    PlannedChange(int line, QString before, QString after)
        : line(line), before(std::move(before)), after(std::move(after))
    {}

    int line = 0;   // the first line removed, or the line the new ones come before, from 1
    QString before; // the old lines, joined by line feeds
    QString after;  // the new lines
    // Instead of before and after, with PlanOptions::utf8Texts.
    QByteArray beforeUtf8;
    QByteArray afterUtf8;
};

// A file the operation would change (or, for the find-only operation, that matches), or one
// it could not handle.
struct PlannedFile
{
    QString relativePath; // below the source folder, "/" separators, bytes kept (FileNames.h)
    bool failed = false;
    FileFailure failure; // for failed
    TextEncoding encoding = TextEncoding::Utf8;
    qint64 size = 0;
    quint64 hash = 0;    // ContentHash of the file as it was read
    quint64 newHash = 0; // and of what would be written
    // Hits of each search text or pair, in the settings' order; 1 for an insertion.
    std::vector<int> matches;
    std::vector<PlannedChange> changes;
    std::vector<DiffHunk> hunks; // the changes with three lines around each
    // For the find-only operation: the lines that hold a term, and the lines around them.
    std::vector<std::pair<int, QString>> foundLines; // line number, text
    std::vector<int> foundLineNumbers;               // those that hold a term
    bool utf8Texts = false; // the changes' texts are in beforeUtf8 and afterUtf8
    bool utf8Hunks = false; // the hunks' lines are in DiffLine::utf8
    // What PlanOptions::render made of the entry, on the thread that planned it.
    std::vector<QByteArray> rendered;

    // About the memory its texts take.
    qint64 heldBytes() const;
};

struct PlanOptions
{
    int context = 3;       // unchanged lines kept around each change, or around a found line
    bool withHunks = true; // keep the hunks (a diff); changes and found lines are always kept
    // The changes' texts as UTF-8 only, as a plan file writes them: most of a UTF-8 file's
    // changed lines need no decoding then.
    bool utf8Texts = false;
    // The hunks of a valid UTF-8 file as UTF-8 only (DiffLine::utf8), for a diff shown in
    // UTF-8: its lines need no decoding then.
    bool utf8Hunks = false;
    // Called on the worker thread that planned the file, to turn it into output there (into
    // PlannedFile::rendered) rather than on the caller's thread, which takes the files one by
    // one.
    std::function<void(PlannedFile &file)> render;
};

// Names of encodings as a plan and a diff give them, and back.
QString EncodingName(TextEncoding encoding);
bool EncodingFromName(const QString &name, TextEncoding &encoding);

// The plan entry of one file from the run's own decision (kept with RunOptions::keepOriginals):
// the old text and the text of the decision's new bytes, both decoded in the file's encoding.
PlannedFile PlanFromDecision(Operation operation, const BatchSettings &settings,
                             const QString &relativePath, const FileDecision &decision,
                             const PlanOptions &planOptions);

// A dry run of the operation through RunBatch, every decision kept: filePlanned gets each
// changed (or matching) file and each file that failed, in scan order; nothing is written,
// not even a report. The observer's members are called as the run goes.
RunResult MakePlan(Operation operation, const BatchSettings &settings,
                   const std::function<void(const PlannedFile &file)> &filePlanned,
                   RunObserver observer = {}, RunOptions options = {},
                   const PlanOptions &planOptions = {});

// A digest of a file's changed lines (the line, the old and the new text of each change), the
// same for the same changes whether their texts are held as text or as UTF-8.
quint64 ChangesHash(const std::vector<PlannedChange> &changes, bool utf8Texts);

// Adds one change to such a digest, its texts as UTF-8.
class ChangesHasher
{
public:
    void add(int line, const QByteArray &before, const QByteArray &after);
    quint64 hash() const { return hasher.hash(); }

private:
    ContentHasher hasher;
};

// A plan as it was reviewed: the run it was made for and its files.
struct ReviewedPlan
{
    Operation operation = Operation::ReplaceText;
    BatchSettings settings; // as the plan was made: its folders, mode and the operation's texts
    ReviewedFiles files;    // the files to write, by path below the source folder
};

// True when the plan was made for the chosen source folder, mode and save folder.
bool PlanFitsFolders(const BatchSettings &planned, const BatchSettings &chosen);

// Applies a plan: a run of its operation with its texts, on the chosen folders in the chosen
// mode and with the chosen journal (a plan decides none of them), refused with
// "预览文件与所选文件夹不符" when the plan was made for other ones. It takes only the plan's
// files, each only while it holds what was planned ("文件在预览之后被修改", or "文件已不存在")
// and only when its new bytes and changed lines are the plan's ("新内容与预览不符"). The run
// is journaled and writes its reports like any other.
RunResult ApplyPlan(const ReviewedPlan &plan, const BatchSettings &chosen,
                    const RunObserver &observer = {}, RunOptions options = {});
