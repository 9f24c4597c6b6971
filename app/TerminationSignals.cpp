#include "app/TerminationSignals.h"

#include "platform/Program.h"

#include <QSocketNotifier>

TerminationSignals::TerminationSignals(QObject *parent) : QObject(parent)
{
    const int fd = platform::InstallTerminationPipe();
    if (fd < 0)
        return;
    notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &TerminationSignals::readPipe);
}

TerminationSignals::~TerminationSignals()
{
    if (!notifier)
        return;
    // The notifier goes before the descriptor it watches.
    delete notifier;
    platform::RemoveTerminationPipe();
}

void TerminationSignals::readPipe()
{
    platform::DrainTerminationPipe();
    emit terminationRequested();
}
