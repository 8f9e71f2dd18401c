#pragma once

#include "SharedClockTable.h"

#include <companion/CompanionFile.h>

#include <chrono>
#include <string>

namespace keyferry
{

// One block's clock, as a plain value.
struct BlockClock
{
    std::uint32_t flags = 0;
    std::uint64_t claimId[ClaimIdWords] {};
    std::uint64_t blockStartNanos = 0;
    std::uint64_t sampleCount = 0;
    std::uint32_t blockLength = 0;
    std::uint32_t timeSignature = 0;
    double sampleRate = 0.0;
    double tempo = 0.0;
    double ppqPosition = 0.0;
    std::int64_t hostSamplePosition = 0;
    std::uint64_t lateMessages = 0;

    bool has (ClockFlag flag) const noexcept { return (flags & flag) != 0; }

    // Whether the claim has published a block: until then its record says nothing of time.
    bool hasBlock() const noexcept { return sampleRate > 0.0; }
};

// The claim identifier as clocks.dat carries it: the first 32 bytes of the slot's id field.
void claimIdWords (const char (&id)[IdFieldSize], std::uint64_t (&words)[ClaimIdWords]) noexcept;

// Nanoseconds on CLOCK_MONOTONIC, the clock every process of the machine reads alike (through
// the vDSO on Linux: no system call).
inline std::uint64_t monotonicNanos() noexcept
{
    return static_cast<std::uint64_t> (
        std::chrono::duration_cast<std::chrono::nanoseconds> (std::chrono::steady_clock::now().time_since_epoch()).count());
}

// Audio thread of the holder: writes the record under its sequence counter. Atomics only.
void publish (BlockClockRecord& record, const BlockClock& clock) noexcept;

// Any thread: a consistent copy of the record, or false when the writer kept changing it.
bool read (const BlockClockRecord& record, BlockClock& clock) noexcept;

// clocks.dat, mapped.
class BlockClockFile
{
public:
    // A receiver creates the file; a peer only opens one that is there.
    bool open (const std::string& path, bool createIfMissing);
    void close() noexcept { file.close(); table = nullptr; }
    bool isOpen() const noexcept { return table != nullptr; }

    SharedClockTable* shared() const noexcept { return table; }

    static std::string pathNextTo (const std::string& tablePath) { return CompanionFile::pathNextTo (tablePath, ClockFileName); }

private:
    CompanionFile file;
    SharedClockTable* table = nullptr;
};

// Whether the request names the given claim.
bool requestsTimedDelivery (const TimedDeliveryRequest& request, const std::uint64_t (&claimId)[ClaimIdWords]) noexcept;

// The peer's side of the switch: asks for timed delivery for the claim, or (all zero) for none.
void requestTimedDelivery (TimedDeliveryRequest& request, const std::uint64_t (&claimId)[ClaimIdWords]) noexcept;

} // namespace keyferry
