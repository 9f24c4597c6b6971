#include "Version.h"
#include "cli/CommandLine.h"
#include "cli/Console.h"
#include "cli/HelpText.h"
#include "cli/PlanCommand.h"
#include "cli/RunCommand.h"
#include "cli/UndoCommand.h"
#include "engine/files/FileNames.h"
#include "platform/Program.h"
#include "platform/Terminal.h"
#include "translations/Language.h"

#include <QCoreApplication>
#include <atomic>
#include <string>

namespace {

std::atomic_bool stopRequested{false};
std::atomic_bool interruptedBySignal{false};

void OnInterrupt()
{
    interruptedBySignal = true;
    stopRequested = true;
}

// The arguments after the program name, bytes that are not text kept as file names keep
// them (FileNames.h): a folder may have such a name, a search text may not, and the parser
// tells them apart. Where there is a wide command line its UTF-16 is taken as it is, so that
// any text arrives whatever the code page. QCoreApplication::arguments() would also drop a
// leading U+FEFF as a byte-order mark, turning a search for "\uFEFFa" into one for "a".
QStringList Arguments(int argc, char *argv[])
{
    std::vector<std::u16string> wide;
    if (platform::WideArguments(wide)) {
        QStringList arguments;
        // As code units: QString::fromUtf16 would take a leading U+FEFF for a byte-order mark.
        for (const std::u16string &argument : wide)
            arguments << QString(reinterpret_cast<const QChar *>(argument.data()),
                                 static_cast<int>(argument.size()));
        return arguments;
    }
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << DecodeFileName(QByteArray(argv[i]));
    return arguments;
}

} // namespace

int main(int argc, char *argv[])
{
    platform::ShareOneHeap();
    QCoreApplication application(argc, argv);
    UseTerminalEncoding();
    InstallTranslations(application);
    const ParsedCommandLine parsed = ParseCommandLine(Arguments(argc, argv));

    Console console(parsed.request.nullSeparated);
    switch (parsed.kind) {
    case ParsedCommandLine::Kind::Help:
        console.printOut(HelpText() + TakingTurnsHelpText());
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
    platform::OnInterrupt(OnInterrupt);
    if (parsed.request.undo)
        return UndoCommand(parsed.request, console, stopRequested, interruptedBySignal);
    if (parsed.request.apply)
        return ApplyCommand(parsed.request, console, stopRequested, interruptedBySignal);
    if (parsed.request.diff || parsed.request.planGiven)
        return PlanCommand(parsed.request, console, stopRequested, interruptedBySignal);
    return RunCommand(parsed.request, console, stopRequested, interruptedBySignal);
}
