#include "CommandLine.h"
#include "Console.h"
#include "HelpText.h"
#include "RunCommand.h"

#include <QCoreApplication>
#include <atomic>
#include <csignal>

namespace {

std::atomic_bool stopRequested{false};
std::atomic_bool interruptedBySignal{false};

void OnInterrupt(int)
{
    interruptedBySignal = true;
    stopRequested = true;
}

void InstallSignalHandlers()
{
    // A closed stdout shows up as a failed write, which the run handles.
    std::signal(SIGPIPE, SIG_IGN);
    struct sigaction action = {};
    action.sa_handler = OnInterrupt;
    // A second Ctrl-C ends the process at once.
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    const ParsedCommandLine parsed = ParseCommandLine(arguments);

    Console console(parsed.request.nullSeparated);
    switch (parsed.kind) {
    case ParsedCommandLine::Kind::Help:
        console.printOut(HelpText());
        return 0;
    case ParsedCommandLine::Kind::Version:
        console.printOut(QStringLiteral("parafold-cli " PARAFOLD_VERSION "\n"));
        return 0;
    case ParsedCommandLine::Kind::UsageError:
        console.printLine(QStringLiteral("parafold-cli: ") + parsed.error);
        console.printLine(UsageHint());
        return ExitFailure;
    case ParsedCommandLine::Kind::Run:
        break;
    }
    InstallSignalHandlers();
    return RunCommand(parsed.request, console, stopRequested, interruptedBySignal);
}
