#include "app/UndoControl.h"

#include "app/ConfigFile.h"
#include "engine/batch/BatchSettings.h"
#include "engine/batch/LaunchChecks.h"
#include "engine/files/Paths.h"

#include <QAction>
#include <QBoxLayout>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTimer>

const QString undoButtonText = QStringLiteral("撤销上次修改");

namespace {

const QString messageRunWorks = QStringLiteral("正在处理中,请等待当前操作完成!");
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

QString NotRestoredText(const std::vector<UndoFile> &files)
{
    QString text;
    for (size_t i = 0; i < files.size() && i < listedAtMost; ++i)
        text += files[i].nativePath + QStringLiteral(": ") + files[i].reason + QLatin1Char('\n');
    if (files.size() > listedAtMost)
        text += QStringLiteral("……另有%1个文件未恢复").arg(files.size() - listedAtMost);
    return text;
}

} // namespace

UndoControl::UndoControl(const Widgets &widgets, const QString &settingsFilePath,
                         std::function<bool()> runWorks, QWidget *window)
    : QObject(window), widgets(widgets), runWorks(std::move(runWorks)), window(window),
      undoButton(new QPushButton(undoButtonText, widgets.beside->parentWidget())),
      undoAction(new QAction(undoButtonText, widgets.tray ? static_cast<QObject *>(widgets.tray)
                                                          : static_cast<QObject *>(this)))
{
    QByteArray content;
    ReadConfigFile(content, settingsFilePath);
    batchSettings.journal = GetConfigValue(content, "journal") != "0";
    undoButton->setObjectName(QStringLiteral("pBtn_UndoLastRun"));
    undoButton->setToolTip(
        QStringLiteral("恢复上次“保存在原文件夹”修改之前的文件。撤销记录在源文件夹的"
                       ".parafold-journal中,保留最近%1次修改,共不超过%2 MB")
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
    if (thread)
        return;
    if (runWorks && runWorks()) {
        QMessageBox::about(window, QStringLiteral("注意："), messageRunWorks);
        return;
    }
    const QString source = widgets.sourceField->text();
    if (!FolderExists(source)) {
        widgets.statusLabel->setText(messageSourceMissing);
        return;
    }
    QString message;
    const std::optional<JournalRun> run = FindUndoRun(source, QString(), message);
    if (!run) {
        widgets.statusLabel->setText(message);
        return;
    }
    const QString question =
        QStringLiteral("将把%1个文件恢复为%2(%3)修改之前的内容。\n"
                       "修改之后又被改动过的文件不会恢复。\n\n是否继续?")
            .arg(run->entries.size())
            .arg(JournalTimeText(run->startedMs), QDir::toNativeSeparators(source));
    if (QMessageBox::question(window, undoButtonText, question, QMessageBox::Yes | QMessageBox::No,
                              QMessageBox::No) != QMessageBox::Yes)
        return;
    start(*run);
}

void UndoControl::start(const JournalRun &run)
{
    stop = false;
    filesDone = 0;
    notRestored.clear();
    progress = new QProgressDialog(undoButtonText, QStringLiteral("停止"), 0,
                                   static_cast<int>(run.entries.size()), window);
    progress->setWindowModality(Qt::WindowModal);
    progress->setMinimumDuration(300);
    connect(progress, &QProgressDialog::canceled, this, [this] { stop = true; });
    auto *ticker = new QTimer(progress);
    connect(ticker, &QTimer::timeout, progress, [this] { progress->setValue(filesDone); });
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
    progress->deleteLater();
    progress = nullptr;
    undoButton->setEnabled(true);
    undoAction->setEnabled(true);
    widgets.statusLabel->setText(UndoSummaryLine(run, result, false));
    if (!notRestored.empty())
        QMessageBox::about(window, QStringLiteral("注意："),
                           QStringLiteral("以下文件未恢复:\n") + NotRestoredText(notRestored));
    emit undoFinished();
}
