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

std::string ToUtf8(const std::wstring &text)
{
    const int size =
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1)
        return std::string();
    std::string result(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &result[0], size, nullptr, nullptr);
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
    busy = false;
    HANDLE file = OpenFile(path, OPEN_ALWAYS);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    if (!LockFirstByte(file)) {
        busy = GetLastError() == ERROR_LOCK_VIOLATION;
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

std::string RunLockPathIn(const std::string &temporaryFolder, std::string &reason)
{
    if (temporaryFolder.empty()) {
        reason = "no temporary folder";
        return std::string();
    }
    const char last = temporaryFolder.back();
    return temporaryFolder + (last == '\\' || last == '/' ? "" : "\\") + RunLockFileName();
}

std::string RunLockPath(std::string &reason)
{
    // The user's own temporary folder (under the profile), which other users cannot write.
    wchar_t folder[MAX_PATH + 1];
    const DWORD size = GetTempPathW(MAX_PATH + 1, folder);
    if (size == 0 || size > MAX_PATH) {
        reason = "no temporary folder";
        return std::string();
    }
    return RunLockPathIn(ToUtf8(std::wstring(folder, size)), reason);
}

} // namespace platform
