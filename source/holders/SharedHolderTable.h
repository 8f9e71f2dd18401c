#pragma once

// The byte layout of holders.dat, which lives next to receivers.dat and says which process holds
// each slot, so that a slot whose holder has died can be freed. JUCE-free C++17, shared by the
// receiver and every peer; docs/HOLDERS.md describes it for peers in other languages.
//
// Unlike receivers.dat the file starts with a magic number and a version. A reader that meets
// another magic, another version or another size uses none of it and frees nothing.
//
// Who writes what: a receiver writes record i once its claim of slot i is complete and counted,
// and empties it before it releases the slot; a sweep empties the record of a holder that is gone
// before it frees the slot. Nobody else writes it. The record names the claim by the slot's
// identifier at that claim, and a record names a claim only while that claim holds the slot. Readers take a record without tearing by its
// sequence counter: odd while the holder writes, and the same even value before and after a read.
// Every field is an atomic the same width as its integer, stored with release order and loaded
// with acquire order between the counter's two updates and two loads: a reader that sees any
// value of a new write then sees the odd count before it. A sequence lock as Boehm describes it,
// without fences, which ThreadSanitizer cannot follow; on x86-64 every one of these is a plain move.

#include <table/SharedReceiverTable.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace keyferry
{

inline constexpr char HolderFileMagic[8] = { 'K', 'F', 'H', 'O', 'L', 'D', 'R', 'S' };
inline constexpr std::uint32_t HolderFileVersion = 1;
inline constexpr const char* HolderFileName = "holders.dat"; // next to receivers.dat

// How the holding process is named.
enum class HolderPlatform : std::uint32_t
{
    none = 0,          // no record written
    linuxProcess = 1,  // Linux: the fields below as their comments say
    windowsProcess = 2 // Windows: the process id, its creation time and the machine (see below)
};

struct HolderRecord
{
    std::atomic<std::uint32_t> sequence { 0 };
    std::atomic<std::uint32_t> platform { 0 };
    std::atomic<std::uint64_t> claimId[5] {};   // the slot's 40-byte id at the claim, as 5 words
    std::atomic<std::uint64_t> processId { 0 }; // in the PID namespace below
    std::atomic<std::uint64_t> startTime { 0 }; // Linux: clock ticks after boot, /proc/PID/stat field 22;
                                                // Windows: creation time, 100 ns units since 1601
    std::atomic<std::uint64_t> pidNamespace { 0 }; // Linux: inode of /proc/self/ns/pid; Windows: 0
    std::atomic<std::uint64_t> bootId[2] {};    // Linux: /proc/sys/kernel/random/boot_id as 16 bytes;
                                                // Windows: the machine's MachineGuid as 16 bytes
    std::atomic<std::uint64_t> reserved[5] {};
};

struct SharedHolderTable
{
    char magic[8] {};
    std::uint32_t version = 0;
    std::uint32_t recordSize = 0;
    HolderRecord records[NumSlots];
};

inline constexpr std::size_t HolderFileSize = 16 + 9 * 128;

static_assert (std::atomic<std::uint64_t>::is_always_lock_free);
static_assert (sizeof (std::atomic<std::uint64_t>) == 8);
static_assert (std::is_standard_layout_v<HolderRecord>);
static_assert (std::is_standard_layout_v<SharedHolderTable>);
static_assert (offsetof (HolderRecord, sequence) == 0);
static_assert (offsetof (HolderRecord, platform) == 4);
static_assert (offsetof (HolderRecord, claimId) == 8);
static_assert (offsetof (HolderRecord, processId) == 48);
static_assert (offsetof (HolderRecord, startTime) == 56);
static_assert (offsetof (HolderRecord, pidNamespace) == 64);
static_assert (offsetof (HolderRecord, bootId) == 72);
static_assert (sizeof (HolderRecord) == 128);
static_assert (offsetof (SharedHolderTable, version) == 8);
static_assert (offsetof (SharedHolderTable, recordSize) == 12);
static_assert (offsetof (SharedHolderTable, records) == 16);
static_assert (sizeof (SharedHolderTable) == HolderFileSize);

} // namespace keyferry
