#pragma once

#include <string>

// Where the window of this user listens for folders that a second start hands to it.
namespace platform {

// On POSIX the path of a local socket in a folder only this user may enter ($XDG_RUNTIME_DIR,
// else parafold-window-UID in the system's temporary folder, made for it), so that no other
// user can listen there or connect; on Windows a pipe name that carries the user's SID and
// logon session. Empty, with the reason, where no such place can be had.
std::string WindowChannelName(std::string &reason);

// Lets the window that takes this start's folder come to the front: Windows lets only the
// process the user started last do that. Nothing elsewhere.
void LetWindowComeForward();

} // namespace platform
