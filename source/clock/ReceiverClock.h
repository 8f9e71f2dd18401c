#pragma once

#include "BlockClockFile.h"

#include <table/RingReader.h>

#include <juce_audio_basics/juce_audio_basics.h>

// The receiver's block clock: once per block, the holder of a slot publishes into clocks.dat
// where the block sits (its start on CLOCK_MONOTONIC, the samples processed under the claim
// before it, its length, the sample rate) and what the host's play head says, so that peers can
// place messages on exact samples. It also tells whether the slot's peer asked for timed
// delivery for this claim.
class ReceiverClock
{
public:
    // Message thread. Maps clocks.dat next to the table file; without it nothing is published
    // and no peer can ask for timed delivery.
    explicit ReceiverClock (const juce::File& tableFile);

    // Control thread, right after a claim: the records now speak for this claim, and its sample
    // count starts at 0. endClaim stops publishing.
    void startClaim (int slotIndex, const char (&id)[keyferry::IdFieldSize]) noexcept;
    void endClaim() noexcept;

    // Audio thread: whether the slot's peer asked for timed delivery for this claim.
    bool timedDeliveryRequested() const noexcept;

    // Audio thread: the coming block, as timed delivery sees it.
    TimedBlock nextBlock (int numSamples) const noexcept;

    // Audio thread, once per block: publishes the block that began at 'blockStartNanos' and
    // counts its samples. Atomics and the play head's answer only: no lock, no system call.
    void publish (std::uint64_t blockStartNanos, int numSamples, double sampleRate, juce::AudioPlayHead* playHead,
                  bool timed, std::uint64_t lateInBlock) noexcept;

    std::uint64_t samplesUnderClaim() const noexcept { return sampleCount; }

private:
    keyferry::BlockClockFile file;
    int slot = -1;
    std::uint64_t claimId[keyferry::ClaimIdWords] {};
    std::uint64_t sampleCount = 0;
    std::uint64_t lateMessages = 0;

    JUCE_DECLARE_NON_COPYABLE (ReceiverClock)
};
