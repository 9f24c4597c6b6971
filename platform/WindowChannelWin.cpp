#include "platform/WindowChannel.h"

#include <windows.h>

#include <sddl.h>

#include <vector>

namespace platform {

std::string WindowChannelName(std::string &reason)
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        reason = "the user of the process cannot be told";
        return std::string();
    }
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<unsigned char> user(size ? size : 1);
    char *sid = nullptr;
    const bool known =
        GetTokenInformation(token, TokenUser, user.data(), size, &size) &&
        ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER *>(user.data())->User.Sid, &sid);
    CloseHandle(token);
    if (!known) {
        reason = "the user of the process cannot be told";
        return std::string();
    }
    DWORD session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    std::string name = "Parafold-window-" + std::string(sid) + "-" + std::to_string(session);
    LocalFree(sid);
    return name;
}

void LetWindowComeForward()
{
    AllowSetForegroundWindow(ASFW_ANY);
}

} // namespace platform
