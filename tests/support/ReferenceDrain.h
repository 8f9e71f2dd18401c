#pragma once

// The ring walk written the straightforward way, adding every message with the framework's
// MidiBuffer::addEvent: the reference the receiver's linear-time drain must match byte for byte.
// It does not touch the slot; it says where readPos would go.

#include <table/SharedReceiverTable.h>

#include <juce_audio_basics/juce_audio_basics.h>

#include <cstring>

inline bool referenceDrain (const keyferry::ReceiverSlot& slot, std::uint32_t readPos, std::uint32_t writePos,
                            juce::MidiBuffer& buffer, std::uint32_t& newReadPos)
{
    using keyferry::MaxMessageSize;
    using keyferry::MessageHeaderSize;
    using keyferry::RingSize;

    if (writePos == readPos)
        return false;

    auto position = readPos;
    auto wrapped = false;
    for (;;)
    {
        if (position > RingSize - MessageHeaderSize)
        {
            // A second wrap, or writePos in the skipped tail after a message of this lap.
            if (wrapped || (position != readPos && position < writePos && writePos <= RingSize))
                return newReadPos = writePos, true;
            position = 0;
            wrapped = true;
        }
        else
        {
            std::int32_t samplePosition;
            std::uint16_t msgSize;
            std::memcpy (&samplePosition, slot.ring + position, 4);
            std::memcpy (&msgSize, slot.ring + position + 4, 2);
            const auto dataStart = position + MessageHeaderSize;
            if (msgSize == 0 || msgSize > MaxMessageSize || dataStart + msgSize > RingSize)
                return newReadPos = dataStart, true;
            const auto next = dataStart + msgSize;
            const auto landsOnWritePos = next == writePos;
            if (! landsOnWritePos && position < writePos && writePos < next)
                return newReadPos = writePos, true; // writePos inside the message
            if (! landsOnWritePos && wrapped && next >= readPos)
                return newReadPos = writePos, true; // full circle
            buffer.addEvent (slot.ring + dataStart, msgSize, samplePosition);
            position = next;
        }
        if (position == writePos)
            return newReadPos = position, true;
        if (wrapped && position >= readPos)
            return newReadPos = writePos, true; // full circle at the wrap
    }
}
