// The linear-time MIDI buffer writing against the framework's one-event-at-a-time path: the
// same bytes for random buffers, random rings and random blocks.

#include "../support/ReferenceDrain.h"

#include <table/MidiBufferWriter.h>
#include <table/RingReader.h>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>

namespace
{
using keyferry::RingSize;

std::vector<std::uint8_t> bytesOf (const juce::MidiBuffer& buffer)
{
    return std::vector<std::uint8_t> (buffer.data.begin(), buffer.data.end());
}

std::vector<std::uint8_t> randomMessage (std::mt19937& random)
{
    std::uniform_int_distribution<int> size (1, 40);
    std::uniform_int_distribution<int> byte (0, 255);
    std::vector<std::uint8_t> bytes (static_cast<std::size_t> (size (random)));
    for (auto& b : bytes)
        b = static_cast<std::uint8_t> (byte (random));

    switch (random() % 6) // mostly well-formed, sometimes anything at all
    {
        case 0: bytes[0] = 0xf0; break;
        case 1: bytes[0] = static_cast<std::uint8_t> (0x80 | (bytes[0] & 0x7f)); break;
        case 2: bytes[0] = 0xff; break;
        default: break;
    }
    return bytes;
}

} // namespace

TEST (MidiBufferWriter, EventLengthIsWhatAddEventKeeps)
{
    std::mt19937 random (7);
    for (int i = 0; i < 20000; ++i)
    {
        const auto message = randomMessage (random);
        juce::MidiBuffer buffer;
        buffer.addEvent (message.data(), static_cast<int> (message.size()), 0);
        const auto kept = buffer.isEmpty() ? 0 : (*buffer.begin()).numBytes;
        ASSERT_EQ (midi_buffer_writer::eventLength (message.data(), static_cast<int> (message.size())), kept) << i;
    }
}

TEST (MidiBufferWriter, AddEventsInBlockMatchesAddEvents)
{
    std::mt19937 random (11);
    std::uniform_int_distribution<int> position (-4, 70);
    const int blockSizes[] = { 0, 1, 17, 64 };
    juce::MidiBuffer merged;

    for (int round = 0; round < 3000; ++round)
    {
        juce::MidiBuffer host, received;
        for (int i = static_cast<int> (random() % 6); i > 0; --i)
        {
            const auto message = randomMessage (random);
            host.addEvent (message.data(), static_cast<int> (message.size()), position (random));
        }
        for (int i = static_cast<int> (random() % 30); i > 0; --i)
        {
            const auto message = randomMessage (random);
            received.addEvent (message.data(), static_cast<int> (message.size()), position (random));
        }

        const auto numSamples = blockSizes[round % 4];
        auto expected = host;
        expected.addEvents (received, 0, numSamples, 0);
        midi_buffer_writer::addEventsInBlock (host, received, numSamples, merged);

        ASSERT_EQ (bytesOf (host), bytesOf (expected)) << "round " << round;
    }
}

// Random rings (well-formed runs, damaged headers, positions in any order, any writePos)
// drained both ways into buffers that already hold events.
TEST (MidiBufferWriter, DrainMatchesTheOneByOneWalk)
{
    std::mt19937 random (13);
    auto fast = std::make_unique<keyferry::ReceiverSlot>();
    auto reference = std::make_unique<keyferry::ReceiverSlot>();

    for (int round = 0; round < 3000; ++round)
    {
        std::uint32_t offset = static_cast<std::uint32_t> (random() % RingSize);
        const auto start = offset;
        std::vector<std::uint32_t> ends;
        for (int i = static_cast<int> (random() % 80); i > 0 && offset + 6 + 40 <= RingSize; --i)
        {
            const auto message = randomMessage (random);
            auto size = static_cast<std::uint16_t> (message.size());
            if (random() % 40 == 0)
                size = static_cast<std::uint16_t> (random() % 400); // sometimes damaged
            const auto samplePosition = static_cast<std::int32_t> (random() % 3 == 0 ? 60 - static_cast<int> (random() % 90) : i);
            std::memcpy (fast->ring + offset, &samplePosition, 4);
            std::memcpy (fast->ring + offset + 4, &size, 2);
            std::memcpy (fast->ring + offset + 6, message.data(), message.size());
            offset += 6 + static_cast<std::uint32_t> (message.size());
            ends.push_back (offset);
        }

        const auto writePos = (ends.empty() || random() % 5 == 0) ? static_cast<std::uint32_t> (random() % 5000) : ends[random() % ends.size()];
        fast->readPos = start;
        fast->writePos = writePos;
        std::memcpy (reference->ring, fast->ring, RingSize);

        juce::MidiBuffer fastBuffer, referenceBuffer;
        const std::uint8_t held[] = { 0x90, 1, 1 };
        if (round % 2 == 0)
        {
            fastBuffer.addEvent (held, 3, 20);
            referenceBuffer.addEvent (held, 3, 20);
        }

        const auto logger = std::make_unique<juce::FileLogger> (juce::File::createTempFile ("log"), juce::String());
        juce::Logger::setCurrentLogger (logger.get()); // the damaged rings log; keep it off the console
        const auto fastResult = drainRing (*fast, fastBuffer);
        std::uint32_t referenceReadPos = start;
        const auto referenceResult = referenceDrain (*reference, start, writePos, referenceBuffer, referenceReadPos);
        juce::Logger::setCurrentLogger (nullptr);
        logger->getLogFile().deleteFile();

        ASSERT_EQ (fastResult, referenceResult) << round;
        ASSERT_EQ (fast->readPos.load(), referenceResult ? referenceReadPos : start) << round;
        ASSERT_EQ (bytesOf (fastBuffer), bytesOf (referenceBuffer)) << round;
    }
}
