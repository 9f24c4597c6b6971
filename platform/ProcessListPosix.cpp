#include "platform/ProcessList.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

constexpr char deletedSuffix[] = " (deleted)";

std::string BaseName(const std::string &path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool ParseId(const char *text, ProcessId &id)
{
    if (*text < '1' || *text > '9')
        return false;
    char *end = nullptr;
    errno = 0;
    const unsigned long value = std::strtoul(text, &end, 10);
    if (errno != 0 || *end != '\0' || value > UINT32_MAX)
        return false;
    id = static_cast<ProcessId>(value);
    return true;
}

// A zombie still has a /proc entry and its short name, but nothing runs there any more.
bool IsRunning(const std::string &procDir)
{
    std::ifstream stat(procDir + "/stat");
    std::string line;
    if (!std::getline(stat, line))
        return false;
    // The name in parentheses may itself hold blanks and parentheses: the state follows
    // the last closing one.
    const auto close = line.rfind(')');
    if (close == std::string::npos || close + 2 >= line.size())
        return false;
    const char state = line[close + 2];
    return state != 'Z' && state != 'X';
}

// The name of the file the process runs, as Windows lists it: the last component of the
// executable's path, which is the file's own name even when the process was started
// through a link or a relative path. The kernel's short name (at most 15 bytes and
// settable by the process) stands in only where the link cannot be read, as for other
// users' processes.
std::string ExecutableName(const std::string &procDir)
{
    char target[PATH_MAX];
    const ssize_t length = readlink((procDir + "/exe").c_str(), target, sizeof target - 1);
    if (length > 0) {
        std::string path(target, static_cast<std::size_t>(length));
        // A program whose file was replaced while it ran (as by a rebuild) still counts.
        const std::size_t suffixLength = sizeof deletedSuffix - 1;
        struct stat info;
        if (path.size() > suffixLength &&
            path.compare(path.size() - suffixLength, suffixLength, deletedSuffix) == 0 &&
            stat(path.c_str(), &info) != 0)
            path.resize(path.size() - suffixLength);
        return BaseName(path);
    }
    std::ifstream comm(procDir + "/comm");
    std::string name;
    std::getline(comm, name);
    return name;
}

} // namespace

std::vector<ProcessEntry> ListProcesses()
{
    std::vector<ProcessEntry> processes;
    DIR *proc = opendir("/proc");
    if (!proc)
        return processes;
    while (const dirent *entry = readdir(proc)) {
        ProcessEntry process;
        if (!ParseId(entry->d_name, process.id))
            continue;
        const std::string procDir = std::string("/proc/") + entry->d_name;
        if (!IsRunning(procDir))
            continue;
        process.executableName = ExecutableName(procDir);
        if (!process.executableName.empty())
            processes.push_back(std::move(process));
    }
    closedir(proc);
    return processes;
}

ProcessId CurrentProcessId()
{
    return static_cast<ProcessId>(getpid());
}

bool ProcessRuns(ProcessId id)
{
    if (id == 0 || id > static_cast<ProcessId>(INT_MAX))
        return false;
    return kill(static_cast<pid_t>(id), 0) == 0 || errno == EPERM;
}

} // namespace platform
