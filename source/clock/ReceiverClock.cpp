#include "ReceiverClock.h"

using namespace keyferry;

ReceiverClock::ReceiverClock (const juce::File& tableFile)
{
    file.open (tableFile.getSiblingFile (ClockFileName).getFullPathName().toStdString(), true);
}

void ReceiverClock::startClaim (int slotIndex, const char (&id)[IdFieldSize]) noexcept
{
    slot = file.isOpen() && slotIndex >= 0 && slotIndex < NumSlots ? slotIndex : -1;
    claimIdWords (id, claimId);
    sampleCount = 0;
    lateMessages = 0;
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

    BlockClock clock;
    clock.flags = timed ? clockTimedDelivery : 0u;
    std::copy (std::begin (claimId), std::end (claimId), std::begin (clock.claimId));
    clock.blockStartNanos = blockStartNanos;
    clock.sampleCount = sampleCount;
    clock.blockLength = static_cast<std::uint32_t> (juce::jmax (0, numSamples));
    clock.sampleRate = sampleRate;
    clock.lateMessages = lateMessages;

    if (const auto position = playHead != nullptr ? playHead->getPosition() : juce::Optional<juce::AudioPlayHead::PositionInfo>())
    {
        clock.flags |= clockHasPlayHead | (position->getIsPlaying() ? clockPlaying : 0u);

        if (const auto bpm = position->getBpm())
            clock.flags |= clockTempoKnown, clock.tempo = *bpm;
        if (const auto ppq = position->getPpqPosition())
            clock.flags |= clockPpqKnown, clock.ppqPosition = *ppq;
        if (const auto signature = position->getTimeSignature())
            clock.flags |= clockTimeSignatureKnown,
                clock.timeSignature = static_cast<std::uint32_t> (signature->numerator & 0xffff)
                                      | static_cast<std::uint32_t> (signature->denominator & 0xffff) << 16;
        if (const auto samples = position->getTimeInSamples())
            clock.flags |= clockHostSampleKnown, clock.hostSamplePosition = *samples;
    }

    keyferry::publish (file.shared()->clocks[slot], clock);
    sampleCount += clock.blockLength;
}
