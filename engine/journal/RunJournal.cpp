#include "engine/journal/RunJournal.h"

#include "engine/files/FileIo.h"
#include "engine/files/FileNames.h"
#include "engine/files/FileSystem.h"
#include "engine/files/Paths.h"
#include "platform/FileLinks.h"

#include <QDateTime>
#include <QDir>
#include <limits>

namespace {

platform::NativePath NativePath(const QString &path)
{
#ifdef Q_OS_WIN
    return QDir::toNativeSeparators(path).toStdWString();
#else
    return EncodeFileName(path).toStdString();
#endif
}

// A folder named by the start time, made here; a second run in the same second gets a
// number behind it.
bool MakeRunFolder(const QString &journal, qint64 startedMs, QString &id, QString *error)
{
    if (!MakeFolderPath(journal, error))
        return false;
    platform::HideFile(NativePath(journal));
    const QString stamp =
        QDateTime::fromMSecsSinceEpoch(startedMs).toString(QStringLiteral("yyyyMMdd-HHmmss"));
    for (int attempt = 1; attempt < 100; ++attempt) {
        id = attempt == 1 ? stamp : stamp + QStringLiteral("-%1").arg(attempt);
        if (QDir(journal).mkdir(id))
            return true;
        if (!QFileInfo::exists(JoinPath(journal, id)))
            break;
    }
    if (error)
        *error =
            QStringLiteral("cannot make a folder in %1").arg(QDir::toNativeSeparators(journal));
    return false;
}

bool CopyFile(const QString &from, const QString &to, QString *error)
{
    QByteArray bytes;
    if (!ReadFileBytes(from, bytes, error))
        return false;
    QFile copy(to);
    bool copied = copy.open(QIODevice::WriteOnly | QIODevice::NewOnly) &&
                  copy.write(bytes) == bytes.size() && copy.flush();
    copy.close();
    copied = copied && copy.error() == QFileDevice::NoError;
    if (!copied && error)
        *error = copy.errorString();
    // A part of a copy is no original; its number is not taken again either.
    if (!copied)
        RemoveFile(to);
    return copied;
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
    case Operation::InsertText:
        break;
    }
    return QStringLiteral("insert");
}

RunJournal::RunJournal(const QString &sourceDir, Operation operation, Keep keep,
                       const JournalLimits &limits)
    : sourceDir(sourceDir), operation(OperationName(operation)), method(keep), limits(limits),
      startedMs(QDateTime::currentMSecsSinceEpoch())
{}

bool RunJournal::open(QString *error)
{
    // A journal that cannot be made now will not be made for the next file either.
    if (!entries.isOpen() && openError.isEmpty() && !create(&openError) && openError.isEmpty())
        openError = QStringLiteral("cannot make the journal");
    if (entries.isOpen())
        return true;
    if (error)
        *error = openError;
    return false;
}

bool RunJournal::create(QString *error)
{
    const QString journal = JournalFolder(sourceDir);
    if (!MakeRunFolder(journal, startedMs, id, error))
        return false;
    runFolder = JoinPath(journal, id);
    if (!MakeFolderPath(JoinPath(runFolder, QStringLiteral("originals")), error))
        return false;
    entries.setFileName(JoinPath(runFolder, QStringLiteral("entries.tsv")));
    const QByteArray header = JournalHeader(operation, startedMs);
    if (entries.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered) &&
        entries.write(header) == header.size()) {
        // The run beyond the count goes while this run works: deleting many files can take
        // as long as the run itself where the disk discards freed blocks.
        dropping = std::thread(
            [this] { droppedEarly = dropOldRuns(0, std::numeric_limits<qint64>::max()); });
        return true;
    }
    if (error)
        *error = entries.errorString();
    entries.close();
    return false;
}

bool RunJournal::keep(const QString &path, const QString &keptPath, QString *error) const
{
    if (method == Keep::LinkOrCopy && platform::LinkFile(NativePath(path), NativePath(keptPath)))
        return true;
    return CopyFile(path, keptPath, error);
}

bool RunJournal::keepOriginal(const QString &path, const QString &relativePath,
                              const ReplacedContent &content, QString *error)
{
    if (!open(error))
        return false;
    platform::FileStamp stamp;
    if (!platform::ReadFileStamp(NativePath(path), stamp)) {
        if (error)
            *error = QStringLiteral("cannot read the file's size and time");
        return false;
    }
    JournalEntry entry;
    // Numbers are never reused: a failed keep may have left something under its number.
    entry.number = ++lastNumber;
    entry.originalSize = stamp.size;
    entry.originalModifiedMs = stamp.modifiedMs;
    entry.originalHash = content.originalHash;
    entry.writtenSize = content.writtenSize;
    entry.writtenHash = content.writtenHash;
    entry.relativePath = relativePath;
    const QString keptPath =
        JoinPath(JoinPath(runFolder, QStringLiteral("originals")), QString::number(entry.number));
    if (!keep(path, keptPath, error))
        return false;
    // Unbuffered: the line is with the system when write returns, so a kill cannot lose it.
    if (!writeLine(JournalEntryLine(entry), error)) {
        RemoveFile(keptPath);
        return false;
    }
    ++files;
    originalBytes += stamp.size;
    return true;
}

bool RunJournal::writeLine(const QByteArray &line, QString *error)
{
    // After a line cut short (a full disk), the next starts on a line of its own, so the cut
    // one cannot take it along; the checksum tells the cut one.
    const QByteArray bytes = torn ? '\n' + line : line;
    const qint64 written = entries.write(bytes);
    torn = written != bytes.size();
    if (torn && error)
        *error = entries.errorString();
    return !torn;
}

RunJournal::~RunJournal()
{
    if (dropping.joinable())
        dropping.join();
}

QString RunJournal::finish()
{
    if (!entries.isOpen())
        return QString();
    writeLine(JournalFinishedLine(files, originalBytes), nullptr);
    entries.close();
    dropping.join();
    if (files == 0) {
        // Nothing was kept after all: a run with nothing to undo would only hide the one before.
        JournalRun empty;
        if (ReadJournalRun(runFolder, empty, false))
            DropJournalRun(empty);
        id.clear();
    }
    // Now that this run's size is known, the size limit may drop more.
    const QStringList dropped = droppedEarly + dropOldRuns(originalBytes, limits.bytes);
    if (dropped.isEmpty())
        return QString();
    return QStringLiteral("撤销记录最多保留%1次修改、共%2 MB,已删除较早的修改记录:%3")
        .arg(limits.runs)
        .arg(limits.bytes >> 20)
        .arg(dropped.join(QStringLiteral(", ")));
}

QStringList RunJournal::dropOldRuns(qint64 ownBytes, qint64 bytesLimit) const
{
    RemoveDroppedRuns(sourceDir);
    std::vector<JournalRun> runs = ReadJournal(sourceDir);
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
        if (full && DropJournalRun(*run))
            dropped << JournalTimeText(run->startedMs);
    }
    return dropped;
}
