#pragma once

#include <array>
#include <cstdint>

namespace keyferry
{

// What tells one process apart from every other, across PID reuse, PID namespaces and reboots.
struct ProcessIdentity
{
    std::uint32_t platform = 0;  // HolderPlatform; 0 where this system is not supported
    std::uint64_t processId = 0;
    std::uint64_t startTime = 0;
    std::uint64_t pidNamespace = 0;
    std::array<std::uint64_t, 2> bootId {};
};

// Whether the process a record names still runs.
enum class Liveness
{
    alive,    // it runs (whether or not it processes audio)
    gone,     // provably ended: no such process, or its id now belongs to one started later
    unknown   // cannot be judged from here: another platform, boot or PID namespace
};

// The calling process, as a record names it.
ProcessIdentity currentProcess();

// Judges a recorded process from the calling one's point of view. Reads the system's process
// table (on Linux /proc); any doubt is unknown, never gone.
Liveness judge (const ProcessIdentity& recorded);

} // namespace keyferry
