#include "engine/journal/Journal.h"

#include "engine/files/FileIo.h"
#include "engine/files/FileNames.h"
#include "engine/files/Paths.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QList>
#include <algorithm>

const QString journalFolderName = QStringLiteral(".parafold-journal");

namespace {

const QString entriesName = QStringLiteral("entries.tsv");
const QString originalsName = QStringLiteral("originals");
const QString undoneName = QStringLiteral("undone");
const QByteArray magic = QByteArrayLiteral("parafold-journal\t1");
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

bool ParseEntry(const QList<QByteArray> &fields, JournalEntry &entry)
{
    if (fields.size() != 8)
        return false;
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

// Applies one complete line; a line cut short by a crash was dropped before.
void ApplyLine(const QByteArray &line, JournalRun &run, bool withEntries)
{
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
bool ApplyFinishedLine(const QByteArray &content, JournalRun &run)
{
    if (content.size() < 2)
        return false;
    const int lastLine = content.lastIndexOf('\n', content.size() - 2) + 1;
    const QList<QByteArray> fields =
        content.mid(lastLine, content.size() - 1 - lastLine).split('\t');
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
    if (!header.startsWith(magic) || !tail.endsWith('\n') || !ApplyFinishedLine(tail, run))
        return false;
    header.truncate(header.lastIndexOf('\n') + 1);
    for (const QByteArray &line : header.split('\n')) {
        if (line.startsWith("f\t"))
            break;
        ApplyLine(line, run, false);
    }
    return true;
}

} // namespace

bool ReadJournalRun(const QString &runFolder, JournalRun &run, bool withEntries)
{
    run = JournalRun();
    run.folder = runFolder;
    run.id = QFileInfo(runFolder).fileName();
    run.undone = QFileInfo::exists(JoinPath(runFolder, undoneName));
    const QString entriesPath = JoinPath(runFolder, entriesName);
    if (!withEntries && ReadSummary(entriesPath, run))
        return true;
    QByteArray content;
    if (!ReadFileBytes(entriesPath, content) || !content.startsWith(magic))
        return false;
    // Only whole lines count: a kill cannot cut one short, but a power cut can.
    content.truncate(content.lastIndexOf('\n') + 1);
    const bool summed = !withEntries && ApplyFinishedLine(content, run);
    for (int start = 0; start < content.size();) {
        const int end = content.indexOf('\n', start);
        const QByteArray line = content.mid(start, end - start);
        start = end + 1;
        if (summed && line.startsWith("f\t"))
            break; // the header is read
        ApplyLine(line, run, withEntries);
    }
    return true;
}

std::vector<JournalRun> ReadJournal(const QString &sourceDir, bool withEntries)
{
    std::vector<JournalRun> runs;
    const QDir journal(JournalFolder(sourceDir));
    for (const QString &name : journal.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
        if (name.startsWith(droppedPrefix))
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
    return magic + "\noperation\t" + operation.toUtf8() + "\nstarted\t" +
           QByteArray::number(startedMs) + '\n';
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
    line += EscapePath(entry.relativePath) + '\n';
    return line;
}

QByteArray JournalFinishedLine(int files, qint64 originalBytes)
{
    return "finished\t" + QByteArray::number(files) + '\t' + QByteArray::number(originalBytes) +
           '\n';
}

bool DropJournalRun(const JournalRun &run)
{
    QDir journal = QFileInfo(run.folder).dir();
    const QString dropped = droppedPrefix + run.id;
    if (!journal.rename(run.id, dropped))
        return false;
    QDir(journal.filePath(dropped)).removeRecursively();
    return true;
}

void RemoveDroppedRuns(const QString &sourceDir)
{
    const QDir journal(JournalFolder(sourceDir));
    const QStringList dropped = journal.entryList({droppedPrefix + QLatin1Char('*')},
                                                  QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QString &name : dropped)
        QDir(journal.filePath(name)).removeRecursively();
}

bool MarkJournalRunUndone(const JournalRun &run)
{
    const QByteArray when = QDateTime::currentDateTime().toString(Qt::ISODate).toUtf8() + '\n';
    return WriteTextFile(JoinPath(run.folder, undoneName), when);
}

QString JournalTimeText(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}
