// processBlock must not allocate once warmed up, however many messages and resets arrive. This
// binary replaces the global allocation functions to count what the audio thread allocates.

#include "../support/TableFileView.h"
#include "../support/TemporaryHome.h"

#include <processor/KeyferryReceiverProcessor.h>
#include <sender/RingWriter.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace
{
std::atomic<long> allocations { 0 };
thread_local bool counting = false;

void* allocate (std::size_t size)
{
    if (counting)
        allocations.fetch_add (1);

    if (auto* memory = std::malloc (size == 0 ? 1 : size))
        return memory;

    throw std::bad_alloc();
}

// Counts the allocations of the calling thread while it lives.
struct AllocationCounter
{
    AllocationCounter() { counting = true; }
    ~AllocationCounter() { counting = false; }
};
} // namespace

// The replacements pair malloc with free on purpose; gcc cannot see that through them.
#if defined(__GNUC__) && ! defined(__clang__)
 #pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

void* operator new (std::size_t size) { return allocate (size); }
void* operator new[] (std::size_t size) { return allocate (size); }
void* operator new (std::size_t size, const std::nothrow_t&) noexcept { return std::malloc (size == 0 ? 1 : size); }
void* operator new[] (std::size_t size, const std::nothrow_t&) noexcept { return std::malloc (size == 0 ? 1 : size); }
void operator delete (void* memory) noexcept { std::free (memory); }
void operator delete[] (void* memory) noexcept { std::free (memory); }
void operator delete (void* memory, std::size_t) noexcept { std::free (memory); }
void operator delete[] (void* memory, std::size_t) noexcept { std::free (memory); }

TEST (BlockAllocation, WarmedUpBlocksWithMessagesAndResetsAllocateNothing)
{
    const TemporaryHome home;
    KeyferryReceiverProcessor processor;
    constexpr int blockSize = 64;
    processor.prepareToPlay (48000.0, blockSize);
    ASSERT_EQ (processor.getSlotIndex(), 0);

    const TableFileView view (home.getTableFile());
    auto& slot = view.slot (0);
    keyferry::RingWriter peer (slot);

    juce::AudioBuffer<float> audio (2, blockSize);
    juce::MidiBuffer midi;
    midi.ensureSize (8192); // as the host's wrapper reserves its buffer

    // Fills the ring as far as it goes, with a reset request on top.
    const auto load = [&] (int round)
    {
        const std::uint8_t noteOn[] = { 0x90, static_cast<std::uint8_t> (round & 0x7f), 100 };
        const std::uint8_t sysex[] = { 0xf0, 1, 2, 3, 4, 5, 6, 7, 0xf7 };
        for (int i = 0;; ++i)
        {
            const auto result = (i % 5 == 0) ? peer.append ({ i % blockSize, sysex, sizeof (sysex) })
                                             : peer.append ({ i % blockSize, noteOn, sizeof (noteOn) });
            if (result != keyferry::SendResult::ok)
                break;
        }
        slot.resetRequested = 1;
    };

    const auto processOnce = [&]
    {
        midi.clear();
        processor.processBlock (audio, midi);
        return midi.getNumEvents();
    };

    for (int round = 0; round < 3; ++round)
    {
        load (round);
        processOnce();
    }

    long eventsOut = 0;
    for (int round = 0; round < 50; ++round)
    {
        load (round);
        const AllocationCounter counter;
        eventsOut += processOnce();
        eventsOut += processOnce(); // and an empty block
    }

    EXPECT_EQ (allocations.load(), 0);
    EXPECT_GT (eventsOut, 50 * 300) << "the blocks carried full rings";
}
