#include "engine/journal/RunJournal.h"

#include "engine/files/FileNames.h"
#include "platform/FileLinks.h"

#include <QCoreApplication>
#include <QDateTime>
#include <limits>

namespace {

// A folder named by the start time, made here; a second run in the same second gets a
// number behind it.
bool MakeRunFolder(FileTree &source, qint64 startedMs, QString &id, QString *error)
{
    if (!source.makeFolder(journalFolderName, FileTree::Access::Private, error))
        return false;
    platform::HideFile(ToNativePath(source.pathOf(journalFolderName)));
    const QString stamp =
        QDateTime::fromMSecsSinceEpoch(startedMs).toString(QStringLiteral("yyyyMMdd-HHmmss"));
    for (int attempt = 1; attempt < 100; ++attempt) {
        id = attempt == 1 ? stamp : stamp + QStringLiteral("-%1").arg(attempt);
        const QString folder = JournalRelative(id);
        if (source.kind(folder) != FileTree::Kind::Missing)
            continue;
        return source.makeFolder(folder, FileTree::Access::Private, error) &&
               source.makeFolder(folder + QLatin1Char('/') + journalOriginalsName,
                                 FileTree::Access::Private, error);
    }
    if (error)
        *error = QCoreApplication::translate("RunJournal", "cannot make a folder in %1")
                     .arg(source.pathOf(journalFolderName));
    return false;
}

} // namespace

QString OperationName(Operation operation)
{
    switch (operation) {
    case Operation::ReplaceText:
        return QStringLiteral("replace");
    case Operation::ReplacePairs:
        return QStringLiteral("replace-pairs");
    case Operation::FindText:
        return QStringLiteral("find");
    case Operation::ConvertEncoding:
        return QStringLiteral("convert");
    case Operation::ConvertChinese:
        return QStringLiteral("chinese");
    case Operation::InsertText:
        break;
    }
    return QStringLiteral("insert");
}

RunJournal::RunJournal(const QString &sourceDir, Operation operation, Keep keep,
                       const JournalLimits &limits)
    : source(sourceDir), droppingTree(sourceDir), operation(OperationName(operation)), method(keep),
      limits(limits), startedMs(QDateTime::currentMSecsSinceEpoch())
{
    ReleaseInterruptedOriginals(source);
}

QString RunJournal::inRun(const QString &name) const
{
    return JournalRelative(id) + QLatin1Char('/') + name;
}

bool RunJournal::ensureOpen(QString *error)
{
    // A journal that cannot be made now will not be made for the next file either.
    if (!opened && openError.isEmpty() && !create(&openError) && openError.isEmpty())
        openError = QCoreApplication::translate("RunJournal", "cannot make the journal");
    if (opened)
        return true;
    if (error)
        *error = openError;
    return false;
}

bool RunJournal::create(QString *error)
{
    if (!source.isOpen()) {
        if (error)
            *error = source.error();
        return false;
    }
    if (!MakeRunFolder(source, startedMs, id, error))
        return false;
    if (!source.createAppendedFile(inRun(journalEntriesName), FileTree::Access::Private, entries,
                                   error) ||
        !entries.append(JournalHeader(operation, startedMs, terms, journalOriginalsPerFolder),
                        error))
        return false;
    opened = true;
    // The run beyond the count goes while this run works: deleting many files can take
    // as long as the run itself where the disk discards freed blocks.
    dropping = std::thread([this] {
        droppedEarly = dropOldRuns(droppingTree, 0, std::numeric_limits<qint64>::max());
    });
    return true;
}

bool RunJournal::keep(const QString &relativePath, const QString &keptRelative, QString *error)
{
    if (method == Keep::LinkOrCopy && source.linkFile(relativePath, keptRelative, nullptr))
        return true;
    // A copy keeps its original's mode; the journal's private folder keeps others out.
    return source.copyFile(relativePath, keptRelative, error, !FileTree::flushCoversFiles());
}

bool RunJournal::keepOriginal(const QString &, const QString &relativePath,
                              const ReplacedContent &content, QString *error, int *number)
{
    if (!ensureOpen(error))
        return false;
    FileStamp stamp;
    if (!source.readStamp(relativePath, stamp)) {
        if (error)
            *error =
                QCoreApplication::translate("RunJournal", "cannot read the file's size and time");
        return false;
    }
    JournalEntry entry;
    // Numbers are never reused: a failed keep may have left something under its number.
    entry.number = ++lastNumber;
    entry.originalSize = stamp.size;
    entry.originalModifiedMs = stamp.modifiedNs / 1000000;
    entry.originalMode = int(stamp.mode & 07777);
    entry.originalHash = content.originalHash;
    entry.writtenSize = content.writtenSize;
    entry.writtenHash = content.writtenHash;
    entry.relativePath = relativePath;
    const QString keptRelative = keptPath(entry.number);
    if (!makeOriginalsFolder(entry.number, error) || !keep(relativePath, keptRelative, error))
        return false;
    if (!appendLine(JournalEntryLine(entry), error, !FileTree::flushCoversFiles())) {
        source.removeFile(keptRelative, nullptr);
        return false;
    }
    ++files;
    originalBytes += stamp.size;
    keptSizes[entry.number] = stamp.size;
    if (keptSizes.size() > size_t(2 * journalKeptAhead))
        keptSizes.erase(keptSizes.begin());
    if (number)
        *number = entry.number;
    return true;
}

// Each line carries its own check, so one cut short by a full disk is told on reading; the
// next line starts after a line break of its own, so it never joins the cut one. Where one
// flush cannot take every file of a group to the disk, a line is flushed by itself.
bool RunJournal::appendLine(const QByteArray &line, QString *error, bool durable)
{
    if (cutLine && !entries.append(QByteArrayLiteral("\n"), error))
        return false;
    cutLine = !entries.append(line, error);
    return !cutLine && (!durable || entries.flush(error));
}

void RunJournal::dropEntry(int number)
{
    const auto found = keptSizes.find(number);
    if (found == keptSizes.end())
        return;
    // The entry first: an original without its entry is dropped by the next run.
    if (appendLine(JournalDroppedLine(number, found->second), nullptr,
                   !FileTree::flushCoversFiles())) {
        --files;
        originalBytes -= found->second;
        source.removeFile(keptPath(number), nullptr);
    }
    keptSizes.erase(found);
}

QString RunJournal::keptPath(int number) const
{
    return inRun(JournalOriginalRelative(number, journalOriginalsPerFolder));
}

bool RunJournal::makeOriginalsFolder(int number, QString *error)
{
    const int folder = number / journalOriginalsPerFolder;
    if (folder == madeFolder)
        return true;
    if (!source.makeFolder(inRun(JournalOriginalFolder(number, journalOriginalsPerFolder)),
                           FileTree::Access::Private, error))
        return false;
    madeFolder = folder;
    return true;
}

RunJournal::~RunJournal()
{
    if (dropping.joinable())
        dropping.join();
}

QString RunJournal::finish()
{
    if (!opened)
        return QString();
    opened = false;
    dropping.join();
    appendLine(JournalFinishedLine(files, originalBytes), nullptr, true);
    entries = AppendedFile();
    if (files == 0) {
        // Nothing was kept after all: a run with nothing to undo would only hide the one before.
        JournalRun empty;
        if (ReadJournalRun(source, id, empty, false))
            DropJournalRun(source, empty);
        id.clear();
    }
    // Now that this run's size is known, the size limit may drop more.
    const QStringList dropped = droppedEarly + dropOldRuns(source, originalBytes, limits.bytes);
    if (dropped.isEmpty())
        return QString();
    return QCoreApplication::translate(
               "RunJournal",
               "The undo journal keeps at most %1 runs within %2 MB; dropped the earlier runs: %3")
        .arg(limits.runs)
        .arg(limits.bytes >> 20)
        .arg(dropped.join(QStringLiteral(", ")));
}

QStringList RunJournal::dropOldRuns(FileTree &tree, qint64 ownBytes, qint64 bytesLimit) const
{
    RemoveDroppedRuns(tree);
    std::vector<JournalRun> runs = ReadJournal(tree);
    // This run is kept whatever its size: it is the one most likely to be undone.
    qint64 keptBytes = ownBytes;
    int keptRuns = 1;
    QStringList dropped;
    // Runs are kept newest first, so the journal can always undo the last runs in turn.
    bool full = false;
    for (auto run = runs.rbegin(); run != runs.rend(); ++run) {
        if (run->id == id)
            continue;
        keptBytes += run->originalBytes;
        ++keptRuns;
        full = full || keptRuns > limits.runs || keptBytes > bytesLimit;
        if (full && DropJournalRun(tree, *run))
            dropped << JournalTimeText(run->startedMs);
    }
    return dropped;
}
