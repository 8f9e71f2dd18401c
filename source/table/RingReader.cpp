#include "RingReader.h"

#include "MidiBufferWriter.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace
{
using keyferry::MaxMessageSize;
using keyferry::MessageHeaderSize;
using keyferry::RingSize;

// The last position at which a whole header still fits before the end of the ring.
constexpr std::uint32_t lastHeaderStart = RingSize - MessageHeaderSize;

template <typename Integer>
Integer readLittleEndian (const std::uint8_t* bytes) noexcept
{
    Integer value;
    std::memcpy (&value, bytes, sizeof (value));
    return value;
}

// The one log line of the receiver. Building the text allocates; it only happens for damaged
// ring content, never on the normal path.
void logCorrupted (std::uint32_t readPos, std::uint32_t msgSize)
{
    juce::Logger::writeToLog ("[ReadMidi] CORRUPTED at readPos=" + juce::String (readPos)
                              + " msgSize=" + juce::String (msgSize));
}

bool storeReadPos (keyferry::ReceiverSlot& slot, std::uint32_t position) noexcept
{
    slot.readPos.exchange (position);
    return true;
}

// Events in position order go straight to the end of the buffer; only one that comes before
// what the buffer already holds needs the framework's sorted insertion.
class EventSink
{
public:
    explicit EventSink (juce::MidiBuffer& target)
        : buffer (target), lastPosition (target.isEmpty() ? std::numeric_limits<int>::min() : target.getLastEventTime())
    {
    }

    // False when the message carries no event.
    bool add (std::int32_t samplePosition, const std::uint8_t* data, std::uint32_t msgSize)
    {
        // One message carries one event: only the bytes its status byte calls for, and nothing
        // at all without a status byte.
        const auto length = midi_buffer_writer::eventLength (data, static_cast<int> (msgSize));

        if (length == 0)
            return false;

        if (samplePosition >= lastPosition)
        {
            midi_buffer_writer::append (buffer, samplePosition, data, length);
            lastPosition = samplePosition;
        }
        else
        {
            buffer.addEvent (data, length, samplePosition);
        }
        return true;
    }

private:
    juce::MidiBuffer& buffer;
    int lastPosition;
};

// The walk of every drain. 'take' sees each valid message and says whether it is taken (true) or
// must wait in the ring (false): then the walk stops in front of it and readPos is put there.
template <typename Take>
bool walkRing (keyferry::ReceiverSlot& slot, Take&& take)
{
    const auto writePos = slot.writePos.load();
    const auto readPos = slot.readPos.load();

    if (writePos == readPos)
        return false;

    auto position = readPos;
    auto wrapped = false;
    std::uint32_t lastSize = 0; // of the last message taken

    // writePos cannot be landed on from here: put readPos there, so reader and peer agree again,
    // and say which message the walk overran.
    const auto overrun = [&] (std::uint32_t msgSize)
    {
        logCorrupted (writePos, msgSize);
        return storeReadPos (slot, writePos);
    };

    for (;;)
    {
        if (position > lastHeaderStart)
        {
            // Too little room for a header: the peer went on at 0. A second wrap means the walk
            // has seen the whole ring. A writePos in the tail being skipped counts only at the
            // walk's start, where those bytes were dead space a peer going on at 0 may have
            // written over; after a message of this lap it could only come from a peer that
            // wrote over unread messages.
            const auto tailHidesWritePos = position != readPos && position < writePos && writePos <= RingSize;

            if (wrapped || tailHidesWritePos)
                return overrun (lastSize);

            position = 0;
            wrapped = true;
        }
        else
        {
            const auto* header = slot.ring + position;
            const auto samplePosition = readLittleEndian<std::int32_t> (header);
            const std::uint32_t msgSize = readLittleEndian<std::uint16_t> (header + 4);
            const auto dataStart = position + MessageHeaderSize;

            if (msgSize == 0 || msgSize > MaxMessageSize || dataStart + msgSize > RingSize)
            {
                logCorrupted (dataStart, msgSize);
                return storeReadPos (slot, dataStart);
            }

            const auto next = dataStart + msgSize;

            // A message ending on writePos lands first. Otherwise writePos inside this message
            // means its tail was never published, and, after the wrap, a message reaching the
            // walk's start has come full circle: the bytes from there on were delivered already.
            if (next != writePos
                && ((position < writePos && writePos < next) || (wrapped && next >= readPos)))
                return overrun (msgSize);

            if (! take (samplePosition, slot.ring + dataStart, msgSize))
                return position != readPos && storeReadPos (slot, position);

            lastSize = msgSize;
            position = next;
        }

        if (position == writePos)
            return storeReadPos (slot, position);

        if (wrapped && position >= readPos)
            return overrun (lastSize); // the wrap itself brought the walk back to its start
    }
}
} // namespace

bool drainRing (keyferry::ReceiverSlot& slot, juce::MidiBuffer& buffer)
{
    EventSink events (buffer);
    return walkRing (slot, [&] (std::int32_t samplePosition, const std::uint8_t* data, std::uint32_t msgSize)
    {
        events.add (samplePosition, data, msgSize);
        return true;
    });
}

bool drainTimedRing (keyferry::ReceiverSlot& slot, juce::MidiBuffer& buffer, const TimedBlock& block, std::uint64_t& late)
{
    EventSink events (buffer);
    return walkRing (slot, [&] (std::int32_t samplePosition, const std::uint8_t* data, std::uint32_t msgSize)
    {
        // The distance from the block's first sample, in 32-bit wrap-around arithmetic.
        const auto offset = static_cast<std::int32_t> (static_cast<std::uint32_t> (samplePosition) - block.firstSample);

        if (offset >= block.numSamples)
            return false;

        if (events.add (std::max (offset, 0), data, msgSize) && offset < 0)
            ++late;
        return true;
    });
}
