#include "platform/Terminal.h"

#include "platform/Descriptors.h"
#include "platform/WideCharacters.h"

#include <clocale>
#include <csignal>
#include <langinfo.h>
#include <sys/ioctl.h>
#include <unistd.h>
#include <wchar.h>

namespace platform {
namespace {

int Descriptor(StandardStream stream)
{
    return stream == StandardStream::Output ? STDOUT_FILENO : STDERR_FILENO;
}

void (*interruptHandler)() = nullptr;

extern "C" void OnSignal(int)
{
    interruptHandler();
}

} // namespace

bool IsTerminal(StandardStream stream)
{
    return ::isatty(Descriptor(stream)) == 1;
}

int TerminalColumns(StandardStream stream)
{
    winsize size{};
    if (::ioctl(Descriptor(stream), TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return 80;
}

int CharacterColumns(char32_t codePoint)
{
    const int columns = ::wcwidth(static_cast<wchar_t>(codePoint));
    if (columns >= 0)
        return columns;
    // Unknown to the locale: better too wide than a line that wraps.
    return IsWideCharacter(codePoint) ? 2 : 1;
}

int WriteStream(StandardStream stream, const char *data, std::size_t size)
{
    return WriteAll(Descriptor(stream), data, size);
}

void OnInterrupt(void (*handler)())
{
    interruptHandler = handler;
    // A closed stdout shows up as a failed write, which the caller handles.
    std::signal(SIGPIPE, SIG_IGN);
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

std::string TerminalEncoding()
{
    if (!std::setlocale(LC_CTYPE, ""))
        return std::string();
    const std::string name = ::nl_langinfo(CODESET);
    // The C locale's name for ASCII: no terminal is that narrow, and Qt reads it as UTF-8.
    if (name == "ANSI_X3.4-1968" || name == "US-ASCII")
        return std::string();
    return name;
}

bool WideArguments(std::vector<std::u16string> &arguments)
{
    arguments.clear();
    return false;
}

} // namespace platform
