#include "ReceiverClock.h"

#include <cstring>

using namespace keyferry;

ReceiverClock::ReceiverClock (const juce::File& tableFile)
{
    file.open (tableFile.getSiblingFile (ClockFileName).getFullPathName().toStdString(), true);
}

namespace
{
std::uint64_t bitsOf (double value) noexcept
{
    std::uint64_t bits;
    std::memcpy (&bits, &value, sizeof (bits));
    return bits;
}

// Fields that rarely change are stored only when they do: the readers' copies stay consistent,
// and a block costs fewer stores into the shared page.
template <typename Integer>
void storeIfChanged (std::atomic<Integer>& field, Integer value) noexcept
{
    if (field.load (std::memory_order_acquire) != value)
        field.store (value, std::memory_order_release);
}

// The writer's side of the record's sequence lock.
template <typename Write>
void underSequence (BlockClockRecord& record, Write&& write) noexcept
{
    const auto sequence = record.sequence.load (std::memory_order_acquire);
    record.sequence.store (sequence + 1, std::memory_order_release);
    write();
    record.sequence.store (sequence + 2, std::memory_order_release);
}
} // namespace

void ReceiverClock::startClaim (int slotIndex, const char (&id)[IdFieldSize]) noexcept
{
    slot = file.isOpen() && slotIndex >= 0 && slotIndex < NumSlots ? slotIndex : -1;
    claimIdWords (id, claimId);
    sampleCount = 0;
    lateMessages = 0;

    // The claim's identifier goes in once; every block's record is then this claim's. Until its
    // first block the record says nothing of time: a previous claim's block start and rate left
    // in it would put a peer's events wherever that claim's samples stood.
    if (slot >= 0)
    {
        auto& record = file.shared()->clocks[slot];
        underSequence (record, [&]
        {
            for (std::size_t i = 0; i < ClaimIdWords; ++i)
                record.claimId[i].store (claimId[i], std::memory_order_release);
            record.sampleCount.store (0, std::memory_order_release);
            record.lateMessages.store (0, std::memory_order_release);
            record.flags.store (0, std::memory_order_release);
            record.blockStartNanos.store (0, std::memory_order_release);
            record.blockLength.store (0, std::memory_order_release);
            record.sampleRate.store (bitsOf (0.0), std::memory_order_release);
        });
    }
}

void ReceiverClock::endClaim() noexcept
{
    slot = -1;
}

bool ReceiverClock::timedDeliveryRequested() const noexcept
{
    return slot >= 0 && requestsTimedDelivery (file.shared()->timed[slot], claimId);
}

TimedBlock ReceiverClock::nextBlock (int numSamples) const noexcept
{
    return { static_cast<std::uint32_t> (sampleCount), numSamples };
}

void ReceiverClock::publish (std::uint64_t blockStartNanos, int numSamples, double sampleRate, juce::AudioPlayHead* playHead,
                             bool timed, std::uint64_t lateInBlock) noexcept
{
    if (slot < 0)
        return;

    lateMessages += lateInBlock;
    const auto length = static_cast<std::uint32_t> (juce::jmax (0, numSamples));
    const auto position = playHead != nullptr ? playHead->getPosition() : juce::Optional<juce::AudioPlayHead::PositionInfo>();
    auto& record = file.shared()->clocks[slot];

    underSequence (record, [&]
    {
        auto flags = timed ? std::uint32_t (clockTimedDelivery) : 0u;

        if (position)
        {
            flags |= clockHasPlayHead | (position->getIsPlaying() ? clockPlaying : 0u);

            if (const auto bpm = position->getBpm())
                flags |= clockTempoKnown, storeIfChanged (record.tempo, bitsOf (*bpm));
            if (const auto ppq = position->getPpqPosition())
                flags |= clockPpqKnown, record.ppqPosition.store (bitsOf (*ppq), std::memory_order_release);
            if (const auto signature = position->getTimeSignature())
                flags |= clockTimeSignatureKnown,
                    storeIfChanged (record.timeSignature, static_cast<std::uint32_t> (signature->numerator & 0xffff)
                                                              | static_cast<std::uint32_t> (signature->denominator & 0xffff) << 16);
            if (const auto samples = position->getTimeInSamples())
                flags |= clockHostSampleKnown, record.hostSamplePosition.store (*samples, std::memory_order_release);
        }

        storeIfChanged (record.flags, flags);
        record.blockStartNanos.store (blockStartNanos, std::memory_order_release);
        record.sampleCount.store (sampleCount, std::memory_order_release);
        storeIfChanged (record.blockLength, length);
        storeIfChanged (record.sampleRate, bitsOf (sampleRate));
        storeIfChanged (record.lateMessages, lateMessages);
    });

    sampleCount += length;
}
