#include "ProcessIdentity.h"

#include "HexIdentifier.h"
#include "SharedHolderTable.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace keyferry
{
namespace
{
struct ProcessStat
{
    char state = 0;
    std::uint64_t threads = 0;
    std::uint64_t startTime = 0;
};

std::string readSmallFile (const std::string& path)
{
    std::string text;
    if (auto* file = std::fopen (path.c_str(), "re"))
    {
        char buffer[1024];
        std::size_t got = 0;
        while ((got = std::fread (buffer, 1, sizeof (buffer), file)) > 0 && text.size() < 8192)
            text.append (buffer, got);
        std::fclose (file);
    }
    return text;
}

// /proc/PID/stat: "pid (comm) state ppid ..."; comm may hold spaces and parentheses, so the
// fields are counted from the last ')'. Field 3 is the state, 20 the thread count, 22 the start
// time in clock ticks after boot.
bool readProcessStat (const std::string& pid, ProcessStat& stat)
{
    const auto text = readSmallFile ("/proc/" + pid + "/stat");
    const auto close = text.rfind (')');
    if (close == std::string::npos)
        return false;

    const char* cursor = text.c_str() + close + 1;
    for (int field = 3; field <= 22; ++field)
    {
        while (*cursor == ' ')
            ++cursor;
        if (*cursor == 0)
            return false;

        if (field == 3)
            stat.state = *cursor;
        else if (field == 20)
            stat.threads = std::strtoull (cursor, nullptr, 10);
        else if (field == 22)
            stat.startTime = std::strtoull (cursor, nullptr, 10);

        while (*cursor != ' ' && *cursor != 0)
            ++cursor;
    }
    return true;
}

std::uint64_t namespaceInode()
{
    struct stat info {};
    return ::stat ("/proc/self/ns/pid", &info) == 0 ? static_cast<std::uint64_t> (info.st_ino) : 0;
}

std::array<std::uint64_t, 2> bootId()
{
    return hexIdentifierWords (readSmallFile ("/proc/sys/kernel/random/boot_id"));
}
} // namespace

ProcessIdentity currentProcess()
{
    ProcessIdentity identity;
    ProcessStat stat;

    if (! readProcessStat ("self", stat))
        return identity;

    identity.processId = static_cast<std::uint64_t> (::getpid());
    identity.startTime = stat.startTime;
    identity.pidNamespace = namespaceInode();
    identity.bootId = bootId();

    if (identity.pidNamespace != 0 && identity.bootId != std::array<std::uint64_t, 2> {})
        identity.platform = static_cast<std::uint32_t> (HolderPlatform::linuxProcess);

    return identity;
}

Liveness judge (const ProcessIdentity& recorded)
{
    const auto self = currentProcess();

    if (recorded.platform != static_cast<std::uint32_t> (HolderPlatform::linuxProcess) || self.platform != recorded.platform
        || recorded.bootId != self.bootId || recorded.pidNamespace != self.pidNamespace || recorded.processId == 0)
        return Liveness::unknown;

    const auto pid = std::to_string (recorded.processId);
    ProcessStat stat;

    if (! readProcessStat (pid, stat))
    {
        // No such process now, or we may not look (then it may well run).
        struct stat info {};
        return ::stat (("/proc/" + pid).c_str(), &info) != 0 ? Liveness::gone : Liveness::unknown;
    }

    if (stat.startTime != recorded.startTime)
        return Liveness::gone; // the id belongs to a process started since

    // Killed but not yet collected by its parent: it will never run again. A leader whose other
    // threads still run shows the same state, with them counted.
    if ((stat.state == 'Z' || stat.state == 'X') && stat.threads <= 1)
        return Liveness::gone;

    return Liveness::alive;
}

} // namespace keyferry
