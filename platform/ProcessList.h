#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Running processes by executable name. Plain C++ on the operating system's own interface,
// so that the Windows half builds without Qt.
namespace platform {

using ProcessId = std::uint32_t;

struct ProcessEntry
{
    std::string executableName; // file name only, no folder
    ProcessId id = 0;
};

// The running processes in the order the system lists them; nothing when the list
// cannot be taken. Processes that have exited but not been reaped are left out.
std::vector<ProcessEntry> ListProcesses();

ProcessId CurrentProcessId();

// True while a process of that id exists, also one that is not ours to end.
bool ProcessRuns(ProcessId id);

} // namespace platform
