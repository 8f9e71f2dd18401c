#include "BlockClockFile.h"

#include <cstring>

namespace keyferry
{
namespace
{
constexpr int maxReadAttempts = 1000;

std::uint64_t bitsOf (double value) noexcept
{
    std::uint64_t bits;
    std::memcpy (&bits, &value, sizeof (bits));
    return bits;
}

double doubleOf (std::uint64_t bits) noexcept
{
    double value;
    std::memcpy (&value, &bits, sizeof (value));
    return value;
}
} // namespace

void claimIdWords (const char (&id)[IdFieldSize], std::uint64_t (&words)[ClaimIdWords]) noexcept
{
    std::memcpy (words, id, sizeof (words));
}

void publish (BlockClockRecord& record, const BlockClock& clock) noexcept
{
    const auto sequence = record.sequence.load (std::memory_order_acquire);
    record.sequence.store (sequence + 1, std::memory_order_release);

    record.flags.store (clock.flags, std::memory_order_release);
    for (std::size_t i = 0; i < ClaimIdWords; ++i)
        record.claimId[i].store (clock.claimId[i], std::memory_order_release);
    record.blockStartNanos.store (clock.blockStartNanos, std::memory_order_release);
    record.sampleCount.store (clock.sampleCount, std::memory_order_release);
    record.blockLength.store (clock.blockLength, std::memory_order_release);
    record.timeSignature.store (clock.timeSignature, std::memory_order_release);
    record.sampleRate.store (bitsOf (clock.sampleRate), std::memory_order_release);
    record.tempo.store (bitsOf (clock.tempo), std::memory_order_release);
    record.ppqPosition.store (bitsOf (clock.ppqPosition), std::memory_order_release);
    record.hostSamplePosition.store (clock.hostSamplePosition, std::memory_order_release);
    record.lateMessages.store (clock.lateMessages, std::memory_order_release);

    record.sequence.store (sequence + 2, std::memory_order_release);
}

bool read (const BlockClockRecord& record, BlockClock& clock) noexcept
{
    for (int attempt = 0; attempt < maxReadAttempts; ++attempt)
    {
        const auto before = record.sequence.load (std::memory_order_acquire);
        if ((before & 1u) != 0)
            continue;

        clock.flags = record.flags.load (std::memory_order_acquire);
        for (std::size_t i = 0; i < ClaimIdWords; ++i)
            clock.claimId[i] = record.claimId[i].load (std::memory_order_acquire);
        clock.blockStartNanos = record.blockStartNanos.load (std::memory_order_acquire);
        clock.sampleCount = record.sampleCount.load (std::memory_order_acquire);
        clock.blockLength = record.blockLength.load (std::memory_order_acquire);
        clock.timeSignature = record.timeSignature.load (std::memory_order_acquire);
        clock.sampleRate = doubleOf (record.sampleRate.load (std::memory_order_acquire));
        clock.tempo = doubleOf (record.tempo.load (std::memory_order_acquire));
        clock.ppqPosition = doubleOf (record.ppqPosition.load (std::memory_order_acquire));
        clock.hostSamplePosition = record.hostSamplePosition.load (std::memory_order_acquire);
        clock.lateMessages = record.lateMessages.load (std::memory_order_acquire);

        if (record.sequence.load (std::memory_order_acquire) == before)
            return before != 0; // 0: never written
    }
    return false;
}

bool BlockClockFile::open (const std::string& path, bool createIfMissing)
{
    table = nullptr;
    const CompanionFile::Layout layout { ClockFileMagic, ClockFileVersion, sizeof (BlockClockRecord), ClockFileSize };
    if (file.open (path, layout, createIfMissing))
        table = static_cast<SharedClockTable*> (file.data());
    return table != nullptr;
}

bool requestsTimedDelivery (const TimedDeliveryRequest& request, const std::uint64_t (&claimId)[ClaimIdWords]) noexcept
{
    for (std::size_t i = 0; i < ClaimIdWords; ++i)
        if (request.claimId[i].load (std::memory_order_acquire) != claimId[i])
            return false;
    return claimId[0] != 0;
}

void requestTimedDelivery (TimedDeliveryRequest& request, const std::uint64_t (&claimId)[ClaimIdWords]) noexcept
{
    for (std::size_t i = 0; i < ClaimIdWords; ++i)
        request.claimId[i].store (claimId[i], std::memory_order_release);
}

} // namespace keyferry
