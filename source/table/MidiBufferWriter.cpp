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

void addEventsInBlock (juce::MidiBuffer& destination, const juce::MidiBuffer& source, int numSamples, juce::MidiBuffer& merged)
{
    const auto* from = source.data.begin();
    const auto* fromEnd = source.data.end();

    // addEvents starts at the first event at or after position 0 and stops at the block's end.
    while (from < fromEnd && positionAt (from) < 0)
        from += totalSizeAt (from);

    if (from == fromEnd || numSamples <= 0 || positionAt (from) >= numSamples)
        return;

    // The events to add lie together in the source; find where they end.
    const auto* windowEnd = from;
    while (windowEnd < fromEnd && positionAt (windowEnd) < numSamples)
        windowEnd += totalSizeAt (windowEnd);

    // Usually nothing in the destination comes after them: then they all go behind it at once.
    if (destination.isEmpty() || destination.getLastEventTime() <= positionAt (from))
    {
        destination.data.addArray (from, static_cast<int> (windowEnd - from));
        return;
    }

    merged.clear();
    const auto* existing = destination.data.begin();
    const auto* existingEnd = destination.data.end();

    // Each added event goes behind every event already there at the same or an earlier position.
    for (; from < windowEnd; from += totalSizeAt (from))
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
