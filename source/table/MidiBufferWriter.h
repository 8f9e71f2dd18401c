#pragma once

#include <juce_audio_basics/juce_audio_basics.h>

#include <cstdint>
#include <cstring>

// Linear-time writing into juce::MidiBuffer, with exactly the result of MidiBuffer::addEvent.
//
// addEvent walks the buffer from its start for every insertion, so filling a buffer one event at
// a time is quadratic: a full ring costs hundreds of microseconds on the audio thread. Events
// that come in position order can go straight to the end of the buffer's data instead, in the
// buffer's own layout (int32 position, uint16 size, bytes). That layout is the framework's
// internal one; the project pins JUCE 8.0.6, and a differential test against addEvent proves
// the bytes identical.
namespace midi_buffer_writer
{

// The bytes addEvent keeps of a message of at most 'maxBytes': the length its status byte calls
// for (system exclusive up to its end byte), or 0 when it does not start with a status byte.
// Inline, like what follows, because the drain calls both for every message.
inline int eventLength (const std::uint8_t* data, int maxBytes) noexcept
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

// Appends behind everything in the buffer; the caller guarantees that no event in it has a
// later position (then this is what addEvent does, without the walk).
inline void append (juce::MidiBuffer& buffer, int samplePosition, const std::uint8_t* data, int numBytes)
{
    std::uint8_t header[sizeof (std::int32_t) + sizeof (std::uint16_t)];
    const auto position = static_cast<std::int32_t> (samplePosition);
    const auto size = static_cast<std::uint16_t> (numBytes);
    std::memcpy (header, &position, sizeof (position));
    std::memcpy (header + sizeof (position), &size, sizeof (size));

    buffer.data.addArray (static_cast<const std::uint8_t*> (header), static_cast<int> (sizeof (header)));
    buffer.data.addArray (data, numBytes);
}

// Adds to 'destination' the events of 'source' whose positions lie in [0, numSamples), as
// destination.addEvents (source, 0, numSamples, 0) would, in one pass over both. 'merged' is
// scratch space, kept by the caller so that a prepared one never allocates.
void addEventsInBlock (juce::MidiBuffer& destination, const juce::MidiBuffer& source, int numSamples, juce::MidiBuffer& merged);

} // namespace midi_buffer_writer
