#include "platform/RunLock.h"

#include <windows.h>

namespace platform {
namespace {

std::wstring ToWide(const std::string &text)
{
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    if (size <= 1)
        return std::wstring();
    std::wstring result(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &result[0], size);
    result.resize(static_cast<std::size_t>(size - 1));
    return result;
}

HANDLE OpenFile(const std::string &path, DWORD creation)
{
    // Shared, so that a copy can open the file to ask about the lock while another holds it.
    return CreateFileW(ToWide(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, creation,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool LockFirstByte(HANDLE file)
{
    OVERLAPPED at = {};
    return LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at) != 0;
}

void UnlockFirstByte(HANDLE file)
{
    OVERLAPPED at = {};
    UnlockFileEx(file, 0, 1, 0, &at);
}

} // namespace

RunLock::RunLock(std::string path) : path(std::move(path)) {}

RunLock::~RunLock()
{
    release();
}

bool RunLock::acquire()
{
    if (handle)
        return true;
    HANDLE file = OpenFile(path, OPEN_ALWAYS);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    if (!LockFirstByte(file)) {
        CloseHandle(file);
        return false;
    }
    handle = file;
    return true;
}

void RunLock::release()
{
    if (!handle)
        return;
    UnlockFirstByte(static_cast<HANDLE>(handle));
    CloseHandle(static_cast<HANDLE>(handle));
    handle = nullptr;
}

bool RunLockHeld(const std::string &path)
{
    HANDLE file = OpenFile(path, OPEN_EXISTING);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    const bool held = !LockFirstByte(file);
    if (!held)
        UnlockFirstByte(file);
    CloseHandle(file);
    return held;
}

std::string RunLockFileName()
{
    return "Parafold.lock";
}

} // namespace platform
