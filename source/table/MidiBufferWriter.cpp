#include "MidiBufferWriter.h"

#include <cstring>

namespace midi_buffer_writer
{
namespace
{
constexpr int eventHeaderSize = static_cast<int> (sizeof (std::int32_t) + sizeof (std::uint16_t));

int positionAt (const std::uint8_t* event) noexcept
{
    std::int32_t position;
    std::memcpy (&position, event, sizeof (position));
    return position;
}

int totalSizeAt (const std::uint8_t* event) noexcept
{
    std::uint16_t size;
    std::memcpy (&size, event + sizeof (std::int32_t), sizeof (size));
    return eventHeaderSize + size;
}

void appendRaw (juce::MidiBuffer& buffer, const std::uint8_t* event, int totalSize)
{
    buffer.data.addArray (event, totalSize);
}
} // namespace

int eventLength (const std::uint8_t* data, int maxBytes) noexcept
{
    const auto byte = static_cast<unsigned int> (data[0]);

    if (byte == 0xf0 || byte == 0xf7)
    {
        int i = 1;
        while (i < maxBytes)
            if (data[i++] == 0xf7)
                break;
        return i;
    }

    if (byte == 0xff)
    {
        if (maxBytes == 1)
            return 1;

        const auto length = juce::MidiMessage::readVariableLengthValue (data + 1, maxBytes - 1);
        return juce::jmin (maxBytes, length.value + 2 + length.bytesUsed);
    }

    if (byte >= 0x80)
        return juce::jmin (maxBytes, juce::MidiMessage::getMessageLengthFromFirstByte (static_cast<juce::uint8> (byte)));

    return 0;
}

void append (juce::MidiBuffer& buffer, int samplePosition, const std::uint8_t* data, int numBytes)
{
    std::uint8_t header[eventHeaderSize];
    const auto position = static_cast<std::int32_t> (samplePosition);
    const auto size = static_cast<std::uint16_t> (numBytes);
    std::memcpy (header, &position, sizeof (position));
    std::memcpy (header + sizeof (position), &size, sizeof (size));

    buffer.data.addArray (static_cast<const std::uint8_t*> (header), eventHeaderSize);
    buffer.data.addArray (data, numBytes);
}

void addEventsInBlock (juce::MidiBuffer& destination, const juce::MidiBuffer& source, int numSamples, juce::MidiBuffer& merged)
{
    const auto* from = source.data.begin();
    const auto* fromEnd = source.data.end();

    // addEvents starts at the first event at or after position 0 and stops at the block's end.
    while (from < fromEnd && positionAt (from) < 0)
        from += totalSizeAt (from);

    if (from == fromEnd || numSamples <= 0 || positionAt (from) >= numSamples)
        return;

    merged.clear();
    const auto* existing = destination.data.begin();
    const auto* existingEnd = destination.data.end();

    // Each added event goes behind every event already there at the same or an earlier position.
    for (; from < fromEnd && positionAt (from) < numSamples; from += totalSizeAt (from))
    {
        const auto position = positionAt (from);

        for (; existing < existingEnd && positionAt (existing) <= position; existing += totalSizeAt (existing))
            appendRaw (merged, existing, totalSizeAt (existing));

        appendRaw (merged, from, totalSizeAt (from));
    }

    for (; existing < existingEnd; existing += totalSizeAt (existing))
        appendRaw (merged, existing, totalSizeAt (existing));

    destination.data.clearQuick();
    destination.data.addArray (merged.data.begin(), merged.data.size());
}

} // namespace midi_buffer_writer
