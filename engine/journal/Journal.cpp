#include "engine/journal/Journal.h"

#include "engine/files/FileIo.h"
#include "engine/files/FileNames.h"
#include "engine/files/FileSystem.h"
#include "engine/files/FileTree.h"
#include "engine/files/Paths.h"
#include "engine/journal/ContentHash.h"

#include <QDateTime>
#include <QList>
#include <QOperatingSystemVersion>
#include <algorithm>
#include <optional>

const QString journalFolderName = QStringLiteral(".parafold-journal");
const QString journalOriginalsName = QStringLiteral("originals");
const QString journalEntriesName = QStringLiteral("entries.tsv");

namespace {

const QString &entriesName = journalEntriesName;
const QString &originalsName = journalOriginalsName;
const QString undoneName = QStringLiteral("undone");
const QString restoredName = QStringLiteral("restored");
const QString writtenName = QStringLiteral("written");
// Version 1 wrote bare lines; version 2 ends each line after the first with its checksum and
// adds the original's mode to entries.
const QByteArray magicBare = QByteArrayLiteral("parafold-journal\t1\n");
const QByteArray magicFramed = QByteArrayLiteral("parafold-journal\t2\n");

bool KnownVersion(const QByteArray &content)
{
    return content.startsWith(magicBare) || content.startsWith(magicFramed);
}
const QString droppedPrefix = QStringLiteral(".dropped-");

// Windows names files in UTF-16, kept as UTF-8 here.
bool NamesAreUtf16()
{
    return QOperatingSystemVersion::currentType() == QOperatingSystemVersion::Windows;
}

// A path as the file system's bytes, which keep a name that is no text in the locale.
QByteArray PathBytes(const QString &path)
{
    return NamesAreUtf16() ? path.toUtf8() : EncodeFileName(path);
}

QString PathFromBytes(const QByteArray &bytes)
{
    return NamesAreUtf16() ? QString::fromUtf8(bytes) : DecodeFileName(bytes);
}

// File names may hold tabs and line breaks; the escape keeps one entry on one line.
QByteArray EscapePath(const QString &path)
{
    QByteArray escaped;
    for (const char c : PathBytes(path)) {
        if (c == '%' || c == '\t' || c == '\n' || c == '\r')
            escaped += '%' + QByteArray::number(static_cast<uchar>(c), 16).rightJustified(2, '0');
        else
            escaped += c;
    }
    return escaped;
}

QString UnescapePath(const QByteArray &escaped)
{
    return PathFromBytes(QByteArray::fromPercentEncoding(escaped));
}

QByteArray Hex(quint64 value)
{
    return QByteArray::number(value, 16).rightJustified(16, '0');
}

QByteArray Checksum(const QByteArray &payload)
{
    return QByteArray::number(ContentHash(payload) & 0xffffffffU, 16).rightJustified(8, '0');
}

QByteArray Framed(const QByteArray &payload)
{
    return payload + '\t' + Checksum(payload) + '\n';
}

// A framed line without its checksum; false when the checksum does not match, as for a line
// cut short and continued by the next one.
bool Unframe(QByteArray &line)
{
    const int tab = line.lastIndexOf('\t');
    if (tab < 0 || line.size() - tab - 1 != 8 || line.mid(tab + 1) != Checksum(line.left(tab)))
        return false;
    line.truncate(tab);
    return true;
}

bool ParseEntry(const QList<QByteArray> &fields, JournalEntry &entry)
{
    if (fields.size() != 8 && fields.size() != 9)
        return false;
    if (fields.size() == 9) {
        bool modeOk = false;
        entry.originalMode = fields[8].toInt(&modeOk, 8);
        if (!modeOk || entry.originalMode < 0 || entry.originalMode > 07777)
            return false;
    }
    bool ok[6] = {};
    entry.number = fields[1].toInt(&ok[0]);
    entry.originalSize = fields[2].toLongLong(&ok[1]);
    entry.originalModifiedMs = fields[3].toLongLong(&ok[2]);
    entry.originalHash = fields[4].toULongLong(&ok[3], 16);
    entry.writtenSize = fields[5].toLongLong(&ok[4]);
    entry.writtenHash = fields[6].toULongLong(&ok[5], 16);
    entry.relativePath = UnescapePath(fields[7]);
    return std::all_of(std::begin(ok), std::end(ok), [](bool b) { return b; }) &&
           !entry.relativePath.isEmpty();
}

// Applies one complete line; a line cut short by a crash was dropped before, and in a framed
// journal a line whose checksum fails is passed over.
void ApplyLine(QByteArray line, bool framed, JournalRun &run, bool withEntries)
{
    if (framed && !Unframe(line))
        return;
    const QList<QByteArray> fields = line.split('\t');
    const QByteArray &kind = fields.first();
    if (kind == "f") {
        JournalEntry entry;
        if (!ParseEntry(fields, entry))
            return;
        ++run.files;
        run.originalBytes += entry.originalSize;
        if (withEntries)
            run.entries.push_back(std::move(entry));
    } else if (kind == "dropped" && fields.size() == 3) {
        // An entry whose file was not replaced after all.
        const int number = fields[1].toInt();
        --run.files;
        run.originalBytes -= fields[2].toLongLong();
        if (withEntries)
            run.entries.erase(std::remove_if(run.entries.begin(), run.entries.end(),
                                             [number](const JournalEntry &entry) {
                                                 return entry.number == number;
                                             }),
                              run.entries.end());
    } else if (kind == "operation" && fields.size() == 2) {
        run.operation = QString::fromUtf8(fields[1]);
    } else if (kind == "terms" && fields.size() == 2) {
        run.terms = QString::fromUtf8(fields[1]);
    } else if (kind == "started" && fields.size() == 2) {
        run.startedMs = fields[1].toLongLong();
    } else if (kind == "originals" && fields.size() == 2) {
        bool ok = false;
        const int perFolder = fields[1].toInt(&ok);
        run.originalsPerFolder = ok && perFolder > 0 ? perFolder : 0;
    } else if (kind == "finished" && fields.size() == 3) {
        run.finished = true;
    }
}

// The counts of a finished run's last line, which spares reading all its entries.
bool ApplyFinishedLine(const QByteArray &content, bool framed, JournalRun &run)
{
    if (content.size() < 2)
        return false;
    const int lastLine = content.lastIndexOf('\n', content.size() - 2) + 1;
    QByteArray line = content.mid(lastLine, content.size() - 1 - lastLine);
    if (framed && !Unframe(line))
        return false;
    const QList<QByteArray> fields = line.split('\t');
    if (fields.size() != 3 || fields[0] != "finished")
        return false;
    bool filesOk = false;
    bool bytesOk = false;
    run.files = fields[1].toInt(&filesOk);
    run.originalBytes = fields[2].toLongLong(&bytesOk);
    run.finished = filesOk && bytesOk;
    return run.finished;
}

} // namespace

namespace {

// A relative path below another; the empty path is the top itself.
QString Below(const QString &folder, const QString &name)
{
    return folder.isEmpty() ? name : folder + QLatin1Char('/') + name;
}

} // namespace

QString JournalOriginalFolder(int number, int perFolder)
{
    return perFolder > 0 ? Below(originalsName, QString::number(number / perFolder))
                         : originalsName;
}

QString JournalOriginalRelative(int number, int perFolder)
{
    return Below(JournalOriginalFolder(number, perFolder), QString::number(number));
}

QString JournalRun::originalPath(const JournalEntry &entry) const
{
    return JoinPath(folder, JournalOriginalRelative(entry.number, originalsPerFolder));
}

QString JournalRun::originalRelative(const JournalEntry &entry) const
{
    return originalRelative(entry.number);
}

QString JournalRun::originalRelative(int number) const
{
    return Below(relativeFolder, JournalOriginalRelative(number, originalsPerFolder));
}

QString JournalRun::writtenRelative(int number) const
{
    return Below(
        Below(relativeFolder, writtenName),
        Below(QString::number(number / journalOriginalsPerFolder), QString::number(number)));
}

QString JournalFolder(const QString &sourceDir)
{
    return JoinPath(sourceDir, journalFolderName);
}

QString JournalRelative(const QString &name)
{
    return Below(journalFolderName, name);
}

namespace {

bool ReadSmallFile(const FileTree &tree, const QString &relative, QByteArray &content)
{
    return tree.readFile(relative, content, nullptr, nullptr) == FileIoResult::Done;
}

void ReadRestored(const FileTree &tree, const QString &runRelative, JournalRun &run)
{
    QByteArray content;
    if (!ReadSmallFile(tree, Below(runRelative, restoredName), content))
        return;
    // Written whole by a rename, but read as untrusted all the same.
    content.truncate(content.lastIndexOf('\n') + 1);
    for (const QByteArray &line : content.split('\n')) {
        bool ok = false;
        const int number = line.toInt(&ok);
        if (ok)
            run.restored.insert(number);
    }
}

// The run whose folder is runRelative in tree.
bool ReadRun(const FileTree &tree, const QString &runRelative, JournalRun &run, bool withEntries)
{
    const QString id = run.id;
    const QString relativeFolder = run.relativeFolder;
    const QString folder = run.folder;
    run = JournalRun();
    run.id = id;
    run.relativeFolder = relativeFolder;
    run.folder = folder;
    // A link planted as the mark counts as none, and is never followed.
    run.undone = tree.kind(Below(runRelative, undoneName)) == FileTree::Kind::File;
    QByteArray content;
    if (!ReadSmallFile(tree, Below(runRelative, entriesName), content) || !KnownVersion(content))
        return false;
    // Only whole lines count: a kill cannot cut one short, but a power cut can.
    content.truncate(content.lastIndexOf('\n') + 1);
    const bool framed = content.startsWith(magicFramed);
    const bool summed = !withEntries && ApplyFinishedLine(content, framed, run);
    for (int start = 0; start < content.size();) {
        const int end = content.indexOf('\n', start);
        const QByteArray line = content.mid(start, end - start);
        start = end + 1;
        if (summed && line.startsWith("f\t"))
            break; // the header is read
        ApplyLine(line, framed, run, withEntries);
    }
    if (withEntries)
        ReadRestored(tree, runRelative, run);
    return true;
}

} // namespace

bool ReadJournalRun(const FileTree &source, const QString &id, JournalRun &run, bool withEntries)
{
    run.id = id;
    run.relativeFolder = JournalRelative(id);
    run.folder = source.pathOf(run.relativeFolder);
    return FileTree::IsValidRelative(id) && !id.contains(QLatin1Char('/')) &&
           source.kind(run.relativeFolder) == FileTree::Kind::Folder &&
           ReadRun(source, run.relativeFolder, run, withEntries);
}

bool ReadJournalRun(const QString &runFolder, JournalRun &run, bool withEntries)
{
    const FileTree tree(runFolder);
    run.folder = tree.topPath();
    while (run.folder.endsWith(QLatin1Char('/')))
        run.folder.chop(1);
    run.id = run.folder.mid(run.folder.lastIndexOf(QLatin1Char('/')) + 1);
    run.relativeFolder = JournalRelative(run.id);
    return tree.isOpen() && ReadRun(tree, QString(), run, withEntries);
}

std::vector<JournalRun> ReadJournal(const QString &sourceDir, bool withEntries)
{
    return ReadJournal(FileTree(sourceDir), withEntries);
}

std::vector<JournalRun> ReadJournal(const FileTree &source, bool withEntries)
{
    std::vector<JournalRun> runs;
    // Links are listed as links, and a run folder that is one is never read.
    for (const FolderEntry &entry : source.list(journalFolderName, nullptr)) {
        if (entry.kind != FolderEntry::Folder || entry.name.startsWith(droppedPrefix))
            continue;
        JournalRun run;
        if (ReadJournalRun(source, entry.name, run, withEntries))
            runs.push_back(std::move(run));
    }
    std::sort(runs.begin(), runs.end(), [](const JournalRun &a, const JournalRun &b) {
        return a.startedMs != b.startedMs ? a.startedMs < b.startedMs : a.id < b.id;
    });
    return runs;
}

QByteArray JournalHeader(const QString &operation, qint64 startedMs, const QString &terms,
                         int originalsPerFolder)
{
    // The terms are one line without tabs (RunTerms), or they would split the entry.
    QByteArray header = magicFramed + Framed("operation\t" + operation.toUtf8());
    if (!terms.isEmpty())
        header += Framed("terms\t" +
                         terms.toUtf8().replace('\t', ' ').replace('\n', ' ').replace('\r', ' '));
    header += Framed("started\t" + QByteArray::number(startedMs));
    if (originalsPerFolder > 0)
        header += Framed("originals\t" + QByteArray::number(originalsPerFolder));
    return header;
}

QByteArray JournalEntryLine(const JournalEntry &entry)
{
    QByteArray line = "f\t";
    line += QByteArray::number(entry.number) + '\t';
    line += QByteArray::number(entry.originalSize) + '\t';
    line += QByteArray::number(entry.originalModifiedMs) + '\t';
    line += Hex(entry.originalHash) + '\t';
    line += QByteArray::number(entry.writtenSize) + '\t';
    line += Hex(entry.writtenHash) + '\t';
    line += EscapePath(entry.relativePath);
    if (entry.originalMode >= 0)
        line += '\t' + QByteArray::number(entry.originalMode, 8);
    return Framed(line);
}

QByteArray JournalDroppedLine(int number, qint64 originalSize)
{
    return Framed("dropped\t" + QByteArray::number(number) + '\t' +
                  QByteArray::number(originalSize));
}

QByteArray JournalFinishedLine(int files, qint64 originalBytes)
{
    return Framed("finished\t" + QByteArray::number(files) + '\t' +
                  QByteArray::number(originalBytes));
}

namespace {

// Writes a small file of the run's folder whole: made new, or replaced by a rename. A link
// planted in its place goes as a link, never written through.
bool WriteRunFile(FileTree &source, const JournalRun &run, const QString &name,
                  const QByteArray &bytes)
{
    const QString relative = Below(run.relativeFolder, name);
    switch (source.kind(relative)) {
    case FileTree::Kind::Missing:
        break;
    case FileTree::Kind::File:
        return source.replaceFile(relative, bytes, nullptr);
    default:
        if (!source.removeFile(relative, nullptr))
            return false;
    }
    return source.writeNewFile(relative, bytes, FileTree::Access::Private, nullptr);
}

} // namespace

bool DropJournalRun(FileTree &source, const JournalRun &run)
{
    const QString dropped = JournalRelative(droppedPrefix + run.id);
    if (!source.rename(run.relativeFolder, dropped, nullptr))
        return false;
    source.removeTree(dropped, nullptr);
    return true;
}

namespace {

// The temporary files that writers killed mid-write left in a folder of the journal, which
// no scan enters to remove them as it does elsewhere.
void RemoveStaleTemporaries(const FileTree &source, const QString &folder)
{
    for (const FolderEntry &entry : source.list(folder, nullptr)) {
        if (entry.kind == FolderEntry::File && entry.name.startsWith(QLatin1String(".parafold-")))
            RemoveStaleTemporary(source.pathOf(Below(folder, entry.name)));
    }
}

} // namespace

void RemoveDroppedRuns(FileTree &source)
{
    for (const FolderEntry &entry : source.list(journalFolderName, nullptr)) {
        const QString folder = JournalRelative(entry.name);
        if (entry.name.startsWith(droppedPrefix)) {
            source.removeTree(folder, nullptr);
        } else if (entry.kind == FolderEntry::Folder) {
            RemoveStaleTemporaries(source, folder);
            const QString originals = Below(folder, originalsName);
            RemoveStaleTemporaries(source, originals);
            for (const FolderEntry &inOriginals : source.list(originals, nullptr)) {
                if (inOriginals.kind == FolderEntry::Folder)
                    RemoveStaleTemporaries(source, Below(originals, inOriginals.name));
            }
        }
    }
}

namespace {

bool SameFile(const FileIdentity &a, const FileIdentity &b)
{
    return a.device == b.device && a.inode == b.inode;
}

// The name as a number, written as this program writes it, or nothing.
std::optional<int> NumberNamed(const QString &name)
{
    bool ok = false;
    const int number = name.toInt(&ok);
    if (!ok || QString::number(number) != name)
        return std::nullopt;
    return number;
}

// The numbers of the originals a run holds, each where that run keeps it.
QSet<int> Numbered(const FileTree &source, const JournalRun &run)
{
    const QString originals = Below(run.relativeFolder, originalsName);
    QSet<int> numbers;
    const auto addFiles = [&](const QString &folder, std::optional<int> group) {
        for (const FolderEntry &entry : source.list(folder, nullptr)) {
            const std::optional<int> number = NumberNamed(entry.name);
            if (number && entry.kind == FolderEntry::File &&
                (!group || *number / run.originalsPerFolder == *group))
                numbers.insert(*number);
        }
    };
    if (run.originalsPerFolder <= 0) {
        addFiles(originals, std::nullopt);
        return numbers;
    }
    for (const FolderEntry &entry : source.list(originals, nullptr)) {
        const std::optional<int> group = NumberNamed(entry.name);
        if (group && entry.kind == FolderEntry::Folder)
            addFiles(Below(originals, entry.name), group);
    }
    return numbers;
}

// The kept original of an entry whose file is still the original itself goes.
void ReleaseIfUnreplaced(FileTree &source, const JournalRun &run, const JournalEntry &entry)
{
    if (!IsValidEntryPath(entry.relativePath))
        return;
    QByteArray bytes;
    FileIdentity file;
    FileIdentity kept;
    const QString keptPath = run.originalRelative(entry);
    if (source.readFile(entry.relativePath, bytes, &file, nullptr) == FileIoResult::Done &&
        source.readFile(keptPath, bytes, &kept, nullptr) == FileIoResult::Done &&
        SameFile(file, kept))
        source.removeFile(keptPath, nullptr);
}

// What an undo kept of a file that it never put back is the file itself: its second name
// goes. Hard links share their stamp, so the stamps tell without reading the files; were two
// files ever alike in them, what goes is only a kept copy of what the run wrote.
void ReleaseUnrestoredWritten(FileTree &source, const JournalRun &run)
{
    const QString written = Below(run.relativeFolder, writtenName);
    if (run.undone || source.kind(written) != FileTree::Kind::Folder)
        return;
    JournalRun withEntries;
    if (!ReadJournalRun(source, run.id, withEntries, true))
        return;
    for (const JournalEntry &entry : withEntries.entries) {
        FileStamp file;
        FileStamp kept;
        const QString keptPath = withEntries.writtenRelative(entry.number);
        if (IsValidEntryPath(entry.relativePath) && source.readStamp(entry.relativePath, file) &&
            source.readStamp(keptPath, kept) && file.size == kept.size &&
            file.modifiedNs == kept.modifiedNs && file.mode == kept.mode)
            source.removeFile(keptPath, nullptr);
    }
}

} // namespace

void ReleaseInterruptedOriginals(FileTree &source)
{
    for (const FolderEntry &folder : source.list(journalFolderName, nullptr)) {
        // A finished run is told from its list's last line; only an unfinished one is read whole.
        JournalRun run;
        if (folder.kind != FolderEntry::Folder || folder.name.startsWith(droppedPrefix) ||
            !ReadJournalRun(source, folder.name, run, false))
            continue;
        ReleaseUnrestoredWritten(source, run);
        if (run.finished || !ReadJournalRun(source, folder.name, run, true))
            continue;
        QSet<int> entries;
        for (const JournalEntry &entry : run.entries)
            entries.insert(entry.number);
        // An original without its entry was kept for a file that was never replaced.
        for (const int number : Numbered(source, run)) {
            if (!entries.contains(number))
                source.removeFile(run.originalRelative(number), nullptr);
        }
        // Only the last group's entries can have been cut off before their files were
        // replaced.
        const size_t first = run.entries.size() > size_t(journalKeptAhead)
                                 ? run.entries.size() - size_t(journalKeptAhead)
                                 : 0;
        for (size_t at = first; at < run.entries.size(); ++at)
            ReleaseIfUnreplaced(source, run, run.entries[at]);
    }
}

bool MarkJournalRunUndone(FileTree &source, const JournalRun &run)
{
    const QByteArray when = QDateTime::currentDateTime().toString(Qt::ISODate).toUtf8() + '\n';
    return WriteRunFile(source, run, undoneName, when);
}

bool RecordRestoredEntries(FileTree &source, const JournalRun &run, const QSet<int> &restored)
{
    QList<int> numbers = restored.values();
    std::sort(numbers.begin(), numbers.end());
    QByteArray list;
    for (const int number : numbers)
        list += QByteArray::number(number) + '\n';
    return WriteRunFile(source, run, restoredName, list);
}

bool IsValidEntryPath(const QString &relativePath)
{
    return !relativePath.isEmpty() && FileTree::IsValidRelative(relativePath);
}

QString JournalTimeText(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}
