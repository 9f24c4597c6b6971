#pragma once

#include <string>

namespace platform {

// POSIX only: empty when `folder` is a real folder of this user's that no one else may enter
// or write, else why not. The per-user places (the run lock, the window's channel) are
// trusted only so.
std::string PrivateFolderRefusal(const std::string &folder);

} // namespace platform
