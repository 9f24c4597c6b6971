#include "engine/run/TextFile.h"

#include "engine/codec/ByteChecks.h"
#include "engine/codec/TextCodec.h"
#include "engine/files/FileIo.h"
#include "engine/files/Paths.h"
#include "engine/journal/ContentHash.h"
#include "engine/operations/ByteEdit.h"
#include "engine/scan/ScannedFileSet.h"
#include "engine/search/StreamSearch.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <new>
#include <system_error>
#include <thread>

namespace {

FileOutcome Failed(FailureKind kind, qint64 bytes, const QString &systemReason = QString())
{
    return {FileOutcome::Failed, {kind, systemReason}, bytes};
}

FileOutcome WriteOutcome(FileIoResult result, qint64 bytes, const QString &error)
{
    switch (result) {
    case FileIoResult::Done:
        return {FileOutcome::Changed, {}, bytes};
    case FileIoResult::Changed:
        return Failed(FailureKind::ChangedDuringRun, bytes);
    case FileIoResult::ReadOnly:
        return Failed(FailureKind::ReadOnly, bytes);
    case FileIoResult::HardLinked:
        return Failed(FailureKind::HardLinked, bytes);
    case FileIoResult::Refused:
        return Failed(FailureKind::JournalFailed, bytes, error);
    default:
        return Failed(FailureKind::WriteFailed, bytes, error);
    }
}

// A decision with nothing left to write.
FileDecision Settled(FileOutcome::Kind kind, qint64 bytes)
{
    FileDecision decision;
    decision.outcome = {kind, {}, bytes};
    return decision;
}

FileDecision SettledFailed(FailureKind kind, qint64 bytes, const QString &systemReason = QString())
{
    FileDecision decision;
    decision.outcome = Failed(kind, bytes, systemReason);
    return decision;
}

QString FolderOf(const QString &nativePath)
{
    const QString path = FromNativeSeparators(nativePath);
    const int slash = path.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QStringLiteral(".") : path.left(slash == 0 ? 1 : slash);
}

quint64 OriginalHash(const FileTask &task, const QByteArray &bytes)
{
    return task.journaled && task.writes ? ContentHash(bytes) : 0;
}

// A changed file with its new bytes, hashed for the run's journal when it keeps one.
FileDecision ToWrite(const FileTask &task, qint64 size, quint64 originalHash, QByteArray newBytes)
{
    FileDecision decision = Settled(FileOutcome::Changed, size);
    decision.toWrite = true;
    decision.newBytes = std::move(newBytes);
    if (task.journaled)
        decision.replaced = {originalHash, decision.newBytes.size(),
                             ContentHash(decision.newBytes)};
    return decision;
}

FileDecision Converted(const FileTask &task, qint64 size, const QByteArray &bytes,
                       ConvertedFile converted)
{
    switch (converted.kind) {
    case ConvertedFile::AlreadyInTarget:
        return Settled(FileOutcome::Unchanged, size);
    case ConvertedFile::Failed:
        return SettledFailed(converted.failure, size, converted.detail);
    case ConvertedFile::Converted:
        break;
    }
    return ToWrite(task, size, OriginalHash(task, bytes), std::move(converted.bytes));
}

const qint64 editLimit = qint64(256) << 20;
// An edit of a file up to this size is made on the worker that decides it, its new bytes held
// until their turn; a larger one is written in pieces from a second read at its turn.
const qint64 editedOnWorkers = qint64(16) << 20;
const qint64 searchLimit = qint64(512) << 20;
// UTF-16 up to this size is edited decoded whole, which is faster than turning it into UTF-8
// and back a piece at a time but holds the file about four times over.
const qint64 utf16DecodedWhole = qint64(1) << 20;

// What an edit in pieces holds: the new bytes, with room for the usual growth.
qint64 PiecesMemory(qint64 size, bool keepsOriginal)
{
    return size + size / 8 + 4096 + (keepsOriginal ? size : 0);
}
// Up to this many find texts are searched for before an edit; the search looks for each in
// turn, so a long table of pairs goes straight to the edit, which finds them all in one pass.
const size_t searchedBeforeEdit = 8;

// Reads the file a piece at a time for a stream, setting result (and error) when a read fails.
struct PieceReads
{
    explicit PieceReads(StreamedRead &file) : file(file) {}
    StreamedRead &file;
    FileIoResult result = FileIoResult::Done;
    QString error;
    ChunkReader read()
    {
        return [this](char *data, qint64 size, qint64 &got) {
            result = file.read(data, size, got, &error);
            return result == FileIoResult::Done;
        };
    }
    ChunkRewind rewind()
    {
        return [this] {
            result = file.rewind(&error);
            return result == FileIoResult::Done;
        };
    }
};

// A search settled from the file read a piece at a time, in the memory of one piece whatever
// its size; nothing when the whole file is needed, which file then holds, opened.
std::optional<FileDecision> SearchInPieces(const FileTask &task, const FileRule &rule,
                                           StreamedRead &file, FileIdentity &identity,
                                           bool untilFirstMatch = false, bool *notUtf8 = nullptr)
{
    PieceReads reads(file);
    if (task.sourceTree->openRead(task.relativePath, file, &reads.error) != FileIoResult::Done)
        return SettledFailed(FailureKind::Unreadable, 0, reads.error);
    identity = file.identity();
    const StreamedSearch found =
        SearchStream(rule.searchTerms(), task.detectUtf16, reads.read(), reads.rewind(),
                     StreamChunkFor(identity.size), untilFirstMatch);
    if (found.result == StreamedSearch::ReadFailed) {
        if (reads.result == FileIoResult::Changed)
            return SettledFailed(FailureKind::ChangedDuringRun, identity.size);
        return SettledFailed(FailureKind::Unreadable, 0, reads.error);
    }
    if (notUtf8)
        *notUtf8 = found.notUtf8;
    if (found.result == StreamedSearch::Settled) {
        if (const std::optional<bool> matches = rule.decideFromPresence(found.presence))
            return Settled(*matches ? FileOutcome::Changed : FileOutcome::Unchanged, identity.size);
    }
    return std::nullopt;
}

// An edit of UTF-8 or GBK decided from the file read a piece at a time, with its new bytes
// written later from a second read, so that no file is held whole whatever its size; nothing
// when the whole file is needed, which file then holds, opened. A file a search found not to
// be UTF-8 is edited as GBK straight away.
std::optional<FileDecision> EditInPieces(const FileTask &task, const FileRule &rule,
                                         const ReserveMemory &reserve, StreamedRead &file,
                                         FileIdentity &identity, QByteArray &kept,
                                         std::vector<int> *hits, const char *&encodingName,
                                         bool notUtf8)
{
    QString error;
    if (!file.isOpen() &&
        task.sourceTree->openRead(task.relativePath, file, &error) != FileIoResult::Done)
        return SettledFailed(FailureKind::Unreadable, 0, error);
    identity = file.identity();
    const ByteEdit &edit = *rule.byteEditor();
    PieceReads reads(file);
    // Many pairs skip those that cannot match only on the whole text.
    if (identity.size <= editedOnWorkers && edit.matchesPairs())
        return std::nullopt;
    if (identity.size <= editedOnWorkers) {
        // Edited here, on the worker, as UTF-8 and, where it is none, as GBK, holding the new
        // bytes (and a plan's copy of the old ones).
        if (reserve)
            reserve(PiecesMemory(identity.size, task.keepsOriginal));
        QByteArray newBytes;
        // Room for the usual growth (CR LF for LF, longer replacements) in one allocation.
        newBytes.reserve(
            int(std::min<qint64>(identity.size + identity.size / 8 + 4096, editedOnWorkers * 2)));
        const EditWrite gather = [&](const char *data, qint64 size) {
            newBytes.append(data, int(size));
            return true;
        };
        // A plan keeps the bytes read as they pass, from the last start over.
        ChunkReader read = reads.read();
        ChunkRewind rewind = reads.rewind();
        if (task.keepsOriginal) {
            kept.reserve(int(identity.size));
            read = [&kept, read](char *data, qint64 size, qint64 &got) {
                if (!read(data, size, got))
                    return false;
                kept.append(data, int(got));
                return true;
            };
            rewind = [&kept, rewind] {
                kept.resize(0);
                return rewind();
            };
        }
        StreamedEdit edited;
        for (TextEncoding encoding = notUtf8 ? TextEncoding::Gbk : TextEncoding::Utf8;;
             encoding = TextEncoding::Gbk) {
            // Emptied, keeping the room reserved (clear() would give it up).
            newBytes.resize(0);
            kept.resize(0);
            // Small UTF-16 is edited faster decoded whole (utf16DecodedWhole).
            edited = EditStream(edit, task.detectUtf16, task.withBom, read, rewind, gather,
                                task.journaled, encoding, StreamChunkFor(identity.size),
                                identity.size > utf16DecodedWhole);
            if (edited.result != StreamedEdit::NeedsWholeFile || encoding == TextEncoding::Gbk ||
                !edited.notUtf8 || !reads.rewind()())
                break;
        }
        if (hits)
            *hits = edited.hits;
        switch (edited.result) {
        case StreamedEdit::Unchanged:
            kept.clear();
            return Settled(FileOutcome::Unchanged, identity.size);
        case StreamedEdit::Changed:
            if (hits)
                *hits = std::move(edited.hits);
            // A plan takes the encoding from here rather than checking the bytes again.
            if (task.keepsOriginal)
                encodingName = EncodingName(edited.encoding, kept);
            return ToWrite(task, identity.size, edited.originalHash, std::move(newBytes));
        case StreamedEdit::NeedsWholeFile:
            if (reads.result == FileIoResult::Done)
                return std::nullopt;
            break;
        default:
            break;
        }
        if (reads.result == FileIoResult::Changed)
            return SettledFailed(FailureKind::ChangedDuringRun, identity.size);
        return SettledFailed(FailureKind::Unreadable, 0, reads.error);
    }
    // A plan needs the bytes, which this size is not held for.
    if (task.keepsOriginal)
        return std::nullopt;
    // The journal's hash of the original is taken from the read that writes.
    const StreamedEdit decided = EditStream(edit, task.detectUtf16, task.withBom, reads.read(),
                                            reads.rewind(), EditWrite(), false);
    if (hits)
        *hits = decided.hits;
    switch (decided.result) {
    case StreamedEdit::Unchanged:
        return Settled(FileOutcome::Unchanged, identity.size);
    case StreamedEdit::Changed:
        break;
    case StreamedEdit::ReadFailed:
        if (reads.result == FileIoResult::Changed)
            return SettledFailed(FailureKind::ChangedDuringRun, identity.size);
        return SettledFailed(FailureKind::Unreadable, 0, reads.error);
    default:
        return std::nullopt;
    }
    FileDecision decision = Settled(FileOutcome::Changed, identity.size);
    decision.toWrite = true;
    const FileTree *tree = task.sourceTree;
    const QString relative = task.relativePath;
    const FileIdentity asRead = identity;
    const bool detectUtf16 = task.detectUtf16;
    const bool withBom = task.withBom;
    const bool journaled = task.journaled;
    decision.stream = [tree, relative, asRead, &edit, decided, detectUtf16, withBom,
                       journaled](const FileTree::ContentWrite &write, ReplacedContent &replaced,
                                  QString *error) {
        StreamedRead again;
        const FileIoResult opened = tree->openRead(relative, again, error);
        if (opened != FileIoResult::Done)
            return opened;
        if (again.identity() != asRead)
            return FileIoResult::Changed;
        ContentHasher hasher;
        qint64 size = 0;
        const EditWrite counted = [&](const char *data, qint64 length) {
            if (journaled)
                hasher.add(data, length);
            size += length;
            return write(data, length);
        };
        PieceReads reads(again);
        const StreamedEdit written =
            EditStream(edit, detectUtf16, withBom, reads.read(), reads.rewind(), counted, journaled,
                       decided.encoding, StreamChunkFor(asRead.size));
        if (written.result == StreamedEdit::WriteFailed)
            return FileIoResult::Failed; // the write's own failure is reported
        if (written.result == StreamedEdit::ReadFailed) {
            if (error)
                *error = reads.error;
            return reads.result;
        }
        // Any other answer than the same edit's: the file changed in between.
        if (written.result != StreamedEdit::Changed)
            return FileIoResult::Changed;
        if (journaled)
            replaced = {written.originalHash, size, hasher.hash()};
        return FileIoResult::Done;
    };
    return decision;
}

FileDecision Decide(const FileTask &task, const FileRule &rule, const ReserveMemory &reserve,
                    FileIdentity &identity, const char *&encodingName, std::vector<int> *hits,
                    QByteArray &kept)
{
    QByteArray bytes;
    QString error;
    SourceRead how;
    how.sizeLimit = FileSizeLimit(task.writes);
    // An edit in pieces reserves what it holds; should it need the whole file after all, the
    // reservation grows to that, waiting for the room as any other would.
    qint64 reserved = 0;
    const ReserveMemory reserveUpTo = [&](qint64 bytes) {
        if (reserve && bytes > reserved)
            reserve(bytes);
        reserved = std::max(reserved, bytes);
    };
    how.beforeAllocating = [&](qint64 size) { reserveUpTo(DecisionMemory(size, task.writes)); };
    FileIoResult read;
    StreamedRead file;
    const bool inPieces = task.sourceTree && !task.readsWhole;
    if (inPieces && !task.writes && rule.settlesFromBytes()) {
        std::optional<FileDecision> settled = SearchInPieces(task, rule, file, identity);
        // A match whose bytes are kept is read again, whole: most files of a tree do not match.
        if (settled && !(task.keepsOriginal && settled->outcome.kind == FileOutcome::Changed))
            return std::move(*settled);
        read = file.readWhole(how, bytes, &error);
    } else if (inPieces && task.writes && rule.byteEditor()) {
        // Most files of a tree hold no find text: the search settles them at its own speed,
        // where the edit would copy every byte only to learn that nothing changed. It stops at
        // the first find text, and the edit reads the file again from its start. One too large
        // to edit whole is left to the edit, which answers for it as a run that writes does.
        bool notUtf8 = false;
        if (rule.settlesFromBytes() && rule.searchTerms().size() <= searchedBeforeEdit) {
            std::optional<FileDecision> searched =
                SearchInPieces(task, rule, file, identity, true, &notUtf8);
            if (searched && identity.size <= FileSizeLimit(true))
                return std::move(*searched);
        }
        if (file.isOpen() && (read = file.rewind(&error)) != FileIoResult::Done)
            return read == FileIoResult::Changed
                       ? SettledFailed(FailureKind::ChangedDuringRun, identity.size)
                       : SettledFailed(FailureKind::Unreadable, 0, error);
        if (std::optional<FileDecision> decided = EditInPieces(
                task, rule, reserveUpTo, file, identity, kept, hits, encodingName, notUtf8))
            return std::move(*decided);
        kept.clear();
        read = file.readWhole(how, bytes, &error);
    } else {
        read = task.sourceTree
                   ? task.sourceTree->readFile(task.relativePath, how, bytes, &identity, &error)
                   : ReadSourceFile(task.sourcePath, how, bytes, &identity, &error);
    }
    switch (read) {
    case FileIoResult::Done:
        break;
    case FileIoResult::TooLarge:
        return SettledFailed(FailureKind::TooLarge, identity.size);
    case FileIoResult::Changed:
        return SettledFailed(FailureKind::ChangedDuringRun, identity.size);
    default:
        return SettledFailed(FailureKind::Unreadable, 0, error);
    }
    const qint64 size = bytes.size();
    if (task.keepsOriginal)
        kept = bytes;
    if (const FileConversion *conversion = rule.conversion()) {
        ConvertedFile converted = conversion->convert(bytes);
        encodingName = converted.sourceEncoding;
        return Converted(task, size, bytes, std::move(converted));
    }
    const EncodingDecision detected = DetectEncoding(bytes, task.detectUtf16);
    const TextEncoding encoding = detected.encoding;
    encodingName = EncodingName(encoding, bytes);
    // A guess between two encodings is searched, never written back.
    const auto toWrite = [&](quint64 originalHash, QByteArray newBytes) {
        if (detected.rival)
            return SettledFailed(FailureKind::UncertainEncoding, size,
                                 EncodingCandidates(encoding, *detected.rival));
        return ToWrite(task, size, originalHash, std::move(newBytes));
    };
    // No search would match it as GBK, and a rewrite would ruin it.
    if (encoding == TextEncoding::Gbk && IsDamagedUtf8(bytes.constData(), bytes.size()))
        return SettledFailed(FailureKind::DamagedUtf8, size);
    if (const std::optional<bool> changes = rule.decideFromBytes(bytes, encoding)) {
        // Only a search can be settled as a match from bytes; an edit needs its text.
        Q_ASSERT(!*changes || !task.writes);
        return Settled(*changes ? FileOutcome::Changed : FileOutcome::Unchanged, size);
    }
    if (task.writes) {
        QByteArray newBytes;
        switch (rule.editBytes(bytes, encoding, task.withBom, newBytes, hits)) {
        case ByteEdit::Outcome::Unchanged:
            return Settled(FileOutcome::Unchanged, size);
        case ByteEdit::Outcome::Changed:
            return toWrite(OriginalHash(task, bytes), std::move(newBytes));
        case ByteEdit::Outcome::Unknown:
            break;
        }
    }

    // UTF-16 without its mark passes for UTF-8, and an edit would break every character.
    const bool notText = task.writes && encoding != TextEncoding::Utf16Le &&
                         encoding != TextEncoding::Utf16Be && bytes.contains('\0');
    DecodedText decoded = DecodeBytes(bytes, encoding, task.writes);
    NormaliseLineEnds(decoded.text);
    if (!rule.apply(decoded.text, hits))
        return Settled(FileOutcome::Unchanged, size);
    const quint64 originalHash = OriginalHash(task, bytes);
    bytes = QByteArray();
    if (!task.writes)
        return Settled(FileOutcome::Changed, size);
    if (notText)
        return SettledFailed(FailureKind::NotText, size);
    if (!decoded.lossless)
        return SettledFailed(FailureKind::NotLossless, size);
    std::optional<QByteArray> encoded = EncodeText(decoded.text, decoded.encoding, task.withBom);
    if (!encoded)
        return SettledFailed(FailureKind::Unrepresentable, size);
    return toWrite(originalHash, std::move(*encoded));
}

} // namespace

qint64 FileSizeLimit(bool writes)
{
    return writes ? editLimit : searchLimit;
}

qint64 DecisionMemory(qint64 size, bool writes)
{
    return size * (writes ? 6 : 3);
}

FileDecision DecideTextFile(const FileTask &task, const FileRule &rule,
                            const ReserveMemory &reserve)
{
    FileIdentity identity;
    const char *encodingName = nullptr;
    try {
        std::vector<int> hits;
        QByteArray kept;
        FileDecision decision = Decide(task, rule, reserve, identity, encodingName,
                                       task.countsHits ? &hits : nullptr, kept);
        if (decision.outcome.kind != FileOutcome::Failed)
            decision.original = std::move(kept);
        if (decision.toWrite)
            decision.source = identity;
        decision.outcome.encoding = encodingName;
        if (decision.outcome.kind == FileOutcome::Changed)
            decision.hits = std::move(hits);
        return decision;
    } catch (const std::bad_alloc &) {
        // A replacement can grow a text past what memory or a Qt string holds.
        return SettledFailed(FailureKind::TooLarge, std::max<qint64>(identity.size, 0),
                             QString::fromLocal8Bit(std::strerror(ENOMEM)));
    }
}

void WritesAhead::prepare(const QString &relativePath, FileDecision &decision)
{
    if (!decision.toWrite || decision.stream || decision.outcome.kind == FileOutcome::Failed)
        return;
    if (held.fetch_add(1) >= most) {
        --held;
        return;
    }
    QString error;
    const FileIoResult prepared = tree.prepareInPlace(relativePath, decision.newBytes,
                                                      decision.source, decision.prepared, &error);
    if (prepared != FileIoResult::Done) {
        --held;
        decision.outcome = WriteOutcome(prepared, decision.outcome.bytes, error);
        return;
    }
    decision.preparedBytes = decision.newBytes.size();
    decision.newBytes = QByteArray();
}

void WritesAhead::taken(const FileDecision &decision)
{
    if (decision.prepared.isPending())
        --held;
}

struct TextFileWriter::Held
{
    QString nativePath;
    FileOutcome outcome;
    PendingWrite pending;
    // For a pending write in place: the original is kept just before the rename.
    RunJournal *journal = nullptr;
    FileTree *tree = nullptr;
    QString targetPath;
    QString relativePath;
    ReplacedContent replaced;
    bool inPlace = false;
    int entry = 0; // the journal's entry, once kept
};

// A confirmed group whose temporaries, kept originals and entries are being flushed to the
// disk, on another thread while the caller writes the next group's temporaries.
struct TextFileWriter::Flushing
{
    std::vector<Held> files;
    // Each tree the group wrote, and why its flush failed.
    std::vector<std::pair<FileTree *, QString>> trees;
    std::thread thread;
    std::atomic<bool> finished{false};

    void run()
    {
        for (auto &tree : trees) {
            if (!tree.first->flushWrites(&tree.second) && tree.second.isEmpty())
                tree.second = QStringLiteral("flush failed");
        }
        finished = true;
    }
    QString failureOf(const FileTree *tree) const
    {
        for (const auto &flushed : trees) {
            if (flushed.first == tree)
                return flushed.second;
        }
        return QString();
    }
};

TextFileWriter::TextFileWriter(Done done, std::function<void()> dropped)
    : done(std::move(done)), dropped(std::move(dropped))
{}

TextFileWriter::~TextFileWriter()
{
    flush();
}

void TextFileWriter::add(const QString &nativePath, FileDecision decision,
                         const WriteTarget &target)
{
    Held file;
    file.nativePath = nativePath;
    file.outcome = decision.outcome;
    const qint64 bytes = file.outcome.bytes;
    QString error;
    // A decision taken a piece at a time writes its new bytes as it reads the file again.
    qint64 written = decision.newBytes.size();
    const FileTree::StreamedContent content = [&](const FileTree::ContentWrite &write,
                                                  QString *why) {
        written = 0;
        return decision.stream(
            [&](const char *data, qint64 size) {
                written += size;
                return write(data, size);
            },
            decision.replaced, why);
    };
    if (decision.toWrite && !target.dryRun && decision.stream && !target.tree) {
        // Written by path, not through a held folder: the new bytes are gathered whole.
        QByteArray gathered;
        const FileIoResult result = content(
            [&](const char *data, qint64 size) {
                gathered.append(data, int(size));
                return true;
            },
            &error);
        if (result != FileIoResult::Done)
            file.outcome = WriteOutcome(result, bytes, error);
        decision.newBytes = std::move(gathered);
        decision.stream = nullptr;
    }
    if (!decision.toWrite || target.dryRun || file.outcome.kind == FileOutcome::Failed) {
        // settled
    } else if (!target.saveInSource && IsSameFile(target.targetPath, target.sourcePath)) {
        file.outcome = Failed(FailureKind::TargetIsSource, bytes);
    } else if (!target.saveInSource && target.sourceFiles &&
               target.sourceFiles->contains(target.targetPath)) {
        file.outcome = Failed(FailureKind::TargetIsOtherSource, bytes);
    } else if (target.saveInSource && target.tree && decision.prepared.isPending()) {
        file.pending = std::move(decision.prepared);
        written = decision.preparedBytes;
        file.journal = target.journal;
        file.inPlace = true;
    } else if (target.saveInSource && target.tree) {
        const FileIoResult prepared =
            decision.stream ? target.tree->prepareInPlace(target.relativePath, content,
                                                          decision.source, file.pending, &error)
                            : target.tree->prepareInPlace(target.relativePath, decision.newBytes,
                                                          decision.source, file.pending, &error);
        if (prepared != FileIoResult::Done)
            file.outcome = WriteOutcome(prepared, bytes, error);
        file.journal = target.journal;
        file.inPlace = true;
    } else if (target.saveInSource) {
        const auto keepOriginal = [&](QString *why) {
            return !target.journal ||
                   target.journal->keepOriginal(target.targetPath, target.relativePath,
                                                decision.replaced, why);
        };
        const FileIoResult replaced = ReplaceInPlace(target.sourcePath, decision.newBytes,
                                                     decision.source, keepOriginal, &error);
        if (replaced != FileIoResult::Done)
            file.outcome = WriteOutcome(replaced, bytes, error);
    } else if (target.tree) {
        const int slash = target.relativePath.lastIndexOf(QLatin1Char('/'));
        if (slash > 0 && !target.tree->makeFolder(target.relativePath.left(slash),
                                                  FileTree::Access::Shared, &error)) {
            file.outcome = Failed(FailureKind::FolderFailed, bytes, error);
        } else if (decision.stream) {
            const FileIoResult prepared =
                target.tree->prepareFile(target.relativePath, content, file.pending, &error);
            if (prepared != FileIoResult::Done)
                file.outcome = WriteOutcome(prepared, bytes, error);
        } else if (!target.tree->prepareFile(target.relativePath, decision.newBytes, file.pending,
                                             &error)) {
            file.outcome = Failed(FailureKind::WriteFailed, bytes, error);
        }
    } else if (!MakeFolderPath(FolderOf(target.targetPath), &error)) {
        file.outcome = Failed(FailureKind::FolderFailed, bytes, error);
    } else if (!WriteTextFile(target.targetPath, decision.newBytes, &error)) {
        file.outcome = Failed(FailureKind::WriteFailed, bytes, error);
    }
    if (!file.pending.isPending() && held.empty() && !flushing) {
        if (done && !done(file.nativePath, file.outcome) && dropped)
            dropped();
        return;
    }
    if (file.pending.isPending()) {
        file.tree = target.tree;
        file.targetPath = target.targetPath;
        file.relativePath = target.relativePath;
        file.replaced = decision.replaced;
        ++pendingFiles;
        pendingBytes += written;
    }
    held.push_back(std::move(file));
    if (pendingFiles >= groupFiles || pendingBytes >= groupBytes)
        sendGroup();
    else if (flushing && flushing->finished)
        putInPlace();
}

void TextFileWriter::flush()
{
    putInPlace();
    if (!held.empty())
        startFlushing(false);
    putInPlace();
}

void TextFileWriter::sendGroup()
{
    putInPlace();
    if (!held.empty())
        startFlushing(flushes && flushesAside);
    if (!flushes || !flushesAside)
        putInPlace();
}

void TextFileWriter::startFlushing(bool inBackground)
{
    // The originals are kept, and their entries written, once every temporary is.
    for (Held &file : held) {
        if (!file.pending.isPending())
            continue;
        QString error;
        const auto keepOriginal = [&](QString *why) {
            return !file.journal || file.journal->keepOriginal(file.targetPath, file.relativePath,
                                                               file.replaced, why, &file.entry);
        };
        const FileIoResult confirmed = file.pending.confirm(
            file.inPlace ? BeforeReplace(keepOriginal) : BeforeReplace(), &error);
        if (confirmed != FileIoResult::Done)
            file.outcome = WriteOutcome(confirmed, file.outcome.bytes, error);
    }
    flushing = std::make_unique<Flushing>();
    flushing->files.swap(held);
    pendingFiles = 0;
    pendingBytes = 0;
    // One flush for each file system written: temporaries, kept originals and entries.
    for (const Held &file : flushing->files) {
        auto &trees = flushing->trees;
        if (flushes && file.pending.isPending() &&
            std::none_of(trees.begin(), trees.end(),
                         [&](const auto &tree) { return tree.first == file.tree; }))
            trees.emplace_back(file.tree, QString());
    }
    if (inBackground && !flushing->trees.empty()) {
        try {
            flushing->thread = std::thread(&Flushing::run, flushing.get());
            return;
        } catch (const std::system_error &) {
            // flushed here instead
        }
    }
    flushing->run();
}

void TextFileWriter::putInPlace()
{
    if (!flushing)
        return;
    if (flushing->thread.joinable())
        flushing->thread.join();
    const std::unique_ptr<Flushing> group = std::move(flushing);
    bool stopped = false;
    for (Held &file : group->files) {
        if (!stopped && file.pending.isPending()) {
            // Nothing is renamed over a file before its new bytes are known to be on the disk.
            QString error = group->failureOf(file.tree);
            const FileIoResult committed =
                error.isEmpty() ? file.pending.commit(&error) : FileIoResult::Failed;
            if (committed != FileIoResult::Done)
                file.outcome = WriteOutcome(committed, file.outcome.bytes, error);
        }
        // A file left as it was must not keep a second name in the journal.
        if ((stopped || file.outcome.kind == FileOutcome::Failed) && file.journal &&
            file.entry != 0)
            file.journal->dropEntry(file.entry);
        file.pending.drop();
        if (stopped)
            continue;
        if (done && !done(file.nativePath, file.outcome)) {
            stopped = true;
            if (dropped && (&file != &group->files.back() || !held.empty()))
                dropped();
        }
    }
    // The next group's files, written meanwhile, are not put in place after a stop either;
    // otherwise those of them with nothing to write are reported now, not after that group.
    auto settled = held.begin();
    while (!stopped && settled != held.end() && !settled->pending.isPending()) {
        stopped = done && !done(settled->nativePath, settled->outcome);
        ++settled;
        if (stopped && dropped && settled != held.end())
            dropped();
    }
    held.erase(held.begin(), stopped ? held.end() : settled);
    folders.release();
}

FileOutcome FinishTextFile(FileDecision decision, const WriteTarget &target)
{
    FileOutcome outcome;
    TextFileWriter writer([&](const QString &, const FileOutcome &result) {
        outcome = result;
        return true;
    });
    writer.add(QString(), std::move(decision), target);
    writer.flush();
    return outcome;
}
