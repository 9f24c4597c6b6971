#include "engine/batch/BatchSettings.h"
#include "engine/batch/Failure.h"
#include "engine/files/FileIo.h"
#include "engine/files/FileNames.h"
#include "engine/files/FileTree.h"
#include "engine/journal/ContentHash.h"
#include "engine/journal/Journal.h"
#include "engine/journal/RunJournal.h"
#include "engine/journal/Undo.h"
#include "engine/run/RunBatch.h"
#include "tests/engine/Fixture.h"
#include "tests/engine/RunRecorder.h"

#include <QDateTime>
#include <QDirIterator>
#include <QScopeGuard>
#include <QTest>
#include <QTextCodec>
#include <atomic>
#include <limits>

#ifdef Q_OS_UNIX
#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace fixture;

Q_DECLARE_METATYPE(Operation)

namespace {

const QDateTime longAgo = QDateTime::fromSecsSinceEpoch(1500000000);

// Every file below root but the journal, by relative path, with its bytes.
QMap<QString, QByteArray> Contents(const QString &root)
{
    QMap<QString, QByteArray> contents;
    for (const QString &entry : TreeListing(root)) {
        if (!entry.startsWith(journalFolderName) && !entry.endsWith(QLatin1Char('/')))
            contents[entry] = ReadBytes(QDir(root).filePath(entry));
    }
    return contents;
}

// Files in every encoding the codec writes back, each holding the search texts.
// repeat: how many times the text stands in each file; enough, and the edits are written in
// pieces from a second read.
void WriteMixedTree(const QString &root, int repeat = 1)
{
    const QString text = QStringLiteral("小云望着江水\n小吉没有说话\r\n").repeated(repeat);
    const QMap<QString, QByteArray> files = {
        {QStringLiteral("utf8.txt"), Utf8(text)},
        {QStringLiteral("bom.txt"), Bom() + Utf8(text)},
        {QStringLiteral("gbk.txt"), Gbk(text)},
        {QStringLiteral("sub/le.txt"), Utf16(text, true)},
        {QStringLiteral("sub/be.txt"), Utf16(text, false)},
        {QStringLiteral("sub/deep/名字.TXT"), Gbk(text)},
        {QStringLiteral("other.doc"), Utf8(text)},
    };
    for (auto file = files.begin(); file != files.end(); ++file) {
        const QString path = QDir(root).filePath(file.key());
        QVERIFY(WriteBytes(path, file.value()));
        QFile written(path);
        QVERIFY(written.open(QIODevice::ReadWrite));
        QVERIFY(written.setFileTime(longAgo, QFileDevice::FileModificationTime));
    }
}

#ifdef Q_OS_UNIX
// Each entry below root, links as links, with its mode and bytes: what must stay as it was.
QMap<QString, QString> Untouched(const QString &root)
{
    QMap<QString, QString> state;
    QDirIterator entries(root,
                         QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                         QDirIterator::Subdirectories);
    while (entries.hasNext()) {
        const QString path = entries.next();
        struct stat info = {};
        ::lstat(QFile::encodeName(path).constData(), &info);
        state[path.mid(root.size())] = QString::number(info.st_mode, 8) + QLatin1Char(' ') +
                                       QString::fromLatin1(ReadBytes(path).toHex());
    }
    return state;
}

// Files grow no larger than limit bytes while it lives, as on a disk that is full.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(qint64 limit) : previous(::signal(SIGXFSZ, SIG_IGN))
    {
        ::getrlimit(RLIMIT_FSIZE, &saved);
        struct rlimit full = saved;
        full.rlim_cur = rlim_t(limit);
        ::setrlimit(RLIMIT_FSIZE, &full);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &saved);
        ::signal(SIGXFSZ, previous);
    }
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;

private:
    struct rlimit saved = {};
    void (*previous)(int);
};

// A run as a journal from elsewhere may hold it, newer than any other: one entry saying that
// the file at relativePath holds `written`, with `original` kept.
bool PlantRun(const QString &src, const QString &relativePath, const QByteArray &written,
              const QByteArray &original)
{
    const QString folder = JournalFolder(src) + QStringLiteral("/29990101-000000");
    JournalEntry entry;
    entry.number = 1;
    entry.originalSize = original.size();
    entry.originalHash = ContentHash(original);
    entry.writtenSize = written.size();
    entry.writtenHash = ContentHash(written);
    entry.relativePath = relativePath;
    const qint64 started = QDateTime::currentMSecsSinceEpoch() + 1000000;
    return WriteBytes(folder + QStringLiteral("/originals/1"), original) &&
           WriteBytes(folder + QStringLiteral("/entries.tsv"),
                      JournalHeader(QStringLiteral("replace"), started, QString(), 0) +
                          JournalEntryLine(entry) + JournalFinishedLine(1, original.size()));
}
#endif

// Undoes the last run; the reasons of the files it did not restore.
QStringList UndoLast(const QString &src, UndoResult *result = nullptr,
                     const std::function<void(const QString &)> &fileInHand = nullptr)
{
    QString message;
    const std::optional<JournalRun> run = FindUndoRun(src, QString(), message);
    if (!run)
        return {message};
    QStringList reasons;
    const UndoResult undone = UndoRun(
        src, *run, false,
        [&](const UndoFile &file) {
            if (file.status != UndoFile::Restored && file.status != UndoFile::AlreadyOriginal)
                reasons << file.reason;
        },
        nullptr, fileInHand);
    if (result)
        *result = undone;
    return reasons;
}

} // namespace

class TestJournal : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void contentHash_data();
    void contentHash();
    void undoRestoresEveryFile_data();
    void undoRestoresEveryFile();
    void laterEditsAreNotOverwritten();
    void noFileIsReplacedWithoutItsOriginalKept();
    void stopLeavesEveryFileOldOrKept_data();
    void stopLeavesEveryFileOldOrKept();
#ifdef Q_OS_UNIX
    void namesThatAreNotTextAreRestored_data();
    void namesThatAreNotTextAreRestored();
    void journalIsPrivate();
#endif
    void journalIsNeverScanned();
    void summaryMatchesEntries();
    void entryListRead_data();
    void entryListRead();
    void retentionDropsTheOldest_data();
    void retentionDropsTheOldest();
#ifdef Q_OS_UNIX
    void plantedJournalStaysInside_data();
    void plantedJournalStaysInside();
    void fullDiskBlocksNoLaterFile();
#endif
    void undoReplacesAsARunDoes_data();
    void undoReplacesAsARunDoes();
    void secondUndoTakesOnlyTheRest();
    void stoppedUndoCountsWhatIsLeft_data();
    void stoppedUndoCountsWhatIsLeft();
    void undoKilledAfterKeepingBlocksNothing();
    void runCutOffAfterKeepingBlocksNoLaterRun_data();
    void runCutOffAfterKeepingBlocksNoLaterRun();

private:
    RunResult run(Operation operation, bool byCopy = false);

    std::unique_ptr<QTemporaryDir> temporary;
    QString src;
};

void TestJournal::init()
{
    temporary = std::make_unique<QTemporaryDir>();
    src = temporary->path() + QStringLiteral("/src/");
    QVERIFY(QDir().mkpath(src));
}

RunResult TestJournal::run(Operation operation, bool byCopy)
{
    BatchSettings settings;
    settings.sourceDir = src;
    settings.saveInSource = true;
    settings.detectUtf16 = true;
    settings.findText = QStringLiteral("小云");
    settings.replaceText = QStringLiteral("阿云");
    settings.findLines = Names({"小云", "小吉"});
    settings.replaceLines = Names({"小吉", "阿吉"});
    settings.insertText = QStringLiteral("【序】\n");
    RunOptions options;
    options.writeReports = false;
    options.journalByCopy = byCopy;
    return RunBatch(operation, settings, RunObserver(), options);
}

void TestJournal::contentHash_data()
{
    // Values from the reference implementation (xxhsum -H1).
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<quint64>("hash");
    QTest::newRow("empty") << QByteArray() << Q_UINT64_C(0xef46db3751d8e999);
    QTest::newRow("one byte") << QByteArray("a") << Q_UINT64_C(0xd24ec4f1a98c6e5b);
    QTest::newRow("three bytes") << QByteArray("abc") << Q_UINT64_C(0x44bc2cf5ad770999);
    QTest::newRow("stripes and every tail")
        << QByteArray("0123456789abcdef0123456789abcdef0123456789abcdefXYZ12")
        << Q_UINT64_C(0x4b0da477b3ead278);
    QTest::newRow("1000 zeros") << QByteArray(1000, '\0') << Q_UINT64_C(0x0e2b1ef27944075a);
}

void TestJournal::contentHash()
{
    QFETCH(QByteArray, bytes);
    QFETCH(quint64, hash);
    QCOMPARE(ContentHash(bytes), hash);
    // Handed over in pieces of every size up to two stripes.
    for (int piece = 1; piece <= 64; ++piece) {
        ContentHasher hasher;
        for (int at = 0; at < bytes.size(); at += piece)
            hasher.add(bytes.constData() + at, std::min(piece, bytes.size() - at));
        QCOMPARE(hasher.hash(), hash);
    }
}

void TestJournal::undoRestoresEveryFile_data()
{
    QTest::addColumn<Operation>("operation");
    QTest::addColumn<bool>("byCopy");
    QTest::addColumn<int>("repeat");
    QTest::newRow("replace, hard links") << Operation::ReplaceText << false << 1;
    QTest::newRow("replace, copies") << Operation::ReplaceText << true << 1;
    QTest::newRow("pairs, hard links") << Operation::ReplacePairs << false << 1;
    QTest::newRow("pairs, copies") << Operation::ReplacePairs << true << 1;
    QTest::newRow("insert, hard links") << Operation::InsertText << false << 1;
    QTest::newRow("insert, copies") << Operation::InsertText << true << 1;
    QTest::newRow("replace, large files") << Operation::ReplaceText << false << 650000;
    QTest::newRow("pairs, large files") << Operation::ReplacePairs << true << 650000;
}

void TestJournal::undoRestoresEveryFile()
{
    QFETCH(Operation, operation);
    QFETCH(bool, byCopy);
    QFETCH(int, repeat);
    WriteMixedTree(src, repeat);
    const QMap<QString, QByteArray> before = Contents(src);

    const RunResult result = run(operation, byCopy);
    QCOMPARE(result.changed, 6);
    QVERIFY(Contents(src) != before);
    QVERIFY(!result.journalRunId.isEmpty());

    QString message;
    const std::optional<JournalRun> journaled = FindUndoRun(src, QString(), message);
    QVERIFY(journaled);
    QCOMPARE(journaled->id, result.journalRunId);
    QCOMPARE(int(journaled->entries.size()), 6);
    for (const JournalEntry &entry : journaled->entries) {
        QCOMPARE(ReadBytes(journaled->originalPath(entry)), before[entry.relativePath]);
        QCOMPARE(entry.originalModifiedMs, longAgo.toMSecsSinceEpoch());
        // A hard link is the old file itself, time and all; a copy is a new file.
        const QDateTime keptTime = QFileInfo(journaled->originalPath(entry)).lastModified();
        QCOMPARE(keptTime == longAgo, !byCopy);
    }

    QStringList restored;
    const UndoResult undone = UndoRun(src, *journaled, false, [&](const UndoFile &file) {
        QCOMPARE(file.status, UndoFile::Restored);
        restored << file.nativePath;
    });
    QCOMPARE(undone.restored, 6);
    QCOMPARE(Contents(src), before);
    // The run is undone; there is nothing left to undo.
    QVERIFY(!FindUndoRun(src, QString(), message));
    QVERIFY(message.startsWith(messageNothingToUndo()));
    QVERIFY(message.contains(QDir::toNativeSeparators(src)));
}

void TestJournal::laterEditsAreNotOverwritten()
{
    WriteMixedTree(src);
    const QMap<QString, QByteArray> before = Contents(src);
    QCOMPARE(run(Operation::ReplaceText).changed, 6);
    const QString edited = src + QStringLiteral("utf8.txt");
    const QString deleted = src + QStringLiteral("gbk.txt");
    QVERIFY(WriteBytes(edited, "edited after the run"));
    QVERIFY(QFile::remove(deleted));

    QString message;
    const std::optional<JournalRun> journaled = FindUndoRun(src, QString(), message);
    QVERIFY(journaled);
    QMap<QString, QString> reasons;
    const UndoResult undone = UndoRun(src, *journaled, false, [&](const UndoFile &file) {
        if (file.status != UndoFile::Restored)
            reasons[QDir::fromNativeSeparators(file.nativePath)] = file.reason;
    });
    QCOMPARE(undone.restored, 4);
    QCOMPARE(undone.notRestored, 2);
    QCOMPARE(reasons.value(edited), reasonChangedSinceRun());
    QCOMPARE(reasons.value(deleted), reasonGoneSinceRun());
    QCOMPARE(ReadBytes(edited), QByteArray("edited after the run"));
    QVERIFY(!QFile::exists(deleted));
    QCOMPARE(ReadBytes(src + QStringLiteral("sub/le.txt")), before[QStringLiteral("sub/le.txt")]);
    // Not all back: the same run stays the one to undo.
    QCOMPARE(FindUndoRun(src, QString(), message)->id, journaled->id);
}

void TestJournal::noFileIsReplacedWithoutItsOriginalKept()
{
    WriteMixedTree(src);
    const QMap<QString, QByteArray> before = Contents(src);
    // A file where the journal's folder should be.
    QVERIFY(WriteBytes(JournalFolder(src), "in the way"));
    BatchSettings settings;
    settings.sourceDir = src;
    settings.saveInSource = true;
    settings.detectUtf16 = true;
    settings.findText = QStringLiteral("小云");
    settings.replaceText = QStringLiteral("阿云");
    QStringList reasons;
    RunObserver observer;
    observer.fileFailed = [&](const QString &, const FileFailure &failure) {
        reasons << failure.reason();
    };
    RunOptions options;
    options.writeReports = false;
    const RunResult result = RunBatch(Operation::ReplaceText, settings, observer, options);
    QCOMPARE(result.failed, 6);
    QCOMPARE(reasons.size(), 6);
    QCOMPARE(reasons.count(reasonJournalFailed()), 6);
    QCOMPARE(Contents(src), before);
}

void TestJournal::stopLeavesEveryFileOldOrKept_data()
{
    QTest::addColumn<int>("stopAt"); // the changed file whose report meets the stop
    QTest::newRow("first") << 1;
    QTest::newRow("last of a group") << 64;
    QTest::newRow("first of the next") << 65;
    QTest::newRow("in the last group") << 130;
}

// Groups are written while the one before is flushed, and files are written ahead of their
// turn; a stop anywhere still leaves each file old, or new with its original kept, and no
// temporary behind.
void TestJournal::stopLeavesEveryFileOldOrKept()
{
    QFETCH(int, stopAt);
    // 134 changed files, every third one left as it is.
    for (int i = 0; i < 200; ++i)
        QVERIFY(
            WriteBytes(src + QStringLiteral("f%1.txt").arg(i, 3, 10, QLatin1Char('0')),
                       Utf8(i % 3 == 2 ? QStringLiteral("江水") : QStringLiteral("小云望着江水"))));
    const QMap<QString, QByteArray> before = Contents(src);
    BatchSettings settings;
    settings.sourceDir = src;
    settings.saveInSource = true;
    settings.findText = QStringLiteral("小云");
    settings.replaceText = QStringLiteral("阿云");
    std::atomic_bool stop{false};
    RunOptions options;
    options.writeReports = false;
    options.stop = &stop;
    QStringList found;
    RunObserver observer;
    observer.fileFound = [&](const QString &nativePath) {
        found << QFileInfo(nativePath).fileName();
        stop = found.size() == stopAt;
    };
    const RunResult result = RunBatch(Operation::ReplaceText, settings, observer, options);
    QVERIFY(result.stopped);
    QCOMPARE(result.changed, stopAt);

    const QMap<QString, QByteArray> after = Contents(src);
    QCOMPARE(after.keys(), before.keys());
    QStringList edited;
    for (auto it = after.begin(); it != after.end(); ++it) {
        if (it.value() != before[it.key()])
            edited << it.key();
    }
    QCOMPARE(edited, found);
    QString message;
    const std::optional<JournalRun> journaled = FindUndoRun(src, QString(), message);
    QVERIFY(journaled);
    QCOMPARE(int(journaled->entries.size()), stopAt);
    QCOMPARE(UndoRun(src, *journaled, false, [](const UndoFile &) {}).restored, stopAt);
    QCOMPARE(Contents(src), before);
}

#ifdef Q_OS_UNIX
// GBK names, as ZIP archives from Chinese Windows leave them, are bytes that are no text here:
// a file's name, or the source folder's own.
void TestJournal::namesThatAreNotTextAreRestored_data()
{
    QTest::addColumn<bool>("sourceFolder");
    QTest::newRow("file in a folder") << false;
    QTest::newRow("source folder") << true;
}

void TestJournal::namesThatAreNotTextAreRestored()
{
    QFETCH(bool, sourceFolder);
    QTextCodec *system = QTextCodec::codecForLocale();
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF-8")); // as under C.UTF-8
    const auto restoreCodec = qScopeGuard([system] { QTextCodec::setCodecForLocale(system); });
    const QByteArray top = EncodeFileName(temporary->path()) + "/src\xD6\xD0";
    if (sourceFolder) {
        QVERIFY(::mkdir(top.constData(), 0777) == 0);
        src = DecodeFileName(top) + QLatin1Char('/');
    }
    const QByteArray folder = sourceFolder ? top : EncodeFileName(src) + "d\xFF";
    const QByteArray name = folder + (sourceFolder ? "/a.txt" : "/\xB0\xA1.txt");
    if (!sourceFolder)
        QVERIFY(::mkdir(folder.constData(), 0777) == 0);
    const QByteArray original = Gbk(QStringLiteral("小云\r\n"));
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT, 0666);
    QVERIFY(fd >= 0 &&
            ::write(fd, original.constData(), size_t(original.size())) == original.size());
    ::close(fd);
    // QTemporaryDir cannot remove what it cannot name.
    const auto removable = qScopeGuard([&] {
        const QByteArray named = EncodeFileName(temporary->path()) + "/named";
        if (!sourceFolder)
            ::unlink(name.constData());
        ::rename(folder.constData(), named.constData());
    });
    const RunResult result = run(Operation::ReplaceText);
    QCOMPARE(result.failed, 0);
    QCOMPARE(result.changed, 1);
    QCOMPARE(int(ReadJournal(src).size()), 1);
    QString message;
    const std::optional<JournalRun> journaled = FindUndoRun(src, QString(), message);
    QVERIFY(journaled);
    QCOMPARE(UndoRun(src, *journaled, false, nullptr).restored, 1);
    QByteArray back;
    QVERIFY(ReadFileBytes(DecodeFileName(name), back));
    QCOMPARE(back, original);
}
#endif

void TestJournal::journalIsNeverScanned()
{
    WriteMixedTree(src);
    BatchSettings find;
    find.sourceDir = src;
    find.searchTerms = QStringLiteral("小云");
    RunOptions options;
    options.writeReports = false;
    const RunResult unjournaled = RunBatch(Operation::FindText, find, RunObserver(), options);
    QCOMPARE(run(Operation::InsertText).changed, 6);
    // The journal now holds the originals, and a .txt file put there by hand.
    QVERIFY(
        WriteBytes(JournalFolder(src) + QStringLiteral("/小云.txt"), Utf8(QStringLiteral("小云"))));
    const RunResult after = RunBatch(Operation::FindText, find, RunObserver(), options);
    QCOMPARE(after.scanned, unjournaled.scanned);
    QCOMPARE(after.changed, unjournaled.changed);
    QCOMPARE(run(Operation::InsertText).changed, 6);
    QVERIFY(QFileInfo::exists(JournalFolder(src) + QStringLiteral("/小云.txt")));
    QCOMPARE(ReadBytes(JournalFolder(src) + QStringLiteral("/小云.txt")),
             Utf8(QStringLiteral("小云")));
}

// A long finished run is summed up from its first and last lines alone.
void TestJournal::summaryMatchesEntries()
{
    RunJournal journal(src, Operation::ReplacePairs);
    for (int i = 0; i < 40; ++i) {
        const QString name = QStringLiteral("第%1个文件.txt").arg(i);
        QVERIFY(WriteBytes(src + name, QByteArray(i + 1, 'x')));
        QString error;
        QVERIFY2(journal.keepOriginal(src + name, name, {}, &error), qPrintable(error));
    }
    QVERIFY(journal.finish().isEmpty());
    JournalRun summed;
    JournalRun full;
    const QString folder = JournalFolder(src) + QLatin1Char('/') + journal.runId();
    QVERIFY(ReadJournalRun(folder, full, true));
    QCOMPARE(int(full.entries.size()), 40);
    QCOMPARE(full.originalBytes, qint64(40 * 41 / 2));
    // Spoil an entry in the middle: only a reader of every line sees it.
    QFile entries(folder + QStringLiteral("/entries.tsv"));
    QVERIFY(entries.open(QIODevice::ReadWrite) && entries.size() > 2000);
    QVERIFY(entries.seek(entries.size() / 2) && entries.write("\t\t\t\t") == 4);
    entries.close();
    QVERIFY(ReadJournalRun(folder, summed, false));
    QCOMPARE(summed.files, 40);
    QCOMPARE(summed.originalBytes, full.originalBytes);
    QVERIFY(ReadJournalRun(folder, full, true));
    QCOMPARE(int(full.entries.size()), 39);
    QCOMPARE(summed.operation, QStringLiteral("replace-pairs"));
    QCOMPARE(summed.startedMs, full.startedMs);
    QVERIFY(summed.finished && full.finished);
}

// What a reader takes from an entry list: old lists without a frame, and lines that a full
// disk or a power cut left short.
void TestJournal::entryListRead_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("paths");
    JournalEntry a;
    a.number = 1;
    a.relativePath = QStringLiteral("sub/a.txt");
    JournalEntry b = a;
    b.number = 2;
    b.relativePath = QStringLiteral("b.txt");
    const QByteArray header = JournalHeader(QStringLiteral("replace"), 1, QString(), 0);
    const QByteArray lineA = JournalEntryLine(a);
    const QByteArray cutInPath = lineA.left(lineA.indexOf("a.txt") + 1);
    QTest::newRow("version 1, no frame")
        << QByteArray("parafold-journal\t1\noperation\treplace\nstarted\t1\n"
                      "f\t1\t5\t1000\t00000000000000ab\t6\t00000000000000cd\tsub/a.txt\n"
                      "finished\t1\t5\n")
        << QStringList{a.relativePath};
    QTest::newRow("whole lines") << header + lineA + JournalEntryLine(b)
                                 << QStringList{a.relativePath, b.relativePath};
    QTest::newRow("line cut in its path, then a whole one")
        << header + cutInPath + '\n' + JournalEntryLine(b) << QStringList{b.relativePath};
    QTest::newRow("line cut and run on into the next")
        << header + cutInPath + JournalEntryLine(b) << QStringList();
}

void TestJournal::entryListRead()
{
    QFETCH(QByteArray, content);
    QFETCH(QStringList, paths);
    const QString folder = JournalFolder(src) + QStringLiteral("/20260101-000000");
    QVERIFY(WriteBytes(folder + QStringLiteral("/entries.tsv"), content));
    JournalRun run;
    QVERIFY(ReadJournalRun(folder, run, true));
    QStringList read;
    for (const JournalEntry &entry : run.entries)
        read << entry.relativePath;
    QCOMPARE(read, paths);
}

void TestJournal::retentionDropsTheOldest_data()
{
    QTest::addColumn<int>("runs");
    QTest::addColumn<int>("bytesLimit");
    QTest::addColumn<int>("kept");
    QTest::newRow("by count") << 5 << 1000000 << 3;
    QTest::newRow("by size") << 5 << 25 << 2; // each run keeps 10 bytes
    QTest::newRow("a run over the size on its own is kept") << 2 << 5 << 1;
}

void TestJournal::retentionDropsTheOldest()
{
    QFETCH(int, runs);
    QFETCH(int, bytesLimit);
    QFETCH(int, kept);
    const QString file = src + QStringLiteral("a.txt");
    QStringList ids;
    QStringList notes;
    for (int i = 0; i < runs; ++i) {
        QVERIFY(WriteBytes(file, QByteArray::number(1000000000 + i)));
        RunJournal journal(src, Operation::InsertText, RunJournal::Keep::LinkOrCopy,
                           {3, bytesLimit});
        QString error;
        QVERIFY2(journal.keepOriginal(file, QStringLiteral("a.txt"), {}, &error),
                 qPrintable(error));
        notes << journal.finish();
        ids << journal.runId();
        // Runs are ordered by their start in milliseconds.
        QTest::qWait(5);
    }
    QStringList left;
    for (const JournalRun &run : ReadJournal(src))
        left << run.id;
    QCOMPARE(left, ids.mid(runs - kept));
    QCOMPARE(notes.last().isEmpty(), kept == runs);
    // Nothing else is left behind.
    left.sort();
    QCOMPARE(QDir(JournalFolder(src)).entryList(QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot),
             left);
}

#ifdef Q_OS_UNIX
// Journals that an archive or a shared folder can carry. Whatever they say, nothing outside
// the source folder changes: not a byte, not a mode, no new file.
void TestJournal::plantedJournalStaysInside_data()
{
    QTest::addColumn<QString>("plant");
    QTest::addColumn<QString>("reason"); // undo's reason for the file it refuses; "-": no undo
    QTest::newRow("dropped run is a link") << QStringLiteral("dropped") << QStringLiteral("-");
    QTest::newRow("run folder is a link") << QStringLiteral("run-link") << QStringLiteral("-");
    QTest::newRow("entry with ..") << QStringLiteral("dotdot") << reasonEntryInvalid();
    QTest::newRow("absolute entry") << QStringLiteral("absolute") << reasonEntryInvalid();
    QTest::newRow("file became a link") << QStringLiteral("file-link") << reasonEntryInvalid();
    QTest::newRow("folder became a link") << QStringLiteral("folder-link") << reasonEntryInvalid();
    QTest::newRow("undone mark is a dangling link") << QStringLiteral("undone-link") << QString();
}

void TestJournal::plantedJournalStaysInside()
{
    QFETCH(QString, plant);
    QFETCH(QString, reason);
    const QString outside = temporary->path() + QStringLiteral("/outside/");
    const QByteArray written = Utf8(QStringLiteral("阿云\n"));
    QVERIFY(WriteBytes(outside + QStringLiteral("note.txt"), written));
    QVERIFY(WriteBytes(outside + QStringLiteral("sub/a.txt"), written));
    QVERIFY(WriteBytes(outside + QStringLiteral("sub/deep/c.txt"), "deep"));
    QVERIFY(WriteBytes(outside + QStringLiteral("keep.txt"), "read-only"));
    QCOMPARE(::chmod(QFile::encodeName(outside + QStringLiteral("keep.txt")).constData(), 0444), 0);
    // What a run folder holds, for a journal led there to take it for one.
    QVERIFY(WriteBytes(outside + QStringLiteral("entries.tsv"),
                       JournalHeader(QStringLiteral("insert"), 1, QString(), 0) +
                           JournalFinishedLine(0, 0)));
    QVERIFY(WriteBytes(src + QStringLiteral("sub/a.txt"), Utf8(QStringLiteral("小云\n"))));
    const RunResult first = run(Operation::ReplaceText);
    QCOMPARE(first.changed, 1);
    const QString journal = JournalFolder(src) + QLatin1Char('/');
    const QString runFolder = journal + first.journalRunId;
    const QMap<QString, QString> before = Untouched(outside);

    if (plant == QLatin1String("dropped")) {
        QVERIFY(QFile::link(outside, journal + QStringLiteral(".dropped-x")));
        QVERIFY(WriteBytes(src + QStringLiteral("b.txt"), Utf8(QStringLiteral("小云"))));
        QCOMPARE(run(Operation::ReplaceText).changed, 1);
        QVERIFY(!QFileInfo(journal + QStringLiteral(".dropped-x")).isSymLink());
    } else if (plant == QLatin1String("run-link")) {
        QVERIFY(QFile::link(outside, journal + QStringLiteral("19990101-000000")));
        RunJournal next(src, Operation::InsertText, RunJournal::Keep::LinkOrCopy,
                        {1, std::numeric_limits<qint64>::max()});
        QString error;
        QVERIFY2(next.keepOriginal(src + QStringLiteral("sub/a.txt"), QStringLiteral("sub/a.txt"),
                                   {}, &error),
                 qPrintable(error));
        next.finish();
    } else if (plant == QLatin1String("dotdot")) {
        QVERIFY(PlantRun(src, QStringLiteral("../outside/note.txt"), written, "planted"));
    } else if (plant == QLatin1String("absolute")) {
        QVERIFY(PlantRun(src, outside + QStringLiteral("note.txt"), written, "planted"));
    } else if (plant == QLatin1String("file-link")) {
        QVERIFY(QFile::remove(src + QStringLiteral("sub/a.txt")));
        QVERIFY(
            QFile::link(outside + QStringLiteral("note.txt"), src + QStringLiteral("sub/a.txt")));
    } else if (plant == QLatin1String("folder-link")) {
        QVERIFY(QDir(src + QStringLiteral("sub")).removeRecursively());
        QVERIFY(QFile::link(outside + QStringLiteral("sub"), src + QStringLiteral("sub")));
    } else {
        QVERIFY(QFile::link(outside + QStringLiteral("created.txt"),
                            runFolder + QStringLiteral("/undone")));
    }
    if (reason != QLatin1String("-")) {
        UndoResult result;
        QCOMPARE(UndoLast(src, &result), reason.isEmpty() ? QStringList() : QStringList{reason});
        QCOMPARE(result.notRestored, reason.isEmpty() ? 0 : 1);
    }
    QCOMPARE(Untouched(outside), before);
}

// A disk full at the wrong byte: an entry line cut short takes no later entry along, and a
// copy cut short blocks no later file.
void TestJournal::fullDiskBlocksNoLaterFile()
{
    RunJournal journal(src, Operation::ReplaceText);
    QString error;
    // Long names, so that an entry line is longer than what the disk has left.
    const QString tail = QStringLiteral("-a-name-long-enough-to-fill-a-disk.txt");
    const QStringList names = {QStringLiteral("a") + tail, QStringLiteral("b") + tail,
                               QStringLiteral("c") + tail, QStringLiteral("d") + tail};
    for (const QString &name : names)
        QVERIFY(WriteBytes(src + name, "x"));
    QVERIFY(journal.keepOriginal(src + names[0], names[0], {}, &error));
    const QString folder = JournalFolder(src) + QLatin1Char('/') + journal.runId();
    {
        const FileSizeLimit full(QFileInfo(folder + QStringLiteral("/entries.tsv")).size() + 20);
        QVERIFY(!journal.keepOriginal(src + names[1], names[1], {}, &error));
        QVERIFY(!journal.keepOriginal(src + names[2], names[2], {}, &error));
    }
    QVERIFY(journal.keepOriginal(src + names[3], names[3], {}, &error));
    journal.finish();
    JournalRun kept;
    QVERIFY(ReadJournalRun(folder, kept, true));
    QStringList paths;
    for (const JournalEntry &entry : kept.entries)
        paths << entry.relativePath;
    QCOMPARE(paths, QStringList({names[0], names[3]}));

    // By copy: the first file's original is too large for what is left.
    QVERIFY(QDir(JournalFolder(src)).removeRecursively());
    QVERIFY(QDir(src).removeRecursively() && QDir().mkpath(src));
    const QByteArray match(1000, 'a');
    QVERIFY(WriteBytes(src + QStringLiteral("a.txt"), match.repeated(60)));
    for (const char *name : {"b.txt", "c.txt", "d.txt"})
        QVERIFY(WriteBytes(src + QLatin1String(name), match + '\n'));
    BatchSettings settings;
    settings.sourceDir = src;
    settings.saveInSource = true;
    settings.findText = QString::fromLatin1(match);
    settings.replaceText = QStringLiteral("b");
    RunOptions options;
    options.writeReports = false;
    options.journalByCopy = true;
    RunRecorder recorder;
    RunResult result;
    {
        const FileSizeLimit full(30000);
        result = RunBatch(Operation::ReplaceText, settings, recorder.observer(), options);
    }
    QCOMPARE(recorder.reasons, QStringList{reasonJournalFailed()});
    QCOMPARE(result.changed, 3);
    UndoResult undone;
    QCOMPARE(UndoLast(src, &undone), QStringList());
    QCOMPARE(undone.restored, 3);
    QCOMPARE(ReadBytes(src + QStringLiteral("b.txt")), match + '\n');
}
#endif

#ifdef Q_OS_UNIX
// The journal keeps others' eyes out of what it keeps: its folders are its owner's alone,
// its files too, and a copied original keeps its own mode inside them.
void TestJournal::journalIsPrivate()
{
    const QString file = src + QStringLiteral("a.txt");
    QVERIFY(WriteBytes(file, Utf8(QStringLiteral("小云\n"))));
    QCOMPARE(::chmod(QFile::encodeName(file).constData(), 0640), 0);
    const RunResult result = run(Operation::ReplaceText, true);
    QCOMPARE(result.changed, 1);
    QVERIFY(UndoLast(src).isEmpty());
    const QString journal = JournalFolder(src);
    const QString runFolder = journal + QLatin1Char('/') + result.journalRunId;
    const auto mode = [](const QString &path) {
        struct stat info = {};
        return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & 07777 : 01;
    };
    QCOMPARE(mode(journal), 0700U);
    QCOMPARE(mode(runFolder), 0700U);
    QCOMPARE(mode(runFolder + QStringLiteral("/originals")), 0700U);
    QCOMPARE(mode(runFolder + QStringLiteral("/originals/0")), 0700U);
    QCOMPARE(mode(runFolder + QStringLiteral("/entries.tsv")), 0600U);
    QCOMPARE(mode(runFolder + QStringLiteral("/undone")), 0600U);
    QCOMPARE(mode(runFolder + QStringLiteral("/originals/0/1")), 0640U);
}
#endif

// Undo replaces a file only as a run would: an edit that lands meanwhile is kept, a file
// its owner made read-only is refused, a dead writer's temporary file goes.
void TestJournal::undoReplacesAsARunDoes_data()
{
    QTest::addColumn<QString>("meanwhile");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<QByteArray>("after");
    QTest::newRow("edited while undo works")
        << QStringLiteral("edited") << reasonChangedDuringRun() << QByteArray("hot");
    QTest::newRow("made read-only")
        << QStringLiteral("read-only") << reasonReadOnly() << QByteArray("<written>");
    QTest::newRow("time and mode come back")
        << QStringLiteral("time-and-mode") << QString() << Utf8(QStringLiteral("小云\n"));
    QTest::newRow("dead writer's temporary file")
        << QStringLiteral("temporary") << QString() << Utf8(QStringLiteral("小云\n"));
}

void TestJournal::undoReplacesAsARunDoes()
{
    QFETCH(QString, meanwhile);
    QFETCH(QString, reason);
    QFETCH(QByteArray, after);
    const QString file = src + QStringLiteral("sub/a.txt");
    const QString temporaryFile =
        src + QStringLiteral("sub/.parafold-2147483646-0123456789abcdef.tmp");
    QVERIFY(WriteBytes(file, Utf8(QStringLiteral("小云\n"))));
    const QFile::Permissions permissions = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther;
    if (meanwhile == QLatin1String("time-and-mode")) {
        QVERIFY(QFile::setPermissions(file, permissions));
        QFile stamped(file);
        QVERIFY(stamped.open(QIODevice::ReadWrite) &&
                stamped.setFileTime(longAgo, QFileDevice::FileModificationTime));
    }
    QCOMPARE(run(Operation::ReplaceText).changed, 1);
    if (meanwhile == QLatin1String("time-and-mode"))
        QVERIFY(QFile::setPermissions(file, permissions | QFile::WriteOther));
    if (after == "<written>")
        after = ReadBytes(file);
    if (meanwhile == QLatin1String("read-only"))
        QVERIFY(QFile::setPermissions(file, QFile::ReadOwner | QFile::ReadGroup));
    if (meanwhile == QLatin1String("temporary"))
        QVERIFY(WriteBytes(temporaryFile, "left by a kill"));
    const auto edit = [&](const QString &) {
        if (meanwhile == QLatin1String("edited"))
            QVERIFY(WriteBytes(file, "hot"));
    };
    QCOMPARE(UndoLast(src, nullptr, edit), reason.isEmpty() ? QStringList() : QStringList{reason});
    if (meanwhile == QLatin1String("time-and-mode")) {
        QCOMPARE(QFileInfo(file).lastModified(), longAgo);
#ifdef Q_OS_WIN
        // Of a mode Windows keeps the read-only attribute alone: the file stays writable.
        QVERIFY(QFileInfo(file).isWritable());
#else
        QCOMPARE(QFile::permissions(file) & ~(QFile::ReadUser | QFile::WriteUser), permissions);
#endif
    }
    QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner);
    QCOMPARE(ReadBytes(file), after);
    QVERIFY(!QFileInfo::exists(temporaryFile));
}

// An undo that could not put back every file is taken up again for the rest alone.
void TestJournal::secondUndoTakesOnlyTheRest()
{
    WriteMixedTree(src);
    const QMap<QString, QByteArray> before = Contents(src);
    QCOMPARE(run(Operation::ReplaceText).changed, 6);
    const QString edited = src + QStringLiteral("utf8.txt");
    const QByteArray written = ReadBytes(edited);
    QVERIFY(WriteBytes(edited, "edited after the run"));
    UndoResult first;
    QCOMPARE(UndoLast(src, &first), QStringList{reasonChangedSinceRun()});
    QCOMPARE(first.restored, 5);
    QVERIFY(WriteBytes(edited, written));
    UndoResult second;
    QCOMPARE(UndoLast(src, &second), QStringList());
    QCOMPARE(second.restored, 1);
    QCOMPARE(second.alreadyOriginal, 0);
    QCOMPARE(Contents(src), before);
    QString message;
    QVERIFY(!FindUndoRun(src, QString(), message));
}

void TestJournal::stoppedUndoCountsWhatIsLeft_data()
{
    QTest::addColumn<int>("stopAfter");
    QTest::newRow("after the first file") << 1;
    QTest::newRow("in the middle") << 3;
    QTest::newRow("before the last file") << 5;
}

// A stopped undo puts back the files it had begun, says how many are left, and the next
// undo counts and takes only those.
void TestJournal::stoppedUndoCountsWhatIsLeft()
{
    QFETCH(int, stopAfter);
    WriteMixedTree(src);
    const QMap<QString, QByteArray> before = Contents(src);
    QCOMPARE(run(Operation::ReplaceText).changed, 6);
    QString message;
    const std::optional<JournalRun> journaled = FindUndoRun(src, QString(), message);
    QVERIFY(journaled);
    QCOMPARE(UndoFilesLeft(*journaled), 6);
    std::atomic_bool stop{false};
    int inHand = 0;
    const UndoResult stopped = UndoRun(src, *journaled, false, nullptr, &stop,
                                       [&](const QString &) { stop = ++inHand == stopAfter; });
    QVERIFY(stopped.stopped);
    QCOMPARE(stopped.restored, stopAfter);
    QCOMPARE(stopped.left, 6 - stopAfter);
    QVERIFY2(
        UndoSummaryLine(*journaled, stopped, false)
            .endsWith(QCoreApplication::translate("Undo", " (stopped: %1 more files not restored)")
                          .arg(6 - stopAfter)),
        qPrintable(UndoSummaryLine(*journaled, stopped, false)));

    const std::optional<JournalRun> rest = FindUndoRun(src, QString(), message);
    QVERIFY(rest);
    QCOMPARE(UndoFilesLeft(*rest), 6 - stopAfter);
    UndoResult second;
    QCOMPARE(UndoLast(src, &second), QStringList());
    QCOMPARE(second.restored, 6 - stopAfter);
    QCOMPARE(Contents(src), before);
}

// An undo killed between keeping what the run wrote in a file by a hard link and putting the
// file back leaves the file with a second name in the journal; the next undo still puts it
// back.
void TestJournal::undoKilledAfterKeepingBlocksNothing()
{
    WriteMixedTree(src);
    const QMap<QString, QByteArray> before = Contents(src);
    QCOMPARE(run(Operation::ReplaceText).changed, 6);
    QString message;
    const std::optional<JournalRun> journaled = FindUndoRun(src, QString(), message);
    QVERIFY(journaled);
    const JournalEntry &entry = journaled->entries.front();
    const QString kept = journaled->writtenRelative(entry.number);
    FileTree tree(src);
    QString error;
    QVERIFY(tree.makeFolder(kept.left(kept.lastIndexOf(QLatin1Char('/'))),
                            FileTree::Access::Private, &error));
    QVERIFY2(tree.linkFile(entry.relativePath, kept, &error), qPrintable(error));
    QCOMPARE(UndoLast(src), QStringList());
    QCOMPARE(Contents(src), before);
}

void TestJournal::runCutOffAfterKeepingBlocksNoLaterRun_data()
{
    QTest::addColumn<bool>("entryLost");
    QTest::newRow("entry written") << false;
    QTest::newRow("killed before its entry") << true;
}

// A kill between keeping an original by a hard link and replacing its file leaves the file
// with a second name in the journal; the next run still replaces it.
void TestJournal::runCutOffAfterKeepingBlocksNoLaterRun()
{
    QFETCH(bool, entryLost);
    const QString file = src + QStringLiteral("a.txt");
    const QByteArray original = Utf8(QStringLiteral("小云\n"));
    QVERIFY(WriteBytes(file, original));
    QString entries;
    {
        RunJournal cutOff(src, Operation::ReplaceText);
        QString error;
        QVERIFY2(cutOff.keepOriginal(file, QStringLiteral("a.txt"), {}, &error), qPrintable(error));
        entries =
            JournalFolder(src) + QLatin1Char('/') + cutOff.runId() + QStringLiteral("/entries.tsv");
    } // never finished, as when killed
    const QByteArray lines = ReadBytes(entries);
    if (entryLost)
        QVERIFY(WriteBytes(entries, lines.left(lines.lastIndexOf("f\t"))));
    const RunResult result = run(Operation::ReplaceText);
    QCOMPARE(result.failed, 0);
    QCOMPARE(result.changed, 1);
    QVERIFY(UndoLast(src).isEmpty());
    QCOMPARE(ReadBytes(file), original);
}

QTEST_GUILESS_MAIN(TestJournal)
#include "tst_journal.moc"
