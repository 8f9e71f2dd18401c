#pragma once

// The byte layout of clocks.dat, which lives next to receivers.dat: where each receiver's audio
// blocks sit in time, so that a peer can place messages on exact samples, and the switch by which
// a peer asks its receiver to hold messages until their time. JUCE-free C++17, shared by the
// receiver and every peer; docs/CLOCKS.md describes it for peers in other languages.
//
// Who writes what:
//   clocks[i]  the holder of slot i, once per audio block, under the record's sequence counter
//              (odd while writing; a reader retries on an odd or changed count). Every field is
//              an atomic of its width, stored with release order and loaded with acquire order
//              between the counter's updates and loads (a sequence lock as Boehm describes it,
//              without fences; on x86-64 every one of these is a plain move).
//   timed[i]   the peer of slot i: the identifier of the claim for which it wants timed delivery.
//              The receiver reads it once per block; any other value means plain delivery.
// A record belongs to the claim whose identifier it carries: a peer compares it with the slot's
// id in receivers.dat and never uses a record of an earlier claim.

#include <table/SharedReceiverTable.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace keyferry
{

inline constexpr char ClockFileMagic[8] = { 'K', 'F', 'C', 'L', 'O', 'C', 'K', 'S' };
inline constexpr std::uint32_t ClockFileVersion = 1;
inline constexpr const char* ClockFileName = "clocks.dat"; // next to receivers.dat

// The claim identifier as the records carry it: the 32 characters of the slot's id field.
inline constexpr std::size_t ClaimIdWords = 4;

// BlockClockRecord::flags
enum ClockFlag : std::uint32_t
{
    clockHasPlayHead = 1u << 0,      // the host gave a play head for this block
    clockPlaying = 1u << 1,          // its transport plays
    clockTempoKnown = 1u << 2,
    clockPpqKnown = 1u << 3,
    clockTimeSignatureKnown = 1u << 4,
    clockHostSampleKnown = 1u << 5,
    clockTimedDelivery = 1u << 6     // this block held messages until their time
};

struct BlockClockRecord
{
    std::atomic<std::uint32_t> sequence { 0 };
    std::atomic<std::uint32_t> flags { 0 };
    std::atomic<std::uint64_t> claimId[ClaimIdWords] {};
    std::atomic<std::uint64_t> blockStartNanos { 0 };  // CLOCK_MONOTONIC when the block began
    std::atomic<std::uint64_t> sampleCount { 0 };      // samples processed under this claim before the block
    std::atomic<std::uint32_t> blockLength { 0 };      // samples in the block
    std::atomic<std::uint32_t> timeSignature { 0 };    // numerator | denominator << 16
    std::atomic<std::uint64_t> sampleRate { 0 };       // a double's bits
    std::atomic<std::uint64_t> tempo { 0 };            // a double's bits: quarter notes per minute
    std::atomic<std::uint64_t> ppqPosition { 0 };      // a double's bits: quarter notes at the block's start
    std::atomic<std::int64_t> hostSamplePosition { 0 }; // the host's own timeline position in samples
    std::atomic<std::uint64_t> lateMessages { 0 };     // timed delivery: messages that came after their time
    std::atomic<std::uint64_t> reserved[3] {};
};

struct TimedDeliveryRequest
{
    std::atomic<std::uint64_t> claimId[ClaimIdWords] {};
};

struct SharedClockTable
{
    char magic[8] {};
    std::uint32_t version = 0;
    std::uint32_t recordSize = 0;
    BlockClockRecord clocks[NumSlots];
    TimedDeliveryRequest timed[NumSlots];
};

inline constexpr std::size_t ClockFileSize = 16 + NumSlots * 128 + NumSlots * 32;

static_assert (std::atomic<std::uint64_t>::is_always_lock_free);
static_assert (std::atomic<std::int64_t>::is_always_lock_free);
static_assert (std::is_standard_layout_v<BlockClockRecord>);
static_assert (std::is_standard_layout_v<SharedClockTable>);
static_assert (offsetof (BlockClockRecord, flags) == 4);
static_assert (offsetof (BlockClockRecord, claimId) == 8);
static_assert (offsetof (BlockClockRecord, blockStartNanos) == 40);
static_assert (offsetof (BlockClockRecord, sampleCount) == 48);
static_assert (offsetof (BlockClockRecord, blockLength) == 56);
static_assert (offsetof (BlockClockRecord, timeSignature) == 60);
static_assert (offsetof (BlockClockRecord, sampleRate) == 64);
static_assert (offsetof (BlockClockRecord, tempo) == 72);
static_assert (offsetof (BlockClockRecord, ppqPosition) == 80);
static_assert (offsetof (BlockClockRecord, hostSamplePosition) == 88);
static_assert (offsetof (BlockClockRecord, lateMessages) == 96);
static_assert (sizeof (BlockClockRecord) == 128);
static_assert (sizeof (TimedDeliveryRequest) == 32);
static_assert (offsetof (SharedClockTable, clocks) == 16);
static_assert (offsetof (SharedClockTable, timed) == 16 + NumSlots * 128);
static_assert (sizeof (SharedClockTable) == ClockFileSize);

} // namespace keyferry
