#pragma once

#include <QObject>
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
class QWidget;

// "撤销上次修改": puts back the files of the last in-place run of the source folder in the
// form, after a confirmation that names the number of files. A button beside the given one
// and an entry in the tray menu; the undo works on a thread of its own behind a modal
// progress box, so no run can start meanwhile.
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
    // on otherwise. runWorks tells whether a run is working, which an undo must not meet.
    UndoControl(const Widgets &widgets, const QString &settingsFilePath,
                std::function<bool()> runWorks, QWidget *window);
    // An undo that works ends after the file in hand.
    ~UndoControl() override;

    QPushButton *button() const { return undoButton; }
    QAction *trayAction() const { return undoAction; }

signals:
    // The undo has ended and its line is in the status label.
    void undoFinished();

public slots:
    void undoLastRun();

private:
    void start(const JournalRun &run);
    void finish(const JournalRun &run);

    const Widgets widgets;
    const std::function<bool()> runWorks;
    QWidget *const window;
    QPushButton *undoButton;
    QAction *undoAction;
    QThread *thread = nullptr;
    QProgressDialog *progress = nullptr;
    std::atomic_bool stop{false};
    std::atomic_int filesDone{0};
    UndoResult result;
    std::vector<UndoFile> notRestored;
};

extern const QString undoButtonText; // "撤销上次修改"
