#include "Version.h"
#include "cli/CommandLine.h"
#include "cli/Console.h"
#include "cli/HelpText.h"
#include "cli/RunCommand.h"
#include "cli/UndoCommand.h"
#include "engine/files/FileNames.h"

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

// The arguments after the program name, bytes that are not text kept as file names keep
// them (FileNames.h): a folder may have such a name, a search text may not, and the parser
// tells them apart. QCoreApplication::arguments() would also drop a leading U+FEFF as a
// byte-order mark, turning a search for "\uFEFFa" into one for "a".
QStringList Arguments(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << DecodeFileName(QByteArray(argv[i]));
    return arguments;
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
    const ParsedCommandLine parsed = ParseCommandLine(Arguments(argc, argv));

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
    if (parsed.request.undo)
        return UndoCommand(parsed.request, console, stopRequested, interruptedBySignal);
    return RunCommand(parsed.request, console, stopRequested, interruptedBySignal);
}
