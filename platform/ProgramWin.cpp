#include "platform/Program.h"

namespace platform {

std::string ExecutableFileName(const std::string &stem)
{
    return stem + ".exe";
}

bool ReportsOpenInNotepad()
{
    return true;
}

void ShareOneHeap()
{
    // The C runtime's heap is one for all threads already.
}

int OpenFilesAllowed()
{
    // Handles are bounded only by memory.
    return 1 << 20;
}

// Windows ends a program by closing its windows, which the window handles itself.
int InstallTerminationPipe()
{
    return -1;
}

void RemoveTerminationPipe() {}

void DrainTerminationPipe() {}

} // namespace platform
