#include "platform/Terminal.h"

#include "platform/WideCharacters.h"

#include <windows.h>

#include <atomic>
#include <cerrno>
#include <shellapi.h>

namespace platform {
namespace {

HANDLE Handle(StandardStream stream)
{
    return GetStdHandle(stream == StandardStream::Output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
}

bool IsConsole(HANDLE handle, DWORD &mode)
{
    return handle != INVALID_HANDLE_VALUE && handle != nullptr && GetConsoleMode(handle, &mode);
}

int ErrnoOf(DWORD error)
{
    switch (error) {
    case ERROR_BROKEN_PIPE:
    case ERROR_NO_DATA: // the pipe is being closed
        return EPIPE;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    case ERROR_ACCESS_DENIED:
        return EACCES;
    case ERROR_INVALID_HANDLE:
        return EBADF;
    default:
        return EIO;
    }
}

// A console takes the text as UTF-16, whatever its own code page: the local 8-bit text
// is widened here so that Chinese file names show as they are.
int WriteConsoleText(HANDLE console, const char *data, std::size_t size)
{
    const int length = static_cast<int>(size);
    const int wideLength = MultiByteToWideChar(CP_ACP, 0, data, length, nullptr, 0);
    if (wideLength <= 0)
        return EIO;
    std::wstring wide(static_cast<std::size_t>(wideLength), L'\0');
    MultiByteToWideChar(CP_ACP, 0, data, length, &wide[0], wideLength);
    const wchar_t *next = wide.data();
    DWORD left = static_cast<DWORD>(wideLength);
    while (left > 0) {
        DWORD written = 0;
        if (!WriteConsoleW(console, next, left, &written, nullptr) || written == 0)
            return ErrnoOf(GetLastError());
        next += written;
        left -= written;
    }
    return 0;
}

std::atomic<void (*)()> interruptHandler{nullptr};
std::atomic_bool interrupted{false};

BOOL WINAPI OnConsoleEvent(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        return FALSE;
    // The second one goes on to the system's handler, which ends the process.
    if (interrupted.exchange(true))
        return FALSE;
    interruptHandler.load()();
    return TRUE;
}

} // namespace

bool IsTerminal(StandardStream stream)
{
    const HANDLE handle = Handle(stream);
    DWORD mode = 0;
    if (!IsConsole(handle, mode))
        return false;
    // Consoles before Windows 10 do not take escape sequences.
    return (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) ||
           SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
}

int TerminalColumns(StandardStream stream)
{
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (GetConsoleScreenBufferInfo(Handle(stream), &info) &&
        info.srWindow.Right >= info.srWindow.Left)
        return info.srWindow.Right - info.srWindow.Left + 1;
    return 80;
}

int CharacterColumns(char32_t codePoint)
{
    return IsWideCharacter(codePoint) ? 2 : 1;
}

int WriteStream(StandardStream stream, const char *data, std::size_t size)
{
    const HANDLE handle = Handle(stream);
    DWORD mode = 0;
    if (IsConsole(handle, mode))
        return size > 0 ? WriteConsoleText(handle, data, size) : 0;
    while (size > 0) {
        DWORD written = 0;
        const DWORD chunk = size > 0x10000000 ? 0x10000000 : static_cast<DWORD>(size);
        if (!WriteFile(handle, data, chunk, &written, nullptr))
            return ErrnoOf(GetLastError());
        if (written == 0)
            return EIO;
        data += written;
        size -= written;
    }
    return 0;
}

void OnInterrupt(void (*handler)())
{
    interruptHandler = handler;
    // A program started with Ctrl+C turned off (as by "start /b") takes it again.
    SetConsoleCtrlHandler(nullptr, FALSE);
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

std::string TerminalEncoding()
{
    return std::string();
}

bool WideArguments(std::vector<std::u16string> &arguments)
{
    arguments.clear();
    int count = 0;
    LPWSTR *wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wide)
        return false;
    for (int i = 1; i < count; ++i) {
        const wchar_t *argument = wide[i];
        arguments.emplace_back(reinterpret_cast<const char16_t *>(argument),
                               std::char_traits<wchar_t>::length(argument));
    }
    LocalFree(wide);
    return true;
}

} // namespace platform
