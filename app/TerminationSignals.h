#pragma once

#include <QObject>

class QSocketNotifier;

// Turns a request to end the process (SIGTERM, as a newly started Parafold sends, SIGINT,
// SIGHUP) into a signal in the GUI thread, so that the application can end the way its
// window or tray menu ends it: after the file in hand. One instance at a time; the previous
// handlers come back when it is destroyed. Does nothing where those signals do not exist.
class TerminationSignals : public QObject
{
    Q_OBJECT

public:
    explicit TerminationSignals(QObject *parent = nullptr);
    ~TerminationSignals() override;

signals:
    void terminationRequested();

private:
    void readPipe();

    QSocketNotifier *notifier = nullptr;
};
