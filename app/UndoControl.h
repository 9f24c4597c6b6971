#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QThread>
#include <atomic>
#include <functional>
#include <vector>

#include "engine/journal/Undo.h"

class QAction;
class QLabel;
class QLineEdit;
class QProgressDialog;
class QPushButton;
class QSystemTrayIcon;
class QTimer;
class QWidget;

// "撤销上次修改": puts back the files of the last in-place run of the source folder in the
// form, after a confirmation that names the number of files. A button beside the given one
// and an entry in the tray menu; the undo works on a thread of its own behind a modal
// progress box, holding the run lock like a run. At its end the summary goes to the status
// label and the files not restored, each with its reason, to a box and to the report
// "未能撤销的文件目录.txt" at the top of the source folder.
class UndoControl : public QObject
{
    Q_OBJECT

public:
    struct Widgets
    {
        QPushButton *beside = nullptr; // the button goes right after this one in its row
        QSystemTrayIcon *tray = nullptr;
        QLineEdit *sourceField = nullptr;
        QLabel *statusLabel = nullptr;
    };

    // The settings key "journal" set to 0 turns the journal off for the window's runs; it is
    // on otherwise. claim is asked before an undo of a source folder starts: false when a run
    // works or another operation holds the folder's lock, which it then shows; otherwise it
    // has taken the lock, and release gives it back when the undo has ended.
    UndoControl(const Widgets &widgets, const QString &settingsFilePath,
                std::function<bool(const QString &source)> claim, std::function<void()> release,
                QWidget *window);
    // An undo that works ends after the file in hand.
    ~UndoControl() override;

    QPushButton *button() const { return undoButton; }
    QAction *trayAction() const { return undoAction; }
    // From the start of an undo until its summary has been shown.
    bool isWorking() const { return working; }
    // Ends a working undo after the file in hand; its summary still comes.
    void requestStop() { stop = true; }

signals:
    // The undo has ended and its line is in the status label.
    void undoFinished();

public slots:
    void undoLastRun();

private:
    void start(const JournalRun &run);
    void finish(const JournalRun &run);

    const Widgets widgets;
    const std::function<bool(const QString &source)> claim;
    const std::function<void()> release;
    QWidget *const window;
    QPushButton *undoButton;
    QAction *undoAction;
    QThread *thread = nullptr;
    QPointer<QProgressDialog> progress;
    QPointer<QTimer> ticker;
    bool working = false;
    std::atomic_bool stop{false};
    std::atomic_int filesDone{0};
    UndoResult result;
    std::vector<UndoFile> notRestored;
};

QString undoButtonText(); // "撤销上次修改"
