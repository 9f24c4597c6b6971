#pragma once

#include "engine/batch/BatchSettings.h"
#include "engine/journal/TreeLock.h"
#include "engine/worker/ThreadObject.h"

#include <QMainWindow>
#include <QPoint>
#include <QPointer>
#include <QSize>
#include <QString>
#include <QSystemTrayIcon>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class ConvertTab;
class QLineEdit;
class QMessageBox;
class ResultsDialog;
class RecentTerms;
class RulesControl;
struct ReplacementRule;
class QThread;
class QTimer;
class ThreadObject;
class UndoControl;

namespace platform {
class RunLock;
}

namespace Ui {
class MainWindow;
}

class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    // `settingsFilePath` names the settings file that fills the two folder fields now and
    // that launches store the chosen folders in.
    explicit MainWindow(const QString &settingsFilePath, QWidget *parent = nullptr);
    // Ends a working run after the file in hand and waits for it.
    ~MainWindow() override;

    // Shows a report that a run has written. Called on the worker thread, before the run
    // ends; the default asks the desktop's viewer to open it. A viewer calls notOpened (from
    // any thread) when it could not show the report.
    using ReportViewer =
        std::function<void(const QString &reportPath, const std::function<void()> &notOpened)>;
    void setReportOpener(ReportViewer viewer);
    // From a launch until its run has ended, reports written; a launch meanwhile is refused.
    bool isRunWorking() const { return runWorks; }
    // While a run or an undo works, the window holds the lock of its tree (TreeLock), which
    // keeps every other operation on that tree waiting, and the lock at `path`
    // (platform::RunLockPath()), which tells a newly started copy that this one is busy.
    void setRunLockPath(const std::string &path);
    // Fills the source field, as `Parafold FOLDER` does (a file stands for its folder).
    void setSourceFolder(const QString &folder);
    // A folder handed over by a second start: fills the source field (unless empty) and
    // brings the window to the front, leaving all else as it is.
    void takeHandedOverFolder(const QString &folder);

signals:
    void pBtn_ReplaceExcelText_HasClicked();
    void pBtn_ReplaceExcelText_2_HasClicked();
    void pBtn_JustFindText_HasClicked();
    void pBtn_InsertText_HasClicked();
    void pBtn_ConvertEncoding_HasClicked();
    void pBtn_ConvertChinese_HasClicked();

public slots:
    void ShowSoftWindow();
    void SystemTrayActivated(QSystemTrayIcon::ActivationReason reason);

private slots:
    void on_pBtn_SourcePath_clicked();
    void on_pBtn_ReplaceExcelText_clicked();
    void on_ShowDisposingFile(QString filePath);
    void on_Set_pBtn_Enable();
    void on_Set_pBtn_Disable();
    void on_pBtn_JustFindText_clicked();
    void on_pBtn_ReplaceExcelText_2_clicked();
    void on_pBtn_InsertText_clicked();
    void on_pBtn_MustRead_clicked();
    void on_pBtn_SavePath_clicked();

protected:
    void showEvent(QShowEvent *event) override;
    // While a run works, asks whether to go on or to stop after the file in hand and quit.
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void SetUpKeyboard();
    void FitInsertBox();
    void LoadFolders();
    void LoadFileMasks(const QByteArray &content);
    void SetUpRecentTerms();
    void RememberTerms(Operation operation);
    void PickFolder(QLineEdit *field);
    void Launch(Operation operation);
    bool CaptureSettings(Operation operation);
    void CaptureFindTerms(BatchSettings &settings) const;
    void StoreFolders(Operation operation);
    QWidget *FieldAtFault(Operation operation, const QString &refusal) const;
    void ShowRefusal(Operation operation, const QString &refusal);
    void ShowReportLocation(const QString &reportPath);
    void ShowReportNotOpened();
    void RetireWorker();
    void StartWorker(Operation operation, ThreadObject::Mode mode = ThreadObject::Mode::Run,
                     const ReviewedPlan &reviewed = {});
    void Preview(Operation operation);
    void ApplyReviewed(const ReviewedFiles &files);
    ResultsDialog *OpenResults(Operation operation, bool applicable);
    void RunEnded();
    void ProgressChanged();
    void ShowProgress();
    void ShowProgressText(const QString &text);
    void ShowRunControls();
    void HideRunControls();
    void StopRun();
    bool MayQuit();
    // Takes the lock of the tree a run or an undo will write in; false, having shown why,
    // while another operation holds it or when it cannot be trusted.
    bool ClaimRunLock(const QString &sourceDir);
    void ShowBusyBox();
    void CloseBusyBox();
    void ReleaseRunLock();
    bool MayInsertInPlace();
    // Asks before an in-place run that cannot be repeated harmlessly (insert) or rewrites
    // every file (conversion); true for the others.
    bool MayRunInPlace(Operation operation);
    // Asks whether to run rules of which a later one finds an earlier one's output.
    bool MayRunChains(const std::vector<ReplacementRule> &rules);
    // Asks whether typed box lines holding a line feed or tab escape mean it.
    bool MayRunEscapes(const QStringList &lines);
    void PlaceStatusRow(int tab);

    Ui::MainWindow *ui;
    int screenWidth = 0;
    int screenHeight = 0;
    int windowHeight = 0;
    int windowWidth = 0;
    QThread *workerThread;
    ThreadObject *worker;
    const QString settingsFilePath;
    ReportViewer reportViewer;
    // From a launch until the worker's slot has returned, reports written.
    bool runWorks = false;
    // The user chose to stop and quit; the application ends when the run has.
    bool quitAfterRun = false;
    // Lets the file in hand and the progress bar change at most about 20 times a second.
    QTimer *progressGate;
    std::unique_ptr<platform::RunLock> runLock;
    TreeLock treeLock;
    UndoControl *undoControl = nullptr;
    ConvertTab *convertTab = nullptr;
    RulesControl *rulesControl = nullptr;
    RecentTerms *recentFind = nullptr;
    RecentTerms *recentReplace = nullptr;
    RecentTerms *recentSearch = nullptr;
    // A change of progress arrived while the gate was closed.
    bool progressPending = false;
    // Lights the status line up for a moment when a launch is refused.
    QTimer *refusalFlash = nullptr;
    QString flashStyle;
    // The busy notice while it is up.
    QPointer<QMessageBox> busyBox;
    // A report no viewer opened, to be named once the run's statistics line is up.
    QString reportNotOpened;
    // The results of the last preview or search, while open; the preview's settings and
    // operation, which its apply runs with whatever the form holds by then.
    QPointer<ResultsDialog> results;
    // Where a run's failures go when their report cannot be written: the run's own results
    // view, or one opened for them.
    QPointer<ResultsDialog> failuresView;
    BatchSettings previewSettings;
    Operation previewOperation = Operation::ReplaceText;
    // Where the keyboard was when the launch took the focus to the stop button.
    QPointer<QWidget> focusBeforeRun;
};

QString messageRunWorks(); // "正在处理中,请等待当前操作完成!"

// Opens a report in the desktop's viewer (Notepad on Windows); callable from any thread.
// notOpened is called on the GUI thread when no viewer took it.
void OpenReportInViewer(const QString &reportPath, const std::function<void()> &notOpened);

// The window's working size: `wanted`, made smaller where the screen's free area, less room
// for the window's frame, is smaller.
QSize FittedWindowSize(const QSize &wanted, const QSize &available);

// Top-left corner that centres a window of `window` size on a screen of `screen` size,
// kept on the screen when the screen is the smaller.
QPoint CentredTopLeft(const QSize &screen, const QSize &window);

// The settings file in the application folder.
QString SettingsFilePath(const QString &applicationFolder);

// The rich text of the help box.
QString HelpText();
