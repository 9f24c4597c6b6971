#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// Running processes by executable name, and ending one of them. Plain C++ on the
// operating system's own interface, so that the Windows half builds without Qt.
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

// Asks the process to end (SIGTERM on POSIX, TerminateProcess with exit code 0 on
// Windows). False when it cannot be ended: gone already, or not ours to end.
bool EndProcess(ProcessId id);

ProcessId CurrentProcessId();

// True while a process of that id exists, also one that is not ours to end.
bool ProcessRuns(ProcessId id);

// The single-instance rule: when more than one listed process carries exactly
// `executableName` (case-sensitive), ends the first of them that is not `self`. One that
// cannot be ended is skipped in favour of the next. Returns the id it ended.
std::optional<ProcessId> EndOtherInstance(const std::vector<ProcessEntry> &processes,
                                          const std::string &executableName, ProcessId self,
                                          const std::function<bool(ProcessId)> &endProcess);

// The same rule on the live process list, sparing the calling process.
std::optional<ProcessId> EndOtherInstance(const std::string &executableName);

} // namespace platform
