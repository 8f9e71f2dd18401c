// A peer thread appending at full speed while the audio thread drains: every message arrives
// exactly once, in order and whole, and the peer never overwrites what was not yet read.
// Run under ThreadSanitizer in the thread-sanitizer build.

#include "../support/CollectingLogger.h"
#include "../support/TableFileView.h"
#include "../support/TemporaryHome.h"

#include <processor/KeyferryReceiverProcessor.h>
#include <sender/RingWriter.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace
{
// A six-byte system-exclusive message carrying a 28-bit sequence number.
std::array<std::uint8_t, 6> payload (std::uint32_t sequence)
{
    return { 0xf0,
             static_cast<std::uint8_t> (sequence & 0x7f),
             static_cast<std::uint8_t> ((sequence >> 7) & 0x7f),
             static_cast<std::uint8_t> ((sequence >> 14) & 0x7f),
             static_cast<std::uint8_t> ((sequence >> 21) & 0x7f),
             0xf7 };
}

std::uint32_t sequenceOf (const juce::MidiMessageMetadata& event)
{
    const auto* d = event.data;
    return std::uint32_t (d[1]) | std::uint32_t (d[2]) << 7 | std::uint32_t (d[3]) << 14 | std::uint32_t (d[4]) << 21;
}
} // namespace

TEST (ConcurrentDrain, EveryMessageArrivesOnceInOrderAndWhole)
{
    constexpr std::uint32_t numMessages = 1'000'000;
    constexpr int blockSize = 64;

    const TemporaryHome home;
    CollectingLogger log;
    KeyferryReceiverProcessor processor;
    processor.prepareToPlay (48000.0, blockSize);
    ASSERT_EQ (processor.getSlotIndex(), 0);

    const TableFileView view (home.getTableFile());
    std::atomic<bool> go { false }, peerDone { false };
    std::uint32_t peerWaits = 0;

    std::thread peer ([&]
    {
        keyferry::RingWriter writer (view.slot (0));
        while (! go.load())
        {
        }

        for (std::uint32_t sequence = 0; sequence < numMessages;)
        {
            const auto bytes = payload (sequence);
            // One position for all: the block keeps events of equal position in ring order.
            if (writer.append ({ 0, bytes.data(), bytes.size() }) == keyferry::SendResult::ok)
                ++sequence;
            else
            {
                ++peerWaits;
                std::this_thread::yield();
            }
        }

        peerDone.store (true);
    });

    std::uint32_t expected = 0;
    std::uint32_t faults = 0;
    int idleBlocksAfterPeer = 0;
    juce::AudioBuffer<float> audio (2, blockSize);
    juce::MidiBuffer midi;
    go.store (true);

    // Bounded: once the peer is done, a few empty blocks in a row end the run.
    while (expected < numMessages && idleBlocksAfterPeer < 1000)
    {
        const auto finished = peerDone.load();
        midi.clear();
        processor.processBlock (audio, midi);

        for (const auto event : midi)
        {
            if (event.numBytes != 6 || event.data[0] != 0xf0 || sequenceOf (event) != expected)
                ++faults;
            ++expected;
        }

        idleBlocksAfterPeer = (finished && midi.isEmpty()) ? idleBlocksAfterPeer + 1 : 0;
    }

    peer.join();

    EXPECT_EQ (faults, 0u);
    EXPECT_EQ (expected, numMessages);
    EXPECT_TRUE (log.lines.isEmpty()) << log.lines[0];
    EXPECT_GT (peerWaits, 0u) << "the peer should have met back-pressure";
}
