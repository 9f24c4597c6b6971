#include "engine/journal/Journal.h"

#include "engine/files/FileIo.h"
#include "engine/files/FileNames.h"
#include "engine/files/FileSystem.h"
#include "engine/files/Paths.h"
#include "engine/journal/ContentHash.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QList>
#include <QOperatingSystemVersion>
#include <algorithm>

const QString journalFolderName = QStringLiteral(".parafold-journal");

namespace {

const QString entriesName = QStringLiteral("entries.tsv");
const QString originalsName = QStringLiteral("originals");
const QString undoneName = QStringLiteral("undone");
const QString restoredName = QStringLiteral("restored");
// Version 1 wrote bare lines; version 2 ends each line after the first with its checksum and
// adds the original's mode to entries.
const QByteArray magicBare = QByteArrayLiteral("parafold-journal\t1\n");
const QByteArray magicFramed = QByteArrayLiteral("parafold-journal\t2\n");

bool KnownVersion(const QByteArray &content)
{
    return content.startsWith(magicBare) || content.startsWith(magicFramed);
}
const QString droppedPrefix = QStringLiteral(".dropped-");

// A path as the file system's bytes, which keep a name that is no text in the locale; on
// Windows, where names are UTF-16, as UTF-8.
QByteArray PathBytes(const QString &path)
{
#ifdef Q_OS_WIN
    return path.toUtf8();
#else
    return EncodeFileName(path);
#endif
}

QString PathFromBytes(const QByteArray &bytes)
{
#ifdef Q_OS_WIN
    return QString::fromUtf8(bytes);
#else
    return DecodeFileName(bytes);
#endif
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
    } else if (kind == "operation" && fields.size() == 2) {
        run.operation = QString::fromUtf8(fields[1]);
    } else if (kind == "started" && fields.size() == 2) {
        run.startedMs = fields[1].toLongLong();
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

QString JournalRun::originalPath(const JournalEntry &entry) const
{
    return JoinPath(JoinPath(folder, originalsName), QString::number(entry.number));
}

QString JournalFolder(const QString &sourceDir)
{
    return JoinPath(QDir::fromNativeSeparators(sourceDir), journalFolderName);
}

namespace {

// A finished run's header and last line, read without its entries: retention reads every run
// at the start of each run, and a run over many files has a long list.
bool ReadSummary(const QString &entriesPath, JournalRun &run)
{
    constexpr qint64 headerBytes = 512;
    constexpr qint64 tailBytes = 256;
    QFile file(entriesPath);
    if (!file.open(QIODevice::ReadOnly) || file.size() <= headerBytes + tailBytes)
        return false;
    QByteArray header = file.read(headerBytes);
    if (!file.seek(file.size() - tailBytes))
        return false;
    const QByteArray tail = file.read(tailBytes);
    const bool framed = header.startsWith(magicFramed);
    if (!KnownVersion(header) || !tail.endsWith('\n') || !ApplyFinishedLine(tail, framed, run))
        return false;
    header.truncate(header.lastIndexOf('\n') + 1);
    for (const QByteArray &line : header.split('\n')) {
        if (line.startsWith("f\t"))
            break;
        ApplyLine(line, framed, run, false);
    }
    return true;
}

} // namespace

namespace {

void ReadRestored(const QString &runFolder, JournalRun &run)
{
    const QString path = JoinPath(runFolder, restoredName);
    QByteArray content;
    if (!SymLinkTarget(path).isEmpty() || !ReadFileBytes(path, content))
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

} // namespace

bool ReadJournalRun(const QString &runFolder, JournalRun &run, bool withEntries)
{
    run = JournalRun();
    run.folder = runFolder;
    run.id = QFileInfo(runFolder).fileName();
    // A link planted as the mark counts as none, and is never followed.
    const QString undonePath = JoinPath(runFolder, undoneName);
    run.undone = EntryExists(undonePath) && SymLinkTarget(undonePath).isEmpty();
    const QString entriesPath = JoinPath(runFolder, entriesName);
    if (!withEntries && ReadSummary(entriesPath, run))
        return true;
    QByteArray content;
    if (!ReadFileBytes(entriesPath, content) || !KnownVersion(content))
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
        ReadRestored(runFolder, run);
    return true;
}

std::vector<JournalRun> ReadJournal(const QString &sourceDir, bool withEntries)
{
    std::vector<JournalRun> runs;
    const QDir journal(JournalFolder(sourceDir));
    for (const QString &name : journal.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
        // A run folder that is a link leads out of the journal: it is never read.
        if (name.startsWith(droppedPrefix) || !SymLinkTarget(journal.filePath(name)).isEmpty())
            continue;
        JournalRun run;
        if (ReadJournalRun(journal.filePath(name), run, withEntries))
            runs.push_back(std::move(run));
    }
    std::stable_sort(runs.begin(), runs.end(), [](const JournalRun &a, const JournalRun &b) {
        return a.startedMs < b.startedMs;
    });
    return runs;
}

QByteArray JournalHeader(const QString &operation, qint64 startedMs)
{
    return magicFramed + Framed("operation\t" + operation.toUtf8()) +
           Framed("started\t" + QByteArray::number(startedMs));
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

QByteArray JournalFinishedLine(int files, qint64 originalBytes)
{
    return Framed("finished\t" + QByteArray::number(files) + '\t' +
                  QByteArray::number(originalBytes));
}

namespace {

// A folder of the journal and what it holds, without entering a link: a link, at the top or
// anywhere below, goes as a link, and what it points at stays as it was.
void RemoveJournalTree(const QString &path)
{
    if (!SymLinkTarget(path).isEmpty()) {
        RemoveFile(path);
        return;
    }
    QDir(path).removeRecursively();
}

// Writes a small file of the run's folder whole, by a rename; a link planted in its place is
// replaced as a link, never written through.
bool WriteRunFile(const JournalRun &run, const QString &name, const QByteArray &bytes)
{
    const QString path = JoinPath(run.folder, name);
    if (!SymLinkTarget(path).isEmpty() && !RemoveFile(path))
        return false;
    return WriteTextFile(path, bytes);
}

} // namespace

bool DropJournalRun(const JournalRun &run)
{
    QDir journal = QFileInfo(run.folder).dir();
    const QString dropped = droppedPrefix + run.id;
    if (!journal.rename(run.id, dropped))
        return false;
    RemoveJournalTree(journal.filePath(dropped));
    return true;
}

void RemoveDroppedRuns(const QString &sourceDir)
{
    const QDir journal(JournalFolder(sourceDir));
    const QStringList dropped =
        journal.entryList({droppedPrefix + QLatin1Char('*')},
                          QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot | QDir::System);
    for (const QString &name : dropped)
        RemoveJournalTree(journal.filePath(name));
}

bool MarkJournalRunUndone(const JournalRun &run)
{
    const QByteArray when = QDateTime::currentDateTime().toString(Qt::ISODate).toUtf8() + '\n';
    return WriteRunFile(run, undoneName, when);
}

bool RecordRestoredEntries(const JournalRun &run, const QSet<int> &restored)
{
    QList<int> numbers = restored.values();
    std::sort(numbers.begin(), numbers.end());
    QByteArray list;
    for (const int number : numbers)
        list += QByteArray::number(number) + '\n';
    return WriteRunFile(run, restoredName, list);
}

bool IsValidEntryPath(const QString &relativePath)
{
    const bool windows = QOperatingSystemVersion::currentType() == QOperatingSystemVersion::Windows;
    if (relativePath.isEmpty() || relativePath.startsWith(QLatin1Char('/')))
        return false;
    if (windows &&
        (relativePath.contains(QLatin1Char('\\')) || relativePath.contains(QLatin1Char(':'))))
        return false;
    for (const QString &part : relativePath.split(QLatin1Char('/'))) {
        if (part.isEmpty() || part == QLatin1String(".") || part == QLatin1String(".."))
            return false;
    }
    return true;
}

QString JournalTimeText(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}
