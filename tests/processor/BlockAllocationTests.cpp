// processBlock must not allocate once warmed up, however many messages and resets arrive. This
// binary counts every heap allocation of the calling thread: JUCE's containers allocate with
// malloc and realloc, not operator new, so the counter sits below both. Plain builds replace
// malloc's family (glibc allows that, forwarding to its own); sanitizer builds, whose runtime
// owns malloc, use its allocation hook instead.

#include "../support/TableFileView.h"
#include "../support/TemporaryHome.h"

#include <processor/KeyferryReceiverProcessor.h>
#include <sender/RingWriter.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace
{
std::atomic<long> allocations { 0 };
thread_local bool counting = false;

void countAllocation() noexcept
{
    if (counting)
        allocations.fetch_add (1);
}

// Counts the allocations of the calling thread while it lives.
struct AllocationCounter
{
    AllocationCounter() { counting = true; }
    ~AllocationCounter() { counting = false; }
};
} // namespace

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// The sanitizer runtime's allocation hook (declared here: gcc ships the runtime, not its header).
extern "C" int __sanitizer_install_malloc_and_free_hooks (void (*onMalloc) (const volatile void*, std::size_t),
                                                          void (*onFree) (const volatile void*));

namespace
{
void onMalloc (const volatile void*, std::size_t) { countAllocation(); }
void onFree (const volatile void*) {}
[[maybe_unused]] const int hooksInstalled = __sanitizer_install_malloc_and_free_hooks (onMalloc, onFree);
} // namespace
#else
extern "C"
{
void* __libc_malloc (std::size_t);
void* __libc_calloc (std::size_t, std::size_t);
void* __libc_realloc (void*, std::size_t);
void __libc_free (void*);

void* malloc (std::size_t size)
{
    countAllocation();
    return __libc_malloc (size);
}

void* calloc (std::size_t count, std::size_t size)
{
    countAllocation();
    return __libc_calloc (count, size);
}

void* realloc (void* memory, std::size_t size)
{
    countAllocation();
    return __libc_realloc (memory, size);
}

void free (void* memory) { __libc_free (memory); }
}
#endif

namespace
{
using keyferry::RingSize;

// The framework's VST3 wrapper reserves this much in the MIDI buffer it hands to processBlock.
constexpr int wrapperMidiReserve = 2048;

class BlockAllocation : public ::testing::Test
{
protected:
    BlockAllocation()
    {
        processor.prepareToPlay (48000.0, blockSize);
        midi.ensureSize (wrapperMidiReserve);
    }

    int processOnce()
    {
        midi.clear();
        processor.processBlock (audio, midi);
        return midi.getNumEvents();
    }

    static constexpr int blockSize = 64;
    const TemporaryHome home;
    KeyferryReceiverProcessor processor;
    const TableFileView view { home.getTableFile() };
    keyferry::ReceiverSlot& slot = view.slot (0);
    juce::AudioBuffer<float> audio { 2, blockSize };
    juce::MidiBuffer midi;
};

std::vector<std::uint8_t> sysex (std::size_t size)
{
    std::vector<std::uint8_t> bytes (size, 0x11);
    bytes.front() = 0xf0;
    bytes.back() = 0xf7;
    return bytes;
}

std::uint32_t putSysex (keyferry::ReceiverSlot& slot, std::uint32_t offset, std::int32_t samplePosition, std::size_t size)
{
    const auto msgSize = static_cast<std::uint16_t> (size);
    const auto bytes = sysex (size);
    std::memcpy (slot.ring + offset, &samplePosition, 4);
    std::memcpy (slot.ring + offset + 4, &msgSize, 2);
    std::memcpy (slot.ring + offset + 6, bytes.data(), size);
    return offset + 6 + static_cast<std::uint32_t> (size);
}
} // namespace

TEST_F (BlockAllocation, WarmedUpBlocksWithMessagesAndResetsAllocateNothing)
{
    ASSERT_EQ (processor.getSlotIndex(), 0);
    keyferry::RingWriter peer (slot);

    // Fills the ring as far as it goes, with a reset request on top.
    const auto load = [&] (int round)
    {
        const std::uint8_t noteOn[] = { 0x90, static_cast<std::uint8_t> (round & 0x7f), 100 };
        const std::uint8_t sysexBytes[] = { 0xf0, 1, 2, 3, 4, 5, 6, 7, 0xf7 };
        for (int i = 0;; ++i)
        {
            const auto result = (i % 5 == 0) ? peer.append ({ i % blockSize, sysexBytes, sizeof (sysexBytes) })
                                             : peer.append ({ i % blockSize, noteOn, sizeof (noteOn) });
            if (result != keyferry::SendResult::ok)
                break;
        }
        slot.resetRequested = 1;
    };

    // The first full ring grows the host's buffer past what the wrapper reserved, once.
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

// The longest walk: a peer that went on at 0 while the reader stood in the ring's last bytes
// fills the whole ring with system-exclusive messages. Our scratch buffers hold that from the
// first block; the only allocation is the host's buffer growing once past the wrapper's reserve,
// which nothing on our side can prevent without swapping storage of our own into a buffer that
// belongs to the wrapper.
TEST_F (BlockAllocation, LongestWalkGrowsOnlyTheHostsBufferAndOnlyOnce)
{
    const auto runLongestWalk = [&]
    {
        std::uint32_t end = 0;
        while (end + 6 + 256 <= RingSize)
            end = putSysex (slot, end, 1, 256);
        ASSERT_EQ (putSysex (slot, end, 1, RingSize - end - 6), RingSize);
        slot.readPos = RingSize - 5;
        slot.writePos = RingSize;
        slot.resetRequested = 1;

        int events = 0;
        {
            const AllocationCounter counter;
            events = processOnce();
        }
        EXPECT_EQ (events, 32 + 16);
        EXPECT_EQ (slot.readPos.load(), RingSize);
    };

    runLongestWalk();
    EXPECT_EQ (allocations.exchange (0), 1) << "the host's buffer grows once";
    runLongestWalk();
    EXPECT_EQ (allocations.load(), 0);
}
