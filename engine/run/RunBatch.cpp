#include "engine/run/RunBatch.h"

#include "engine/batch/LaunchChecks.h"
#include "engine/files/FileIo.h"
#include "engine/files/Paths.h"
#include "engine/journal/RunDescription.h"
#include "engine/journal/RunJournal.h"
#include "engine/operations/RuleTable.h"
#include "engine/report/Reports.h"
#include "engine/run/DecisionPipeline.h"
#include "engine/run/TextFile.h"
#include "engine/scan/Scan.h"
#include "engine/scan/ScannedFileSet.h"
#include "platform/Program.h"

#include <QDateTime>
#include <QSet>
#include <algorithm>
#include <deque>
#include <optional>

namespace {

// A file written and not yet renamed holds itself and its folder open. Within what the process
// may hold, beside what else a run keeps open, the writer holds one group, then a second one
// while the first is flushed, then the files written ahead on the deciding threads.
struct OpenWrites
{
    bool flushAside = false;
    int ahead = 0;
};

OpenWrites OpenWritesAllowed()
{
    const int otherHandles = 128;
    const int mostAhead = 128;
    const int files = (std::max(platform::OpenFilesAllowed(), otherHandles) - otherHandles) / 2;
    OpenWrites allowed;
    allowed.flushAside = files >= 2 * TextFileWriter::groupFiles;
    allowed.ahead =
        std::clamp(files - (allowed.flushAside ? 2 : 1) * TextFileWriter::groupFiles, 0, mostAhead);
    return allowed;
}

// The program's own files, which no mask takes: the reports at the top of the tree (folder 0)
// and the temporaries a killed run left (".parafold-…tmp"). The journal's folder is not
// scanned at all.
bool IsOwnFile(const ScannedFile &file)
{
    if (file.folder == 0 && IsReportName(file.name))
        return true;
    return file.name.startsWith(QLatin1String(".parafold-")) &&
           file.name.endsWith(QLatin1String(".tmp"));
}

FileMasks MasksOf(const BatchSettings &settings)
{
    FileMasks masks;
    masks.parse(settings.fileMasks);
    return masks;
}

// What would make an editing run lose data or guess; the launch checks these too.
QString Refusal(Operation operation, const BatchSettings &settings)
{
    QString badMask;
    if (!FileMasks().parse(settings.fileMasks, &badMask))
        return messageBadFileMask() + badMask;
    if (operation == Operation::FindText)
        return QString();
    if (operation == Operation::ReplacePairs &&
        settings.findLines.size() != settings.replaceLines.size())
        return messageCountMismatch();
    if (settings.saveInSource)
        return QString();
    if (settings.saveDir.isEmpty())
        return messageSaveMissing();
    if (SameFolder(settings.sourceDir, settings.saveDir))
        return messageSameFolder();
    return QString();
}

template <typename Callback, typename... Args> void Notify(const Callback &callback, Args &&...args)
{
    if (callback)
        callback(std::forward<Args>(args)...);
}

// One run's state, from the scan to the reports.
class BatchRunner
{
public:
    BatchRunner(Operation operation, const BatchSettings &settings, const RunObserver &observer,
                const RunOptions &options)
        : operation(operation), settings(settings), observer(observer), options(options),
          masks(MasksOf(settings))
    {
        SetReportPaths(this->settings);
    }

    RunResult run()
    {
        result.refusal = Refusal(operation, settings);
        if (!result.refusal.isEmpty())
            return result;
        const qint64 start = QDateTime::currentSecsSinceEpoch();
        // Before the scan: an operation that cannot run at all touches nothing.
        const FileRule rule(operation, settings);
        result.refusal = rule.problem();
        if (!result.refusal.isEmpty())
            return result;
        // Every rule has its count, also those that hit nothing.
        if (operation == Operation::ReplacePairs)
            result.hits.assign(size_t(settings.findLines.size()), 0);
        const FileList files = CollectFiles(settings.sourceDir, masks);
        const std::vector<int> textFiles = textFileIndexes(files);
        if (options.reviewed) {
            for (const int index : textFiles)
                reviewedSeen.insert(files.relativePath(files.files[static_cast<size_t>(index)]));
        }
        Notify(observer.scanFinished, static_cast<int>(textFiles.size()));
        std::optional<ScannedFileSet> sourceFiles;
        if (operation != Operation::FindText && !settings.saveInSource)
            sourceFiles.emplace(files);
        this->sourceFiles = sourceFiles ? &*sourceFiles : nullptr;
        std::optional<RunJournal> journal;
        if (operation != Operation::FindText && settings.saveInSource && settings.journal &&
            !options.dryRun)
            journal.emplace(settings.sourceDir, operation,
                            options.journalByCopy ? RunJournal::Keep::Copy
                                                  : RunJournal::Keep::LinkOrCopy);
        if (journal)
            journal->setTerms(RunTerms(operation, settings));
        this->journal = journal ? &*journal : nullptr;
        // Files are read and written through the folders held open, so a link planted in
        // the tree during the run leads nowhere outside it.
        FileTree source(settings.sourceDir);
        std::optional<FileTree> save;
        if (operation != Operation::FindText && !settings.saveInSource && !options.dryRun &&
            MakeFolderPath(FromNativeSeparators(settings.saveDir)))
            save.emplace(settings.saveDir);
        sourceTree = source.isOpen() ? &source : nullptr;
        saveTree = save && save->isOpen() ? &*save : nullptr;
        // Files are read and decided ahead on worker threads, which also write the new bytes
        // of a file changed in place beside it; everything the caller sees, and every
        // rename, happens here in scan order.
        const OpenWrites openWrites = operation != Operation::FindText && !options.dryRun
                                          ? OpenWritesAllowed()
                                          : OpenWrites();
        std::optional<WritesAhead> writesAhead;
        if (operation != Operation::FindText && settings.saveInSource && !options.dryRun &&
            sourceTree && openWrites.ahead > 0)
            writesAhead.emplace(*sourceTree, openWrites.ahead);
        this->writesAhead = writesAhead ? &*writesAhead : nullptr;
        DecisionPipeline decisions(
            static_cast<int>(textFiles.size()), [&](int job, const ReserveMemory &reserve) {
                const ScannedFile &file = files.files[textFiles[job]];
                const QString relativePath = files.relativePath(file);
                FileDecision decision = DecideTextFile(
                    task(files.path(file, relativePath), relativePath), rule, reserve);
                if (options.decided)
                    options.decided(relativePath, decision);
                if (writesAhead)
                    writesAhead->prepare(relativePath, decision);
                return decision;
            });
        // Written in groups, each flushed to the disk once before its renames. A stop met
        // while a group's files are put in place leaves the rest of that group unwritten.
        TextFileWriter writer(
            [this](const QString &nativePath, const FileOutcome &outcome) {
                return handled(nativePath, outcome);
            },
            [this] { droppedAfterStop(); });
        if (!openWrites.flushAside)
            writer.flushInTurn();
        if (!options.sync) {
            writer.skipFlushes();
            source.setFlushedInGroups(false);
            if (save)
                save->setFlushedInGroups(false);
        }
        this->writer = &writer;
        for (const UnlistedFolder &folder : files.unlisted)
            fail(NativeSeparators(folder.path),
                 {FailureKind::FolderUnreadable, folder.systemReason});
        for (const ScannedFile &file : files.files) {
            if (result.stopped || (options.stop && options.stop->load())) {
                result.stopped = true;
                break;
            }
            ++result.scanned;
            if (takes(file)) {
                if (options.reviewed && !options.reviewed->contains(files.relativePath(file)))
                    continue;
                finish(files, file, decisions.take());
            } else if (options.reviewed) {
                continue; // nothing outside the plan is touched
            } else if (operation != Operation::FindText && !options.dryRun) {
                RemoveStaleTemporary(files.path(file)); // left by a run killed mid-write
            }
        }
        // A reviewed file that is gone, or is no longer a file the masks take.
        if (options.reviewed && !result.stopped) {
            for (auto it = options.reviewed->begin(); it != options.reviewed->end(); ++it) {
                if (reviewedSeen.contains(it.key()))
                    continue;
                const bool gone = source.kind(it.key()) == FileTree::Kind::Missing;
                fail(NativeSeparators(JoinPath(files.absoluteTop, it.key())),
                     {gone ? FailureKind::FileGone : FailureKind::ChangedSinceReview, QString()});
            }
        }
        // What is pending when the run ends or is stopped is put in place, unless a stop
        // comes while it is.
        stoppedBefore = options.stop && options.stop->load();
        writer.flush();
        this->writer = nullptr;
        this->writesAhead = nullptr;
        if (journal) {
            result.journalNote = journal->finish();
            result.journalRunId = journal->runId();
        }
        result.seconds = QDateTime::currentSecsSinceEpoch() - start;
        result.statistics =
            StatisticsLine(operation, {result.scanned, result.txtFiles, result.changed,
                                       result.failed, result.seconds, result.stopped,
                                       result.alreadyInTarget, options.dryRun, result.readIn});
        if (result.stopped) {
            const QString note =
                StoppedReportLine(static_cast<int>(files.files.size()) - result.scanned);
            for (QStringList *list : {&foundList, &failedList}) {
                if (!list->isEmpty())
                    list->append(note);
            }
        }
        Notify(observer.showDisposingFile, result.statistics);
        Notify(observer.runFinished);
        if (!options.dryRun && options.writeReports) {
            writeReport(settings.reportUnreadablePath, failedList);
            writeReport(settings.reportMatchedPath, foundList);
            // Kept apart from the found list, which stays one path a line.
            if (operation == Operation::ReplacePairs)
                writeReport(JoinPath(settings.sourceDir, reportRuleHitsName),
                            RuleHitLines(settings.findLines, settings.replaceLines, result.hits));
        }
        return result;
    }

private:
    bool takes(const ScannedFile &file) const
    {
        return masks.takesFile(file.name) && !IsOwnFile(file);
    }

    std::vector<int> textFileIndexes(const FileList &files) const
    {
        std::vector<int> indexes;
        for (size_t i = 0; i < files.files.size(); ++i) {
            if (takes(files.files[i]) &&
                (!options.reviewed ||
                 options.reviewed->contains(files.relativePath(files.files[i]))))
                indexes.push_back(static_cast<int>(i));
        }
        return indexes;
    }

    FileTask task(const QString &sourcePath, const QString &relativePath) const
    {
        FileTask task;
        task.sourcePath = sourcePath;
        task.sourceTree = sourceTree;
        task.relativePath = relativePath;
        task.writes = operation != Operation::FindText;
        task.detectUtf16 = settings.detectUtf16;
        task.withBom = settings.withBom;
        task.journaled = journal != nullptr;
        task.keepsOriginal = options.keepOriginals || options.reviewed;
        // A pairs run always counts: its report says which rules did nothing.
        task.countsHits =
            options.keepOriginals || options.countHits || operation == Operation::ReplacePairs;
        // Pieces tell neither the encoding nor, for a search, the count of hits.
        task.readsWhole = static_cast<bool>(observer.fileFoundEncoding) ||
                          (task.countsHits && operation == Operation::FindText);
        return task;
    }

    void finish(const FileList &files, const ScannedFile &file, FileDecision decision)
    {
        const QString relativePath = files.relativePath(file);
        const QString sourcePath = files.path(file, relativePath);
        const QString nativePath = NativeSeparators(sourcePath);
        if (writesAhead)
            writesAhead->taken(decision);
        marks.push_back({result.scanned - 1, result.txtFiles});
        ++result.txtFiles;
        Notify(observer.showDisposingFile, nativePath);
        for (size_t i = 0; i < decision.hits.size(); ++i) {
            if (result.hits.size() <= i)
                result.hits.resize(i + 1, 0);
            result.hits[i] += decision.hits[i];
        }
        Notify(observer.fileDecided, relativePath, decision);
        if (!options.keepOriginals)
            decision.original = QByteArray();

        WriteTarget target;
        target.sourcePath = sourcePath;
        target.relativePath = relativePath;
        if (operation != Operation::FindText)
            target.targetPath = TargetPath(sourcePath, target.relativePath, settings.saveDir,
                                           settings.saveInSource);
        target.saveInSource = settings.saveInSource;
        target.dryRun = options.dryRun;
        target.sourceFiles = sourceFiles;
        target.journal = journal;
        target.tree = settings.saveInSource ? sourceTree : saveTree;
        writer->add(nativePath, std::move(decision), target);
    }

    // A file's outcome, once it is in place; false when a stop came meanwhile.
    bool handled(const QString &nativePath, const FileOutcome &outcome)
    {
        marks.pop_front();
        Notify(observer.fileHandled, outcome.bytes);
        const bool converts =
            operation == Operation::ConvertEncoding || operation == Operation::ConvertChinese;
        if (converts && outcome.kind != FileOutcome::Failed && outcome.encoding)
            ++result.readIn[QString::fromLatin1(outcome.encoding)];
        switch (outcome.kind) {
        case FileOutcome::Unchanged:
            if (operation == Operation::ConvertEncoding)
                ++result.alreadyInTarget;
            break;
        case FileOutcome::Changed:
            ++result.changed;
            foundList.append(nativePath);
            Notify(observer.fileFound, nativePath);
            Notify(observer.fileFoundEncoding, nativePath, QString::fromLatin1(outcome.encoding));
            break;
        case FileOutcome::Failed:
            fail(nativePath, outcome.failure);
            break;
        }
        return stoppedBefore || !options.stop || !options.stop->load();
    }

    // The files after a stop were not written: the run ends before the first of them.
    void droppedAfterStop()
    {
        result.stopped = true;
        if (!marks.empty()) {
            result.scanned = marks.front().first;
            result.txtFiles = marks.front().second;
        }
        marks.clear();
    }

    void fail(const QString &nativePath, const FileFailure &failure)
    {
        ++result.failed;
        failedList.append(ReportLineWithReason(nativePath, failure.describe()));
        Notify(observer.fileFailed, nativePath, failure);
    }

    void writeReport(const QString &path, const QStringList &entries)
    {
        if (entries.isEmpty())
            return;
        QString error;
        if (WriteReport(path, entries, &error))
            Notify(observer.openReport, path);
        else
            result.unwrittenReports.emplace_back(path, error);
    }

    const Operation operation;
    BatchSettings settings;
    const RunObserver &observer;
    const RunOptions &options;
    const FileMasks masks;
    RunResult result;
    const ScannedFileSet *sourceFiles = nullptr;
    RunJournal *journal = nullptr;
    FileTree *sourceTree = nullptr;
    FileTree *saveTree = nullptr;
    TextFileWriter *writer = nullptr;
    WritesAhead *writesAhead = nullptr;
    bool stoppedBefore = false; // a stop the last group is put in place despite
    // The counts before each file whose outcome is still held.
    std::deque<std::pair<int, int>> marks;
    QStringList failedList;
    QStringList foundList;
    QSet<QString> reviewedSeen; // the reviewed files found in the scan
};

} // namespace

RunResult RunBatch(Operation operation, const BatchSettings &settings, const RunObserver &observer,
                   const RunOptions &options)
{
    return BatchRunner(operation, settings, observer, options).run();
}
