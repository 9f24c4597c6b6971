#include "app/UndoControl.h"

#include "app/ConfigFile.h"
#include "engine/batch/BatchSettings.h"
#include "engine/batch/LaunchChecks.h"
#include "engine/files/FileSystem.h"
#include "engine/files/Paths.h"
#include "engine/files/SettingsFiles.h"
#include "engine/journal/RunDescription.h"
#include "engine/report/Reports.h"

#include <QAction>
#include <QBoxLayout>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTimer>

QString undoButtonText()
{
    return QCoreApplication::translate("UndoControl", "Undo the last edit");
}

namespace {

const int listedAtMost = 20;

// Puts the button right after `beside` in whatever row holds it.
void PlaceBeside(QPushButton *button, QWidget *beside)
{
    for (QBoxLayout *row : beside->parentWidget()->findChildren<QBoxLayout *>()) {
        const int at = row->indexOf(beside);
        if (at >= 0) {
            row->insertWidget(at + 1, button);
            // Tab reaches it right after its neighbour, not after the whole form.
            QWidget::setTabOrder(beside, button);
            return;
        }
    }
}

QStringList NotRestoredLines(const std::vector<UndoFile> &files)
{
    QStringList lines;
    for (const UndoFile &file : files)
        lines.append(ReportLineWithReason(file.nativePath, file.reason));
    return lines;
}

QString NotRestoredText(const QStringList &lines)
{
    QString text;
    for (int i = 0; i < lines.size() && i < listedAtMost; ++i)
        text += lines[i] + QLatin1Char('\n');
    if (lines.size() > listedAtMost)
        text += QCoreApplication::translate("UndoControl", "…… %1 more files not restored")
                    .arg(lines.size() - listedAtMost);
    return text;
}

} // namespace

UndoControl::UndoControl(const Widgets &widgets, const QString &settingsFilePath,
                         std::function<bool(const QString &source)> claim,
                         std::function<void()> release, QWidget *window)
    : QObject(window), widgets(widgets), claim(std::move(claim)), release(std::move(release)),
      window(window), undoButton(new QPushButton(undoButtonText(), widgets.beside->parentWidget())),
      undoAction(new QAction(undoButtonText(), widgets.tray ? static_cast<QObject *>(widgets.tray)
                                                            : static_cast<QObject *>(this)))
{
    QByteArray content;
    ReadConfigFile(content, settingsFilePath);
    batchSettings.journal = GetConfigValue(content, "journal") != "0";
    undoButton->setObjectName(QStringLiteral("pBtn_UndoLastRun"));
    undoButton->setToolTip(tr("Puts back the files as they were before the last run that saved in "
                              "the source folder. The undo journal is in the source folder's "
                              ".parafold-journal and keeps the last %1 runs within %2 MB")
                               .arg(journalKeptRuns)
                               .arg(journalLimitMegabytes));
    PlaceBeside(undoButton, widgets.beside);
    connect(undoButton, &QPushButton::clicked, this, &UndoControl::undoLastRun);

    if (QMenu *menu = widgets.tray ? widgets.tray->contextMenu() : nullptr) {
        // Above the last entry, which quits.
        const QList<QAction *> actions = menu->actions();
        menu->insertAction(actions.isEmpty() ? nullptr : actions.last(), undoAction);
    }
    connect(undoAction, &QAction::triggered, this, &UndoControl::undoLastRun);
}

UndoControl::~UndoControl()
{
    if (thread) {
        stop = true;
        thread->wait();
    }
}

void UndoControl::undoLastRun()
{
    if (working)
        return;
    const QString source = widgets.sourceField->text();
    if (!FolderExists(source)) {
        widgets.statusLabel->setText(messageSourceMissing());
        return;
    }
    QString message;
    const std::optional<JournalRun> run = FindUndoRun(source, QString(), message);
    if (!run) {
        widgets.statusLabel->setText(message);
        return;
    }
    const QString question =
        tr("This undoes %3 of %1 in %2 and restores %4 files.\nFiles changed again since then are "
           "not restored.\n\nContinue?")
            .arg(RunTimeText(*run), NativeSeparators(source), RunDescription(*run))
            .arg(UndoFilesLeft(*run));
    if (QMessageBox::question(window, undoButtonText(), question,
                              QMessageBox::Yes | QMessageBox::No,
                              QMessageBox::No) != QMessageBox::Yes)
        return;
    // A run may have started while the question was up; claim shows why it must wait.
    if (working || (claim && !claim(source)))
        return;
    start(*run);
}

void UndoControl::start(const JournalRun &run)
{
    working = true;
    stop = false;
    filesDone = 0;
    notRestored.clear();
    progress = new QProgressDialog(undoButtonText(), QString(), 0, UndoFilesLeft(run), window);
    // Enter pressed for the question before, or meant for another window, must not stop it.
    auto *stopButton = new QPushButton(tr("Stop"), progress);
    stopButton->setAutoDefault(false);
    stopButton->setDefault(false);
    progress->setCancelButton(stopButton);
    progress->setWindowModality(Qt::WindowModal);
    progress->setMinimumDuration(300);
    connect(progress, &QProgressDialog::canceled, this, [this] { stop = true; });
    ticker = new QTimer(progress);
    // setValue of a modal box handles events, and the undo may end in there: the box goes
    // only later, and the ticker is stopped first.
    connect(ticker, &QTimer::timeout, progress, [this] {
        if (progress)
            progress->setValue(filesDone);
    });
    ticker->start(100);

    const QString source = widgets.sourceField->text();
    thread = QThread::create([this, source, run] {
        result = UndoRun(
            source, run, false,
            [this](const UndoFile &file) {
                if (file.status == UndoFile::Refused || file.status == UndoFile::Failed)
                    notRestored.push_back(file);
                ++filesDone;
            },
            &stop);
    });
    connect(thread, &QThread::finished, this, [this, run] { finish(run); });
    undoButton->setEnabled(false);
    undoAction->setEnabled(false);
    thread->start();
}

void UndoControl::finish(const JournalRun &run)
{
    thread->wait(); // finished comes just before the thread's last steps
    delete thread;
    thread = nullptr;
    if (ticker)
        ticker->stop();
    if (progress) {
        progress->hide();
        progress->deleteLater();
    }
    progress = nullptr;
    if (release)
        release();
    undoButton->setEnabled(true);
    undoAction->setEnabled(true);
    const QString summary = UndoSummaryLine(run, result, false);
    widgets.statusLabel->setText(summary);

    // The list of an earlier undo would tell of files that are fine now.
    const QString reportPath = JoinPath(widgets.sourceField->text(), reportNotUndoneName);
    if (!IsFolder(reportPath) && FileExists(reportPath))
        RemoveFile(reportPath);
    if (!notRestored.empty()) {
        const QStringList lines = NotRestoredLines(notRestored);
        QString error;
        const QString where =
            WriteReport(reportPath, lines, &error)
                ? tr("List written to %1").arg(NativeSeparators(reportPath))
                : tr("Cannot write the list %1: %2").arg(NativeSeparators(reportPath), error);
        QMessageBox box(QMessageBox::Warning, undoButtonText(),
                        summary + tr("\nThese files were not restored:"), QMessageBox::Ok, window);
        box.setInformativeText(NotRestoredText(lines) + QLatin1Char('\n') + where);
        box.setDetailedText(lines.join(QLatin1Char('\n')));
        box.exec();
    }
    working = false;
    emit undoFinished();
}
