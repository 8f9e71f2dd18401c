#pragma once

#include "SharedReceiverTable.h"

#include <juce_audio_basics/juce_audio_basics.h>

// Audio thread. Drains one slot's ring by the ring rules into the buffer, in place in the
// mapping: loads writePos, then readPos, walks the messages between them and stores readPos once.
// Returns true exactly when it stored readPos. Events land in the buffer exactly as
// MidiBuffer::addEvent would put them, in linear time while positions do not go backwards.
//
// The walk always ends. It stops on landing at writePos, at a corrupt header (logged, readPos
// put just past the header), or where it can no longer land on writePos: a step that would pass
// writePos without landing on it (writePos inside a message, or in the ring's tail after a message
// of the same lap), or a walk that, after wrapping, reaches or passes its own start. That last
// one has come full circle: going on would deliver messages a second time. Each of these is
// logged the same way, with the size of the message the walk overran, and readPos is put at
// writePos, so reader and peer agree again. It never delivers a message twice and never writes
// to the ring.
bool drainRing (keyferry::ReceiverSlot& slot, juce::MidiBuffer& buffer);

// A block as timed delivery sees it: the low 32 bits of the receiver's running sample count at
// its first sample, and its length.
struct TimedBlock
{
    std::uint32_t firstSample = 0;
    int numSamples = 0;
};

// Audio thread. The drain of a peer that asked for timed delivery: a message's samplePosition is
// then the low 32 bits of the receiver's running sample count at which it plays. Messages due in
// this block come out at their offsets in it; those due earlier come out at 0 and are counted in
// 'late'; the first one due later stops the walk in front of it, and it and everything behind it
// wait in the ring. The same walk otherwise, bounds and log line included.
bool drainTimedRing (keyferry::ReceiverSlot& slot, juce::MidiBuffer& buffer, const TimedBlock& block, std::uint64_t& late);

// The most bytes one drain can add to a buffer: no event takes more buffer bytes than its ring
// message, and the walk covers at most the ring once. Landing after passing its start is only
// possible from a start in the last five bytes (the peer went on at 0 over that dead space):
// from any other start, a writePos beyond it lies inside a message or in the skipped tail of the
// first lap, where the walk stops first.
constexpr std::size_t maxDrainedBytes = keyferry::RingSize;
