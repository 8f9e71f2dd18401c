#include "RingReader.h"

#include "MidiBufferWriter.h"

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
} // namespace

bool drainRing (keyferry::ReceiverSlot& slot, juce::MidiBuffer& buffer)
{
    const auto writePos = slot.writePos.load();
    const auto readPos = slot.readPos.load();

    if (writePos == readPos)
        return false;

    auto position = readPos;

    // Messages in position order go straight to the end of the buffer; only one that comes
    // before what the buffer already holds needs the framework's sorted insertion.
    auto lastPosition = buffer.isEmpty() ? std::numeric_limits<int>::min() : buffer.getLastEventTime();

    for (;;)
    {
        if (position > lastHeaderStart)
        {
            // Too little room for a header: the peer went on at 0. A writePos beyond this point
            // can never be landed on.
            if (writePos > position)
            {
                logCorrupted (writePos, 0);
                return storeReadPos (slot, writePos);
            }

            position = 0;
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

            // writePos inside this message: its tail was never published.
            if (position < writePos && writePos < next)
            {
                logCorrupted (writePos, msgSize);
                return storeReadPos (slot, writePos);
            }

            const auto* data = slot.ring + dataStart;

            // One message carries one event: only the bytes its status byte calls for, and
            // nothing at all without a status byte.
            if (const auto length = midi_buffer_writer::eventLength (data, static_cast<int> (msgSize)); length > 0)
            {
                if (samplePosition >= lastPosition)
                {
                    midi_buffer_writer::append (buffer, samplePosition, data, length);
                    lastPosition = samplePosition;
                }
                else
                {
                    buffer.addEvent (data, length, samplePosition);
                }
            }

            position = next;
        }

        if (position == writePos)
            return storeReadPos (slot, position);
    }
}
