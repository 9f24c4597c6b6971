#include "app/MainWindow.h"

#include "Version.h"
#include "app/ConfigFile.h"
#include "app/ConvertTab.h"
#include "app/FolderDrops.h"
#include "app/RecentTerms.h"
#include "app/ResultsDialog.h"
#include "app/RulesControl.h"
#include "app/SystemTray.h"
#include "app/UndoControl.h"
#include "ui_mainwindow.h"

#include "engine/batch/BatchSettings.h"
#include "engine/batch/FileMasks.h"
#include "engine/batch/LaunchChecks.h"
#include "engine/files/Paths.h"
#include "engine/files/SettingsFiles.h"
#include "engine/report/ReportViewer.h"
#include "engine/worker/ThreadObject.h"
#include "platform/Program.h"
#include "platform/RunLock.h"

#include <QAccessible>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QGroupBox>
#include <QGuiApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QShortcut>
#include <QStyle>
#include <QTabBar>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <QtMath>

#include <algorithm>

QString messageRunWorks()
{
    return QCoreApplication::translate("MainWindow",
                                       "Busy: wait until the current operation ends!");
}

namespace {

QString noticeTitle()
{
    return QCoreApplication::translate("MainWindow", "Note:");
}
QString messageQuitDuringRun()
{
    return QCoreApplication::translate(
        "MainWindow",
        "A run is in progress. Quit now?\n\nContinue: process every file.\nStop and quit: stop "
        "after the file in hand, write the list of the files processed, then quit.");
}
QString answerContinue()
{
    return QCoreApplication::translate("MainWindow", "Continue");
}
QString answerStopAndQuit()
{
    return QCoreApplication::translate("MainWindow", "Stop and quit");
}

// Room for the window frame that the system draws around the window.
const QSize frameAllowance(16, 40);
// The shortest time between two changes of the file in hand that the window shows; faster
// changes flood the event queue and a screen reader.
constexpr int progressInterval = 50; // milliseconds
// How many lines a pair box keeps when the window is short.
constexpr int pairBoxLines = 2;
constexpr int refusalFlashMs = 600;
constexpr int insertBoxHeight = 80;

// The window asks for something to find where the command line, for scripts, takes an empty
// search as matching everything.
bool LacksSearchText(Operation operation, const BatchSettings &settings)
{
    if (operation == Operation::FindText)
        return settings.searchTerms.isEmpty() && settings.anyTerms.isEmpty() &&
               settings.noneTerms.isEmpty();
    if (operation == Operation::ReplacePairs)
        return std::all_of(settings.findLines.cbegin(), settings.findLines.cend(),
                           [](const QString &line) { return line.isEmpty(); });
    return false;
}

// The window's run signal and the worker's slot of each operation.
struct OperationWiring
{
    void (MainWindow::*signal)();
    void (ThreadObject::*slot)();
};

OperationWiring Wiring(Operation operation)
{
    switch (operation) {
    case Operation::ReplaceText:
        return {&MainWindow::pBtn_ReplaceExcelText_HasClicked, &ThreadObject::ReplaceExcelText};
    case Operation::ReplacePairs:
        return {&MainWindow::pBtn_ReplaceExcelText_2_HasClicked, &ThreadObject::ReplaceExcelText_2};
    case Operation::FindText:
        return {&MainWindow::pBtn_JustFindText_HasClicked, &ThreadObject::JustFindText};
    case Operation::ConvertEncoding:
        return {&MainWindow::pBtn_ConvertEncoding_HasClicked, &ThreadObject::ConvertEncoding};
    case Operation::ConvertChinese:
        return {&MainWindow::pBtn_ConvertChinese_HasClicked, &ThreadObject::ConvertChinese};
    case Operation::InsertText:
        break;
    }
    return {&MainWindow::pBtn_InsertText_HasClicked, &ThreadObject::InsertText};
}

} // namespace

MainWindow::MainWindow(const QString &settingsFilePath, QWidget *parent)
    : QMainWindow(parent), ui(new Ui::MainWindow), workerThread(nullptr), worker(nullptr),
      settingsFilePath(settingsFilePath), progressGate(new QTimer(this))
{
    reportViewer = OpenReportInViewer;
    ui->setupUi(this);
    progressGate->setSingleShot(true);
    progressGate->setInterval(progressInterval);
    connect(progressGate, &QTimer::timeout, this, [this] {
        if (progressPending)
            ShowProgress();
    });
    ui->pBar_RunProgress->hide();
    ui->pBtn_Stop->hide();
    connect(ui->pBtn_Stop, &QPushButton::clicked, this, &MainWindow::StopRun);
    // The conversion has a tab of its own, so the first keeps its form as it is.
    convertTab = new ConvertTab(ui->lEdt_SourcePath, ui->lEdt_SavePath, ui->cBox_SaveInSrc);
    // Scrolled like the first page, so that neither tab makes the window wider than it must be.
    auto *convertPage = new QScrollArea;
    convertPage->setObjectName(QStringLiteral("scrollArea_Convert"));
    convertPage->setWidgetResizable(true);
    convertPage->setFrameShape(QFrame::NoFrame);
    convertPage->setFocusPolicy(Qt::NoFocus);
    convertPage->setWidget(convertTab);
    ui->tabWidget->addTab(convertPage, tr("Encoding conversion"));
    connect(convertTab->convertButton(), &QPushButton::clicked, this,
            [this] { Launch(Operation::ConvertEncoding); });
    connect(convertTab->chineseButton(), &QPushButton::clicked, this,
            [this] { Launch(Operation::ConvertChinese); });
    connect(ui->tabWidget, &QTabWidget::currentChanged, this, &MainWindow::PlaceStatusRow);
    // The rule tables sit above the pairs' button, which keeps its place at the right.
    rulesControl =
        new RulesControl(ui->pTEdt_FindText, ui->pTEdt_ReplaceExcelText, settingsFilePath, this);
    ui->horizontalLayout_multi->removeWidget(ui->pBtn_ReplaceExcelText_2);
    auto *pairsColumn = new QVBoxLayout;
    pairsColumn->setSpacing(2);
    pairsColumn->addWidget(rulesControl->tableList());
    pairsColumn->addWidget(rulesControl->menuButton());
    pairsColumn->addStretch();
    pairsColumn->addWidget(ui->pBtn_ReplaceExcelText_2);
    ui->horizontalLayout_multi->addLayout(pairsColumn);
    setTabOrder(ui->pTEdt_ReplaceExcelText, rulesControl->tableList());
    setTabOrder(rulesControl->tableList(), rulesControl->menuButton());
    setTabOrder(rulesControl->menuButton(), ui->pBtn_ReplaceExcelText_2);
    SetUpKeyboard();
    SetUpRecentTerms();

    const QScreen *screen = QGuiApplication::primaryScreen();
    const QSize screenSize = screen ? screen->size() : QSize(0, 0);
    const QRect available = screen ? screen->availableGeometry() : QRect();
    screenWidth = screenSize.width();
    screenHeight = screenSize.height();
    const QSize form = size();
    // Never larger than the screen leaves room for, as on a small or scaled screen.
    const QSize working = available.isEmpty()
                              ? QSize(form.width(), 500)
                              : FittedWindowSize(QSize(form.width(), 500), available.size());
    windowWidth = working.width();
    windowHeight = form.height();
    QPoint topLeft = CentredTopLeft(screenSize, QSize(windowWidth, windowHeight));
    if (!available.isEmpty()) {
        const QPoint last(
            available.x() + available.width() - working.width() - frameAllowance.width(),
            available.y() + available.height() - working.height() - frameAllowance.height());
        topLeft = QPoint(qBound(available.left(), topLeft.x(), last.x()),
                         qBound(available.top(), topLeft.y(), last.y()));
    }
    move(topLeft);

    setWindowTitle(QStringLiteral("Parafold" PARAFOLD_VERSION));
    setWindowIcon(QIcon(QStringLiteral(":/images/cvn.ico")));

    trayIcon = new SystemTray(this);
    connect(trayIcon, &SystemTray::showWidget, this, &MainWindow::ShowSoftWindow);
    connect(trayIcon, &QSystemTrayIcon::activated, this, &MainWindow::SystemTrayActivated);
    trayIcon->setQuitGuard([this] { return MayQuit(); });
    undoControl = new UndoControl(
        {ui->pBtn_MustRead, trayIcon, ui->lEdt_SourcePath, ui->lb_ShowDisposingFile},
        settingsFilePath,
        [this](const QString &source) {
            if (!runWorks)
                return ClaimRunLock(source);
            ShowBusyBox();
            return false;
        },
        [this] { ReleaseRunLock(); }, this);
    // Asked to stop and quit during an undo: its summary first, then the end.
    connect(undoControl, &UndoControl::undoFinished, this, [this] {
        CloseBusyBox();
        if (!quitAfterRun)
            return;
        quitAfterRun = false;
        QMessageBox::about(this, undoButtonText(), ui->lb_ShowDisposingFile->text());
        QCoreApplication::quit();
    });

    // Centred for the form's full height, then shown shorter.
    windowHeight = working.height();
    resize(windowWidth, windowHeight);

    LoadFolders();
}

MainWindow::~MainWindow()
{
    // The run ends after the file in hand; a file is never left half-written.
    if (worker)
        worker->requestStop();
    RetireWorker();
    if (trayIcon && trayIcon->parent() == this)
        trayIcon = nullptr;
    delete ui;
}

void MainWindow::SetUpKeyboard()
{
    // Tab leaves a multi-line box instead of typing a tab into it.
    for (QPlainTextEdit *box : findChildren<QPlainTextEdit *>())
        box->setTabChangesFocus(true);
    // Enter in a single-line field presses its function's button; a disabled one ignores it.
    const auto pressOnEnter = [this](QLineEdit *field, QPushButton *button) {
        connect(field, &QLineEdit::returnPressed, button, &QPushButton::click);
    };
    pressOnEnter(ui->lEdt_FindText, ui->pBtn_ReplaceExcelText);
    pressOnEnter(ui->lEdt_ReplaceExcelText, ui->pBtn_ReplaceExcelText);
    pressOnEnter(ui->lEdt_JustFindText, ui->pBtn_JustFindText);
    pressOnEnter(ui->lEdt_AnyTerms, ui->pBtn_JustFindText);
    pressOnEnter(ui->lEdt_NoneTerms, ui->pBtn_JustFindText);
    // Return and Enter press the focused button, as Windows users expect of every button.
    // (Not by making them default buttons: the Windows style would widen each one.)
    for (QPushButton *button : findChildren<QPushButton *>())
        button->installEventFilter(this);
    // Esc stops a run after the file in hand, as the stop button does.
    auto *stopKey = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(stopKey, &QShortcut::activated, this, &MainWindow::StopRun);
    // The scroll area only holds the form; Tab goes straight to its fields.
    ui->scrollArea->setFocusPolicy(Qt::NoFocus);
    // Each function by its short name; the long title, with its warning, as its description.
    const auto nameGroup = [](QGroupBox *group, const QString &name) {
        group->setAccessibleName(name);
        group->setAccessibleDescription(group->title());
    };
    nameGroup(ui->groupBox_2, tr("Function 1: Find and replace"));
    nameGroup(ui->groupBox_3, tr("Function 2: Find only"));
    nameGroup(ui->groupBox, tr("Function 3: Insert text"));
    // A folder dropped anywhere else on the window is the one to work on.
    FolderDrops::Fill(ui->lEdt_SourcePath, ui->lEdt_SourcePath);
    FolderDrops::Fill(ui->lEdt_SavePath, ui->lEdt_SavePath);
    FolderDrops::Fill(this, ui->lEdt_SourcePath);
    ui->lEdt_SourcePath->setFocus();
}

void MainWindow::setSourceFolder(const QString &folder)
{
    ui->lEdt_SourcePath->setText(FolderHandedOver(folder));
}

void MainWindow::takeHandedOverFolder(const QString &folder)
{
    if (!folder.isEmpty())
        setSourceFolder(folder);
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    show();
    raise();
    activateWindow();
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        auto *button = qobject_cast<QPushButton *>(watched);
        if (button && (key == Qt::Key_Return || key == Qt::Key_Enter)) {
            button->click();
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::showEvent(QShowEvent *event)
{
    // A tab bar with one tab is a Tab stop that leads nowhere.
    ui->tabWidget->tabBar()->setFocusPolicy(ui->tabWidget->count() > 1 ? Qt::TabFocus
                                                                       : Qt::NoFocus);
    // The fonts are known once the window has its screen and style. A group's fixed minimum
    // height must not squeeze its rows where the fonts are taller than the form was drawn
    // for.
    for (QGroupBox *group : findChildren<QGroupBox *>()) {
        if (group->minimumHeight() > 0)
            group->setMinimumHeight(
                qMax(group->minimumHeight(), group->minimumSizeHint().height()));
    }
    // The pair boxes give up height first, down to a few lines, so that all three functions
    // fit without scrolling.
    for (QPlainTextEdit *box : {ui->pTEdt_FindText, ui->pTEdt_ReplaceExcelText}) {
        const int frame = 2 * box->frameWidth() + 2 * qCeil(box->document()->documentMargin());
        box->setMinimumHeight(pairBoxLines * box->fontMetrics().lineSpacing() + frame);
    }
    // A tall window gives its height to the pair boxes; the insert group keeps its rows
    // together instead of spreading its radio buttons apart.
    ui->groupBox->setSizePolicy(ui->groupBox->sizePolicy().horizontalPolicy(),
                                QSizePolicy::Maximum);
    // The stop button appears in the status row during a run without moving anything.
    ui->lb_ShowDisposingFile->setMinimumHeight(ui->pBtn_Stop->sizeHint().height());
    QMainWindow::showEvent(event);
    FitInsertBox();
}

void MainWindow::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    FitInsertBox();
}

// The insert box keeps its 80 pixels where the window has room; where the form would not fit
// (a short or scaled screen) it gives up height, down to two lines, so that the last group is
// not cut off at the bottom.
void MainWindow::FitInsertBox()
{
    QPlainTextEdit *box = ui->pTEdt_InsertText;
    const int frame = 2 * box->frameWidth() + 2 * qCeil(box->document()->documentMargin());
    const int twoLines = pairBoxLines * box->fontMetrics().lineSpacing() + frame;
    box->setMinimumHeight(insertBoxHeight);
    const int shortBy =
        ui->scrollArea->widget()->minimumSizeHint().height() - ui->scrollArea->viewport()->height();
    if (shortBy > 0)
        box->setMinimumHeight(qMax(qMin(twoLines, insertBoxHeight), insertBoxHeight - shortBy));
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (MayQuit())
        event->accept();
    else
        event->ignore();
}

void MainWindow::LoadFolders()
{
    QByteArray content;
    ReadConfigFile(content, settingsFilePath);
    ui->lEdt_SourcePath->setText(FromConfigBytes(GetConfigValue(content, "sourcePath")));
    ui->lEdt_SavePath->setText(FromConfigBytes(GetConfigValue(content, "savePath")));
    LoadFileMasks(content);
}

void MainWindow::LoadFileMasks(const QByteArray &content)
{
    const QString masks = FromConfigBytes(GetConfigValue(content, "fileMasks"));
    ui->lEdt_FileMasks->setText(masks.isEmpty() ? FileMasks().text() : masks);
}

void MainWindow::ShowSoftWindow()
{
    showNormal();
    resize(windowWidth, windowHeight);
    raise();
    activateWindow();
}

void MainWindow::SystemTrayActivated(QSystemTrayIcon::ActivationReason reason)
{
    if (reason == QSystemTrayIcon::DoubleClick || reason == QSystemTrayIcon::Trigger)
        ShowSoftWindow();
}

void MainWindow::setRunLockPath(const std::string &path)
{
    runLock = std::make_unique<platform::RunLock>(path);
}

void MainWindow::setReportOpener(ReportViewer viewer)
{
    reportViewer = std::move(viewer);
}

void MainWindow::PickFolder(QLineEdit *field)
{
    // Starts in the folder already in the field, when there is one.
    const QString start = FolderExists(field->text()) ? field->text() : QStringLiteral(".");
    const QString folder = QFileDialog::getExistingDirectory(this, tr("Choose a folder"), start,
                                                             QFileDialog::ShowDirsOnly |
                                                                 QFileDialog::DontResolveSymlinks);
    if (folder.isEmpty())
        return;
    // A root such as "/" or "D:/" already ends in its separator.
    field->setText(folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/'));
}

void MainWindow::on_pBtn_SourcePath_clicked()
{
    PickFolder(ui->lEdt_SourcePath);
}

void MainWindow::on_pBtn_SavePath_clicked()
{
    PickFolder(ui->lEdt_SavePath);
}

void MainWindow::Launch(Operation operation)
{
    // A click that waited in the queue while a run or an undo worked is dropped: the user
    // pressed it for the run that has just ended.
    if (runWorks || (undoControl && undoControl->isWorking()))
        return;
    if (operation != Operation::FindText && ui->cBox_Preview->isChecked()) {
        Preview(operation);
        return;
    }
    if (!CaptureSettings(operation))
        return;
    SetReportPaths(batchSettings);
    // A launch refused for its own text deletes nothing; the folder messages come first.
    if (LacksItsText(operation, batchSettings) || LacksSearchText(operation, batchSettings)) {
        const QString refusal = FolderCheckMessage(operation, batchSettings);
        ShowRefusal(operation, refusal.isEmpty() ? messageEmptyFind() : refusal);
        return;
    }
    QString refusal = FolderCheckMessage(operation, batchSettings);
    // Inserting twice puts the text in twice, and a conversion rewrites the whole tree: asked
    // once, naming the folder.
    if (refusal.isEmpty() && batchSettings.saveInSource && !MayRunInPlace(operation))
        return;
    // A launch refused for its folders deletes its stale reports and writes nothing else: not
    // even the tree's lock file.
    if (refusal.isEmpty() && !ClaimRunLock(batchSettings.sourceDir))
        return;
    DeleteStaleReports(batchSettings);
    refusal = FolderCheckMessage(operation, batchSettings);
    if (!refusal.isEmpty()) {
        ReleaseRunLock();
        ShowRefusal(operation, refusal);
        return;
    }
    StoreFolders(operation);
    RememberTerms(operation);
    if (operation != Operation::ReplacePairs)
        ui->lb_ShowDisposingFile->clear();
    ShowRunControls();
    on_Set_pBtn_Disable();
    RetireWorker();
    // With 先预览 a search fills the results view too, its report written as ever.
    const bool listed = operation == Operation::FindText && ui->cBox_Preview->isChecked();
    if (listed)
        OpenResults(operation, false);
    StartWorker(operation, listed ? ThreadObject::Mode::Preview : ThreadObject::Mode::Run);
}

void MainWindow::Preview(Operation operation)
{
    if (!CaptureSettings(operation))
        return;
    SetReportPaths(batchSettings);
    // A plan is checked as the run would be, but writes nothing, not even a report, so it
    // needs no run lock.
    QString refusal = FolderCheckMessage(operation, batchSettings);
    if (refusal.isEmpty() && LacksSearchText(operation, batchSettings))
        refusal = messageEmptyFind();
    if (!refusal.isEmpty()) {
        ShowRefusal(operation, refusal);
        return;
    }
    RememberTerms(operation);
    previewSettings = batchSettings;
    previewOperation = operation;
    ui->lb_ShowDisposingFile->clear();
    ShowRunControls();
    on_Set_pBtn_Disable();
    RetireWorker();
    ResultsDialog *dialog = OpenResults(operation, true);
    connect(dialog, &ResultsDialog::applyRequested, this, &MainWindow::ApplyReviewed);
    StartWorker(operation, ThreadObject::Mode::Preview);
}

ResultsDialog *MainWindow::OpenResults(Operation operation, bool applicable)
{
    if (results)
        results->close();
    results = new ResultsDialog(operation, batchSettings, applicable, this);
    results->setOpener([viewer = reportViewer](const QString &path) { viewer(path, {}); });
    results->show();
    return results;
}

void MainWindow::ApplyReviewed(const ReviewedFiles &files)
{
    // Nothing checked writes nothing, and leaves the last run's reports alone.
    if (files.isEmpty())
        return;
    if (runWorks || (undoControl && undoControl->isWorking())) {
        ShowBusyBox();
        return;
    }
    // The preview's texts, on the folders and in the mode the form holds now, which must be
    // those the preview was made for; the journal is the window's, as for every run.
    const bool journal = batchSettings.journal;
    batchSettings = previewSettings;
    batchSettings.journal = journal;
    batchSettings.sourceDir = PathHandedOver(ui->lEdt_SourcePath->text());
    batchSettings.saveDir = PathHandedOver(ui->lEdt_SavePath->text());
    batchSettings.saveInSource = ui->cBox_SaveInSrc->isChecked();
    SetReportPaths(batchSettings);
    QString refusal = FolderCheckMessage(previewOperation, batchSettings);
    if (refusal.isEmpty() && !PlanFitsFolders(previewSettings, batchSettings))
        refusal = messagePlanMismatch();
    if (!refusal.isEmpty()) {
        ui->lb_ShowDisposingFile->setText(refusal);
        return;
    }
    // In place, asked as a direct run asks; a no leaves the view open.
    if (batchSettings.saveInSource && !MayRunInPlace(previewOperation))
        return;
    if (!ClaimRunLock(batchSettings.sourceDir))
        return;
    if (results)
        results->close();
    DeleteStaleReports(batchSettings);
    refusal = FolderCheckMessage(previewOperation, batchSettings);
    if (!refusal.isEmpty()) {
        ReleaseRunLock();
        ui->lb_ShowDisposingFile->setText(refusal);
        return;
    }
    ui->lb_ShowDisposingFile->clear();
    ShowRunControls();
    on_Set_pBtn_Disable();
    RetireWorker();
    StartWorker(previewOperation, ThreadObject::Mode::Apply,
                {previewOperation, previewSettings, files});
}

bool MainWindow::MayRunChains(const std::vector<ReplacementRule> &rules)
{
    // Enough to recognise the rules; a table of hundreds may have many more.
    constexpr size_t shown = 10;
    const RuleChains found = FindRuleChains(rules, nullptr, shown);
    if (found.total == 0)
        return true;
    QStringList lines;
    for (const RuleChain &chain : found.chains)
        lines << DescribeChain(rules, chain);
    if (found.total > qint64(shown))
        lines << tr("... and %1 more").arg(found.total - qint64(shown));
    QMessageBox box(QMessageBox::Question, tr("Rules that rewrite each other"),
                    tr("Rules apply in order, each on the text the earlier ones left, so these "
                       "rules rewrite what an earlier rule put in:\n%1\n\nRun them anyway?")
                        .arg(lines.join(QLatin1Char('\n'))),
                    QMessageBox::Yes | QMessageBox::Cancel, this);
    box.button(QMessageBox::Yes)->setText(tr("Continue"));
    box.setDefaultButton(QMessageBox::Cancel);
    return box.exec() == QMessageBox::Yes;
}

bool MainWindow::MayRunEscapes(const QStringList &lines)
{
    if (lines.isEmpty())
        return true;
    QMessageBox box(QMessageBox::Question, tr("Line feeds and tabs in the boxes"),
                    tr("In the boxes, as in a rule table, \\n stands for a line feed and \\t for "
                       "a tab (a backslash itself is written \\\\). These typed lines hold one:\n%1"
                       "\n\nRun them with line feeds and tabs?")
                        .arg(lines.mid(0, 10).join(QLatin1Char('\n'))),
                    QMessageBox::Yes | QMessageBox::Cancel, this);
    box.button(QMessageBox::Yes)->setText(tr("Continue"));
    box.setDefaultButton(QMessageBox::Cancel);
    return box.exec() == QMessageBox::Yes;
}

bool MainWindow::CaptureSettings(Operation operation)
{
    BatchSettings &settings = batchSettings;
    // Shown as taken, so that the field and the remembered folder agree.
    ui->lEdt_SourcePath->setText(PathHandedOver(ui->lEdt_SourcePath->text()));
    ui->lEdt_SavePath->setText(PathHandedOver(ui->lEdt_SavePath->text()));
    settings.sourceDir = ui->lEdt_SourcePath->text();
    settings.fileMasks = ui->lEdt_FileMasks->text();
    switch (operation) {
    case Operation::ReplaceText:
        settings.findText = ui->lEdt_FindText->text();
        settings.replaceText = ui->lEdt_ReplaceExcelText->text();
        break;
    case Operation::ReplacePairs: {
        // The boxes, or the table they were filled from (its rules switched off left out).
        RulesControl::BoxProblems problems;
        const std::vector<ReplacementRule> rules =
            rulesControl->runRules(settings.findLines, settings.replaceLines, &problems);
        if (!problems.errors.isEmpty()) {
            QMessageBox::warning(this, tr("Rules"), problems.errors.join(QLatin1Char('\n')));
            ui->pTEdt_FindText->setFocus(Qt::OtherFocusReason);
            return false;
        }
        if (!MayRunEscapes(problems.escapes))
            return false;
        if (settings.findLines.size() != settings.replaceLines.size()) {
            QMessageBox::about(this, messageCountMismatchTitle(),
                               messageCountMismatch() +
                                   tr("\nTexts to find: %1 lines; replacements: %2 lines.")
                                       .arg(settings.findLines.size())
                                       .arg(settings.replaceLines.size()));
            return false;
        }
        if (!MayRunChains(rules))
            return false;
        break;
    }
    case Operation::FindText:
        // An input method's full-width bars are the separator as the user meant it.
        CaptureFindTerms(settings);
        settings.detectUtf16 = ui->cBox_UTF16->isChecked();
        return true;
    case Operation::InsertText:
        settings.insertAtFront = ui->rBtn_InsertFront->isChecked();
        settings.insertText = ui->pTEdt_InsertText->document()->toPlainText();
        break;
    case Operation::ConvertEncoding:
    case Operation::ConvertChinese:
        convertTab->capture(settings);
        break;
    }
    settings.withBom = ui->cBox_WithBom->isChecked();
    settings.detectUtf16 = ui->cBox_UTF16->isChecked();
    settings.saveDir = ui->lEdt_SavePath->text();
    settings.saveInSource = ui->cBox_SaveInSrc->isChecked();
    return true;
}

void MainWindow::CaptureFindTerms(BatchSettings &settings) const
{
    // An input method's full-width bars are the separator as the user meant it.
    const auto terms = [](const QLineEdit *field) {
        return field->text().replace(QStringLiteral("｜｜"), QStringLiteral("||"));
    };
    settings.searchTerms = terms(ui->lEdt_JustFindText);
    settings.anyTerms = terms(ui->lEdt_AnyTerms);
    settings.noneTerms = terms(ui->lEdt_NoneTerms);
}

// The field a refusal is about, where the user goes next.
QWidget *MainWindow::FieldAtFault(Operation operation, const QString &refusal) const
{
    if (refusal == messageSourceMissing() || refusal == messageFolderMissing() ||
        refusal == messageSourceReadOnly())
        return ui->lEdt_SourcePath;
    if (refusal == messageSaveMissing() || refusal == messageSameFolder() ||
        refusal == messageSaveInsideSource() || refusal == messageSaveReadOnly())
        return ui->lEdt_SavePath;
    if (refusal == messageEmptyInsert())
        return ui->pTEdt_InsertText;
    if (refusal.startsWith(messageBadFileMask()))
        return ui->lEdt_FileMasks;
    if (refusal != messageEmptyFind())
        return nullptr;
    switch (operation) {
    case Operation::ReplaceText:
        return ui->lEdt_FindText;
    case Operation::ReplacePairs:
        return ui->pTEdt_FindText;
    case Operation::FindText:
        return ui->lEdt_JustFindText;
    case Operation::InsertText:
    case Operation::ConvertEncoding:
    case Operation::ConvertChinese:
        break;
    }
    return ui->pTEdt_InsertText;
}

// A refusal in the status line, visibly new even when its words are the ones already there:
// the line lights up for a moment, and the focus goes to the field at fault.
void MainWindow::ShowRefusal(Operation operation, const QString &refusal)
{
    QString text = refusal;
    if (refusal == messageSaveMissing())
        text += tr("To edit the original files, check “Save in the source folder (back up!)”.");
    QLabel *label = ui->lb_ShowDisposingFile;
    label->setText(text);
    if (!refusalFlash) {
        refusalFlash = new QTimer(this);
        refusalFlash->setSingleShot(true);
        refusalFlash->setInterval(refusalFlashMs);
        const QString normal = label->styleSheet();
        connect(refusalFlash, &QTimer::timeout, label,
                [label, normal] { label->setStyleSheet(normal); });
        flashStyle = normal + QStringLiteral("background-color: rgb(255, 225, 225);");
    }
    label->setStyleSheet(flashStyle);
    refusalFlash->start();
    if (QWidget *field = FieldAtFault(operation, refusal))
        field->setFocus(Qt::OtherFocusReason);
}

void MainWindow::StoreFolders(Operation operation)
{
    // An unwritable settings file only means the folders are not remembered.
    SetConfigValue(settingsFilePath, "sourcePath", ToConfigBytes(batchSettings.sourceDir));
    SetConfigValue(settingsFilePath, "fileMasks", ToConfigBytes(batchSettings.fileMasks));
    if (operation != Operation::FindText)
        SetConfigValue(settingsFilePath, "savePath", ToConfigBytes(batchSettings.saveDir));
}

void MainWindow::SetUpRecentTerms()
{
    recentFind = new RecentTerms(ui->lEdt_FindText, "recentFind", settingsFilePath);
    recentReplace = new RecentTerms(ui->lEdt_ReplaceExcelText, "recentReplace", settingsFilePath);
    recentSearch = new RecentTerms(ui->lEdt_JustFindText, "recentSearch", settingsFilePath);
}

void MainWindow::RememberTerms(Operation operation)
{
    if (operation == Operation::ReplaceText) {
        recentFind->remember();
        recentReplace->remember();
    } else if (operation == Operation::FindText) {
        recentSearch->remember();
    }
}

void MainWindow::RetireWorker()
{
    if (workerThread) {
        workerThread->quit();
        workerThread->wait();
    }
    delete worker;
    worker = nullptr;
    delete workerThread;
    workerThread = nullptr;
}

void MainWindow::StartWorker(Operation operation, ThreadObject::Mode mode,
                             const ReviewedPlan &reviewed)
{
    workerThread = new QThread;
    worker = new ThreadObject;
    // A report no viewer took is named in the status line, on the window's own thread.
    worker->setReportOpener(
        [viewer = reportViewer, window = QPointer<MainWindow>(this)](const QString &reportPath) {
            viewer(reportPath, [window, reportPath] {
                QMetaObject::invokeMethod(
                    window, [window, reportPath] { window->ShowReportLocation(reportPath); },
                    Qt::QueuedConnection);
            });
        });
    worker->setMode(mode);
    worker->setReviewed(reviewed);
    if (results && mode != ThreadObject::Mode::Apply)
        connect(worker, &ThreadObject::filePlanned, results, &ResultsDialog::addRow);
    failuresView = mode == ThreadObject::Mode::Preview ? results : nullptr;
    connect(worker, &ThreadObject::failureUnreported, this, [this, operation](const PlanRow &row) {
        if (!failuresView)
            failuresView = OpenResults(operation, false);
        failuresView->addRow(row);
    });
    worker->moveToThread(workerThread);
    workerThread->start();

    const OperationWiring wiring = Wiring(operation);
    connect(worker, &ThreadObject::ShowDisposingFile, this, &MainWindow::on_ShowDisposingFile,
            Qt::UniqueConnection);
    connect(this, wiring.signal, worker, wiring.slot, Qt::UniqueConnection);
    connect(worker, &ThreadObject::Set_pBtn_Enable, this, &MainWindow::on_Set_pBtn_Enable,
            Qt::UniqueConnection);
    connect(worker, &ThreadObject::rulesCounted, rulesControl, &RulesControl::showHits,
            Qt::UniqueConnection);
    connect(worker, &ThreadObject::runDone, this, &MainWindow::RunEnded, Qt::UniqueConnection);
    connect(worker, &ThreadObject::progressChanged, this, &MainWindow::ProgressChanged,
            Qt::UniqueConnection);
    runWorks = true;
    emit(this->*wiring.signal)();
}

// Without a viewer the report would seem never written: the status line says where it is.
void MainWindow::ShowReportLocation(const QString &reportPath)
{
    reportNotOpened = reportPath;
    if (!runWorks)
        ShowReportNotOpened();
}

void MainWindow::ShowReportNotOpened()
{
    if (reportNotOpened.isEmpty())
        return;
    ui->lb_ShowDisposingFile->setText(ui->lb_ShowDisposingFile->text() +
                                      tr("\nCannot open the list; please look at it yourself: %1")
                                          .arg(NativeSeparators(reportNotOpened)));
    reportNotOpened.clear();
}

void MainWindow::RunEnded()
{
    runWorks = false;
    ShowReportNotOpened();
    CloseBusyBox();
    // Read out by a screen reader: the line changed while the user looked elsewhere.
    QAccessibleEvent announced(ui->lb_ShowDisposingFile, QAccessible::Alert);
    QAccessible::updateAccessibility(&announced);
    if (results)
        results->runEnded(ui->lb_ShowDisposingFile->text());
    ReleaseRunLock();
    // Enabled first, so that the focus can go back to the button that started the run.
    on_Set_pBtn_Enable();
    HideRunControls();
    if (quitAfterRun) {
        quitAfterRun = false;
        QCoreApplication::quit();
    }
}

void MainWindow::ProgressChanged()
{
    if (progressGate->isActive())
        progressPending = true;
    else
        ShowProgress();
}

void MainWindow::ShowProgress()
{
    progressPending = false;
    if (!worker || !runWorks)
        return;
    // Always the latest state; what went by in between is not shown.
    const RunProgress progress = worker->takeProgress();
    if (!progress.text.isEmpty())
        ShowProgressText(progress.text);
    if (progress.total > 0) {
        ui->pBar_RunProgress->setRange(0, progress.total);
        ui->pBar_RunProgress->setValue(progress.done);
    }
    progressGate->start();
}

// A long path would run under the progress bar: its middle goes, the file's name stays, and
// the whole path is the line's tool tip.
void MainWindow::ShowProgressText(const QString &text)
{
    QLabel *label = ui->lb_ShowDisposingFile;
    const int width = label->contentsRect().width();
    label->setText(width > 0 ? label->fontMetrics().elidedText(text, Qt::ElideMiddle, width)
                             : text);
    label->setToolTip(text);
}

void MainWindow::ShowRunControls()
{
    ui->pBar_RunProgress->setRange(0, 0); // busy until the scan has counted the files
    ui->pBar_RunProgress->show();
    ui->pBtn_Stop->show();
    // A disabled button hands its focus on along the form, which would scroll the form and
    // put another function's button under the mouse; the stop button stands outside it.
    QWidget *focus = focusWidget();
    if (focus == ui->pBtn_ReplaceExcelText || focus == ui->pBtn_JustFindText ||
        focus == ui->pBtn_ReplaceExcelText_2 || focus == ui->pBtn_InsertText ||
        focus == convertTab->convertButton() || focus == convertTab->chineseButton()) {
        focusBeforeRun = focus;
        ui->pBtn_Stop->setFocus(Qt::OtherFocusReason);
    }
}

void MainWindow::HideRunControls()
{
    // Back to the button that started the run, before the stop button hides and would hand
    // the focus on along the form.
    if (ui->pBtn_Stop->hasFocus()) {
        if (focusBeforeRun && focusBeforeRun->isEnabled())
            focusBeforeRun->setFocus(Qt::OtherFocusReason);
        else
            ui->lEdt_SourcePath->setFocus(Qt::OtherFocusReason);
    }
    focusBeforeRun = nullptr;
    ui->pBtn_Stop->hide();
    ui->pBar_RunProgress->hide();
}

bool MainWindow::ClaimRunLock(const QString &sourceDir)
{
    // A missing folder has nothing to lock: the launch's own checks say why it cannot run.
    if (!FolderExists(sourceDir))
        return true;
    QString reason;
    switch (treeLock.take(sourceDir, false, &reason)) {
    case TreeLock::Result::Held:
        break;
    case TreeLock::Result::Busy:
        ShowBusyBox();
        return false;
    case TreeLock::Result::Refused:
        ui->lb_ShowDisposingFile->setText(reason);
        return false;
    }
    // Only tells a newly started copy that this one is busy.
    if (runLock)
        runLock->acquire();
    return true;
}

// The busy notice goes away by itself when the run it warned about ends in this window.
void MainWindow::ShowBusyBox()
{
    QMessageBox box(QMessageBox::NoIcon, noticeTitle(), messageRunWorks(), QMessageBox::Ok, this);
    box.setIconPixmap(windowIcon().pixmap(box.style()->pixelMetric(QStyle::PM_MessageBoxIconSize)));
    busyBox = &box;
    box.exec();
}

void MainWindow::CloseBusyBox()
{
    if (busyBox)
        busyBox->accept();
}

void MainWindow::ReleaseRunLock()
{
    treeLock.release();
    if (runLock)
        runLock->release();
}

bool MainWindow::MayRunInPlace(Operation operation)
{
    if (operation == Operation::InsertText)
        return MayInsertInPlace();
    if (operation != Operation::ConvertEncoding && operation != Operation::ConvertChinese)
        return true;
    const QString question =
        tr("Every txt file in %1 will be converted and saved over the original.\n\nContinue?")
            .arg(NativeSeparators(batchSettings.sourceDir));
    return QMessageBox::question(this, tr("Convert"), question, QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
}

bool MainWindow::MayInsertInPlace()
{
    const QString question =
        tr("The text will be inserted at the %2 of every txt file in %1 and saved in the source "
           "folder.\nInserting again repeats the text.\n\nContinue?")
            .arg(NativeSeparators(batchSettings.sourceDir),
                 batchSettings.insertAtFront ? tr("start") : tr("end"));
    return QMessageBox::question(this, tr("Insert"), question, QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
}

void MainWindow::StopRun()
{
    if (!worker || !runWorks)
        return;
    worker->requestStop();
}

bool MainWindow::MayQuit()
{
    const bool undoWorks = undoControl && undoControl->isWorking();
    if (!runWorks && !undoWorks)
        return true;
    if (quitAfterRun)
        return false;
    QMessageBox box(QMessageBox::Question, noticeTitle(), messageQuitDuringRun(),
                    QMessageBox::NoButton, this);
    QPushButton *goOn = box.addButton(answerContinue(), QMessageBox::RejectRole);
    box.addButton(answerStopAndQuit(), QMessageBox::AcceptRole);
    box.setDefaultButton(goOn);
    box.setEscapeButton(goOn);
    box.exec();
    if (box.clickedButton() == goOn)
        return false;
    // The run or the undo may have ended while the question was up.
    if (!runWorks && !(undoControl && undoControl->isWorking()))
        return true;
    quitAfterRun = true;
    if (undoWorks)
        undoControl->requestStop();
    else
        StopRun();
    return false;
}

void MainWindow::PlaceStatusRow(int tab)
{
    // One status line, progress bar and stop button, at the bottom of whichever tab is shown.
    QHBoxLayout *from = tab == 0 ? convertTab->statusRow() : ui->horizontalLayout_status;
    QHBoxLayout *to = tab == 0 ? ui->horizontalLayout_status : convertTab->statusRow();
    for (QWidget *widget :
         {static_cast<QWidget *>(ui->lb_ShowDisposingFile),
          static_cast<QWidget *>(ui->pBar_RunProgress), static_cast<QWidget *>(ui->pBtn_Stop)}) {
        from->removeWidget(widget);
        to->addWidget(widget);
    }
}

void MainWindow::on_pBtn_ReplaceExcelText_clicked()
{
    Launch(Operation::ReplaceText);
}

void MainWindow::on_ShowDisposingFile(QString filePath)
{
    // The statistics line or a refusal: the run's last word, never overwritten by progress.
    progressGate->stop();
    progressPending = false;
    ui->lb_ShowDisposingFile->setToolTip(QString());
    ui->lb_ShowDisposingFile->setText(filePath);
}

void MainWindow::on_Set_pBtn_Enable()
{
    // The worker says so before its reports are written; the buttons wait for the run's end.
    if (runWorks)
        return;
    for (QPushButton *button :
         {ui->pBtn_ReplaceExcelText, ui->pBtn_JustFindText, ui->pBtn_ReplaceExcelText_2,
          ui->pBtn_InsertText, convertTab->convertButton(), convertTab->chineseButton()})
        button->setEnabled(true);
    if (undoControl)
        undoControl->button()->setEnabled(true);
}

void MainWindow::on_Set_pBtn_Disable()
{
    for (QPushButton *button :
         {ui->pBtn_ReplaceExcelText, ui->pBtn_JustFindText, ui->pBtn_ReplaceExcelText_2,
          ui->pBtn_InsertText, convertTab->convertButton(), convertTab->chineseButton()})
        button->setEnabled(false);
    if (undoControl)
        undoControl->button()->setEnabled(false);
}

void MainWindow::on_pBtn_JustFindText_clicked()
{
    Launch(Operation::FindText);
}

void MainWindow::on_pBtn_ReplaceExcelText_2_clicked()
{
    Launch(Operation::ReplacePairs);
}

void MainWindow::on_pBtn_InsertText_clicked()
{
    Launch(Operation::InsertText);
}

void MainWindow::on_pBtn_MustRead_clicked()
{
    QMessageBox::about(nullptr, tr("Note"), HelpText());
}

void OpenReportInViewer(const QString &reportPath, const std::function<void()> &notOpened)
{
    // The desktop is asked from the GUI thread.
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [reportPath, notOpened] {
            const bool opened = platform::ReportsOpenInNotepad()
                                    ? OpenInNotepad(reportPath)
                                    : QDesktopServices::openUrl(QUrl::fromLocalFile(reportPath));
            if (!opened && notOpened)
                notOpened();
        },
        Qt::QueuedConnection);
}

QSize FittedWindowSize(const QSize &wanted, const QSize &available)
{
    return wanted.boundedTo(available - frameAllowance).expandedTo(QSize(1, 1));
}

QPoint CentredTopLeft(const QSize &screen, const QSize &window)
{
    // A negative corner would put the title bar out of reach.
    return QPoint(qMax(0, (screen.width() - window.width()) / 2),
                  qMax(0, (screen.height() - window.height()) / 2));
}

QString SettingsFilePath(const QString &applicationFolder)
{
    return JoinPath(applicationFolder, QStringLiteral("Parafold.cvn"));
}

QString HelpText()
{
    const QString separator = QStringLiteral("<br><br>");
    return QStringLiteral("<p style='font-size:16px;line-height:20px;'>") +
           QCoreApplication::translate(
               "MainWindow",
               "1. No installation is needed: unpack and run. Do not unpack into a system folder "
               "that needs administrator rights, or the settings cannot be saved.") +
           separator +
           QCoreApplication::translate(
               "MainWindow",
               "2. Where the settings need administrator rights, use “Run as administrator” "
               "(right-click the program's exe), or the settings cannot be saved.") +
           separator +
           QCoreApplication::translate("MainWindow", "3. The program runs on Microsoft Windows 7 "
                                                     "or later; Windows XP is not supported.") +
           separator +
           QCoreApplication::translate(
               "MainWindow",
               "4. The program edits files on the computer: if 360 or similar software asks "
               "whether to allow it, choose to always allow it and not to ask again.") +
           QStringLiteral("<br></p>");
}
