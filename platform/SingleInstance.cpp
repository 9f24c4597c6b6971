#include "platform/ProcessList.h"

#include <algorithm>

namespace platform {

std::optional<ProcessId> EndOtherInstance(const std::vector<ProcessEntry> &processes,
                                          const std::string &executableName, ProcessId self,
                                          const std::function<bool(ProcessId)> &endProcess)
{
    const auto sameName = [&](const ProcessEntry &entry) {
        return entry.executableName == executableName;
    };
    if (std::count_if(processes.begin(), processes.end(), sameName) < 2)
        return std::nullopt;
    for (const ProcessEntry &entry : processes) {
        if (sameName(entry) && entry.id != self && endProcess(entry.id))
            return entry.id;
    }
    return std::nullopt;
}

std::optional<ProcessId> EndOtherInstance(const std::string &executableName)
{
    return EndOtherInstance(ListProcesses(), executableName, CurrentProcessId(), EndProcess);
}

} // namespace platform
