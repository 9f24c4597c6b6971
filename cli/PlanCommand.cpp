#include "cli/PlanCommand.h"

#include <QCoreApplication>
#include <QTextCodec>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>

#include "cli/Console.h"
#include "cli/ProgressBar.h"
#include "cli/RunCommand.h"
#include "cli/SourceLock.h"
#include "engine/batch/LaunchChecks.h"
#include "engine/files/FileIo.h"
#include "engine/files/FileNames.h"
#include "engine/files/FileSystem.h"
#include "engine/files/Paths.h"
#include "engine/files/SettingsFiles.h"
#include "engine/journal/TreeLock.h"
#include "engine/report/Reports.h"
#include "engine/run/Plan.h"
#include "engine/run/PlanFile.h"
#include "engine/run/TextFile.h"

namespace {

bool LocaleIsUtf8()
{
    static const bool utf8 = QTextCodec::codecForLocale()->mibEnum() == 106;
    return utf8;
}

QByteArray Text(const QString &text)
{
    // The same bytes; Qt's own UTF-8 encoder is several times faster than the locale's codec.
    return LocaleIsUtf8() ? text.toUtf8() : text.toLocal8Bit();
}

// The file's unified diff: "--- PATH", "+++ PATH" with its encoding after a tab, then hunks.
QByteArray FileDiff(const PlannedFile &file)
{
    const QByteArray path = EncodeFileName(file.relativePath);
    const QByteArray encoding = EncodingName(file.encoding).toLatin1();
    QByteArray diff = "--- " + path + '\t' + encoding + '\n';
    diff += "+++ " + path + '\t' + encoding + '\n';
    for (const DiffHunk &hunk : file.hunks) {
        if (file.utf8Hunks)
            AppendUnifiedHunkUtf8(hunk, diff);
        else
            diff += Text(UnifiedHunk(hunk));
    }
    return diff;
}

QString PlanPath(const QString &path)
{
    return AbsoluteCleanPath(path);
}

// A plan is written outside the trees it is about (where a run would scan or write it), and
// only over nothing or an older plan, never over a file of another kind.
bool MayWritePlan(const QString &path, const BatchSettings &settings, Console &console)
{
    const QString shown = NativeSeparators(path);
    if (FolderInside(path, settings.sourceDir) ||
        (!settings.saveInSource && FolderInside(path, settings.saveDir))) {
        console.printLine(QCoreApplication::translate(
                              "PlanCommand",
                              "parafold-cli: the plan %1 must not lie inside the source or "
                              "save folder")
                              .arg(shown));
        return false;
    }
    if (EntryExists(path) && !LooksLikePlan(path)) {
        console.printLine(
            QCoreApplication::translate(
                "PlanCommand", "parafold-cli: %1 exists and is not a plan; it is not replaced")
                .arg(shown));
        return false;
    }
    return true;
}

// Writes a plan's lines to its file from a thread of its own while the run goes on: held
// until the end, tens of megabytes of lines would be written after the run, and would take
// fresh memory from the workers for every file. The file is opened with the first planned
// file, after the scan, which must not find its temporary.
class PlanWriter
{
public:
    PlanWriter(QString path, QByteArray header) : path(std::move(path))
    {
        lines.push_back(std::move(header));
    }
    ~PlanWriter() { finish(false); }
    PlanWriter(const PlanWriter &) = delete;
    PlanWriter &operator=(const PlanWriter &) = delete;

    void add(QByteArray line)
    {
        const std::lock_guard<std::mutex> lock(mutex);
        queued += line.size();
        lines.push_back(std::move(line));
        if (!thread.joinable())
            thread =
                std::thread([this] { written = WriteTextFile(this->path, content(), &error); });
        // Woken for a megabyte at a time: a wake-up for each file would take the workers'
        // processors from them as often.
        if (queued >= wakeBytes)
            ready.notify_one();
    }

    // Waits for every line to be written and the file to replace any before it; with keep
    // cleared, drops it instead. False, with the reason in why, when it cannot be written.
    bool finish(bool keep, QString *why = nullptr)
    {
        {
            const std::lock_guard<std::mutex> lock(mutex);
            if (closed)
                return written;
            closed = true;
            kept = keep;
            ready.notify_one();
        }
        if (thread.joinable())
            thread.join();
        else if (keep)
            written = WriteTextFile(path, content(), &error);
        if (why)
            *why = error;
        return written;
    }

private:
    std::function<bool(const PieceWrite &write)> content()
    {
        return [this](const PieceWrite &write) {
            for (;;) {
                std::deque<QByteArray> taken;
                bool last = false;
                {
                    std::unique_lock<std::mutex> lock(mutex);
                    ready.wait(lock, [this] { return queued >= wakeBytes || closed; });
                    taken.swap(lines);
                    queued = 0;
                    last = closed;
                }
                for (const QByteArray &line : taken) {
                    if (!write(line.constData(), line.size()))
                        return false;
                }
                if (last)
                    return kept;
            }
        };
    }

    const QString path;
    std::mutex mutex;
    std::condition_variable ready;
    std::deque<QByteArray> lines;
    qint64 queued = 0; // bytes in lines
    static constexpr qint64 wakeBytes = 1 << 20;
    bool closed = false;
    bool kept = false;
    std::thread thread;
    bool written = false;
    QString error;
};

} // namespace

std::function<void(const QString &relativePath, FileDecision &decision)>
FoundLinesFinder(const BatchSettings &settings, int context)
{
    PlanOptions planOptions;
    planOptions.context = context;
    planOptions.withHunks = false;
    return [&settings, planOptions](const QString &relativePath, FileDecision &decision) {
        if (decision.outcome.kind == FileOutcome::Changed) {
            PlannedFile found = PlanFromDecision(Operation::FindText, settings, relativePath,
                                                 decision, planOptions);
            decision.attachedBytes = found.heldBytes();
            decision.attachment = std::move(found);
        }
        decision.original = QByteArray(); // the lines found are all that is printed
    };
}

std::function<void(const QString &relativePath, const FileDecision &decision)>
FoundLinesPrinter(const BatchSettings &settings, Console &console)
{
    return [&settings, &console, printed = false](const QString &relativePath,
                                                  const FileDecision &decision) mutable {
        const PlannedFile *planned = std::any_cast<PlannedFile>(&decision.attachment);
        if (!planned || planned->failed)
            return;
        const PlannedFile &file = *planned;
        const QByteArray path =
            EncodeFileName(NativeSeparators(JoinPath(settings.sourceDir, relativePath)));
        QByteArray lines;
        int previous = 0;
        size_t found = 0;
        for (const auto &[number, text] : file.foundLines) {
            // Groups apart, and those of different files, are parted by "--".
            if (printed && (previous == 0 || number != previous + 1))
                lines += "--\n";
            printed = true;
            const bool holds =
                found < file.foundLineNumbers.size() && file.foundLineNumbers[found] == number;
            if (holds)
                ++found;
            const char separator = holds ? ':' : '-';
            lines += path + separator + QByteArray::number(number) + separator + Text(text) + '\n';
            previous = number;
        }
        console.writeLines(lines);
    };
}

int PlanCommand(const CommandRequest &request, Console &console, std::atomic_bool &stop,
                const std::atomic_bool &interrupted)
{
    BatchSettings settings;
    QString refusal;
    if (!CaptureSettings(request, settings, refusal)) {
        console.printLine(CliRefusal(refusal, settings));
        return ExitFailure;
    }
    std::optional<PlanWriter> planWriter;
    if (request.planGiven) {
        if (!MayWritePlan(PlanPath(request.planFile), settings, console))
            return ExitFailure;
        planWriter.emplace(PlanPath(request.planFile), PlanHeaderLine(request.operation, settings));
    }
    int planned = 0;
    int listed = 0; // the plan's lines of files, failed ones too
    // Each file's plan line and diff are made on the thread that planned it.
    const auto render = [&request](PlannedFile &file) {
        file.rendered = {request.planGiven ? PlanFileLine(file) : QByteArray(),
                         request.diff && !file.failed ? FileDiff(file) : QByteArray()};
        // Only the output goes on; the texts are freed here, where the next file reuses
        // their memory.
        file.changes = {};
        file.hunks = {};
    };
    const auto filePlanned = [&](const PlannedFile &file) {
        ++listed;
        if (planWriter)
            planWriter->add(file.rendered.at(0));
        if (file.failed)
            return;
        ++planned;
        if (request.diff)
            console.writeLines(file.rendered.at(1));
    };
    CommandRequest quietList = request;
    RunObserver observer;
    // The diff or the plan is the output; the paths are not listed besides.
    observer.fileDecided = [](const QString &, const FileDecision &) {};
    int status = RunWithConsole(
        quietList, request.operation, console, stop, interrupted,
        [&](const RunObserver &withConsole, const RunOptions &options) {
            PlanOptions planOptions;
            planOptions.withHunks = request.diff;
            planOptions.utf8Texts = true; // the plan file's JSON is UTF-8
            planOptions.utf8Hunks = LocaleIsUtf8();
            planOptions.render = render;
            return MakePlan(request.operation, settings, filePlanned, withConsole, options,
                            planOptions);
        },
        observer);
    if (status == ExitInterrupted)
        return status;
    if (planWriter) {
        planWriter->add(PlanEndLine(listed));
        QString error;
        if (!planWriter->finish(true, &error)) {
            console.printLine(QCoreApplication::translate(
                                  "PlanCommand", "parafold-cli: cannot write the plan %1: %2")
                                  .arg(NativeSeparators(PlanPath(request.planFile)), error));
            return ExitFailure;
        }
    }
    if (status == ExitFailure)
        return status;
    return planned > 0 ? ExitFound : ExitNoneFound;
}

int ApplyCommand(const CommandRequest &request, Console &console, std::atomic_bool &stop,
                 const std::atomic_bool &interrupted)
{
    StoredPlan plan;
    QString error;
    if (!ReadPlanFile(PlanPath(request.planFile), plan, error)) {
        console.printLine(
            QCoreApplication::translate("PlanCommand", "parafold-cli: the plan %1 is refused: %2")
                .arg(NativeSeparators(request.planFile), error));
        return ExitFailure;
    }
    if (plan.operation == Operation::FindText) {
        console.printLine(QCoreApplication::translate(
            "PlanCommand", "parafold-cli: a search plan has nothing to apply"));
        return ExitFailure;
    }
    // Where and how to write is the command line's: the plan's folders are only compared.
    BatchSettings chosen;
    chosen.sourceDir = AbsoluteFolder(request.source);
    chosen.saveInSource = request.inPlace;
    chosen.saveDir = request.inPlace ? QString() : AbsoluteFolder(request.saveDir);
    chosen.journal = !request.noJournal;
    BatchSettings settings = plan.settings;
    settings.sourceDir = chosen.sourceDir;
    settings.saveInSource = chosen.saveInSource;
    settings.saveDir = chosen.saveDir;
    SetReportPaths(settings);
    const QString refusal = FolderCheckMessage(plan.operation, settings);
    if (!refusal.isEmpty()) {
        console.printLine(CliRefusal(refusal, settings));
        return ExitFailure;
    }
    if (!PlanFitsFolders(plan.settings, chosen)) {
        console.printLine(CliRefusal(messagePlanMismatch(), settings));
        const QString source = NativeSeparators(plan.settings.sourceDir);
        console.printLine(
            plan.settings.saveInSource
                ? QCoreApplication::translate("PlanCommand",
                                              "parafold-cli: the plan was made for %1, in place")
                      .arg(source)
                : QCoreApplication::translate(
                      "PlanCommand", "parafold-cli: the plan was made for %1, saving into %2")
                      .arg(source, NativeSeparators(plan.settings.saveDir)));
        return ExitFailure;
    }
    TreeLock treeLock;
    if (const int status =
            LockSourceTree(plan.settings.sourceDir, request.noWait, console, treeLock, interrupted))
        return status;
    if (request.report)
        DeleteStaleReports(settings);
    return RunWithConsole(request, plan.operation, console, stop, interrupted,
                          [&](const RunObserver &observer, const RunOptions &options) {
                              return ApplyPlan(plan, chosen, observer, options);
                          });
}
