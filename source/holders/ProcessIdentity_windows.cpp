#include "ProcessIdentity.h"

#include "HexIdentifier.h"
#include "SharedHolderTable.h"

#ifndef NOMINMAX
 #define NOMINMAX
#endif
#include <windows.h>

namespace keyferry
{
namespace
{
// A process's creation time, in 100 ns units since 1601: with its id, it names the process for
// good, as a reused id comes with a later creation time.
bool creationTime (HANDLE process, std::uint64_t& time) noexcept
{
    FILETIME created {}, exited {}, kernel {}, user {};
    if (! ::GetProcessTimes (process, &created, &exited, &kernel, &user))
        return false;

    time = (static_cast<std::uint64_t> (created.dwHighDateTime) << 32) | created.dwLowDateTime;
    return true;
}

// This machine. A roaming application-data folder can be shared by several machines, and a
// process id means nothing on another one.
std::array<std::uint64_t, 2> machineId() noexcept
{
    char text[64] {};
    DWORD size = sizeof (text);
    if (::RegGetValueA (HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Cryptography", "MachineGuid", RRF_RT_REG_SZ,
                        nullptr, text, &size) != ERROR_SUCCESS)
        return {};

    return hexIdentifierWords (text);
}
} // namespace

ProcessIdentity currentProcess()
{
    ProcessIdentity identity;
    std::uint64_t created = 0;

    if (! creationTime (::GetCurrentProcess(), created))
        return identity;

    identity.processId = ::GetCurrentProcessId();
    identity.startTime = created;
    identity.bootId = machineId();

    if (identity.bootId != std::array<std::uint64_t, 2> {})
        identity.platform = static_cast<std::uint32_t> (HolderPlatform::windowsProcess);

    return identity;
}

Liveness judge (const ProcessIdentity& recorded)
{
    const auto self = currentProcess();

    if (recorded.platform != static_cast<std::uint32_t> (HolderPlatform::windowsProcess) || self.platform != recorded.platform
        || recorded.bootId != self.bootId || recorded.processId == 0 || recorded.processId > MAXDWORD)
        return Liveness::unknown;

    const auto process = ::OpenProcess (PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE,
                                        static_cast<DWORD> (recorded.processId));
    if (process == nullptr)
    {
        // No such process now; any other refusal (we may not look) leaves it unjudged.
        return ::GetLastError() == ERROR_INVALID_PARAMETER ? Liveness::gone : Liveness::unknown;
    }

    auto liveness = Liveness::unknown;
    std::uint64_t created = 0;
    if (creationTime (process, created))
    {
        if (created != recorded.startTime)
            liveness = Liveness::gone; // the id belongs to a process started since
        else
            // Ended, but somebody still holds a handle on it: it will never run again.
            liveness = ::WaitForSingleObject (process, 0) == WAIT_OBJECT_0 ? Liveness::gone : Liveness::alive;
    }

    ::CloseHandle (process);
    return liveness;
}

} // namespace keyferry
