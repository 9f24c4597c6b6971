#pragma once

#include "engine/batch/BatchSettings.h"
#include "engine/run/Plan.h"

#include <QHash>
#include <QMetaType>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVector>
#include <atomic>
#include <functional>

// Where a run stands, for a progress display.
struct RunProgress
{
    // The native path of the .txt file in hand; once the last file is done, the statistics line.
    QString text;
    int done = 0;   // .txt files handled
    int total = -1; // .txt files the scan found; -1 until the scan is over
};

// One file of a plan, as a results view shows it: what would change in it (or, for the
// find-only operation, where it matches), or why it cannot be handled.
struct PlanRow
{
    QString relativePath; // below the source folder: the key the apply takes
    QString nativePath;
    QString encoding;         // "GBK", "UTF-8", ...
    int matches = 0;          // all terms or pairs together
    QVector<int> eachMatches; // per term or pair, in the settings' order
    QString failure;          // empty for a file that can be applied
    quint64 hash = 0;         // the content the plan was made from
    quint64 newHash = 0;      // the content the plan would write
    quint64 changesHash = 0;  // ChangesHash of the changes below
    // The changed places: the line, the old lines and the new (for a search, the found
    // line twice).
    QVector<int> lines;
    QStringList before;
    QStringList after;
};
Q_DECLARE_METATYPE(PlanRow)

// The worker of one launch: made and set up on the GUI thread, then moved to a thread of
// its own, where a slot runs the whole batch (RunBatch) and returns when the reports are
// written. Each slot takes a copy of the process-wide batchSettings when it starts, so a
// later launch may fill the record again meanwhile.
class ThreadObject : public QObject
{
    Q_OBJECT

public:
    explicit ThreadObject(QObject *parent = nullptr);

    // The opener shows a written report to the user. It is called on the worker's thread, so
    // set it before a slot runs. Notepad on Windows by default, none elsewhere; the window
    // passes the desktop's viewer.
    void setReportOpener(std::function<void(const QString &reportPath)> opener);
    // Thread-safe: the run ends after the file in hand (one not started yet, before its first
    // file). The request is cleared when the slot returns.
    void requestStop();
    // Thread-safe: where the run stands now. Taking it lets progressChanged come again.
    RunProgress takeProgress();

    enum class Mode
    {
        Run,     // the run as it always was
        Preview, // a plan only, written nowhere: each file comes through filePlanned; a
                 // search runs as ever, reports and all, and gives its files the same way
        Apply,   // the run on the reviewed files only (setReviewed), each as it was reviewed
    };
    // For the next slot; set before it runs.
    void setMode(Mode mode) { this->mode = mode; }
    // The plan to apply, on the folders of batchSettings, in its mode, with its journal.
    void setReviewed(const ReviewedPlan &plan) { reviewed = plan; }

signals:
    // A file of the plan, or a matched file of a search, as the run reaches it.
    void filePlanned(PlanRow row);
    // Where the run stands has changed since it was last taken. Sent once until it is taken,
    // so that however fast the files go by, at most one waits in the receiver's queue; the
    // receiver decides how often to look.
    void progressChanged();
    // The statistics line as soon as the last file is done (once more, with a note, after the
    // reports when one could not be written), or the refusal of a run that RunBatch refused.
    // The files in hand come through progressChanged.
    void ShowDisposingFile(QString filePath);
    // After the statistics line or refusal, before the reports are written.
    void Set_pBtn_Enable();
    // A file that failed, its reason in PlanRow::failure, when the list of failed files could
    // not be written: the failures are shown rather than lost. Before runDone.
    void failureUnreported(PlanRow row);
    // After a run of pairs that wrote (not a preview): each rule as "find → replacement" and
    // its hits, before runDone.
    void rulesCounted(QStringList rules, QVector<qint64> hits);
    // The slot is about to return; the reports are written.
    void runDone();

public slots:
    void ReplaceExcelText();
    void JustFindText();
    void ReplaceExcelText_2();
    void InsertText();
    void ConvertEncoding();
    void ConvertChinese();

private:
    void run(Operation operation);
    template <typename Change> void changeProgress(Change change);

    std::function<void(const QString &)> reportOpener;
    Mode mode = Mode::Run;
    ReviewedPlan reviewed;
    std::atomic_bool stop{false};
    QMutex progressLock;
    RunProgress progress;      // guarded by progressLock
    bool progressSent = false; // guarded by progressLock: progressChanged not taken yet
};
